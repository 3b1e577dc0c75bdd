// Timers and the clock that tests move. A timer lives in the queue of its window's owner
// thread (or of the calling thread for a thread timer) and fires from that thread's
// message loop.
#include <algorithm>
#include <atomic>

#include "internal/clock.h"
#include "internal/queues.h"
#include "platform/base/detail/windows.h"

namespace platform::detail {
namespace {

std::atomic<unsigned long long> g_timerOrder{0};
std::atomic<UINT_PTR> g_nextThreadTimerId{0x7000};

// The queue a timer of window belongs to; null for a window of another process or none.
std::shared_ptr<MessageQueue> TimerQueue(HWND window) {
    if (!window) return ThisQueue();
    auto record = FindWindowRecord(window);
    if (!record || record->remote) return nullptr;
    return record->owner;
}

}  // namespace
}  // namespace platform::detail

using namespace platform::detail;

UINT_PTR SetTimer(HWND window, UINT_PTR id, UINT elapse, TIMERPROC function) {
    auto queue = TimerQueue(window);
    if (!queue) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return 0;
    }
    unsigned long long order = g_timerOrder.fetch_add(1);
    elapse = std::max<UINT>(elapse, 10);  // as on Windows, so a zero period cannot spin
    if (!window) id = ++g_nextThreadTimerId;
    AddTimer(*queue, Timer{window, id, elapse, function, ClockNowMs() + elapse, order});
    return window ? (id ? id : 1) : id;
}

BOOL KillTimer(HWND window, UINT_PTR id) {
    auto queue = TimerQueue(window);
    if (!queue) return FALSE;
    return RemoveTimer(*queue, window, id) ? TRUE : FALSE;
}

namespace platform {

void UseManualClock() {
    SetClockManual(true);
}

void UseRealClock() {
    SetClockManual(false);
    AdvanceClock(0);
}

void AdvanceClock(DWORD milliseconds) {
    MoveManualClock(milliseconds);
    WakeAllQueues();
}

}  // namespace platform
