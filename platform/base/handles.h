// Kernel object handles: files, serial devices, threads, events and devices share one
// handle space, as on Windows. Handle values are never reused within a process, so a
// stale handle fails with ERROR_INVALID_HANDLE instead of reaching another object.
#pragma once

#include "platform/base/types.h"

BOOL CloseHandle(HANDLE handle);
