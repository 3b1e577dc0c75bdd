// Stand-in for the thread layer's wait until it is linked in: weak definitions that the
// real ones replace. Waits here are not termination points.
#include <poll.h>

#include <algorithm>
#include <cerrno>
#include <chrono>

#include "platform/internal/wait.h"

namespace platform::detail {

__attribute__((weak)) long long MonotonicMs() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

__attribute__((weak)) WaitResult WaitFds(pollfd* fds, int count, int timeoutMs, bool) {
    long long deadline = timeoutMs < 0 ? -1 : MonotonicMs() + timeoutMs;
    for (;;) {
        int left = deadline < 0 ? -1 : static_cast<int>(std::max(0LL, deadline - MonotonicMs()));
        int n = poll(fds, static_cast<nfds_t>(count), left);
        if (n > 0) return WaitResult::Ready;
        if (n == 0) return WaitResult::Timeout;
        if (errno != EINTR) return WaitResult::Timeout;
    }
}

__attribute__((weak)) void TerminationPoint() {}

}  // namespace platform::detail
