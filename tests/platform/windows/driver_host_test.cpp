// Drivers on Windows run in belvane-devhost.exe: a sweep over the ways a driver can end
// (up and unloaded again, refusing, missing Init, missing library, crashing, hanging, a
// link in place of the library) checks what the caller gets, what the driver was called
// with, what Drivers\Active shows and what the account of failures says; the caller lives
// through all of them. The sample driver Morvex.dll comes up and goes down as well.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include "platform/base/strings.h"
#include "platform/io/devices.h"
#include "platform/io/files.h"
#include "support/test_support.h"

namespace {

using String = std::basic_string<WCHAR>;

constexpr WCHAR kKey[] = TEXT("Drivers\\BuiltIn\\TestDriver");

String Windows(const char* path) {
    return platform::WindowsPath(path);
}

void SetString(HKEY key, LPCWSTR name, const String& value) {
    RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                   static_cast<DWORD>((value.size() + 1) * sizeof(WCHAR)));
}

void WriteDriverKey(const String& dll, const String& prefix, DWORD index = 4) {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, kKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                              &key, nullptr),
              ERROR_SUCCESS);
    SetString(key, TEXT("Dll"), dll);
    SetString(key, TEXT("Prefix"), prefix);
    RegSetValueExW(key, TEXT("Index"), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&index),
                   sizeof index);
    RegCloseKey(key);
}

// The names under Drivers\Active.
std::vector<String> ActiveNames() {
    std::vector<String> names;
    HKEY active = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, TEXT("Drivers\\Active"), 0, KEY_READ, &active) !=
        ERROR_SUCCESS)
        return names;
    for (DWORD i = 0;; ++i) {
        WCHAR sub[64];
        DWORD length = 64;
        if (RegEnumKeyExW(active, i, sub, &length, nullptr, nullptr, nullptr, nullptr) !=
            ERROR_SUCCESS)
            break;
        WCHAR name[64] = {};
        DWORD size = sizeof(name) - sizeof(WCHAR);
        RegGetValueW(active, sub, TEXT("Name"), RRF_RT_REG_SZ, nullptr, name, &size);
        names.push_back(name);
    }
    RegCloseKey(active);
    return names;
}

class DriverHostTest : public ::testing::Test {
  protected:
    void SetUp() override {
        platform::StartDeviceManager();
        testsupport::TakeAccount();
    }
    // What the driver wrote to its log since the last call.
    std::string Calls() {
        const std::string text = testsupport::ReadFileBytes(log);
        std::remove(log.c_str());
        return text;
    }

    testsupport::TempDir dir;
    std::string log = dir.file("driver.log");
    testsupport::ScopedEnv driverLog{"BELVANE_TEST_DRIVER_LOG", log.c_str()};
};

TEST_F(DriverHostTest, UpAndDownAndEveryWayToFail) {
    WriteDriverKey(Windows(TEST_DRIVER_OK), TEXT("COM"));
    HANDLE device = ActivateDevice(kKey, 0);
    ASSERT_NE(device, nullptr);
    EXPECT_EQ(ActiveNames(), std::vector<String>{TEXT("COM4:")});
    EXPECT_EQ(Calls().rfind("init Drivers\\Active\\", 0), 0u);
    EXPECT_TRUE(DeactivateDevice(device));
    EXPECT_EQ(Calls(), "deinit 7\n");
    EXPECT_TRUE(ActiveNames().empty());

    const std::string ok = TEST_DRIVER_OK;
    struct Failure {
        String dll, prefix;
        DWORD error;
        std::string account;  // the start of the line noted, if any
    };
    const Failure failures[] = {
        {Windows(TEST_DRIVER_FAIL), TEXT("COM"), ERROR_GEN_FAILURE, ""},
        {Windows(TEST_DRIVER_OK), TEXT("XYZ"), ERROR_PROC_NOT_FOUND, ""},
        {Windows(TEST_DRIVER_OK) + TEXT(".missing"), TEXT("COM"), ERROR_MOD_NOT_FOUND, ""},
        {Windows(TEST_DRIVER_CRASH), TEXT("COM"), ERROR_GEN_FAILURE,
         platform::ToUtf8(Windows(TEST_DRIVER_CRASH)) +
             " crashed in COM_Init (exception 0xC0000005); not loaded\n"},
        {Windows(TEST_DRIVER_HANG), TEXT("COM"), ERROR_TIMEOUT,
         platform::ToUtf8(Windows(TEST_DRIVER_HANG)) +
             " did not return from COM_Init in 3 s; not loaded\n"},
    };
    for (const Failure& f : failures) {
        WriteDriverKey(f.dll, f.prefix);
        SetLastError(0);
        EXPECT_EQ(ActivateDevice(kKey, 0), nullptr) << platform::ToUtf8(f.dll);
        EXPECT_EQ(GetLastError(), f.error) << platform::ToUtf8(f.dll);
        EXPECT_TRUE(ActiveNames().empty()) << "the entry goes with the failure";
        EXPECT_EQ(testsupport::TakeAccount(), f.account);
        Calls();
    }
}

// A link where the library should be is refused, whatever it leads to.
TEST_F(DriverHostTest, ALinkInPlaceOfTheLibraryIsRefused) {
    const String copy = platform::FromUtf8(dir.file("driver.dll"));
    const String link = platform::FromUtf8(dir.file("linked.dll"));
    ASSERT_TRUE(CopyFileW(Windows(TEST_DRIVER_OK).c_str(), copy.c_str(), FALSE));
    if (!CreateSymbolicLinkW(link.c_str(), TEXT("driver.dll"), 0))
        GTEST_SKIP() << "no symbolic links here";
    // Wine 8 makes the link but shows it as no file at all.
    const DWORD attributes = GetFileAttributesW(link.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_REPARSE_POINT))
        GTEST_SKIP() << "links are not shown as reparse points here";
    WriteDriverKey(link, TEXT("COM"));
    EXPECT_EQ(ActivateDevice(kKey, 0), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_EQ(testsupport::TakeAccount(), platform::ToUtf8(link) + " is a link; not loaded\n");
    EXPECT_EQ(Calls(), "");
}

// A driver's device name must be free and have one digit other than 0: desktop Windows
// has no COM0: and opens "COMn:" only for n up to 9. Index 0 is what every scan offers, so
// only a larger one is the key's fault and noted.
TEST_F(DriverHostTest, DeviceNamesAreOneFreeDigitFromOneToNine) {
    WriteDriverKey(Windows(TEST_DRIVER_OK), TEXT("COM"));
    HANDLE first = ActivateDevice(kKey, 0);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(ActivateDevice(kKey, 0), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_DEVICE_IN_USE));
    WriteDriverKey(Windows(TEST_DRIVER_OK), TEXT("COM"), 0);
    EXPECT_EQ(ActivateDevice(kKey, 0), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_DEV_NOT_EXIST));
    EXPECT_EQ(testsupport::TakeAccount(), "");
    WriteDriverKey(Windows(TEST_DRIVER_OK), TEXT("COM"), 10);
    EXPECT_EQ(ActivateDevice(kKey, 0), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(testsupport::TakeAccount(),
              "Drivers\\BuiltIn\\TestDriver: Index 10 makes no device name COM1: to COM9:; "
              "not loaded\n");
    EXPECT_EQ(ActiveNames(), std::vector<String>{TEXT("COM4:")});
    EXPECT_TRUE(DeactivateDevice(first));
    EXPECT_EQ(Calls(), "init Drivers\\Active\\01\ndeinit 7\n");
}

TEST_F(DriverHostTest, TheSampleDriverComesUpAndGoesDown) {
    WriteDriverKey(Windows(SAMPLE_DRIVER), TEXT("COM"));
    HANDLE device = ActivateDevice(kKey, 0);
    ASSERT_NE(device, nullptr);
    EXPECT_EQ(ActiveNames(), std::vector<String>{TEXT("COM4:")});
    EXPECT_TRUE(DeactivateDevice(device));
    EXPECT_TRUE(ActiveNames().empty());
    EXPECT_EQ(testsupport::TakeAccount(), "");
}

}  // namespace
