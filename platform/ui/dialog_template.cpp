#include "platform/ui/dialog_template.h"

namespace platform {
namespace {

void PutDword(std::vector<WORD>& out, DWORD value) {
    out.push_back(static_cast<WORD>(value & 0xFFFF));
    out.push_back(static_cast<WORD>(value >> 16));
}

void PutString(std::vector<WORD>& out, std::basic_string_view<WCHAR> text) {
    for (WCHAR c : text) out.push_back(c);
    out.push_back(0);
}

WORD ClassOrdinal(std::basic_string_view<WCHAR> name) {
    auto same = [&](std::basic_string_view<WCHAR> want) {
        if (name.size() != want.size()) return false;
        for (size_t i = 0; i < name.size(); ++i) {
            WCHAR c = name[i];
            if (c >= TEXT('a') && c <= TEXT('z')) c = static_cast<WCHAR>(c - 32);
            if (c != want[i]) return false;
        }
        return true;
    };
    if (same(TEXT("BUTTON"))) return 0x80;
    if (same(TEXT("EDIT"))) return 0x81;
    if (same(TEXT("STATIC"))) return 0x82;
    if (same(TEXT("LISTBOX"))) return 0x83;
    return 0;
}

}  // namespace

std::vector<WORD> BuildDialogTemplate(const DialogSpec& dialog,
                                      const std::vector<DialogItemSpec>& items) {
    std::vector<WORD> out;
    PutDword(out, dialog.style);
    PutDword(out, dialog.exStyle);
    out.push_back(static_cast<WORD>(items.size()));
    for (short v : {dialog.x, dialog.y, dialog.cx, dialog.cy}) out.push_back(static_cast<WORD>(v));
    out.push_back(0);  // no menu
    if (dialog.className.empty())
        out.push_back(0);
    else
        PutString(out, dialog.className);
    PutString(out, dialog.title);
    if (dialog.style & DS_SETFONT) {
        out.push_back(dialog.pointSize);
        PutString(out, dialog.font);
    }
    for (const auto& item : items) {
        if (out.size() % 2) out.push_back(0);  // items start on a DWORD boundary
        PutDword(out, item.style);
        PutDword(out, item.exStyle);
        for (short v : {item.x, item.y, item.cx, item.cy}) out.push_back(static_cast<WORD>(v));
        out.push_back(item.id);
        if (WORD ordinal = ClassOrdinal(item.className)) {
            out.push_back(0xFFFF);
            out.push_back(ordinal);
        } else {
            PutString(out, item.className);
        }
        if (item.textOrdinal >= 0) {
            out.push_back(0xFFFF);
            out.push_back(static_cast<WORD>(item.textOrdinal));
        } else {
            PutString(out, item.text);
        }
        out.push_back(0);  // no creation data
    }
    return out;
}

}  // namespace platform
