// belvane-ptylink: pairs of pseudo-terminals joined back to back, for tests of a Windows
// program under Wine, which cannot make pseudo-terminals itself. The program opens one end
// of a pair as the port under test and the other as the device at the far end of the line.
//   belvane-ptylink <pairs> <ready-file>
// Writes "<end> <far end>" per pair (terminal paths) and then "ready" to the ready file;
// ends on SIGTERM, SIGINT or SIGHUP. Host code: built with the host's compiler.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

namespace {

volatile sig_atomic_t g_stop = 0;

void OnStop(int) {
    g_stop = 1;
}

struct End {
    int master = -1;
    int keepSlave = -1;  // keeps the line up and its settings between the opens under test
    std::string path;
};

bool OpenEnd(End& end) {
    end.master = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    char name[128] = {};
    if (end.master < 0 || grantpt(end.master) != 0 || unlockpt(end.master) != 0 ||
        ptsname_r(end.master, name, sizeof name) != 0)
        return false;
    end.path = name;
    end.keepSlave = open(name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    termios raw{};
    if (end.keepSlave < 0 || tcgetattr(end.keepSlave, &raw) != 0) return false;
    cfmakeraw(&raw);
    return tcsetattr(end.keepSlave, TCSANOW, &raw) == 0;
}

// Moves what one end's user wrote to the other end's user. Bytes the far side cannot take
// now are dropped, as on a line nobody listens to.
void Pass(const End& from, const End& to) {
    char buffer[4096];
    const ssize_t n = read(from.master, buffer, sizeof buffer);
    if (n <= 0) return;
    ssize_t done = 0;
    while (done < n) {
        const ssize_t w = write(to.master, buffer + done, static_cast<size_t>(n - done));
        if (w > 0) {
            done += w;
        } else if (w < 0 && errno == EAGAIN) {
            pollfd p{to.master, POLLOUT, 0};
            if (poll(&p, 1, 100) <= 0) return;
        } else if (w < 0 && errno != EINTR) {
            return;
        }
    }
}

bool WriteReady(const std::string& path, const std::vector<End>& ends) {
    const std::string temporary = path + ".tmp";
    std::ofstream out(temporary);
    for (size_t i = 0; i + 1 < ends.size(); i += 2)
        out << ends[i].path << " " << ends[i + 1].path << "\n";
    out << "ready\n";
    out.close();
    return out && std::rename(temporary.c_str(), path.c_str()) == 0;
}

}  // namespace

int main(int argc, char** argv) {
    const int pairs = argc == 3 ? atoi(argv[1]) : 0;
    if (pairs <= 0 || pairs > 64) {
        std::fprintf(stderr, "usage: belvane-ptylink <pairs 1-64> <ready-file>\n");
        return 2;
    }
    struct sigaction action {};
    action.sa_handler = OnStop;
    for (int s : {SIGINT, SIGTERM, SIGHUP}) sigaction(s, &action, nullptr);
    std::vector<End> ends(static_cast<size_t>(2 * pairs));
    for (End& end : ends) {
        if (!OpenEnd(end)) {
            std::perror("belvane-ptylink: pseudo-terminal");
            return 1;
        }
    }
    if (!WriteReady(argv[2], ends)) return 1;
    std::vector<pollfd> polls;
    for (const End& end : ends) polls.push_back({end.master, POLLIN, 0});
    while (!g_stop) {
        if (poll(polls.data(), polls.size(), 200) <= 0) continue;
        for (size_t i = 0; i < ends.size(); ++i) {
            if (polls[i].revents & POLLIN) Pass(ends[i], ends[i ^ 1]);
        }
    }
    std::remove(argv[2]);
    return 0;
}
