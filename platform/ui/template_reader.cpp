// Reads dialog templates in the standard binary layouts.
#include <cstring>

#include "internal/template_parser.h"

namespace platform::detail {
namespace {

// Reads the template word by word; strings are bounded so that a template without its
// terminators cannot run away.
class WordReader {
  public:
    explicit WordReader(const void* start) : base_(static_cast<const BYTE*>(start)) {}
    WORD Word() {
        WORD value;
        std::memcpy(&value, base_ + offset_, sizeof value);
        offset_ += 2;
        return value;
    }
    DWORD Dword() {
        DWORD low = Word();
        return low | (DWORD{Word()} << 16);
    }
    short Short() { return static_cast<short>(Word()); }
    bool String(std::basic_string<WCHAR>* out) {
        out->clear();
        for (int i = 0; i < 4096; ++i) {
            WORD c = Word();
            if (c == 0) return true;
            out->push_back(static_cast<WCHAR>(c));
        }
        return false;
    }
    // A string or 0xFFFF followed by an ordinal.
    bool StringOrOrdinal(std::basic_string<WCHAR>* out, int* ordinal) {
        WORD first = Word();
        *ordinal = -1;
        out->clear();
        if (first == 0) return true;
        if (first == 0xFFFF) {
            *ordinal = Word();
            return true;
        }
        out->push_back(static_cast<WCHAR>(first));
        std::basic_string<WCHAR> rest;
        if (!String(&rest)) return false;
        *out += rest;
        return true;
    }
    void AlignDword() { offset_ = (offset_ + 3) & ~size_t{3}; }
    const void* Here() const { return base_ + offset_; }
    void Skip(size_t bytes) { offset_ += bytes; }

  private:
    const BYTE* base_;
    size_t offset_ = 0;
};

std::basic_string<WCHAR> PredefinedClass(int ordinal) {
    switch (ordinal) {
        case 0x80:
            return TEXT("BUTTON");
        case 0x81:
            return TEXT("EDIT");
        case 0x82:
            return TEXT("STATIC");
        case 0x83:
            return TEXT("LISTBOX");
        default:
            return TEXT("");
    }
}

}  // namespace

bool ParseTemplate(const DLGTEMPLATE* source, ParsedTemplate* out) {
    if (!source) return false;
    WordReader in(source);
    WORD first = in.Word();
    WORD second = in.Word();
    bool extended = first == 1 && second == 0xFFFF;
    WORD count;
    if (extended) {
        in.Dword();  // help id
        out->exStyle = in.Dword();
        out->style = in.Dword();
    } else {
        out->style = first | (DWORD{second} << 16);
        out->exStyle = in.Dword();
    }
    count = in.Word();
    out->x = in.Short();
    out->y = in.Short();
    out->cx = in.Short();
    out->cy = in.Short();
    std::basic_string<WCHAR> menu;
    int ordinal;
    if (!in.StringOrOrdinal(&menu, &ordinal)) return false;
    if (!in.StringOrOrdinal(&out->className, &ordinal)) return false;
    if (ordinal >= 0) out->className.clear();
    if (!in.String(&out->title)) return false;
    if (out->style & DS_SETFONT) {
        out->pointSize = in.Word();
        if (extended) {
            in.Word();  // weight
            in.Word();  // italic and character set
        }
        if (!in.String(&out->font)) return false;
    }
    for (WORD i = 0; i < count; ++i) {
        in.AlignDword();
        ItemTemplate item;
        if (extended) {
            in.Dword();  // help id
            item.exStyle = in.Dword();
            item.style = in.Dword();
        } else {
            item.style = in.Dword();
            item.exStyle = in.Dword();
        }
        item.x = in.Short();
        item.y = in.Short();
        item.cx = in.Short();
        item.cy = in.Short();
        item.id = extended ? static_cast<WORD>(in.Dword()) : in.Word();
        int classOrdinal;
        if (!in.StringOrOrdinal(&item.className, &classOrdinal)) return false;
        if (classOrdinal >= 0) item.className = PredefinedClass(classOrdinal);
        if (item.className.empty()) return false;
        if (!in.StringOrOrdinal(&item.text, &item.textOrdinal)) return false;
        WORD extra = in.Word();
        if (extra) item.createData = in.Here();
        in.Skip(extra);
        out->items.push_back(std::move(item));
    }
    return true;
}

}  // namespace platform::detail
