// The check of a file before its code runs, on descriptors so that the file checked is the
// file loaded: the folder is opened first, the file in it without following a link, and
// both are judged by fstat.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "internal/driver_host.h"
#include "platform/base/account.h"

namespace platform::detail {
namespace {

bool TrustedOwner(const struct stat& st) {
    return st.st_uid == 0 || st.st_uid == geteuid();
}

// Why a file may not be run, or nullptr when it may.
const char* Distrust(const struct stat& folder, const struct stat& file) {
    if (!S_ISREG(file.st_mode)) return "is not a regular file";
    if (file.st_mode & (S_IWGRP | S_IWOTH)) return "is writable by group or others";
    if (!TrustedOwner(file)) return "is owned by another user";
    if (folder.st_mode & S_IWOTH) return "is in a folder that others can write";
    return nullptr;
}

int Refuse(const std::string& path, const char* why) {
    platform::Note(path + " " + why + "; not loaded");
    SetLastError(ERROR_ACCESS_DENIED);
    return -1;
}

}  // namespace

int OpenTrustedFile(const std::string& path) {
    size_t slash = path.rfind('/');
    std::string folderPath = slash == std::string::npos ? "." : path.substr(0, slash + 1);
    std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    int folder = open(folderPath.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    int fd = folder < 0 ? -1
                        : openat(folder, name.c_str(),
                                 O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        bool link = errno == ELOOP;
        if (folder >= 0) close(folder);
        if (link) return Refuse(path, "is a link");
        SetLastError(ERROR_MOD_NOT_FOUND);
        return -1;
    }
    struct stat folderStat, fileStat;
    const char* why = fstat(folder, &folderStat) != 0 || fstat(fd, &fileStat) != 0
                          ? "cannot be examined"
                          : Distrust(folderStat, fileStat);
    close(folder);
    if (!why) return fd;
    close(fd);
    return Refuse(path, why);
}

}  // namespace platform::detail
