// Helpers for driving the port scan against devices on pseudo-terminals.
#pragma once

#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "platform/base/messages.h"
#include "support/test_support.h"

namespace probetest {

// A temporary registry and empty device roots, so that the scan sees only the ports a test
// maps and never a serial device of the host.
class ScanEnvironment {
  public:
    ScanEnvironment();
    ~ScanEnvironment();
    ScanEnvironment(const ScanEnvironment&) = delete;
    ScanEnvironment& operator=(const ScanEnvironment&) = delete;

    // Maps COM<index> to a fresh pseudo-terminal through a driver key.
    testsupport::PtyPair& AddPort(int index);
    std::string registryPath() const { return dir_.file("registry.reg"); }

  private:
    testsupport::TempDir dir_;
    testsupport::ScopedEnv registry_;
    testsupport::ScopedEnv sysfs_;
    testsupport::ScopedEnv dev_;
    testsupport::ScopedEnv proc_;
    std::map<int, std::unique_ptr<testsupport::PtyPair>> ports_;
};

// The far end of a serial line: every few milliseconds writes its line when the line is set
// to its rate (0: any rate), and noise that matches no signature otherwise. Bytes that do
// not fit the terminal's buffer are dropped, as on a line nobody listens to.
class Talker {
  public:
    Talker(testsupport::PtyPair& pty, std::string line, unsigned baud);
    ~Talker();
    Talker(const Talker&) = delete;
    Talker& operator=(const Talker&) = delete;
    void Stop();

  private:
    void Run();
    testsupport::PtyPair& pty_;
    std::string line_;
    unsigned baud_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

// Writes bytes to the master without waiting; returns how many went out.
size_t WriteSome(testsupport::PtyPair& pty, const std::string& bytes);

using Notification = std::pair<WPARAM, LPARAM>;

// A window on the calling thread that collects the scan's notifications.
class NotifyWindow {
  public:
    NotifyWindow();
    ~NotifyWindow();
    NotifyWindow(const NotifyWindow&) = delete;
    NotifyWindow& operator=(const NotifyWindow&) = delete;
    HWND hwnd() const { return hwnd_; }
    // Handles what is queued for this thread (due timers included) and returns the
    // notifications collected so far.
    std::vector<Notification> Pump();

  private:
    HWND hwnd_ = nullptr;
};

// Polls the condition until it holds or the generous limit passes; a correct program meets
// it long before.
bool WaitUntil(const std::function<bool()>& condition, int limitMs = 10000);

inline const std::string kGpsLine =
    "$GPRMC,123519,A,4807.038,N,01131.000,E,022.4,084.4,230394,003.1,W*6A\r\n";
inline const std::string kRadarBytes = std::string("\xAA\x40\x11\x22", 4);

}  // namespace probetest
