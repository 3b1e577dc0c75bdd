#include "ui/main_dialog.h"

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <future>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/io/files.h"
#include "platform/ui/dialog_testing.h"
#include "platform/ui/resources.h"
#include "probe/classifier.h"
#include "probe/port_scan.h"
#include "probe/scan_support.h"
#include "support/test_support.h"
#include "ui/belvane_app.h"

namespace {

using namespace platform::testing;
using probetest::kGpsLine;
using probetest::kRadarBytes;
using probetest::Talker;
using probetest::WaitUntil;

const std::u16string kNothingFound =
    u"GPS Port Not Finded!;\r\nRadar Port Not Finded!;\r\nVirtual Port Undefined!";
const std::u16string kProgress =
    u"Is inspecting the port, please correct connection radar, may take several minutes, "
    u"please wait...";
const std::u16string kDeployed = u"Deploy Succeed, Please run kovu program again!";

int Read(const int& field) {
    return std::atomic_ref<int>(const_cast<int&>(field)).load(std::memory_order_acquire);
}
void Write(int& field, int value) {
    std::atomic_ref<int>(field).store(value, std::memory_order_release);
}

// Sets what the scan learned of a port that has no reader (it never opened), as a finished
// scan would have left it.
void Mark(int port, int state, int baud) {
    PortScan* scan = CurrentPortScan();
    Write(scan->portState[port], state);
    Write(scan->foundBaud[port], baud);
}

int State(int port) {
    return Read(CurrentPortScan()->portState[port]);
}

// Belvane with its dialog on a thread of its own, devices on pseudo-terminals and the
// program (with its Belv.ini) in a temporary directory.
class MainDialogTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        UseTestFrontEnd();
        platform::RegisterResources(ProgramResources());
    }
    void SetUp() override {
        platform::UseManualClock();
        platform::SetModuleFileNameForTesting(
            platform::WindowsPath(program_.file("Belvane.exe")).c_str());
        for (int port = 0; port < PORT_COUNT; ++port)
            for (int i = 0; i < 6; ++i) ClassifyPortByte(port, 'x');
    }
    void TearDown() override {
        if (dialog_ != nullptr && !WaitForDialogEnd(dialog_, 0)) {
            SendMessageW(dialog_, WM_PROBE_NOTIFY, NOTIFY_FINISHED, 0);
            ClickControl(dialog_, 1002);
        }
        if (result_.valid()) result_.wait();
        talkers_.clear();
        StopPortScan();
        platform::SetModuleFileNameForTesting(nullptr);
        platform::UseRealClock();
    }

    HWND Run() {
        result_ = std::async(std::launch::async, [] {
            MainDialog dialog(nullptr);
            return dialog.DoModal();
        });
        dialog_ = WaitForDialog();
        return dialog_;
    }
    testsupport::PtyPair& Port(int index) { return env_.AddPort(index); }
    void Talk(int index, const std::string& line, unsigned baud) {
        talkers_.push_back(std::make_unique<Talker>(Port(index), line, baud));
    }
    // Notifications sent rather than posted: handled when the call returns.
    void Notify(WPARAM code, LPARAM value = 0) {
        SendMessageW(dialog_, WM_PROBE_NOTIFY, code, value);
    }
    std::u16string Report() { return ControlText(dialog_, 1000); }
    bool DeployEnabled() { return ControlEnabled(dialog_, 1001); }
    bool CancelEnabled() { return ControlEnabled(dialog_, 1002); }
    bool WaitForReport() {
        return WaitUntil([this] { return DeployEnabled(); });
    }
    // The example bench: GPS receivers on COM4 at 4800 and COM1 at 9600, a radar detector
    // on COM2 at 9600, the virtual port driver free at 9 and 6; COM3 opened and heard nothing.
    void ExampleBench() {
        Port(3);
        ASSERT_NE(Run(), nullptr);
        Mark(4, PORT_GPS, 4800);
        Mark(1, PORT_GPS, 9600);
        Mark(2, PORT_RADAR, 9600);
        Mark(9, PORT_VIRTUAL_FREE, 0);
        Mark(6, PORT_VIRTUAL_FREE, 0);
    }
    std::string Ini() const { return program_.file("Belv.ini"); }

    probetest::ScanEnvironment env_;
    testsupport::TempDir program_;
    std::vector<std::unique_ptr<Talker>> talkers_;
    std::future<INT_PTR> result_;
    HWND dialog_ = nullptr;
};

TEST_F(MainDialogTest, StartedScanShowsProgressWithBothButtonsDisabledUntilFinished) {
    Port(5);
    ASSERT_NE(Run(), nullptr);
    EXPECT_EQ(Report(), kProgress);
    EXPECT_FALSE(DeployEnabled());
    EXPECT_FALSE(CancelEnabled());
    EXPECT_TRUE(IsFullScreen(dialog_));
    EXPECT_FALSE(DoneButtonShown(dialog_)) << "only button 1002 may end the dialog";
    EXPECT_FALSE(ClickControl(dialog_, 1002));

    Notify(NOTIFY_FOUND, PORT_GPS);
    Notify(NOTIFY_NEXT_BAUD, 9600);
    Notify(7, 0);
    EXPECT_EQ(Report(), kProgress);
    EXPECT_FALSE(DeployEnabled());
    EXPECT_FALSE(CancelEnabled());
    EXPECT_FALSE(WaitForDialogEnd(dialog_, 0));
}

TEST_F(MainDialogTest, ScanThatCannotStartLeavesOnlyCancel) {
    ASSERT_NE(Run(), nullptr);
    EXPECT_EQ(Report(), u"Test failure!");
    EXPECT_FALSE(DeployEnabled());
    EXPECT_TRUE(CancelEnabled());
    EXPECT_FALSE(ClickControl(dialog_, 1001));
    Notify(NOTIFY_FOUND, PORT_RADAR);
    EXPECT_EQ(Report(), u"Test failure!");
    EXPECT_FALSE(DeployEnabled());
    EXPECT_TRUE(ClickControl(dialog_, 1002));
    EXPECT_EQ(result_.get(), IDCANCEL);
}

// The whole ladder on the scan's own timer, with nothing on the line: the progress line
// gives way to the report of nothing found, and both buttons come back.
TEST_F(MainDialogTest, SilentPortThroughTheLadderReportsNothingFound) {
    auto& pty = Port(5);
    ASSERT_NE(Run(), nullptr);
    for (unsigned rate : {9600u, 57600u, 19200u}) {
        platform::AdvanceClock(10000);
        ASSERT_TRUE(WaitUntil([&] { return pty.SlaveBaud() == rate; }));
        EXPECT_EQ(Report(), kProgress);
        EXPECT_FALSE(DeployEnabled());
    }
    platform::AdvanceClock(10000);
    ASSERT_TRUE(WaitForReport());
    EXPECT_EQ(Report(), kNothingFound);
    EXPECT_TRUE(CancelEnabled());
}

TEST_F(MainDialogTest, OneGpsReceiverOnCom1At4800) {
    Talk(1, kGpsLine, 4800);
    ASSERT_NE(Run(), nullptr);
    ASSERT_TRUE(WaitUntil([] { return State(1) == PORT_GPS; }));
    platform::AdvanceClock(10000);  // the only open port is decided: the first tick ends the scan
    ASSERT_TRUE(WaitForReport());
    EXPECT_EQ(Report(),
              u"GPS:com=1 buand=4800;\r\nRadar Port Not Finded!;\r\nVirtual Port Undefined!");
}

TEST_F(MainDialogTest, RadarDetectorWithoutGpsReceiver) {
    Talk(2, kRadarBytes, 0);
    ASSERT_NE(Run(), nullptr);
    ASSERT_TRUE(WaitUntil([] { return State(2) == PORT_RADAR; }));
    platform::AdvanceClock(10000);
    ASSERT_TRUE(WaitForReport());
    EXPECT_EQ(Report(),
              u"GPS Port Not Finded!;\r\nRadar:com=2 buand=4800;\r\nVirtual Port Undefined!");
}

TEST_F(MainDialogTest, ExampleReportAndAFurtherFinishedNotificationRebuildsIt) {
    ExampleBench();
    Notify(NOTIFY_FINISHED);
    EXPECT_EQ(Report(),
              u"GPS:com=1,4 buand=9600,4800;\r\nRadar:com=2 buand=9600;\r\nVirtual:com=6,9");
    EXPECT_TRUE(DeployEnabled());
    EXPECT_TRUE(CancelEnabled());

    // After a deployment has disabled 1001, a further notification starts the report anew.
    testsupport::WriteFileBytes(Ini(), "[GPS_COM]\n[KOVU_COM]\n[VIRTUAL_COM]\n");
    EXPECT_TRUE(ClickControl(dialog_, 1001));
    ASSERT_FALSE(DeployEnabled());
    Mark(1, PORT_UNUSABLE, 0);
    Mark(2, PORT_UNUSABLE, 0);
    Mark(4, PORT_RADAR, 57600);
    Mark(9, PORT_UNUSABLE, 0);
    Notify(NOTIFY_FINISHED);
    EXPECT_EQ(Report(), u"GPS Port Not Finded!;\r\nRadar:com=4 buand=57600;\r\nVirtual:com=6");
    EXPECT_TRUE(DeployEnabled());
}

TEST_F(MainDialogTest, DeploymentWritesBelvIniAndDisablesItsButton) {
    const std::string before =
        "; kovu\r\n[GPS_COM]\r\nComPort=2\r\nBaudRate=4800\r\n[KOVU_COM]\r\nComPort=3\r\n"
        "BaudRate=9600\r\n[VIRTUAL_COM]\r\nComPort=7\r\n";
    testsupport::WriteFileBytes(Ini(), before);
    ExampleBench();
    Notify(NOTIFY_FINISHED);
    EXPECT_TRUE(ClickControl(dialog_, 1001));
    EXPECT_EQ(Report(), kDeployed);
    EXPECT_FALSE(DeployEnabled());
    EXPECT_TRUE(CancelEnabled());
    // Rewritten entries end in a line feed alone; every other line keeps its bytes.
    EXPECT_EQ(testsupport::ReadFileBytes(Ini()),
              "; kovu\r\n[GPS_COM]\r\nComPort=1\nBaudRate=9600\n[KOVU_COM]\r\nComPort=2\n"
              "BaudRate=9600\n[VIRTUAL_COM]\r\nComPort=6,9\n");
    EXPECT_FALSE(std::filesystem::exists(program_.file("config_tmp")));
}

// Without Belv.ini beside the program nothing is created and nothing changes on screen;
// the user is told where the program belongs.
TEST_F(MainDialogTest, MissingBelvIniIsToldAndChangesNothing) {
    ExampleBench();
    Notify(NOTIFY_FINISHED);
    const std::u16string report = Report();
    for (int attempt = 0; attempt < 2; ++attempt) {
        std::u16string boxText;
        std::thread answer([&] {
            HWND box = WaitForDialog(10000, dialog_);
            if (box == nullptr) return;
            boxText = ControlText(box, 0xFFFF);
            ClickControl(box, IDOK);
        });
        EXPECT_TRUE(ClickControl(dialog_, 1001));
        answer.join();
        EXPECT_EQ(boxText, u"Please take this progam to kovu directory and run again!");
        EXPECT_EQ(Report(), report);
        EXPECT_TRUE(DeployEnabled());
        EXPECT_TRUE(CancelEnabled());
        // A directory of that name is no configuration file either.
        std::filesystem::create_directory(Ini());
    }
    std::filesystem::remove(Ini());
    EXPECT_TRUE(std::filesystem::is_empty(program_.path())) << "nothing may be created";
}

// A section the file lacks cannot be written: the report names what is missing, 1001 stays
// so that the mended file can be deployed again, and the other writes still happen.
TEST_F(MainDialogTest, MissingSectionIsReportedAndCanBeDeployedAgain) {
    testsupport::WriteFileBytes(Ini(), "[GPS_COM]\ncom=com2\nbaud=4800\n[VIRTUAL_COM]\ncom=com7\n");
    ExampleBench();
    Notify(NOTIFY_FINISHED);
    EXPECT_TRUE(ClickControl(dialog_, 1001));
    const std::u16string report = Report();
    EXPECT_EQ(report.rfind(u"Deploy incomplete", 0), 0u)
        << std::string(report.begin(), report.end());
    EXPECT_NE(report.find(u"[KOVU_COM] ComPort"), std::u16string::npos);
    EXPECT_NE(report.find(u"[KOVU_COM] BaudRate"), std::u16string::npos);
    EXPECT_EQ(report.find(u"Succeed"), std::u16string::npos);
    EXPECT_NE(report.substr(report.size() - 2), u"\r\n");
    EXPECT_TRUE(DeployEnabled());
    EXPECT_EQ(testsupport::ReadFileBytes(Ini()),
              "[GPS_COM]\ncom=com1\nbaud=9600\n[VIRTUAL_COM]\ncom=com6\n");

    testsupport::WriteFileBytes(Ini(),
                                "[GPS_COM]\ncom=com2\n[KOVU_COM]\n[VIRTUAL_COM]\ncom=com7\n");
    EXPECT_TRUE(ClickControl(dialog_, 1001));
    EXPECT_EQ(Report(), kDeployed);
    EXPECT_FALSE(DeployEnabled());
    EXPECT_EQ(testsupport::ReadFileBytes(Ini()),
              "[GPS_COM]\ncom=com1\nbaud=9600\n[KOVU_COM]\nComPort=2\nBaudRate=9600\n"
              "[VIRTUAL_COM]\ncom=com6\n");
}

TEST_F(MainDialogTest, CancelStopsTheScanAndEndsTheDialog) {
    Port(5);
    ASSERT_NE(Run(), nullptr);
    Notify(NOTIFY_FINISHED);
    ASSERT_NE(CurrentPortScan(), nullptr);
    EXPECT_TRUE(ClickControl(dialog_, 1002));
    EXPECT_EQ(result_.get(), IDCANCEL);
    EXPECT_EQ(CurrentPortScan(), nullptr);
}

// The application object: runs the dialog once and ends without a message loop.
TEST_F(MainDialogTest, ApplicationRunsTheDialogAndEndsWithIt) {
    Port(5);
    BelvaneApp app;
    std::future<int> exitCode = std::async(
        std::launch::async, [] { return AfxWinMain(nullptr, nullptr, nullptr, SW_SHOW); });
    dialog_ = WaitForDialog();
    ASSERT_NE(dialog_, nullptr);
    EXPECT_EQ(Report(), kProgress);
    EXPECT_EQ(CString(app.m_pszRegistryKey), u"应用程序向导生成的本地应用程序");
    EXPECT_NE(app.m_pMainWnd, nullptr);
    Notify(NOTIFY_FINISHED);
    EXPECT_TRUE(ClickControl(dialog_, 1002));
    EXPECT_EQ(exitCode.get(), 0);
    EXPECT_EQ(app.m_pMainWnd, nullptr);
    EXPECT_EQ(CurrentPortScan(), nullptr);
}

}  // namespace
