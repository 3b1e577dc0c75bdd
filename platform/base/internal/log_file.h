// Platform-private: the log file named by BELVANE_LOG (linux/log_file.cpp).
#pragma once

#include <string_view>

namespace platform::detail {

// Opened on first use; false when BELVANE_LOG is unset or the file cannot be opened.
bool LogFileOpen();
// One line with the wall-clock time (UTC, milliseconds) and the thread; one write, so
// lines of different threads never mix.
void WriteLogLine(std::string_view line);

}  // namespace platform::detail
