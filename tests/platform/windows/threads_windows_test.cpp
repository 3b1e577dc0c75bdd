// TerminateThread on Windows: a thread is ended by force only when it does not end by itself
// once its blocking call is cut short, so that a lock it holds on the way is released.
#include <gtest/gtest.h>

#include "platform/base/threads.h"

namespace {

constexpr DWORD kOwnExit = 7;
constexpr DWORD kForcedExit = 99;

struct Shared {
    CRITICAL_SECTION lock;
    HANDLE readEnd = nullptr;
    HANDLE entered = nullptr;
};

// Blocked in a read of a pipe nobody writes to.
DWORD WINAPI ReadsForever(LPVOID parameter) {
    auto* shared = static_cast<Shared*>(parameter);
    char byte = 0;
    DWORD got = 0;
    SetEvent(shared->entered);
    ReadFile(shared->readEnd, &byte, 1, &got, nullptr);
    return kOwnExit;
}

// Holds the lock across a pause that nothing can cut short.
DWORD WINAPI HoldsTheLockAWhile(LPVOID parameter) {
    auto* shared = static_cast<Shared*>(parameter);
    EnterCriticalSection(&shared->lock);
    SetEvent(shared->entered);
    Sleep(300);
    LeaveCriticalSection(&shared->lock);
    return kOwnExit;
}

// Never ends by itself.
DWORD WINAPI Stuck(LPVOID parameter) {
    SetEvent(static_cast<Shared*>(parameter)->entered);
    for (;;) Sleep(1000);
}

DWORD EndThread(LPTHREAD_START_ROUTINE routine, Shared* shared) {
    ResetEvent(shared->entered);
    HANDLE thread = CreateThread(nullptr, 0, routine, shared, 0, nullptr);
    EXPECT_EQ(WaitForSingleObject(shared->entered, 5000), WAIT_OBJECT_0);
    Sleep(50);  // on into its blocking call
    EXPECT_TRUE(TerminateThread(thread, kForcedExit));
    EXPECT_EQ(WaitForSingleObject(thread, 0), WAIT_OBJECT_0);
    DWORD code = 0;
    GetExitCodeThread(thread, &code);
    CloseHandle(thread);
    return code;
}

TEST(ThreadTermination, EndsByForceOnlyWhatWillNotEndAndLeavesNoLockTaken) {
    Shared shared;
    InitializeCriticalSection(&shared.lock);
    shared.entered = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    HANDLE writeEnd = nullptr;
    ASSERT_TRUE(CreatePipe(&shared.readEnd, &writeEnd, nullptr, 0));

    EXPECT_EQ(EndThread(ReadsForever, &shared), kOwnExit) << "its read was not cancelled";
    EXPECT_EQ(EndThread(HoldsTheLockAWhile, &shared), kOwnExit);
    ASSERT_TRUE(TryEnterCriticalSection(&shared.lock)) << "the lock was left taken";
    LeaveCriticalSection(&shared.lock);
    EXPECT_EQ(EndThread(Stuck, &shared), kForcedExit);

    CloseHandle(writeEnd);
    CloseHandle(shared.readEnd);
    CloseHandle(shared.entered);
    DeleteCriticalSection(&shared.lock);
}

}  // namespace
