#include "probe/classifier.h"

#include <array>
#include <atomic>
#include <cstdint>

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

// ---- The window as a byte string, for callers that hold a ByteWindow of their own ----

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

// ---- The per-port windows, kept as incremental state ----
//
// One 64-bit word per port: six lanes of ten bits, the newest byte's lane at bits 4-13 and
// the oldest at bits 54-63. A lane holds a byte (a zero byte is never kept, as in the byte
// string), a bit set when a radar pair starts at that byte and one when a triple does. A new
// byte shifts the word by one lane, so the oldest lane falls off the top together with the
// marks of the signatures it began: a byte then costs a shift and an or on the way to the
// next byte, and only a byte after 0xAA or one that can end a triple looks any further.

constexpr int kLaneBits = 10;
constexpr int kLaneBase = 4;
constexpr uint64_t kPairFlag = uint64_t{1} << 8;
constexpr uint64_t kTripleFlag = uint64_t{1} << 9;

constexpr uint64_t Lane(int age, uint64_t value) {
    return value << (kLaneBase + kLaneBits * age);
}

constexpr uint64_t EveryLane(uint64_t value) {
    uint64_t word = 0;
    for (int age = 0; age < kWindowBytes; ++age) word |= Lane(age, value);
    return word;
}

constexpr uint64_t kBytes = EveryLane(0xFF);
constexpr uint64_t kMarks = EveryLane(kPairFlag | kTripleFlag);
constexpr uint64_t kOldestLane = Lane(kWindowBytes - 1, 0x3FF);

constexpr uint64_t GpsWord() {
    uint64_t word = 0;
    for (int i = 0; i < kWindowBytes; ++i) word |= Lane(kWindowBytes - 1 - i, kGpsSignature[i]);
    return word;
}

constexpr uint64_t kGpsWord = GpsWord();

BYTE ByteAt(uint64_t word, int age) {
    return static_cast<BYTE>(word >> (kLaneBase + kLaneBits * age));
}

// What a received byte can complete.
enum : BYTE { ENDS_PAIR = 1, ENDS_TRIPLE = 2 };

struct Signatures {
    std::array<BYTE, 256> ends{};
    std::array<uint32_t, 6> triples{};

    Signatures() {
        for (BYTE command : RadarCommandBytes) ends[command] |= ENDS_PAIR;
        for (size_t i = 0; i < triples.size(); ++i) {
            ends[RadarTriples[i][2]] |= ENDS_TRIPLE;
            triples[i] = static_cast<uint32_t>(RadarTriples[i][0] << 16 | RadarTriples[i][1] << 8 |
                                               RadarTriples[i][2]);
        }
    }
};

const Signatures g_signatures;

bool EndsTriple(uint64_t word) {
    const uint32_t last3 =
        static_cast<uint32_t>(ByteAt(word, 2) << 16 | ByteAt(word, 1) << 8 | ByteAt(word, 0));
    for (uint32_t triple : g_signatures.triples) {
        if (last3 == triple) return true;
    }
    return false;
}

// The marks a byte sets, on the lane of the signature's first byte, when it follows 0xAA or
// can end a triple. word already holds the byte.
uint64_t NewMarks(uint64_t word) {
    const BYTE ends = g_signatures.ends[ByteAt(word, 0)];
    uint64_t marks = 0;
    if (ends & ENDS_PAIR && ByteAt(word, 1) == kRadarLead) marks |= Lane(1, kPairFlag);
    if (ends & ENDS_TRIPLE && EndsTriple(word)) marks |= Lane(2, kTripleFlag);
    return marks;
}

// The word after a non-zero byte b. A signature's bytes are never zero, so one can only end
// at b when the bytes before it are really there.
uint64_t Shift(uint64_t state, BYTE b) {
    const uint64_t word = state << kLaneBits | Lane(0, b);
    if (ByteAt(state, 0) != kRadarLead && (g_signatures.ends[b] & ENDS_TRIPLE) == 0) return word;
    return word | NewMarks(word);
}

// A zero byte is tested on its own call and then overwritten, so it only matters on a full
// window, whose oldest byte it pushes out, and the marks that began there with it.
uint64_t ShiftZero(uint64_t state) {
    return state & ~kOldestLane;
}

int Verdict(uint64_t state) {
    if ((state & kBytes) == kGpsWord) return PORT_GPS;
    return (state & kMarks) != 0 ? PORT_RADAR : 0;
}

// One word per port, never reset, on a cache line of its own so that readers of different
// ports do not slow each other down. A port has one reader at a time, and a reader is ended
// (its thread joined) before the port is opened again with the next, so each word has one
// user at a time and every handover is ordered by the join: no lock is needed on the way.
struct alignas(64) PortWindow {
    uint64_t state;
    std::atomic<int> bytesSeen;  // for the scan's log
};

PortWindow g_portWindows[kPortCount];

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
    uint64_t& state = g_portWindows[portIndex].state;
    state = b != 0 ? Shift(state, b) : ShiftZero(state);
    return Verdict(state);
}

// A channel without a window of its own (null, or a port index outside 0 to 9) could never
// be marked anyway, so its bytes are dropped.
LONG ClassifyByte(SerialChannel* channel, LONG /*id*/, const BYTE* data, LONG count) {
    if (channel == nullptr || data == nullptr) return 0;
    const int port = channel->portIndex;
    if (port < 0 || port >= kPortCount) return 0;
    std::atomic<int>& seen = g_portWindows[port].bytesSeen;
    seen.store(seen.load(std::memory_order_relaxed) + static_cast<int>(count),
               std::memory_order_relaxed);
    int type = ClassifyPortByte(port, data[0]);
    if (type != 0) MarkPortFound(channel, type);
    return 0;
}

int ScanBytesSeen(int portIndex) {
    if (portIndex < 0 || portIndex >= kPortCount) return 0;
    return g_portWindows[portIndex].bytesSeen.load(std::memory_order_relaxed);
}

void ResetScanBytes(int portIndex) {
    if (portIndex < 0 || portIndex >= kPortCount) return;
    g_portWindows[portIndex].bytesSeen.store(0, std::memory_order_relaxed);
}
