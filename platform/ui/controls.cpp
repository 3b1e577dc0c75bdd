// The controls "EDIT", "BUTTON", "LISTBOX" and "STATIC". Each control keeps its state
// beside its window record. They know nothing of dialogs: a button tells its parent.
#include <algorithm>

#include "internal/dialog.h"

namespace platform::detail {
namespace {

template <class T>
T* StateOf(HWND window) {
    auto record = FindWindowRecord(window);
    return record ? dynamic_cast<T*>(record->extension.get()) : nullptr;
}

template <class T>
void Attach(HWND window) {
    if (auto record = FindWindowRecord(window)) {
        auto state = std::make_unique<T>();
        T* raw = state.get();
        record->extension = std::move(state);
        if constexpr (std::is_same_v<T, EditState>) {
            raw->width = std::max(1, static_cast<int>(record->rect.right - record->rect.left) / 4);
            raw->rows = std::max(1, static_cast<int>(record->rect.bottom - record->rect.top) / 8);
        }
        if constexpr (std::is_same_v<T, ListState>) {
            raw->rows = std::max(1, static_cast<int>(record->rect.bottom - record->rect.top) / 8);
        }
    }
}

struct WrappedLine {
    size_t start;
    std::u16string text;
};

// Breaks at CR LF, LF or CR, then wraps each paragraph at width cells, after the last
// space that fits when there is one.
std::vector<WrappedLine> Wrap(std::u16string_view text, int width) {
    std::vector<WrappedLine> lines;
    size_t w = static_cast<size_t>(std::max(1, width));
    size_t pos = 0;
    for (;;) {
        size_t end = text.find_first_of(u"\r\n", pos);
        size_t stop = end == std::u16string_view::npos ? text.size() : end;
        std::u16string_view paragraph = text.substr(pos, stop - pos);
        size_t offset = 0;
        do {
            size_t take = std::min(w, paragraph.size() - offset);
            if (offset + take < paragraph.size()) {
                size_t space = paragraph.substr(offset, take + 1).find_last_of(u' ');
                if (space != std::u16string_view::npos && space > 0) take = space + 1;
            }
            lines.push_back({pos + offset, std::u16string(paragraph.substr(offset, take))});
            offset += take;
        } while (offset < paragraph.size());
        if (end == std::u16string_view::npos) break;
        pos =
            end + ((text[end] == u'\r' && end + 1 < text.size() && text[end + 1] == u'\n') ? 2 : 1);
    }
    return lines;
}

int LineOfOffset(const std::vector<WrappedLine>& lines, size_t offset) {
    int line = 0;
    for (size_t i = 0; i < lines.size(); ++i)
        if (lines[i].start <= offset) line = static_cast<int>(i);
    return line;
}

void ClampTop(EditState& edit, int lineCount) {
    edit.topLine = std::clamp(edit.topLine, 0, std::max(0, lineCount - edit.rows));
}

LRESULT CALLBACK EditProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_CREATE) {
        Attach<EditState>(window);
        return 0;
    }
    auto record = FindWindowRecord(window);
    EditState* edit = StateOf<EditState>(window);
    if (!record || !edit) return DefWindowProcW(window, message, wParam, lParam);
    int length = static_cast<int>(record->text.size());
    switch (message) {
        case WM_SETTEXT:
            DefWindowProcW(window, message, wParam, lParam);
            edit->topLine = 0;
            edit->selStart = edit->selEnd = 0;
            return TRUE;
        case EM_SETSEL: {
            auto start = static_cast<int>(static_cast<INT_PTR>(wParam));
            auto end = static_cast<int>(lParam);
            if (start < 0) {  // -1 removes the selection
                edit->selStart = edit->selEnd;
                return 0;
            }
            if (end < 0 || end > length) end = length;
            edit->selStart = std::min(start, length);
            edit->selEnd = end;
            return 0;
        }
        case EM_GETSEL: {
            if (wParam) *reinterpret_cast<DWORD*>(wParam) = static_cast<DWORD>(edit->selStart);
            if (lParam) *reinterpret_cast<DWORD*>(lParam) = static_cast<DWORD>(edit->selEnd);
            return MAKELONG(edit->selStart, edit->selEnd);
        }
        case EM_SCROLLCARET: {
            auto lines = Wrap(record->text, edit->width);
            int caret = LineOfOffset(lines, static_cast<size_t>(edit->selEnd));
            if (caret < edit->topLine) edit->topLine = caret;
            if (caret >= edit->topLine + edit->rows) edit->topLine = caret - edit->rows + 1;
            ClampTop(*edit, static_cast<int>(lines.size()));
            return TRUE;
        }
        case EM_LINESCROLL:
            edit->topLine += static_cast<int>(lParam);
            ClampTop(*edit, static_cast<int>(Wrap(record->text, edit->width).size()));
            return TRUE;
        case EM_GETLINECOUNT:
            return static_cast<LRESULT>(Wrap(record->text, edit->width).size());
        case EM_GETFIRSTVISIBLELINE:
            return edit->topLine;
        case EM_SETREADONLY:
            if (wParam)
                record->style |= ES_READONLY;
            else
                record->style &= ~ES_READONLY;
            return TRUE;
        case EM_REPLACESEL: {
            const WCHAR* insert = reinterpret_cast<const WCHAR*>(lParam);
            std::u16string with = insert ? insert : u"";
            int from = std::min(edit->selStart, edit->selEnd);
            int to = std::max(edit->selStart, edit->selEnd);
            record->text.replace(static_cast<size_t>(from), static_cast<size_t>(to - from), with);
            edit->selStart = edit->selEnd = from + static_cast<int>(with.size());
            return 0;
        }
        default:
            return DefWindowProcW(window, message, wParam, lParam);
    }
}

LRESULT CALLBACK ButtonProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == BM_CLICK) {
        ClickButton(window);
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

int CompareNoCase(const std::u16string& a, const std::u16string& b) {
    auto fold = [](char16_t c) {
        return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c + 32) : c;
    };
    size_t n = std::min(a.size(), b.size());
    for (size_t i = 0; i < n; ++i) {
        char16_t x = fold(a[i]), y = fold(b[i]);
        if (x != y) return x < y ? -1 : 1;
    }
    return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

void EnsureVisible(ListState& list) {
    if (list.selection < 0) return;
    if (list.selection < list.top) list.top = list.selection;
    if (list.selection >= list.top + list.rows) list.top = list.selection - list.rows + 1;
}

LRESULT CALLBACK ListProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_CREATE) {
        Attach<ListState>(window);
        return 0;
    }
    auto record = FindWindowRecord(window);
    ListState* list = StateOf<ListState>(window);
    if (!record || !list) return DefWindowProcW(window, message, wParam, lParam);
    int count = static_cast<int>(list->items.size());
    auto index = static_cast<int>(static_cast<INT_PTR>(wParam));
    switch (message) {
        case LB_ADDSTRING:
        case LB_INSERTSTRING: {
            const WCHAR* text = reinterpret_cast<const WCHAR*>(lParam);
            std::u16string line = text ? text : u"";
            int at = count;
            if (message == LB_INSERTSTRING && index >= 0 && index <= count) at = index;
            if (message == LB_ADDSTRING && (record->style & LBS_SORT)) {
                // After equal lines, so lines that compare equal keep the order they came in.
                at = static_cast<int>(std::upper_bound(list->items.begin(), list->items.end(), line,
                                                       [](const auto& a, const auto& b) {
                                                           return CompareNoCase(a, b) < 0;
                                                       }) -
                                      list->items.begin());
            }
            list->items.insert(list->items.begin() + at, std::move(line));
            if (list->selection >= at) ++list->selection;
            return at;
        }
        case LB_DELETESTRING:
            if (index < 0 || index >= count) return LB_ERR;
            list->items.erase(list->items.begin() + index);
            if (list->selection == index)
                list->selection = -1;
            else if (list->selection > index)
                --list->selection;
            return count - 1;
        case LB_RESETCONTENT:
            list->items.clear();
            list->selection = -1;
            list->top = 0;
            return 0;
        case LB_GETCOUNT:
            return count;
        case LB_GETTEXTLEN:
            if (index < 0 || index >= count) return LB_ERR;
            return static_cast<LRESULT>(list->items[static_cast<size_t>(index)].size());
        case LB_GETTEXT: {
            if (index < 0 || index >= count || !lParam) return LB_ERR;
            const auto& line = list->items[static_cast<size_t>(index)];
            WCHAR* out = reinterpret_cast<WCHAR*>(lParam);
            std::copy(line.begin(), line.end(), out);
            out[line.size()] = 0;
            return static_cast<LRESULT>(line.size());
        }
        case LB_SETCURSEL:
            if (index < -1 || index >= count) {
                list->selection = -1;
                return LB_ERR;
            }
            list->selection = index;
            EnsureVisible(*list);
            return index < 0 ? LB_ERR : index;
        case LB_GETCURSEL:
            return list->selection;
        case LB_GETTOPINDEX:
            return list->top;
        case LB_SETTOPINDEX:
            if (index < 0 || index >= std::max(count, 1)) return LB_ERR;
            list->top = index;
            return 0;
        default:
            return DefWindowProcW(window, message, wParam, lParam);
    }
}

LRESULT CALLBACK StaticProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_CREATE) {
        Attach<StaticState>(window);
        return 0;
    }
    StaticState* state = StateOf<StaticState>(window);
    if (state && message == STM_SETICON) {
        HICON old = state->icon;
        state->icon = reinterpret_cast<HICON>(wParam);
        return reinterpret_cast<LRESULT>(old);
    }
    if (state && message == STM_GETICON) return reinterpret_cast<LRESULT>(state->icon);
    return DefWindowProcW(window, message, wParam, lParam);
}

void RegisterOne(LPCWSTR name, WNDPROC proc, int extra) {
    WNDCLASSW cls{};
    cls.lpfnWndProc = proc;
    cls.cbWndExtra = extra;
    cls.lpszClassName = name;
    RegisterSystemClass(cls);
}

}  // namespace

std::vector<std::u16string> WrapText(std::u16string_view text, int width) {
    std::vector<std::u16string> out;
    for (auto& line : Wrap(text, width)) out.push_back(std::move(line.text));
    return out;
}

ControlKind KindOf(const WindowRecord& record) {
    if (!record.proc) return ControlKind::Other;
    if (record.proc == EditProc) return ControlKind::Edit;
    if (record.proc == ButtonProc) return ControlKind::Button;
    if (record.proc == ListProc) return ControlKind::List;
    if (record.proc == StaticProc) return ControlKind::Static;
    return ControlKind::Other;
}

bool ClickButton(HWND button) {
    auto record = FindWindowRecord(button);
    if (!record || !(record->style & WS_VISIBLE) || (record->style & WS_DISABLED)) return false;
    if (!record->parent) return false;
    SendMessageW(record->parent, WM_COMMAND, MAKEWPARAM(record->id, BN_CLICKED),
                 reinterpret_cast<LPARAM>(button));
    return true;
}

void RegisterControlClasses() {
    RegisterOne(u"EDIT", EditProc, 0);
    RegisterOne(u"BUTTON", ButtonProc, 0);
    RegisterOne(u"LISTBOX", ListProc, 0);
    RegisterOne(u"STATIC", StaticProc, 0);
}

}  // namespace platform::detail
