// Framing throughput per mode (reads fed from memory through the framing step). Stopping
// readers is timed where users meet it, in probe_bench's stop of a scan receiving data.
#include <benchmark/benchmark.h>

#include <cstring>
#include <memory>
#include <string>

#include "serial/channel.h"
#include "serial/framing.h"

namespace {

LONG CountFrame(SerialChannel*, LONG, const BYTE*, LONG count) {
    benchmark::DoNotOptimize(count);
    return 0;
}

std::string Repeat(const std::string& unit, size_t size) {
    std::string out;
    while (out.size() < size) out += unit;
    out.resize(size);
    return out;
}

std::string HeaderUnit() {
    std::string r("\xAA\xBB\x01\x00\x00\x20\x02", 7);
    r += std::string(32, 'p');
    r += '\r';
    return r;
}

struct ModeSetup {
    BOOL framed;
    LONG recordSize;
    std::string start;
    std::string end;
    std::string unit;
};

ModeSetup Setup(int mode) {
    switch (mode) {
        case 0:
            return {0, 0, "", "", "raw bytes of any kind "};
        case 1:
            return {0, 1, "", "", "$GPRMC,1,2*7F\r\n"};
        case 2:
            return {0, 16, "", "", "0123456789abcdef"};
        case 3:
            return {1, 0, "", "",
                    "$GPRMC,123519,A,4807.038,N,01131.000,E,022.4,084.4,230394,003.1,W*6A\r\n"};
        case 4:
            return {1, 0, "{", "}", "{\"speed\":12,\"limit\":50}"};
        case 5:
            return {1, 0, "<<<", ">>", "<speed 12 limit 50>"};
        default:
            return {1, 0, std::string("\xAA\xBB", 2), "\n", HeaderUnit()};
    }
}

const char* const kModeNames[] = {"raw",       "record1", "record16", "sentence",
                                  "delimiter", "request", "header"};

void BM_Framing(benchmark::State& bench) {
    const ModeSetup setup = Setup(static_cast<int>(bench.range(0)));
    SerialChannel channel;
    std::memset(&channel, 0, sizeof channel);
    InitChannel(&channel);
    channel.frameCallback = CountFrame;
    channel.framed = setup.framed;
    channel.recordSize = setup.recordSize;
    SetFrameDelimiters(&channel, reinterpret_cast<const BYTE*>(setup.start.data()),
                       static_cast<DWORD>(setup.start.size()),
                       reinterpret_cast<const BYTE*>(setup.end.data()),
                       static_cast<DWORD>(setup.end.size()));
    auto state = std::make_unique<ReaderState>();
    BeginReaderState(state.get(), &channel);
    // Reads of 1024 bytes, as a polling reader asks for, cut across the frames.
    const std::string data = Repeat(setup.unit, 64 * 1024);
    size_t offset = 0;
    int64_t total = 0;
    for (auto _ : bench) {
        const DWORD n = PrepareRead(state.get(), READ_REQUEST_POLLED);
        if (offset + n > data.size()) offset = 0;
        std::memcpy(state->buffer + state->fill, data.data() + offset, n);
        offset += n;
        ProcessRead(&channel, state.get(), static_cast<LONG>(n));
        total += n;
    }
    bench.SetBytesProcessed(total);
    bench.SetLabel(kModeNames[bench.range(0)]);
    ReleaseChannel(&channel);
}
BENCHMARK(BM_Framing)->DenseRange(0, 6);

}  // namespace

BENCHMARK_MAIN();
