// The resource calls over the registered tables alone: here the process is one module, and
// FindResourceW searches every registered table whatever module handle it is given.
#include "platform/ui/resources.h"

#include <map>
#include <memory>
#include <mutex>

#include "internal/resource_tables.h"

namespace {

struct Icon {
    platform::IconInfo info;
};

struct IconRegistry {
    std::mutex mutex;
    std::map<const void*, std::unique_ptr<Icon>> icons;  // by icon group data
};

IconRegistry& Icons() {
    static IconRegistry* registry = new IconRegistry;
    return *registry;
}

}  // namespace

namespace platform {

bool GetIconInfo(HICON icon, IconInfo* info) {
    if (!icon || !info) return false;
    IconRegistry& registry = Icons();
    std::lock_guard<std::mutex> lock(registry.mutex);
    for (auto& [key, value] : registry.icons) {
        if (reinterpret_cast<HICON>(value.get()) == icon) {
            *info = value->info;
            return true;
        }
    }
    return false;
}

}  // namespace platform

HRSRC FindResourceW(HMODULE, LPCWSTR name, LPCWSTR type) {
    if (!name || !type) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    if (const platform::Resource* item = platform::detail::FindTableResource(name, type))
        return reinterpret_cast<HRSRC>(const_cast<platform::Resource*>(item));
    SetLastError(1814L);  // ERROR_RESOURCE_NAME_NOT_FOUND
    return nullptr;
}

HGLOBAL LoadResource(HMODULE, HRSRC resource) {
    if (!resource) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    return const_cast<void*>(reinterpret_cast<const platform::Resource*>(resource)->data);
}

LPVOID LockResource(HGLOBAL data) {
    return data;
}

DWORD SizeofResource(HMODULE, HRSRC resource) {
    return resource ? reinterpret_cast<const platform::Resource*>(resource)->size : 0;
}

HICON LoadIconW(HINSTANCE instance, LPCWSTR name) {
    HRSRC found = FindResourceW(instance, name, RT_GROUP_ICON);
    if (!found) return nullptr;
    auto* item = reinterpret_cast<const platform::Resource*>(found);
    platform::IconInfo info{};
    if (!platform::detail::ParseIconGroup(item->data, item->size, &info)) {
        SetLastError(ERROR_INVALID_DATA);
        return nullptr;
    }
    IconRegistry& registry = Icons();
    std::lock_guard<std::mutex> lock(registry.mutex);
    auto& icon = registry.icons[item->data];
    if (!icon) icon = std::make_unique<Icon>(Icon{info});
    return reinterpret_cast<HICON>(icon.get());
}
