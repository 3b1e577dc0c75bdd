// The system's TerminateThread and PurgeComm are called through their import pointers; the
// link (--wrap) points the channel's calls at these pointers instead, whose functions
// count the call and pass it on.
#include "serial_harness.h"

namespace {

using TerminateFunction = BOOL(WINAPI*)(HANDLE, DWORD);
using PurgeFunction = BOOL(WINAPI*)(HANDLE, DWORD);

}  // namespace

extern "C" {
extern TerminateFunction __real___imp_TerminateThread;
extern PurgeFunction __real___imp_PurgeComm;
}

namespace {

BOOL WINAPI CountedTerminate(HANDLE thread, DWORD exitCode) {
    serialtest::CountTermination();
    return __real___imp_TerminateThread(thread, exitCode);
}

BOOL WINAPI CountedPurge(HANDLE port, DWORD flags) {
    const BOOL ok = __real___imp_PurgeComm(port, flags);
    serialtest::CountPurge(port);
    return ok;
}

}  // namespace

extern "C" {
TerminateFunction __wrap___imp_TerminateThread = CountedTerminate;
PurgeFunction __wrap___imp_PurgeComm = CountedPurge;
}
