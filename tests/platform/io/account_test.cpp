// The account of failures and the reasons it gives for a device that would not open.
#include "platform/base/account.h"

#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <string>

#include "internal/open_failure.h"
#include "support/test_support.h"

namespace {

using platform::detail::DeviceHolder;
using platform::detail::OpenFailureReason;

TEST(AccountTest, KeepsEachLineOnceInOrderWithinItsBound) {
    platform::ClearAccount();
    platform::Note("b");
    platform::Note("a");
    platform::Note("b");
    platform::Note("");
    EXPECT_EQ(platform::AccountLines(), (std::vector<std::string>{"b", "a"}));
    for (int i = 0; i < 100; ++i) platform::Note("line " + std::to_string(i));
    size_t leftOut = 0;
    std::vector<std::string> lines = platform::AccountLines(&leftOut);
    EXPECT_EQ(lines.size() + leftOut, 102u);
    EXPECT_LT(lines.size(), 50u);
    EXPECT_EQ(lines.back(), "line " + std::to_string(lines.size() - 3));
    platform::ClearAccount();
    EXPECT_TRUE(platform::AccountLines(&leftOut).empty());
    EXPECT_EQ(leftOut, 0u);
}

// A process that holds the pty slave open until it is killed; with the lock it flocks it
// too (as another Belvane does), without it only keeps a descriptor (as TIOCEXCL users do).
pid_t HoldDevice(const std::string& path, bool lock) {
    int ready[2];
    if (pipe(ready) != 0) return -1;
    pid_t child = fork();
    if (child == 0) {
        int fd = open(path.c_str(), O_RDWR | O_NOCTTY);
        if (fd >= 0 && lock) flock(fd, LOCK_EX);
        char byte = 1;
        (void)!write(ready[1], &byte, 1);
        pause();
        _exit(0);
    }
    char byte;
    (void)!read(ready[0], &byte, 1);
    close(ready[0]);
    close(ready[1]);
    return child;
}

std::string CommOf(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/comm");
    std::string name;
    std::getline(in, name);
    return name;
}

TEST(OpenFailureTest, NamesTheProcessThatHoldsTheDevice) {
    testsupport::ScopedEnv proc("BELVANE_PROC_ROOT", "/proc");
    testsupport::PtyPair pty;
    for (bool lock : {true, false}) {
        pid_t holder = HoldDevice(pty.slavePath(), lock);
        ASSERT_GT(holder, 0);
        std::string expected = "process " + std::to_string(holder) + " (" + CommOf(holder) + ")";
        EXPECT_EQ(DeviceHolder(pty.slavePath()), expected) << "lock " << lock;
        EXPECT_EQ(OpenFailureReason(pty.slavePath(), EWOULDBLOCK), "in use: held by " + expected);
        kill(holder, SIGKILL);
        waitpid(holder, nullptr, 0);
    }
    EXPECT_EQ(OpenFailureReason(pty.slavePath(), EBUSY), "in use by another program");
}

TEST(OpenFailureTest, APermissionProblemNamesTheGroupOrTheMode) {
    testsupport::TempDir dir;
    const std::string device = dir.file("ttyUSB0");
    testsupport::WriteFileBytes(device, "");
    ASSERT_EQ(chmod(device.c_str(), 0660), 0);
    std::string group = getgrgid(getegid()) ? getgrgid(getegid())->gr_name : "";
    // The group's members may open it: joining the group is the remedy. Only someone
    // other than the owner can be told so; the superuser can give the file away.
    if (geteuid() == 0 && chown(device.c_str(), 65534, getegid()) == 0) {
        EXPECT_EQ(OpenFailureReason(device, EACCES),
                  "Permission denied: add your user to the group that owns " + device + " (" +
                      group + "), then log in again");
        ASSERT_EQ(chown(device.c_str(), 0, getegid()), 0);
    }
    ASSERT_EQ(chmod(device.c_str(), 0600), 0);
    std::string reason = OpenFailureReason(device, EACCES);
    EXPECT_EQ(reason.rfind("Permission denied: " + device + " has mode 600, owner ", 0), 0u)
        << reason;
    EXPECT_NE(reason.find(", group " + group), std::string::npos) << reason;
    EXPECT_EQ(OpenFailureReason(device, ENOTTY), "it is not a serial device");
}

}  // namespace
