// Trial of a port index as host for the virtual COM port driver: the driver is described to
// the device manager in one driver key, loaded with the index as device index and unloaded.
#pragma once

#include "platform/base/types.h"
#include "platform/io/registry.h"

// The driver key under HKEY_LOCAL_MACHINE, the same for every index (the index travels in
// its Index value). Each key name ends with a backslash, the last one included.
inline constexpr WCHAR VirtualPortKey[] = TEXT("Drivers\\BuiltIn\\WM_COM") TEXT("0") TEXT("\\");

// The driver library, expected beside the running program.
inline constexpr WCHAR VirtualPortDriver[] = TEXT("Morvex.dll");

// Returns PORT_VIRTUAL_FREE when the device manager could load the driver at the index,
// else PORT_UNUSABLE. Leaves no driver loaded; the driver key stays in the registry.
int TryVirtualPort(int index);

// Creates or opens each key of path below root (every name followed by a backslash) and
// writes the driver values Dll, Prefix, Order and Index to the last one. Returns 1 on
// success, 0 when a key cannot be created, a name is empty or too long, or the final
// backslash is missing; keys created before the failure stay.
int RegisterVirtualPort(HKEY root, LPCWSTR path, int index);
