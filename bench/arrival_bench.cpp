// How soon a device that arrives opens: the time from its node appearing to the first
// CreateFileW that succeeds, for a node in the watched /dev root (the monitor's notice) and
// for one elsewhere (only the look on a failed open finds it). The floor is an open and
// close of a device that is there.
#include <stdio.h>
#include <stdlib.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "figures.h"
#include "platform/base/strings.h"
#include "platform/io/devices.h"
#include "platform/io/files.h"
#include "platform/io/registry.h"
#include "support/test_support.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

void WriteKey(const std::u16string& name, const std::string& devicePath, DWORD index) {
    HKEY key;
    std::u16string path = u"Drivers\\BuiltIn\\" + name;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &key,
                        nullptr) != ERROR_SUCCESS)
        return;
    std::u16string text = platform::FromUtf8(devicePath);
    RegSetValueExW(key, u"Prefix", 0, REG_SZ, reinterpret_cast<const BYTE*>(u"COM"), 8);
    RegSetValueExW(key, u"DevicePath", 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                   static_cast<DWORD>((text.size() + 1) * 2));
    RegSetValueExW(key, u"Index", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&index), 4);
    RegCloseKey(key);
}

bool Opens(LPCWSTR name) {
    HANDLE port =
        CreateFileW(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (port == INVALID_HANDLE_VALUE) return false;
    CloseHandle(port);
    return true;
}

// True while Drivers\Active has a device of that name.
bool Active(const std::u16string& name) {
    HKEY active;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"Drivers\\Active", 0, KEY_READ, &active) !=
        ERROR_SUCCESS)
        return false;
    bool found = false;
    char16_t sub[64];
    DWORD length = 64;
    for (DWORD i = 0; !found && RegEnumKeyExW(active, i, sub, &length, nullptr, nullptr, nullptr,
                                              nullptr) == ERROR_SUCCESS;
         ++i, length = 64) {
        HKEY key;
        if (RegOpenKeyExW(active, sub, 0, KEY_READ, &key) != ERROR_SUCCESS) continue;
        char16_t value[64] = {};
        DWORD size = sizeof value - 2;
        RegQueryValueExW(key, u"Name", nullptr, nullptr, reinterpret_cast<BYTE*>(value), &size);
        RegCloseKey(key);
        found = name == value;
    }
    RegCloseKey(active);
    return found;
}

// Seconds from making the link to the first open, polling every half millisecond as an
// eager program would; then the link goes, and the next try starts once the device has
// left the table (its Drivers\Active key is gone).
std::vector<double> Arrivals(const std::string& target, const std::string& link, LPCWSTR name,
                             int tries) {
    std::vector<double> samples;
    for (int i = 0; i < tries; ++i) {
        Clock::time_point start = Clock::now();
        fs::create_symlink(target, link);
        while (!Opens(name) && bench::SecondsSince(start) < 10)
            std::this_thread::sleep_for(std::chrono::microseconds(500));
        samples.push_back(bench::SecondsSince(start));
        fs::remove(link);
        Clock::time_point gone = Clock::now();
        while (bench::SecondsSince(gone) < 10 && (Opens(name) || Active(name)))
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return samples;
}

void Report(const char* name, const std::vector<double>& samples, double floor, const char* target,
            double bound) {
    bench::Figure f;
    f.name = name;
    f.unit = "ms";
    f.value = bench::Percentile(samples, 50) * 1000;
    f.floor = floor * 1000;
    f.ratio = f.floor > 0 ? f.value / f.floor : 0;
    f.target = target;
    double worst = bench::Percentile(samples, 100) * 1000;
    f.met = worst <= bound;
    f.extra = {{"p90", bench::Percentile(samples, 90) * 1000},
               {"worst", worst},
               {"tries", static_cast<double>(samples.size())}};
    bench::Report(f);
}

}  // namespace

int main() {
    testsupport::TempDir dir;
    std::string dev = dir.file("dev"), proc = dir.file("proc"), sys = dir.file("sys");
    fs::create_directories(dev);
    fs::create_directories(proc);
    fs::create_directories(sys);
    testsupport::WriteFileBytes(proc + "/consoles", "ttyS0 -W- (EC p a) 4:64\n");
    testsupport::ScopedEnv registry("BELVANE_REGISTRY", dir.file("registry.reg").c_str());
    testsupport::ScopedEnv sysfs("BELVANE_SYSFS_ROOT", sys.c_str());
    testsupport::ScopedEnv devRoot("BELVANE_DEV_ROOT", dev.c_str());
    testsupport::ScopedEnv procRoot("BELVANE_PROC_ROOT", proc.c_str());
    testsupport::PtyPair watched, elsewhere, present;
    WriteKey(u"Watched", "/dev/arrive", 4);
    WriteKey(u"Elsewhere", dir.file("arrive"), 5);
    WriteKey(u"Present", present.slavePath(), 6);
    platform::StartDeviceManager();

    std::vector<double> floor;
    for (int i = 0; i < 100; ++i) {
        Clock::time_point start = Clock::now();
        Opens(u"COM6:");
        floor.push_back(bench::SecondsSince(start));
    }
    double floorMedian = bench::Percentile(floor, 50);
    Report("arrival to open, watched /dev",
           Arrivals(watched.slavePath(), dev + "/arrive", u"COM4:",
                    bench::Count("ARRIVAL_TRIES", 100)),
           floorMedian, "worst <= 250 ms", 250);
    Report("arrival to open, unwatched path",
           Arrivals(elsewhere.slavePath(), dir.file("arrive"), u"COM5:",
                    bench::Count("ARRIVAL_FALLBACK_TRIES", 10)),
           floorMedian, "worst <= 1100 ms", 1100);
    platform::StartDeviceManager();
    return 0;
}
