// belvane-sim: simulated GPS receivers, radar detectors, silent and noisy lines on
// pseudo-terminals, registered as COM ports for the programs of this project.
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "tools/simulator/bench.h"
#include "tools/simulator/emulator.h"
#include "tools/simulator/pty_port.h"
#include "tools/simulator/registration.h"
#include "tools/simulator/replay.h"

namespace {

// The signals that end the simulator are blocked and taken synchronously (sigtimedwait), so
// that none is lost however it arrives, and the main loop's pause is the wait for them.
sigset_t StopSignals() {
    sigset_t set;
    sigemptyset(&set);
    for (int signal : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&set, signal);
    return set;
}

// Whether a stop signal has come, waiting for one at most waitMs.
bool StopAsked(long waitMs = 0) {
    static bool asked = false;
    if (asked) return true;
    const sigset_t set = StopSignals();
    const timespec wait{waitMs / 1000, (waitMs % 1000) * 1000000L};
    asked = sigtimedwait(&set, nullptr, &wait) > 0;
    return asked;
}

// The default bench: an installed simulator's in ../share/belvane/ from its own folder, else
// the one in the source tree it was built from.
std::string DefaultBench() {
    std::error_code error;
    std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
    if (!error) {
        std::filesystem::path installed =
            self.parent_path().parent_path() / "share/belvane/default.bench";
        if (std::filesystem::exists(installed, error)) return installed.string();
    }
    return BELVANE_SIM_DEFAULT_BENCH;
}

struct Options {
    std::string benchPath = DefaultBench();
    std::string registryPath;
    std::string readyFile;
};

struct Device {
    sim::DeviceSpec setup;
    std::vector<std::string> replayBursts;
    sim::PtyPort port;
    sim::Emulator emulator;
    sim::Registration registration;
    bool present = false;  // plugged in: its pty is open and its key written
};

struct Session {
    std::vector<Device> devices;
    std::vector<std::u16string> createdKeys;  // parent keys the registrations brought
    std::string tempDir;                      // created by us, removed at the end
    std::string readyFile;
    bool readyWritten = false;
};

const char kUsage[] =
    "usage: belvane-sim [--registry FILE] [--ready-file PATH] [BENCH]\n"
    "Simulates the serial devices described in BENCH on pseudo-terminals and registers\n"
    "them as COM ports in the registry file FILE (default: $BELVANE_REGISTRY, else a\n"
    "temporary file whose path is printed). BENCH defaults to the default.bench installed\n"
    "in share/belvane, else the one in the source tree.\n"
    "Prints \"ready\" once every device is registered; ends on SIGINT, SIGTERM or SIGHUP.\n";

bool ParseArguments(int argc, char** argv, Options& options) {
    bool benchGiven = false;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if ((arg == "--registry" || arg == "--ready-file") && i + 1 < argc) {
            (arg == "--registry" ? options.registryPath : options.readyFile) = argv[++i];
        } else if (arg == "-h" || arg == "--help") {
            std::cout << kUsage;
            std::exit(0);
        } else if (!arg.starts_with("-") && !benchGiven) {
            options.benchPath = arg;
            benchGiven = true;
        } else {
            std::cerr << "belvane-sim: unexpected argument \"" << arg << "\"\n" << kUsage;
            return false;
        }
    }
    return true;
}

long long NowMs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<long long>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

void InstallSignalHandlers() {
    const sigset_t stop = StopSignals();
    sigprocmask(SIG_BLOCK, &stop, nullptr);
    struct sigaction action {};
    action.sa_handler = SIG_IGN;  // a closed stdout must not end us before the clean-up
    sigemptyset(&action.sa_mask);
    sigaction(SIGPIPE, &action, nullptr);
}

// Reads the bench and the captures it names; reports every error with file and line.
bool LoadBench(const std::string& path, std::vector<Device>& devices) {
    std::ifstream in(path);
    if (!in) {
        std::cerr << "belvane-sim: cannot read bench description " << path << "\n";
        return false;
    }
    std::ostringstream text;
    text << in.rdbuf();
    std::string baseDir = std::filesystem::path(path).parent_path().string();
    sim::Bench bench = sim::ParseBench(text.str(), path, baseDir);
    for (const std::string& error : bench.errors) std::cerr << error << "\n";
    bool ok = bench.errors.empty();
    devices.resize(bench.devices.size());
    for (std::size_t i = 0; i < devices.size(); ++i) {
        devices[i].setup = bench.devices[i];
        std::string error;
        if (!devices[i].setup.replayPath.empty() &&
            !sim::LoadCapture(devices[i].setup.replayPath, devices[i].replayBursts, error)) {
            std::cerr << path << ":" << devices[i].setup.lineNumber << ": " << error << "\n";
            ok = false;
        }
    }
    return ok;
}

// The simulator's own working directory: a temporary registry when none is named, and an
// empty device tree for the platform's device discovery.
bool MakeTempDir(Session& session) {
    std::string dir = (std::filesystem::temp_directory_path() / "belvane-sim-XXXXXX").string();
    if (!mkdtemp(dir.data()) || mkdir((dir + "/sysfs").c_str(), 0700) != 0) {
        std::cerr << "belvane-sim: cannot create a temporary directory\n";
        return false;
    }
    session.tempDir = dir;
    return true;
}

// The registry file comes from --registry, else BELVANE_REGISTRY, else a temporary one.
void ChooseRegistry(const Options& options, const Session& session) {
    // The platform's first registry access builds its device table and gives every host
    // serial device that no key names a key of its own. The simulator registers only its
    // own devices, so its discovery looks at an empty tree.
    setenv("BELVANE_SYSFS_ROOT", (session.tempDir + "/sysfs").c_str(), 1);
    if (!options.registryPath.empty()) {
        setenv("BELVANE_REGISTRY", options.registryPath.c_str(), 1);
        return;
    }
    const char* fromEnvironment = getenv("BELVANE_REGISTRY");
    if (fromEnvironment && *fromEnvironment) return;
    std::string file = session.tempDir + "/registry.reg";
    setenv("BELVANE_REGISTRY", file.c_str(), 1);
    std::cout << "registry " << file << "\n";
}

// Plugs a device in: its pseudo-terminal and its key.
bool SetUpDevice(Device& device, long long nowMs, unsigned seed) {
    std::string error;
    if (!sim::OpenPtyPort(device.port, error)) {
        std::cerr << "belvane-sim: " << error << "\n";
        return false;
    }
    sim::StartEmulator(device.emulator, device.setup, device.replayBursts, nowMs, time(nullptr),
                       seed);
    bool replaced = false;
    if (!sim::RegisterDevice(device.setup, device.port.slavePath, device.registration, replaced,
                             error)) {
        std::cerr << "belvane-sim: " << error << "\n";
        return false;
    }
    if (replaced)
        std::cerr << "belvane-sim: replaced a registration of COM" << device.setup.comIndex
                  << " left by an earlier simulator\n";
    device.present = true;
    return true;
}

// Pulls a device out: its key goes and its pseudo-terminal closes, so that a program that
// has it open sees the line hang up.
void PullDevice(Device& device) {
    if (!device.present) return;
    sim::Unregister(device.registration);
    sim::ClosePtyPort(device.port);
    device.present = false;
}

std::string DeviceLine(const Device& device) {
    const sim::DeviceSpec& setup = device.setup;
    return "COM" + std::to_string(setup.comIndex) + " " + sim::KindName(setup.kind) + " " +
           std::to_string(setup.line.baud) + " " + sim::FormatFraming(setup.line) + " " +
           (device.present ? device.port.slavePath : "(not plugged in)");
}

bool WriteReadyFile(Session& session, const std::string& text) {
    // Written under another name and renamed, so a waiting script never sees half of it.
    std::string temporary = session.readyFile + ".tmp";
    std::ofstream out(temporary);
    out << text;
    out.close();
    if (!out || std::rename(temporary.c_str(), session.readyFile.c_str()) != 0) {
        std::remove(temporary.c_str());
        std::cerr << "belvane-sim: cannot write " << session.readyFile << "\n";
        return false;
    }
    session.readyWritten = true;
    return true;
}

bool AnnounceReady(Session& session) {
    std::string text;
    for (const Device& device : session.devices) text += DeviceLine(device) + "\n";
    text += "ready\n";
    // The file first: whoever saw "ready" on the output may look for the file at once.
    if (!session.readyFile.empty() && !WriteReadyFile(session, text)) return false;
    std::cout << text << std::flush;
    return true;
}

void TearDown(Session& session) {
    for (Device& device : session.devices) PullDevice(device);
    if (session.readyWritten) std::remove(session.readyFile.c_str());
    sim::RemoveEmptyKeys(session.createdKeys);
    if (!session.tempDir.empty()) {
        std::error_code ignored;
        std::filesystem::remove_all(session.tempDir, ignored);
    }
}

// Plugs in and pulls out the devices whose time has come (times count from startMs); says
// so on the output.
void PlugAndPull(Session& session, long long startMs, long long now, std::mt19937& seeds) {
    for (Device& device : session.devices) {
        const sim::DeviceSpec& setup = device.setup;
        long long& plug = device.setup.plugMs;
        long long& pull = device.setup.pullMs;
        if (!device.present && plug >= 0 && now - startMs >= plug) {
            plug = -1;
            if (SetUpDevice(device, now, seeds()))
                std::cout << "plugged " << DeviceLine(device) << std::endl;
        } else if (device.present && pull >= 0 && now - startMs >= pull) {
            pull = -1;
            PullDevice(device);
            std::cout << "pulled COM" << setup.comIndex << std::endl;
        }
    }
}

void Run(Session& session, long long startMs, unsigned seed) {
    std::mt19937 seeds(seed);
    while (!StopAsked()) {
        long long now = NowMs();
        PlugAndPull(session, startMs, now, seeds);
        for (Device& device : session.devices)
            if (device.present) sim::ServicePort(device.port, device.emulator, now);
        StopAsked(5);
    }
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    if (!ParseArguments(argc, argv, options)) return 2;
    Session session;
    if (!LoadBench(options.benchPath, session.devices)) return 2;
    InstallSignalHandlers();

    session.readyFile = options.readyFile;
    if (!MakeTempDir(session)) return 1;
    ChooseRegistry(options, session);
    std::random_device entropy;
    bool ok = true;
    long long now = NowMs();
    session.createdKeys = sim::MissingParentKeys();
    for (std::size_t i = 0; i < session.devices.size() && ok && !StopAsked(); ++i)
        if (session.devices[i].setup.PresentAtStart())
            ok = SetUpDevice(session.devices[i], now, entropy());
    if (ok && !StopAsked()) ok = AnnounceReady(session);
    if (ok) Run(session, now, entropy());
    TearDown(session);
    return ok ? 0 : 1;
}
