// Platform-private: the dialog core that every other dialog unit builds on: the state of
// dialogs and controls, the kinds of control, the tab order, the front end that shows
// modal dialogs and the list of running ones.
//
// The units above it, each using only those before it: dialog_paint.h (layout and
// painting), the window functions and modal loop (dialogs.cpp), dialog_input.h (keys and
// clicks) and the front ends (terminal, test) that call the input functions.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/base/detail/windows.h"
#include "platform/ui/dialog_testing.h"
#include "platform/ui/dialogs.h"

namespace platform::detail {

struct DialogState : WindowExtension {
    bool ended = false;
    INT_PTR result = 0;
    HWND focus = nullptr;
    bool fullScreen = false;
    bool taskbarHidden = false;
    int foregroundRequests = 0;
};

struct EditState : WindowExtension {
    int topLine = 0;
    int selStart = 0;
    int selEnd = 0;
    int width = 0;  // cells per line, from the last layout
    int rows = 1;   // visible lines, from the last layout
};

struct ListState : WindowExtension {
    std::vector<std::u16string> items;
    int selection = -1;
    int top = 0;
    int rows = 1;     // visible lines, from the last layout
    int left = 0;     // first column shown: a line wider than the list scrolls sideways
    int columns = 1;  // visible columns, from the last layout
};

struct StaticState : WindowExtension {
    HICON icon = nullptr;
};

// The controls (controls.cpp).
enum class ControlKind { Other, Edit, Button, List, Static };
ControlKind KindOf(const WindowRecord& record);
// Registers "EDIT", "BUTTON", "LISTBOX" and "STATIC" as system classes.
void RegisterControlClasses();
// Sends the button's click to its parent; false when it is hidden, disabled or alone.
bool ClickButton(HWND button);
// The lines of an edit box's text wrapped to width cells.
std::vector<std::u16string> WrapText(std::u16string_view text, int width);

// A dialog's state and tab order (dialog_state.cpp). Owner thread only.
// Null for a window that is not a dialog.
DialogState* GetDialogState(HWND dialog);
bool DoneButtonVisible(HWND dialog);
// The dialog a control belongs to; null when its parent is not a dialog.
HWND DialogOf(HWND control);
// The next (or previous) enabled, visible tab-stop control after from, wrapping around;
// from itself is chosen only when it is the one left. Null when there is none.
HWND NextTabStop(HWND dialog, HWND from, bool forward);

// What shows modal dialogs to the user. Its functions run on the dialog's thread.
struct FrontEnd {
    virtual ~FrontEnd() = default;
    // False (with the reason) when it cannot show anything, e.g. without a terminal.
    // Check only looks; Open takes the screen.
    virtual bool Check(std::string* why) = 0;
    virtual bool Open(std::string* why) = 0;
    virtual void DialogStarted(HWND dialog) = 0;
    virtual void DialogEnded(HWND dialog) = 0;
    // Descriptors the modal loop waits on besides its message queue.
    virtual int InputFds(pollfd* fds, int max) = 0;
    virtual void HandleInput(HWND dialog, const pollfd* fds, int count) = 0;
    virtual void Paint(const std::vector<HWND>& dialogs) = 0;
    virtual void Alert(HWND dialog) = 0;
    virtual void ScreenSize(int* columns, int* rows) = 0;
};

// The front end and the running dialogs (front_end.cpp). The program's front end is
// chosen at start (the terminal, by the entry); the test front end, once set, takes over.
FrontEnd* ActiveFrontEnd();  // null when none was chosen
void SetProgramFrontEnd(FrontEnd* frontEnd);
void SetTestFrontEnd(FrontEnd* frontEnd);
// Called by the modal loop around its run.
void DialogRunning(HWND dialog);
void DialogGone(HWND dialog);
// Modal dialogs running on the calling thread, outermost first.
const std::vector<HWND>& ThreadDialogs();
// Modal dialogs running in the process, for the test front end.
std::vector<HWND> ProcessDialogs();
// Waits for a running modal dialog other than skip (the innermost); null after timeoutMs.
HWND WaitForRunningDialog(int timeoutMs, HWND skip);
// Waits until dialog no longer runs; false after timeoutMs.
bool WaitForDialogGone(HWND dialog, int timeoutMs);

}  // namespace platform::detail
