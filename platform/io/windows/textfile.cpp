// Opening wide text streams on Windows: binary streams over the file's handle, so that the
// C runtime translates nothing; reading and writing are in ../text_codec.cpp.
#include "platform/io/textfile.h"

#include <fcntl.h>
#include <io.h>

#include <cerrno>
#include <string>

#include "internal/text_stream.h"
#include "platform/base/strings.h"

namespace {

struct OpenMode {
    DWORD access;
    DWORD disposition;
    DWORD flags;
    int fdFlags;
    const char* streamMode;
};

// "wx" never goes through a link nor into anything that is there already.
bool ModeFor(const std::basic_string<WCHAR>& m, OpenMode* mode) {
    if (m == TEXT("r") || m == TEXT("rb") || m == TEXT("rt")) {
        *mode = {GENERIC_READ, OPEN_EXISTING, 0, _O_RDONLY | _O_BINARY, "rb"};
    } else if (m == TEXT("w") || m == TEXT("wb") || m == TEXT("wt")) {
        *mode = {GENERIC_WRITE, CREATE_ALWAYS, 0, _O_WRONLY | _O_BINARY, "wb"};
    } else if (m == TEXT("wx") || m == TEXT("wbx") || m == TEXT("wtx")) {
        *mode = {GENERIC_WRITE, CREATE_NEW, FILE_FLAG_OPEN_REPARSE_POINT, _O_WRONLY | _O_BINARY,
                 "wb"};
    } else {
        return false;
    }
    return true;
}

int ErrnoFor(DWORD error) {
    switch (error) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
            return ENOENT;
        case ERROR_FILE_EXISTS:
        case ERROR_ALREADY_EXISTS:
            return EEXIST;
        default:
            return EACCES;
    }
}

}  // namespace

FILE* _wfopen(LPCWSTR path, LPCWSTR mode) {
    OpenMode m;
    if (path == nullptr || mode == nullptr || !ModeFor(mode, &m)) {
        errno = EINVAL;
        return nullptr;
    }
    const DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    // A folder does not open without backup semantics: refused, as the Linux side does.
    HANDLE file = CreateFileW(path, m.access, share, nullptr, m.disposition,
                              FILE_ATTRIBUTE_NORMAL | m.flags, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        errno = ErrnoFor(GetLastError());
        return nullptr;
    }
    const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(file), m.fdFlags);
    if (fd < 0) {
        CloseHandle(file);
        errno = EMFILE;
        return nullptr;
    }
    FILE* stream = _fdopen(fd, m.streamMode);
    if (stream == nullptr) {
        _close(fd);
        return nullptr;
    }
    platform::detail::StartTextStream(stream);
    return stream;
}
