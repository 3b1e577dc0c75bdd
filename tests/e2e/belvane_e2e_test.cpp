// Belvane as its user meets it: the real program in a real terminal, the default bench of
// simulated devices, the sample virtual port driver beside it, and Belv.ini in either of the
// host program's two layouts.
#include <gtest/gtest.h>

#include <filesystem>
#include <ostream>
#include <sstream>
#include <string>

#include "support/simulator_process.h"
#include "support/test_support.h"
#include "support/tmux_session.h"

namespace {

namespace fs = std::filesystem;
using testsupport::ReadFileBytes;
using testsupport::WriteFileBytes;

struct Layout {
    const char* name;
    const char* before;
    const char* after;
    bool useMouse;
};

void PrintTo(const Layout& layout, std::ostream* out) {
    *out << "layout " << layout.name;
}

// The default bench: GPS receivers at 4800 on COM1 and at 57600 on COM4, a radar detector at
// 9600 on COM2, a silent port and a noisy one; every other index is free for the driver.
const char kReport[] =
    "GPS:com=1,4 buand=4800,57600;\nRadar:com=2 buand=9600;\nVirtual:com=9,3,7,8,0";

const Layout kLayouts[] = {
    {"A",
     "; kovu\n[GPS_COM]\ncom=com2\nbaud=4800\n[DYN_COM]\ncom=com3\nbaud=9600\n"
     "[VIRTUAL_COM]\ncom=com7\n",
     "; kovu\n[GPS_COM]\ncom=com1\nbaud=4800\n[DYN_COM]\ncom=com2\nbaud=9600\n"
     "[VIRTUAL_COM]\ncom=com9\n",
     false},
    {"B",
     "[GPS_COM]\nComPort=2\nBaudRate=4800\n[KOVU_COM]\nComPort=3\nBaudRate=9600\n"
     "[VIRTUAL_COM]\nComPort=7\n",
     "[GPS_COM]\nComPort=1\nBaudRate=4800\n[KOVU_COM]\nComPort=2\nBaudRate=9600\n"
     "[VIRTUAL_COM]\nComPort=9,3,7,8,0\n",
     true},
};

// The screen's lines joined without their trailing blanks, so that a report line that the
// edit box shows on one row can be found as it stands.
std::string Trimmed(const std::string& screen) {
    std::istringstream in(screen);
    std::string line, out;
    while (std::getline(in, line)) {
        line.erase(line.find_last_not_of(' ') + 1);
        size_t first = line.find_first_not_of(' ');
        out += (first == std::string::npos ? "" : line.substr(first)) + "\n";
    }
    return out;
}

class BelvaneEndToEnd : public ::testing::TestWithParam<Layout> {};

TEST_P(BelvaneEndToEnd, FindsTheBenchAndDeploysIntoTheFilesLayout) {
    const Layout& layout = GetParam();
    testsupport::TempDir dir;
    const std::string program = dir.file("kovu");
    fs::create_directories(program);
    fs::create_directories(dir.file("empty"));
    fs::copy_file(BELVANE_PROGRAM, program + "/Belvane");
    fs::copy_file(VIRTUAL_PORT_DRIVER, program + "/Morvex.dll");
    WriteFileBytes(program + "/Belv.ini", layout.before);
    testsupport::SimulatorProcess simulator(BELVANE_SIM_PROGRAM, dir.file("registry.reg"),
                                            DEFAULT_BENCH, dir.file("ready"));
    ASSERT_TRUE(simulator.WaitReady());

    testsupport::TmuxSession session(
        program + "/Belvane; echo \"exit=$?\"; sleep 60",
        {"BELVANE_REGISTRY=" + dir.file("registry.reg"), "BELVANE_SYSFS_ROOT=" + dir.file("empty"),
         "BELVANE_PROC_ROOT=" + dir.file("empty")},
        100, 30);
    ASSERT_TRUE(session.WaitFor("Is inspecting the port", 10000)) << session.Screen();
    ASSERT_TRUE(session.WaitFor("Virtual:com=", 90000)) << session.Screen();
    std::string screen = session.Screen();
    EXPECT_NE(Trimmed(screen).find(kReport), std::string::npos) << screen;

    int column = 0, row = 0;
    if (layout.useMouse) {
        ASSERT_TRUE(testsupport::FindOnRow(screen, "Cancel", "Belvane", &column, &row)) << screen;
        session.Click(column, row);
    } else {
        session.SendKeys("Tab");  // from the report box to the button
        session.SendKeys("Enter");
    }
    ASSERT_TRUE(session.WaitFor("Deploy Succeed", 10000)) << session.Screen();
    EXPECT_EQ(ReadFileBytes(program + "/Belv.ini"), layout.after);
    EXPECT_FALSE(fs::exists(program + "/config_tmp"));

    if (layout.useMouse) {
        ASSERT_TRUE(testsupport::FindOnRow(session.Screen(), "Cancel", "Cancel", &column, &row));
        session.Click(column, row);
    } else {
        session.SendKeys("Enter");  // the focus passed on to Cancel when the button was disabled
    }
    ASSERT_TRUE(session.WaitFor("exit=0", 10000)) << session.Screen();
}

// Belvane with the simulator's bench and an empty host: the report once the scan ends.
std::string ScanReport(const testsupport::TempDir& dir, const std::string& bench) {
    const std::string program = dir.file("kovu");
    fs::create_directories(program);
    fs::create_directories(dir.file("empty"));
    fs::copy_file(BELVANE_PROGRAM, program + "/Belvane");
    fs::copy_file(VIRTUAL_PORT_DRIVER, program + "/Morvex.dll");
    WriteFileBytes(program + "/Belv.ini", kLayouts[0].before);
    WriteFileBytes(dir.file("bench"), bench);
    testsupport::SimulatorProcess simulator(BELVANE_SIM_PROGRAM, dir.file("registry.reg"),
                                            dir.file("bench"), dir.file("ready"));
    if (!simulator.WaitReady()) return "simulator not ready";
    testsupport::TmuxSession session(
        program + "/Belvane; echo \"exit=$?\"; sleep 60",
        {"BELVANE_REGISTRY=" + dir.file("registry.reg"), "BELVANE_SYSFS_ROOT=" + dir.file("empty"),
         "BELVANE_PROC_ROOT=" + dir.file("empty")},
        100, 30);
    session.WaitFor("Virtual:com=", 120000);
    return Trimmed(session.Screen());
}

// A receiver plugged in while the scan runs is found at the next step, at its own rate,
// beside the one that was there from the start.
TEST(BelvaneDevicesThatComeAndGo, AReceiverPluggedInDuringTheScanIsFound) {
    testsupport::TempDir dir;
    std::string report = ScanReport(dir, "COM1 gps 4800\nCOM7 gps 57600 plug=5\n");
    EXPECT_NE(report.find("GPS:com=1,7 buand=4800,57600;"), std::string::npos) << report;
}

// A receiver pulled out during the scan and plugged back is still found.
TEST(BelvaneDevicesThatComeAndGo, AReceiverPulledOutAndPluggedBackIsFound) {
    testsupport::TempDir dir;
    std::string report = ScanReport(dir, "COM1 gps 4800\nCOM4 gps 57600 pull=3 plug=8\n");
    EXPECT_NE(report.find("GPS:com=1,4 buand=4800,57600;"), std::string::npos) << report;
}

std::string LayoutName(const ::testing::TestParamInfo<Layout>& param) {
    return param.param.name;
}

INSTANTIATE_TEST_SUITE_P(Layouts, BelvaneEndToEnd, ::testing::ValuesIn(kLayouts), LayoutName);

}  // namespace
