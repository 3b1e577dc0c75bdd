// Platform-private (base layer): the per-thread message queues under the window functions.
// A queue knows nothing of windows: the window table finds a window's queue (its owner's)
// and hands it messages, functions to run and timers.
#pragma once

#include <functional>
#include <memory>

#include "platform/base/messages.h"

namespace platform::detail {

struct MessageQueue;  // linux/queues.cpp

// Private message, handled by DispatchMessageW before any window procedure sees it: runs
// the foreground hook for the window.
constexpr UINT kForegroundMessage = 0x03F7;

struct Timer {
    HWND hwnd;
    UINT_PTR id;
    DWORD elapse;
    TIMERPROC proc;
    unsigned long long due;
    unsigned long long order;  // ties fire in the order the timers were set
};

// The calling thread's queue, made on first use; it ends with the thread.
std::shared_ptr<MessageQueue> ThisQueue();
// Null when the calling thread has no queue yet.
MessageQueue* ThisQueueIfAny();

// False when the queue's thread has ended.
bool PostToQueue(MessageQueue& queue, const MSG& message);
// Runs fn on the queue's thread and returns its result, handling messages sent to the
// calling thread meanwhile; 0 without running fn when that thread has ended.
LRESULT SendToQueue(const std::shared_ptr<MessageQueue>& queue, const std::function<LRESULT()>& fn);

// Replaces a timer of the same window and id.
void AddTimer(MessageQueue& queue, const Timer& timer);
bool RemoveTimer(MessageQueue& queue, HWND window, UINT_PTR id);
void RemoveTimersOf(MessageQueue& queue, HWND window);

// Wakes every thread's message loop (after the manual clock moved).
void WakeAllQueues();

}  // namespace platform::detail
