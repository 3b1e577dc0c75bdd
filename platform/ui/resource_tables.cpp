#include "internal/resource_tables.h"

#include <algorithm>
#include <mutex>
#include <vector>

namespace {

struct TableRegistry {
    std::mutex mutex;
    std::vector<const platform::ResourceTable*> tables;  // latest last
};

TableRegistry& Tables() {
    static TableRegistry* registry = new TableRegistry;
    return *registry;
}

WCHAR Upper(WCHAR c) {
    return c >= TEXT('a') && c <= TEXT('z') ? static_cast<WCHAR>(c - 32) : c;
}

// A name given as an ordinal or as "#123" (the ordinal 123, as on Windows).
bool Ordinal(LPCWSTR s, WORD* out) {
    if (IS_INTRESOURCE(s)) {
        *out = static_cast<WORD>(reinterpret_cast<ULONG_PTR>(s));
        return true;
    }
    if (s[0] != TEXT('#') || s[1] == 0) return false;
    unsigned value = 0;
    for (LPCWSTR p = s + 1; *p; ++p) {
        if (*p < TEXT('0') || *p > TEXT('9') || value > 0xFFFF) return false;
        value = value * 10 + static_cast<unsigned>(*p - TEXT('0'));
    }
    *out = static_cast<WORD>(value);
    return value <= 0xFFFF;
}

// Ordinals match ordinals; strings match without regard to case.
bool SameId(LPCWSTR a, LPCWSTR b) {
    WORD oa = 0, ob = 0;
    bool ia = Ordinal(a, &oa), ib = Ordinal(b, &ob);
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

// Calls visit(item) for each item of the registered tables, the latest table first, until
// it returns true; returns that item.
template <class Visit>
const platform::Resource* FirstItem(Visit visit) {
    TableRegistry& registry = Tables();
    std::lock_guard<std::mutex> lock(registry.mutex);
    for (auto table = registry.tables.rbegin(); table != registry.tables.rend(); ++table) {
        for (size_t i = 0; i < (*table)->count; ++i)
            if (visit((*table)->items[i])) return &(*table)->items[i];
    }
    return nullptr;
}

}  // namespace

namespace platform {

void RegisterResources(const ResourceTable& table) {
    TableRegistry& registry = Tables();
    std::lock_guard<std::mutex> lock(registry.mutex);
    registry.tables.push_back(&table);
}

void UnregisterResources(const ResourceTable& table) {
    TableRegistry& registry = Tables();
    std::lock_guard<std::mutex> lock(registry.mutex);
    std::erase(registry.tables, &table);
}

namespace detail {

const Resource* FindTableResource(LPCWSTR name, LPCWSTR type) {
    if (!name || !type) return nullptr;
    return FirstItem(
        [&](const Resource& item) { return SameId(item.type, type) && SameId(item.name, name); });
}

bool IsTableResource(HRSRC resource) {
    const void* wanted = resource;
    return resource && FirstItem([&](const Resource& item) { return &item == wanted; });
}

bool IsTableData(const void* data) {
    return data && FirstItem([&](const Resource& item) { return item.data == data; });
}

// An icon group: a 6-byte header (0, 1, count) and 14 bytes per image.
bool ParseIconGroup(const void* data, DWORD size, IconInfo* info) {
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

}  // namespace detail
}  // namespace platform
