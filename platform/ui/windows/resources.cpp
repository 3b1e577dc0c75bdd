// The resource calls on Windows: the registered tables first, then the system's, which
// reads the program file. An icon group from a table becomes a real icon, made from the
// image that suits the system's icon size best.
#include "platform/ui/resources.h"

#include <map>
#include <mutex>

#include "internal/resource_tables.h"

// Below, the names are the system's own calls again.
#undef FindResourceW
#undef LoadResource
#undef LockResource
#undef SizeofResource
#undef LoadIconW

namespace {

struct IconRegistry {
    std::mutex mutex;
    std::map<const void*, HICON> byGroup;  // made once per icon group, never destroyed
    std::map<HICON, platform::IconInfo> info;
};

IconRegistry& Icons() {
    static IconRegistry* registry = new IconRegistry;
    return *registry;
}

HICON MakeIcon(const platform::Resource& group) {
    auto* directory = static_cast<BYTE*>(const_cast<void*>(group.data));
    int id = LookupIconIdFromDirectoryEx(directory, TRUE, 0, 0, LR_DEFAULTCOLOR);
    const platform::Resource* image =
        id > 0 ? platform::detail::FindTableResource(MAKEINTRESOURCEW(id), RT_ICON) : nullptr;
    if (!image) return nullptr;
    return CreateIconFromResourceEx(static_cast<BYTE*>(const_cast<void*>(image->data)), image->size,
                                    TRUE, 0x00030000, 0, 0, LR_DEFAULTCOLOR);
}

}  // namespace

namespace platform {

bool GetIconInfo(HICON icon, IconInfo* info) {
    if (!icon || !info) return false;
    IconRegistry& registry = Icons();
    std::lock_guard<std::mutex> lock(registry.mutex);
    auto found = registry.info.find(icon);
    if (found == registry.info.end()) return false;
    *info = found->second;
    return true;
}

}  // namespace platform

HRSRC ProgramFindResourceW(HMODULE module, LPCWSTR name, LPCWSTR type) {
    if (const platform::Resource* item = platform::detail::FindTableResource(name, type))
        return reinterpret_cast<HRSRC>(const_cast<platform::Resource*>(item));
    return FindResourceW(module, name, type);
}

HGLOBAL ProgramLoadResource(HMODULE module, HRSRC resource) {
    if (platform::detail::IsTableResource(resource))
        return const_cast<void*>(reinterpret_cast<const platform::Resource*>(resource)->data);
    return LoadResource(module, resource);
}

LPVOID ProgramLockResource(HGLOBAL data) {
    return platform::detail::IsTableData(data) ? data : LockResource(data);
}

DWORD ProgramSizeofResource(HMODULE module, HRSRC resource) {
    if (platform::detail::IsTableResource(resource))
        return reinterpret_cast<const platform::Resource*>(resource)->size;
    return SizeofResource(module, resource);
}

HICON ProgramLoadIconW(HINSTANCE instance, LPCWSTR name) {
    const platform::Resource* group = platform::detail::FindTableResource(name, RT_GROUP_ICON);
    if (!group) return LoadIconW(instance, name);
    platform::IconInfo info{};
    if (!platform::detail::ParseIconGroup(group->data, group->size, &info)) {
        SetLastError(ERROR_INVALID_DATA);
        return nullptr;
    }
    IconRegistry& registry = Icons();
    std::lock_guard<std::mutex> lock(registry.mutex);
    HICON& icon = registry.byGroup[group->data];
    if (!icon && (icon = MakeIcon(*group))) registry.info[icon] = info;
    return icon;
}
