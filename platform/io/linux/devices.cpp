// The device manager. The device table is built by platform::StartDeviceManager at
// program start.
//
// Building it: host serial devices found in sysfs that no BuiltIn key names get a key of
// their own, "Serial_<by-id name>" (or "Serial_<tty name>" without one), with the lowest
// COM number from 1 that no other COM key with a DevicePath holds. The key is persistent,
// so the device keeps its number whenever it comes back; a user maps a device to another
// number by editing Index or by writing a key that names it. Then every BuiltIn key with
// Prefix, Index and a DevicePath that exists becomes a device published under
// Drivers\Active.
// A key whose device is absent keeps its number but is not published, as a Windows CE
// driver whose Init fails is not. Keys with a Dll are left to ActivateDevice.
#include "platform/io/devices.h"

#include <dirent.h>
#include <dlfcn.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <fstream>
#include <map>
#include <mutex>
#include <set>
#include <sstream>
#include <vector>

#include "internal/device_open.h"
#include "internal/devices_internal.h"
#include "internal/registry_store.h"
#include "platform/base/detail/handle_table.h"
#include "platform/base/strings.h"
#include "platform/io/files.h"
#include "platform/io/registry.h"

namespace platform::detail {
namespace {

constexpr const char16_t* kBuiltIn = u"Drivers\\BuiltIn";
constexpr const char16_t* kActive = u"Drivers\\Active";
constexpr const char16_t* kBluetoothPorts = u"Software\\Microsoft\\Bluetooth\\Serial\\Ports";

// ---- configuration and small helpers ----

std::string Root(const char* variable, const char* fallback) {
    const char* value = std::getenv(variable);
    std::string root = value && *value ? value : fallback;
    while (root.size() > 1 && root.back() == '/') root.pop_back();
    return root;
}

std::string SysRoot() {
    return Root("BELVANE_SYSFS_ROOT", "/sys");
}
std::string DevRoot() {
    return Root("BELVANE_DEV_ROOT", "/dev");
}
std::string ProcRoot() {
    return Root("BELVANE_PROC_ROOT", "/proc");
}

bool Exists(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0;
}

// A DevicePath names the host's /dev; with another /dev root it is looked up there first.
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

std::u16string Upper(std::u16string s) {
    for (char16_t& c : s)
        if (c >= u'a' && c <= u'z') c -= 32;
    return s;
}

std::u16string U16(const std::string& s) {
    return FromUtf8(s);
}

// ---- registry access ----

std::u16string QueryString(HKEY key, const char16_t* name, bool* found = nullptr) {
    DWORD type = 0, size = 0;
    if (found) *found = false;
    if (RegQueryValueExW(key, name, nullptr, &type, nullptr, &size) != ERROR_SUCCESS ||
        (type != REG_SZ && type != REG_EXPAND_SZ))
        return {};
    std::vector<BYTE> data(size + 2, 0);
    if (RegQueryValueExW(key, name, nullptr, &type, data.data(), &size) != ERROR_SUCCESS) return {};
    if (found) *found = true;
    return std::u16string(reinterpret_cast<const char16_t*>(data.data()));
}

bool QueryDword(HKEY key, const char16_t* name, DWORD& value) {
    DWORD type = 0, size = sizeof value;
    return RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(&value), &size) ==
               ERROR_SUCCESS &&
           type == REG_DWORD && size == sizeof value;
}

void SetString(HKEY key, const char16_t* name, const std::u16string& text) {
    RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                   static_cast<DWORD>((text.size() + 1) * 2));
}

void SetDword(HKEY key, const char16_t* name, DWORD value) {
    RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
}

std::vector<std::u16string> SubKeyNames(HKEY root, const char16_t* path) {
    std::vector<std::u16string> names;
    HKEY key;
    if (RegOpenKeyExW(root, path, 0, KEY_READ, &key) != ERROR_SUCCESS) return names;
    for (DWORD i = 0;; ++i) {
        char16_t name[256];
        DWORD length = 256;
        if (RegEnumKeyExW(key, i, name, &length, nullptr, nullptr, nullptr, nullptr) !=
            ERROR_SUCCESS)
            break;
        names.emplace_back(name, length);
    }
    RegCloseKey(key);
    return names;
}

// ---- the device table ----

struct Device {
    std::u16string name;  // "COM3:"
    DeviceKind kind = DeviceKind::None;
    std::string devicePath;
    std::u16string activeKey;  // "Drivers\Active\07"
};

struct Table {
    std::mutex mutex;
    std::map<std::u16string, Device> devices;  // by upper-case name
    unsigned nextActive = 1;
};

Table& TheTable() {
    static Table* table = new Table;  // lives until exit, also for late calls
    return *table;
}

std::mutex bootMutex;  // one start at a time

// Publishes a device under Drivers\Active; returns the key path ("" on failure).
std::u16string Publish(const std::u16string& name, const std::u16string& builtInKey) {
    unsigned number;
    {
        Table& t = TheTable();
        std::lock_guard<std::mutex> lock(t.mutex);
        number = t.nextActive++;
    }
    std::u16string path =
        std::u16string(kActive) + u"\\" + (number < 10 ? u"0" : u"") + U16(std::to_string(number));
    HKEY key;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                        &key, nullptr) != ERROR_SUCCESS)
        return {};
    SetString(key, u"Name", name);
    SetString(key, u"Key", builtInKey);
    RegCloseKey(key);
    return path;
}

void Unpublish(const std::u16string& activeKey) {
    if (!activeKey.empty()) RegDeleteKeyW(HKEY_LOCAL_MACHINE, activeKey.c_str());
}

// Claims the name for a device; false when it is taken.
bool Claim(const Device& device) {
    Table& t = TheTable();
    std::lock_guard<std::mutex> lock(t.mutex);
    return t.devices.emplace(Upper(device.name), device).second;
}

void Release(const std::u16string& name) {
    Table& t = TheTable();
    std::lock_guard<std::mutex> lock(t.mutex);
    t.devices.erase(Upper(name));
}

void SetActiveKey(const std::u16string& name, const std::u16string& activeKey) {
    Table& t = TheTable();
    std::lock_guard<std::mutex> lock(t.mutex);
    auto it = t.devices.find(Upper(name));
    if (it != t.devices.end()) it->second.activeKey = activeKey;
}

// ---- discovery of host serial devices ----

struct HostTty {
    std::string tty;   // "ttyUSB0"
    std::string byId;  // name under /dev/serial/by-id, or empty
    std::string friendly;
    bool bluetooth = false;
    std::string DevicePath() const {
        return byId.empty() ? "/dev/" + tty : "/dev/serial/by-id/" + byId;
    }
};

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
        out.friendly = UsbFriendlyName(usb, driver);
        return true;
    }
    out.friendly = "Serial port " + name + (driver.empty() ? "" : " (" + driver + ")");
    return true;
}

std::vector<HostTty> DiscoverHostTtys() {
    std::vector<HostTty> found;
    // Without the list of consoles any tty could be the console, which must never be taken:
    // nothing is discovered then.
    std::set<std::string> consoles;
    if (!ConsoleTtys(consoles)) return found;
    std::map<std::string, std::string> byId = ByIdNames();
    for (const std::string& name : DirEntries(SysRoot() + "/class/tty")) {
        HostTty tty;
        if (!DescribeTty(name, consoles, tty)) continue;
        auto it = byId.find(name);
        if (it != byId.end()) tty.byId = it->second;
        found.push_back(tty);
    }
    // A stable order, so that first numbers do not depend on directory order.
    std::sort(found.begin(), found.end(),
              [](const HostTty& a, const HostTty& b) { return a.DevicePath() < b.DevicePath(); });
    return found;
}

// ---- BuiltIn keys ----

struct BuiltInKey {
    std::u16string keyName;  // name under Drivers\BuiltIn
    std::u16string prefix;
    DWORD index = 0;
    bool hasIndex = false;
    std::string devicePath;
};

std::vector<BuiltInKey> ReadBuiltInKeys() {
    std::vector<BuiltInKey> keys;
    for (const std::u16string& name : SubKeyNames(HKEY_LOCAL_MACHINE, kBuiltIn)) {
        std::u16string path = std::u16string(kBuiltIn) + u"\\" + name;
        HKEY key;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
            continue;
        BuiltInKey k;
        k.keyName = name;
        k.prefix = QueryString(key, u"Prefix");
        k.hasIndex = QueryDword(key, u"Index", k.index);
        k.devicePath = ToUtf8(QueryString(key, u"DevicePath"));
        RegCloseKey(key);
        keys.push_back(k);
    }
    return keys;
}

// The tty a DevicePath leads to ("ttyUSB0"), following by-id names.
std::string TtyOfDevicePath(const std::string& devicePath,
                            const std::map<std::string, std::string>& ttyOfById) {
    const std::string byId = "/dev/serial/by-id/";
    if (devicePath.rfind(byId, 0) == 0) {
        auto it = ttyOfById.find(devicePath.substr(byId.size()));
        return it != ttyOfById.end() ? it->second : devicePath;
    }
    if (devicePath.rfind("/dev/", 0) == 0) return devicePath.substr(5);
    return devicePath;
}

std::u16string KeyNameFor(const HostTty& tty, const std::vector<BuiltInKey>& keys) {
    std::string base = "Serial_" + (tty.byId.empty() ? tty.tty : tty.byId);
    for (char& c : base)
        if (c == '\\' || static_cast<unsigned char>(c) < 0x20) c = '_';
    std::u16string name = U16(base.substr(0, 200));
    for (int n = 2;; ++n) {
        bool taken = std::any_of(keys.begin(), keys.end(), [&](const BuiltInKey& k) {
            return Upper(k.keyName) == Upper(name);
        });
        if (!taken) return name;
        name = U16(base.substr(0, 200) + "_" + std::to_string(n));
    }
}

// Gives every discovered tty that no key names a key with the lowest free COM number.
void AddKeysForNewTtys(const std::vector<HostTty>& ttys, std::vector<BuiltInKey>& keys) {
    std::map<std::string, std::string> ttyOfById;
    for (const HostTty& t : ttys)
        if (!t.byId.empty()) ttyOfById[t.byId] = t.tty;
    std::set<std::string> named;
    std::set<DWORD> used;
    for (const BuiltInKey& k : keys) {
        if (k.devicePath.empty()) continue;
        named.insert(TtyOfDevicePath(k.devicePath, ttyOfById));
        if (k.hasIndex && Upper(k.prefix) == u"COM") used.insert(k.index);
    }
    for (const HostTty& tty : ttys) {
        if (named.count(tty.tty)) continue;
        DWORD index = 1;
        while (used.count(index)) ++index;
        BuiltInKey k;
        k.keyName = KeyNameFor(tty, keys);
        k.prefix = u"COM";
        k.index = index;
        k.hasIndex = true;
        k.devicePath = tty.DevicePath();
        std::u16string path = std::u16string(kBuiltIn) + u"\\" + k.keyName;
        HKEY key;
        if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                            nullptr, &key, nullptr) != ERROR_SUCCESS)
            continue;
        SetString(key, u"Prefix", k.prefix);
        SetDword(key, u"Index", k.index);
        SetString(key, u"DevicePath", U16(k.devicePath));
        SetString(key, u"FriendlyName", U16(tty.friendly));
        RegCloseKey(key);
        used.insert(index);
        named.insert(tty.tty);
        keys.push_back(k);
    }
}

void PublishBuiltInKeys(const std::vector<BuiltInKey>& keys) {
    for (const BuiltInKey& k : keys) {
        if (k.prefix.empty() || !k.hasIndex || k.devicePath.empty()) continue;
        if (!Exists(HostDevicePath(k.devicePath))) continue;
        Device d;
        d.name = k.prefix + U16(std::to_string(k.index)) + u":";
        d.kind = DeviceKind::Tty;
        d.devicePath = k.devicePath;
        if (!Claim(d)) continue;  // two keys with one name: the first wins
        SetActiveKey(d.name, Publish(d.name, std::u16string(kBuiltIn) + u"\\" + k.keyName));
    }
}

// Bluetooth serial ports: one key per rfcomm binding, named by its COM number, with Port
// "COMn". Keys of bindings that are gone are removed; the device manager marks its own
// keys with DevicePath so that keys written by others are left alone.
void PublishBluetoothPorts(const std::vector<HostTty>& ttys, const std::vector<BuiltInKey>& keys) {
    std::map<std::string, std::string> ttyOfById;
    for (const HostTty& t : ttys)
        if (!t.byId.empty()) ttyOfById[t.byId] = t.tty;
    std::set<std::u16string> wanted;
    for (const HostTty& tty : ttys) {
        if (!tty.bluetooth) continue;
        for (const BuiltInKey& k : keys) {
            if (!k.hasIndex || TtyOfDevicePath(k.devicePath, ttyOfById) != tty.tty) continue;
            std::u16string number = U16(std::to_string(k.index));
            std::u16string path = std::u16string(kBluetoothPorts) + u"\\" + number;
            wanted.insert(Upper(number));
            HKEY key;
            if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                                nullptr, &key, nullptr) != ERROR_SUCCESS)
                continue;
            std::u16string port = k.prefix + number;
            if (QueryString(key, u"Port") != port) SetString(key, u"Port", port);
            if (ToUtf8(QueryString(key, u"DevicePath")) != k.devicePath)
                SetString(key, u"DevicePath", U16(k.devicePath));
            RegCloseKey(key);
        }
    }
    for (const std::u16string& name : SubKeyNames(HKEY_LOCAL_MACHINE, kBluetoothPorts)) {
        if (wanted.count(Upper(name))) continue;
        std::u16string path = std::u16string(kBluetoothPorts) + u"\\" + name;
        HKEY key;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
            continue;
        bool ours = false;
        QueryString(key, u"DevicePath", &ours);
        RegCloseKey(key);
        if (ours) RegDeleteKeyW(HKEY_LOCAL_MACHINE, path.c_str());
    }
}

void Boot() {
    // Drivers\Active exists from the start, as on Windows CE, also with no device at all.
    HKEY active;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, kActive, 0, nullptr, 0, KEY_READ, nullptr, &active,
                        nullptr) == ERROR_SUCCESS)
        RegCloseKey(active);
    std::vector<HostTty> ttys = DiscoverHostTtys();
    std::vector<BuiltInKey> keys = ReadBuiltInKeys();
    AddKeysForNewTtys(ttys, keys);
    PublishBuiltInKeys(keys);
    PublishBluetoothPorts(ttys, keys);
}

// ---- loaded drivers ----

typedef DWORD (*InitFunction)(LPCWSTR activeKey, LPCVOID busContext);
typedef BOOL (*DeinitFunction)(DWORD context);

class DriverInstance : public KernelObject {
  public:
    DriverInstance(std::u16string name, void* library, DeinitFunction deinit, DWORD context,
                   std::u16string activeKey)
        : name_(std::move(name)),
          library_(library),
          deinit_(deinit),
          context_(context),
          activeKey_(std::move(activeKey)) {}

    // Closing the handle (DeactivateDevice does) unloads the driver and frees its name.
    void Close() override {
        if (deinit_) deinit_(context_);
        dlclose(library_);
        Unpublish(activeKey_);
        Release(name_);
    }

  private:
    std::u16string name_;
    void* library_;
    DeinitFunction deinit_;
    DWORD context_;
    std::u16string activeKey_;
};

struct DriverKey {
    std::u16string path;  // relative to HKEY_LOCAL_MACHINE, no trailing backslash
    std::u16string dll;
    std::u16string prefix;
    DWORD index = 0;
    bool hasIndex = false;
};

bool ReadDriverKey(LPCWSTR keyPath, DriverKey& k) {
    k.path = keyPath;
    while (!k.path.empty() && k.path.back() == u'\\') k.path.pop_back();
    HKEY key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, k.path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return false;
    }
    bool hasDll = false, hasPrefix = false;
    k.dll = QueryString(key, u"Dll", &hasDll);
    k.prefix = QueryString(key, u"Prefix", &hasPrefix);
    k.hasIndex = QueryDword(key, u"Index", k.index);
    RegCloseKey(key);
    bool letters =
        !k.prefix.empty() && std::all_of(k.prefix.begin(), k.prefix.end(), [](char16_t c) {
            return (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z');
        });
    if (!hasDll || k.dll.empty() || !letters) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    return true;
}

// Without an Index the first free of 1 to 9 and then 0 is taken, as Windows CE does.
bool ClaimDriverName(const DriverKey& k, Device& d) {
    d.kind = DeviceKind::Driver;
    static const DWORD order[] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 0};
    for (DWORD index : order) {
        DWORD chosen = k.hasIndex ? k.index : index;
        d.name = k.prefix + U16(std::to_string(chosen)) + u":";
        if (Claim(d)) return true;
        if (k.hasIndex) break;
    }
    SetLastError(ERROR_DEVICE_IN_USE);
    return false;
}

}  // namespace

DeviceKind FindDevice(std::u16string_view name, std::string& hostPath) {
    Table& t = TheTable();
    std::lock_guard<std::mutex> lock(t.mutex);
    auto it = t.devices.find(Upper(std::u16string(name)));
    if (it == t.devices.end()) return DeviceKind::None;
    hostPath = HostDevicePath(it->second.devicePath);
    return it->second.kind;
}

// Every device is opened exclusively (as Windows serial drivers do), whatever the share
// mode; the disposition is not looked at.
HANDLE OpenDevice(LPCWSTR name, DWORD, DWORD, DWORD) {
    std::string hostPath;
    DeviceKind kind = IsDeviceName(name) ? FindDevice(name, hostPath) : DeviceKind::None;
    if (kind == DeviceKind::None) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    if (kind == DeviceKind::Driver) {  // loaded drivers take no opens here
        SetLastError(ERROR_NOT_SUPPORTED);
        return INVALID_HANDLE_VALUE;
    }
    return OpenTty(hostPath);
}

}  // namespace platform::detail

// A new start forgets the tty devices and their Drivers\Active keys and builds them again
// from the registry and the device trees as they are now, as a new process would; loaded
// drivers stay.
void platform::StartDeviceManager() {
    using namespace platform::detail;
    std::lock_guard<std::mutex> lock(bootMutex);
    std::vector<std::u16string> stale;
    {
        Table& t = TheTable();
        std::lock_guard<std::mutex> tableLock(t.mutex);
        for (auto it = t.devices.begin(); it != t.devices.end();) {
            if (it->second.kind != DeviceKind::Tty) {
                ++it;
                continue;
            }
            stale.push_back(it->second.activeKey);
            it = t.devices.erase(it);
        }
    }
    for (const std::u16string& key : stale) Unpublish(key);
    Boot();
}

using namespace platform::detail;
using platform::ToUtf8;

HANDLE ActivateDevice(LPCWSTR deviceKey, DWORD clientInfo) {
    if (!deviceKey) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    DriverKey k;
    Device d;
    if (!ReadDriverKey(deviceKey, k) || !ClaimDriverName(k, d)) return nullptr;
    // The library is loaded from the path as given, whatever its extension.
    void* library = dlopen(platform::HostPath(k.dll.c_str()).c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!library) {
        Release(d.name);
        SetLastError(ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    std::string prefix = ToUtf8(k.prefix);
    auto init = reinterpret_cast<InitFunction>(dlsym(library, (prefix + "_Init").c_str()));
    auto deinit = reinterpret_cast<DeinitFunction>(dlsym(library, (prefix + "_Deinit").c_str()));
    if (!init) {
        dlclose(library);
        Release(d.name);
        SetLastError(ERROR_PROC_NOT_FOUND);
        return nullptr;
    }
    // As on Windows CE the instance is published before Init, which is given its key.
    std::u16string active = Publish(d.name, k.path);
    DWORD context =
        init(active.c_str(), reinterpret_cast<LPCVOID>(static_cast<uintptr_t>(clientInfo)));
    if (!context) {
        Unpublish(active);
        dlclose(library);
        Release(d.name);
        SetLastError(ERROR_GEN_FAILURE);
        return nullptr;
    }
    SetActiveKey(d.name, active);
    return InsertHandle(std::make_shared<DriverInstance>(d.name, library, deinit, context, active));
}

BOOL DeactivateDevice(HANDLE device) {
    if (!LookupHandleAs<DriverInstance>(device)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    return CloseHandle(device);
}
