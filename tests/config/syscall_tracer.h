// Runs a piece of code in a child process that the test traces system call by system call,
// to stop it dead before any chosen call or to make chosen calls fail. This shows what a
// crash or an I/O error at each step of a file operation leaves on disk, without hooks in
// the code under test.
#pragma once

#include <functional>
#include <set>

namespace configtest {

struct TraceOutcome {
    bool traced = false;     // false: tracing is not permitted here, nothing ran
    bool killed = false;     // the child was killed before the chosen call
    bool crashed = false;    // the child ended by a signal of its own
    int exitCode = -1;       // the body's result, low 8 bits, when it returned
    long syscalls = 0;       // system calls entered by the body
    long fileCalls = 0;      // of these, calls on files and directories
    long failedCalls = 0;    // calls made to fail
    long failedNumber = -1;  // the number of the last call made to fail
};

// Runs body in a traced child and kills it with SIGKILL at the entry of its killAt-th
// call on a file or directory (counted from 1, before the call does anything); 0 lets it
// run to the end.
TraceOutcome RunKilledAt(const std::function<int()>& body, long killAt);

// Runs body in a traced child; its failAt-th call on a file or directory (counted from 1)
// is not executed and returns -EIO instead.
TraceOutcome RunFailingCall(const std::function<int()>& body, long failAt);

// Runs body in a traced child; its failFrom-th call on a file or directory and every later
// one return -EIO, as on a disk that has failed for good.
TraceOutcome RunFailingFrom(const std::function<int()>& body, long failFrom);

// Runs body in a traced child; every file call whose number is in syscallNumbers returns
// -EIO.
TraceOutcome RunFailingSyscalls(const std::function<int()>& body,
                                const std::set<long>& syscallNumbers);

}  // namespace configtest
