// The lister program in-process: WinMain runs on a thread of its own with the test front
// end and a private registry, and the test presses its buttons and reads its list.
#include "lister/lister_window.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "lister/lister_resources.h"
#include "platform/app/winmain.h"
#include "platform/base/messages.h"
#include "platform/io/files.h"
#include "platform/io/registry.h"
#include "platform/ui/dialog_testing.h"
#include "platform/ui/dialogs.h"
#include "platform/ui/resources.h"
#include "private_registry.h"

namespace {

using namespace platform::testing;
using platform::DialogKey;
using Lines = std::vector<std::u16string>;

class ListerWindow : public PrivateRegistryTest {
  protected:
    static void SetUpTestSuite() {
        UseTestFrontEnd(100, 30);
        platform::RegisterResources(ListerResources());
    }
    static void TearDownTestSuite() { platform::UnregisterResources(ListerResources()); }

    void TearDown() override {
        if (result_.valid()) {
            if (HWND dialog = WaitForDialog(0)) EndDialog(dialog, -5);
            result_.wait();
        }
        // The process outlives each run of the program, its class registration with it.
        UnregisterClassW(LISTER_CLASS_NAME, nullptr);
    }

    // Active lines that sort around a Bluetooth line.
    static void SomePorts() {
        Set(u"Drivers\\BuiltIn\\Adapter", u"FriendlyName", u"USB adapter");
        Active(u"01", u"COM9:", u"Drivers\\BuiltIn\\Adapter");
        Active(u"02", u"COM1:", u"Drivers\\BuiltIn\\Adapter");
        Active(u"03", u"GPD0:");
        Active(u"04", u"TEL1:", u"Drivers\\BuiltIn\\Adapter");
        Bluetooth(u"5", u"COM5");
    }

    // Runs the program's WinMain on a thread of its own; returns its running dialog.
    HWND Start() {
        result_ = std::async(std::launch::async, [] { return RunProgram(); });
        HWND dialog = WaitForDialog();
        EXPECT_NE(dialog, nullptr);
        return dialog;
    }
    static int RunProgram() {
        WCHAR commandLine[1] = {0};
        return WinMain(GetModuleHandleW(nullptr), nullptr, commandLine, SW_SHOW);
    }
    // A run that does not end is a failure, not a hang: it is ended with -5.
    int ExitCode() {
        if (result_.wait_for(std::chrono::seconds(10)) != std::future_status::ready) {
            ADD_FAILURE() << "the program did not end";
            if (HWND dialog = WaitForDialog(0)) EndDialog(dialog, -5);
        }
        return result_.get();
    }
    // Runs the program once more after the last run ended.
    HWND Restart() {
        TearDown();
        return Start();
    }

    std::future<int> result_;
};

bool WaitUntil(const std::function<bool()>& condition) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

TEST_F(ListerWindow, ShowsTheSortedPortsFullScreenWithItsTextsIconAndFocusOnOk) {
    SomePorts();
    HWND dialog = Start();
    EXPECT_EQ(ListLines(dialog, IDC_PORT_LIST), (Lines{u"COM1: - USB adapter", u"COM5: - Bluetooth",
                                                       u"COM9: - USB adapter", u"GPD0: - "}));
    EXPECT_EQ(ListSelection(dialog, IDC_PORT_LIST), -1);
    EXPECT_TRUE(IsFullScreen(dialog));
    EXPECT_TRUE(DoneButtonShown(dialog));
    EXPECT_EQ(FocusedControlId(dialog), IDOK);
    EXPECT_EQ(ControlText(dialog, IDOK), u"OK");
    EXPECT_EQ(ControlText(dialog, IDC_AUTHOR_TEXT), TEXT(BELVANE_PUBLISHER));
    EXPECT_EQ(ControlText(dialog, IDC_WEB_TEXT), TEXT(BELVANE_WEBSITE));
    EXPECT_EQ(ControlText(dialog, IDC_VERSION_TEXT), u"LumbraPorts v1.0");
    HICON icon = LoadIconW(nullptr, MAKEINTRESOURCEW(IDI_LISTER));
    ASSERT_NE(icon, nullptr);
    EXPECT_EQ(SendDlgItemMessageW(dialog, IDC_APP_ICON, STM_GETICON, 0, 0),
              reinterpret_cast<LRESULT>(icon));

    // The class is the system dialog class with the program's instance and icon.
    WNDCLASSW system{}, lister{};
    ASSERT_TRUE(GetClassInfoW(nullptr, u"Dialog", &system));
    ASSERT_TRUE(GetClassInfoW(nullptr, LISTER_CLASS_NAME, &lister));
    EXPECT_EQ(lister.lpfnWndProc, system.lpfnWndProc);
    EXPECT_EQ(lister.style, system.style);
    EXPECT_EQ(lister.cbWndExtra, system.cbWndExtra);
    EXPECT_EQ(lister.hInstance, GetModuleHandleW(nullptr));
    EXPECT_EQ(lister.hIcon, icon);
    EXPECT_EQ(FindWindowW(LISTER_CLASS_NAME, nullptr), dialog);

    EXPECT_TRUE(ClickControl(dialog, IDOK));
    EXPECT_EQ(ExitCode(), 1);
    EXPECT_EQ(FindWindowW(LISTER_CLASS_NAME, nullptr), nullptr);
}

TEST_F(ListerWindow, DoneEndsWithOneAndEveryCloseRequestWithZero) {
    HWND dialog = Start();
    EXPECT_TRUE(PressDoneButton(dialog));
    EXPECT_EQ(ExitCode(), 1);

    dialog = Restart();
    SendKey(dialog, DialogKey::Enter);  // the focused OK button
    EXPECT_EQ(ExitCode(), 1);

    dialog = Restart();
    RequestClose(dialog);
    EXPECT_EQ(ExitCode(), 0);

    dialog = Restart();
    SendKey(dialog, DialogKey::Escape);
    EXPECT_EQ(ExitCode(), 0);

    dialog = Restart();
    SendKey(dialog, DialogKey::CtrlC);
    EXPECT_EQ(ExitCode(), 0);
}

TEST_F(ListerWindow, ListIsFilledOnceAndSelectingOrDoubleTappingALineDoesNothing) {
    SomePorts();
    HWND dialog = Start();
    const Lines shown = ListLines(dialog, IDC_PORT_LIST);
    ASSERT_EQ(shown.size(), 4u);
    Active(u"09", u"COM2:");  // a port that comes after the window opened

    SendKey(dialog, DialogKey::Tab);
    ASSERT_EQ(FocusedControlId(dialog), IDC_PORT_LIST);
    SendKey(dialog, DialogKey::Down);
    SendKey(dialog, DialogKey::Down);
    EXPECT_EQ(ListSelection(dialog, IDC_PORT_LIST), 1);
    HWND list = GetDlgItem(dialog, IDC_PORT_LIST);
    SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDC_PORT_LIST, LBN_DBLCLK),
                 reinterpret_cast<LPARAM>(list));
    SendMessageW(dialog, WM_SIZE, 0, MAKELPARAM(100, 30));
    // A double tap: two clicks on the line of "GPD0: - ".
    auto screen = Screen(dialog);
    int row = -1, column = -1;
    for (size_t r = 0; r < screen.size() && row < 0; ++r) {
        size_t at = screen[r].find(u"GPD0: - ");
        if (at != std::u16string::npos) row = static_cast<int>(r), column = static_cast<int>(at);
    }
    ASSERT_GE(row, 0);
    EXPECT_TRUE(ClickAt(dialog, column, row));
    EXPECT_TRUE(ClickAt(dialog, column, row));
    EXPECT_EQ(ListSelection(dialog, IDC_PORT_LIST), 3);

    EXPECT_FALSE(WaitForDialogEnd(dialog, 0));
    EXPECT_EQ(ListLines(dialog, IDC_PORT_LIST), shown);
    EXPECT_EQ(WaitForDialog(0, dialog), nullptr) << "no other window came up";
    RequestClose(dialog);
    EXPECT_EQ(ExitCode(), 0);
}

TEST_F(ListerWindow, EmptyRegistryShowsAnEmptyListAndNoMessage) {
    HWND dialog = Start();
    EXPECT_EQ(ListLines(dialog, IDC_PORT_LIST), Lines{});
    EXPECT_EQ(WaitForDialog(0, dialog), nullptr);
    EXPECT_TRUE(PressDoneButton(dialog));
    EXPECT_EQ(ExitCode(), 1);
}

TEST_F(ListerWindow, SecondStartBringsTheRunningWindowForwardSaysWhereAndEndsWithZero) {
    HWND dialog = Start();
    testing::internal::CaptureStderr();
    EXPECT_EQ(RunProgram(), 0);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "LumbraPorts is already running as process " + std::to_string(getpid()) + "\n");
    EXPECT_TRUE(WaitUntil([&] { return ForegroundRequests(dialog) == 1; }));
    EXPECT_EQ(WaitForDialog(0, dialog), nullptr) << "the second start shows nothing";
    EXPECT_FALSE(WaitForDialogEnd(dialog, 0));
    EXPECT_TRUE(PressDoneButton(dialog));
    EXPECT_EQ(ExitCode(), 1);
}

TEST_F(ListerWindow, AClassThatCannotBeRegisteredEndsTheStartWithZero) {
    // The name is taken, but no window of it runs.
    WNDCLASSW taken{};
    ASSERT_TRUE(GetClassInfoW(nullptr, u"Dialog", &taken));
    taken.lpszClassName = LISTER_CLASS_NAME;
    ASSERT_NE(RegisterClassW(&taken), 0);
    EXPECT_EQ(RunProgram(), 0);
    EXPECT_EQ(WaitForDialog(0), nullptr);
}

TEST(ListerDialogProc, HandlesOnlyInitOkCloseAndSize) {
    EXPECT_EQ(ListerDialogProc(nullptr, WM_SIZE, 0, MAKELPARAM(240, 320)), TRUE);
    EXPECT_EQ(ListerDialogProc(nullptr, WM_COMMAND, MAKEWPARAM(IDC_PORT_LIST, LBN_DBLCLK), 0),
              FALSE);
    EXPECT_EQ(ListerDialogProc(nullptr, WM_COMMAND, MAKEWPARAM(IDC_PORT_LIST, LBN_SELCHANGE), 0),
              FALSE);
    EXPECT_EQ(ListerDialogProc(nullptr, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0), FALSE);
    EXPECT_EQ(ListerDialogProc(nullptr, WM_PAINT, 0, 0), FALSE);
    EXPECT_EQ(ListerDialogProc(nullptr, WM_TIMER, 1, 0), FALSE);
}

}  // namespace
