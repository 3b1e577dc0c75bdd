#include "config/profile.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cfloat>
#include <cmath>
#include <filesystem>
#include <limits>
#include <string>

#include "profile_fixture.h"
#include "syscall_tracer.h"

namespace {

using configtest::ProfileFileTest;

// --- Reading --------------------------------------------------------------------------

TEST_F(ProfileFileTest, EmptyFileHasNoSectionAndIsNotRewritten) {
    Put("");
    EXPECT_EQ(ReadText(u"GPS_COM", u"com"), u"<-20>");
    EXPECT_EQ(WriteText(u"GPS_COM", u"com", u"com1"), PROFILE_E_WRITE_NO_SECTION);
    EXPECT_EQ(Bytes(), "");
    EXPECT_FALSE(TempLeft());
}

TEST_F(ProfileFileTest, MissingFileFailsBothWaysAndCreatesNothing) {
    EXPECT_EQ(ReadText(u"GPS_COM", u"com"), u"<-10>");
    EXPECT_EQ(WriteText(u"GPS_COM", u"com", u"com1"), PROFILE_E_OPEN);
    EXPECT_FALSE(std::filesystem::exists(ini));
    EXPECT_FALSE(TempLeft());
}

TEST_F(ProfileFileTest, NamesAreMatchedExactlyAndCaseSensitively) {
    Put("[gps_com]\ncom=lower\n"
        "[GPS_COMX]\ncom=longer\n"
        "[GPS_COM] old\n"
        " com=blank\ncom1=5\nComPort=3\n;com=comment\ncom=right\n");
    EXPECT_EQ(ReadText(u"GPS_COM", u"com"), u"right");
    EXPECT_EQ(ReadText(u"GPS_COM", u"comport"), u"<-30>");
    EXPECT_EQ(ReadText(u"GPS_COM", u"ComPort"), u"3");
    EXPECT_EQ(ReadText(u"gps_com", u"com"), u"lower");
    EXPECT_EQ(ReadText(u"Gps_Com", u"com"), u"<-20>");
    EXPECT_EQ(ReadText(u" GPS_COM", u"com"), u"<-20>");
}

TEST_F(ProfileFileTest, KeyIsSoughtOnlyUpToTheNextHeader) {
    Put("[A]\nx=1\n[B]\ncom=2\n");
    EXPECT_EQ(ReadText(u"A", u"com"), u"<-30>");
    EXPECT_EQ(ReadText(u"B", u"com"), u"2");
}

TEST_F(ProfileFileTest, SectionNamedTwiceIsReadAndRewrittenOnlyTheFirstTime) {
    Put("[S]\nk=first\n[T]\n[S]\nk=second\nj=1\n");
    EXPECT_EQ(ReadText(u"S", u"k"), u"first");
    EXPECT_EQ(ReadText(u"S", u"j"), u"<-30>");
    EXPECT_EQ(WriteText(u"S", u"k", u"new"), PROFILE_OK);
    EXPECT_EQ(WriteText(u"S", u"j", u"2"), PROFILE_OK);
    EXPECT_EQ(Bytes(), "[S]\nk=new\nj=2\n[T]\n[S]\nk=second\nj=1\n");
}

TEST_F(ProfileFileTest, TextLosesOnlyItsFinalLineFeedAndIsCutToCapacity) {
    Put("[GPS_COM]\ncom=com1\r\nbaud= 4800 \nlast=no feed");
    EXPECT_EQ(ReadText(u"GPS_COM", u"com"), u"com1\r");
    EXPECT_EQ(ReadText(u"GPS_COM", u"baud"), u" 4800 ");
    EXPECT_EQ(ReadText(u"GPS_COM", u"last"), u"no feed");
    WCHAR value[8];
    for (auto& c : value) c = u'#';
    // Any code other than 1 and 2 reads text.
    EXPECT_EQ(ReadProfileValue(W(ini).c_str(), u"GPS_COM", u"last", value, 4, 7), PROFILE_OK);
    EXPECT_EQ(std::u16string(value), u"no ");
    EXPECT_EQ(value[4], u'#');
}

TEST_F(ProfileFileTest, IntegersFollowWtol) {
    Put("[S]\nbaud=\nlf=\nsigned= -17x\nbig=99999999999\nword=abc\n[T]\nbaud=");
    int32_t number = 55;
    auto read = [&](const char16_t* section, const char16_t* key) {
        number = 55;
        return ReadProfileValue(W(ini).c_str(), section, key, &number, 1, PROFILE_TYPE_INT);
    };
    // "baud=\n" holds the line feed, which is not empty; a last "baud=" holds nothing.
    EXPECT_EQ(read(u"S", u"baud"), PROFILE_OK);
    EXPECT_EQ(number, 0);
    EXPECT_EQ(read(u"T", u"baud"), PROFILE_E_EMPTY_VALUE);
    EXPECT_EQ(number, 0);
    EXPECT_EQ(read(u"S", u"signed"), PROFILE_OK);
    EXPECT_EQ(number, -17);
    EXPECT_EQ(read(u"S", u"big"), PROFILE_OK);
    EXPECT_EQ(number, std::numeric_limits<int32_t>::max());
    EXPECT_EQ(read(u"S", u"word"), PROFILE_OK);
    EXPECT_EQ(number, 0);
    EXPECT_EQ(read(u"S", u"none"), PROFILE_E_READ_NO_KEY);
    EXPECT_EQ(number, 55) << "a failed search leaves the result alone";
}

TEST_F(ProfileFileTest, NullArgumentsAndBadCapacity) {
    Put("[S]\nk=v\n");
    WCHAR value[4];
    const std::u16string path = W(ini);
    EXPECT_EQ(ReadProfileValue(path.c_str(), u"S", u"k", value, 0, 0), PROFILE_E_ARGUMENT);
    EXPECT_EQ(ReadProfileValue(path.c_str(), u"S", u"k", nullptr, 4, 0), PROFILE_E_ARGUMENT);
    EXPECT_EQ(WriteProfileValue(path.c_str(), u"S", u"k", nullptr, 0), PROFILE_E_ARGUMENT);
    EXPECT_EQ(WriteProfileValue(path.c_str(), nullptr, u"k", u"v", 0), PROFILE_E_ARGUMENT);
    EXPECT_EQ(Bytes(), "[S]\nk=v\n");
}

// --- Rewriting ------------------------------------------------------------------------

TEST_F(ProfileFileTest, EntryIsAddedToOnlySection) {
    Put("[GPS_COM]\n");
    EXPECT_EQ(WriteText(u"GPS_COM", u"com", u"com1"), PROFILE_OK);
    EXPECT_EQ(Bytes(), "[GPS_COM]\ncom=com1\n");
    EXPECT_FALSE(TempLeft());
}

TEST_F(ProfileFileTest, NewKeyEndsTheSectionRightBeforeTheNextHeader) {
    Put("; head\n[GPS_COM]\ncom=com2\n\n[NEXT]\nbaud=1\n");
    EXPECT_EQ(WriteInt(u"GPS_COM", u"baud", 9600), PROFILE_OK);
    EXPECT_EQ(Bytes(), "; head\n[GPS_COM]\ncom=com2\n\nbaud=9600\n[NEXT]\nbaud=1\n");
}

TEST_F(ProfileFileTest, KeyIsReplacedInPlaceAmongOthers) {
    Put("[GPS_COM]\ncom=com2\nxyzw=7\nbaud=4800\nbaud=1\n[X]\n");
    EXPECT_EQ(WriteInt(u"GPS_COM", u"baud", -9600), PROFILE_OK);
    EXPECT_EQ(Bytes(), "[GPS_COM]\ncom=com2\nxyzw=7\nbaud=-9600\nbaud=1\n[X]\n");
    EXPECT_EQ(ReadText(u"GPS_COM", u"baud"), u"-9600");
}

TEST_F(ProfileFileTest, MissingSectionIsNeverCreated) {
    const std::string before = "[GPS_COM]\ncom=com2\n[gps]\n";
    Put(before);
    EXPECT_EQ(WriteText(u"KOVU_COM", u"ComPort", u"3"), PROFILE_E_WRITE_NO_SECTION);
    EXPECT_EQ(Bytes(), before);
    EXPECT_FALSE(TempLeft());
}

TEST_F(ProfileFileTest, LastLineWithoutLineFeedIsEndedBeforeTheNewEntry) {
    Put("[A]\nx=1\n[GPS_COM]\ncom=com2");
    EXPECT_EQ(WriteInt(u"GPS_COM", u"baud", 4800), PROFILE_OK);
    EXPECT_EQ(Bytes(), "[A]\nx=1\n[GPS_COM]\ncom=com2\nbaud=4800\n");
    // A header without a line feed as well.
    Put("[GPS_COM]");
    EXPECT_EQ(WriteText(u"GPS_COM", u"com", u"com1"), PROFILE_OK);
    EXPECT_EQ(Bytes(), "[GPS_COM]\ncom=com1\n");
    // An entry without a line feed that is replaced needs nothing more.
    Put("[GPS_COM]\ncom=com2");
    EXPECT_EQ(WriteText(u"GPS_COM", u"com", u"com1"), PROFILE_OK);
    EXPECT_EQ(Bytes(), "[GPS_COM]\ncom=com1\n");
}

// A host file with GBK comments (not valid UTF-8), CR LF line ends, a line longer than a
// read piece and a trailing line without a line feed keeps every byte but the one entry.
TEST_F(ProfileFileTest, UntouchedLinesKeepTheirBytes) {
    const std::string longLine = ";" + std::string(600, 'x') + "\xB5\xE7\r\n";
    const std::string head =
        ";\xC5\xE4\xD6\xC3\xCE\xC4\xBC\xFE\r\n"  // GBK comment
        "\xEF\xBB\xBF\r\n"                       // a stray BOM
        "[GPS_COM]\r\n;\xB4\xAE\xBF\xDA caf\xE9\r\n";
    const std::string tail = "baud=4800\r\n" + longLine + "[DYN_COM]\r\ncom=com3\r\n\r\n;end";
    Put(head + "com=com2\r\n" + tail);
    EXPECT_EQ(WriteText(u"GPS_COM", u"com", u"com1"), PROFILE_OK);
    EXPECT_EQ(Bytes(), head + "com=com1\n" + tail);
}

TEST_F(ProfileFileTest, NonAsciiValuesRoundTrip) {
    Put("[S]\n");
    EXPECT_EQ(WriteText(u"S", u"名", u"值\u00e9\U0001F600"), PROFILE_OK);
    EXPECT_EQ(ReadText(u"S", u"名"), u"值\u00e9\U0001F600");
    EXPECT_EQ(Bytes(), "[S]\n\xE5\x90\x8D=\xE5\x80\xBC\xC3\xA9\xF0\x9F\x98\x80\n");
}

// A piece holds 254 characters: an entry line that does not fit one piece would read back
// cut and leave its tail as a line of its own at the next rewrite.
TEST_F(ProfileFileTest, EntryLineMustFitOnePiece) {
    const std::string before = "[S]\nk=old\n";
    Put(before);
    const std::u16string fits(PROFILE_MAX_ENTRY_LINE - 3, u'v');  // "k=" + value + "\n"
    const std::u16string tooLong = fits + u"v";
    EXPECT_EQ(WriteText(u"S", u"k", tooLong.c_str()), PROFILE_E_ENTRY_LINE);
    EXPECT_EQ(Bytes(), before);
    EXPECT_FALSE(TempLeft());
    EXPECT_EQ(WriteText(u"S", u"k", u"a\n[GPS_COM]"), PROFILE_E_ENTRY_LINE);
    EXPECT_EQ(WriteText(u"S", u"k\n", u"a"), PROFILE_E_ENTRY_LINE);
    EXPECT_EQ(Bytes(), before);

    EXPECT_EQ(WriteText(u"S", u"k", fits.c_str()), PROFILE_OK);
    EXPECT_EQ(ReadText(u"S", u"k"), fits);
    EXPECT_EQ(WriteText(u"S", u"k", fits.c_str()), PROFILE_OK);
    EXPECT_EQ(Bytes(), "[S]\nk=" + std::string(fits.size(), 'v') + "\n");
}

TEST_F(ProfileFileTest, DoublesRoundTripExactly) {
    Put("[N]\nhand=2.5e3xyz\n[E]\nempty=");
    const std::u16string path = W(ini);
    for (double value : {0.1, -2.5e-300, 1e300, DBL_MAX, DBL_TRUE_MIN, 1.0 / 3.0, -0.0, 123456789.0,
                         std::numeric_limits<double>::infinity()}) {
        EXPECT_EQ(WriteProfileValue(path.c_str(), u"N", u"x", &value, PROFILE_TYPE_DOUBLE),
                  PROFILE_OK);
        double back = 0;
        EXPECT_EQ(ReadProfileValue(path.c_str(), u"N", u"x", &back, 1, PROFILE_TYPE_DOUBLE),
                  PROFILE_OK);
        EXPECT_EQ(back, value);
        EXPECT_EQ(std::signbit(back), std::signbit(value));
    }
    double back = 0;
    EXPECT_EQ(ReadProfileValue(path.c_str(), u"N", u"hand", &back, 1, PROFILE_TYPE_DOUBLE),
              PROFILE_OK);
    EXPECT_EQ(back, 2500.0);
    const double third = 1.0 / 3.0;
    EXPECT_EQ(WriteProfileValue(path.c_str(), u"N", u"x", &third, PROFILE_TYPE_DOUBLE), PROFILE_OK);
    EXPECT_EQ(ReadText(u"N", u"x"), u"0.3333333333333333") << "shortest round-trip form";
    back = 7;
    EXPECT_EQ(ReadProfileValue(path.c_str(), u"E", u"empty", &back, 1, PROFILE_TYPE_DOUBLE),
              PROFILE_E_EMPTY_VALUE);
}

// --- Where the file and its copy live -------------------------------------------------

TEST_F(ProfileFileTest, TemporaryFileLiesBesideTheProgramNotTheFile) {
    const std::string otherDir = dir.file("elsewhere");
    std::filesystem::create_directory(otherDir);
    const std::string other = otherDir + "/host.ini";
    testsupport::WriteFileBytes(other, "[S]\n");
    // A stale copy from a rewrite that was cut off is removed and made anew.
    testsupport::WriteFileBytes(programDir + "/config_tmp", "stale stale stale\n");
    EXPECT_EQ(WriteProfileValue(W(other).c_str(), u"S", u"k", u"v", 0), PROFILE_OK);
    EXPECT_EQ(testsupport::ReadFileBytes(other), "[S]\nk=v\n");
    EXPECT_FALSE(TempLeft());
    EXPECT_FALSE(std::filesystem::exists(otherDir + "/config_tmp"));
}

TEST_F(ProfileFileTest, RewriteThroughSymbolicLinkKeepsTheLinkAndThePermissions) {
    const std::string target = dir.file("real.ini");
    testsupport::WriteFileBytes(target, "[S]\nk=old\n");
    ASSERT_EQ(chmod(target.c_str(), 0640), 0);
    std::filesystem::create_symlink("../real.ini", ini);

    EXPECT_EQ(WriteText(u"S", u"k", u"new"), PROFILE_OK);
    EXPECT_TRUE(std::filesystem::is_symlink(ini));
    EXPECT_EQ(testsupport::ReadFileBytes(target), "[S]\nk=new\n");
    struct stat info {};
    ASSERT_EQ(stat(target.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0640u);
}

TEST_F(ProfileFileTest, PermissionsOfAPlainFileAreKept) {
    Put("[S]\n");
    ASSERT_EQ(chmod(ini.c_str(), 0600), 0);
    EXPECT_EQ(WriteText(u"S", u"k", u"v"), PROFILE_OK);
    struct stat info {};
    ASSERT_EQ(stat(ini.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0600u);
}

// A disk that refuses every write ("no space left" shows at the write or only at the sync):
// the copy is incomplete, and the file must not be replaced by it.
TEST_F(ProfileFileTest, FullDiskLeavesTheFileAlone) {
    const std::string before = "[S]\nk=old\n" + std::string(100000, ';') + "\n";
    for (const long call : {long{SYS_write}, long{SYS_fsync}}) {
        Put(before);
        const auto outcome = configtest::RunFailingSyscalls(
            [this] { return WriteText(u"S", u"k", u"new"); }, {call});
        if (!outcome.traced) GTEST_SKIP() << "process tracing is not permitted here";
        EXPECT_GT(outcome.failedCalls, 0) << "call " << call;
        EXPECT_EQ(outcome.exitCode, PROFILE_E_TEMP_WRITE & 0xFF) << "call " << call;
        EXPECT_EQ(Bytes(), before);
        EXPECT_FALSE(TempLeft());
    }
}

// Whatever someone left under the temporary name, the rewrite writes only into a new file
// of its own: a link is removed, never followed, and what it led to stays as it was.
TEST_F(ProfileFileTest, AnythingLeftUnderTheTemporaryNameIsRemovedNotFollowed) {
    const std::string secret = dir.file("secret.txt");
    const std::string temp = programDir + "/config_tmp";
    for (int kind = 0; kind < 4; ++kind) {
        testsupport::WriteFileBytes(secret, "secret\n");
        ASSERT_EQ(chmod(secret.c_str(), 0600), 0);
        Put("[S]\nk=old\n");
        if (kind == 0) std::filesystem::create_symlink(secret, temp);
        if (kind == 1) std::filesystem::create_symlink(dir.file("nowhere"), temp);
        if (kind == 2) {
            ASSERT_EQ(mkfifo(temp.c_str(), 0666), 0);
        }
        if (kind == 3) testsupport::WriteFileBytes(temp, "stale\n");
        EXPECT_EQ(WriteText(u"S", u"k", u"new"), PROFILE_OK) << "kind " << kind;
        EXPECT_EQ(Bytes(), "[S]\nk=new\n");
        EXPECT_FALSE(std::filesystem::is_symlink(ini));
        EXPECT_EQ(testsupport::ReadFileBytes(secret), "secret\n");
        struct stat info {};
        ASSERT_EQ(stat(secret.c_str(), &info), 0);
        EXPECT_EQ(info.st_mode & 07777, 0600u);
        EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(temp)));
        EXPECT_FALSE(std::filesystem::exists(dir.file("nowhere")));
    }
}

// Only a regular file that the runner may write is rewritten; the others stay as they are.
TEST_F(ProfileFileTest, FilesThatMayNotBeRewrittenAreRefusedUntouched) {
    Put("[S]\nk=old\n");
    ASSERT_EQ(chmod(ini.c_str(), 0444), 0);
    EXPECT_EQ(WriteText(u"S", u"k", u"new"), PROFILE_E_READ_ONLY);
    EXPECT_EQ(Bytes(), "[S]\nk=old\n");
    EXPECT_EQ(ReadText(u"S", u"k"), u"old");  // reading it is fine
    std::filesystem::remove(ini);

    ASSERT_EQ(mkfifo(ini.c_str(), 0666), 0);
    EXPECT_EQ(WriteText(u"S", u"k", u"new"), PROFILE_E_NOT_FILE);
    EXPECT_EQ(ReadText(u"S", u"k"), u"<-20>");  // read without waiting for a writer
    EXPECT_TRUE(std::filesystem::is_fifo(ini));
    std::filesystem::remove(ini);

    std::filesystem::create_symlink("/dev/null", ini);
    EXPECT_EQ(WriteText(u"S", u"k", u"new"), PROFILE_E_NOT_FILE);
    EXPECT_EQ(std::filesystem::read_symlink(ini), "/dev/null");
    EXPECT_FALSE(TempLeft());
}

// The superuser keeps the file's owner, group and permissions.
TEST_F(ProfileFileTest, TheSuperuserKeepsTheOwner) {
    if (geteuid() != 0) GTEST_SKIP() << "needs the superuser";
    Put("[S]\nk=old\n");
    ASSERT_EQ(chown(ini.c_str(), 4321, 4322), 0);
    ASSERT_EQ(chmod(ini.c_str(), 0640), 0);
    EXPECT_EQ(WriteText(u"S", u"k", u"new"), PROFILE_OK);
    struct stat info {};
    ASSERT_EQ(stat(ini.c_str(), &info), 0);
    EXPECT_EQ(info.st_uid, 4321u);
    EXPECT_EQ(info.st_gid, 4322u);
    EXPECT_EQ(info.st_mode & 07777, 0640u);
    EXPECT_EQ(Bytes(), "[S]\nk=new\n");
}

TEST_F(ProfileFileTest, TemporaryFileThatCannotBeCreated) {
    Put("[S]\n");
    std::filesystem::create_directory(programDir + "/config_tmp");
    EXPECT_EQ(WriteText(u"S", u"k", u"v"), PROFILE_E_TEMP_CREATE);
    EXPECT_EQ(Bytes(), "[S]\n");
    // A program path too long for the temporary name.
    SetProgramDirectory("/" + std::string(250, 'd'));
    EXPECT_EQ(WriteText(u"S", u"k", u"v"), PROFILE_E_TEMP_CREATE);
    EXPECT_EQ(Bytes(), "[S]\n");
}

}  // namespace
