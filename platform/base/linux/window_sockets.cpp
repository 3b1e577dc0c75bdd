#include "platform/base/detail/window_sockets.h"

#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <mutex>
#include <optional>

#include "internal/classes.h"
#include "internal/runtime_folder.h"

namespace platform::detail {
namespace {

struct Served {
    const MessageQueue* queue;
    WindowSocketFd socket;
    std::string path;  // listeners only: the socket file, removed when the window ends
    ino_t inode = 0;
};

struct SocketRegistry {
    std::mutex mutex;
    std::vector<Served> sockets;
};

SocketRegistry& Sockets() {
    static SocketRegistry* registry = new SocketRegistry;
    return *registry;
}

// Class keys are lower case: letters and digits stay, anything else is "_" and four hex
// digits, so that every name makes one file name and no two names make the same.
std::string FileName(const std::u16string& key) {
    static const char digits[] = "0123456789abcdef";
    std::string out = "window-";
    for (char16_t c : key) {
        if ((c >= u'a' && c <= u'z') || (c >= u'0' && c <= u'9')) {
            out += static_cast<char>(c);
            continue;
        }
        out += '_';
        for (int shift = 12; shift >= 0; shift -= 4) out += digits[(c >> shift) & 0xF];
    }
    return out;
}

// Where the windows of a class listen: a socket file in the user's private folder.
struct Place {
    std::string folder;
    std::string path;
    sockaddr_un address{};
};

std::optional<Place> PlaceOf(const std::u16string& className) {
    Place place;
    place.folder = WindowSocketFolder();
    if (place.folder.empty()) return std::nullopt;
    place.path = place.folder + "/" + FileName(ClassKey(className));
    if (place.path.size() >= sizeof place.address.sun_path) {
        ReportOnce("windows of a class are not found across programs: " + place.path +
                   " is too long for a socket");
        return std::nullopt;
    }
    place.address.sun_family = AF_UNIX;
    std::memcpy(place.address.sun_path, place.path.c_str(), place.path.size() + 1);
    return place;
}

sockaddr* Address(Place& place) {
    return reinterpret_cast<sockaddr*>(&place.address);
}

// The socket file is this user's own and the process behind it runs as this user.
bool OwnSocketFile(const Place& place) {
    struct stat st;
    return lstat(place.path.c_str(), &st) == 0 && S_ISSOCK(st.st_mode) && st.st_uid == geteuid();
}

// A connection to the listener at the place, or -1; busy tells of a listener whose backlog
// is full, which this request never waits for. Only this user's socket file and a listener
// that runs as this user are used.
int ConnectTo(Place& place, bool* busy = nullptr) {
    if (!OwnSocketFile(place)) return -1;
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) return -1;
    ucred peer{};
    socklen_t size = sizeof peer;
    if (connect(fd, Address(place), sizeof place.address) != 0) {
        if (busy) *busy = errno == EAGAIN;
        close(fd);
        return -1;
    }
    if (getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &size) != 0 || peer.uid != geteuid()) {
        close(fd);
        return -1;
    }
    return fd;
}

int Connect(const std::u16string& className) {
    auto place = PlaceOf(className);
    return place ? ConnectTo(*place) : -1;
}

// Holds the folder's lock, so that two programs never both find a socket stale and each
// replace it with its own.
class FolderLock {
  public:
    explicit FolderLock(const std::string& folder)
        : fd_(open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC)) {
        if (fd_ >= 0) flock(fd_, LOCK_EX);
    }
    ~FolderLock() {
        if (fd_ >= 0) close(fd_);
    }
    FolderLock(const FolderLock&) = delete;
    FolderLock& operator=(const FolderLock&) = delete;

  private:
    int fd_;
};

// Binds fd to the place. What is there already and no live window of this user listens on
// (a socket left by a program that ended, another user's file, a link, any other file) is
// removed first; a folder there is refused. False when another window listens already.
bool BindPlace(int fd, Place& place) {
    if (bind(fd, Address(place), sizeof place.address) == 0) return true;
    if (errno != EADDRINUSE) {
        ReportOnce("cannot listen on " + place.path + " (" + std::strerror(errno) + ")");
        return false;
    }
    bool busy = false;
    int live = ConnectTo(place, &busy);
    if (live >= 0 || busy) {
        if (live >= 0) close(live);
        return false;  // that window is the one FindWindowW finds
    }
    if (unlink(place.path.c_str()) != 0 || bind(fd, Address(place), sizeof place.address) != 0) {
        ReportOnce("cannot take " + place.path + " for this program's windows (" +
                   std::strerror(errno) + ")");
        return false;
    }
    return true;
}

}  // namespace

void ListenForWindowClass(WindowRecord& record) {
    auto place = PlaceOf(record.className);
    if (!place) return;
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) return;
    struct stat bound;
    {
        FolderLock lock(place->folder);
        if (!BindPlace(fd, *place) || listen(fd, 8) != 0 ||
            lstat(place->path.c_str(), &bound) != 0) {
            close(fd);
            return;
        }
    }
    record.listenFd = fd;
    SocketRegistry& sockets = Sockets();
    std::lock_guard<std::mutex> lock(sockets.mutex);
    sockets.sockets.push_back(Served{record.owner.get(), WindowSocketFd{fd, record.handle, true},
                                     place->path, bound.st_ino});
}

void StopListening(WindowRecord& record) {
    SocketRegistry& sockets = Sockets();
    std::lock_guard<std::mutex> lock(sockets.mutex);
    std::erase_if(sockets.sockets, [&](const Served& served) {
        if (served.socket.window != record.handle) return false;
        // The file goes with the listener, unless another program has replaced it since.
        struct stat st;
        if (served.socket.listener && lstat(served.path.c_str(), &st) == 0 &&
            st.st_ino == served.inode && S_ISSOCK(st.st_mode))
            unlink(served.path.c_str());
        close(served.socket.fd);
        return true;
    });
    record.listenFd = -1;
}

std::vector<WindowSocketFd> WindowSocketFds(const MessageQueue* queue) {
    std::vector<WindowSocketFd> out;
    SocketRegistry& sockets = Sockets();
    std::lock_guard<std::mutex> lock(sockets.mutex);
    for (auto& served : sockets.sockets)
        if (served.queue == queue) out.push_back(served.socket);
    return out;
}

HWND ServeWindowSocket(const WindowSocketFd& socket) {
    SocketRegistry& sockets = Sockets();
    if (socket.listener) {
        int connection = accept4(socket.fd, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (connection < 0) return nullptr;
        std::lock_guard<std::mutex> lock(sockets.mutex);
        const MessageQueue* queue = nullptr;
        for (auto& served : sockets.sockets)
            if (served.socket.fd == socket.fd) queue = served.queue;
        sockets.sockets.push_back(
            Served{queue, WindowSocketFd{connection, socket.window, false}, {}, 0});
        return nullptr;
    }
    char request = 0;
    ssize_t got = read(socket.fd, &request, 1);
    if (got < 0 && (errno == EAGAIN || errno == EINTR)) return nullptr;
    std::lock_guard<std::mutex> lock(sockets.mutex);
    std::erase_if(sockets.sockets, [&](const Served& served) {
        if (served.socket.fd != socket.fd) return false;
        close(served.socket.fd);
        return true;
    });
    return got == 1 && request == 'F' ? socket.window : nullptr;
}

bool WindowClassListening(const std::u16string& className) {
    int fd = Connect(className);
    if (fd < 0) return false;
    close(fd);
    return true;
}

bool RemoteWindowAlive(const WindowRecord& record) {
    return WindowClassListening(record.className);
}

bool AskWindowClassForward(const std::u16string& className) {
    int fd = Connect(className);
    if (fd < 0) return false;
    char request = 'F';
    bool sent = write(fd, &request, 1) == 1;
    close(fd);
    return sent;
}

DWORD WindowClassProcess(const std::u16string& className) {
    int fd = Connect(className);
    if (fd < 0) return 0;
    ucred peer{};
    socklen_t size = sizeof peer;
    bool known = getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &size) == 0;
    close(fd);
    return known ? static_cast<DWORD>(peer.pid) : 0;
}

}  // namespace platform::detail
