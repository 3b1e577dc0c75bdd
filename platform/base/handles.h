// Kernel object handles: files, serial devices, threads, events and devices share one
// handle space, as on Windows. Handle values are never reused within a process, so a
// stale handle fails with ERROR_INVALID_HANDLE instead of reaching another object.
#pragma once

#ifdef _WIN32
#include "platform/base/windows/win32.h"
#else

#include "platform/base/types.h"

BOOL CloseHandle(HANDLE handle);

#endif  // _WIN32
