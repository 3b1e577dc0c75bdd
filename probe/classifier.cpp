#include "probe/classifier.h"

#include <array>
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
// One 64-bit word per port: bits 0-47 hold the window's non-zero bytes, newest in the low
// byte (a zero byte is never kept, as in the byte string); bits 48-52 mark the ages (0 the
// newest byte) at which a radar pair ends, bits 54-57 those at which a triple ends, with a
// bit between so that one shift ages both. A pair ending at age 4 or a triple at age 3
// starts at the oldest byte, so a mark is dropped with the byte that begins it. Each byte then
// costs a few shifts, and only the few bytes that can end a signature look any further.

constexpr int kPairShift = 48;
constexpr int kTripleShift = 54;
constexpr uint64_t kBytesMask = (uint64_t{1} << kPairShift) - 1;
constexpr uint64_t kPairMarks = uint64_t{0x1F} << kPairShift;
constexpr uint64_t kTripleMarks = uint64_t{0x0F} << kTripleShift;
// Where the marks of older ages land after one shift; the newest age is set afresh.
constexpr uint64_t kAgedMarks =
    (kPairMarks | kTripleMarks) & ~(uint64_t{1} << kPairShift) & ~(uint64_t{1} << kTripleShift);
constexpr uint64_t kOldestByte = uint64_t{0xFF} << 40;

// What a received byte can complete.
enum : BYTE { ENDS_PAIR = 1, ENDS_TRIPLE = 2 };

constexpr uint64_t SignatureWord(const BYTE* bytes, int count) {
    uint64_t word = 0;
    for (int i = 0; i < count; ++i) word = word << 8 | bytes[i];
    return word;
}

struct Signatures {
    std::array<BYTE, 256> ends{};
    std::array<uint32_t, 6> triples{};

    Signatures() {
        for (BYTE command : RadarCommandBytes) ends[command] |= ENDS_PAIR;
        for (size_t i = 0; i < triples.size(); ++i) {
            ends[RadarTriples[i][2]] |= ENDS_TRIPLE;
            triples[i] = static_cast<uint32_t>(SignatureWord(RadarTriples[i], 3));
        }
    }
};

const Signatures g_signatures;
constexpr uint64_t kGpsWord = SignatureWord(kGpsSignature, kWindowBytes);

bool EndsTriple(uint64_t word) {
    const uint32_t last3 = static_cast<uint32_t>(word & 0xFFFFFF);
    for (uint32_t triple : g_signatures.triples) {
        if (last3 == triple) return true;
    }
    return false;
}

// The word after a non-zero byte b. A signature's bytes are never zero, so one can only end
// at b when the bytes before it are really there.
uint64_t Shift(uint64_t state, BYTE b) {
    const uint64_t bytes = ((state << 8) | b) & kBytesMask;
    uint64_t marks = (state << 1) & kAgedMarks;
    const BYTE ends = g_signatures.ends[b];
    if (ends & ENDS_PAIR && (state & 0xFF) == kRadarLead) marks |= uint64_t{1} << kPairShift;
    if (ends & ENDS_TRIPLE && EndsTriple(bytes)) marks |= uint64_t{1} << kTripleShift;
    return bytes | marks;
}

// A zero byte is tested on its own call and then overwritten, so it only matters on a full
// window, whose oldest byte it pushes out, and the marks that began there with it.
uint64_t ShiftZero(uint64_t state) {
    if ((state & kOldestByte) == 0) return state;
    return (state & ~kOldestByte) & ~(uint64_t{1} << (kPairShift + 4)) &
           ~(uint64_t{1} << (kTripleShift + 3));
}

int Verdict(uint64_t state) {
    if ((state & kBytesMask) == kGpsWord) return PORT_GPS;
    return (state & (kPairMarks | kTripleMarks)) != 0 ? PORT_RADAR : 0;
}

// One word per port, never reset, on a cache line of its own so that readers of different
// ports do not slow each other down. A port has one reader at a time, and a reader is ended
// (its thread joined) before the port is opened again with the next, so each word has one
// user at a time and every handover is ordered by the join: no lock is needed on the way.
struct alignas(64) PortWindow {
    uint64_t state;
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
LONG ClassifyByte(SerialChannel* channel, LONG /*id*/, const BYTE* data, LONG /*count*/) {
    if (channel == nullptr || data == nullptr) return 0;
    int type = ClassifyPortByte(channel->portIndex, data[0]);
    if (type != 0) MarkPortFound(channel, type);
    return 0;
}
