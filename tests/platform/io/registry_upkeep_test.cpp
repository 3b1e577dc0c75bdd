// The registry file's upkeep: a held lock makes a write fail instead of hanging, killed
// writers' copies go away, the file keeps its permissions and its link, and the device
// manager's start writes once when it changes keys and not at all when it changes none.
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <string>
#include <thread>

#include "internal/registry_store.h"
#include "platform/base/account.h"
#include "platform/io/devices.h"
#include "platform/io/registry.h"
#include "support/device_trees.h"
#include "support/test_support.h"

namespace {

namespace fs = std::filesystem;
using testsupport::ReadFileBytes;
using testsupport::WriteFileBytes;

// A private registry file and device trees; ttys are added as USB adapters.
class RegistryUpkeepTest : public testsupport::DeviceTreeTest {
  protected:
    void SetUp() override {
        fs::create_directories(sys + "/class/tty");
        fs::create_directories(dev + "/serial/by-id");
        fs::create_directories(proc);
        WriteFileBytes(proc + "/consoles", "ttyS0                -W- (EC  p a)    4:64\n");
        WriteFileBytes(file,
                       "Windows Registry Editor Version 5.00\n\n"
                       "[HKEY_CURRENT_USER\\Software\\Belvane]\n\"Mode\"=\"old\"\n");
    }
    // Leaves no devices of the fake host behind for other tests.
    void TearDown() override {
        fs::remove_all(sys);
        fs::remove_all(dev);
        platform::StartDeviceManager();
    }

    void AddUsbTty(int n) {
        const std::string tty = "ttyUSB" + std::to_string(n);
        const std::string usb = sys + "/devices/pci0000:00/usb1/1-" + std::to_string(n + 1);
        const std::string device = usb + "/1-" + std::to_string(n + 1) + ":1.0/" + tty;
        WriteFileBytes(usb + "/idVendor", "0403\n");
        fs::create_directories(device);
        fs::create_directories(sys + "/bus/drivers/ftdi_sio");
        fs::create_symlink(sys + "/bus/drivers/ftdi_sio", device + "/driver");
        fs::create_directories(sys + "/class/tty/" + tty);
        fs::create_symlink(device, sys + "/class/tty/" + tty + "/device");
        WriteFileBytes(dev + "/" + tty, "");
    }

    static LONG SetMode(const std::u16string& text) {
        HKEY key = nullptr;
        LONG status = RegCreateKeyExW(HKEY_CURRENT_USER, u"Software\\Belvane", 0, nullptr, 0,
                                      KEY_ALL_ACCESS, nullptr, &key, nullptr);
        if (status != ERROR_SUCCESS) return status;
        status =
            RegSetValueExW(key, u"Mode", 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                           static_cast<DWORD>((text.size() + 1) * 2));
        RegCloseKey(key);
        return status;
    }

    static unsigned Writes() {
        platform::detail::Store& s = platform::detail::TheStore();
        std::lock_guard<std::mutex> lock(s.mutex);
        return s.writes;
    }

    static struct stat Stat(const std::string& path) {
        struct stat st {};
        EXPECT_EQ(lstat(path.c_str(), &st), 0) << path;
        return st;
    }
};

// Another program's lock is waited for a few seconds, then the write fails with one line
// that names the file; nothing waits forever and the file stays as it was. A start in
// that time gives up once, not at every key.
TEST_F(RegistryUpkeepTest, HeldLockFailsTheWriteWithAMessage) {
    const int holder = open((file + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    ASSERT_GE(holder, 0);
    ASSERT_EQ(flock(holder, LOCK_EX), 0);
    const std::string before = ReadFileBytes(file);

    platform::ClearAccount();
    EXPECT_EQ(SetMode(u"new"), ERROR_CANTWRITE);
    EXPECT_EQ(SetMode(u"old"), ERROR_SUCCESS);  // as it is: nothing to write, no lock needed
    const std::string line = "another program holds the registry file " + file;
    std::string told = testsupport::TakeAccount();
    EXPECT_NE(told.find(line), std::string::npos) << told;
    AddUsbTty(0);
    AddUsbTty(1);
    platform::StartDeviceManager();
    told = testsupport::TakeAccount();
    EXPECT_EQ(told, line + "; the change is not written\n") << "the start says so once";
    EXPECT_EQ(ReadFileBytes(file), before);

    close(holder);
    EXPECT_EQ(SetMode(u"new"), ERROR_SUCCESS);
    EXPECT_NE(ReadFileBytes(file).find("\"Mode\"=\"new\""), std::string::npos);
}

// Copies left by killed writers go at the next write; a copy whose writer still lives
// (under the former shared name) and other files stay.
TEST_F(RegistryUpkeepTest, KilledWritersCopiesAreRemoved) {
    const pid_t child = fork();
    if (child == 0) _exit(0);
    ASSERT_GT(child, 0);
    ASSERT_EQ(waitpid(child, nullptr, 0), child);
    const std::string ours = dir.file(".registry.reg.tmp-" + std::to_string(child) + "-3");
    const std::string oldDead = dir.file(".registry.tmp-" + std::to_string(child) + "-1");
    const std::string oldLiving = dir.file(".registry.tmp-" + std::to_string(getpid()) + "-1");
    const std::string other = dir.file(".other.reg.tmp-1-1");
    for (const std::string& path : {ours, oldDead, oldLiving, other})
        WriteFileBytes(path, std::string(4096, 'x'));

    ASSERT_EQ(SetMode(u"new"), ERROR_SUCCESS);
    EXPECT_FALSE(fs::exists(ours));
    EXPECT_FALSE(fs::exists(oldDead));
    EXPECT_TRUE(fs::exists(oldLiving));
    EXPECT_TRUE(fs::exists(other));
    for (const auto& entry : fs::directory_iterator(dir.path()))  // no copy of its own either
        EXPECT_EQ(entry.path().filename().string().find(".registry.reg.tmp-"), std::string::npos);
}

// The new file has the old one's permissions; a link stays a link and the file it leads
// to gets the change, also when that file does not exist yet.
TEST_F(RegistryUpkeepTest, WriteKeepsPermissionsAndLinks) {
    ASSERT_EQ(chmod(file.c_str(), 0600), 0);
    ASSERT_EQ(SetMode(u"private"), ERROR_SUCCESS);
    EXPECT_EQ(Stat(file).st_mode & 07777, 0600u);

    const std::string real = dir.file("real");
    fs::create_directory(real);
    fs::rename(file, real + "/kept.reg");
    ASSERT_EQ(chmod((real + "/kept.reg").c_str(), 0640), 0);
    fs::create_symlink("real/kept.reg", file);
    ASSERT_EQ(SetMode(u"through the link"), ERROR_SUCCESS);
    EXPECT_TRUE(S_ISLNK(Stat(file).st_mode));
    EXPECT_EQ(Stat(real + "/kept.reg").st_mode & 07777, 0640u);
    EXPECT_NE(ReadFileBytes(real + "/kept.reg").find("through the link"), std::string::npos);

    fs::remove(file);
    fs::create_symlink(real + "/new.reg", file);  // leads nowhere yet
    ASSERT_EQ(SetMode(u"created"), ERROR_SUCCESS);
    EXPECT_TRUE(S_ISLNK(Stat(file).st_mode));
    EXPECT_NE(ReadFileBytes(real + "/new.reg").find("created"), std::string::npos);
}

// A start that adds keys for several devices writes the file once; the next start, with
// nothing new, leaves it untouched, as does setting a value to what it is.
TEST_F(RegistryUpkeepTest, StartWritesOnceAndNotAtAllWhenNothingChanged) {
    AddUsbTty(0);
    AddUsbTty(1);
    AddUsbTty(2);
    const unsigned before = Writes();
    platform::StartDeviceManager();
    EXPECT_EQ(Writes(), before + 1);
    const std::string text = ReadFileBytes(file);
    for (const char* tty : {"ttyUSB0", "ttyUSB1", "ttyUSB2"})
        EXPECT_NE(text.find(tty), std::string::npos) << tty;
    EXPECT_NE(text.find("\"Mode\"=\"old\""), std::string::npos);

    const struct stat written = Stat(file);
    platform::StartDeviceManager();
    EXPECT_EQ(SetMode(u"old"), ERROR_SUCCESS);
    EXPECT_EQ(Writes(), before + 1);
    const struct stat after = Stat(file);
    EXPECT_EQ(after.st_ino, written.st_ino);
    EXPECT_EQ(after.st_mtim.tv_nsec, written.st_mtim.tv_nsec);
    EXPECT_EQ(ReadFileBytes(file), text);
}

// A batch belongs to its thread (the device manager's watcher opens one while the program
// writes its own keys): another thread's change waits for the batch's end, and is written
// when it reports success, beside the batch's own change.
TEST_F(RegistryUpkeepTest, AnotherThreadsChangeWaitsForAnOpenBatch) {
    std::atomic<bool> batchOver{false};
    LONG status = -1;
    std::thread writer;
    {
        platform::detail::RegistryBatch batch;
        HKEY key = nullptr;
        ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, u"Software\\Belvane\\Held", 0, nullptr, 0,
                                  KEY_ALL_ACCESS, nullptr, &key, nullptr),
                  ERROR_SUCCESS);
        RegCloseKey(key);
        writer = std::thread([&] {
            status = SetMode(u"new");
            EXPECT_TRUE(batchOver.load()) << "the change joined another thread's batch";
            EXPECT_NE(ReadFileBytes(file).find("\"Mode\"=\"new\""), std::string::npos)
                << "reported done before it was written";
        });
        std::this_thread::sleep_for(std::chrono::milliseconds(200));  // lets it reach the store
        batchOver = true;
    }
    writer.join();
    EXPECT_EQ(status, ERROR_SUCCESS);
    const std::string text = ReadFileBytes(file);
    EXPECT_NE(text.find("[HKEY_CURRENT_USER\\Software\\Belvane\\Held]"), std::string::npos) << text;
    EXPECT_EQ(testsupport::TakeAccount(), "");
}

}  // namespace
