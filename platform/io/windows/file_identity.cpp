// What a path finally names, and the permissions a copy takes over, on Windows.
#include "platform/io/file_identity.h"

namespace platform {

std::basic_string<WCHAR> FinalPathName(LPCWSTR path) {
    HANDLE file = CreateFileW(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE) return {};
    std::basic_string<WCHAR> name(MAX_PATH, 0);
    DWORD length = GetFinalPathNameByHandleW(file, name.data(), static_cast<DWORD>(name.size()),
                                             FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    if (length >= name.size()) {
        name.resize(length + 1);
        length = GetFinalPathNameByHandleW(file, name.data(), static_cast<DWORD>(name.size()),
                                           FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    }
    CloseHandle(file);
    if (length == 0 || length >= name.size()) return {};
    name.resize(length);
    // "\\?\C:\..." is the long-path form of "C:\...".
    const std::basic_string<WCHAR> prefix = TEXT("\\\\?\\");
    if (name.compare(0, prefix.size(), prefix) == 0) name.erase(0, prefix.size());
    return name;
}

// The access list follows the folder; what the file itself carries is its read-only mark.
BOOL CopyFilePermissions(LPCWSTR from, LPCWSTR to) {
    const DWORD model = GetFileAttributesW(from);
    const DWORD copy = GetFileAttributesW(to);
    if (model == INVALID_FILE_ATTRIBUTES || copy == INVALID_FILE_ATTRIBUTES) return FALSE;
    const DWORD wanted =
        (copy & ~DWORD{FILE_ATTRIBUTE_READONLY}) | (model & FILE_ATTRIBUTE_READONLY);
    return wanted == copy || SetFileAttributesW(to, wanted);
}

}  // namespace platform
