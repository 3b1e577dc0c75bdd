// The device manager. At process start it builds the device table as Windows CE does at
// boot: every key under HKEY_LOCAL_MACHINE\Drivers\BuiltIn with Prefix, Index and
// DevicePath (a host tty such as /dev/ttyUSB0) becomes the device "<Prefix><Index>:" and
// is published under Drivers\Active. Host serial devices that no key names are given a
// key of their own with a stable number. The sysfs, /dev and /proc roots are taken from
// BELVANE_SYSFS_ROOT, BELVANE_DEV_ROOT and BELVANE_PROC_ROOT (defaults /sys, /dev, /proc).
#pragma once

#include "platform/base/handles.h"
#include "platform/base/types.h"

namespace platform {
// Builds the device table from the registry and the device trees as they are now and starts
// the monitor that keeps it in step with devices that come and go (stopped at exit). Called
// once at program start (platform::StartPlatform) and by test fixtures; a later call forgets
// the tty devices and builds them again, as a new process would.
void StartDeviceManager();
}  // namespace platform

// Loads the driver library named by the key's Dll value as the device
// "<Prefix><Index>:". Returns 0 when the name is taken, the library cannot be loaded or
// lacks "<Prefix>_Init", or that returns 0.
HANDLE ActivateDevice(LPCWSTR deviceKey, DWORD clientInfo);
// Calls "<Prefix>_Deinit", unloads the library and frees the name.
BOOL DeactivateDevice(HANDLE device);
