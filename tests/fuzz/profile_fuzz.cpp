// The profile store's read and rewrite on fuzzed files. Input: three lines give the
// section, the key and the value (a first byte of the value line picks the type), the rest
// is the file Belv.ini in a private program directory.
//
// Checked: reads of every type stay inside the caller's buffer and terminate text; a
// rewrite that fails leaves the file byte for byte as it was and no temporary copy; a
// rewrite that succeeds changed exactly one place: the new file is P + E + S where the old
// one is P + R + S, E the entry line (after a line feed that ends a last unterminated
// line), R empty or the one piece that held the entry before; and the value reads back.
// Keys starting with ';' or '[' are left out: such an entry reads as a comment or a header.
// Files holding a NUL byte are left out of the one-place check: a piece is handed on as a
// NUL-terminated string, so a rewrite drops the rest of a piece after a NUL.
// Also checked: the file read with fgetws and written back with fputws, piece by piece as
// the store does, comes back byte for byte (NUL bytes, invalid bytes and supplementary
// characters such as U+20000, whose second half is the NUL escape's code unit, included).
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>

#include "config/profile.h"
#include "fuzz_check.h"
#include "platform/base/strings.h"
#include "platform/io/files.h"
#include "platform/io/textfile.h"
#include "support/one_place_change.h"

namespace {

std::string g_dir;
std::u16string g_ini;

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void WriteAll(const std::string& path, std::string_view bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string_view TakeLine(std::string_view& rest, size_t max) {
    size_t end = rest.find('\n');
    if (end == std::string_view::npos) end = rest.size();
    const std::string_view line = rest.substr(0, std::min(end, max));
    rest.remove_prefix(std::min(end + 1, rest.size()));
    return line;
}

// The text of a NUL-terminated UTF-16 string, up to its first NUL.
std::u16string Wide(std::string_view bytes) {
    std::u16string w = platform::FromUtf8(bytes);
    return w.substr(0, w.find(u'\0'));
}

void CheckReads(const std::u16string& section, const std::u16string& key) {
    // A text read of capacity 5 between guards.
    WCHAR area[16];
    for (WCHAR& c : area) c = 0x5A5A;
    int rc = ReadProfileValue(g_ini.c_str(), section.c_str(), key.c_str(), area + 4, 5,
                              PROFILE_TYPE_TEXT);
    for (int g = 0; g < 4; ++g) FUZZ_CHECK(area[g] == 0x5A5A && area[9 + g] == 0x5A5A);
    if (rc == PROFILE_OK) FUZZ_CHECK(wcsnlen(area + 4, 5) < 5);
    // Numbers go to exactly sized, unaligned places.
    unsigned char bytes[1 + sizeof(double)];
    ReadProfileValue(g_ini.c_str(), section.c_str(), key.c_str(), bytes + 1, 1, PROFILE_TYPE_INT);
    ReadProfileValue(g_ini.c_str(), section.c_str(), key.c_str(), bytes + 1, 1,
                     PROFILE_TYPE_DOUBLE);
}

// Copies Belv.ini to config_tmp through the text streams, in the store's piece size.
void CheckTextRoundTrip(const std::string& before) {
    const std::u16string copyPath = platform::WindowsPath(g_dir + "/config_tmp");
    FILE* in = _wfopen(g_ini.c_str(), u"r");
    FILE* out = _wfopen(copyPath.c_str(), u"w");
    FUZZ_CHECK(in != nullptr && out != nullptr);
    WCHAR piece[255];
    while (fgetws(piece, 255, in) != nullptr) FUZZ_CHECK(fputws(piece, out) >= 0);
    FUZZ_CHECK(!ferror(in));
    fclose(in);
    fclose(out);
    FUZZ_CHECK(ReadAll(g_dir + "/config_tmp") == before);
    unlink((g_dir + "/config_tmp").c_str());
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    char pattern[] = "/tmp/profile_fuzz_XXXXXX";
    const char* made = mkdtemp(pattern);
    if (made == nullptr) std::abort();
    g_dir = made;
    platform::SetModuleFileNameForTesting(platform::WindowsPath(g_dir + "/Belvane.exe").c_str());
    g_ini = platform::WindowsPath(g_dir + "/Belv.ini");
    // Removed at exit; a crash leaves it for inspection.
    std::atexit([] {
        unlink((g_dir + "/Belv.ini").c_str());
        unlink((g_dir + "/config_tmp").c_str());
        rmdir(g_dir.c_str());
    });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (g_dir.empty()) LLVMFuzzerInitialize(nullptr, nullptr);
    std::string_view rest(reinterpret_cast<const char*>(data), size);
    const std::u16string section = Wide(TakeLine(rest, 40));
    const std::u16string key = Wide(TakeLine(rest, 40));
    std::string_view valueLine = TakeLine(rest, 300);
    const int type = valueLine.empty() ? PROFILE_TYPE_TEXT : valueLine[0] % 3;
    if (!valueLine.empty()) valueLine.remove_prefix(1);
    const std::u16string text = Wide(valueLine);
    const std::string before(rest);
    const std::string iniPath = g_dir + "/Belv.ini";
    WriteAll(iniPath, before);

    CheckReads(section, key);
    FUZZ_CHECK(ReadAll(iniPath) == before);
    CheckTextRoundTrip(before);

    int32_t number = static_cast<int32_t>(_wtol(text.c_str()));
    double real = wcstod(text.c_str(), nullptr);
    const void* value = type == PROFILE_TYPE_INT      ? static_cast<const void*>(&number)
                        : type == PROFILE_TYPE_DOUBLE ? static_cast<const void*>(&real)
                                                      : static_cast<const void*>(text.c_str());
    const int rc = WriteProfileValue(g_ini.c_str(), section.c_str(), key.c_str(), value, type);
    const std::string after = ReadAll(iniPath);
    struct stat st {};
    FUZZ_CHECK(stat((g_dir + "/config_tmp").c_str(), &st) != 0);
    if (rc != PROFILE_OK) {
        FUZZ_CHECK(after == before);
        return 0;
    }
    const bool plainKey = key.empty() || (key[0] != u';' && key[0] != u'[');
    if (!plainKey || before.find('\0') != std::string::npos) return 0;
    WCHAR back[300];
    FUZZ_CHECK(ReadProfileValue(g_ini.c_str(), section.c_str(), key.c_str(), back, 300,
                                PROFILE_TYPE_TEXT) == PROFILE_OK);
    std::u16string entry = key + u"=" + back + u"\n";
    FUZZ_CHECK(testsupport::OnePlaceChanged(before, after, platform::ToUtf8(entry),
                                            platform::ToUtf8(key)));
    if (type == PROFILE_TYPE_TEXT) {
        FUZZ_CHECK(back == text);
    } else if (type == PROFILE_TYPE_INT) {
        int32_t readBack = 0;
        FUZZ_CHECK(ReadProfileValue(g_ini.c_str(), section.c_str(), key.c_str(), &readBack, 1,
                                    PROFILE_TYPE_INT) == PROFILE_OK);
        FUZZ_CHECK(readBack == number);
    } else if (std::isfinite(real)) {
        double readBack = 0;
        FUZZ_CHECK(ReadProfileValue(g_ini.c_str(), section.c_str(), key.c_str(), &readBack, 1,
                                    PROFILE_TYPE_DOUBLE) == PROFILE_OK);
        FUZZ_CHECK(std::memcmp(&readBack, &real, sizeof real) == 0);
    }
    return 0;
}
