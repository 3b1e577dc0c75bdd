// The framing step fed from memory, with exact read boundaries.
#include "serial/framing.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "platform/base/strings.h"
#include "platform/io/files.h"
#include "serial_harness.h"
#include "support/test_support.h"

using serialtest::Piece;
using serialtest::Recorder;

namespace {

using Strings = std::vector<std::string>;

std::string Header(BYTE mark, LONG payloadLength, char last) {
    std::string r = "\xAA\xBB";
    r += '\x01';
    r += static_cast<char>(mark);
    r += static_cast<char>((payloadLength >> 8) & 0xff);
    r += static_cast<char>(payloadLength & 0xff);
    r += '\x02';
    r += std::string(static_cast<size_t>(payloadLength), 'p');
    r += last;
    return r;
}

class Framing : public ::testing::Test {
  protected:
    void SetUp() override {
        std::memset(&channel, 0, sizeof channel);
        InitChannel(&channel);
        serialtest::Bind(&channel, &recorder);
        channel.frameCallback = serialtest::RecordFrame;
        state = std::make_unique<ReaderState>();
    }
    void TearDown() override { ReleaseChannel(&channel); }

    void Begin(BOOL framed, const std::string& start = "", const std::string& end = "") {
        channel.framed = framed;
        ASSERT_TRUE(SetFrameDelimiters(
            &channel, reinterpret_cast<const BYTE*>(start.data()), static_cast<DWORD>(start.size()),
            reinterpret_cast<const BYTE*>(end.data()), static_cast<DWORD>(end.size())));
        BeginReaderState(state.get(), &channel);
    }

    // One read of exactly these bytes.
    void Feed(const std::string& bytes) {
        const DWORD n = PrepareRead(state.get(), static_cast<DWORD>(bytes.size()));
        ASSERT_EQ(n, bytes.size());
        std::memcpy(state->buffer + state->fill, bytes.data(), n);
        ProcessRead(&channel, state.get(), static_cast<LONG>(n));
    }

    std::string Held() const {
        return std::string(reinterpret_cast<const char*>(state->buffer),
                           static_cast<size_t>(state->fill));
    }

    void UseMirror() {
        mirrorPath = dir.file("mirror.bin");
        channel.mirror = CreateFileW(platform::FromUtf8(mirrorPath).c_str(), GENERIC_WRITE, 0,
                                     nullptr, CREATE_ALWAYS, 0, nullptr);
        ASSERT_NE(channel.mirror, INVALID_HANDLE_VALUE);
    }
    std::string MirrorContent() {
        HANDLE m = channel.mirror;
        channel.mirror = INVALID_HANDLE_VALUE;
        CloseHandle(m);
        return testsupport::ReadFileBytes(mirrorPath);
    }

    SerialChannel channel;
    Recorder recorder;
    std::unique_ptr<ReaderState> state;
    testsupport::TempDir dir;
    std::string mirrorPath;
};

TEST(FrameModeChoice, FollowsFramedFlagAndDelimiterLengths) {
    SerialChannel c{};
    InitChannel(&c);
    EXPECT_EQ(ChooseFrameMode(&c), FRAME_SENTENCE);  // the defaults alone
    c.framed = 0;
    c.startLength = 1;
    c.endLength = 1;
    EXPECT_EQ(ChooseFrameMode(&c), FRAME_UNFRAMED);
    c.framed = 1;
    EXPECT_EQ(ChooseFrameMode(&c), FRAME_DELIMITER);
    c.startLength = 2;
    EXPECT_EQ(ChooseFrameMode(&c), FRAME_HEADER);
    c.endLength = 0;
    EXPECT_EQ(ChooseFrameMode(&c), FRAME_SENTENCE);
    c.startLength = 3;
    c.endLength = 2;
    EXPECT_EQ(ChooseFrameMode(&c), FRAME_REQUEST);
    c.startLength = 1;
    c.endLength = 4;
    EXPECT_EQ(ChooseFrameMode(&c), FRAME_REQUEST);
    ReleaseChannel(&c);
}

TEST_F(Framing, RawModeHandsOnEachReadWholeAndMirrorsIt) {
    UseMirror();
    Begin(0);
    Feed("12345");
    Feed("abcdefg");
    EXPECT_EQ(recorder.Pieces(), (std::vector<Piece>{{'F', WM_CHANNEL_DATA, "12345"},
                                                     {'F', WM_CHANNEL_DATA, "abcdefg"}}));
    EXPECT_EQ(state->fill, 0);
    EXPECT_EQ(MirrorContent(), "12345abcdefg");
}

TEST_F(Framing, RecordModeWaitsForWholeRecordsAndKeepsTheRest) {
    channel.recordSize = 4;
    Begin(0);
    Feed("abc");
    EXPECT_TRUE(recorder.Pieces().empty());
    Feed("defghij");
    EXPECT_EQ(recorder.Bytes('F'), (Strings{"abcd", "efgh"}));
    EXPECT_EQ(Held(), "ij");
}

TEST_F(Framing, RecordMirrorGetsTheBytesAsReadWhenTheRestMovesOverThem) {
    UseMirror();
    channel.recordSize = 4;
    Begin(0);
    Feed("ab");
    Feed("cdefghijk");  // 11 held: the last 3 move to the start, over offset 2
    EXPECT_EQ(recorder.Bytes('F'), (Strings{"abcd", "efgh"}));
    EXPECT_EQ(Held(), "ijk");
    EXPECT_EQ(MirrorContent(), "abcdefghijk");
}

TEST_F(Framing, RecordResultsShiftLaterRecordsAndKeepBytesWithinTheFill) {
    channel.recordSize = 2;
    Begin(0);
    recorder.results = {1, 0, 0};
    Feed("abcdef");
    // The second record moves by 1; the third would end past the data and is not given.
    EXPECT_EQ(recorder.Bytes('F'), (Strings{"ab", "de"}));
    EXPECT_EQ(Held(), "f");  // no rest, but the total of 1 keeps the last byte
}

TEST_F(Framing, RecordResultsNeverReachOutsideTheBuffer) {
    channel.recordSize = 2;
    Begin(0);
    recorder.results = {-5};
    Feed("abcdef");
    EXPECT_EQ(recorder.Bytes('F'), (Strings{"ab"}));
    EXPECT_EQ(state->fill, 0);  // a negative total keeps nothing more

    Recorder big;
    serialtest::Bind(&channel, &big);
    big.results = {100000};
    Feed("ghij");
    EXPECT_EQ(big.Bytes('F'), (Strings{"gh"}));
    EXPECT_EQ(Held(), "ghij");  // never more than was held
}

TEST_F(Framing, SentenceSplitOverThreeReadsIsDeliveredOnceWhenComplete) {
    channel.chunkCallback = serialtest::RecordChunk;
    Begin(1);
    Feed("xx$GPR");
    Feed("MC,1,2");
    EXPECT_TRUE(recorder.Bytes('F').empty());
    Feed("*7F\r\nzz");
    EXPECT_EQ(recorder.Pieces(), (std::vector<Piece>{{'C', 0, "xx$GPR"},
                                                     {'C', 0, "MC,1,2"},
                                                     {'C', 0, "*7F\r\nzz"},
                                                     {'F', WM_CHANNEL_DATA, "$GPRMC,1,2*7F\r\n"}}));
    EXPECT_EQ(state->fill, 0);  // the trailing noise is dropped
}

TEST_F(Framing, SentenceDropsDataWithoutStartAndRestartsAtInnerDollar) {
    Begin(1);
    Feed("no start here");
    EXPECT_EQ(state->fill, 0);
    Feed("$AB$CD\n");
    EXPECT_EQ(recorder.Bytes('F'), (Strings{"$CD\n"}));
}

TEST_F(Framing, DelimiterModeKeepsOpenFrameAndMirrorsReadThenFrame) {
    UseMirror();
    Begin(1, "{", "}");
    Feed("a{x}b{y");
    EXPECT_EQ(recorder.Bytes('F'), (Strings{"{x}"}));
    EXPECT_EQ(state->awaitedEnd, '}');
    Feed("z}");
    EXPECT_EQ(recorder.Bytes('F'), (Strings{"{x}", "{yz}"}));
    EXPECT_EQ(MirrorContent(), "a{x}b{y{x}z}{yz}");
}

TEST_F(Framing, DelimiterFrameRestartsAsSentenceAtDollar) {
    Begin(1, "{", "}");
    Feed("{ab$GP}x\n");
    EXPECT_EQ(recorder.Bytes('F'), (Strings{"$GP}x\n"}));
}

TEST_F(Framing, RequestModeFramesOnFirstBytesReadFromTheChannel) {
    Begin(1, "<<<", ">>");
    Feed("<a>");
    EXPECT_EQ(recorder.Bytes('F'), (Strings{"<a>"}));
    channel.startDelimiter[0] = '[';
    channel.endDelimiter[0] = ']';
    Feed("<b>[c]");
    EXPECT_EQ(recorder.Bytes('F'), (Strings{"<a>", "[c]"}));
}

TEST_F(Framing, HeaderRecordWithShortLengthIsDeliveredWhole) {
    UseMirror();
    Begin(1, "\xAA\xBB", "}");
    const std::string record = Header(0, 3, '\r');
    ASSERT_EQ(record.size(), 11u);
    Feed("zz" + record);
    EXPECT_EQ(recorder.Bytes('F'), (Strings{record}));
    EXPECT_EQ(state->fill, 0);
    EXPECT_EQ(MirrorContent(), "zz" + record);  // the read, no frame copy
}

TEST_F(Framing, HeaderWithoutCarriageReturnIsSkippedByOneByteUntilNextRead) {
    Begin(1, "\xAA\xBB", "}");
    const std::string bad = Header(0, 3, 'X');
    Feed(bad + "$A\n");
    EXPECT_TRUE(recorder.Bytes('F').empty());  // the rest of the read waits
    EXPECT_EQ(state->scanPos, 1);
    Feed("$B\n");
    EXPECT_EQ(recorder.Bytes('F'), (Strings{"$A\n", "$B\n"}));
}

TEST_F(Framing, LongHeaderNeedsTheMarkByte) {
    Begin(1, "\xAA\xBB", "}");
    Feed(Header(0, 401, '\r'));
    EXPECT_TRUE(recorder.Bytes('F').empty());
    Recorder marked;
    serialtest::Bind(&channel, &marked);
    BeginReaderState(state.get(), &channel);
    const std::string record = Header(HEADER_LONG_MARK, 401, '\r');
    Feed(record.substr(0, 200));
    Feed(record.substr(200));
    EXPECT_EQ(marked.Bytes('F'), (Strings{record}));
}

TEST_F(Framing, HeaderLongerThanTheBufferIsRejectedAtOnce) {
    Begin(1, "\xAA\xBB", "}");
    Feed(Header(HEADER_LONG_MARK, 0xFFFF, '\r').substr(0, 20) + "$ok\n");
    EXPECT_EQ(state->scanPos, 1);  // not held as an incomplete record
    Feed("x");
    EXPECT_EQ(recorder.Bytes('F'), (Strings{"$ok\n"}));
}

TEST_F(Framing, LoneStartByteIsAllThatStays) {
    Begin(1, "\xAA\xBB", "}");
    Feed("noise\xAA");
    EXPECT_EQ(Held(), "\xAA");
    EXPECT_EQ(state->scanPos, 0);
    const std::string record = Header(0, 1, '\r');
    Feed(record.substr(1));
    EXPECT_EQ(recorder.Bytes('F'), (Strings{record}));
}

TEST_F(Framing, LoneStartByteInsideFrameBecomesTheFrameStart) {
    Begin(1, "\xAA\xBB", "}");
    Feed("$abc\xAA");
    EXPECT_EQ(Held(), "\xAA");
    EXPECT_EQ(state->awaitedEnd, LINE_FEED);
    Feed("de\n");
    EXPECT_EQ(recorder.Bytes('F'), (Strings{"\xAA"
                                            "de\n"}));
}

TEST_F(Framing, OpenFrameFromOffset7168MovesToStartAndResumes) {
    Begin(1);
    Feed("$");
    const std::string filler(1023, 'f');
    Feed(filler);
    for (int i = 0; i < 6; ++i) Feed(std::string(1024, 'f'));
    ASSERT_EQ(state->fill, FRAME_COMPACT_OFFSET);
    EXPECT_EQ(state->scanPos, 0);
    Feed("$abc");  // restarts the frame at offset 7168
    EXPECT_EQ(Held(), "$abc");
    EXPECT_EQ(state->scanPos, 0);
    EXPECT_EQ(state->resumePos, 4);
    Feed("de\n");
    EXPECT_EQ(recorder.Bytes('F'), (Strings{"$abcde\n"}));
    EXPECT_EQ(state->resumePos, -1);
    EXPECT_EQ(state->fill, 0);
}

TEST_F(Framing, OpenFrameBelow7168StaysInPlace) {
    Begin(1, "{", "}");
    Feed(std::string(100, 'x') + "{abc");
    EXPECT_EQ(state->scanPos, 100);
    EXPECT_EQ(state->fill, 104);
    Feed("}");
    EXPECT_EQ(recorder.Bytes('F'), (Strings{"{abc}"}));
}

TEST_F(Framing, HeaderModeMovesWhen6144Held) {
    Begin(1, "\xAA\xBB", "}");
    Feed("$");
    for (int i = 0; i < 6; ++i) Feed(std::string(i == 0 ? 1023 : 1024, 'f'));
    ASSERT_EQ(state->fill, 6144);
    EXPECT_EQ(state->resumePos, 6144);  // moved in place: the frame already starts at 0
    Feed("$x");
    EXPECT_EQ(Held(), "$x");
    Feed("\n");
    EXPECT_EQ(recorder.Bytes('F'), (Strings{"$x\n"}));
}

TEST_F(Framing, ReadsStayWithinTheFreeSpace) {
    Begin(1, "{", "}");
    Feed("{");
    for (int i = 0; i < 11; ++i) Feed(std::string(1024, 'f'));
    ASSERT_EQ(state->fill, 11265);
    EXPECT_EQ(PrepareRead(state.get(), 1024), 1023u);
}

TEST_F(Framing, BufferFullOfUnterminatedFrameIsDroppedAndReadingGoesOn) {
    Begin(1, "{", "}");
    Feed("{");
    while (state->fill < RECEIVE_BUFFER_SIZE) {
        const DWORD n = PrepareRead(state.get(), 1024);
        std::memset(state->buffer + state->fill, 'f', n);
        ProcessRead(&channel, state.get(), static_cast<LONG>(n));
    }
    EXPECT_EQ(PrepareRead(state.get(), 1024), 1024u);
    EXPECT_EQ(state->fill, 0);
    EXPECT_EQ(state->awaitedEnd, 0);
    Feed("{ok}");
    EXPECT_EQ(recorder.Bytes('F'), (Strings{"{ok}"}));
}

TEST_F(Framing, RecordLongerThanTheBufferIsDroppedWhenFull) {
    channel.recordSize = 20000;
    Begin(0);
    for (int i = 0; i < 12; ++i) Feed(std::string(1024, 'r'));
    EXPECT_EQ(state->fill, RECEIVE_BUFFER_SIZE);
    EXPECT_EQ(PrepareRead(state.get(), 1024), 1024u);
    EXPECT_EQ(state->fill, 0);
    EXPECT_TRUE(recorder.Pieces().empty());
}

}  // namespace
