// Cost of classifying one received byte, and the delay from a device's "$GPRMC" to the
// scan's found notification at the owner window.
#include <benchmark/benchmark.h>

#include <chrono>
#include <string>

#include "platform/base/messages.h"
#include "probe/classifier.h"
#include "probe/port_scan.h"
#include "scan_support.h"

namespace {

// NMEA traffic with radar signatures mixed in, so every test path of the classifier runs.
const std::string kTraffic =
    "$GPRMC,123519,A,4807.038,N,01131.000,E,022.4,084.4,230394,003.1,W*6A\r\n"
    "$GPGGA,123519,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,*47\r\n"
    "\xAA\x40\x01\x56\xAB\x03\xAB\xEE";

// Each thread feeds its own port, as each reader thread does.
void ClassifyBytePerByte(benchmark::State& state) {
    SerialChannel channel{};
    channel.portIndex = state.thread_index() % PORT_COUNT;
    const BYTE* bytes = reinterpret_cast<const BYTE*>(kTraffic.data());
    for (auto _ : state) {
        for (size_t i = 0; i < kTraffic.size(); ++i) {
            benchmark::DoNotOptimize(ClassifyByte(&channel, WM_CHANNEL_DATA, bytes + i, 1));
        }
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * kTraffic.size()));
    state.counters["ns_per_byte"] =
        benchmark::Counter(static_cast<double>(state.iterations() * kTraffic.size()) * 1e-9,
                           benchmark::Counter::kIsRate | benchmark::Counter::kInvert |
                               benchmark::Counter::kAvgThreads);
}
BENCHMARK(ClassifyBytePerByte)->Threads(1)->Threads(10)->UseRealTime();

// Waits on the calling thread's queue for the next found notification.
void AwaitFound() {
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        if (msg.message == WM_PROBE_NOTIFY && msg.wParam == NOTIFY_FOUND) return;
    }
}

// From the write of "$GPRMC" on the device side to the notification in the owner window's
// queue: one read pass of the reader (which sleeps 100 ms when its port is idle), the
// classifier and the post.
void GpsSentenceToFoundNotification(benchmark::State& state) {
    platform::UseManualClock();  // keep the scan's own timer from stepping the ladder
    probetest::ScanEnvironment env;
    testsupport::PtyPair& pty = env.AddPort(1);
    probetest::NotifyWindow window;
    if (!StartPortScan(window.hwnd(), 1)) {
        state.SkipWithError("scan did not start");
        return;
    }
    for (auto _ : state) {
        auto start = std::chrono::steady_clock::now();
        probetest::WriteSome(pty, "\r\n$GPRMC");
        AwaitFound();
        std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
        state.SetIterationTime(elapsed.count());
    }
    StopPortScan();
    platform::UseRealClock();
}
BENCHMARK(GpsSentenceToFoundNotification)
    ->UseManualTime()
    ->Iterations(40)
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
