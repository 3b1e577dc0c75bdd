#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "platform/io/devices.h"
#include "platform/io/registry.h"
#include "support/test_support.h"
#include "tools/simulator/registration.h"

namespace {

class RegistrationTest : public ::testing::Test {
  protected:
    testsupport::TempDir dir;
    std::string file = dir.file("registry.reg");
    testsupport::ScopedEnv registry{"BELVANE_REGISTRY", file.c_str()};
    // No host serial devices in the device table that the registry builds.
    testsupport::ScopedEnv sysfs{"BELVANE_SYSFS_ROOT", dir.path().c_str()};

    void SetUp() override { platform::StartDeviceManager(); }
    void TearDown() override { platform::StartDeviceManager(); }

    static sim::DeviceSpec Gps(int comIndex) {
        sim::DeviceSpec setup;
        setup.comIndex = comIndex;
        setup.kind = sim::DeviceKind::Gps;
        return setup;
    }
    static bool KeyExists(const std::u16string& path) {
        HKEY key;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
            return false;
        RegCloseKey(key);
        return true;
    }
    static void SetDevicePath(const std::u16string& path, const std::u16string& value) {
        HKEY key;
        ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_ALL_ACCESS, &key),
                  ERROR_SUCCESS);
        RegSetValueExW(key, u"DevicePath", 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                       static_cast<DWORD>((value.size() + 1) * 2));
        RegCloseKey(key);
    }
};

TEST_F(RegistrationTest, TakesOverAStaleKeyAndRemovesOnlyItsOwn) {
    sim::Registration first, second;
    bool replaced = true;
    std::string error;
    ASSERT_TRUE(sim::RegisterDevice(Gps(4), "/dev/pts/41", first, replaced, error)) << error;
    EXPECT_FALSE(replaced);
    EXPECT_EQ(first.keyPath, u"Drivers\\BuiltIn\\Simulated_COM4");
    // A second simulator (or one that was killed) registered COM4 before.
    ASSERT_TRUE(sim::RegisterDevice(Gps(4), "/dev/pts/42", second, replaced, error)) << error;
    EXPECT_TRUE(replaced);
    // The first no longer owns the key: its removal leaves it alone.
    sim::Unregister(first);
    EXPECT_TRUE(KeyExists(second.keyPath));
    sim::Unregister(second);
    EXPECT_FALSE(KeyExists(second.keyPath));
    sim::Unregister(second);  // a second removal changes nothing
    EXPECT_FALSE(KeyExists(second.keyPath));
}

TEST_F(RegistrationTest, KeyRewrittenByAnotherProcessStays) {
    sim::Registration registration;
    bool replaced = false;
    std::string error;
    ASSERT_TRUE(sim::RegisterDevice(Gps(2), "/dev/pts/9", registration, replaced, error));
    SetDevicePath(registration.keyPath, u"/dev/ttyUSB0");
    sim::Unregister(registration);
    EXPECT_TRUE(KeyExists(registration.keyPath));
}

TEST_F(RegistrationTest, ParentKeysGoOnlyWhenCreatedByUsAndEmpty) {
    auto missing = sim::MissingParentKeys();
    // Drivers itself may exist already: the device table keeps Drivers\Active below it.
    ASSERT_FALSE(missing.empty());
    EXPECT_EQ(missing.front(), u"Drivers\\BuiltIn");
    sim::Registration ours;
    bool replaced = false;
    std::string error;
    ASSERT_TRUE(sim::RegisterDevice(Gps(1), "/dev/pts/1", ours, replaced, error));
    EXPECT_TRUE(sim::MissingParentKeys().empty());
    // Someone else's driver arrives meanwhile.
    HKEY other;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"Drivers\\BuiltIn\\Serial3", 0, nullptr, 0,
                              KEY_ALL_ACCESS, nullptr, &other, nullptr),
              ERROR_SUCCESS);
    RegCloseKey(other);
    sim::Unregister(ours);
    sim::RemoveEmptyKeys(missing);
    EXPECT_TRUE(KeyExists(u"Drivers\\BuiltIn\\Serial3"));
    ASSERT_EQ(RegDeleteKeyW(HKEY_LOCAL_MACHINE, u"Drivers\\BuiltIn\\Serial3"), ERROR_SUCCESS);
    sim::RemoveEmptyKeys(missing);
    EXPECT_FALSE(KeyExists(u"Drivers\\BuiltIn"));
}

}  // namespace
