#include "internal/runtime_folder.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <set>

#include "platform/base/account.h"

namespace platform::detail {
namespace {

// Why the folder open as fd must not hold this user's sockets; empty when it may.
std::string Unsafe(int fd) {
    struct stat st;
    if (fstat(fd, &st) != 0) return std::strerror(errno);
    if (st.st_uid != geteuid()) return "it belongs to another user";
    if ((st.st_mode & 07777) != 0700) return "other users may enter it (mode is not 0700)";
    return {};
}

// Makes the folder when it is missing and checks it; returns why it is refused, or empty.
std::string PrivateFolder(const std::string& path, bool make) {
    bool made = make && mkdir(path.c_str(), 0700) == 0;
    if (make && !made && errno != EEXIST) return std::strerror(errno);
    // No link is followed: a link in the folder's place is refused, not its target used.
    int fd = open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        return errno == ELOOP || errno == ENOTDIR ? "it is not a folder" : std::strerror(errno);
    }
    // A umask may have taken the owner's own rights from a folder made just now.
    if (made) (void)fchmod(fd, 0700);
    std::string why = Unsafe(fd);
    close(fd);
    return why;
}

std::string RuntimeFolder(bool* fromEnvironment) {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    *fromEnvironment = runtime && runtime[0] == '/';
    if (*fromEnvironment) return runtime;
    const char* tmp = std::getenv("TMPDIR");
    std::string base = tmp && tmp[0] == '/' ? tmp : "/tmp";
    return base + "/belvane-" + std::to_string(geteuid());
}

}  // namespace

void ReportOnce(const std::string& text) {
    static std::mutex mutex;
    static std::set<std::string>* said = new std::set<std::string>;
    std::lock_guard<std::mutex> lock(mutex);
    if (said->insert(text).second) Note(text);
}

std::string WindowSocketFolder() {
    bool fromEnvironment = false;
    std::string runtime = RuntimeFolder(&fromEnvironment);
    std::string folder = runtime + "/belvane";
    std::string why = PrivateFolder(runtime, !fromEnvironment);
    std::string refused = runtime;
    if (why.empty()) {
        why = PrivateFolder(folder, true);
        refused = folder;
    }
    if (why.empty()) return folder;
    ReportOnce("other programs cannot find this one's windows, nor it theirs: " + refused +
               " is not used (" + why + ")");
    return {};
}

}  // namespace platform::detail
