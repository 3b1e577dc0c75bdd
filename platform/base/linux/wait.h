// Platform-private: the one way platform code blocks a thread.
//
// Every blocking call of the platform waits through WaitFds, on file descriptors plus the
// calling thread's own wake descriptor. QueueUserAPC and TerminateThread write to the
// target thread's wake descriptor, so any such wait wakes at once; a wait is therefore
// also the place where queued APCs run and where a termination request unwinds the thread.
#pragma once

#include <poll.h>

namespace platform::detail {

// Thrown through a thread that TerminateThread ends; caught only by the thread's start
// routine wrapper. Platform code never catches it.
struct ThreadTerminated {};

enum class WaitResult { Ready, Timeout, Alerted };

// Polls fds (may be null when count is 0) for up to timeoutMs (-1: no limit).
// Ready: at least one of fds has revents set. Alerted: an APC ran (only when alertable).
// Throws ThreadTerminated when the thread is asked to end and holds no critical section.
// EINTR is retried with the remaining time.
WaitResult WaitFds(pollfd* fds, int count, int timeoutMs, bool alertable);

// A termination point without waiting.
void TerminationPoint();

// Milliseconds of a monotonic clock that tests cannot move (for the platform's own waits).
long long MonotonicMs();

}  // namespace platform::detail
