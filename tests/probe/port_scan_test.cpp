#include "probe/port_scan.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <vector>

#include "platform/base/handles.h"
#include "platform/io/files.h"
#include "probe/classifier.h"
#include "scan_support.h"
#include "serial/shared_field.h"

namespace {

using probetest::kGpsLine;
using probetest::kRadarBytes;
using probetest::Notification;
using probetest::Talker;
using probetest::WaitUntil;

int Read(const int& field) {
    return serial_detail::LoadShared(field, std::memory_order_acquire);
}

int State(int port) {
    return Read(CurrentPortScan()->portState[port]);
}
int Found(int port) {
    return Read(CurrentPortScan()->foundBaud[port]);
}
bool IsOpen(int port) {
    return CurrentPortScan()->channels[port].port != nullptr;
}

int Count(const std::vector<Notification>& list, Notification n) {
    return static_cast<int>(std::count(list.begin(), list.end(), n));
}

std::vector<Notification> Without(std::vector<Notification> list, WPARAM code) {
    list.erase(std::remove_if(list.begin(), list.end(),
                              [code](const Notification& n) { return n.first == code; }),
               list.end());
    return list;
}

const Notification kNext4800{NOTIFY_NEXT_BAUD, 4800};
const Notification kNext9600{NOTIFY_NEXT_BAUD, 9600};
const Notification kNext57600{NOTIFY_NEXT_BAUD, 57600};
const Notification kNext19200{NOTIFY_NEXT_BAUD, 19200};
const Notification kFinished{NOTIFY_FINISHED, 0};
const Notification kFoundGps{NOTIFY_FOUND, PORT_GPS};
const Notification kFoundRadar{NOTIFY_FOUND, PORT_RADAR};

class PortScanTest : public ::testing::Test {
  protected:
    // The manual clock keeps the scan's own timer from firing unless a test moves it.
    void SetUp() override {
        platform::UseManualClock();
        // The port windows live for the whole process: clear out what earlier tests left.
        for (int port = 0; port < PORT_COUNT; ++port) {
            for (int i = 0; i < 6; ++i) ClassifyPortByte(port, 'x');
        }
    }
    void TearDown() override {
        talkers_.clear();
        StopPortScan();
        platform::UseRealClock();
    }

    testsupport::PtyPair& Port(int index) { return env_.AddPort(index); }
    void Talk(int index, const std::string& line, unsigned baud) {
        talkers_.push_back(std::make_unique<Talker>(Port(index), line, baud));
    }
    void Tick() { OnScanTimer(nullptr, 0, 0, 0); }
    bool Start() { return StartPortScan(window_.hwnd(), 1) == 1; }

    probetest::ScanEnvironment env_;
    probetest::NotifyWindow window_;
    std::vector<std::unique_ptr<Talker>> talkers_;
};

TEST_F(PortScanTest, NoPortOpensLeavesNoScanAndPostsNothing) {
    EXPECT_EQ(StartPortScan(window_.hwnd(), 1), 0);
    EXPECT_EQ(CurrentPortScan(), nullptr);
    int baud = 7;
    EXPECT_EQ(FirstPortOfType(&baud, PORT_UNUSABLE), -1);
    platform::AdvanceClock(30000);
    EXPECT_TRUE(window_.Pump().empty()) << "no timer may be left behind";
}

TEST_F(PortScanTest, SecondStartChangesNothing) {
    Talk(4, "quiet", 0);
    ASSERT_TRUE(Start());
    PortScan* first = CurrentPortScan();
    EXPECT_EQ(StartPortScan(window_.hwnd(), 2), 0);
    EXPECT_EQ(CurrentPortScan(), first);
    EXPECT_EQ(first->timerId, 1u);
    EXPECT_EQ(window_.Pump(), std::vector<Notification>{kNext4800});
}

TEST_F(PortScanTest, TimerWalksTheLadderAndFinishesOnce) {
    auto& pty = Port(4);
    ASSERT_TRUE(Start());
    std::vector<unsigned> lineRates{pty.SlaveBaud()};
    for (int step = 0; step < 6; ++step) {
        platform::AdvanceClock(10000);
        window_.Pump();
        lineRates.push_back(pty.SlaveBaud());
    }
    EXPECT_EQ(window_.Pump(),
              (std::vector<Notification>{kNext4800, kNext9600, kNext57600, kNext19200, kFinished}));
    EXPECT_EQ(lineRates, (std::vector<unsigned>{4800, 9600, 57600, 19200, 19200, 19200, 19200}));
    EXPECT_EQ(State(4), PORT_PROBING);
    EXPECT_TRUE(IsOpen(4)) << "the last rate keeps listening";
    EXPECT_EQ(State(0), PORT_UNUSABLE) << "no driver library beside the tests";
}

TEST_F(PortScanTest, SinglePortRecognisedAt4800FinishesAtFirstTick) {
    Talk(3, kGpsLine, 4800);
    ASSERT_TRUE(Start());
    ASSERT_TRUE(WaitUntil([] { return State(3) == PORT_GPS; }));
    EXPECT_EQ(Found(3), 4800);
    Tick();
    EXPECT_FALSE(IsOpen(3));
    EXPECT_EQ(State(3), PORT_GPS);
    auto posted = window_.Pump();
    EXPECT_GE(Count(posted, kFoundGps), 1);
    EXPECT_EQ(Without(posted, NOTIFY_FOUND), (std::vector<Notification>{kNext4800, kFinished}));
}

TEST_F(PortScanTest, GpsSpeakingOnlyAt57600IsFoundAtThatRate) {
    Talk(2, kGpsLine, 57600);
    Talk(5, "nothing to see", 0);
    ASSERT_TRUE(Start());
    Tick();
    Tick();
    ASSERT_TRUE(WaitUntil([] { return State(2) == PORT_GPS; }));
    EXPECT_EQ(Found(2), 57600);
    EXPECT_TRUE(IsOpen(2));
    Tick();
    EXPECT_FALSE(IsOpen(2)) << "a decided port is closed at the next tick";
    EXPECT_EQ(Found(2), 57600);
    EXPECT_EQ(State(5), PORT_PROBING);
    Tick();
    EXPECT_FALSE(IsOpen(2));
    EXPECT_EQ(Without(window_.Pump(), NOTIFY_FOUND),
              (std::vector<Notification>{kNext4800, kNext9600, kNext57600, kNext19200, kFinished}));
}

TEST_F(PortScanTest, LateDeviceAfterFinishIsMarkedAt19200) {
    auto& pty = Port(6);
    ASSERT_TRUE(Start());
    for (int i = 0; i < 4; ++i) Tick();
    auto before = window_.Pump();
    ASSERT_EQ(before.back(), kFinished);
    Talker late(pty, std::string(kRadarBytes), 0);
    ASSERT_TRUE(WaitUntil([] { return State(6) == PORT_RADAR; }));
    EXPECT_EQ(Found(6), 19200);
    late.Stop();
    auto after = window_.Pump();
    ASSERT_GT(after.size(), before.size());
    EXPECT_EQ(after[before.size()], kFoundRadar);
}

TEST_F(PortScanTest, PortsOfATypeComeInPreferenceOrder) {
    Talk(0, kGpsLine, 0);
    Talk(1, kGpsLine, 0);
    Talk(6, kRadarBytes, 0);
    ASSERT_TRUE(Start());
    ASSERT_TRUE(WaitUntil(
        [] { return State(0) == PORT_GPS && State(1) == PORT_GPS && State(6) == PORT_RADAR; }));

    int baud = -5, port = -5;
    EXPECT_EQ(FirstPortOfType(&baud, PORT_GPS), 1);
    EXPECT_EQ(baud, 4800);
    EXPECT_EQ(NextPortOfType(&port, &baud, PORT_GPS), 1);
    EXPECT_EQ(port, 0) << "COM0 comes last";
    EXPECT_EQ(NextPortOfType(&port, &baud, PORT_GPS), 0);
    EXPECT_EQ(port, -1);
    EXPECT_EQ(baud, 0);
    port = 42;
    EXPECT_EQ(NextPortOfType(&port, nullptr, PORT_GPS), 0) << "stays exhausted";
    EXPECT_EQ(port, -1);

    std::vector<int> unusable;
    for (int p = FirstPortOfType(&baud, PORT_UNUSABLE); p >= 0;
         p = NextPortOfType(&port, &baud, PORT_UNUSABLE) ? port : -1) {
        unusable.push_back(p);
        EXPECT_EQ(baud, 0);
    }
    EXPECT_EQ(unusable, (std::vector<int>{4, 2, 9, 3, 5, 7, 8}));
    EXPECT_EQ(FirstPortOfType(nullptr, PORT_RADAR), 6);

    EXPECT_GE(Count(window_.Pump(), kFoundGps), 2) << "every mark posts, also a repeated one";
}

TEST_F(PortScanTest, PortThatFailsAt4800AndOpensAt9600BecomesProbing) {
    auto& pty = Port(7);
    // Held by someone else during the first pass: the scan cannot open it then.
    HANDLE holder = CreateFileW(TEXT("com7:"), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(holder, INVALID_HANDLE_VALUE);
    Talk(1, "x", 0);
    ASSERT_TRUE(Start());
    EXPECT_EQ(State(7), PORT_UNUSABLE);
    EXPECT_FALSE(IsOpen(7));
    CloseHandle(holder);
    Tick();
    EXPECT_EQ(State(7), PORT_PROBING);
    EXPECT_TRUE(IsOpen(7));
    EXPECT_EQ(pty.SlaveBaud(), 9600u);
}

TEST_F(PortScanTest, FoundRateIsTheRateTheChannelWasOpenAt) {
    Port(8);
    ASSERT_TRUE(Start());
    PortScan* scan = CurrentPortScan();
    // A tick moves the step before it closes the channel; a byte that came at 4800 and is
    // classified in between must still be credited to 4800.
    scan->baudStep[8] = 1;
    MarkPortFound(&scan->channels[8], PORT_RADAR);
    EXPECT_EQ(Found(8), 4800);
    scan->baudStep[8] = 0;
}

TEST_F(PortScanTest, MarkIgnoresWhatItCannotPlace) {
    Port(8);
    ASSERT_TRUE(Start());
    PortScan* scan = CurrentPortScan();
    MarkPortFound(nullptr, PORT_GPS);
    MarkPortFound(&scan->channels[8], PORT_VIRTUAL_FREE);
    SerialChannel stray{};
    stray.portIndex = 10;
    MarkPortFound(&stray, PORT_GPS);
    EXPECT_EQ(State(8), PORT_PROBING);
    EXPECT_EQ(window_.Pump(), std::vector<Notification>{kNext4800});

    MarkPortFound(&scan->channels[8], PORT_GPS);
    MarkPortFound(&scan->channels[8], PORT_RADAR);
    EXPECT_EQ(State(8), PORT_RADAR) << "a later mark rewrites the earlier one";
    EXPECT_EQ(window_.Pump(), (std::vector<Notification>{kNext4800, kFoundGps, kFoundRadar}));
}

TEST_F(PortScanTest, SignatureSplitOverTwoPortsMarksNothing) {
    Port(9);
    ASSERT_TRUE(Start());
    PortScan* scan = CurrentPortScan();
    const BYTE lead = 0xAA, command = 0x40;
    ClassifyByte(&scan->channels[3], WM_CHANNEL_DATA, &lead, 1);
    ClassifyByte(&scan->channels[5], WM_CHANNEL_DATA, &command, 1);
    EXPECT_EQ(State(3), PORT_UNUSABLE);
    EXPECT_EQ(State(5), PORT_UNUSABLE);
    ClassifyByte(&scan->channels[3], WM_CHANNEL_DATA, &command, 1);
    EXPECT_EQ(State(3), PORT_RADAR);
}

TEST_F(PortScanTest, GpsAndRadarTalkingAtOnceAreBothRecognised) {
    Talk(1, kGpsLine, 0);
    Talk(2, kRadarBytes + "$GPRM" + kRadarBytes + "C", 0);
    ASSERT_TRUE(Start());
    ASSERT_TRUE(WaitUntil([] { return State(1) != PORT_PROBING && State(2) != PORT_PROBING; }));
    // Let both stream for a while: neither port may ever be taken for the other's device.
    WaitUntil([] { return false; }, 300);
    EXPECT_EQ(State(1), PORT_GPS);
    EXPECT_EQ(State(2), PORT_RADAR);
}

TEST_F(PortScanTest, TenPortsStreamingAtOnce) {
    for (int i = 0; i < PORT_COUNT; ++i) Talk(i, i % 2 ? kRadarBytes : kGpsLine, 0);
    ASSERT_TRUE(Start());
    ASSERT_TRUE(WaitUntil([] {
        for (int i = 0; i < PORT_COUNT; ++i) {
            if (State(i) == PORT_PROBING) return false;
        }
        return true;
    }));
    for (int i = 0; i < PORT_COUNT; ++i) {
        EXPECT_EQ(State(i), i % 2 ? PORT_RADAR : PORT_GPS) << i;
        EXPECT_EQ(Found(i), 4800) << i;
    }
    Tick();
    for (int i = 0; i < PORT_COUNT; ++i) EXPECT_FALSE(IsOpen(i)) << i;
    EXPECT_EQ(window_.Pump().back(), kFinished);
}

// Stands in for the classifier on one port: holds the deciding "C" back until a tick has begun
// to close the port, then classifies it, so that the mark lands inside the tick.
std::atomic<bool> g_holding{false};

LONG ClassifyDuringClose(SerialChannel* channel, LONG id, const BYTE* data, LONG count) {
    if (data[0] == 'C') {
        g_holding = true;
        WaitUntil([channel] {
            return serial_detail::LoadShared(channel->stopRequested, std::memory_order_acquire) !=
                   0;
        });
    }
    return ClassifyByte(channel, id, data, count);
}

TEST_F(PortScanTest, MarkLandingWhileATickClosesThePortSurvivesIt) {
    auto& pty = Port(3);
    Port(5);
    ASSERT_TRUE(Start());
    PortScan* scan = CurrentPortScan();
    g_holding = false;
    SetReceiveCallback(&scan->channels[3], ClassifyDuringClose);
    pty.Write("$GPRMC");
    ASSERT_TRUE(WaitUntil([] { return g_holding.load(); }));
    Tick();
    EXPECT_EQ(State(3), PORT_GPS) << "the tick must not reopen the port over its finding";
    EXPECT_EQ(Found(3), 4800) << "the rate the byte came at, not the next step's";
    EXPECT_FALSE(IsOpen(3));
    EXPECT_EQ(State(5), PORT_PROBING);
    EXPECT_EQ(pty.SlaveBaud(), 38400u) << "closed: back at its own rate, not the next step's";
}

TEST(PortScanWithoutScan, QueriesAnswerNone) {
    StopPortScan();
    int port = 3, baud = 3;
    EXPECT_EQ(FirstPortOfType(&baud, PORT_GPS), -1);
    EXPECT_EQ(NextPortOfType(&port, &baud, PORT_GPS), 0);
    EXPECT_EQ(port, 3) << "outputs untouched without a scan";
    EXPECT_EQ(baud, 3);
    OnScanTimer(nullptr, 0, 0, 0);
    MarkPortFound(nullptr, PORT_GPS);
}

}  // namespace
