// Platform-private: what the serial layer and tests need of the device manager.
#pragma once

#include <string>
#include <string_view>

#include "platform/types.h"

namespace platform::detail {

enum class DeviceKind { None, Tty, Driver };

// The device of a name such as "COM3:" (any case). For a tty, hostPath is the path to open
// (DevicePath under the configured /dev root).
DeviceKind FindDevice(std::u16string_view name, std::string& hostPath);

// Forgets the device table and the Drivers\Active keys and builds them again from the
// registry and the device trees as they are now, as a new process would.
void RebuildDeviceTable();

}  // namespace platform::detail
