#include "platform/base/detail/window_sockets.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <map>
#include <mutex>

#include "internal/classes.h"

namespace platform::detail {
namespace {

struct Served {
    const MessageQueue* queue;
    WindowSocketFd socket;
};

struct SocketRegistry {
    std::mutex mutex;
    std::vector<Served> sockets;
};

SocketRegistry& Sockets() {
    static SocketRegistry* registry = new SocketRegistry;
    return *registry;
}

// Class names become hex digits, so any name makes a valid, case-free address.
std::string Hex(const std::u16string& s) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (char16_t c : s)
        for (int shift = 12; shift >= 0; shift -= 4) out += digits[(c >> shift) & 0xF];
    return out;
}

// Abstract socket address (first byte 0): nothing on disk to clean up after a crash.
socklen_t ClassAddress(const std::u16string& className, sockaddr_un* address) {
    std::memset(address, 0, sizeof *address);
    address->sun_family = AF_UNIX;
    std::string name =
        "belvane-window-" + std::to_string(getuid()) + "-" + Hex(ClassKey(className));
    size_t room = sizeof address->sun_path - 1;
    if (name.size() > room) name.resize(room);
    std::memcpy(address->sun_path + 1, name.data(), name.size());
    return static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + name.size());
}

int ConnectToClass(const std::u16string& className) {
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    sockaddr_un address;
    socklen_t length = ClassAddress(className, &address);
    if (connect(fd, reinterpret_cast<sockaddr*>(&address), length) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

}  // namespace

void ListenForWindowClass(WindowRecord& record) {
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) return;
    sockaddr_un address;
    socklen_t length = ClassAddress(record.className, &address);
    // A name already taken means another window of the class listens already (in this
    // process or another): that one is the window FindWindowW finds.
    if (bind(fd, reinterpret_cast<sockaddr*>(&address), length) != 0 || listen(fd, 8) != 0) {
        close(fd);
        return;
    }
    record.listenFd = fd;
    SocketRegistry& sockets = Sockets();
    std::lock_guard<std::mutex> lock(sockets.mutex);
    sockets.sockets.push_back(Served{record.owner.get(), WindowSocketFd{fd, record.handle, true}});
}

void StopListening(WindowRecord& record) {
    SocketRegistry& sockets = Sockets();
    std::lock_guard<std::mutex> lock(sockets.mutex);
    std::erase_if(sockets.sockets, [&](const Served& served) {
        if (served.socket.window != record.handle) return false;
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
        sockets.sockets.push_back(Served{queue, WindowSocketFd{connection, socket.window, false}});
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
    int fd = ConnectToClass(className);
    if (fd < 0) return false;
    close(fd);
    return true;
}

bool RemoteWindowAlive(const WindowRecord& record) {
    return WindowClassListening(record.className);
}

bool AskWindowClassForward(const std::u16string& className) {
    int fd = ConnectToClass(className);
    if (fd < 0) return false;
    char request = 'F';
    bool sent = write(fd, &request, 1) == 1;
    close(fd);
    return sent;
}

}  // namespace platform::detail
