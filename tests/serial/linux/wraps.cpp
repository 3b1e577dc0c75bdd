// The link (--wrap) sends the channel's calls of TerminateThread and PurgeComm here; they
// are counted and passed on.
#include "serial_harness.h"

extern "C" BOOL __real__Z15TerminateThreadPvj(HANDLE thread, DWORD exitCode);
extern "C" BOOL __real__Z9PurgeCommPvj(HANDLE port, DWORD flags);

extern "C" BOOL __wrap__Z15TerminateThreadPvj(HANDLE thread, DWORD exitCode) {
    serialtest::CountTermination();
    return __real__Z15TerminateThreadPvj(thread, exitCode);
}

extern "C" BOOL __wrap__Z9PurgeCommPvj(HANDLE port, DWORD flags) {
    const BOOL ok = __real__Z9PurgeCommPvj(port, flags);
    serialtest::CountPurge(port);
    return ok;
}
