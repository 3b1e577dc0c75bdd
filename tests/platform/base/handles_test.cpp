#include "platform/base/handles.h"

#include <gtest/gtest.h>

#include "platform/base/detail/handle_table.h"

namespace {

struct Probe : platform::detail::KernelObject {
    int* closes;
    explicit Probe(int* c) : closes(c) {}
    void Close() override { ++*closes; }
};

TEST(Handles, CloseRunsOnceAndStaleHandlesFail) {
    int closes = 0;
    HANDLE h = platform::detail::InsertHandle(std::make_shared<Probe>(&closes));
    EXPECT_NE(platform::detail::LookupHandle(h), nullptr);
    EXPECT_TRUE(CloseHandle(h));
    EXPECT_EQ(closes, 1);
    EXPECT_FALSE(CloseHandle(h));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    EXPECT_EQ(platform::detail::LookupHandle(h), nullptr);
    // Values are never reused, so the stale value cannot name a new object.
    HANDLE h2 = platform::detail::InsertHandle(std::make_shared<Probe>(&closes));
    EXPECT_NE(h, h2);
    CloseHandle(h2);
}

}  // namespace
