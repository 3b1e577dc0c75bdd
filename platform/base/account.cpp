// The account of failures: a short, ordered list without repeats, guarded by one lock.
#include "platform/base/account.h"

#include <algorithm>
#include <cstdarg>
#include <mutex>

#include "internal/log_file.h"
#include "platform/base/strings.h"

namespace platform {
namespace {

// Enough for every port of a scan and a few files; a longer account helps nobody.
constexpr size_t kMaxLines = 40;

struct Account {
    std::mutex mutex;
    std::vector<std::string> lines;
    size_t leftOut = 0;
};

Account& TheAccount() {
    static Account* account = new Account;  // lives until exit, also for late notes
    return *account;
}

}  // namespace

void Note(std::string_view line) {
    if (line.empty()) return;
    detail::WriteLogLine("failure: " + std::string(line));
    Account& a = TheAccount();
    std::lock_guard<std::mutex> lock(a.mutex);
    if (std::find(a.lines.begin(), a.lines.end(), line) != a.lines.end()) return;
    if (a.lines.size() >= kMaxLines) {
        ++a.leftOut;
        return;
    }
    a.lines.emplace_back(line);
}

std::vector<std::string> AccountLines(size_t* leftOut) {
    Account& a = TheAccount();
    std::lock_guard<std::mutex> lock(a.mutex);
    if (leftOut) *leftOut = a.leftOut;
    return a.lines;
}

void ClearAccount() {
    Account& a = TheAccount();
    std::lock_guard<std::mutex> lock(a.mutex);
    a.lines.clear();
    a.leftOut = 0;
}

bool Logging() {
    return detail::LogFileOpen();
}

void LogLine(std::string_view line) {
    detail::WriteLogLine(line);
}

void LogFormat(LPCWSTR format, ...) {
    if (!detail::LogFileOpen()) return;
    std::basic_string<WCHAR> text;
    va_list args;
    va_start(args, format);
    AppendFormatV(text, format, args);
    va_end(args);
    detail::WriteLogLine(ToUtf8(text));
}

}  // namespace platform
