#include "syscall_tracer.h"

#include <signal.h>
#include <sys/ptrace.h>
#include <sys/syscall.h>
#include <sys/user.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

namespace configtest {
namespace {

constexpr int kNoTraceExit = 99;

struct Plan {
    long killAt = 0;
    long failAt = 0;
    const std::set<long>* failNumbers = nullptr;
    long failFrom = 0;
};

[[noreturn]] void RunChild(const std::function<int()>& body) {
    if (ptrace(PTRACE_TRACEME, 0, nullptr, nullptr) != 0) _exit(kNoTraceExit);
    raise(SIGSTOP);
    const int rc = body();
    _exit(rc & 0xff);
}

bool ReadRegs(pid_t pid, user_regs_struct& regs) {
    return ptrace(PTRACE_GETREGS, pid, nullptr, &regs) == 0;
}

// Calls on files and directories. Others (memory, signals, exit) failing would only kill
// the process, which the kill runs already cover.
bool IsFileCall(long number) {
    static const std::set<long> calls{
        SYS_open,      SYS_openat,          SYS_creat,      SYS_read,
        SYS_pread64,   SYS_readv,           SYS_write,      SYS_pwrite64,
        SYS_writev,    SYS_close,           SYS_lseek,      SYS_fsync,
        SYS_fdatasync, SYS_sync_file_range, SYS_rename,     SYS_renameat,
        SYS_renameat2, SYS_unlink,          SYS_unlinkat,   SYS_stat,
        SYS_lstat,     SYS_fstat,           SYS_newfstatat, SYS_statx,
        SYS_readlink,  SYS_readlinkat,      SYS_chmod,      SYS_fchmod,
        SYS_fchmodat,  SYS_ftruncate,       SYS_fallocate,  SYS_copy_file_range,
        SYS_sendfile,  SYS_getdents64,      SYS_link,       SYS_linkat,
        SYS_mkdir,     SYS_mkdirat,         SYS_access,     SYS_faccessat,
        SYS_faccessat2};
    return calls.count(number) != 0;
}

// The call number is replaced by an invalid one so the kernel skips it; its result is set
// at the exit stop.
bool ShouldFail(const Plan& plan, long fileCalls, long number) {
    if (plan.failAt != 0) return fileCalls == plan.failAt;
    if (plan.failFrom != 0) return fileCalls >= plan.failFrom;
    return plan.failNumbers != nullptr && plan.failNumbers->count(number) != 0;
}

TraceOutcome Trace(pid_t pid, const Plan& plan) {
    TraceOutcome out;
    int status = 0;
    if (waitpid(pid, &status, 0) != pid) return out;
    if (WIFEXITED(status)) return out;  // PTRACE_TRACEME refused
    out.traced = true;
    ptrace(PTRACE_SETOPTIONS, pid, nullptr, PTRACE_O_TRACESYSGOOD | PTRACE_O_EXITKILL);
    bool inCall = false;
    bool failing = false;
    int deliver = 0;
    for (;;) {
        ptrace(PTRACE_SYSCALL, pid, nullptr, reinterpret_cast<void*>(static_cast<long>(deliver)));
        deliver = 0;
        if (waitpid(pid, &status, 0) != pid) return out;
        if (WIFEXITED(status)) {
            out.exitCode = WEXITSTATUS(status);
            return out;
        }
        if (WIFSIGNALED(status)) {
            out.crashed = true;
            return out;
        }
        if (!WIFSTOPPED(status)) continue;
        if (WSTOPSIG(status) != (SIGTRAP | 0x80)) {
            deliver = WSTOPSIG(status);
            continue;
        }
        user_regs_struct regs{};
        if (!ReadRegs(pid, regs)) return out;
        if (!inCall) {
            inCall = true;
            ++out.syscalls;
            const long number = static_cast<long>(regs.orig_rax);
            if (IsFileCall(number)) ++out.fileCalls;
            // Kill points count file calls only: other calls (memory mapping by a
            // sanitizer's allocator, say) vary from run to run and would shift the points.
            if (plan.killAt != 0 && IsFileCall(number) && out.fileCalls == plan.killAt) {
                kill(pid, SIGKILL);
                waitpid(pid, &status, 0);
                out.killed = true;
                return out;
            }
            failing = IsFileCall(number) && ShouldFail(plan, out.fileCalls, number);
            if (failing) {
                out.failedNumber = static_cast<long>(regs.orig_rax);
                regs.orig_rax = static_cast<unsigned long long>(-1);
                ptrace(PTRACE_SETREGS, pid, nullptr, &regs);
                ++out.failedCalls;
            }
        } else {
            inCall = false;
            if (failing) {
                regs.rax = static_cast<unsigned long long>(-EIO);
                ptrace(PTRACE_SETREGS, pid, nullptr, &regs);
                failing = false;
            }
        }
    }
}

TraceOutcome Run(const std::function<int()>& body, const Plan& plan) {
#if !defined(__x86_64__)
    // Reading and changing call numbers is written for x86-64 only.
    return {};
#endif
    const pid_t pid = fork();
    if (pid < 0) return {};
    if (pid == 0) RunChild(body);
    return Trace(pid, plan);
}

}  // namespace

TraceOutcome RunKilledAt(const std::function<int()>& body, long killAt) {
    return Run(body, Plan{killAt, 0, nullptr});
}

TraceOutcome RunFailingCall(const std::function<int()>& body, long failAt) {
    return Run(body, Plan{0, failAt, nullptr});
}

TraceOutcome RunFailingFrom(const std::function<int()>& body, long failFrom) {
    Plan plan;
    plan.failFrom = failFrom;
    return Run(body, plan);
}

TraceOutcome RunFailingSyscalls(const std::function<int()>& body,
                                const std::set<long>& syscallNumbers) {
    return Run(body, Plan{0, 0, &syscallNumbers});
}

}  // namespace configtest
