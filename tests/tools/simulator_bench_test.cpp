#include <gtest/gtest.h>
#include <termios.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "tools/simulator/bench.h"
#include "tools/simulator/line_settings.h"
#include "tools/simulator/replay.h"

namespace {

sim::Bench Parse(const std::string& text) {
    return sim::ParseBench(text, "test.bench", "/benches");
}

// The single error of parsing text; fails the test when there is not exactly one.
std::string OnlyError(const std::string& text) {
    sim::Bench bench = Parse(text);
    EXPECT_EQ(bench.errors.size(), 1u) << text;
    return bench.errors.empty() ? std::string() : bench.errors.front();
}

TEST(BenchTest, AcceptsTheDocumentedForms) {
    sim::Bench bench = Parse(
        "# a bench\n"
        "COM4 gps 9600\n"
        "\n"
        "  COM2 radar 57600   # detector on the dashboard\n"
        "COM1 gps 4800 replay=captures/tn200.log\n"
        "COM5 noise 9600 interval=200\n"
        "com6 silent 9600 7E2\n"
        "COM7 gps 19200 8N1 talker=GN sentences=RMC,GGA,GSV\n"
        "COM8 radar 9600 mode=triples interval=250\n");
    ASSERT_TRUE(bench.errors.empty()) << bench.errors.front();
    ASSERT_EQ(bench.devices.size(), 7u);
    const sim::DeviceSpec& gps = bench.devices[0];
    EXPECT_EQ(gps.comIndex, 4);
    EXPECT_EQ(gps.kind, sim::DeviceKind::Gps);
    EXPECT_EQ(gps.line.baud, 9600u);
    EXPECT_EQ(sim::FormatFraming(gps.line), "8N1");
    EXPECT_EQ(gps.gps.talker, "GP");
    EXPECT_EQ(gps.lineNumber, 2);
    EXPECT_EQ(bench.devices[1].kind, sim::DeviceKind::Radar);
    EXPECT_EQ(bench.devices[1].lineNumber, 4);
    EXPECT_EQ(bench.devices[2].replayPath, "/benches/captures/tn200.log");
    EXPECT_EQ(bench.devices[3].intervalMs, 200u);
    EXPECT_EQ(bench.devices[4].comIndex, 6);
    EXPECT_EQ(sim::FormatFraming(bench.devices[4].line), "7E2");
    EXPECT_EQ(bench.devices[4].line.baud, 9600u);
    EXPECT_EQ(bench.devices[5].gps.talker, "GN");
    EXPECT_EQ(bench.devices[5].gps.sentences, (std::vector<std::string>{"RMC", "GGA", "GSV"}));
    EXPECT_EQ(bench.devices[6].radarMode, sim::RadarMode::Triples);
    EXPECT_EQ(bench.devices[6].intervalMs, 250u);
}

TEST(BenchTest, RejectsBadLinesNamingTheLine) {
    EXPECT_EQ(OnlyError("COM4 gps 9600\nCOMX gps 9600\n").rfind("test.bench:2: ", 0), 0u);
    EXPECT_NE(OnlyError("COM4 gsp 9600").find("test.bench:1: unknown device kind \"gsp\""),
              std::string::npos);
    EXPECT_NE(OnlyError("COM4 gps 9601").find(":1: \"9601\" is not a standard baud rate"),
              std::string::npos);
    EXPECT_NE(OnlyError("COM4 gps").find("missing baud rate"), std::string::npos);
    EXPECT_NE(OnlyError("COM4").find("missing device kind"), std::string::npos);
    EXPECT_NE(OnlyError("COM4 gps 9600 9N1").find("unexpected \"9N1\""), std::string::npos);
    EXPECT_NE(OnlyError("COM4 gps 9600 8N1 8N1").find("unexpected"), std::string::npos);
    EXPECT_NE(OnlyError("COM4 gps 9600 talker=gps").find("talker"), std::string::npos);
    EXPECT_NE(OnlyError("COM4 gps 9600 sentences=RMC,XYZ").find("\"XYZ\""), std::string::npos);
    EXPECT_NE(OnlyError("COM4 gps 9600 sentences=RMC,RMC").find("twice"), std::string::npos);
    EXPECT_NE(OnlyError("COM4 gps 9600 mode=frames").find("does not apply to a gps"),
              std::string::npos);
    EXPECT_NE(OnlyError("COM4 silent 9600 interval=100").find("does not apply"), std::string::npos);
    EXPECT_NE(OnlyError("COM4 radar 9600 mode=pairs").find("frames or triples"), std::string::npos);
    EXPECT_NE(OnlyError("COM4 radar 9600 interval=5").find("interval"), std::string::npos);
    EXPECT_NE(OnlyError("COM4 gps 9600 replay=a.log talker=GN").find("replayed"),
              std::string::npos);
    EXPECT_NE(OnlyError("COM256 gps 9600").find("COM0 to COM255"), std::string::npos);
    EXPECT_NE(OnlyError("# nothing\n\n").find("describes no device"), std::string::npos);
}

// Plugging in and pulling out: whether the device is there at start follows from the order.
TEST(BenchTest, PlugAndPullTimesDecideWhetherADeviceIsThereAtStart) {
    sim::Bench bench = Parse(
        "COM1 gps 4800\nCOM2 gps 57600 plug=5\nCOM3 radar 9600 pull=3 plug=8.5\n"
        "COM4 silent 9600 plug=1 pull=2\nCOM5 noise 9600 pull=0.25\n");
    ASSERT_TRUE(bench.errors.empty()) << bench.errors.front();
    const bool present[] = {true, false, true, false, true};
    for (std::size_t i = 0; i < 5; ++i)
        EXPECT_EQ(bench.devices[i].PresentAtStart(), present[i]) << i;
    EXPECT_EQ(bench.devices[1].plugMs, 5000);
    EXPECT_EQ(bench.devices[2].plugMs, 8500);
    EXPECT_EQ(bench.devices[4].pullMs, 250);
    EXPECT_NE(OnlyError("COM4 gps 9600 plug=-1").find("plug must be"), std::string::npos);
    EXPECT_NE(OnlyError("COM4 gps 9600 pull=soon").find("pull must be"), std::string::npos);
    EXPECT_NE(OnlyError("COM4 gps 9600 plug=2 pull=2").find("same time"), std::string::npos);
}

TEST(BenchTest, ReportsEveryBadLineAndDuplicatePorts) {
    sim::Bench bench = Parse("COM1 gps 4800\nCOM2 radar x\nCOM1 noise 9600\nCOM3 fog 9600\n");
    ASSERT_EQ(bench.errors.size(), 3u);
    EXPECT_EQ(bench.errors[0].rfind("test.bench:2: ", 0), 0u);
    EXPECT_EQ(bench.errors[1], "test.bench:3: COM1 is already described on line 1");
    EXPECT_EQ(bench.errors[2].rfind("test.bench:4: ", 0), 0u);
}

TEST(BenchTest, ShippedDefaultBenchIsValidAndItsCapturesLoad) {
    std::string dir = BELVANE_SIM_SOURCE_DIR;
    std::ifstream in(dir + "/default.bench");
    ASSERT_TRUE(in);
    std::stringstream text;
    text << in.rdbuf();
    sim::Bench bench = sim::ParseBench(text.str(), "default.bench", dir);
    ASSERT_TRUE(bench.errors.empty()) << bench.errors.front();
    bool gps57600 = false, radar = false;
    for (const sim::DeviceSpec& device : bench.devices) {
        gps57600 = gps57600 || (device.kind == sim::DeviceKind::Gps && device.line.baud == 57600);
        radar = radar || device.kind == sim::DeviceKind::Radar;
        if (device.replayPath.empty()) continue;
        std::vector<std::string> bursts;
        std::string error;
        EXPECT_TRUE(sim::LoadCapture(device.replayPath, bursts, error)) << error;
    }
    EXPECT_TRUE(gps57600);
    EXPECT_TRUE(radar);
    EXPECT_TRUE(std::filesystem::exists(dir + "/captures/COPYING.gpsd"));
}

TEST(LineSettingsTest, FramingTextRoundTrips) {
    for (const char* text : {"8N1", "7E1", "8O2", "5M1", "6S2"}) {
        auto line = sim::ParseFraming(text, 4800);
        ASSERT_TRUE(line) << text;
        EXPECT_EQ(sim::FormatFraming(*line), text);
        EXPECT_EQ(line->baud, 4800u);
    }
    for (const char* text : {"4N1", "9N1", "8X1", "8N3", "8N", "8n1x"})
        EXPECT_FALSE(sim::ParseFraming(text, 4800)) << text;
}

TEST(LineSettingsTest, TermiosRoundTripsAndMatchesOnlyTheDevicesSettings) {
    for (const char* text : {"8N1", "7E1", "8O2", "5M1", "6S2"}) {
        sim::LineSettings line = *sim::ParseFraming(text, 57600);
        termios t{};
        sim::ApplySettings(t, line);
        sim::LineSettings back = sim::SettingsFromTermios(t);
        EXPECT_EQ(back.baud, 57600u);
        EXPECT_EQ(sim::FormatFraming(back), text);
        EXPECT_TRUE(sim::SettingsMatch(line, back, true));
    }
    sim::LineSettings device{57600, 8, 'N', 1};
    EXPECT_FALSE(sim::SettingsMatch(device, {9600, 8, 'N', 1}, true));
    EXPECT_FALSE(sim::SettingsMatch(device, {57600, 8, 'N', 2}, false));
    EXPECT_FALSE(sim::SettingsMatch(device, {57600, 7, 'E', 1}, true));
    // Where byte size and parity cannot be seen they cannot tell the settings apart.
    EXPECT_TRUE(sim::SettingsMatch(device, {57600, 7, 'E', 1}, false));
}

TEST(ReplayTest, DropsNotesAndCutsAtTheOpeningSentence) {
    std::string capture =
        "# Name: a receiver\n"
        "$GPGGA,1*00\r\n$GPRMC,1*00\r\n"
        "#  a note in the middle\n"
        "$GPGGA,2*00\r\n$GPGSA,2*00\r\n$GPRMC,2*00\r\n"
        "$GPGGA,3*00\r\n";
    std::vector<std::string> bursts = sim::SplitCapture(capture);
    ASSERT_EQ(bursts.size(), 3u);
    EXPECT_EQ(bursts[0], "$GPGGA,1*00\r\n$GPRMC,1*00\r\n");
    EXPECT_EQ(bursts[1], "$GPGGA,2*00\r\n$GPGSA,2*00\r\n$GPRMC,2*00\r\n");
    EXPECT_EQ(bursts[2], "$GPGGA,3*00\r\n");
}

TEST(ReplayTest, BinaryOutputIsCutIntoEqualPieces) {
    std::string capture = "# SiRF binary\n" + std::string(600, '\xA0');
    std::vector<std::string> bursts = sim::SplitCapture(capture, 256);
    ASSERT_EQ(bursts.size(), 3u);
    EXPECT_EQ(bursts[2].size(), 88u);
    EXPECT_TRUE(sim::SplitCapture("# only notes\n").empty());
}

TEST(ReplayTest, ShippedCapturesSplitIntoSecondsWithRmc) {
    std::vector<std::string> bursts;
    std::string error;
    ASSERT_TRUE(sim::LoadCapture(std::string(BELVANE_SIM_SOURCE_DIR) + "/captures/tn200.log",
                                 bursts, error))
        << error;
    EXPECT_GT(bursts.size(), 15u);
    for (const std::string& burst : bursts) {
        EXPECT_EQ(burst.front(), '$');
        EXPECT_EQ(burst.find('#'), std::string::npos);
    }
    EXPECT_NE(bursts[1].find("$GPRMC,"), std::string::npos);
    EXPECT_FALSE(sim::LoadCapture("/nonexistent/capture.log", bursts, error));
    EXPECT_NE(error.find("/nonexistent/capture.log"), std::string::npos);
}

}  // namespace
