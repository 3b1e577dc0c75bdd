// Platform-private (base layer): the platform clock behind GetTickCount and the timers,
// which tests can replace with a manual one.
#pragma once

namespace platform::detail {

unsigned long long ClockNowMs();  // also declared in detail/windows.h for upper layers
bool ClockIsManual();
// Switching to the manual clock starts it at the real clock's time.
void SetClockManual(bool manual);
void MoveManualClock(unsigned long long milliseconds);

}  // namespace platform::detail
