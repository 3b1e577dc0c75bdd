#include "lister/lister_resources.h"

#include <iterator>
#include <vector>

#include "platform/ui/dialog_template.h"
#include "platform/ui/icon_writer.h"

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

// The dialog template IDD_LISTER: a bordered pop-up of the lister's own window class, in
// 8-point Tahoma, with the OK button, the port list, the author and web lines, the icon and
// the version line.
std::vector<WORD> ListerTemplate() {
    constexpr DWORD kChild = WS_CHILD | WS_VISIBLE;
    constexpr DWORD kCentredText = kChild | WS_GROUP | SS_CENTER;
    constexpr DWORD kPortList =
        kChild | WS_BORDER | WS_VSCROLL | WS_TABSTOP | LBS_NOTIFY | LBS_SORT;
    return platform::BuildDialogTemplate(
        {WS_POPUP | WS_BORDER | WS_SYSMENU | DS_CENTER | DS_SETFONT, 0, 6, 18, 289, 150,
         TEXT("LumbraPorts"), LISTER_CLASS_NAME, 8, TEXT("Tahoma")},
        {
            {kChild | WS_TABSTOP, 0, 114, 113, 88, 22, IDOK, TEXT("BUTTON"), TEXT("OK")},
            {kPortList, 0, 67, 28, 180, 88, IDC_PORT_LIST, TEXT("LISTBOX"), TEXT("")},
            {kCentredText, 0, 109, 9, 100, 9, IDC_AUTHOR_TEXT, TEXT("STATIC"),
             TEXT(BELVANE_PUBLISHER)},
            {kCentredText, 0, 108, 18, 100, 8, IDC_WEB_TEXT, TEXT("STATIC"), TEXT(BELVANE_WEBSITE)},
            {kChild | SS_ICON | SS_CENTERIMAGE, 0, 4, 4, 20, 20, IDC_APP_ICON, TEXT("STATIC"),
             TEXT(""), IDI_LISTER},
            {kCentredText, 0, 120, 2, 72, 8, IDC_VERSION_TEXT, TEXT("STATIC"),
             TEXT("LumbraPorts v1.0")},
        });
}

// The icon IDI_LISTER: a nine-pin serial connector with its cable, 16 by 16 pixels in the
// 16 standard colours (hexadecimal digits); '.' is transparent.
constexpr int kIconSize = 16;
constexpr const char* kIconPicture[kIconSize] = {
    "................", "................", "................", ".00000000000000.",
    ".07777777777770.", ".07E7E7E7E7E770.", "..077777777770..", "..07E7E7E7E770..",
    "...0777777770...", "....00000000....", "......0000......", ".......00.......",
    ".......00.......", ".......00.......", "................", "................",
};

int IconPixel(int x, int y, int) {
    const char c = kIconPicture[y][x];
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return platform::kIconTransparent;
}

}  // namespace

const platform::ResourceTable& ListerResources() {
    static const std::vector<WORD> dialog = ListerTemplate();
    static const platform::IconResources icon =
        platform::WriteIcon({{kIconSize, 4}}, IDI_LISTER_IMAGE, IconPixel);
    static const platform::Resource items[] = {
        {RT_DIALOG, MAKEINTRESOURCEW(IDD_LISTER), kEnglishUs, dialog.data(),
         static_cast<DWORD>(dialog.size() * sizeof(WORD))},
        {RT_GROUP_ICON, MAKEINTRESOURCEW(IDI_LISTER), kEnglishUs, icon.group.data(),
         static_cast<DWORD>(icon.group.size())},
        {RT_ICON, MAKEINTRESOURCEW(IDI_LISTER_IMAGE), kEnglishUs, icon.images[0].data(),
         static_cast<DWORD>(icon.images[0].size())},
    };
    static const platform::ResourceTable table{items, std::size(items)};
    return table;
}
