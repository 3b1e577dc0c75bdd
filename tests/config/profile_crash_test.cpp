// What a rewrite that dies or meets an I/O error at any step leaves behind: the old or the
// new file, complete, and never a success reported for a file that was not replaced.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/syscall.h>

#include <filesystem>
#include <string>

#include "config/profile.h"
#include "profile_fixture.h"
#include "support/fault_sweep.h"
#include "syscall_tracer.h"

namespace {

using configtest::ProfileFileTest;

// Large enough that copying takes several reads and writes of the stream buffers.
std::string OldFile() {
    std::string text = "; host settings\n[GPS_COM]\ncom=com2\nbaud=4800\n[DYN_COM]\n";
    for (int i = 0; i < 400; ++i)
        text += ";" + std::string(60, static_cast<char>('a' + i % 26)) + "\n";
    return text;
}

std::string NewFile() {
    std::string text = OldFile();
    text.replace(text.find("baud=4800"), 9, "baud=57600");
    return text;
}

// Names the state of the file instead of printing kilobytes of it.
std::string Which(const std::string& bytes) {
    if (bytes == OldFile()) return "old";
    if (bytes == NewFile()) return "new";
    return "damaged (" + std::to_string(bytes.size()) + " bytes)";
}

class ProfileCrashTest : public ProfileFileTest {
  protected:
    int Rewrite() const { return WriteInt(u"GPS_COM", u"baud", 57600); }

    void Reset() {
        std::filesystem::remove(programDir + "/config_tmp");
        Put(OldFile());
    }

    // A whole rewrite, traced; no calls counted when tracing is refused.
    configtest::TraceOutcome WholeRewrite() {
        Reset();
        const configtest::TraceOutcome whole =
            configtest::RunKilledAt([this] { return Rewrite(); }, 0);
        if (!whole.traced) return whole;
        EXPECT_EQ(whole.exitCode, 0);
        EXPECT_EQ(Which(Bytes()), "new");
        return whole;
    }

    testsupport::FaultSweep Sweep(long points) {
        testsupport::FaultSweep sweep;
        sweep.points = points;
        sweep.reset = [this] { Reset(); };
        sweep.which = [this] { return Which(Bytes()); };
        return sweep;
    }

    void ExpectKilledRewritesLeaveOneWholeFile() {
        const long calls = WholeRewrite().fileCalls;
        if (calls == 0) {
            GTEST_SKIP() << "process tracing is not permitted here";
        }
        testsupport::FaultSweep sweep = Sweep(calls + 1);
        sweep.newStays = true;
        const auto tally = testsupport::SweepFaultPoints<configtest::TraceOutcome>(
            sweep,
            [this](long at) { return configtest::RunKilledAt([this] { return Rewrite(); }, at); });
        if (HasFatalFailure()) return;
        EXPECT_GT(tally.killed, 10);
        EXPECT_GT(tally.sawNew, 0);
        // A copy left behind by a killed rewrite does not disturb the next one.
        Reset();
        EXPECT_EQ(configtest::RunKilledAt([this] { return Rewrite(); }, calls / 2).killed, true);
        EXPECT_EQ(Rewrite(), PROFILE_OK);
        EXPECT_EQ(Which(Bytes()), "new");
        EXPECT_FALSE(TempLeft());
    }
};

TEST_F(ProfileCrashTest, KilledAtAnyStepLeavesOldOrNewFileWhole) {
    ExpectKilledRewritesLeaveOneWholeFile();
}

// With the program on another file system than the file the replacement has to copy.
TEST_F(ProfileCrashTest, KilledAtAnyStepAcrossFileSystems) {
    struct stat here {
    }, shm{};
    if (stat(dir.path().c_str(), &here) != 0 || stat("/dev/shm", &shm) != 0 ||
        here.st_dev == shm.st_dev) {
        GTEST_SKIP() << "no second file system at hand";
    }
    testsupport::ScopedEnv tmp("TMPDIR", "/dev/shm");
    testsupport::TempDir programHome;
    programDir = programHome.path();
    SetProgramDirectory(programDir);
    ExpectKilledRewritesLeaveOneWholeFile();
}

bool IsRewriteCode(int exitCode) {
    for (int code :
         {PROFILE_E_OPEN, PROFILE_E_TEMP_CREATE, PROFILE_E_TEMP_WRITE, PROFILE_E_REPLACE})
        if (exitCode == (code & 0xff)) return true;
    return false;
}

TEST_F(ProfileCrashTest, FailedCallAtAnyStepNeverReportsFalseSuccess) {
    const long calls = WholeRewrite().fileCalls;
    if (calls == 0) {
        GTEST_SKIP() << "process tracing is not permitted here";
    }
    const auto tally = testsupport::SweepFaultPoints<configtest::TraceOutcome>(
        Sweep(calls),
        [this](long at) { return configtest::RunFailingCall([this] { return Rewrite(); }, at); },
        [this](long at, const configtest::TraceOutcome& outcome, const std::string&) {
            if (outcome.exitCode == 0) return;
            EXPECT_TRUE(IsRewriteCode(outcome.exitCode)) << outcome.exitCode << " at " << at;
            const bool unlinkFailed =
                outcome.failedNumber == SYS_unlink || outcome.failedNumber == SYS_unlinkat;
            if (!unlinkFailed) {
                EXPECT_FALSE(TempLeft()) << "copy left behind after call " << at << " failed";
            }
        });
    EXPECT_GT(tally.failures, 5);
}

TEST_F(ProfileCrashTest, FailedReplacementReportsFailureAndKeepsTheOldFile) {
    Reset();
    const std::set<long> renames{SYS_rename, SYS_renameat, SYS_renameat2};
    const auto outcome = configtest::RunFailingSyscalls([this] { return Rewrite(); }, renames);
    if (!outcome.traced) {
        GTEST_SKIP() << "process tracing is not permitted here";
    }
    EXPECT_GE(outcome.failedCalls, 1);
    EXPECT_FALSE(outcome.crashed);
    EXPECT_EQ(outcome.exitCode, PROFILE_E_REPLACE & 0xff);
    EXPECT_EQ(Which(Bytes()), "old");
    EXPECT_FALSE(TempLeft());
}

TEST_F(ProfileCrashTest, FailedSyncReportsFailureAndKeepsTheOldFile) {
    Reset();
    const std::set<long> syncs{SYS_fsync, SYS_fdatasync, SYS_sync_file_range};
    const auto outcome = configtest::RunFailingSyscalls([this] { return Rewrite(); }, syncs);
    if (!outcome.traced) {
        GTEST_SKIP() << "process tracing is not permitted here";
    }
    EXPECT_GE(outcome.failedCalls, 1) << "the replacement must sync the copy first";
    EXPECT_NE(outcome.exitCode, 0);
    EXPECT_EQ(Which(Bytes()), "old");
}

}  // namespace
