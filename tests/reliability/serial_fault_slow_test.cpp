// Serial faults on pseudo-terminals with ten readers: the far end hanging up, a second
// open of a port in use, and readers started and stopped over and over. The figures
// (processor time, stop times, forced terminations) are printed for the record; the
// assertions only check resources and outcomes, never speed.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <time.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "serial/channel.h"
#include "serial_harness.h"

namespace {

constexpr int kReaders = 10;

double ProcessCpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

struct Reader {
    SerialChannel channel;
    serialtest::Recorder recorder;
    Reader() {
        std::memset(&channel, 0, sizeof channel);
        InitChannel(&channel);
        serialtest::Bind(&channel, &recorder);
        channel.frameCallback = serialtest::RecordFrame;
    }
    ~Reader() { ReleaseChannel(&channel); }
    bool Open(int index) {
        serialtest::EnsurePorts();
        return OpenChannel(&channel, nullptr, index, 9600, u"NONE", 8, 1) != 0;
    }
};

// The two ways readers run here: as the port scan runs them (polled, one-byte records,
// a pause when idle) and with the channel's defaults (waiting for port events, no pauses).
void ScanSettings(SerialChannel* c) {
    c->framed = 0;
    c->recordSize = 1;
    c->pollMode = 1;
    c->sleepIdleMs = 100;
    c->sleepAfterDataMs = 0;
}

std::vector<std::unique_ptr<Reader>> Start(int firstPort, int count, bool scanSettings) {
    std::vector<std::unique_ptr<Reader>> readers;
    for (int i = 0; i < count; ++i) {
        readers.push_back(std::make_unique<Reader>());
        if (scanSettings) ScanSettings(&readers.back()->channel);
        EXPECT_TRUE(readers.back()->Open(firstPort + i)) << "port " << firstPort + i;
        // Bytes written before the reader's start purge would be thrown away.
        EXPECT_TRUE(serialtest::StartReaderAndWait(&readers.back()->channel));
    }
    return readers;
}

double Percentile(std::vector<double> values, double p) {
    std::sort(values.begin(), values.end());
    const size_t at = static_cast<size_t>(p * static_cast<double>(values.size() - 1) + 0.5);
    return values[at];
}

int Cycles() {
    const char* text = std::getenv("BELVANE_STOP_CYCLES");
    return text != nullptr && std::atoi(text) > 0 ? std::atoi(text) : 1000;
}

// Runs first: it keeps the pseudo-terminals 0 to 9 open and working.
TEST(SerialFaults, TenReadersStartedAndStoppedOverAndOver) {
    const int cycles = Cycles();
    std::vector<std::unique_ptr<Reader>> readers;
    for (int i = 0; i < kReaders; ++i) {
        readers.push_back(std::make_unique<Reader>());
        // Half of them polled with pauses, half waiting for port events.
        if (i % 2 == 0) ScanSettings(&readers.back()->channel);
        ASSERT_TRUE(readers.back()->Open(i));
    }
    const int terminationsBefore = serialtest::Terminations();
    std::vector<double> stopMs;
    stopMs.reserve(static_cast<size_t>(cycles) * kReaders);
    for (int cycle = 0; cycle < cycles; ++cycle) {
        for (auto& r : readers) ASSERT_TRUE(StartReader(&r->channel));
        if (cycle % 10 == 0) serialtest::Pty(cycle / 10 % kReaders).Write("x");
        for (auto& r : readers) {
            const auto start = std::chrono::steady_clock::now();
            StopReader(&r->channel);
            const auto end = std::chrono::steady_clock::now();
            stopMs.push_back(std::chrono::duration<double, std::milli>(end - start).count());
            ASSERT_EQ(r->channel.readerThread, nullptr);
        }
    }
    const int forced = serialtest::Terminations() - terminationsBefore;
    std::printf(
        "%d readers, %d start/stop cycles: longest stop %.2f ms, 99th percentile %.2f ms, "
        "forced terminations %d\n",
        kReaders, cycles, *std::max_element(stopMs.begin(), stopMs.end()), Percentile(stopMs, 0.99),
        forced);
    RecordProperty("forced_terminations", forced);
    EXPECT_EQ(forced, 0);
    // Every port still works after all of that.
    for (int i = 0; i < kReaders; ++i) {
        EXPECT_TRUE(WriteChannel(&readers[static_cast<size_t>(i)]->channel, "ok", 2));
        EXPECT_EQ(serialtest::Pty(i).Read(2, 5000), "ok");
    }
}

TEST(SerialFaults, SecondOpenOfAPortInUseIsRefusedAndTheReaderGoesOn) {
    auto readers = Start(0, kReaders, true);
    for (int i = 0; i < kReaders; ++i) {
        Reader second;
        EXPECT_FALSE(second.Open(i)) << "port " << i;
        EXPECT_EQ(second.channel.port, nullptr);
    }
    serialtest::Pty(3).Write("$");
    EXPECT_TRUE(readers[3]->recorder.WaitFor('F', 1));
    for (auto& r : readers) StopReader(&r->channel);
}

// The far ends hang up: ten readers with the scan's settings on ports 0 to 9, and two with
// the channel's defaults on ports 10 and 11 (the harness has twelve). The readers must
// neither crash nor spin: the process stays near idle while they keep running. The ports
// are dead afterwards, so this runs last.
TEST(SerialFaults, HangUpUnderEveryReaderTakesNoProcessorTime) {
    for (bool scan : {true, false}) {
        SCOPED_TRACE(scan ? "scan settings" : "channel defaults");
        const int first = scan ? 0 : kReaders;
        const int count = scan ? kReaders : serialtest::kPorts - kReaders;
        auto readers = Start(first, count, scan);
        for (int i = first; i < first + count; ++i) serialtest::Pty(i).CloseMaster();
        constexpr double kWatchSeconds = 3.0;
        const double cpuBefore = ProcessCpuSeconds();
        const auto wallBefore = std::chrono::steady_clock::now();
        Sleep(static_cast<DWORD>(kWatchSeconds * 1000));
        const double wall =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - wallBefore).count();
        const double cpu = ProcessCpuSeconds() - cpuBefore;
        std::printf(
            "after hang-up, %d readers with %s: %.3f s processor time in %.1f s (%.1f%% "
            "of one core)\n",
            count, scan ? "scan settings" : "channel defaults", cpu, wall, 100.0 * cpu / wall);
        // One reader spinning would take a whole core; idle readers take next to none.
        EXPECT_LT(cpu, 0.1 * wall);
        for (auto& r : readers) {
            StopReader(&r->channel);
            EXPECT_EQ(r->channel.readerThread, nullptr);
            EXPECT_FALSE(WriteChannel(&r->channel, "x", 1));
        }
    }
}

}  // namespace
