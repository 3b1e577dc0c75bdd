// Belvane.exe as a user runs it on the simulator's bench (cmake/wine-ports.sh maps the
// devices as Wine's COM ports): a copy of the program beside a Belv.ini, its report read
// from the window while it scans, "Belvane" pressed to deploy and "Cancel" to end it, and its
// log (BELVANE_LOG) read afterwards. The window must answer at every moment of the scan, as
// the scan's steps run on its thread.
#include <gtest/gtest.h>

#include <string>

#include "program_run.h"
#include "ui/main_dialog.h"
#include "ui/resource_ids.h"

namespace {

using namespace uitest;

// A program directory of its own in the temporary folder, removed with what it holds.
class ProgramDirectory {
  public:
    ProgramDirectory() {
        WCHAR temp[MAX_PATH] = {};
        GetTempPathW(MAX_PATH, temp);
        const std::string id = std::to_string(GetCurrentProcessId());
        path_ = String(temp) + TEXT("belvane-scan-") + String(id.begin(), id.end());
        CreateDirectoryW(path_.c_str(), nullptr);
    }
    ~ProgramDirectory() {
        for (const String& name : placed_) DeleteFileW((path_ + TEXT("\\") + name).c_str());
        RemoveDirectoryW(path_.c_str());
    }
    String Place(const char* buildPath, LPCWSTR name) {
        const String target = File(name);
        EXPECT_TRUE(CopyFileW(ProgramPath(buildPath).c_str(), target.c_str(), FALSE));
        placed_.push_back(name);
        return target;
    }
    void Write(LPCWSTR name, const std::string& bytes) {
        HANDLE file = CreateFileW(File(name).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
        ASSERT_NE(file, INVALID_HANDLE_VALUE);
        DWORD written = 0;
        WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
        CloseHandle(file);
        placed_.push_back(name);
    }
    // The path of a file the program will make there.
    String Expect(LPCWSTR name) {
        placed_.push_back(name);
        return File(name);
    }
    std::string Read(LPCWSTR name) const {
        std::string bytes;
        HANDLE file = CreateFileW(File(name).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, 0, nullptr);
        char buffer[4096];
        DWORD got = 0;
        while (file != INVALID_HANDLE_VALUE &&
               ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got > 0)
            bytes.append(buffer, got);
        if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
        return bytes;
    }

  private:
    String File(LPCWSTR name) const { return path_ + TEXT("\\") + name; }
    String path_;
    std::vector<String> placed_;
};

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
    ProgramDirectory directory;
    const String belvane = directory.Place(BELVANE_BELVANE_EXE, TEXT("Belvane.exe"));
    directory.Place(BELVANE_DEVHOST_EXE, TEXT("belvane-devhost.exe"));
    directory.Place(BELVANE_SAMPLE_DRIVER, TEXT("Morvex.dll"));
    directory.Write(TEXT("Belv.ini"),
                    "[GPS_COM]\nComPort=2\nBaudRate=4800\n[KOVU_COM]\nComPort=3\nBaudRate=9600\n"
                    "[VIRTUAL_COM]\nComPort=7\n");

    SetEnvironmentVariableW(TEXT("BELVANE_LOG"), directory.Expect(TEXT("scan.log")).c_str());
    Program program(belvane, TEXT(""));
    SetEnvironmentVariableW(TEXT("BELVANE_LOG"), nullptr);
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
    EXPECT_EQ(directory.Read(TEXT("Belv.ini")),
              "[GPS_COM]\nComPort=3\nBaudRate=4800\n[KOVU_COM]\nComPort=4\nBaudRate=9600\n"
              "[VIRTUAL_COM]\nComPort=1,2,9,5\n");

    ASSERT_TRUE(Press(dialog, IDC_CANCEL_BUTTON));
    EXPECT_EQ(program.ExitCode(), 0u);
    EXPECT_EQ(program.Output(), "");
    // The log tells the same story, from the first port tried to the last closed.
    const std::string log = directory.Read(TEXT("scan.log"));
    for (const char* line :
         {"scan: started", "COM3: GPS signature found at 4800 baud",
          "COM4: radar signature found at 9600 baud", "COM8: GPS signature found at 57600 baud",
          "scan: finished", "scan: stopped; every port is closed"})
        EXPECT_NE(log.find(line), std::string::npos) << line;
}

}  // namespace
