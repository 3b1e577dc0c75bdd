#include "support/tmux_session.h"

#include <gtest/gtest.h>

namespace {

TEST(TmuxSession, RunsAProgramAndReadsItsScreenAndStatus) {
    testsupport::TmuxSession s("printf 'hello %s\\n' \"$WHO\"; read x; exit 3", {"WHO=there"});
    ASSERT_TRUE(s.WaitFor("hello there", 5000)) << s.Screen();
    EXPECT_TRUE(s.Running());
    s.SendKeys("Enter");
    ASSERT_TRUE(s.WaitForExit(5000));
    EXPECT_EQ(s.ExitStatus(), 3);
}

}  // namespace
