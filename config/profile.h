// Reads one entry of a sectioned "key=value" profile file, or rewrites the file with one
// entry set. Every call opens and closes the file itself and keeps no state. A rewrite goes
// through the temporary file "config_tmp" beside the running program, so two rewrites must
// never run at the same time, in one process or in two. The copy is always a new private
// file made by the rewrite itself: whatever else is found under that name (a file left by
// a crash, a link, a FIFO) is removed first, a link itself and never what it leads to.
#pragma once

#include "platform/base/types.h"

// Value type codes. Any other code is treated as text.
inline constexpr int PROFILE_TYPE_TEXT = 0;    // NUL-terminated UTF-16 string
inline constexpr int PROFILE_TYPE_INT = 1;     // signed 32-bit integer
inline constexpr int PROFILE_TYPE_DOUBLE = 2;  // eight-byte floating-point number

// Return codes.
inline constexpr int PROFILE_OK = 0;
inline constexpr int PROFILE_E_ARGUMENT = -1;          // a null argument, or capacity <= 0
inline constexpr int PROFILE_E_OPEN = -10;             // the file cannot be opened or read
inline constexpr int PROFILE_E_READ_NO_SECTION = -20;  // no header matches the section
inline constexpr int PROFILE_E_READ_NO_KEY = -30;      // the section holds no such entry
inline constexpr int PROFILE_E_EMPTY_VALUE = -40;      // a number was asked for, value empty
inline constexpr int PROFILE_E_TEMP_CREATE = -100;     // the temporary file cannot be created
// The temporary copy could not be written completely (disk full, write or close error);
// the file is unchanged.
inline constexpr int PROFILE_E_TEMP_WRITE = -110;
inline constexpr int PROFILE_E_WRITE_NO_SECTION = -200;  // no header matches the section
// The finished copy could not be put in the file's place; the file is unchanged.
inline constexpr int PROFILE_E_REPLACE = -300;
// The entry would not be one line that reads back whole: longer than PROFILE_MAX_ENTRY_LINE
// characters with its line feed, or a key or value holding a line feed. Nothing is touched.
inline constexpr int PROFILE_E_ENTRY_LINE = -400;

// The file is not one this process may rewrite; nothing is touched.
inline constexpr int PROFILE_E_NOT_FILE = -500;   // a FIFO, socket or device
inline constexpr int PROFILE_E_READ_ONLY = -510;  // no write permission
inline constexpr int PROFILE_E_OWNER = -520;      // another user's file (not as superuser)
// Another program holds the file's lock (see DeployFindings).
inline constexpr int PROFILE_E_BUSY = -530;

// Lines are read in pieces of at most this many characters; a longer line is seen as
// several lines. An entry line written must fit one piece, line feed included.
inline constexpr int PROFILE_MAX_ENTRY_LINE = 254;

// Reads the first entry `key` of the first section `section` of the file at path into
// result: for text a buffer of capacity characters (the value without its final line feed,
// cut to capacity - 1 characters); for PROFILE_TYPE_INT one int32_t; for PROFILE_TYPE_DOUBLE
// one double. Names are compared case-sensitively and nothing is trimmed.
int ReadProfileValue(LPCWSTR path, LPCWSTR section, LPCWSTR key, void* result, int capacity,
                     int type);

// Sets entry `key` in section `section` of the file at path: the first such entry is
// replaced in its place, or a new one ends the section. A missing section is never created.
// value points to a NUL-terminated string, an int32_t or a double according to type. Every
// other line keeps its bytes. The file is replaced atomically: at every moment the old or
// the new file is there, complete; when the file is a symbolic link, the file it leads to
// is replaced and the link stays; the file keeps its access permissions (and, for the
// superuser, its owner). Only a regular file that this process may write is rewritten:
// PROFILE_E_NOT_FILE, PROFILE_E_READ_ONLY and PROFILE_E_OWNER refuse the others.
int WriteProfileValue(LPCWSTR path, LPCWSTR section, LPCWSTR key, const void* value, int type);

// Whether the file may be rewritten, without opening it: PROFILE_OK, PROFILE_E_OPEN for a
// file that is missing or cannot be examined, or the refusal that WriteProfileValue gives.
int ProfileFileRefusal(LPCWSTR path);
