// Processes of this host as /proc describes them. A pid alone does not name a process for
// long: pids are reused, so a process is told apart by its pid and its start time.
#pragma once

#include <string>
#include <vector>

namespace platform {

// The fields of a <proc>/<pid>/stat file after the command name, so that fields[0] is
// field 3 (the state); false when the file cannot be read or understood.
bool ProcStatFields(const std::string& statPath, std::vector<std::string>& fields);

// The start time of a live process of this host (clock ticks after boot), or "" when there
// is no such process.
std::string ProcessStartTime(int pid);

}  // namespace platform
