// Builds a dialog template in the standard binary layout (DLGTEMPLATE followed by its
// DLGITEMTEMPLATEs), as a resource compiler would, for resources made in code and for
// message boxes. The control classes "BUTTON", "EDIT", "STATIC" and "LISTBOX" are written
// as their predefined ordinals, other class names as strings.
#pragma once

#include <string_view>
#include <vector>

#include "platform/ui/dialogs.h"

namespace platform {

struct DialogSpec {
    DWORD style;
    DWORD exStyle;
    short x, y, cx, cy;
    std::u16string_view title;
    std::u16string_view className;  // empty: the system dialog class
    WORD pointSize;                 // written when style has DS_SETFONT
    std::u16string_view font;
};

struct DialogItemSpec {
    DWORD style;
    DWORD exStyle;
    short x, y, cx, cy;
    WORD id;
    std::u16string_view className;
    std::u16string_view text;
    int textOrdinal = -1;  // 0..65535: the text is this resource ordinal (an icon's id)
};

// The template as 16-bit words; data() of the result is a valid LPCDLGTEMPLATEW.
std::vector<WORD> BuildDialogTemplate(const DialogSpec& dialog,
                                      const std::vector<DialogItemSpec>& items);

}  // namespace platform
