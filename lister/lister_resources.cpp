#include "lister/lister_resources.h"

#include <array>
#include <cstddef>

#include "platform/ui/dialogs.h"

// The author line and the web address come from the build, so that the program names
// whoever publishes this build of it.
#ifndef BELVANE_PUBLISHER
#error "BELVANE_PUBLISHER must be defined by the build"
#endif
#ifndef BELVANE_WEBSITE
#error "BELVANE_WEBSITE must be defined by the build"
#endif

namespace {

constexpr WORD kEnglishUs = 0x409;

// ---- the dialog template IDD_LISTER, laid out at compile time as a resource compiler
// would: DLGTEMPLATE, menu, class, caption, font, then each DLGITEMTEMPLATE on a DWORD
// boundary with its class ordinal, text and an empty creation data count ----

constexpr WORD kButtonClass = 0x80;
constexpr WORD kStaticClass = 0x82;
constexpr WORD kListBoxClass = 0x83;

// Counts the words when out is null, writes them otherwise.
struct TemplateWriter {
    WORD* out = nullptr;
    size_t size = 0;

    constexpr void Word(WORD value) {
        if (out) out[size] = value;
        ++size;
    }
    constexpr void Dword(DWORD value) {
        Word(static_cast<WORD>(value & 0xFFFF));
        Word(static_cast<WORD>(value >> 16));
    }
    constexpr void Text(const char16_t* text) {
        while (*text) Word(static_cast<WORD>(*text++));
        Word(0);
    }
    constexpr void Ordinal(WORD value) {
        Word(0xFFFF);
        Word(value);
    }
    constexpr void Box(short x, short y, short cx, short cy) {
        for (short v : {x, y, cx, cy}) Word(static_cast<WORD>(v));
    }
};

struct Item {
    DWORD style;
    short x, y, cx, cy;
    WORD id;
    WORD classOrdinal;
    const char16_t* text;  // null: the text is textOrdinal
    WORD textOrdinal;
};

constexpr DWORD kChild = WS_CHILD | WS_VISIBLE;
constexpr DWORD kCentredText = kChild | WS_GROUP | SS_CENTER;

constexpr Item kItems[] = {
    {kChild | WS_TABSTOP, 114, 113, 88, 22, IDOK, kButtonClass, u"OK", 0},
    {kChild | WS_BORDER | WS_VSCROLL | WS_TABSTOP | LBS_NOTIFY | LBS_SORT, 67, 28, 180, 88,
     IDC_PORT_LIST, kListBoxClass, u"", 0},
    {kCentredText, 109, 9, 100, 9, IDC_AUTHOR_TEXT, kStaticClass, TEXT(BELVANE_PUBLISHER), 0},
    {kCentredText, 108, 18, 100, 8, IDC_WEB_TEXT, kStaticClass, TEXT(BELVANE_WEBSITE), 0},
    {kChild | SS_ICON | SS_CENTERIMAGE, 4, 4, 20, 20, IDC_APP_ICON, kStaticClass, nullptr,
     IDI_LISTER},
    {kCentredText, 120, 2, 72, 8, IDC_VERSION_TEXT, kStaticClass, u"LumbraPorts v1.0", 0},
};

constexpr void WriteListerTemplate(TemplateWriter& w) {
    w.Dword(WS_POPUP | WS_BORDER | WS_SYSMENU | DS_CENTER | DS_SETFONT);
    w.Dword(0);  // no extended style
    w.Word(static_cast<WORD>(std::size(kItems)));
    w.Box(6, 18, 289, 150);
    w.Word(0);  // no menu
    w.Text(u"LumbraClass");
    w.Text(u"LumbraPorts");
    w.Word(8);
    w.Text(u"Tahoma");
    for (const Item& item : kItems) {
        if (w.size % 2) w.Word(0);
        w.Dword(item.style);
        w.Dword(0);
        w.Box(item.x, item.y, item.cx, item.cy);
        w.Word(item.id);
        w.Ordinal(item.classOrdinal);
        if (item.text)
            w.Text(item.text);
        else
            w.Ordinal(item.textOrdinal);
        w.Word(0);  // no creation data
    }
}

constexpr size_t kTemplateWords = [] {
    TemplateWriter counter;
    WriteListerTemplate(counter);
    return counter.size;
}();

alignas(4) constexpr std::array<WORD, kTemplateWords> kListerTemplate = [] {
    std::array<WORD, kTemplateWords> words{};
    TemplateWriter writer{words.data()};
    WriteListerTemplate(writer);
    return words;
}();

// ---- the icon IDI_LISTER: a nine-pin serial connector with its cable, 16 by 16 pixels in
// the 16 standard colours; '.' is transparent ----

constexpr int kIconSize = 16;
constexpr const char* kIconPicture[kIconSize] = {
    "................", "................", "................", ".00000000000000.",
    ".07777777777770.", ".07B7B7B7B7B770.", "..077777777770..", "..07B7B7B7B770..",
    "...0777777770...", "....00000000....", "......0000......", ".......00.......",
    ".......00.......", ".......00.......", "................", "................",
};

// The standard 16-colour palette as RGBQUADs (blue, green, red, 0).
constexpr std::array<DWORD, 16> kPalette = {
    0x000000, 0x000080, 0x008000, 0x008080, 0x800000, 0x800080, 0x808000, 0xC0C0C0,
    0x808080, 0x0000FF, 0x00FF00, 0x00FFFF, 0xFF0000, 0xFF00FF, 0xFFFF00, 0xFFFFFF,
};

constexpr size_t kHeaderBytes = 40;
constexpr size_t kColourRowBytes = kIconSize / 2;  // 4 bits a pixel
constexpr size_t kMaskRowBytes = 4;                // 1 bit a pixel, rows of whole DWORDs
constexpr size_t kImageBytes =
    kHeaderBytes + 4 * kPalette.size() + kIconSize * kColourRowBytes + kIconSize * kMaskRowBytes;

constexpr void PutLe(BYTE* at, DWORD value, int bytes) {
    for (int i = 0; i < bytes; ++i) at[i] = static_cast<BYTE>(value >> (8 * i));
}

constexpr int PixelColour(char c) {
    return c >= '0' && c <= '9' ? c - '0' : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
}

// One icon image: BITMAPINFOHEADER (height doubled for the mask), palette, colour rows and
// mask rows, both bottom-up.
constexpr std::array<BYTE, kImageBytes> kIconImage = [] {
    std::array<BYTE, kImageBytes> b{};
    PutLe(&b[0], kHeaderBytes, 4);
    PutLe(&b[4], kIconSize, 4);
    PutLe(&b[8], 2 * kIconSize, 4);
    PutLe(&b[12], 1, 2);  // planes
    PutLe(&b[14], 4, 2);  // bits a pixel
    PutLe(&b[20], kIconSize * (kColourRowBytes + kMaskRowBytes), 4);
    size_t at = kHeaderBytes;
    for (DWORD colour : kPalette) {
        PutLe(&b[at], colour, 4);
        at += 4;
    }
    const size_t mask = at + kIconSize * kColourRowBytes;
    for (int row = 0; row < kIconSize; ++row) {
        const char* line = kIconPicture[kIconSize - 1 - row];
        for (int x = 0; x < kIconSize; ++x) {
            int colour = PixelColour(line[x]);
            size_t pixel = at + static_cast<size_t>(row) * kColourRowBytes + x / 2;
            if (colour >= 0)
                b[pixel] |= static_cast<BYTE>(x % 2 ? colour : colour << 4);
            else
                b[mask + static_cast<size_t>(row) * kMaskRowBytes + x / 8] |=
                    static_cast<BYTE>(0x80 >> (x % 8));
        }
    }
    return b;
}();

// The icon group: its directory of one entry that names the image IDI_LISTER_IMAGE.
constexpr std::array<BYTE, 20> kIconGroup = [] {
    std::array<BYTE, 20> b{};
    PutLe(&b[2], 1, 2);  // type: icon
    PutLe(&b[4], 1, 2);  // one image
    b[6] = kIconSize;
    b[7] = kIconSize;
    b[8] = 16;            // colours
    PutLe(&b[10], 1, 2);  // planes
    PutLe(&b[12], 4, 2);  // bits a pixel
    PutLe(&b[14], kImageBytes, 4);
    PutLe(&b[18], IDI_LISTER_IMAGE, 2);
    return b;
}();

}  // namespace

const platform::ResourceTable& ListerResources() {
    static const platform::Resource items[] = {
        {RT_DIALOG, MAKEINTRESOURCEW(IDD_LISTER), kEnglishUs, kListerTemplate.data(),
         static_cast<DWORD>(sizeof kListerTemplate)},
        {RT_GROUP_ICON, MAKEINTRESOURCEW(IDI_LISTER), kEnglishUs, kIconGroup.data(),
         static_cast<DWORD>(kIconGroup.size())},
        {RT_ICON, MAKEINTRESOURCEW(IDI_LISTER_IMAGE), kEnglishUs, kIconImage.data(),
         static_cast<DWORD>(kIconImage.size())},
    };
    static const platform::ResourceTable table{items, std::size(items)};
    return table;
}
