#include "platform/ui/shell.h"

#include "internal/dialog.h"

using namespace platform::detail;

// The controls are registered at program start (platform::StartWindowClasses).
BOOL SHInitExtraControls() {
    return TRUE;
}

BOOL SHInitDialog(PSHINITDLGINFO info) {
    if (!info || !(info->dwMask & SHIDIM_FLAGS)) return FALSE;
    HWND dialog = info->hDlg;
    DWORD flags = info->dwFlags;
    return static_cast<BOOL>(RunOnOwner(dialog, [&]() -> LRESULT {
        auto record = FindWindowRecord(dialog);
        DialogState* state = GetDialogState(dialog);
        if (!record || !state) return FALSE;
        if (flags & SHIDIF_DONEBUTTON) record->exStyle |= WS_EX_CAPTIONOKBTN;
        if (flags & (SHIDIF_SIZEDLGFULLSCREEN | SHIDIF_FULLSCREENNOMENUBAR | SHIDIF_SIZEDLG)) {
            state->fullScreen = true;
            int columns = 80, rows = 24;
            if (FrontEnd* frontEnd = ActiveFrontEnd()) frontEnd->ScreenSize(&columns, &rows);
            SendMessageW(dialog, WM_SIZE, 0, MAKELPARAM(columns, rows));
        }
        return TRUE;
    }));
}

BOOL SHDoneButton(HWND window, DWORD state) {
    return static_cast<BOOL>(RunOnOwner(window, [&]() -> LRESULT {
        auto record = FindWindowRecord(window);
        if (!record || !GetDialogState(window)) return FALSE;
        if (state & SHDB_HIDE)
            record->exStyle &= ~WS_EX_CAPTIONOKBTN;
        else if (state & (SHDB_SHOW | SHDB_SHOWCANCEL))
            record->exStyle |= WS_EX_CAPTIONOKBTN;
        return TRUE;
    }));
}

BOOL SHFullScreen(HWND window, DWORD state) {
    return static_cast<BOOL>(RunOnOwner(window, [&]() -> LRESULT {
        DialogState* dialog = GetDialogState(window);
        if (!dialog) return FALSE;
        if (state & SHFS_HIDETASKBAR) dialog->taskbarHidden = true;
        if (state & SHFS_SHOWTASKBAR) dialog->taskbarHidden = false;
        return TRUE;
    }));
}
