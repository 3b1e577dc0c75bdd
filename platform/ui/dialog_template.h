// The one writer of dialog templates in the standard binary layout (DLGTEMPLATE followed
// by its DLGITEMTEMPLATEs, each on a DWORD boundary), as a resource compiler would lay them
// out: for the programs' dialog resources, message boxes and tests. The control classes
// "BUTTON", "EDIT", "STATIC" and "LISTBOX" are written as their predefined ordinals, other
// class names as strings. The programs build their templates once, on first use of their
// resource table, so nothing needs them at compile time.
#pragma once

#include <string_view>
#include <vector>

#include "platform/ui/dialogs.h"

namespace platform {

struct DialogSpec {
    DWORD style;
    DWORD exStyle;
    short x, y, cx, cy;
    std::basic_string_view<WCHAR> title;
    std::basic_string_view<WCHAR> className;  // empty: the system dialog class
    WORD pointSize;                           // written when style has DS_SETFONT
    std::basic_string_view<WCHAR> font;
};

struct DialogItemSpec {
    DWORD style;
    DWORD exStyle;
    short x, y, cx, cy;
    WORD id;
    std::basic_string_view<WCHAR> className;
    std::basic_string_view<WCHAR> text;
    int textOrdinal = -1;  // 0..65535: the text is this resource ordinal (an icon's id)
};

// The template as 16-bit words; data() of the result is a valid LPCDLGTEMPLATEW (the
// allocation is aligned for a DLGTEMPLATE).
std::vector<WORD> BuildDialogTemplate(const DialogSpec& dialog,
                                      const std::vector<DialogItemSpec>& items);

}  // namespace platform
