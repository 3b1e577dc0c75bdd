// Opening wide text streams on Linux; reading and writing are in ../text_codec.cpp.
#include "platform/io/textfile.h"

#include <fcntl.h>
#include <stdio.h>
#include <stdio_ext.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>

#include "internal/text_stream.h"
#include "platform/base/account.h"
#include "platform/base/strings.h"
#include "platform/io/files.h"

namespace {

// "r" never blocks on a FIFO or a device: its reads fail instead of waiting for a writer.
// "wx" creates a new file, private until its owner widens it, and never goes through a
// link or into an existing file.
int OpenForMode(const std::string& hostPath, const std::u16string& m, const char** streamMode) {
    if (m == u"r" || m == u"rb" || m == u"rt") {
        *streamMode = "r";
        return open(hostPath.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    }
    if (m == u"w" || m == u"wb" || m == u"wt") {
        *streamMode = "w";
        return open(hostPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    }
    if (m == u"wx" || m == u"wbx" || m == u"wtx") {
        *streamMode = "w";
        return open(hostPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    }
    errno = EINVAL;
    return -1;
}

// A file that cannot be written is worth telling the user; errno stays as it was.
void NoteWriteFailure(LPCWSTR path) {
    const int error = errno;
    platform::Note("cannot write " + platform::HostPath(path) + " (" + std::strerror(error) + ")");
    errno = error;
}

// A stream reads and writes in blocks of 64 KiB rather than the file system's 4 KiB, so that
// a large file costs a sixteenth of the system calls. fclose is the C library's and does not
// free a buffer it was given: a block stays with the stream's address and serves the next
// stream opened there. No two open streams share an address and the C library reuses the
// addresses of closed ones, so a few blocks serve a whole run.
constexpr size_t kStreamBlock = 64 * 1024;

char* BlockFor(FILE* stream) {
    static std::mutex mutex;
    // Never destroyed: a stream still open at exit is flushed from its block after the
    // static objects are gone.
    static auto* blocks = new std::unordered_map<FILE*, std::unique_ptr<char[]>>();
    std::lock_guard<std::mutex> lock(mutex);
    std::unique_ptr<char[]>& block = (*blocks)[stream];
    if (!block) block = std::make_unique<char[]>(kStreamBlock);
    return block.get();
}

}  // namespace

FILE* _wfopen(LPCWSTR path, LPCWSTR mode) {
    if (path == nullptr || mode == nullptr) {
        errno = EINVAL;
        return nullptr;
    }
    const char* streamMode = nullptr;
    int fd;
    while ((fd = OpenForMode(platform::HostPath(path), mode, &streamMode)) < 0 && errno == EINTR) {
    }
    if (fd < 0) {
        if (mode[0] == u'w') NoteWriteFailure(path);
        return nullptr;
    }
    // A directory opens for reading here but could never be read: refuse it as Windows does,
    // rather than hand out a stream whose reads fail without ever reaching its end.
    struct stat st;
    if (fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
        close(fd);
        errno = EACCES;
        return nullptr;
    }
    FILE* stream = fdopen(fd, streamMode);
    if (stream == nullptr) {
        const int error = errno;
        close(fd);
        errno = error;
        return nullptr;
    }
    // The stream has one owner: its calls need not take the stream's lock.
    __fsetlocking(stream, FSETLOCKING_BYCALLER);
    setvbuf(stream, BlockFor(stream), _IOFBF, kStreamBlock);
    platform::detail::StartTextStream(stream);
    return stream;
}
