// A private registry with empty device trees for the lister's tests: Drivers\Active starts
// empty and the test fills it as the device manager would.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "platform/io/devices.h"
#include "platform/io/registry.h"
#include "support/test_support.h"

class PrivateRegistryTest : public ::testing::Test {
  protected:
    // Drivers\Active lives in the process, so earlier tests' entries are removed first.
    void SetUp() override {
        platform::StartDeviceManager();
        HKEY active = Key(u"Drivers\\Active");
        WCHAR name[256];
        DWORD length = 256;
        while (RegEnumKeyExW(active, 0, name, &length, nullptr, nullptr, nullptr, nullptr) ==
               ERROR_SUCCESS) {
            ASSERT_EQ(RegDeleteKeyW(active, name), ERROR_SUCCESS);
            length = 256;
        }
        RegCloseKey(active);
    }

    static HKEY Key(const std::u16string& path) {
        HKEY key = nullptr;
        EXPECT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                                  nullptr, &key, nullptr),
                  ERROR_SUCCESS);
        return key;
    }
    static void Set(const std::u16string& path, const char16_t* name, const std::u16string& text,
                    bool terminated = true) {
        HKEY key = Key(path);
        DWORD bytes = static_cast<DWORD>((text.size() + (terminated ? 1 : 0)) * sizeof(WCHAR));
        RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()), bytes);
        RegCloseKey(key);
    }
    static void Active(const std::u16string& sub, const std::u16string& name,
                       const std::u16string& driverKey = u"") {
        std::u16string path = u"Drivers\\Active\\" + sub;
        Set(path, u"Name", name);
        if (!driverKey.empty()) Set(path, u"Key", driverKey);
    }
    static void Bluetooth(const std::u16string& sub, const std::u16string& port) {
        Set(u"Software\\Microsoft\\Bluetooth\\Serial\\Ports\\" + sub, u"Port", port);
    }

    testsupport::TempDir dir;
    testsupport::ScopedEnv registry{"BELVANE_REGISTRY", dir.file("registry.reg").c_str()};
    testsupport::ScopedEnv sysfs{"BELVANE_SYSFS_ROOT", dir.path().c_str()};
    testsupport::ScopedEnv dev{"BELVANE_DEV_ROOT", dir.path().c_str()};
    testsupport::ScopedEnv proc{"BELVANE_PROC_ROOT", dir.path().c_str()};
    // A lister running elsewhere on the machine is not found from here.
    testsupport::ScopedEnv runtime{"XDG_RUNTIME_DIR", dir.path().c_str()};
};
