#include "config/deploy.h"

#include <gtest/gtest.h>

#include <vector>

#include "profile_fixture.h"

namespace {

// A finished scan as the deployment sees it: ports by type, in preference order.
struct FakeScan {
    struct Port {
        int index, baud, type;
    };
    std::vector<Port> ports;  // already in preference order
    size_t cursor = 0;
    int reads = 0;
};
FakeScan scan;

int Next(int* port, int* baud, int type) {
    while (scan.cursor < scan.ports.size()) {
        const FakeScan::Port& p = scan.ports[scan.cursor++];
        if (p.type == type) {
            *port = p.index;
            if (baud) *baud = p.baud;
            return 1;
        }
    }
    *port = -1;
    if (baud) *baud = 0;
    return 0;
}

int First(int* baud, int type) {
    scan.cursor = 0;
    int port = -1;
    Next(&port, baud, type);
    return port;
}

class DeployTest : public configtest::ProfileFileTest {
  protected:
    void SetUp() override {
        ProfileFileTest::SetUp();
        scan = FakeScan{};
    }
    int Deploy() {
        failures[0] = 0;
        return DeployFindings(W(ini).c_str(), First, Next, failures, 1024);
    }
    // The example bench: GPS on COM1 at 9600 and COM4 at 4800, radar on COM2 at 4800,
    // the virtual port driver free at 6 and 9.
    void ExampleBench() {
        scan.ports = {{1, 9600, 2}, {4, 4800, 2}, {6, 0, 4}, {2, 4800, 3}, {9, 0, 4}};
    }
    WCHAR failures[1024];
};

TEST_F(DeployTest, LayoutAExampleEndsWithTheFoundPorts) {
    ExampleBench();
    Put("; kovu settings\r\n[GPS_COM]\ncom=com2\nbaud=4800\n[DYN_COM]\ncom=com3\nbaud=9600\n"
        "[VIRTUAL_COM]\ncom=com7\n[OTHER]\nx=1");
    EXPECT_EQ(Deploy(), 0);
    EXPECT_EQ(Bytes(),
              "; kovu settings\r\n[GPS_COM]\ncom=com1\nbaud=9600\n[DYN_COM]\ncom=com2\nbaud=4800\n"
              "[VIRTUAL_COM]\ncom=com6\n[OTHER]\nx=1");
    EXPECT_EQ(std::u16string(failures), u"");
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
    EXPECT_EQ(std::u16string(failures),
              u"Not written: [KOVU_COM] ComPort (section missing)\r\n"
              u"Not written: [KOVU_COM] BaudRate (section missing)\r\n");
    EXPECT_EQ(Bytes(), "[GPS_COM]\nComPort=1\nBaudRate=9600\n[VIRTUAL_COM]\nComPort=6,9\n");
}

TEST_F(DeployTest, MissingFileFailsEveryWriteAndCreatesNothing) {
    ExampleBench();
    EXPECT_EQ(Deploy(), 5);
    EXPECT_FALSE(std::filesystem::exists(ini));
    EXPECT_FALSE(TempLeft());
    WCHAR tiny[8];
    EXPECT_EQ(DeployFindings(W(ini).c_str(), First, Next, tiny, 8), 5);
    EXPECT_EQ(std::u16string(tiny), u"Not wri");  // cut, never overrun
}

}  // namespace
