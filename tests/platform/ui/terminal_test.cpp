// Runs the sample program in a real terminal (tmux): keys and mouse clicks drive its
// dialog, the screen is read back, and the terminal must be as before once it ends.
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <cstdio>
#include <functional>
#include <sstream>
#include <thread>
#include <vector>

#include "support/test_support.h"
#include "support/tmux_session.h"

namespace {

using testsupport::TempDir;
using testsupport::TmuxSession;

constexpr int kWaitMs = 15000;

std::vector<std::string> Lines(const std::string& screen) {
    std::vector<std::string> lines;
    std::istringstream in(screen);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

// Column (in cells) and row of text on the screen; the screen is UTF-8, so columns count
// characters, not bytes.
bool Find(const std::string& screen, const std::string& text, int* column, int* row) {
    auto lines = Lines(screen);
    for (size_t r = 0; r < lines.size(); ++r) {
        size_t at = lines[r].find(text);
        if (at == std::string::npos) continue;
        int cells = 0;
        for (size_t i = 0; i < at; ++i)
            if ((static_cast<unsigned char>(lines[r][i]) & 0xC0) != 0x80) ++cells;
        *column = cells;
        *row = static_cast<int>(r);
        return true;
    }
    return false;
}

bool WaitUntil(const std::function<bool()>& done) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kWaitMs);
    while (std::chrono::steady_clock::now() < deadline) {
        if (done()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
}

// The sample between two snapshots of the terminal modes, and a shell that stays so that
// the pane can still be asked about its state.
std::string Command(const TempDir& dir, const std::string& className) {
    std::string d = dir.path();
    return "stty -g > " + d + "/before; " SAMPLE_TERMINAL " " + className + " " + d +
           "/pid; echo EXIT=$?; stty -g > " + d + "/after; cmp -s " + d + "/before " + d +
           "/after && echo MODES-SAME; sleep 600";
}

std::string ClassName(const char* what) {
    return std::string(what) + std::to_string(getpid());
}

void ExpectRestored(TmuxSession& tmux) {
    ASSERT_TRUE(tmux.WaitFor("MODES-SAME", kWaitMs)) << tmux.Screen();
    EXPECT_EQ(tmux.Screen().find("Presses:"), std::string::npos) << "the dialog stayed on screen";
    EXPECT_EQ(tmux.Query("#{alternate_on}"), "0");
    EXPECT_EQ(tmux.Query("#{mouse_any_flag}"), "0");
    EXPECT_EQ(tmux.Query("#{cursor_flag}"), "1");
}

TEST(Terminal, KeysAndMouseDriveTheDialogAndTheTerminalIsRestored) {
    TempDir dir;
    TmuxSession tmux(Command(dir, ClassName("TermKeys")), {}, 80, 24);
    ASSERT_TRUE(tmux.WaitFor("Presses: 0", kWaitMs)) << tmux.Screen();
    std::string screen = tmux.Screen();
    auto lines = Lines(screen);
    ASSERT_FALSE(lines.empty());
    EXPECT_NE(lines[0].find("Sample"), std::string::npos);
    EXPECT_NE(lines[0].find("[OK]"), std::string::npos);
    EXPECT_NE(screen.find("[>OK<]"), std::string::npos) << "the first tab stop has the focus";
    EXPECT_NE(screen.find("[ Go ]"), std::string::npos);
    EXPECT_EQ(screen.find("[ Off ]"), std::string::npos) << "a disabled button looks disabled";
    int column, row1, row2, row3, row4;
    ASSERT_TRUE(Find(screen, "COM1 - Serial Cable", &column, &row1));
    ASSERT_TRUE(Find(screen, "COM2 - Infrared", &column, &row2));
    ASSERT_TRUE(Find(screen, "COM3: - Bluetooth", &column, &row3));
    ASSERT_TRUE(Find(screen, "GPD0 - GPS Intermediate", &column, &row4));
    EXPECT_LT(row1, row2);
    EXPECT_LT(row2, row3);
    EXPECT_LT(row3, row4);

    tmux.SendKeys("Tab");
    ASSERT_TRUE(tmux.WaitFor("[>Go<]", kWaitMs)) << tmux.Screen();
    tmux.SendKeys("Enter");
    ASSERT_TRUE(tmux.WaitFor("Presses: 1", kWaitMs)) << tmux.Screen();
    tmux.SendKeys("Space");
    ASSERT_TRUE(tmux.WaitFor("Presses: 2", kWaitMs)) << tmux.Screen();

    // Clicks: first on the disabled button, then on Go; input is handled in order, so when
    // the second click has shown, the first one has been handled too.
    int x, y;
    screen = tmux.Screen();
    ASSERT_TRUE(Find(screen, "Off", &x, &y));
    tmux.Click(x, y);
    ASSERT_TRUE(Find(screen, "[>Go<]", &x, &y));
    tmux.Click(x + 2, y);
    ASSERT_TRUE(tmux.WaitFor("Presses: 3", kWaitMs)) << tmux.Screen();
    EXPECT_EQ(tmux.Screen().find("Off pressed!"), std::string::npos);

    // The full-screen dialog follows the terminal's size: its title bar button moves.
    tmux.Resize(60, 20);
    ASSERT_TRUE(WaitUntil([&] {
        auto now = Lines(tmux.Screen());
        return !now.empty() && Find(tmux.Screen(), "[OK]", &x, &y) && y == 0 && x == 60 - 5;
    })) << tmux.Screen();

    tmux.Click(x + 1, 0);  // the title bar's OK: the dialog ends with 1
    ASSERT_TRUE(tmux.WaitFor("EXIT=1", kWaitMs)) << tmux.Screen();
    ExpectRestored(tmux);
}

TEST(Terminal, EscapeIsACloseRequestForADialogWithADoneButton) {
    TempDir dir;
    TmuxSession tmux(Command(dir, ClassName("TermEscape")), {}, 80, 24);
    ASSERT_TRUE(tmux.WaitFor("Presses: 0", kWaitMs)) << tmux.Screen();
    tmux.SendKeys("Escape");
    ASSERT_TRUE(tmux.WaitFor("EXIT=0", kWaitMs)) << tmux.Screen();
    ExpectRestored(tmux);
}

// SIGTERM is a close request (this dialog ends with 0 on WM_CLOSE), not the end of the
// program by the signal; the terminal is restored either way.
TEST(Terminal, TerminatingSignalIsACloseAndRestoresTheTerminal) {
    TempDir dir;
    TmuxSession tmux(Command(dir, ClassName("TermSignal")), {}, 80, 24);
    ASSERT_TRUE(tmux.WaitFor("Presses: 0", kWaitMs)) << tmux.Screen();
    int pid = 0;
    if (FILE* f = std::fopen((dir.path() + "/pid").c_str(), "r")) {
        if (std::fscanf(f, "%d", &pid) != 1) pid = 0;
        std::fclose(f);
    }
    ASSERT_GT(pid, 0);
    ASSERT_EQ(kill(pid, SIGTERM), 0);
    ASSERT_TRUE(tmux.WaitFor("EXIT=0", kWaitMs)) << tmux.Screen();
    ExpectRestored(tmux);
}

// The exit code (-1 when the program did not end normally) and what it wrote, from a shell
// command line.
int RunCommand(const std::string& command, std::string* out) {
    FILE* p = popen(command.c_str(), "r");
    if (p == nullptr) return -1;
    char buffer[256];
    while (size_t n = fread(buffer, 1, sizeof buffer, p)) out->append(buffer, n);
    int status = pclose(p);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(Terminal, WithoutATerminalTheProgramSaysSoAndFails) {
    std::string out;
    EXPECT_EQ(RunCommand(SAMPLE_TERMINAL " NoTty < /dev/null 2>&1", &out), 2);
    EXPECT_NE(out.find("terminal"), std::string::npos) << out;

    TempDir dir;
    TmuxSession tmux(
        std::string("TERM=no-such-terminal " SAMPLE_TERMINAL " BadTerm; echo EXIT=$?; sleep 600"),
        {}, 80, 24);
    ASSERT_TRUE(tmux.WaitFor("EXIT=2", kWaitMs)) << tmux.Screen();
    EXPECT_NE(tmux.Screen().find("no-such-terminal"), std::string::npos);
}

// A known terminal that cannot place its cursor would show nothing while taking keys.
TEST(Terminal, ATerminalThatCannotMoveItsCursorIsRefused) {
    TmuxSession tmux("TERM=dumb " SAMPLE_TERMINAL " DumbTerm; echo EXIT=$?; sleep 600", {}, 80, 24);
    ASSERT_TRUE(tmux.WaitFor("EXIT=2", kWaitMs)) << tmux.Screen();
    std::string screen = tmux.Screen();
    EXPECT_NE(screen.find("TERM=\"dumb\""), std::string::npos) << screen;
    EXPECT_NE(screen.find("cursor"), std::string::npos) << screen;
    EXPECT_EQ(screen.find("Presses:"), std::string::npos) << screen;
}

// Help and version are answered on stdout, without a terminal and whatever else is given;
// other arguments still go to the program, which then needs its terminal.
TEST(Terminal, HelpAndVersionNeedNoTerminal) {
    std::string out;
    EXPECT_EQ(RunCommand(SAMPLE_TERMINAL " --help < /dev/null 2>/dev/null", &out), 0);
    EXPECT_NE(out.find("Usage: sample_dialog_terminal [--help | --version]"), std::string::npos)
        << out;
    EXPECT_NE(out.find("A sample dialog."), std::string::npos) << out;
    out.clear();
    EXPECT_EQ(RunCommand(SAMPLE_TERMINAL " Other --version --help < /dev/null 2>/dev/null", &out),
              0);
    EXPECT_EQ(out.rfind("sample_dialog_terminal ", 0), 0u) << out;
    EXPECT_EQ(out.find("Usage"), std::string::npos) << "only the first request is answered";
    out.clear();
    EXPECT_EQ(RunCommand(SAMPLE_TERMINAL " -help < /dev/null 2>&1", &out), 2) << out;
    out.clear();
    EXPECT_EQ(RunCommand(SAMPLE_TERMINAL " --help > /dev/full 2>/dev/null", &out), 1)
        << "a help that could not be written is a failure";
}

}  // namespace
