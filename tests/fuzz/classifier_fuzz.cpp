// The byte classifier against a model written from the signatures alone. Input: pairs of
// (port, byte); port values from 0 to 11 reach the per-port windows and two indexes
// outside them, the rest a private window.
//
// The model keeps each window's received non-zero bytes, at most six: a zero byte takes
// part in its own call only (it matches nothing) and, in a full window, pushes the oldest
// byte out. A call reports GPS when the six bytes are "$GPRMC", else radar when 0xAA is
// followed by a command byte or a triple stands anywhere in the window.
#include <algorithm>
#include <cstdint>
#include <deque>
#include <map>

#include "fuzz_check.h"
#include "probe/classifier.h"
#include "probe/port_state.h"

namespace {

struct Model {
    std::deque<BYTE> bytes;

    int Append(BYTE b) {
        if (bytes.size() == 6) bytes.pop_front();
        if (b != 0) bytes.push_back(b);
        return Classify();
    }

    int Classify() const {
        static const BYTE gps[6] = {'$', 'G', 'P', 'R', 'M', 'C'};
        if (bytes.size() == 6 && std::equal(bytes.begin(), bytes.end(), gps)) return PORT_GPS;
        for (size_t i = 0; i + 1 < bytes.size(); ++i) {
            if (bytes[i] == 0xAA &&
                std::count(RadarCommandBytes, RadarCommandBytes + 14, bytes[i + 1]))
                return PORT_RADAR;
        }
        for (size_t i = 0; i + 2 < bytes.size(); ++i) {
            for (const auto& t : RadarTriples) {
                if (bytes[i] == t[0] && bytes[i + 1] == t[1] && bytes[i + 2] == t[2])
                    return PORT_RADAR;
            }
        }
        return 0;
    }
};

// The per-port windows live for the process; the model keeps up with them over all inputs.
std::map<int, Model> g_ports;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    ByteWindow window{};
    Model own;
    for (size_t i = 0; i + 1 < size; i += 2) {
        const int port = data[i] % 16;
        const BYTE b = data[i + 1];
        if (port < 12) {
            const int got = ClassifyPortByte(port, b);
            if (port >= 10) {
                FUZZ_CHECK(got == 0);
            } else {
                FUZZ_CHECK(got == g_ports[port].Append(b));
            }
            continue;
        }
        FUZZ_CHECK(ClassifyWindowByte(&window, b) == own.Append(b));
        FUZZ_CHECK(window.bytes[6] == 0);
        // The window holds the model's bytes, then the zero just received, if any.
        size_t k = 0;
        for (; k < own.bytes.size(); ++k) FUZZ_CHECK(window.bytes[k] == own.bytes[k]);
        FUZZ_CHECK(k == 6 || window.bytes[k] == 0);
    }
    return 0;
}
