// The helper process of a loaded driver on Windows. belvane-devhost.exe is started with
// CreateProcessW and inherits two anonymous pipes, whose handles its command line names. It
// reads Init's arguments (client information, active key, library path, prefix), answers
// with the error (0 for none) and Init's result, and then waits; a byte or the end of its
// input makes it call Deinit and end.
#include "platform/io/windows/driver_host.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "platform/base/account.h"
#include "platform/base/strings.h"

namespace platform::detail {
namespace {

using String = std::basic_string<WCHAR>;

struct InitReply {
    std::uint32_t error;
    std::uint32_t context;
};

constexpr DWORD kPollMs = 5;

void CloseIf(HANDLE& handle) {
    if (handle != nullptr && handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
    handle = nullptr;
}

void Close(DriverHost& host) {
    CloseIf(host.process);
    CloseIf(host.toHelper);
    CloseIf(host.fromHelper);
}

bool WriteAll(HANDLE pipe, const void* data, DWORD size) {
    const auto* in = static_cast<const char*>(data);
    while (size > 0) {
        DWORD written = 0;
        if (!WriteFile(pipe, in, size, &written, nullptr) || written == 0) return false;
        in += written;
        size -= written;
    }
    return true;
}

bool WriteString(HANDLE pipe, const String& text) {
    return WriteAll(pipe, text.data(), static_cast<DWORD>(text.size() * sizeof(WCHAR)));
}

// Reads exactly size bytes before the deadline: 1 done, 0 the helper's end is closed, -1
// time is up. An anonymous pipe has no timed read: what is there is looked at first.
int ReadBefore(HANDLE pipe, void* buffer, DWORD size, ULONGLONG deadline) {
    auto* out = static_cast<char*>(buffer);
    while (size > 0) {
        DWORD available = 0;
        if (!PeekNamedPipe(pipe, nullptr, 0, nullptr, &available, nullptr)) return 0;
        if (available == 0) {
            if (GetTickCount64() >= deadline) return -1;
            Sleep(kPollMs);
            continue;
        }
        DWORD got = 0;
        if (!ReadFile(pipe, out, available < size ? available : size, &got, nullptr) || got == 0)
            return 0;
        out += got;
        size -= got;
    }
    return 1;
}

// The helper: the one BELVANE_DEVHOST names, else the one beside the running program, else
// the one of the build.
String HelperPath() {
    WCHAR named[MAX_PATH];
    const DWORD length = GetEnvironmentVariableW(TEXT("BELVANE_DEVHOST"), named, MAX_PATH);
    if (length > 0 && length < MAX_PATH) return named;
    WCHAR self[MAX_PATH];
    const DWORD selfLength = GetModuleFileNameW(nullptr, self, MAX_PATH);
    if (selfLength > 0 && selfLength < MAX_PATH) {
        String beside(self, selfLength);
        beside.erase(beside.find_last_of(TEXT("\\/")) + 1);
        beside += TEXT("belvane-devhost.exe");
        if (GetFileAttributesW(beside.c_str()) != INVALID_FILE_ATTRIBUTES) return beside;
    }
    String built = platform::FromUtf8(BELVANE_DEVHOST_PATH);
    for (WCHAR& c : built) c = c == TEXT('/') ? TEXT('\\') : c;
    return built;
}

// Starts the helper on fresh pipes; only the helper's ends are inherited.
bool Spawn(const String& helper, DriverHost& host) {
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE childIn = nullptr, childOut = nullptr;
    if (!CreatePipe(&childIn, &host.toHelper, &inherit, 0)) return false;
    if (!CreatePipe(&host.fromHelper, &childOut, &inherit, 0)) {
        CloseHandle(childIn);
        return false;
    }
    SetHandleInformation(host.toHelper, HANDLE_FLAG_INHERIT, 0);
    SetHandleInformation(host.fromHelper, HANDLE_FLAG_INHERIT, 0);
    // The pipes are named on the command line, not made the helper's standard handles, so
    // that a driver writing to its output cannot garble the answer.
    STARTUPINFOEXW startup{};
    startup.StartupInfo.cb = sizeof startup;
    startup.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
    HANDLE handles[2] = {childIn, childOut};
    SIZE_T size = 0;
    InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
    std::vector<std::max_align_t> attributes(size / sizeof(std::max_align_t) + 1);
    startup.lpAttributeList = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(attributes.data());
    const bool listed =
        InitializeProcThreadAttributeList(startup.lpAttributeList, 1, 0, &size) &&
        UpdateProcThreadAttribute(startup.lpAttributeList, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST,
                                  handles, sizeof handles, nullptr, nullptr);
    String commandLine = TEXT("belvane-devhost ") +
                         std::to_wstring(reinterpret_cast<std::uintptr_t>(childIn)) + TEXT(" ") +
                         std::to_wstring(reinterpret_cast<std::uintptr_t>(childOut));
    PROCESS_INFORMATION process{};
    const BOOL started =
        listed && CreateProcessW(helper.c_str(), commandLine.data(), nullptr, nullptr, TRUE,
                                 EXTENDED_STARTUPINFO_PRESENT | CREATE_NO_WINDOW, nullptr, nullptr,
                                 &startup.StartupInfo, &process);
    if (listed) DeleteProcThreadAttributeList(startup.lpAttributeList);
    CloseHandle(childIn);
    CloseHandle(childOut);
    if (!started) return false;
    CloseHandle(process.hThread);
    host.process = process.hProcess;
    return true;
}

// Waits for the helper's end; ends it by force when it is not over by the deadline. Its
// exit code: Init's error, or the exception it died of.
DWORD Reap(HANDLE process, DWORD waitMs) {
    if (WaitForSingleObject(process, waitMs) != WAIT_OBJECT_0) {
        TerminateProcess(process, ERROR_TIMEOUT);
        WaitForSingleObject(process, INFINITE);
    }
    DWORD code = 0;
    GetExitCodeProcess(process, &code);
    return code;
}

std::string Hex(DWORD value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08lX", static_cast<unsigned long>(value));
    return text;
}

// Init did not answer: the helper died in it or is still in it.
bool NoAnswer(const DriverCall& call, DriverHost& host, int got) {
    const std::string library = platform::ToUtf8(call.libraryPath);
    const std::string init = platform::ToUtf8(call.prefix) + "_Init";
    if (got < 0) {
        platform::Note(library + " did not return from " + init + " in " +
                       std::to_string(kDriverWaitMs / 1000) + " s; not loaded");
        TerminateProcess(host.process, ERROR_TIMEOUT);
    }
    const DWORD code = Reap(host.process, kDriverWaitMs);
    // An exception ends the helper with its code, which has the top bits set.
    if (got == 0 && (code & 0xC0000000u) == 0xC0000000u)
        platform::Note(library + " crashed in " + init + " (exception " + Hex(code) +
                       "); not loaded");
    Close(host);
    SetLastError(got < 0 ? ERROR_TIMEOUT : ERROR_GEN_FAILURE);
    return false;
}

// Sends Init's arguments and waits for its answer.
bool CallInit(DriverCall& call, DriverHost& host) {
    const std::uint32_t header[4] = {call.clientInfo,
                                     static_cast<std::uint32_t>(call.activeKey.size()),
                                     static_cast<std::uint32_t>(call.libraryPath.size()),
                                     static_cast<std::uint32_t>(call.prefix.size())};
    InitReply reply{};
    const int got =
        WriteAll(host.toHelper, header, sizeof header) &&
                WriteString(host.toHelper, call.activeKey) &&
                WriteString(host.toHelper, call.libraryPath) &&
                WriteString(host.toHelper, call.prefix)
            ? ReadBefore(host.fromHelper, &reply, sizeof reply, GetTickCount64() + kDriverWaitMs)
            : 0;
    if (got != 1) return NoAnswer(call, host, got);
    if (reply.error != ERROR_SUCCESS) {
        Reap(host.process, kDriverWaitMs);
        Close(host);
        SetLastError(reply.error);
        return false;
    }
    call.context = reply.context;
    return true;
}

}  // namespace

bool StartDriver(DriverCall& call, DriverHost& host) {
    host = DriverHost{};
    HANDLE library = OpenTrustedFile(call.libraryPath);
    if (library == INVALID_HANDLE_VALUE) return false;
    const String helperPath = HelperPath();
    HANDLE helper = OpenTrustedFile(helperPath);
    if (helper == INVALID_HANDLE_VALUE) {
        CloseHandle(library);
        return false;
    }
    const bool started = Spawn(helperPath, host);
    CloseHandle(helper);
    if (!started) {
        CloseHandle(library);
        Close(host);
        SetLastError(ERROR_MOD_NOT_FOUND);
        return false;
    }
    // Held until Init has answered: the helper has loaded this very file by then.
    const bool initialised = CallInit(call, host);
    CloseHandle(library);
    return initialised;
}

void StopDriver(DriverHost& host) {
    if (host.process == nullptr) return;
    const char stop = 'q';
    WriteAll(host.toHelper, &stop, 1);
    Reap(host.process, kDriverWaitMs);
    Close(host);
}

}  // namespace platform::detail
