// The in-process test front end: runs modal dialogs without a terminal, with the same
// dialog code, and lets a test press buttons, send keys and read the controls.
//
// Use: call UseTestFrontEnd() once, run the dialog (DialogBoxIndirectParamW, a framework
// dialog's DoModal, or a program's WinMain) on a thread of its own, and drive it from the
// test's thread: WaitForDialog() returns the running dialog, and every function below may
// be called from any thread; each runs its work on the dialog's own thread (as
// SendMessageW does) while the dialog waits for input, so the dialog code sees keys and
// clicks exactly where it would see them from the terminal.
#pragma once

#include <string>
#include <vector>

#include "platform/base/types.h"

namespace platform {

enum class DialogKey {
    Tab,
    ShiftTab,
    Enter,
    Space,
    Up,
    Down,
    PageUp,
    PageDown,
    Escape,
    CtrlC,
    Left,
    Right
};

namespace testing {

// Modal dialogs of this process run with the test front end from now on. The screen it
// lays dialogs out on is columns x rows character cells.
void UseTestFrontEnd(int columns = 80, int rows = 24);

// The innermost modal dialog running in this process (its WM_INITDIALOG handled), waiting
// up to timeoutMs; null when none came. skip ignores that dialog (to wait for the next).
HWND WaitForDialog(int timeoutMs = 10000, HWND skip = nullptr);
// Waits until the dialog has ended (true) or timeoutMs passed (false).
bool WaitForDialogEnd(HWND dialog, int timeoutMs = 10000);

void SendKey(HWND dialog, DialogKey key);
// A mouse click in the middle of the control; false when the control is missing, hidden
// or disabled (nothing happens then).
bool ClickControl(HWND dialog, int id);
// A mouse click at a cell of the screen.
bool ClickAt(HWND dialog, int column, int row);
// Presses the title bar's Done/OK button; false when the dialog has none.
bool PressDoneButton(HWND dialog);
// Asks the dialog to close, as a window manager's close request does (WM_CLOSE).
void RequestClose(HWND dialog);

std::u16string ControlText(HWND dialog, int id);
bool ControlEnabled(HWND dialog, int id);
bool DoneButtonShown(HWND dialog);
bool IsFullScreen(HWND dialog);
// Id of the focused control; 0 when no control has the focus.
int FocusedControlId(HWND dialog);
std::vector<std::u16string> ListLines(HWND dialog, int id);
int ListSelection(HWND dialog, int id);
// First visible line of an edit box or list box.
int FirstVisibleLine(HWND dialog, int id);
// How often the dialog was asked to come forward (SetForegroundWindow).
int ForegroundRequests(HWND dialog);
// The screen as the terminal would show it, one string per row.
std::vector<std::u16string> Screen(HWND dialog);

}  // namespace testing
}  // namespace platform
