// Platform-private: the device table, in which every device name ("COM3:") has one owner,
// and its publication under HKEY_LOCAL_MACHINE\Drivers\Active.
#pragma once

#include <string>
#include <vector>

#include "internal/devices_internal.h"

namespace platform::detail {

inline constexpr const char16_t* kBuiltIn = u"Drivers\\BuiltIn";
inline constexpr const char16_t* kActive = u"Drivers\\Active";

struct Device {
    std::u16string name;  // "COM3:"
    DeviceKind kind = DeviceKind::None;
    std::string devicePath;
    std::u16string activeKey;  // "Drivers\Active\07"
};

// Claims the name (any case) for a device; false when it is taken.
bool ClaimDevice(const Device& device);
// Frees the name.
void ReleaseDevice(const std::u16string& name);
// Records where the device of name is published.
void SetActiveKey(const std::u16string& name, const std::u16string& activeKey);
// Drops every tty device and returns their Drivers\Active keys; loaded drivers stay.
std::vector<std::u16string> ForgetTtyDevices();
// The tty devices now in the table.
std::vector<Device> TtyDevices();

// Looks at the devices again when the last look is at least a second old, so that a device
// that arrived where no notification tells of it is found by the next open of its name, and
// waits for a look under way to end; true once the device manager has started, when the
// device table is worth asking again. Defined by the device manager.
bool LookAgainForDevices();

// Publishes a device under Drivers\Active with its Name and the Key it was made from;
// returns the key path ("" on failure). Numbers are never reused in a process.
std::u16string Publish(const std::u16string& name, const std::u16string& deviceKey);
// Removes what Publish wrote; nothing for "".
void Unpublish(const std::u16string& activeKey);

// The name in upper case (ASCII letters), as device names compare.
std::u16string UpperName(std::u16string name);

}  // namespace platform::detail
