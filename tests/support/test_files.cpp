// The test helpers that need no operating system of their own: files read and written
// whole, the platform's account of failures, and serial ports opened through the platform.
#include <fstream>
#include <sstream>

#include "platform/base/account.h"
#include "platform/io/files.h"
#include "platform/io/serial.h"
#include "support/test_support.h"

namespace testsupport {

std::string TakeAccount() {
    std::string text;
    for (const std::string& line : platform::AccountLines()) text += line + "\n";
    platform::ClearAccount();
    return text;
}

std::string ReadFileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

void WriteFileBytes(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

HANDLE OpenPort8N1(LPCWSTR name, DWORD baud) {
    HANDLE port =
        CreateFileW(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (port == INVALID_HANDLE_VALUE) return port;
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    GetCommState(port, &dcb);
    dcb.BaudRate = baud;
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.StopBits = ONESTOPBIT;
    SetCommState(port, &dcb);
    COMMTIMEOUTS timeouts{MAXDWORD, 0, 0, 0, 0};
    SetCommTimeouts(port, &timeouts);
    return port;
}

}  // namespace testsupport
