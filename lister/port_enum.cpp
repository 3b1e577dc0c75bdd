#include "lister/port_enum.h"

#include <vector>

#include "platform/base/strings.h"

namespace {

constexpr const WCHAR* kActiveKey = TEXT("Drivers\\Active");
constexpr const WCHAR* kActivePrefix = TEXT("Drivers\\Active\\");
constexpr const WCHAR* kBluetoothKey = TEXT("Software\\Microsoft\\Bluetooth\\Serial\\Ports");

// Lines that do not fit are cut at kLineChars - 1 characters: a cut line still tells the user
// which port it is, and nothing is written past the buffer.
void EmitLine(PortLineSink sink, void* context, LPCWSTR format, LPCWSTR first, LPCWSTR second) {
    WCHAR line[kLineChars] = {};
    StringCchPrintfW(line, kLineChars, format, first, second);
    sink(context, line);
}

bool HasDevicePrefix(const WCHAR* name) {
    return wcsncmp(name, TEXT("COM"), 3) == 0 || wcsncmp(name, TEXT("GPD"), 3) == 0;
}

// Reads the friendly name of the driver key that the active entry names, if any.
void ReadFriendlyName(HKEY active, WCHAR* key, WCHAR* friendlyName) {
    if (QueryStringValue(active, TEXT("Key"), key) != ERROR_SUCCESS) return;
    HKEY driver = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, key, 0, KEY_READ, &driver) != ERROR_SUCCESS) return;
    QueryStringValue(driver, TEXT("FriendlyName"), friendlyName);
    RegCloseKey(driver);
}

}  // namespace

LONG QueryStringValue(HKEY key, LPCWSTR valueName, WCHAR* buffer) {
    DWORD type = 0;
    DWORD size = 0;
    LONG status = RegQueryValueExW(key, valueName, nullptr, &type, nullptr, &size);
    if (status != ERROR_SUCCESS) return status;
    // The stored size can exceed the caller's 128 characters, and the data need not be a
    // terminated string (another type, or no terminator). Read it whole, then keep what fits
    // and terminate it: a longer value is cut at the buffer, never read past it.
    std::vector<BYTE> data(size + sizeof(WCHAR), 0);
    status = RegQueryValueExW(key, valueName, nullptr, &type, data.data(), &size);
    if (status != ERROR_SUCCESS) return status;
    size_t chars = size / sizeof(WCHAR);
    if (chars > kValueChars - 1) chars = kValueChars - 1;
    for (size_t i = 0; i < chars; ++i) {
        WCHAR c = static_cast<WCHAR>(data[2 * i] | (data[2 * i + 1] << 8));
        buffer[i] = c;
        if (c == 0) return ERROR_SUCCESS;
    }
    buffer[chars] = 0;
    return ERROR_SUCCESS;
}

LONG OpenActiveDriverKey(LPCWSTR subKeyName, HKEY* key) {
    WCHAR path[kPathChars] = {};
    // A path that does not fit would open some other key; such an entry is skipped instead.
    if (FAILED(StringCchPrintfW(path, kPathChars, TEXT("%s%s"), kActivePrefix, subKeyName)))
        return ERROR_INVALID_NAME;
    return RegOpenKeyExW(HKEY_LOCAL_MACHINE, path, 0, KEY_READ, key);
}

LONG WalkActivePorts(PortLineSink sink, void* context) {
    HKEY root = nullptr;
    LONG status = RegOpenKeyExW(HKEY_LOCAL_MACHINE, kActiveKey, 0, KEY_READ, &root);
    if (status != ERROR_SUCCESS) return status;
    WCHAR subKey[kNameChars];
    WCHAR name[kValueChars], key[kValueChars], friendlyName[kValueChars];
    for (DWORD index = 0;; ++index) {
        DWORD length = kNameChars;
        status = RegEnumKeyExW(root, index, subKey, &length, nullptr, nullptr, nullptr, nullptr);
        if (status != ERROR_SUCCESS) break;
        HKEY active = nullptr;
        if (OpenActiveDriverKey(subKey, &active) != ERROR_SUCCESS) continue;
        for (DWORD i = 0; i < kValueChars; ++i) name[i] = key[i] = friendlyName[i] = 0;
        if (QueryStringValue(active, TEXT("Name"), name) == ERROR_SUCCESS &&
            HasDevicePrefix(name)) {
            ReadFriendlyName(active, key, friendlyName);
            EmitLine(sink, context, TEXT("%s - %s"), name, friendlyName);
        }
        RegCloseKey(active);
    }
    RegCloseKey(root);
    return status;
}

LONG WalkBluetoothPorts(PortLineSink sink, void* context) {
    HKEY root = nullptr;
    LONG status = RegOpenKeyExW(HKEY_LOCAL_MACHINE, kBluetoothKey, 0, KEY_READ, &root);
    if (status != ERROR_SUCCESS) return status;
    WCHAR subKey[kNameChars];
    WCHAR path[kPathChars];
    WCHAR port[kValueChars];
    for (DWORD index = 0;; ++index) {
        DWORD length = kNameChars;
        status = RegEnumKeyExW(root, index, subKey, &length, nullptr, nullptr, nullptr, nullptr);
        if (status != ERROR_SUCCESS) break;
        // As for the active entries, a path that does not fit skips the entry.
        if (FAILED(StringCchPrintfW(path, kPathChars, TEXT("%s\\%s"), kBluetoothKey, subKey)))
            continue;
        HKEY entry = nullptr;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path, 0, KEY_READ, &entry) != ERROR_SUCCESS) continue;
        for (DWORD i = 0; i < kValueChars; ++i) port[i] = 0;
        if (QueryStringValue(entry, TEXT("Port"), port) == ERROR_SUCCESS)
            EmitLine(sink, context, TEXT("%s: - Bluetooth"), port, nullptr);
        RegCloseKey(entry);
    }
    RegCloseKey(root);
    return status;
}
