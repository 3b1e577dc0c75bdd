// The Reg* functions on the process's registry state (internal/registry_store.h). Every
// call locks the store, brings it up to date with the file and resolves the key handle in
// one place (WithKey); changes go through Mutate, which writes them to the file. Setting a
// value to what it already is changes nothing and writes nothing.
#include "platform/io/registry.h"

#include <cstring>
#include <vector>

#include "internal/registry_format.h"
#include "internal/registry_store.h"
#include "platform/base/strings.h"

namespace platform::detail {
namespace {

constexpr size_t kMaxKeyNameChars = 255;
constexpr size_t kMaxValueNameChars = 16383;

std::u16string ToU16(LPCWSTR s) {
    return s ? std::u16string(s) : std::u16string();
}

// The folded path and access of an open key or a root.
LONG Resolve(Store& s, HKEY key, std::u16string& folded, REGSAM& access) {
    uintptr_t value = reinterpret_cast<uintptr_t>(key);
    static const std::pair<HKEY, const char16_t*> roots[] = {
        {HKEY_LOCAL_MACHINE, u"hkey_local_machine"},
        {HKEY_CURRENT_USER, u"hkey_current_user"},
        {HKEY_CLASSES_ROOT, u"hkey_classes_root"},
        {HKEY_USERS, u"hkey_users"}};
    for (const auto& [root, name] : roots) {
        if (root == key) {
            folded = name;
            access = KEY_ALL_ACCESS;
            return ERROR_SUCCESS;
        }
    }
    auto it = s.handles.find(value);
    if (it == s.handles.end()) return ERROR_INVALID_HANDLE;
    folded = it->second.folded;
    access = it->second.access;
    if (!s.keys.count(folded)) return ERROR_KEY_DELETED;
    return ERROR_SUCCESS;
}

// Runs body(store, folded path, access) on the key with the store locked and up to date.
// needed: access rights of which the key must have one (0 for none).
template <class Body>
LONG WithKey(HKEY key, REGSAM needed, Body body) {
    Store& s = TheStore();
    std::lock_guard<std::mutex> lock(s.mutex);
    Refresh(s);
    std::u16string folded;
    REGSAM access = 0;
    LONG status = Resolve(s, key, folded, access);
    if (status != ERROR_SUCCESS) return status;
    if (needed && !(access & needed)) return ERROR_ACCESS_DENIED;
    return body(s, folded, access);
}

// A name that survives the text file: no control characters, nothing lost in UTF-8.
bool StorableName(const std::u16string& name) {
    for (char16_t c : name)
        if (c < 0x20) return false;
    return FromUtf8(ToUtf8(name)) == name;
}

// Splits a relative key path into its names; one trailing backslash is allowed.
LONG SplitSubKey(LPCWSTR subKey, std::vector<std::u16string>& parts) {
    std::u16string rest = ToU16(subKey);
    if (!rest.empty() && rest.back() == u'\\') rest.pop_back();
    if (rest.empty()) return ERROR_SUCCESS;
    size_t pos = 0;
    for (;;) {
        size_t next = rest.find(u'\\', pos);
        std::u16string part = rest.substr(pos, next == std::u16string::npos ? next : next - pos);
        if (part.empty() || part.size() > kMaxKeyNameChars || !StorableName(part))
            return ERROR_INVALID_PARAMETER;
        parts.push_back(part);
        if (next == std::u16string::npos) return ERROR_SUCCESS;
        pos = next + 1;
    }
}

std::u16string Below(std::u16string folded, const std::vector<std::u16string>& parts) {
    for (const std::u16string& p : parts) folded += u'\\' + FoldName(p);
    return folded;
}

HKEY NewHandle(Store& s, const std::u16string& folded, REGSAM access) {
    uintptr_t value = s.nextHandle;
    s.nextHandle += 4;  // never reused, so a stale key handle cannot name another key
    s.handles.emplace(value, OpenKey{folded, access});
    return reinterpret_cast<HKEY>(value);
}

RegValue* FindValue(RegKey& key, LPCWSTR name) {
    std::u16string folded = FoldName(ToU16(name));
    for (RegValue& v : key.values)
        if (FoldName(v.name) == folded) return &v;
    return nullptr;
}

// Direct sub-keys of folded, in name order.
std::vector<const RegKey*> SubKeys(const RegKeyMap& keys, const std::u16string& folded) {
    std::vector<const RegKey*> out;
    std::u16string prefix = folded + u'\\';
    for (auto it = keys.lower_bound(prefix);
         it != keys.end() && it->first.compare(0, prefix.size(), prefix) == 0; ++it) {
        if (it->first.find(u'\\', prefix.size()) == std::u16string::npos)
            out.push_back(&it->second);
    }
    return out;
}

std::u16string LastName(const std::u16string& path) {
    size_t slash = path.rfind(u'\\');
    return slash == std::u16string::npos ? path : path.substr(slash + 1);
}

// Copies a name into a caller's buffer of *length characters (terminator included);
// *length becomes the characters written without the terminator.
LONG CopyName(const std::u16string& name, LPWSTR buffer, LPDWORD length) {
    if (!buffer || !length) return ERROR_INVALID_PARAMETER;
    if (name.size() >= *length) return ERROR_MORE_DATA;
    name.copy(buffer, name.size());
    buffer[name.size()] = u'\0';
    *length = static_cast<DWORD>(name.size());
    return ERROR_SUCCESS;
}

// Reports type and size and copies the data when it fits; never writes past *size bytes.
LONG CopyData(const RegValue& v, LPDWORD type, LPBYTE data, LPDWORD size) {
    if (type) *type = v.type;
    DWORD needed = static_cast<DWORD>(v.data.size());
    if (!data) {
        if (size) *size = needed;
        return ERROR_SUCCESS;
    }
    if (!size) return ERROR_INVALID_PARAMETER;
    if (*size < needed) {
        *size = needed;
        return ERROR_MORE_DATA;
    }
    if (needed) std::memcpy(data, v.data.data(), needed);
    *size = needed;
    return ERROR_SUCCESS;
}

// Creates the keys of parts below base, keeping the case of those that exist.
LONG CreatePath(RegKeyMap& keys, const std::u16string& base,
                const std::vector<std::u16string>& parts) {
    auto baseKey = keys.find(base);
    if (baseKey == keys.end()) return ERROR_KEY_DELETED;  // by another process
    std::u16string folded = base;
    std::u16string shown = baseKey->second.path;
    for (const std::u16string& p : parts) {
        folded += u'\\' + FoldName(p);
        auto it = keys.find(folded);
        shown = it != keys.end() ? it->second.path : shown + u'\\' + p;
        if (it == keys.end()) keys.emplace(folded, RegKey{shown, {}});
    }
    return ERROR_SUCCESS;
}

}  // namespace
}  // namespace platform::detail

using namespace platform::detail;

LONG RegCreateKeyExW(HKEY key, LPCWSTR subKey, DWORD, LPWSTR, DWORD, REGSAM access,
                     LPSECURITY_ATTRIBUTES, PHKEY result, LPDWORD disposition) {
    if (!result) return ERROR_INVALID_PARAMETER;
    std::vector<std::u16string> parts;
    LONG status = SplitSubKey(subKey, parts);
    if (status != ERROR_SUCCESS) return status;
    return WithKey(key, 0, [&](Store& s, const std::u16string& base, REGSAM baseAccess) -> LONG {
        std::u16string target = Below(base, parts);
        bool existed = s.keys.count(target) != 0;
        if (!existed) {
            if (!(baseAccess & KEY_CREATE_SUB_KEY)) return ERROR_ACCESS_DENIED;
            LONG made =
                Mutate(s, target, [&](RegKeyMap& keys) { return CreatePath(keys, base, parts); });
            if (made != ERROR_SUCCESS) return made;
        }
        if (disposition) *disposition = existed ? REG_OPENED_EXISTING_KEY : REG_CREATED_NEW_KEY;
        *result = NewHandle(s, target, access);
        return ERROR_SUCCESS;
    });
}

LONG RegOpenKeyExW(HKEY key, LPCWSTR subKey, DWORD, REGSAM access, PHKEY result) {
    if (!result) return ERROR_INVALID_PARAMETER;
    std::vector<std::u16string> parts;
    LONG status = SplitSubKey(subKey, parts);
    if (status != ERROR_SUCCESS) return status;
    return WithKey(key, 0, [&](Store& s, const std::u16string& base, REGSAM) -> LONG {
        std::u16string target = Below(base, parts);
        if (!s.keys.count(target)) return ERROR_FILE_NOT_FOUND;
        *result = NewHandle(s, target, access);
        return ERROR_SUCCESS;
    });
}

LONG RegSetValueExW(HKEY key, LPCWSTR valueName, DWORD, DWORD type, const BYTE* data, DWORD size) {
    if (!data && size) return ERROR_INVALID_PARAMETER;
    std::u16string name = ToU16(valueName);
    if (name.size() > kMaxValueNameChars || !StorableName(name)) return ERROR_INVALID_PARAMETER;
    RegValue value{name, type, std::vector<BYTE>(data, data + size)};
    return WithKey(key, KEY_SET_VALUE, [&](Store& s, const std::u16string& folded, REGSAM) -> LONG {
        const RegValue* now = FindValue(s.keys.at(folded), valueName);
        if (now && now->type == type && now->data == value.data) return ERROR_SUCCESS;  // as is
        return Mutate(s, folded, [&](RegKeyMap& keys) {
            auto it = keys.find(folded);
            if (it == keys.end()) return ERROR_KEY_DELETED;  // another process removed it
            RegValue* old = FindValue(it->second, valueName);
            if (old) {  // keeps the name's case as first written, as Windows does
                old->type = value.type;
                old->data = value.data;
            } else
                it->second.values.push_back(value);
            return ERROR_SUCCESS;
        });
    });
}

LONG RegQueryValueExW(HKEY key, LPCWSTR valueName, LPDWORD, LPDWORD type, LPBYTE data,
                      LPDWORD size) {
    return WithKey(key, KEY_QUERY_VALUE,
                   [&](Store& s, const std::u16string& folded, REGSAM) -> LONG {
                       RegValue* v = FindValue(s.keys.at(folded), valueName);
                       if (!v) return ERROR_FILE_NOT_FOUND;
                       return CopyData(*v, type, data, size);
                   });
}

LONG RegEnumKeyExW(HKEY key, DWORD index, LPWSTR name, LPDWORD nameLength, LPDWORD,
                   LPWSTR className, LPDWORD classLength, PFILETIME lastWriteTime) {
    return WithKey(key, KEY_ENUMERATE_SUB_KEYS,
                   [&](Store& s, const std::u16string& folded, REGSAM) -> LONG {
                       std::vector<const RegKey*> subKeys = SubKeys(s.keys, folded);
                       if (index >= subKeys.size()) return ERROR_NO_MORE_ITEMS;
                       LONG status = CopyName(LastName(subKeys[index]->path), name, nameLength);
                       if (status != ERROR_SUCCESS) return status;
                       if (className && classLength && *classLength > 0) className[0] = u'\0';
                       if (classLength) *classLength = 0;
                       if (lastWriteTime) *lastWriteTime = FILETIME{0, 0};  // not kept
                       return ERROR_SUCCESS;
                   });
}

LONG RegEnumValueW(HKEY key, DWORD index, LPWSTR name, LPDWORD nameLength, LPDWORD, LPDWORD type,
                   LPBYTE data, LPDWORD size) {
    return WithKey(key, KEY_QUERY_VALUE,
                   [&](Store& s, const std::u16string& folded, REGSAM) -> LONG {
                       const RegKey& k = s.keys.at(folded);
                       if (index >= k.values.size()) return ERROR_NO_MORE_ITEMS;
                       const RegValue& v = k.values[index];
                       LONG status = CopyName(v.name, name, nameLength);
                       if (status != ERROR_SUCCESS) return status;
                       return CopyData(v, type, data, size);
                   });
}

LONG RegDeleteValueW(HKEY key, LPCWSTR valueName) {
    return WithKey(key, KEY_SET_VALUE, [&](Store& s, const std::u16string& folded, REGSAM) -> LONG {
        return Mutate(s, folded, [&](RegKeyMap& keys) {
            auto it = keys.find(folded);
            if (it == keys.end()) return ERROR_KEY_DELETED;
            RegValue* v = FindValue(it->second, valueName);
            if (!v) return ERROR_FILE_NOT_FOUND;
            it->second.values.erase(it->second.values.begin() + (v - it->second.values.data()));
            return ERROR_SUCCESS;
        });
    });
}

// Deleting needs write access to the parent (KEY_SET_VALUE or KEY_CREATE_SUB_KEY), so that
// a key opened with KEY_READ changes nothing. A key with sub-keys is refused with
// ERROR_ACCESS_DENIED, as RegDeleteKeyW does on Windows.
LONG RegDeleteKeyW(HKEY key, LPCWSTR subKey) {
    if (!subKey || !*subKey) return ERROR_INVALID_PARAMETER;
    std::vector<std::u16string> parts;
    LONG status = SplitSubKey(subKey, parts);
    if (status != ERROR_SUCCESS) return status;
    if (parts.empty()) return ERROR_INVALID_PARAMETER;
    REGSAM needed = KEY_SET_VALUE | KEY_CREATE_SUB_KEY;
    return WithKey(key, needed, [&](Store& s, const std::u16string& base, REGSAM) -> LONG {
        std::u16string target = Below(base, parts);
        return Mutate(s, target, [&](RegKeyMap& keys) {
            if (!keys.count(target)) return ERROR_FILE_NOT_FOUND;
            if (!SubKeys(keys, target).empty()) return ERROR_ACCESS_DENIED;
            keys.erase(target);
            return ERROR_SUCCESS;
        });
    });
}

LONG RegCloseKey(HKEY key) {
    if (key == HKEY_LOCAL_MACHINE || key == HKEY_CURRENT_USER || key == HKEY_CLASSES_ROOT ||
        key == HKEY_USERS)
        return ERROR_SUCCESS;
    Store& s = TheStore();
    std::lock_guard<std::mutex> lock(s.mutex);
    return s.handles.erase(reinterpret_cast<uintptr_t>(key)) ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
}
