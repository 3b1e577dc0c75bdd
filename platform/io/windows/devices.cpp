// The Windows CE device manager on desktop Windows. Its registry (Drivers\BuiltIn,
// Drivers\Active, the Bluetooth ports) lives under HKEY_CURRENT_USER\Software\Belvane\Machine,
// where an ordinary user may write, and HKEY_LOCAL_MACHINE is redirected there for this
// process. Drivers\Active presents the machine's serial ports (HARDWARE\DEVICEMAP\SERIALCOMM),
// so that a program walking it finds them as on a device. ActivateDevice has a helper
// process load the library a key names and call "<Prefix>_Init" (driver_host.cpp);
// DeactivateDevice has it call "<Prefix>_Deinit" and end.
#include "platform/io/devices.h"

#include <memory>
#include <string>
#include <vector>

#include "platform/base/account.h"
#include "platform/base/strings.h"
#include "platform/io/windows/driver_host.h"

namespace {

using String = std::basic_string<WCHAR>;

constexpr const WCHAR* kMachineKey = TEXT("Software\\Belvane\\Machine");
constexpr const WCHAR* kActiveKey = TEXT("Drivers\\Active");

String QueryString(HKEY key, LPCWSTR name) {
    WCHAR value[MAX_PATH] = {};
    DWORD size = sizeof(value) - sizeof(WCHAR), type = 0;
    if (RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(value), &size) !=
            ERROR_SUCCESS ||
        type != REG_SZ)
        return {};
    return value;
}

void SetString(HKEY key, LPCWSTR name, const String& value) {
    RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                   static_cast<DWORD>((value.size() + 1) * sizeof(WCHAR)));
}

// The ports Windows knows of, as "COMn" names, read before the redirection.
std::vector<String> MachineSerialPorts() {
    std::vector<String> ports;
    HKEY map;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, TEXT("HARDWARE\\DEVICEMAP\\SERIALCOMM"), 0, KEY_READ,
                      &map) != ERROR_SUCCESS)
        return ports;
    for (DWORD i = 0;; ++i) {
        WCHAR name[MAX_PATH], port[64];
        DWORD nameLength = MAX_PATH, size = sizeof(port) - sizeof(WCHAR), type = 0;
        if (RegEnumValueW(map, i, name, &nameLength, nullptr, &type, reinterpret_cast<BYTE*>(port),
                          &size) != ERROR_SUCCESS)
            break;
        port[size / sizeof(WCHAR)] = 0;
        if (type == REG_SZ) ports.push_back(port);
    }
    RegCloseKey(map);
    return ports;
}

// Drivers\Active\<nn> with the device's Name ("COM3:") and the driver Key it came from.
HKEY Publish(HKEY active, unsigned number, const String& name, const String& driverKey) {
    WCHAR sub[16];
    StringCchPrintfW(sub, 16, TEXT("%02u"), number);
    HKEY key = nullptr;
    if (RegCreateKeyExW(active, sub, 0, nullptr, REG_OPTION_VOLATILE, KEY_ALL_ACCESS, nullptr, &key,
                        nullptr) != ERROR_SUCCESS)
        return nullptr;
    SetString(key, TEXT("Name"), name);
    SetString(key, TEXT("Key"), driverKey);
    return key;
}

// A loaded driver: its helper process and its entry under Drivers\Active.
struct Driver {
    platform::detail::DriverHost host;
    String activeKey;
};

bool Letters(const String& text) {
    if (text.empty()) return false;
    for (WCHAR c : text) {
        if (!((c >= TEXT('A') && c <= TEXT('Z')) || (c >= TEXT('a') && c <= TEXT('z'))))
            return false;
    }
    return true;
}

unsigned nextActive = 0;

// Whether an entry of Drivers\Active has the device name already (a port of the machine
// or a loaded driver).
bool NameTaken(HKEY active, const String& name) {
    for (DWORD i = 0;; ++i) {
        WCHAR sub[64];
        DWORD length = 64;
        if (RegEnumKeyExW(active, i, sub, &length, nullptr, nullptr, nullptr, nullptr) !=
            ERROR_SUCCESS)
            return false;
        HKEY entry = nullptr;
        if (RegOpenKeyExW(active, sub, 0, KEY_READ, &entry) != ERROR_SUCCESS) continue;
        const String taken = QueryString(entry, TEXT("Name"));
        RegCloseKey(entry);
        if (_wcsicmp(taken.c_str(), name.c_str()) == 0) return true;
    }
}

// The device name of a driver: "<Prefix><Index>:", or without an Index the first free of
// 1 to 9. Desktop Windows has no COM0: and opens "COMn:" only for one digit, so the index
// runs from 1 to 9 here. Empty, with the last error set, when there is none.
String ClaimName(HKEY active, const String& keyPath, const String& prefix, bool hasIndex,
                 DWORD index) {
    // Index 0 is a name the system cannot give (Belvane offers COM0 to every driver, as on
    // a device): refused without a note, as no key is wrong. Beyond 9 the key is wrong.
    if (hasIndex && index == 0) {
        SetLastError(ERROR_DEV_NOT_EXIST);
        return {};
    }
    if (hasIndex && index > 9) {
        const std::string p = platform::ToUtf8(prefix);
        platform::Note(platform::ToUtf8(keyPath) + ": Index " + std::to_string(index) +
                       " makes no device name " + p + "1: to " + p + "9:; not loaded");
        SetLastError(ERROR_INVALID_PARAMETER);
        return {};
    }
    for (DWORD n = hasIndex ? index : 1; n <= (hasIndex ? index : 9); ++n) {
        const String name = prefix + std::to_wstring(n) + TEXT(":");
        if (!active || !NameTaken(active, name)) return name;
    }
    SetLastError(ERROR_DEVICE_IN_USE);
    return {};
}

}  // namespace

namespace platform {

void StartDeviceManager() {
    // A second start reads the machine's ports from the machine, not from our keys.
    RegOverridePredefKey(HKEY_LOCAL_MACHINE, nullptr);
    const std::vector<String> ports = MachineSerialPorts();
    HKEY machine = nullptr;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, kMachineKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                        &machine, nullptr) != ERROR_SUCCESS)
        return;
    RegDeleteTreeW(machine, kActiveKey);
    // Drivers itself stays: only a volatile key may sit under a volatile one.
    HKEY drivers = nullptr, active = nullptr;
    if (RegCreateKeyExW(machine, TEXT("Drivers"), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &drivers,
                        nullptr) == ERROR_SUCCESS) {
        RegCreateKeyExW(drivers, TEXT("Active"), 0, nullptr, REG_OPTION_VOLATILE, KEY_ALL_ACCESS,
                        nullptr, &active, nullptr);
        RegCloseKey(drivers);
    }
    RegOverridePredefKey(HKEY_LOCAL_MACHINE, machine);
    RegCloseKey(machine);
    nextActive = 0;
    for (const String& port : ports) {
        HKEY key = active ? Publish(active, ++nextActive, port + TEXT(":"),
                                    TEXT("Drivers\\BuiltIn\\Serial"))
                          : nullptr;
        if (key) RegCloseKey(key);
    }
    if (active) RegCloseKey(active);
}

}  // namespace platform

HANDLE ActivateDevice(LPCWSTR deviceKey, DWORD clientInfo) {
    HKEY key;
    if (!deviceKey ||
        RegOpenKeyExW(HKEY_LOCAL_MACHINE, deviceKey, 0, KEY_READ, &key) != ERROR_SUCCESS) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return 0;
    }
    platform::detail::DriverCall call;
    call.libraryPath = QueryString(key, TEXT("Dll"));
    call.prefix = QueryString(key, TEXT("Prefix"));
    call.clientInfo = clientInfo;
    DWORD index = 0, size = sizeof(index);
    const bool hasIndex = RegQueryValueExW(key, TEXT("Index"), nullptr, nullptr,
                                           reinterpret_cast<BYTE*>(&index), &size) == ERROR_SUCCESS;
    RegCloseKey(key);
    if (call.libraryPath.empty() || !Letters(call.prefix)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    // As on Windows CE the instance is published before Init, which is given its key.
    HKEY active = nullptr;
    RegCreateKeyExW(HKEY_LOCAL_MACHINE, kActiveKey, 0, nullptr, REG_OPTION_VOLATILE, KEY_ALL_ACCESS,
                    nullptr, &active, nullptr);
    const String name = ClaimName(active, deviceKey, call.prefix, hasIndex, index);
    if (name.empty()) {
        if (active) RegCloseKey(active);
        return 0;
    }
    HKEY entry = active ? Publish(active, ++nextActive, name, deviceKey) : nullptr;
    if (entry) RegCloseKey(entry);
    WCHAR entryName[32];
    StringCchPrintfW(entryName, 32, TEXT("Drivers\\Active\\%02u"), nextActive);
    call.activeKey = entryName;
    auto driver = std::make_unique<Driver>();
    if (!platform::detail::StartDriver(call, driver->host)) {
        const DWORD error = GetLastError();
        if (active) RegDeleteKeyW(active, entryName + 15);
        if (active) RegCloseKey(active);
        SetLastError(error);
        return 0;
    }
    if (active) RegCloseKey(active);
    driver->activeKey = entryName;
    return driver.release();
}

// Closing the device has the helper call Deinit and end, and removes its entry.
BOOL DeactivateDevice(HANDLE device) {
    if (!device) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    std::unique_ptr<Driver> driver(static_cast<Driver*>(device));
    platform::detail::StopDriver(driver->host);
    RegDeleteKeyW(HKEY_LOCAL_MACHINE, driver->activeKey.c_str());
    return TRUE;
}
