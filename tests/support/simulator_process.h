// belvane-sim as a child process with a bench of its own, registered in a given registry
// file, for tests that meet the programs as a user does.
#pragma once

#include <sys/types.h>

#include <string>

namespace testsupport {

class SimulatorProcess {
  public:
    SimulatorProcess(const std::string& program, const std::string& registry,
                     const std::string& bench, const std::string& readyFile);
    ~SimulatorProcess();  // ends it with SIGTERM; it removes its registrations
    SimulatorProcess(const SimulatorProcess&) = delete;
    SimulatorProcess& operator=(const SimulatorProcess&) = delete;

    // Waits until every device is registered.
    bool WaitReady(int timeoutMs = 10000);

  private:
    std::string ready_;
    pid_t pid_ = -1;
};

}  // namespace testsupport
