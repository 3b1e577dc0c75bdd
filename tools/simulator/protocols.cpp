#include "tools/simulator/protocols.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <ctime>

namespace sim {

namespace {

constexpr std::string_view kSentenceTypes[] = {"RMC", "GGA", "GSA", "GSV", "GLL", "VTG", "ZDA"};

struct Fix {
    std::tm utc{};
    double latDegrees = 0;  // north positive
    double lonDegrees = 0;  // east positive
    double speedKnots = 0;
    double courseDegrees = 0;
};

Fix FixAt(long long utcSeconds) {
    Fix fix;
    std::time_t t = static_cast<std::time_t>(utcSeconds);
    gmtime_r(&t, &fix.utc);
    // A slow walk north-east from a fixed start, so that successive fixes differ.
    double step = static_cast<double>(utcSeconds % 3600);
    fix.latDegrees = 47.3769 + step * 0.00001;
    fix.lonDegrees = 8.5417 + step * 0.000012;
    fix.speedKnots = 2.7 + static_cast<double>(utcSeconds % 7) * 0.1;
    fix.courseDegrees = 41.5;
    return fix;
}

__attribute__((format(printf, 1, 2))) std::string Format(const char* format, ...) {
    char buffer[160];
    va_list args;
    va_start(args, format);
    int n = std::vsnprintf(buffer, sizeof buffer, format, args);
    va_end(args);
    return std::string(buffer, static_cast<std::size_t>(std::clamp(n, 0, 159)));
}

std::string TimeField(const Fix& fix) {
    return Format("%02d%02d%02d.00", fix.utc.tm_hour, fix.utc.tm_min, fix.utc.tm_sec);
}

// ddmm.mmmm,N or dddmm.mmmm,E
std::string CoordinateField(double degrees, int degreeDigits, char positive, char negative) {
    double magnitude = std::fabs(degrees);
    int whole = static_cast<int>(magnitude);
    double minutes = (magnitude - whole) * 60.0;
    return Format("%0*d%07.4f,%c", degreeDigits, whole, minutes, degrees < 0 ? negative : positive);
}

std::string Position(const Fix& fix) {
    return CoordinateField(fix.latDegrees, 2, 'N', 'S') + "," +
           CoordinateField(fix.lonDegrees, 3, 'E', 'W');
}

std::string SentenceBody(std::string_view type, const Fix& fix) {
    if (type == "RMC")
        return "RMC," + TimeField(fix) + ",A," + Position(fix) +
               Format(",%.1f,%.1f,%02d%02d%02d,,,A", fix.speedKnots, fix.courseDegrees,
                      fix.utc.tm_mday, fix.utc.tm_mon + 1, fix.utc.tm_year % 100);
    if (type == "GGA")
        return "GGA," + TimeField(fix) + "," + Position(fix) + ",1,08,0.9,408.2,M,47.6,M,,";
    if (type == "GSA") return "GSA,A,3,04,05,09,12,17,20,24,28,,,,,1.8,0.9,1.5";
    if (type == "GLL") return "GLL," + Position(fix) + "," + TimeField(fix) + ",A,A";
    if (type == "VTG")
        return Format("VTG,%.1f,T,,M,%.1f,N,%.1f,K,A", fix.courseDegrees, fix.speedKnots,
                      fix.speedKnots * 1.852);
    if (type == "ZDA")
        return "ZDA," + TimeField(fix) +
               Format(",%02d,%02d,%04d,00,00", fix.utc.tm_mday, fix.utc.tm_mon + 1,
                      fix.utc.tm_year + 1900);
    return {};
}

// Eight satellites in view, four to a GSV sentence.
std::string SatellitesInView(std::string_view talker) {
    static constexpr int kSats[8][4] = {{4, 41, 83, 46},   {5, 17, 308, 41}, {9, 7, 344, 39},
                                        {12, 22, 228, 45}, {17, 63, 41, 48}, {20, 11, 122, 36},
                                        {24, 34, 270, 44}, {28, 52, 170, 47}};
    std::string out;
    for (int part = 0; part < 2; ++part) {
        std::string body = std::string(talker) + Format("GSV,2,%d,08", part + 1);
        for (int i = part * 4; i < part * 4 + 4; ++i)
            body +=
                Format(",%02d,%02d,%03d,%02d", kSats[i][0], kSats[i][1], kSats[i][2], kSats[i][3]);
        out += NmeaSentence(body);
    }
    return out;
}

constexpr std::uint8_t kGpsSignature[] = {'$', 'G', 'P', 'R', 'M', 'C'};

}  // namespace

const std::vector<std::uint8_t> kRadarCommands = {0x40, 0x42, 0x43, 0x48, 0x4A, 0x4B, 0x50,
                                                  0x51, 0x53, 0x55, 0x58, 0x59, 0x5B, 0x80};
const std::vector<std::string> kRadarTriples = {"\x01\x56\xAB", "\x02\xAF\xEE", "\x02\xBE\xEE",
                                                "\x01\xC5\xAD", "\x01\xD4\xAD", "\x03\xAB\xEE"};

std::string NmeaChecksum(std::string_view body) {
    std::uint8_t sum = 0;
    for (char c : body) sum ^= static_cast<std::uint8_t>(c);
    return Format("%02X", sum);
}

std::string NmeaSentence(std::string_view body) {
    return "$" + std::string(body) + "*" + NmeaChecksum(body) + "\r\n";
}

bool NmeaChecksumValid(std::string_view sentence) {
    if (sentence.ends_with("\r\n")) sentence.remove_suffix(2);
    if (sentence.size() < 4 || sentence.front() != '$') return false;
    std::size_t star = sentence.size() - 3;
    if (sentence[star] != '*') return false;
    return NmeaChecksum(sentence.substr(1, star - 1)) == sentence.substr(star + 1);
}

bool IsKnownSentence(std::string_view type) {
    return std::find(std::begin(kSentenceTypes), std::end(kSentenceTypes), type) !=
           std::end(kSentenceTypes);
}

bool IsValidTalker(std::string_view talker) {
    return talker.size() == 2 &&
           std::all_of(talker.begin(), talker.end(), [](char c) { return c >= 'A' && c <= 'Z'; });
}

std::string GpsBurst(const GpsOptions& options, long long utcSeconds) {
    Fix fix = FixAt(utcSeconds);
    std::string out;
    for (const std::string& type : options.sentences) {
        if (type == "GSV")
            out += SatellitesInView(options.talker);
        else
            out += NmeaSentence(options.talker + SentenceBody(type, fix));
    }
    return out;
}

std::string RadarBurst(RadarMode mode, unsigned sequence) {
    if (mode == RadarMode::Triples) return kRadarTriples[sequence % kRadarTriples.size()];
    // Alert frames: band, signal strength and a running counter; the checksum is the low
    // byte of the sum of everything before it.
    std::uint8_t command = kRadarCommands[sequence % kRadarCommands.size()];
    std::string frame{'\xAA',
                      static_cast<char>(command),
                      '\x03',
                      static_cast<char>(sequence % 4),
                      static_cast<char>(1 + sequence % 9),
                      static_cast<char>(sequence & 0x7F)};
    std::uint8_t sum = 0;
    for (char c : frame) sum = static_cast<std::uint8_t>(sum + static_cast<std::uint8_t>(c));
    frame += static_cast<char>(sum);
    return frame;
}

bool IsSignatureByte(std::uint8_t b) {
    if (b == 0xAA) return true;
    if (std::find(std::begin(kGpsSignature), std::end(kGpsSignature), b) != std::end(kGpsSignature))
        return true;
    if (std::find(kRadarCommands.begin(), kRadarCommands.end(), b) != kRadarCommands.end())
        return true;
    for (const std::string& triple : kRadarTriples)
        if (triple.find(static_cast<char>(b)) != std::string::npos) return true;
    return false;
}

std::string GarbageBytes(std::size_t count, std::mt19937& rng) {
    // A listener at the wrong rate takes arbitrary bit patterns for bytes. No byte of any
    // device signature is let through: garbage alone then never looks like a device, and
    // since the port scanner passes the bytes of all its ports through one shared window,
    // garbage cannot complete or extend a signature begun by another port either.
    std::uniform_int_distribution<int> byteValue(0, 255);
    std::string out;
    out.reserve(count);
    while (out.size() < count) {
        auto b = static_cast<std::uint8_t>(byteValue(rng));
        if (!IsSignatureByte(b)) out += static_cast<char>(b);
    }
    return out;
}

SignatureScanner::Found SignatureScanner::Feed(std::uint8_t b) {
    if (b == 0) return None;  // the next byte takes its place in the scanner's window
    if (fill_ < 6) {
        window_[fill_++] = b;
    } else {
        std::copy(window_ + 1, window_ + 6, window_);
        window_[5] = b;
    }
    if (fill_ == 6 && std::equal(window_, window_ + 6, kGpsSignature)) return Gps;
    for (int i = 0; i + 1 < fill_; ++i)
        if (window_[i] == 0xAA && std::find(kRadarCommands.begin(), kRadarCommands.end(),
                                            window_[i + 1]) != kRadarCommands.end())
            return Radar;
    for (int i = 0; i + 2 < fill_; ++i)
        for (const std::string& triple : kRadarTriples)
            if (std::equal(window_ + i, window_ + i + 3,
                           reinterpret_cast<const std::uint8_t*>(triple.data())))
                return Radar;
    return None;
}

SignatureScanner::Found SignatureScanner::FeedAll(std::string_view bytes) {
    for (char c : bytes)
        if (Found found = Feed(static_cast<std::uint8_t>(c)); found != None) return found;
    return None;
}

}  // namespace sim
