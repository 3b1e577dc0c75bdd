// Guards for rewriting a file through a temporary copy, on Windows: the file's kind and
// read-only attribute, the file identity behind a stream, and a lock file opened without
// sharing. Who else may write is the folder's access list, which the copy inherits.
#include "platform/io/file_guard.h"

#include <io.h>

#include "platform/io/file_identity.h"

namespace platform {
namespace {

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

bool SameFile(HANDLE a, HANDLE b) {
    BY_HANDLE_FILE_INFORMATION x, y;
    return GetFileInformationByHandle(a, &x) && GetFileInformationByHandle(b, &y) &&
           x.dwVolumeSerialNumber == y.dwVolumeSerialNumber &&
           x.nFileIndexHigh == y.nFileIndexHigh && x.nFileIndexLow == y.nFileIndexLow;
}

HANDLE StreamHandle(FILE* stream) {
    return reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)));
}

}  // namespace

RewriteRefusal CheckFileForRewrite(LPCWSTR path) {
    const DWORD attributes = GetFileAttributesW(path);
    if (attributes == INVALID_FILE_ATTRIBUTES) return RewriteRefusal::Missing;
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) return RewriteRefusal::Unreadable;
    HANDLE file = CreateFileW(path, GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return RewriteRefusal::Unreadable;
    const DWORD type = GetFileType(file);
    CloseHandle(file);
    if (type != FILE_TYPE_DISK) return RewriteRefusal::NotRegularFile;
    if (attributes & FILE_ATTRIBUTE_READONLY) return RewriteRefusal::ReadOnly;
    return RewriteRefusal::None;
}

BOOL SealCopyLike(FILE* stream, LPCWSTR model) {
    if (fflush(stream) != 0) return FALSE;
    if (!FlushFileBuffers(StreamHandle(stream))) return FALSE;
    (void)model;  // the copy's access list comes from its folder, as the model's did
    return TRUE;
}

BOOL PathNamesStream(LPCWSTR path, FILE* stream) {
    HANDLE named = CreateFileW(path, 0, kShareAll, nullptr, OPEN_EXISTING,
                               FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (named == INVALID_HANDLE_VALUE) return FALSE;
    const bool same = SameFile(named, StreamHandle(stream));
    CloseHandle(named);
    return same ? TRUE : FALSE;
}

// The lock is the lock file open with no sharing: another holder's open fails with a
// sharing violation until it closes, or its process ends.
ExclusiveFileLock::ExclusiveFileLock(LPCWSTR lockPath, DWORD waitMs) {
    const ULONGLONG deadline = GetTickCount64() + waitMs;
    for (;;) {
        HANDLE file = CreateFileW(lockPath, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
        if (file != INVALID_HANDLE_VALUE) {
            fd_ = _open_osfhandle(reinterpret_cast<intptr_t>(file), 0);
            if (fd_ < 0) {
                CloseHandle(file);
                error_ = ERROR_NOT_ENOUGH_MEMORY;
            }
            return;
        }
        const DWORD error = GetLastError();
        if (error != ERROR_SHARING_VIOLATION && error != ERROR_ACCESS_DENIED) {
            error_ = error;
            return;
        }
        if (GetTickCount64() >= deadline) {
            error_ = ERROR_BUSY;
            return;
        }
        Sleep(10);
    }
}

ExclusiveFileLock::~ExclusiveFileLock() {
    if (fd_ >= 0) _close(fd_);
}

}  // namespace platform
