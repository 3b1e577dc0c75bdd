// Dialogs and their controls with the Win32 names: modal dialogs from in-memory templates
// in the standard binary layout, the "EDIT", "BUTTON", "LISTBOX" and "STATIC" controls,
// focus, enabling, window texts and the message box.
//
// A modal dialog is shown by the active front end: the terminal (ncurses) in a program,
// or the in-process test front end (platform/dialog_testing.h) in tests. Both run the same
// dialog code; only drawing and input differ.
#pragma once

#include <string>

#include "platform/base/messages.h"
#include "platform/base/types.h"

#ifdef _WIN32
#include "platform/ui/windows/dialogs_win32.h"
#else

typedef INT_PTR(CALLBACK* DLGPROC)(HWND, UINT, WPARAM, LPARAM);

#pragma pack(push, 2)
struct DLGTEMPLATE {
    DWORD style;
    DWORD dwExtendedStyle;
    WORD cdit;
    short x;
    short y;
    short cx;
    short cy;
};
struct DLGITEMTEMPLATE {
    DWORD style;
    DWORD dwExtendedStyle;
    short x;
    short y;
    short cx;
    short cy;
    WORD id;
};
#pragma pack(pop)
typedef const DLGTEMPLATE* LPCDLGTEMPLATEW;

// Window styles.
#define WS_OVERLAPPED 0x00000000u
#define WS_POPUP 0x80000000u
#define WS_CHILD 0x40000000u
#define WS_VISIBLE 0x10000000u
#define WS_DISABLED 0x08000000u
#define WS_CAPTION 0x00C00000u
#define WS_BORDER 0x00800000u
#define WS_DLGFRAME 0x00400000u
#define WS_VSCROLL 0x00200000u
#define WS_HSCROLL 0x00100000u
#define WS_SYSMENU 0x00080000u
#define WS_GROUP 0x00020000u
#define WS_TABSTOP 0x00010000u
#define WS_EX_CAPTIONOKBTN 0x80000000u
#define WS_EX_APPWINDOW 0x00040000u

// Dialog styles.
#define DS_SETFONT 0x40u
#define DS_MODALFRAME 0x80u
#define DS_CENTER 0x0800u

// Control styles.
#define ES_LEFT 0x0000u
#define ES_CENTER 0x0001u
#define ES_MULTILINE 0x0004u
#define ES_AUTOVSCROLL 0x0040u
#define ES_AUTOHSCROLL 0x0080u
#define ES_READONLY 0x0800u
#define BS_PUSHBUTTON 0x0u
#define BS_DEFPUSHBUTTON 0x1u
#define LBS_NOTIFY 0x0001u
#define LBS_SORT 0x0002u
#define SS_LEFT 0x0u
#define SS_CENTER 0x1u
#define SS_RIGHT 0x2u
#define SS_ICON 0x3u
#define SS_TYPEMASK 0x1Fu
#define SS_CENTERIMAGE 0x0200u

// Dialog and control messages and notifications.
#define WM_GETDLGCODE 0x0087u
#define WM_NEXTDLGCTL 0x0028u
#define EM_GETSEL 0x00B0u
#define EM_SETSEL 0x00B1u
#define EM_LINESCROLL 0x00B6u
#define EM_SCROLLCARET 0x00B7u
#define EM_GETLINECOUNT 0x00BAu
#define EM_REPLACESEL 0x00C2u
#define EM_GETFIRSTVISIBLELINE 0x00CEu
#define EM_SETREADONLY 0x00CFu
#define BM_CLICK 0x00F5u
#define STM_SETICON 0x0170u
#define STM_GETICON 0x0171u
#define LB_ADDSTRING 0x0180u
#define LB_INSERTSTRING 0x0181u
#define LB_DELETESTRING 0x0182u
#define LB_RESETCONTENT 0x0184u
#define LB_SETCURSEL 0x0186u
#define LB_GETCURSEL 0x0188u
#define LB_GETTEXT 0x0189u
#define LB_GETTEXTLEN 0x018Au
#define LB_GETCOUNT 0x018Bu
#define LB_GETTOPINDEX 0x018Eu
#define LB_SETTOPINDEX 0x0197u
#define LB_ERR (-1)
#define BN_CLICKED 0u
#define LBN_SELCHANGE 1u
#define LBN_DBLCLK 2u

#define IDOK 1
#define IDCANCEL 2
#define ICON_SMALL 0
#define ICON_BIG 1

// Slots of a dialog window's extra bytes.
#define DWLP_MSGRESULT 0
#define DWLP_DLGPROC ((int)sizeof(LRESULT))
#define DWLP_USER (DWLP_DLGPROC + (int)sizeof(DLGPROC))
#define DLGWINDOWEXTRA (DWLP_USER + (int)sizeof(LONG_PTR))

#define MB_OK 0x0u
#define MB_ICONINFORMATION 0x40u
#define MB_ICONWARNING 0x30u
#define MB_ICONERROR 0x10u

// Runs a modal dialog; returns EndDialog's result, or -1 when the template is unusable or
// no front end is available.
INT_PTR DialogBoxIndirectParamW(HINSTANCE instance, LPCDLGTEMPLATEW dialogTemplate, HWND owner,
                                DLGPROC dialogProc, LPARAM initParam);
BOOL EndDialog(HWND dialog, INT_PTR result);
LRESULT DefDlgProcW(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

HWND GetDlgItem(HWND dialog, int id);
int GetDlgCtrlID(HWND window);
HWND GetParent(HWND window);
LRESULT SendDlgItemMessageW(HWND dialog, int id, UINT message, WPARAM wParam, LPARAM lParam);
BOOL SetDlgItemTextW(HWND dialog, int id, LPCWSTR text);
UINT GetDlgItemTextW(HWND dialog, int id, LPWSTR buffer, int size);
BOOL SetWindowTextW(HWND window, LPCWSTR text);
int GetWindowTextW(HWND window, LPWSTR buffer, int size);
int GetWindowTextLengthW(HWND window);
// Returns nonzero when the window was disabled before.
BOOL EnableWindow(HWND window, BOOL enable);
BOOL IsWindowEnabled(HWND window);
HWND SetFocus(HWND window);
// The focused control of the calling thread's innermost modal dialog.
HWND GetFocus();
BOOL ShowWindow(HWND window, int command);
BOOL UpdateWindow(HWND window);
int MessageBoxW(HWND owner, LPCWSTR text, LPCWSTR caption, UINT type);

#define SW_HIDE 0
#define SW_SHOWNORMAL 1
#define SW_SHOW 5

namespace platform {
// True when the active front end can show dialogs now; otherwise why says why not.
bool FrontEndUsable(std::string* why);
}  // namespace platform
#endif  // _WIN32

namespace platform {
// Registers the system window classes ("Dialog", "EDIT", "BUTTON", "LISTBOX", "STATIC"; on
// Windows only "Dialog", the others are the system's). Called once at program start
// (platform::StartPlatform) and by test fixtures, before the first dialog; calls after the
// first do nothing.
void StartWindowClasses();
}  // namespace platform
