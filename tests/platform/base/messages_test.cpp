#include "platform/base/messages.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <functional>
#include <future>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/base/threads.h"
#include "support/test_support.h"

namespace {

constexpr UINT kQuitLoop = WM_USER + 99;

using Handler = std::function<LRESULT(HWND, UINT, WPARAM, LPARAM)>;

LRESULT CALLBACK TestProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == kQuitLoop) {
        PostQuitMessage(0);
        return 0;
    }
    auto* handler = reinterpret_cast<Handler*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (handler && *handler) return (*handler)(hwnd, message, wParam, lParam);
    return DefWindowProcW(hwnd, message, wParam, lParam);
}

void RegisterTestClass() {
    static std::once_flag once;
    std::call_once(once, [] {
        // Windows of the class are found across programs: they listen in a runtime folder
        // of this test's own, not the user's.
        static testsupport::TempDir runtime;
        setenv("XDG_RUNTIME_DIR", runtime.path().c_str(), 1);
        WNDCLASSW cls{};
        cls.lpfnWndProc = TestProc;
        cls.lpszClassName = TEXT("MessagesTestClass");
        ASSERT_NE(RegisterClassW(&cls), 0);
    });
}

// A window owned by its own thread, which runs a message loop until the window is told
// to quit. setup runs on that thread before the loop starts.
class WindowThread {
  public:
    explicit WindowThread(Handler handler, std::function<void(HWND)> setup = {})
        : handler_(std::move(handler)) {
        RegisterTestClass();
        std::promise<HWND> created;
        auto future = created.get_future();
        thread_ = std::thread([this, &created, setup] {
            threadId_ = std::this_thread::get_id();
            HWND hwnd = CreateWindowExW(0, TEXT("MessagesTestClass"), TEXT(""), 0, 0, 0, 0, 0,
                                        nullptr, nullptr, nullptr, nullptr);
            SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&handler_));
            if (setup) setup(hwnd);
            created.set_value(hwnd);
            MSG msg;
            while (GetMessageW(&msg, nullptr, 0, 0)) DispatchMessageW(&msg);
            DestroyWindow(hwnd);
        });
        hwnd_ = future.get();
    }
    ~WindowThread() { Stop(); }
    void Stop() {
        if (!thread_.joinable()) return;
        PostMessageW(hwnd_, kQuitLoop, 0, 0);
        thread_.join();
    }
    HWND hwnd() const { return hwnd_; }
    std::thread::id id() const { return threadId_; }

  private:
    Handler handler_;
    HWND hwnd_ = nullptr;
    std::thread::id threadId_;
    std::thread thread_;
};

struct TimerLog {
    std::mutex mutex;
    std::vector<std::pair<UINT_PTR, std::thread::id>> fired;
    std::promise<void> done;
    size_t expected = 0;
    void Add(UINT_PTR id) {
        std::lock_guard<std::mutex> lock(mutex);
        fired.emplace_back(id, std::this_thread::get_id());
        if (fired.size() == expected) done.set_value();
    }
};

TimerLog* g_log = nullptr;

VOID CALLBACK LogTimerProc(HWND, UINT message, UINT_PTR id, DWORD) {
    EXPECT_EQ(message, WM_TIMER);
    g_log->Add(id);
}

class ManualClock : public ::testing::Test {
  protected:
    void SetUp() override { platform::UseManualClock(); }
    void TearDown() override { platform::UseRealClock(); }
};

TEST_F(ManualClock, TimersFireOnOwnerThreadInDueOrderOnlyWhenDue) {
    TimerLog log;
    log.expected = 3;
    g_log = &log;
    std::promise<void> sentinel;
    WindowThread window([&](HWND, UINT message, WPARAM wParam, LPARAM) -> LRESULT {
        if (message == WM_TIMER) log.Add(wParam);  // a timer without a procedure
        if (message == WM_USER + 1) sentinel.set_value();
        return 0;
    });
    // Set from this thread: the timers still belong to the window's thread.
    EXPECT_EQ(SetTimer(window.hwnd(), 1, 10000, LogTimerProc), 1u);
    EXPECT_EQ(SetTimer(window.hwnd(), 2, 5000, nullptr), 2u);
    EXPECT_EQ(SetTimer(window.hwnd(), 3, 7000, LogTimerProc), 3u);

    platform::AdvanceClock(4999);
    // Posted messages come before timers, so once the sentinel is handled a due timer
    // would already have been seen only if it were due; none is.
    PostMessageW(window.hwnd(), WM_USER + 1, 0, 0);
    sentinel.get_future().get();
    {
        std::lock_guard<std::mutex> lock(log.mutex);
        EXPECT_TRUE(log.fired.empty());
    }

    platform::AdvanceClock(5001);  // ten seconds in all: every timer is due
    log.done.get_future().get();
    KillTimer(window.hwnd(), 1);
    KillTimer(window.hwnd(), 2);
    KillTimer(window.hwnd(), 3);
    window.Stop();
    ASSERT_EQ(log.fired.size(), 3u);
    EXPECT_EQ(log.fired[0].first, 2u);
    EXPECT_EQ(log.fired[1].first, 3u);
    EXPECT_EQ(log.fired[2].first, 1u);
    for (auto& [id, thread] : log.fired) EXPECT_EQ(thread, window.id()) << "timer " << id;
    g_log = nullptr;
}

TEST_F(ManualClock, KilledOrReplacedTimerDoesNotFire) {
    TimerLog log;
    log.expected = 1;
    g_log = &log;
    WindowThread window([&](HWND, UINT, WPARAM, LPARAM) -> LRESULT { return 0; });
    // Killing a timer that was never set is harmless, also twice and on no window.
    EXPECT_FALSE(KillTimer(window.hwnd(), 42));
    EXPECT_FALSE(KillTimer(window.hwnd(), 42));
    EXPECT_FALSE(KillTimer(nullptr, 42));

    SetTimer(window.hwnd(), 5, 1000, LogTimerProc);
    EXPECT_TRUE(KillTimer(window.hwnd(), 5));
    EXPECT_FALSE(KillTimer(window.hwnd(), 5));
    SetTimer(window.hwnd(), 6, 1000, LogTimerProc);
    SetTimer(window.hwnd(), 6, 3000, LogTimerProc);  // same id: replaces the first
    platform::AdvanceClock(2000);
    SetTimer(window.hwnd(), 7, 500, LogTimerProc);
    platform::AdvanceClock(500);
    log.done.get_future().get();
    KillTimer(window.hwnd(), 6);
    KillTimer(window.hwnd(), 7);
    window.Stop();
    ASSERT_EQ(log.fired.size(), 1u);
    EXPECT_EQ(log.fired[0].first, 7u);
    g_log = nullptr;
}

TEST(Messages, PostsFromTenThreadsAtOnceAllArriveInOrderPerSender) {
    constexpr int kThreads = 10;
    constexpr int kEach = 2000;
    std::vector<std::vector<int>> received(kThreads);
    std::promise<void> all;
    int total = 0;
    WindowThread window([&](HWND, UINT message, WPARAM wParam, LPARAM lParam) -> LRESULT {
        if (message != WM_USER + 2) return 0;
        received[wParam].push_back(static_cast<int>(lParam));
        if (++total == kThreads * kEach) all.set_value();
        return 0;
    });
    std::atomic<bool> go{false};
    std::vector<std::thread> senders;
    for (int t = 0; t < kThreads; ++t) {
        senders.emplace_back([&, t] {
            while (!go.load()) std::this_thread::yield();
            for (int i = 0; i < kEach; ++i)
                EXPECT_TRUE(PostMessageW(window.hwnd(), WM_USER + 2, static_cast<WPARAM>(t), i));
        });
    }
    go.store(true);
    for (auto& s : senders) s.join();
    all.get_future().get();
    window.Stop();
    for (int t = 0; t < kThreads; ++t) {
        ASSERT_EQ(received[t].size(), static_cast<size_t>(kEach)) << "sender " << t;
        for (int i = 0; i < kEach; ++i) ASSERT_EQ(received[t][i], i);
    }
}

TEST(Messages, SendAcrossThreadsReturnsHandlerResultFromOwnerThread) {
    std::thread::id handledOn;
    WindowThread window([&](HWND, UINT message, WPARAM wParam, LPARAM lParam) -> LRESULT {
        if (message != WM_USER + 3) return 0;
        handledOn = std::this_thread::get_id();
        // The sender's buffer is valid for as long as the handler runs.
        *reinterpret_cast<int*>(lParam) = 7;
        return static_cast<LRESULT>(wParam) * 2 + 1;
    });
    int out = 0;
    EXPECT_EQ(SendMessageW(window.hwnd(), WM_USER + 3, 20, reinterpret_cast<LPARAM>(&out)), 41);
    EXPECT_EQ(out, 7);
    EXPECT_EQ(handledOn, window.id());
    EXPECT_NE(handledOn, std::this_thread::get_id());
}

TEST(Messages, SendOnOwnerThreadIsDirectCall) {
    RegisterTestClass();
    HWND hwnd = CreateWindowExW(0, TEXT("MessagesTestClass"), TEXT("x"), 0, 0, 0, 0, 0, nullptr,
                                nullptr, nullptr, nullptr);
    Handler handler = [](HWND, UINT message, WPARAM, LPARAM) -> LRESULT {
        return message == WM_USER + 4 ? 99 : 0;
    };
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&handler));
    // No message loop runs here, so only a direct call can answer.
    EXPECT_EQ(SendMessageW(hwnd, WM_USER + 4, 0, 0), 99);
    EXPECT_TRUE(DestroyWindow(hwnd));
    EXPECT_FALSE(IsWindow(hwnd));
    EXPECT_FALSE(PostMessageW(hwnd, WM_USER, 0, 0));
    EXPECT_EQ(SendMessageW(hwnd, WM_USER + 4, 0, 0), 0);
}

TEST(Messages, MutualSendsBetweenTwoThreadsDoNotDeadlock) {
    HWND other = nullptr;
    WindowThread a([&](HWND, UINT message, WPARAM wParam, LPARAM) -> LRESULT {
        // While a's thread sends to b, it still answers b's send back to it.
        if (message == WM_USER + 5) return SendMessageW(other, WM_USER + 6, wParam, 0) + 1;
        if (message == WM_USER + 7) return 1000;
        return 0;
    });
    HWND first = a.hwnd();
    WindowThread b([&](HWND, UINT message, WPARAM wParam, LPARAM) -> LRESULT {
        if (message == WM_USER + 6) return SendMessageW(first, WM_USER + 7, 0, 0) + wParam;
        return 0;
    });
    other = b.hwnd();
    EXPECT_EQ(SendMessageW(first, WM_USER + 5, 5, 0), 1006);
}

TEST(Messages, SendToWindowWhoseThreadEndedReturnsAtOnce) {
    RegisterTestClass();
    HWND orphan = nullptr;
    std::thread([&] {
        orphan = CreateWindowExW(0, TEXT("MessagesTestClass"), TEXT(""), 0, 0, 0, 0, 0, nullptr,
                                 nullptr, nullptr, nullptr);
    }).join();
    EXPECT_EQ(SendMessageW(orphan, WM_USER, 0, 0), 0);
    EXPECT_FALSE(PostMessageW(orphan, WM_USER, 0, 0));
}

TEST(Messages, QuitComesAfterPostedMessagesAndPeekLeavesOrTakes) {
    PostMessageW(nullptr, WM_USER + 8, 1, 0);
    PostQuitMessage(3);
    PostMessageW(nullptr, WM_USER + 8, 2, 0);
    MSG msg;
    ASSERT_TRUE(PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE));
    EXPECT_EQ(msg.wParam, 1u);
    ASSERT_TRUE(GetMessageW(&msg, nullptr, 0, 0));
    EXPECT_EQ(msg.wParam, 1u);
    ASSERT_TRUE(GetMessageW(&msg, nullptr, 0, 0));
    EXPECT_EQ(msg.wParam, 2u);
    EXPECT_FALSE(GetMessageW(&msg, nullptr, 0, 0));
    EXPECT_EQ(msg.message, WM_QUIT);
    EXPECT_EQ(msg.wParam, 3u);
    EXPECT_FALSE(PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE));
}

TEST(Messages, ClassesRegisterOnceAndCopyFromInfo) {
    WNDCLASSW cls{};
    cls.lpfnWndProc = TestProc;
    cls.lpszClassName = TEXT("MessagesCopyClass");
    cls.cbWndExtra = 16;
    ASSERT_NE(RegisterClassW(&cls), 0);
    EXPECT_EQ(RegisterClassW(&cls), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_CLASS_ALREADY_EXISTS));
    WNDCLASSW info{};
    ASSERT_TRUE(GetClassInfoW(nullptr, TEXT("messagescopyclass"), &info));
    EXPECT_EQ(info.lpfnWndProc, TestProc);
    EXPECT_EQ(info.cbWndExtra, 16);
    EXPECT_FALSE(GetClassInfoW(nullptr, TEXT("NoSuchClass"), &info));
    EXPECT_TRUE(UnregisterClassW(TEXT("MessagesCopyClass"), nullptr));
}

}  // namespace

namespace {

struct StuckSender {
    HWND target;
    std::atomic<bool> started{false};
};

DWORD WINAPI SendAndStick(LPVOID parameter) {
    auto* sender = static_cast<StuckSender*>(parameter);
    int onMyStack = 1;
    sender->started.store(true);
    SendMessageW(sender->target, WM_USER + 11, 0, reinterpret_cast<LPARAM>(&onMyStack));
    return 0;
}

TEST(Messages, TerminatedSenderWithdrawsItsPendingMessage) {
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    std::promise<void> busy, sentinel;
    std::atomic<int> handledAfterTermination{0};
    WindowThread window([&](HWND, UINT message, WPARAM, LPARAM lParam) -> LRESULT {
        if (message == WM_USER + 10) {  // keeps the window's thread from its loop
            busy.set_value();
            released.wait();
        }
        if (message == WM_USER + 11) {
            ++handledAfterTermination;
            *reinterpret_cast<int*>(lParam) = 2;  // would write into a dead stack
        }
        if (message == WM_USER + 12) sentinel.set_value();
        return 0;
    });
    PostMessageW(window.hwnd(), WM_USER + 10, 0, 0);
    busy.get_future().get();
    StuckSender sender{window.hwnd()};
    HANDLE thread = CreateThread(nullptr, 0, SendAndStick, &sender, 0, nullptr);
    ASSERT_NE(thread, nullptr);
    while (!sender.started.load()) Sleep(1);
    Sleep(20);  // lets the sender reach its wait; the outcome is the same if it has not
    EXPECT_TRUE(TerminateThread(thread, 9));
    EXPECT_EQ(WaitForSingleObject(thread, INFINITE), WAIT_OBJECT_0);
    DWORD code = 0;
    EXPECT_TRUE(GetExitCodeThread(thread, &code));
    EXPECT_EQ(code, 9u);
    CloseHandle(thread);
    release.set_value();
    PostMessageW(window.hwnd(), WM_USER + 12, 0, 0);
    sentinel.get_future().get();
    EXPECT_EQ(handledAfterTermination.load(), 0);
}

}  // namespace
