// Belvane in a real terminal when things go wrong: the dialog keeps its own texts, and what
// went wrong is told on stderr once the terminal is back; an end signal is a close.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "support/test_support.h"
#include "support/tmux_session.h"

namespace {

namespace fs = std::filesystem;
using testsupport::ReadFileBytes;
using testsupport::WriteFileBytes;

constexpr int kWaitMs = 10000;
constexpr char kRegistryHeader[] = "Windows Registry Editor Version 5.00\r\n\r\n";
// After the program the shell shows its exit code and whether the terminal is back in its
// line mode with echo.
constexpr char kAfter[] =
    "; echo \"exit=$?\"; stty -a | tr ' ;' '\\n\\n' | grep -Ex -- '-?(icanon|echo)' | "
    "tr '\\n' ' '; echo modes-end; sleep 30";

class BelvaneFailure : public ::testing::Test {
  protected:
    void SetUp() override {
        fs::create_directories(dir.file("nav"));
        fs::create_directories(dir.file("sys"));
        fs::copy_file(BELVANE_PROGRAM, dir.file("nav/Belvane"));
    }

    // The pseudo-terminal registered as COM1, after whatever text comes first.
    void Register(const std::string& before = kRegistryHeader) {
        WriteFileBytes(dir.file("registry.reg"),
                       before +
                           "[HKEY_LOCAL_MACHINE\\Drivers\\BuiltIn\\TestSerial1]\r\n"
                           "\"Prefix\"=\"COM\"\r\n\"Index\"=dword:00000001\r\n"
                           "\"DevicePath\"=\"" +
                           pty.slavePath() + "\"\r\n\r\n");
    }

    // The holder of a busy device is looked up in the real /proc; the device tree stays
    // empty, so that no host device is seen.
    std::unique_ptr<testsupport::TmuxSession> Start(const std::string& runAs = "") {
        return std::make_unique<testsupport::TmuxSession>(
            runAs + dir.file("nav/Belvane") + kAfter,
            std::vector<std::string>{"BELVANE_REGISTRY=" + dir.file("registry.reg"),
                                     "BELVANE_SYSFS_ROOT=" + dir.file("sys"),
                                     "BELVANE_PROC_ROOT=/proc", "BELVANE_LOG=" + dir.file("log")});
    }

    // What the shell printed after the program, once it has ended.
    static std::string AfterCancel(testsupport::TmuxSession& session) {
        int column = 0, row = 0;
        EXPECT_TRUE(testsupport::FindOnRow(session.Screen(), "Cancel", "Cancel", &column, &row));
        session.Click(column, row);
        EXPECT_TRUE(session.WaitFor("modes-end", kWaitMs)) << session.Screen();
        return session.Screen();
    }

    testsupport::TempDir dir;
    testsupport::PtyPair pty;
};

std::string OwnName() {
    std::ifstream in("/proc/self/comm");
    std::string name;
    std::getline(in, name);
    return name;
}

// Another program holds the one device (as a second Belvane would): the dialog says only
// "Test failure!", and after Cancel stderr names the device and its holder.
TEST_F(BelvaneFailure, ABusyDeviceIsNamedWithItsHolderAfterExit) {
    Register();
    int held = open(pty.slavePath().c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(held, 0);
    ASSERT_EQ(flock(held, LOCK_EX | LOCK_NB), 0);
    auto session = Start();
    ASSERT_TRUE(session->WaitFor("Test failure!", kWaitMs)) << session->Screen();
    EXPECT_EQ(session->Screen().find("held by"), std::string::npos) << session->Screen();
    std::string screen = AfterCancel(*session);
    EXPECT_NE(screen.find("exit=0"), std::string::npos) << screen;
    EXPECT_NE(screen.find("icanon echo"), std::string::npos) << screen;
    std::string expected = "Belvane: COM1: cannot open " + pty.slavePath() +
                           ": in use: held by process " + std::to_string(getpid()) + " (" +
                           OwnName() + ")";
    EXPECT_NE(screen.find(expected), std::string::npos) << screen;
    EXPECT_NE(ReadFileBytes(dir.file("log")).find("failure: " + expected.substr(9)),
              std::string::npos);
    close(held);
}

// The superuser opens the device whatever its mode, so as root the program runs as the
// unprivileged user "nobody", which may read the folder and the registry but not the device.
TEST_F(BelvaneFailure, ADeviceTheUserMayNotOpenIsNamedWithThePermissionProblem) {
    Register();
    ASSERT_EQ(chmod(pty.slavePath().c_str(), 0), 0);
    std::string runAs;
    if (geteuid() == 0) {
        if (access("/usr/bin/setpriv", X_OK) != 0) GTEST_SKIP() << "no setpriv to drop root";
        for (const std::string& folder : {dir.path(), dir.file("nav"), dir.file("sys")})
            ASSERT_EQ(chmod(folder.c_str(), 0755), 0);
        ASSERT_EQ(chmod(dir.file("registry.reg").c_str(), 0644), 0);
        runAs = "/usr/bin/setpriv --reuid=65534 --regid=65534 --clear-groups ";
    }
    auto session = Start(runAs);
    ASSERT_TRUE(session->WaitFor("Test failure!", kWaitMs)) << session->Screen();
    std::string screen = AfterCancel(*session);
    EXPECT_NE(screen.find("Belvane: COM1: cannot open " + pty.slavePath() + ": Permission denied"),
              std::string::npos)
        << screen;
}

// A damaged registry is never drawn over the dialog; after the program the damage and the
// place of the kept copy are told.
TEST_F(BelvaneFailure, ADamagedRegistryIsToldAfterExitWithTheKeptCopy) {
    Register(std::string(kRegistryHeader) + "[HKEY_LOCAL_MACHINE\\Software\\Good]\r\n" +
             "\"Broken\"=\"no end\r\n\r\n");
    int held = open(pty.slavePath().c_str(), O_RDWR | O_NOCTTY);
    ASSERT_EQ(flock(held, LOCK_EX | LOCK_NB), 0);
    auto session = Start();
    ASSERT_TRUE(session->WaitFor("Test failure!", kWaitMs)) << session->Screen();
    EXPECT_EQ(session->Screen().find("damaged"), std::string::npos) << session->Screen();
    std::string screen = AfterCancel(*session);
    std::string kept;
    for (const auto& entry : fs::directory_iterator(dir.path()))
        if (entry.path().filename().string().rfind("registry.reg.damaged-", 0) == 0)
            kept = entry.path().string();
    ASSERT_FALSE(kept.empty());
    EXPECT_NE(screen.find("Belvane: the registry file " + dir.file("registry.reg") +
                          " is damaged (line 4"),
              std::string::npos)
        << screen;
    // The path may be wrapped at the screen's edge.
    std::string unwrapped;
    for (char c : screen)
        if (c != '\n') unwrapped += c;
    EXPECT_NE(unwrapped.find("Belvane: the damaged registry file was kept as " + kept),
              std::string::npos)
        << screen;
    close(held);
}

// The program itself, not the shell that runs it and reports its end.
pid_t ProgramOf(testsupport::TmuxSession& session) {
    std::string shell = session.Query("#{pane_pid}");
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kWaitMs);
    while (std::chrono::steady_clock::now() < deadline) {
        std::ifstream in("/proc/" + shell + "/task/" + shell + "/children");
        pid_t child = 0;
        if (in >> child) return child;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return -1;
}

// SIGTERM in the middle of the scan ends Belvane as its Cancel would: the scan is stopped
// and every port closed, the terminal restored, the exit code the close's.
TEST_F(BelvaneFailure, SigtermStopsTheScanAndRestoresTheTerminal) {
    Register();
    auto session = Start();
    ASSERT_TRUE(session->WaitFor("Is inspecting the port", kWaitMs)) << session->Screen();
    pid_t program = ProgramOf(*session);
    ASSERT_GT(program, 0);
    ASSERT_EQ(kill(program, SIGTERM), 0);
    ASSERT_TRUE(session->WaitFor("modes-end", kWaitMs)) << session->Screen();
    std::string screen = session->Screen();
    EXPECT_NE(screen.find("exit=0"), std::string::npos) << screen;
    EXPECT_NE(screen.find("icanon echo"), std::string::npos) << screen;
    EXPECT_EQ(screen.find("Is inspecting"), std::string::npos) << screen;
    std::string log = ReadFileBytes(dir.file("log"));
    EXPECT_NE(log.find("COM1: listening at 4800 baud"), std::string::npos) << log;
    EXPECT_NE(log.find("scan: stopped; every port is closed"), std::string::npos) << log;
}

}  // namespace
