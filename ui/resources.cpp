// Belvane's resources as a resource compiler would leave them in the program: the main
// dialog's template, the application icon and the marker for high-resolution screens.
#include "platform/ui/resources.h"

#include <array>
#include <vector>

#include "platform/ui/dialogs.h"
#include "ui/resource_ids.h"

namespace {

// Dialog template 102 in the binary layout: DLGTEMPLATE, no menu, the system dialog class,
// the title, the font, then each DLGITEMTEMPLATE on a DWORD boundary with the predefined
// class ordinal (0x80 BUTTON, 0x81 EDIT), its text and no creation data.
// clang-format off
alignas(4) const WORD kMainDialogTemplate[] = {
    // style 0x90C00040, extended style 0x80040000, three controls, 0, 0, 187 x 109
    0x0040, 0x90C0, 0x0000, 0x8004, 3, 0, 0, 187, 109,
    0x0000,  // menu
    0x0000,  // class
    u'W', u'M', u'_', u'B', u'e', u'l', u'v', u'a', u'n', u'e', 0,
    12,  // points
    u'M', u'S', u' ', u'S', u'a', u'n', u's', u' ', u'S', u'e', u'r', u'i', u'f', 0,
    0x0000,  // alignment
    // 1000: EDIT, 0x50010844, 7, 7, 173 x 73, empty
    0x0844, 0x5001, 0x0000, 0x0000, 7, 7, 173, 73, 1000, 0xFFFF, 0x0081, 0, 0,
    0x0000,  // alignment
    // 1001: BUTTON "Belvane", 0x50010000, 7, 86, 64 x 16
    0x0000, 0x5001, 0x0000, 0x0000, 7, 86, 64, 16, 1001, 0xFFFF, 0x0080,
    u'B', u'e', u'l', u'v', u'a', u'n', u'e', 0, 0,
    // 1002: BUTTON "Cancel", 0x50010000, 116, 86, 64 x 16
    0x0000, 0x5001, 0x0000, 0x0000, 116, 86, 64, 16, 1002, 0xFFFF, 0x0080,
    u'C', u'a', u'n', u'c', u'e', u'l', 0, 0};
// clang-format on

// Marks the program as drawing for high-resolution screens itself.
const WORD kHiResAware = 1;

constexpr int kSizes[] = {48, 32, 16};
constexpr int kDepths[] = {4, 8, 24};

// Colours of the picture, as entries of the standard 16-colour palette.
enum Shade : BYTE { kClear = 0, kScope = 2, kTrace = 10, kBlip = 15 };

struct Rgb {
    BYTE r, g, b;
};

// The standard 16-colour palette; the 8-bit images use it for their first entries.
constexpr Rgb kBasePalette[16] = {{0, 0, 0},       {128, 0, 0},   {0, 128, 0},   {128, 128, 0},
                                  {0, 0, 128},     {128, 0, 128}, {0, 128, 128}, {192, 192, 192},
                                  {128, 128, 128}, {255, 0, 0},   {0, 255, 0},   {255, 255, 0},
                                  {0, 0, 255},     {255, 0, 255}, {0, 255, 255}, {255, 255, 255}};

// A radar scope: a dark green disc with a bright ring and a white blip at its centre;
// everything outside the disc is transparent.
Shade PictureAt(int x, int y, int size) {
    const int twice = 2 * size;  // coordinates doubled, so the centre falls between pixels
    const int dx = 2 * x + 1 - size, dy = 2 * y + 1 - size;
    const int d2 = dx * dx + dy * dy;
    const int outer = size * size;
    if (d2 >= outer) return kClear;
    const int ring = twice * twice / 9;  // two thirds of the way out from the centre
    const int ringWidth = 4 * size;
    if (d2 >= outer - 4 * size || (d2 >= ring - ringWidth && d2 <= ring + ringWidth)) return kTrace;
    if (d2 <= size * size / 16) return kBlip;
    return kScope;
}

void PutLe(std::vector<BYTE>& out, DWORD value, int bytes) {
    for (int i = 0; i < bytes; ++i) out.push_back(static_cast<BYTE>(value >> (8 * i)));
}

int RowBytes(int pixels, int bitsPerPixel) {
    return (pixels * bitsPerPixel + 31) / 32 * 4;
}

// One icon image: BITMAPINFOHEADER (twice the height: colours, then the mask), the palette,
// the colour rows and the transparency mask, both bottom-up.
std::vector<BYTE> IconImage(int size, int depth) {
    const int colourRow = RowBytes(size, depth), maskRow = RowBytes(size, 1);
    const int paletteEntries = depth <= 8 ? 1 << depth : 0;
    std::vector<BYTE> out;
    PutLe(out, 40, 4);
    PutLe(out, static_cast<DWORD>(size), 4);
    PutLe(out, static_cast<DWORD>(2 * size), 4);
    PutLe(out, 1, 2);
    PutLe(out, static_cast<DWORD>(depth), 2);
    PutLe(out, 0, 4);  // no compression
    PutLe(out, static_cast<DWORD>((colourRow + maskRow) * size), 4);
    for (int i = 0; i < 4; ++i) PutLe(out, 0, 4);  // resolution and colour counts
    for (int i = 0; i < paletteEntries; ++i) {
        const BYTE grey = static_cast<BYTE>(i);
        const Rgb c = i < 16 ? kBasePalette[i] : Rgb{grey, grey, grey};
        out.insert(out.end(), {c.b, c.g, c.r, 0});
    }
    for (int y = size - 1; y >= 0; --y) {
        std::vector<BYTE> row(static_cast<size_t>(colourRow), 0);
        for (int x = 0; x < size; ++x) {
            const Shade shade = PictureAt(x, y, size);
            if (depth == 24) {
                const Rgb c = kBasePalette[shade];
                row[3 * x] = c.b;
                row[3 * x + 1] = c.g;
                row[3 * x + 2] = c.r;
            } else if (depth == 8) {
                row[x] = shade;
            } else {
                row[x / 2] |= static_cast<BYTE>(x % 2 ? shade : shade << 4);
            }
        }
        out.insert(out.end(), row.begin(), row.end());
    }
    for (int y = size - 1; y >= 0; --y) {
        std::vector<BYTE> row(static_cast<size_t>(maskRow), 0);
        for (int x = 0; x < size; ++x) {
            if (PictureAt(x, y, size) == kClear) row[x / 8] |= static_cast<BYTE>(0x80 >> (x % 8));
        }
        out.insert(out.end(), row.begin(), row.end());
    }
    return out;
}

struct Icons {
    std::array<std::vector<BYTE>, ICON_IMAGE_COUNT> images;
    std::vector<BYTE> group;
};

// The icon group directory: header (0, 1, count), then per image its size, colour count,
// planes, depth, byte count and the id of its RT_ICON resource.
Icons BuildIcons() {
    Icons icons;
    PutLe(icons.group, 0, 2);
    PutLe(icons.group, 1, 2);
    PutLe(icons.group, ICON_IMAGE_COUNT, 2);
    int i = 0;
    for (int size : kSizes) {
        for (int depth : kDepths) {
            std::vector<BYTE>& image = icons.images[static_cast<size_t>(i)];
            image = IconImage(size, depth);
            icons.group.insert(icons.group.end(), {static_cast<BYTE>(size), static_cast<BYTE>(size),
                                                   static_cast<BYTE>(depth == 4 ? 16 : 0), 0});
            PutLe(icons.group, 1, 2);
            PutLe(icons.group, static_cast<DWORD>(depth), 2);
            PutLe(icons.group, static_cast<DWORD>(image.size()), 4);
            PutLe(icons.group, static_cast<DWORD>(ICON_FIRST_IMAGE_ID + i), 2);
            ++i;
        }
    }
    return icons;
}

const Icons& ProgramIcons() {
    static const Icons icons = BuildIcons();
    return icons;
}

constexpr size_t kResourceCount = 3 + ICON_IMAGE_COUNT;

std::array<platform::Resource, kResourceCount> BuildTable() {
    const Icons& icons = ProgramIcons();
    const WORD lang = BELVANE_RESOURCE_LANGUAGE;
    std::array<platform::Resource, kResourceCount> table{};
    table[0] = {RT_DIALOG, MAKEINTRESOURCEW(IDD_BELVANE_DIALOG), lang, kMainDialogTemplate,
                sizeof(kMainDialogTemplate)};
    table[1] = {RT_GROUP_ICON, MAKEINTRESOURCEW(IDR_MAINFRAME), lang, icons.group.data(),
                static_cast<DWORD>(icons.group.size())};
    table[2] = {TEXT("CEUX"), TEXT("HI_RES_AWARE"), lang, &kHiResAware, sizeof(kHiResAware)};
    for (int i = 0; i < ICON_IMAGE_COUNT; ++i) {
        const std::vector<BYTE>& image = icons.images[static_cast<size_t>(i)];
        table[static_cast<size_t>(3 + i)] = {RT_ICON, MAKEINTRESOURCEW(ICON_FIRST_IMAGE_ID + i),
                                             lang, image.data(), static_cast<DWORD>(image.size())};
    }
    return table;
}

}  // namespace

const platform::ResourceTable& ProgramResources() {
    static const std::array<platform::Resource, kResourceCount> items = BuildTable();
    static const platform::ResourceTable table{items.data(), items.size()};
    return table;
}
