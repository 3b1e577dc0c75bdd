// The check of a file before its code runs, on Windows: the handle that was judged is kept
// open without write or delete sharing, so the file loaded is the file checked.
#include "platform/base/account.h"
#include "platform/base/strings.h"
#include "platform/io/windows/driver_host.h"

namespace platform::detail {
namespace {

HANDLE Refuse(const std::basic_string<WCHAR>& path, const char* why) {
    platform::Note(platform::ToUtf8(path) + " " + why + "; not loaded");
    SetLastError(ERROR_ACCESS_DENIED);
    return INVALID_HANDLE_VALUE;
}

// Why a file may not be run, or nullptr when it may.
const char* Distrust(HANDLE file) {
    BY_HANDLE_FILE_INFORMATION info{};
    if (!GetFileInformationByHandle(file, &info)) return "cannot be examined";
    if (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) return "is a link";
    if ((info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) || GetFileType(file) != FILE_TYPE_DISK)
        return "is not a regular file";
    return nullptr;
}

}  // namespace

HANDLE OpenTrustedFile(const std::basic_string<WCHAR>& path) {
    // The reparse point itself is opened, never what it leads to.
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    // Wine shows a link's attribute only to a look-up by name (and may not open the link
    // itself); once the file is held open, the name still leads to what was judged.
    const DWORD attributes = GetFileAttributesW(path.c_str());
    const bool link =
        attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
    if (file == INVALID_HANDLE_VALUE) {
        if (link) return Refuse(path, "is a link");
        SetLastError(ERROR_MOD_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    const char* why = link ? "is a link" : Distrust(file);
    if (!why) return file;
    CloseHandle(file);
    return Refuse(path, why);
}

}  // namespace platform::detail
