// Why a tty would not open. Only a failure pays for the look: the group behind a
// permission problem and the process behind a busy device, found under the proc root
// (BELVANE_PROC_ROOT, default /proc) within a bounded number of steps.
#include "internal/open_failure.h"

#include <dirent.h>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>

#include "platform/base/account.h"
#include "platform/base/strings.h"

namespace platform::detail {
namespace {

// A busy device is looked for in at most this many processes' descriptor tables.
constexpr int kMaxProcesses = 4096;
constexpr int kMaxDescriptors = 1 << 16;

std::string ProcRoot() {
    const char* value = std::getenv("BELVANE_PROC_ROOT");
    std::string root = value && *value ? value : "/proc";
    while (root.size() > 1 && root.back() == '/') root.pop_back();
    return root;
}

std::string GroupName(gid_t gid) {
    if (group* g = getgrgid(gid)) return g->gr_name;
    return "group " + std::to_string(gid);
}

std::string UserName(uid_t uid) {
    if (passwd* p = getpwuid(uid)) return p->pw_name;
    return "user " + std::to_string(uid);
}

std::string ProcessName(const std::string& pid) {
    std::ifstream in(ProcRoot() + "/" + pid + "/comm");
    std::string name;
    std::getline(in, name);
    return name.empty() ? "process " + pid : "process " + pid + " (" + name + ")";
}

bool AllDigits(const char* s) {
    if (!*s) return false;
    for (; *s; ++s)
        if (*s < '0' || *s > '9') return false;
    return true;
}

// A line of the locks file: "1: FLOCK  ADVISORY  WRITE 1234 00:05:3 0 EOF", the device
// numbers in hexadecimal and the inode in decimal.
std::string HolderFromLocks(const struct stat& st) {
    std::ifstream in(ProcRoot() + "/locks");
    std::string line;
    for (int n = 0; n < 100000 && std::getline(in, line); ++n) {
        char kind[16], mode[16], access[16];
        long pid = 0;
        unsigned major = 0, minor = 0;
        unsigned long long inode = 0;
        if (std::sscanf(line.c_str(), "%*d: %15s %15s %15s %ld %x:%x:%llu", kind, mode, access,
                        &pid, &major, &minor, &inode) != 7)
            continue;
        if (inode == st.st_ino && major == major(st.st_dev) && minor == minor(st.st_dev) &&
            pid > 0 && pid != getpid())
            return ProcessName(std::to_string(pid));
    }
    return {};
}

bool OpensFile(const std::string& fdDir, const struct stat& target, int* budget) {
    DIR* dir = opendir(fdDir.c_str());
    if (!dir) return false;
    bool found = false;
    while (dirent* entry = readdir(dir)) {
        if (--*budget < 0) break;
        struct stat st;
        if (entry->d_name[0] == '.' || stat((fdDir + "/" + entry->d_name).c_str(), &st) != 0)
            continue;
        if (st.st_ino == target.st_ino && st.st_dev == target.st_dev) {
            found = true;
            break;
        }
    }
    closedir(dir);
    return found;
}

std::string HolderFromDescriptors(const struct stat& target) {
    DIR* proc = opendir(ProcRoot().c_str());
    if (!proc) return {};
    std::string holder;
    int processes = 0, budget = kMaxDescriptors;
    std::string self = std::to_string(getpid());
    while (dirent* entry = readdir(proc)) {
        if (!AllDigits(entry->d_name) || self == entry->d_name) continue;
        if (++processes > kMaxProcesses || budget <= 0) break;
        if (OpensFile(ProcRoot() + "/" + entry->d_name + "/fd", target, &budget)) {
            holder = ProcessName(entry->d_name);
            break;
        }
    }
    closedir(proc);
    return holder;
}

std::string PermissionReason(const std::string& path) {
    struct stat st;
    if (stat(path.c_str(), &st) != 0) return "Permission denied";
    std::string group = GroupName(st.st_gid);
    char mode[8];
    std::snprintf(mode, sizeof mode, "%03o", static_cast<unsigned>(st.st_mode & 0777));
    if ((st.st_mode & (S_IRGRP | S_IWGRP)) == (S_IRGRP | S_IWGRP) && getuid() != st.st_uid)
        return "Permission denied: add your user to the group that owns " + path + " (" + group +
               "), then log in again";
    return "Permission denied: " + path + " has mode " + mode + ", owner " + UserName(st.st_uid) +
           ", group " + group;
}

std::string BusyReason(const std::string& path) {
    std::string holder = DeviceHolder(path);
    if (holder.empty()) return "in use by another program";
    return "in use: held by " + holder;
}

}  // namespace

std::string DeviceHolder(const std::string& path) {
    struct stat st;
    if (stat(path.c_str(), &st) != 0) return {};
    std::string holder = HolderFromLocks(st);
    return holder.empty() ? HolderFromDescriptors(st) : holder;
}

std::string OpenFailureReason(const std::string& path, int error) {
    switch (error) {
        case EACCES:
        case EPERM:
            return PermissionReason(path);
        case EBUSY:
        case EWOULDBLOCK:
            return BusyReason(path);
        case ENOENT:
            return "No such device: it was unplugged, or its driver is not loaded";
        case ENXIO:
        case ENODEV:
            return "the device does not answer (" + std::string(std::strerror(error)) + ")";
        case ENOTTY:
            return "it is not a serial device";
        default:
            return std::strerror(error);
    }
}

void NoteOpenFailure(std::u16string_view name, const std::string& path, int error) {
    std::string port = ToUtf8(name);
    if (!port.empty() && port.back() != ':') port += ':';
    Note(port + " cannot open " + path + ": " + OpenFailureReason(path, error));
}

}  // namespace platform::detail
