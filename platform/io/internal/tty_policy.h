// Platform-private: which devices the device manager hands out as serial ports. Only a tty
// with hardware behind it or a pseudo-terminal is one, and never the console or a tty that
// some process has as its controlling terminal (a terminal session's pty, a serial console
// with a login on it): taking those would wreck the session or the console.
#pragma once

#include <cstdint>
#include <string>

namespace platform::detail {

enum class TtyVerdict {
    Serial,           // may be used
    NotADevice,       // not a character device (nothing to judge; it cannot be opened as one)
    NotSerial,        // a character device that is no serial port (a virtual terminal, say)
    Console,          // listed in <proc>/consoles
    SessionTerminal,  // some process's controlling terminal
};

// The verdict on a character device by its device number.
TtyVerdict JudgeDevice(std::uint64_t rdev);

// The verdict on the node a path leads to (links followed); NotADevice when there is no
// character device there.
TtyVerdict JudgePath(const std::string& hostPath);

}  // namespace platform::detail
