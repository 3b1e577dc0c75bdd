#include "platform/io/file_guard.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <string>
#include <thread>

#include "platform/base/account.h"
#include "platform/io/files.h"

namespace platform {

namespace {

int OpenRetrying(const char* path, int flags, mode_t mode = 0) {
    int fd;
    while ((fd = open(path, flags | O_CLOEXEC | O_NOCTTY, mode)) < 0 && errno == EINTR) {
    }
    return fd;
}

bool SameFile(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

RewriteRefusal JudgePermissions(const struct stat& st) {
    if (geteuid() == 0)
        return (st.st_mode & 0222) == 0 ? RewriteRefusal::ReadOnly : RewriteRefusal::None;
    if (st.st_uid != geteuid()) return RewriteRefusal::ForeignOwner;
    return (st.st_mode & S_IWUSR) == 0 ? RewriteRefusal::ReadOnly : RewriteRefusal::None;
}

// Opens the lock file without following a link. On failure, retry tells that something
// that is no regular file was in the way and has been removed, so a new try may succeed.
int OpenLockFile(const std::string& path, bool& retry) {
    retry = false;
    const int fd = OpenRetrying(path.c_str(), O_RDONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK, 0644);
    if (fd < 0) {
        // ELOOP: a link is there. It is removed, never followed.
        if (errno == ELOOP && unlink(path.c_str()) == 0) retry = true;
        return -1;
    }
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        close(fd);
        if (unlink(path.c_str()) == 0) retry = true;
        return -1;
    }
    return fd;
}

// Whether the name still leads to the locked file: a lock file replaced under our feet
// would let a second holder in through the new one.
bool StillNamed(int fd, const std::string& path) {
    struct stat held, named;
    return fstat(fd, &held) == 0 && lstat(path.c_str(), &named) == 0 && SameFile(held, named);
}

}  // namespace

RewriteRefusal CheckFileForRewrite(LPCWSTR path) {
    if (path == nullptr) return RewriteRefusal::Missing;
    const std::string host = HostPath(path);
    struct stat st;
    if (stat(host.c_str(), &st) != 0) {
        return errno == ENOENT || errno == ENOTDIR ? RewriteRefusal::Missing
                                                   : RewriteRefusal::Unreadable;
    }
    // A directory is no file to read, as _wfopen says.
    if (S_ISDIR(st.st_mode)) return RewriteRefusal::Unreadable;
    if (!S_ISREG(st.st_mode)) return RewriteRefusal::NotRegularFile;
    // Opened without waiting, and judged by what was opened: the name may have been
    // pointed elsewhere since.
    const int fd = OpenRetrying(host.c_str(), O_RDONLY | O_NONBLOCK);
    if (fd < 0) return RewriteRefusal::Unreadable;
    const bool known = fstat(fd, &st) == 0;
    close(fd);
    if (!known) return RewriteRefusal::Unreadable;
    if (!S_ISREG(st.st_mode)) return RewriteRefusal::NotRegularFile;
    const RewriteRefusal refusal = JudgePermissions(st);
    if (refusal == RewriteRefusal::ReadOnly) Note(host + " is read-only, so it was not changed");
    if (refusal == RewriteRefusal::ForeignOwner)
        Note(host + " belongs to another user, so it was not changed");
    return refusal;
}

BOOL SealCopyLike(FILE* stream, LPCWSTR model) {
    if (stream == nullptr || model == nullptr) return FALSE;
    if (fflush(stream) != 0) return FALSE;
    const int fd = fileno(stream);
    struct stat st;
    if (stat(HostPath(model).c_str(), &st) == 0) {
        // The owner first: changing it clears set-id bits that the mode then restores.
        if (geteuid() == 0) {
            (void)!fchown(fd, st.st_uid, st.st_gid);
        } else {
            (void)!fchown(fd, static_cast<uid_t>(-1), st.st_gid);
        }
        fchmod(fd, st.st_mode & 07777);
    }
    return fsync(fd) == 0 ? TRUE : FALSE;
}

BOOL PathNamesStream(LPCWSTR path, FILE* stream) {
    if (path == nullptr || stream == nullptr) return FALSE;
    struct stat open, named;
    if (fstat(fileno(stream), &open) != 0) return FALSE;
    if (lstat(HostPath(path).c_str(), &named) != 0) return FALSE;
    return S_ISREG(named.st_mode) && SameFile(open, named) ? TRUE : FALSE;
}

ExclusiveFileLock::ExclusiveFileLock(LPCWSTR lockPath, DWORD waitMs) {
    if (lockPath == nullptr) {
        error_ = ERROR_INVALID_PARAMETER;
        return;
    }
    const std::string path = HostPath(lockPath);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
    for (int attempts = 0; attempts < 1000; ++attempts) {
        bool retry = false;
        const int fd = OpenLockFile(path, retry);
        if (fd < 0) {
            if (retry) continue;
            error_ = errno == EISDIR ? ERROR_ACCESS_DENIED : ERROR_CANTOPEN;
            return;
        }
        int rc;
        while ((rc = flock(fd, LOCK_EX | LOCK_NB)) != 0 &&
               (errno == EWOULDBLOCK || errno == EINTR) &&
               std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        if (rc == 0 && StillNamed(fd, path)) {
            fd_ = fd;
            return;
        }
        const bool busy = rc != 0 && errno == EWOULDBLOCK;
        close(fd);
        if (rc != 0) {
            error_ = busy ? ERROR_BUSY : ERROR_LOCK_VIOLATION;
            return;
        }
    }
    error_ = ERROR_BUSY;
}

ExclusiveFileLock::~ExclusiveFileLock() {
    if (fd_ >= 0) close(fd_);
}

}  // namespace platform
