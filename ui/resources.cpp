// Belvane's resources as a resource compiler would leave them in the program: the main
// dialog's template, the application icon and the marker for high-resolution screens.
#include "platform/ui/resources.h"

#include <array>
#include <vector>

#include "platform/ui/dialog_template.h"
#include "platform/ui/icon_writer.h"
#include "ui/resource_ids.h"

namespace {

// Dialog template 102: a captioned pop-up with the OK button in its caption, in 12-point
// MS Sans Serif, holding the report box and the two buttons.
std::vector<WORD> MainDialogTemplate() {
    constexpr DWORD kButton = WS_CHILD | WS_VISIBLE | WS_TABSTOP;
    constexpr DWORD kReportBox =
        WS_CHILD | WS_VISIBLE | WS_TABSTOP | ES_MULTILINE | ES_AUTOVSCROLL | ES_READONLY;
    return platform::BuildDialogTemplate(
        {WS_POPUP | WS_VISIBLE | WS_CAPTION | DS_SETFONT, WS_EX_CAPTIONOKBTN | WS_EX_APPWINDOW, 0,
         0, 187, 109, TEXT("WM_Belvane"), TEXT(""), 12, TEXT("MS Sans Serif")},
        {
            {kReportBox, 0, 7, 7, 173, 73, IDC_REPORT, TEXT("EDIT"), TEXT("")},
            {kButton, 0, 7, 86, 64, 16, IDC_DEPLOY, TEXT("BUTTON"), TEXT("Belvane")},
            {kButton, 0, 116, 86, 64, 16, IDC_CANCEL_BUTTON, TEXT("BUTTON"), TEXT("Cancel")},
        });
}

// Marks the program as drawing for high-resolution screens itself.
const WORD kHiResAware = 1;

// Colours of the picture, as entries of the standard 16-colour palette.
enum Shade : int { kScope = 2, kTrace = 10, kBlip = 15 };

// A radar scope: a dark green disc with a bright ring and a white blip at its centre;
// everything outside the disc is transparent.
int PictureAt(int x, int y, int size) {
    const int twice = 2 * size;  // coordinates doubled, so the centre falls between pixels
    const int dx = 2 * x + 1 - size, dy = 2 * y + 1 - size;
    const int d2 = dx * dx + dy * dy;
    const int outer = size * size;
    if (d2 >= outer) return platform::kIconTransparent;
    const int ring = twice * twice / 9;  // two thirds of the way out from the centre
    const int ringWidth = 4 * size;
    if (d2 >= outer - 4 * size || (d2 >= ring - ringWidth && d2 <= ring + ringWidth)) return kTrace;
    if (d2 <= size * size / 16) return kBlip;
    return kScope;
}

// Three sizes, each at three colour depths.
platform::IconResources ProgramIcon() {
    std::vector<platform::IconFormat> formats;
    for (int size : {48, 32, 16})
        for (int depth : {4, 8, 24}) formats.push_back({size, depth});
    return platform::WriteIcon(formats, ICON_FIRST_IMAGE_ID, PictureAt);
}

constexpr size_t kResourceCount = 3 + ICON_IMAGE_COUNT;

std::array<platform::Resource, kResourceCount> BuildTable() {
    static const std::vector<WORD> dialog = MainDialogTemplate();
    static const platform::IconResources icon = ProgramIcon();
    const WORD lang = BELVANE_RESOURCE_LANGUAGE;
    std::array<platform::Resource, kResourceCount> table{};
    table[0] = {RT_DIALOG, MAKEINTRESOURCEW(IDD_BELVANE_DIALOG), lang, dialog.data(),
                static_cast<DWORD>(dialog.size() * sizeof(WORD))};
    table[1] = {RT_GROUP_ICON, MAKEINTRESOURCEW(IDR_MAINFRAME), lang, icon.group.data(),
                static_cast<DWORD>(icon.group.size())};
    table[2] = {TEXT("CEUX"), TEXT("HI_RES_AWARE"), lang, &kHiResAware, sizeof(kHiResAware)};
    for (int i = 0; i < ICON_IMAGE_COUNT; ++i) {
        const std::vector<BYTE>& image = icon.images[static_cast<size_t>(i)];
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
