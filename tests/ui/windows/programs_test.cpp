// Belvane.exe and LumbraPorts.exe as a user starts them: each in a process of its own, its
// window found, read and answered through messages, its exit code and its console output
// checked. Under Wine there are no serial ports, so both show what they show without any.
#include <gtest/gtest.h>

#include <string>

#include "lister/lister_resources.h"
#include "platform/ui/resources.h"
#include "ui/main_dialog.h"
#include "ui/resource_ids.h"
#include "window_driver.h"

namespace {

using namespace uitest;

// The build names the programs by their paths on the build machine; under Wine that
// machine's root is the drive Z:.
String ProgramPath(const char* path) {
    String windowsPath = path[0] == '/' ? TEXT("Z:") : TEXT("");
    for (const char* p = path; *p; ++p)
        windowsPath += *p == '/' ? TEXT('\\') : static_cast<WCHAR>(*p);
    return windowsPath;
}

// A started program; its standard output and error go into one pipe.
class Program {
  public:
    Program(const char* path, LPCWSTR arguments) {
        SECURITY_ATTRIBUTES inherit{sizeof(inherit), nullptr, TRUE};
        EXPECT_TRUE(CreatePipe(&read_, &write_, &inherit, 0));
        SetHandleInformation(read_, HANDLE_FLAG_INHERIT, 0);
        String line = TEXT("\"") + ProgramPath(path) + TEXT("\" ") + arguments;
        STARTUPINFOW startup{};
        startup.cb = sizeof(startup);
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdOutput = startup.hStdError = write_;
        EXPECT_TRUE(CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr,
                                   nullptr, &startup, &process_));
        CloseHandle(write_);
    }
    ~Program() {
        if (process_.hProcess) {
            if (WaitForSingleObject(process_.hProcess, 0) == WAIT_TIMEOUT)
                TerminateProcess(process_.hProcess, 99);
            CloseHandle(process_.hProcess);
            CloseHandle(process_.hThread);
        }
        CloseHandle(read_);
    }
    // The exit code once the program has ended; 259 (still active) if it never does.
    DWORD ExitCode() {
        WaitForSingleObject(process_.hProcess, 60000);
        DWORD code = 0;
        GetExitCodeProcess(process_.hProcess, &code);
        return code;
    }
    DWORD Id() const { return process_.dwProcessId; }
    // All it wrote, once it has ended, with the C library's line ends as "\n".
    std::string Output() {
        ExitCode();
        std::string text;
        char buffer[256];
        DWORD got = 0;
        while (ReadFile(read_, buffer, sizeof(buffer), &got, nullptr) && got > 0)
            text.append(buffer, got);
        std::erase(text, '\r');
        return text;
    }

  private:
    HANDLE read_ = nullptr, write_ = nullptr;
    PROCESS_INFORMATION process_{};
};

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
