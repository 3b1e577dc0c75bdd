// LumbraPorts in a real terminal: a private registry names two pseudo-terminals as built-in
// serial ports, which the device manager publishes as active drivers at start, and one
// Bluetooth port.
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "support/test_support.h"
#include "support/tmux_session.h"

namespace {

constexpr int kWaitMs = 10000;

class ListerTerminal : public ::testing::Test {
  protected:
    void SetUp() override {
        testsupport::WriteFileBytes(
            dir.file("registry.reg"),
            "Windows Registry Editor Version 5.00\r\n\r\n" +
                BuiltIn("PtySeven", 7, seven, "Pty seven") + BuiltIn("PtyTwo", 2, two, "Pty two") +
                "[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Bluetooth\\Serial\\Ports\\4]\r\n"
                "\"Port\"=\"COM4\"\r\n\r\n");
    }

    static std::string Hex8(int value) {
        char text[9];
        std::snprintf(text, sizeof text, "%08x", static_cast<unsigned>(value));
        return text;
    }

    static std::string BuiltIn(const std::string& key, int index, const testsupport::PtyPair& pty,
                               const std::string& friendlyName) {
        return "[HKEY_LOCAL_MACHINE\\Drivers\\BuiltIn\\" + key + "]\r\n\"Prefix\"=\"COM\"\r\n" +
               "\"Index\"=dword:" + Hex8(index) + "\r\n\"DevicePath\"=\"" + pty.slavePath() +
               "\"\r\n\"FriendlyName\"=\"" + friendlyName + "\"\r\n\r\n";
    }

    // The listers of one runtime folder find each other; the default is the fixture's.
    std::vector<std::string> Env(const std::string& runtimeFolder = "") const {
        return {"BELVANE_REGISTRY=" + dir.file("registry.reg"),
                "BELVANE_SYSFS_ROOT=" + roots.path(), "BELVANE_DEV_ROOT=" + roots.path(),
                "BELVANE_PROC_ROOT=" + roots.path(),
                "XDG_RUNTIME_DIR=" + (runtimeFolder.empty() ? runtime.path() : runtimeFolder)};
    }

    // A started lister, with its window on the screen.
    std::unique_ptr<testsupport::TmuxSession> Start(const std::string& runtimeFolder = "") {
        auto session =
            std::make_unique<testsupport::TmuxSession>(LUMBRAPORTS_PATH, Env(runtimeFolder));
        EXPECT_TRUE(session->WaitFor("LumbraPorts v1.0", kWaitMs)) << session->Screen();
        return session;
    }

    static int ExitCode(testsupport::TmuxSession& session) {
        if (!session.WaitForExit(kWaitMs)) return -100;
        int status = session.ExitStatus();
        if (status < 0) ADD_FAILURE() << "no exit status; last screen:\n" << session.Screen();
        return status;
    }

    testsupport::TempDir dir;
    testsupport::TempDir roots;  // empty device trees: only the registry names ports
    testsupport::TempDir runtime;
    testsupport::PtyPair seven, two;
};

size_t RowOf(const std::string& screen, const std::string& text) {
    size_t at = screen.find(text);
    if (at == std::string::npos) return std::string::npos;
    size_t row = 0;
    for (size_t i = 0; i < at; ++i) row += screen[i] == '\n';
    return row;
}

TEST_F(ListerTerminal, ListsThePortsSortedAndOkEndsWithOne) {
    auto lister = Start();
    std::string screen = lister->Screen();
    size_t comTwo = RowOf(screen, "COM2: - Pty two");
    size_t bluetooth = RowOf(screen, "COM4: - Bluetooth");
    size_t comSeven = RowOf(screen, "COM7: - Pty seven");
    ASSERT_NE(comTwo, std::string::npos) << screen;
    ASSERT_NE(bluetooth, std::string::npos) << screen;
    ASSERT_NE(comSeven, std::string::npos) << screen;
    EXPECT_EQ(bluetooth, comTwo + 1) << screen;
    EXPECT_EQ(comSeven, bluetooth + 1) << screen;
    EXPECT_NE(screen.find(BELVANE_PUBLISHER), std::string::npos) << screen;
    EXPECT_NE(screen.find(BELVANE_WEBSITE), std::string::npos) << screen;

    lister->SendKeys("Enter");  // the OK button has the focus
    EXPECT_EQ(ExitCode(*lister), 1);
}

TEST_F(ListerTerminal, DoneInTheTitleBarEndsWithOne) {
    auto lister = Start();
    std::string screen = lister->Screen();
    size_t done = screen.find("[OK]");
    ASSERT_EQ(RowOf(screen, "[OK]"), 0u) << screen;
    lister->Click(static_cast<int>(done) + 1, 0);
    EXPECT_EQ(ExitCode(*lister), 1);
}

TEST_F(ListerTerminal, CloseRequestsEndWithZero) {
    for (const char* key : {"Escape", "C-c"}) {
        auto lister = Start();
        lister->SendKeys(key);
        EXPECT_EQ(ExitCode(*lister), 0) << key;
    }
}

// The signals that ask a program to end are a close request too: the close code, 0, not
// the signal's own exit status.
TEST_F(ListerTerminal, EndSignalsAreACloseAndEndWithZero) {
    for (int signal : {SIGTERM, SIGHUP, SIGINT}) {
        auto lister = Start();
        pid_t pid = static_cast<pid_t>(std::stoi(lister->Query("#{pane_pid}")));
        ASSERT_EQ(kill(pid, signal), 0);
        EXPECT_EQ(ExitCode(*lister), 0) << strsignal(signal);
        EXPECT_EQ(lister->Query("#{alternate_on}"), "0") << strsignal(signal);
    }
}

// A full-screen list uses the terminal's width: a 100-character name shows whole in 120
// columns; in 80 its end comes into view when the focused list is scrolled sideways.
TEST_F(ListerTerminal, LongLinesShowWholeOrScrollSideways) {
    const std::string name = "Pty with a long name " + std::string(69, 'x') + " (the end)";
    ASSERT_EQ(name.size(), 100u);
    testsupport::WriteFileBytes(
        dir.file("registry.reg"),
        "Windows Registry Editor Version 5.00\r\n\r\n" + BuiltIn("PtyTwo", 2, two, name));
    {
        testsupport::TmuxSession wide(LUMBRAPORTS_PATH, Env(), 120, 30);
        ASSERT_TRUE(wide.WaitFor("LumbraPorts v1.0", kWaitMs)) << wide.Screen();
        EXPECT_NE(wide.Screen().find("COM2: - " + name), std::string::npos) << wide.Screen();
    }
    // A runtime folder of its own: the wide one may still be ending when this one starts.
    testsupport::TempDir narrowRuntime;
    testsupport::TmuxSession narrow(LUMBRAPORTS_PATH, Env(narrowRuntime.path()), 80, 30);
    ASSERT_TRUE(narrow.WaitFor("LumbraPorts v1.0", kWaitMs)) << narrow.Screen();
    EXPECT_EQ(narrow.Screen().find("(the end)"), std::string::npos) << narrow.Screen();
    narrow.SendKeys("Tab");  // from the OK button to the list
    narrow.SendKeys("Right");
    EXPECT_TRUE(narrow.WaitFor("x (the end)", kWaitMs)) << narrow.Screen();
    narrow.SendKeys("Left");
    EXPECT_TRUE(narrow.WaitFor("COM2: - Pty with", kWaitMs)) << narrow.Screen();
}

TEST_F(ListerTerminal, SecondStartEndsAtOnceWithZeroAndBringsTheFirstForward) {
    auto first = Start();
    EXPECT_EQ(first->Format("#{window_bell_flag}"), "0");

    // The shell keeps the pane, so that the line is read before the pane ends.
    testsupport::TmuxSession second(std::string(LUMBRAPORTS_PATH) + "; echo \"exit=$?\"; sleep 60",
                                    Env());
    ASSERT_TRUE(second.WaitFor("exit=0", kWaitMs)) << second.Screen();
    EXPECT_EQ(second.Screen().find("LumbraPorts v1.0"), std::string::npos) << second.Screen();
    // It names the first one's process.
    std::smatch said;
    std::string screen = second.Screen();
    ASSERT_TRUE(std::regex_search(screen, said,
                                  std::regex("LumbraPorts is already running as process (\\d+)")))
        << screen;
    EXPECT_EQ(std::filesystem::read_symlink("/proc/" + said[1].str() + "/exe"),
              std::filesystem::canonical(LUMBRAPORTS_PATH));

    // Coming forward rings the first one's terminal.
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kWaitMs);
    while (first->Format("#{window_bell_flag}") != "1" &&
           std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(first->Format("#{window_bell_flag}"), "1");
    EXPECT_TRUE(first->Running());
    first->SendKeys("Enter");
    EXPECT_EQ(ExitCode(*first), 1);
}

// Listers of different runtime folders do not see each other: one running elsewhere on the
// machine never stops this one.
TEST_F(ListerTerminal, ListersOfDifferentRuntimeFoldersBothRun) {
    testsupport::TempDir otherRuntime;
    auto first = Start();
    auto second = Start(otherRuntime.path());
    EXPECT_TRUE(first->Running());
    EXPECT_TRUE(second->Running());
    for (auto* lister : {first.get(), second.get()}) {
        lister->SendKeys("Enter");
        EXPECT_EQ(ExitCode(*lister), 1);
    }
}

}  // namespace
