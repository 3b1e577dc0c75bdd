// The least of the dialog application framework, under the framework's own names: an
// application object (CWinApp) with instance initialisation, settings key and main window;
// a modal dialog (CDialog) with a message map, dialog data exchange and the default OK and
// Cancel handling; CString; AfxMessageBox.
//
// A program defines one global object of a class derived from CWinApp and links the
// target platform_main: the framework's WinMain runs that object's InitInstance, and then
// its message loop when InitInstance returns TRUE.
//
// Message maps use the framework's macros; each entry holds a small function that calls
// the member, so no member pointer casts are needed:
//
//   class MyDialog : public CDialog {
//       ...
//       afx_msg void OnGo();
//       afx_msg LRESULT OnNotify(WPARAM wParam, LPARAM lParam);
//       DECLARE_MESSAGE_MAP()
//   };
//   BEGIN_MESSAGE_MAP(MyDialog, CDialog)
//       ON_BN_CLICKED(1001, &MyDialog::OnGo)
//       ON_MESSAGE(WM_USER + 5, &MyDialog::OnNotify)
//   END_MESSAGE_MAP()
#pragma once

#include <cstdarg>
#include <map>
#include <memory>
#include <string>

#include "platform/base/messages.h"
#include "platform/base/types.h"
#include "platform/ui/dialogs.h"
#include "platform/ui/resources.h"
#include "platform/ui/shell.h"

#define afx_msg
#ifndef PASCAL
#define PASCAL
#endif

// A growable UTF-16 string.
class CString {
  public:
    CString() = default;
    CString(LPCWSTR text)
        : text_(text ? text : TEXT("")) {}  // NOLINT: converts as the framework's does
    CString(const std::basic_string<WCHAR>& text) : text_(text) {}  // NOLINT

    operator LPCWSTR() const { return text_.c_str(); }  // NOLINT
    LPCWSTR GetString() const { return text_.c_str(); }
    int GetLength() const { return static_cast<int>(text_.size()); }
    bool IsEmpty() const { return text_.empty(); }
    void Empty() { text_.clear(); }
    WCHAR GetAt(int index) const { return text_.at(static_cast<size_t>(index)); }
    const std::basic_string<WCHAR>& str() const { return text_; }

    CString& operator=(LPCWSTR text) {
        text_ = text ? text : TEXT("");
        return *this;
    }
    CString& operator+=(const CString& more) {
        text_ += more.text_;
        return *this;
    }
    CString& operator+=(LPCWSTR more) {
        if (more) text_ += more;
        return *this;
    }
    CString& operator+=(WCHAR c) {
        text_ += c;
        return *this;
    }
    friend CString operator+(const CString& a, const CString& b) {
        return CString(a.text_ + b.text_);
    }
    friend CString operator+(const CString& a, LPCWSTR b) { return a + CString(b); }
    friend CString operator+(LPCWSTR a, const CString& b) { return CString(a) + b; }
    friend bool operator==(const CString& a, const CString& b) { return a.text_ == b.text_; }
    friend bool operator==(const CString& a, LPCWSTR b) { return a.text_ == (b ? b : TEXT("")); }

    // Replaces the text with the formatted one (the formatter of StringCchPrintfW, without
    // a length limit); AppendFormat adds to it.
    void Format(LPCWSTR format, ...);
    void AppendFormat(LPCWSTR format, ...);
    void FormatV(LPCWSTR format, va_list args);

  private:
    std::basic_string<WCHAR> text_;
};

class CWnd;
class CCmdTarget;

// One message map entry: the message, for WM_COMMAND the notification code and the range
// of control ids, and the function that calls the member.
struct AFX_MSGMAP_ENTRY {
    UINT nMessage;
    UINT nCode;
    UINT nID;
    UINT nLastID;
    LRESULT (*pfn)(CCmdTarget* target, WPARAM wParam, LPARAM lParam);
};

struct AFX_MSGMAP {
    const AFX_MSGMAP* (*pfnGetBaseMap)();
    const AFX_MSGMAP_ENTRY* lpEntries;
};

#define DECLARE_MESSAGE_MAP()                            \
  protected:                                             \
    static const AFX_MSGMAP* PASCAL GetThisMessageMap(); \
    const AFX_MSGMAP* GetMessageMap() const override;    \
                                                         \
  public:

#define BEGIN_MESSAGE_MAP(theClass, baseClass)               \
    const AFX_MSGMAP* theClass::GetMessageMap() const {      \
        return GetThisMessageMap();                          \
    }                                                        \
    const AFX_MSGMAP* PASCAL theClass::GetThisMessageMap() { \
        using ThisClass [[maybe_unused]] = theClass;         \
        using TheBaseClass = baseClass;                      \
        static const AFX_MSGMAP_ENTRY _messageEntries[] = {
#define END_MESSAGE_MAP()                                                                         \
    { 0, 0, 0, 0, nullptr }                                                                       \
    }                                                                                             \
    ;                                                                                             \
    static const AFX_MSGMAP messageMap = {&TheBaseClass::GetThisMessageMap, &_messageEntries[0]}; \
    return &messageMap;                                                                           \
    }

#define ON_COMMAND_EX_(code, id, memberFxn)                                             \
    {WM_COMMAND, static_cast<UINT>(code), static_cast<UINT>(id), static_cast<UINT>(id), \
     [](CCmdTarget* target, WPARAM, LPARAM) -> LRESULT {                                \
         (static_cast<ThisClass*>(target)->*(memberFxn))();                             \
         return 0;                                                                      \
     }},
#define ON_COMMAND(id, memberFxn) ON_COMMAND_EX_(0, id, memberFxn)
#define ON_BN_CLICKED(id, memberFxn) ON_COMMAND_EX_(BN_CLICKED, id, memberFxn)
#define ON_LBN_SELCHANGE(id, memberFxn) ON_COMMAND_EX_(LBN_SELCHANGE, id, memberFxn)
#define ON_MESSAGE(message, memberFxn)                                           \
    {static_cast<UINT>(message), 0, 0, 0,                                        \
     [](CCmdTarget* target, WPARAM wParam, LPARAM lParam) -> LRESULT {           \
         return (static_cast<ThisClass*>(target)->*(memberFxn))(wParam, lParam); \
     }},

class CCmdTarget {
  public:
    virtual ~CCmdTarget() = default;
    // Looks the message up in this object's message map and its bases'; true when an
    // entry handled it, with its result.
    bool OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result);

  protected:
    static const AFX_MSGMAP* PASCAL GetThisMessageMap();
    virtual const AFX_MSGMAP* GetMessageMap() const;
};

class CDataExchange {
  public:
    CDataExchange(CWnd* dialog, BOOL saveAndValidate)
        : m_bSaveAndValidate(saveAndValidate), m_pDlgWnd(dialog) {}
    BOOL m_bSaveAndValidate;
    CWnd* m_pDlgWnd;
};

class CWnd : public CCmdTarget {
  public:
    CWnd() = default;
    ~CWnd() override;
    CWnd(const CWnd&) = delete;
    CWnd& operator=(const CWnd&) = delete;

    HWND m_hWnd = nullptr;
    HWND GetSafeHwnd() const { return m_hWnd; }

    // The control with that id, as a window object owned by this one; null when missing.
    CWnd* GetDlgItem(int id) const;
    BOOL EnableWindow(BOOL enable = TRUE);
    BOOL IsWindowEnabled() const;
    void SetWindowText(LPCWSTR text);
    void GetWindowText(CString& text) const;
    BOOL ShowWindow(int command);
    LRESULT SendMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0);
    BOOL PostMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0);
    HICON SetIcon(HICON icon, BOOL bigIcon);
    BOOL SetForegroundWindow();
    // Moves data between the members and the controls: to the controls when save is FALSE.
    BOOL UpdateData(BOOL save = TRUE);

  protected:
    virtual void DoDataExchange(CDataExchange* dx);

  private:
    mutable std::map<int, std::unique_ptr<CWnd>> items_;
};

class CDialog : public CWnd {
  public:
    CDialog() = default;
    explicit CDialog(UINT templateId, CWnd* parent = nullptr);
    ~CDialog() override = default;

    // Runs the dialog from its template resource; returns the EndDialog result, or -1.
    virtual INT_PTR DoModal();
    virtual BOOL OnInitDialog();
    void EndDialog(int result);

  protected:
    virtual void OnOK();
    virtual void OnCancel();

    UINT m_nIDHelp = 0;
    LPCWSTR m_lpszTemplateName = nullptr;
    CWnd* m_pParentWnd = nullptr;

    DECLARE_MESSAGE_MAP()

  private:
    friend INT_PTR CALLBACK AfxDlgProc(HWND, UINT, WPARAM, LPARAM);
};

class CWinThread : public CCmdTarget {
  public:
    CWnd* m_pMainWnd = nullptr;
    virtual BOOL InitInstance() { return FALSE; }
    // The message loop; its result is the process's exit code.
    virtual int Run();
    virtual int ExitInstance() { return 0; }
};

class CWinApp : public CWinThread {
  public:
    // The one application object of the process registers itself here. Without a name
    // the application takes the program's file name without its extension.
    explicit CWinApp(LPCWSTR appName = nullptr);
    ~CWinApp() override;
    CWinApp(const CWinApp&) = delete;
    CWinApp& operator=(const CWinApp&) = delete;

    // Names the settings key: HKEY_CURRENT_USER\Software\<key>\<application name>. Nothing
    // is written there until the program stores a setting.
    void SetRegistryKey(LPCWSTR key);
    // An icon group from the program's resources.
    HICON LoadIcon(UINT id) const { return ::LoadIconW(m_hInstance, MAKEINTRESOURCEW(id)); }

    LPCWSTR m_pszAppName = nullptr;
    LPCWSTR m_pszRegistryKey = nullptr;
    LPCWSTR m_pszProfileName = nullptr;
    HINSTANCE m_hInstance = nullptr;
    LPWSTR m_lpCmdLine = nullptr;
    int m_nCmdShow = 0;

    DECLARE_MESSAGE_MAP()

  private:
    std::basic_string<WCHAR> appName_;
    std::basic_string<WCHAR> registryKey_;
};

CWinApp* AfxGetApp();
HINSTANCE AfxGetInstanceHandle();
HINSTANCE AfxGetResourceHandle();
// The framework's message box: the application's name as caption, owned by the main window.
int AfxMessageBox(LPCWSTR text, UINT type = MB_OK, UINT helpId = 0);
// Runs the application object: the framework's WinMain.
int AfxWinMain(HINSTANCE instance, HINSTANCE previous, LPWSTR commandLine, int showCommand);

void DDX_Text(CDataExchange* dx, int id, CString& value);
