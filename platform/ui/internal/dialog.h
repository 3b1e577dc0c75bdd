// Platform-private: dialog state, controls, layout on a grid of character cells, painting,
// and the front ends (terminal or test) that show modal dialogs.
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
    int rows = 1;  // visible lines, from the last layout
};

struct StaticState : WindowExtension {
    HICON icon = nullptr;
};

enum class ControlKind { Other, Edit, Button, List, Static };
ControlKind KindOf(const WindowRecord& record);

// Owner thread only; null for a window that is not a dialog.
DialogState* GetDialogState(HWND dialog);
bool DoneButtonVisible(HWND dialog);

// Input, on the dialog's thread.
void HandleKey(HWND dialog, DialogKey key);
bool HandleClick(HWND dialog, int column, int row);
bool ClickButton(HWND button);
bool PressDone(HWND dialog);
void SendCloseRequest(HWND dialog);
// The lines of an edit box's text wrapped to width cells.
std::vector<std::u16string> WrapText(std::u16string_view text, int width);

struct CellRect {
    int x = 0;
    int y = 0;
    int w = 0;
    int h = 0;
    bool Contains(int column, int row) const {
        return column >= x && column < x + w && row >= y && row < y + h;
    }
};

struct DialogLayout {
    CellRect frame;
    bool framed = false;  // drawn with a border (dialogs that do not fill the screen)
    CellRect title;       // row of the caption
    CellRect done;        // the title bar's Done/OK button; w == 0 when none
    CellRect client;
    std::vector<std::pair<HWND, CellRect>> controls;
};

// Owner thread only. Also records each edit box's and list box's visible size.
DialogLayout LayoutDialog(HWND dialog, int columns, int rows);

enum Attr : int { kNormal = 0, kReverse = 1, kBold = 2, kDim = 4, kUnderline = 8 };

struct Canvas {
    virtual ~Canvas() = default;
    virtual void Put(int column, int row, std::u16string_view text, int attr) = 0;
};

void PaintDialog(HWND dialog, int columns, int rows, Canvas& canvas);

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

FrontEnd* ActiveFrontEnd();
void SetTestFrontEnd(FrontEnd* frontEnd);
FrontEnd* TerminalFrontEnd();  // the ncurses front end
// Modal dialogs running on the calling thread, outermost first.
const std::vector<HWND>& ThreadDialogs();
// Modal dialogs running in the process, for the test front end.
std::vector<HWND> ProcessDialogs();
// Waits for a running modal dialog other than skip (the innermost); null after timeoutMs.
HWND WaitForRunningDialog(int timeoutMs, HWND skip);
// Waits until dialog no longer runs; false after timeoutMs.
bool WaitForDialogGone(HWND dialog, int timeoutMs);

}  // namespace platform::detail
