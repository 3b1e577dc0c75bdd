// Platform-private: how the device manager learns that devices came or went. A thread
// blocked on the kernel's notifications for the /dev root and <dev>/serial/by-id calls back
// once a burst of changes has settled; it costs nothing while nothing changes.
#pragma once

#include <functional>
#include <memory>
#include <string>

namespace platform::detail {

class DeviceMonitor {
  public:
    // Watches devRoot; onChange runs on the monitor's thread. A machine without the
    // notifications gives a monitor that never calls back (Watching() is false).
    DeviceMonitor(const std::string& devRoot, std::function<void()> onChange);
    ~DeviceMonitor();  // stops and joins the thread
    DeviceMonitor(const DeviceMonitor&) = delete;
    DeviceMonitor& operator=(const DeviceMonitor&) = delete;

    bool Watching() const;

  private:
    struct State;
    std::unique_ptr<State> state_;
};

}  // namespace platform::detail
