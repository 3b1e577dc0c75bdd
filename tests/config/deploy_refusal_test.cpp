// Deployments that must leave Belv.ini alone (read-only, not a regular file, another
// user's, a link at the lock file) and deployments in two processes at once.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "deploy_fixture.h"
#include "platform/io/file_guard.h"

namespace {

using configtest::DeployTest;
using configtest::FakeScan;
using configtest::First;
using configtest::Next;
using configtest::scan;
using configtest::String;

// --- Files that must not be rewritten, and deployments at the same time ---------------

constexpr char16_t kBusy[] = u"Not written: Belv.ini is busy: another program is writing it\r\n";
constexpr char16_t kNotFile[] = u"Not written: Belv.ini is not a regular file\r\n";

TEST_F(DeployTest, FilesThatMustNotBeRewrittenAreRefusedWithOneLineAndLeftAlone) {
    ExampleBench();
    const std::string layoutB = "[GPS_COM]\nComPort=2\n[KOVU_COM]\n[VIRTUAL_COM]\n";
    Put(layoutB);
    ASSERT_EQ(chmod(ini.c_str(), 0444), 0);
    EXPECT_EQ(Deploy(), 1);
    EXPECT_EQ(std::u16string(failures), u"Not written: Belv.ini is read-only\r\n");
    EXPECT_EQ(Bytes(), layoutB);
    std::filesystem::remove(ini);

    ASSERT_EQ(mkfifo(ini.c_str(), 0666), 0);
    EXPECT_EQ(Deploy(), 1);
    EXPECT_EQ(std::u16string(failures), kNotFile);
    EXPECT_TRUE(std::filesystem::is_fifo(ini));
    std::filesystem::remove(ini);

    std::filesystem::create_symlink("/dev/null", ini);
    EXPECT_EQ(Deploy(), 1);
    EXPECT_EQ(std::u16string(failures), kNotFile);
    EXPECT_EQ(std::filesystem::read_symlink(ini), "/dev/null");
    EXPECT_FALSE(TempLeft());
}

// Another user's file is refused to an ordinary user, even when it lets everybody write
// it; the superuser rewrites it and leaves it its owner.
TEST_F(DeployTest, AnotherUsersFileIsRefusedUnlessRunAsSuperuser) {
    if (geteuid() != 0) GTEST_SKIP() << "needs the superuser to act as another user";
    scan.ports = {{1, 9600, 2}};
    const std::string layoutB = "[GPS_COM]\nComPort=2\n";
    Put(layoutB);
    ASSERT_EQ(chmod(ini.c_str(), 0666), 0);
    ASSERT_EQ(chmod(dir.path().c_str(), 0755), 0);
    ASSERT_EQ(chmod(programDir.c_str(), 0777), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        const bool asNobody = setgid(65534) == 0 && setuid(65534) == 0;
        const bool refused =
            Deploy() == 1 &&
            std::u16string(failures) == u"Not written: Belv.ini belongs to another user\r\n";
        _exit(!asNobody ? 2 : refused ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_EQ(Bytes(), layoutB);

    ASSERT_EQ(chown(ini.c_str(), 4321, 4321), 0);
    EXPECT_EQ(Deploy(), 0);
    struct stat info {};
    ASSERT_EQ(stat(ini.c_str(), &info), 0);
    EXPECT_EQ(info.st_uid, 4321u);
    EXPECT_EQ(info.st_mode & 07777, 0666u);
}

TEST_F(DeployTest, ALinkAtTheLockFileIsRemovedNotFollowed) {
    scan.ports = {{1, 9600, 2}};
    const std::string secret = dir.file("secret.txt");
    testsupport::WriteFileBytes(secret, "secret\n");
    ASSERT_EQ(chmod(secret.c_str(), 0600), 0);
    std::filesystem::create_symlink(secret, ini + ".lock");
    Put("[GPS_COM]\nComPort=2\n");
    EXPECT_EQ(Deploy(), 0);
    EXPECT_EQ(Bytes(), "[GPS_COM]\nComPort=1\nBaudRate=9600\n");
    EXPECT_TRUE(std::filesystem::is_regular_file(std::filesystem::symlink_status(ini + ".lock")));
    EXPECT_EQ(testsupport::ReadFileBytes(secret), "secret\n");
}

// Pairs of deployments in two processes, started together on a large file, each not
// waiting for the other: whichever loses reports the file busy and writes nothing, and the
// file is always the whole result of one of them.
TEST_F(DeployTest, ConcurrentDeploymentsLeaveAWholeFileAndTheLoserReportsBusy) {
    std::string big = "[GPS_COM]\nComPort=2\nBaudRate=4800\n[KOVU_COM]\nComPort=3\n[VIRTUAL_COM]\n";
    while (big.size() < 200000)
        big += "; " + std::string(70, static_cast<char>('a' + big.size() % 26)) + "\n";
    const std::vector<FakeScan::Port> scans[2] = {{{1, 9600, 2}, {5, 4800, 3}, {6, 0, 4}},
                                                  {{4, 4800, 2}, {2, 9600, 3}, {8, 0, 4}}};
    std::string outcome[2];
    for (int s = 0; s < 2; ++s) {
        Put(big);
        scan.ports = scans[s];
        ASSERT_EQ(Deploy(), 0);
        outcome[s] = Bytes();
    }
    int losers = 0;
    for (int trial = 0; trial < 30; ++trial) {
        Put(big);
        int gate[2];
        ASSERT_EQ(pipe(gate), 0);
        pid_t children[2];
        for (int s = 0; s < 2; ++s) {
            children[s] = fork();
            ASSERT_GE(children[s], 0);
            if (children[s] == 0) {
                close(gate[1]);
                char go;
                (void)!read(gate[0], &go, 1);  // both start when the gate closes
                scan = FakeScan{};
                scan.ports = scans[s];
                const int rc =
                    DeployFindingsWaiting(W(ini).c_str(), First, Next, failures, 1024, 0);
                _exit(rc == 0 ? 0 : rc == 1 && std::u16string(failures) == kBusy ? 1 : 2);
            }
        }
        close(gate[0]);
        close(gate[1]);
        int result[2];
        for (int s = 0; s < 2; ++s) {
            int status = 0;
            ASSERT_EQ(waitpid(children[s], &status, 0), children[s]);
            ASSERT_TRUE(WIFEXITED(status));
            result[s] = WEXITSTATUS(status);
        }
        ASSERT_NE(result[0], 2) << "trial " << trial;
        ASSERT_NE(result[1], 2) << "trial " << trial;
        ASSERT_FALSE(result[0] == 1 && result[1] == 1) << "nobody got the file, trial " << trial;
        const std::string now = Bytes();
        const bool whole = now == outcome[0] || now == outcome[1];
        ASSERT_TRUE(whole) << "trial " << trial << ": " << now.size() << " bytes";
        for (int s = 0; s < 2; ++s) {
            if (result[s] == 1) {
                ++losers;
                EXPECT_EQ(now, outcome[1 - s]) << "the loser's write is in the file";
            }
        }
        EXPECT_FALSE(TempLeft());
    }
    RecordProperty("losers", losers);
}

}  // namespace
