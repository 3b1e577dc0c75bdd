// The test helpers under Wine: temporary folders, environment variables, and the pairs of
// pseudo-terminals that cmake/wine-ports.sh made on the host and Wine shows as COM ports
// (BELVANE_TEST_LINKS: "1:11 2:12 ...", the port under test and the test's far end).
#include "support/test_support.h"

#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <sstream>
#include <stdexcept>

#include "platform/base/strings.h"

namespace testsupport {
namespace {

using String = std::basic_string<WCHAR>;

String DeviceName(int number) {
    return TEXT("\\\\.\\COM") + std::to_wstring(number);
}

// The links the wrapper made, taken one per pair in order.
std::pair<int, int> NextLink() {
    static int taken = 0;
    const char* links = getenv("BELVANE_TEST_LINKS");
    std::istringstream words(links ? links : "");
    std::string word;
    for (int i = 0; words >> word; ++i) {
        if (i < taken) continue;
        const size_t colon = word.find(':');
        if (colon == std::string::npos) break;
        ++taken;
        return {std::stoi(word.substr(0, colon)), std::stoi(word.substr(colon + 1))};
    }
    throw std::runtime_error("no more port pairs in BELVANE_TEST_LINKS (run by wine-ports.sh)");
}

// Raw 8N1 with reads that return at once: the far end stands for a device, not for a
// program under test.
HANDLE OpenFarEnd(int number) {
    HANDLE port = testsupport::OpenPort8N1(DeviceName(number).c_str(), CBR_9600);
    if (port == INVALID_HANDLE_VALUE) throw std::runtime_error("cannot open the far end");
    return port;
}

}  // namespace

TempDir::TempDir() {
    const std::filesystem::path base = std::filesystem::temp_directory_path();
    for (unsigned attempt = 0;; ++attempt) {
        const std::filesystem::path candidate =
            base / ("belvane-test-" + std::to_string(GetCurrentProcessId()) + "-" +
                    std::to_string(GetTickCount() + attempt));
        if (std::filesystem::create_directory(candidate)) {
            path_ = candidate.string();
            return;
        }
        if (attempt > 1000) throw std::runtime_error("cannot create a temporary folder");
    }
}

TempDir::~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

ScopedEnv::ScopedEnv(const char* name, const char* value) : name_(name) {
    const char* old = getenv(name);
    had_ = old != nullptr;
    if (had_) old_ = old;
    _putenv_s(name, value ? value : "");
}

ScopedEnv::~ScopedEnv() {
    _putenv_s(name_.c_str(), had_ ? old_.c_str() : "");
}

PtyPair::PtyPair() {
    const auto [port, farEnd] = NextLink();
    port_number_ = port;
    slave_path_ = "COM" + std::to_string(port);
    far_end_ = OpenFarEnd(farEnd);
}

PtyPair::~PtyPair() {
    CloseMaster();
}

void PtyPair::Write(const std::string& bytes) {
    size_t done = 0;
    while (done < bytes.size() && far_end_) {
        DWORD written = 0;
        if (!WriteFile(far_end_, bytes.data() + done, static_cast<DWORD>(bytes.size() - done),
                       &written, nullptr))
            throw std::runtime_error("write to the far end failed");
        done += written;
        if (written == 0) Sleep(1);
    }
}

// Reads return at once; the wait is a poll, as a test's far end needs no more.
std::string PtyPair::Read(size_t wantBytes, int timeoutMs) {
    std::string out;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (out.size() < wantBytes && far_end_) {
        char buffer[4096];
        DWORD got = 0;
        if (!ReadFile(far_end_, buffer, sizeof buffer, &got, nullptr)) break;
        out.append(buffer, got);
        if (got == 0) {
            if (std::chrono::steady_clock::now() >= deadline) break;
            Sleep(2);
        }
    }
    return out;
}

unsigned PtyPair::SlaveBaud() const {
    HANDLE port = CreateFileW(DeviceName(port_number_).c_str(), GENERIC_READ | GENERIC_WRITE, 0,
                              nullptr, OPEN_EXISTING, 0, nullptr);
    if (port == INVALID_HANDLE_VALUE) return 0;
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    const BOOL ok = GetCommState(port, &dcb);
    CloseHandle(port);
    return ok ? dcb.BaudRate : 0;
}

void PtyPair::CloseMaster() {
    if (far_end_) CloseHandle(far_end_);
    far_end_ = nullptr;
}

}  // namespace testsupport
