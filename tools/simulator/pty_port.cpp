#include "tools/simulator/pty_port.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace sim {

namespace {

// More unread bytes than this means no one is listening: a real line keeps no backlog, and
// old bytes must not reach a listener that opens the port later at other settings.
constexpr int kMaxBacklog = 1024;

bool ProbeFramingVisible(const PtyPort& port) {
    termios saved{};
    if (tcgetattr(port.keepSlave, &saved) != 0) return false;
    termios probe = saved;
    ApplySettings(probe, LineSettings{SpeedToBaud(cfgetospeed(&saved)), 7, 'E', 1});
    bool visible = false;
    if (tcsetattr(port.keepSlave, TCSANOW, &probe) == 0) {
        termios seen{};
        if (tcgetattr(port.master, &seen) == 0) {
            LineSettings line = SettingsFromTermios(seen);
            visible = line.byteSize == 7 && line.parity == 'E';
        }
    }
    tcsetattr(port.keepSlave, TCSANOW, &saved);
    return visible;
}

void WriteDropping(int fd, const std::string& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
        if (n > 0)
            done += static_cast<std::size_t>(n);
        else if (n < 0 && errno == EINTR)
            continue;
        else
            return;  // the listener's buffer is full: the rest is lost, as on a real line
    }
}

void DrainMaster(int fd) {
    char buffer[512];
    while (read(fd, buffer, sizeof buffer) > 0) {
    }
}

}  // namespace

bool OpenPtyPort(PtyPort& port, std::string& error) {
    port = PtyPort{};
    port.master = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    char name[128] = {};
    if (port.master < 0 || grantpt(port.master) != 0 || unlockpt(port.master) != 0 ||
        ptsname_r(port.master, name, sizeof name) != 0) {
        error = std::string("cannot create a pseudo-terminal: ") + std::strerror(errno);
        ClosePtyPort(port);
        return false;
    }
    port.slavePath = name;
    port.keepSlave = open(name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    termios raw{};
    if (port.keepSlave < 0 || tcgetattr(port.keepSlave, &raw) != 0) {
        error = "cannot open " + port.slavePath + ": " + std::strerror(errno);
        ClosePtyPort(port);
        return false;
    }
    cfmakeraw(&raw);
    raw.c_cflag |= CLOCAL | CREAD;
    tcsetattr(port.keepSlave, TCSANOW, &raw);
    port.framingVisible = ProbeFramingVisible(port);
    return true;
}

void ClosePtyPort(PtyPort& port) {
    if (port.keepSlave >= 0) close(port.keepSlave);
    if (port.master >= 0) close(port.master);
    port.keepSlave = port.master = -1;
}

std::optional<LineSettings> ListenerSettings(const PtyPort& port) {
    // On Linux the master end reports the termios of the slave end.
    termios t{};
    if (tcgetattr(port.master, &t) != 0) return std::nullopt;
    return SettingsFromTermios(t);
}

void ServicePort(PtyPort& port, Emulator& emulator, long long nowMs) {
    DrainMaster(port.master);
    std::optional<LineSettings> seen = ListenerSettings(port);
    if (!seen) return;
    bool changed = !port.lastSeen || !SettingsMatch(*port.lastSeen, *seen, true);
    if (changed && port.lastSeen) tcflush(port.keepSlave, TCIFLUSH);
    port.lastSeen = seen;
    int unread = 0;
    if (ioctl(port.keepSlave, TIOCINQ, &unread) == 0 && unread > kMaxBacklog)
        tcflush(port.keepSlave, TCIFLUSH);
    WriteDropping(port.master, StepEmulator(emulator, nowMs, *seen, port.framingVisible));
}

}  // namespace sim
