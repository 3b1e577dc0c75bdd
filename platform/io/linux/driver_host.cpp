// The helper process of a loaded driver. The helper (belvane-devhost) is started with
// posix_spawn, never forked from this multithreaded process, and is given the checked
// library as descriptor 4 and one end of a socket pair as descriptor 3. Over the socket it
// receives Init's arguments, answers with Init's result, and then waits; a byte or the end
// of the socket makes it call Deinit and end.
#include "internal/driver_host.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>

#include "platform/base/account.h"

extern char** environ;

namespace platform::detail {
namespace {

constexpr int kSocketFd = 3;   // the helper's end of the socket
constexpr int kLibraryFd = 4;  // the library to load
constexpr int kHighFd = 10;    // parent descriptors are moved above the helper's

struct InitReply {
    std::uint32_t error;
    std::uint32_t context;
};

long long NowMs() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec * 1000LL + ts.tv_nsec / 1000000;
}

// Reads exactly size bytes before the deadline: 1 done, 0 end of socket, -1 time is up.
int ReadBefore(int fd, void* buffer, size_t size, long long deadline) {
    auto* out = static_cast<char*>(buffer);
    size_t done = 0;
    while (done < size) {
        long long left = deadline - NowMs();
        if (left <= 0) return -1;
        pollfd p{fd, POLLIN, 0};
        int ready = poll(&p, 1, static_cast<int>(left));
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0) return -1;
        ssize_t n = recv(fd, out + done, size - done, 0);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return 0;
        done += static_cast<size_t>(n);
    }
    return 1;
}

bool SendAll(int fd, const void* data, size_t size) {
    const auto* in = static_cast<const char*>(data);
    while (size > 0) {
        ssize_t n = send(fd, in, size, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        in += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

int MoveHigh(int fd) {
    if (fd < 0 || fd >= kHighFd) return fd;
    int high = fcntl(fd, F_DUPFD_CLOEXEC, kHighFd);
    close(fd);
    return high;
}

std::string Folder(const std::string& path) {
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

// The helper: the one BELVANE_DEVHOST names, else the one beside the running program, else
// the one of the build. Opened as trusted code, like the drivers it loads.
int OpenHelper() {
    const char* named = std::getenv("BELVANE_DEVHOST");
    if (named && *named) return OpenTrustedFile(named);
    char self[4096];
    ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    if (n > 0) {
        std::string beside = Folder(std::string(self, static_cast<size_t>(n))) + "belvane-devhost";
        if (access(beside.c_str(), F_OK) == 0) return OpenTrustedFile(beside);
    }
    return OpenTrustedFile(BELVANE_DEVHOST_PATH);
}

// Starts the helper on the checked files; false when it cannot be started.
bool Spawn(int helper, int library, int socket, const std::string& prefix, int& pid) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, socket, kSocketFd);
    posix_spawn_file_actions_adddup2(&actions, library, kLibraryFd);
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    sigset_t none, all;
    sigemptyset(&none);
    sigfillset(&all);
    posix_spawnattr_setsigmask(&attr, &none);
    posix_spawnattr_setsigdefault(&attr, &all);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    std::string exe = "/proc/self/fd/" + std::to_string(helper);
    std::string name = "belvane-devhost";
    char* argv[] = {name.data(), const_cast<char*>(prefix.c_str()), nullptr};
    pid_t child = -1;
    int error = posix_spawn(&child, exe.c_str(), &actions, &attr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
    pid = child;
    return error == 0;
}

// Waits for the helper's end; ends it by force when it is not over by the deadline.
int Reap(int pid, long long deadline) {
    int status = 0;
    for (;;) {
        pid_t done = waitpid(pid, &status, WNOHANG);
        if (done == pid || (done < 0 && errno != EINTR)) return status;
        if (NowMs() >= deadline) break;
        usleep(10000);
    }
    kill(pid, SIGKILL);
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return status;
}

// Init did not answer: the helper died in it or is still in it.
bool NoAnswer(const DriverCall& call, DriverHost& host, int got) {
    if (got < 0) {
        platform::Note(call.libraryPath + " did not return from " + call.prefix + "_Init in " +
                       std::to_string(kDriverWaitMs / 1000) + " s; not loaded");
        kill(host.pid, SIGKILL);
    }
    int status = Reap(host.pid, NowMs() + kDriverWaitMs);
    if (got == 0 && WIFSIGNALED(status))
        platform::Note(call.libraryPath + " crashed in " + call.prefix + "_Init (signal " +
                       std::to_string(WTERMSIG(status)) + "); not loaded");
    close(host.socket);
    host = DriverHost{};
    SetLastError(got < 0 ? ERROR_TIMEOUT : ERROR_GEN_FAILURE);
    return false;
}

// Sends Init's arguments and waits for its answer.
bool CallInit(DriverCall& call, DriverHost& host) {
    std::uint32_t header[2] = {call.clientInfo, static_cast<std::uint32_t>(call.activeKey.size())};
    InitReply reply{};
    int got = SendAll(host.socket, header, sizeof header) &&
                      SendAll(host.socket, call.activeKey.data(), call.activeKey.size() * 2)
                  ? ReadBefore(host.socket, &reply, sizeof reply, NowMs() + kDriverWaitMs)
                  : 0;
    if (got != 1) return NoAnswer(call, host, got);
    if (reply.error != ERROR_SUCCESS) {
        Reap(host.pid, NowMs() + kDriverWaitMs);
        close(host.socket);
        host = DriverHost{};
        SetLastError(reply.error);
        return false;
    }
    call.context = reply.context;
    return true;
}

}  // namespace

bool StartDriver(DriverCall& call, DriverHost& host) {
    int library = MoveHigh(OpenTrustedFile(call.libraryPath));
    if (library < 0) return false;
    int helper = MoveHigh(OpenHelper());
    int pair[2] = {-1, -1};
    if (helper < 0 || socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0) {
        if (helper >= 0) {
            close(helper);
            SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        }
        close(library);
        return false;
    }
    pair[0] = MoveHigh(pair[0]);
    pair[1] = MoveHigh(pair[1]);
    bool started = Spawn(helper, library, pair[1], call.prefix, host.pid);
    close(helper);
    close(library);
    close(pair[1]);
    host.socket = pair[0];
    if (!started) {
        close(host.socket);
        host = DriverHost{};
        SetLastError(ERROR_MOD_NOT_FOUND);
        return false;
    }
    return CallInit(call, host);
}

void StopDriver(DriverHost& host) {
    if (host.pid < 0) return;
    char stop = 'q';
    SendAll(host.socket, &stop, 1);
    // The helper ends after Deinit: its end of the socket closes.
    char rest;
    int ended = ReadBefore(host.socket, &rest, 1, NowMs() + kDriverWaitMs);
    Reap(host.pid, ended == 0 ? NowMs() + kDriverWaitMs : NowMs());
    close(host.socket);
    host = DriverHost{};
}

}  // namespace platform::detail
