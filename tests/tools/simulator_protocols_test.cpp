#include <gtest/gtest.h>

#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "tools/simulator/protocols.h"

namespace {

using sim::SignatureScanner;

std::vector<std::string> Sentences(const std::string& burst) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < burst.size()) {
        std::size_t end = burst.find("\r\n", start);
        EXPECT_NE(end, std::string::npos) << "sentence without CR LF: " << burst.substr(start);
        if (end == std::string::npos) break;
        lines.push_back(burst.substr(start, end - start));
        start = end + 2;
    }
    return lines;
}

SignatureScanner::Found Scan(const std::string& bytes) {
    SignatureScanner scanner;
    return scanner.FeedAll(bytes);
}

TEST(NmeaTest, ChecksumAgreesWithRealReceiverOutput) {
    // Sentences as a receiver sent them, checksums included.
    EXPECT_TRUE(sim::NmeaChecksumValid(
        "$GPRMC,000416.984,V,36000.0000,N,72000.0000,E,0.000000,,260120,,*3B"));
    EXPECT_TRUE(sim::NmeaChecksumValid("$GPGSA,A,1,,,,,,,,,,,,,50.0,50.0,50.0*05\r\n"));
    EXPECT_FALSE(sim::NmeaChecksumValid("$GPGSA,A,1,,,,,,,,,,,,,50.0,50.0,50.0*06"));
    EXPECT_FALSE(sim::NmeaChecksumValid("GPGSA,A,1*05"));
    EXPECT_EQ(sim::NmeaSentence("GPGSA,A,1,,,,,,,,,,,,,50.0,50.0,50.0"),
              "$GPGSA,A,1,,,,,,,,,,,,,50.0,50.0,50.0*05\r\n");
}

TEST(NmeaTest, DefaultBurstHasValidSentencesWithRmc) {
    std::string burst = sim::GpsBurst(sim::GpsOptions{}, 1765152000);  // 2025-12-08 00:00:00
    std::vector<std::string> lines = Sentences(burst);
    ASSERT_EQ(lines.size(), 5u);  // GGA, GSA, two GSV, RMC
    bool rmc = false;
    for (const std::string& line : lines) {
        EXPECT_TRUE(sim::NmeaChecksumValid(line)) << line;
        EXPECT_EQ(line.substr(0, 3), "$GP") << line;
        if (line.starts_with("$GPRMC,")) {
            rmc = true;
            EXPECT_NE(line.find(",000000.00,A,"), std::string::npos) << line;
            EXPECT_NE(line.find(",081225,"), std::string::npos) << line;
        }
    }
    EXPECT_TRUE(rmc);
    EXPECT_EQ(Scan(burst), SignatureScanner::Gps);
}

TEST(NmeaTest, TalkerAndSentenceSetAreSelectable) {
    sim::GpsOptions options;
    options.talker = "GN";
    options.sentences = {"RMC", "VTG", "ZDA", "GLL"};
    std::string burst = sim::GpsBurst(options, 1700000000);
    std::vector<std::string> lines = Sentences(burst);
    ASSERT_EQ(lines.size(), 4u);
    const char* expected[] = {"$GNRMC,", "$GNVTG,", "$GNZDA,", "$GNGLL,"};
    for (std::size_t i = 0; i < lines.size(); ++i) {
        EXPECT_TRUE(lines[i].starts_with(expected[i])) << lines[i];
        EXPECT_TRUE(sim::NmeaChecksumValid(lines[i])) << lines[i];
    }
    // Only the GP talker's RMC identifies a GPS receiver.
    EXPECT_EQ(Scan(burst), SignatureScanner::None);
}

TEST(NmeaTest, SuccessiveSecondsDiffer) {
    sim::GpsOptions options;
    options.sentences = {"RMC"};
    EXPECT_NE(sim::GpsBurst(options, 1700000000), sim::GpsBurst(options, 1700000001));
    EXPECT_TRUE(sim::IsValidTalker("GP"));
    EXPECT_FALSE(sim::IsValidTalker("gp"));
    EXPECT_FALSE(sim::IsValidTalker("GPS"));
    EXPECT_TRUE(sim::IsKnownSentence("GSV"));
    EXPECT_FALSE(sim::IsKnownSentence("XYZ"));
}

TEST(RadarTest, EveryTransmissionCarriesASignature) {
    for (unsigned sequence = 0; sequence < 50; ++sequence) {
        std::string frame = sim::RadarBurst(sim::RadarMode::Frames, sequence);
        ASSERT_GE(frame.size(), 2u);
        EXPECT_EQ(static_cast<unsigned char>(frame[0]), 0xAA);
        EXPECT_EQ(Scan(frame), SignatureScanner::Radar) << "frame " << sequence;
        EXPECT_EQ(Scan(sim::RadarBurst(sim::RadarMode::Triples, sequence)), SignatureScanner::Radar)
            << "triple " << sequence;
    }
}

TEST(RadarTest, FramesCycleThroughAllCommandsAndTriples) {
    std::vector<bool> commandSeen(256), tripleSeen(sim::kRadarTriples.size());
    for (unsigned sequence = 0; sequence < 14; ++sequence) {
        commandSeen[static_cast<unsigned char>(
            sim::RadarBurst(sim::RadarMode::Frames, sequence)[1])] = true;
        std::string triple = sim::RadarBurst(sim::RadarMode::Triples, sequence);
        for (std::size_t t = 0; t < sim::kRadarTriples.size(); ++t)
            if (triple == sim::kRadarTriples[t]) tripleSeen[t] = true;
    }
    for (std::uint8_t command : sim::kRadarCommands)
        EXPECT_TRUE(commandSeen[command]) << int{command};
    for (std::size_t t = 0; t < tripleSeen.size(); ++t) EXPECT_TRUE(tripleSeen[t]) << t;
}

TEST(ScannerTest, RecognisesSignaturesLikeThePortScanner) {
    EXPECT_EQ(Scan("xx$GPRMC,"), SignatureScanner::Gps);
    EXPECT_EQ(Scan("$GPRMX$GPRM"), SignatureScanner::None);
    EXPECT_EQ(Scan("\xAA\x40"), SignatureScanner::Radar);
    EXPECT_EQ(Scan("\xAA\x41"), SignatureScanner::None);
    EXPECT_EQ(Scan("\xAA\x80"), SignatureScanner::Radar);
    EXPECT_EQ(Scan("\x03\xAB\xEE"), SignatureScanner::Radar);
    EXPECT_EQ(Scan("\x03\xAB\xED"), SignatureScanner::None);
    // A zero byte is overwritten by the next one and does not separate a signature.
    EXPECT_EQ(Scan(std::string("\xAA\x00\x55", 3)), SignatureScanner::Radar);
    EXPECT_EQ(Scan(std::string("$GP\0\0RMC", 8)), SignatureScanner::Gps);
}

TEST(GarbageTest, LongRandomRunsNeverHoldASignature) {
    std::mt19937 rng(12345);
    SignatureScanner scanner;
    std::size_t total = 0;
    for (int run = 0; run < 200; ++run) {
        std::string garbage = sim::GarbageBytes(5000, rng);
        ASSERT_EQ(garbage.size(), 5000u);
        total += garbage.size();
        ASSERT_EQ(scanner.FeedAll(garbage), SignatureScanner::None) << "run " << run;
    }
    EXPECT_EQ(total, 1000000u);
}

TEST(GarbageTest, CannotCompleteASignatureBegunOnAnotherPort) {
    // The port scanner shares one window between ports: what another port sent last may be
    // the start of a signature that a garbage byte would complete.
    std::mt19937 rng(7);
    const std::vector<std::string> starts = {"$GPRM",    "\xAA",     "\x01\x56", "\x02\xAF",
                                             "\x03\xAB", "\x02\xBE", "\x01\xC5", "\x01\xD4",
                                             "\x01",     "\x03"};
    for (int run = 0; run < 2000; ++run) {
        for (const std::string& start : starts) {
            SignatureScanner scanner;
            ASSERT_EQ(scanner.FeedAll(start), SignatureScanner::None);
            ASSERT_EQ(scanner.FeedAll(sim::GarbageBytes(3, rng)), SignatureScanner::None)
                << "after a start of " << start.size() << " bytes";
        }
    }
}

TEST(GarbageTest, LooksLikeARandomByteStream) {
    std::mt19937 rng(99);
    std::string garbage = sim::GarbageBytes(100000, rng);
    std::vector<int> counts(256);
    for (char c : garbage) ++counts[static_cast<unsigned char>(c)];
    int distinct = 0;
    for (int b = 0; b < 256; ++b) {
        if (sim::IsSignatureByte(static_cast<std::uint8_t>(b)))
            EXPECT_EQ(counts[b], 0) << b;
        else if (counts[b] > 0)
            ++distinct;
    }
    EXPECT_GT(distinct, 200);  // all but the few signature bytes occur
}

}  // namespace
