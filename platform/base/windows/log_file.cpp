// The BELVANE_LOG file is not written on Windows yet: logging is off there.
#include "internal/log_file.h"

namespace platform::detail {

bool LogFileOpen() {
    return false;
}

void WriteLogLine(std::string_view) {}

}  // namespace platform::detail
