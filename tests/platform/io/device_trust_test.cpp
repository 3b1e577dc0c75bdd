// What the device manager refuses to hand out or to run: terminals of sessions, the
// console, keys of processes that are gone or that make no device name, and drivers that
// crash, hang or could have been changed by someone else.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "linux/process_identity.h"
#include "platform/base/account.h"
#include "platform/base/strings.h"
#include "platform/io/devices.h"
#include "platform/io/files.h"
#include "platform/io/registry.h"
#include "platform/io/serial.h"
#include "support/device_trees.h"
#include "support/test_support.h"

namespace {

namespace fs = std::filesystem;
using platform::FromUtf8;
using testsupport::WriteFileBytes;

class DeviceTrustTest : public ::testing::Test {
  protected:
    testsupport::TempDir dir;
    std::string proc = dir.file("proc");
    std::string file = dir.file("registry.reg");
    testsupport::ScopedEnv registry{"BELVANE_REGISTRY", file.c_str()};
    testsupport::ScopedEnv sysfs{"BELVANE_SYSFS_ROOT", dir.path().c_str()};
    testsupport::ScopedEnv dev{"BELVANE_DEV_ROOT", nullptr};
    testsupport::ScopedEnv procRoot{"BELVANE_PROC_ROOT", proc.c_str()};

    void SetUp() override { fs::create_directories(proc); }
    void TearDown() override { platform::StartDeviceManager(); }

    static void WriteKey(const std::u16string& name, const std::string& devicePath, DWORD index,
                         const std::vector<std::pair<const char16_t*, DWORD>>& numbers = {},
                         const std::u16string& ownerStart = u"") {
        HKEY key;
        std::u16string path = u"Drivers\\BuiltIn\\" + name;
        ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_WRITE,
                                  nullptr, &key, nullptr),
                  ERROR_SUCCESS);
        auto text = [&](const char16_t* value, const std::u16string& s) {
            RegSetValueExW(key, value, 0, REG_SZ, reinterpret_cast<const BYTE*>(s.c_str()),
                           static_cast<DWORD>((s.size() + 1) * 2));
        };
        text(u"Prefix", u"COM");
        text(u"DevicePath", FromUtf8(devicePath));
        if (!ownerStart.empty()) text(u"OwnerStart", ownerStart);
        RegSetValueExW(key, u"Index", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&index), 4);
        for (const auto& [value, number] : numbers)
            RegSetValueExW(key, value, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number), 4);
        RegCloseKey(key);
    }

    static HANDLE Open(LPCWSTR name) { return testsupport::DeviceTreeTest::Open(name); }
    static bool Opens(LPCWSTR name) { return testsupport::DeviceTreeTest::Opens(name); }

    static std::string DeviceNumber(const std::string& path) {
        struct stat st {};
        stat(path.c_str(), &st);
        return std::to_string(major(st.st_rdev)) + ":" + std::to_string(minor(st.st_rdev));
    }
};

// A child that makes the pty its controlling terminal in a session of its own, as a login
// on a terminal does, and keeps it until the test lets it go.
class Session {
  public:
    explicit Session(const std::string& tty) {
        int ready[2], release[2];
        if (pipe(ready) != 0 || pipe(release) != 0) return;
        pid_ = fork();
        if (pid_ == 0) {
            close(ready[0]);
            close(release[1]);
            setsid();
            int fd = open(tty.c_str(), O_RDWR);  // no O_NOCTTY: it becomes the terminal
            char ok = fd >= 0 ? 'y' : 'n';
            if (write(ready[1], &ok, 1) != 1) _exit(1);
            char any;
            while (read(release[0], &any, 1) > 0) {
            }
            _exit(0);
        }
        close(ready[1]);
        close(release[0]);
        release_ = release[1];
        char ok = 'n';
        ready_ = read(ready[0], &ok, 1) == 1 && ok == 'y';
        close(ready[0]);
    }
    ~Session() { End(); }
    bool ready() const { return ready_; }
    void End() {
        if (pid_ <= 0) return;
        close(release_);
        waitpid(pid_, nullptr, 0);
        pid_ = -1;
    }

  private:
    pid_t pid_ = -1;
    int release_ = -1;
    bool ready_ = false;
};

TEST_F(DeviceTrustTest, ASessionsTerminalIsNeitherActivatedNorOpened) {
    testsupport::ScopedEnv realProc{"BELVANE_PROC_ROOT", "/proc"};
    testsupport::PtyPair pty;
    WriteKey(u"Term", pty.slavePath(), 5);
    platform::StartDeviceManager();
    ASSERT_TRUE(Opens(u"COM5:")) << "nobody's terminal yet: " << GetLastError();

    Session session(pty.slavePath());
    ASSERT_TRUE(session.ready());
    EXPECT_FALSE(Opens(u"COM5:")) << "published before the session took it";
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    platform::StartDeviceManager();
    EXPECT_FALSE(Opens(u"COM5:"));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND)) << "not activated";

    session.End();
    platform::StartDeviceManager();
    EXPECT_TRUE(Opens(u"COM5:")) << GetLastError();
}

// The console is found by its device number, so a link to it is refused as well.
TEST_F(DeviceTrustTest, TheConsoleIsNeitherActivatedNorOpenedWhateverTheKeySays) {
    testsupport::PtyPair pty;
    std::string link = dir.file("console-link");
    fs::create_symlink(pty.slavePath(), link);
    std::string consoleLine = "pts/x -W- (EC p a) " + DeviceNumber(pty.slavePath()) + "\n";
    WriteFileBytes(proc + "/consoles", consoleLine);
    WriteKey(u"Console", link, 6);
    platform::StartDeviceManager();
    EXPECT_FALSE(Opens(u"COM6:"));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND)) << "not activated";

    WriteFileBytes(proc + "/consoles", "ttyS0 -W- (EC p a) 4:64\n");
    platform::StartDeviceManager();
    ASSERT_TRUE(Opens(u"COM6:")) << GetLastError();
    WriteFileBytes(proc + "/consoles", consoleLine);  // it became the console since
    EXPECT_FALSE(Opens(u"COM6:"));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
}

TEST_F(DeviceTrustTest, LineSettingsComeBackWhenThePortIsClosed) {
    testsupport::PtyPair pty;
    int slave = open(pty.slavePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(slave, 0);
    termios before;
    ASSERT_EQ(tcgetattr(slave, &before), 0);
    before.c_lflag |= ECHO | ICANON | ISIG;
    cfsetspeed(&before, B2400);
    ASSERT_EQ(tcsetattr(slave, TCSANOW, &before), 0);
    ASSERT_EQ(tcgetattr(slave, &before), 0);

    WriteKey(u"Line", pty.slavePath(), 5);
    platform::StartDeviceManager();
    HANDLE port = Open(u"COM5:");
    ASSERT_NE(port, INVALID_HANDLE_VALUE) << GetLastError();
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    ASSERT_TRUE(GetCommState(port, &dcb));
    dcb.BaudRate = 19200;
    ASSERT_TRUE(SetCommState(port, &dcb));
    termios during;
    ASSERT_EQ(tcgetattr(slave, &during), 0);
    EXPECT_EQ(cfgetospeed(&during), static_cast<speed_t>(B19200));
    EXPECT_EQ(during.c_lflag & (ECHO | ICANON), 0u) << "raw while open";

    CloseHandle(port);
    termios after;
    ASSERT_EQ(tcgetattr(slave, &after), 0);
    close(slave);
    EXPECT_EQ(cfgetospeed(&after), cfgetospeed(&before));
    EXPECT_EQ(after.c_lflag, before.c_lflag);
    EXPECT_EQ(after.c_iflag, before.c_iflag);
    EXPECT_EQ(after.c_oflag, before.c_oflag);
    EXPECT_EQ(after.c_cflag, before.c_cflag);
}

// Keys marked with the process that wrote them live as long as that process: one of a
// process that ended, and one whose pid now belongs to another process (another start
// time), are skipped; one of a live process and an unmarked key of the user are not.
TEST_F(DeviceTrustTest, KeysOfProcessesThatAreGoneAreNotActivated) {
    testsupport::PtyPair live, gone, reused, user;
    int wake[2];
    ASSERT_EQ(pipe(wake), 0);
    pid_t child = fork();
    if (child == 0) {
        close(wake[1]);
        char any;
        while (read(wake[0], &any, 1) < 0) {
        }
        _exit(0);
    }
    close(wake[0]);
    std::string childStart = platform::ProcessStartTime(child);
    ASSERT_FALSE(childStart.empty());
    close(wake[1]);
    waitpid(child, nullptr, 0);
    ASSERT_TRUE(platform::ProcessStartTime(child).empty());

    DWORD self = static_cast<DWORD>(getpid());
    std::u16string selfStart = FromUtf8(platform::ProcessStartTime(getpid()));
    WriteKey(u"Live", live.slavePath(), 1, {{u"OwnerProcess", self}}, selfStart);
    WriteKey(u"Gone", gone.slavePath(), 2, {{u"OwnerProcess", static_cast<DWORD>(child)}},
             FromUtf8(childStart));
    WriteKey(u"Reused", reused.slavePath(), 3, {{u"OwnerProcess", self}}, selfStart + u"0");
    WriteKey(u"User", user.slavePath(), 4);
    platform::StartDeviceManager();
    EXPECT_TRUE(Opens(u"COM1:")) << GetLastError();
    EXPECT_FALSE(Opens(u"COM2:"));
    EXPECT_FALSE(Opens(u"COM3:"));
    EXPECT_TRUE(Opens(u"COM4:")) << GetLastError();
}

TEST_F(DeviceTrustTest, AnIndexThatMakesNoDeviceNameIsRefusedWithAMessage) {
    testsupport::PtyPair pty;
    WriteKey(u"Twelve", pty.slavePath(), 12);
    platform::ClearAccount();
    platform::StartDeviceManager();
    std::string said = testsupport::TakeAccount();
    EXPECT_NE(said.find("Drivers\\BuiltIn\\Twelve"), std::string::npos) << said;
    EXPECT_NE(said.find("Index 12"), std::string::npos) << said;
    EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), 1) << said;
    for (LPCWSTR name : {u"COM12:", u"COM1:", u"COM2:"}) EXPECT_FALSE(Opens(name));
    RegDeleteKeyW(HKEY_LOCAL_MACHINE, u"Drivers\\BuiltIn\\Twelve");

    // A driver key likewise.
    HKEY key;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"Drivers\\BuiltIn\\Ten", 0, nullptr, 0,
                              KEY_WRITE, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    std::u16string dll = FromUtf8(TEST_DRIVER_OK);
    DWORD ten = 10;
    RegSetValueExW(key, u"Dll", 0, REG_SZ, reinterpret_cast<const BYTE*>(dll.c_str()),
                   static_cast<DWORD>((dll.size() + 1) * 2));
    RegSetValueExW(key, u"Prefix", 0, REG_SZ, reinterpret_cast<const BYTE*>(u"COM"), 8);
    RegSetValueExW(key, u"Index", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&ten), 4);
    RegCloseKey(key);
    platform::ClearAccount();
    EXPECT_EQ(ActivateDevice(u"Drivers\\BuiltIn\\Ten", 0), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    said = testsupport::TakeAccount();
    EXPECT_NE(said.find("Drivers\\BuiltIn\\Ten"), std::string::npos) << said;
}

// Drivers run in a helper process: a crash or a hang there fails the activation and
// leaves the name free, and this process goes on.
class DriverTrustTest : public DeviceTrustTest {
  protected:
    // Activates a driver library as COM4 from a key; the handle or nullptr.
    static HANDLE Activate(const std::string& library) {
        HKEY key;
        EXPECT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"Drivers\\BuiltIn\\WM_COM0", 0, nullptr, 0,
                                  KEY_WRITE, nullptr, &key, nullptr),
                  ERROR_SUCCESS);
        std::u16string dll = FromUtf8(library);
        DWORD index = 4;
        RegSetValueExW(key, u"Dll", 0, REG_SZ, reinterpret_cast<const BYTE*>(dll.c_str()),
                       static_cast<DWORD>((dll.size() + 1) * 2));
        RegSetValueExW(key, u"Prefix", 0, REG_SZ, reinterpret_cast<const BYTE*>(u"COM"), 8);
        RegSetValueExW(key, u"Index", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&index), 4);
        RegCloseKey(key);
        return ActivateDevice(u"Drivers\\BuiltIn\\WM_COM0\\", 0);
    }
    static void ExpectLoadsAndUnloads(const std::string& library) {
        HANDLE device = Activate(library);
        EXPECT_NE(device, nullptr) << library << " " << GetLastError();
        if (device) {
            EXPECT_TRUE(DeactivateDevice(device));
        }
    }
};

TEST_F(DriverTrustTest, ACrashingOrHangingDriverFailsTheActivationOnly) {
    platform::ClearAccount();
    EXPECT_EQ(Activate(TEST_DRIVER_CRASH), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_GEN_FAILURE));
    EXPECT_EQ(Activate(TEST_DRIVER_HANG), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_TIMEOUT));
    std::string said = testsupport::TakeAccount();
    EXPECT_NE(said.find("crashed in COM_Init"), std::string::npos) << said;
    EXPECT_NE(said.find("did not return from COM_Init"), std::string::npos) << said;
    ExpectLoadsAndUnloads(TEST_DRIVER_OK);  // the name was freed each time
}

// Only files that no one but root or the runner could have changed are run.
TEST_F(DriverTrustTest, DriversOthersCouldChangeAreNotLoaded) {
    std::string folder = dir.file("drivers");
    std::string library = folder + "/Morvex.dll";
    fs::create_directory(folder);
    fs::copy_file(TEST_DRIVER_OK, library);
    auto mode = [](const std::string& path, mode_t m) { ASSERT_EQ(chmod(path.c_str(), m), 0); };
    mode(folder, 0755);
    mode(library, 0755);
    ExpectLoadsAndUnloads(library);

    platform::ClearAccount();
    for (mode_t writable : {0775, 0757}) {
        mode(library, writable);
        EXPECT_EQ(Activate(library), nullptr) << std::oct << writable;
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    }
    mode(library, 0755);
    for (mode_t open : {0777, 01777}) {  // a sticky folder such as /tmp too
        mode(folder, open);
        EXPECT_EQ(Activate(library), nullptr) << std::oct << open;
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    }
    mode(folder, 0755);
    std::string link = folder + "/Link.dll";
    fs::create_symlink(library, link);
    EXPECT_EQ(Activate(link), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    std::string said = testsupport::TakeAccount();
    EXPECT_NE(said.find("writable by group or others"), std::string::npos) << said;
    EXPECT_NE(said.find("in a folder that others can write"), std::string::npos) << said;
    EXPECT_NE(said.find("is a link"), std::string::npos) << said;
    ExpectLoadsAndUnloads(library);
}

}  // namespace
