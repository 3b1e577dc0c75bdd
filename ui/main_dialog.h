// Belvane's one dialog: starts the port scan, shows its progress and its report in a
// read-only box, and offers the deployment (button 1001) and the way out (button 1002).
#pragma once

#include "platform/app/afx.h"

class MainDialog : public CDialog {
  public:
    explicit MainDialog(CWnd* parent = nullptr);
    ~MainDialog() override;

    HICON m_hIcon;
    CString m_strReport;

  protected:
    DECLARE_MESSAGE_MAP()
    void DoDataExchange(CDataExchange* dx) override;
    BOOL OnInitDialog() override;

    // Writes the scan's findings into Belv.ini beside the program (button 1001).
    afx_msg void DeployConfiguration();
    afx_msg void OnCancelButton();
    afx_msg LRESULT OnProbeNotify(WPARAM wParam, LPARAM lParam);

  private:
    void EnableButton(int id, BOOL enable);
    void BuildReport();
};

// The texts of the report box.
inline constexpr WCHAR kProgressText[] = TEXT(
    "Is inspecting the port, please correct connection radar, may take several minutes, "
    "please wait...");
inline constexpr WCHAR kStartFailedText[] = TEXT("Test failure!");
inline constexpr WCHAR kDeploySucceededText[] =
    TEXT("Deploy Succeed, Please run kovu program again!");
inline constexpr WCHAR kDeployIncompleteText[] =
    TEXT("Deploy incomplete, please mend Belv.ini and press Belvane again:");
inline constexpr WCHAR kNoConfigurationText[] =
    TEXT("Please take this progam to kovu directory and run again!");
