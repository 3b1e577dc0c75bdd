// belvane-devhost.exe: runs one driver library for the device manager, so that a driver
// that crashes or hangs takes down this helper and not the program that activated it.
//
// Called as "belvane-devhost <in> <out>" with the handles of the inherited pipes from and
// to the device manager. It reads Init's client
// information and the lengths of the active key, the library path and the prefix, then
// those strings; loads the library, calls "<prefix>_Init" and answers with the error (0 for
// none) and Init's result. Then it waits: a byte or the end of its input (the device
// manager is gone) makes it call "<prefix>_Deinit" and end. An exception in the driver ends
// the helper at once with the exception's code, without a crash dialog.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "platform/base/windows/win32.h"

namespace {

using String = std::basic_string<WCHAR>;
typedef DWORD(WINAPI* InitFunction)(LPCWSTR activeKey, LPCVOID busContext);
typedef BOOL(WINAPI* DeinitFunction)(DWORD context);

HANDLE g_in = nullptr;
HANDLE g_out = nullptr;

bool ReadAll(void* buffer, DWORD size) {
    auto* out = static_cast<char*>(buffer);
    while (size > 0) {
        DWORD got = 0;
        if (!ReadFile(g_in, out, size, &got, nullptr) || got == 0) return false;
        out += got;
        size -= got;
    }
    return true;
}

bool ReadString(std::uint32_t length, String& text) {
    text.assign(length, 0);
    return length == 0 || ReadAll(text.data(), length * sizeof(WCHAR));
}

int Answer(std::uint32_t error, std::uint32_t context) {
    const std::uint32_t reply[2] = {error, context};
    DWORD written = 0;
    WriteFile(g_out, reply, sizeof reply, &written, nullptr);
    return error == 0 ? 0 : static_cast<int>(error);
}

LONG WINAPI EndOnException(EXCEPTION_POINTERS* exception) {
    TerminateProcess(GetCurrentProcess(), exception->ExceptionRecord->ExceptionCode);
    return EXCEPTION_EXECUTE_HANDLER;
}

std::string Narrow(const String& text) {
    return std::string(text.begin(), text.end());
}

HANDLE HandleArgument(const char* text) {
    return reinterpret_cast<HANDLE>(static_cast<std::uintptr_t>(std::strtoull(text, nullptr, 10)));
}

}  // namespace

int main(int argc, char** argv) {
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX);
    SetUnhandledExceptionFilter(EndOnException);
    if (argc != 3) return 2;
    g_in = HandleArgument(argv[1]);
    g_out = HandleArgument(argv[2]);
    std::uint32_t header[4];
    if (!ReadAll(header, sizeof header) || header[1] > 4096 || header[2] > 4096 || header[3] > 64)
        return 2;
    String activeKey, library, prefix;
    if (!ReadString(header[1], activeKey) || !ReadString(header[2], library) ||
        !ReadString(header[3], prefix))
        return 2;
    HMODULE module = LoadLibraryExW(library.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    if (!module) return Answer(ERROR_MOD_NOT_FOUND, 0);
    // Entry point names are ASCII: the prefix is letters only.
    auto init = reinterpret_cast<InitFunction>(
        reinterpret_cast<void*>(GetProcAddress(module, (Narrow(prefix) + "_Init").c_str())));
    auto deinit = reinterpret_cast<DeinitFunction>(
        reinterpret_cast<void*>(GetProcAddress(module, (Narrow(prefix) + "_Deinit").c_str())));
    if (!init) return Answer(ERROR_PROC_NOT_FOUND, 0);
    const DWORD context =
        init(activeKey.c_str(), reinterpret_cast<LPCVOID>(static_cast<uintptr_t>(header[0])));
    if (!context) return Answer(ERROR_GEN_FAILURE, 0);
    Answer(ERROR_SUCCESS, context);
    char stop;
    ReadAll(&stop, 1);
    if (deinit) deinit(context);
    return 0;
}
