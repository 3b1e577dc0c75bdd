// The log file: opened once, appended to and never followed through a symbolic link, so a
// log path in a shared folder cannot be turned against another file; readable by its owner
// only, since it names devices and paths.
#include "internal/log_file.h"

#include <fcntl.h>
#include <sys/syscall.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>

namespace platform::detail {
namespace {

int OpenLog() {
    const char* path = std::getenv("BELVANE_LOG");
    if (!path || !*path) return -1;
    return open(path, O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
}

int LogFd() {
    static const int fd = OpenLog();  // kept until exit
    return fd;
}

std::string Stamp() {
    timeval now{};
    gettimeofday(&now, nullptr);
    struct tm tm {};
    gmtime_r(&now.tv_sec, &tm);
    char text[64];
    size_t n = strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &tm);
    std::snprintf(text + n, sizeof text - n, ".%03dZ [%ld] ", static_cast<int>(now.tv_usec / 1000),
                  static_cast<long>(syscall(SYS_gettid)));
    return text;
}

}  // namespace

bool LogFileOpen() {
    return LogFd() >= 0;
}

void WriteLogLine(std::string_view line) {
    int fd = LogFd();
    if (fd < 0) return;
    std::string text = Stamp();
    text.append(line);
    text += '\n';
    size_t done = 0;
    while (done < text.size()) {
        ssize_t n = write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;
        done += static_cast<size_t>(n);
    }
}

}  // namespace platform::detail
