// The C runtime's wide-character text streams over UTF-16, with their Windows names.
// On disk the text is UTF-8. Bytes that are not valid UTF-8 come back as the lone
// surrogates U+DC80..U+DCFF and are written back as the same bytes, a NUL byte comes back as
// a lone U+DC00 (so that it does not end the string) and is written back as NUL, and no line
// ends are translated, so a read followed by a write reproduces any file byte for byte. A
// U+DC00 after a high surrogate is the second half of a character (U+10000 + k * 0x400) and
// stays that character. This holds for reads into buffers of at least three characters: a
// smaller one cannot hold a surrogate pair, which is then handed out in halves.
#pragma once

#include <cstdio>
#include <cwchar>

#include "platform/base/types.h"

#ifdef _WIN32
// The C runtime's own wide streams translate line ends and code pages; these keep the bytes,
// and system code reaches them by the C runtime's names.
namespace platform {
FILE* OpenTextStream(LPCWSTR path, LPCWSTR mode);
WCHAR* ReadTextStream(WCHAR* buffer, int count, FILE* stream);
int WriteTextStream(const WCHAR* text, FILE* stream);
}  // namespace platform
#define _wfopen platform::OpenTextStream
#define fgetws platform::ReadTextStream
#define fputws platform::WriteTextStream
#else
// Modes "r", "w" and "wx" (a "b" or "t" before the "x" is accepted and changes nothing).
// "r" never waits: a FIFO without a writer or a device reads as ended or failed. "wx"
// creates a new file with access for its owner only, and fails when anything is there
// already, a symbolic link included (which is never followed).
FILE* _wfopen(LPCWSTR path, LPCWSTR mode);
// Reads up to count - 1 characters, stopping after a line feed; null at the end of the
// file or on error. A character that does not fit is left for the next call.
WCHAR* fgetws(WCHAR* buffer, int count, FILE* stream);
// Returns a non-negative value on success, WEOF (-1) on error.
int fputws(const WCHAR* text, FILE* stream);
#endif  // _WIN32
// feof and fclose are the C library's own.
