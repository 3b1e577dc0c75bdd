// Platform-private: a dialog template read back into its parts (template_reader.cpp), as
// the dialog manager creates the dialog from it. Tests read the programs' templates through
// it as well.
#pragma once

#include <string>
#include <vector>

#include "platform/ui/dialogs.h"

namespace platform::detail {

struct ItemTemplate {
    DWORD style = 0;
    DWORD exStyle = 0;
    short x = 0, y = 0, cx = 0, cy = 0;
    WORD id = 0;
    std::basic_string<WCHAR> className;  // predefined class ordinals as their names
    std::basic_string<WCHAR> text;
    int textOrdinal = -1;  // 0..65535 when the text is a resource ordinal
    const void* createData = nullptr;
    bool operator==(const ItemTemplate&) const = default;
};

struct ParsedTemplate {
    DWORD style = 0;
    DWORD exStyle = 0;
    short x = 0, y = 0, cx = 0, cy = 0;
    std::basic_string<WCHAR> className;  // empty: the system dialog class
    std::basic_string<WCHAR> title;
    WORD pointSize = 0;  // with DS_SETFONT
    std::basic_string<WCHAR> font;
    std::vector<ItemTemplate> items;
};

// DLGTEMPLATE, and DLGTEMPLATEEX (version 1, signature 0xFFFF) with its larger items. False
// for a template that is malformed.
bool ParseTemplate(const DLGTEMPLATE* source, ParsedTemplate* out);

}  // namespace platform::detail
