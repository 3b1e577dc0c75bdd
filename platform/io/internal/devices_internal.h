// Platform-private: what the serial layer and tests need of the device manager.
#pragma once

#include <string>
#include <string_view>

#include "platform/base/types.h"

namespace platform::detail {

enum class DeviceKind { None, Tty, Driver };

// The device of a name such as "COM3:" (any case). For a tty, hostPath is the path to open
// (DevicePath under the configured /dev root).
DeviceKind FindDevice(std::u16string_view name, std::string& hostPath);

}  // namespace platform::detail
