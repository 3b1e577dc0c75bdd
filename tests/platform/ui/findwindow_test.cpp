#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

#include "platform/base/messages.h"
#include "platform/base/threads.h"
#include "support/test_support.h"

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

// The programs meet in a runtime folder of the test's own, which they inherit.
class FindWindowAcrossProcesses : public ::testing::Test {
  protected:
    testsupport::TempDir runtime;
    testsupport::ScopedEnv env{"XDG_RUNTIME_DIR", runtime.path().c_str()};
};

HWND WaitForWindow(const std::string& className) {
    HWND found = nullptr;
    for (int i = 0; i < 1000 && !found; ++i) {  // the instance is starting up
        found = FindWindowW(Wide(className).c_str(), nullptr);
        if (!found) Sleep(10);
    }
    return found;
}

// A second instance finds the first one's window by its class, brings it forward and
// ends with 0; the first one hears of it (and here ends with 7 for that).
TEST_F(FindWindowAcrossProcesses, SecondInstanceFindsFirstAndBringsItForward) {
    std::string className = "FindTest" + std::to_string(getpid());
    EXPECT_EQ(FindWindowW(Wide(className).c_str(), nullptr), nullptr);
    pid_t first = Spawn(className);
    HWND found = WaitForWindow(className);
    ASSERT_NE(found, nullptr);
    EXPECT_TRUE(IsWindow(found));
    DWORD process = 0;
    EXPECT_NE(GetWindowThreadProcessId(found, &process), 0u);
    EXPECT_EQ(process, static_cast<DWORD>(first));
    EXPECT_EQ(FindWindowW(Wide(className + "x").c_str(), nullptr), nullptr);

    pid_t second = Spawn(className);
    EXPECT_EQ(ExitCode(second), 0);
    EXPECT_EQ(ExitCode(first), 7);
    EXPECT_FALSE(IsWindow(found));
    EXPECT_EQ(FindWindowW(Wide(className).c_str(), nullptr), nullptr);
}

// Instances of different runtime folders never see each other: both run, each found only
// from its own folder.
TEST_F(FindWindowAcrossProcesses, InstancesOfDifferentRuntimeFoldersBothRun) {
    std::string className = "FindTwo" + std::to_string(getpid());
    testsupport::TempDir otherRuntime;
    pid_t first = Spawn(className);
    HWND firstWindow = WaitForWindow(className);
    ASSERT_NE(firstWindow, nullptr);
    pid_t second = -1;
    {
        testsupport::ScopedEnv other("XDG_RUNTIME_DIR", otherRuntime.path().c_str());
        second = Spawn(className);
        HWND secondWindow = WaitForWindow(className);
        ASSERT_NE(secondWindow, nullptr);
        DWORD process = 0;
        GetWindowThreadProcessId(secondWindow, &process);
        EXPECT_EQ(process, static_cast<DWORD>(second)) << "the second one came up in its own";
        EXPECT_TRUE(SetForegroundWindow(secondWindow));
    }
    DWORD process = 0;
    GetWindowThreadProcessId(firstWindow, &process);
    EXPECT_EQ(process, static_cast<DWORD>(first));
    EXPECT_TRUE(SetForegroundWindow(firstWindow));
    EXPECT_EQ(ExitCode(second), 7);
    EXPECT_EQ(ExitCode(first), 7);
}

}  // namespace
