// belvane-devhost: runs one driver library for the device manager, so that a driver that
// crashes or hangs takes down this helper and not the program that activated it.
//
// Called as "belvane-devhost <prefix>" with the socket to the device manager as
// descriptor 3 and the library, already checked, as descriptor 4. It reads Init's client
// information and active key, loads the library, calls "<prefix>_Init" and answers with the
// error (0 for none) and Init's result. Then it waits: a byte or the end of the socket
// (the device manager is gone) makes it call "<prefix>_Deinit" and end.
#include <dlfcn.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <string>

#include "platform/base/types.h"

namespace {

constexpr int kSocketFd = 3;
constexpr const char* kLibrary = "/proc/self/fd/4";  // the very file that was checked

typedef DWORD (*InitFunction)(LPCWSTR activeKey, LPCVOID busContext);
typedef BOOL (*DeinitFunction)(DWORD context);

bool ReadAll(void* buffer, size_t size) {
    auto* out = static_cast<char*>(buffer);
    while (size > 0) {
        ssize_t n = recv(kSocketFd, out, size, 0);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        out += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

int Answer(std::uint32_t error, std::uint32_t context) {
    std::uint32_t reply[2] = {error, context};
    send(kSocketFd, reply, sizeof reply, MSG_NOSIGNAL);
    return error == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) return 2;
    std::string prefix = argv[1];
    std::uint32_t header[2];
    if (!ReadAll(header, sizeof header) || header[1] > 4096) return 2;
    std::u16string activeKey(header[1], u'\0');
    if (!ReadAll(activeKey.data(), activeKey.size() * 2)) return 2;
    void* library = dlopen(kLibrary, RTLD_NOW | RTLD_LOCAL);
    close(4);
    if (!library) return Answer(ERROR_MOD_NOT_FOUND, 0);
    auto init = reinterpret_cast<InitFunction>(dlsym(library, (prefix + "_Init").c_str()));
    auto deinit = reinterpret_cast<DeinitFunction>(dlsym(library, (prefix + "_Deinit").c_str()));
    if (!init) return Answer(ERROR_PROC_NOT_FOUND, 0);
    DWORD context =
        init(activeKey.c_str(), reinterpret_cast<LPCVOID>(static_cast<uintptr_t>(header[0])));
    if (!context) return Answer(ERROR_GEN_FAILURE, 0);
    Answer(ERROR_SUCCESS, context);
    char stop;
    while (recv(kSocketFd, &stop, 1, 0) < 0 && errno == EINTR) {
    }
    if (deinit) deinit(context);
    return 0;
}
