// The profile store's rewrite on a disk that fails for good from some call on: the file is
// the old or the new one, complete, and success is reported only for the new one. (Single
// failures and kills at every call are swept in the configuration store's own tests.)
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "config/profile.h"
#include "profile_fixture.h"
#include "support/fault_sweep.h"
#include "syscall_tracer.h"

namespace {

std::string OldFile() {
    std::string text = "; host\r\n[GPS_COM]\r\ncom=com2\r\nbaud=4800\r\n[DYN_COM]\r\n";
    for (int i = 0; i < 300; ++i)
        text += ";" + std::string(70, static_cast<char>('a' + i % 26)) + "\n";
    return text;
}

std::string NewFile() {
    std::string text = OldFile();
    text.replace(text.find("baud=4800\r\n"), 11, "baud=57600\n");
    return text;
}

class ProfileFailingDisk : public configtest::ProfileFileTest {
  protected:
    int Rewrite() const { return WriteInt(u"GPS_COM", u"baud", 57600); }
    void Reset() {
        std::filesystem::remove(programDir + "/config_tmp");
        Put(OldFile());
    }
    std::string Which() const {
        const std::string now = Bytes();
        return now == OldFile() ? "old" : now == NewFile() ? "new" : "damaged";
    }
};

TEST_F(ProfileFailingDisk, FailingForGoodFromEveryStepKeepsTheFileAndTellsTheTruth) {
    Reset();
    const auto whole = configtest::RunFailingCall([this] { return Rewrite(); }, 0);
    if (!whole.traced) GTEST_SKIP() << "process tracing is not permitted here";
    ASSERT_EQ(whole.exitCode, 0);
    ASSERT_EQ(Which(), "new");
    testsupport::FaultSweep sweep;
    sweep.points = whole.fileCalls;
    sweep.reset = [this] { Reset(); };
    sweep.which = [this] { return Which(); };
    const auto tally = testsupport::SweepFaultPoints<configtest::TraceOutcome>(
        sweep,
        [this](long from) {
            return configtest::RunFailingFrom([this] { return Rewrite(); }, from);
        },
        [](long from, const configtest::TraceOutcome& outcome, const std::string& now) {
            if (outcome.exitCode != 0) {
                EXPECT_EQ(now, "old")
                    << "failure reported though the file was replaced, from " << from;
            }
        });
    std::printf("profile rewrite, failing for good: %ld injection points, %ld failures reported\n",
                whole.fileCalls, tally.failures);
    EXPECT_GT(tally.failures, 0);
}

}  // namespace
