#include "probe/classifier.h"

#include <atomic>

#include "probe/port_scan.h"
#include "probe/port_state.h"

const BYTE RadarCommandBytes[14] = {0x40, 0x42, 0x43, 0x48, 0x4A, 0x4B, 0x50,
                                    0x51, 0x53, 0x55, 0x58, 0x59, 0x5B, 0x80};

const BYTE RadarTriples[6][3] = {
    {0x01, 0x56, 0xAB}, {0x02, 0xAF, 0xEE}, {0x02, 0xBE, 0xEE},
    {0x01, 0xC5, 0xAD}, {0x01, 0xD4, 0xAD}, {0x03, 0xAB, 0xEE},
};

namespace {

constexpr int kWindowBytes = 6;
constexpr int kPortCount = 10;
constexpr BYTE kRadarLead = 0xAA;
constexpr BYTE kGpsSignature[kWindowBytes] = {0x24, 0x47, 0x50, 0x52, 0x4D, 0x43};  // "$GPRMC"

// One window per port, never reset. Only the port's current reader touches its window,
// but a port can be reopened with a new reader while an old one is being ended, so each
// window has a guard of its own; it is held for a few instructions and never across a
// platform call, so a reader can never be ended while holding it. Each window has a cache
// line of its own, so that readers of different ports do not slow each other down.
struct alignas(64) GuardedWindow {
    std::atomic_flag busy;
    ByteWindow window;
};

GuardedWindow g_portWindows[kPortCount];

int FillCount(const ByteWindow& window) {
    int k = 0;
    while (k < kWindowBytes && window.bytes[k] != 0) ++k;
    return k;
}

// Stores b and returns how many positions hold bytes to test.
int Append(ByteWindow* window, BYTE b) {
    int k = FillCount(*window);
    if (k < kWindowBytes) {
        window->bytes[k] = b;
        return k + 1;
    }
    for (int i = 0; i < kWindowBytes - 1; ++i) window->bytes[i] = window->bytes[i + 1];
    window->bytes[kWindowBytes - 1] = b;
    return kWindowBytes;
}

bool IsGps(const ByteWindow& window) {
    for (int i = 0; i < kWindowBytes; ++i) {
        if (window.bytes[i] != kGpsSignature[i]) return false;
    }
    return true;
}

bool IsRadarCommand(BYTE b) {
    for (BYTE command : RadarCommandBytes) {
        if (b == command) return true;
    }
    return false;
}

bool HasRadarPair(const ByteWindow& window, int n) {
    for (int i = 0; i <= n - 2; ++i) {
        if (window.bytes[i] == kRadarLead && IsRadarCommand(window.bytes[i + 1])) return true;
    }
    return false;
}

bool HasRadarTriple(const ByteWindow& window, int n) {
    for (int i = 0; i <= n - 3; ++i) {
        for (const BYTE* triple : RadarTriples) {
            if (window.bytes[i] == triple[0] && window.bytes[i + 1] == triple[1] &&
                window.bytes[i + 2] == triple[2]) {
                return true;
            }
        }
    }
    return false;
}

}  // namespace

int ClassifyWindowByte(ByteWindow* window, BYTE b) {
    int n = Append(window, b);
    if (IsGps(*window)) return PORT_GPS;
    if (HasRadarPair(*window, n)) return PORT_RADAR;
    if (HasRadarTriple(*window, n)) return PORT_RADAR;
    return 0;
}

int ClassifyPortByte(int portIndex, BYTE b) {
    if (portIndex < 0 || portIndex >= kPortCount) return 0;
    GuardedWindow& guarded = g_portWindows[portIndex];
    while (guarded.busy.test_and_set(std::memory_order_acquire)) {
    }
    int type = ClassifyWindowByte(&guarded.window, b);
    guarded.busy.clear(std::memory_order_release);
    return type;
}

// A channel without a window of its own (null, or a port index outside 0 to 9) could never
// be marked anyway, so its bytes are dropped.
LONG ClassifyByte(SerialChannel* channel, LONG /*id*/, const BYTE* data, LONG count) {
    if (channel == nullptr || data == nullptr) return 0;
    CountScanBytes(channel->portIndex, static_cast<int>(count));
    int type = ClassifyPortByte(channel->portIndex, data[0]);
    if (type != 0) MarkPortFound(channel, type);
    return 0;
}
