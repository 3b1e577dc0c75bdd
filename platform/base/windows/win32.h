// On Windows the platform's headers are the system's own: <windows.h> for the Win32 names
// in their wide (UNICODE) form and <strsafe.h> for the bounded string functions. WCHAR is
// wchar_t there, a UTF-16 code unit as on every build.
#pragma once

#ifndef UNICODE
#define UNICODE
#endif
#ifndef _UNICODE
#define _UNICODE
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
// The C library's wide string functions stay usable beside strsafe.h's.
#ifndef STRSAFE_NO_DEPRECATE
#define STRSAFE_NO_DEPRECATE
#endif

#include <strsafe.h>
#include <windows.h>

#ifndef _T
#define _T(s) TEXT(s)
#endif
