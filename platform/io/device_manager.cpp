// The device manager: platform::StartDeviceManager builds the device table at program
// start, and the table follows the devices as they come and go from then on.
//
// Building it: host serial devices found in sysfs that no BuiltIn key names get a key of
// their own, "Serial_<by-id name>" (or "Serial_<tty name>" without one), with the lowest
// COM number from 1 that no other COM key with a DevicePath holds. The key is persistent,
// so the device keeps its number whenever it comes back; a user maps a device to another
// number by editing Index or by writing a key that names it. Then every BuiltIn key with
// Prefix, Index and a DevicePath that exists becomes a device published under
// Drivers\Active.
// A key whose device is absent keeps its number but is not published, as a Windows CE
// driver whose Init fails is not. Nor is a key whose device is no serial port, the console
// or some session's terminal, nor one that a process left behind when it died (its Owner
// values name a process that is gone), nor one whose Index makes no name "<Prefix>0:" to
// "<Prefix>9:" (noted in the account of failures). Keys with a Dll are left to ActivateDevice.
//
// The same look is taken again whenever the kernel's notifications tell of a change in the
// device trees (the monitor), and at most once a second when a name that is not active is
// opened, for devices no notification tells of (a pseudo-terminal a simulator registered,
// a container whose /dev never changes). A device that arrives is judged as at start; one
// that leaves loses its Drivers\Active key.
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <mutex>
#include <set>

#include "internal/device_discovery.h"
#include "internal/device_monitor.h"
#include "internal/device_table.h"
#include "internal/devices_internal.h"
#include "internal/registry_store.h"
#include "internal/registry_values.h"
#include "internal/tty_policy.h"
#include "linux/process_identity.h"
#include "platform/base/account.h"
#include "platform/base/strings.h"
#include "platform/io/devices.h"

namespace platform::detail {
namespace {

constexpr const char16_t* kBluetoothPorts = u"Software\\Microsoft\\Bluetooth\\Serial\\Ports";

std::mutex startMutex;  // one start at a time

struct BuiltInKey {
    std::u16string keyName;  // name under Drivers\BuiltIn
    std::u16string prefix;
    DWORD index = 0;
    bool hasIndex = false;
    std::string devicePath;
    bool hasOwner = false;  // written by a process for as long as it runs
    DWORD ownerProcess = 0;
    std::u16string ownerStart;
};

std::vector<BuiltInKey> ReadBuiltInKeys() {
    std::vector<BuiltInKey> keys;
    for (const std::u16string& name : SubKeyNames(HKEY_LOCAL_MACHINE, kBuiltIn)) {
        HKEY key = OpenMachineKey(std::u16string(kBuiltIn) + u"\\" + name, false);
        if (!key) continue;
        BuiltInKey k;
        k.keyName = name;
        k.prefix = QueryString(key, u"Prefix");
        k.hasIndex = QueryDword(key, u"Index", k.index);
        k.devicePath = ToUtf8(QueryString(key, u"DevicePath"));
        k.hasOwner = QueryDword(key, u"OwnerProcess", k.ownerProcess);
        k.ownerStart = QueryString(key, u"OwnerStart");
        RegCloseKey(key);
        keys.push_back(k);
    }
    return keys;
}

// The tty of each by-id name among the discovered ttys.
std::map<std::string, std::string> TtysByIdName(const std::vector<HostTty>& ttys) {
    std::map<std::string, std::string> ttyOfById;
    for (const HostTty& t : ttys)
        if (!t.byId.empty()) ttyOfById[t.byId] = t.tty;
    return ttyOfById;
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
    std::u16string name = FromUtf8(base.substr(0, 200));
    for (int n = 2;; ++n) {
        bool taken = std::any_of(keys.begin(), keys.end(), [&](const BuiltInKey& k) {
            return UpperName(k.keyName) == UpperName(name);
        });
        if (!taken) return name;
        name = FromUtf8(base.substr(0, 200) + "_" + std::to_string(n));
    }
}

// Writes the key of a newly found tty; false when it cannot be created.
bool WriteNewKey(const BuiltInKey& k, const HostTty& tty) {
    HKEY key = OpenMachineKey(std::u16string(kBuiltIn) + u"\\" + k.keyName, true);
    if (!key) return false;
    SetString(key, u"Prefix", k.prefix);
    SetDword(key, u"Index", k.index);
    SetString(key, u"DevicePath", FromUtf8(k.devicePath));
    SetString(key, u"FriendlyName", FromUtf8(tty.friendly));
    RegCloseKey(key);
    return true;
}

constexpr DWORD kLastIndex = 9;  // device names have one digit

// The first of COM1 to COM9 and then COM0 that no key holds, or kLastIndex + 1.
DWORD FreeComIndex(const std::set<DWORD>& used) {
    for (DWORD index : {1, 2, 3, 4, 5, 6, 7, 8, 9, 0})
        if (!used.count(index)) return index;
    return kLastIndex + 1;
}

// Gives every discovered tty that no key names a key with the lowest free COM number.
void AddKeysForNewTtys(const std::vector<HostTty>& ttys, std::vector<BuiltInKey>& keys) {
    std::map<std::string, std::string> ttyOfById = TtysByIdName(ttys);
    std::set<std::string> named;
    std::set<DWORD> used;
    for (const BuiltInKey& k : keys) {
        if (k.devicePath.empty()) continue;
        named.insert(TtyOfDevicePath(k.devicePath, ttyOfById));
        if (k.hasIndex && UpperName(k.prefix) == u"COM") used.insert(k.index);
    }
    for (const HostTty& tty : ttys) {
        if (named.count(tty.tty)) continue;
        DWORD index = FreeComIndex(used);
        if (index > kLastIndex) continue;  // all ten names taken
        BuiltInKey k;
        k.keyName = KeyNameFor(tty, keys);
        k.prefix = u"COM";
        k.index = index;
        k.hasIndex = true;
        k.devicePath = tty.DevicePath();
        if (!WriteNewKey(k, tty)) continue;
        used.insert(index);
        named.insert(tty.tty);
        keys.push_back(k);
    }
}

// A key that names a device but makes no device name is the user's mistake: said once
// per start and key, in the account of failures.
bool MakesDeviceName(const BuiltInKey& k, std::set<std::u16string>& said) {
    bool letters = std::all_of(k.prefix.begin(), k.prefix.end(), [](char16_t c) {
        return (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z');
    });
    if (letters && k.index <= kLastIndex) return true;
    if (!said.insert(UpperName(k.keyName)).second) return false;
    const std::string prefix = ToUtf8(k.prefix);
    platform::Note("Drivers\\BuiltIn\\" + ToUtf8(k.keyName) + ": Prefix \"" + prefix +
                   "\" and Index " + std::to_string(k.index) + " make no device name " + prefix +
                   "0: to " + prefix + "9:; the key is ignored");
    return false;
}

// A key that a process marked as its own lives as long as that process: a pid with another
// start time is a new process that merely got the number.
bool OwnerAlive(const BuiltInKey& k) {
    if (!k.hasOwner) return true;
    std::string start = ProcessStartTime(static_cast<int>(k.ownerProcess));
    return !start.empty() && FromUtf8(start) == k.ownerStart;
}

// Devices that are there and may be handed out: not the console nor a session's terminal.
// A node that is no character device (only made-up device trees have those) is published
// as before; it cannot be opened as a port.
bool UsableDevice(const BuiltInKey& k) {
    if (!DevicePresent(k.devicePath)) return false;
    TtyVerdict verdict = JudgePath(HostDevicePath(k.devicePath));
    return verdict == TtyVerdict::Serial || verdict == TtyVerdict::NotADevice;
}

bool NamesDevice(const BuiltInKey& k) {
    return !k.prefix.empty() && k.hasIndex && !k.devicePath.empty();
}

std::u16string DeviceNameOf(const BuiltInKey& k) {
    return k.prefix + FromUtf8(std::to_string(k.index)) + u":";
}

// Departures: a device stays while its key still names it, its owner lives and its node is
// there; the others lose their name and their Drivers\Active key. Open handles keep their
// own descriptor and read the device's end as a hang-up. Returns the names kept.
std::set<std::u16string> DropDeparted(const std::vector<BuiltInKey>& keys) {
    std::set<std::u16string> kept;
    for (const Device& d : TtyDevices()) {
        std::u16string name = UpperName(d.name);
        bool stays = std::any_of(keys.begin(), keys.end(), [&](const BuiltInKey& k) {
            return NamesDevice(k) && k.devicePath == d.devicePath &&
                   UpperName(DeviceNameOf(k)) == name && OwnerAlive(k) &&
                   DevicePresent(k.devicePath);
        });
        if (stays) {
            kept.insert(name);
            continue;
        }
        ReleaseDevice(d.name);
        Unpublish(d.activeKey);
    }
    return kept;
}

// Arrivals: every key with Prefix, Index and a usable device whose name is free becomes a
// device published under Drivers\Active; of two keys with one name the first wins. Only
// newcomers are judged, so that a look with nothing new reads no process table.
void ActivateArrivals(const std::vector<BuiltInKey>& keys, const std::set<std::u16string>& kept,
                      std::set<std::u16string>& said) {
    for (const BuiltInKey& k : keys) {
        if (!NamesDevice(k) || !MakesDeviceName(k, said)) continue;
        std::u16string name = DeviceNameOf(k);
        std::string unused;
        if (kept.count(UpperName(name)) || FindDevice(name, unused) != DeviceKind::None) continue;
        if (!OwnerAlive(k) || !UsableDevice(k)) continue;
        Device d;
        d.name = name;
        d.kind = DeviceKind::Tty;
        d.devicePath = k.devicePath;
        // Published before it can be opened, so whoever opened it finds its key.
        d.activeKey = Publish(d.name, std::u16string(kBuiltIn) + u"\\" + k.keyName);
        if (!ClaimDevice(d)) Unpublish(d.activeKey);
    }
}

// Writes the Bluetooth port key of a binding, changing only what differs.
void WriteBluetoothPort(const BuiltInKey& k) {
    std::u16string number = FromUtf8(std::to_string(k.index));
    HKEY key = OpenMachineKey(std::u16string(kBluetoothPorts) + u"\\" + number, true);
    if (!key) return;
    std::u16string port = k.prefix + number;
    if (QueryString(key, u"Port") != port) SetString(key, u"Port", port);
    if (ToUtf8(QueryString(key, u"DevicePath")) != k.devicePath)
        SetString(key, u"DevicePath", FromUtf8(k.devicePath));
    RegCloseKey(key);
}

// Bluetooth serial ports: one key per rfcomm binding, named by its COM number, with Port
// "COMn". Keys of bindings that are gone are removed; the device manager marks its own
// keys with DevicePath so that keys written by others are left alone.
void PublishBluetoothPorts(const std::vector<HostTty>& ttys, const std::vector<BuiltInKey>& keys) {
    std::map<std::string, std::string> ttyOfById = TtysByIdName(ttys);
    std::set<std::u16string> wanted;
    for (const HostTty& tty : ttys) {
        if (!tty.bluetooth) continue;
        for (const BuiltInKey& k : keys) {
            if (!k.hasIndex || TtyOfDevicePath(k.devicePath, ttyOfById) != tty.tty) continue;
            wanted.insert(UpperName(FromUtf8(std::to_string(k.index))));
            WriteBluetoothPort(k);
        }
    }
    for (const std::u16string& name : SubKeyNames(HKEY_LOCAL_MACHINE, kBluetoothPorts)) {
        if (wanted.count(UpperName(name))) continue;
        std::u16string path = std::u16string(kBluetoothPorts) + u"\\" + name;
        HKEY key = OpenMachineKey(path, false);
        if (!key) continue;
        bool ours = false;
        QueryString(key, u"DevicePath", &ours);
        RegCloseKey(key);
        if (ours) RegDeleteKeyW(HKEY_LOCAL_MACHINE, path.c_str());
    }
}

std::int64_t NowMs() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

constexpr std::int64_t kLookAgainMs = 1000;  // looks on a failed open, at most this often

// udev makes the by-id link of a USB device a moment after its node; a key made before
// would name the tty and give a device that comes back a new number.
constexpr std::int64_t kByIdWaitMs = 2000;

struct Looks {
    std::mutex mutex;                              // one look at a time
    std::set<std::u16string> said;                 // keys whose bad Index was said since start
    std::map<std::string, std::int64_t> awaiting;  // newcomers without by-id: first seen
    std::atomic<bool> started{false};
    std::atomic<std::int64_t> lastMs{0};
};

Looks& TheLooks() {
    static Looks* looks = new Looks;  // lives until exit, also for late calls
    return *looks;
}

// The ttys to take now: at start all of them; later a USB newcomer waits a while for its
// by-id link (a later look takes it, with the link or without).
std::vector<HostTty> SettledTtys(std::vector<HostTty> ttys, Looks& looks, bool start) {
    std::map<std::string, std::int64_t> awaiting;
    std::int64_t now = NowMs();
    std::erase_if(ttys, [&](const HostTty& t) {
        if (start || !t.awaitingById) return false;
        auto it = looks.awaiting.find(t.tty);
        std::int64_t first = it != looks.awaiting.end() ? it->second : now;
        awaiting[t.tty] = first;
        return now - first < kByIdWaitMs;
    });
    looks.awaiting = std::move(awaiting);
    return ttys;
}

// One look at the devices (the looks' mutex is held): new ttys get their keys, departed
// devices go and arrived ones come. A look that finds nothing new writes nothing.
void Look(Looks& looks, bool start = false) {
    RegistryBatch batch;
    // Drivers\Active exists from the start, as on Windows CE, also with no device at all.
    HKEY active;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, kActive, 0, nullptr, 0, KEY_READ, nullptr, &active,
                        nullptr) == ERROR_SUCCESS)
        RegCloseKey(active);
    std::vector<HostTty> ttys = SettledTtys(DiscoverHostTtys(), looks, start);
    std::vector<BuiltInKey> keys = ReadBuiltInKeys();
    AddKeysForNewTtys(ttys, keys);
    std::set<std::u16string> kept = DropDeparted(keys);
    ActivateArrivals(keys, kept, looks.said);
    PublishBluetoothPorts(ttys, keys);
    looks.lastMs = NowMs();
}

// The monitor of the running start; one owner for its thread and descriptors.
struct Monitoring {
    std::mutex mutex;
    std::unique_ptr<DeviceMonitor> monitor;
    pid_t owner = 0;  // a forked child has no monitor thread to stop
};

Monitoring& TheMonitoring() {
    static Monitoring* monitoring = new Monitoring;  // lives until exit, also for late calls
    return *monitoring;
}

void StopMonitor() {
    Monitoring& m = TheMonitoring();
    std::lock_guard<std::mutex> lock(m.mutex);
    if (m.owner != getpid()) {
        (void)m.monitor.release();  // the parent's thread: not ours to stop
        return;
    }
    m.monitor.reset();
}

void StartMonitor() {
    Monitoring& m = TheMonitoring();
    std::lock_guard<std::mutex> lock(m.mutex);
    m.owner = getpid();
    m.monitor = std::make_unique<DeviceMonitor>(DevRoot(), [] {
        Looks& looks = TheLooks();
        std::lock_guard<std::mutex> lookLock(looks.mutex);
        Look(looks);
    });
}

}  // namespace

// A look under way may be publishing the very device asked for: its key is visible before
// the device can be opened, so the caller waits for that look to end and tries again.
bool LookAgainForDevices() {
    Looks& looks = TheLooks();
    if (!looks.started) return false;
    std::lock_guard<std::mutex> lock(looks.mutex);
    if (NowMs() - looks.lastMs >= kLookAgainMs) Look(looks);  // else another just looked
    return true;
}

}  // namespace platform::detail

// A new start forgets the tty devices and their Drivers\Active keys and builds them again
// from the registry and the device trees as they are now, as a new process would; loaded
// drivers stay. From then on a monitor follows the devices that come and go; it is stopped
// at exit, before anything it uses (all made before the stop was registered) is torn down.
void platform::StartDeviceManager() {
    using namespace platform::detail;
    std::lock_guard<std::mutex> lock(startMutex);
    StopMonitor();
    {
        Looks& looks = TheLooks();
        std::lock_guard<std::mutex> lookLock(looks.mutex);
        RegistryBatch batch;  // written once, and not at all when unchanged
        for (const std::u16string& key : ForgetTtyDevices()) Unpublish(key);
        looks.said.clear();
        Look(looks, true);
        looks.started = true;
    }
    StartMonitor();
    static const bool stopsAtExit = std::atexit([] { StopMonitor(); }) == 0;
    (void)stopsAtExit;
}
