// Ending a thread on Windows without leaving a lock taken where it can be helped.
#include "platform/base/threads.h"

#undef TerminateThread

namespace {

// The time a thread that was asked to end gets to do so by itself.
constexpr DWORD kGraceMs = 1000;

// Queued only to end an alertable wait.
VOID CALLBACK Wake(ULONG_PTR) {}

}  // namespace

BOOL ProgramTerminateThread(HANDLE thread, DWORD exitCode) {
    if (WaitForSingleObject(thread, 0) == WAIT_OBJECT_0) return TRUE;
    CancelSynchronousIo(thread);
    QueueUserAPC(Wake, thread, 0);
    if (WaitForSingleObject(thread, kGraceMs) == WAIT_OBJECT_0) return TRUE;
    return TerminateThread(thread, exitCode);
}
