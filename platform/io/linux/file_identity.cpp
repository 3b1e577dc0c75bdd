#include "platform/io/file_identity.h"

#include <stdlib.h>
#include <sys/stat.h>

#include <memory>

#include "platform/io/files.h"

namespace platform {

std::u16string FinalPathName(LPCWSTR path) {
    if (path == nullptr) return {};
    const std::string host = HostPath(path);
    std::unique_ptr<char, decltype(&free)> resolved(realpath(host.c_str(), nullptr), &free);
    if (!resolved) return {};
    return WindowsPath(resolved.get());
}

BOOL CopyFilePermissions(LPCWSTR from, LPCWSTR to) {
    if (from == nullptr || to == nullptr) return FALSE;
    struct stat info {};
    if (stat(HostPath(from).c_str(), &info) != 0) return FALSE;
    return chmod(HostPath(to).c_str(), info.st_mode & 07777) == 0 ? TRUE : FALSE;
}

}  // namespace platform
