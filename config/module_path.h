// Paths of files kept beside a module (by default the running program): Belv.ini, the
// rewrite's temporary file and the virtual port driver all live in the program's directory.
#pragma once

#include "platform/base/types.h"

// Fills buffer with the module's directory, ending with its backslash, and returns a pointer
// to that backslash. A module file name without a backslash stays whole and gives null.
// A null moduleName means the running program. On any failure (no such module, a file name
// that does not fit capacity) the buffer is left empty and the result is null.
LPWSTR ModuleDirectory(LPWSTR buffer, DWORD capacity, LPCWSTR moduleName);

// Fills buffer with the module's directory followed by fileName. When the module's file name
// cannot be had or the whole path does not fit capacity, the buffer is left empty: callers
// see a failure instead of a path cut in the middle, which could name some other file.
void ModuleFilePath(LPWSTR buffer, DWORD capacity, LPCWSTR moduleName, LPCWSTR fileName);
