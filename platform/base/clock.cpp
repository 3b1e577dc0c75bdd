// The platform clock: the steady clock, or a manual one that only tests move.
#include "internal/clock.h"

#include <atomic>
#include <chrono>

#include "platform/base/messages.h"

namespace platform::detail {
namespace {

std::atomic<bool> g_manualClock{false};
std::atomic<unsigned long long> g_manualNow{0};

unsigned long long RealNowMs() {
    using namespace std::chrono;
    return static_cast<unsigned long long>(
        duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

}  // namespace

unsigned long long ClockNowMs() {
    return g_manualClock.load() ? g_manualNow.load() : RealNowMs();
}

bool ClockIsManual() {
    return g_manualClock.load();
}

void SetClockManual(bool manual) {
    if (manual && !g_manualClock.load()) g_manualNow.store(RealNowMs());
    g_manualClock.store(manual);
}

void MoveManualClock(unsigned long long milliseconds) {
    g_manualNow.fetch_add(milliseconds);
}

}  // namespace platform::detail

DWORD GetTickCount() {
    return static_cast<DWORD>(platform::detail::ClockNowMs());
}
