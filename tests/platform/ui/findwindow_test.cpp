#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

#include "platform/base/messages.h"
#include "platform/base/threads.h"

extern char** environ;

namespace {

pid_t Spawn(const std::string& className) {
    std::string program = SAMPLE_HEADLESS;
    char* argv[] = {program.data(), const_cast<char*>(className.c_str()), nullptr};
    pid_t pid = -1;
    EXPECT_EQ(posix_spawn(&pid, program.c_str(), nullptr, nullptr, argv, environ), 0);
    return pid;
}

int ExitCode(pid_t pid) {
    int status = 0;
    EXPECT_EQ(waitpid(pid, &status, 0), pid);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::u16string Wide(const std::string& s) {
    return std::u16string(s.begin(), s.end());
}

// A second instance finds the first one's window by its class, brings it forward and
// ends with 0; the first one hears of it (and here ends with 7 for that).
TEST(FindWindowAcrossProcesses, SecondInstanceFindsFirstAndBringsItForward) {
    std::string className = "FindTest" + std::to_string(getpid());
    EXPECT_EQ(FindWindowW(Wide(className).c_str(), nullptr), nullptr);
    pid_t first = Spawn(className);
    HWND found = nullptr;
    for (int i = 0; i < 1000 && !found; ++i) {  // the first instance is starting up
        found = FindWindowW(Wide(className).c_str(), nullptr);
        if (!found) Sleep(10);
    }
    ASSERT_NE(found, nullptr);
    EXPECT_TRUE(IsWindow(found));
    EXPECT_EQ(FindWindowW(Wide(className + "x").c_str(), nullptr), nullptr);

    pid_t second = Spawn(className);
    EXPECT_EQ(ExitCode(second), 0);
    EXPECT_EQ(ExitCode(first), 7);
    EXPECT_FALSE(IsWindow(found));
    EXPECT_EQ(FindWindowW(Wide(className).c_str(), nullptr), nullptr);
}

}  // namespace
