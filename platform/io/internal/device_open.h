// Platform-private: how CreateFileW reaches a device. The file layer hands names such as
// "COM3:" to the device manager, which opens the tty through the serial layer.
#pragma once

#include <string>
#include <string_view>

#include "platform/base/types.h"

namespace platform::detail {

// True for names of the form <letters><digits>":" (any case), which name devices.
bool IsDeviceName(LPCWSTR name);

// Opens the device that the device manager maps to name. Returns INVALID_HANDLE_VALUE and
// sets the last error when there is none or it cannot be opened.
HANDLE OpenDevice(LPCWSTR name, DWORD access, DWORD shareMode, DWORD disposition);

// Opens a host tty as a serial port handle; a failure is noted in the account under name.
HANDLE OpenTty(const std::string& hostPath, std::basic_string_view<WCHAR> name);

}  // namespace platform::detail
