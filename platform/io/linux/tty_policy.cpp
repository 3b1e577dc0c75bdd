// The judgement of a tty, from the kernel's own records: <sysfs>/dev/char/<major>:<minor>
// for the hardware behind it, <proc>/consoles for the consoles and field 7 (tty_nr) of every
// <proc>/<pid>/stat for the controlling terminals. Devices are compared by number, so that
// no other name or link of a device slips through.
#include "internal/tty_policy.h"

#include <dirent.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "internal/device_discovery.h"
#include "linux/process_identity.h"

namespace platform::detail {
namespace {

constexpr unsigned kPtySlaveFirstMajor = 136;  // Unix98 pseudo-terminal slaves: 136 to 143
constexpr unsigned kPtySlaveLastMajor = 143;
constexpr unsigned kRfcommMajor = 216;  // Bluetooth serial bindings have no device link

bool IsPtySlave(unsigned major) {
    return major >= kPtySlaveFirstMajor && major <= kPtySlaveLastMajor;
}

// The consoles by device number ("4:64"); false when the list cannot be read.
bool ConsoleNumbers(std::string& numbers) {
    std::ifstream in(ProcRoot() + "/consoles");
    if (!in) return false;
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream words(line);
        std::string word, last;
        while (words >> word) last = word;
        numbers += " " + last + " ";
    }
    return true;
}

bool HasHardware(unsigned major, unsigned minor) {
    std::string dir =
        SysRoot() + "/dev/char/" + std::to_string(major) + ":" + std::to_string(minor);
    struct stat st;
    if (stat((dir + "/device").c_str(), &st) != 0) return false;
    std::ifstream type(dir + "/type");  // a UART says whether one is there
    std::string value;
    return !(type && std::getline(type, value) && (value.empty() || value == "0"));
}

// tty_nr holds the device number in the kernel's encoding: minor bits 0-7 and 20-31,
// major bits 8-19.
bool IsControllingTerminal(unsigned long long ttyNr, unsigned major, unsigned minor) {
    if (ttyNr == 0) return false;
    unsigned ttyMajor = static_cast<unsigned>((ttyNr >> 8) & 0xfff);
    unsigned ttyMinor = static_cast<unsigned>((ttyNr & 0xff) | ((ttyNr >> 12) & 0xfff00));
    return ttyMajor == major && ttyMinor == minor;
}

bool AnyoneHasAsTerminal(unsigned major, unsigned minor) {
    std::string root = ProcRoot();
    DIR* dir = opendir(root.c_str());
    if (!dir) return false;
    bool found = false;
    constexpr size_t kTtyNr = 7 - 3;
    std::vector<std::string> fields;
    while (dirent* e = readdir(dir)) {
        if (e->d_name[0] < '1' || e->d_name[0] > '9') continue;  // pids only
        if (!ProcStatFields(root + "/" + e->d_name + "/stat", fields) || fields.size() <= kTtyNr)
            continue;
        if (IsControllingTerminal(std::strtoull(fields[kTtyNr].c_str(), nullptr, 10), major,
                                  minor)) {
            found = true;
            break;
        }
    }
    closedir(dir);
    return found;
}

}  // namespace

TtyVerdict JudgeDevice(std::uint64_t rdev) {
    unsigned major = ::major(rdev), minor = ::minor(rdev);
    std::string consoles;
    bool known = ConsoleNumbers(consoles);
    if (consoles.find(" " + std::to_string(major) + ":" + std::to_string(minor) + " ") !=
        std::string::npos)
        return TtyVerdict::Console;
    bool pty = IsPtySlave(major);
    // Without the list of consoles any tty with hardware could be the console; a
    // pseudo-terminal never is.
    if (!pty && (!known || (major != kRfcommMajor && !HasHardware(major, minor))))
        return TtyVerdict::NotSerial;
    if (AnyoneHasAsTerminal(major, minor)) return TtyVerdict::SessionTerminal;
    return TtyVerdict::Serial;
}

TtyVerdict JudgePath(const std::string& hostPath) {
    struct stat st;
    if (stat(hostPath.c_str(), &st) != 0 || !S_ISCHR(st.st_mode)) return TtyVerdict::NotADevice;
    return JudgeDevice(st.st_rdev);
}

}  // namespace platform::detail
