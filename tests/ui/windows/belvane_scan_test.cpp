// Belvane.exe as a user runs it on the simulator's bench (cmake/wine-ports.sh maps the
// devices as Wine's COM ports): a copy of the program beside a Belv.ini, its report read
// from the window while it scans, "Belvane" pressed to deploy and "Cancel" to end it, and its
// log (BELVANE_LOG) read afterwards. The window must answer at every moment of the scan, as
// the scan's steps run on its thread.
#include <gtest/gtest.h>

#include <string>

#include "program_run.h"
#include "support/test_support.h"
#include "ui/main_dialog.h"
#include "ui/resource_ids.h"

namespace {

using namespace uitest;

// A file of the build copied into the test's folder under that name.
String Place(const testsupport::TempDir& directory, const char* buildPath, const char* name) {
    const String target = ProgramPath(directory.file(name).c_str());
    EXPECT_TRUE(CopyFileW(ProgramPath(buildPath).c_str(), target.c_str(), FALSE));
    return target;
}

// A window that does not answer within this bound counts as hung: the scan's steps, its
// reader stops and the driver trials all run on the window's thread and must each end well
// within it.
constexpr UINT kAnswerMs = 5000;

// The report box's text, or nothing when the window did not answer in time.
bool ReadReport(HWND dialog, String* text) {
    WCHAR buffer[1024] = {};
    DWORD_PTR copied = 0;
    if (!SendMessageTimeoutW(GetDlgItem(dialog, IDC_REPORT), WM_GETTEXT, 1024,
                             reinterpret_cast<LPARAM>(buffer), SMTO_ABORTIFHUNG, kAnswerMs,
                             &copied))
        return false;
    *text = buffer;
    return true;
}

bool Press(HWND dialog, int id) {
    DWORD_PTR result = 0;
    return SendMessageTimeoutW(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                               reinterpret_cast<LPARAM>(GetDlgItem(dialog, id)), SMTO_ABORTIFHUNG,
                               kAnswerMs, &result) != 0;
}

TEST(BelvaneScan, FindsTheBenchAnswersThroughoutDeploysAndEnds) {
    testsupport::TempDir directory;
    const String belvane = Place(directory, BELVANE_BELVANE_EXE, "Belvane.exe");
    Place(directory, BELVANE_DEVHOST_EXE, "belvane-devhost.exe");
    Place(directory, BELVANE_SAMPLE_DRIVER, "Morvex.dll");
    testsupport::WriteFileBytes(
        directory.file("Belv.ini"),
        "[GPS_COM]\nComPort=2\nBaudRate=4800\n[KOVU_COM]\nComPort=3\nBaudRate=9600\n"
        "[VIRTUAL_COM]\nComPort=7\n");

    // The program inherits the setting; this one writes no log.
    const testsupport::ScopedEnv logging("BELVANE_LOG", directory.file("scan.log").c_str());
    Program program(belvane, TEXT(""));
    HWND dialog = WaitForWindow(nullptr, TEXT("WM_Belvane"));
    ASSERT_NE(dialog, nullptr);
    // The four steps of ten seconds, read every half second until the report replaces the
    // progress text; the bound is against a scan that never ends.
    String report;
    for (int i = 0; i < 200; ++i) {
        ASSERT_TRUE(ReadReport(dialog, &report)) << "the window stopped answering during the scan";
        if (report != kProgressText) break;
        Sleep(500);
    }
    EXPECT_EQ(report, TEXT("GPS:com=3,8 buand=4800,57600;\r\nRadar:com=4 buand=9600;\r\n")
                          TEXT("Virtual:com=1,2,9,5"));

    ASSERT_TRUE(Press(dialog, IDC_DEPLOY));
    ASSERT_TRUE(ReadReport(dialog, &report));
    EXPECT_EQ(report, kDeploySucceededText);
    EXPECT_EQ(testsupport::ReadFileBytes(directory.file("Belv.ini")),
              "[GPS_COM]\nComPort=3\nBaudRate=4800\n[KOVU_COM]\nComPort=4\nBaudRate=9600\n"
              "[VIRTUAL_COM]\nComPort=1,2,9,5\n");

    ASSERT_TRUE(Press(dialog, IDC_CANCEL_BUTTON));
    EXPECT_EQ(program.ExitCode(), 0u);
    EXPECT_EQ(program.Output(), "");
    // The log tells the same story, from the first port tried to the last closed.
    const std::string log = testsupport::ReadFileBytes(directory.file("scan.log"));
    for (const char* line :
         {"scan: started", "COM3: GPS signature found at 4800 baud",
          "COM4: radar signature found at 9600 baud", "COM8: GPS signature found at 57600 baud",
          "scan: finished", "scan: stopped; every port is closed"})
        EXPECT_NE(log.find(line), std::string::npos) << line;
}

}  // namespace
