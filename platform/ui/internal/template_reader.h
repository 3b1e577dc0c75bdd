// Platform-private: dialog templates read into their parts for DialogBoxIndirectParamW
// (template_reader.cpp).
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
    std::u16string className;
    std::u16string text;
    int textOrdinal = -1;
    const void* createData = nullptr;
};

struct ParsedTemplate {
    DWORD style = 0;
    DWORD exStyle = 0;
    short x = 0, y = 0, cx = 0, cy = 0;
    std::u16string className;
    std::u16string title;
    std::vector<ItemTemplate> items;
};

// DLGTEMPLATE, and DLGTEMPLATEEX (version 1, signature 0xFFFF) with its larger items;
// false when the template is unusable.
bool ParseTemplate(const DLGTEMPLATE* source, ParsedTemplate* out);

}  // namespace platform::detail
