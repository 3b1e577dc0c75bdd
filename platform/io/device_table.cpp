// The device table: which names are taken and by what, and where each device is published
// under Drivers\Active. CreateFileW reaches the devices through OpenDevice.
#include "internal/device_table.h"

#include <map>
#include <mutex>

#include "internal/device_discovery.h"
#include "internal/device_open.h"
#include "internal/registry_values.h"
#include "platform/base/account.h"
#include "platform/base/strings.h"

namespace platform::detail {
namespace {

struct Table {
    std::mutex mutex;
    std::map<std::u16string, Device> devices;  // by upper-case name
    unsigned nextActive = 1;
};

Table& TheTable() {
    static Table* table = new Table;  // lives until exit, also for late calls
    return *table;
}

}  // namespace

std::u16string UpperName(std::u16string name) {
    for (char16_t& c : name)
        if (c >= u'a' && c <= u'z') c -= 32;
    return name;
}

bool ClaimDevice(const Device& device) {
    Table& t = TheTable();
    std::lock_guard<std::mutex> lock(t.mutex);
    return t.devices.emplace(UpperName(device.name), device).second;
}

void ReleaseDevice(const std::u16string& name) {
    Table& t = TheTable();
    std::lock_guard<std::mutex> lock(t.mutex);
    t.devices.erase(UpperName(name));
}

void SetActiveKey(const std::u16string& name, const std::u16string& activeKey) {
    Table& t = TheTable();
    std::lock_guard<std::mutex> lock(t.mutex);
    auto it = t.devices.find(UpperName(name));
    if (it != t.devices.end()) it->second.activeKey = activeKey;
}

std::vector<std::u16string> ForgetTtyDevices() {
    std::vector<std::u16string> stale;
    Table& t = TheTable();
    std::lock_guard<std::mutex> lock(t.mutex);
    for (auto it = t.devices.begin(); it != t.devices.end();) {
        if (it->second.kind != DeviceKind::Tty) {
            ++it;
            continue;
        }
        stale.push_back(it->second.activeKey);
        it = t.devices.erase(it);
    }
    return stale;
}

std::vector<Device> TtyDevices() {
    std::vector<Device> ttys;
    Table& t = TheTable();
    std::lock_guard<std::mutex> lock(t.mutex);
    for (const auto& [name, device] : t.devices)
        if (device.kind == DeviceKind::Tty) ttys.push_back(device);
    return ttys;
}

std::u16string Publish(const std::u16string& name, const std::u16string& deviceKey) {
    unsigned number;
    {
        Table& t = TheTable();
        std::lock_guard<std::mutex> lock(t.mutex);
        number = t.nextActive++;
    }
    std::u16string path = std::u16string(kActive) + u"\\" + (number < 10 ? u"0" : u"") +
                          FromUtf8(std::to_string(number));
    HKEY key = OpenMachineKey(path, true);
    if (!key) return {};
    SetString(key, u"Name", name);
    SetString(key, u"Key", deviceKey);
    RegCloseKey(key);
    return path;
}

void Unpublish(const std::u16string& activeKey) {
    if (!activeKey.empty()) RegDeleteKeyW(HKEY_LOCAL_MACHINE, activeKey.c_str());
}

namespace {

bool AnyTtyDevice() {
    Table& t = TheTable();
    std::lock_guard<std::mutex> lock(t.mutex);
    for (const auto& [upper, device] : t.devices)
        if (device.kind == DeviceKind::Tty) return true;
    return false;
}

}  // namespace

DeviceKind FindDevice(std::u16string_view name, std::string& hostPath) {
    Table& t = TheTable();
    std::lock_guard<std::mutex> lock(t.mutex);
    auto it = t.devices.find(UpperName(std::u16string(name)));
    if (it == t.devices.end()) return DeviceKind::None;
    hostPath = HostDevicePath(it->second.devicePath);
    return it->second.kind;
}

// Every device is opened exclusively (as Windows serial drivers do), whatever the share
// mode; the disposition is not looked at.
HANDLE OpenDevice(LPCWSTR name, DWORD, DWORD, DWORD) {
    std::string hostPath;
    DeviceKind kind = IsDeviceName(name) ? FindDevice(name, hostPath) : DeviceKind::None;
    if (kind == DeviceKind::None && IsDeviceName(name) && LookAgainForDevices())
        kind = FindDevice(name, hostPath);
    if (kind == DeviceKind::None) {
        if (IsDeviceName(name) && !AnyTtyDevice())
            Note(
                "no serial port is known on this machine: no serial device was found and "
                "none is registered");
        SetLastError(ERROR_FILE_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    if (kind == DeviceKind::Driver) {  // loaded drivers take no opens here
        SetLastError(ERROR_NOT_SUPPORTED);
        return INVALID_HANDLE_VALUE;
    }
    HANDLE port = OpenTty(hostPath, UpperName(name));
    if (port == INVALID_HANDLE_VALUE && GetLastError() == ERROR_FILE_NOT_FOUND) {
        LookAgainForDevices();  // it left where no notification told of it
        SetLastError(ERROR_FILE_NOT_FOUND);
    }
    return port;
}

}  // namespace platform::detail
