// Path forms and device names: the portable half of the file layer.
#include <algorithm>

#include "internal/device_open.h"
#include "platform/base/strings.h"
#include "platform/io/files.h"

namespace platform::detail {

bool IsDeviceName(LPCWSTR name) {
    if (name == nullptr) return false;
    auto isLetter = [](WCHAR c) { return (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z'); };
    auto isDigit = [](WCHAR c) { return c >= u'0' && c <= u'9'; };
    size_t i = 0;
    while (isLetter(name[i])) ++i;
    if (i == 0) return false;
    size_t digits = i;
    while (isDigit(name[i])) ++i;
    return i > digits && name[i] == u':' && name[i + 1] == 0;
}

}  // namespace platform::detail

namespace platform {

std::string HostPath(LPCWSTR windowsPath) {
    if (windowsPath == nullptr) return {};
    std::string path = ToUtf8(windowsPath);
    std::replace(path.begin(), path.end(), '\\', '/');
    return path;
}

std::basic_string<WCHAR> WindowsPath(std::string_view hostPath) {
    std::basic_string<WCHAR> path = FromUtf8(hostPath);
    std::replace(path.begin(), path.end(), u'/', u'\\');
    return path;
}

}  // namespace platform
