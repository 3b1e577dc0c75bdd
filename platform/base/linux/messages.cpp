// Message queues, window records, sent messages and timers.
//
// Each thread that needs one gets a queue with an eventfd; anything that adds work for
// the thread (a post, a send, a moved clock, a quit) writes to that eventfd, and the
// thread's loop waits on it through WaitFds, so it wakes at once and stays a termination
// point.
#include "platform/base/messages.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>

#include "platform/base/detail/window_sockets.h"
#include "platform/base/detail/windows.h"
#include "platform/base/linux/wait.h"
#include "platform/base/strings.h"

namespace platform::detail {

// A message sent from another thread. The sender owns a reference and waits on its own
// queue's eventfd; the state tells both sides whether the message may still be handled.
struct SentMessage {
    enum class State { Pending, Running, Done, Abandoned };
    HWND hwnd = nullptr;
    UINT message = 0;
    WPARAM wParam = 0;
    LPARAM lParam = 0;
    const std::function<LRESULT()>* invoke = nullptr;  // RunOnOwner's function
    std::shared_ptr<MessageQueue> sender;
    State state = State::Pending;
    LRESULT result = 0;
};

struct Timer {
    HWND hwnd;
    UINT_PTR id;
    DWORD elapse;
    TIMERPROC proc;
    unsigned long long due;
    unsigned long long order;  // ties fire in the order the timers were set
};

struct MessageQueue {
    std::mutex mutex;
    std::condition_variable doneCv;  // a sender that must not unwind waits here
    std::deque<MSG> posted;
    std::deque<std::shared_ptr<SentMessage>> sent;
    std::vector<Timer> timers;
    bool quit = false;
    int quitCode = 0;
    bool dead = false;
    int eventFd = -1;

    MessageQueue() { eventFd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC); }
    ~MessageQueue() {
        if (eventFd >= 0) close(eventFd);
    }
    void Wake() {
        uint64_t one = 1;
        ssize_t r = write(eventFd, &one, sizeof one);
        (void)r;  // the counter is only a flag; a full counter is still readable
    }
    void Drain() {
        uint64_t value;
        ssize_t r = read(eventFd, &value, sizeof value);
        (void)r;
    }
};

namespace {

// Private messages, handled by the platform before any window procedure sees them.
constexpr UINT kForegroundMessage = 0x03F7;

struct Registry {
    std::mutex mutex;
    std::map<uintptr_t, std::shared_ptr<WindowRecord>> windows;
    uintptr_t nextHandle = 0x10000;
    std::vector<std::weak_ptr<MessageQueue>> queues;
    std::map<std::u16string, WNDCLASSW> classes;  // key: lower-case name
    std::map<std::u16string, std::u16string> classNames;
    std::atomic<ForegroundHook> foregroundHook{nullptr};
    std::atomic<unsigned long long> timerOrder{0};
    UINT_PTR nextThreadTimerId = 0x7000;
};

Registry& Reg() {
    static Registry* registry = new Registry;  // lives until exit, also for late calls
    return *registry;
}

std::atomic<bool> g_manualClock{false};
std::atomic<unsigned long long> g_manualNow{0};

unsigned long long RealNowMs() {
    using namespace std::chrono;
    return static_cast<unsigned long long>(
        duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

// Ends a thread's queue when the thread ends: later posts fail and senders stop waiting.
struct QueueHolder {
    std::shared_ptr<MessageQueue> queue;
    ~QueueHolder() {
        if (!queue) return;
        std::deque<std::shared_ptr<SentMessage>> pending;
        {
            std::lock_guard<std::mutex> lock(queue->mutex);
            queue->dead = true;
            pending.swap(queue->sent);
            queue->posted.clear();
            queue->timers.clear();
        }
        for (auto& sent : pending) {
            std::lock_guard<std::mutex> lock(sent->sender->mutex);
            if (sent->state == SentMessage::State::Pending) sent->state = SentMessage::State::Done;
            sent->sender->doneCv.notify_all();
            sent->sender->Wake();
        }
    }
};

thread_local QueueHolder t_queue;

MessageQueue* ThisQueueIfAny() {
    return t_queue.queue.get();
}

std::shared_ptr<MessageQueue> ThisQueue() {
    if (!t_queue.queue) {
        auto queue = std::make_shared<MessageQueue>();
        Registry& reg = Reg();
        std::lock_guard<std::mutex> lock(reg.mutex);
        std::erase_if(reg.queues, [](const auto& q) { return q.expired(); });
        reg.queues.push_back(queue);
        t_queue.queue = queue;
    }
    return t_queue.queue;
}

std::u16string Lower(std::u16string_view s) {
    std::u16string out(s);
    for (auto& c : out)
        if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c - u'A' + u'a');
    return out;
}

bool Matches(const MSG& msg, HWND window, UINT filterMin, UINT filterMax) {
    if (window && msg.hwnd != window) return false;
    if (filterMin == 0 && filterMax == 0) return true;
    return msg.message >= filterMin && msg.message <= filterMax;
}

LRESULT CallProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    auto record = FindWindowRecord(window);
    if (!record || !record->proc) return 0;
    return record->proc(window, message, wParam, lParam);
}

// Handles one message sent from another thread, unless its sender gave up on it.
void HandleSent(const std::shared_ptr<SentMessage>& sent) {
    {
        std::lock_guard<std::mutex> lock(sent->sender->mutex);
        if (sent->state != SentMessage::State::Pending) return;
        sent->state = SentMessage::State::Running;
    }
    LRESULT result = 0;
    // If this thread is terminated while handling, the sender is still released.
    struct Finish {
        const std::shared_ptr<SentMessage>& sent;
        LRESULT& result;
        ~Finish() {
            std::lock_guard<std::mutex> lock(sent->sender->mutex);
            sent->state = SentMessage::State::Done;
            sent->result = result;
            sent->sender->doneCv.notify_all();
            sent->sender->Wake();
        }
    } finish{sent, result};
    if (sent->invoke)
        result = (*sent->invoke)();
    else
        result = CallProc(sent->hwnd, sent->message, sent->wParam, sent->lParam);
}

bool HandleAllSent(MessageQueue& queue) {
    bool any = false;
    for (;; any = true) {
        std::shared_ptr<SentMessage> sent;
        {
            std::lock_guard<std::mutex> lock(queue.mutex);
            if (queue.sent.empty()) return any;
            sent = std::move(queue.sent.front());
            queue.sent.pop_front();
        }
        HandleSent(sent);
    }
}

// Takes the next message for GetMessageW/PeekMessageW: posted messages first, then the
// quit request, then the earliest due timer (which is rescheduled, as on Windows).
bool TakeMessage(MessageQueue& queue, MSG* out, HWND window, UINT filterMin, UINT filterMax,
                 bool remove) {
    std::lock_guard<std::mutex> lock(queue.mutex);
    for (auto it = queue.posted.begin(); it != queue.posted.end(); ++it) {
        if (!Matches(*it, window, filterMin, filterMax)) continue;
        *out = *it;
        if (remove) queue.posted.erase(it);
        return true;
    }
    if (queue.quit) {
        *out = MSG{nullptr, WM_QUIT, static_cast<WPARAM>(queue.quitCode), 0, GetTickCount(), {}};
        if (remove) queue.quit = false;
        return true;
    }
    unsigned long long now = ClockNowMs();
    Timer* best = nullptr;
    for (auto& timer : queue.timers) {
        if (timer.due > now) continue;
        MSG probe{timer.hwnd, WM_TIMER, timer.id, 0, 0, {}};
        if (!Matches(probe, window, filterMin, filterMax)) continue;
        if (!best || timer.due < best->due || (timer.due == best->due && timer.order < best->order))
            best = &timer;
    }
    if (!best) return false;
    *out = MSG{best->hwnd,
               WM_TIMER,
               best->id,
               reinterpret_cast<LPARAM>(best->proc),
               static_cast<DWORD>(now),
               {}};
    if (remove) best->due = now + best->elapse;
    return true;
}

// Milliseconds until the next timer is due; -1 for none or for a manual clock, which
// wakes the loops itself when it moves.
int NextTimerTimeout(MessageQueue& queue) {
    if (g_manualClock.load()) return -1;
    std::lock_guard<std::mutex> lock(queue.mutex);
    if (queue.timers.empty()) return -1;
    unsigned long long now = ClockNowMs();
    unsigned long long next = queue.timers.front().due;
    for (auto& timer : queue.timers) next = std::min(next, timer.due);
    if (next <= now) return 0;
    return static_cast<int>(std::min<unsigned long long>(next - now, 1u << 30));
}

bool HasWork(MessageQueue& queue) {
    MSG msg;
    return TakeMessage(queue, &msg, nullptr, 0, 0, false);
}

HWND NewHandle(Registry& reg) {
    uintptr_t value = reg.nextHandle;
    reg.nextHandle += 4;  // the lowest bits stay free (SetForegroundWindow uses bit 0)
    return reinterpret_cast<HWND>(value);
}

void RemoveTimersOf(HWND window) {
    auto record = FindWindowRecord(window);
    if (!record || !record->owner) return;
    std::lock_guard<std::mutex> lock(record->owner->mutex);
    std::erase_if(record->owner->timers, [&](const Timer& t) { return t.hwnd == window; });
}

}  // namespace

unsigned long long ClockNowMs() {
    return g_manualClock.load() ? g_manualNow.load() : RealNowMs();
}

std::shared_ptr<WindowRecord> FindWindowRecord(HWND window) {
    uintptr_t value = reinterpret_cast<uintptr_t>(window) & ~uintptr_t{1};
    Registry& reg = Reg();
    std::lock_guard<std::mutex> lock(reg.mutex);
    auto it = reg.windows.find(value);
    return it == reg.windows.end() ? nullptr : it->second;
}

bool IsOwnerThread(const WindowRecord& record) {
    return record.owner && record.owner.get() == ThisQueueIfAny();
}

void SetForegroundHook(ForegroundHook hook) {
    Reg().foregroundHook.store(hook);
}

// Sends a message (or a function to run) to the owner thread of window and waits for the
// result, handling messages sent to this thread meanwhile so that two threads sending to
// each other cannot deadlock. If this thread is terminated while it waits, the message is
// withdrawn when still pending; when the owner is already handling it, the unwinding
// waits for the handler to finish, so the handler never sees a dead sender's memory.
static LRESULT SendAcross(const std::shared_ptr<WindowRecord>& record, UINT message, WPARAM wParam,
                          LPARAM lParam, const std::function<LRESULT()>* invoke) {
    auto self = ThisQueue();
    auto sent = std::make_shared<SentMessage>();
    sent->hwnd = record->handle;
    sent->message = message;
    sent->wParam = wParam;
    sent->lParam = lParam;
    sent->invoke = invoke;
    sent->sender = self;
    {
        std::lock_guard<std::mutex> lock(record->owner->mutex);
        if (record->owner->dead) return 0;
        record->owner->sent.push_back(sent);
    }
    record->owner->Wake();

    struct Withdraw {
        const std::shared_ptr<SentMessage>& sent;
        ~Withdraw() {
            std::unique_lock<std::mutex> lock(sent->sender->mutex);
            if (sent->state == SentMessage::State::Pending) {
                sent->state = SentMessage::State::Abandoned;
                return;
            }
            sent->sender->doneCv.wait(lock,
                                      [&] { return sent->state == SentMessage::State::Done; });
        }
    } withdraw{sent};

    for (;;) {
        self->Drain();
        {
            std::lock_guard<std::mutex> lock(self->mutex);
            if (sent->state == SentMessage::State::Done) return sent->result;
        }
        HandleAllSent(*self);
        {
            std::lock_guard<std::mutex> lock(self->mutex);
            if (sent->state == SentMessage::State::Done) return sent->result;
        }
        pollfd fd{self->eventFd, POLLIN, 0};
        WaitFds(&fd, 1, -1, false);
    }
}

LRESULT RunOnOwner(HWND window, const std::function<LRESULT()>& fn) {
    auto record = FindWindowRecord(window);
    if (!record || record->remote || !record->owner) return 0;
    if (IsOwnerThread(*record)) return fn();
    return SendAcross(record, WM_NULL, 0, 0, &fn);
}

bool WaitMessageOrFds(pollfd* fds, int count, int timeoutMs) {
    auto queue = ThisQueue();
    long long deadline = timeoutMs < 0 ? -1 : MonotonicMs() + timeoutMs;
    std::vector<pollfd> all;
    std::vector<WindowSocketFd> sockets;
    for (;;) {
        queue->Drain();
        // Handled sends may have changed what the caller shows: let it look again.
        if (HandleAllSent(*queue) || HasWork(*queue)) return false;
        int wait = NextTimerTimeout(*queue);
        if (deadline >= 0) {
            long long left = std::max(0LL, deadline - MonotonicMs());
            wait = wait < 0 ? static_cast<int>(left) : std::min<int>(wait, static_cast<int>(left));
        }
        sockets = WindowSocketFds(queue.get());
        all.assign(1, pollfd{queue->eventFd, POLLIN, 0});
        for (auto& s : sockets) all.push_back(pollfd{s.fd, POLLIN, 0});
        for (int i = 0; i < count; ++i) all.push_back(pollfd{fds[i].fd, fds[i].events, 0});
        WaitFds(all.data(), static_cast<int>(all.size()), wait, false);
        for (size_t i = 0; i < sockets.size(); ++i)
            if (all[1 + i].revents) ServeWindowSocket(sockets[i]);
        bool ready = false;
        for (int i = 0; i < count; ++i) {
            fds[i].revents = all[1 + sockets.size() + static_cast<size_t>(i)].revents;
            ready = ready || fds[i].revents != 0;
        }
        if (ready) return true;
        if (deadline >= 0 && MonotonicMs() >= deadline) return false;
    }
}

void PostForeground(HWND window) {
    PostMessageW(window, kForegroundMessage, 0, 0);
}

}  // namespace platform::detail

using namespace platform::detail;

ATOM RegisterClassW(const WNDCLASSW* windowClass) {
    if (!windowClass || !windowClass->lpszClassName || !windowClass->lpfnWndProc) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    Registry& reg = Reg();
    std::u16string name(windowClass->lpszClassName);
    std::lock_guard<std::mutex> lock(reg.mutex);
    auto key = Lower(name);
    if (reg.classes.count(key)) {
        SetLastError(ERROR_CLASS_ALREADY_EXISTS);
        return 0;
    }
    auto stored = reg.classNames.emplace(key, name).first;
    WNDCLASSW copy = *windowClass;
    copy.lpszClassName = stored->second.c_str();
    copy.lpszMenuName = nullptr;
    reg.classes.emplace(key, copy);
    return static_cast<ATOM>(0xC000 + reg.classes.size());
}

BOOL UnregisterClassW(LPCWSTR className, HINSTANCE) {
    if (!className) return FALSE;
    Registry& reg = Reg();
    std::lock_guard<std::mutex> lock(reg.mutex);
    if (reg.classes.erase(Lower(className)) == 0) {
        SetLastError(ERROR_CLASS_DOES_NOT_EXIST);
        return FALSE;
    }
    return TRUE;
}

// The system classes (as "Dialog" and the controls) are registered at program start with
// a null instance; GetClassInfoW finds any class whatever instance is given.
BOOL GetClassInfoW(HINSTANCE, LPCWSTR className, WNDCLASSW* windowClass) {
    if (!className || !windowClass) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    Registry& reg = Reg();
    std::lock_guard<std::mutex> lock(reg.mutex);
    auto it = reg.classes.find(Lower(className));
    if (it == reg.classes.end()) {
        SetLastError(ERROR_CLASS_DOES_NOT_EXIST);
        return FALSE;
    }
    *windowClass = it->second;
    return TRUE;
}

HWND CreateWindowExW(DWORD exStyle, LPCWSTR className, LPCWSTR windowName, DWORD style, int x,
                     int y, int width, int height, HWND parent, HMENU menu, HINSTANCE instance,
                     LPVOID parameter) {
    WNDCLASSW cls{};
    if (!className || !GetClassInfoW(instance, className, &cls)) {
        SetLastError(ERROR_CLASS_DOES_NOT_EXIST);
        return nullptr;
    }
    auto record = std::make_shared<WindowRecord>();
    record->owner = ThisQueue();
    record->className = cls.lpszClassName;
    record->proc = cls.lpfnWndProc;
    record->classStyle = cls.style;
    record->instance = instance;
    record->classIcon = cls.hIcon;
    record->style = style;
    record->exStyle = exStyle;
    record->parent = parent;
    record->id = reinterpret_cast<LONG_PTR>(menu);
    record->extraBytes.assign(
        static_cast<size_t>(std::max(cls.cbWndExtra, 0)) / sizeof(LONG_PTR) + 2, 0);
    if (windowName) record->text = windowName;
    record->rect = RECT{x, y, x + width, y + height};
    Registry& reg = Reg();
    {
        std::lock_guard<std::mutex> lock(reg.mutex);
        record->handle = NewHandle(reg);
        reg.windows.emplace(reinterpret_cast<uintptr_t>(record->handle), record);
    }
    HWND window = record->handle;
    if (parent) {
        if (auto parentRecord = FindWindowRecord(parent)) parentRecord->children.push_back(window);
    } else {
        ListenForWindowClass(*record);
    }
    CREATESTRUCTW create{
        parameter,  instance,  menu,   parent, height, width, y, x, static_cast<LONG>(style),
        windowName, className, exStyle};
    if (SendMessageW(window, WM_CREATE, 0, reinterpret_cast<LPARAM>(&create)) == -1) {
        DestroyWindow(window);
        return nullptr;
    }
    return window;
}

BOOL DestroyWindow(HWND window) {
    auto record = FindWindowRecord(window);
    if (!record || record->remote || record->destroying) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    if (!IsOwnerThread(*record)) {
        SetLastError(ERROR_ACCESS_DENIED);  // as on Windows: only the owner may destroy
        return FALSE;
    }
    record->destroying = true;
    SendMessageW(window, WM_DESTROY, 0, 0);
    auto children = record->children;
    for (HWND child : children) DestroyWindow(child);
    RemoveTimersOf(window);
    StopListening(*record);
    if (record->parent) {
        if (auto parentRecord = FindWindowRecord(record->parent))
            std::erase(parentRecord->children, window);
    }
    Registry& reg = Reg();
    std::lock_guard<std::mutex> lock(reg.mutex);
    reg.windows.erase(reinterpret_cast<uintptr_t>(window));
    return TRUE;
}

BOOL IsWindow(HWND window) {
    auto record = FindWindowRecord(window);
    if (!record) return FALSE;
    if (record->remote) return RemoteWindowAlive(*record) ? TRUE : FALSE;
    return TRUE;
}

LRESULT DefWindowProcW(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    auto record = FindWindowRecord(window);
    if (!record) return 0;
    switch (message) {
        case WM_CLOSE:
            DestroyWindow(window);
            return 0;
        case WM_SETTEXT: {
            const WCHAR* text = reinterpret_cast<const WCHAR*>(lParam);
            record->text = text ? text : u"";
            return TRUE;
        }
        case WM_GETTEXT: {
            WCHAR* buffer = reinterpret_cast<WCHAR*>(lParam);
            if (!buffer || wParam == 0) return 0;
            size_t count = std::min<size_t>(record->text.size(), wParam - 1);
            std::copy_n(record->text.data(), count, buffer);
            buffer[count] = 0;
            return static_cast<LRESULT>(count);
        }
        case WM_GETTEXTLENGTH:
            return static_cast<LRESULT>(record->text.size());
        case WM_SETICON: {
            size_t which = wParam ? 1 : 0;
            HICON old = record->icons[which];
            record->icons[which] = reinterpret_cast<HICON>(lParam);
            return reinterpret_cast<LRESULT>(old);
        }
        case WM_GETICON:
            return reinterpret_cast<LRESULT>(record->icons[wParam ? 1 : 0]);
        default:
            return 0;
    }
}

static LONG_PTR* WindowLongSlot(WindowRecord& record, int index) {
    switch (index) {
        case GWLP_USERDATA:
            return &record.userData;
        case GWLP_ID:
            return &record.id;
        default:
            break;
    }
    if (index >= 0 && index % static_cast<int>(sizeof(LONG_PTR)) == 0) {
        size_t slot = static_cast<size_t>(index) / sizeof(LONG_PTR);
        if (slot < record.extraBytes.size()) return &record.extraBytes[slot];
    }
    return nullptr;
}

LONG_PTR GetWindowLongPtrW(HWND window, int index) {
    return RunOnOwner(window, [&]() -> LRESULT {
        auto record = FindWindowRecord(window);
        if (!record) return 0;
        switch (index) {
            case GWLP_WNDPROC:
                return reinterpret_cast<LONG_PTR>(record->proc);
            case GWLP_HINSTANCE:
                return reinterpret_cast<LONG_PTR>(record->instance);
            case GWL_STYLE:
                return static_cast<LONG_PTR>(record->style);
            case GWL_EXSTYLE:
                return static_cast<LONG_PTR>(record->exStyle);
            default:
                break;
        }
        LONG_PTR* slot = WindowLongSlot(*record, index);
        if (!slot) SetLastError(ERROR_INVALID_PARAMETER);
        return slot ? *slot : 0;
    });
}

LONG_PTR SetWindowLongPtrW(HWND window, int index, LONG_PTR value) {
    return RunOnOwner(window, [&]() -> LRESULT {
        auto record = FindWindowRecord(window);
        if (!record) return 0;
        LONG_PTR old = 0;
        switch (index) {
            case GWLP_WNDPROC:
                old = reinterpret_cast<LONG_PTR>(record->proc);
                record->proc = reinterpret_cast<WNDPROC>(value);
                return old;
            case GWL_STYLE:
                old = static_cast<LONG_PTR>(record->style);
                record->style = static_cast<DWORD>(value);
                return old;
            case GWL_EXSTYLE:
                old = static_cast<LONG_PTR>(record->exStyle);
                record->exStyle = static_cast<DWORD>(value);
                return old;
            default:
                break;
        }
        LONG_PTR* slot = WindowLongSlot(*record, index);
        if (!slot) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return 0;
        }
        old = *slot;
        *slot = value;
        return old;
    });
}

LRESULT CallWindowProcW(WNDPROC proc, HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    return proc ? proc(window, message, wParam, lParam) : 0;
}

BOOL PostMessageW(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    std::shared_ptr<MessageQueue> queue;
    if (!window) {
        queue = ThisQueue();
    } else {
        auto record = FindWindowRecord(window);
        if (!record || record->remote) {
            SetLastError(ERROR_INVALID_WINDOW_HANDLE);
            return FALSE;
        }
        queue = record->owner;
    }
    {
        std::lock_guard<std::mutex> lock(queue->mutex);
        if (queue->dead) {
            SetLastError(ERROR_INVALID_WINDOW_HANDLE);
            return FALSE;
        }
        queue->posted.push_back(MSG{window, message, wParam, lParam, GetTickCount(), {}});
    }
    queue->Wake();
    return TRUE;
}

LRESULT SendMessageW(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    auto record = FindWindowRecord(window);
    if (!record || record->remote) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return 0;
    }
    if (IsOwnerThread(*record)) return CallProc(window, message, wParam, lParam);
    return SendAcross(record, message, wParam, lParam, nullptr);
}

BOOL PeekMessageW(LPMSG message, HWND window, UINT filterMin, UINT filterMax, UINT remove) {
    auto queue = ThisQueue();
    queue->Drain();
    HandleAllSent(*queue);
    MSG msg;
    if (!TakeMessage(*queue, &msg, window, filterMin, filterMax, (remove & PM_REMOVE) != 0))
        return FALSE;
    if (message) *message = msg;
    return TRUE;
}

BOOL GetMessageW(LPMSG message, HWND window, UINT filterMin, UINT filterMax) {
    auto queue = ThisQueue();
    for (;;) {
        MSG msg;
        queue->Drain();
        HandleAllSent(*queue);
        if (TakeMessage(*queue, &msg, window, filterMin, filterMax, true)) {
            if (message) *message = msg;
            return msg.message == WM_QUIT ? FALSE : TRUE;
        }
        WaitMessageOrFds(nullptr, 0, -1);
    }
}

BOOL TranslateMessage(const MSG*) {
    return FALSE;
}

LRESULT DispatchMessageW(const MSG* message) {
    if (!message) return 0;
    if (message->message == kForegroundMessage) {
        if (auto hook = Reg().foregroundHook.load()) hook(message->hwnd);
        return 0;
    }
    if (message->message == WM_TIMER && message->lParam != 0) {
        auto proc = reinterpret_cast<TIMERPROC>(message->lParam);
        proc(message->hwnd, WM_TIMER, message->wParam, GetTickCount());
        return 0;
    }
    if (!message->hwnd) return 0;
    return CallProc(message->hwnd, message->message, message->wParam, message->lParam);
}

VOID PostQuitMessage(int exitCode) {
    auto queue = ThisQueue();
    {
        std::lock_guard<std::mutex> lock(queue->mutex);
        queue->quit = true;
        queue->quitCode = exitCode;
    }
    queue->Wake();
}

UINT_PTR SetTimer(HWND window, UINT_PTR id, UINT elapse, TIMERPROC function) {
    std::shared_ptr<MessageQueue> queue;
    if (window) {
        auto record = FindWindowRecord(window);
        if (!record || record->remote) {
            SetLastError(ERROR_INVALID_WINDOW_HANDLE);
            return 0;
        }
        queue = record->owner;
    } else {
        queue = ThisQueue();
    }
    Registry& reg = Reg();
    unsigned long long order = reg.timerOrder.fetch_add(1);
    elapse = std::max<UINT>(elapse, 10);  // as on Windows, so a zero period cannot spin
    {
        std::lock_guard<std::mutex> lock(queue->mutex);
        if (!window) {
            std::lock_guard<std::mutex> regLock(reg.mutex);
            id = ++reg.nextThreadTimerId;
        }
        std::erase_if(queue->timers,
                      [&](const Timer& t) { return t.hwnd == window && t.id == id; });
        queue->timers.push_back(Timer{window, id, elapse, function, ClockNowMs() + elapse, order});
    }
    queue->Wake();
    return window ? (id ? id : 1) : id;
}

BOOL KillTimer(HWND window, UINT_PTR id) {
    std::shared_ptr<MessageQueue> queue;
    if (window) {
        auto record = FindWindowRecord(window);
        if (!record || record->remote) return FALSE;
        queue = record->owner;
    } else {
        queue = ThisQueue();
    }
    std::lock_guard<std::mutex> lock(queue->mutex);
    size_t removed = std::erase_if(queue->timers,
                                   [&](const Timer& t) { return t.hwnd == window && t.id == id; });
    return removed ? TRUE : FALSE;
}

DWORD GetTickCount() {
    return static_cast<DWORD>(ClockNowMs());
}

HWND FindWindowW(LPCWSTR className, LPCWSTR windowName) {
    std::vector<std::shared_ptr<WindowRecord>> candidates;
    {
        Registry& reg = Reg();
        std::lock_guard<std::mutex> lock(reg.mutex);
        for (auto& [value, record] : reg.windows)
            if (!record->remote) candidates.push_back(record);
    }
    std::u16string wantClass = className ? Lower(className) : u"";
    for (auto& record : candidates) {
        if (className && Lower(record->className) != wantClass) continue;
        HWND window = record->handle;
        if (record->parent) continue;  // set at creation, never changed
        if (windowName) {
            std::u16string name;
            RunOnOwner(window, [&]() -> LRESULT {
                name = record->text;
                return 0;
            });
            if (name != windowName) continue;
        }
        return window;
    }
    if (!className || windowName) return nullptr;
    if (!WindowClassListening(className)) return nullptr;
    Registry& reg = Reg();
    auto proxy = std::make_shared<WindowRecord>();
    proxy->remote = true;
    proxy->className = className;
    std::lock_guard<std::mutex> lock(reg.mutex);
    for (auto& [value, record] : reg.windows)
        if (record->remote && Lower(record->className) == wantClass) return record->handle;
    proxy->handle = NewHandle(reg);
    reg.windows.emplace(reinterpret_cast<uintptr_t>(proxy->handle), proxy);
    return proxy->handle;
}

BOOL SetForegroundWindow(HWND window) {
    auto record = FindWindowRecord(window);
    if (!record) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    if (record->remote) return AskWindowClassForward(record->className) ? TRUE : FALSE;
    // A program bringing its own window forward is already in front of its user; only a
    // request from elsewhere redraws and alerts.
    if (IsOwnerThread(*record)) return TRUE;
    PostForeground(record->handle);
    return TRUE;
}

namespace platform {

void UseManualClock() {
    if (!g_manualClock.load()) g_manualNow.store(RealNowMs());
    g_manualClock.store(true);
}

void UseRealClock() {
    g_manualClock.store(false);
    AdvanceClock(0);
}

void AdvanceClock(DWORD milliseconds) {
    g_manualNow.fetch_add(milliseconds);
    std::vector<std::shared_ptr<MessageQueue>> queues;
    {
        Registry& reg = Reg();
        std::lock_guard<std::mutex> lock(reg.mutex);
        for (auto& weak : reg.queues)
            if (auto queue = weak.lock()) queues.push_back(queue);
    }
    for (auto& queue : queues) queue->Wake();
}

}  // namespace platform
