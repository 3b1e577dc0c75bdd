// Platform-private: reading and writing single values through the Reg* functions, as the
// device manager and the driver loader do. Paths are relative to HKEY_LOCAL_MACHINE where
// a root is not given.
#pragma once

#include <string>
#include <vector>

#include "platform/io/registry.h"

namespace platform::detail {

// The text of a REG_SZ or REG_EXPAND_SZ value, "" when there is none; *found tells which.
std::u16string QueryString(HKEY key, const char16_t* name, bool* found = nullptr);
// True when the value is a REG_DWORD; it is stored in value then.
bool QueryDword(HKEY key, const char16_t* name, DWORD& value);
void SetString(HKEY key, const char16_t* name, const std::u16string& text);
void SetDword(HKEY key, const char16_t* name, DWORD value);

// The names of the sub-keys of root\path, in the registry's order; none without the key.
std::vector<std::u16string> SubKeyNames(HKEY root, const char16_t* path);

// Opens (create false) or creates HKEY_LOCAL_MACHINE\path; nullptr when that fails.
HKEY OpenMachineKey(const std::u16string& path, bool create);

}  // namespace platform::detail
