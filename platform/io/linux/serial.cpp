// Serial devices on host ttys. A port is one SerialPort object shared by the handle table
// and every call in progress; closing the handle wakes every wait on it and releases the
// exclusive lock at once, and the descriptor itself is closed when the last call ends, so
// no call ever uses a descriptor number that was reused meanwhile.
//
// Every blocking wait goes through WaitFds on the tty plus the port's own wake descriptors
// (one for SetCommMask, one for close), so thread termination and APCs reach it too.
#include "platform/io/serial.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <memory>
#include <mutex>

#include "internal/device_open.h"
#include "internal/open_failure.h"
#include "internal/tty_policy.h"
#include "linux/serial_termios.h"
#include "platform/base/detail/handle_table.h"
#include "platform/base/linux/wait.h"

namespace platform::detail {
namespace {

// Modem lines are not pollable; a wait for CTS, DSR or ring looks at them this often.
constexpr int kModemPollMs = 50;
constexpr DWORD kModemEvents = EV_CTS | EV_DSR | EV_RING;
constexpr DWORD kAllPurge = PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR;

void Drain(int fd) {
    uint64_t value;
    while (read(fd, &value, sizeof value) > 0) {
    }
}

void Signal(int fd) {
    uint64_t one = 1;
    ssize_t n = write(fd, &one, sizeof one);
    (void)n;  // a full counter is still a signal
}

class SerialPort : public KernelObject {
  public:
    SerialPort(int fd, int maskWake, int closeWake, const termios& before)
        : fd_(fd), maskWake_(maskWake), closeWake_(closeWake), before_(before) {}
    ~SerialPort() override {
        close(fd_);
        close(maskWake_);
        close(closeWake_);
    }
    SerialPort(const SerialPort&) = delete;
    SerialPort& operator=(const SerialPort&) = delete;

    void Close() override {
        if (closed_.exchange(true)) return;
        // The line goes back to the settings it had, so that whoever uses the device next
        // (a terminal on it, say) finds it as it was.
        tcsetattr(fd_, TCSANOW, &before_);
        // Others may open the device at once, even while a call here is still unwinding.
        ioctl(fd_, TIOCNXCL);
        flock(fd_, LOCK_UN);
        Signal(closeWake_);
    }

    bool Read(void* buffer, DWORD toRead, DWORD* read) override;
    bool Write(const void* buffer, DWORD toWrite, DWORD* written) override;

    bool GetState(DCB& dcb);
    bool SetState(const DCB& dcb);
    bool WaitEvent(DWORD& events);
    bool SetMask(DWORD mask);
    DWORD Mask() {
        std::lock_guard<std::mutex> lock(mutex_);
        return mask_;
    }
    COMMTIMEOUTS Timeouts() {
        std::lock_guard<std::mutex> lock(mutex_);
        return timeouts_;
    }
    void SetTimeouts(const COMMTIMEOUTS& t) {
        std::lock_guard<std::mutex> lock(mutex_);
        timeouts_ = t;
    }
    bool Status(COMSTAT& status);
    bool Purge(DWORD flags);
    bool ModemStatus(DWORD& status);

  private:
    // Fails with the error of a closed or vanished port; true when the port is usable.
    bool Usable();
    // A poll said the tty hung up, or a read found it gone.
    bool HangUp();
    int ModemLines();  // TIOCM_* bits, or -1 where the tty has none
    DWORD ModemEventsSince(int before, int now, DWORD mask);
    // Waits until fd is ready for events, a close, or timeoutMs (-1: none). Returns 1
    // ready, 0 timeout, -1 failure (last error set).
    int WaitReady(short events, int timeoutMs);

    const int fd_;
    const int maskWake_;
    const int closeWake_;
    const termios before_;  // the line settings at open
    std::atomic<bool> closed_{false};
    std::atomic<bool> hungUp_{false};
    std::mutex mutex_;
    DWORD mask_ = 0;
    unsigned maskGeneration_ = 0;
    bool waiting_ = false;
    COMMTIMEOUTS timeouts_{};
};

bool SerialPort::Usable() {
    if (closed_) {
        SetLastError(ERROR_INVALID_HANDLE);
        return false;
    }
    if (hungUp_) {
        SetLastError(ERROR_DEVICE_NOT_CONNECTED);
        return false;
    }
    return true;
}

bool SerialPort::HangUp() {
    hungUp_ = true;
    SetLastError(ERROR_DEVICE_NOT_CONNECTED);
    return false;
}

int SerialPort::ModemLines() {
    int lines = 0;
    return ioctl(fd_, TIOCMGET, &lines) == 0 ? lines : -1;
}

DWORD SerialPort::ModemEventsSince(int before, int now, DWORD mask) {
    if (before < 0 || now < 0) return 0;
    DWORD events = 0;
    int changed = before ^ now;
    if ((changed & TIOCM_CTS) && (mask & EV_CTS)) events |= EV_CTS;
    if ((changed & TIOCM_DSR) && (mask & EV_DSR)) events |= EV_DSR;
    if ((changed & TIOCM_RNG) && (mask & EV_RING)) events |= EV_RING;
    return events;
}

int SerialPort::WaitReady(short events, int timeoutMs) {
    pollfd fds[2] = {{fd_, events, 0}, {closeWake_, POLLIN, 0}};
    WaitResult result = WaitFds(fds, 2, timeoutMs, false);
    if (closed_) return Usable() ? 0 : -1;
    if (result == WaitResult::Timeout) return 0;
    if (fds[0].revents & (POLLHUP | POLLERR | POLLNVAL)) return HangUp() ? 0 : -1;
    return 1;
}

// COMMTIMEOUTS as Windows documents them: MAXDWORD interval with zero totals returns at
// once with what is queued; MAXDWORD interval and multiplier with a constant waits up to
// the constant for the first byte and then returns; otherwise the total timeout bounds the
// whole read and the interval timeout the gap between bytes (0 means none for both).
bool SerialPort::Read(void* buffer, DWORD toRead, DWORD* read) {
    DWORD done = 0;
    if (read) *read = 0;
    if (!Usable()) return false;
    COMMTIMEOUTS t = Timeouts();
    bool immediate = t.ReadIntervalTimeout == MAXDWORD && t.ReadTotalTimeoutMultiplier == 0 &&
                     t.ReadTotalTimeoutConstant == 0;
    bool firstByteOnly = t.ReadIntervalTimeout == MAXDWORD &&
                         t.ReadTotalTimeoutMultiplier == MAXDWORD &&
                         t.ReadTotalTimeoutConstant != 0 && t.ReadTotalTimeoutConstant != MAXDWORD;
    long long start = MonotonicMs();
    long long total = -1;  // no total limit
    if (firstByteOnly) {
        total = t.ReadTotalTimeoutConstant;
    } else if (!immediate && (t.ReadTotalTimeoutMultiplier || t.ReadTotalTimeoutConstant)) {
        total = static_cast<long long>(t.ReadTotalTimeoutMultiplier) * toRead +
                t.ReadTotalTimeoutConstant;
    }
    long long lastByte = 0;
    auto* out = static_cast<unsigned char*>(buffer);
    while (done < toRead) {
        ssize_t n = ::read(fd_, out + done, toRead - done);
        if (n > 0) {
            done += static_cast<DWORD>(n);
            lastByte = MonotonicMs();
            if (firstByteOnly) break;
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n == 0 || errno != EAGAIN) {  // a read of 0 on a non-blocking tty: hung up
            HangUp();
            if (done) break;  // what arrived before still counts; the next call fails
            return false;
        }
        if (immediate || (done && t.ReadIntervalTimeout == MAXDWORD)) break;
        long long now = MonotonicMs();
        bool limited = total >= 0;
        long long limit = limited ? start + total - now : 0;
        if (done && t.ReadIntervalTimeout && t.ReadIntervalTimeout != MAXDWORD) {
            long long gap = lastByte + t.ReadIntervalTimeout - now;
            limit = limited ? std::min(limit, gap) : gap;
            limited = true;
        }
        if (limited && limit <= 0) break;
        int ready = WaitReady(POLLIN, limited ? static_cast<int>(limit) : -1);
        if (ready < 0) {
            if (done && !closed_) break;
            if (read) *read = done;
            return false;
        }
    }
    if (read) *read = done;
    return true;
}

bool SerialPort::Write(const void* buffer, DWORD toWrite, DWORD* written) {
    DWORD done = 0;
    if (written) *written = 0;
    if (!Usable()) return false;
    COMMTIMEOUTS t = Timeouts();
    long long total = -1;
    if (t.WriteTotalTimeoutMultiplier || t.WriteTotalTimeoutConstant)
        total = static_cast<long long>(t.WriteTotalTimeoutMultiplier) * toWrite +
                t.WriteTotalTimeoutConstant;
    long long start = MonotonicMs();
    const auto* in = static_cast<const unsigned char*>(buffer);
    while (done < toWrite) {
        ssize_t n = ::write(fd_, in + done, toWrite - done);
        if (n > 0) {
            done += static_cast<DWORD>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno != EAGAIN) {
            if (written) *written = done;
            return HangUp();
        }
        long long left = total < 0 ? -1 : start + total - MonotonicMs();
        if (total >= 0 && left <= 0) break;
        int ready = WaitReady(POLLOUT, static_cast<int>(left));
        if (ready < 0) {
            if (written) *written = done;
            return false;
        }
    }
    if (written) *written = done;
    return true;
}

bool SerialPort::GetState(DCB& dcb) {
    if (!Usable()) return false;
    termios t;
    if (tcgetattr(fd_, &t) != 0) return HangUp();
    dcb = DcbOfTermios(t, ModemLines());
    return true;
}

bool SerialPort::SetState(const DCB& dcb) {
    if (!Usable()) return false;
    termios old;
    if (tcgetattr(fd_, &old) != 0) return HangUp();
    termios next = old;
    if (!ApplyDcb(dcb, next)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    // tcsetattr succeeds when any part was taken; a rate the driver refused shows only
    // when the settings are read back.
    // A pseudo-terminal keeps 8 data bits and no parity whatever it is told, and refuses
    // (EINVAL) a request whose only changes are those; what decides is the rate read back.
    termios check;
    const bool taken = tcsetattr(fd_, TCSANOW, &next) == 0 || errno == EINVAL;
    if (!taken || tcgetattr(fd_, &check) != 0 || cfgetospeed(&check) != cfgetospeed(&next)) {
        tcsetattr(fd_, TCSANOW, &old);
        SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    int set = 0, clear = 0;
    ModemLinesOfDcb(dcb, set, clear);
    if (ModemLines() >= 0) {  // ttys without modem lines (pseudo-terminals) skip this
        ioctl(fd_, TIOCMBIS, &set);
        ioctl(fd_, TIOCMBIC, &clear);
    }
    return true;
}

// EV_RXCHAR is reported while bytes are queued (not only for bytes that arrive during
// the wait), so a reader that left bytes behind is woken again instead of stalling.
bool SerialPort::WaitEvent(DWORD& events) {
    events = 0;
    if (!Usable()) return false;
    unsigned generation;
    DWORD mask;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (waiting_) {  // one pending wait per port, as on Windows
            SetLastError(ERROR_INVALID_PARAMETER);
            return false;
        }
        if (mask_ == 0) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return false;
        }
        waiting_ = true;
        Drain(maskWake_);
        generation = maskGeneration_;
        mask = mask_;
    }
    struct Done {
        SerialPort* port;
        ~Done() {
            std::lock_guard<std::mutex> lock(port->mutex_);
            port->waiting_ = false;
        }
    } done{this};
    int lines = (mask & kModemEvents) ? ModemLines() : -1;
    for (;;) {
        if (mask & EV_RXCHAR) {
            int queued = 0;
            if (ioctl(fd_, FIONREAD, &queued) == 0 && queued > 0) {
                events = EV_RXCHAR;
                return true;
            }
        }
        pollfd fds[3] = {{fd_, static_cast<short>((mask & EV_RXCHAR) ? POLLIN : 0), 0},
                         {maskWake_, POLLIN, 0},
                         {closeWake_, POLLIN, 0}};
        WaitFds(fds, 3, lines >= 0 ? kModemPollMs : -1, false);
        if (!Usable()) return false;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (maskGeneration_ != generation) return true;  // SetCommMask: empty mask
        }
        if (fds[0].revents & (POLLHUP | POLLERR | POLLNVAL)) return HangUp();
        if (lines >= 0) {
            int now = ModemLines();
            events = ModemEventsSince(lines, now, mask);
            if (events) return true;
            lines = now;
        }
    }
}

bool SerialPort::SetMask(DWORD mask) {
    if (closed_) return Usable();
    std::lock_guard<std::mutex> lock(mutex_);
    mask_ = mask;
    ++maskGeneration_;
    Signal(maskWake_);
    return true;
}

bool SerialPort::Status(COMSTAT& status) {
    if (!Usable()) return false;
    pollfd p{fd_, 0, 0};
    if (poll(&p, 1, 0) == 1 && (p.revents & (POLLHUP | POLLERR | POLLNVAL))) return HangUp();
    int in = 0, out = 0;
    if (ioctl(fd_, FIONREAD, &in) != 0) return HangUp();
    if (ioctl(fd_, TIOCOUTQ, &out) != 0) out = 0;
    status = COMSTAT{};
    status.cbInQue = static_cast<DWORD>(in);
    status.cbOutQue = static_cast<DWORD>(out);
    return true;
}

bool SerialPort::Purge(DWORD flags) {
    if (flags & ~kAllPurge) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    if (!Usable()) return false;
    if ((flags & (PURGE_RXABORT | PURGE_RXCLEAR)) && tcflush(fd_, TCIFLUSH) != 0) return HangUp();
    if ((flags & (PURGE_TXABORT | PURGE_TXCLEAR)) && tcflush(fd_, TCOFLUSH) != 0) return HangUp();
    return true;
}

bool SerialPort::ModemStatus(DWORD& status) {
    if (!Usable()) return false;
    int lines = ModemLines();
    status = 0;  // a tty without modem lines shows them all off
    if (lines < 0) return true;
    if (lines & TIOCM_CTS) status |= MS_CTS_ON;
    if (lines & TIOCM_DSR) status |= MS_DSR_ON;
    if (lines & TIOCM_RNG) status |= MS_RING_ON;
    if (lines & TIOCM_CAR) status |= MS_RLSD_ON;
    return true;
}

std::shared_ptr<SerialPort> PortOf(HANDLE handle) {
    auto port = LookupHandleAs<SerialPort>(handle);
    if (!port) SetLastError(ERROR_INVALID_HANDLE);
    return port;
}

DWORD ErrorOfOpen(int error) {
    switch (error) {
        case EBUSY:
        case EWOULDBLOCK:
            return ERROR_SHARING_VIOLATION;
        case EACCES:
        case EPERM:
            return ERROR_ACCESS_DENIED;
        case ENOENT:
            return ERROR_FILE_NOT_FOUND;
        default:
            return ERROR_DEV_NOT_EXIST;
    }
}

// Only serial devices are opened: the console and a session's terminal are refused
// (ERROR_ACCESS_DENIED), anything else that is no serial port too (ERROR_NOT_SUPPORTED).
// Judged before the open, which may already raise a modem's lines.
bool MayOpen(const std::string& path, struct stat& st) {
    if (stat(path.c_str(), &st) != 0) {
        SetLastError(ErrorOfOpen(errno));
        return false;
    }
    TtyVerdict verdict = S_ISCHR(st.st_mode) ? JudgeDevice(st.st_rdev) : TtyVerdict::NotADevice;
    if (verdict == TtyVerdict::Serial) return true;
    bool taken = verdict == TtyVerdict::Console || verdict == TtyVerdict::SessionTerminal;
    SetLastError(taken ? ERROR_ACCESS_DENIED : ERROR_NOT_SUPPORTED);
    return false;
}

}  // namespace

// Opens the tty raw, without controlling terminal, non-blocking and exclusive. TIOCEXCL
// stops other openers except root; the flock stops root and this process too. The line
// settings it had come back when the handle is closed.
HANDLE OpenTty(const std::string& path, std::basic_string_view<WCHAR> name) {
    struct stat judged, opened;
    if (!MayOpen(path, judged)) return INVALID_HANDLE_VALUE;
    int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        DWORD error = ErrorOfOpen(errno);
        NoteOpenFailure(name, path, errno);
        SetLastError(error);
        return INVALID_HANDLE_VALUE;
    }
    if (fstat(fd, &opened) != 0 || opened.st_rdev != judged.st_rdev ||
        !S_ISCHR(opened.st_mode)) {  // the path was changed meanwhile
        close(fd);
        SetLastError(ERROR_ACCESS_DENIED);
        return INVALID_HANDLE_VALUE;
    }
    termios t;
    if (flock(fd, LOCK_EX | LOCK_NB) != 0 || tcgetattr(fd, &t) != 0) {
        DWORD error = errno == EWOULDBLOCK ? ERROR_SHARING_VIOLATION : ERROR_NOT_SUPPORTED;
        int reason = errno;
        close(fd);
        NoteOpenFailure(name, path, reason);
        SetLastError(error);
        return INVALID_HANDLE_VALUE;
    }
    ioctl(fd, TIOCEXCL);
    const termios before = t;
    cfmakeraw(&t);
    t.c_cflag |= CREAD | CLOCAL;
    // VMIN 1 with O_NONBLOCK: no data reads as EAGAIN, so a read of 0 means hang-up.
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 0;
    tcsetattr(fd, TCSANOW, &t);
    int maskWake = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    int closeWake = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (maskWake < 0 || closeWake < 0) {
        if (maskWake >= 0) close(maskWake);
        if (closeWake >= 0) close(closeWake);
        close(fd);
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return INVALID_HANDLE_VALUE;
    }
    return InsertHandle(std::make_shared<SerialPort>(fd, maskWake, closeWake, before));
}

}  // namespace platform::detail

using platform::detail::PortOf;
using platform::detail::SerialPort;

namespace {

// The common shape of the calls that take a port and one required argument: an unknown
// handle fails as it is, a missing argument with ERROR_INVALID_PARAMETER.
template <class T, class Operation>
BOOL WithPort(HANDLE port, T* argument, Operation operation) {
    auto p = PortOf(port);
    if (!p) return FALSE;
    if (!argument) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    return operation(*p, *argument) ? TRUE : FALSE;
}

}  // namespace

BOOL GetCommState(HANDLE port, LPDCB dcb) {
    return WithPort(port, dcb, [](SerialPort& p, DCB& d) { return p.GetState(d); });
}

BOOL SetCommState(HANDLE port, LPDCB dcb) {
    return WithPort(port, dcb, [](SerialPort& p, DCB& d) { return p.SetState(d); });
}

BOOL GetCommTimeouts(HANDLE port, LPCOMMTIMEOUTS timeouts) {
    return WithPort(port, timeouts, [](SerialPort& p, COMMTIMEOUTS& t) {
        t = p.Timeouts();
        return true;
    });
}

BOOL SetCommTimeouts(HANDLE port, LPCOMMTIMEOUTS timeouts) {
    return WithPort(port, timeouts, [](SerialPort& p, COMMTIMEOUTS& t) {
        p.SetTimeouts(t);
        return true;
    });
}

BOOL SetCommMask(HANDLE port, DWORD mask) {
    auto p = PortOf(port);
    return p && p->SetMask(mask);
}

BOOL GetCommMask(HANDLE port, LPDWORD mask) {
    return WithPort(port, mask, [](SerialPort& p, DWORD& m) {
        m = p.Mask();
        return true;
    });
}

// Only the synchronous form: an OVERLAPPED structure is refused.
BOOL WaitCommEvent(HANDLE port, LPDWORD eventMask, LPOVERLAPPED overlapped) {
    auto p = PortOf(port);
    if (!p) return FALSE;
    if (!eventMask || overlapped) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    return p->WaitEvent(*eventMask);
}

// Line errors (parity, framing, overrun) are not collected: errors is always 0.
BOOL ClearCommError(HANDLE port, LPDWORD errors, LPCOMSTAT status) {
    auto p = PortOf(port);
    if (!p) return FALSE;
    COMSTAT s{};
    if (!p->Status(s)) return FALSE;
    if (errors) *errors = 0;
    if (status) *status = s;
    return TRUE;
}

BOOL PurgeComm(HANDLE port, DWORD flags) {
    auto p = PortOf(port);
    return p && p->Purge(flags);
}

BOOL GetCommModemStatus(HANDLE port, LPDWORD modemStatus) {
    return WithPort(port, modemStatus, [](SerialPort& p, DWORD& m) { return p.ModemStatus(m); });
}
