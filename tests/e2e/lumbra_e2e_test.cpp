// LumbraPorts as its user meets it: the real program in a real terminal lists the simulated
// ports of the default bench with their friendly names, in the list's sorted order.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "support/simulator_process.h"
#include "support/test_support.h"
#include "support/tmux_session.h"

namespace {

TEST(LumbraEndToEnd, ListsTheSimulatedPortsSortedAndEndsWithOk) {
    testsupport::TempDir dir;
    std::filesystem::create_directories(dir.file("empty"));
    testsupport::SimulatorProcess simulator(BELVANE_SIM_PROGRAM, dir.file("registry.reg"),
                                            DEFAULT_BENCH, dir.file("ready"));
    ASSERT_TRUE(simulator.WaitReady());
    testsupport::TmuxSession session(
        std::string(LUMBRA_PROGRAM) + "; echo \"exit=$?\"; sleep 60",
        {"BELVANE_REGISTRY=" + dir.file("registry.reg"), "BELVANE_SYSFS_ROOT=" + dir.file("empty"),
         "BELVANE_PROC_ROOT=" + dir.file("empty")});
    ASSERT_TRUE(session.WaitFor("COM6: - Simulated silent device", 10000)) << session.Screen();
    const std::string screen = session.Screen();
    const char* lines[] = {"COM1: - Simulated GPS receiver", "COM2: - Simulated radar detector",
                           "COM4: - Simulated GPS receiver", "COM5: - Simulated noisy line",
                           "COM6: - Simulated silent device"};
    size_t previous = 0;
    for (const char* line : lines) {
        size_t at = screen.find(line);
        ASSERT_NE(at, std::string::npos) << line << "\n" << screen;
        EXPECT_GT(at, previous) << line << " out of order\n" << screen;
        previous = at;
    }
    session.SendKeys("Enter");  // OK has the focus
    ASSERT_TRUE(session.WaitFor("exit=1", 10000)) << session.Screen();
}

}  // namespace
