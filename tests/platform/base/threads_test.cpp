#include "platform/base/threads.h"

#include <gtest/gtest.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <thread>
#include <vector>

#include "platform/base/linux/wait.h"

namespace {

using platform::detail::WaitFds;
using platform::detail::WaitResult;

// Sets a flag when destroyed, to show that a terminated thread unwound its stack.
struct Unwound {
    std::atomic<bool>* flag;
    ~Unwound() { flag->store(true); }
};

struct Pipe {
    int fds[2];
    Pipe() { EXPECT_EQ(pipe(fds), 0); }
    ~Pipe() {
        close(fds[0]);
        close(fds[1]);
    }
};

DWORD ExitCodeOf(HANDLE thread) {
    DWORD code = 0;
    EXPECT_TRUE(GetExitCodeThread(thread, &code));
    return code;
}

// Runs fn on a CreateThread thread; the lambda's captures must outlive the thread.
template <class F>
HANDLE Start(F& fn, DWORD* id = nullptr) {
    return CreateThread(
        nullptr, 0, [](LPVOID p) -> DWORD { return (*static_cast<F*>(p))(); }, &fn, 0, id);
}

TEST(Threads, ExitCodeIdsAndHandles) {
    HANDLE go = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    std::atomic<DWORD> seenId{0};
    auto body = [&]() -> DWORD {
        seenId = GetCurrentThreadId();
        WaitForSingleObject(go, INFINITE);
        return 42;
    };
    DWORD id = 0;
    HANDLE t = Start(body, &id);
    ASSERT_NE(t, nullptr);
    EXPECT_NE(id, 0u);
    EXPECT_EQ(GetThreadId(t), id);
    EXPECT_NE(id, GetCurrentThreadId());
    EXPECT_EQ(ExitCodeOf(t), STILL_ACTIVE);
    EXPECT_EQ(WaitForSingleObject(t, 0), WAIT_TIMEOUT);

    SetEvent(go);
    EXPECT_EQ(WaitForSingleObject(t, INFINITE), WAIT_OBJECT_0);
    EXPECT_EQ(ExitCodeOf(t), 42u);
    EXPECT_EQ(seenId.load(), id);
    // An ended thread stays signalled, and terminating it changes nothing.
    EXPECT_EQ(WaitForSingleObject(t, 0), WAIT_OBJECT_0);
    EXPECT_TRUE(TerminateThread(t, 7));
    EXPECT_EQ(ExitCodeOf(t), 42u);

    EXPECT_TRUE(CloseHandle(t));
    EXPECT_FALSE(CloseHandle(t));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    DWORD code;
    EXPECT_FALSE(GetExitCodeThread(t, &code));
    EXPECT_EQ(WaitForSingleObject(t, 0), WAIT_FAILED);
    CloseHandle(go);
}

TEST(Threads, ForeignThreadsGetStableDistinctIds) {
    DWORD mine = GetCurrentThreadId();
    EXPECT_EQ(mine, GetCurrentThreadId());
    DWORD a = 0, b = 0;
    std::thread ta([&] { a = GetCurrentThreadId(); });
    std::thread tb([&] { b = GetCurrentThreadId(); });
    ta.join();
    tb.join();
    EXPECT_NE(a, 0u);
    EXPECT_NE(a, b);
    EXPECT_NE(a, mine);
}

TEST(Threads, ClosingTheHandleLeavesTheThreadRunning) {
    HANDLE go = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    HANDLE done = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    auto body = [&]() -> DWORD {
        WaitForSingleObject(go, INFINITE);
        SetEvent(done);
        return 0;
    };
    HANDLE t = Start(body);
    EXPECT_TRUE(CloseHandle(t));
    SetEvent(go);
    EXPECT_EQ(WaitForSingleObject(done, INFINITE), WAIT_OBJECT_0);
    CloseHandle(go);
    CloseHandle(done);
}

TEST(Termination, EndsASleepingThreadAndUnwindsIt) {
    std::atomic<bool> unwound{false};
    std::atomic<bool> afterSleep{false};
    HANDLE started = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    auto body = [&]() -> DWORD {
        Unwound guard{&unwound};
        SetEvent(started);
        Sleep(INFINITE);
        afterSleep = true;
        return 1;
    };
    HANDLE t = Start(body);
    WaitForSingleObject(started, INFINITE);
    EXPECT_TRUE(TerminateThread(t, 259));
    // TerminateThread returns only once the thread has ended.
    EXPECT_EQ(WaitForSingleObject(t, 0), WAIT_OBJECT_0);
    EXPECT_TRUE(unwound);
    EXPECT_FALSE(afterSleep);
    EXPECT_EQ(ExitCodeOf(t), 259u);
    CloseHandle(t);
    CloseHandle(started);
}

TEST(Termination, EndsAThreadBlockedInWaitFds) {
    Pipe p;
    std::atomic<bool> unwound{false};
    HANDLE started = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    auto body = [&]() -> DWORD {
        Unwound guard{&unwound};
        SetEvent(started);
        pollfd fd{p.fds[0], POLLIN, 0};
        WaitFds(&fd, 1, -1, false);
        return 1;
    };
    HANDLE t = Start(body);
    WaitForSingleObject(started, INFINITE);
    EXPECT_TRUE(TerminateThread(t, 5));
    EXPECT_TRUE(unwound);
    EXPECT_EQ(ExitCodeOf(t), 5u);
    CloseHandle(t);
    CloseHandle(started);
}

TEST(Termination, EndsAThreadBlockedOnASectionHeldElsewhere) {
    CRITICAL_SECTION cs;
    InitializeCriticalSection(&cs);
    EnterCriticalSection(&cs);
    std::atomic<bool> gotLock{false};
    HANDLE started = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    auto body = [&]() -> DWORD {
        SetEvent(started);
        EnterCriticalSection(&cs);
        gotLock = true;
        LeaveCriticalSection(&cs);
        return 1;
    };
    HANDLE t = Start(body);
    WaitForSingleObject(started, INFINITE);
    Sleep(20);  // give it time to block in EnterCriticalSection; either way it must end
    EXPECT_TRUE(TerminateThread(t, 3));
    EXPECT_FALSE(gotLock);
    EXPECT_EQ(ExitCodeOf(t), 3u);

    // Still ours, and free for others once we leave.
    bool otherGot = true;
    std::thread([&] { otherGot = TryEnterCriticalSection(&cs); }).join();
    EXPECT_FALSE(otherGot);
    LeaveCriticalSection(&cs);
    std::thread([&] {
        otherGot = TryEnterCriticalSection(&cs);
        if (otherGot) LeaveCriticalSection(&cs);
    }).join();
    EXPECT_TRUE(otherGot);
    CloseHandle(t);
    CloseHandle(started);
}

TEST(Termination, SelfTerminationWhileHoldingEndsRightAfterLeave) {
    CRITICAL_SECTION cs;
    InitializeCriticalSection(&cs);
    std::atomic<HANDLE> self{nullptr};
    HANDLE published = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    std::atomic<int> step{0};
    auto body = [&]() -> DWORD {
        WaitForSingleObject(published, INFINITE);
        EnterCriticalSection(&cs);
        EnterCriticalSection(&cs);
        TerminateThread(self.load(), 11);
        step = 1;  // still running: the section is held
        Sleep(1);  // a termination point, but the section is held
        LeaveCriticalSection(&cs);
        step = 2;  // inner leave: still held once
        LeaveCriticalSection(&cs);
        step = 3;  // never reached
        return 0;
    };
    HANDLE t = Start(body);
    self = t;
    SetEvent(published);
    WaitForSingleObject(t, INFINITE);
    EXPECT_EQ(step.load(), 2);
    EXPECT_EQ(ExitCodeOf(t), 11u);
    EXPECT_TRUE(TryEnterCriticalSection(&cs));
    LeaveCriticalSection(&cs);
    CloseHandle(t);
    CloseHandle(published);
}

TEST(Termination, ThreadHoldingASectionEndsAfterLeavingIt) {
    CRITICAL_SECTION cs;
    InitializeCriticalSection(&cs);
    std::atomic<bool> release{false};
    std::atomic<bool> unwound{false};
    std::atomic<int> entered{0}, left{0};
    HANDLE inside = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    auto body = [&]() -> DWORD {
        Unwound guard{&unwound};
        for (;;) {
            EnterCriticalSection(&cs);
            ++entered;
            SetEvent(inside);
            while (!release) Sleep(1);
            LeaveCriticalSection(&cs);
            ++left;
        }
    };
    HANDLE t = Start(body);
    WaitForSingleObject(inside, INFINITE);
    std::thread terminator([&] { TerminateThread(t, 9); });
    Sleep(50);  // the request normally lands while the section is held
    release = true;
    terminator.join();
    EXPECT_EQ(ExitCodeOf(t), 9u);
    EXPECT_TRUE(unwound);
    // It ended between a Leave and the next Enter, never inside the section.
    EXPECT_GE(entered.load(), 1);
    EXPECT_TRUE(left == entered || left == entered - 1);
    EXPECT_TRUE(TryEnterCriticalSection(&cs));
    LeaveCriticalSection(&cs);
    CloseHandle(t);
    CloseHandle(inside);
}

TEST(Termination, BeforeTheThreadRunsAnything) {
    std::atomic<bool> ran{false};
    auto body = [&]() -> DWORD {
        ran = true;
        Sleep(INFINITE);
        return 0;
    };
    HANDLE t = Start(body);
    EXPECT_TRUE(TerminateThread(t, 4));
    EXPECT_EQ(ExitCodeOf(t), 4u);
    CloseHandle(t);
}

void WINAPI RecordApc(ULONG_PTR data) {
    auto* seen = reinterpret_cast<std::atomic<DWORD>*>(data);
    seen->store(GetCurrentThreadId());
}

TEST(Apc, WakesAnAlertableSleepOnTheTargetThread) {
    std::atomic<DWORD> apcThread{0};
    HANDLE started = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    auto body = [&]() -> DWORD {
        SetEvent(started);
        return SleepEx(INFINITE, TRUE);
    };
    DWORD id = 0;
    HANDLE t = Start(body, &id);
    WaitForSingleObject(started, INFINITE);
    EXPECT_NE(QueueUserAPC(RecordApc, t, reinterpret_cast<ULONG_PTR>(&apcThread)), 0u);
    WaitForSingleObject(t, INFINITE);
    EXPECT_EQ(ExitCodeOf(t), WAIT_IO_COMPLETION);
    EXPECT_EQ(apcThread.load(), id);
    // No APCs for a thread that has ended.
    EXPECT_EQ(QueueUserAPC(RecordApc, t, reinterpret_cast<ULONG_PTR>(&apcThread)), 0u);
    CloseHandle(t);
    CloseHandle(started);
}

TEST(Apc, WaitsOnlyInAlertableWaits) {
    std::atomic<DWORD> apcThread{0};
    std::atomic<bool> ranDuringPlainWaits{true};
    HANDLE queued = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    auto body = [&]() -> DWORD {
        WaitForSingleObject(queued, INFINITE);
        Sleep(5);
        ranDuringPlainWaits = apcThread != 0;
        return SleepEx(0, TRUE);
    };
    HANDLE t = Start(body);
    QueueUserAPC(RecordApc, t, reinterpret_cast<ULONG_PTR>(&apcThread));
    SetEvent(queued);
    WaitForSingleObject(t, INFINITE);
    EXPECT_FALSE(ranDuringPlainWaits);
    EXPECT_EQ(ExitCodeOf(t), WAIT_IO_COMPLETION);
    EXPECT_EQ(apcThread.load(), GetThreadId(t));
    CloseHandle(t);
    CloseHandle(queued);
}

TEST(Events, AutoResetReleasesOneWaiterPerSet) {
    HANDLE e = CreateEventW(nullptr, FALSE, TRUE, nullptr);
    EXPECT_EQ(WaitForSingleObject(e, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(e, 0), WAIT_TIMEOUT);
    EXPECT_EQ(WaitForSingleObject(e, 10), WAIT_TIMEOUT);

    std::atomic<int> woken{0};
    std::vector<std::thread> waiters;
    for (int i = 0; i < 4; ++i) {
        waiters.emplace_back([&] {
            WaitForSingleObject(e, INFINITE);
            ++woken;
        });
    }
    for (int i = 0; i < 4; ++i) {
        SetEvent(e);
        while (woken != i + 1) Sleep(1);
    }
    for (auto& w : waiters) w.join();
    EXPECT_EQ(WaitForSingleObject(e, 0), WAIT_TIMEOUT);
    CloseHandle(e);
}

TEST(Events, ManualResetStaysSetUntilReset) {
    HANDLE e = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    EXPECT_EQ(WaitForSingleObject(e, 0), WAIT_TIMEOUT);
    EXPECT_TRUE(SetEvent(e));
    EXPECT_TRUE(SetEvent(e));
    EXPECT_EQ(WaitForSingleObject(e, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(e, INFINITE), WAIT_OBJECT_0);
    EXPECT_TRUE(ResetEvent(e));
    EXPECT_EQ(WaitForSingleObject(e, 0), WAIT_TIMEOUT);
    CloseHandle(e);
    EXPECT_FALSE(SetEvent(e));
    EXPECT_EQ(WaitForSingleObject(nullptr, 0), WAIT_FAILED);
}

TEST(CriticalSection, RecursiveAndExclusive) {
    CRITICAL_SECTION cs;
    std::memset(&cs, 0, sizeof cs);  // a zero-filled record works before initialisation
    EnterCriticalSection(&cs);
    EnterCriticalSection(&cs);
    auto otherCanEnter = [&] {
        BOOL got = FALSE;
        std::thread([&] {
            got = TryEnterCriticalSection(&cs);
            if (got) LeaveCriticalSection(&cs);
        }).join();
        return got != FALSE;
    };
    LeaveCriticalSection(&cs);
    EXPECT_FALSE(otherCanEnter());
    LeaveCriticalSection(&cs);
    EXPECT_TRUE(otherCanEnter());
    // A stray leave by a thread that does not own it must not free the owner's lock.
    EnterCriticalSection(&cs);
    std::thread([&] { LeaveCriticalSection(&cs); }).join();
    EXPECT_FALSE(otherCanEnter());
    LeaveCriticalSection(&cs);
    DeleteCriticalSection(&cs);
}

TEST(CriticalSection, ProtectsASharedCounter) {
    CRITICAL_SECTION cs;
    InitializeCriticalSection(&cs);
    long counter = 0;  // plain on purpose: the thread sanitizer build checks the lock
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 20000; ++i) {
                EnterCriticalSection(&cs);
                ++counter;
                LeaveCriticalSection(&cs);
            }
        });
    }
    for (auto& th : threads) th.join();
    EXPECT_EQ(counter, 80000);
}

void IgnoreSignal(int) {}

TEST(WaitFds, ReadyTimeoutAndInterruptedPolls) {
    Pipe p;
    pollfd fd{p.fds[0], POLLIN, 0};
    EXPECT_EQ(WaitFds(&fd, 1, 0, false), WaitResult::Timeout);
    EXPECT_EQ(WaitFds(&fd, 1, 5, false), WaitResult::Timeout);
    EXPECT_EQ(WaitFds(nullptr, 0, 0, true), WaitResult::Timeout);

    struct sigaction action {};
    action.sa_handler = IgnoreSignal;
    struct sigaction old {};
    sigaction(SIGUSR2, &action, &old);
    std::atomic<bool> waiting{false};
    WaitResult result = WaitResult::Timeout;
    short revents = 0;
    std::thread waiter([&] {
        pollfd f{p.fds[0], POLLIN, 0};
        waiting = true;
        result = WaitFds(&f, 1, -1, false);
        revents = f.revents;
    });
    while (!waiting) Sleep(1);
    for (int i = 0; i < 5; ++i) {
        pthread_kill(waiter.native_handle(), SIGUSR2);
        Sleep(2);
    }
    ASSERT_EQ(write(p.fds[1], "x", 1), 1);
    waiter.join();
    sigaction(SIGUSR2, &old, nullptr);
    EXPECT_EQ(result, WaitResult::Ready);
    EXPECT_TRUE(revents & POLLIN);
}

TEST(WaitFds, ManyDescriptorsReportWhichIsReady) {
    std::vector<Pipe> pipes(12);
    std::vector<pollfd> fds;
    for (auto& p : pipes) fds.push_back(pollfd{p.fds[0], POLLIN, 0});
    ASSERT_EQ(write(pipes[10].fds[1], "x", 1), 1);
    EXPECT_EQ(WaitFds(fds.data(), static_cast<int>(fds.size()), -1, false), WaitResult::Ready);
    for (size_t i = 0; i < fds.size(); ++i) EXPECT_EQ(fds[i].revents != 0, i == 10) << i;
}

TEST(Sleep, WaitsAtLeastTheTime) {
    long long start = platform::detail::MonotonicMs();
    Sleep(30);
    EXPECT_GE(platform::detail::MonotonicMs() - start, 30);
    EXPECT_EQ(SleepEx(1, TRUE), 0u);
}

}  // namespace
