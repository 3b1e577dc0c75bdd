// The two programs' dialogs under the system's dialog manager, in-process: the lister's
// window from its template with its icon, list and ways out, and Belvane's main dialog
// through the framework, as its WinMain runs it.
#include "platform/ui/dialogs.h"

#include <gtest/gtest.h>

#include <string>

#include "internal/template_parser.h"
#include "lister/lister_resources.h"
#include "lister/lister_window.h"
#include "platform/app/winmain.h"
#include "platform/io/devices.h"
#include "platform/io/registry.h"
#include "platform/ui/resources.h"
#include "ui/main_dialog.h"
#include "ui/resource_ids.h"
#include "window_driver.h"

namespace {

using namespace uitest;

void SetString(HKEY key, LPCWSTR name, LPCWSTR value) {
    RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value),
                   static_cast<DWORD>((lstrlenW(value) + 1) * sizeof(WCHAR)));
}

// A key under the device manager's HKEY_LOCAL_MACHINE with one string value.
void PutKey(LPCWSTR path, DWORD options, LPCWSTR name, LPCWSTR value, LPCWSTR name2 = nullptr,
            LPCWSTR value2 = nullptr) {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, path, 0, nullptr, options, KEY_ALL_ACCESS,
                              nullptr, &key, nullptr),
              ERROR_SUCCESS);
    SetString(key, name, value);
    if (name2) SetString(key, name2, value2);
    RegCloseKey(key);
}

class Dialogs : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        platform::RegisterResources(ListerResources());
        platform::RegisterResources(ProgramResources());
        platform::StartPlatform();
        // One driver instance and one Bluetooth port, as the device manager would show them.
        PutKey(TEXT("Drivers\\BuiltIn\\Test"), 0, TEXT("FriendlyName"), TEXT("Test port"));
        PutKey(TEXT("Drivers\\Active\\90"), REG_OPTION_VOLATILE, TEXT("Name"), TEXT("COM7:"),
               TEXT("Key"), TEXT("Drivers\\BuiltIn\\Test"));
        PutKey(TEXT("Software\\Microsoft\\Bluetooth\\Serial\\Ports\\Dev1"), 0, TEXT("Port"),
               TEXT("COM9"));
        ASSERT_NE(RegisterListerClass(GetModuleHandleW(nullptr)), 0);
    }
};

INT_PTR RunLister() {
    HRSRC found = FindResourceW(nullptr, MAKEINTRESOURCEW(IDD_LISTER), RT_DIALOG);
    auto source = static_cast<LPCDLGTEMPLATEW>(LockResource(LoadResource(nullptr, found)));
    return DialogBoxIndirectParamW(GetModuleHandleW(nullptr), source, nullptr, ListerDialogProc, 0);
}

// Every control of the template stands in the live dialog where the template puts it, of
// its class and with its text; the icon control shows the lister's icon, as the class does.
TEST_F(Dialogs, ListerWindowIsItsTemplate) {
    platform::detail::ParsedTemplate parsed;
    HRSRC found = FindResourceW(nullptr, MAKEINTRESOURCEW(IDD_LISTER), RT_DIALOG);
    ASSERT_TRUE(platform::detail::ParseTemplate(
        static_cast<LPCDLGTEMPLATEW>(LockResource(LoadResource(nullptr, found))), &parsed));
    ModalRun run(RunLister);
    HWND window = run.Find(LISTER_CLASS_NAME, nullptr);
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(Text(window), TEXT("LumbraPorts"));
    for (const auto& item : parsed.items) {
        SCOPED_TRACE(item.id);
        HWND control = GetDlgItem(window, item.id);
        ASSERT_NE(control, nullptr);
        EXPECT_EQ(
            CompareStringOrdinal(ClassOf(control).c_str(), -1, item.className.c_str(), -1, TRUE),
            CSTR_EQUAL);
        if (item.textOrdinal < 0) {
            EXPECT_EQ(Text(control), item.text);
        }
        RECT want{item.x, item.y, item.x + item.cx, item.y + item.cy}, got{};
        MapDialogRect(window, &want);
        GetWindowRect(control, &got);
        MapWindowPoints(nullptr, window, reinterpret_cast<POINT*>(&got), 2);
        EXPECT_EQ(got.left, want.left);
        EXPECT_EQ(got.top, want.top);
        EXPECT_EQ(got.right, want.right);
    }
    HICON icon = LoadIconW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDI_LISTER));
    ASSERT_NE(icon, nullptr);
    EXPECT_EQ(reinterpret_cast<HICON>(SendDlgItemMessageW(window, IDC_APP_ICON, STM_GETICON, 0, 0)),
              icon);
    EXPECT_EQ(reinterpret_cast<HICON>(GetClassLongPtrW(window, GCLP_HICON)), icon);
    // The shell's full-screen dialog with its Done button: the work area, a close box.
    RECT rect{};
    GetWindowRect(window, &rect);
    EXPECT_TRUE(SameRect(rect, WorkArea()));
    EXPECT_TRUE(GetWindowLongPtrW(window, GWL_STYLE) & WS_SYSMENU);
    PostMessageW(window, WM_COMMAND, IDOK, 0);
    EXPECT_EQ(run.Result(), 1);
}

// The port list, sorted by the list box: the active driver with its friendly name and the
// Bluetooth port.
TEST_F(Dialogs, ListerListsThePorts) {
    ModalRun run(RunLister);
    HWND window = run.Find(LISTER_CLASS_NAME, nullptr);
    ASSERT_NE(window, nullptr);
    HWND list = GetDlgItem(window, IDC_PORT_LIST);
    ASSERT_EQ(SendMessageW(list, LB_GETCOUNT, 0, 0), 2);
    WCHAR line[128] = {};
    SendMessageW(list, LB_GETTEXT, 0, reinterpret_cast<LPARAM>(line));
    EXPECT_EQ(String(line), TEXT("COM7: - Test port"));
    SendMessageW(list, LB_GETTEXT, 1, reinterpret_cast<LPARAM>(line));
    EXPECT_EQ(String(line), TEXT("COM9: - Bluetooth"));
    PostMessageW(window, WM_CLOSE, 0, 0);
    EXPECT_EQ(run.Result(), 0);
}

// The ways out and their results: the Done button (the close box) and OK end with 1, a
// close request with 0; a list notification leaves the window up.
TEST_F(Dialogs, ListerWaysOut) {
    struct Way {
        UINT message;
        WPARAM wParam;
        INT_PTR result;
    };
    for (const Way way :
         {Way{WM_SYSCOMMAND, SC_CLOSE, 1}, Way{WM_COMMAND, IDOK, 1}, Way{WM_CLOSE, 0, 0}}) {
        SCOPED_TRACE(way.message);
        ModalRun run(RunLister);
        HWND window = run.Find(LISTER_CLASS_NAME, nullptr);
        ASSERT_NE(window, nullptr);
        SendMessageW(window, WM_COMMAND, MAKEWPARAM(IDC_PORT_LIST, LBN_SELCHANGE), 0);
        EXPECT_TRUE(IsWindow(window));
        PostMessageW(window, way.message, way.wParam, 0);
        EXPECT_EQ(run.Result(), way.result);
    }
}

// Belvane finds no port here (Wine has none): the report says the test failed, only Cancel
// is enabled, the caption has no close box (only Cancel may end the dialog) and the dialog
// fills the work area; Cancel ends it and the program.
TEST_F(Dialogs, BelvaneWithoutPortsShowsItsFailure) {
    WCHAR commandLine[1] = {};
    ModalRun run([&] { return WinMain(GetModuleHandleW(nullptr), nullptr, commandLine, SW_SHOW); });
    HWND dialog = run.Find(nullptr, TEXT("WM_Belvane"));
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(ItemText(dialog, IDC_REPORT), kStartFailedText);
    EXPECT_EQ(ItemText(dialog, IDC_DEPLOY), TEXT("Belvane"));
    EXPECT_FALSE(IsWindowEnabled(GetDlgItem(dialog, IDC_DEPLOY)));
    EXPECT_TRUE(IsWindowEnabled(GetDlgItem(dialog, IDC_CANCEL_BUTTON)));
    EXPECT_FALSE(GetWindowLongPtrW(dialog, GWL_STYLE) & WS_SYSMENU);
    EXPECT_NE(SendMessageW(dialog, WM_GETICON, ICON_BIG, 0), 0);
    RECT rect{};
    GetWindowRect(dialog, &rect);
    EXPECT_TRUE(SameRect(rect, WorkArea()));
    SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDC_CANCEL_BUTTON, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(dialog, IDC_CANCEL_BUTTON)));
    EXPECT_EQ(run.Result(), 0);
    EXPECT_FALSE(IsWindow(dialog));
}

}  // namespace
