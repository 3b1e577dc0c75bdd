// UTF-16 string functions with the C runtime's and the shell's names, a bounded
// formatter with the names of strsafe.h, and UTF-8 conversion at the host boundary.
#pragma once

#include <cstdarg>
#include <string>
#include <string_view>

#include "platform/base/types.h"

#ifdef _WIN32
#include "platform/base/windows/win32.h"
#else

size_t wcslen(const WCHAR* s);
size_t wcsnlen(const WCHAR* s, size_t max);
WCHAR* wcscpy(WCHAR* dst, const WCHAR* src);
WCHAR* wcsncpy(WCHAR* dst, const WCHAR* src, size_t count);
WCHAR* wcscat(WCHAR* dst, const WCHAR* src);
int wcscmp(const WCHAR* a, const WCHAR* b);
int wcsncmp(const WCHAR* a, const WCHAR* b, size_t count);
int _wcsicmp(const WCHAR* a, const WCHAR* b);
int _wcsnicmp(const WCHAR* a, const WCHAR* b, size_t count);
const WCHAR* wcschr(const WCHAR* s, WCHAR c);
WCHAR* wcschr(WCHAR* s, WCHAR c);
const WCHAR* wcsrchr(const WCHAR* s, WCHAR c);
WCHAR* wcsrchr(WCHAR* s, WCHAR c);
// Leading white space, an optional sign, decimal digits; saturates at the 32-bit range as on
// Windows.
long _wtol(const WCHAR* s);
// Decimal or hexadecimal floating point in the "C" locale; end receives the first unread character.
double wcstod(const WCHAR* s, WCHAR** end);
int lstrlenW(LPCWSTR s);
int lstrcmpW(LPCWSTR a, LPCWSTR b);
int lstrcmpiW(LPCWSTR a, LPCWSTR b);

#define STRSAFE_E_INSUFFICIENT_BUFFER ((HRESULT)0x8007007AL)
#define STRSAFE_E_INVALID_PARAMETER ((HRESULT)0x80070057L)
#define STRSAFE_MAX_CCH 2147483647

// Bounded formatting: %d %i %u %x %X %c %s %% with flags "-0", width, precision and the
// length modifiers l, ll, z. %s takes a UTF-16 string. The result is always terminated
// and never longer than cchDest - 1 characters; a cut result gives STRSAFE_E_INSUFFICIENT_BUFFER.
HRESULT StringCchPrintfW(LPWSTR dest, size_t cchDest, LPCWSTR format, ...);
HRESULT StringCchVPrintfW(LPWSTR dest, size_t cchDest, LPCWSTR format, va_list args);
HRESULT StringCchCopyW(LPWSTR dest, size_t cchDest, LPCWSTR src);
HRESULT StringCchCatW(LPWSTR dest, size_t cchDest, LPCWSTR src);
HRESULT StringCchLengthW(LPCWSTR s, size_t cchMax, size_t* length);

#endif  // _WIN32

namespace platform {

// The formatter of StringCchPrintfW, appending to a growable string.
void AppendFormatV(std::basic_string<WCHAR>& out, LPCWSTR format, va_list args);
std::basic_string<WCHAR> Format(LPCWSTR format, ...);

// UTF-8 <-> UTF-16 at the host boundary. Bytes that are not valid UTF-8 become the lone
// surrogates U+DC80..U+DCFF and turn back into the same bytes, so any byte string survives
// a round trip. Other lone surrogates are written as U+FFFD.
std::basic_string<WCHAR> FromUtf8(std::string_view bytes);
std::string ToUtf8(std::basic_string_view<WCHAR> text);

}  // namespace platform
