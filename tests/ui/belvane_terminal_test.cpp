// Belvane as its user meets it: the real program in a terminal, devices from the simulator.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "support/simulator_process.h"
#include "support/test_support.h"
#include "support/tmux_session.h"

namespace {

namespace fs = std::filesystem;
using testsupport::ReadFileBytes;
using testsupport::WriteFileBytes;

TEST(BelvaneTerminalTest, ScanReportDeploymentAndCancel) {
    testsupport::TempDir dir;
    const std::string program = dir.file("nav");
    fs::create_directories(program);
    fs::create_directories(dir.file("sys"));
    fs::create_directories(dir.file("proc"));
    // A copy, not a link: the program finds Belv.ini beside its own file.
    fs::copy_file(BELVANE_PROGRAM, program + "/Belvane");
    // The sample driver loads at every index: each port that does not open is free for it.
    fs::copy_file(VIRTUAL_PORT_DRIVER, program + "/Morvex.dll");
    WriteFileBytes(program + "/Belv.ini",
                   "[GPS_COM]\r\nComPort=3\r\nBaudRate=4800\r\n[KOVU_COM]\r\nComPort=5\r\n"
                   "BaudRate=4800\r\n[VIRTUAL_COM]\r\nComPort=7\r\n");
    WriteFileBytes(dir.file("test.bench"), "COM1 gps 4800\nCOM2 radar 9600 interval=200\n");
    testsupport::SimulatorProcess simulator(BELVANE_SIM_PROGRAM, dir.file("registry.reg"),
                                            dir.file("test.bench"), dir.file("ready"));
    ASSERT_TRUE(simulator.WaitReady());

    // After the program the shell shows its exit code and whether the terminal is back in
    // its line mode with echo.
    testsupport::TmuxSession session(
        program +
            "/Belvane; echo \"exit=$?\"; stty -a | tr ' ;' '\\n\\n' | "
            "grep -Ex -- '-?(icanon|echo)' | tr '\\n' ' '; echo modes-end; sleep 30",
        {"BELVANE_REGISTRY=" + dir.file("registry.reg"), "BELVANE_SYSFS_ROOT=" + dir.file("sys"),
         "BELVANE_PROC_ROOT=" + dir.file("proc")});
    ASSERT_TRUE(session.WaitFor("Is inspecting the port", 10000)) << session.Screen();
    ASSERT_TRUE(session.WaitFor("Radar:com=2 buand=9600;", 90000)) << session.Screen();
    std::string screen = session.Screen();
    EXPECT_NE(screen.find("GPS:com=1 buand=4800;"), std::string::npos) << screen;
    EXPECT_NE(screen.find("Virtual:com=4,6,9,3,5,7,8,0"), std::string::npos) << screen;
    EXPECT_EQ(screen.find("Is inspecting"), std::string::npos) << screen;

    int column = 0, row = 0;
    ASSERT_TRUE(testsupport::FindOnRow(screen, "Cancel", "Belvane", &column, &row)) << screen;
    session.Click(column, row);
    ASSERT_TRUE(session.WaitFor("Deploy Succeed, Please run kovu program", 10000))
        << session.Screen();
    EXPECT_EQ(ReadFileBytes(program + "/Belv.ini"),
              "[GPS_COM]\r\nComPort=1\nBaudRate=4800\n[KOVU_COM]\r\nComPort=2\n"
              "BaudRate=9600\n[VIRTUAL_COM]\r\nComPort=4,6,9,3,5,7,8,0\n");

    ASSERT_TRUE(testsupport::FindOnRow(session.Screen(), "Cancel", "Cancel", &column, &row));
    session.Click(column, row);
    ASSERT_TRUE(session.WaitFor("modes-end", 10000)) << session.Screen();
    screen = session.Screen();
    EXPECT_NE(screen.find("exit=0"), std::string::npos) << screen;
    EXPECT_NE(screen.find("icanon echo"), std::string::npos) << screen;
    EXPECT_EQ(screen.find("WM_Belvane"), std::string::npos) << "the dialog's screen is gone";
}

}  // namespace
