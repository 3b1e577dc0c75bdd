// The shell's dialog calls of Windows CE on the desktop: a full-screen dialog fills the work
// area (the screen less the task bar), and the Done button in the navigation bar is the
// caption's close box, which then presses OK.
#include "platform/ui/shell.h"

#include "windows/done_button.h"

namespace {

void PlaceOver(HWND dialog, const RECT& area) {
    SetWindowPos(dialog, nullptr, area.left, area.top, area.right - area.left,
                 area.bottom - area.top, SWP_NOZORDER | SWP_NOACTIVATE);
}

RECT WorkArea() {
    RECT area{0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &area, 0);
    return area;
}

// A dialog without a caption gets one for the close box, as Windows CE shows every
// full-screen dialog's title in its navigation bar.
void ShowDoneButton(HWND dialog, bool show) {
    LONG_PTR style = GetWindowLongPtrW(dialog, GWL_STYLE);
    if (show) {
        SetPropW(dialog, platform::detail::kDoneButtonProperty, reinterpret_cast<HANDLE>(1));
        style |= WS_CAPTION | WS_SYSMENU;
    } else {
        RemovePropW(dialog, platform::detail::kDoneButtonProperty);
        style &= ~static_cast<LONG_PTR>(WS_SYSMENU);
    }
    SetWindowLongPtrW(dialog, GWL_STYLE, style);
    SetWindowPos(dialog, nullptr, 0, 0, 0, 0,
                 SWP_FRAMECHANGED | SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

}  // namespace

// The system registers its controls itself.
BOOL SHInitExtraControls() {
    return TRUE;
}

BOOL SHInitDialog(PSHINITDLGINFO info) {
    if (!info || !(info->dwMask & SHIDIM_FLAGS) || !IsWindow(info->hDlg)) return FALSE;
    if (info->dwFlags & SHIDIF_DONEBUTTON) ShowDoneButton(info->hDlg, true);
    if (info->dwFlags & (SHIDIF_SIZEDLGFULLSCREEN | SHIDIF_FULLSCREENNOMENUBAR | SHIDIF_SIZEDLG))
        PlaceOver(info->hDlg, WorkArea());
    return TRUE;
}

BOOL SHDoneButton(HWND window, DWORD state) {
    if (!IsWindow(window)) return FALSE;
    if (state & SHDB_HIDE)
        ShowDoneButton(window, false);
    else if (state & (SHDB_SHOW | SHDB_SHOWCANCEL))
        ShowDoneButton(window, true);
    return TRUE;
}

// Hiding the task bar gives the window the whole screen; showing it again, the work area.
BOOL SHFullScreen(HWND window, DWORD state) {
    if (!IsWindow(window)) return FALSE;
    if (state & SHFS_HIDETASKBAR)
        PlaceOver(window, {0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)});
    else if (state & SHFS_SHOWTASKBAR)
        PlaceOver(window, WorkArea());
    return TRUE;
}
