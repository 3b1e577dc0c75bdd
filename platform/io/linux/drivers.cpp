// Loaded drivers: ActivateDevice claims the device name in the device table and has a
// helper process load the library a key names and call "<Prefix>_Init" (driver_host.cpp);
// closing the handle undoes it.
#include <algorithm>
#include <cstdio>
#include <memory>

#include "internal/device_table.h"
#include "internal/driver_host.h"
#include "internal/registry_values.h"
#include "platform/base/account.h"
#include "platform/base/detail/handle_table.h"
#include "platform/base/strings.h"
#include "platform/io/devices.h"
#include "platform/io/files.h"

namespace platform::detail {
namespace {

class DriverInstance : public KernelObject {
  public:
    DriverInstance(std::u16string name, DriverHost host, std::u16string activeKey)
        : name_(std::move(name)), host_(host), activeKey_(std::move(activeKey)) {}

    // Closing the handle (DeactivateDevice does) has the helper call Deinit and end, and
    // frees the name.
    void Close() override {
        StopDriver(host_);
        Unpublish(activeKey_);
        ReleaseDevice(name_);
    }

  private:
    std::u16string name_;
    DriverHost host_;
    std::u16string activeKey_;
};

struct DriverKey {
    std::u16string path;  // relative to HKEY_LOCAL_MACHINE, no trailing backslash
    std::u16string dll;
    std::u16string prefix;
    DWORD index = 0;
    bool hasIndex = false;
};

bool ReadDriverKey(LPCWSTR keyPath, DriverKey& k) {
    k.path = keyPath;
    while (!k.path.empty() && k.path.back() == u'\\') k.path.pop_back();
    HKEY key = OpenMachineKey(k.path, false);
    if (!key) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return false;
    }
    bool hasDll = false, hasPrefix = false;
    k.dll = QueryString(key, u"Dll", &hasDll);
    k.prefix = QueryString(key, u"Prefix", &hasPrefix);
    k.hasIndex = QueryDword(key, u"Index", k.index);
    RegCloseKey(key);
    bool letters =
        !k.prefix.empty() && std::all_of(k.prefix.begin(), k.prefix.end(), [](char16_t c) {
            return (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z');
        });
    if (!hasDll || k.dll.empty() || !letters) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    if (k.hasIndex && k.index > 9) {  // device names have one digit
        const std::string prefix = ToUtf8(k.prefix);
        platform::Note(ToUtf8(k.path) + ": Index " + std::to_string(k.index) +
                       " makes no device name " + prefix + "0: to " + prefix + "9:; not loaded");
        SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    return true;
}

// Without an Index the first free of 1 to 9 and then 0 is taken, as Windows CE does.
bool ClaimDriverName(const DriverKey& k, Device& d) {
    d.kind = DeviceKind::Driver;
    static const DWORD order[] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 0};
    for (DWORD index : order) {
        DWORD chosen = k.hasIndex ? k.index : index;
        d.name = k.prefix + FromUtf8(std::to_string(chosen)) + u":";
        if (ClaimDevice(d)) return true;
        if (k.hasIndex) break;
    }
    SetLastError(ERROR_DEVICE_IN_USE);
    return false;
}

}  // namespace
}  // namespace platform::detail

using namespace platform::detail;

HANDLE ActivateDevice(LPCWSTR deviceKey, DWORD clientInfo) {
    if (!deviceKey) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    DriverKey k;
    Device d;
    if (!ReadDriverKey(deviceKey, k) || !ClaimDriverName(k, d)) return nullptr;
    // The library is loaded from the path as given, whatever its extension. As on Windows
    // CE the instance is published before Init, which is given its key.
    DriverCall call;
    call.libraryPath = platform::HostPath(k.dll.c_str());
    call.prefix = platform::ToUtf8(k.prefix);
    call.activeKey = Publish(d.name, k.path);
    call.clientInfo = clientInfo;
    DriverHost host;
    if (!StartDriver(call, host)) {
        DWORD error = GetLastError();
        Unpublish(call.activeKey);
        ReleaseDevice(d.name);
        SetLastError(error);
        return nullptr;
    }
    SetActiveKey(d.name, call.activeKey);
    return InsertHandle(std::make_shared<DriverInstance>(d.name, host, call.activeKey));
}

BOOL DeactivateDevice(HANDLE device) {
    if (!LookupHandleAs<DriverInstance>(device)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    return CloseHandle(device);
}
