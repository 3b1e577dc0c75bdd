// Belvane.exe and LumbraPorts.exe as a user starts them: each in a process of its own, its
// window found, read and answered through messages, its exit code and its console output
// checked. Under Wine there are no serial ports, so both show what they show without any.
#include <gtest/gtest.h>

#include <string>

#include "lister/lister_resources.h"
#include "platform/ui/resources.h"
#include "program_run.h"
#include "ui/main_dialog.h"
#include "ui/resource_ids.h"

namespace {

using namespace uitest;

// The window of the lister: an empty port list, the publisher and version lines; a second
// start finds the first and says where it is; the Done button (close box) ends it with 1.
TEST(Programs, LumbraPortsWithoutPorts) {
    Program lister(BELVANE_LUMBRA_EXE, TEXT(""));
    HWND window = WaitForWindow(LISTER_CLASS_NAME, nullptr);
    ASSERT_NE(window, nullptr);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    EXPECT_EQ(owner, lister.Id());
    EXPECT_EQ(Text(window), TEXT("LumbraPorts"));
    EXPECT_EQ(SendDlgItemMessageW(window, IDC_PORT_LIST, LB_GETCOUNT, 0, 0), 0);
    EXPECT_EQ(ItemText(window, IDC_AUTHOR_TEXT), TEXT(BELVANE_PUBLISHER));
    EXPECT_EQ(ItemText(window, IDC_WEB_TEXT), TEXT(BELVANE_WEBSITE));
    EXPECT_EQ(ItemText(window, IDC_VERSION_TEXT), TEXT("LumbraPorts v1.0"));
    EXPECT_EQ(ItemText(window, IDOK), TEXT("OK"));

    Program second(BELVANE_LUMBRA_EXE, TEXT(""));
    EXPECT_EQ(second.ExitCode(), 0u);
    EXPECT_EQ(second.Output(),
              "LumbraPorts is already running as process " + std::to_string(lister.Id()) + "\n");

    PostMessageW(window, WM_SYSCOMMAND, SC_CLOSE, 0);
    EXPECT_EQ(lister.ExitCode(), 1u);
}

// Belvane's dialog says the test failed, with only Cancel to press; Cancel ends it with 0.
// --version answers on the standard output without a window.
TEST(Programs, BelvaneWithoutPorts) {
    Program version(BELVANE_BELVANE_EXE, TEXT("--version"));
    EXPECT_EQ(version.ExitCode(), 0u);
    EXPECT_EQ(version.Output(), "Belvane " BELVANE_VERSION "\n");

    Program belvane(BELVANE_BELVANE_EXE, TEXT(""));
    HWND dialog = WaitForWindow(nullptr, TEXT("WM_Belvane"));
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(ItemText(dialog, IDC_REPORT), kStartFailedText);
    EXPECT_FALSE(IsWindowEnabled(GetDlgItem(dialog, IDC_DEPLOY)));
    EXPECT_TRUE(IsWindowEnabled(GetDlgItem(dialog, IDC_CANCEL_BUTTON)));
    EXPECT_EQ(ItemText(dialog, IDC_CANCEL_BUTTON), TEXT("Cancel"));
    PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDC_CANCEL_BUTTON, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(dialog, IDC_CANCEL_BUTTON)));
    EXPECT_EQ(belvane.ExitCode(), 0u);
    EXPECT_EQ(belvane.Output(), "");
}

// The icon Belvane.exe shows as a file is the program's icon from its table, pixel for
// pixel.
TEST(Programs, BelvaneFileShowsItsIcon) {
    HICON fileIcon = nullptr;
    ASSERT_EQ(ExtractIconExW(ProgramPath(BELVANE_BELVANE_EXE).c_str(), 0, &fileIcon, nullptr, 1),
              1u);
    platform::RegisterResources(ProgramResources());
    HICON tableIcon = LoadIconW(nullptr, MAKEINTRESOURCEW(IDR_MAINFRAME));
    ASSERT_NE(tableIcon, nullptr);
    const std::vector<DWORD> drawn = DrawnPixels(fileIcon, 32);
    ASSERT_EQ(drawn.size(), 32u * 32u);
    EXPECT_EQ(drawn, DrawnPixels(tableIcon, 32));
    DestroyIcon(fileIcon);
}

}  // namespace
