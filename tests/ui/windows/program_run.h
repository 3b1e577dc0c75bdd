// Belvane.exe and LumbraPorts.exe started as a user starts them, each in a process of its
// own, for the tests that drive them through their windows.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "window_driver.h"

namespace uitest {

// The build names the programs by their paths on the build machine; under Wine that
// machine's root is the drive Z:.
inline String ProgramPath(const char* path) {
    String windowsPath = path[0] == '/' ? TEXT("Z:") : TEXT("");
    for (const char* p = path; *p; ++p)
        windowsPath += *p == '/' ? TEXT('\\') : static_cast<WCHAR>(*p);
    return windowsPath;
}

// A started program; its standard output and error go into one pipe.
class Program {
  public:
    Program(const char* path, LPCWSTR arguments) : Program(ProgramPath(path), arguments) {}
    Program(const String& windowsPath, LPCWSTR arguments) {
        SECURITY_ATTRIBUTES inherit{sizeof(inherit), nullptr, TRUE};
        EXPECT_TRUE(CreatePipe(&read_, &write_, &inherit, 0));
        SetHandleInformation(read_, HANDLE_FLAG_INHERIT, 0);
        String line = TEXT("\"") + windowsPath + TEXT("\" ") + arguments;
        STARTUPINFOW startup{};
        startup.cb = sizeof(startup);
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdOutput = startup.hStdError = write_;
        EXPECT_TRUE(CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr,
                                   nullptr, &startup, &process_));
        CloseHandle(write_);
    }
    ~Program() {
        if (process_.hProcess) {
            if (WaitForSingleObject(process_.hProcess, 0) == WAIT_TIMEOUT)
                TerminateProcess(process_.hProcess, 99);
            CloseHandle(process_.hProcess);
            CloseHandle(process_.hThread);
        }
        CloseHandle(read_);
    }
    // The exit code once the program has ended; 259 (still active) if it never does.
    DWORD ExitCode() {
        WaitForSingleObject(process_.hProcess, 60000);
        DWORD code = 0;
        GetExitCodeProcess(process_.hProcess, &code);
        return code;
    }
    DWORD Id() const { return process_.dwProcessId; }
    // All it wrote, once it has ended, with the C library's line ends as "\n". What is in
    // the pipe then is all there is: the pipe itself may stay open longer, as a process the
    // system started for the program (under Wine, its desktop) may hold a copy of its end.
    std::string Output() {
        ExitCode();
        std::string text;
        char buffer[256];
        DWORD waiting = 0, got = 0;
        while (PeekNamedPipe(read_, nullptr, 0, nullptr, &waiting, nullptr) && waiting > 0 &&
               ReadFile(read_, buffer, sizeof(buffer), &got, nullptr) && got > 0)
            text.append(buffer, got);
        std::erase(text, '\r');
        return text;
    }

  private:
    HANDLE read_ = nullptr, write_ = nullptr;
    PROCESS_INFORMATION process_{};
};

}  // namespace uitest
