#include "platform/app/afx.h"

#include <cstdarg>

#include "platform/base/strings.h"
#include "platform/io/files.h"

namespace {

CWinApp* g_app = nullptr;

}  // namespace

void CString::FormatV(LPCWSTR format, va_list args) {
    text_.clear();
    platform::AppendFormatV(text_, format, args);
}

void CString::Format(LPCWSTR format, ...) {
    va_list args;
    va_start(args, format);
    FormatV(format, args);
    va_end(args);
}

void CString::AppendFormat(LPCWSTR format, ...) {
    va_list args;
    va_start(args, format);
    platform::AppendFormatV(text_, format, args);
    va_end(args);
}

const AFX_MSGMAP* PASCAL CCmdTarget::GetThisMessageMap() {
    static const AFX_MSGMAP_ENTRY entries[] = {{0, 0, 0, 0, nullptr}};
    static const AFX_MSGMAP map = {nullptr, &entries[0]};
    return &map;
}

const AFX_MSGMAP* CCmdTarget::GetMessageMap() const {
    return GetThisMessageMap();
}

bool CCmdTarget::OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) {
    for (const AFX_MSGMAP* map = GetMessageMap(); map;
         map = map->pfnGetBaseMap ? map->pfnGetBaseMap() : nullptr) {
        for (const AFX_MSGMAP_ENTRY* entry = map->lpEntries; entry->pfn; ++entry) {
            if (entry->nMessage != message) continue;
            if (message == WM_COMMAND) {
                UINT id = LOWORD(wParam);
                if (entry->nCode != HIWORD(wParam) || id < entry->nID || id > entry->nLastID)
                    continue;
            }
            LRESULT value = entry->pfn(this, wParam, lParam);
            if (result) *result = value;
            return true;
        }
    }
    return false;
}

// A window object that goes away stops being the application's main window, so the
// framework never reaches it through a stale pointer.
CWnd::~CWnd() {
    if (g_app && g_app->m_pMainWnd == this) g_app->m_pMainWnd = nullptr;
}

CWnd* CWnd::GetDlgItem(int id) const {
    HWND control = ::GetDlgItem(m_hWnd, id);
    if (!control) return nullptr;
    auto& item = items_[id];
    if (!item) item = std::make_unique<CWnd>();
    item->m_hWnd = control;
    return item.get();
}

BOOL CWnd::EnableWindow(BOOL enable) {
    return ::EnableWindow(m_hWnd, enable);
}
BOOL CWnd::IsWindowEnabled() const {
    return ::IsWindowEnabled(m_hWnd);
}
void CWnd::SetWindowText(LPCWSTR text) {
    ::SetWindowTextW(m_hWnd, text);
}

void CWnd::GetWindowText(CString& text) const {
    int length = ::GetWindowTextLengthW(m_hWnd);
    std::basic_string<WCHAR> buffer(static_cast<size_t>(length) + 1, TEXT('\0'));
    int got = ::GetWindowTextW(m_hWnd, buffer.data(), length + 1);
    buffer.resize(static_cast<size_t>(got));
    text = CString(buffer);
}

BOOL CWnd::ShowWindow(int command) {
    return ::ShowWindow(m_hWnd, command);
}

LRESULT CWnd::SendMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    return ::SendMessageW(m_hWnd, message, wParam, lParam);
}

BOOL CWnd::PostMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    return ::PostMessageW(m_hWnd, message, wParam, lParam);
}

HICON CWnd::SetIcon(HICON icon, BOOL bigIcon) {
    return reinterpret_cast<HICON>(
        SendMessage(WM_SETICON, bigIcon ? ICON_BIG : ICON_SMALL, reinterpret_cast<LPARAM>(icon)));
}

BOOL CWnd::SetForegroundWindow() {
    return ::SetForegroundWindow(m_hWnd);
}

BOOL CWnd::UpdateData(BOOL save) {
    CDataExchange dx(this, save);
    DoDataExchange(&dx);
    return TRUE;
}

void CWnd::DoDataExchange(CDataExchange*) {}

void DDX_Text(CDataExchange* dx, int id, CString& value) {
    HWND control = ::GetDlgItem(dx->m_pDlgWnd->m_hWnd, id);
    if (!control) return;
    if (dx->m_bSaveAndValidate) {
        CWnd window;
        window.m_hWnd = control;
        window.GetWindowText(value);
        window.m_hWnd = nullptr;
    } else {
        ::SetWindowTextW(control, value);
    }
}

INT_PTR CALLBACK AfxDlgProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        auto* dialog = reinterpret_cast<CDialog*>(lParam);
        dialog->m_hWnd = window;
        SetWindowLongPtrW(window, DWLP_USER, lParam);
        return dialog->OnInitDialog();
    }
    auto* dialog = reinterpret_cast<CDialog*>(GetWindowLongPtrW(window, DWLP_USER));
    if (!dialog) return FALSE;
    LRESULT result = 0;
    if (!dialog->OnWndMsg(message, wParam, lParam, &result)) return FALSE;
    SetWindowLongPtrW(window, DWLP_MSGRESULT, result);
    return TRUE;
}

BEGIN_MESSAGE_MAP(CDialog, CWnd)
ON_COMMAND(IDOK, &CDialog::OnOK)
ON_COMMAND(IDCANCEL, &CDialog::OnCancel)
END_MESSAGE_MAP()

CDialog::CDialog(UINT templateId, CWnd* parent)
    : m_nIDHelp(templateId),
      m_lpszTemplateName(MAKEINTRESOURCEW(templateId)),
      m_pParentWnd(parent) {}

INT_PTR CDialog::DoModal() {
    HINSTANCE instance = AfxGetResourceHandle();
    HRSRC found = FindResourceW(instance, m_lpszTemplateName, RT_DIALOG);
    if (!found) return -1;
    auto* source = static_cast<LPCDLGTEMPLATEW>(LockResource(LoadResource(instance, found)));
    HWND parent = m_pParentWnd ? m_pParentWnd->m_hWnd : nullptr;
    INT_PTR result = DialogBoxIndirectParamW(instance, source, parent, AfxDlgProc,
                                             reinterpret_cast<LPARAM>(this));
    m_hWnd = nullptr;
    return result;
}

// As the framework does on a Pocket PC: the controls are filled from the members, the
// dialog comes forward and the shell makes it full screen with a Done button.
BOOL CDialog::OnInitDialog() {
    UpdateData(FALSE);
    ::SetForegroundWindow(m_hWnd);
    SHINITDLGINFO info{
        SHIDIM_FLAGS, m_hWnd,
        SHIDIF_DONEBUTTON | SHIDIF_SIZEDLGFULLSCREEN | SHIDIF_SIPDOWN | SHIDIF_EMPTYMENU};
    SHInitDialog(&info);
    return TRUE;
}

void CDialog::EndDialog(int result) {
    ::EndDialog(m_hWnd, result);
}

void CDialog::OnOK() {
    UpdateData(TRUE);
    EndDialog(IDOK);
}

void CDialog::OnCancel() {
    EndDialog(IDCANCEL);
}

int CWinThread::Run() {
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0)) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    int exitCode = ExitInstance();
    return exitCode ? exitCode : static_cast<int>(msg.wParam);
}

BEGIN_MESSAGE_MAP(CWinApp, CCmdTarget)
END_MESSAGE_MAP()

CWinApp::CWinApp(LPCWSTR appName) {
    if (appName) appName_ = appName;
    m_pszAppName = appName_.c_str();
    g_app = this;
}

CWinApp::~CWinApp() {
    if (g_app == this) g_app = nullptr;
}

void CWinApp::SetRegistryKey(LPCWSTR key) {
    registryKey_ = key ? key : TEXT("");
    m_pszRegistryKey = registryKey_.c_str();
    m_pszProfileName = m_pszAppName;
}

CWinApp* AfxGetApp() {
    return g_app;
}

HINSTANCE AfxGetInstanceHandle() {
    return g_app ? g_app->m_hInstance : nullptr;
}

HINSTANCE AfxGetResourceHandle() {
    return AfxGetInstanceHandle();
}

int AfxMessageBox(LPCWSTR text, UINT type, UINT) {
    HWND owner = g_app && g_app->m_pMainWnd ? g_app->m_pMainWnd->m_hWnd : nullptr;
    LPCWSTR caption = g_app && g_app->m_pszAppName ? g_app->m_pszAppName : TEXT("");
    return MessageBoxW(owner, text, caption, type);
}

// The application's name defaults to the program's file name without its extension, read
// when the framework starts (the global application object is built before that).
static void NameApplication(CWinApp& app, std::basic_string<WCHAR>& storage) {
    if (app.m_pszAppName && *app.m_pszAppName) return;
    WCHAR path[MAX_PATH];
    DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::basic_string<WCHAR> name(path, length);
    size_t slash = name.find_last_of(TEXT("\\/"));
    if (slash != std::basic_string<WCHAR>::npos) name.erase(0, slash + 1);
    size_t dot = name.find_last_of(TEXT('.'));
    if (dot != std::basic_string<WCHAR>::npos && dot > 0) name.erase(dot);
    storage = name;
    app.m_pszAppName = storage.c_str();
}

int AfxWinMain(HINSTANCE instance, HINSTANCE, LPWSTR commandLine, int showCommand) {
    CWinApp* app = AfxGetApp();
    if (!app) return -1;
    static std::basic_string<WCHAR> defaultName;
    NameApplication(*app, defaultName);
    app->m_hInstance = instance;
    app->m_lpCmdLine = commandLine;
    app->m_nCmdShow = showCommand;
    if (!app->InitInstance()) {
        if (app->m_pMainWnd && app->m_pMainWnd->m_hWnd) DestroyWindow(app->m_pMainWnd->m_hWnd);
        return app->ExitInstance();
    }
    return app->Run();
}
