// Belvane's whole scan as its user meets it: the real program in a terminal on the default
// bench of simulated devices. Measures the time from start to the report against the floor
// of the scan's four ten-second steps, the share of a core the program used until then and
// its peak resident memory.
#include <time.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "figures.h"
#include "support/simulator_process.h"
#include "support/test_support.h"
#include "support/tmux_session.h"

namespace {

namespace fs = std::filesystem;

constexpr double kFloorSeconds = 40.0;  // four rates, ten seconds each

// Fields of /proc/<pid>/stat, numbered as proc(5) numbers them (3 is the state).
std::vector<std::string> StatFields(const std::string& pid) {
    std::ifstream in("/proc/" + pid + "/stat");
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::vector<std::string> fields(3);
    if (text.rfind(')') == std::string::npos) return fields;
    std::istringstream rest(text.substr(text.rfind(')') + 2));
    std::string field;
    while (rest >> field) fields.push_back(field);
    return fields;
}

double Ticks(const std::vector<std::string>& fields, size_t i) {
    return i < fields.size() ? std::stod(fields[i]) / static_cast<double>(sysconf(_SC_CLK_TCK)) : 0;
}

// Seconds since the system started, on the clock /proc counts process start times with.
double BootSeconds() {
    timespec t{};
    clock_gettime(CLOCK_BOOTTIME, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

// Peak resident set in MiB.
double PeakRssMiB(const std::string& pid) {
    std::ifstream in("/proc/" + pid + "/status");
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind("VmHWM:", 0) == 0) return std::stod(line.substr(6)) / 1024.0;
    }
    return 0;
}

}  // namespace

int main() {
    testsupport::TempDir dir;
    const std::string program = dir.file("kovu");
    fs::create_directories(program);
    fs::create_directories(dir.file("empty"));
    fs::copy_file(BELVANE_PROGRAM, program + "/Belvane");
    fs::copy_file(VIRTUAL_PORT_DRIVER, program + "/Morvex.dll");
    testsupport::WriteFileBytes(program + "/Belv.ini",
                                "[GPS_COM]\ncom=com2\nbaud=4800\n[VIRTUAL_COM]\ncom=com7\n");
    testsupport::SimulatorProcess simulator(BELVANE_SIM_PROGRAM, dir.file("registry.reg"),
                                            DEFAULT_BENCH, dir.file("ready"));
    if (!simulator.WaitReady()) {
        fprintf(stderr, "scan: the simulator did not start\n");
        return 1;
    }
    const auto start = std::chrono::steady_clock::now();
    testsupport::TmuxSession session(
        "exec " + program + "/Belvane",
        {"BELVANE_REGISTRY=" + dir.file("registry.reg"), "BELVANE_SYSFS_ROOT=" + dir.file("empty"),
         "BELVANE_PROC_ROOT=" + dir.file("empty")},
        100, 30);
    const std::string pid = session.Query("#{pane_pid}");
    // Stay out of the way during the scan, then look often, so the moment is met closely.
    std::this_thread::sleep_until(start + std::chrono::milliseconds(39500));
    // The report came after the last look that missed it and before the one that saw it ended.
    double missed = BootSeconds(), seen = missed;
    while (bench::SecondsSince(start) < 90) {
        const double look = BootSeconds();
        const bool shown = session.Screen().find("Virtual:com=") != std::string::npos;
        seen = BootSeconds();
        if (shown) break;
        missed = look;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    // From the program's own start, which /proc keeps to the hundredth of a second.
    const std::vector<std::string> stat = StatFields(pid);
    const double started = Ticks(stat, 22);
    const double seconds = seen - started;
    const double cpu = Ticks(stat, 14) + Ticks(stat, 15);
    const double rss = PeakRssMiB(pid);
    session.SendKeys("C-c");

    bench::Figure report;
    report.name = "scan_time_to_report";
    report.unit = "s";
    report.value = seconds;
    report.floor = kFloorSeconds;
    report.ratio = seconds / kFloorSeconds;
    report.target = "within 0.5% of 40 s";
    report.met = report.ratio <= 1.005;
    report.extra = {{"earliest_s", missed - started}, {"latest_s", seen - started}};
    bench::Report(report);

    bench::Figure share;
    share.name = "scan_cpu_share";
    share.unit = "%";
    share.value = cpu / seconds * 100.0;
    share.target = "<0.5% of a core";
    share.met = share.value < 0.5;
    share.extra = {{"cpu_s", cpu}};
    bench::Report(share);

    bench::Figure memory;
    memory.name = "scan_peak_rss";
    memory.unit = "MiB";
    memory.value = rss;
    memory.target = "<8 MiB";
    memory.met = rss < 8;
    bench::Report(memory);
    return 0;
}
