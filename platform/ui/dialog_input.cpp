// What keys and mouse clicks do in a dialog: Tab moves the focus, Enter and Space press
// the focused button, arrows and pages scroll the focused edit box or list (Left and Right
// scroll a list sideways), Escape and Ctrl-C ask to close; a click presses, selects or focuses what
// it lands on.
#include "internal/dialog_input.h"

#include <algorithm>

#include "internal/dialog_paint.h"

namespace platform::detail {

bool PressDone(HWND dialog) {
    if (!DoneButtonVisible(dialog)) return false;
    SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    return true;
}

// A close request (Escape, Ctrl-C) reaches only a dialog that offers a way to close: a
// Done/OK button in its title bar or a system menu. A dialog without either, such as one
// whose Done button was taken away, ends only through its own buttons.
void SendCloseRequest(HWND dialog) {
    auto record = FindWindowRecord(dialog);
    if (!record) return;
    if (DoneButtonVisible(dialog) || (record->style & WS_SYSMENU))
        SendMessageW(dialog, WM_CLOSE, 0, 0);
}

namespace {

// A list's lines wider than the list are read by scrolling it sideways, a few columns at a
// time; the next paint's layout keeps the offset within the longest line.
void ScrollSideways(WindowRecord& list, bool right) {
    auto* state = dynamic_cast<ListState*>(list.extension.get());
    if (!state) return;
    int step = std::max(1, state->columns / 2);
    int limit = std::max(0, LongestItem(*state) - state->columns);
    state->left = std::clamp(state->left + (right ? step : -step), 0, limit);
}

}  // namespace

void HandleKey(HWND dialog, DialogKey key) {
    DialogState* state = GetDialogState(dialog);
    if (!state) return;
    HWND focus = state->focus;
    auto focused = FindWindowRecord(focus);
    ControlKind kind = focused ? KindOf(*focused) : ControlKind::Other;
    switch (key) {
        case DialogKey::Tab:
        case DialogKey::ShiftTab:
            if (HWND next = NextTabStop(dialog, focus, key == DialogKey::Tab)) SetFocus(next);
            return;
        case DialogKey::Enter:
        case DialogKey::Space:
            if (kind == ControlKind::Button) ClickButton(focus);
            return;
        case DialogKey::Up:
        case DialogKey::Down:
        case DialogKey::PageUp:
        case DialogKey::PageDown: {
            bool down = key == DialogKey::Down || key == DialogKey::PageDown;
            bool page = key == DialogKey::PageUp || key == DialogKey::PageDown;
            if (kind == ControlKind::Edit) {
                auto* edit = dynamic_cast<EditState*>(focused->extension.get());
                if (!edit) return;
                int lines = page ? std::max(1, edit->rows) : 1;
                SendMessageW(focus, EM_LINESCROLL, 0, down ? lines : -lines);
            } else if (kind == ControlKind::List) {
                auto* list = dynamic_cast<ListState*>(focused->extension.get());
                if (!list) return;
                int count = static_cast<int>(list->items.size());
                if (count == 0) return;
                int step = page ? std::max(1, list->rows - 1) : 1;
                int next = list->selection < 0 ? 0 : list->selection + (down ? step : -step);
                next = std::clamp(next, 0, count - 1);
                if (next == list->selection) return;
                SendMessageW(focus, LB_SETCURSEL, static_cast<WPARAM>(next), 0);
                if (focused->style & LBS_NOTIFY)
                    SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(focused->id, LBN_SELCHANGE),
                                 reinterpret_cast<LPARAM>(focus));
            }
            return;
        }
        case DialogKey::Escape:
        case DialogKey::CtrlC:
            SendCloseRequest(dialog);
            return;
        case DialogKey::Left:
        case DialogKey::Right:
            if (kind == ControlKind::List) ScrollSideways(*focused, key == DialogKey::Right);
            return;
    }
}

bool HandleClick(HWND dialog, int column, int row) {
    FrontEnd* frontEnd = ActiveFrontEnd();
    int columns = 80, rows = 24;
    if (frontEnd) frontEnd->ScreenSize(&columns, &rows);
    DialogLayout layout = LayoutDialog(dialog, columns, rows);
    if (layout.done.w > 0 && layout.done.Contains(column, row)) return PressDone(dialog);
    for (auto& [control, cell] : layout.controls) {
        if (!cell.Contains(column, row)) continue;
        auto record = FindWindowRecord(control);
        if (!record || (record->style & WS_DISABLED)) return false;
        switch (KindOf(*record)) {
            case ControlKind::Button:
                SetFocus(control);
                return ClickButton(control);
            case ControlKind::List: {
                SetFocus(control);
                auto* list = dynamic_cast<ListState*>(record->extension.get());
                if (!list) return true;
                bool border = (record->style & WS_BORDER) && cell.h >= 3;
                int line = list->top + row - cell.y - (border ? 1 : 0);
                if (line < 0 || line >= static_cast<int>(list->items.size())) return true;
                if (line != list->selection) {
                    SendMessageW(control, LB_SETCURSEL, static_cast<WPARAM>(line), 0);
                    if (record->style & LBS_NOTIFY)
                        SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(record->id, LBN_SELCHANGE),
                                     reinterpret_cast<LPARAM>(control));
                }
                return true;
            }
            case ControlKind::Edit:
                if (record->style & WS_TABSTOP) SetFocus(control);
                return true;
            default:
                return false;
        }
    }
    return false;
}

}  // namespace platform::detail
