// A device driver library for the device manager tests. Init answers TEST_DRIVER_INIT_RESULT
// (0 makes it refuse), or crashes (TEST_DRIVER_CRASH) or never returns (TEST_DRIVER_HANG);
// Init and Deinit append a line to the file named by BELVANE_TEST_DRIVER_LOG, so that tests
// see what the device manager called.
#ifdef _WIN32
#include "platform/base/windows/win32.h"
#else
#include <unistd.h>
#endif

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/base/types.h"

namespace {

void Log(const std::string& line) {
    const char* path = std::getenv("BELVANE_TEST_DRIVER_LOG");
    if (!path) return;
    if (FILE* f = std::fopen(path, "ab")) {
        std::fprintf(f, "%s\n", line.c_str());
        std::fclose(f);
    }
}

std::string Narrow(LPCWSTR s) {
    std::string out;
    for (; s && *s; ++s) out += static_cast<char>(*s < 0x80 ? *s : '?');
    return out;
}

}  // namespace

extern "C" DWORD COM_Init(LPCWSTR activeKey, LPCVOID) {
    Log("init " + Narrow(activeKey));
#ifdef TEST_DRIVER_CRASH
#ifdef _WIN32
    RaiseException(EXCEPTION_ACCESS_VIOLATION, 0, 0, nullptr);
#else
    std::raise(SIGSEGV);
#endif
#endif
#ifdef TEST_DRIVER_HANG
#ifdef _WIN32
    for (;;) Sleep(INFINITE);
#else
    for (;;) pause();
#endif
#endif
    return TEST_DRIVER_INIT_RESULT;
}

extern "C" BOOL COM_Deinit(DWORD context) {
    Log("deinit " + std::to_string(context));
    return TRUE;
}
