#include "probe/virtual_port.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>

#include "config/module_path.h"
#include "platform/base/strings.h"
#include "platform/io/devices.h"
#include "platform/io/files.h"
#include "platform/io/registry.h"
#include "probe/port_state.h"
#include "support/test_support.h"

namespace {

using testsupport::ScopedEnv;
using testsupport::TempDir;

bool KeyExists(LPCWSTR path) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path, 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    RegCloseKey(key);
    return true;
}

int SubKeyCount(LPCWSTR path) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path, 0, KEY_READ, &key) != ERROR_SUCCESS) return -1;
    int count = 0;
    for (;;) {
        WCHAR name[300];
        DWORD length = 300;
        if (RegEnumKeyExW(key, count, name, &length, nullptr, nullptr, nullptr, nullptr) !=
            ERROR_SUCCESS) {
            break;
        }
        ++count;
    }
    RegCloseKey(key);
    return count;
}

struct Value {
    DWORD type = 0;
    DWORD size = 0;
    BYTE data[1024] = {};
    std::u16string text() const { return std::u16string(reinterpret_cast<const WCHAR*>(data)); }
    DWORD number() const { return *reinterpret_cast<const DWORD*>(data); }
};

Value Query(LPCWSTR path, LPCWSTR name) {
    Value v;
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path, 0, KEY_READ, &key) != ERROR_SUCCESS) return v;
    v.size = sizeof(v.data);
    if (RegQueryValueExW(key, name, nullptr, &v.type, v.data, &v.size) != ERROR_SUCCESS) v = {};
    RegCloseKey(key);
    return v;
}

constexpr WCHAR kDriverKey[] = TEXT("Drivers\\BuiltIn\\WM_COM0");

class VirtualPortTest : public ::testing::Test {
  protected:
    void SetUp() override {
        platform::StartDeviceManager();
        program_ = platform::WindowsPath(dir_.file("Belvane"));
        platform::SetModuleFileNameForTesting(program_.c_str());
    }
    void TearDown() override { platform::SetModuleFileNameForTesting(nullptr); }

    TempDir dir_;
    ScopedEnv registry_{"BELVANE_REGISTRY", dir_.file("registry.reg").c_str()};
    // Empty device trees: no serial device of the host may take part.
    ScopedEnv sysfs_{"BELVANE_SYSFS_ROOT", dir_.path().c_str()};
    ScopedEnv dev_{"BELVANE_DEV_ROOT", dir_.path().c_str()};
    ScopedEnv proc_{"BELVANE_PROC_ROOT", dir_.path().c_str()};
    std::u16string program_;
};

TEST_F(VirtualPortTest, TwoTrialsShareOneKeyThatEndsWithTheLastIndex) {
    EXPECT_EQ(TryVirtualPort(3), PORT_UNUSABLE);
    EXPECT_EQ(TryVirtualPort(7), PORT_UNUSABLE);
    EXPECT_EQ(SubKeyCount(TEXT("Drivers\\BuiltIn")), 1);

    const std::u16string dll = platform::WindowsPath(dir_.file("Morvex.dll"));
    Value v = Query(kDriverKey, TEXT("Dll"));
    EXPECT_EQ(v.type, REG_SZ);
    EXPECT_EQ(v.text(), dll);
    EXPECT_EQ(v.size, (dll.size() + 1) * 2) << "UTF-16 units with the terminator";
    v = Query(kDriverKey, TEXT("Prefix"));
    EXPECT_EQ(v.type, REG_SZ);
    EXPECT_EQ(v.text(), u"COM");
    EXPECT_EQ(v.size, 8u);
    v = Query(kDriverKey, TEXT("Order"));
    EXPECT_EQ(v.type, REG_DWORD);
    EXPECT_EQ(v.size, 4u);
    EXPECT_EQ(v.number(), 0u);
    v = Query(kDriverKey, TEXT("Index"));
    EXPECT_EQ(v.type, REG_DWORD);
    EXPECT_EQ(v.number(), 7u);
}

TEST_F(VirtualPortTest, RegistryFileShowsTheDriverKeyReadably) {
    TryVirtualPort(5);
    std::string file = testsupport::ReadFileBytes(dir_.file("registry.reg"));
    EXPECT_NE(file.find("[HKEY_LOCAL_MACHINE\\Drivers\\BuiltIn\\WM_COM0]"), std::string::npos)
        << file;
    for (const char* name : {"\"Dll\"", "\"Prefix\"=\"COM\"", "\"Order\"=dword:00000000",
                             "\"Index\"=dword:00000005"}) {
        EXPECT_NE(file.find(name), std::string::npos) << name << "\n" << file;
    }
}

// The device manager keeps its own keys under Drivers, so the walks below use a root of
// their own where they must show what was created.
TEST_F(VirtualPortTest, WalkNeedsAFinalBackslash) {
    EXPECT_EQ(RegisterVirtualPort(HKEY_LOCAL_MACHINE, TEXT("Drivers\\BuiltIn"), 1), 0);
    EXPECT_EQ(RegisterVirtualPort(HKEY_LOCAL_MACHINE, TEXT("Trial\\Sub"), 1), 0);
    EXPECT_TRUE(KeyExists(TEXT("Trial"))) << "keys made before the failure stay";
    EXPECT_FALSE(KeyExists(TEXT("Trial\\Sub")));
}

TEST_F(VirtualPortTest, EmptyNamesFailWithoutCreatingMore) {
    EXPECT_EQ(RegisterVirtualPort(HKEY_LOCAL_MACHINE, TEXT("\\Trial\\Sub\\"), 1), 0);
    EXPECT_FALSE(KeyExists(TEXT("Trial")));
    EXPECT_EQ(RegisterVirtualPort(HKEY_LOCAL_MACHINE, TEXT(""), 1), 0);
    EXPECT_EQ(RegisterVirtualPort(HKEY_LOCAL_MACHINE, nullptr, 1), 0);
    EXPECT_EQ(RegisterVirtualPort(HKEY_LOCAL_MACHINE, TEXT("Trial\\\\Sub\\"), 1), 0);
    EXPECT_EQ(SubKeyCount(TEXT("Trial")), 0);
}

TEST_F(VirtualPortTest, OverlongKeyNameFailsWithoutBeingCut) {
    for (size_t length : {260u, 261u, 1000u}) {
        std::u16string path = u"Trial\\" + std::u16string(length, u'k') + u"\\";
        EXPECT_EQ(RegisterVirtualPort(HKEY_LOCAL_MACHINE, path.c_str(), 2), 0) << length;
    }
    EXPECT_EQ(SubKeyCount(TEXT("Trial")), 0) << "no key under a shortened name";
}

#ifdef TEST_DRIVER_LIBRARY
TEST_F(VirtualPortTest, LoadableDriverMakesTheIndexFreeAndIsUnloaded) {
    testsupport::WriteFileBytes(dir_.file("Morvex.dll"),
                                testsupport::ReadFileBytes(TEST_DRIVER_LIBRARY));
    chmod(dir_.file("Morvex.dll").c_str(), 0644);  // drivers others may write are not run
    EXPECT_EQ(TryVirtualPort(6), PORT_VIRTUAL_FREE);
    EXPECT_LE(SubKeyCount(TEXT("Drivers\\Active")), 0) << "nothing left loaded";
    HANDLE port = CreateFileW(TEXT("COM6:"), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    EXPECT_EQ(port, INVALID_HANDLE_VALUE) << "the virtual port is gone again";
    if (port != INVALID_HANDLE_VALUE) CloseHandle(port);
}

TEST_F(VirtualPortTest, IndexWhoseNameIsTakenIsUnusable) {
    testsupport::WriteFileBytes(dir_.file("Morvex.dll"),
                                testsupport::ReadFileBytes(TEST_DRIVER_LIBRARY));
    chmod(dir_.file("Morvex.dll").c_str(), 0644);  // drivers others may write are not run
    ASSERT_EQ(TryVirtualPort(4), PORT_VIRTUAL_FREE);
    // Hold COM4 with a second driver instance, then try the index again.
    ASSERT_EQ(RegisterVirtualPort(HKEY_LOCAL_MACHINE, TEXT("Drivers\\BuiltIn\\Holder\\"), 4), 1);
    HANDLE holder = ActivateDevice(TEXT("Drivers\\BuiltIn\\Holder\\"), 0);
    ASSERT_NE(holder, nullptr);
    EXPECT_EQ(TryVirtualPort(4), PORT_UNUSABLE);
    DeactivateDevice(holder);
    EXPECT_EQ(TryVirtualPort(4), PORT_VIRTUAL_FREE);
}
#endif

}  // namespace
