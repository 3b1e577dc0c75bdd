// The profile store's rewrite on a disk that fails for good from some call on: the file is
// the old or the new one, complete, and success is reported only for the new one. (Single
// failures and kills at every call are swept in the configuration store's own tests.)
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "config/profile.h"
#include "profile_fixture.h"
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
    long failures = 0;
    for (long from = 1; from <= whole.fileCalls; ++from) {
        Reset();
        const auto outcome = configtest::RunFailingFrom([this] { return Rewrite(); }, from);
        ASSERT_TRUE(outcome.traced);
        ASSERT_FALSE(outcome.crashed) << "from call " << from;
        const std::string now = Which();
        ASSERT_TRUE(now == "old" || now == "new") << now << ", file calls failing from " << from;
        if (outcome.exitCode == 0) {
            EXPECT_EQ(now, "new") << "success reported though calls failed from " << from;
        } else {
            EXPECT_EQ(now, "old") << "failure reported though the file was replaced, from " << from;
            ++failures;
        }
    }
    std::printf("profile rewrite, failing for good: %ld injection points, %ld failures reported\n",
                whole.fileCalls, failures);
    EXPECT_GT(failures, 0);
}

}  // namespace
