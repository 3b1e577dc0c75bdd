// Deployments into both layouts of Belv.ini, with the bytes each must leave: the same
// source runs on Linux and under Wine, so that both builds write the same files.
#include "config/deploy.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "deploy_fixture.h"
#include "platform/io/file_guard.h"

namespace {

using configtest::DeployTest;
using configtest::FakeScan;
using configtest::First;
using configtest::Next;
using configtest::scan;
using configtest::String;

TEST_F(DeployTest, LayoutAExampleEndsWithTheFoundPorts) {
    ExampleBench();
    Put("; kovu settings\r\n[GPS_COM]\ncom=com2\nbaud=4800\n[DYN_COM]\ncom=com3\nbaud=9600\n"
        "[VIRTUAL_COM]\ncom=com7\n[OTHER]\nx=1");
    EXPECT_EQ(Deploy(), 0);
    EXPECT_EQ(Bytes(),
              "; kovu settings\r\n[GPS_COM]\ncom=com1\nbaud=9600\n[DYN_COM]\ncom=com2\nbaud=4800\n"
              "[VIRTUAL_COM]\ncom=com6\n[OTHER]\nx=1");
    EXPECT_EQ(String(failures), TEXT(""));
}

TEST_F(DeployTest, LayoutBExampleEndsWithTheFoundPorts) {
    ExampleBench();
    Put("[GPS_COM]\nComPort=2\nBaudRate=4800\n[KOVU_COM]\nComPort=3\nBaudRate=9600\n"
        "[VIRTUAL_COM]\nComPort=7\n");
    EXPECT_EQ(Deploy(), 0);
    EXPECT_EQ(Bytes(),
              "[GPS_COM]\nComPort=1\nBaudRate=9600\n[KOVU_COM]\nComPort=2\nBaudRate=4800\n"
              "[VIRTUAL_COM]\nComPort=6,9\n");
}

TEST_F(DeployTest, OnlyALowerCaseCSelectsLayoutA) {
    scan.ports = {{1, 4800, 2}};
    Put("[GPS_COM]\ncom=Com1\n");
    EXPECT_EQ(Deploy(), 0);
    EXPECT_EQ(Bytes(), "[GPS_COM]\ncom=Com1\nComPort=1\nBaudRate=4800\n");
    Put("[GPS_COM]\ncom=c\n");
    EXPECT_EQ(Deploy(), 0);
    EXPECT_EQ(Bytes(), "[GPS_COM]\ncom=com1\nbaud=4800\n");
}

TEST_F(DeployTest, RadarTestReadsDynComButLayoutBWritesKovuCom) {
    scan.ports = {{1, 9600, 2}, {2, 4800, 3}};
    Put("[GPS_COM]\ncom=com2\n[KOVU_COM]\n");
    EXPECT_EQ(Deploy(), 0);
    EXPECT_EQ(Bytes(), "[GPS_COM]\ncom=com1\nbaud=9600\n[KOVU_COM]\nComPort=2\nBaudRate=4800\n");
}

TEST_F(DeployTest, OneFreeVirtualPortHasNoCommaAndNoneLeavesTheSectionAlone) {
    scan.ports = {{6, 0, 4}};
    Put("[VIRTUAL_COM]\nComPort=7\n");
    EXPECT_EQ(Deploy(), 0);
    EXPECT_EQ(Bytes(), "[VIRTUAL_COM]\nComPort=6\n");
    scan.ports = {};
    Put("[VIRTUAL_COM]\nComPort=7\n");
    EXPECT_EQ(Deploy(), 0);
    EXPECT_EQ(Bytes(), "[VIRTUAL_COM]\nComPort=7\n");
}

TEST_F(DeployTest, EveryFailedWriteIsReportedAndTheOthersStillRun) {
    ExampleBench();
    // No radar section of either layout: both radar writes fail, the rest succeed.
    Put("[GPS_COM]\nComPort=2\n[VIRTUAL_COM]\n");
    EXPECT_EQ(Deploy(), 2);
    EXPECT_EQ(String(failures), TEXT("Not written: [KOVU_COM] ComPort (section missing)\r\n")
                                    TEXT("Not written: [KOVU_COM] BaudRate (section missing)\r\n"));
    EXPECT_EQ(Bytes(), "[GPS_COM]\nComPort=1\nBaudRate=9600\n[VIRTUAL_COM]\nComPort=6,9\n");
}

TEST_F(DeployTest, MissingFileFailsEveryWriteAndCreatesNothing) {
    ExampleBench();
    EXPECT_EQ(Deploy(), 5);
    EXPECT_FALSE(std::filesystem::exists(ini));
    EXPECT_FALSE(TempLeft());
    WCHAR tiny[8];
    EXPECT_EQ(DeployFindings(W(ini).c_str(), First, Next, tiny, 8), 5);
    EXPECT_EQ(String(tiny), TEXT("Not wri"));  // cut, never overrun
}

constexpr WCHAR kBusy[] = TEXT("Not written: Belv.ini is busy: another program is writing it\r\n");

TEST_F(DeployTest, ASecondDeploymentWaitsThenReportsTheFileBusy) {
    ExampleBench();
    const std::string layoutB = "[GPS_COM]\nComPort=2\n";
    Put(layoutB);
    const platform::ExclusiveFileLock first(W(ini + ".lock").c_str(), 0);
    ASSERT_TRUE(first.Held());
    EXPECT_EQ(DeployFindingsWaiting(W(ini).c_str(), First, Next, failures, 1024, 50), 1);
    EXPECT_EQ(String(failures), kBusy);
    EXPECT_EQ(Bytes(), layoutB);
    EXPECT_FALSE(TempLeft());
}

}  // namespace
