// A corpus of awkward host configuration files, each rewritten through WriteProfileValue:
// every byte outside the one entry written stays as it was, a file that cannot be
// rewritten stays untouched, and a symbolic link and the file's mode survive.
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/base/strings.h"
#include "profile_fixture.h"
#include "support/one_place_change.h"

namespace {

using configtest::ProfileFileTest;

struct Sample {
    const char* name;
    std::string bytes;
    std::string section;  // as bytes of the file, so that GBK and Latin-1 names can match
    int expected;         // what the rewrite returns
};

std::string Line(size_t length, char fill) {
    return ";" + std::string(length - 2, fill) + "\n";  // length counts the line feed
}

std::vector<Sample> Corpus() {
    const std::string gbk = "\xB5\xBC\xBA\xBD";  // "navigation" in GBK, not valid UTF-8
    return {
        {"line of 254 characters", Line(254, 'a') + "[GPS_COM]\nbaud=1\n" + Line(254, 'b'),
         "GPS_COM", PROFILE_OK},
        {"line of 255 characters", Line(255, 'a') + "[GPS_COM]\n" + Line(255, 'b') + "baud=1\n",
         "GPS_COM", PROFILE_OK},
        {"line of 256 characters", "[GPS_COM]\n" + Line(256, 'c') + Line(1000, 'd'), "GPS_COM",
         PROFILE_OK},
        {"header after a 254-character piece", Line(255, 'e') + "[GPS_COM]\n", "GPS_COM",
         PROFILE_OK},
        {"byte order mark before a later section",
         "\xEF\xBB\xBF; saved by an editor\r\n[GPS_COM]\r\nbaud=1\r\n", "GPS_COM", PROFILE_OK},
        {"byte order mark hides the first header", "\xEF\xBB\xBF[GPS_COM]\nbaud=1\n", "GPS_COM",
         PROFILE_E_WRITE_NO_SECTION},
        {"CR LF lines", "[A]\r\nx=1\r\n[GPS_COM]\r\ncom=2\r\nbaud=4800\r\n[B]\r\n", "GPS_COM",
         PROFILE_OK},
        {"CR LF lines, key added", "[GPS_COM]\r\ncom=2\r\n[B]\r\ny=2\r\n", "GPS_COM", PROFILE_OK},
        {"CR-only lines are one line", "[GPS_COM]\rbaud=1\rcom=2\r", "GPS_COM", PROFILE_OK},
        {"no final line feed", "[GPS_COM]\ncom=2", "GPS_COM", PROFILE_OK},
        {"no final line feed after the entry", "[GPS_COM]\nbaud=1", "GPS_COM", PROFILE_OK},
        {"duplicate sections and keys", "[GPS_COM]\nbaud=1\nbaud=2\n[X]\n[GPS_COM]\nbaud=3\n",
         "GPS_COM", PROFILE_OK},
        {"GBK names and comments", ";" + gbk + "\n[" + gbk + "]\n" + gbk + "=" + gbk + "\nbaud=1\n",
         gbk, PROFILE_OK},
        {"Latin-1 bytes", "; caf\xE9 cr\xE8me\n[GPS_COM]\nname=M\xFCller\nbaud=\xB5\n", "GPS_COM",
         PROFILE_OK},
        {"invalid UTF-8 mid-sequence", "[GPS_COM]\n\xC3\n\xE2\x82\n\xF0\x9F\x98\nbaud=1\n",
         "GPS_COM", PROFILE_OK},
        {"empty file", "", "GPS_COM", PROFILE_E_WRITE_NO_SECTION},
        {"only line feeds", "\n\n\n", "GPS_COM", PROFILE_E_WRITE_NO_SECTION},
        {"section that ends the file without a line", "[A]\n[GPS_COM]", "GPS_COM", PROFILE_OK},
    };
}

// A string literal with its NUL bytes.
template <size_t N>
std::string WithNuls(const char (&literal)[N]) {
    return std::string(literal, N - 1);
}

class ProfileCorpusTest : public ProfileFileTest {
  protected:
    // Rewrites the sample; true when every byte outside the entry is as it was (or, for
    // a rewrite that fails, the whole file is).
    bool RewriteKeepsTheRest(const Sample& sample) {
        Put(sample.bytes);
        const std::u16string section = platform::FromUtf8(sample.section);
        const int rc = WriteProfileValue(W(ini).c_str(), section.c_str(), u"baud", u"57600",
                                         PROFILE_TYPE_TEXT);
        EXPECT_EQ(rc, sample.expected) << sample.name;
        EXPECT_FALSE(TempLeft()) << sample.name;
        const std::string after = Bytes();
        if (rc != PROFILE_OK) return after == sample.bytes;
        WCHAR back[64];
        EXPECT_EQ(
            ReadProfileValue(W(ini).c_str(), section.c_str(), u"baud", back, 64, PROFILE_TYPE_TEXT),
            PROFILE_OK)
            << sample.name;
        EXPECT_EQ(std::u16string(back), u"57600") << sample.name;
        return testsupport::OnePlaceChanged(sample.bytes, after, "baud=57600\n", "baud");
    }
};

TEST_F(ProfileCorpusTest, EveryBadFileKeepsItsUntouchedLinesByteForByte) {
    const std::vector<Sample> corpus = Corpus();
    int kept = 0;
    for (const Sample& sample : corpus) {
        const bool same = RewriteKeepsTheRest(sample);
        EXPECT_TRUE(same) << sample.name << ":\n" << Bytes();
        kept += same ? 1 : 0;
    }
    std::printf("profile corpus: %zu files, untouched lines byte-identical %d/%zu\n", corpus.size(),
                kept, corpus.size());
}

// The pieces of a long line are written back one after the other: the line survives even
// when the entry lands right behind it.
TEST_F(ProfileCorpusTest, LongLinesSurviveWhole) {
    const std::string longLine =
        ";" + std::string(253, 'x') + "\xE9" + std::string(300, 'y') + "\n";
    Put("[GPS_COM]\n" + longLine);
    EXPECT_EQ(WriteText(u"GPS_COM", u"baud", u"57600"), PROFILE_OK);
    EXPECT_EQ(Bytes(), "[GPS_COM]\n" + longLine + "baud=57600\n");
}

// A NUL byte inside a line must not end the piece it is read in: the rest of the line and
// the next line stay as they were.
TEST_F(ProfileCorpusTest, NulByteKeepsItsLine) {
    const std::string before = WithNuls("[GPS_COM]\nbaud=1\n;a\0b\n[X]\ny=2\n");
    Put(before);
    EXPECT_EQ(WriteText(u"GPS_COM", u"baud", u"57600"), PROFILE_OK);
    EXPECT_EQ(Bytes(), WithNuls("[GPS_COM]\nbaud=57600\n;a\0b\n[X]\ny=2\n"));
}

TEST_F(ProfileCorpusTest, DirectoryInPlaceOfTheFileIsNeitherReadNorReplaced) {
    std::filesystem::create_directory(ini);
    testsupport::WriteFileBytes(ini + "/inside", "[GPS_COM]\n");
    EXPECT_EQ(WriteText(u"GPS_COM", u"baud", u"57600"), PROFILE_E_OPEN);
    EXPECT_TRUE(std::filesystem::is_directory(ini));
    EXPECT_EQ(testsupport::ReadFileBytes(ini + "/inside"), "[GPS_COM]\n");
    EXPECT_FALSE(TempLeft());
    EXPECT_EQ(ReadText(u"GPS_COM", u"baud"), u"<-10>");
}

// Run by an unprivileged user where the tests run as the superuser, whom permissions do
// not bind.
TEST_F(ProfileCorpusTest, UnreadableFileIsLeftAlone) {
    Put("[GPS_COM]\nbaud=1\n");
    ASSERT_EQ(chmod(ini.c_str(), 0200), 0);
    ASSERT_EQ(chmod(dir.path().c_str(), 0777), 0);
    ASSERT_EQ(chmod(programDir.c_str(), 0777), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) _exit(99);
        _exit(WriteText(u"GPS_COM", u"baud", u"57600") & 0xff);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    ASSERT_NE(WEXITSTATUS(status), 99) << "cannot drop privileges here";
    EXPECT_EQ(WEXITSTATUS(status), PROFILE_E_OPEN & 0xff);
    ASSERT_EQ(chmod(ini.c_str(), 0600), 0);
    EXPECT_EQ(Bytes(), "[GPS_COM]\nbaud=1\n");
    EXPECT_FALSE(TempLeft());
}

// Through a chain of links the final file is replaced; every link stays a link, and the
// file keeps its mode.
TEST_F(ProfileCorpusTest, ChainOfLinksKeepsEveryLinkAndTheMode) {
    const std::string real = dir.file("real.ini");
    const std::string middle = dir.file("middle.ini");
    testsupport::WriteFileBytes(real, "[GPS_COM]\r\nbaud=1\r\n; \xB5\xBC\n");
    ASSERT_EQ(chmod(real.c_str(), 0604), 0);
    std::filesystem::create_symlink("real.ini", middle);
    std::filesystem::create_symlink(middle, ini);
    EXPECT_EQ(WriteText(u"GPS_COM", u"baud", u"57600"), PROFILE_OK);
    EXPECT_TRUE(std::filesystem::is_symlink(ini));
    EXPECT_TRUE(std::filesystem::is_symlink(middle));
    EXPECT_EQ(testsupport::ReadFileBytes(real), "[GPS_COM]\r\nbaud=57600\n; \xB5\xBC\n");
    struct stat info {};
    ASSERT_EQ(stat(real.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0604u);
}

TEST_F(ProfileCorpusTest, DanglingLinkFailsAndStaysALink) {
    std::filesystem::create_symlink(dir.file("gone.ini"), ini);
    EXPECT_EQ(WriteText(u"GPS_COM", u"baud", u"57600"), PROFILE_E_OPEN);
    EXPECT_TRUE(std::filesystem::is_symlink(ini));
    EXPECT_FALSE(std::filesystem::exists(dir.file("gone.ini")));
    EXPECT_FALSE(TempLeft());
}

}  // namespace
