// Platform-private: driver libraries run in a helper process of the device manager
// (belvane-devhost), as the drivers of the original device manager run outside the
// program that activates them: a driver that crashes or hangs in Init costs the
// activation, never the caller.
#pragma once

#include <string>

#include "platform/base/types.h"

namespace platform::detail {

// How long a driver may take in Init or Deinit before its helper is ended.
inline constexpr int kDriverWaitMs = 3000;

// The running helper of one loaded driver.
struct DriverHost {
    int pid = -1;
    int socket = -1;
};

// What Init is given and what it answered.
struct DriverCall {
    std::string libraryPath;  // host path of the library
    std::string prefix;       // "COM": the entry points are "<prefix>_Init" and "_Deinit"
    std::u16string activeKey;
    DWORD clientInfo = 0;
    DWORD context = 0;  // Init's answer
};

// Loads the library in a new helper and calls Init there. Only a library that no one but
// root or the runner could have changed is loaded (see OpenTrustedFile). False with the
// last error set when the file is refused (ERROR_ACCESS_DENIED), missing or no library
// (ERROR_MOD_NOT_FOUND), lacks Init (ERROR_PROC_NOT_FOUND), Init returns 0
// (ERROR_GEN_FAILURE), crashes (ERROR_GEN_FAILURE) or does not return in time
// (ERROR_TIMEOUT); the helper is gone then.
bool StartDriver(DriverCall& call, DriverHost& host);

// Has the helper call Deinit and end; ends it by force when it does not in time.
void StopDriver(DriverHost& host);

// Opens a file to be loaded or run as the runner's own code: a regular file, not a link,
// writable by no group or others, owned by root or the runner, in a folder that others
// cannot write (a sticky folder such as /tmp counts as writable by others). Returns a
// descriptor of that very file, or -1 with the last error set and a line in the account of failures
// saying why a file that is there was refused.
int OpenTrustedFile(const std::string& path);

}  // namespace platform::detail
