#include "platform/io/files.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <string>
#include <thread>

#include "internal/device_open.h"
#include "platform/base/strings.h"
#include "support/test_support.h"

namespace {

using testsupport::ReadFileBytes;
using testsupport::TempDir;
using testsupport::WriteFileBytes;

std::u16string Win(const std::string& hostPath) {
    return platform::WindowsPath(hostPath);
}

std::string ReadAll(HANDLE file) {
    std::string out;
    char buffer[4096];
    DWORD got = 0;
    while (ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got > 0) out.append(buffer, got);
    return out;
}

TEST(Paths, WindowsFormAndBack) {
    EXPECT_EQ(platform::HostPath(u"\\home\\ana\\nav\\Belv.ini"), "/home/ana/nav/Belv.ini");
    EXPECT_EQ(platform::HostPath(u"/mixed\\form/x"), "/mixed/form/x");
    EXPECT_EQ(platform::WindowsPath("/Storage Card/Nav/X.exe"), u"\\Storage Card\\Nav\\X.exe");
    const std::string utf8 = "/tmp/\xE5\xBA\x94\xE7\x94\xA8/a.ini";
    EXPECT_EQ(platform::HostPath(platform::WindowsPath(utf8).c_str()), utf8);
}

TEST(Paths, DeviceNames) {
    using platform::detail::IsDeviceName;
    for (const char16_t* yes : {u"COM3:", u"com0:", u"GPD12:"}) EXPECT_TRUE(IsDeviceName(yes));
    for (const char16_t* no :
         {u"COM:", u"3:", u"COM3", u"COM3:x", u"C:\\x", u"\\COM1:", u"", u"CO M1:", u"COM1a:"}) {
        EXPECT_FALSE(IsDeviceName(no)) << platform::ToUtf8(no);
    }
    EXPECT_FALSE(IsDeviceName(nullptr));
}

TEST(Files, CreateWriteReadWithBackslashPaths) {
    TempDir dir;
    const std::u16string path = Win(dir.file("a.bin"));
    HANDLE f = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
    ASSERT_NE(f, INVALID_HANDLE_VALUE);
    DWORD written = 0;
    EXPECT_TRUE(WriteFile(f, "hello\r\n\xFF", 8, &written, nullptr));
    EXPECT_EQ(written, 8u);
    EXPECT_TRUE(CloseHandle(f));
    EXPECT_FALSE(CloseHandle(f));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    EXPECT_FALSE(WriteFile(f, "x", 1, &written, nullptr));
    EXPECT_EQ(written, 0u);
    EXPECT_EQ(ReadFileBytes(dir.file("a.bin")), std::string("hello\r\n\xFF", 8));

    f = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                    nullptr);
    ASSERT_NE(f, INVALID_HANDLE_VALUE);
    EXPECT_EQ(ReadAll(f), std::string("hello\r\n\xFF", 8));
    DWORD got = 99;
    EXPECT_TRUE(ReadFile(f, &got, 1, &got, nullptr));  // at the end: success, nothing read
    EXPECT_EQ(got, 0u);
    EXPECT_FALSE(WriteFile(f, "x", 1, &written, nullptr));  // opened for reading only
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    CloseHandle(f);
}

TEST(Files, DispositionsAndErrors) {
    TempDir dir;
    WriteFileBytes(dir.file("old"), "old contents");
    const std::u16string old = Win(dir.file("old"));
    const std::u16string missing = Win(dir.file("missing"));

    EXPECT_EQ(CreateFileW(old.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr),
              INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_EXISTS));
    EXPECT_EQ(CreateFileW(missing.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr),
              INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));

    HANDLE f = CreateFileW(old.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(f, INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
    CloseHandle(f);
    EXPECT_EQ(ReadFileBytes(dir.file("old")), "");  // truncated

    f = CreateFileW(missing.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS, 0,
                    nullptr);
    ASSERT_NE(f, INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SUCCESS));
    CloseHandle(f);

    const std::u16string folder = Win(dir.path());
    EXPECT_EQ(CreateFileW(folder.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr),
              INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_EQ(CreateFileW(old.c_str(), GENERIC_READ, 0, nullptr, 99, 0, nullptr),
              INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

TEST(Files, DeleteAndAttributes) {
    TempDir dir;
    WriteFileBytes(dir.file("f"), "x");
    const std::u16string f = Win(dir.file("f"));
    EXPECT_EQ(GetFileAttributesW(f.c_str()), FILE_ATTRIBUTE_NORMAL);
    EXPECT_EQ(GetFileAttributesW(Win(dir.path()).c_str()), FILE_ATTRIBUTE_DIRECTORY);
    chmod(dir.file("f").c_str(), 0444);
    EXPECT_EQ(GetFileAttributesW(f.c_str()), FILE_ATTRIBUTE_READONLY);

    EXPECT_TRUE(DeleteFileW(f.c_str()));
    EXPECT_EQ(GetFileAttributesW(f.c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_FALSE(DeleteFileW(f.c_str()));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_FALSE(DeleteFileW(Win(dir.path()).c_str()));  // not a file
}

TEST(Moves, MoveFileNeverReplaces) {
    TempDir dir;
    WriteFileBytes(dir.file("a"), "A");
    WriteFileBytes(dir.file("b"), "B");
    EXPECT_FALSE(MoveFileW(Win(dir.file("a")).c_str(), Win(dir.file("b")).c_str()));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
    EXPECT_EQ(ReadFileBytes(dir.file("a")), "A");
    EXPECT_EQ(ReadFileBytes(dir.file("b")), "B");

    EXPECT_TRUE(MoveFileW(Win(dir.file("a")).c_str(), Win(dir.file("c")).c_str()));
    EXPECT_EQ(ReadFileBytes(dir.file("c")), "A");
    EXPECT_FALSE(std::filesystem::exists(dir.file("a")));
    EXPECT_FALSE(MoveFileW(Win(dir.file("a")).c_str(), Win(dir.file("d")).c_str()));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_FALSE(MoveFileExW(Win(dir.file("c")).c_str(), nullptr, 0));
}

TEST(Moves, ReplaceLeavesTheOldOrTheNewFileWholeAtAllTimes) {
    TempDir dir;
    const std::string a(100000, 'a');
    const std::string b(70000, 'b');
    const std::string target = dir.file("Belv.ini");
    WriteFileBytes(target, a);
    std::atomic<bool> done{false};
    std::atomic<int> bad{0}, reads{0};
    std::thread reader([&] {
        while (!done) {
            HANDLE f = CreateFileW(Win(target).c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0,
                                   nullptr);
            if (f == INVALID_HANDLE_VALUE) {
                ++bad;  // the target must never be missing
                continue;
            }
            std::string seen = ReadAll(f);
            CloseHandle(f);
            if (seen != a && seen != b) ++bad;
            ++reads;
        }
    });
    for (int i = 0; i < 200; ++i) {
        const std::string temp = dir.file("config_tmp");
        WriteFileBytes(temp, i % 2 ? a : b);
        DWORD flags = MOVEFILE_REPLACE_EXISTING | (i % 20 == 0 ? MOVEFILE_WRITE_THROUGH : 0);
        ASSERT_TRUE(MoveFileExW(Win(temp).c_str(), Win(target).c_str(), flags));
    }
    while (reads < 10) std::this_thread::yield();
    done = true;
    reader.join();
    EXPECT_EQ(bad.load(), 0);
    EXPECT_EQ(ReadFileBytes(target), a);
    EXPECT_FALSE(std::filesystem::exists(dir.file("config_tmp")));
}

// A directory on another file system than the temporary directory, if the machine has one.
std::string OtherFileSystemDir(const std::string& than) {
    struct stat a, b;
    if (stat(than.c_str(), &a) != 0) return {};
    for (const char* candidate : {"/dev/shm", "/run/user", "/var/tmp", "/tmp"}) {
        if (stat(candidate, &b) == 0 && a.st_dev != b.st_dev && access(candidate, W_OK) == 0) {
            return candidate;
        }
    }
    return {};
}

TEST(Moves, AcrossFileSystemsOnlyWhenCopyIsAllowed) {
    TempDir dir;
    std::string other = OtherFileSystemDir(dir.path());
    if (other.empty()) GTEST_SKIP() << "no second writable file system";
    std::string pattern = other + "/belvane-move-XXXXXX";
    int fd = mkstemp(pattern.data());
    ASSERT_GE(fd, 0);
    close(fd);
    WriteFileBytes(pattern, "payload");
    chmod(pattern.c_str(), 0640);
    WriteFileBytes(dir.file("target"), "old");
    const std::u16string from = Win(pattern), to = Win(dir.file("target"));

    EXPECT_FALSE(MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING));
    EXPECT_EQ(GetLastError(), 17u);  // ERROR_NOT_SAME_DEVICE
    EXPECT_FALSE(MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_COPY_ALLOWED));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
    EXPECT_EQ(ReadFileBytes(dir.file("target")), "old");
    EXPECT_TRUE(std::filesystem::exists(pattern));

    EXPECT_TRUE(
        MoveFileExW(from.c_str(), to.c_str(),
                    MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED | MOVEFILE_WRITE_THROUGH));
    EXPECT_EQ(ReadFileBytes(dir.file("target")), "payload");
    EXPECT_FALSE(std::filesystem::exists(pattern));
    struct stat st;
    ASSERT_EQ(stat(dir.file("target").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
    int entries = 0;
    for ([[maybe_unused]] auto& e : std::filesystem::directory_iterator(dir.path())) ++entries;
    EXPECT_EQ(entries, 1);  // no temporary file left behind
}

std::u16string ModuleName(HMODULE module, DWORD size = MAX_PATH) {
    std::u16string buffer(size, u'?');
    DWORD n = GetModuleFileNameW(module, buffer.data(), size);
    return n == 0 ? std::u16string() : std::u16string(buffer.c_str());
}

TEST(Modules, ProgramPathInBackslashForm) {
    char* real = realpath("/proc/self/exe", nullptr);
    ASSERT_NE(real, nullptr);
    const std::u16string expected = platform::WindowsPath(real);
    free(real);
    const std::u16string name = ModuleName(nullptr, 4096);
    EXPECT_EQ(name, expected);
    EXPECT_EQ(name.front(), u'\\');
    EXPECT_EQ(name.find(u'/'), std::u16string::npos);
    EXPECT_EQ(ModuleName(GetModuleHandleW(nullptr), 4096), name);

    // Too small: cut to size - 1, terminated, size returned with an error.
    WCHAR small[6];
    EXPECT_EQ(GetModuleFileNameW(nullptr, small, 6), 6u);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(std::u16string(small), name.substr(0, 5));
    // Exactly fitting with its terminator.
    std::u16string exact(name.size() + 1, u'?');
    EXPECT_EQ(GetModuleFileNameW(nullptr, exact.data(), static_cast<DWORD>(exact.size())),
              name.size());
    EXPECT_EQ(exact.back(), 0);
}

TEST(Modules, TestingOverrideAndLibraries) {
    platform::SetModuleFileNameForTesting(u"\\Storage Card\\Nav\\X.exe");
    EXPECT_EQ(ModuleName(nullptr), u"\\Storage Card\\Nav\\X.exe");
    platform::SetModuleFileNameForTesting(nullptr);
    EXPECT_NE(ModuleName(nullptr), u"\\Storage Card\\Nav\\X.exe");

    HMODULE libc = GetModuleHandleW(u"LIBC.so.6");
    ASSERT_NE(libc, nullptr);
    EXPECT_EQ(GetModuleHandleW(u"libc.so.6"), libc);
    const std::u16string libcName = ModuleName(libc, 4096);
    EXPECT_EQ(libcName.front(), u'\\');
    EXPECT_NE(libcName.find(u"libc"), std::u16string::npos);

    EXPECT_EQ(GetModuleHandleW(u"Morvex.dll"), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
    EXPECT_EQ(GetModuleHandleW(u"PLATFORM_IO_TESTS"), GetModuleHandleW(nullptr));
}

}  // namespace
