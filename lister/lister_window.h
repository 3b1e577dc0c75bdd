// The lister window: its window class and the procedure of its one dialog.
#pragma once

#include "platform/base/types.h"

// The dialog procedure of IDD_LISTER: fills the port list once at initialisation and ends
// with 1 on OK (or the title bar's Done) and with 0 on a close request.
INT_PTR CALLBACK ListerDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// Registers "LumbraClass": the system dialog class with the program's instance and icon.
// Returns the class atom, 0 when the dialog class cannot be read or registration fails.
ATOM RegisterListerClass(HINSTANCE instance);
