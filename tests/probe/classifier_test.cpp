#include "probe/classifier.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <thread>
#include <vector>

#include "probe/port_state.h"

namespace {

// Feeds the bytes in order and returns the type reported for each.
std::vector<int> Feed(ByteWindow* window, const std::string& bytes) {
    std::vector<int> types;
    for (unsigned char b : bytes) types.push_back(ClassifyWindowByte(window, b));
    return types;
}

int Last(ByteWindow* window, const std::string& bytes) {
    return Feed(window, bytes).back();
}

std::string Bytes(std::initializer_list<int> values) {
    std::string s;
    for (int v : values) s.push_back(static_cast<char>(v));
    return s;
}

// The process-wide port windows are never reset; six neutral bytes push out whatever an
// earlier test left there.
void FlushPort(int port) {
    for (int i = 0; i < 6; ++i) ASSERT_EQ(ClassifyPortByte(port, 'x'), 0);
}

TEST(ClassifierWindow, GpsSentenceStartMarksOnItsFinalByteOnly) {
    ByteWindow w{};
    EXPECT_EQ(Feed(&w, "$GPRMC"), (std::vector<int>{0, 0, 0, 0, 0, PORT_GPS}));
    EXPECT_EQ(ClassifyWindowByte(&w, ','), 0) << "the next byte shifts the signature out";

    ByteWindow slid{};
    EXPECT_EQ(Last(&slid, "noise,$GPRMC"), PORT_GPS);

    ByteWindow broken{};
    EXPECT_EQ(Feed(&broken, "$GPRMX"), (std::vector<int>{0, 0, 0, 0, 0, 0}));
    ByteWindow other{};
    EXPECT_EQ(Last(&other, "$GPGGA"), 0);
}

TEST(ClassifierWindow, RadarPairNeedsACommandByteAfterAA) {
    ByteWindow a{}, b{}, c{};
    EXPECT_EQ(Last(&a, Bytes({0xAA, 0x40})), PORT_RADAR);
    EXPECT_EQ(Last(&b, Bytes({0xAA, 0x41})), 0);
    EXPECT_EQ(Last(&c, Bytes({0xAA, 0x80})), PORT_RADAR);
    for (BYTE command : RadarCommandBytes) {
        ByteWindow w{};
        EXPECT_EQ(Last(&w, Bytes({'q', 0xAA, command})), PORT_RADAR) << int(command);
    }
    ByteWindow reversed{};
    EXPECT_EQ(Last(&reversed, Bytes({0x40, 0xAA})), 0);
}

TEST(ClassifierWindow, RadarTriplesMatchOnlyWhole) {
    ByteWindow w{}, wrong{};
    EXPECT_EQ(Last(&w, Bytes({0x03, 0xAB, 0xEE})), PORT_RADAR);
    EXPECT_EQ(Feed(&wrong, Bytes({0x03, 0xAB, 0xED})), (std::vector<int>{0, 0, 0}));
    for (const BYTE* t : RadarTriples) {
        ByteWindow each{};
        EXPECT_EQ(Feed(&each, Bytes({'z', 'z', t[0], t[1], t[2]})),
                  (std::vector<int>{0, 0, 0, 0, PORT_RADAR}));
    }
}

TEST(ClassifierWindow, SignatureKeepsMatchingUntilItShiftsOut) {
    ByteWindow w{};
    EXPECT_EQ(Last(&w, Bytes({'a', 'b', 'c', 'd', 0xAA, 0x53})), PORT_RADAR);
    EXPECT_EQ(Feed(&w, "vwxyz"),
              (std::vector<int>{PORT_RADAR, PORT_RADAR, PORT_RADAR, PORT_RADAR, 0}));
}

TEST(ClassifierWindow, ZeroBytesNeverSeparateTheBytesAroundThem) {
    ByteWindow w{};
    EXPECT_EQ(Feed(&w, Bytes({0xAA, 0x00, 0x55})), (std::vector<int>{0, 0, PORT_RADAR}));

    // On a full window a zero still drops the oldest byte, then is overwritten.
    ByteWindow full{};
    EXPECT_EQ(Last(&full, Bytes({'x', '$', 'G', 'P', 'R', 'M', 0x00, 'C'})), PORT_GPS);
}

TEST(ClassifierWindow, EmptyPositionsNeverMatch) {
    ByteWindow w{};
    EXPECT_EQ(Feed(&w, Bytes({0x41, 0x41, 0xAA})), (std::vector<int>{0, 0, 0}));
    EXPECT_EQ(w.bytes[3], 0);
    ByteWindow t{};
    EXPECT_EQ(Feed(&t, Bytes({0x01, 0x56, 0xAB})), (std::vector<int>{0, 0, PORT_RADAR}));
    EXPECT_EQ(w.bytes[6], 0);
}

TEST(ClassifierPorts, EachPortHasItsOwnWindow) {
    FlushPort(3);
    FlushPort(5);
    EXPECT_EQ(ClassifyPortByte(3, 0xAA), 0);
    EXPECT_EQ(ClassifyPortByte(5, 0x40), 0) << "a signature split over two ports marks nothing";
    EXPECT_EQ(ClassifyPortByte(3, 0x40), PORT_RADAR);

    FlushPort(4);
    FlushPort(6);
    const std::string gps = "$GPRMC";
    for (size_t i = 0; i < gps.size(); ++i) {
        EXPECT_EQ(ClassifyPortByte(i % 2 ? 6 : 4, gps[i]), 0) << i;
    }
}

TEST(ClassifierPorts, WindowSurvivesAcrossCallsAndIgnoresForeignIndexes) {
    FlushPort(8);
    for (char c : std::string("$GPR")) ClassifyPortByte(8, c);
    FlushPort(9);  // another port in between does not disturb port 8
    ClassifyPortByte(8, 'M');
    EXPECT_EQ(ClassifyPortByte(8, 'C'), PORT_GPS);

    EXPECT_EQ(ClassifyPortByte(-1, 0xAA), 0);
    EXPECT_EQ(ClassifyPortByte(10, 0x40), 0);
}

TEST(ClassifierPorts, GpsRecognisedWhileAnotherPortStreamsRadarBytes) {
    FlushPort(1);
    FlushPort(2);
    constexpr int kRounds = 20000;
    int gpsMarks = 0, gpsWrong = 0, radarMarks = 0, radarWrong = 0;
    std::thread gps([&] {
        const std::string sentence = "$GPRMC,1,A*";
        for (int r = 0; r < kRounds; ++r) {
            for (char c : sentence) {
                int type = ClassifyPortByte(1, static_cast<BYTE>(c));
                if (type == PORT_GPS && c == 'C') {
                    ++gpsMarks;
                } else if (type != 0) {
                    ++gpsWrong;
                }
            }
        }
    });
    std::thread radar([&] {
        // Bytes that would complete "$GPRMC" elsewhere and radar signatures of their own.
        const std::string stream = Bytes({0xAA, 0x40, 'M', 'C', 0x03, 0xAB, 0xEE, 'C'});
        for (int r = 0; r < kRounds; ++r) {
            for (char c : stream) {
                int type = ClassifyPortByte(2, static_cast<BYTE>(c));
                if (type == PORT_RADAR) {
                    ++radarMarks;
                } else if (type != 0) {
                    ++radarWrong;
                }
            }
        }
    });
    gps.join();
    radar.join();
    EXPECT_EQ(gpsMarks, kRounds);
    EXPECT_EQ(gpsWrong, 0);
    EXPECT_GT(radarMarks, 0);
    EXPECT_EQ(radarWrong, 0);
}

// Ten readers at once, each port's bytes handed from one reader thread to the next in the
// middle of signatures, as a reopened port does: every port reports, byte for byte, what
// the plain window reports for the same bytes.
TEST(ClassifierPorts, TenReadersWithHandoversMatchThePlainWindow) {
    const std::string pieces[] = {"$GPRMC",
                                  Bytes({0xAA, 0x00, 0x55}),
                                  Bytes({0x03, 0xAB, 0xEE}),
                                  Bytes({0x01, 0xD4, 0xAD}),
                                  Bytes({0xAA, 0x80}),
                                  ",noise\r\n"};
    std::vector<std::string> streams(10);
    for (int port = 0; port < 10; ++port) {
        for (int i = 0; i < 6; ++i) ClassifyPortByte(port, 'x');  // may still report a signature
        unsigned seed = 17u * static_cast<unsigned>(port + 1);
        for (int i = 0; i < 3000; ++i) {
            seed = seed * 1103515245u + 12345u;
            streams[port] += pieces[(seed >> 16) % 6];
        }
    }
    std::vector<std::vector<int>> got(10);
    std::vector<std::thread> ports;
    for (int port = 0; port < 10; ++port) {
        ports.emplace_back([&, port] {
            const std::string& s = streams[port];
            // Cuts at odd offsets fall inside signatures.
            for (size_t begin = 0; begin < s.size(); begin += 4001) {
                std::thread reader([&, begin] {
                    for (size_t i = begin; i < std::min(s.size(), begin + 4001); ++i) {
                        got[port].push_back(ClassifyPortByte(port, static_cast<BYTE>(s[i])));
                    }
                });
                reader.join();
            }
        });
    }
    for (std::thread& t : ports) t.join();
    for (int port = 0; port < 10; ++port) {
        ByteWindow plain{};
        Feed(&plain, "xxxxxx");
        EXPECT_TRUE(got[port] == Feed(&plain, streams[port])) << port;
    }
}

}  // namespace
