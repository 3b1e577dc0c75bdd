// Discovery of the host's serial devices: the ttys under <sysfs>/class/tty, less the
// consoles named in <proc>/consoles, with their by-id names from <dev>/serial/by-id and a
// friendly name from the USB device or the driver behind them.
#include "internal/device_discovery.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

namespace platform::detail {
namespace {

std::string Root(const char* variable, const char* fallback) {
    const char* value = std::getenv(variable);
    std::string root = value && *value ? value : fallback;
    while (root.size() > 1 && root.back() == '/') root.pop_back();
    return root;
}

bool Exists(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0;
}

std::string ReadLine(const std::string& path) {
    std::ifstream in(path);
    std::string line;
    std::getline(in, line);
    while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.pop_back();
    return line;
}

std::string LinkTarget(const std::string& path) {
    char buf[4096];
    ssize_t n = readlink(path.c_str(), buf, sizeof buf - 1);
    return n > 0 ? std::string(buf, static_cast<size_t>(n)) : std::string();
}

std::string BaseName(const std::string& path) {
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::vector<std::string> DirEntries(const std::string& path) {
    std::vector<std::string> names;
    if (DIR* dir = opendir(path.c_str())) {
        while (dirent* e = readdir(dir)) {
            std::string name = e->d_name;
            if (name != "." && name != "..") names.push_back(name);
        }
        closedir(dir);
    }
    std::sort(names.begin(), names.end());
    return names;
}

// The ttys that serve as the system console; false when that cannot be known.
bool ConsoleTtys(std::set<std::string>& names) {
    std::ifstream in(ProcRoot() + "/consoles");
    if (!in) return false;
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream words(line);
        std::string name;
        if (words >> name) names.insert(name);
    }
    return true;
}

std::map<std::string, std::string> ByIdNames() {
    std::map<std::string, std::string> byTty;
    std::string dir = DevRoot() + "/serial/by-id";
    for (const std::string& name : DirEntries(dir)) {
        std::string target = BaseName(LinkTarget(dir + "/" + name));
        if (!target.empty()) byTty.emplace(target, name);
    }
    return byTty;
}

// The USB device directory above a tty's device (the one with idVendor), or "".
std::string UsbDeviceDir(const std::string& deviceDir) {
    char resolved[4096];
    if (!realpath(deviceDir.c_str(), resolved)) return {};
    std::string dir = resolved;
    for (int up = 0; up < 4 && dir.size() > 1; ++up) {
        if (Exists(dir + "/idVendor")) return dir;
        dir = dir.substr(0, dir.rfind('/'));
    }
    return {};
}

std::string UsbFriendlyName(const std::string& usbDir, const std::string& driver) {
    std::string product = ReadLine(usbDir + "/product");
    std::string maker = ReadLine(usbDir + "/manufacturer");
    if (!product.empty() && !maker.empty()) return product + " (" + maker + ")";
    if (!product.empty()) return product;
    std::string ids = ReadLine(usbDir + "/idVendor") + ":" + ReadLine(usbDir + "/idProduct");
    return "USB serial device " + ids + (driver.empty() ? "" : " (" + driver + ")");
}

// A tty of the host that may serve as a serial port, or false: virtual terminals, the
// console and UARTs of unknown type (no hardware behind them) are not.
bool DescribeTty(const std::string& name, const std::set<std::string>& consoles, HostTty& out) {
    if (consoles.count(name) || !Exists(DevRoot() + "/" + name)) return false;
    std::string classDir = SysRoot() + "/class/tty/" + name;
    out.tty = name;
    if (name.rfind("rfcomm", 0) == 0) {
        out.bluetooth = true;
        out.friendly = "Bluetooth serial port (" + name + ")";
        return true;
    }
    std::string deviceDir = classDir + "/device";
    if (!Exists(deviceDir)) return false;  // no hardware: virtual terminals, pty, console
    std::string driver = BaseName(LinkTarget(deviceDir + "/driver"));
    if (Exists(classDir + "/type")) {  // a UART: its type says whether one is there
        std::string type = ReadLine(classDir + "/type");
        if (type.empty() || type == "0") return false;
        out.friendly = "Serial port " + name + (driver.empty() ? "" : " (" + driver + ")");
        return true;
    }
    std::string usb = UsbDeviceDir(deviceDir);
    if (!usb.empty()) {
        out.usb = true;
        out.friendly = UsbFriendlyName(usb, driver);
        return true;
    }
    out.friendly = "Serial port " + name + (driver.empty() ? "" : " (" + driver + ")");
    return true;
}

}  // namespace

std::string SysRoot() {
    return Root("BELVANE_SYSFS_ROOT", "/sys");
}
std::string DevRoot() {
    return Root("BELVANE_DEV_ROOT", "/dev");
}
std::string ProcRoot() {
    return Root("BELVANE_PROC_ROOT", "/proc");
}

std::vector<HostTty> DiscoverHostTtys() {
    std::vector<HostTty> found;
    // Without the list of consoles any tty could be the console, which must never be taken:
    // nothing is discovered then.
    std::set<std::string> consoles;
    if (!ConsoleTtys(consoles)) return found;
    std::map<std::string, std::string> byId = ByIdNames();
    bool byIdFolder = Exists(DevRoot() + "/serial/by-id");
    for (const std::string& name : DirEntries(SysRoot() + "/class/tty")) {
        HostTty tty;
        if (!DescribeTty(name, consoles, tty)) continue;
        auto it = byId.find(name);
        if (it != byId.end()) tty.byId = it->second;
        tty.awaitingById = byIdFolder && tty.usb && tty.byId.empty();
        found.push_back(tty);
    }
    // A stable order, so that first numbers do not depend on directory order.
    std::sort(found.begin(), found.end(),
              [](const HostTty& a, const HostTty& b) { return a.DevicePath() < b.DevicePath(); });
    return found;
}

// A path the other root lacks (a pseudo-terminal that a simulator registered, say) is the
// host's own.
std::string HostDevicePath(const std::string& devicePath) {
    std::string root = DevRoot();
    if (root != "/dev" && devicePath.rfind("/dev/", 0) == 0) {
        std::string mapped = root + devicePath.substr(4);
        if (Exists(mapped)) return mapped;
    }
    return devicePath;
}

bool DevicePresent(const std::string& devicePath) {
    return Exists(HostDevicePath(devicePath));
}

}  // namespace platform::detail
