// Message queues: posted messages, messages sent from other threads, timers and the quit
// request of each thread that needs one.
//
// Each queue has an eventfd; anything that adds work for the thread (a post, a send, a
// moved clock, a quit) writes to that eventfd, and the thread's loop waits on it through
// WaitFds, so it wakes at once and stays a termination point.
#include "internal/queues.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <vector>

#include "internal/clock.h"
#include "platform/base/detail/window_sockets.h"
#include "platform/base/detail/windows.h"
#include "platform/base/linux/wait.h"

namespace platform::detail {

// A function sent from another thread. The sender owns a reference and waits on its own
// queue's eventfd; the state tells both sides whether the function may still run.
struct SentMessage {
    enum class State { Pending, Running, Done, Abandoned };
    const std::function<LRESULT()>* invoke = nullptr;
    std::shared_ptr<MessageQueue> sender;
    State state = State::Pending;
    LRESULT result = 0;
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

struct QueueList {
    std::mutex mutex;
    std::vector<std::weak_ptr<MessageQueue>> queues;
};

QueueList& Queues() {
    static QueueList* list = new QueueList;  // lives until exit, also for late calls
    return *list;
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

bool Matches(const MSG& msg, HWND window, UINT filterMin, UINT filterMax) {
    if (window && msg.hwnd != window) return false;
    if (filterMin == 0 && filterMax == 0) return true;
    return msg.message >= filterMin && msg.message <= filterMax;
}

// Runs one function sent from another thread, unless its sender gave up on it.
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
    result = (*sent->invoke)();
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

// The earliest due timer that passes the filter; null when none.
Timer* DueTimer(MessageQueue& queue, unsigned long long now, HWND window, UINT filterMin,
                UINT filterMax) {
    Timer* best = nullptr;
    for (auto& timer : queue.timers) {
        if (timer.due > now) continue;
        MSG probe{timer.hwnd, WM_TIMER, timer.id, 0, 0, {}};
        if (!Matches(probe, window, filterMin, filterMax)) continue;
        if (!best || timer.due < best->due || (timer.due == best->due && timer.order < best->order))
            best = &timer;
    }
    return best;
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
    Timer* best = DueTimer(queue, now, window, filterMin, filterMax);
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
    if (ClockIsManual()) return -1;
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

// Serves the window sockets of the queue's thread that are ready; a window asked to come
// forward gets the private foreground message (the queue is its owner's).
void ServeReadySockets(MessageQueue& queue, const std::vector<WindowSocketFd>& sockets,
                       const pollfd* ready) {
    for (size_t i = 0; i < sockets.size(); ++i) {
        if (!ready[i].revents) continue;
        if (HWND forward = ServeWindowSocket(sockets[i]))
            PostToQueue(queue, MSG{forward, kForegroundMessage, 0, 0, GetTickCount(), {}});
    }
}

}  // namespace

std::shared_ptr<MessageQueue> ThisQueue() {
    if (!t_queue.queue) {
        auto queue = std::make_shared<MessageQueue>();
        QueueList& list = Queues();
        std::lock_guard<std::mutex> lock(list.mutex);
        std::erase_if(list.queues, [](const auto& q) { return q.expired(); });
        list.queues.push_back(queue);
        t_queue.queue = queue;
    }
    return t_queue.queue;
}

MessageQueue* ThisQueueIfAny() {
    return t_queue.queue.get();
}

bool PostToQueue(MessageQueue& queue, const MSG& message) {
    {
        std::lock_guard<std::mutex> lock(queue.mutex);
        if (queue.dead) return false;
        queue.posted.push_back(message);
    }
    queue.Wake();
    return true;
}

// Handles messages sent to this thread while it waits, so that two threads sending to
// each other cannot deadlock. If this thread is terminated while it waits, the function is
// withdrawn when still pending; when the owner is already running it, the unwinding waits
// for it to finish, so it never sees a dead sender's memory.
LRESULT SendToQueue(const std::shared_ptr<MessageQueue>& queue,
                    const std::function<LRESULT()>& fn) {
    auto self = ThisQueue();
    auto sent = std::make_shared<SentMessage>();
    sent->invoke = &fn;
    sent->sender = self;
    {
        std::lock_guard<std::mutex> lock(queue->mutex);
        if (queue->dead) return 0;
        queue->sent.push_back(sent);
    }
    queue->Wake();

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

void AddTimer(MessageQueue& queue, const Timer& timer) {
    {
        std::lock_guard<std::mutex> lock(queue.mutex);
        std::erase_if(queue.timers,
                      [&](const Timer& t) { return t.hwnd == timer.hwnd && t.id == timer.id; });
        queue.timers.push_back(timer);
    }
    queue.Wake();
}

bool RemoveTimer(MessageQueue& queue, HWND window, UINT_PTR id) {
    std::lock_guard<std::mutex> lock(queue.mutex);
    return std::erase_if(queue.timers,
                         [&](const Timer& t) { return t.hwnd == window && t.id == id; }) != 0;
}

void RemoveTimersOf(MessageQueue& queue, HWND window) {
    std::lock_guard<std::mutex> lock(queue.mutex);
    std::erase_if(queue.timers, [&](const Timer& t) { return t.hwnd == window; });
}

void WakeAllQueues() {
    std::vector<std::shared_ptr<MessageQueue>> queues;
    {
        QueueList& list = Queues();
        std::lock_guard<std::mutex> lock(list.mutex);
        for (auto& weak : list.queues)
            if (auto queue = weak.lock()) queues.push_back(queue);
    }
    for (auto& queue : queues) queue->Wake();
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
        ServeReadySockets(*queue, sockets, all.data() + 1);
        bool ready = false;
        for (int i = 0; i < count; ++i) {
            fds[i].revents = all[1 + sockets.size() + static_cast<size_t>(i)].revents;
            ready = ready || fds[i].revents != 0;
        }
        if (ready) return true;
        if (deadline >= 0 && MonotonicMs() >= deadline) return false;
    }
}

}  // namespace platform::detail

using namespace platform::detail;

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

VOID PostQuitMessage(int exitCode) {
    auto queue = ThisQueue();
    {
        std::lock_guard<std::mutex> lock(queue->mutex);
        queue->quit = true;
        queue->quitCode = exitCode;
    }
    queue->Wake();
}
