// Files, moves and module paths over POSIX, with Windows-form paths at the interface.
#include "platform/io/files.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <link.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "internal/device_open.h"
#include "platform/base/detail/handle_table.h"
#include "platform/base/linux/wait.h"
#include "platform/base/strings.h"

namespace {

// Win32 ERROR_NOT_SAME_DEVICE: a move across file systems without MOVEFILE_COPY_ALLOWED.
constexpr DWORD kErrorNotSameDevice = 17;

DWORD ErrorFromErrno(int error) {
    switch (error) {
        case ENOENT:
            return ERROR_FILE_NOT_FOUND;
        case ENOTDIR:
            return ERROR_PATH_NOT_FOUND;
        case EEXIST:
        case ENOTEMPTY:
            return ERROR_ALREADY_EXISTS;
        case EACCES:
        case EPERM:
        case EBADF:  // writing a file opened for reading only, or the reverse
        case EISDIR:
        case EROFS:
        case ETXTBSY:
            return ERROR_ACCESS_DENIED;
        case EBUSY:
            return ERROR_BUSY;
        case ENOSPC:
        case EDQUOT:
            return ERROR_DISK_FULL;
        case ENAMETOOLONG:
        case EINVAL:
            return ERROR_INVALID_NAME;
        case EXDEV:
            return kErrorNotSameDevice;
        case ENOMEM:
            return ERROR_NOT_ENOUGH_MEMORY;
        default:
            return ERROR_GEN_FAILURE;
    }
}

BOOL FailWithErrno() {
    SetLastError(ErrorFromErrno(errno));
    return FALSE;
}

int OpenRetrying(const char* path, int flags, mode_t mode = 0) {
    int fd;
    while ((fd = open(path, flags | O_CLOEXEC, mode)) < 0 && errno == EINTR) {
    }
    return fd;
}

class FileObject : public platform::detail::KernelObject {
  public:
    explicit FileObject(int descriptor) : fd(descriptor) {}
    // Closed with the last reference, so that a read still running on another thread
    // never meets a closed or reused descriptor.
    ~FileObject() override { close(fd); }

    bool Read(void* buffer, DWORD toRead, DWORD* read) override {
        ssize_t n;
        while ((n = ::read(fd, buffer, toRead)) < 0 && errno == EINTR) {
        }
        if (read) *read = n < 0 ? 0 : static_cast<DWORD>(n);
        if (n < 0) return FailWithErrno();
        return true;
    }

    bool Write(const void* buffer, DWORD toWrite, DWORD* written) override {
        const char* bytes = static_cast<const char*>(buffer);
        DWORD done = 0;
        while (done < toWrite) {
            ssize_t n = ::write(fd, bytes + done, toWrite - done);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) {
                if (n == 0) errno = ENOSPC;
                if (written) *written = done;
                return FailWithErrno();
            }
            done += static_cast<DWORD>(n);
        }
        if (written) *written = done;
        return true;
    }

    const int fd;
};

std::optional<int> OpenFlags(DWORD access, DWORD disposition) {
    int flags = (access & GENERIC_WRITE) ? ((access & GENERIC_READ) ? O_RDWR : O_WRONLY) : O_RDONLY;
    switch (disposition) {
        case CREATE_NEW:
            return flags | O_CREAT | O_EXCL;
        case CREATE_ALWAYS:
            return flags | O_CREAT | O_TRUNC;
        case OPEN_EXISTING:
            return flags;
        case OPEN_ALWAYS:
            return flags | O_CREAT;
        case TRUNCATE_EXISTING:
            return flags | O_TRUNC;
        default:
            return std::nullopt;
    }
}

// Opens a regular file. CREATE_ALWAYS and OPEN_ALWAYS report an existing file with
// ERROR_ALREADY_EXISTS on success, as on Windows.
HANDLE OpenRegularFile(const std::string& path, DWORD access, DWORD disposition) {
    std::optional<int> flags = OpenFlags(access, disposition);
    if (!flags) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    bool existed = false;
    int fd = -1;
    if (*flags & O_CREAT) {
        fd = OpenRetrying(path.c_str(), *flags | O_EXCL, 0666);
        if (fd < 0 && errno == EEXIST && !(*flags & O_EXCL)) {
            existed = true;
            fd = OpenRetrying(path.c_str(), *flags & ~O_CREAT);
        }
    } else {
        fd = OpenRetrying(path.c_str(), *flags);
    }
    if (fd < 0) {
        // Windows names the refusal of CREATE_NEW differently from that of a move.
        SetLastError(errno == EEXIST ? ERROR_FILE_EXISTS : ErrorFromErrno(errno));
        return INVALID_HANDLE_VALUE;
    }
    struct stat st;
    if (fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
        close(fd);
        SetLastError(ERROR_ACCESS_DENIED);  // directories are not files to read or write
        return INVALID_HANDLE_VALUE;
    }
    SetLastError(existed ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
    return platform::detail::InsertHandle(std::make_shared<FileObject>(fd));
}

std::string DirectoryOf(const std::string& path) {
    size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

bool SyncPath(const std::string& path, int flags) {
    int fd = OpenRetrying(path.c_str(), flags);
    if (fd < 0) return false;
    bool ok = fsync(fd) == 0;
    int error = errno;
    close(fd);
    errno = error;
    return ok;
}

bool SyncDirectoryOf(const std::string& path) {
    return SyncPath(DirectoryOf(path), O_RDONLY | O_DIRECTORY);
}

// Renames without replacing: renameat2 where the file system supports it, else a hard
// link (which fails on an existing target) followed by removing the old name.
bool RenameNoReplace(const std::string& from, const std::string& to) {
    if (renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) {
        return true;
    }
    if (errno != EINVAL && errno != ENOSYS) return false;
    if (link(from.c_str(), to.c_str()) != 0) return false;
    unlink(from.c_str());
    return true;
}

bool Rename(const std::string& from, const std::string& to, bool replace) {
    return replace ? rename(from.c_str(), to.c_str()) == 0 : RenameNoReplace(from, to);
}

bool CopyBytes(int in, int out) {
    char buffer[65536];
    for (;;) {
        ssize_t n = read(in, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return false;
        if (n == 0) return true;
        for (ssize_t done = 0; done < n;) {
            ssize_t w = write(out, buffer + done, static_cast<size_t>(n - done));
            if (w < 0 && errno == EINTR) continue;
            if (w <= 0) {
                if (w == 0) errno = ENOSPC;
                return false;
            }
            done += w;
        }
    }
}

// Copies a regular file to a temporary file beside the target, syncs it, renames it into
// place and syncs the directory; only then is the source removed. On failure nothing but
// the source remains.
bool MoveByCopy(const std::string& from, const std::string& to, bool replace) {
    int in = OpenRetrying(from.c_str(), O_RDONLY);
    if (in < 0) return false;
    std::string temp = to + ".moveXXXXXX";
    int out = -1;
    // Undoes what was done so far, keeping the error of the step that failed.
    auto fail = [&] {
        int error = errno;
        close(in);
        if (out >= 0) {
            close(out);
            unlink(temp.c_str());
        }
        errno = error;
        return false;
    };
    struct stat st;
    if (fstat(in, &st) != 0) return fail();
    if (!S_ISREG(st.st_mode)) {
        errno = EXDEV;  // directories and special files are not copied
        return fail();
    }
    out = mkostemp(temp.data(), O_CLOEXEC);
    if (out < 0) return fail();
    // The superuser hands the copy on to the file's owner, as a rename would have.
    if (geteuid() == 0) (void)!fchown(out, st.st_uid, st.st_gid);
    if (!CopyBytes(in, out) || fchmod(out, st.st_mode & 07777) != 0 || fsync(out) != 0) {
        return fail();
    }
    if (!Rename(temp, to, replace)) return fail();
    close(in);
    close(out);
    SyncDirectoryOf(to);
    if (unlink(from.c_str()) == 0) SyncDirectoryOf(from);
    return true;
}

std::mutex moduleNameMutex;
std::optional<std::u16string> moduleNameForTesting;

std::string ProgramPath() {
    std::string path(256, '\0');
    for (;;) {
        ssize_t n = readlink("/proc/self/exe", path.data(), path.size());
        if (n < 0) return {};
        if (static_cast<size_t>(n) < path.size()) {
            path.resize(static_cast<size_t>(n));
            break;
        }
        path.resize(path.size() * 2);
    }
    // A program file replaced while it runs is reported with this suffix; the files
    // beside it are still where they were.
    constexpr std::string_view deleted = " (deleted)";
    if (path.size() > deleted.size() && path.ends_with(deleted)) {
        path.resize(path.size() - deleted.size());
    }
    return path;
}

HMODULE ProgramModule() {
    static void* const program = dlopen(nullptr, RTLD_LAZY);
    return static_cast<HMODULE>(program);
}

std::u16string ModulePath(HMODULE module) {
    if (module == nullptr || module == ProgramModule()) {
        {
            std::lock_guard<std::mutex> lock(moduleNameMutex);
            if (moduleNameForTesting) return *moduleNameForTesting;
        }
        return platform::WindowsPath(ProgramPath());
    }
    link_map* map = nullptr;
    if (dlinfo(module, RTLD_DI_LINKMAP, &map) != 0 || map == nullptr || map->l_name == nullptr) {
        return {};
    }
    char* resolved = realpath(map->l_name, nullptr);
    std::u16string result = platform::WindowsPath(resolved ? resolved : map->l_name);
    free(resolved);
    return result;
}

bool SameNameIgnoringCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return (x >= 'A' && x <= 'Z' ? x + 32 : x) == (y >= 'A' && y <= 'Z' ? y + 32 : y);
           });
}

// The full path of a loaded library whose file name is name, if any.
std::string LoadedLibraryNamed(const std::string& name) {
    struct Search {
        const std::string* name;
        std::string found;
    } search{&name, {}};
    dl_iterate_phdr(
        [](dl_phdr_info* info, size_t, void* data) {
            auto* s = static_cast<Search*>(data);
            std::string_view path = info->dlpi_name ? info->dlpi_name : "";
            size_t slash = path.find_last_of('/');
            std::string_view base = slash == std::string_view::npos ? path : path.substr(slash + 1);
            if (path.empty() || !SameNameIgnoringCase(base, *s->name)) return 0;
            s->found = std::string(path);
            return 1;
        },
        &search);
    return search.found;
}

}  // namespace

namespace platform {

void SetModuleFileNameForTesting(LPCWSTR path) {
    std::lock_guard<std::mutex> lock(moduleNameMutex);
    if (path) {
        moduleNameForTesting = std::u16string(path);
    } else {
        moduleNameForTesting.reset();
    }
}

}  // namespace platform

// Sharing modes are not enforced for regular files (POSIX has no mandatory sharing);
// security attributes, flags and the template file are ignored.
HANDLE CreateFileW(LPCWSTR name, DWORD access, DWORD shareMode, LPSECURITY_ATTRIBUTES,
                   DWORD disposition, DWORD, HANDLE) {
    if (name == nullptr || name[0] == 0) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    if (platform::detail::IsDeviceName(name)) {
        return platform::detail::OpenDevice(name, access, shareMode, disposition);
    }
    return OpenRegularFile(platform::HostPath(name), access, disposition);
}

BOOL ReadFile(HANDLE file, LPVOID buffer, DWORD toRead, LPDWORD read, LPOVERLAPPED overlapped) {
    if (read) *read = 0;
    platform::detail::TerminationPoint();
    if (overlapped != nullptr) {  // no asynchronous I/O here, as on Windows CE
        SetLastError(ERROR_NOT_SUPPORTED);
        return FALSE;
    }
    auto object = platform::detail::LookupHandle(file);
    if (!object) return FALSE;
    return object->Read(buffer, toRead, read) ? TRUE : FALSE;
}

BOOL WriteFile(HANDLE file, LPCVOID buffer, DWORD toWrite, LPDWORD written,
               LPOVERLAPPED overlapped) {
    if (written) *written = 0;
    platform::detail::TerminationPoint();
    if (overlapped != nullptr) {
        SetLastError(ERROR_NOT_SUPPORTED);
        return FALSE;
    }
    auto object = platform::detail::LookupHandle(file);
    if (!object) return FALSE;
    return object->Write(buffer, toWrite, written) ? TRUE : FALSE;
}

BOOL DeleteFileW(LPCWSTR path) {
    if (path == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (unlink(platform::HostPath(path).c_str()) != 0) return FailWithErrno();
    return TRUE;
}

// Like Windows, moving a file to another file system copies it; the target must not exist.
BOOL MoveFileW(LPCWSTR from, LPCWSTR to) {
    return MoveFileExW(from, to, MOVEFILE_COPY_ALLOWED);
}

BOOL MoveFileExW(LPCWSTR from, LPCWSTR to, DWORD flags) {
    constexpr DWORD known =
        MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED | MOVEFILE_WRITE_THROUGH;
    // A null target (delete at reboot) and the other flags have no meaning here.
    if (from == nullptr || to == nullptr || (flags & ~known) != 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const std::string source = platform::HostPath(from);
    const std::string target = platform::HostPath(to);
    const bool replace = (flags & MOVEFILE_REPLACE_EXISTING) != 0;
    const bool writeThrough = (flags & MOVEFILE_WRITE_THROUGH) != 0;

    struct stat st;
    if (lstat(source.c_str(), &st) != 0) return FailWithErrno();
    // The data first, so that a crash never leaves the new name on an empty file.
    if (writeThrough && S_ISREG(st.st_mode) && !SyncPath(source, O_RDONLY)) {
        return FailWithErrno();
    }
    if (Rename(source, target, replace)) {
        if (writeThrough) {
            SyncDirectoryOf(target);
            if (DirectoryOf(source) != DirectoryOf(target)) SyncDirectoryOf(source);
        }
        return TRUE;
    }
    if (errno == EXDEV && (flags & MOVEFILE_COPY_ALLOWED)) {
        if (MoveByCopy(source, target, replace)) return TRUE;
    }
    return FailWithErrno();
}

DWORD GetFileAttributesW(LPCWSTR path) {
    if (path == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_FILE_ATTRIBUTES;
    }
    struct stat st;
    if (stat(platform::HostPath(path).c_str(), &st) != 0) {
        FailWithErrno();
        return INVALID_FILE_ATTRIBUTES;
    }
    DWORD attributes = 0;
    if (S_ISDIR(st.st_mode)) attributes |= FILE_ATTRIBUTE_DIRECTORY;
    // Read-only when nobody may write it, whoever asks (root could write it anyway).
    if ((st.st_mode & 0222) == 0) attributes |= FILE_ATTRIBUTE_READONLY;
    return attributes == 0 ? FILE_ATTRIBUTE_NORMAL : attributes;
}

DWORD GetModuleFileNameW(HMODULE module, LPWSTR buffer, DWORD size) {
    std::u16string path = ModulePath(module);
    if (path.empty()) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return 0;
    }
    if (buffer == nullptr || size == 0) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    if (path.size() < size) {
        std::copy(path.begin(), path.end(), buffer);
        buffer[path.size()] = 0;
        return static_cast<DWORD>(path.size());
    }
    std::copy_n(path.begin(), size - 1, buffer);
    buffer[size - 1] = 0;
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return size;
}

HMODULE GetModuleHandleW(LPCWSTR name) {
    if (name == nullptr) return ProgramModule();
    const std::string wanted = platform::HostPath(name);
    const std::string program = ProgramPath();
    if (SameNameIgnoringCase(wanted, program.substr(program.find_last_of('/') + 1))) {
        return ProgramModule();
    }
    // Either a name the dynamic linker knows (a path or a soname), or the file name of a
    // loaded library compared without case, as Windows compares module names.
    void* handle = dlopen(wanted.c_str(), RTLD_LAZY | RTLD_NOLOAD);
    if (handle == nullptr && wanted.find('/') == std::string::npos) {
        std::string path = LoadedLibraryNamed(wanted);
        if (!path.empty()) handle = dlopen(path.c_str(), RTLD_LAZY | RTLD_NOLOAD);
    }
    if (handle == nullptr) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    // RTLD_NOLOAD still counts a reference; give it back, as GetModuleHandleW takes none.
    if (handle != ProgramModule()) dlclose(handle);
    return static_cast<HMODULE>(handle);
}
