// Loaded drivers: ActivateDevice loads the library a key names with dlopen, claims its
// device name in the device table and calls "<Prefix>_Init"; closing the handle undoes it.
#include <dlfcn.h>

#include <algorithm>
#include <memory>

#include "internal/device_table.h"
#include "internal/registry_values.h"
#include "platform/base/account.h"
#include "platform/base/detail/handle_table.h"
#include "platform/base/strings.h"
#include "platform/io/devices.h"
#include "platform/io/files.h"

namespace platform::detail {
namespace {

typedef DWORD (*InitFunction)(LPCWSTR activeKey, LPCVOID busContext);
typedef BOOL (*DeinitFunction)(DWORD context);

class DriverInstance : public KernelObject {
  public:
    DriverInstance(std::u16string name, void* library, DeinitFunction deinit, DWORD context,
                   std::u16string activeKey)
        : name_(std::move(name)),
          library_(library),
          deinit_(deinit),
          context_(context),
          activeKey_(std::move(activeKey)) {}

    // Closing the handle (DeactivateDevice does) unloads the driver and frees its name.
    void Close() override {
        if (deinit_) deinit_(context_);
        dlclose(library_);
        Unpublish(activeKey_);
        ReleaseDevice(name_);
    }

  private:
    std::u16string name_;
    void* library_;
    DeinitFunction deinit_;
    DWORD context_;
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

// Undoes a failed activation: unloads the library and frees the name.
HANDLE Fail(void* library, const std::u16string& name, DWORD error) {
    if (library) dlclose(library);
    ReleaseDevice(name);
    SetLastError(error);
    return nullptr;
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
    // The library is loaded from the path as given, whatever its extension.
    void* library = dlopen(platform::HostPath(k.dll.c_str()).c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!library) {
        platform::Note(std::string("cannot load the driver ") + dlerror());
        return Fail(nullptr, d.name, ERROR_MOD_NOT_FOUND);
    }
    std::string prefix = platform::ToUtf8(k.prefix);
    auto init = reinterpret_cast<InitFunction>(dlsym(library, (prefix + "_Init").c_str()));
    auto deinit = reinterpret_cast<DeinitFunction>(dlsym(library, (prefix + "_Deinit").c_str()));
    if (!init) return Fail(library, d.name, ERROR_PROC_NOT_FOUND);
    // As on Windows CE the instance is published before Init, which is given its key.
    std::u16string active = Publish(d.name, k.path);
    DWORD context =
        init(active.c_str(), reinterpret_cast<LPCVOID>(static_cast<uintptr_t>(clientInfo)));
    if (!context) {
        Unpublish(active);
        return Fail(library, d.name, ERROR_GEN_FAILURE);
    }
    SetActiveKey(d.name, active);
    return InsertHandle(std::make_shared<DriverInstance>(d.name, library, deinit, context, active));
}

BOOL DeactivateDevice(HANDLE device) {
    if (!LookupHandleAs<DriverInstance>(device)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    return CloseHandle(device);
}
