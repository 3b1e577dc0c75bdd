#include "lister/lister_window.h"

#include "lister/lister_resources.h"
#include "lister/port_enum.h"
#include "platform/base/messages.h"
#include "platform/ui/dialogs.h"
#include "platform/ui/resources.h"
#include "platform/ui/shell.h"

namespace {

// Full screen with a Done button in the title bar, input panel down, empty menu bar.
constexpr DWORD kShellDialogFlags =
    SHIDIF_DONEBUTTON | SHIDIF_SIZEDLGFULLSCREEN | SHIDIF_SIPDOWN | SHIDIF_EMPTYMENU;

void InitListerDialog(HWND window) {
    SHINITDLGINFO info{SHIDIM_FLAGS, window, kShellDialogFlags};
    SHInitDialog(&info);
    ListActivePorts(window);
    ListBluetoothPorts(window);
}

}  // namespace

INT_PTR CALLBACK ListerDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
        case WM_INITDIALOG:
            InitListerDialog(window);
            return TRUE;
        case WM_COMMAND:
            // The list's notifications arrive here too and are left alone.
            if (LOWORD(wParam) != IDOK) return FALSE;
            EndDialog(window, 1);
            return TRUE;
        case WM_CLOSE:
            EndDialog(window, 0);
            return TRUE;
        case WM_SIZE:
            return TRUE;
        default:
            return FALSE;
    }
}

ATOM RegisterListerClass(HINSTANCE instance) {
    WNDCLASSW windowClass{};
    if (!GetClassInfoW(nullptr, TEXT("Dialog"), &windowClass)) return 0;
    windowClass.hInstance = instance;
    windowClass.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(IDI_LISTER));
    windowClass.lpszClassName = LISTER_CLASS_NAME;
    return RegisterClassW(&windowClass);
}
