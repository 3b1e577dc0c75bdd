// platform::SetModuleFileNameForTesting on Windows, where GetModuleFileNameW is the
// system's: the link (--wrap=__imp_GetModuleFileNameW) points the calls through the import
// pointer at this stand-in, which reports the path set for the running program (module
// null) with the system's truncation (size - 1 characters, the count size and
// ERROR_INSUFFICIENT_BUFFER when the buffer is too small) and passes any other call on.
#include <mutex>
#include <string>

#include "platform/io/files.h"

namespace {

using ModuleNameFunction = DWORD(WINAPI*)(HMODULE, LPWSTR, DWORD);

std::mutex g_mutex;
std::basic_string<WCHAR> g_name;
bool g_set = false;

}  // namespace

extern "C" ModuleNameFunction __real___imp_GetModuleFileNameW;

namespace {

DWORD WINAPI TestModuleFileName(HMODULE module, LPWSTR buffer, DWORD size) {
    std::unique_lock<std::mutex> hold(g_mutex);
    if (module != nullptr || !g_set) {
        hold.unlock();
        return __real___imp_GetModuleFileNameW(module, buffer, size);
    }
    if (size == 0) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    const size_t length = g_name.size();
    if (length + 1 > size) {
        g_name.copy(buffer, size - 1);
        buffer[size - 1] = 0;
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return size;
    }
    g_name.copy(buffer, length);
    buffer[length] = 0;
    SetLastError(ERROR_SUCCESS);
    return static_cast<DWORD>(length);
}

}  // namespace

extern "C" {
ModuleNameFunction __wrap___imp_GetModuleFileNameW = TestModuleFileName;
}

namespace platform {

void SetModuleFileNameForTesting(LPCWSTR path) {
    std::lock_guard<std::mutex> hold(g_mutex);
    g_set = path != nullptr;
    g_name = path ? path : TEXT("");
}

}  // namespace platform
