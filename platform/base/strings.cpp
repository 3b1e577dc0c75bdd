#include "platform/base/strings.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <string>

// The C runtime's and the shell's string functions; Windows has its own.
#ifndef _WIN32

size_t wcslen(const WCHAR* s) {
    const WCHAR* p = s;
    while (*p) ++p;
    return static_cast<size_t>(p - s);
}

size_t wcsnlen(const WCHAR* s, size_t max) {
    size_t n = 0;
    while (n < max && s[n]) ++n;
    return n;
}

WCHAR* wcscpy(WCHAR* dst, const WCHAR* src) {
    WCHAR* d = dst;
    while ((*d++ = *src++)) {
    }
    return dst;
}

WCHAR* wcsncpy(WCHAR* dst, const WCHAR* src, size_t count) {
    size_t i = 0;
    for (; i < count && src[i]; ++i) dst[i] = src[i];
    for (; i < count; ++i) dst[i] = 0;
    return dst;
}

WCHAR* wcscat(WCHAR* dst, const WCHAR* src) {
    wcscpy(dst + wcslen(dst), src);
    return dst;
}

int wcscmp(const WCHAR* a, const WCHAR* b) {
    while (*a && *a == *b) ++a, ++b;
    return (*a > *b) - (*a < *b);
}

int wcsncmp(const WCHAR* a, const WCHAR* b, size_t count) {
    for (size_t i = 0; i < count; ++i) {
        if (a[i] != b[i]) return (a[i] > b[i]) - (a[i] < b[i]);
        if (!a[i]) return 0;
    }
    return 0;
}

namespace {

// Case folding for the ASCII and Latin-1 letters, which is what key names and device
// names need; other characters compare as they are.
WCHAR FoldCase(WCHAR c) {
    if ((c >= u'A' && c <= u'Z') || (c >= 0xC0 && c <= 0xDE && c != 0xD7)) return c + 32;
    return c;
}

}  // namespace

int _wcsnicmp(const WCHAR* a, const WCHAR* b, size_t count) {
    for (size_t i = 0; i < count; ++i) {
        WCHAR x = FoldCase(a[i]), y = FoldCase(b[i]);
        if (x != y) return (x > y) - (x < y);
        if (!x) return 0;
    }
    return 0;
}

int _wcsicmp(const WCHAR* a, const WCHAR* b) {
    return _wcsnicmp(a, b, SIZE_MAX);
}

const WCHAR* wcschr(const WCHAR* s, WCHAR c) {
    for (;; ++s) {
        if (*s == c) return s;
        if (!*s) return nullptr;
    }
}

WCHAR* wcschr(WCHAR* s, WCHAR c) {
    return const_cast<WCHAR*>(wcschr(const_cast<const WCHAR*>(s), c));
}

const WCHAR* wcsrchr(const WCHAR* s, WCHAR c) {
    const WCHAR* found = nullptr;
    for (;; ++s) {
        if (*s == c) found = s;
        if (!*s) return found;
    }
}

WCHAR* wcsrchr(WCHAR* s, WCHAR c) {
    return const_cast<WCHAR*>(wcsrchr(const_cast<const WCHAR*>(s), c));
}

namespace {

bool IsSpace(WCHAR c) {
    return c == u' ' || (c >= u'\t' && c <= u'\r');
}

// Copies the ASCII prefix that a number can consist of, so that the C library parses it.
std::string NumberPrefix(const WCHAR* s, size_t* skipped) {
    size_t i = 0;
    while (IsSpace(s[i])) ++i;
    *skipped = i;
    std::string out;
    for (; s[i] && s[i] < 0x80; ++i) out.push_back(static_cast<char>(s[i]));
    return out;
}

}  // namespace

long _wtol(const WCHAR* s) {
    size_t skipped = 0;
    std::string text = NumberPrefix(s, &skipped);
    errno = 0;
    long long value = std::strtoll(text.c_str(), nullptr, 10);
    if (value > INT32_MAX) return INT32_MAX;
    if (value < INT32_MIN) return INT32_MIN;
    return static_cast<long>(value);
}

double wcstod(const WCHAR* s, WCHAR** end) {
    size_t skipped = 0;
    std::string text = NumberPrefix(s, &skipped);
    // strtod honours the locale's decimal point; the C locale is the process default and
    // the programs never change it.
    char* stop = nullptr;
    double value = std::strtod(text.c_str(), &stop);
    if (end) {
        size_t used = static_cast<size_t>(stop - text.c_str());
        *end = const_cast<WCHAR*>(used ? s + skipped + used : s);
    }
    return value;
}

int lstrlenW(LPCWSTR s) {
    return s ? static_cast<int>(wcslen(s)) : 0;
}

int lstrcmpW(LPCWSTR a, LPCWSTR b) {
    return wcscmp(a ? a : u"", b ? b : u"");
}

int lstrcmpiW(LPCWSTR a, LPCWSTR b) {
    return _wcsicmp(a ? a : u"", b ? b : u"");
}

#endif  // _WIN32

namespace platform {
namespace {

struct Conversion {
    bool left = false;
    bool zero = false;
    int width = 0;
    int precision = -1;
};

void Pad(std::basic_string<WCHAR>& out, std::basic_string_view<WCHAR> body, const Conversion& conv,
         bool numeric) {
    size_t width = conv.width > 0 ? static_cast<size_t>(conv.width) : 0;
    if (body.size() >= width) {
        out.append(body);
        return;
    }
    size_t fill = width - body.size();
    if (conv.left) {
        out.append(body);
        out.append(fill, u' ');
    } else if (conv.zero && numeric) {
        size_t sign = (!body.empty() && body[0] == u'-') ? 1 : 0;
        out.append(body.substr(0, sign));
        out.append(fill, u'0');
        out.append(body.substr(sign));
    } else {
        out.append(fill, u' ');
        out.append(body);
    }
}

// Widths and precisions stop growing at kMaxCount, so that no format can overflow them or
// ask for a field of gigabytes.
constexpr int kMaxCount = 4096;

int ReadCount(const WCHAR*& p) {
    int count = 0;
    for (; *p >= u'0' && *p <= u'9'; ++p) count = std::min(count * 10 + (*p - u'0'), kMaxCount);
    return count;
}

std::basic_string<WCHAR> Digits(unsigned long long value, unsigned base, bool upper) {
    const char* digits = upper ? "0123456789ABCDEF" : "0123456789abcdef";
    std::basic_string<WCHAR> text;
    do {
        text.insert(text.begin(), static_cast<char16_t>(digits[value % base]));
        value /= base;
    } while (value);
    return text;
}

}  // namespace

void AppendFormatV(std::basic_string<WCHAR>& out, LPCWSTR format, va_list args) {
    for (const WCHAR* p = format; *p; ++p) {
        if (*p != u'%') {
            out.push_back(*p);
            continue;
        }
        Conversion conv;
        ++p;
        for (;; ++p) {
            if (*p == u'-')
                conv.left = true;
            else if (*p == u'0')
                conv.zero = true;
            else
                break;
        }
        conv.width = ReadCount(p);
        if (*p == u'.') conv.precision = ReadCount(++p);
        int longs = 0;
        bool sizeT = false;
        for (;; ++p) {
            if (*p == u'l')
                ++longs;
            else if (*p == u'z')
                sizeT = true;
            else if (*p == u'h')
                continue;
            else
                break;
        }
        switch (*p) {
            case u'd':
            case u'i': {
                long long v = sizeT        ? static_cast<long long>(va_arg(args, ptrdiff_t))
                              : longs >= 2 ? va_arg(args, long long)
                              : longs == 1 ? va_arg(args, long)
                                           : va_arg(args, int);
                unsigned long long magnitude = v < 0 ? 0ull - static_cast<unsigned long long>(v)
                                                     : static_cast<unsigned long long>(v);
                std::basic_string<WCHAR> body = Digits(magnitude, 10, false);
                if (v < 0) body.insert(body.begin(), u'-');
                Pad(out, body, conv, true);
                break;
            }
            case u'u':
            case u'x':
            case u'X': {
                unsigned long long v = sizeT        ? va_arg(args, size_t)
                                       : longs >= 2 ? va_arg(args, unsigned long long)
                                       : longs == 1 ? va_arg(args, unsigned long)
                                                    : va_arg(args, unsigned int);
                Pad(out, Digits(v, *p == u'u' ? 10 : 16, *p == u'X'), conv, true);
                break;
            }
            case u'c': {
                WCHAR c = static_cast<WCHAR>(va_arg(args, int));
                Pad(out, std::basic_string_view<WCHAR>(&c, 1), conv, false);
                break;
            }
            case u's': {
                const WCHAR* s = va_arg(args, const WCHAR*);
                if (!s) s = TEXT("(null)");
                size_t n = conv.precision >= 0 ? wcsnlen(s, static_cast<size_t>(conv.precision))
                                               : wcslen(s);
                Pad(out, std::basic_string_view<WCHAR>(s, n), conv, false);
                break;
            }
            case u'%':
                out.push_back(u'%');
                break;
            case 0:
                return;  // a lone '%' at the end is dropped
            default:
                // An unknown conversion is copied as it stands; no argument is consumed.
                out.push_back(u'%');
                out.push_back(*p);
                break;
        }
    }
}

std::basic_string<WCHAR> Format(LPCWSTR format, ...) {
    std::basic_string<WCHAR> out;
    va_list args;
    va_start(args, format);
    AppendFormatV(out, format, args);
    va_end(args);
    return out;
}

std::basic_string<WCHAR> FromUtf8(std::string_view bytes) {
    std::basic_string<WCHAR> out;
    out.reserve(bytes.size());
    size_t i = 0;
    auto escape = [&](size_t at) {
        out.push_back(static_cast<char16_t>(0xDC00 + static_cast<unsigned char>(bytes[at])));
    };
    while (i < bytes.size()) {
        unsigned char b = static_cast<unsigned char>(bytes[i]);
        if (b < 0x80) {
            out.push_back(b);
            ++i;
            continue;
        }
        int extra = b >= 0xF0 && b <= 0xF4   ? 3
                    : b >= 0xE0 && b <= 0xEF ? 2
                    : b >= 0xC2 && b <= 0xDF ? 1
                                             : -1;
        if (extra < 0 || i + static_cast<size_t>(extra) >= bytes.size()) {
            escape(i++);
            continue;
        }
        char32_t cp = b & (0x3F >> extra);
        bool ok = true;
        for (int k = 1; k <= extra; ++k) {
            unsigned char c = static_cast<unsigned char>(bytes[i + static_cast<size_t>(k)]);
            if ((c & 0xC0) != 0x80) {
                ok = false;
                break;
            }
            cp = (cp << 6) | (c & 0x3F);
        }
        // Overlong forms, surrogates and values beyond U+10FFFF are not valid UTF-8.
        if (ok && ((extra == 2 && (cp < 0x800 || (cp >= 0xD800 && cp <= 0xDFFF))) ||
                   (extra == 3 && (cp < 0x10000 || cp > 0x10FFFF))))
            ok = false;
        if (!ok) {
            escape(i++);
            continue;
        }
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(cp));
        }
        i += static_cast<size_t>(extra) + 1;
    }
    return out;
}

std::string ToUtf8(std::basic_string_view<WCHAR> text) {
    std::string out;
    out.reserve(text.size());
    auto put = [&](char32_t cp) {
        if (cp < 0x80) {
            out.push_back(static_cast<char>(cp));
        } else if (cp < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        } else if (cp < 0x10000) {
            out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        }
    };
    for (size_t i = 0; i < text.size(); ++i) {
        char16_t c = text[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
            text[i + 1] <= 0xDFFF) {
            put(0x10000 + ((static_cast<char32_t>(c) - 0xD800) << 10) + (text[i + 1] - 0xDC00));
            ++i;
        } else if (c >= 0xDC80 && c <= 0xDCFF) {
            out.push_back(static_cast<char>(c - 0xDC00));  // an escaped raw byte
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            put(0xFFFD);
        } else {
            put(c);
        }
    }
    return out;
}

}  // namespace platform

// The strsafe.h functions; Windows has its own.
#ifndef _WIN32

namespace {

HRESULT Store(LPWSTR dest, size_t cchDest, const std::basic_string<WCHAR>& text) {
    size_t n = text.size();
    bool cut = n >= cchDest;
    if (cut) n = cchDest - 1;
    text.copy(dest, n);
    dest[n] = 0;
    return cut ? STRSAFE_E_INSUFFICIENT_BUFFER : S_OK;
}

}  // namespace

HRESULT StringCchVPrintfW(LPWSTR dest, size_t cchDest, LPCWSTR format, va_list args) {
    if (!dest || cchDest == 0 || cchDest > STRSAFE_MAX_CCH) return STRSAFE_E_INVALID_PARAMETER;
    if (!format) {
        dest[0] = 0;
        return STRSAFE_E_INVALID_PARAMETER;
    }
    std::basic_string<WCHAR> text;
    platform::AppendFormatV(text, format, args);
    return Store(dest, cchDest, text);
}

HRESULT StringCchPrintfW(LPWSTR dest, size_t cchDest, LPCWSTR format, ...) {
    va_list args;
    va_start(args, format);
    HRESULT hr = StringCchVPrintfW(dest, cchDest, format, args);
    va_end(args);
    return hr;
}

HRESULT StringCchCopyW(LPWSTR dest, size_t cchDest, LPCWSTR src) {
    if (!dest || cchDest == 0 || cchDest > STRSAFE_MAX_CCH) return STRSAFE_E_INVALID_PARAMETER;
    size_t i = 0;
    for (; src && src[i]; ++i) {
        if (i + 1 >= cchDest) {
            dest[i] = 0;
            return STRSAFE_E_INSUFFICIENT_BUFFER;
        }
        dest[i] = src[i];
    }
    dest[i] = 0;
    return S_OK;
}

HRESULT StringCchCatW(LPWSTR dest, size_t cchDest, LPCWSTR src) {
    if (!dest || cchDest == 0 || cchDest > STRSAFE_MAX_CCH) return STRSAFE_E_INVALID_PARAMETER;
    size_t used = wcsnlen(dest, cchDest);
    if (used == cchDest) return STRSAFE_E_INVALID_PARAMETER;  // dest is not terminated
    return StringCchCopyW(dest + used, cchDest - used, src);
}

HRESULT StringCchLengthW(LPCWSTR s, size_t cchMax, size_t* length) {
    if (!s || cchMax > STRSAFE_MAX_CCH) {
        if (length) *length = 0;
        return STRSAFE_E_INVALID_PARAMETER;
    }
    size_t n = wcsnlen(s, cchMax);
    if (length) *length = n == cchMax ? 0 : n;
    return n == cchMax ? STRSAFE_E_INVALID_PARAMETER : S_OK;
}

#endif  // _WIN32
