// What the dialog calls lack on desktop Windows; the rest is the system's own (dialogs.h
// includes this in place of its own declarations there).
//
// Desktop has no OK button in the caption: the template's request for one means nothing
// there, and the shell calls (shell.h) give the caption's close box that role instead.
#pragma once

#include "platform/base/windows/win32.h"

#ifndef WS_EX_CAPTIONOKBTN
#define WS_EX_CAPTIONOKBTN 0u
#endif

// The system's dialog manager does not know the programs' resources: this call runs the
// system's, then gives icon controls that name an icon of the registered tables their
// icon, and lets the close box of a dialog with a Done button press OK
// (platform/ui/windows/dialogs.cpp).
INT_PTR ProgramDialogBoxIndirectParamW(HINSTANCE instance, LPCDLGTEMPLATEW dialogTemplate,
                                       HWND owner, DLGPROC dialogProc, LPARAM initParam);
#define DialogBoxIndirectParamW ProgramDialogBoxIndirectParamW

// Windows CE reads the handle's lowest bit as "with its owned windows"; a desktop handle has
// no such bit, so it is taken off. The desktop keeps owned windows above their owner, so they
// come forward with it anyway.
BOOL ProgramSetForegroundWindow(HWND window);
#define SetForegroundWindow ProgramSetForegroundWindow
