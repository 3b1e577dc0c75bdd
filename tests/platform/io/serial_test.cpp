#include "platform/io/serial.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>

#include "internal/devices_internal.h"
#include "linux/baud_rates.h"
#include "linux/serial_termios.h"
#include "platform/io/devices.h"
#include "platform/io/registry.h"
#include "support/test_support.h"

namespace {

using namespace std::chrono_literals;

// A pseudo-terminal mapped to COM5: through a BuiltIn key in a private registry.
class SerialTest : public ::testing::Test {
  protected:
    testsupport::TempDir dir;
    std::string file = dir.file("registry.reg");
    testsupport::ScopedEnv registry{"BELVANE_REGISTRY", file.c_str()};
    testsupport::ScopedEnv sysfs{"BELVANE_SYSFS_ROOT", dir.path().c_str()};
    testsupport::ScopedEnv dev{"BELVANE_DEV_ROOT", nullptr};
    testsupport::ScopedEnv proc{"BELVANE_PROC_ROOT", dir.path().c_str()};
    testsupport::PtyPair pty;
    HANDLE port = INVALID_HANDLE_VALUE;

    void SetUp() override {
        HKEY key;
        ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"Drivers\\BuiltIn\\TestPort", 0, nullptr, 0,
                                  KEY_ALL_ACCESS, nullptr, &key, nullptr),
                  ERROR_SUCCESS);
        std::u16string path(pty.slavePath().begin(), pty.slavePath().end());
        DWORD index = 5;
        RegSetValueExW(key, u"Prefix", 0, REG_SZ, reinterpret_cast<const BYTE*>(u"COM"), 8);
        RegSetValueExW(key, u"Index", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&index), 4);
        RegSetValueExW(key, u"DevicePath", 0, REG_SZ, reinterpret_cast<const BYTE*>(path.c_str()),
                       static_cast<DWORD>((path.size() + 1) * 2));
        RegCloseKey(key);
        platform::StartDeviceManager();
        port = Open(u"COM5:");
        ASSERT_NE(port, INVALID_HANDLE_VALUE) << GetLastError();
    }
    void TearDown() override {
        if (port != INVALID_HANDLE_VALUE) CloseHandle(port);
    }

    static HANDLE Open(LPCWSTR name) {
        return CreateFileW(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0,
                           nullptr);
    }

    BOOL Read(void* buf, DWORD n, DWORD* got) { return ReadFile(port, buf, n, got, nullptr); }
    BOOL Write(const void* buf, DWORD n, DWORD* done) {
        return WriteFile(port, buf, n, done, nullptr);
    }

    void SetTimeouts(DWORD interval, DWORD multiplier, DWORD constant) {
        COMMTIMEOUTS t{interval, multiplier, constant, 0, 0};
        ASSERT_TRUE(SetCommTimeouts(port, &t));
    }

    // Waits (without a time limit that a slow machine could miss) until n bytes are queued.
    DWORD WaitQueued(DWORD n) {
        COMSTAT status{};
        for (int i = 0; i < 500; ++i) {
            DWORD errors = 0;
            if (!ClearCommError(port, &errors, &status)) return 0;
            if (status.cbInQue >= n) break;
            std::this_thread::sleep_for(10ms);
        }
        return status.cbInQue;
    }
};

TEST_F(SerialTest, OpensByNameInAnyCaseAndOnlyOnce) {
    EXPECT_EQ(Open(u"COM5:"), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    // Another process (here even root) is refused as well.
    pid_t child = fork();
    if (child == 0) {
        HANDLE h = Open(u"com5:");
        _exit(h == INVALID_HANDLE_VALUE && GetLastError() == ERROR_SHARING_VIOLATION ? 0 : 1);
    }
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_EQ(Open(u"COM5"), INVALID_HANDLE_VALUE);  // the colon is required
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(Open(u"COM6:"), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    ASSERT_TRUE(CloseHandle(port));
    port = Open(u"com5:");
    EXPECT_NE(port, INVALID_HANDLE_VALUE);
}

TEST_F(SerialTest, BaudRateReachesTheOtherEnd) {
    DCB dcb{};
    ASSERT_TRUE(GetCommState(port, &dcb));
    for (DWORD rate : {4800u, 9600u, 19200u, 38400u, 57600u, 115200u}) {
        dcb.BaudRate = rate;
        ASSERT_TRUE(SetCommState(port, &dcb)) << rate;
        EXPECT_EQ(pty.SlaveBaud(), rate);
        DCB back{};
        ASSERT_TRUE(GetCommState(port, &back));
        EXPECT_EQ(back.BaudRate, rate);
    }
    dcb.BaudRate = 12345;  // no such line rate
    EXPECT_FALSE(SetCommState(port, &dcb));
    EXPECT_EQ(pty.SlaveBaud(), 115200u);
    dcb.BaudRate = 9600;
    dcb.Parity = MARKPARITY;
    EXPECT_FALSE(SetCommState(port, &dcb));
}

// A pseudo-terminal keeps 8 data bits and no parity; settings it cannot take are no error,
// also when the same ones are applied again and nothing else changes.
TEST_F(SerialTest, FramingThatThePseudoTerminalIgnoresCanBeSetTwice) {
    DCB dcb{};
    ASSERT_TRUE(GetCommState(port, &dcb));
    dcb.BaudRate = 9600;
    dcb.ByteSize = 7;
    dcb.Parity = ODDPARITY;
    dcb.StopBits = TWOSTOPBITS;
    EXPECT_TRUE(SetCommState(port, &dcb));
    EXPECT_TRUE(SetCommState(port, &dcb));
    EXPECT_EQ(pty.SlaveBaud(), 9600u);
}

TEST(SerialTermios, MapsFramingFlowControlAndKeepsSpecialCharacters) {
    termios t{};
    cfmakeraw(&t);
    t.c_cc[VSTART] = 0x11;
    t.c_cc[VSTOP] = 0x13;
    DCB dcb = platform::detail::DcbOfTermios(t, -1);
    dcb.BaudRate = 57600;
    dcb.ByteSize = 7;
    dcb.Parity = EVENPARITY;
    dcb.StopBits = TWOSTOPBITS;
    dcb.fOutxCtsFlow = 1;
    dcb.fOutX = 1;
    ASSERT_TRUE(platform::detail::ApplyDcb(dcb, t));
    EXPECT_EQ(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS7));
    EXPECT_TRUE(t.c_cflag & PARENB);
    EXPECT_FALSE(t.c_cflag & PARODD);
    EXPECT_TRUE(t.c_cflag & CSTOPB);
    EXPECT_TRUE(t.c_cflag & CRTSCTS);
    EXPECT_TRUE(t.c_iflag & IXON);
    EXPECT_EQ(cfgetospeed(&t), static_cast<speed_t>(B57600));
    DCB back = platform::detail::DcbOfTermios(t, -1);
    EXPECT_EQ(back.ByteSize, 7);
    EXPECT_EQ(back.Parity, EVENPARITY);
    EXPECT_EQ(back.StopBits, TWOSTOPBITS);
    EXPECT_EQ(back.XonChar, 0x11);
    EXPECT_EQ(back.XoffChar, 0x13);
    EXPECT_EQ(back.fRtsControl, static_cast<DWORD>(RTS_CONTROL_HANDSHAKE));

    dcb = back;
    dcb.ByteSize = 8;
    dcb.Parity = ODDPARITY;
    dcb.StopBits = ONESTOPBIT;
    dcb.fOutxCtsFlow = 0;
    dcb.fRtsControl = RTS_CONTROL_ENABLE;
    ASSERT_TRUE(platform::detail::ApplyDcb(dcb, t));
    EXPECT_EQ(t.c_cflag & (CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS),
              static_cast<tcflag_t>(CS8 | PARENB | PARODD));
    EXPECT_EQ(t.c_cc[VSTART], 0x11);

    termios before = t;
    for (BYTE size : {4, 9}) {
        dcb.ByteSize = size;
        EXPECT_FALSE(platform::detail::ApplyDcb(dcb, t));
    }
    dcb.ByteSize = 8;
    dcb.Parity = SPACEPARITY;
    EXPECT_FALSE(platform::detail::ApplyDcb(dcb, t));
    dcb.Parity = NOPARITY;
    dcb.StopBits = ONE5STOPBITS;
    EXPECT_FALSE(platform::detail::ApplyDcb(dcb, t));
    EXPECT_EQ(std::memcmp(&before, &t, sizeof t), 0);  // a refusal changes nothing
}

// Every rate of the table survives the way into termios and back, and a rate between two of
// them is refused rather than rounded.
TEST(SerialTermios, EveryTableRateRoundTripsAndOthersAreRefused) {
    termios t{};
    cfmakeraw(&t);
    DCB dcb = platform::detail::DcbOfTermios(t, -1);
    for (const platform::detail::BaudRate& rate : platform::detail::kBaudRates) {
        dcb.BaudRate = rate.baud;
        ASSERT_TRUE(platform::detail::ApplyDcb(dcb, t)) << rate.baud;
        EXPECT_EQ(cfgetospeed(&t), rate.speed) << rate.baud;
        EXPECT_EQ(platform::detail::DcbOfTermios(t, -1).BaudRate, rate.baud);
    }
    for (DWORD odd : {0u, 9601u, 14400u, 4000001u}) {
        dcb.BaudRate = odd;
        EXPECT_FALSE(platform::detail::ApplyDcb(dcb, t)) << odd;
    }
}

TEST_F(SerialTest, ImmediateTimeoutsReturnWhatIsQueued) {
    SetTimeouts(MAXDWORD, 0, 0);
    char buf[16];
    DWORD got = 99;
    ASSERT_TRUE(Read(buf, sizeof buf, &got));
    EXPECT_EQ(got, 0u);
    pty.Write("abc");
    EXPECT_EQ(WaitQueued(3), 3u);
    ASSERT_TRUE(Read(buf, sizeof buf, &got));
    EXPECT_EQ(std::string(buf, got), "abc");
    DWORD written = 0;
    ASSERT_TRUE(Write("xyz", 3, &written));
    EXPECT_EQ(written, 3u);
    EXPECT_EQ(pty.Read(3, 5000), "xyz");
}

TEST_F(SerialTest, TotalTimeoutEndsAShortRead) {
    SetTimeouts(0, 0, 50);
    pty.Write("hi");
    EXPECT_EQ(WaitQueued(2), 2u);
    char buf[16];
    DWORD got = 0;
    ASSERT_TRUE(Read(buf, sizeof buf, &got));
    EXPECT_EQ(std::string(buf, got), "hi");
    // The first-byte form: waits for data, then returns what is there.
    SetTimeouts(MAXDWORD, MAXDWORD, 20000);
    std::thread writer([&] {
        std::this_thread::sleep_for(30ms);
        pty.Write("z");
    });
    ASSERT_TRUE(Read(buf, sizeof buf, &got));
    writer.join();
    EXPECT_EQ(std::string(buf, got), "z");
}

TEST_F(SerialTest, PurgeDiscardsQueuedInput) {
    pty.Write("hello");
    ASSERT_EQ(WaitQueued(5), 5u);
    ASSERT_TRUE(PurgeComm(port, PURGE_RXABORT | PURGE_RXCLEAR | PURGE_TXABORT | PURGE_TXCLEAR));
    COMSTAT status{};
    DWORD errors = 0;
    ASSERT_TRUE(ClearCommError(port, &errors, &status));
    EXPECT_EQ(status.cbInQue, 0u);
    SetTimeouts(MAXDWORD, 0, 0);
    char buf[8];
    DWORD got = 1;
    ASSERT_TRUE(Read(buf, sizeof buf, &got));
    EXPECT_EQ(got, 0u);
    EXPECT_FALSE(PurgeComm(port, 0x100));
}

TEST_F(SerialTest, WaitCommEventReportsDataAndWakesOnSetCommMask) {
    ASSERT_TRUE(SetCommMask(port, EV_RXCHAR | EV_CTS | EV_DSR | EV_RING));
    DWORD mask = 0;
    ASSERT_TRUE(GetCommMask(port, &mask));
    EXPECT_EQ(mask, 0x119u);
    std::atomic<bool> done{false};
    DWORD events = 123;
    BOOL result = FALSE;
    std::thread waiter([&] {
        result = WaitCommEvent(port, &events, nullptr);
        done = true;
    });
    // Set the mask until the waiter has seen it (it may not have started waiting yet).
    for (int i = 0; i < 500 && !done; ++i) {
        SetCommMask(port, EV_RXCHAR);
        std::this_thread::sleep_for(10ms);
    }
    waiter.join();
    EXPECT_TRUE(result);
    EXPECT_EQ(events, 0u);

    std::thread reader([&] { result = WaitCommEvent(port, &events, nullptr); });
    pty.Write("x");
    reader.join();
    EXPECT_TRUE(result);
    EXPECT_EQ(events, EV_RXCHAR);
}

TEST_F(SerialTest, HangUpFailsReadsAndWaits) {
    ASSERT_TRUE(SetCommMask(port, EV_RXCHAR));
    DWORD events = 0;
    BOOL waited = TRUE;
    std::thread waiter([&] { waited = WaitCommEvent(port, &events, nullptr); });
    std::this_thread::sleep_for(20ms);
    pty.CloseMaster();
    waiter.join();  // returns instead of waiting for ever
    EXPECT_FALSE(waited);
    SetTimeouts(MAXDWORD, 0, 0);
    char buf[4];
    DWORD got = 0;
    EXPECT_FALSE(Read(buf, sizeof buf, &got));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_DEVICE_NOT_CONNECTED));
    EXPECT_FALSE(WaitCommEvent(port, &events, nullptr));
    COMSTAT status{};
    EXPECT_FALSE(ClearCommError(port, nullptr, &status));
}

TEST_F(SerialTest, CloseWakesAWaiterAndFreesTheDevice) {
    ASSERT_TRUE(SetCommMask(port, EV_RXCHAR));
    DWORD events = 0;
    std::atomic<bool> done{false};
    BOOL waited = TRUE;
    HANDLE old = port;
    std::thread waiter([&] {
        waited = WaitCommEvent(old, &events, nullptr);
        done = true;
    });
    std::this_thread::sleep_for(20ms);
    ASSERT_TRUE(CloseHandle(old));
    // The device can be opened again at once, even before the waiter has unwound.
    port = Open(u"COM5:");
    EXPECT_NE(port, INVALID_HANDLE_VALUE);
    waiter.join();
    EXPECT_TRUE(done);
    EXPECT_FALSE(waited);
    EXPECT_FALSE(SetCommMask(old, 0));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
}

}  // namespace
