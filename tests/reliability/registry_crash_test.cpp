// A process that dies at any system call of a registry write, or meets an I/O error there,
// leaves the registry file whole: the old one or the new one, complete and parseable.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <ostream>
#include <string>

#include "internal/registry_format.h"
#include "platform/io/registry.h"
#include "support/fault_sweep.h"
#include "support/test_support.h"
#include "syscall_tracer.h"

namespace {

// The sanitizers' runtimes make system calls of their own (a pipe to probe memory, say),
// in numbers that vary from run to run: a failure injected there tests the runtime, not
// the registry, and the call that a kill lands on is not the same from run to run.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kSanitized = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif
#else
constexpr bool kSanitized = false;
#endif

using platform::detail::FormatRegText;
using platform::detail::ParseRegText;

// A file of some 20 kB. Fewer keys with long values keep the delete sweep short: the
// deletion looks at the file once per key.
std::string OldRegistry() {
    std::string text = "Windows Registry Editor Version 5.00\n";
    for (int i = 0; i < 40; ++i) {
        text += "\n[HKEY_LOCAL_MACHINE\\Drivers\\BuiltIn\\Serial" + std::to_string(i) + "]\n";
        text += "\"Prefix\"=\"COM\"\n\"Index\"=dword:0000000" + std::to_string(i % 10) + "\n";
        text +=
            "\"Dll\"=\"serial_" + std::string(400, static_cast<char>('a' + i % 26)) + ".dll\"\n";
    }
    text += "\n[HKEY_CURRENT_USER\\Software\\Belvane]\n\"Mode\"=\"old\"\n";
    return text;
}

// The body run in the traced child: one value set through the registry functions.
int SetMode() {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, TEXT("Software\\Belvane"), 0, KEY_ALL_ACCESS, &key) !=
        ERROR_SUCCESS)
        return 1;
    static const WCHAR kNew[] = TEXT("new");
    const LONG rc = RegSetValueExW(key, TEXT("Mode"), 0, REG_SZ,
                                   reinterpret_cast<const BYTE*>(kNew), sizeof kNew);
    RegCloseKey(key);
    return rc == ERROR_SUCCESS ? 0 : 2;
}

// A deletion writes the file as well: a key with its values goes away.
int DeleteSerial7() {
    return RegDeleteKeyW(HKEY_LOCAL_MACHINE, TEXT("Drivers\\BuiltIn\\Serial7")) == ERROR_SUCCESS
               ? 0
               : 2;
}

struct Change {
    const char* name;
    int (*body)();
    const char* mark;  // text that only the new file holds, or that only the old one holds
    bool markIsNew;
};

// Names the change in test listings instead of its bytes.
void PrintTo(const Change& change, std::ostream* out) {
    *out << change.name;
}

const Change kChanges[] = {
    {"set value", SetMode, "\"Mode\"=\"new\"", true},
    {"delete key", DeleteSerial7, "BuiltIn\\Serial7]", false},
};

std::string Difference(const std::string& a, const std::string& b) {
    size_t i = 0;
    while (i < a.size() && i < b.size() && a[i] == b[i]) ++i;
    return "at " + std::to_string(i) + ": [" + a.substr(i > 80 ? i - 80 : 0, 200) + "] vs [" +
           b.substr(i > 80 ? i - 80 : 0, 200) + "]";
}

class RegistryCrashTest : public ::testing::TestWithParam<Change> {
  protected:
    void SetUp() override {
        file = dir.file("registry.reg");
        env = std::make_unique<testsupport::ScopedEnv>("BELVANE_REGISTRY", file.c_str());
        // No host devices: the first registry use builds the device table from these.
        std::filesystem::create_directory(noDevices.path() + "/class");
        sysfs = std::make_unique<testsupport::ScopedEnv>("BELVANE_SYSFS_ROOT",
                                                         noDevices.path().c_str());
        dev =
            std::make_unique<testsupport::ScopedEnv>("BELVANE_DEV_ROOT", noDevices.path().c_str());
        proc =
            std::make_unique<testsupport::ScopedEnv>("BELVANE_PROC_ROOT", noDevices.path().c_str());
        oldCanonical = Canonical(OldRegistry());
    }

    void Reset() {
        for (const auto& entry : std::filesystem::directory_iterator(dir.path()))
            std::filesystem::remove(entry.path());
        testsupport::WriteFileBytes(file, OldRegistry());
    }

    // The file's content as the writer would put it; empty when it has any problem.
    static std::string Canonical(const std::string& text) {
        const auto parsed = ParseRegText(text);
        return parsed.problems.empty() ? FormatRegText(parsed.keys) : std::string();
    }

    std::string Which() const {
        if (!std::filesystem::exists(file)) return "missing";
        const std::string now = Canonical(testsupport::ReadFileBytes(file));
        if (now.empty()) return "torn";
        if (now == oldCanonical) return "old";
        if (now == newCanonical) return "new";
        return "other";
    }

    long WholeWrite() {
        Reset();
        const auto whole = configtest::RunKilledAt(GetParam().body, 0);
        if (!whole.traced) return 0;
        EXPECT_EQ(whole.exitCode, 0);
        newCanonical = Canonical(testsupport::ReadFileBytes(file));
        EXPECT_FALSE(newCanonical.empty());
        EXPECT_NE(newCanonical, oldCanonical);
        EXPECT_EQ(newCanonical.find(GetParam().mark) != std::string::npos, GetParam().markIsNew);
        return whole.fileCalls;
    }

    // The sweep over points 1 to points, from the old file; a file that is neither old nor
    // new is shown where it departs from each.
    testsupport::FaultSweep Sweep(long points, bool newStays) {
        testsupport::FaultSweep sweep;
        sweep.points = points;
        sweep.reset = [this] { Reset(); };
        sweep.which = [this] { return Which(); };
        sweep.newStays = newStays;
        sweep.damage = [this] {
            const std::string now = Canonical(testsupport::ReadFileBytes(file));
            return Difference(now, newCanonical) + "\n---\n" + Difference(now, oldCanonical);
        };
        return sweep;
    }

    // Sweeps the write with its file calls failing as run makes them fail, from each call.
    void ExpectFailuresToldTruly(const char* what,
                                 configtest::TraceOutcome (*run)(const std::function<int()>&,
                                                                 long)) {
        if (kSanitized) GTEST_SKIP() << "failures would be injected into the sanitizer's runtime";
        Reset();
        const auto whole = configtest::RunFailingCall(GetParam().body, 0);
        if (!whole.traced) GTEST_SKIP() << "process tracing is not permitted here";
        WholeWrite();
        const auto tally = testsupport::SweepFaultPoints<configtest::TraceOutcome>(
            Sweep(whole.fileCalls, false),
            [this, run](long at) { return run(GetParam().body, at); });
        std::printf("registry %s, %s: %ld injection points, %ld failures reported\n",
                    GetParam().name, what, whole.fileCalls, tally.failures);
        EXPECT_GT(tally.failures, 0);
    }

    testsupport::TempDir dir;
    std::string file;
    testsupport::TempDir noDevices;
    std::unique_ptr<testsupport::ScopedEnv> env, sysfs, dev, proc;
    std::string oldCanonical;
    std::string newCanonical;
};

TEST_P(RegistryCrashTest, KilledAtEveryCallLeavesOldOrNewFileWhole) {
    const long calls = WholeWrite();
    if (calls == 0) GTEST_SKIP() << "process tracing is not permitted here";
    // The count of calls may vary a little from run to run; a run that ended before the
    // chosen call completed the write.
    const auto tally = testsupport::SweepFaultPoints<configtest::TraceOutcome>(
        Sweep(calls, !kSanitized),
        [this](long at) { return configtest::RunKilledAt(GetParam().body, at); },
        [](long, const configtest::TraceOutcome& outcome, const std::string&) {
            if (!outcome.killed && !kSanitized) {
                EXPECT_EQ(outcome.exitCode, 0);
            }
        });
    EXPECT_GT(tally.sawOld, 0);
    EXPECT_GT(tally.sawNew, 0);
    EXPECT_GT(tally.killed, calls / 2);
    // The figure for the record: every file call of the write was a kill point.
    RecordProperty("kill_points", static_cast<int>(tally.killed));
    std::printf("registry %s: %ld kill points, old %ld, new %ld, 0 lost or torn\n", GetParam().name,
                tally.killed, tally.sawOld, tally.sawNew);
}

TEST_P(RegistryCrashTest, FailedCallAtEveryStepKeepsTheFileAndTellsTheTruth) {
    ExpectFailuresToldTruly("one call failing", configtest::RunFailingCall);
}

// From some call on every file call fails, as on a disk that has died.
TEST_P(RegistryCrashTest, FilesFailingForGoodFromEveryStepKeepTheFileAndTellTheTruth) {
    ExpectFailuresToldTruly("failing for good", configtest::RunFailingFrom);
}

INSTANTIATE_TEST_SUITE_P(Writes, RegistryCrashTest, ::testing::ValuesIn(kChanges),
                         [](const auto& param) {
                             return param.index == 0 ? "SetValue" : "DeleteKey";
                         });

}  // namespace
