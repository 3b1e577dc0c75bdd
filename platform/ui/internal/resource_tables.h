// Platform-private: the registered resource tables (resource_tables.cpp) and what both
// systems' resource calls read from them (resources.cpp here, windows/resources.cpp there).
#pragma once

#include "platform/ui/resources.h"

namespace platform::detail {

// The resource of that type and name in the registered tables, the latest table first;
// null when none holds it.
const Resource* FindTableResource(LPCWSTR name, LPCWSTR type);
// True when the handle is an item of a registered table (and not the system's).
bool IsTableResource(HRSRC resource);
// True when the data is the data of an item of a registered table.
bool IsTableData(const void* data);
// Reads an icon group directory (RT_GROUP_ICON); false when it is malformed.
bool ParseIconGroup(const void* data, DWORD size, IconInfo* info);

}  // namespace platform::detail
