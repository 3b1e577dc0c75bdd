// Threads, events, critical sections and the one blocking primitive of the platform.
//
// Every thread that touches the platform has a ThreadState: its id, an eventfd that other
// threads write to wake it (APCs, termination requests), its APC queue and the number of
// critical sections it holds. Threads made by CreateThread also have a "done" eventfd that
// becomes readable for good when the thread has ended, which is what waits on a thread
// handle poll.
#include "platform/base/threads.h"

#include <linux/futex.h>
#include <poll.h>
#include <pthread.h>
#include <sched.h>
#include <sys/eventfd.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <deque>
#include <exception>
#include <memory>
#include <mutex>
#include <new>
#include <utility>
#include <vector>

#include "platform/base/detail/handle_table.h"
#include "platform/base/linux/wait.h"

namespace platform::detail {
namespace {

std::atomic<DWORD> nextThreadId{1};

int NewEventFd(unsigned initial) {
    return eventfd(initial, EFD_NONBLOCK | EFD_CLOEXEC);
}

void Signal(int fd) {
    uint64_t one = 1;
    // A full counter (never reached in practice) already means "signalled".
    while (write(fd, &one, sizeof one) < 0 && errno == EINTR) {
    }
}

// Returns true when the counter was nonzero (and is now zero).
bool Drain(int fd) {
    uint64_t value;
    ssize_t n;
    while ((n = read(fd, &value, sizeof value)) < 0 && errno == EINTR) {
    }
    return n == static_cast<ssize_t>(sizeof value);
}

long FutexCall(std::atomic<uint32_t>* word, int op, uint32_t value, const timespec* timeout) {
    // The kernel sees the atomic's plain 32-bit representation.
    return syscall(SYS_futex, reinterpret_cast<uint32_t*>(word), op, value, timeout, nullptr, 0);
}

struct ThreadState {
    const DWORD id = nextThreadId.fetch_add(1);
    const int wakeFd = NewEventFd(0);
    const int doneFd;

    std::atomic<bool> terminateClaimed{false};
    std::atomic<bool> terminateRequested{false};
    std::atomic<DWORD> terminateCode{0};
    std::atomic<bool> finished{false};
    std::atomic<DWORD> exitCode{STILL_ACTIVE};
    // The futex word of the critical section the thread is blocked on, so that a
    // termination request can wake it there.
    std::atomic<std::atomic<uint32_t>*> waitingOn{nullptr};

    std::mutex apcMutex;
    std::deque<std::pair<PAPCFUNC, ULONG_PTR>> apcs;

    // Touched only by the thread itself.
    int sectionsHeld = 0;
    bool unwinding = false;

    explicit ThreadState(bool created) : doneFd(created ? NewEventFd(0) : -1) {}
    ~ThreadState() {
        if (wakeFd >= 0) close(wakeFd);
        if (doneFd >= 0) close(doneFd);
    }
    ThreadState(const ThreadState&) = delete;
    ThreadState& operator=(const ThreadState&) = delete;

    void Wake() {
        if (wakeFd >= 0) Signal(wakeFd);
        if (std::atomic<uint32_t>* word = waitingOn.load()) {
            FutexCall(word, FUTEX_WAKE_PRIVATE, INT_MAX, nullptr);
        }
    }
};

thread_local std::shared_ptr<ThreadState> current;

// Threads the platform did not start get their state on first use.
ThreadState& Self() {
    if (!current) current = std::make_shared<ThreadState>(false);
    return *current;
}

// A termination is pending and may happen now: the thread holds no critical section and
// is not already unwinding (for this or any other exception).
bool ShouldEnd(const ThreadState& self) {
    return self.sectionsHeld == 0 && !self.unwinding &&
           self.terminateRequested.load(std::memory_order_acquire) &&
           std::uncaught_exceptions() == 0;
}

void EndIfAsked(ThreadState& self) {
    if (!ShouldEnd(self)) return;
    self.unwinding = true;  // thrown once
    throw ThreadTerminated{};
}

bool RunApcs(ThreadState& self) {
    bool ran = false;
    for (;;) {
        std::pair<PAPCFUNC, ULONG_PTR> apc;
        {
            std::lock_guard<std::mutex> lock(self.apcMutex);
            if (self.apcs.empty()) return ran;
            apc = self.apcs.front();
            self.apcs.pop_front();
        }
        apc.first(apc.second);
        ran = true;
    }
}

int RemainingMs(long long deadline) {
    if (deadline < 0) return -1;
    long long left = deadline - MonotonicMs();
    return static_cast<int>(std::clamp<long long>(left, 0, INT_MAX));
}

// Deadline for a Win32 timeout in milliseconds; -1 for INFINITE.
long long DeadlineFor(DWORD milliseconds) {
    return milliseconds == INFINITE ? -1 : MonotonicMs() + milliseconds;
}

class Waitable : public KernelObject {
  public:
    virtual int WaitFd() const = 0;
    // Called when WaitFd polled readable; false when another waiter took the signal first.
    virtual bool Acquire() { return true; }
};

class ThreadObject : public Waitable {
  public:
    explicit ThreadObject(std::shared_ptr<ThreadState> s) : state(std::move(s)) {}
    int WaitFd() const override { return state->doneFd; }
    // The descriptor says the thread is done; the acquire load of finished also orders
    // everything the thread wrote before it before what the waiter does next.
    bool Acquire() override { return state->finished.load(std::memory_order_acquire); }
    const std::shared_ptr<ThreadState> state;
};

class EventObject : public Waitable {
  public:
    EventObject(int descriptor, bool manual) : fd(descriptor), manualReset(manual) {}
    // The descriptor lives as long as the object, so a wait that still holds the object
    // never polls a closed (or reused) descriptor.
    ~EventObject() override { close(fd); }
    int WaitFd() const override { return fd; }
    // Auto-reset: reading the counter both tests and clears it, so one waiter wins.
    bool Acquire() override { return manualReset || Drain(fd); }
    const int fd;
    const bool manualReset;
};

struct StartInfo {
    std::shared_ptr<ThreadState> state;
    LPTHREAD_START_ROUTINE start;
    LPVOID parameter;
};

void* ThreadMain(void* raw) {
    std::unique_ptr<StartInfo> info(static_cast<StartInfo*>(raw));
    current = info->state;
    ThreadState& self = *current;
    DWORD code;
    try {
        EndIfAsked(self);  // asked to end before it started
        code = info->start(info->parameter);
    } catch (const ThreadTerminated&) {
        code = self.terminateCode.load(std::memory_order_acquire);
    }
    {
        std::lock_guard<std::mutex> lock(self.apcMutex);
        self.apcs.clear();
    }
    self.exitCode.store(code, std::memory_order_relaxed);
    self.finished.store(true, std::memory_order_release);
    Signal(self.doneFd);
    return nullptr;
}

size_t StackSizeFor(SIZE_T requested) {
    // The size is a minimum: a smaller stack than the system default only risks overflow
    // (sanitizer builds need much more than a Windows CE thread did).
    size_t size = 0;
    pthread_attr_t defaults;
    if (pthread_attr_init(&defaults) == 0) {
        pthread_attr_getstacksize(&defaults, &size);
        pthread_attr_destroy(&defaults);
    }
    const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
    size_t wanted = (requested + page - 1) / page * page;
    return std::max(size, wanted);
}

// Waits on one waitable object; the shared core of WaitForSingleObject and TerminateThread.
DWORD WaitOn(Waitable& object, DWORD milliseconds) {
    const long long deadline = DeadlineFor(milliseconds);
    for (;;) {
        pollfd p{object.WaitFd(), POLLIN, 0};
        WaitResult r = WaitFds(&p, 1, RemainingMs(deadline), false);
        if (r == WaitResult::Ready && object.Acquire()) return WAIT_OBJECT_0;
        if (deadline >= 0 && MonotonicMs() >= deadline) return WAIT_TIMEOUT;
    }
}

// Sleeps; true when an APC ended an alertable sleep.
bool SleepFor(DWORD milliseconds, bool alertable) {
    const long long deadline = DeadlineFor(milliseconds);
    for (;;) {
        if (WaitFds(nullptr, 0, RemainingMs(deadline), alertable) == WaitResult::Alerted) {
            return true;
        }
        if (deadline >= 0 && MonotonicMs() >= deadline) return false;
    }
}

// The critical section's layout inside CRITICAL_SECTION::opaque. All zero is a free
// section, so a zero-filled record works even before InitializeCriticalSection.
struct Section {
    std::atomic<uint32_t> word;  // 0 free, 1 taken, 2 taken and perhaps waited for
    std::atomic<DWORD> owner;    // thread id of the owner, 0 when free
    uint32_t depth;              // recursion depth, touched by the owner only
};
static_assert(sizeof(Section) <= sizeof(CRITICAL_SECTION::opaque));
static_assert(std::atomic<uint32_t>::is_always_lock_free);

Section& AsSection(LPCRITICAL_SECTION section) {
    return *std::launder(reinterpret_cast<Section*>(section->opaque));
}

void TakeOwnership(ThreadState& self, Section& s) {
    s.owner.store(self.id, std::memory_order_relaxed);
    s.depth = 1;
    ++self.sectionsHeld;
}

// Blocks until the section is taken. The futex wait has a short limit only to close the
// window in which a termination request's wake-up could arrive just before the wait.
void EnterSlow(ThreadState& self, Section& s) {
    uint32_t c = s.word.exchange(2, std::memory_order_acquire);
    while (c != 0) {
        // Registered before the check: a request is either seen here or wakes the wait.
        self.waitingOn.store(&s.word);
        if (!ShouldEnd(self)) {
            timespec limit{0, 50 * 1000 * 1000};
            FutexCall(&s.word, FUTEX_WAIT_PRIVATE, 2, &limit);
        }
        self.waitingOn.store(nullptr);
        EndIfAsked(self);
        c = s.word.exchange(2, std::memory_order_acquire);
    }
}

}  // namespace

WaitResult WaitFds(pollfd* fds, int count, int timeoutMs, bool alertable) {
    ThreadState& self = Self();
    EndIfAsked(self);
    if (alertable && RunApcs(self)) return WaitResult::Alerted;
    const long long deadline = timeoutMs < 0 ? -1 : MonotonicMs() + timeoutMs;

    pollfd small[8];
    std::vector<pollfd> large;
    pollfd* all = small;
    if (count + 1 > 8) {
        large.resize(static_cast<size_t>(count) + 1);
        all = large.data();
    }
    for (;;) {
        for (int i = 0; i < count; ++i) all[i] = pollfd{fds[i].fd, fds[i].events, 0};
        all[count] = pollfd{self.wakeFd, POLLIN, 0};
        const int wait = RemainingMs(deadline);
        const int n = poll(all, static_cast<nfds_t>(count) + 1, wait);
        if (n < 0) {
            if (errno == EINTR) continue;
            // Not a state any caller can wait out: report every descriptor as failed.
            for (int i = 0; i < count; ++i) fds[i].revents = POLLERR;
            return WaitResult::Ready;
        }
        if (all[count].revents != 0) {
            Drain(self.wakeFd);
            EndIfAsked(self);
            if (alertable && RunApcs(self)) return WaitResult::Alerted;
        }
        bool ready = false;
        for (int i = 0; i < count; ++i) {
            fds[i].revents = all[i].revents;
            ready = ready || all[i].revents != 0;
        }
        if (ready) return WaitResult::Ready;
        if (wait == 0) return WaitResult::Timeout;
    }
}

void TerminationPoint() {
    EndIfAsked(Self());
}

long long MonotonicMs() {
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<long long>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

}  // namespace platform::detail

using platform::detail::EventObject;
using platform::detail::LookupHandleAs;
using platform::detail::ThreadObject;
using platform::detail::ThreadState;

HANDLE CreateThread(LPSECURITY_ATTRIBUTES, SIZE_T stackSize, LPTHREAD_START_ROUTINE start,
                    LPVOID parameter, DWORD flags, LPDWORD threadId) {
    if (start == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    // Nothing in the system starts threads suspended, and there is no ResumeThread.
    if (flags & CREATE_SUSPENDED) {
        SetLastError(ERROR_NOT_SUPPORTED);
        return nullptr;
    }
    auto state = std::make_shared<ThreadState>(true);
    if (state->wakeFd < 0 || state->doneFd < 0) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    auto* info = new platform::detail::StartInfo{state, start, parameter};
    pthread_attr_t attr;
    pthread_attr_init(&attr);
    pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED);
    pthread_attr_setstacksize(&attr, platform::detail::StackSizeFor(stackSize));
    pthread_t thread;
    const int rc = pthread_create(&thread, &attr, platform::detail::ThreadMain, info);
    pthread_attr_destroy(&attr);
    if (rc != 0) {
        delete info;
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    if (threadId) *threadId = state->id;
    return platform::detail::InsertHandle(std::make_shared<ThreadObject>(std::move(state)));
}

BOOL GetExitCodeThread(HANDLE thread, LPDWORD exitCode) {
    auto object = LookupHandleAs<ThreadObject>(thread);
    if (!object) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (exitCode == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const ThreadState& state = *object->state;
    *exitCode = state.finished.load(std::memory_order_acquire)
                    ? state.exitCode.load(std::memory_order_relaxed)
                    : STILL_ACTIVE;
    return TRUE;
}

BOOL TerminateThread(HANDLE thread, DWORD exitCode) {
    auto object = LookupHandleAs<ThreadObject>(thread);
    if (!object) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    ThreadState& target = *object->state;
    if (target.finished.load(std::memory_order_acquire)) return TRUE;
    // The first request decides the exit code.
    if (!target.terminateClaimed.exchange(true)) {
        target.terminateCode.store(exitCode, std::memory_order_relaxed);
        target.terminateRequested.store(true, std::memory_order_release);
    }
    target.Wake();
    if (&target == platform::detail::current.get()) {
        // Ends now, or after the last LeaveCriticalSection when a section is held.
        platform::detail::EndIfAsked(target);
        return TRUE;
    }
    platform::detail::WaitOn(*object, INFINITE);
    return TRUE;
}

DWORD GetThreadId(HANDLE thread) {
    auto object = LookupHandleAs<ThreadObject>(thread);
    if (!object) {
        SetLastError(ERROR_INVALID_HANDLE);
        return 0;
    }
    return object->state->id;
}

DWORD GetCurrentThreadId() {
    return platform::detail::Self().id;
}

DWORD GetCurrentProcessId() {
    return static_cast<DWORD>(getpid());
}

DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds) {
    auto object = LookupHandleAs<platform::detail::Waitable>(handle);
    if (!object) {
        SetLastError(ERROR_INVALID_HANDLE);
        return WAIT_FAILED;
    }
    return platform::detail::WaitOn(*object, milliseconds);
}

VOID Sleep(DWORD milliseconds) {
    platform::detail::SleepFor(milliseconds, false);
    if (milliseconds == 0) sched_yield();
}

DWORD SleepEx(DWORD milliseconds, BOOL alertable) {
    if (platform::detail::SleepFor(milliseconds, alertable != FALSE)) return WAIT_IO_COMPLETION;
    if (milliseconds == 0) sched_yield();
    return 0;
}

DWORD QueueUserAPC(PAPCFUNC function, HANDLE thread, ULONG_PTR data) {
    auto object = LookupHandleAs<ThreadObject>(thread);
    if (!object) {
        SetLastError(ERROR_INVALID_HANDLE);
        return 0;
    }
    if (function == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    ThreadState& target = *object->state;
    {
        std::lock_guard<std::mutex> lock(target.apcMutex);
        if (target.finished.load(std::memory_order_acquire)) {
            SetLastError(ERROR_GEN_FAILURE);
            return 0;
        }
        target.apcs.emplace_back(function, data);
    }
    target.Wake();
    return 1;
}

HANDLE CreateEventW(LPSECURITY_ATTRIBUTES, BOOL manualReset, BOOL initialState, LPCWSTR name) {
    // Named events would be shared between processes; nothing here needs them.
    if (name != nullptr) {
        SetLastError(ERROR_NOT_SUPPORTED);
        return nullptr;
    }
    const int fd = platform::detail::NewEventFd(initialState ? 1 : 0);
    if (fd < 0) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    return platform::detail::InsertHandle(std::make_shared<EventObject>(fd, manualReset != FALSE));
}

BOOL SetEvent(HANDLE event) {
    auto object = LookupHandleAs<EventObject>(event);
    if (!object) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    platform::detail::Signal(object->fd);
    return TRUE;
}

BOOL ResetEvent(HANDLE event) {
    auto object = LookupHandleAs<EventObject>(event);
    if (!object) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    platform::detail::Drain(object->fd);
    return TRUE;
}

VOID InitializeCriticalSection(LPCRITICAL_SECTION section) {
    new (section->opaque) platform::detail::Section{};
}

VOID EnterCriticalSection(LPCRITICAL_SECTION section) {
    using namespace platform::detail;
    ThreadState& self = Self();
    Section& s = AsSection(section);
    if (s.owner.load(std::memory_order_relaxed) == self.id) {
        ++s.depth;
        return;
    }
    EndIfAsked(self);
    uint32_t expected = 0;
    if (!s.word.compare_exchange_strong(expected, 1, std::memory_order_acquire,
                                        std::memory_order_relaxed)) {
        EnterSlow(self, s);
    }
    TakeOwnership(self, s);
}

BOOL TryEnterCriticalSection(LPCRITICAL_SECTION section) {
    using namespace platform::detail;
    ThreadState& self = Self();
    Section& s = AsSection(section);
    if (s.owner.load(std::memory_order_relaxed) == self.id) {
        ++s.depth;
        return TRUE;
    }
    uint32_t expected = 0;
    if (!s.word.compare_exchange_strong(expected, 1, std::memory_order_acquire,
                                        std::memory_order_relaxed)) {
        return FALSE;
    }
    TakeOwnership(self, s);
    return TRUE;
}

VOID LeaveCriticalSection(LPCRITICAL_SECTION section) {
    using namespace platform::detail;
    ThreadState& self = Self();
    Section& s = AsSection(section);
    // Leaving a section the thread does not own is undefined on Windows; ignoring it
    // keeps the owner's lock intact.
    if (s.owner.load(std::memory_order_relaxed) != self.id) return;
    if (--s.depth > 0) return;
    s.owner.store(0, std::memory_order_relaxed);
    if (s.word.exchange(0, std::memory_order_release) == 2) {
        FutexCall(&s.word, FUTEX_WAKE_PRIVATE, 1, nullptr);
    }
    --self.sectionsHeld;
    EndIfAsked(self);  // a deferred termination happens right here
}

// The section owns no memory, so there is nothing to free.
VOID DeleteCriticalSection(LPCRITICAL_SECTION) {}
