#include "ui/belvane_app.h"

#include "probe/port_scan.h"
#include "ui/main_dialog.h"

BEGIN_MESSAGE_MAP(BelvaneApp, CWinApp)
END_MESSAGE_MAP()

BelvaneApp::BelvaneApp() : CWinApp(nullptr) {}

// Runs the dialog and returns FALSE, so that the framework ends the program at once
// instead of entering a message loop of its own.
BOOL BelvaneApp::InitInstance() {
    SHInitExtraControls();
    // The framework's settings key; the program stores nothing under it.
    SetRegistryKey(TEXT("应用程序向导生成的本地应用程序"));

    MainDialog* dialog = new MainDialog(nullptr);
    m_pMainWnd = dialog;
    dialog->DoModal();
    delete dialog;
    // The cancel button stops the scan before the dialog ends; should the dialog end any
    // other way, no reader thread may outlive it into the end of the process.
    StopPortScan();
    return FALSE;
}
