// Platform-private: why a device could not be opened, in plain words with the remedy where
// there is one, for the account of failures (linux/open_failure.cpp).
#pragma once

#include <string>
#include <string_view>

namespace platform::detail {

// What error (an errno value) means for the device at path: "Permission denied: add your
// user to the group that owns /dev/ttyUSB0 (dialout)", "in use: held by process 1234
// (Belvane)", ...
std::string OpenFailureReason(const std::string& path, int error);

// "process 1234 (Belvane)" for the process that holds path open (its flock in the proc
// root's locks, else a scan of the processes' open files); empty when none is found.
std::string DeviceHolder(const std::string& path);

// Notes "COM3: cannot open /dev/ttyUSB0: <reason>" in the account.
void NoteOpenFailure(std::u16string_view name, const std::string& path, int error);

}  // namespace platform::detail
