// The shell library's dialog calls (aygshell): full-screen dialogs with a Done button in
// the title bar, and taking that button away again.
#pragma once

#include "platform/base/types.h"

#define SHIDIM_FLAGS 0x0001u
#define SHIDIF_DONEBUTTON 0x0001u
#define SHIDIF_SIZEDLG 0x0002u
#define SHIDIF_SIZEDLGFULLSCREEN 0x0004u
#define SHIDIF_SIPDOWN 0x0008u
#define SHIDIF_FULLSCREENNOMENUBAR 0x0010u
#define SHIDIF_EMPTYMENU 0x0020u

#define SHDB_SHOW 0x0001u
#define SHDB_HIDE 0x0002u
#define SHDB_SHOWCANCEL 0x0004u

#define SHFS_SHOWTASKBAR 0x0001u
#define SHFS_HIDETASKBAR 0x0002u
#define SHFS_SHOWSIPBUTTON 0x0004u
#define SHFS_HIDESIPBUTTON 0x0008u
#define SHFS_SHOWSTARTICON 0x0010u
#define SHFS_HIDESTARTICON 0x0020u

struct SHINITDLGINFO {
    DWORD dwMask;
    HWND hDlg;
    DWORD dwFlags;
};
typedef SHINITDLGINFO* PSHINITDLGINFO;

BOOL SHInitExtraControls();
// SHIDIF_DONEBUTTON puts a Done button in the title bar that sends WM_COMMAND IDOK;
// SHIDIF_SIZEDLGFULLSCREEN (or SHIDIF_FULLSCREENNOMENUBAR) makes the dialog fill the
// screen and follow its size. The input panel and the menu bar do not exist here.
BOOL SHInitDialog(PSHINITDLGINFO info);
// SHDB_HIDE takes the title bar's Done/OK button away, SHDB_SHOW gives it back.
BOOL SHDoneButton(HWND window, DWORD state);
// SHFS_HIDETASKBAR also takes the title bar's OK button away (it stands in the task bar),
// SHFS_SHOWTASKBAR gives it back.
BOOL SHFullScreen(HWND window, DWORD state);
