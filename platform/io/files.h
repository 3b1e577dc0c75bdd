// Files, module paths and CreateFileW. Paths are in Windows form with backslashes
// ("\home\ana\nav\Belv.ini" names /home/ana/nav/Belv.ini); forward slashes are accepted too.
// CreateFileW on a device name such as "COM3:" opens the serial device that the device
// manager maps to it (see serial.h).
#pragma once

#include <string>
#include <string_view>

#include "platform/base/handles.h"
#include "platform/base/types.h"

#ifdef _WIN32
#include "platform/base/windows/win32.h"
#else

struct OVERLAPPED {
    ULONG_PTR Internal;
    ULONG_PTR InternalHigh;
    DWORD Offset;
    DWORD OffsetHigh;
    HANDLE hEvent;
};
typedef OVERLAPPED* LPOVERLAPPED;

#define GENERIC_READ 0x80000000u
#define GENERIC_WRITE 0x40000000u
#define FILE_SHARE_READ 0x1u
#define FILE_SHARE_WRITE 0x2u
#define CREATE_NEW 1u
#define CREATE_ALWAYS 2u
#define OPEN_EXISTING 3u
#define OPEN_ALWAYS 4u
#define TRUNCATE_EXISTING 5u
#define FILE_ATTRIBUTE_READONLY 0x1u
#define FILE_ATTRIBUTE_DIRECTORY 0x10u
#define FILE_ATTRIBUTE_NORMAL 0x80u
#define INVALID_FILE_ATTRIBUTES 0xFFFFFFFFu
#define MOVEFILE_REPLACE_EXISTING 0x1u
#define MOVEFILE_COPY_ALLOWED 0x2u
#define MOVEFILE_WRITE_THROUGH 0x8u

HANDLE CreateFileW(LPCWSTR name, DWORD access, DWORD shareMode, LPSECURITY_ATTRIBUTES security,
                   DWORD disposition, DWORD flags, HANDLE templateFile);
BOOL ReadFile(HANDLE file, LPVOID buffer, DWORD toRead, LPDWORD read, LPOVERLAPPED overlapped);
BOOL WriteFile(HANDLE file, LPCVOID buffer, DWORD toWrite, LPDWORD written,
               LPOVERLAPPED overlapped);
BOOL DeleteFileW(LPCWSTR path);
BOOL MoveFileW(LPCWSTR from, LPCWSTR to);
// MOVEFILE_REPLACE_EXISTING replaces the target atomically: the old or the new file is
// always there, complete. MOVEFILE_WRITE_THROUGH syncs the data and the directory first.
// MOVEFILE_COPY_ALLOWED lets a move across file systems copy to a temporary file beside
// the target, sync it and rename it into place, so that the replacement stays atomic.
BOOL MoveFileExW(LPCWSTR from, LPCWSTR to, DWORD flags);
DWORD GetFileAttributesW(LPCWSTR path);

// The running program's path (from the kernel, links resolved) in Windows form when module
// is null; the path of a loaded library otherwise. Truncates to size - 1 characters and
// returns size with ERROR_INSUFFICIENT_BUFFER when the buffer is too small.
DWORD GetModuleFileNameW(HMODULE module, LPWSTR buffer, DWORD size);
// Null name: the running program. Otherwise a library already loaded into the process.
HMODULE GetModuleHandleW(LPCWSTR name);

#endif  // _WIN32

namespace platform {

// Windows-form path to host path and back.
std::string HostPath(LPCWSTR windowsPath);
std::basic_string<WCHAR> WindowsPath(std::string_view hostPath);

// Makes GetModuleFileNameW(null, ...) report this path; null restores the real one.
void SetModuleFileNameForTesting(LPCWSTR path);

}  // namespace platform
