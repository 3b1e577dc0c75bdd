// Guards for rewriting a file in place through a temporary copy when other users can
// write the folder: what kind of file may be rewritten, a copy that becomes the file only
// while it is still the copy this process made, and one rewriter at a time.
#pragma once

#include <cstdio>

#include "platform/base/types.h"

namespace platform {

// Why the file a path leads to (links followed) may not be rewritten by this process.
enum class RewriteRefusal {
    None,
    Missing,         // nothing there, or a link leading nowhere
    Unreadable,      // there, but it cannot be examined or read (a directory, too)
    NotRegularFile,  // a FIFO, socket or device
    ReadOnly,        // no write permission: for the superuser, none for anybody
    ForeignOwner,    // another user's file, and this process is not the superuser
};

// Examines the file without ever blocking: a FIFO or a device is judged by its kind and
// never opened.
RewriteRefusal CheckFileForRewrite(LPCWSTR path);

// Finishes a copy written through stream: writes out its buffer, gives the file the access
// permissions of model (and, for the superuser, its owner and group) and syncs it to disk.
// FALSE when the data could not be written or synced; permissions that the file system
// does not keep are no failure.
BOOL SealCopyLike(FILE* stream, LPCWSTR model);

// Whether path, its last component not followed, still names the file open in stream.
BOOL PathNamesStream(LPCWSTR path, FILE* stream);

// An exclusive advisory lock on the file lockPath, created when missing (never through a
// link; a link, FIFO or other non-file there is removed first). Waits up to waitMs for a
// holder to let go. Released when the object is destroyed, or when the process ends.
class ExclusiveFileLock {
  public:
    ExclusiveFileLock(LPCWSTR lockPath, DWORD waitMs);
    ~ExclusiveFileLock();
    ExclusiveFileLock(const ExclusiveFileLock&) = delete;
    ExclusiveFileLock& operator=(const ExclusiveFileLock&) = delete;

    bool Held() const { return fd_ >= 0; }
    // Why the lock is not held: ERROR_BUSY when another holder kept it past the wait.
    DWORD Error() const { return error_; }

  private:
    int fd_ = -1;
    DWORD error_ = ERROR_SUCCESS;
};

}  // namespace platform
