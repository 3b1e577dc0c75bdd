// The device monitor on Linux: inotify on the /dev root, <dev>/serial and
// <dev>/serial/by-id, where the kernel's device nodes and udev's links come and go. It
// works in private device trees too; where a container's /dev never changes, the device
// manager's look on a failed open still finds what arrived.
#include "internal/device_monitor.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <cstdint>
#include <thread>

namespace platform::detail {

namespace {

// A node and its by-id link arrive a few milliseconds apart: the look waits for this much
// quiet, so that it sees both.
constexpr int kSettleMs = 30;
constexpr int kMaxSettleRounds = 10;  // a /dev that never rests is looked at all the same
constexpr unsigned kEvents = IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO;

void Drain(int fd) {
    alignas(inotify_event) char buffer[4096];
    while (read(fd, buffer, sizeof buffer) > 0) {
    }
}

}  // namespace

struct DeviceMonitor::State {
    std::string devRoot;
    std::function<void()> onChange;
    int inotify = -1;
    int stop = -1;
    std::thread thread;

    void Watch() {
        for (const std::string& dir : {devRoot, devRoot + "/serial", devRoot + "/serial/by-id"})
            inotify_add_watch(inotify, dir.c_str(), kEvents | IN_ONLYDIR);
    }

    // Waits for a change, then for it to settle; false when told to stop.
    bool WaitForChange() {
        pollfd fds[2] = {{stop, POLLIN, 0}, {inotify, POLLIN, 0}};
        if (poll(fds, 2, -1) < 0) return true;
        for (int round = 0; round < kMaxSettleRounds; ++round) {
            if (fds[0].revents) return false;
            Drain(inotify);
            fds[0].revents = fds[1].revents = 0;
            if (poll(fds, 2, kSettleMs) <= 0) break;
        }
        return !fds[0].revents;
    }

    // Folders that were missing (serial/by-id comes with the first USB device) are watched
    // once they are there.
    void Run() {
        while (WaitForChange()) {
            onChange();
            Watch();
        }
    }
};

DeviceMonitor::DeviceMonitor(const std::string& devRoot, std::function<void()> onChange)
    : state_(std::make_unique<State>()) {
    state_->devRoot = devRoot;
    state_->onChange = std::move(onChange);
    state_->inotify = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    state_->stop = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (state_->inotify < 0 || state_->stop < 0) return;
    state_->Watch();
    state_->thread = std::thread([s = state_.get()] { s->Run(); });
}

DeviceMonitor::~DeviceMonitor() {
    if (state_->thread.joinable()) {
        std::uint64_t one = 1;
        if (write(state_->stop, &one, sizeof one) != sizeof one) {
        }
        state_->thread.join();
    }
    if (state_->inotify >= 0) close(state_->inotify);
    if (state_->stop >= 0) close(state_->stop);
}

bool DeviceMonitor::Watching() const {
    return state_->thread.joinable();
}

}  // namespace platform::detail
