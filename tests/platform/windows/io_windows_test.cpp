// The Windows backend of platform/io: text streams keep every byte as on Linux, the lock
// file excludes a second holder, the rewrite guard judges what a path names, and the device
// manager keeps its registry where a user may write and presents the machine's ports.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "platform/base/strings.h"
#include "platform/io/devices.h"
#include "platform/io/file_guard.h"
#include "platform/io/file_identity.h"
#include "platform/io/registry.h"
#include "platform/io/textfile.h"

namespace {

using String = std::basic_string<WCHAR>;

// A fresh folder under the temporary folder, removed with what is in it.
class TempFolder {
  public:
    TempFolder() {
        WCHAR base[MAX_PATH];
        GetTempPathW(MAX_PATH, base);
        path_ = String(base) + TEXT("belvane-") + std::to_wstring(GetCurrentProcessId());
        CreateDirectoryW(path_.c_str(), nullptr);
    }
    ~TempFolder() {
        WIN32_FIND_DATAW found;
        HANDLE walk = FindFirstFileW((path_ + TEXT("\\*")).c_str(), &found);
        if (walk != INVALID_HANDLE_VALUE) {
            do {
                const String name = found.cFileName;
                if (name == TEXT(".") || name == TEXT("..")) continue;
                if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                    RemoveDirectoryW(File(name).c_str());
                } else {
                    SetFileAttributesW(File(name).c_str(), FILE_ATTRIBUTE_NORMAL);
                    DeleteFileW(File(name).c_str());
                }
            } while (FindNextFileW(walk, &found));
            FindClose(walk);
        }
        RemoveDirectoryW(path_.c_str());
    }
    String File(const String& name) const { return path_ + TEXT("\\") + name; }

  private:
    String path_;
};

// The raw bytes, through the file's handle.
std::string ReadBytes(const String& path) {
    std::string bytes;
    HANDLE f = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                           nullptr);
    if (f == INVALID_HANDLE_VALUE) return bytes;
    char chunk[256];
    for (DWORD got; ReadFile(f, chunk, sizeof(chunk), &got, nullptr) && got > 0;)
        bytes.append(chunk, got);
    CloseHandle(f);
    return bytes;
}

void WriteBytes(const String& path, const std::string& bytes) {
    HANDLE f = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(f, INVALID_HANDLE_VALUE);
    DWORD written = 0;
    WriteFile(f, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    CloseHandle(f);
}

}  // namespace

// Whatever the bytes (CRLF and lone LF, UTF-8 of every length, broken sequences, a NUL),
// reading them as wide text and writing that text back gives the same bytes, as on Linux;
// the characters read are the UTF-16 of the text.
TEST(WindowsTextStreams, ReadThenWriteKeepsEveryByte) {
    TempFolder dir;
    const std::string original =
        "[Port]\r\nName=\xc3\xa9t\xc3\xa9 \xe2\x82\xac \xf0\x9f\x9b\xb0\nBad=\xff\xc3(\x00x\r\n";
    const std::string bytes(original.data(), original.size());
    WriteBytes(dir.File(TEXT("in.ini")), bytes);
    FILE* in = _wfopen(dir.File(TEXT("in.ini")).c_str(), TEXT("r"));
    ASSERT_NE(in, nullptr);
    FILE* out = _wfopen(dir.File(TEXT("out.ini")).c_str(), TEXT("w"));
    ASSERT_NE(out, nullptr);
    String text;
    for (WCHAR line[8]; fgetws(line, 8, in);) {
        text += line;
        ASSERT_GE(fputws(line, out), 0);
    }
    fclose(in);
    fclose(out);
    EXPECT_EQ(ReadBytes(dir.File(TEXT("out.ini"))), bytes);
    EXPECT_EQ(text.substr(0, 8), String(TEXT("[Port]\r\n")));
    EXPECT_NE(text.find(String(TEXT("\u00e9t\u00e9 \u20ac \U0001F6F0\n"))), String::npos);
}

// "wx" makes a new file only; "r" refuses a folder and a missing file.
TEST(WindowsTextStreams, ModesRefuseWhatTheyMust) {
    TempFolder dir;
    const String file = dir.File(TEXT("new.ini"));
    FILE* first = _wfopen(file.c_str(), TEXT("wx"));
    ASSERT_NE(first, nullptr);
    EXPECT_GE(fputws(TEXT("a=1\n"), first), 0);
    fclose(first);
    EXPECT_EQ(_wfopen(file.c_str(), TEXT("wx")), nullptr);
    EXPECT_EQ(ReadBytes(file), "a=1\n");
    CreateDirectoryW(dir.File(TEXT("sub")).c_str(), nullptr);
    EXPECT_EQ(_wfopen(dir.File(TEXT("sub")).c_str(), TEXT("r")), nullptr);
    EXPECT_EQ(_wfopen(dir.File(TEXT("none")).c_str(), TEXT("r")), nullptr);
    EXPECT_EQ(_wfopen(file.c_str(), TEXT("a")), nullptr);
}

TEST(WindowsFileGuard, JudgesLocksAndFollowsTheFile) {
    TempFolder dir;
    const String file = dir.File(TEXT("Belv.ini"));
    EXPECT_EQ(platform::CheckFileForRewrite(file.c_str()), platform::RewriteRefusal::Missing);
    WriteBytes(file, "x=1\n");
    EXPECT_EQ(platform::CheckFileForRewrite(file.c_str()), platform::RewriteRefusal::None);
    CreateDirectoryW(dir.File(TEXT("sub")).c_str(), nullptr);
    EXPECT_EQ(platform::CheckFileForRewrite(dir.File(TEXT("sub")).c_str()),
              platform::RewriteRefusal::Unreadable);
    const String copy = dir.File(TEXT("copy.ini"));
    WriteBytes(copy, "x=2\n");
    SetFileAttributesW(file.c_str(), FILE_ATTRIBUTE_READONLY);
    EXPECT_EQ(platform::CheckFileForRewrite(file.c_str()), platform::RewriteRefusal::ReadOnly);
    EXPECT_TRUE(platform::CopyFilePermissions(file.c_str(), copy.c_str()));
    EXPECT_EQ(platform::CheckFileForRewrite(copy.c_str()), platform::RewriteRefusal::ReadOnly);

    FILE* stream = _wfopen(file.c_str(), TEXT("r"));
    ASSERT_NE(stream, nullptr);
    EXPECT_TRUE(platform::PathNamesStream(file.c_str(), stream));
    EXPECT_FALSE(platform::PathNamesStream(copy.c_str(), stream));
    fclose(stream);
    const String final = platform::FinalPathName(file.c_str());
    ASSERT_GE(final.size(), 8u);
    EXPECT_EQ(final.substr(final.size() - 8), String(TEXT("Belv.ini")));

    const String lock = dir.File(TEXT("Belv.lock"));
    {
        platform::ExclusiveFileLock holder(lock.c_str(), 0);
        ASSERT_TRUE(holder.Held());
        platform::ExclusiveFileLock second(lock.c_str(), 50);
        EXPECT_FALSE(second.Held());
        EXPECT_EQ(second.Error(), static_cast<DWORD>(ERROR_BUSY));
    }
    platform::ExclusiveFileLock after(lock.c_str(), 0);
    EXPECT_TRUE(after.Held());
}

// The device manager's keys are the user's: writing under HKEY_LOCAL_MACHINE\Drivers
// lands under HKEY_CURRENT_USER, and each port Windows lists is in Drivers\Active.
TEST(WindowsDeviceManager, KeepsItsKeysWithTheUserAndListsThePorts) {
    HKEY map;
    std::vector<String> ports;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, TEXT("HARDWARE\\DEVICEMAP\\SERIALCOMM"), 0, KEY_READ,
                      &map) == ERROR_SUCCESS) {
        for (DWORD i = 0;; ++i) {
            WCHAR name[MAX_PATH], port[64];
            DWORD n = MAX_PATH, size = sizeof(port) - sizeof(WCHAR);
            if (RegEnumValueW(map, i, name, &n, nullptr, nullptr, reinterpret_cast<BYTE*>(port),
                              &size) != ERROR_SUCCESS)
                break;
            port[size / sizeof(WCHAR)] = 0;
            ports.push_back(String(port) + TEXT(":"));
        }
        RegCloseKey(map);
    }
    platform::StartDeviceManager();
    HKEY builtIn;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, TEXT("Drivers\\BuiltIn\\Trial"), 0, nullptr, 0,
                              KEY_ALL_ACCESS, nullptr, &builtIn, nullptr),
              ERROR_SUCCESS);
    const String dll = TEXT("no-such-driver.dll");
    RegSetValueExW(builtIn, TEXT("Dll"), 0, REG_SZ, reinterpret_cast<const BYTE*>(dll.c_str()),
                   static_cast<DWORD>((dll.size() + 1) * sizeof(WCHAR)));
    RegCloseKey(builtIn);
    HKEY user;
    EXPECT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER,
                            TEXT("Software\\Belvane\\Machine\\Drivers\\BuiltIn\\Trial"), 0,
                            KEY_READ, &user),
              ERROR_SUCCESS);
    RegCloseKey(user);
    // No Prefix, and a library that is not there: no device.
    EXPECT_EQ(ActivateDevice(TEXT("Drivers\\BuiltIn\\Trial"), 0), nullptr);

    std::vector<String> listed;
    HKEY active;
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, TEXT("Drivers\\Active"), 0, KEY_READ, &active),
              ERROR_SUCCESS);
    for (DWORD i = 0;; ++i) {
        WCHAR sub[32];
        DWORD n = 32;
        if (RegEnumKeyExW(active, i, sub, &n, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        HKEY entry;
        if (RegOpenKeyExW(active, sub, 0, KEY_READ, &entry) != ERROR_SUCCESS) continue;
        WCHAR name[64] = {};
        DWORD size = sizeof(name) - sizeof(WCHAR);
        RegQueryValueExW(entry, TEXT("Name"), nullptr, nullptr, reinterpret_cast<BYTE*>(name),
                         &size);
        listed.push_back(name);
        RegCloseKey(entry);
    }
    RegCloseKey(active);
    EXPECT_EQ(listed, ports);
}
