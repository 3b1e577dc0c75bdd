#include "tools/simulator/registration.h"

#include <unistd.h>

#include "platform/io/linux/process_identity.h"
#include "platform/io/registry.h"

namespace sim {

namespace {

std::u16string Widen(const std::string& text) {
    return std::u16string(text.begin(), text.end());
}

std::string Narrow(const std::u16string& text) {
    std::string out;
    for (char16_t c : text) out += c < 0x80 ? static_cast<char>(c) : '?';
    return out;
}

LONG SetText(HKEY key, const char16_t* name, const std::string& value) {
    std::u16string wide = Widen(value);
    return RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(wide.c_str()),
                          static_cast<DWORD>((wide.size() + 1) * sizeof(char16_t)));
}

LONG SetNumber(HKEY key, const char16_t* name, DWORD value) {
    return RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                          sizeof value);
}

std::string DevicePathOf(const std::u16string& keyPath) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, keyPath.c_str(), 0, KEY_QUERY_VALUE, &key) !=
        ERROR_SUCCESS)
        return {};
    char16_t buffer[260] = {};
    DWORD size = sizeof buffer - sizeof(char16_t);
    DWORD type = 0;
    LONG status = RegQueryValueExW(key, u"DevicePath", nullptr, &type,
                                   reinterpret_cast<BYTE*>(buffer), &size);
    RegCloseKey(key);
    if (status != ERROR_SUCCESS || type != REG_SZ) return {};
    return Narrow(std::u16string(buffer));
}

bool KeyExists(const std::u16string& keyPath) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, keyPath.c_str(), 0, KEY_QUERY_VALUE, &key) !=
        ERROR_SUCCESS)
        return false;
    RegCloseKey(key);
    return true;
}

bool HasValues(const std::u16string& keyPath) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, keyPath.c_str(), 0, KEY_QUERY_VALUE, &key) !=
        ERROR_SUCCESS)
        return false;
    char16_t name[256];
    DWORD nameLength = 256;
    LONG status = RegEnumValueW(key, 0, name, &nameLength, nullptr, nullptr, nullptr, nullptr);
    RegCloseKey(key);
    return status != ERROR_NO_MORE_ITEMS;
}

}  // namespace

std::vector<std::u16string> MissingParentKeys() {
    std::vector<std::u16string> missing;
    for (const char16_t* path : {u"Drivers\\BuiltIn", u"Drivers"})
        if (!KeyExists(path)) missing.emplace_back(path);
    return missing;
}

void RemoveEmptyKeys(const std::vector<std::u16string>& keyPaths) {
    // RegDeleteKeyW refuses a key with sub-keys, so keys that others use stay.
    for (const std::u16string& path : keyPaths)
        if (!HasValues(path)) RegDeleteKeyW(HKEY_LOCAL_MACHINE, path.c_str());
}

std::u16string RegistrationKeyPath(int comIndex) {
    return u"Drivers\\BuiltIn\\Simulated_COM" + Widen(std::to_string(comIndex));
}

bool RegisterDevice(const DeviceSpec& device, const std::string& devicePath,
                    Registration& registration, bool& replaced, std::string& error) {
    registration = Registration{RegistrationKeyPath(device.comIndex), devicePath, false};
    HKEY key = nullptr;
    DWORD disposition = 0;
    LONG status =
        RegCreateKeyExW(HKEY_LOCAL_MACHINE, registration.keyPath.c_str(), 0, nullptr,
                        REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, &key, &disposition);
    if (status != ERROR_SUCCESS) {
        error = "cannot create registry key HKEY_LOCAL_MACHINE\\" + Narrow(registration.keyPath) +
                " (error " + std::to_string(status) + ")";
        return false;
    }
    replaced = disposition == REG_OPENED_EXISTING_KEY;
    registration.active = true;  // from here on the key is ours to remove
    status = SetText(key, u"Prefix", "COM");
    if (status == ERROR_SUCCESS)
        status = SetNumber(key, u"Index", static_cast<DWORD>(device.comIndex));
    if (status == ERROR_SUCCESS) status = SetText(key, u"DevicePath", devicePath);
    if (status == ERROR_SUCCESS) status = SetText(key, u"FriendlyName", FriendlyName(device.kind));
    // The key is ours only while we run: the device manager skips it once this process is
    // gone (killed, say), so that a later user of the same pty number is left alone.
    if (status == ERROR_SUCCESS)
        status = SetNumber(key, u"OwnerProcess", static_cast<DWORD>(getpid()));
    if (status == ERROR_SUCCESS)
        status = SetText(key, u"OwnerStart", platform::ProcessStartTime(getpid()));
    RegCloseKey(key);
    if (status != ERROR_SUCCESS) {
        error = "cannot write the values of HKEY_LOCAL_MACHINE\\" + Narrow(registration.keyPath) +
                " (error " + std::to_string(status) + ")";
        return false;
    }
    return true;
}

void Unregister(Registration& registration) {
    if (!registration.active) return;
    registration.active = false;
    std::string current = DevicePathOf(registration.keyPath);
    // A key that names another device now belongs to whoever rewrote it. An empty path
    // means our write of it failed half-way: the key is still ours.
    if (!current.empty() && current != registration.devicePath) return;
    RegDeleteKeyW(HKEY_LOCAL_MACHINE, registration.keyPath.c_str());
}

}  // namespace sim
