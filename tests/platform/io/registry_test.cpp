#include "platform/io/registry.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "internal/registry_format.h"
#include "platform/base/account.h"
#include "platform/base/strings.h"
#include "support/test_support.h"

namespace {

using platform::detail::ParseRegText;
using testsupport::ReadFileBytes;
using testsupport::WriteFileBytes;

// A private registry file and empty device trees, so that nothing of the host is seen.
class RegistryTest : public ::testing::Test {
  protected:
    testsupport::TempDir dir;
    std::string file = dir.file("registry.reg");
    testsupport::ScopedEnv registry{"BELVANE_REGISTRY", file.c_str()};
    testsupport::ScopedEnv sysfs{"BELVANE_SYSFS_ROOT", dir.path().c_str()};
    testsupport::ScopedEnv dev{"BELVANE_DEV_ROOT", dir.path().c_str()};
    testsupport::ScopedEnv proc{"BELVANE_PROC_ROOT", dir.path().c_str()};
};

HKEY Create(HKEY root, const char16_t* path, REGSAM access = KEY_ALL_ACCESS) {
    HKEY key = nullptr;
    EXPECT_EQ(RegCreateKeyExW(root, path, 0, nullptr, 0, access, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    return key;
}

LONG SetString(HKEY key, const char16_t* name, std::u16string_view text) {
    return RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.data()),
                          static_cast<DWORD>((text.size() + 1) * 2));
}

LONG SetDword(HKEY key, const char16_t* name, DWORD value) {
    return RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), 4);
}

std::u16string GetString(HKEY root, const char16_t* path, const char16_t* name) {
    HKEY key;
    if (RegOpenKeyExW(root, path, 0, KEY_READ, &key) != ERROR_SUCCESS) return u"<no key>";
    char16_t buf[256] = {};
    DWORD size = sizeof buf - 2, type = 0;
    LONG status = RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(buf), &size);
    RegCloseKey(key);
    return status == ERROR_SUCCESS ? std::u16string(buf) : u"<no value>";
}

TEST(RegistryFormat, RoundTripsEveryTypeAndEscape) {
    const std::string text =
        "Windows Registry Editor Version 5.00\n"
        "\n"
        "[HKEY_LOCAL_MACHINE\\Drivers\\BuiltIn\\Serial1]\n"
        "\"Prefix\"=\"COM\"\n"
        "\"Index\"=dword:0000000a\n"
        "\"Path\"=\"C:\\\\dir \\\"quoted\\\"\"\n"
        "@=\"default\"\n"
        "\"Bytes\"=hex:01,ff,\\\n"
        "  10\n"
        "\"Multi\"=hex(7):61,00,00,00,00,00\n"
        "\"Zero\"=hex(1):\n";
    auto parsed = ParseRegText(text);
    ASSERT_TRUE(parsed.problems.empty()) << parsed.problems[0];
    const auto& key = parsed.keys.at(u"hkey_local_machine\\drivers\\builtin\\serial1");
    ASSERT_EQ(key.values.size(), 7u);
    EXPECT_EQ(platform::detail::DataString(key.values[2].data), u"C:\\dir \"quoted\"");
    EXPECT_EQ(key.values[3].name, u"");
    EXPECT_EQ(key.values[4].data, (std::vector<BYTE>{1, 0xff, 0x10}));
    EXPECT_EQ(key.values[5].type, static_cast<DWORD>(REG_MULTI_SZ));
    EXPECT_TRUE(parsed.keys.count(u"hkey_local_machine\\drivers"));  // parents exist
    // Written and read again, nothing changes (REG_SZ without terminator stays hex).
    auto again = ParseRegText(platform::detail::FormatRegText(parsed.keys));
    ASSERT_TRUE(again.problems.empty());
    const auto& key2 = again.keys.at(u"hkey_local_machine\\drivers\\builtin\\serial1");
    ASSERT_EQ(key2.values.size(), key.values.size());
    for (size_t i = 0; i < key.values.size(); ++i) {
        EXPECT_EQ(key2.values[i].name, key.values[i].name);
        EXPECT_EQ(key2.values[i].type, key.values[i].type);
        EXPECT_EQ(key2.values[i].data, key.values[i].data);
    }
    std::string written = platform::detail::FormatRegText(parsed.keys);
    EXPECT_NE(written.find("\"Index\"=dword:0000000a\n"), std::string::npos);
    EXPECT_NE(written.find("\"Prefix\"=\"COM\"\n"), std::string::npos);
}

TEST(RegistryFormat, KeepsWhatCanBeReadAndNamesTheRest) {
    auto parsed = ParseRegText(
        "Windows Registry Editor Version 5.00\n"
        "[HKEY_LOCAL_MACHINE\\Good]\n"
        "\"A\"=\"1\"\n"
        "\"B\"=\"unterminated\n"
        "garbage\n"
        "\"C\"=dword:xyz\n"
        "[HKEY_NOWHERE\\Bad]\n"
        "\"D\"=\"lost\"\n"
        "[HKLM\\Good]\n"
        "\"E\"=\"2\"\n");
    EXPECT_EQ(parsed.problems.size(), 4u);
    EXPECT_EQ(parsed.problems[0].rfind("line 4:", 0), 0u);
    const auto& key = parsed.keys.at(u"hkey_local_machine\\good");
    ASSERT_EQ(key.values.size(), 2u);
    EXPECT_EQ(key.values[1].name, u"E");
    EXPECT_FALSE(ParseRegText("").problems.empty());  // an empty file is not a registry
}

TEST_F(RegistryTest, ValuesAndKeysIgnoreCaseButKeepIt) {
    DWORD disposition = 0;
    HKEY key;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"Software\\Belvane\\Ports\\", 0, nullptr, 0,
                              KEY_ALL_ACCESS, nullptr, &key, &disposition),
              ERROR_SUCCESS);
    EXPECT_EQ(disposition, static_cast<DWORD>(REG_CREATED_NEW_KEY));
    EXPECT_EQ(SetString(key, u"Name", u"first"), ERROR_SUCCESS);
    EXPECT_EQ(SetString(key, u"NAME", u"second"), ERROR_SUCCESS);  // the same value
    RegCloseKey(key);
    HKEY again;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"SOFTWARE\\belvane\\ports", 0, nullptr, 0,
                              KEY_READ, nullptr, &again, &disposition),
              ERROR_SUCCESS);
    EXPECT_EQ(disposition, static_cast<DWORD>(REG_OPENED_EXISTING_KEY));
    EXPECT_EQ(RegEnumValueW(again, 1, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr),
              ERROR_NO_MORE_ITEMS);
    RegCloseKey(again);
    EXPECT_EQ(GetString(HKEY_LOCAL_MACHINE, u"software\\BELVANE\\Ports", u"name"), u"second");
    std::string text = ReadFileBytes(file);
    EXPECT_NE(text.find("[HKEY_LOCAL_MACHINE\\Software\\Belvane\\Ports]\n\"Name\"=\"second\""),
              std::string::npos)
        << text;
    HKEY missing;
    EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"Software\\Nothing", 0, KEY_READ, &missing),
              ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"\\Software", 0, KEY_READ, &missing),
              ERROR_INVALID_PARAMETER);
}

TEST_F(RegistryTest, QueryReportsSizeAndNeverOverruns) {
    HKEY key = Create(HKEY_CURRENT_USER, u"Test");
    ASSERT_EQ(SetString(key, u"Text", u"hello"), ERROR_SUCCESS);
    DWORD type = 0, size = 0;
    EXPECT_EQ(RegQueryValueExW(key, u"Text", nullptr, &type, nullptr, &size), ERROR_SUCCESS);
    EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(size, 12u);
    BYTE buf[16];
    std::memset(buf, 0xAA, sizeof buf);
    size = 11;
    EXPECT_EQ(RegQueryValueExW(key, u"Text", nullptr, &type, buf, &size), ERROR_MORE_DATA);
    EXPECT_EQ(size, 12u);
    for (BYTE b : buf) EXPECT_EQ(b, 0xAA);  // nothing written at all
    size = 12;
    EXPECT_EQ(RegQueryValueExW(key, u"Text", nullptr, &type, buf, &size), ERROR_SUCCESS);
    EXPECT_EQ(std::u16string(reinterpret_cast<char16_t*>(buf)), u"hello");
    EXPECT_EQ(buf[12], 0xAA);
    EXPECT_EQ(RegQueryValueExW(key, u"Other", nullptr, &type, nullptr, &size),
              ERROR_FILE_NOT_FOUND);
    ASSERT_EQ(SetDword(key, nullptr, 42), ERROR_SUCCESS);  // the default value
    DWORD value = 0;
    size = sizeof value;
    EXPECT_EQ(RegQueryValueExW(key, u"", nullptr, &type, reinterpret_cast<BYTE*>(&value), &size),
              ERROR_SUCCESS);
    EXPECT_EQ(value, 42u);
    EXPECT_EQ(type, static_cast<DWORD>(REG_DWORD));
    RegCloseKey(key);
}

TEST_F(RegistryTest, AccessRightsAreEnforced) {
    RegCloseKey(Create(HKEY_LOCAL_MACHINE, u"Drivers\\BuiltIn\\Serial1"));
    HKEY reader;
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"Drivers\\BuiltIn", 0, KEY_READ, &reader),
              ERROR_SUCCESS);
    EXPECT_EQ(SetString(reader, u"X", u"y"), ERROR_ACCESS_DENIED);
    EXPECT_EQ(RegDeleteKeyW(reader, u"Serial1"), ERROR_ACCESS_DENIED);
    EXPECT_EQ(RegDeleteValueW(reader, u"X"), ERROR_ACCESS_DENIED);
    HKEY created;
    EXPECT_EQ(
        RegCreateKeyExW(reader, u"New", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &created, nullptr),
        ERROR_ACCESS_DENIED);
    HKEY writer;
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"Drivers\\BuiltIn", 0, KEY_WRITE, &writer),
              ERROR_SUCCESS);
    DWORD size = 0;
    EXPECT_EQ(SetString(writer, u"X", u"y"), ERROR_SUCCESS);
    EXPECT_EQ(RegQueryValueExW(writer, u"X", nullptr, nullptr, nullptr, &size),
              ERROR_ACCESS_DENIED);
    RegCloseKey(writer);
    RegCloseKey(reader);
    EXPECT_EQ(RegCloseKey(reader), ERROR_INVALID_HANDLE);
    EXPECT_EQ(SetString(reader, u"X", u"y"), ERROR_INVALID_HANDLE);
}

// Every call on an open key goes through one check of the handle and its rights: a sweep
// of every call over handles with each single right, a closed handle and a deleted key.
TEST_F(RegistryTest, EveryCallChecksItsHandleAndRights) {
    auto reset = [] {  // Sweep with the value V, the sub-key Sub and no sub-key New
        HKEY key = Create(HKEY_LOCAL_MACHINE, u"Sweep\\Sub");
        RegCloseKey(key);
        key = Create(HKEY_LOCAL_MACHINE, u"Sweep");
        SetDword(key, u"V", 1);
        RegCloseKey(key);
        RegDeleteKeyW(HKEY_LOCAL_MACHINE, u"Sweep\\New");
    };
    using Call = std::function<LONG(HKEY)>;
    const std::vector<std::pair<REGSAM, Call>> calls = {
        {KEY_CREATE_SUB_KEY,
         [](HKEY key) {
             HKEY created = nullptr;
             LONG status =
                 RegCreateKeyExW(key, u"New", 0, nullptr, 0, KEY_READ, nullptr, &created, nullptr);
             if (status == ERROR_SUCCESS) RegCloseKey(created);
             return status;
         }},
        {0,
         [](HKEY key) {
             HKEY opened = nullptr;
             LONG status = RegOpenKeyExW(key, u"Sub", 0, KEY_READ, &opened);
             if (status == ERROR_SUCCESS) RegCloseKey(opened);
             return status;
         }},
        {KEY_SET_VALUE, [](HKEY key) { return SetDword(key, u"W", 2); }},
        {KEY_QUERY_VALUE,
         [](HKEY key) {
             DWORD size = 0;
             return RegQueryValueExW(key, u"V", nullptr, nullptr, nullptr, &size);
         }},
        {KEY_ENUMERATE_SUB_KEYS,
         [](HKEY key) {
             char16_t name[16];
             DWORD length = 16;
             return RegEnumKeyExW(key, 0, name, &length, nullptr, nullptr, nullptr, nullptr);
         }},
        {KEY_QUERY_VALUE,
         [](HKEY key) {
             char16_t name[16];
             DWORD length = 16;
             return RegEnumValueW(key, 0, name, &length, nullptr, nullptr, nullptr, nullptr);
         }},
        {KEY_SET_VALUE, [](HKEY key) { return RegDeleteValueW(key, u"V"); }},
        {KEY_SET_VALUE | KEY_CREATE_SUB_KEY, [](HKEY key) { return RegDeleteKeyW(key, u"Sub"); }},
    };
    const REGSAM rights[] = {
        0, KEY_QUERY_VALUE, KEY_SET_VALUE, KEY_CREATE_SUB_KEY, KEY_ENUMERATE_SUB_KEYS, KEY_NOTIFY};
    for (size_t i = 0; i < calls.size(); ++i) {
        const auto& [needed, call] = calls[i];
        for (REGSAM right : rights) {
            reset();
            HKEY key;
            ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"Sweep", 0, right, &key), ERROR_SUCCESS);
            LONG expected = !needed || (needed & right) ? ERROR_SUCCESS : ERROR_ACCESS_DENIED;
            EXPECT_EQ(call(key), expected) << "call " << i << ", right " << right;
            RegCloseKey(key);
            EXPECT_EQ(call(key), ERROR_INVALID_HANDLE) << "call " << i;
        }
        reset();
        HKEY gone = Create(HKEY_LOCAL_MACHINE, u"Sweep\\Gone");
        ASSERT_EQ(RegDeleteKeyW(HKEY_LOCAL_MACHINE, u"Sweep\\Gone"), ERROR_SUCCESS);
        EXPECT_EQ(call(gone), ERROR_KEY_DELETED) << "call " << i;
        RegCloseKey(gone);
    }
}

TEST_F(RegistryTest, EnumeratesSubKeysWithWin32Lengths) {
    RegCloseKey(Create(HKEY_LOCAL_MACHINE, u"Enum\\Bravo"));
    RegCloseKey(Create(HKEY_LOCAL_MACHINE, u"Enum\\alpha\\Deeper"));
    HKEY key;
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"Enum", 0, KEY_READ, &key), ERROR_SUCCESS);
    char16_t name[8];
    DWORD length = 8;
    ASSERT_EQ(RegEnumKeyExW(key, 0, name, &length, nullptr, nullptr, nullptr, nullptr),
              ERROR_SUCCESS);
    EXPECT_EQ(std::u16string(name), u"alpha");
    EXPECT_EQ(length, 5u);
    // "Bravo" needs 6 characters with its terminator: 5 is too few and nothing is written.
    std::fill(std::begin(name), std::end(name), u'#');
    length = 5;
    EXPECT_EQ(RegEnumKeyExW(key, 1, name, &length, nullptr, nullptr, nullptr, nullptr),
              ERROR_MORE_DATA);
    EXPECT_EQ(name[0], u'#');
    length = 6;
    EXPECT_EQ(RegEnumKeyExW(key, 1, name, &length, nullptr, nullptr, nullptr, nullptr),
              ERROR_SUCCESS);
    EXPECT_EQ(std::u16string(name), u"Bravo");
    length = 8;
    EXPECT_EQ(RegEnumKeyExW(key, 2, name, &length, nullptr, nullptr, nullptr, nullptr),
              ERROR_NO_MORE_ITEMS);
    RegCloseKey(key);
}

TEST_F(RegistryTest, DeletesValuesAndLeafKeys) {
    HKEY key = Create(HKEY_LOCAL_MACHINE, u"Del\\Leaf");
    ASSERT_EQ(SetDword(key, u"V", 1), ERROR_SUCCESS);
    EXPECT_EQ(RegDeleteValueW(key, u"v"), ERROR_SUCCESS);
    EXPECT_EQ(RegDeleteValueW(key, u"v"), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegDeleteKeyW(HKEY_LOCAL_MACHINE, u"Del"), ERROR_ACCESS_DENIED);  // has a sub-key
    EXPECT_EQ(RegDeleteKeyW(HKEY_LOCAL_MACHINE, u"Del\\Leaf"), ERROR_SUCCESS);
    EXPECT_EQ(SetDword(key, u"V", 1), ERROR_KEY_DELETED);  // the open handle is stale now
    RegCloseKey(key);
    EXPECT_EQ(RegDeleteKeyW(HKEY_LOCAL_MACHINE, u"Del"), ERROR_SUCCESS);
    EXPECT_EQ(ReadFileBytes(file).find("Del"), std::string::npos);
}

TEST_F(RegistryTest, VolatileKeysStayInThisProcess) {
    HKEY key = Create(HKEY_LOCAL_MACHINE, u"Drivers\\Active\\77");
    ASSERT_EQ(SetString(key, u"Name", u"COM7:"), ERROR_SUCCESS);
    RegCloseKey(key);
    RegCloseKey(Create(HKEY_LOCAL_MACHINE, u"Drivers\\Kept"));
    EXPECT_EQ(ReadFileBytes(file).find("Active"), std::string::npos);
    EXPECT_EQ(GetString(HKEY_LOCAL_MACHINE, u"Drivers\\Active\\77", u"Name"), u"COM7:");
    // Active keys in the file are not taken either.
    WriteFileBytes(file,
                   "Windows Registry Editor Version 5.00\n[HKEY_LOCAL_MACHINE\\Drivers\\Active\\"
                   "99]\n\"Name\"=\"COM9:\"\n");
    EXPECT_EQ(GetString(HKEY_LOCAL_MACHINE, u"Drivers\\Active\\99", u"Name"), u"<no key>");
    EXPECT_EQ(GetString(HKEY_LOCAL_MACHINE, u"Drivers\\Active\\77", u"Name"), u"COM7:");
    EXPECT_EQ(RegDeleteKeyW(HKEY_LOCAL_MACHINE, u"Drivers\\Active\\77"), ERROR_SUCCESS);
}

// Runs body in a child process and returns its exit status.
template <class Body>
int InChild(Body body) {
    pid_t pid = fork();
    if (pid == 0) _exit(body());
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST_F(RegistryTest, OtherProcessesSeeEachOthersWrites) {
    HKEY key = Create(HKEY_CURRENT_USER, u"Shared");
    ASSERT_EQ(SetString(key, u"FromParent", u"p"), ERROR_SUCCESS);
    int rc = InChild([&] {
        HKEY k;
        if (RegOpenKeyExW(HKEY_CURRENT_USER, u"Shared", 0, KEY_ALL_ACCESS, &k)) return 1;
        if (GetString(HKEY_CURRENT_USER, u"Shared", u"FromParent") != u"p") return 2;
        return SetString(k, u"FromChild", u"c") == ERROR_SUCCESS ? 0 : 3;
    });
    ASSERT_EQ(rc, 0);
    EXPECT_EQ(GetString(HKEY_CURRENT_USER, u"Shared", u"FromChild"), u"c");
    // Writers in two processes at once lose nothing: each write starts from the latest file.
    auto writer = [&](const char16_t* prefix) {
        return [&, prefix] {
            HKEY k;
            if (RegOpenKeyExW(HKEY_CURRENT_USER, u"Shared", 0, KEY_ALL_ACCESS, &k)) return 1;
            for (int i = 0; i < 40; ++i) {
                std::u16string name = prefix + platform::FromUtf8(std::to_string(i));
                if (SetDword(k, name.c_str(), static_cast<DWORD>(i))) return 2;
            }
            return 0;
        };
    };
    pid_t a = fork();
    if (a == 0) _exit(writer(u"a")());
    int rcB = InChild(writer(u"b"));
    int statusA = 0;
    waitpid(a, &statusA, 0);
    ASSERT_EQ(rcB, 0);
    ASSERT_TRUE(WIFEXITED(statusA) && WEXITSTATUS(statusA) == 0);
    DWORD count = 0;
    while (RegEnumValueW(key, count, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr) !=
           ERROR_NO_MORE_ITEMS)
        ++count;
    EXPECT_EQ(count, 82u);
    RegCloseKey(key);
}

TEST_F(RegistryTest, ReadersNeverSeeAHalfWrittenFile) {
    HKEY key = Create(HKEY_CURRENT_USER, u"Big");
    std::u16string payload(2000, u'x');
    ASSERT_EQ(SetString(key, u"V0", payload), ERROR_SUCCESS);
    pid_t child = fork();
    if (child == 0) {
        for (int i = 1; i < 60; ++i) {
            std::u16string name = u"V";
            name += platform::FromUtf8(std::to_string(i));
            SetString(key, name.c_str(), payload);
        }
        _exit(0);
    }
    int bad = 0, status = 0;
    while (waitpid(child, &status, WNOHANG) == 0) {
        auto parsed = ParseRegText(ReadFileBytes(file));
        if (!parsed.problems.empty()) ++bad;
    }
    EXPECT_EQ(bad, 0);
    // No temporary files are left behind.
    for (const auto& entry : std::filesystem::directory_iterator(dir.path()))
        EXPECT_EQ(entry.path().filename().string().find(".registry.tmp"), std::string::npos);
    RegCloseKey(key);
}

TEST_F(RegistryTest, AFailedWriteChangesNothing) {
    HKEY key = Create(HKEY_CURRENT_USER, u"Stays");
    ASSERT_EQ(SetString(key, u"A", u"1"), ERROR_SUCCESS);
    RegCloseKey(key);
    // A directory where the file should be: the replacement cannot be renamed into place.
    std::string blocked = dir.file("blocked.reg");
    std::filesystem::create_directory(blocked);
    testsupport::ScopedEnv other("BELVANE_REGISTRY", blocked.c_str());
    HKEY created = nullptr;
    EXPECT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, u"New", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                              &created, nullptr),
              ERROR_CANTWRITE);
    HKEY probe;
    EXPECT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, u"New", 0, KEY_READ, &probe), ERROR_FILE_NOT_FOUND);
}

// A file whose folder cannot hold it (read-only, or as here, for the superuser too, no
// folder at all) fails the write and says so in the account.
TEST_F(RegistryTest, AnUnwritableFolderIsReported) {
    WriteFileBytes(dir.file("plain"), "");
    const std::string unwritable = dir.file("plain") + "/registry.reg";
    testsupport::ScopedEnv other("BELVANE_REGISTRY", unwritable.c_str());
    platform::ClearAccount();
    HKEY created = nullptr;
    EXPECT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, u"New", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                              &created, nullptr),
              ERROR_CANTWRITE);
    std::vector<std::string> account = platform::AccountLines();
    ASSERT_FALSE(account.empty());
    EXPECT_EQ(account.back(), "cannot lock the registry file " + unwritable +
                                  " (Not a directory); the change is not written");
}

TEST_F(RegistryTest, DamagedFileIsReportedKeptAndNotLost) {
    const std::string damaged =
        "Windows Registry Editor Version 5.00\n"
        "[HKEY_LOCAL_MACHINE\\Software\\Good]\n"
        "\"Kept\"=\"yes\"\n"
        "\"Broken\"=\"no end\n"
        "\x01\x02 binary junk\n";
    WriteFileBytes(file, damaged);
    platform::ClearAccount();
    // Nothing is written while the program runs (a dialog may be on the screen): the
    // damage and the kept copy are told in the account, which the entry prints at the end.
    testing::internal::CaptureStderr();
    EXPECT_EQ(GetString(HKEY_LOCAL_MACHINE, u"Software\\Good", u"Kept"), u"yes");
    EXPECT_EQ(ReadFileBytes(file), damaged);  // reading never rewrites it
    HKEY key = Create(HKEY_LOCAL_MACHINE, u"Software\\Good");
    ASSERT_EQ(SetString(key, u"New", u"1"), ERROR_SUCCESS);
    RegCloseKey(key);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    std::vector<std::string> account = platform::AccountLines();
    ASSERT_EQ(account.size(), 2u);
    EXPECT_NE(account[0].find(file + " is damaged (line 4"), std::string::npos) << account[0];
    int copies = 0;
    for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
        if (entry.path().filename().string().rfind("registry.reg.damaged-", 0) == 0) {
            ++copies;
            EXPECT_EQ(ReadFileBytes(entry.path()), damaged);
            EXPECT_EQ(account[1], "the damaged registry file was kept as " + entry.path().string());
        }
    }
    EXPECT_EQ(copies, 1);
    auto parsed = ParseRegText(ReadFileBytes(file));
    EXPECT_TRUE(parsed.problems.empty());
    EXPECT_EQ(parsed.keys.at(u"hkey_local_machine\\software\\good").values.size(), 2u);
}

}  // namespace
