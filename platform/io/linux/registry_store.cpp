// The registry store: one text file shared by every process of the user, a copy in memory
// per process. Reads check the file's identity (inode, size, times) and reload when another
// process replaced it. Writes take an flock on "<file>.lock", reload the latest state,
// apply the change to a copy, write the copy to a temporary file beside the target, sync
// it, rename it into place and sync the directory; the copy becomes the process's state
// only when all of that worked, so a failed write changes nothing.
//
// A damaged file (lines that cannot be understood) is noted in the account, the rest is
// used, and before the first write replaces it the damaged file is kept as
// "<file>.damaged-<UTC time>" (a hard link, so it is never half-copied).
//
// Volatile keys (HKEY_LOCAL_MACHINE\Drivers\Active and below) exist only in this process:
// they are never written and never read from the file.
#include "internal/registry_store.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "platform/base/account.h"

namespace platform::detail {
namespace {

constexpr std::u16string_view kVolatileRoot = u"hkey_local_machine\\drivers\\active";

FileStamp StampOf(const struct stat& st) {
    FileStamp s;
    s.exists = true;
    s.device = st.st_dev;
    s.inode = st.st_ino;
    s.size = st.st_size;
    s.modifiedSec = st.st_mtim.tv_sec;
    s.modifiedNsec = st.st_mtim.tv_nsec;
    s.changedSec = st.st_ctim.tv_sec;
    s.changedNsec = st.st_ctim.tv_nsec;
    return s;
}

FileStamp StampOfPath(const std::string& path) {
    struct stat st;
    if (stat(path.c_str(), &st) != 0) return {};
    return StampOf(st);
}

bool ReadWholeFile(const std::string& path, std::string& text, FileStamp& stamp, int& error) {
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        error = errno;
        return false;
    }
    struct stat st;
    if (fstat(fd, &st) != 0) {
        error = errno;
        close(fd);
        return false;
    }
    stamp = StampOf(st);
    char buf[65536];
    for (;;) {
        ssize_t n = read(fd, buf, sizeof buf);
        if (n > 0) {
            text.append(buf, static_cast<size_t>(n));
        } else if (n == 0) {
            break;
        } else if (errno != EINTR) {
            error = errno;
            close(fd);
            return false;
        }
    }
    close(fd);
    return true;
}

// Noted in the account, never written while the program runs: a dialog may be on screen.
void ReportDamage(const std::string& path, const std::vector<std::string>& problems) {
    std::string message = "the registry file " + path + " is damaged (" + problems[0];
    if (problems.size() > 1)
        message += ", and " + std::to_string(problems.size() - 1) + " more problems";
    Note(message + "); what could be read was used");
}

// Replaces the persistent part of the state with the file's content.
void Load(Store& s, const std::string& path) {
    RegKeyMap keys;
    std::string text;
    FileStamp stamp;
    int error = 0;
    s.damaged = false;
    s.unreadable = false;
    if (ReadWholeFile(path, text, stamp, error)) {
        RegParseResult parsed = ParseRegText(text);
        keys = std::move(parsed.keys);
        if (!parsed.problems.empty()) {
            s.damaged = true;
            ReportDamage(path, parsed.problems);
        }
    } else {
        AddRootKeys(keys);
        if (error != ENOENT) {
            s.unreadable = true;
            Note("cannot read the registry file " + path + " (" + std::strerror(error) +
                 "); it is not changed");
        }
        stamp = StampOfPath(path);
    }
    for (auto it = keys.begin(); it != keys.end();)  // volatile keys never come from a file
        it = IsVolatile(it->first) ? keys.erase(it) : std::next(it);
    for (auto& [folded, key] : s.keys) {
        if (!IsVolatile(folded)) continue;
        EnsureKey(keys, key.path);  // its parents, which the file may lack
        keys[folded] = std::move(key);
    }
    s.keys = std::move(keys);
    s.file = path;
    s.stamp = stamp;
    s.loaded = true;
}

void MakeParentDirs(const std::string& path) {
    for (size_t pos = path.find('/', 1); pos != std::string::npos; pos = path.find('/', pos + 1))
        mkdir(path.substr(0, pos).c_str(), 0700);
}

std::string DirOf(const std::string& path) {
    size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

bool WriteAll(int fd, const std::string& text) {
    size_t done = 0;
    while (done < text.size()) {
        ssize_t n = write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

// Keeps the damaged file under a new name before it is replaced.
bool KeepDamagedFile(const std::string& path) {
    char when[32];
    time_t now = time(nullptr);
    struct tm tm;
    gmtime_r(&now, &tm);
    strftime(when, sizeof when, "%Y%m%dT%H%M%SZ", &tm);
    for (int n = 0; n < 100; ++n) {
        std::string name = path + ".damaged-" + when;
        if (n > 0) name.append("-").append(std::to_string(n));
        if (link(path.c_str(), name.c_str()) == 0) {
            Note("the damaged registry file was kept as " + name);
            return true;
        }
        if (errno == ENOENT) return true;  // already gone: nothing to keep
        if (errno != EEXIST) break;
    }
    Note("cannot keep a copy of the damaged registry file " + path + " (" + std::strerror(errno) +
         "); it is not replaced");
    return false;
}

bool WriteFileSafely(const std::string& path, const std::string& text) {
    static unsigned counter = 0;
    std::string tmp = DirOf(path) + "/.registry.tmp-" + std::to_string(getpid()) + "-" +
                      std::to_string(++counter);
    int fd = open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0) return false;
    bool ok = WriteAll(fd, text) && fsync(fd) == 0;
    ok = close(fd) == 0 && ok;
    if (ok) ok = rename(tmp.c_str(), path.c_str()) == 0;
    if (!ok) {
        unlink(tmp.c_str());
        return false;
    }
    int dir = open(DirOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        fsync(dir);
        close(dir);
    }
    return true;
}

// Writes the persistent keys of state to the file; the file lock is held.
bool Persist(Store& s, const RegKeyMap& state) {
    if (s.unreadable) return false;
    if (s.damaged && !KeepDamagedFile(s.file)) return false;
    RegKeyMap persistent;
    for (const auto& [folded, key] : state)
        if (!IsVolatile(folded)) persistent.emplace(folded, key);
    if (!WriteFileSafely(s.file, FormatRegText(persistent))) {
        Note("cannot write the registry file " + s.file + " (" + std::strerror(errno) + ")");
        return false;
    }
    s.damaged = false;
    s.stamp = StampOfPath(s.file);
    return true;
}

class FileLock {
  public:
    explicit FileLock(const std::string& path) {
        MakeParentDirs(path);
        fd_ = open((path + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
        if (fd_ < 0)
            Note("cannot write the registry file " + path + " (" + std::strerror(errno) + ")");
        // A short wait for another process's write; such writes take milliseconds.
        while (fd_ >= 0 && flock(fd_, LOCK_EX) != 0 && errno == EINTR) {
        }
    }
    ~FileLock() {
        if (fd_ >= 0) close(fd_);
    }
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;
    bool ok() const { return fd_ >= 0; }

  private:
    int fd_ = -1;
};

}  // namespace

bool IsVolatile(std::u16string_view folded) {
    return folded.substr(0, kVolatileRoot.size()) == kVolatileRoot &&
           (folded.size() == kVolatileRoot.size() || folded[kVolatileRoot.size()] == u'\\');
}

Store& TheStore() {
    static Store* store = new Store;  // lives until exit, also for late calls
    return *store;
}

void Refresh(Store& s) {
    std::string path = RegistryFilePath();
    if (!s.loaded || path != s.file || !(StampOfPath(path) == s.stamp)) Load(s, path);
}

LONG Mutate(Store& s, const std::u16string& folded, const Change& change) {
    if (IsVolatile(folded)) {
        Refresh(s);
        return change(s.keys);
    }
    FileLock lock(RegistryFilePath());
    if (!lock.ok()) return ERROR_CANTWRITE;
    Refresh(s);
    RegKeyMap next = s.keys;
    LONG status = change(next);
    if (status != ERROR_SUCCESS) return status;
    if (!Persist(s, next)) return ERROR_CANTWRITE;
    s.keys = std::move(next);
    return ERROR_SUCCESS;
}

std::string RegistryFilePath() {
    const char* named = std::getenv("BELVANE_REGISTRY");
    if (named && *named) return named;
    const char* state = std::getenv("XDG_STATE_HOME");
    if (state && *state == '/') return std::string(state) + "/belvane/registry.reg";
    const char* home = std::getenv("HOME");
    return std::string(home && *home ? home : "/tmp") + "/.local/state/belvane/registry.reg";
}

void ClearVolatileKeys() {
    Store& s = TheStore();
    std::lock_guard<std::mutex> lock(s.mutex);
    for (auto it = s.keys.begin(); it != s.keys.end();)
        it = IsVolatile(it->first) ? s.keys.erase(it) : std::next(it);
}

}  // namespace platform::detail
