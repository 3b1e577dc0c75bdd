#include "platform/io/devices.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <map>
#include <string>

#include "internal/devices_internal.h"
#include "platform/base/strings.h"
#include "platform/io/files.h"
#include "platform/io/registry.h"
#include "support/device_trees.h"
#include "support/test_support.h"

namespace {

namespace fs = std::filesystem;
using platform::FromUtf8;
using platform::ToUtf8;
using testsupport::ReadFileBytes;
using testsupport::WriteFileBytes;

constexpr const char* kFtdiById = "usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0";
constexpr const char* kAcmById = "usb-u-blox_AG_-_www.u-blox.com_u-blox_7_-_GPS_GNSS_Receiver-if00";

// A private registry and fake sysfs, /dev and /proc trees.
class DevicesTest : public testsupport::DeviceTreeTest {
  protected:
    std::string log = dir.file("driver.log");
    testsupport::ScopedEnv driverLog{"BELVANE_TEST_DRIVER_LOG", log.c_str()};

    void SetUp() override {
        fs::create_directories(sys + "/class/tty");
        fs::create_directories(dev + "/serial/by-id");
        fs::create_directories(proc);
        WriteFileBytes(proc + "/consoles", "ttyS0                -W- (EC  p a)    4:64\n");
    }
    // Leaves no devices of the fake host behind for other tests.
    void TearDown() override {
        fs::remove_all(sys);
        fs::remove_all(dev);
        platform::StartDeviceManager();
    }

    void Put(const std::string& path, const std::string& text) {
        fs::create_directories(fs::path(path).parent_path());
        WriteFileBytes(path, text + "\n");
    }
    void Link(const std::string& target, const std::string& link) {
        fs::create_directories(fs::path(link).parent_path());
        fs::create_symlink(target, link);
    }
    // A tty in the class directory with its /dev node; deviceDir empty for none.
    void AddTty(const std::string& name, const std::string& deviceDir, const std::string& driver) {
        fs::create_directories(sys + "/class/tty/" + name);
        WriteFileBytes(dev + "/" + name, "");
        if (deviceDir.empty()) return;
        fs::create_directories(deviceDir);
        Link(deviceDir, sys + "/class/tty/" + name + "/device");
        fs::create_directories(sys + "/bus/drivers/" + driver);
        Link(sys + "/bus/drivers/" + driver, deviceDir + "/driver");
    }
    void AddUsb(const std::string& tty, const std::string& usbDir, const std::string& interface,
                const std::string& driver, const std::string& maker, const std::string& product,
                const std::string& byId) {
        std::string usb = sys + "/devices/pci0000:00/usb1/" + usbDir;
        Put(usb + "/idVendor", "0403");
        Put(usb + "/idProduct", "6001");
        Put(usb + "/manufacturer", maker);
        Put(usb + "/product", product);
        std::string device = usb + "/" + interface + (tty.rfind("ttyUSB", 0) == 0 ? "/" + tty : "");
        AddTty(tty, device, driver);
        Link("../../" + tty, dev + "/serial/by-id/" + byId);
    }
    void AddUart(const std::string& tty, const std::string& type) {
        AddTty(tty, sys + "/devices/platform/serial8250/tty/" + tty, "serial8250");
        Put(sys + "/class/tty/" + tty + "/type", type);
    }
    // The fake host: a USB adapter, a CDC ACM receiver, the console UART, a UART of unknown
    // type, a UART with hardware, an rfcomm binding and a virtual terminal.
    void BuildHost() {
        AddUsb("ttyUSB0", "1-1", "1-1:1.0", "ftdi_sio", "FTDI", "FT232R USB UART", kFtdiById);
        AddUsb("ttyACM0", "1-2", "1-2:1.0", "cdc_acm", "u-blox AG - www.u-blox.com",
               "u-blox 7 - GPS/GNSS Receiver", kAcmById);
        AddUart("ttyS0", "4");
        AddUart("ttyS1", "0");
        AddUart("ttyS2", "4");
        AddTty("rfcomm0", "", "");
        AddTty("tty0", "", "");
    }

    static std::u16string Query(const std::u16string& path, const char16_t* name) {
        HKEY key;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
            return u"<no key>";
        char16_t buf[256] = {};
        DWORD size = sizeof buf - 2, type = 0;
        LONG status =
            RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(buf), &size);
        RegCloseKey(key);
        if (status != ERROR_SUCCESS) return u"<no value>";
        if (type == REG_DWORD) {
            DWORD value = 0;
            std::memcpy(&value, buf, sizeof value);
            return FromUtf8(std::to_string(value));
        }
        return buf;
    }

    static std::vector<std::u16string> SubKeys(const char16_t* path) {
        std::vector<std::u16string> names;
        HKEY key;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path, 0, KEY_READ, &key) != ERROR_SUCCESS)
            return names;
        char16_t name[256];
        DWORD length = 256;
        for (DWORD i = 0; RegEnumKeyExW(key, i, name, &length, nullptr, nullptr, nullptr,
                                        nullptr) == ERROR_SUCCESS;
             ++i, length = 256)
            names.emplace_back(name);
        RegCloseKey(key);
        return names;
    }

    // Drivers\Active as "Name" -> "Key".
    static std::map<std::string, std::string> Active() {
        std::map<std::string, std::string> out;
        for (const std::u16string& sub : SubKeys(u"Drivers\\Active")) {
            std::u16string path = u"Drivers\\Active\\" + sub;
            out[ToUtf8(Query(path, u"Name"))] = ToUtf8(Query(path, u"Key"));
        }
        return out;
    }

    static void WriteKey(const std::u16string& path,
                         const std::vector<std::pair<const char16_t*, std::u16string>>& strings,
                         const std::vector<std::pair<const char16_t*, DWORD>>& numbers) {
        HKEY key;
        ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_WRITE,
                                  nullptr, &key, nullptr),
                  ERROR_SUCCESS);
        for (const auto& [name, text] : strings)
            RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                           static_cast<DWORD>((text.size() + 1) * 2));
        for (const auto& [name, value] : numbers)
            RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), 4);
        RegCloseKey(key);
    }
};

TEST_F(DevicesTest, DiscoveryGivesStableNumbersAndPublishesDevices) {
    BuildHost();
    platform::StartDeviceManager();
    const std::string ftdiKey = std::string("Drivers\\BuiltIn\\Serial_") + kFtdiById;
    const std::string acmKey = std::string("Drivers\\BuiltIn\\Serial_") + kAcmById;
    const std::map<std::string, std::string> expected = {
        {"COM1:", "Drivers\\BuiltIn\\Serial_rfcomm0"},
        {"COM2:", ftdiKey},
        {"COM3:", acmKey},
        {"COM4:", "Drivers\\BuiltIn\\Serial_ttyS2"}};
    EXPECT_EQ(Active(), expected);
    EXPECT_EQ(Query(FromUtf8(ftdiKey), u"FriendlyName"), u"FT232R USB UART (FTDI)");
    EXPECT_EQ(Query(FromUtf8(ftdiKey), u"DevicePath"),
              FromUtf8(std::string("/dev/serial/by-id/") + kFtdiById));
    EXPECT_EQ(Query(FromUtf8(acmKey), u"FriendlyName"),
              u"u-blox 7 - GPS/GNSS Receiver (u-blox AG - www.u-blox.com)");
    EXPECT_EQ(Query(u"Drivers\\BuiltIn\\Serial_ttyS2", u"FriendlyName"),
              u"Serial port ttyS2 (serial8250)");
    EXPECT_EQ(SubKeys(u"Software\\Microsoft\\Bluetooth\\Serial\\Ports"),
              std::vector<std::u16string>{u"1"});
    EXPECT_EQ(Query(u"Software\\Microsoft\\Bluetooth\\Serial\\Ports\\1", u"Port"), u"COM1");
    std::string text = ReadFileBytes(file);
    EXPECT_EQ(text.find("ttyS0"), std::string::npos);  // the console is never taken
    EXPECT_EQ(text.find("ttyS1"), std::string::npos);  // nor a UART of unknown type
    EXPECT_EQ(text.find("Active"), std::string::npos);

    // Second run, with the adapter unplugged and another one plugged in: the numbers stay,
    // the absent adapter keeps its number but is not published, the new one gets the next.
    fs::remove(dev + "/ttyUSB0");
    fs::remove(dev + "/serial/by-id/" + std::string(kFtdiById));
    fs::remove_all(sys + "/class/tty/ttyUSB0");
    AddUsb("ttyUSB1", "1-3", "1-3:1.0", "cp210x", "Silicon Labs", "CP2102 USB to UART",
           "usb-Silicon_Labs_CP2102-if00-port0");
    platform::StartDeviceManager();
    auto second = Active();
    EXPECT_EQ(second.count("COM2:"), 0u);
    EXPECT_EQ(second["COM3:"], acmKey);
    EXPECT_EQ(second["COM4:"], "Drivers\\BuiltIn\\Serial_ttyS2");
    EXPECT_EQ(second["COM5:"], "Drivers\\BuiltIn\\Serial_usb-Silicon_Labs_CP2102-if00-port0");
    EXPECT_EQ(second.size(), 4u);

    // The adapter comes back, now as ttyUSB2: its by-id name gives it COM2 again.
    AddUsb("ttyUSB2", "1-1", "1-1:1.0", "ftdi_sio", "FTDI", "FT232R USB UART", kFtdiById);
    platform::StartDeviceManager();
    EXPECT_EQ(Active()["COM2:"], ftdiKey);

    // The rfcomm binding is released: its Bluetooth port goes, a port of others stays.
    WriteKey(u"Software\\Microsoft\\Bluetooth\\Serial\\Ports\\9", {{u"Port", u"COM9"}}, {});
    fs::remove_all(sys + "/class/tty/rfcomm0");
    fs::remove(dev + "/rfcomm0");
    platform::StartDeviceManager();
    EXPECT_EQ(Active().count("COM1:"), 0u);
    EXPECT_EQ(SubKeys(u"Software\\Microsoft\\Bluetooth\\Serial\\Ports"),
              std::vector<std::u16string>{u"9"});
}

// Without the list of consoles any tty might be the console: nothing is taken then.
TEST_F(DevicesTest, UnreadableConsoleListDiscoversNothing) {
    BuildHost();
    fs::remove(proc + "/consoles");
    platform::StartDeviceManager();
    EXPECT_TRUE(Active().empty());
    EXPECT_EQ(ReadFileBytes(file).find("Serial_"), std::string::npos);
}

TEST_F(DevicesTest, KeysOfTheUserDecideAndDriverKeysWaitForActivation) {
    // The user maps the GPS receiver to COM7 with a key of their own, before it is seen.
    WriteKey(u"Drivers\\BuiltIn\\GPS",
             {{u"Prefix", u"COM"},
              {u"DevicePath", FromUtf8(std::string("/dev/serial/by-id/") + kAcmById)},
              {u"FriendlyName", u"My GPS"}},
             {{u"Index", 7}});
    WriteKey(u"Drivers\\BuiltIn\\WM_COM0",
             {{u"Dll", u"\\nowhere\\Morvex.dll"}, {u"Prefix", u"COM"}},
             {{u"Index", 2}, {u"Order", 0}});
    BuildHost();
    platform::StartDeviceManager();
    auto active = Active();
    EXPECT_EQ(active["COM7:"], "Drivers\\BuiltIn\\GPS");
    EXPECT_EQ(
        std::count_if(active.begin(), active.end(),
                      [](const auto& e) { return e.second.find("WM_COM0") != std::string::npos; }),
        0);
    EXPECT_EQ(ReadFileBytes(file).find(std::string("Serial_") + kAcmById), std::string::npos);
    EXPECT_EQ(active.size(), 4u);  // COM1 rfcomm, COM2 adapter, COM3 ttyS2, COM7 GPS
    EXPECT_EQ(active["COM3:"], "Drivers\\BuiltIn\\Serial_ttyS2");
}

// A Windows-form path to a host file, as Belvane writes into Dll.
std::u16string WindowsForm(const std::string& host) {
    std::u16string out = FromUtf8(host);
    for (char16_t& c : out)
        if (c == u'/') c = u'\\';
    return out;
}

TEST_F(DevicesTest, ActivateLoadsTheDriverAndDeactivateUnloadsIt) {
    WriteKey(u"Drivers\\BuiltIn\\WM_COM0",
             {{u"Dll", WindowsForm(TEST_DRIVER_OK)}, {u"Prefix", u"COM"}},
             {{u"Order", 0}, {u"Index", 3}});
    HANDLE device = ActivateDevice(u"Drivers\\BuiltIn\\WM_COM0\\", 0);
    ASSERT_NE(device, nullptr) << GetLastError();
    auto active = Active();
    EXPECT_EQ(active["COM3:"], "Drivers\\BuiltIn\\WM_COM0");
    // Its name, in any case, is the driver's: it takes no opens through CreateFileW.
    EXPECT_EQ(CreateFileW(u"com3:", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr),
              INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_SUPPORTED));
    // The name is taken now, also for a second activation.
    EXPECT_EQ(ActivateDevice(u"Drivers\\BuiltIn\\WM_COM0", 0), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_DEVICE_IN_USE));
    EXPECT_TRUE(DeactivateDevice(device));
    EXPECT_EQ(Active().count("COM3:"), 0u);
    EXPECT_FALSE(DeactivateDevice(device));
    std::string calls = ReadFileBytes(log);
    EXPECT_NE(calls.find("init Drivers\\Active\\"), std::string::npos) << calls;
    EXPECT_NE(calls.find("deinit 7"), std::string::npos) << calls;
    // Freed: the same name can be activated again.
    device = ActivateDevice(u"Drivers\\BuiltIn\\WM_COM0\\", 0);
    EXPECT_NE(device, nullptr);
    DeactivateDevice(device);
}

TEST_F(DevicesTest, ActivateFailsOnATakenNameAMissingLibraryAndARefusingInit) {
    AddUart("ttyS2", "4");  // becomes COM1
    platform::StartDeviceManager();
    ASSERT_EQ(Active()["COM1:"], "Drivers\\BuiltIn\\Serial_ttyS2");
    auto activate = [&](const std::string& dll, const char16_t* prefix, DWORD index) {
        WriteKey(u"Drivers\\BuiltIn\\WM_COM0", {{u"Dll", WindowsForm(dll)}, {u"Prefix", prefix}},
                 {{u"Index", index}});
        return ActivateDevice(u"Drivers\\BuiltIn\\WM_COM0\\", 0);
    };
    EXPECT_EQ(activate(TEST_DRIVER_OK, u"COM", 1), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_DEVICE_IN_USE));
    EXPECT_EQ(activate(dir.file("Morvex.dll"), u"COM", 4), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
    EXPECT_EQ(activate(TEST_DRIVER_FAIL, u"COM", 4), nullptr);
    EXPECT_EQ(activate(TEST_DRIVER_OK, u"XYZ", 4), nullptr);  // no XYZ_Init
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PROC_NOT_FOUND));
    EXPECT_EQ(ActivateDevice(u"Drivers\\BuiltIn\\Missing\\", 0), nullptr);
    // Nothing of the failures stays behind: COM4 is free and published only once loaded.
    EXPECT_EQ(Active().size(), 1u);
    HANDLE device = activate(TEST_DRIVER_OK, u"COM", 4);
    ASSERT_NE(device, nullptr);
    EXPECT_EQ(Active().size(), 2u);
    DeactivateDevice(device);
}

}  // namespace
