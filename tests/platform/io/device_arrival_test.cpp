// Devices that come and go while the program runs: arrivals become active and open, a
// departure takes the Drivers\Active key and hangs up the open handle, a device that comes
// back has its old number, and the trust rules hold for latecomers as at start.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <thread>

#include "platform/base/strings.h"
#include "platform/io/devices.h"
#include "platform/io/files.h"
#include "platform/io/registry.h"
#include "platform/io/serial.h"
#include "support/device_trees.h"
#include "support/test_support.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using platform::FromUtf8;
using platform::ToUtf8;
using testsupport::WriteFileBytes;

constexpr const char* kGpsById = "usb-u-blox_AG_-_www.u-blox.com_u-blox_7_-_GPS_GNSS_Receiver-if00";

// Polls until done() holds, for at most a few seconds (never a measure of speed).
bool Eventually(const std::function<bool()>& done) {
    for (auto end = std::chrono::steady_clock::now() + 8s; std::chrono::steady_clock::now() < end;
         std::this_thread::sleep_for(5ms))
        if (done()) return true;
    return done();
}

std::string Listed(const std::map<std::string, std::string>& active) {
    std::string text;
    for (const auto& [name, key] : active) text += name + " " + key + "\n";
    return text;
}

class DeviceArrivalTest : public testsupport::DeviceTreeTest {
  protected:
    void SetUp() override {
        fs::create_directories(sys + "/class/tty");
        fs::create_directories(dev);
        fs::create_directories(proc);
        WriteFileBytes(proc + "/consoles", "ttyS0                -W- (EC  p a)    4:64\n");
    }
    // The monitor is stopped with the trees still there: a new start watches a /dev that is
    // then gone.
    void TearDown() override {
        fs::remove_all(dev);
        platform::StartDeviceManager();
    }

    // A USB serial adapter as the kernel and udev make it: sysfs entry, node (a link to the
    // pty that stands in for it) and by-id link.
    void PlugUsb(const std::string& tty, const std::string& byId, const testsupport::PtyPair& pty) {
        std::string usb = sys + "/devices/usb1/1-1";
        fs::create_directories(usb + "/1-1:1.0");
        WriteFileBytes(usb + "/idVendor", "1546\n");
        WriteFileBytes(usb + "/idProduct", "01a7\n");
        fs::create_directories(sys + "/class/tty/" + tty);
        fs::create_symlink(usb + "/1-1:1.0", sys + "/class/tty/" + tty + "/device");
        fs::create_directories(dev + "/serial/by-id");
        fs::create_symlink(pty.slavePath(), dev + "/" + tty);
        fs::create_symlink("../../" + tty, dev + "/serial/by-id/" + byId);
    }
    void Unplug(const std::string& tty, const std::string& byId) {
        fs::remove(dev + "/serial/by-id/" + byId);
        fs::remove(dev + "/" + tty);
        fs::remove_all(sys + "/class/tty/" + tty);
    }

    // Drivers\Active as "Name" -> "Key".
    static std::map<std::string, std::string> Active() {
        std::map<std::string, std::string> out;
        HKEY active;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"Drivers\\Active", 0, KEY_READ, &active) !=
            ERROR_SUCCESS)
            return out;
        char16_t sub[64];
        DWORD length = 64;
        for (DWORD i = 0; RegEnumKeyExW(active, i, sub, &length, nullptr, nullptr, nullptr,
                                        nullptr) == ERROR_SUCCESS;
             ++i, length = 64) {
            HKEY key;
            if (RegOpenKeyExW(active, sub, 0, KEY_READ, &key) != ERROR_SUCCESS) continue;
            char16_t name[64] = {}, from[256] = {};
            DWORD nameSize = sizeof name - 2, fromSize = sizeof from - 2;
            RegQueryValueExW(key, u"Name", nullptr, nullptr, reinterpret_cast<BYTE*>(name),
                             &nameSize);
            RegQueryValueExW(key, u"Key", nullptr, nullptr, reinterpret_cast<BYTE*>(from),
                             &fromSize);
            RegCloseKey(key);
            out[ToUtf8(name)] = ToUtf8(from);
        }
        RegCloseKey(active);
        return out;
    }

    static void WriteKey(const std::u16string& name, const std::string& devicePath, DWORD index) {
        HKEY key;
        std::u16string path = u"Drivers\\BuiltIn\\" + name;
        ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_WRITE,
                                  nullptr, &key, nullptr),
                  ERROR_SUCCESS);
        std::u16string text = FromUtf8(devicePath);
        RegSetValueExW(key, u"Prefix", 0, REG_SZ, reinterpret_cast<const BYTE*>(u"COM"), 8);
        RegSetValueExW(key, u"DevicePath", 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                       static_cast<DWORD>((text.size() + 1) * 2));
        RegSetValueExW(key, u"Index", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&index), 4);
        RegCloseKey(key);
    }
};

TEST_F(DeviceArrivalTest, AnAdapterComesGoesAndComesBackWithItsNumber) {
    testsupport::PtyPair other, taken;
    WriteKey(u"Taken", taken.slavePath(), 1);  // the adapter gets the next free number
    platform::StartDeviceManager();
    EXPECT_FALSE(Opens(u"COM2:"));

    auto gps = std::make_unique<testsupport::PtyPair>();
    PlugUsb("ttyACM0", kGpsById, *gps);
    const std::string gpsKey = std::string("Drivers\\BuiltIn\\Serial_") + kGpsById;
    ASSERT_TRUE(Eventually([&] { return Active()["COM2:"] == gpsKey; })) << "not activated";
    HANDLE port = Open(u"COM2:");
    ASSERT_NE(port, INVALID_HANDLE_VALUE) << GetLastError();
    gps->Write("$GPRMC");
    char buf[16];
    DWORD got = 0;
    COMMTIMEOUTS timeouts{0, 0, 2000, 0, 0};
    SetCommTimeouts(port, &timeouts);
    ASSERT_TRUE(ReadFile(port, buf, 6, &got, nullptr));
    EXPECT_EQ(std::string(buf, got), "$GPRMC");

    // Pulled out: the key goes, the open handle reads the end of the line.
    Unplug("ttyACM0", kGpsById);
    gps.reset();
    EXPECT_TRUE(Eventually([&] { return Active().count("COM2:") == 0; }));
    EXPECT_FALSE(ReadFile(port, buf, 1, &got, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_DEVICE_NOT_CONNECTED));
    DWORD events = 0;
    SetCommMask(port, EV_RXCHAR);
    EXPECT_FALSE(WaitCommEvent(port, &events, nullptr)) << "a hang-up, not a wait for ever";
    CloseHandle(port);
    EXPECT_FALSE(Opens(u"COM2:"));

    // Another device meanwhile takes the next number; the receiver, back on another tty
    // and pty, has its own again.
    PlugUsb("ttyUSB0", "usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0", other);
    EXPECT_TRUE(Eventually([&] { return Opens(u"COM3:"); }));
    testsupport::PtyPair back;
    PlugUsb("ttyACM1", kGpsById, back);
    EXPECT_TRUE(Eventually([&] { return Opens(u"COM2:"); })) << GetLastError();
    EXPECT_EQ(Active()["COM2:"], gpsKey);
    EXPECT_TRUE(Opens(u"COM1:"));
}

// A key whose device link is made after start: in the watched /dev, and elsewhere, where
// only the look on a failed open finds it.
TEST_F(DeviceArrivalTest, ARegisteredKeyOpensOnceItsDeviceIsThere) {
    testsupport::PtyPair inDev, elsewhere;
    std::string outside = dir.file("links/gps");
    WriteKey(u"InDev", "/dev/gps0", 4);
    WriteKey(u"Elsewhere", outside, 5);
    platform::StartDeviceManager();
    EXPECT_FALSE(Opens(u"COM4:"));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_FALSE(Opens(u"COM5:"));

    fs::create_directories(dir.file("links"));
    fs::create_symlink(elsewhere.slavePath(), outside);
    EXPECT_TRUE(Eventually([&] { return Opens(u"COM5:"); })) << GetLastError();
    fs::create_symlink(inDev.slavePath(), dev + "/gps0");
    EXPECT_TRUE(Eventually([&] { return Opens(u"COM4:"); })) << GetLastError();
    EXPECT_EQ(Active()["COM5:"], "Drivers\\BuiltIn\\Elsewhere");
}

// The console that arrives later, by discovery or through a key, is never taken; a plain
// adapter that arrives with it is.
TEST_F(DeviceArrivalTest, AConsoleThatArrivesLaterIsNeverTaken) {
    platform::StartDeviceManager();
    testsupport::PtyPair console, adapter;
    struct stat st {};
    ASSERT_EQ(stat(console.slavePath().c_str(), &st), 0);
    WriteFileBytes(proc + "/consoles", "ttyS0 -W- (EC p a) 4:64\nttyS3 -W- (E) " +
                                           std::to_string(major(st.st_rdev)) + ":" +
                                           std::to_string(minor(st.st_rdev)) + "\n");
    fs::create_directories(sys + "/devices/platform/serial8250/tty/ttyS3");
    fs::create_directories(sys + "/class/tty/ttyS3");
    fs::create_symlink(sys + "/devices/platform/serial8250/tty/ttyS3",
                       sys + "/class/tty/ttyS3/device");
    WriteFileBytes(sys + "/class/tty/ttyS3/type", "4\n");
    fs::create_symlink(console.slavePath(), dev + "/ttyS3");
    WriteKey(u"ByKey", "/dev/console-link", 6);
    fs::create_symlink(console.slavePath(), dev + "/console-link");
    PlugUsb("ttyUSB0", "usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0", adapter);

    ASSERT_TRUE(Eventually([&] { return Opens(u"COM1:"); })) << "the adapter";
    std::this_thread::sleep_for(1100ms);  // past the interval of looks on failed opens
    EXPECT_FALSE(Opens(u"COM6:"));
    EXPECT_FALSE(Opens(u"COM2:"));
    EXPECT_EQ(Active().size(), 1u);
}

// Devices arriving and leaving in bursts while other threads open them and the program
// starts the device manager again: no race (run under the thread sanitizer), and once the
// trees settle the table agrees with them.
TEST_F(DeviceArrivalTest, ArrivalsAndDeparturesRaceWithOpens) {
    testsupport::PtyPair keyed, found;
    WriteKey(u"Racer", "/dev/racer", 4);
    platform::StartDeviceManager();
    std::atomic<bool> done{false};
    std::atomic<unsigned> opened{0};
    auto opener = [&](LPCWSTR name) {
        while (!done) {
            HANDLE port = Open(name);
            if (port == INVALID_HANDLE_VALUE) continue;
            ++opened;
            char buf[1];
            DWORD got = 0;
            COMMTIMEOUTS timeouts{MAXDWORD, 0, 0, 0, 0};
            SetCommTimeouts(port, &timeouts);
            ReadFile(port, buf, 1, &got, nullptr);
            CloseHandle(port);
        }
    };
    std::thread first(opener, u"COM4:"), second(opener, u"COM1:");
    unsigned seed = 1;
    for (int cycle = 0; cycle < 200; ++cycle) {
        fs::create_symlink(keyed.slavePath(), dev + "/racer");
        PlugUsb("ttyUSB0", "usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0", found);
        seed = seed * 1103515245 + 12345;
        std::this_thread::sleep_for(std::chrono::milliseconds((seed >> 16) % 40));
        fs::remove(dev + "/racer");
        Unplug("ttyUSB0", "usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0");
        if (cycle % 70 == 35) platform::StartDeviceManager();
    }
    fs::create_symlink(keyed.slavePath(), dev + "/racer");
    PlugUsb("ttyUSB0", "usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0", found);
    EXPECT_TRUE(Eventually([&] { return Active().size() == 2; })) << Listed(Active());
    done = true;
    first.join();
    second.join();
    EXPECT_GT(opened.load(), 0u);
    EXPECT_EQ(Active()["COM4:"], "Drivers\\BuiltIn\\Racer");
    EXPECT_EQ(Active()["COM1:"],
              "Drivers\\BuiltIn\\Serial_usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0");
}

}  // namespace
