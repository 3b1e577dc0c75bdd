// A private registry with empty device trees for the lister's tests: Drivers\Active starts
// empty and the test fills it as the device manager would.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "platform/io/devices.h"
#include "platform/io/registry.h"
#include "support/test_support.h"

using String = std::basic_string<WCHAR>;

class PrivateRegistryTest : public ::testing::Test {
  protected:
    // Drivers\Active lives in the process, so earlier tests' entries are removed first.
    // On Windows the device manager's keys live under HKEY_CURRENT_USER, in Wine's fresh
    // prefix of this run: each test starts them anew.
    void SetUp() override {
#ifdef _WIN32
        RegOverridePredefKey(HKEY_LOCAL_MACHINE, nullptr);
        RegDeleteTreeW(HKEY_CURRENT_USER, TEXT("Software\\Belvane\\Machine"));
#endif
        platform::StartDeviceManager();
        HKEY active = Key(TEXT("Drivers\\Active"));
        WCHAR name[256];
        DWORD length = 256;
        while (RegEnumKeyExW(active, 0, name, &length, nullptr, nullptr, nullptr, nullptr) ==
               ERROR_SUCCESS) {
            ASSERT_EQ(RegDeleteKeyW(active, name), ERROR_SUCCESS);
            length = 256;
        }
        RegCloseKey(active);
    }

    // Entries under Drivers\Active are volatile, as the device manager makes them (Windows
    // refuses a lasting key under a volatile one).
    static HKEY Key(const String& path) {
        HKEY key = nullptr;
        const DWORD options =
            path.rfind(TEXT("Drivers\\Active\\"), 0) == 0 ? REG_OPTION_VOLATILE : 0;
        EXPECT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, options,
                                  KEY_ALL_ACCESS, nullptr, &key, nullptr),
                  ERROR_SUCCESS);
        return key;
    }
    static void Set(const String& path, const WCHAR* name, const String& text,
                    bool terminated = true) {
        HKEY key = Key(path);
        DWORD bytes = static_cast<DWORD>((text.size() + (terminated ? 1 : 0)) * sizeof(WCHAR));
        RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()), bytes);
        RegCloseKey(key);
    }
    static void Active(const String& sub, const String& name, const String& driverKey = TEXT("")) {
        String path = TEXT("Drivers\\Active\\") + sub;
        Set(path, TEXT("Name"), name);
        if (!driverKey.empty()) Set(path, TEXT("Key"), driverKey);
    }
    static void Bluetooth(const String& sub, const String& port) {
        Set(TEXT("Software\\Microsoft\\Bluetooth\\Serial\\Ports\\") + sub, TEXT("Port"), port);
    }

    testsupport::TempDir dir;
    testsupport::ScopedEnv registry{"BELVANE_REGISTRY", dir.file("registry.reg").c_str()};
    testsupport::ScopedEnv sysfs{"BELVANE_SYSFS_ROOT", dir.path().c_str()};
    testsupport::ScopedEnv dev{"BELVANE_DEV_ROOT", dir.path().c_str()};
    testsupport::ScopedEnv proc{"BELVANE_PROC_ROOT", dir.path().c_str()};
    // A lister running elsewhere on the machine is not found from here.
    testsupport::ScopedEnv runtime{"XDG_RUNTIME_DIR", dir.path().c_str()};
};
