// Platform-private: CreateFileW hands device names ("COM3:") to the device layer.
#pragma once

#include "platform/types.h"

namespace platform::detail {

// True for names of the form <letters><digits>":" (any case), which name devices.
bool IsDeviceName(LPCWSTR name);

// Opens the device that the device manager maps to name. Returns INVALID_HANDLE_VALUE and
// sets the last error when there is none or it cannot be opened.
HANDLE OpenDevice(LPCWSTR name, DWORD access, DWORD shareMode, DWORD disposition);

}  // namespace platform::detail
