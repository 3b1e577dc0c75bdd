// The registry: one text file shared by every process of the user, a copy in memory per
// process. Reads check the file's identity (inode, size, times) and reload when another
// process replaced it. Writes take an flock on "<file>.lock", reload the latest state,
// apply the change to a copy, write the copy to a temporary file beside the target, sync
// it, rename it into place and sync the directory; the copy becomes the process's state
// only when all of that worked, so a failed write changes nothing.
//
// A damaged file (lines that cannot be understood) is reported on stderr once, the rest is
// used, and before the first write replaces it the damaged file is kept as
// "<file>.damaged-<UTC time>" (a hard link, so it is never half-copied).
//
// Volatile keys (HKEY_LOCAL_MACHINE\Drivers\Active and below) exist only in this process:
// they are never written and never read from the file.
#include "platform/io/registry.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <mutex>
#include <string_view>
#include <unordered_map>

#include "internal/registry_format.h"
#include "internal/registry_store.h"
#include "platform/base/strings.h"

namespace platform::detail {
namespace {

constexpr std::u16string_view kVolatileRoot = u"hkey_local_machine\\drivers\\active";
constexpr size_t kMaxKeyNameChars = 255;
constexpr size_t kMaxValueNameChars = 16383;

struct FileStamp {
    bool exists = false;
    dev_t dev = 0;
    ino_t ino = 0;
    off_t size = 0;
    timespec mtime{};
    timespec ctime{};

    bool operator==(const FileStamp& o) const {
        return exists == o.exists && dev == o.dev && ino == o.ino && size == o.size &&
               mtime.tv_sec == o.mtime.tv_sec && mtime.tv_nsec == o.mtime.tv_nsec &&
               ctime.tv_sec == o.ctime.tv_sec && ctime.tv_nsec == o.ctime.tv_nsec;
    }
};

FileStamp StampOf(const struct stat& st) {
    FileStamp s;
    s.exists = true;
    s.dev = st.st_dev;
    s.ino = st.st_ino;
    s.size = st.st_size;
    s.mtime = st.st_mtim;
    s.ctime = st.st_ctim;
    return s;
}

FileStamp StampOfPath(const std::string& path) {
    struct stat st;
    if (stat(path.c_str(), &st) != 0) return {};
    return StampOf(st);
}

struct OpenKey {
    std::u16string folded;
    REGSAM access;
};

struct Store {
    std::mutex mutex;
    std::string file;  // the file the state was loaded from
    FileStamp stamp;   // its identity when loaded or written
    bool loaded = false;
    bool damaged = false;     // the loaded file had problems; keep it before replacing it
    bool unreadable = false;  // the file exists but could not be read: refuse writes
    RegKeyMap keys;           // persistent and volatile keys
    std::unordered_map<uintptr_t, OpenKey> handles;
    uintptr_t nextHandle = 0x100;
};

Store& TheStore() {
    static Store* store = new Store;  // lives until exit, also for late calls
    return *store;
}

bool IsVolatile(std::u16string_view folded) {
    return folded.substr(0, kVolatileRoot.size()) == kVolatileRoot &&
           (folded.size() == kVolatileRoot.size() || folded[kVolatileRoot.size()] == u'\\');
}

std::u16string ToU16(LPCWSTR s) {
    return s ? std::u16string(s) : std::u16string();
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

void ReportDamage(const std::string& path, const std::vector<std::string>& problems) {
    std::string message = "belvane: the registry file " + path + " is damaged:";
    for (size_t i = 0; i < problems.size() && i < 5; ++i) message += "\n  " + problems[i];
    if (problems.size() > 5)
        message += "\n  ... and " + std::to_string(problems.size() - 5) + " more";
    message +=
        "\nbelvane: going on with what could be read; the file is kept as a .damaged copy "
        "before the next change replaces it.\n";
    std::fputs(message.c_str(), stderr);
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
            std::fprintf(stderr,
                         "belvane: cannot read the registry file %s (%s); it is not changed.\n",
                         path.c_str(), std::strerror(error));
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

// Brings the state up to date with the file; the store's mutex is held.
void Refresh(Store& s) {
    std::string path = RegistryFilePath();
    if (!s.loaded || path != s.file || !(StampOfPath(path) == s.stamp)) Load(s, path);
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
            std::fprintf(stderr, "belvane: kept the damaged registry file as %s\n", name.c_str());
            return true;
        }
        if (errno == ENOENT) return true;  // already gone: nothing to keep
        if (errno != EEXIST) break;
    }
    std::fprintf(stderr,
                 "belvane: cannot keep a copy of the damaged registry file %s (%s); it is not "
                 "replaced.\n",
                 path.c_str(), std::strerror(errno));
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
        std::fprintf(stderr, "belvane: cannot write the registry file %s (%s)\n", s.file.c_str(),
                     std::strerror(errno));
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

// A change to the key at folded (the store's mutex is held). change edits a copy of the
// state and returns a status; the copy replaces the state when the status is success and
// the file (for persistent keys) was written.
template <class Change>
LONG Mutate(Store& s, const std::u16string& folded, Change change) {
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

// The folded path and access of an open key or a root.
LONG Resolve(Store& s, HKEY key, std::u16string& folded, REGSAM& access) {
    uintptr_t value = reinterpret_cast<uintptr_t>(key);
    static const std::pair<HKEY, const char16_t*> roots[] = {
        {HKEY_LOCAL_MACHINE, u"hkey_local_machine"},
        {HKEY_CURRENT_USER, u"hkey_current_user"},
        {HKEY_CLASSES_ROOT, u"hkey_classes_root"},
        {HKEY_USERS, u"hkey_users"}};
    for (const auto& [root, name] : roots) {
        if (root == key) {
            folded = name;
            access = KEY_ALL_ACCESS;
            return ERROR_SUCCESS;
        }
    }
    auto it = s.handles.find(value);
    if (it == s.handles.end()) return ERROR_INVALID_HANDLE;
    folded = it->second.folded;
    access = it->second.access;
    if (!s.keys.count(folded)) return ERROR_KEY_DELETED;
    return ERROR_SUCCESS;
}

// Splits a relative key path into its names; one trailing backslash is allowed.
LONG SplitSubKey(LPCWSTR subKey, std::vector<std::u16string>& parts) {
    std::u16string rest = ToU16(subKey);
    if (!rest.empty() && rest.back() == u'\\') rest.pop_back();
    if (rest.empty()) return ERROR_SUCCESS;
    size_t pos = 0;
    for (;;) {
        size_t next = rest.find(u'\\', pos);
        std::u16string part = rest.substr(pos, next == std::u16string::npos ? next : next - pos);
        if (part.empty() || part.size() > kMaxKeyNameChars) return ERROR_INVALID_PARAMETER;
        // Names must survive the text file: no control characters, nothing lost in UTF-8.
        for (char16_t c : part)
            if (c < 0x20) return ERROR_INVALID_PARAMETER;
        if (FromUtf8(ToUtf8(part)) != part) return ERROR_INVALID_PARAMETER;
        parts.push_back(part);
        if (next == std::u16string::npos) return ERROR_SUCCESS;
        pos = next + 1;
    }
}

HKEY NewHandle(Store& s, const std::u16string& folded, REGSAM access) {
    uintptr_t value = s.nextHandle;
    s.nextHandle += 4;  // never reused, so a stale key handle cannot name another key
    s.handles.emplace(value, OpenKey{folded, access});
    return reinterpret_cast<HKEY>(value);
}

RegValue* FindValue(RegKey& key, LPCWSTR name) {
    std::u16string folded = FoldName(ToU16(name));
    for (RegValue& v : key.values)
        if (FoldName(v.name) == folded) return &v;
    return nullptr;
}

// Direct sub-keys of folded, in name order.
std::vector<const RegKey*> SubKeys(const RegKeyMap& keys, const std::u16string& folded) {
    std::vector<const RegKey*> out;
    std::u16string prefix = folded + u'\\';
    for (auto it = keys.lower_bound(prefix);
         it != keys.end() && it->first.compare(0, prefix.size(), prefix) == 0; ++it) {
        if (it->first.find(u'\\', prefix.size()) == std::u16string::npos)
            out.push_back(&it->second);
    }
    return out;
}

std::u16string LastName(const std::u16string& path) {
    size_t slash = path.rfind(u'\\');
    return slash == std::u16string::npos ? path : path.substr(slash + 1);
}

// Copies a name into a caller's buffer of *length characters (terminator included);
// *length becomes the characters written without the terminator.
LONG CopyName(const std::u16string& name, LPWSTR buffer, LPDWORD length) {
    if (!buffer || !length) return ERROR_INVALID_PARAMETER;
    if (name.size() >= *length) return ERROR_MORE_DATA;
    name.copy(buffer, name.size());
    buffer[name.size()] = u'\0';
    *length = static_cast<DWORD>(name.size());
    return ERROR_SUCCESS;
}

// Reports type and size and copies the data when it fits; never writes past *size bytes.
LONG CopyData(const RegValue& v, LPDWORD type, LPBYTE data, LPDWORD size) {
    if (type) *type = v.type;
    DWORD needed = static_cast<DWORD>(v.data.size());
    if (!data) {
        if (size) *size = needed;
        return ERROR_SUCCESS;
    }
    if (!size) return ERROR_INVALID_PARAMETER;
    if (*size < needed) {
        *size = needed;
        return ERROR_MORE_DATA;
    }
    if (needed) std::memcpy(data, v.data.data(), needed);
    *size = needed;
    return ERROR_SUCCESS;
}

}  // namespace

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

using namespace platform::detail;
using platform::FromUtf8;
using platform::ToUtf8;

LONG RegCreateKeyExW(HKEY key, LPCWSTR subKey, DWORD, LPWSTR, DWORD, REGSAM access,
                     LPSECURITY_ATTRIBUTES, PHKEY result, LPDWORD disposition) {
    if (!result) return ERROR_INVALID_PARAMETER;
    std::vector<std::u16string> parts;
    LONG status = SplitSubKey(subKey, parts);
    if (status != ERROR_SUCCESS) return status;
    Store& s = TheStore();
    std::lock_guard<std::mutex> lock(s.mutex);
    Refresh(s);
    std::u16string base;
    REGSAM baseAccess = 0;
    status = Resolve(s, key, base, baseAccess);
    if (status != ERROR_SUCCESS) return status;
    std::u16string target = base;
    for (const std::u16string& p : parts) target += u'\\' + FoldName(p);
    bool existed = s.keys.count(target) != 0;
    if (!existed) {
        if (!(baseAccess & KEY_CREATE_SUB_KEY)) return ERROR_ACCESS_DENIED;
        status = Mutate(s, target, [&](RegKeyMap& keys) {
            auto baseKey = keys.find(base);
            if (baseKey == keys.end()) return ERROR_KEY_DELETED;  // by another process
            std::u16string folded = base;
            std::u16string shown = baseKey->second.path;
            for (const std::u16string& p : parts) {
                folded += u'\\' + FoldName(p);
                auto it = keys.find(folded);
                shown = it != keys.end() ? it->second.path : shown + u'\\' + p;
                if (it == keys.end()) keys.emplace(folded, RegKey{shown, {}});
            }
            return ERROR_SUCCESS;
        });
        if (status != ERROR_SUCCESS) return status;
    }
    if (disposition) *disposition = existed ? REG_OPENED_EXISTING_KEY : REG_CREATED_NEW_KEY;
    *result = NewHandle(s, target, access);
    return ERROR_SUCCESS;
}

LONG RegOpenKeyExW(HKEY key, LPCWSTR subKey, DWORD, REGSAM access, PHKEY result) {
    if (!result) return ERROR_INVALID_PARAMETER;
    std::vector<std::u16string> parts;
    LONG status = SplitSubKey(subKey, parts);
    if (status != ERROR_SUCCESS) return status;
    Store& s = TheStore();
    std::lock_guard<std::mutex> lock(s.mutex);
    Refresh(s);
    std::u16string target;
    REGSAM baseAccess = 0;
    status = Resolve(s, key, target, baseAccess);
    if (status != ERROR_SUCCESS) return status;
    for (const std::u16string& p : parts) target += u'\\' + FoldName(p);
    if (!s.keys.count(target)) return ERROR_FILE_NOT_FOUND;
    *result = NewHandle(s, target, access);
    return ERROR_SUCCESS;
}

LONG RegSetValueExW(HKEY key, LPCWSTR valueName, DWORD, DWORD type, const BYTE* data, DWORD size) {
    if (!data && size) return ERROR_INVALID_PARAMETER;
    std::u16string name = ToU16(valueName);
    if (name.size() > kMaxValueNameChars) return ERROR_INVALID_PARAMETER;
    for (char16_t c : name)
        if (c < 0x20) return ERROR_INVALID_PARAMETER;
    if (FromUtf8(ToUtf8(name)) != name) return ERROR_INVALID_PARAMETER;
    Store& s = TheStore();
    std::lock_guard<std::mutex> lock(s.mutex);
    Refresh(s);
    std::u16string folded;
    REGSAM access = 0;
    LONG status = Resolve(s, key, folded, access);
    if (status != ERROR_SUCCESS) return status;
    if (!(access & KEY_SET_VALUE)) return ERROR_ACCESS_DENIED;
    RegValue value{name, type, std::vector<BYTE>(data, data + size)};
    return Mutate(s, folded, [&](RegKeyMap& keys) {
        auto it = keys.find(folded);
        if (it == keys.end()) return ERROR_KEY_DELETED;  // another process removed it
        RegValue* old = FindValue(it->second, valueName);
        if (old) {  // keeps the name's case as first written, as Windows does
            old->type = value.type;
            old->data = value.data;
        } else
            it->second.values.push_back(value);
        return ERROR_SUCCESS;
    });
}

LONG RegQueryValueExW(HKEY key, LPCWSTR valueName, LPDWORD, LPDWORD type, LPBYTE data,
                      LPDWORD size) {
    Store& s = TheStore();
    std::lock_guard<std::mutex> lock(s.mutex);
    Refresh(s);
    std::u16string folded;
    REGSAM access = 0;
    LONG status = Resolve(s, key, folded, access);
    if (status != ERROR_SUCCESS) return status;
    if (!(access & KEY_QUERY_VALUE)) return ERROR_ACCESS_DENIED;
    RegValue* v = FindValue(s.keys.at(folded), valueName);
    if (!v) return ERROR_FILE_NOT_FOUND;
    return CopyData(*v, type, data, size);
}

LONG RegEnumKeyExW(HKEY key, DWORD index, LPWSTR name, LPDWORD nameLength, LPDWORD,
                   LPWSTR className, LPDWORD classLength, PFILETIME lastWriteTime) {
    Store& s = TheStore();
    std::lock_guard<std::mutex> lock(s.mutex);
    Refresh(s);
    std::u16string folded;
    REGSAM access = 0;
    LONG status = Resolve(s, key, folded, access);
    if (status != ERROR_SUCCESS) return status;
    if (!(access & KEY_ENUMERATE_SUB_KEYS)) return ERROR_ACCESS_DENIED;
    std::vector<const RegKey*> subKeys = SubKeys(s.keys, folded);
    if (index >= subKeys.size()) return ERROR_NO_MORE_ITEMS;
    status = CopyName(LastName(subKeys[index]->path), name, nameLength);
    if (status != ERROR_SUCCESS) return status;
    if (className && classLength && *classLength > 0) className[0] = u'\0';
    if (classLength) *classLength = 0;
    if (lastWriteTime) *lastWriteTime = FILETIME{0, 0};  // not kept
    return ERROR_SUCCESS;
}

LONG RegEnumValueW(HKEY key, DWORD index, LPWSTR name, LPDWORD nameLength, LPDWORD, LPDWORD type,
                   LPBYTE data, LPDWORD size) {
    Store& s = TheStore();
    std::lock_guard<std::mutex> lock(s.mutex);
    Refresh(s);
    std::u16string folded;
    REGSAM access = 0;
    LONG status = Resolve(s, key, folded, access);
    if (status != ERROR_SUCCESS) return status;
    if (!(access & KEY_QUERY_VALUE)) return ERROR_ACCESS_DENIED;
    const RegKey& k = s.keys.at(folded);
    if (index >= k.values.size()) return ERROR_NO_MORE_ITEMS;
    const RegValue& v = k.values[index];
    status = CopyName(v.name, name, nameLength);
    if (status != ERROR_SUCCESS) return status;
    return CopyData(v, type, data, size);
}

LONG RegDeleteValueW(HKEY key, LPCWSTR valueName) {
    Store& s = TheStore();
    std::lock_guard<std::mutex> lock(s.mutex);
    Refresh(s);
    std::u16string folded;
    REGSAM access = 0;
    LONG status = Resolve(s, key, folded, access);
    if (status != ERROR_SUCCESS) return status;
    if (!(access & KEY_SET_VALUE)) return ERROR_ACCESS_DENIED;
    return Mutate(s, folded, [&](RegKeyMap& keys) {
        auto it = keys.find(folded);
        if (it == keys.end()) return ERROR_KEY_DELETED;
        RegValue* v = FindValue(it->second, valueName);
        if (!v) return ERROR_FILE_NOT_FOUND;
        it->second.values.erase(it->second.values.begin() + (v - it->second.values.data()));
        return ERROR_SUCCESS;
    });
}

// Deleting needs write access to the parent (KEY_SET_VALUE or KEY_CREATE_SUB_KEY), so that
// a key opened with KEY_READ changes nothing. A key with sub-keys is refused with
// ERROR_ACCESS_DENIED, as RegDeleteKeyW does on Windows.
LONG RegDeleteKeyW(HKEY key, LPCWSTR subKey) {
    if (!subKey || !*subKey) return ERROR_INVALID_PARAMETER;
    std::vector<std::u16string> parts;
    LONG status = SplitSubKey(subKey, parts);
    if (status != ERROR_SUCCESS) return status;
    if (parts.empty()) return ERROR_INVALID_PARAMETER;
    Store& s = TheStore();
    std::lock_guard<std::mutex> lock(s.mutex);
    Refresh(s);
    std::u16string target;
    REGSAM access = 0;
    status = Resolve(s, key, target, access);
    if (status != ERROR_SUCCESS) return status;
    if (!(access & (KEY_SET_VALUE | KEY_CREATE_SUB_KEY))) return ERROR_ACCESS_DENIED;
    for (const std::u16string& p : parts) target += u'\\' + FoldName(p);
    return Mutate(s, target, [&](RegKeyMap& keys) {
        if (!keys.count(target)) return ERROR_FILE_NOT_FOUND;
        if (!SubKeys(keys, target).empty()) return ERROR_ACCESS_DENIED;
        keys.erase(target);
        return ERROR_SUCCESS;
    });
}

LONG RegCloseKey(HKEY key) {
    if (key == HKEY_LOCAL_MACHINE || key == HKEY_CURRENT_USER || key == HKEY_CLASSES_ROOT ||
        key == HKEY_USERS)
        return ERROR_SUCCESS;
    Store& s = TheStore();
    std::lock_guard<std::mutex> lock(s.mutex);
    return s.handles.erase(reinterpret_cast<uintptr_t>(key)) ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
}
