// Platform-private: on Windows, as on Linux, a driver library runs in a helper process of
// the device manager (belvane-devhost.exe), so that a driver that crashes or hangs in Init
// costs the activation, never the caller.
#pragma once

#include <string>

#include "platform/base/windows/win32.h"

namespace platform::detail {

// How long a driver may take in Init or Deinit before its helper is ended.
inline constexpr DWORD kDriverWaitMs = 3000;

// The running helper of one loaded driver: its process and the pipes to and from it.
struct DriverHost {
    HANDLE process = nullptr;
    HANDLE toHelper = nullptr;
    HANDLE fromHelper = nullptr;
};

// What Init is given and what it answered.
struct DriverCall {
    std::basic_string<WCHAR> libraryPath;
    std::basic_string<WCHAR> prefix;  // "COM": the entry points are "<prefix>_Init", "_Deinit"
    std::basic_string<WCHAR> activeKey;
    DWORD clientInfo = 0;
    DWORD context = 0;  // Init's answer
};

// Loads the library in a new helper and calls Init there; the library file is held open,
// so that nobody replaces it, until Init has answered. False with the last error set when
// the file is refused (ERROR_ACCESS_DENIED: a link or other reparse point, not a regular
// file), missing or no library (ERROR_MOD_NOT_FOUND), lacks Init (ERROR_PROC_NOT_FOUND),
// Init returns 0 (ERROR_GEN_FAILURE), crashes (ERROR_GEN_FAILURE) or does not return in
// time (ERROR_TIMEOUT); the helper is gone then.
bool StartDriver(DriverCall& call, DriverHost& host);

// Has the helper call Deinit and end; ends it by force when it does not in time.
void StopDriver(DriverHost& host);

// Opens a file to be loaded or run as the program's own code: a regular file on a disk, not
// a link or other reparse point, shared for reading only while the handle is open. Returns
// the handle, or INVALID_HANDLE_VALUE with the last error set and a line in the account of
// failures saying why a file that is there was refused.
HANDLE OpenTrustedFile(const std::basic_string<WCHAR>& path);

}  // namespace platform::detail
