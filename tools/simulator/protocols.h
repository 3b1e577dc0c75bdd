// What the simulated devices say: NMEA 0183 sentences, radar detector frames, and the bytes
// a listener set to the wrong framing receives. Plain functions; no ports, no clock.
#pragma once

#include <cstdint>
#include <random>
#include <string>
#include <string_view>
#include <vector>

namespace sim {

// Two upper-case hex digits: the XOR of the characters between '$' and '*'.
std::string NmeaChecksum(std::string_view body);
// "$" body "*" checksum CR LF.
std::string NmeaSentence(std::string_view body);
// True for "$...*hh" with a correct checksum (an optional CR LF is ignored).
bool NmeaChecksumValid(std::string_view sentence);

bool IsKnownSentence(std::string_view type);  // RMC, GGA, GSA, GSV, GLL, VTG, ZDA
bool IsValidTalker(std::string_view talker);  // two upper-case letters

struct GpsOptions {
    std::string talker = "GP";
    std::vector<std::string> sentences{"GGA", "GSA", "GSV", "RMC"};
};

// One second's output of a receiver with a fix, for the UTC time utcSeconds (seconds since
// 1970); the position wanders a little from second to second.
std::string GpsBurst(const GpsOptions& options, long long utcSeconds);

enum class RadarMode { Frames, Triples };

// The command bytes a radar detector sends after 0xAA, and its three-byte sequences.
extern const std::vector<std::uint8_t> kRadarCommands;
extern const std::vector<std::string> kRadarTriples;

// The sequence-th transmission of a radar detector: in frame mode 0xAA, a command byte, a
// length, that many payload bytes and a checksum; in triple mode one of the sequences.
std::string RadarBurst(RadarMode mode, unsigned sequence);

// True for a byte that occurs in any signature that identifies a device ("$GPRMC", 0xAA
// with its command bytes, the radar triples).
bool IsSignatureByte(std::uint8_t b);

// Bytes as a listener at the wrong rate or framing receives them, also the output of the
// noise device.
std::string GarbageBytes(std::size_t count, std::mt19937& rng);

// Recognises device signatures in a byte stream the way the port scanner does: a sliding
// window of the last six non-zero bytes (a zero byte is overwritten by the next one).
class SignatureScanner {
  public:
    enum Found { None = 0, Gps = 2, Radar = 3 };
    Found Feed(std::uint8_t b);
    Found FeedAll(std::string_view bytes);  // the first signature found, or None

  private:
    std::uint8_t window_[6] = {};
    int fill_ = 0;
};

}  // namespace sim
