// Platform-private: where the registry lives and hooks for the device layer and tests.
#pragma once

#include <string>

namespace platform::detail {

// The registry file: $BELVANE_REGISTRY, else $XDG_STATE_HOME/belvane/registry.reg, else
// ~/.local/state/belvane/registry.reg. Read anew at every registry call, so a change of
// the variable switches to the other file.
std::string RegistryFilePath();

// Drops every volatile key (HKEY_LOCAL_MACHINE\Drivers\Active and below).
void ClearVolatileKeys();

}  // namespace platform::detail
