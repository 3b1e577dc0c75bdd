// Platform-private: dialogs laid out on a grid of character cells and painted on a
// canvas (dialog_paint.cpp), for the input functions and the front ends.
#pragma once

#include <string_view>
#include <utility>
#include <vector>

#include "internal/dialog.h"

namespace platform::detail {

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

// The length of a list's longest line.
int LongestItem(const ListState& list);

// Owner thread only. Also records each edit box's and list box's visible size.
DialogLayout LayoutDialog(HWND dialog, int columns, int rows);

enum Attr : int { kNormal = 0, kReverse = 1, kBold = 2, kDim = 4, kUnderline = 8 };

struct Canvas {
    virtual ~Canvas() = default;
    virtual void Put(int column, int row, std::u16string_view text, int attr) = 0;
};

void PaintDialog(HWND dialog, int columns, int rows, Canvas& canvas);

}  // namespace platform::detail
