// Platform-private: the host's serial devices as the device manager finds them in the
// sysfs, /dev and /proc trees (BELVANE_SYSFS_ROOT, BELVANE_DEV_ROOT, BELVANE_PROC_ROOT).
#pragma once

#include <string>
#include <vector>

namespace platform::detail {

struct HostTty {
    std::string tty;   // "ttyUSB0"
    std::string byId;  // name under /dev/serial/by-id, or empty
    std::string friendly;
    bool bluetooth = false;
    bool usb = false;
    // A USB device without its by-id link where udev makes them: the link may be on its way.
    bool awaitingById = false;
    // The path a registry key names it by: the by-id name where there is one.
    std::string DevicePath() const {
        return byId.empty() ? "/dev/" + tty : "/dev/serial/by-id/" + byId;
    }
};

// The roots of the trees (no trailing slash).
std::string SysRoot();
std::string DevRoot();
std::string ProcRoot();

// The ttys of the host that may serve as serial ports, ordered by DevicePath. Consoles,
// virtual terminals and UARTs without hardware are left out; without the list of consoles
// nothing is found.
std::vector<HostTty> DiscoverHostTtys();

// The path to open for a DevicePath (which names the host's /dev): the same path under
// another /dev root when it is there, else the path as it is.
std::string HostDevicePath(const std::string& devicePath);

// True when the device a DevicePath names is there now.
bool DevicePresent(const std::string& devicePath);

}  // namespace platform::detail
