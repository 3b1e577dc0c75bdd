#include "platform/app/afx.h"

#include <gtest/gtest.h>

#include <future>
#include <thread>
#include <vector>

#include "platform/ui/dialog_template.h"
#include "platform/ui/dialog_testing.h"

namespace {

using namespace platform::testing;
using platform::DialogKey;

constexpr UINT kTemplateId = 202;
constexpr UINT kNotify = WM_USER + 7;
constexpr UINT kMark = WM_USER + 8;

const std::vector<WORD>& Template() {
    static const std::vector<WORD> words = platform::BuildDialogTemplate(
        {0x90C00040, 0x80040000, 0, 0, 187, 109, u"WM_Test", u"", 12, u"MS Sans Serif"},
        {
            {0x50010844, 0, 7, 7, 173, 73, 1000, u"EDIT", u""},
            {0x50010000, 0, 7, 86, 64, 16, 1001, u"BUTTON", u"Deploy"},
            {0x50010000, 0, 116, 86, 64, 16, 1002, u"BUTTON", u"Cancel"},
        });
    return words;
}

const platform::Resource kResources[] = {
    {RT_DIALOG, MAKEINTRESOURCEW(kTemplateId), 0x804, nullptr, 0},
};

class ReportDialog : public CDialog {
  public:
    explicit ReportDialog(bool hideDone) : CDialog(kTemplateId), hideDone_(hideDone) {}
    CString m_strReport;
    std::vector<std::string> events;

  protected:
    void DoDataExchange(CDataExchange* dx) override {
        CDialog::DoDataExchange(dx);
        DDX_Text(dx, 1000, m_strReport);
    }
    BOOL OnInitDialog() override {
        CDialog::OnInitDialog();
        if (hideDone_) SHDoneButton(m_hWnd, SHDB_HIDE);
        GetDlgItem(1001)->EnableWindow(FALSE);
        m_strReport = u"Is inspecting...";
        UpdateData(FALSE);
        return TRUE;
    }
    afx_msg void OnDeploy() {
        events.push_back("deploy");
        AfxMessageBox(u"Deployed!");
        m_strReport = u"Deploy done";
        UpdateData(FALSE);
        GetDlgItem(1001)->EnableWindow(FALSE);
    }
    afx_msg void OnCancelButton() {
        events.push_back("cancel");
        CDialog::OnCancel();
    }
    afx_msg LRESULT OnNotify(WPARAM wParam, LPARAM lParam) {
        events.push_back("notify " + std::to_string(wParam));
        if (wParam != 100) return 0;
        CString bauds;
        m_strReport.Format(u"GPS:com=%d", 1);
        bauds.Format(u" buand=%d", 9600);
        m_strReport.AppendFormat(u",%d", 4);
        bauds.AppendFormat(u",%d", static_cast<int>(lParam));
        m_strReport += bauds;
        m_strReport += u";\r\n";
        m_strReport += CString(u"Virtual:com=") + u"6";
        UpdateData(FALSE);
        GetDlgItem(1001)->EnableWindow(TRUE);
        GetDlgItem(1002)->EnableWindow(TRUE);
        return 0;
    }

    afx_msg LRESULT OnMark(WPARAM, LPARAM lParam) {
        reinterpret_cast<std::promise<void>*>(lParam)->set_value();
        return 0;
    }

  private:
    bool hideDone_;
    DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(ReportDialog, CDialog)
ON_BN_CLICKED(1001, &ReportDialog::OnDeploy)
ON_BN_CLICKED(1002, &ReportDialog::OnCancelButton)
ON_MESSAGE(kNotify, &ReportDialog::OnNotify)
ON_MESSAGE(kMark, &ReportDialog::OnMark)
END_MESSAGE_MAP()

// Runs as the programs' application objects do: everything in InitInstance, then FALSE.
class TestApp : public CWinApp {
  public:
    bool hideDone = true;
    INT_PTR modalResult = 0;
    std::vector<std::string> events;
    CString finalReport;
    bool mainWindowCleared = false;

    BOOL InitInstance() override {
        SHInitExtraControls();
        SetRegistryKey(u"Local AppWizard-Generated Applications");
        {
            ReportDialog dialog(hideDone);
            m_pMainWnd = &dialog;
            modalResult = dialog.DoModal();
            events = dialog.events;
            finalReport = dialog.m_strReport;
        }
        mainWindowCleared = m_pMainWnd == nullptr;
        return FALSE;
    }
};

class Framework : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        UseTestFrontEnd();
        static platform::Resource resources[1] = {kResources[0]};
        resources[0].data = Template().data();
        resources[0].size = static_cast<DWORD>(Template().size() * sizeof(WORD));
        static const platform::ResourceTable table{resources, 1};
        platform::RegisterResources(table);
    }
    HWND Start() {
        exit_ = std::async(std::launch::async,
                           [this] { return AfxWinMain(nullptr, nullptr, nullptr, SW_SHOW); });
        return WaitForDialog();
    }
    TestApp app_;
    std::future<int> exit_;
};

TEST_F(Framework, DialogRunsThroughMessageMapDataExchangeAndEndsOnlyByCancel) {
    HWND dialog = Start();
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(ControlText(dialog, 1000), u"Is inspecting...");
    EXPECT_TRUE(IsFullScreen(dialog));
    EXPECT_FALSE(DoneButtonShown(dialog));
    EXPECT_FALSE(ControlEnabled(dialog, 1001));
    EXPECT_TRUE(ControlEnabled(dialog, 1002));
    EXPECT_EQ(FocusedControlId(dialog), 1000);
    // Neither keys nor a close request end it: it has no Done button and no system menu.
    SendKey(dialog, DialogKey::Escape);
    SendKey(dialog, DialogKey::CtrlC);
    EXPECT_FALSE(ClickControl(dialog, 1001));
    EXPECT_FALSE(WaitForDialogEnd(dialog, 0));

    PostMessageW(dialog, kNotify, 2, 2);
    PostMessageW(dialog, kNotify, 100, 4800);
    std::promise<void> handled;  // posted behind the notifications: handled after them
    PostMessageW(dialog, kMark, 0, reinterpret_cast<LPARAM>(&handled));
    handled.get_future().get();
    EXPECT_EQ(ControlText(dialog, 1000), u"GPS:com=1,4 buand=9600,4800;\r\nVirtual:com=6");
    EXPECT_TRUE(ControlEnabled(dialog, 1001));

    // The deploy handler's message box runs over the dialog until its OK is pressed.
    std::thread press([dialog] {
        HWND box = WaitForDialog(10000, dialog);
        EXPECT_EQ(ControlText(box, 0xFFFF), u"Deployed!");
        EXPECT_TRUE(ClickControl(box, IDOK));
    });
    EXPECT_TRUE(ClickControl(dialog, 1001));
    press.join();
    EXPECT_EQ(ControlText(dialog, 1000), u"Deploy done");
    EXPECT_FALSE(ControlEnabled(dialog, 1001));

    EXPECT_TRUE(ClickControl(dialog, 1002));
    EXPECT_EQ(exit_.get(), 0);
    EXPECT_EQ(app_.modalResult, IDCANCEL);
    EXPECT_EQ(app_.events,
              (std::vector<std::string>{"notify 2", "notify 100", "deploy", "cancel"}));
    EXPECT_TRUE(app_.mainWindowCleared);
    EXPECT_EQ(CString(app_.m_pszRegistryKey), u"Local AppWizard-Generated Applications");
    EXPECT_EQ(CString(app_.m_pszAppName), u"platform_app_tests");
}

TEST_F(Framework, DoneButtonRunsDefaultOkWhichReadsTheControlsBack) {
    app_.hideDone = false;
    HWND dialog = Start();
    ASSERT_NE(dialog, nullptr);
    SetDlgItemTextW(dialog, 1000, u"typed");
    EXPECT_TRUE(PressDoneButton(dialog));
    EXPECT_EQ(exit_.get(), 0);
    EXPECT_EQ(app_.modalResult, IDOK);
    EXPECT_EQ(app_.finalReport, u"typed");
}

TEST(CStringTest, FormatAppendAndConvert) {
    CString s;
    EXPECT_TRUE(s.IsEmpty());
    s.Format(u"%s=%d", u"com", -3);
    EXPECT_EQ(s, u"com=-3");
    s.Format(u"x%u", 7u);  // Format replaces
    EXPECT_EQ(s, u"x7");
    s.AppendFormat(u",%x", 255);
    s += u'!';
    s += CString(u"?");
    LPCWSTR raw = s;
    EXPECT_EQ(std::u16string(raw), u"x7,ff!?");
    EXPECT_EQ(s.GetLength(), 7);
    EXPECT_EQ(CString(u"a") + u"b" + CString(u"c"), u"abc");
    CString null(static_cast<LPCWSTR>(nullptr));
    EXPECT_EQ(null, u"");
}

}  // namespace
