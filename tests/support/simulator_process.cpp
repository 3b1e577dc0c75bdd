#include "support/simulator_process.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <chrono>
#include <filesystem>
#include <thread>
#include <vector>

#include "support/test_support.h"

extern char** environ;

namespace testsupport {

SimulatorProcess::SimulatorProcess(const std::string& program, const std::string& registry,
                                   const std::string& bench, const std::string& readyFile)
    : ready_(readyFile) {
    std::vector<std::string> args{program,        "--registry", registry,
                                  "--ready-file", readyFile,    bench};
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    // Its device lines are read from the ready file; its standard output stays quiet.
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    if (posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
}

SimulatorProcess::~SimulatorProcess() {
    if (pid_ <= 0) return;
    kill(pid_, SIGTERM);
    int status = 0;
    waitpid(pid_, &status, 0);
}

bool SimulatorProcess::WaitReady(int timeoutMs) {
    for (int waited = 0; waited < timeoutMs && pid_ > 0; waited += 50) {
        if (std::filesystem::exists(ready_) &&
            ReadFileBytes(ready_).find("ready") != std::string::npos)
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
}

}  // namespace testsupport
