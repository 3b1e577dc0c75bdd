#include "support/registered_ptys.h"

#include <filesystem>
#include <string>

#include "platform/base/strings.h"
#include "platform/io/devices.h"
#include "platform/io/registry.h"

namespace testsupport {
namespace {

void SetString(HKEY key, LPCWSTR name, const std::u16string& value) {
    RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                   static_cast<DWORD>((value.size() + 1) * sizeof(WCHAR)));
}

void Register(int index, const std::string& path) {
    const std::u16string name = platform::Format(u"Drivers\\BuiltIn\\TestSerial%d", index);
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, name.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                        &key, nullptr) != ERROR_SUCCESS) {
        return;
    }
    SetString(key, u"Prefix", u"COM");
    const DWORD value = static_cast<DWORD>(index);
    RegSetValueExW(key, u"Index", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                   sizeof value);
    SetString(key, u"DevicePath", platform::FromUtf8(path));
    RegCloseKey(key);
}

}  // namespace

RegisteredPtys::RegisteredPtys(int count) {
    // /dev stays the real one, where the pseudo-terminals live.
    for (const char* sub : {"sys", "proc"}) std::filesystem::create_directories(dir_.file(sub));
    env_.push_back(
        std::make_unique<ScopedEnv>("BELVANE_REGISTRY", dir_.file("registry.reg").c_str()));
    env_.push_back(std::make_unique<ScopedEnv>("BELVANE_SYSFS_ROOT", dir_.file("sys").c_str()));
    env_.push_back(std::make_unique<ScopedEnv>("BELVANE_PROC_ROOT", dir_.file("proc").c_str()));
    for (int i = 0; i < count; ++i) {
        ptys_.push_back(std::make_unique<PtyPair>());
        Register(i, ptys_.back()->slavePath());
        numbers_.push_back(i);
    }
    // The first registry call built the device table already: build it with these keys, as
    // a program started now would.
    platform::StartDeviceManager();
}

}  // namespace testsupport
