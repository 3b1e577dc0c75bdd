#include "support/test_support.h"

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <stdexcept>

#include "platform/io/linux/baud_rates.h"

namespace testsupport {

TempDir::TempDir() {
    const char* base = getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/belvane-test-XXXXXX";
    if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
}

TempDir::~TempDir() {
    std::error_code ec;
    std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ec);
    std::filesystem::remove_all(path_, ec);
}

ScopedEnv::ScopedEnv(const char* name, const char* value) : name_(name) {
    const char* old = getenv(name);
    had_ = old != nullptr;
    if (had_) old_ = old;
    if (value)
        setenv(name, value, 1);
    else
        unsetenv(name);
}

ScopedEnv::~ScopedEnv() {
    if (had_)
        setenv(name_.c_str(), old_.c_str(), 1);
    else
        unsetenv(name_.c_str());
}

PtyPair::PtyPair() {
    master_ = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0)
        throw std::runtime_error("posix_openpt failed");
    char name[128];
    if (ptsname_r(master_, name, sizeof name) != 0) throw std::runtime_error("ptsname failed");
    slave_path_ = name;
    // Raw on the slave side so that the bytes pass unchanged, and keep one slave descriptor
    // open so that the pair does not hang up between the opens of the code under test.
    keep_slave_ = open(name, O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (keep_slave_ >= 0) {
        termios t{};
        if (tcgetattr(keep_slave_, &t) == 0) {
            cfmakeraw(&t);
            tcsetattr(keep_slave_, TCSANOW, &t);
        }
    }
}

PtyPair::~PtyPair() {
    if (keep_slave_ >= 0) close(keep_slave_);
    if (master_ >= 0) close(master_);
}

void PtyPair::Write(const std::string& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = write(master_, bytes.data() + done, bytes.size() - done);
        if (n > 0) {
            done += static_cast<size_t>(n);
        } else if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
            pollfd p{master_, POLLOUT, 0};
            poll(&p, 1, 100);
        } else {
            throw std::runtime_error("write to pty master failed");
        }
    }
}

std::string PtyPair::Read(size_t wantBytes, int timeoutMs) {
    std::string out;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (out.size() < wantBytes) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                        deadline - std::chrono::steady_clock::now())
                        .count();
        if (left <= 0) break;
        pollfd p{master_, POLLIN, 0};
        if (poll(&p, 1, static_cast<int>(left)) <= 0) continue;
        char buf[4096];
        ssize_t n = read(master_, buf, sizeof buf);
        if (n > 0)
            out.append(buf, static_cast<size_t>(n));
        else if (n < 0 && errno != EAGAIN && errno != EINTR)
            break;
    }
    return out;
}

unsigned PtyPair::SlaveBaud() const {
    termios t{};
    // The master shares the line settings with the slave.
    if (tcgetattr(master_, &t) != 0) return 0;
    return platform::detail::BaudOfTermiosSpeed(cfgetospeed(&t));
}

void PtyPair::CloseMaster() {
    if (keep_slave_ >= 0) {
        close(keep_slave_);
        keep_slave_ = -1;
    }
    if (master_ >= 0) {
        close(master_);
        master_ = -1;
    }
}

}  // namespace testsupport
