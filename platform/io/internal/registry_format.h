// Platform-private: the registry's in-memory model and its text form (the registry export
// format, UTF-8). Kept apart from the Reg* functions so that the parser and the writer can
// be checked on their own.
#pragma once

#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "platform/base/types.h"

namespace platform::detail {

struct RegValue {
    std::u16string name;  // empty: the default value, written as @
    DWORD type = 0;
    std::vector<BYTE> data;
};

struct RegKey {
    std::u16string path;  // full path with the root's long name, case as created
    std::vector<RegValue> values;
};

// Keys by folded full path ("hkey_local_machine\drivers\builtin"), so that a parent
// sorts directly before its sub-keys.
using RegKeyMap = std::map<std::u16string, RegKey>;

// Key and value names compare case-insensitively: ASCII and Latin-1 letters fold to
// lower case, everything else compares as it is.
std::u16string FoldName(std::u16string_view name);

struct RegParseResult {
    RegKeyMap keys;
    std::vector<std::string> problems;  // "line 7: ..." for each part that was skipped
};

// Parses the text. What cannot be understood is skipped and named in problems; the rest
// is kept. Parents of every key are created, and the four root keys always exist.
RegParseResult ParseRegText(std::string_view text);

// The text of keys (every key given is written; the caller leaves out volatile ones).
std::string FormatRegText(const RegKeyMap& keys);

// Creates the key at path (full path, root's long name) and its parents where missing.
RegKey& EnsureKey(RegKeyMap& keys, const std::u16string& path);

// Adds the root keys HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER, HKEY_CLASSES_ROOT, HKEY_USERS.
void AddRootKeys(RegKeyMap& keys);

// UTF-16 text as REG_SZ data (with its terminating zero) and back (up to the first zero).
std::vector<BYTE> StringData(std::u16string_view text);
std::u16string DataString(const std::vector<BYTE>& data);

}  // namespace platform::detail
