// The sweep of a file rewrite over every point where a fault can strike: one run per
// point, each from the old file, each checked to leave the old or the new file whole and
// never to report success for a file that was not replaced.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <string>

namespace testsupport {

struct FaultSweep {
    long points = 0;                     // the fault points are 1 to points
    std::function<void()> reset;         // puts the old file back
    std::function<std::string()> which;  // "old", "new", or what else the file is
    // Once a point leaves the new file, every later point must too (for kills: the
    // rewrite's last step replaces the file, and nothing after it brings the old one back).
    bool newStays = false;
    // More to say about a file that is neither old nor new; may be empty.
    std::function<std::string()> damage;
};

struct SweepTally {
    long killed = 0;    // runs stopped dead at their point
    long failures = 0;  // runs that reported a failure
    long sawOld = 0;
    long sawNew = 0;
};

// The checks every run of a sweep must pass; fatal where the rest of the sweep would only
// repeat the failure.
template <class Outcome>
void CheckFaultRun(const FaultSweep& sweep, long at, const Outcome& outcome, const std::string& now,
                   SweepTally* tally) {
    ASSERT_TRUE(outcome.traced) << "the run with its fault at point " << at;
    ASSERT_FALSE(!outcome.killed && outcome.crashed) << "crashed with its fault at point " << at;
    ASSERT_TRUE(now == "old" || now == "new")
        << now << " after the fault at point " << at
        << (sweep.damage ? "\n" + sweep.damage() : std::string());
    if (!outcome.killed && outcome.exitCode == 0) {
        EXPECT_EQ(now, "new") << "success reported though the fault struck at point " << at;
    }
    if (sweep.newStays && tally->sawNew > 0) {
        EXPECT_EQ(now, "new") << "the old file came back at point " << at;
    }
    tally->killed += outcome.killed ? 1 : 0;
    tally->failures += !outcome.killed && outcome.exitCode != 0 ? 1 : 0;
    (now == "old" ? tally->sawOld : tally->sawNew) += 1;
}

// Runs run(at) for every point from a reset file; the outcome needs traced (false: faults
// cannot be injected here), killed, crashed (a signal of its own) and exitCode. each(at,
// outcome, now) adds a sweep's own checks. Stops at the first fatal failure.
template <class Outcome>
SweepTally SweepFaultPoints(
    const FaultSweep& sweep, const std::function<Outcome(long)>& run,
    const std::function<void(long, const Outcome&, const std::string&)>& each = {}) {
    SweepTally tally;
    for (long at = 1; at <= sweep.points; ++at) {
        sweep.reset();
        const Outcome outcome = run(at);
        const std::string now = outcome.traced ? sweep.which() : std::string();
        CheckFaultRun(sweep, at, outcome, now, &tally);
        if (!::testing::Test::HasFatalFailure() && each) each(at, outcome, now);
        if (::testing::Test::HasFatalFailure()) break;
    }
    return tally;
}

}  // namespace testsupport
