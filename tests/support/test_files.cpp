// The test helpers that need no operating system of their own: files read and written
// whole, and the platform's account of failures.
#include <fstream>
#include <sstream>

#include "platform/base/account.h"
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

}  // namespace testsupport
