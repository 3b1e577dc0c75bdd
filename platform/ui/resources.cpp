#include "platform/ui/resources.h"

#include <algorithm>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

namespace {

struct Icon {
    platform::IconInfo info;
};

struct ResourceRegistry {
    std::mutex mutex;
    std::vector<const platform::ResourceTable*> tables;  // latest last
    std::map<const void*, std::unique_ptr<Icon>> icons;  // by icon group data
};

ResourceRegistry& Resources() {
    static ResourceRegistry* registry = new ResourceRegistry;
    return *registry;
}

char16_t Upper(char16_t c) {
    return c >= u'a' && c <= u'z' ? static_cast<char16_t>(c - 32) : c;
}

// Ordinals match ordinals; strings match without regard to case, and "#123" names the
// ordinal 123, as on Windows.
bool SameId(LPCWSTR a, LPCWSTR b) {
    auto ordinal = [](LPCWSTR s, WORD* out) {
        if (IS_INTRESOURCE(s)) {
            *out = static_cast<WORD>(reinterpret_cast<ULONG_PTR>(s));
            return true;
        }
        if (s[0] != u'#' || s[1] == 0) return false;
        unsigned value = 0;
        for (LPCWSTR p = s + 1; *p; ++p) {
            if (*p < u'0' || *p > u'9' || value > 0xFFFF) return false;
            value = value * 10 + static_cast<unsigned>(*p - u'0');
        }
        *out = static_cast<WORD>(value);
        return value <= 0xFFFF;
    };
    WORD oa = 0, ob = 0;
    bool ia = ordinal(a, &oa), ib = ordinal(b, &ob);
    if (ia || ib) return ia && ib && oa == ob;
    for (; *a && *b; ++a, ++b)
        if (Upper(*a) != Upper(*b)) return false;
    return *a == *b;
}

template <class T>
T ReadLe(const BYTE* p) {
    T value = 0;
    for (size_t i = 0; i < sizeof(T); ++i) value |= static_cast<T>(T{p[i]} << (8 * i));
    return value;
}

// An icon group: a 6-byte header (0, 1, count) and 14 bytes per image.
bool ParseIconGroup(const void* data, DWORD size, platform::IconInfo* info) {
    const BYTE* bytes = static_cast<const BYTE*>(data);
    if (!data || size < 6) return false;
    if (ReadLe<WORD>(bytes) != 0 || ReadLe<WORD>(bytes + 2) != 1) return false;
    WORD count = ReadLe<WORD>(bytes + 4);
    if (count == 0 || size < 6u + 14u * count) return false;
    info->imageCount = count;
    info->largestSize = 0;
    for (WORD i = 0; i < count; ++i) {
        int width = bytes[6 + 14 * i];
        info->largestSize = std::max(info->largestSize, width == 0 ? 256 : width);
    }
    return true;
}

}  // namespace

namespace platform {

void RegisterResources(const ResourceTable& table) {
    ResourceRegistry& registry = Resources();
    std::lock_guard<std::mutex> lock(registry.mutex);
    registry.tables.push_back(&table);
}

void UnregisterResources(const ResourceTable& table) {
    ResourceRegistry& registry = Resources();
    std::lock_guard<std::mutex> lock(registry.mutex);
    std::erase(registry.tables, &table);
}

bool GetIconInfo(HICON icon, IconInfo* info) {
    if (!icon || !info) return false;
    ResourceRegistry& registry = Resources();
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
    ResourceRegistry& registry = Resources();
    std::lock_guard<std::mutex> lock(registry.mutex);
    for (auto table = registry.tables.rbegin(); table != registry.tables.rend(); ++table) {
        for (size_t i = 0; i < (*table)->count; ++i) {
            const platform::Resource& item = (*table)->items[i];
            if (SameId(item.type, type) && SameId(item.name, name))
                return reinterpret_cast<HRSRC>(const_cast<platform::Resource*>(&item));
        }
    }
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
    if (!ParseIconGroup(item->data, item->size, &info)) {
        SetLastError(ERROR_INVALID_DATA);
        return nullptr;
    }
    ResourceRegistry& registry = Resources();
    std::lock_guard<std::mutex> lock(registry.mutex);
    auto& icon = registry.icons[item->data];
    if (!icon) icon = std::make_unique<Icon>(Icon{info});
    return reinterpret_cast<HICON>(icon.get());
}
