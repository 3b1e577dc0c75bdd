// The registry store: one text file shared by every process of the user, a copy in memory
// per process. Reads check the file's identity (inode, size, times) and reload when another
// process replaced it. Writes take an flock on "<file>.lock", reload the latest state,
// apply the change to a copy, write the copy to a temporary file beside the target, sync
// it, rename it into place and sync the directory; the copy becomes the process's state
// only when all of that worked, so a failed write changes nothing. A change that leaves
// the keys as they are writes nothing.
//
// The lock is waited for a few seconds at most: a program that holds it longer (stopped
// in a debugger, say) makes the write fail with a message instead of hanging this one.
// Under the lock no other writer of the file is at work, so temporary files found beside
// it are those of writers that were killed: they are removed.
//
// A registry file that is a symbolic link stays one: the file it leads to is replaced (and
// the lock lives beside that file, so every way to it shares one lock). The new file gets
// the old one's permissions and, when written by root, its owner.
//
// A damaged file (lines that cannot be understood) is noted in the account, the rest is
// used, and before the first write replaces it the damaged file is kept as
// "<file>.damaged-<UTC time>" (a hard link, so it is never half-copied).
//
// Volatile keys (HKEY_LOCAL_MACHINE\Drivers\Active and below) exist only in this process:
// they are never written and never read from the file.
#include "internal/registry_store.h"

#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <vector>

#include "platform/base/account.h"

namespace platform::detail {
namespace {

constexpr std::u16string_view kVolatileRoot = u"hkey_local_machine\\drivers\\active";
constexpr long kLockWaitMs = 5000;  // another program's write takes milliseconds
constexpr long kLockPollMs = 20;
constexpr const char* kOldTempPrefix = ".registry.tmp-";  // earlier writers' name, any file

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

std::string BaseOf(const std::string& path) {
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The file a write replaces: path with its symbolic links followed, the last one also when
// it leads nowhere yet (the write creates the file it names).
std::string FinalTarget(std::string path) {
    for (int hops = 0; hops < 40; ++hops) {
        struct stat st;
        if (lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return path;
        char buf[PATH_MAX];
        ssize_t n = readlink(path.c_str(), buf, sizeof buf);
        if (n <= 0 || static_cast<size_t>(n) >= sizeof buf) return path;
        std::string next(buf, static_cast<size_t>(n));
        path = next[0] == '/' ? next : DirOf(path) + "/" + next;
    }
    return path;
}

// The names of this file's temporary copies: ".<name>.tmp-<pid>-<n>" beside it.
std::string TempPrefix(const std::string& target) {
    return "." + BaseOf(target) + ".tmp-";
}

// A copy under the earlier name, which every registry of a folder shared: only its own
// writer's death makes it garbage.
bool IsOrphanedOldTemp(const std::string& name) {
    if (name.rfind(kOldTempPrefix, 0) != 0) return false;
    long pid = std::strtol(name.c_str() + std::strlen(kOldTempPrefix), nullptr, 10);
    return pid > 0 && kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH;
}

// Removes what killed writers left beside target; the lock is held, so no living writer
// of this file has a copy there.
void RemoveDeadTemps(const std::string& target) {
    std::string dir = DirOf(target);
    DIR* listing = opendir(dir.c_str());
    if (!listing) return;
    std::string prefix = TempPrefix(target);
    std::vector<std::string> dead;
    while (struct dirent* entry = readdir(listing)) {
        std::string name = entry->d_name;
        if (name.rfind(prefix, 0) == 0 || IsOrphanedOldTemp(name)) dead.push_back(name);
    }
    closedir(listing);
    for (const std::string& name : dead) unlink((dir + "/" + name).c_str());
}

// Gives the new file the permissions (and, for root, the owner) of the one it replaces.
bool TakeOver(int fd, const struct stat& old) {
    if (geteuid() == 0 && fchown(fd, old.st_uid, old.st_gid) != 0) return false;
    return fchmod(fd, old.st_mode & 07777) == 0;  // after fchown, which clears set-id bits
}

bool WriteFileSafely(const std::string& target, const std::string& text) {
    static unsigned counter = 0;
    std::string tmp = DirOf(target) + "/" + TempPrefix(target) + std::to_string(getpid()) + "-" +
                      std::to_string(++counter);
    struct stat old;
    bool replacing = stat(target.c_str(), &old) == 0;
    if (!replacing && errno != ENOENT) return false;  // its permissions would be lost
    // Private until it has the old file's permissions.
    int fd = open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                  replacing ? 0600 : 0644);
    if (fd < 0) return false;
    bool ok = (!replacing || TakeOver(fd, old)) && WriteAll(fd, text) && fsync(fd) == 0;
    ok = close(fd) == 0 && ok;
    if (ok) ok = rename(tmp.c_str(), target.c_str()) == 0;
    if (!ok) {
        int error = errno;
        unlink(tmp.c_str());
        errno = error;
        return false;
    }
    int dir = open(DirOf(target).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        fsync(dir);
        close(dir);
    }
    return true;
}

// Writes the persistent keys of state to the file; the file lock is held.
bool Persist(Store& s, const RegKeyMap& state) {
    if (s.unreadable) return false;
    std::string target = FinalTarget(s.file);
    RemoveDeadTemps(target);
    if (s.damaged && !KeepDamagedFile(target)) return false;
    RegKeyMap persistent;
    for (const auto& [folded, key] : state)
        if (!IsVolatile(folded)) persistent.emplace(folded, key);
    if (!WriteFileSafely(target, FormatRegText(persistent))) {
        Note("cannot write the registry file " + s.file + " (" + std::strerror(errno) + ")");
        return false;
    }
    ++s.writes;
    s.damaged = false;
    s.stamp = StampOfPath(s.file);
    return true;
}

bool SameValue(const RegValue& a, const RegValue& b) {
    return a.name == b.name && a.type == b.type && a.data == b.data;
}

bool SameKeys(const RegKeyMap& a, const RegKeyMap& b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](const auto& x, const auto& y) {
        return x.first == y.first && x.second.path == y.second.path &&
               std::equal(x.second.values.begin(), x.second.values.end(), y.second.values.begin(),
                          y.second.values.end(), SameValue);
    });
}

void ReportLockFailure(const std::string& path, int error) {
    if (error == EWOULDBLOCK)
        Note("another program holds the registry file " + path + "; the change is not written");
    else
        Note("cannot lock the registry file " + path + " (" + std::strerror(error) +
             "); the change is not written");
}

// Takes the write lock of the registry file at path ("<file>.lock" beside the file it
// leads to), waiting a few seconds for another program's write. -1, with a message on
// stderr, when it cannot be had.
int TakeLock(const std::string& path) {
    std::string target = FinalTarget(path);
    MakeParentDirs(target);
    int fd = open((target + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) {
        ReportLockFailure(path, errno);
        return -1;
    }
    for (long waited = 0;; waited += kLockPollMs) {
        if (flock(fd, LOCK_EX | LOCK_NB) == 0) return fd;
        if (errno != EWOULDBLOCK && errno != EINTR) break;
        if (waited >= kLockWaitMs) break;
        struct timespec pause = {0, kLockPollMs * 1000000L};
        nanosleep(&pause, nullptr);
    }
    int error = errno == EINTR ? EWOULDBLOCK : errno;
    close(fd);
    ReportLockFailure(path, error);
    return -1;
}

class FileLock {
  public:
    explicit FileLock(const std::string& path) : fd_(TakeLock(path)) {}
    ~FileLock() {
        if (fd_ >= 0) close(fd_);
    }
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;
    bool ok() const { return fd_ >= 0; }

  private:
    int fd_ = -1;
};

// Waits, with the store's mutex held, until no other thread's batch is open. A batch lasts
// at most the file lock's wait and one write, so the wait is bounded by a little more; false
// when it ran out.
bool AwaitOtherBatches(Store& s) {
    const auto mine = std::this_thread::get_id();
    return s.batchEnded.wait_for(s.mutex, std::chrono::milliseconds(2 * kLockWaitMs),
                                 [&] { return s.batchDepth == 0 || s.batchOwner == mine; });
}

// A change inside a batch: made in memory under the lock the batch holds, written at its
// end.
LONG MutateInBatch(Store& s, const Change& change) {
    if (s.batchFailed) return ERROR_CANTWRITE;  // waited once already
    if (s.batchLock < 0) {
        s.batchLock = TakeLock(RegistryFilePath());
        if (s.batchLock < 0) {
            s.batchFailed = true;
            return ERROR_CANTWRITE;
        }
        Refresh(s);
    }
    if (s.unreadable) return ERROR_CANTWRITE;
    RegKeyMap next = s.keys;
    LONG status = change(next);
    if (status != ERROR_SUCCESS || SameKeys(next, s.keys)) return status;
    s.keys = std::move(next);
    s.batchDirty = true;
    return ERROR_SUCCESS;
}

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
    if (s.batchDirty) return;
    std::string path = RegistryFilePath();
    if (!s.loaded || path != s.file || !(StampOfPath(path) == s.stamp)) Load(s, path);
}

LONG Mutate(Store& s, const std::u16string& folded, const Change& change) {
    if (IsVolatile(folded)) {
        Refresh(s);
        return change(s.keys);
    }
    if (!AwaitOtherBatches(s)) {
        Note("the registry stayed busy in this program; the change is not written");
        return ERROR_CANTWRITE;
    }
    if (s.batchDepth > 0) return MutateInBatch(s, change);
    FileLock lock(RegistryFilePath());
    if (!lock.ok()) return ERROR_CANTWRITE;
    Refresh(s);
    RegKeyMap next = s.keys;
    LONG status = change(next);
    if (status != ERROR_SUCCESS || SameKeys(next, s.keys)) return status;
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

RegistryBatch::RegistryBatch() {
    Store& s = TheStore();
    std::lock_guard<std::mutex> lock(s.mutex);
    // Should the other thread's batch outlast the bound, this one's changes go on their own,
    // each written alone and waiting as any other change does.
    owned_ = AwaitOtherBatches(s);
    if (!owned_) return;
    s.batchOwner = std::this_thread::get_id();
    ++s.batchDepth;
}

RegistryBatch::~RegistryBatch() {
    Store& s = TheStore();
    std::lock_guard<std::mutex> lock(s.mutex);
    if (!owned_ || --s.batchDepth > 0) return;
    if (s.batchDirty && !Persist(s, s.keys)) s.loaded = false;  // read the file again
    s.batchDirty = false;
    s.batchFailed = false;
    if (s.batchLock >= 0) close(s.batchLock);
    s.batchLock = -1;
    s.batchOwner = {};
    s.batchEnded.notify_all();
}

void ClearVolatileKeys() {
    Store& s = TheStore();
    std::lock_guard<std::mutex> lock(s.mutex);
    for (auto it = s.keys.begin(); it != s.keys.end();)
        it = IsVolatile(it->first) ? s.keys.erase(it) : std::next(it);
}

}  // namespace platform::detail
