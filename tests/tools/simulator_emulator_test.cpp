#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <string>

#include "tools/simulator/emulator.h"
#include "tools/simulator/pty_port.h"

namespace {

using sim::SignatureScanner;

sim::DeviceSpec Device(sim::DeviceKind kind, unsigned baud) {
    sim::DeviceSpec device;
    device.kind = kind;
    device.line.baud = baud;
    return device;
}

// What a listener set to `listener` receives from the device over `ms` milliseconds, in
// steps of 10 ms.
std::string Listen(sim::Emulator& emulator, long long& now, long long ms,
                   const sim::LineSettings& listener) {
    std::string received;
    for (long long end = now + ms; now < end;) {
        now += 10;
        received += sim::StepEmulator(emulator, now, listener, false);
    }
    return received;
}

TEST(EmulatorTest, GpsSpeaksOnlyToAListenerAtItsSettings) {
    sim::Emulator gps;
    sim::StartEmulator(gps, Device(sim::DeviceKind::Gps, 57600), {}, 0, 1700000000, 1);
    long long now = 0;
    std::string matched = Listen(gps, now, 3000, {57600, 8, 'N', 1});
    SignatureScanner scanner;
    EXPECT_EQ(scanner.FeedAll(matched), SignatureScanner::Gps);
    EXPECT_EQ(matched.substr(0, 7), "$GPGGA,");

    for (unsigned baud : {4800u, 9600u, 19200u, 115200u}) {
        std::string garbage = Listen(gps, now, 3000, {baud, 8, 'N', 1});
        SignatureScanner fresh;
        EXPECT_EQ(fresh.FeedAll(garbage), SignatureScanner::None) << baud;
        EXPECT_EQ(garbage.find("$GP"), std::string::npos) << baud;
        // A mismatched line still carries bytes, fewer when the listener is slower.
        EXPECT_GT(garbage.size(), 0u) << baud;
        EXPECT_LE(garbage.size(), matched.size() * std::min(baud, 57600u) / 57600 + 10) << baud;
    }
    // Two stop bits against one are a mismatch as well.
    SignatureScanner fresh;
    EXPECT_EQ(fresh.FeedAll(Listen(gps, now, 3000, {57600, 8, 'N', 2})), SignatureScanner::None);
}

TEST(EmulatorTest, PacesOutputAtTheLineRate) {
    sim::Emulator gps;
    sim::StartEmulator(gps, Device(sim::DeviceKind::Gps, 4800), {}, 0, 1700000000, 1);
    long long now = 0;
    // 4800 baud with ten bits a character carries 480 characters a second; the default
    // sentence set needs about 380 of them.
    std::string firstTenth = Listen(gps, now, 100, {4800, 8, 'N', 1});
    EXPECT_GE(firstTenth.size(), 40u);
    EXPECT_LE(firstTenth.size(), 50u);
    std::string rest = Listen(gps, now, 890, {4800, 8, 'N', 1});
    std::string burst = sim::GpsBurst(sim::GpsOptions{}, 1700000000);
    EXPECT_EQ(firstTenth + rest, burst);
}

TEST(EmulatorTest, OverfullLineLosesWholeSentencesOnly) {
    sim::DeviceSpec device = Device(sim::DeviceKind::Gps, 1200);  // 120 characters a second
    sim::Emulator gps;
    sim::StartEmulator(gps, device, {}, 0, 1700000000, 1);
    long long now = 0;
    std::string heard = Listen(gps, now, 600000, {1200, 8, 'N', 1});
    EXPECT_GT(heard.size(), 60000u);
    // Every sentence that arrives arrives whole.
    std::size_t start = 0, sentences = 0;
    while ((start = heard.find('$', start)) != std::string::npos) {
        std::size_t end = heard.find("\r\n", start);
        if (end == std::string::npos) break;  // the one still being sent
        ASSERT_TRUE(sim::NmeaChecksumValid(heard.substr(start, end - start)))
            << heard.substr(start, end - start);
        ++sentences;
        start = end;
    }
    EXPECT_GT(sentences, 800u);
}

TEST(EmulatorTest, RadarSendsSignaturesAtItsInterval) {
    sim::DeviceSpec device = Device(sim::DeviceKind::Radar, 9600);
    device.intervalMs = 250;
    sim::Emulator radar;
    sim::StartEmulator(radar, device, {}, 0, 0, 1);
    long long now = 0;
    std::string heard = Listen(radar, now, 990, {9600, 8, 'N', 1});
    EXPECT_EQ(heard, sim::RadarBurst(sim::RadarMode::Frames, 0) +
                         sim::RadarBurst(sim::RadarMode::Frames, 1) +
                         sim::RadarBurst(sim::RadarMode::Frames, 2) +
                         sim::RadarBurst(sim::RadarMode::Frames, 3));
    SignatureScanner scanner;
    EXPECT_EQ(scanner.FeedAll(Listen(radar, now, 5000, {57600, 8, 'N', 1})),
              SignatureScanner::None);
}

TEST(EmulatorTest, NoiseIsNeverADeviceAndSilenceIsSilent) {
    sim::DeviceSpec device = Device(sim::DeviceKind::Noise, 9600);
    device.intervalMs = 20;
    sim::Emulator noise, silent;
    sim::StartEmulator(noise, device, {}, 0, 0, 5);
    sim::StartEmulator(silent, Device(sim::DeviceKind::Silent, 9600), {}, 0, 0, 5);
    long long now = 0, silentNow = 0;
    SignatureScanner scanner;
    std::size_t total = 0;
    for (unsigned baud : {4800u, 9600u, 57600u, 19200u}) {
        std::string heard = Listen(noise, now, 60000, {baud, 8, 'N', 1});
        total += heard.size();
        EXPECT_EQ(scanner.FeedAll(heard), SignatureScanner::None) << baud;
        EXPECT_EQ(Listen(silent, silentNow, 5000, {baud, 8, 'N', 1}), "") << baud;
    }
    EXPECT_GT(total, 100000u);
}

TEST(EmulatorTest, ReplaysCaptureBurstsOncePerSecondInOrder) {
    sim::Emulator replay;
    sim::StartEmulator(replay, Device(sim::DeviceKind::Gps, 4800),
                       {"$GPRMC,first*00\r\n", "$GPRMC,second*00\r\n"}, 0, 0, 1);
    long long now = 0;
    EXPECT_EQ(Listen(replay, now, 2990, {4800, 8, 'N', 1}),
              "$GPRMC,first*00\r\n$GPRMC,second*00\r\n$GPRMC,first*00\r\n");
}

// Runs the port for up to `steps` steps of 20 ms of device time, reading what reaches the
// slave end, until `enough` says so.
template <typename Enough>
std::string ReadSlave(int fd, sim::PtyPort& port, sim::Emulator& emulator, long long& now,
                      int steps, Enough enough) {
    std::string received;
    for (int step = 0; step < steps && !enough(received); ++step) {
        now += 20;
        sim::ServicePort(port, emulator, now);
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, 5) <= 0) continue;
        char buffer[1024];
        ssize_t n = read(fd, buffer, sizeof buffer);
        if (n > 0) received.append(buffer, static_cast<std::size_t>(n));
    }
    return received;
}

void SetSlave(int fd, unsigned baud) {
    termios t{};
    ASSERT_EQ(tcgetattr(fd, &t), 0);
    cfmakeraw(&t);
    sim::ApplySettings(t, {baud, 8, 'N', 1});
    ASSERT_EQ(tcsetattr(fd, TCSANOW, &t), 0);
    tcflush(fd, TCIFLUSH);
}

TEST(PtyPortTest, DeviceOnAPseudoTerminalSpeaksOnlyAtItsOwnRate) {
    sim::PtyPort port;
    std::string error;
    ASSERT_TRUE(sim::OpenPtyPort(port, error)) << error;
    sim::Emulator gps;
    sim::StartEmulator(gps, Device(sim::DeviceKind::Gps, 57600), {}, 0, 1700000000, 3);
    long long now = 0;

    // Opened the way a serial program opens its port.
    int fd = open(port.slavePath.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(fd, 0);
    SetSlave(fd, 57600);
    auto hasRmc = [](const std::string& s) { return s.find("$GPRMC,") != std::string::npos; };
    std::string matched = ReadSlave(fd, port, gps, now, 400, hasRmc);
    EXPECT_TRUE(hasRmc(matched)) << matched;

    SetSlave(fd, 9600);
    // Three seconds of device time: three bursts, each with an RMC sentence.
    std::string garbage =
        ReadSlave(fd, port, gps, now, 150, [](const std::string&) { return false; });
    SignatureScanner scanner;
    EXPECT_EQ(scanner.FeedAll(garbage), SignatureScanner::None);
    EXPECT_GT(garbage.size(), 0u);

    // Closing and reopening keeps the line: the simulator holds its own slave descriptor.
    close(fd);
    fd = open(port.slavePath.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(fd, 0);
    SetSlave(fd, 57600);
    EXPECT_TRUE(hasRmc(ReadSlave(fd, port, gps, now, 400, hasRmc)));
    close(fd);
    sim::ClosePtyPort(port);
    EXPECT_EQ(port.master, -1);
}

TEST(PtyPortTest, ListenerSettingsAreReadFromTheMasterEnd) {
    sim::PtyPort port;
    std::string error;
    ASSERT_TRUE(sim::OpenPtyPort(port, error)) << error;
    int fd = open(port.slavePath.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(fd, 0);
    for (unsigned baud : {4800u, 9600u, 57600u, 19200u}) {
        SetSlave(fd, baud);
        auto seen = sim::ListenerSettings(port);
        ASSERT_TRUE(seen);
        EXPECT_EQ(seen->baud, baud);
    }
    close(fd);
    sim::ClosePtyPort(port);
}

}  // namespace
