// The test front end: dialogs run with the same code as on the terminal, without drawing;
// tests drive them through platform/dialog_testing.h.
#include "platform/ui/dialog_testing.h"

#include "internal/dialog_input.h"
#include "internal/dialog_paint.h"

namespace platform::detail {
namespace {

class TestFrontEnd : public FrontEnd {
  public:
    int columns = 80;
    int rows = 24;
    bool Check(std::string*) override { return true; }
    bool Open(std::string*) override { return true; }
    void DialogStarted(HWND) override {}
    void DialogEnded(HWND) override {}
    int InputFds(pollfd*, int) override { return 0; }
    void HandleInput(HWND, const pollfd*, int) override {}
    void Paint(const std::vector<HWND>&) override {}
    void Alert(HWND) override {}
    void ScreenSize(int* c, int* r) override {
        *c = columns;
        *r = rows;
    }
};

TestFrontEnd& TheTestFrontEnd() {
    static TestFrontEnd* frontEnd = new TestFrontEnd;
    return *frontEnd;
}

class GridCanvas : public Canvas {
  public:
    GridCanvas(int columns, int rows)
        : lines_(static_cast<size_t>(rows), std::u16string(static_cast<size_t>(columns), u' ')) {}
    void Put(int column, int row, std::u16string_view text, int) override {
        if (row < 0 || row >= static_cast<int>(lines_.size())) return;
        auto& line = lines_[static_cast<size_t>(row)];
        for (size_t i = 0; i < text.size(); ++i) {
            int x = column + static_cast<int>(i);
            if (x >= 0 && x < static_cast<int>(line.size())) line[static_cast<size_t>(x)] = text[i];
        }
    }
    std::vector<std::u16string> lines_;
};

HWND ControlOf(HWND dialog, int id) {
    auto record = FindWindowRecord(dialog);
    if (!record) return nullptr;
    for (HWND child : record->children) {
        auto c = FindWindowRecord(child);
        if (c && c->id == id) return child;
    }
    return nullptr;
}

template <class T>
T* ControlState(HWND dialog, int id) {
    auto record = FindWindowRecord(ControlOf(dialog, id));
    return record ? dynamic_cast<T*>(record->extension.get()) : nullptr;
}

}  // namespace
}  // namespace platform::detail

namespace platform::testing {

using namespace platform::detail;

void UseTestFrontEnd(int columns, int rows) {
    TheTestFrontEnd().columns = columns;
    TheTestFrontEnd().rows = rows;
    SetTestFrontEnd(&TheTestFrontEnd());
}

HWND WaitForDialog(int timeoutMs, HWND skip) {
    return WaitForRunningDialog(timeoutMs, skip);
}

bool WaitForDialogEnd(HWND dialog, int timeoutMs) {
    return WaitForDialogGone(dialog, timeoutMs);
}

void SendKey(HWND dialog, DialogKey key) {
    RunOnOwner(dialog, [&]() -> LRESULT {
        HandleKey(dialog, key);
        return 0;
    });
}

bool ClickControl(HWND dialog, int id) {
    return RunOnOwner(dialog, [&]() -> LRESULT {
               HWND control = ControlOf(dialog, id);
               DialogLayout layout =
                   LayoutDialog(dialog, TheTestFrontEnd().columns, TheTestFrontEnd().rows);
               for (auto& [window, cell] : layout.controls)
                   if (window == control)
                       return HandleClick(dialog, cell.x + cell.w / 2, cell.y + cell.h / 2);
               return FALSE;
           }) != 0;
}

bool ClickAt(HWND dialog, int column, int row) {
    return RunOnOwner(dialog, [&]() -> LRESULT { return HandleClick(dialog, column, row); }) != 0;
}

bool PressDoneButton(HWND dialog) {
    return RunOnOwner(dialog, [&]() -> LRESULT { return PressDone(dialog); }) != 0;
}

void RequestClose(HWND dialog) {
    PostMessageW(dialog, WM_CLOSE, 0, 0);
}

std::u16string ControlText(HWND dialog, int id) {
    std::u16string text;
    RunOnOwner(dialog, [&]() -> LRESULT {
        if (auto record = FindWindowRecord(ControlOf(dialog, id))) text = record->text;
        return 0;
    });
    return text;
}

bool ControlEnabled(HWND dialog, int id) {
    return RunOnOwner(dialog, [&]() -> LRESULT {
               auto record = FindWindowRecord(ControlOf(dialog, id));
               return record && !(record->style & WS_DISABLED);
           }) != 0;
}

bool DoneButtonShown(HWND dialog) {
    return RunOnOwner(dialog, [&]() -> LRESULT { return DoneButtonVisible(dialog); }) != 0;
}

bool IsFullScreen(HWND dialog) {
    return RunOnOwner(dialog, [&]() -> LRESULT {
               DialogState* state = GetDialogState(dialog);
               return state && state->fullScreen;
           }) != 0;
}

int FocusedControlId(HWND dialog) {
    return static_cast<int>(RunOnOwner(dialog, [&]() -> LRESULT {
        DialogState* state = GetDialogState(dialog);
        auto record = state ? FindWindowRecord(state->focus) : nullptr;
        return record ? record->id : 0;
    }));
}

std::vector<std::u16string> ListLines(HWND dialog, int id) {
    std::vector<std::u16string> lines;
    RunOnOwner(dialog, [&]() -> LRESULT {
        if (auto* list = ControlState<ListState>(dialog, id)) lines = list->items;
        return 0;
    });
    return lines;
}

int ListSelection(HWND dialog, int id) {
    return static_cast<int>(RunOnOwner(dialog, [&]() -> LRESULT {
        auto* list = ControlState<ListState>(dialog, id);
        return list ? list->selection : -1;
    }));
}

int FirstVisibleLine(HWND dialog, int id) {
    return static_cast<int>(RunOnOwner(dialog, [&]() -> LRESULT {
        if (auto* list = ControlState<ListState>(dialog, id)) return list->top;
        if (auto* edit = ControlState<EditState>(dialog, id)) return edit->topLine;
        return -1;
    }));
}

int ForegroundRequests(HWND dialog) {
    return static_cast<int>(RunOnOwner(dialog, [&]() -> LRESULT {
        DialogState* state = GetDialogState(dialog);
        return state ? state->foregroundRequests : 0;
    }));
}

std::vector<std::u16string> Screen(HWND dialog) {
    int columns = TheTestFrontEnd().columns, rows = TheTestFrontEnd().rows;
    GridCanvas canvas(columns, rows);
    RunOnOwner(dialog, [&]() -> LRESULT {
        for (HWND shown : ThreadDialogs()) PaintDialog(shown, columns, rows, canvas);
        return 0;
    });
    return canvas.lines_;
}

}  // namespace platform::testing
