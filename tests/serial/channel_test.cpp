// The channel operations and the reader thread on pseudo-terminals registered as ports.
#include "serial/channel.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "platform/base/strings.h"
#include "platform/io/files.h"
#include "serial/framing.h"
#include "serial_harness.h"
#include "support/test_support.h"

using serialtest::Piece;
using serialtest::Pty;
using serialtest::Recorder;

namespace {

using Strings = std::vector<std::string>;

const BYTE kNothing[1] = {0};

template <class T>
T Load(T& field) {
    return std::atomic_ref<T>(field).load();
}

// A channel for one test, with the receivers recording into `recorder`.
struct TestChannel {
    SerialChannel channel;
    Recorder recorder;

    TestChannel() {
        std::memset(&channel, 0, sizeof channel);
        InitChannel(&channel);
        serialtest::Bind(&channel, &recorder);
        channel.frameCallback = serialtest::RecordFrame;
        channel.sleepAfterDataMs = 0;
        channel.sleepIdleMs = 1;
    }
    ~TestChannel() { ReleaseChannel(&channel); }

    bool Open(int index, HWND window = nullptr) {
        serialtest::EnsurePorts();
        return OpenChannel(&channel, window, serialtest::PortNumber(index), 9600, TEXT("NONE"), 8,
                           1) != 0;
    }
    void Delimiters(const std::string& start, const std::string& end) {
        SetFrameDelimiters(
            &channel, reinterpret_cast<const BYTE*>(start.data()), static_cast<DWORD>(start.size()),
            reinterpret_cast<const BYTE*>(end.data()), static_cast<DWORD>(end.size()));
    }
};

// ---- Setting up a record ----

TEST(ChannelRecord, InitSetsDefaultsAndLeavesOwnerFields) {
    SerialChannel c;
    std::memset(&c, 0x5a, sizeof c);
    InitChannel(&c);
    EXPECT_EQ(c.port, nullptr);
    EXPECT_EQ(c.readerThread, nullptr);
    EXPECT_EQ(c.notifyWindow, nullptr);
    EXPECT_EQ(c.frameCallback, nullptr);
    EXPECT_EQ(c.sleepAfterDataMs, -1);
    EXPECT_EQ(c.sleepIdleMs, -1);
    EXPECT_EQ(c.pollMode, 1);
    EXPECT_EQ(c.mirror, INVALID_HANDLE_VALUE);
    EXPECT_EQ(c.framed, 1);
    EXPECT_EQ(c.startDelimiter[0], '{');
    EXPECT_EQ(c.startDelimiter[1], 0x5a);
    EXPECT_EQ(c.endDelimiter[0], '}');
    EXPECT_EQ(c.startLength, 0u);
    EXPECT_EQ(c.endLength, 0u);
    EXPECT_EQ(c.recordSize, 0);
    EXPECT_EQ(c.portIndex, 0x5a5a5a5a);
    EXPECT_NE(reinterpret_cast<void*>(c.chunkCallback), nullptr);
    ReleaseChannel(&c);
    EXPECT_EQ(WM_CHANNEL_DATA, 1034u);
}

TEST(ChannelRecord, DelimitersCheckLengthsAndKeepBytesBeyondThem) {
    TestChannel t;
    SerialChannel& c = t.channel;
    const BYTE start[] = {'<', '<', '<', '<', '<'};
    const BYTE end[] = {'>', '>', '>', '>', '>'};
    EXPECT_FALSE(SetFrameDelimiters(&c, start, 5, end, 1));
    EXPECT_FALSE(SetFrameDelimiters(&c, start, 1, end, 5));
    EXPECT_EQ(c.startDelimiter[0], '{');
    EXPECT_EQ(c.startLength, 0u);
    EXPECT_TRUE(SetFrameDelimiters(&c, kNothing, 0, kNothing, 0));
    EXPECT_EQ(c.startDelimiter[0], '{');
    EXPECT_EQ(c.endDelimiter[0], '}');
    EXPECT_TRUE(SetFrameDelimiters(&c, start, 2, end, 1));
    EXPECT_EQ(c.startLength, 2u);
    EXPECT_EQ(c.startDelimiter[1], '<');
    EXPECT_EQ(c.endDelimiter[0], '>');
    EXPECT_FALSE(SetFrameDelimiters(nullptr, start, 1, end, 1));
    EXPECT_FALSE(SetReceiveCallback(nullptr, serialtest::RecordFrame));
    EXPECT_TRUE(SetReceiveCallback(&c, nullptr));
    EXPECT_EQ(c.frameCallback, nullptr);
}

TEST(ChannelRecord, OperationsWithoutPortChangeNothing) {
    TestChannel t;
    SerialChannel& c = t.channel;
    c.stopRequested = 0;
    StopReader(&c);
    EXPECT_EQ(c.stopRequested, 0);
    c.stopRequested = 1;
    EXPECT_FALSE(StartReader(&c));
    EXPECT_EQ(c.stopRequested, 0);
    EXPECT_EQ(c.readerThread, nullptr);
    EXPECT_FALSE(WriteChannel(&c, "x", 1));
    EXPECT_TRUE(CloseChannel(&c));
    EXPECT_FALSE(DestroyChannel(nullptr));
}

TEST(ChannelRecord, DestroyKeepsPortIndexAndChunkCallback) {
    TestChannel t;
    SerialChannel& c = t.channel;
    ASSERT_TRUE(t.Open(3));
    c.chunkCallback = serialtest::RecordChunk;
    c.portIndex = 7;
    c.recordSize = 9;
    EXPECT_TRUE(DestroyChannel(&c));
    EXPECT_EQ(c.port, nullptr);
    EXPECT_EQ(c.recordSize, 0);
    EXPECT_EQ(c.portIndex, 7);
    EXPECT_EQ(c.chunkCallback, serialtest::RecordChunk);
    EXPECT_TRUE(t.Open(3));  // ready to open again
}

// ---- Opening ----

TEST(ChannelOpen, MissingDeviceFailsButStoresTheWindow) {
    TestChannel t;
    HWND window = reinterpret_cast<HWND>(0x1234);
    EXPECT_FALSE(t.Open(57, window));
    EXPECT_EQ(t.channel.port, nullptr);
    EXPECT_EQ(t.channel.notifyWindow, window);
}

TEST(ChannelOpen, AppliesRateParityAndStopBits) {
    TestChannel t;
    SerialChannel& c = t.channel;
    serialtest::EnsurePorts();
    struct Case {
        LPCWSTR parity;
        BYTE expected;
    };
    const LONG port = serialtest::PortNumber(1);
    for (Case k :
         {Case{TEXT("O"), ODDPARITY}, Case{TEXT("ODD"), ODDPARITY}, Case{TEXT("E"), EVENPARITY},
          Case{TEXT("EVEN"), EVENPARITY}, Case{TEXT("odd"), NOPARITY}, Case{TEXT("N"), NOPARITY},
          Case{TEXT(""), NOPARITY}}) {
        // Back to plain settings first: the pseudo-terminal keeps neither parity nor size.
        ASSERT_TRUE(OpenChannel(&c, nullptr, port, 9600, TEXT("NONE"), 8, 1));
        ASSERT_TRUE(OpenChannel(&c, nullptr, port, 19200, k.parity, 7, 2));
        EXPECT_EQ(c.dcb.Parity, k.expected);
        EXPECT_EQ(c.dcb.StopBits, TWOSTOPBITS);
        EXPECT_EQ(c.dcb.ByteSize, 7);
        EXPECT_EQ(c.dcb.BaudRate, 19200u);
    }
    EXPECT_EQ(Pty(1).SlaveBaud(), 19200u);
    ASSERT_TRUE(OpenChannel(&c, nullptr, port, 4800, TEXT("NONE"), 8, 1));
    EXPECT_EQ(c.dcb.StopBits, ONESTOPBIT);
    EXPECT_EQ(Pty(1).SlaveBaud(), 4800u);
    EXPECT_EQ(c.timeouts.ReadIntervalTimeout, MAXDWORD);
    EXPECT_EQ(c.timeouts.ReadTotalTimeoutConstant, 0u);
    EXPECT_EQ(c.timeouts.WriteTotalTimeoutConstant, 0u);
    DWORD mask = 0;
    ASSERT_TRUE(GetCommMask(c.port, &mask));
    EXPECT_EQ(mask, 0x119u);
}

TEST(ChannelOpen, ReopenClosesTheOldHandle) {
    TestChannel t;
    ASSERT_TRUE(t.Open(2));
    HANDLE first = t.channel.port;
    ASSERT_TRUE(t.Open(2));  // the exclusive open succeeds only because the old one is closed
    // Windows may give the new handle the old one's value, which then was closed; any other
    // value must no longer close.
    if (t.channel.port != first) {
        EXPECT_FALSE(CloseHandle(first));
    }
    EXPECT_TRUE(WriteChannel(&t.channel, "hi", 2));
    EXPECT_EQ(Pty(2).Read(2, 5000), "hi");
}

TEST(ChannelOpen, CloseLeavesThePortFree) {
    TestChannel a;
    TestChannel b;
    ASSERT_TRUE(a.Open(4));
    if (serialtest::kExclusiveOpen) {
        EXPECT_FALSE(b.Open(4));
    }
    EXPECT_TRUE(CloseChannel(&a.channel));
    EXPECT_EQ(a.channel.port, nullptr);
    EXPECT_TRUE(b.Open(4));
}

// ---- Reading in each mode ----

class ReaderOnPty : public ::testing::Test {
  protected:
    void Start(int index, bool withWindow = true) {
        if (withWindow) window = std::make_unique<serialtest::TestWindow>(&t.recorder);
        ASSERT_TRUE(t.Open(index, window ? window->hwnd() : nullptr));
        ASSERT_TRUE(serialtest::StartReaderAndWait(&t.channel));
        pty = &Pty(index);
    }
    void TearDown() override { CloseChannel(&t.channel); }

    // Writes one piece and waits until the reader has handed it on.
    void Send(const std::string& bytes, char who, size_t total) {
        pty->Write(bytes);
        ASSERT_TRUE(t.recorder.WaitFor(who, total)) << "nothing arrived for " << bytes;
    }

    std::string MirrorTo(const std::string& name) {
        std::string path = dir.file(name);
        t.channel.mirror = CreateFileW(platform::FromUtf8(path).c_str(), GENERIC_WRITE, 0, nullptr,
                                       CREATE_ALWAYS, 0, nullptr);
        return path;
    }

    TestChannel t;
    std::unique_ptr<serialtest::TestWindow> window;
    testsupport::PtyPair* pty = nullptr;
    testsupport::TempDir dir;
};

TEST_F(ReaderOnPty, RawReadsReachWindowThenCallback) {
    t.channel.framed = 0;
    Start(0);
    Send("12345", 'F', 1);
    Send("abcdefg", 'F', 2);
    EXPECT_EQ(t.recorder.Pieces(), (std::vector<Piece>{{'W', WM_CHANNEL_DATA, "12345"},
                                                       {'F', WM_CHANNEL_DATA, "12345"},
                                                       {'W', WM_CHANNEL_DATA, "abcdefg"},
                                                       {'F', WM_CHANNEL_DATA, "abcdefg"}}));
}

TEST_F(ReaderOnPty, RecordsOfFourFromReadsOfThreeAndSeven) {
    t.channel.framed = 0;
    t.channel.recordSize = 4;
    Start(1);
    Send("abc", 'W', 1);
    EXPECT_TRUE(t.recorder.Bytes('F').empty());
    Send("defghij", 'F', 2);
    EXPECT_EQ(t.recorder.Bytes('W'), (Strings{"abc", "defghij"}));
    EXPECT_EQ(t.recorder.Bytes('F'), (Strings{"abcd", "efgh"}));
}

TEST_F(ReaderOnPty, ClassifierConfigurationGivesEveryByteOnce) {
    t.channel.framed = 0;
    t.channel.recordSize = 1;
    t.channel.sleepIdleMs = 100;
    Start(2, false);
    pty->Write("$GPRMC");
    ASSERT_TRUE(t.recorder.WaitFor('F', 6));
    EXPECT_EQ(t.recorder.Bytes('F'), (Strings{"$", "G", "P", "R", "M", "C"}));
}

TEST_F(ReaderOnPty, SentenceOverThreeReads) {
    t.channel.chunkCallback = serialtest::RecordChunk;
    Start(3);
    Send("xx$GPR", 'C', 1);
    Send("MC,1,2", 'C', 2);
    Send("*7F\r\n", 'F', 1);
    EXPECT_EQ(t.recorder.Pieces(),
              (std::vector<Piece>{{'C', 0, "xx$GPR"},
                                  {'C', 0, "MC,1,2"},
                                  {'C', 0, "*7F\r\n"},
                                  {'W', WM_CHANNEL_DATA, "$GPRMC,1,2*7F\r\n"},
                                  {'F', WM_CHANNEL_DATA, "$GPRMC,1,2*7F\r\n"}}));
}

TEST_F(ReaderOnPty, DelimiterFramesAndMirrorOrder) {
    t.Delimiters("{", "}");
    const std::string path = MirrorTo("mirror.bin");
    Start(4);
    Send("a{x}b{y", 'F', 1);
    Send("z}", 'F', 2);
    EXPECT_EQ(t.recorder.Bytes('W'), (Strings{"{x}", "{yz}"}));
    EXPECT_EQ(t.recorder.Bytes('F'), (Strings{"{x}", "{yz}"}));
    DestroyChannel(&t.channel);  // closes the mirror
    EXPECT_EQ(testsupport::ReadFileBytes(path), "a{x}b{y{x}z}{yz}");
}

TEST_F(ReaderOnPty, RequestIsWrittenOnceBeforeReading) {
    t.Delimiters("<<<", ">>");
    Start(5);
    EXPECT_EQ(pty->Read(12, 5000), "gps_data_n_n");
    Send("<ok>", 'F', 1);
    EXPECT_EQ(t.recorder.Bytes('F'), (Strings{"<ok>"}));
    EXPECT_EQ(pty->Read(1, 100), "");  // not again
}

TEST_F(ReaderOnPty, HeaderRecords) {
    t.Delimiters("\xAA\xBB", "\n");
    Start(6);
    std::string shortRecord = std::string("\xAA\xBB\x01\x00\x00\x03\x02", 7) + "abc\r";
    Send(shortRecord, 'F', 1);
    std::string longRecord =
        std::string("\xAA\xBB\x01\x85\x01\x91\x02", 7) + std::string(401, 'p') + "\r";
    Send(longRecord, 'F', 2);
    std::string unmarked = longRecord;
    unmarked[3] = 0;
    pty->Write(unmarked + "$z\n");
    // The rejected header ends its pass; the search goes on with the next read, which
    // the noise provides.
    for (int i = 0; i < 200 && !t.recorder.WaitFor('F', 3, 50); ++i) pty->Write(".");
    EXPECT_EQ(t.recorder.Bytes('F'), (Strings{shortRecord, longRecord, "$z\n"}));
    EXPECT_EQ(t.recorder.Bytes('W'), t.recorder.Bytes('F'));
}

TEST_F(ReaderOnPty, WaitsForCommEventsWhenNotPolling) {
    t.channel.pollMode = 0;
    t.channel.framed = 0;
    t.channel.sleepIdleMs = 100;
    Start(7);
    Send("ev", 'F', 1);
    EXPECT_EQ(t.recorder.Bytes('F'), (Strings{"ev"}));
    const int before = serialtest::Terminations();
    StopReader(&t.channel);  // wakes the WaitCommEvent and the idle sleep
    EXPECT_EQ(serialtest::Terminations(), before);
    EXPECT_EQ(t.channel.readerThread, nullptr);
}

TEST_F(ReaderOnPty, UnterminatedFrameFillingTheBufferIsDroppedAndReadingGoesOn) {
    t.Delimiters("{", "}");
    Start(serialtest::kPorts - 1, false);
    pty->Write("{" + std::string(3 * RECEIVE_BUFFER_SIZE, 'f'));
    Send("{ok}", 'F', 1);
    EXPECT_EQ(t.recorder.Bytes('F'), (Strings{"{ok}"}));
}

TEST_F(ReaderOnPty, ReceiversMayWriteToThePort) {
    t.channel.framed = 0;
    t.recorder.onFrame = [](SerialChannel* c) { WriteChannel(c, "ack", 3); };
    Start(8);
    Send("q", 'F', 1);
    EXPECT_EQ(pty->Read(3, 5000), "ack");
}

// ---- Starting and stopping ----

TEST(ReaderLifecycle, StartTwiceRunsOneReader) {
    TestChannel t;
    ASSERT_TRUE(t.Open(serialtest::kPorts - 1));
    ASSERT_TRUE(StartReader(&t.channel));
    HANDLE reader = t.channel.readerThread;
    EXPECT_TRUE(StartReader(&t.channel));
    EXPECT_EQ(t.channel.readerThread, reader);
    StopReader(&t.channel);
    EXPECT_EQ(t.channel.readerThread, nullptr);
    EXPECT_EQ(t.channel.stopRequested, 1);
    EXPECT_NE(t.channel.port, nullptr);  // back in state open
}

// Readers asleep (100 ms, as the port scan sets it, and far longer than StopReader waits)
// are woken, not terminated; so is a reader waiting for a comm event.
TEST(ReaderLifecycle, SleepingReadersOnEveryPortStopWithoutTermination) {
    for (LONG sleepMs : {100, 5000}) {
        std::vector<std::unique_ptr<TestChannel>> channels;
        for (int i = 0; i < serialtest::kPorts; ++i) {
            channels.push_back(std::make_unique<TestChannel>());
            SerialChannel& c = channels.back()->channel;
            c.framed = 0;
            c.recordSize = 1;
            c.sleepIdleMs = sleepMs;
            c.pollMode = i % 2;
            ASSERT_TRUE(channels.back()->Open(i));
            ASSERT_TRUE(serialtest::StartReaderAndWait(&c));
        }
        const int before = serialtest::Terminations();
        for (auto& t : channels) {
            StopReader(&t->channel);
            EXPECT_EQ(t->channel.readerThread, nullptr);
        }
        EXPECT_EQ(serialtest::Terminations(), before) << "sleeping " << sleepMs << " ms";
    }
}

TEST(ReaderLifecycle, ReaderEndingByItselfGivesUpItsHandle) {
    TestChannel t;
    ASSERT_TRUE(t.Open(7));
    ASSERT_TRUE(StartReader(&t.channel));
    std::atomic_ref<BOOL>(t.channel.stopRequested).store(1);
    while (Load(t.channel.readerThread) != nullptr) Sleep(1);
    EXPECT_TRUE(StartReader(&t.channel));  // a new reader, as the old one is gone
    EXPECT_NE(t.channel.readerThread, nullptr);
    EXPECT_TRUE(CloseChannel(&t.channel));
    EXPECT_EQ(t.channel.readerThread, nullptr);
}

TEST(ReaderLifecycle, ReaderStuckInCallbackIsEndedWithTheLockFree) {
    TestChannel t;
    t.channel.framed = 0;
    std::atomic<bool> entered{false};
    t.recorder.onFrame = [&entered](SerialChannel*) {
        entered = true;
        for (;;) Sleep(1000);
    };
    ASSERT_TRUE(t.Open(8));
    ASSERT_TRUE(serialtest::StartReaderAndWait(&t.channel));
    Pty(8).Write("x");
    while (!entered) Sleep(1);
    const int before = serialtest::Terminations();
    StopReader(&t.channel);
    EXPECT_EQ(serialtest::Terminations(), before + 1);
    EXPECT_EQ(t.channel.readerThread, nullptr);
    ASSERT_TRUE(TryEnterCriticalSection(&t.channel.lock));
    LeaveCriticalSection(&t.channel.lock);
    EXPECT_TRUE(WriteChannel(&t.channel, "after", 5));
    EXPECT_EQ(Pty(8).Read(5, 5000), "after");
}

TEST(ReaderLifecycle, ReaderBlockedSendingToTheStoppingThreadIsEnded) {
    TestChannel t;
    t.channel.framed = 0;
    // A window of this thread, which pumps no messages while it stops the reader.
    HWND window = serialtest::CreateRecordingWindow(&t.recorder);
    ASSERT_TRUE(t.Open(0, window));
    ASSERT_TRUE(serialtest::StartReaderAndWait(&t.channel));
    Pty(0).Write("x");
    // Once the byte has left the queue the reader is past its stop check and on its way
    // into the send, which this thread never answers.
    COMSTAT status{};
    do {
        Sleep(1);
        DWORD errors = 0;
        ClearCommError(t.channel.port, &errors, &status);
    } while (status.cbInQue != 0);
    const int before = serialtest::Terminations();
    StopReader(&t.channel);
    EXPECT_EQ(serialtest::Terminations(), before + 1);
    EXPECT_TRUE(WriteChannel(&t.channel, "w", 1));
    DestroyWindow(window);
}

}  // namespace
