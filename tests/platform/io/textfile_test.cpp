#include "platform/io/textfile.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "platform/io/files.h"
#include "support/test_support.h"

namespace {

using testsupport::ReadFileBytes;
using testsupport::TempDir;
using testsupport::WriteFileBytes;

std::u16string Win(const std::string& hostPath) {
    return platform::WindowsPath(hostPath);
}

// Reads a whole file piece by piece the way the profile store does.
std::vector<std::u16string> ReadPieces(const std::string& path, int count) {
    std::vector<std::u16string> pieces;
    FILE* in = _wfopen(Win(path).c_str(), u"r");
    EXPECT_NE(in, nullptr);
    if (!in) return pieces;
    std::vector<WCHAR> buffer(static_cast<size_t>(count));
    while (!feof(in)) {
        if (!fgetws(buffer.data(), count, in)) break;
        pieces.emplace_back(buffer.data());
    }
    EXPECT_TRUE(feof(in));
    fclose(in);
    return pieces;
}

std::u16string Joined(const std::vector<std::u16string>& pieces) {
    std::u16string all;
    for (const auto& p : pieces) all += p;
    return all;
}

TEST(TextFiles, ReadThenWriteReproducesAnyFileByteForByte) {
    TempDir dir;
    std::string longLine;
    for (int i = 0; i < 1000; ++i) {
        longLine += i % 50 == 7 ? "\xC3\xA9" : i % 97 == 5 ? "\xF0\x9F\x98\x80" : "x";
    }
    const std::string original = "[GPS_COM]\r\ncom=com1\r\n; \xC4\xE3\xBA\xC3 GBK \xD6\xD0\r\n" +
                                 longLine + "\r\n; Latin-1 \xE9t\xE9\n\n" +
                                 "baud=4800 last line \xFF\xFE\xF0\x9F";
    const std::string withNul = original + std::string("\0 after a NUL\n", 14);
    WriteFileBytes(dir.file("Belv.ini"), withNul);

    const auto pieces = ReadPieces(dir.file("Belv.ini"), 255);
    ASSERT_GT(pieces.size(), 6u);
    EXPECT_EQ(pieces[0], u"[GPS_COM]\r\n");
    EXPECT_EQ(pieces[1], u"com=com1\r\n");
    EXPECT_EQ(pieces[2], u"; \xDCC4\xDCE3\xDCBA\xDCC3 GBK \xDCD6\xDCD0\r\n");
    for (const auto& p : pieces) EXPECT_LE(p.size(), 254u);
    EXPECT_EQ(pieces[3].size(), 254u);  // the long line comes in full pieces

    FILE* out = _wfopen(Win(dir.file("config_tmp")).c_str(), u"w");
    ASSERT_NE(out, nullptr);
    for (const auto& p : pieces) EXPECT_GE(fputws(p.c_str(), out), 0);
    fclose(out);
    EXPECT_EQ(ReadFileBytes(dir.file("config_tmp")), withNul);
    EXPECT_EQ(pieces.back().substr(pieces.back().size() - 14), u"\xDC00 after a NUL\n");
}

TEST(TextFiles, ASurrogatePairThatDoesNotFitWaitsForTheNextCall) {
    TempDir dir;
    WriteFileBytes(dir.file("t"),
                   "ab\xF0\x9F\x98\x80"
                   "c\n");
    const auto pieces = ReadPieces(dir.file("t"), 4);
    ASSERT_EQ(pieces.size(), 3u);
    EXPECT_EQ(pieces[0], u"ab");
    EXPECT_EQ(pieces[1], u"\U0001F600c");
    EXPECT_EQ(pieces[2], u"\n");
}

TEST(TextFiles, BrokenSequencesComeBackAsEscapedBytesEvenOneUnitAtATime) {
    TempDir dir;
    // Overlong, an encoded surrogate, beyond U+10FFFF, a stray continuation, a cut
    // sequence before a valid character and one at the very end.
    const std::string bytes =
        "\xC0\xAF|\xED\xA0\x80|\xF4\x90\x80\x80|\x80|\xE2\x82"
        "A|\xF0\x9F\x98";
    WriteFileBytes(dir.file("t"), bytes);
    std::u16string expected;
    for (unsigned char c : bytes) expected += c < 0x80 ? char16_t(c) : char16_t(0xDC00 + c);

    EXPECT_EQ(Joined(ReadPieces(dir.file("t"), 255)), expected);
    // With room for one unit per call the escapes of one sequence span calls, and the
    // stream must not look finished while some are still held back.
    EXPECT_EQ(Joined(ReadPieces(dir.file("t"), 2)), expected);

    FILE* out = _wfopen(Win(dir.file("copy")).c_str(), u"wb");
    ASSERT_NE(out, nullptr);
    fputws(expected.c_str(), out);
    fclose(out);
    EXPECT_EQ(ReadFileBytes(dir.file("copy")), bytes);
}

TEST(TextFiles, EndOfFileModesAndErrors) {
    TempDir dir;
    WriteFileBytes(dir.file("empty"), "");
    FILE* in = _wfopen(Win(dir.file("empty")).c_str(), u"rt");
    ASSERT_NE(in, nullptr);
    WCHAR buffer[16] = u"unchanged";
    EXPECT_EQ(fgetws(buffer, 16, in), nullptr);
    EXPECT_TRUE(feof(in));
    fclose(in);

    WriteFileBytes(dir.file("one"), "line\n");
    in = _wfopen(Win(dir.file("one")).c_str(), u"r");
    ASSERT_NE(in, nullptr);
    EXPECT_EQ(fgetws(buffer, 16, in), buffer);
    EXPECT_EQ(std::u16string(buffer), u"line\n");
    EXPECT_FALSE(feof(in));  // as in C: the end shows only once a read meets it
    EXPECT_EQ(fgetws(buffer, 16, in), nullptr);
    EXPECT_TRUE(feof(in));
    fclose(in);

    EXPECT_EQ(_wfopen(Win(dir.file("missing")).c_str(), u"r"), nullptr);
    EXPECT_EQ(_wfopen(Win(dir.path()).c_str(), u"r"), nullptr);  // a folder is no text file
    EXPECT_EQ(_wfopen(Win(dir.file("one")).c_str(), u"a"), nullptr);
    EXPECT_EQ(_wfopen(Win(dir.file("one")).c_str(), u"r+"), nullptr);
    FILE* out = _wfopen(Win(dir.file("one")).c_str(), u"w");  // truncates
    ASSERT_NE(out, nullptr);
    fclose(out);
    EXPECT_EQ(ReadFileBytes(dir.file("one")), "");
}

// Byte strings biased towards what breaks an escape scheme: NUL, four-byte sequences (whose
// second halves include the NUL escape's code unit), cut and stray sequences, encoded
// surrogates and line feeds that end pieces in between.
std::string RandomBytes(std::mt19937& rng) {
    static const char* const kParts[] = {"",
                                         "\n",
                                         "a",
                                         "=",
                                         "\xF0\xA0\x80\x80" /* U+20000 */,
                                         "\xF0\x9F\x90\x80" /* U+1F400 */,
                                         "\xF0\x90\x80\x80",
                                         "\xF4\x8F\xBF\xBF",
                                         "\xF0\x9F",
                                         "\xF0\x9F\x90",
                                         "\xF0",
                                         "\x80",
                                         "\xC3\xA9",
                                         "\xE2\x82",
                                         "\xED\xB0\x80" /* U+DC00 */,
                                         "\xED\xA0\x80",
                                         "\xC0\x80",
                                         "\xFF",
                                         "\xF5\x80\x80\x80"};
    constexpr size_t kCount = sizeof kParts / sizeof kParts[0];
    std::uniform_int_distribution<size_t> part(0, kCount), length(0, 40);
    std::uniform_int_distribution<int> byte(0, 255);
    std::string bytes;
    for (size_t n = length(rng); n > 0; --n) {
        const size_t k = part(rng);
        if (k == kCount) {
            bytes.push_back(static_cast<char>(byte(rng)));
        } else if (k == 0) {
            bytes.push_back('\0');
        } else {
            bytes += kParts[k];
        }
    }
    return bytes;
}

// Any byte string read piece by piece and written back piece by piece comes back whole,
// whatever buffer size (of room for a surrogate pair) the reader uses.
TEST(TextFiles, EveryByteStringSurvivesAReadAndAWrite) {
    TempDir dir;
    std::mt19937 rng(20240611);
    const int sizes[] = {3, 4, 5, 17, 255};
    for (int round = 0; round < 3000; ++round) {
        std::string bytes = RandomBytes(rng);
        if (round == 0) bytes = "x=\xF0\xA0\x80\x80\n\xF0\x9F\x90\x80" + std::string(1, '\0');
        WriteFileBytes(dir.file("in"), bytes);
        const int size = sizes[static_cast<size_t>(round) % std::size(sizes)];
        FILE* out = _wfopen(Win(dir.file("out")).c_str(), u"w");
        ASSERT_NE(out, nullptr);
        for (const auto& piece : ReadPieces(dir.file("in"), size)) fputws(piece.c_str(), out);
        fclose(out);
        ASSERT_EQ(ReadFileBytes(dir.file("out")), bytes) << "round " << round << ", size " << size;
    }
}

// A file of many stream blocks: characters and broken sequences cross the points where the
// stream refills, and long runs of ASCII are taken in one go between them.
TEST(TextFiles, AFileOfManyBlocksSurvivesAReadAndAWrite) {
    TempDir dir;
    std::mt19937 rng(7);
    std::string bytes;
    for (int line = 0; bytes.size() < (600u << 10); ++line) {
        bytes += "key" + std::to_string(line) + "=" + std::string(line % 300, 'v');
        if (line % 3 == 0) bytes += RandomBytes(rng);
        bytes += line % 5 == 0 ? "\r\n" : "\n";
    }
    WriteFileBytes(dir.file("in"), bytes);
    for (const int size : {4, 255}) {
        FILE* out = _wfopen(Win(dir.file("out")).c_str(), u"w");
        ASSERT_NE(out, nullptr);
        for (const auto& piece : ReadPieces(dir.file("in"), size))
            ASSERT_GE(fputws(piece.c_str(), out), 0);
        fclose(out);
        ASSERT_EQ(ReadFileBytes(dir.file("out")), bytes) << "size " << size;
    }
}

// Runs of ASCII are written a word at a time: whatever the text's place in memory and
// wherever in a word the run ends (at another character, an escape or the end), the bytes
// are the same as one character at a time would give.
TEST(TextFiles, WritesTheSameBytesFromAnyPlaceInMemory) {
    TempDir dir;
    const std::pair<std::u16string, std::string> stops[] = {{u"", ""},
                                                            {u"\x7F", "\x7F"},
                                                            {u"\x80", "\xC2\x80"},
                                                            {u"\u00E9", "\xC3\xA9"},
                                                            {u"\xDC00", std::string(1, '\0')},
                                                            {u"\xD83D\xDC00", "\xF0\x9F\x90\x80"},
                                                            {u"\xFF10", "\xEF\xBC\x90"}};
    std::string expected;
    FILE* out = _wfopen(Win(dir.file("out")).c_str(), u"w");
    ASSERT_NE(out, nullptr);
    std::vector<WCHAR> memory(64);
    for (size_t offset = 0; offset < 4; ++offset)
        for (size_t run = 0; run < 13; ++run)
            for (const auto& [stop, bytes] : stops) {
                const std::u16string text = std::u16string(run, u'a') + stop + u"bc";
                std::fill(memory.begin(), memory.end(), u'z');
                std::copy(text.begin(), text.end(), memory.begin() + offset);
                memory[offset + text.size()] = 0;
                ASSERT_GE(fputws(memory.data() + offset, out), 0);
                expected += std::string(run, 'a') + bytes + "bc";
            }
    fclose(out);
    EXPECT_EQ(ReadFileBytes(dir.file("out")), expected);
}

TEST(TextFiles, SupplementaryCharactersReadAsPairsNotAsNulEscapes) {
    TempDir dir;
    WriteFileBytes(dir.file("t"), "\xF0\xA0\x80\x80\xF0\x9F\x90\x80" + std::string(1, '\0'));
    EXPECT_EQ(Joined(ReadPieces(dir.file("t"), 255)), u"\U00020000\U0001F400\xDC00");
}

// "wx" makes a new private file and never goes through what is already there.
TEST(TextFiles, ExclusiveCreationNeverFollowsALink) {
    TempDir dir;
    WriteFileBytes(dir.file("secret"), "secret\n");
    std::filesystem::create_symlink(dir.file("secret"), dir.file("link"));
    EXPECT_EQ(_wfopen(Win(dir.file("link")).c_str(), u"wx"), nullptr);
    EXPECT_EQ(_wfopen(Win(dir.file("secret")).c_str(), u"wx"), nullptr);
    EXPECT_EQ(ReadFileBytes(dir.file("secret")), "secret\n");
    FILE* out = _wfopen(Win(dir.file("new")).c_str(), u"wx");
    ASSERT_NE(out, nullptr);
    fputws(u"text\n", out);
    fclose(out);
    EXPECT_EQ(ReadFileBytes(dir.file("new")), "text\n");
    struct stat st {};
    ASSERT_EQ(stat(dir.file("new").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
}

// A FIFO without a writer reads as empty instead of holding the reader forever.
TEST(TextFiles, ReadingAFifoDoesNotWait) {
    TempDir dir;
    ASSERT_EQ(mkfifo(dir.file("fifo").c_str(), 0600), 0);
    FILE* in = _wfopen(Win(dir.file("fifo")).c_str(), u"r");
    ASSERT_NE(in, nullptr);
    WCHAR buffer[16];
    EXPECT_EQ(fgetws(buffer, 16, in), nullptr);
    fclose(in);
}

}  // namespace
