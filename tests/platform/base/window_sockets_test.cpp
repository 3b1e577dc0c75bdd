// Windows found across programs: the socket folder's checks and what may stand in the
// socket's place. Everything runs in a runtime folder of the test's own.
#include "platform/base/detail/window_sockets.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "internal/runtime_folder.h"
#include "platform/base/account.h"
#include "platform/base/messages.h"
#include "support/test_support.h"

namespace {

using platform::detail::WindowClassListening;
using platform::detail::WindowClassProcess;
using platform::detail::WindowSocketFolder;

constexpr uid_t kOtherUser = 65534;
const std::u16string kClass = u"Socket Test";  // the space takes the file name's escape

// A socket file at path that nobody listens on, as a program that ended leaves it.
void StaleSocket(const std::string& path) {
    int fd = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strcpy(address.sun_path, path.c_str());
    ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    close(fd);
}

mode_t ModeOf(const std::string& path) {
    struct stat st {};
    EXPECT_EQ(lstat(path.c_str(), &st), 0) << path;
    return st.st_mode;
}

class WindowSockets : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        WNDCLASSW cls{};
        cls.lpfnWndProc = DefWindowProcW;
        cls.lpszClassName = kClass.c_str();
        RegisterClassW(&cls);
    }

    HWND Create() {
        return CreateWindowExW(0, kClass.c_str(), u"", 0, 0, 0, 0, 0, nullptr, nullptr, nullptr,
                               nullptr);
    }
    std::string Folder() const { return runtime.file("belvane"); }
    std::string Socket() const { return Folder() + "/window-socket_0020test"; }
    void MakeFolder() const { ASSERT_EQ(mkdir(Folder().c_str(), 0700), 0); }

    testsupport::TempDir runtime;
    testsupport::ScopedEnv env{"XDG_RUNTIME_DIR", runtime.path().c_str()};
};

TEST_F(WindowSockets, AWindowListensInAPrivateFolderAndItsSocketEndsWithIt) {
    EXPECT_FALSE(WindowClassListening(kClass));
    HWND window = Create();
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(ModeOf(Folder()) & 07777, 0700u);
    EXPECT_TRUE(S_ISSOCK(ModeOf(Socket())));
    EXPECT_TRUE(WindowClassListening(u"SOCKET TEST"));
    EXPECT_EQ(WindowClassProcess(kClass), static_cast<DWORD>(getpid()));
    DWORD process = 0;
    EXPECT_NE(GetWindowThreadProcessId(window, &process), 0u);
    EXPECT_EQ(process, static_cast<DWORD>(getpid()));

    // Another runtime folder is another world: nothing of this one is found there.
    testsupport::TempDir elsewhere;
    {
        testsupport::ScopedEnv other("XDG_RUNTIME_DIR", elsewhere.path().c_str());
        EXPECT_FALSE(WindowClassListening(kClass));
    }
    EXPECT_TRUE(DestroyWindow(window));
    EXPECT_EQ(access(Socket().c_str(), F_OK), -1);
    EXPECT_FALSE(WindowClassListening(kClass));
}

// Whatever holds the socket's name without a live window of this user behind it is never
// used, and the next window takes the name: the link goes, never its target.
TEST_F(WindowSockets, WhatHoldsTheNameWithoutALiveWindowIsReplaced) {
    const bool root = geteuid() == 0;  // only root can make another user's files
    std::string target = runtime.file("target");
    int listener = -1;
    const std::vector<std::pair<const char*, std::function<void()>>> holders = {
        {"stale socket", [&] { StaleSocket(Socket()); }},
        {"regular file", [&] { testsupport::WriteFileBytes(Socket(), "x"); }},
        {"FIFO", [&] { ASSERT_EQ(mkfifo(Socket().c_str(), 0600), 0); }},
        {"link",
         [&] {
             testsupport::WriteFileBytes(target, "keep");
             ASSERT_EQ(symlink(target.c_str(), Socket().c_str()), 0);
         }},
        {"another user's file",
         [&] {
             testsupport::WriteFileBytes(Socket(), "x");
             if (root) {
                 ASSERT_EQ(lchown(Socket().c_str(), kOtherUser, kOtherUser), 0);
             }
         }},
        {"another user's live socket",
         [&] {
             // Listening, but in a file that is not this user's: never connected to.
             listener = socket(AF_UNIX, SOCK_STREAM, 0);
             sockaddr_un address{};
             address.sun_family = AF_UNIX;
             std::strcpy(address.sun_path, Socket().c_str());
             ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
             ASSERT_EQ(listen(listener, 4), 0);
             if (!root) return;
             ASSERT_EQ(lchown(Socket().c_str(), kOtherUser, kOtherUser), 0);
             EXPECT_FALSE(WindowClassListening(kClass));
         }},
    };
    MakeFolder();
    for (auto& [what, place] : holders) {
        SCOPED_TRACE(what);
        place();
        if (std::string(what) != "another user's live socket") {
            EXPECT_FALSE(WindowClassListening(kClass));
        }
        HWND window = Create();
        ASSERT_NE(window, nullptr);
        EXPECT_TRUE(S_ISSOCK(ModeOf(Socket())));
        EXPECT_TRUE(WindowClassListening(kClass));
        EXPECT_EQ(WindowClassProcess(kClass), static_cast<DWORD>(getpid()));
        EXPECT_TRUE(DestroyWindow(window));
    }
    EXPECT_EQ(testsupport::ReadFileBytes(target), "keep");
    close(listener);
}

// A folder in the socket's place cannot be taken: the window still comes up, said on stderr.
TEST_F(WindowSockets, AFolderInTheSocketsPlaceIsReportedAndTheWindowStillComesUp) {
    MakeFolder();
    ASSERT_EQ(mkdir(Socket().c_str(), 0700), 0);
    platform::ClearAccount();
    HWND window = Create();
    std::string said = testsupport::TakeAccount();
    ASSERT_NE(window, nullptr);
    EXPECT_NE(said.find("cannot take " + Socket()), std::string::npos) << said;
    EXPECT_FALSE(WindowClassListening(kClass));
    EXPECT_TRUE(DestroyWindow(window));
}

// Folders that others could enter or replace are refused with a message naming them; a
// missing fallback folder is made private.
TEST_F(WindowSockets, RuntimeFoldersThatAreNotPrivateAreRefused) {
    const bool root = geteuid() == 0;
    testsupport::TempDir tmp;
    std::string fallback = tmp.file("belvane-" + std::to_string(geteuid()));
    std::string elsewhere = tmp.file("elsewhere");
    ASSERT_EQ(mkdir(elsewhere.c_str(), 0700), 0);
    struct Case {
        const char* what;
        std::function<void()> make;
        std::string refused;  // empty: accepted
    };
    const std::vector<Case> cases = {
        {"runtime folder open to others", [&] { chmod(runtime.path().c_str(), 0755); },
         runtime.path()},
        {"subfolder open to others", [&] { ASSERT_EQ(mkdir(Folder().c_str(), 0755), 0); },
         Folder()},
        {"subfolder is a link", [&] { ASSERT_EQ(symlink(elsewhere.c_str(), Folder().c_str()), 0); },
         Folder()},
        {"subfolder of another user",
         [&] {
             ASSERT_EQ(mkdir(Folder().c_str(), 0700), 0);
             if (root) {
                 ASSERT_EQ(chown(Folder().c_str(), kOtherUser, kOtherUser), 0);
             }
         },
         root ? Folder() : ""},
        {"fallback is a link",
         [&] {
             unsetenv("XDG_RUNTIME_DIR");
             ASSERT_EQ(symlink(elsewhere.c_str(), fallback.c_str()), 0);
         },
         fallback},
        {"fallback open to others",
         [&] {
             unsetenv("XDG_RUNTIME_DIR");
             ASSERT_EQ(mkdir(fallback.c_str(), 0777), 0);
             chmod(fallback.c_str(), 0777);
         },
         fallback},
        {"fallback made", [&] { unsetenv("XDG_RUNTIME_DIR"); }, ""},
    };
    testsupport::ScopedEnv tmpdir("TMPDIR", tmp.path().c_str());
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        testsupport::ScopedEnv restore("XDG_RUNTIME_DIR", runtime.path().c_str());
        c.make();
        platform::ClearAccount();
        std::string folder = WindowSocketFolder();
        std::string said = testsupport::TakeAccount();
        if (c.refused.empty()) {
            EXPECT_EQ(folder, fallback + "/belvane") << said;
            EXPECT_EQ(ModeOf(fallback) & 07777, 0700u);
            EXPECT_EQ(ModeOf(folder) & 07777, 0700u);
        } else {
            EXPECT_EQ(folder, "");
            EXPECT_NE(said.find(c.refused + " is not used"), std::string::npos) << said;
        }
        chmod(runtime.path().c_str(), 0700);
        std::error_code ignored;
        std::filesystem::remove_all(Folder(), ignored);
        std::filesystem::remove_all(fallback, ignored);
    }
}

}  // namespace
