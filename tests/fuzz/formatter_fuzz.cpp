// The bounded formatter with fuzzed format strings and a small destination between guard
// characters. The format is the input's text with every conversion limited to the kinds
// the formatter documents (d i u x X c s %, flags - and 0, width and precision of at most
// three digits, length l ll z h) and to at most kMaxArguments arguments; any other '%'
// is doubled into a literal one, so that no conversion reads an argument that was not
// passed. Checked: the guards stay untouched, the result is terminated inside the
// destination, and it is the growable formatter's text, whole with S_OK or cut to
// cchDest - 1 characters with STRSAFE_E_INSUFFICIENT_BUFFER.
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz_check.h"
#include "platform/base/strings.h"

namespace {

constexpr int kMaxArguments = 3;
constexpr size_t kGuard = 16;
constexpr WCHAR kGuardChar = 0xA5A5;

enum ArgKind { ARG_INT, ARG_LONG, ARG_LONGLONG, ARG_SIZE, ARG_STRING };

struct Input {
    const uint8_t* data;
    size_t size;
    size_t at = 0;
    uint8_t Byte() { return at < size ? data[at++] : 0; }
    uint64_t Wide() {
        uint64_t v = 0;
        for (int i = 0; i < 8; ++i) v = v << 8 | Byte();
        return v;
    }
    // Up to max UTF-16 units, two bytes each, ending at a zero unit.
    std::u16string Text(size_t max) {
        std::u16string s;
        while (s.size() < max && at + 1 < size) {
            const char16_t c = static_cast<char16_t>(data[at] | data[at + 1] << 8);
            at += 2;
            if (c == 0) break;
            s.push_back(c);
        }
        return s;
    }
};

size_t CopyDigits(const std::u16string& in, size_t i, std::u16string& out) {
    for (size_t n = 0; i < in.size() && in[i] >= u'0' && in[i] <= u'9'; ++i, ++n)
        if (n < 3) out.push_back(in[i]);
    return i;
}

// Rewrites raw into a format whose conversions are all of the documented kinds and
// records the argument each one takes.
std::u16string SafeFormat(const std::u16string& raw, std::vector<ArgKind>& kinds) {
    std::u16string out;
    size_t i = 0;
    while (i < raw.size()) {
        if (raw[i] != u'%') {
            out.push_back(raw[i++]);
            continue;
        }
        std::u16string directive = u"%";
        size_t j = i + 1;
        while (j < raw.size() && (raw[j] == u'-' || raw[j] == u'0')) directive.push_back(raw[j++]);
        j = CopyDigits(raw, j, directive);
        if (j < raw.size() && raw[j] == u'.') {
            directive.push_back(raw[j++]);
            j = CopyDigits(raw, j, directive);
        }
        int longs = 0;
        bool sizeT = false;
        for (; j < raw.size() && (raw[j] == u'l' || raw[j] == u'z' || raw[j] == u'h'); ++j) {
            longs += raw[j] == u'l';
            sizeT = sizeT || raw[j] == u'z';
            directive.push_back(raw[j]);
        }
        const char16_t c = j < raw.size() ? raw[j] : 0;
        ArgKind kind = ARG_INT;
        bool takes = true;
        switch (c) {
            case u'd':
            case u'i':
            case u'u':
            case u'x':
            case u'X':
                kind = sizeT        ? ARG_SIZE
                       : longs >= 2 ? ARG_LONGLONG
                       : longs == 1 ? ARG_LONG
                                    : ARG_INT;
                break;
            case u'c':
                kind = ARG_INT;
                break;
            case u's':
                kind = ARG_STRING;
                break;
            case u'%':
                takes = false;
                break;
            default:
                // Unknown or missing conversion: a literal '%', the rest stays text.
                out += u"%%";
                ++i;
                continue;
        }
        if (takes && static_cast<int>(kinds.size()) == kMaxArguments) {
            out += u"%%";
            ++i;
            continue;
        }
        if (takes) kinds.push_back(kind);
        directive.push_back(c);
        out += directive;
        i = j + 1;
    }
    return out;
}

struct Values {
    uint64_t numbers[kMaxArguments];
    std::u16string texts[kMaxArguments];
    bool nullText[kMaxArguments];
};

struct Call {
    const char16_t* format;
    WCHAR* dest;
    size_t cch;
    HRESULT hr = 0;
    std::u16string reference;
};

template <typename... Args>
void Finish(Call& call, Args... args) {
    call.hr = StringCchPrintfW(call.dest, call.cch, call.format, args...);
    call.reference = platform::Format(call.format, args...);
}

// Calls the formatter with one argument of the right type per recorded kind.
template <int Depth, typename... Args>
void Dispatch(Call& call, const std::vector<ArgKind>& kinds, const Values& v, Args... args) {
    if constexpr (Depth == kMaxArguments) {
        Finish(call, args...);
    } else {
        if (kinds.size() == static_cast<size_t>(Depth)) {
            Finish(call, args...);
            return;
        }
        const uint64_t n = v.numbers[Depth];
        switch (kinds[Depth]) {
            case ARG_INT:
                Dispatch<Depth + 1>(call, kinds, v, args..., static_cast<int>(n));
                break;
            case ARG_LONG:
                Dispatch<Depth + 1>(call, kinds, v, args..., static_cast<long>(n));
                break;
            case ARG_LONGLONG:
                Dispatch<Depth + 1>(call, kinds, v, args..., static_cast<long long>(n));
                break;
            case ARG_SIZE:
                Dispatch<Depth + 1>(call, kinds, v, args..., static_cast<size_t>(n));
                break;
            case ARG_STRING:
                Dispatch<Depth + 1>(call, kinds, v, args...,
                                    v.nullText[Depth] ? static_cast<const WCHAR*>(nullptr)
                                                      : v.texts[Depth].c_str());
                break;
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Input in{data, size};
    const size_t cch = 1 + in.Byte() % 48;
    Values values{};
    for (int k = 0; k < kMaxArguments; ++k) {
        values.numbers[k] = in.Wide();
        const uint8_t textLength = in.Byte();
        values.nullText[k] = textLength == 0xff;
        values.texts[k] = in.Text(textLength % 40);
    }
    std::vector<ArgKind> kinds;
    const std::u16string format = SafeFormat(in.Text(400), kinds);

    std::vector<WCHAR> area(kGuard + cch + kGuard, kGuardChar);
    Call call;
    call.format = format.c_str();
    call.dest = area.data() + kGuard;
    call.cch = cch;
    Dispatch<0>(call, kinds, values);

    for (size_t g = 0; g < kGuard; ++g) {
        FUZZ_CHECK(area[g] == kGuardChar);
        FUZZ_CHECK(area[kGuard + cch + g] == kGuardChar);
    }
    const size_t length = wcsnlen(call.dest, cch);
    FUZZ_CHECK(length < cch);
    const std::u16string got(call.dest, length);
    if (call.reference.size() < cch) {
        FUZZ_CHECK(call.hr == S_OK);
        // A zero unit inside the text (from %c) ends the C string early.
        FUZZ_CHECK(got == call.reference.substr(0, got.size()));
        FUZZ_CHECK(std::u16string(call.dest, call.reference.size()) == call.reference);
    } else {
        FUZZ_CHECK(call.hr == STRSAFE_E_INSUFFICIENT_BUFFER);
        FUZZ_CHECK(std::u16string(call.dest, cch - 1) == call.reference.substr(0, cch - 1));
        FUZZ_CHECK(call.dest[cch - 1] == 0);
    }
    return 0;
}
