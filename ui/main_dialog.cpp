#include "ui/main_dialog.h"

#include "config/deploy.h"
#include "config/module_path.h"
#include "platform/io/files.h"
#include "probe/port_scan.h"
#include "ui/resource_ids.h"

namespace {

constexpr UINT kScanTimerId = 1;
constexpr size_t kFailureChars = 1024;

// Appends the ports of one type and, unless withBauds is false, their found rates:
// "<label>=1,4 buand=9600,4800". Returns false when the scan found no port of the type.
bool AppendPorts(CString& report, LPCWSTR label, int type, bool withBauds) {
    int baud = 0;
    int port = FirstPortOfType(&baud, type);
    if (port < 0) return false;
    CString bauds;
    report.AppendFormat(TEXT("%s%d"), label, port);
    bauds.Format(TEXT(" buand=%d"), baud);
    while (NextPortOfType(&port, &baud, type) == 1) {
        report.AppendFormat(TEXT(",%d"), port);
        bauds.AppendFormat(TEXT(",%d"), baud);
    }
    if (withBauds) report += bauds;
    return true;
}

// Belv.ini is never created: the deployment only goes ahead when the host program's file
// already lies beside this one.
bool ConfigurationFilePresent(LPCWSTR path) {
    if (path[0] == 0) return false;
    DWORD attributes = GetFileAttributesW(path);
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

}  // namespace

BEGIN_MESSAGE_MAP(MainDialog, CDialog)
ON_BN_CLICKED(IDC_DEPLOY, &MainDialog::DeployConfiguration)
ON_BN_CLICKED(IDC_CANCEL_BUTTON, &MainDialog::OnCancelButton)
ON_MESSAGE(WM_PROBE_NOTIFY, &MainDialog::OnProbeNotify)
END_MESSAGE_MAP()

MainDialog::MainDialog(CWnd* parent)
    : CDialog(IDD_BELVANE_DIALOG, parent),
      m_hIcon(LoadIconW(AfxGetResourceHandle(), MAKEINTRESOURCEW(IDR_MAINFRAME))) {}

MainDialog::~MainDialog() = default;

void MainDialog::DoDataExchange(CDataExchange* dx) {
    CDialog::DoDataExchange(dx);
    DDX_Text(dx, IDC_REPORT, m_strReport);
}

BOOL MainDialog::OnInitDialog() {
    CDialog::OnInitDialog();
    SendMessage(WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(m_hIcon));
    SendMessage(WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(m_hIcon));
    // The shell gave the title bar an OK button; while the dialog runs, only button 1002
    // may end it.
    SHDoneButton(m_hWnd, SHDB_HIDE);

    EnableButton(IDC_DEPLOY, FALSE);
    if (StartPortScan(m_hWnd, kScanTimerId) != 0) {
        EnableButton(IDC_CANCEL_BUTTON, FALSE);
        m_strReport = kProgressText;
    } else {
        EnableButton(IDC_CANCEL_BUTTON, TRUE);
        m_strReport = kStartFailedText;
    }
    UpdateData(FALSE);
    CWnd* report = GetDlgItem(IDC_REPORT);
    if (report != nullptr) {
        report->SendMessage(EM_SETSEL, 0, -1);
        report->SendMessage(EM_SCROLLCARET, 0, 0);
    }
    return TRUE;
}

void MainDialog::EnableButton(int id, BOOL enable) {
    CWnd* button = GetDlgItem(id);
    if (button != nullptr) button->EnableWindow(enable);
}

// Only the finished scan changes the dialog; finds and rate steps leave it as it is.
LRESULT MainDialog::OnProbeNotify(WPARAM wParam, LPARAM) {
    if (wParam != NOTIFY_FINISHED) return 0;
    BuildReport();
    UpdateData(FALSE);
    EnableButton(IDC_DEPLOY, TRUE);
    EnableButton(IDC_CANCEL_BUTTON, TRUE);
    return 0;
}

// Three lines: GPS receivers with their rates, radar detectors with their rates, and the
// ports free for the virtual port driver. The first line replaces whatever was shown.
void MainDialog::BuildReport() {
    m_strReport.Empty();
    if (!AppendPorts(m_strReport, TEXT("GPS:com="), PORT_GPS, true))
        m_strReport = TEXT("GPS Port Not Finded!");
    m_strReport += TEXT(";\r\n");
    if (!AppendPorts(m_strReport, TEXT("Radar:com="), PORT_RADAR, true))
        m_strReport += TEXT("Radar Port Not Finded!");
    m_strReport += TEXT(";\r\n");
    if (!AppendPorts(m_strReport, TEXT("Virtual:com="), PORT_VIRTUAL_FREE, false))
        m_strReport += TEXT("Virtual Port Undefined!");
}

// A deployment that could not write everything says what is missing and keeps button 1001,
// so that the user can mend Belv.ini and deploy again; only a complete one reports success.
void MainDialog::DeployConfiguration() {
    WCHAR path[MAX_PATH] = {};
    ModuleFilePath(path, MAX_PATH, nullptr, TEXT("Belv.ini"));
    if (!ConfigurationFilePresent(path)) {
        AfxMessageBox(kNoConfigurationText);
        return;
    }
    WCHAR failures[kFailureChars] = {};
    if (DeployFindings(path, FirstPortOfType, NextPortOfType, failures, kFailureChars) == 0) {
        EnableButton(IDC_DEPLOY, FALSE);
        m_strReport = kDeploySucceededText;
    } else {
        m_strReport = kDeployIncompleteText;
        m_strReport += TEXT("\r\n");
        m_strReport += failures;
        // The failure lines each end a line; the box needs no empty line after the last.
        const std::basic_string<WCHAR>& text = m_strReport.str();
        if (text.size() >= 2 && text.compare(text.size() - 2, 2, TEXT("\r\n")) == 0)
            m_strReport = CString(text.substr(0, text.size() - 2));
    }
    UpdateData(FALSE);
}

void MainDialog::OnCancelButton() {
    StopPortScan();
    CDialog::OnCancel();
}
