// The log file on Windows, as on Linux: opened once, appended to, never through a link
// (a reparse point) and only when it is an ordinary file, so a log path in a shared folder
// cannot be turned against another file or a device.
#include "internal/log_file.h"

#include <cstdio>
#include <string>

#include "platform/base/types.h"

namespace platform::detail {
namespace {

std::basic_string<WCHAR> LogPath() {
    WCHAR path[MAX_PATH];
    const DWORD length = GetEnvironmentVariableW(TEXT("BELVANE_LOG"), path, MAX_PATH);
    return length > 0 && length < MAX_PATH ? path : std::basic_string<WCHAR>();
}

HANDLE OpenLog() {
    const std::basic_string<WCHAR> path = LogPath();
    if (path.empty()) return INVALID_HANDLE_VALUE;
    // Shared for writing as an O_APPEND file is: two programs of a run may log to one file.
    HANDLE file = CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_ALWAYS, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file == INVALID_HANDLE_VALUE) return file;
    BY_HANDLE_FILE_INFORMATION info{};
    const DWORD refused = FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY;
    if (GetFileType(file) != FILE_TYPE_DISK || !GetFileInformationByHandle(file, &info) ||
        (info.dwFileAttributes & refused) != 0) {
        CloseHandle(file);
        return INVALID_HANDLE_VALUE;
    }
    return file;
}

HANDLE LogHandle() {
    static const HANDLE file = OpenLog();  // kept until exit
    return file;
}

std::string Stamp() {
    SYSTEMTIME now{};
    GetSystemTime(&now);
    char text[64];
    std::snprintf(text, sizeof text, "%04u-%02u-%02uT%02u:%02u:%02u.%03uZ [%lu] ", now.wYear,
                  now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond, now.wMilliseconds,
                  static_cast<unsigned long>(GetCurrentThreadId()));
    return text;
}

}  // namespace

bool LogFileOpen() {
    return LogHandle() != INVALID_HANDLE_VALUE;
}

// One WriteFile a line: appends of different threads never mix.
void WriteLogLine(std::string_view line) {
    const HANDLE file = LogHandle();
    if (file == INVALID_HANDLE_VALUE) return;
    std::string text = Stamp();
    text.append(line);
    text += '\n';
    DWORD written = 0;
    WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
}

}  // namespace platform::detail
