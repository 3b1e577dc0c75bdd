// belvane-sim as a child process: registration, the ready line, and clean ends on signals.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "platform/base/handles.h"
#include "platform/base/threads.h"
#include "platform/io/devices.h"
#include "platform/io/files.h"
#include "platform/io/serial.h"
#include "support/test_support.h"
#include "tools/simulator/line_settings.h"
#include "tools/simulator/protocols.h"

extern char** environ;

namespace {

using testsupport::ReadFileBytes;
using testsupport::TempDir;
using testsupport::WriteFileBytes;

class Simulator {
  public:
    explicit Simulator(std::vector<std::string> args) {
        int out[2], err[2];
        if (pipe(out) != 0 || pipe(err) != 0) return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], 1);
        posix_spawn_file_actions_adddup2(&actions, err[1], 2);
        posix_spawn_file_actions_addclose(&actions, out[0]);
        posix_spawn_file_actions_addclose(&actions, err[0]);
        args.insert(args.begin(), BELVANE_SIM_PROGRAM);
        std::vector<char*> argv;
        for (std::string& arg : args) argv.push_back(arg.data());
        argv.push_back(nullptr);
        if (posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
        close(out[1]);
        close(err[1]);
        out_ = out[0];
        err_ = err[0];
    }
    ~Simulator() {
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        if (out_ >= 0) close(out_);
        if (err_ >= 0) close(err_);
    }

    // Standard output up to and including the line "ready", or all of it if the program
    // ends (or 30 s pass) first.
    std::string WaitReady() {
        std::string text;
        for (int i = 0;
             i < 300 && text.find("\nready\n") == std::string::npos && !text.starts_with("ready\n");
             ++i) {
            pollfd p{out_, POLLIN, 0};
            if (poll(&p, 1, 100) <= 0) continue;
            char buffer[512];
            ssize_t n = read(out_, buffer, sizeof buffer);
            if (n <= 0) break;
            text.append(buffer, static_cast<std::size_t>(n));
        }
        return text;
    }

    // Sends the signal and returns the exit code (-1 when it did not end normally).
    int Stop(int signal) {
        kill(pid_, signal);
        return Wait();
    }
    int Wait() {
        int status = 0;
        waitpid(pid_, &status, 0);
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    std::string Errors() {
        std::string text;
        char buffer[512];
        for (ssize_t n; (n = read(err_, buffer, sizeof buffer)) > 0;)
            text.append(buffer, static_cast<std::size_t>(n));
        return text;
    }

  private:
    pid_t pid_ = -1;
    int out_ = -1;
    int err_ = -1;
};

// "COM4" -> "/dev/pts/7" from the device lines before "ready".
std::map<std::string, std::string> PtyPaths(const std::string& output) {
    std::map<std::string, std::string> paths;
    std::istringstream in(output);
    for (std::string line; std::getline(in, line);) {
        std::istringstream fields(line);
        std::string com, kind, baud, framing, path;
        if (fields >> com >> kind >> baud >> framing >> path && com.starts_with("COM"))
            paths[com] = path;
    }
    return paths;
}

// Opens the port like a serial program and listens at baud until "$GPRMC," arrives or
// about ten seconds have gone by.
bool HearsGps(const std::string& path, unsigned baud) {
    int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) return false;
    termios t{};
    tcgetattr(fd, &t);
    cfmakeraw(&t);
    sim::ApplySettings(t, {baud, 8, 'N', 1});
    tcsetattr(fd, TCSANOW, &t);
    std::string heard;
    for (int i = 0; i < 100 && heard.find("$GPRMC,") == std::string::npos; ++i) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, 100) <= 0) continue;
        char buffer[512];
        ssize_t n = read(fd, buffer, sizeof buffer);
        if (n > 0) heard.append(buffer, static_cast<std::size_t>(n));
    }
    close(fd);
    return heard.find("$GPRMC,") != std::string::npos;
}

// The registry file's text with CR LF and LF line ends alike.
std::string RegistryText(const std::string& path) {
    std::string text = ReadFileBytes(path);
    std::erase(text, '\r');
    return text;
}

const char kOtherDriver[] =
    "Windows Registry Editor Version 5.00\r\n\r\n"
    "[HKEY_LOCAL_MACHINE\\Drivers\\BuiltIn\\Serial1]\r\n"
    "\"Prefix\"=\"COM\"\r\n"
    "\"Index\"=dword:00000001\r\n\r\n";

TEST(SimulatorProcessTest, RegistersItsDevicesAndRemovesExactlyThemOnSigterm) {
    TempDir dir;
    std::string registry = dir.file("registry.reg"), ready = dir.file("ready");
    WriteFileBytes(registry, kOtherDriver);
    WriteFileBytes(dir.file("test.bench"), "COM4 gps 57600\nCOM2 radar 9600 mode=triples\n");
    Simulator simulator({"--registry", registry, "--ready-file", ready, dir.file("test.bench")});
    std::string output = simulator.WaitReady();
    ASSERT_NE(output.find("ready\n"), std::string::npos) << output << simulator.Errors();
    std::map<std::string, std::string> paths = PtyPaths(output);
    ASSERT_EQ(paths.size(), 2u) << output;
    EXPECT_EQ(ReadFileBytes(ready), output);

    std::string text = RegistryText(registry);
    EXPECT_NE(text.find("[HKEY_LOCAL_MACHINE\\Drivers\\BuiltIn\\Simulated_COM4]\n"
                        "\"Prefix\"=\"COM\"\n"
                        "\"Index\"=dword:00000004\n"
                        "\"DevicePath\"=\"" +
                        paths["COM4"] +
                        "\"\n"
                        "\"FriendlyName\"=\"Simulated GPS receiver\""),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("\"FriendlyName\"=\"Simulated radar detector\""), std::string::npos);
    EXPECT_NE(text.find("Serial1"), std::string::npos);

    EXPECT_TRUE(HearsGps(paths["COM4"], 57600));

    EXPECT_EQ(simulator.Stop(SIGTERM), 0);
    text = RegistryText(registry);
    EXPECT_EQ(text.find("Simulated_"), std::string::npos) << text;
    EXPECT_NE(text.find("[HKEY_LOCAL_MACHINE\\Drivers\\BuiltIn\\Serial1]"), std::string::npos)
        << text;
    EXPECT_FALSE(std::filesystem::exists(ready));
    // Its pseudo-terminals ended with it; their numbers may already serve another process
    // (tests run side by side), so their paths prove nothing either way.
}

TEST(SimulatorProcessTest, KeysItCreatedAreGoneAfterSigint) {
    TempDir dir;
    std::string registry = dir.file("fresh.reg");
    WriteFileBytes(dir.file("test.bench"), "COM6 silent 9600\n");
    Simulator simulator({"--registry", registry, dir.file("test.bench")});
    ASSERT_NE(simulator.WaitReady().find("ready\n"), std::string::npos) << simulator.Errors();
    EXPECT_NE(RegistryText(registry).find("Simulated_COM6"), std::string::npos);
    EXPECT_EQ(simulator.Stop(SIGINT), 0);
    // Drivers itself stays: the platform keeps Drivers\Active below it in every process.
    EXPECT_EQ(RegistryText(registry).find("[HKEY_LOCAL_MACHINE\\Drivers\\BuiltIn"),
              std::string::npos)
        << RegistryText(registry);
}

TEST(SimulatorProcessTest, TemporaryRegistryIsNamedAndRemovedOnSighup) {
    TempDir dir;
    testsupport::ScopedEnv noRegistry("BELVANE_REGISTRY", nullptr);
    testsupport::ScopedEnv tmp("TMPDIR", dir.path().c_str());
    WriteFileBytes(dir.file("test.bench"), "COM3 noise 9600\n");
    Simulator simulator({dir.file("test.bench")});
    std::string output = simulator.WaitReady();
    ASSERT_TRUE(output.starts_with("registry ")) << output << simulator.Errors();
    std::string registry = output.substr(9, output.find('\n') - 9);
    EXPECT_NE(RegistryText(registry).find("Simulated_COM3"), std::string::npos);
    EXPECT_EQ(simulator.Stop(SIGHUP), 0);
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::path(registry).parent_path()));
}

// A host with a USB serial adapter, as the platform's device discovery sees it.
void BuildHostWithUsbAdapter(const std::string& root) {
    namespace fs = std::filesystem;
    std::string sys = root + "/sys", dev = root + "/dev";
    std::string usb = sys + "/devices/pci0000:00/usb1/1-1";
    std::string device = usb + "/1-1:1.0/ttyUSB0";
    fs::create_directories(device);
    fs::create_directories(sys + "/class/tty/ttyUSB0");
    fs::create_directories(sys + "/bus/drivers/ftdi_sio");
    fs::create_directories(dev);
    WriteFileBytes(usb + "/idVendor", "0403\n");
    WriteFileBytes(usb + "/idProduct", "6001\n");
    WriteFileBytes(usb + "/manufacturer", "FTDI\n");
    WriteFileBytes(usb + "/product", "FT232R USB UART\n");
    fs::create_symlink(device, sys + "/class/tty/ttyUSB0/device");
    fs::create_symlink(sys + "/bus/drivers/ftdi_sio", device + "/driver");
    WriteFileBytes(dev + "/ttyUSB0", "");
}

TEST(SimulatorProcessTest, RegistersNoHostSerialDevices) {
    TempDir dir;
    BuildHostWithUsbAdapter(dir.path());
    testsupport::ScopedEnv sysfs("BELVANE_SYSFS_ROOT", dir.file("sys").c_str());
    testsupport::ScopedEnv devRoot("BELVANE_DEV_ROOT", dir.file("dev").c_str());
    std::string registry = dir.file("registry.reg");
    WriteFileBytes(dir.file("test.bench"), "COM1 silent 9600\n");
    Simulator simulator({"--registry", registry, dir.file("test.bench")});
    ASSERT_NE(simulator.WaitReady().find("ready\n"), std::string::npos) << simulator.Errors();
    std::string text = RegistryText(registry);
    EXPECT_NE(text.find("Simulated_COM1"), std::string::npos) << text;
    EXPECT_EQ(text.find("ttyUSB0"), std::string::npos) << text;
    EXPECT_EQ(simulator.Stop(SIGTERM), 0);
}

// Opens "COM<n>:" through the platform's serial layer the way the port scan does (8N1 at
// baud, reads return at once) and listens for at most `polls` reads, 50 ms apart when nothing
// came. Returns what the scanner's window would find first.
sim::SignatureScanner::Found ListenThroughPlatform(const char16_t* name, DWORD baud,
                                                   int polls = 200) {
    HANDLE port = testsupport::OpenPort8N1(name, baud);
    if (port == INVALID_HANDLE_VALUE) return sim::SignatureScanner::None;
    PurgeComm(port, PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR);
    sim::SignatureScanner scanner;
    sim::SignatureScanner::Found found = sim::SignatureScanner::None;
    for (int i = 0; i < polls && found == sim::SignatureScanner::None; ++i) {
        char buffer[256];
        DWORD read = 0;
        if (ReadFile(port, buffer, sizeof buffer, &read, nullptr) && read > 0)
            found = scanner.FeedAll(std::string_view(buffer, read));
        else
            Sleep(50);
    }
    CloseHandle(port);
    return found;
}

TEST(SimulatorProcessTest, PlatformSerialLayerFindsTheDevicesAtTheirRatesOnly) {
    TempDir dir;
    std::string registry = dir.file("registry.reg");
    std::filesystem::create_directories(dir.file("sys"));
    WriteFileBytes(dir.file("test.bench"), "COM4 gps 57600\nCOM2 radar 9600 interval=100\n");
    Simulator simulator({"--registry", registry, dir.file("test.bench")});
    ASSERT_NE(simulator.WaitReady().find("ready\n"), std::string::npos) << simulator.Errors();
    {
        testsupport::ScopedEnv useRegistry("BELVANE_REGISTRY", registry.c_str());
        testsupport::ScopedEnv noHostDevices("BELVANE_SYSFS_ROOT", dir.file("sys").c_str());
        platform::StartDeviceManager();
        EXPECT_EQ(ListenThroughPlatform(u"COM4:", 57600), sim::SignatureScanner::Gps);
        EXPECT_EQ(ListenThroughPlatform(u"COM2:", 9600), sim::SignatureScanner::Radar);
        // Reopened at another rate, as the scan's next step does.
        // A second and a half hold about fifteen transmissions of the detector.
        EXPECT_EQ(ListenThroughPlatform(u"COM2:", 4800, 30), sim::SignatureScanner::None);
        EXPECT_EQ(ListenThroughPlatform(u"COM2:", 9600), sim::SignatureScanner::Radar);
    }
    EXPECT_EQ(simulator.Stop(SIGTERM), 0);
    platform::StartDeviceManager();
}

TEST(SimulatorProcessTest, BadBenchIsRefusedWithTheLineNumber) {
    TempDir dir;
    WriteFileBytes(dir.file("bad.bench"), "COM4 gps 57600\nCOM2 radra 9600\n");
    Simulator simulator({"--registry", dir.file("r.reg"), dir.file("bad.bench")});
    EXPECT_EQ(simulator.Wait(), 2);
    EXPECT_NE(simulator.Errors().find("bad.bench:2: unknown device kind \"radra\""),
              std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(dir.file("r.reg")));

    WriteFileBytes(dir.file("replay.bench"), "# capture missing\nCOM1 gps 4800 replay=none.log\n");
    Simulator replay({"--registry", dir.file("r.reg"), dir.file("replay.bench")});
    EXPECT_EQ(replay.Wait(), 2);
    EXPECT_NE(replay.Errors().find("replay.bench:2: cannot read capture " + dir.file("none.log")),
              std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(dir.file("r.reg")));
}

}  // namespace
