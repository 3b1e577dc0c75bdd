// Lays dialogs out on a grid of character cells and paints them on a canvas. One cell is
// 4 dialog units wide and 8 high (a dialog unit is a quarter of the average character
// width and an eighth of its height); a dialog larger than the screen is scaled down.
#include "internal/dialog_paint.h"

#include <algorithm>

namespace platform::detail {
namespace {

constexpr char16_t kDoneLabel[] = u"[OK]";

// "&x" marks a keyboard mnemonic and "&&" stands for "&".
std::u16string WithoutMnemonics(const std::u16string& text) {
    std::u16string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == u'&') {
            if (i + 1 < text.size() && text[i + 1] == u'&') {
                out += u'&';
                ++i;
            }
            continue;
        }
        out += text[i];
    }
    return out;
}

std::u16string Fit(std::u16string_view text, int width) {
    if (width <= 0) return u"";
    return std::u16string(text.substr(0, static_cast<size_t>(width)));
}

void Fill(Canvas& canvas, const CellRect& r, int attr) {
    std::u16string blank(static_cast<size_t>(std::max(0, r.w)), u' ');
    for (int row = r.y; row < r.y + r.h; ++row) canvas.Put(r.x, row, blank, attr);
}

void Box(Canvas& canvas, const CellRect& r, bool strong, int attr) {
    if (r.w < 2 || r.h < 2) return;
    const char16_t* c = strong ? u"╔╗╚╝═║" : u"┌┐└┘─│";
    std::u16string line(static_cast<size_t>(r.w - 2), c[4]);
    canvas.Put(r.x, r.y, std::u16string(1, c[0]) + line + c[1], attr);
    canvas.Put(r.x, r.y + r.h - 1, std::u16string(1, c[2]) + line + c[3], attr);
    for (int row = r.y + 1; row < r.y + r.h - 1; ++row) {
        canvas.Put(r.x, row, std::u16string(1, c[5]), attr);
        canvas.Put(r.x + r.w - 1, row, std::u16string(1, c[5]), attr);
    }
}

// A scroll bar in one column: arrows at the ends and a thumb for the visible part.
void ScrollBar(Canvas& canvas, int x, int y, int h, int first, int visible, int total,
               bool focused) {
    int attr = focused ? kReverse : kNormal;
    if (h <= 0) return;
    if (total <= visible) {
        if (focused)
            for (int row = 0; row < h; ++row) canvas.Put(x, y + row, u" ", attr);
        return;
    }
    for (int row = 0; row < h; ++row) canvas.Put(x, y + row, u"░", attr);
    if (h >= 3) {
        int track = h - 2;
        int thumb = std::clamp(first * track / std::max(1, total - visible + 1), 0, track - 1);
        canvas.Put(x, y + 1 + thumb, u"█", attr);
    }
    canvas.Put(x, y, u"▲", attr);
    canvas.Put(x, y + h - 1, u"▼", attr);
}

void PaintButton(Canvas& canvas, const WindowRecord& r, const CellRect& cell, bool focused) {
    std::u16string label = WithoutMnemonics(r.text);
    bool disabled = (r.style & WS_DISABLED) != 0;
    // Disabled buttons lose their brackets, so they do not look pressable.
    std::u16string shown = disabled  ? u"  " + label + u"  "
                           : focused ? u"[>" + label + u"<]"
                                     : u"[ " + label + u" ]";
    shown = Fit(shown, cell.w);
    int x = cell.x + std::max(0, (cell.w - static_cast<int>(shown.size())) / 2);
    int attr = disabled ? kDim : focused ? (kReverse | kBold) : kBold;
    canvas.Put(x, cell.y + (cell.h - 1) / 2, shown, attr);
}

void PaintEdit(Canvas& canvas, const WindowRecord& r, const CellRect& cell, bool focused) {
    auto* edit = dynamic_cast<EditState*>(r.extension.get());
    if (!edit) return;
    auto lines = WrapText(r.text, edit->width);
    int attr = (r.style & WS_DISABLED) ? kDim : kNormal;
    for (int row = 0; row < cell.h; ++row) {
        size_t line = static_cast<size_t>(edit->topLine + row);
        if (line < lines.size())
            canvas.Put(cell.x, cell.y + row, Fit(lines[line], edit->width), attr);
    }
    ScrollBar(canvas, cell.x + cell.w - 1, cell.y, cell.h, edit->topLine, cell.h,
              static_cast<int>(lines.size()), focused);
}

void PaintList(Canvas& canvas, const WindowRecord& r, const CellRect& cell, bool focused) {
    auto* list = dynamic_cast<ListState*>(r.extension.get());
    if (!list) return;
    CellRect inner = cell;
    if ((r.style & WS_BORDER) && cell.h >= 3 && cell.w >= 3) {
        Box(canvas, cell, focused, focused ? kBold : kNormal);
        inner = CellRect{cell.x + 1, cell.y + 1, cell.w - 2, cell.h - 2};
    }
    int total = static_cast<int>(list->items.size());
    bool bar = total > inner.h || focused;
    int width = inner.w - (bar ? 1 : 0);
    for (int row = 0; row < inner.h; ++row) {
        int index = list->top + row;
        if (index >= total) break;
        std::u16string_view item = list->items[static_cast<size_t>(index)];
        std::u16string line = Fit(item.substr(std::min(item.size(), size_t(list->left))), width);
        line.resize(static_cast<size_t>(std::max(0, width)), u' ');
        canvas.Put(inner.x, inner.y + row, line, index == list->selection ? kReverse : kNormal);
    }
    if (bar)
        ScrollBar(canvas, inner.x + inner.w - 1, inner.y, inner.h, list->top, inner.h, total,
                  focused);
}

void PaintStatic(Canvas& canvas, const WindowRecord& r, const CellRect& cell) {
    DWORD type = r.style & SS_TYPEMASK;
    if (type == SS_ICON) {
        auto* state = dynamic_cast<StaticState*>(r.extension.get());
        if (state && state->icon)
            canvas.Put(cell.x + (cell.w - 1) / 2, cell.y + (cell.h - 1) / 2, u"◆", kBold);
        return;
    }
    int attr = (r.style & WS_DISABLED) ? kDim : kNormal;
    auto lines = WrapText(WithoutMnemonics(r.text), cell.w);
    for (int row = 0; row < cell.h && row < static_cast<int>(lines.size()); ++row) {
        std::u16string line = Fit(lines[static_cast<size_t>(row)], cell.w);
        int pad = cell.w - static_cast<int>(line.size());
        int x = cell.x + (type == SS_CENTER ? pad / 2 : type == SS_RIGHT ? pad : 0);
        canvas.Put(x, cell.y + row, line, attr);
    }
}

}  // namespace

int LongestItem(const ListState& list) {
    size_t longest = 0;
    for (const std::u16string& item : list.items) longest = std::max(longest, item.size());
    return static_cast<int>(longest);
}

DialogLayout LayoutDialog(HWND dialog, int columns, int rows) {
    DialogLayout layout;
    auto record = FindWindowRecord(dialog);
    DialogState* state = GetDialogState(dialog);
    if (!record || !state) return layout;
    int width = std::max(1, static_cast<int>(record->rect.right - record->rect.left));
    int height = std::max(1, static_cast<int>(record->rect.bottom - record->rect.top));
    columns = std::max(columns, 4);
    rows = std::max(rows, 3);
    if (state->fullScreen) {
        layout.frame = CellRect{0, 0, columns, rows};
        layout.title = CellRect{0, 0, columns, 1};
        layout.client = CellRect{0, 1, columns, rows - 1};
    } else {
        int w = std::min((width + 3) / 4 + 2, columns);
        int h = std::min((height + 7) / 8 + 2, rows);
        layout.frame = CellRect{(columns - w) / 2, (rows - h) / 2, w, h};
        layout.framed = true;
        layout.title = CellRect{layout.frame.x + 1, layout.frame.y, w - 2, 1};
        layout.client = CellRect{layout.frame.x + 1, layout.frame.y + 1, w - 2, h - 2};
    }
    if (DoneButtonVisible(dialog)) {
        int w = static_cast<int>(std::char_traits<char16_t>::length(kDoneLabel));
        layout.done = CellRect{layout.title.x + layout.title.w - w - 1, layout.title.y, w, 1};
    }
    // Four dialog units to a column and eight to a row, or less when the screen is small.
    double sx = std::min(0.25, static_cast<double>(layout.client.w) / width);
    double sy = std::min(0.125, static_cast<double>(layout.client.h) / height);
    for (HWND child : record->children) {
        auto c = FindWindowRecord(child);
        if (!c || !(c->style & WS_VISIBLE)) continue;
        int x0 = static_cast<int>(c->rect.left * sx), x1 = static_cast<int>(c->rect.right * sx);
        int y0 = static_cast<int>(c->rect.top * sy), y1 = static_cast<int>(c->rect.bottom * sy);
        CellRect cell{layout.client.x + std::clamp(x0, 0, layout.client.w - 1),
                      layout.client.y + std::clamp(y0, 0, layout.client.h - 1),
                      std::max(1, x1 - x0), std::max(1, y1 - y0)};
        cell.w = std::min(cell.w, layout.client.x + layout.client.w - cell.x);
        cell.h = std::min(cell.h, layout.client.y + layout.client.h - cell.y);
        if (auto* edit = dynamic_cast<EditState*>(c->extension.get())) {
            edit->width = std::max(1, cell.w - 1);  // the last column is the scroll bar
            edit->rows = cell.h;
            // A larger screen may show what was scrolled out.
            int lines = static_cast<int>(WrapText(c->text, edit->width).size());
            edit->topLine = std::clamp(edit->topLine, 0, std::max(0, lines - edit->rows));
        }
        if (auto* list = dynamic_cast<ListState*>(c->extension.get())) {
            // A full-screen list uses the screen's width, so that its lines show whole
            // wherever the screen allows it.
            if (state->fullScreen && layout.client.w > 2) {
                cell.x = layout.client.x + 1;
                cell.w = std::max(cell.w, layout.client.w - 2);
            }
            bool border = (c->style & WS_BORDER) && cell.h >= 3 && cell.w >= 3;
            list->rows = std::max(1, cell.h - (border ? 2 : 0));
            list->columns = std::max(1, cell.w - (border ? 2 : 0) - 1);
            list->left = std::clamp(list->left, 0, std::max(0, LongestItem(*list) - list->columns));
        }
        layout.controls.emplace_back(child, cell);
    }
    return layout;
}

void PaintDialog(HWND dialog, int columns, int rows, Canvas& canvas) {
    DialogLayout layout = LayoutDialog(dialog, columns, rows);
    auto record = FindWindowRecord(dialog);
    DialogState* state = GetDialogState(dialog);
    if (!record || !state) return;
    Fill(canvas, layout.frame, kNormal);
    std::u16string caption = WithoutMnemonics(record->text);
    if (layout.framed) {
        Box(canvas, layout.frame, false, kNormal);
        if (!caption.empty())
            canvas.Put(layout.title.x + 1, layout.title.y,
                       Fit(u" " + caption + u" ", layout.title.w - 2), kBold);
    } else {
        Fill(canvas, layout.title, kReverse);
        canvas.Put(layout.title.x + 1, layout.title.y, Fit(caption, layout.title.w - 2),
                   kReverse | kBold);
    }
    if (layout.done.w > 0) canvas.Put(layout.done.x, layout.done.y, kDoneLabel, kBold);
    for (auto& [control, cell] : layout.controls) {
        auto c = FindWindowRecord(control);
        if (!c) continue;
        bool focused = state->focus == control;
        switch (KindOf(*c)) {
            case ControlKind::Button:
                PaintButton(canvas, *c, cell, focused);
                break;
            case ControlKind::Edit:
                PaintEdit(canvas, *c, cell, focused);
                break;
            case ControlKind::List:
                PaintList(canvas, *c, cell, focused);
                break;
            case ControlKind::Static:
                PaintStatic(canvas, *c, cell);
                break;
            default:
                break;
        }
    }
}

}  // namespace platform::detail
