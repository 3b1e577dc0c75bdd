// The Windows CE device manager on desktop Windows. Its registry (Drivers\BuiltIn,
// Drivers\Active, the Bluetooth ports) lives under HKEY_CURRENT_USER\Software\Belvane\Machine,
// where an ordinary user may write, and HKEY_LOCAL_MACHINE is redirected there for this
// process. Drivers\Active presents the machine's serial ports (HARDWARE\DEVICEMAP\SERIALCOMM),
// so that a program walking it finds them as on a device. ActivateDevice loads the library
// a key names and calls "<Prefix>_Init"; DeactivateDevice calls "<Prefix>_Deinit".
#include "platform/io/devices.h"

#include <string>
#include <vector>

#include "platform/base/strings.h"

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

struct Driver {
    HMODULE library;
    BOOL(WINAPI* deinit)(DWORD);
    DWORD context;
    String activeKey;
};

unsigned nextActive = 0;

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
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, deviceKey, 0, KEY_READ, &key) != ERROR_SUCCESS) return 0;
    const String dll = QueryString(key, TEXT("Dll")), prefix = QueryString(key, TEXT("Prefix"));
    DWORD index = 0, size = sizeof(index);
    const bool hasIndex = RegQueryValueExW(key, TEXT("Index"), nullptr, nullptr,
                                           reinterpret_cast<BYTE*>(&index), &size) == ERROR_SUCCESS;
    RegCloseKey(key);
    if (dll.empty() || prefix.empty()) return 0;
    HMODULE library = LoadLibraryW(dll.c_str());
    if (!library) return 0;
    const std::string init = platform::ToUtf8(prefix + TEXT("_Init"));
    const std::string deinit = platform::ToUtf8(prefix + TEXT("_Deinit"));
    auto initFunction = reinterpret_cast<DWORD(WINAPI*)(LPCWSTR, LPCVOID)>(
        reinterpret_cast<void*>(GetProcAddress(library, init.c_str())));
    HKEY active = nullptr;
    RegCreateKeyExW(HKEY_LOCAL_MACHINE, TEXT("Drivers\\Active"), 0, nullptr, REG_OPTION_VOLATILE,
                    KEY_ALL_ACCESS, nullptr, &active, nullptr);
    WCHAR number[16] = TEXT("");
    if (hasIndex) StringCchPrintfW(number, 16, TEXT("%lu"), static_cast<unsigned long>(index));
    HKEY entry =
        active ? Publish(active, ++nextActive, prefix + number + TEXT(":"), deviceKey) : nullptr;
    WCHAR entryName[16];
    StringCchPrintfW(entryName, 16, TEXT("Drivers\\Active\\%02u"), nextActive);
    const DWORD context = initFunction ? initFunction(entryName, &clientInfo) : 0;
    if (entry) RegCloseKey(entry);
    if (context == 0) {
        if (active) RegDeleteKeyW(active, entryName + 15);
        if (active) RegCloseKey(active);
        FreeLibrary(library);
        SetLastError(initFunction ? ERROR_GEN_FAILURE : ERROR_PROC_NOT_FOUND);
        return 0;
    }
    if (active) RegCloseKey(active);
    auto deinitFunction = reinterpret_cast<BOOL(WINAPI*)(DWORD)>(
        reinterpret_cast<void*>(GetProcAddress(library, deinit.c_str())));
    return new Driver{library, deinitFunction, context, entryName};
}

BOOL DeactivateDevice(HANDLE device) {
    if (!device) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    auto* driver = static_cast<Driver*>(device);
    if (driver->deinit) driver->deinit(driver->context);
    FreeLibrary(driver->library);
    RegDeleteKeyW(HKEY_LOCAL_MACHINE, driver->activeKey.c_str());
    delete driver;
    return TRUE;
}
