// What a path finally names and who may use it: lets a caller that replaces a file through
// a temporary copy keep the link that led to it and the file's access permissions.
#pragma once

#include <string>

#include "platform/base/types.h"

namespace platform {

// The file that path names in the end, symbolic links followed, as an absolute path in
// Windows form; empty when the path cannot be followed to an existing file.
std::basic_string<WCHAR> FinalPathName(LPCWSTR path);

// Gives the file `to` the access permissions of the file `from`. FALSE when either file
// cannot be reached or the permissions cannot be set.
BOOL CopyFilePermissions(LPCWSTR from, LPCWSTR to);

}  // namespace platform
