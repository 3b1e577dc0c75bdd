// Threads, locks, events and sleeping with the Win32 names.
//
// TerminateThread differs from Windows: a thread cannot be killed at an arbitrary
// instruction on POSIX without corrupting the process. Here TerminateThread asks the
// thread to end and waits until it has: the thread unwinds (running destructors) at its
// next platform call that is a termination point (Sleep, SleepEx, WaitForSingleObject,
// ReadFile, WriteFile, WaitCommEvent, SendMessageW, GetMessageW, EnterCriticalSection)
// while it holds no critical section; a thread that holds one ends right after
// LeaveCriticalSection releases its last. So termination never leaves a lock taken and
// never leaks what the thread's stack owns. A thread that never calls the platform again
// cannot be ended, and TerminateThread then waits for it.
#pragma once

#ifdef _WIN32
#include "platform/base/windows/win32.h"

// Windows' own TerminateThread ends a thread at whatever instruction it has reached, and a
// lock it holds then (a critical section, the heap's) stays taken for good, so that the next
// thread to want it waits forever. The platform's cuts short what the thread waits for (its
// blocking I/O is cancelled, an alertable wait woken) and gives it a second to end by
// itself; only a thread still running then, stuck where no lock is normally held, is ended
// by force.
BOOL ProgramTerminateThread(HANDLE thread, DWORD exitCode);
#define TerminateThread ProgramTerminateThread
#else

#include "platform/base/handles.h"
#include "platform/base/types.h"

typedef DWORD(WINAPI* LPTHREAD_START_ROUTINE)(LPVOID parameter);
typedef VOID(WINAPI* PAPCFUNC)(ULONG_PTR data);

#define STILL_ACTIVE 259u
#define WAIT_OBJECT_0 0u
#define WAIT_ABANDONED 0x80u
#define WAIT_IO_COMPLETION 0xC0u
#define WAIT_TIMEOUT 258u
#define WAIT_FAILED 0xFFFFFFFFu
#define CREATE_SUSPENDED 0x4u

HANDLE CreateThread(LPSECURITY_ATTRIBUTES attributes, SIZE_T stackSize,
                    LPTHREAD_START_ROUTINE start, LPVOID parameter, DWORD flags, LPDWORD threadId);
BOOL GetExitCodeThread(HANDLE thread, LPDWORD exitCode);
BOOL TerminateThread(HANDLE thread, DWORD exitCode);
DWORD GetThreadId(HANDLE thread);
DWORD GetCurrentThreadId();
DWORD GetCurrentProcessId();
// Waits for a thread or an event.
DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds);

VOID Sleep(DWORD milliseconds);
// Alertable when alertable is TRUE: an APC queued to the thread ends the sleep early
// with WAIT_IO_COMPLETION after the APC has run.
DWORD SleepEx(DWORD milliseconds, BOOL alertable);
DWORD QueueUserAPC(PAPCFUNC function, HANDLE thread, ULONG_PTR data);

HANDLE CreateEventW(LPSECURITY_ATTRIBUTES attributes, BOOL manualReset, BOOL initialState,
                    LPCWSTR name);
BOOL SetEvent(HANDLE event);
BOOL ResetEvent(HANDLE event);

// Recursive lock kept inline, so that it can live in a zero-filled record. It owns no
// memory: InitializeCriticalSection may be called again on an unlocked section, and
// DeleteCriticalSection is optional.
struct CRITICAL_SECTION {
    alignas(16) unsigned char opaque[64];
};
typedef CRITICAL_SECTION* LPCRITICAL_SECTION;

VOID InitializeCriticalSection(LPCRITICAL_SECTION section);
VOID EnterCriticalSection(LPCRITICAL_SECTION section);
BOOL TryEnterCriticalSection(LPCRITICAL_SECTION section);
VOID LeaveCriticalSection(LPCRITICAL_SECTION section);
VOID DeleteCriticalSection(LPCRITICAL_SECTION section);

#endif  // _WIN32
