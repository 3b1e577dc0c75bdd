// Modal dialogs from binary templates, the dialog manager's rules for the dialog window,
// and the window functions the dialogs use.
#include <algorithm>
#include <cstdio>
#include <mutex>

#include "internal/dialog.h"
#include "internal/template_parser.h"
#include "platform/ui/dialog_template.h"
#include "platform/ui/resources.h"

namespace platform::detail {
namespace {

void OnForeground(HWND window) {
    HWND dialog = window;
    if (DialogState* state = GetDialogState(dialog)) {
        ++state->foregroundRequests;
        if (FrontEnd* frontEnd = ActiveFrontEnd()) frontEnd->Alert(dialog);
    }
}

LRESULT CALLBACK MessageBoxProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
    if (message == WM_INITDIALOG) return TRUE;
    if (message == WM_COMMAND && (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL)) {
        EndDialog(dialog, IDOK);
        return TRUE;
    }
    if (message == WM_CLOSE) {
        EndDialog(dialog, IDOK);
        return TRUE;
    }
    return FALSE;
}

INT_PTR RunModal(HWND dialog, FrontEnd* frontEnd) {
    auto record = FindWindowRecord(dialog);  // keeps the record alive for the loop
    DialogState* state = GetDialogState(dialog);
    DialogRunning(dialog);
    frontEnd->DialogStarted(dialog);
    // The front end hears of the end while the dialog still counts as running.
    struct Unregister {
        HWND dialog;
        FrontEnd* frontEnd;
        ~Unregister() {
            frontEnd->DialogEnded(dialog);
            DialogGone(dialog);
        }
    } unregister{dialog, frontEnd};

    while (!state->ended && IsWindow(dialog)) {
        MSG msg;
        while (!state->ended && PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (msg.message == WM_QUIT) {
                // As on Windows: the modal loop ends and leaves the quit for the outer loop.
                PostQuitMessage(static_cast<int>(msg.wParam));
                state->ended = true;
                state->result = 0;
                break;
            }
            DispatchMessageW(&msg);
        }
        if (state->ended) break;
        frontEnd->Paint(ThreadDialogs());
        pollfd fds[8];
        int count = frontEnd->InputFds(fds, 8);
        if (WaitMessageOrFds(fds, count, -1)) frontEnd->HandleInput(dialog, fds, count);
    }
    return state->result;
}

// Without a chosen front end nothing could show a dialog.
FrontEnd* UsableFrontEnd(std::string* why) {
    FrontEnd* frontEnd = ActiveFrontEnd();
    if (!frontEnd) *why = "No front end was chosen to show dialogs.";
    return frontEnd;
}

}  // namespace
}  // namespace platform::detail

using namespace platform::detail;

INT_PTR DialogBoxIndirectParamW(HINSTANCE instance, LPCDLGTEMPLATEW dialogTemplate, HWND owner,
                                DLGPROC dialogProc, LPARAM initParam) {
    SetForegroundHook(OnForeground);
    ParsedTemplate parsed;
    if (!ParseTemplate(dialogTemplate, &parsed)) {
        SetLastError(ERROR_INVALID_DATA);
        return -1;
    }
    std::string why;
    FrontEnd* frontEnd = UsableFrontEnd(&why);
    if (!frontEnd || !frontEnd->Open(&why)) {
        std::fprintf(stderr, "%s\n", why.c_str());
        SetLastError(ERROR_NOT_SUPPORTED);
        return -1;
    }
    std::u16string className = parsed.className.empty() ? u"Dialog" : parsed.className;
    HWND dialog = CreateWindowExW(parsed.exStyle, className.c_str(), parsed.title.c_str(),
                                  parsed.style, parsed.x, parsed.y, parsed.cx, parsed.cy, owner,
                                  nullptr, instance, nullptr);
    if (!dialog) return -1;
    {
        auto record = FindWindowRecord(dialog);
        record->extension = std::make_unique<DialogState>();
        size_t slots = static_cast<size_t>(DLGWINDOWEXTRA) / sizeof(LONG_PTR) + 1;
        if (record->extraBytes.size() < slots) record->extraBytes.resize(slots, 0);
    }
    SetWindowLongPtrW(dialog, DWLP_DLGPROC, reinterpret_cast<LONG_PTR>(dialogProc));
    for (const auto& item : parsed.items) {
        HWND control = CreateWindowExW(item.exStyle, item.className.c_str(), item.text.c_str(),
                                       item.style, item.x, item.y, item.cx, item.cy, dialog,
                                       reinterpret_cast<HMENU>(static_cast<UINT_PTR>(item.id)),
                                       instance, const_cast<void*>(item.createData));
        if (!control) {
            DestroyWindow(dialog);
            return -1;
        }
        if (item.textOrdinal >= 0 && (item.style & SS_TYPEMASK) == SS_ICON &&
            KindOf(*FindWindowRecord(control)) == ControlKind::Static) {
            HICON icon = LoadIconW(instance, MAKEINTRESOURCEW(item.textOrdinal));
            SendMessageW(control, STM_SETICON, reinterpret_cast<WPARAM>(icon), 0);
        }
    }
    HWND first = NextTabStop(dialog, nullptr, true);
    // The focus goes to the first tab stop that is still enabled once the dialog has set
    // itself up (its initialisation may have disabled the first one).
    if (SendMessageW(dialog, WM_INITDIALOG, reinterpret_cast<WPARAM>(first), initParam)) {
        HWND target = NextTabStop(dialog, nullptr, true);
        if (target) SetFocus(target);
    }
    INT_PTR result = RunModal(dialog, frontEnd);
    DestroyWindow(dialog);
    return result;
}

BOOL EndDialog(HWND dialog, INT_PTR result) {
    return static_cast<BOOL>(RunOnOwner(dialog, [&]() -> LRESULT {
        DialogState* state = GetDialogState(dialog);
        if (!state) {
            SetLastError(ERROR_INVALID_WINDOW_HANDLE);
            return FALSE;
        }
        state->ended = true;
        state->result = result;
        PostMessageW(dialog, WM_NULL, 0, 0);  // wakes the modal loop wherever it waits
        return TRUE;
    }));
}

LRESULT DefDlgProcW(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    auto record = FindWindowRecord(dialog);
    if (!record) return 0;
    auto proc = reinterpret_cast<DLGPROC>(
        record->extraBytes.size() > 1 ? record->extraBytes[DWLP_DLGPROC / sizeof(LONG_PTR)] : 0);
    if (proc) {
        INT_PTR handled = proc(dialog, message, wParam, lParam);
        if (message == WM_INITDIALOG) return handled;
        if (handled) return record->extraBytes[DWLP_MSGRESULT / sizeof(LONG_PTR)];
    }
    switch (message) {
        case WM_INITDIALOG:
            return proc ? FALSE : TRUE;
        case WM_CLOSE: {
            HWND cancel = GetDlgItem(dialog, IDCANCEL);
            if (cancel && !IsWindowEnabled(cancel)) return 0;
            PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED),
                         reinterpret_cast<LPARAM>(cancel));
            return 0;
        }
        case WM_SETFOCUS:
            if (DialogState* state = GetDialogState(dialog)) {
                HWND target = state->focus ? state->focus : NextTabStop(dialog, nullptr, true);
                if (target) SetFocus(target);
            }
            return 0;
        default:
            return DefWindowProcW(dialog, message, wParam, lParam);
    }
}

HWND GetDlgItem(HWND dialog, int id) {
    HWND found = nullptr;
    RunOnOwner(dialog, [&]() -> LRESULT {
        auto record = FindWindowRecord(dialog);
        for (HWND child : record->children) {
            auto c = FindWindowRecord(child);
            if (c && c->id == id) {
                found = child;
                break;
            }
        }
        return 0;
    });
    if (!found) SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return found;
}

int GetDlgCtrlID(HWND window) {
    return static_cast<int>(GetWindowLongPtrW(window, GWLP_ID));
}

HWND GetParent(HWND window) {
    auto record = FindWindowRecord(window);
    return record ? record->parent : nullptr;
}

LRESULT SendDlgItemMessageW(HWND dialog, int id, UINT message, WPARAM wParam, LPARAM lParam) {
    HWND control = GetDlgItem(dialog, id);
    return control ? SendMessageW(control, message, wParam, lParam) : 0;
}

BOOL SetDlgItemTextW(HWND dialog, int id, LPCWSTR text) {
    HWND control = GetDlgItem(dialog, id);
    return control ? SetWindowTextW(control, text) : FALSE;
}

UINT GetDlgItemTextW(HWND dialog, int id, LPWSTR buffer, int size) {
    HWND control = GetDlgItem(dialog, id);
    if (!control) {
        if (buffer && size > 0) buffer[0] = 0;
        return 0;
    }
    return static_cast<UINT>(GetWindowTextW(control, buffer, size));
}

BOOL SetWindowTextW(HWND window, LPCWSTR text) {
    if (!IsWindow(window)) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    return static_cast<BOOL>(SendMessageW(window, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text)));
}

int GetWindowTextW(HWND window, LPWSTR buffer, int size) {
    if (!buffer || size <= 0) return 0;
    buffer[0] = 0;
    return static_cast<int>(SendMessageW(window, WM_GETTEXT, static_cast<WPARAM>(size),
                                         reinterpret_cast<LPARAM>(buffer)));
}

int GetWindowTextLengthW(HWND window) {
    return static_cast<int>(SendMessageW(window, WM_GETTEXTLENGTH, 0, 0));
}

BOOL EnableWindow(HWND window, BOOL enable) {
    return static_cast<BOOL>(RunOnOwner(window, [&]() -> LRESULT {
        auto record = FindWindowRecord(window);
        bool wasDisabled = (record->style & WS_DISABLED) != 0;
        if (wasDisabled == !enable) return wasDisabled;
        if (enable)
            record->style &= ~WS_DISABLED;
        else
            record->style |= WS_DISABLED;
        SendMessageW(window, WM_ENABLE, enable ? TRUE : FALSE, 0);
        // A control that loses the focus by being disabled passes it on, as the dialog
        // manager does on Windows.
        HWND dialog = DialogOf(window);
        if (!enable && dialog) {
            DialogState* state = GetDialogState(dialog);
            if (state->focus == window) state->focus = NextTabStop(dialog, window, true);
        }
        return wasDisabled;
    }));
}

BOOL IsWindowEnabled(HWND window) {
    return static_cast<BOOL>(RunOnOwner(window, [&]() -> LRESULT {
        auto record = FindWindowRecord(window);
        return (record->style & WS_DISABLED) ? FALSE : TRUE;
    }));
}

HWND SetFocus(HWND window) {
    HWND old = nullptr;
    RunOnOwner(window, [&]() -> LRESULT {
        HWND dialog = DialogOf(window);
        if (!dialog) {
            if (GetDialogState(window)) SendMessageW(window, WM_SETFOCUS, 0, 0);
            return 0;
        }
        DialogState* state = GetDialogState(dialog);
        old = state->focus;
        if (old == window) return 0;
        if (old) SendMessageW(old, WM_KILLFOCUS, reinterpret_cast<WPARAM>(window), 0);
        state->focus = window;
        SendMessageW(window, WM_SETFOCUS, reinterpret_cast<WPARAM>(old), 0);
        return 0;
    });
    return old;
}

HWND GetFocus() {
    const auto& dialogs = ThreadDialogs();
    if (dialogs.empty()) return nullptr;
    DialogState* state = GetDialogState(dialogs.back());
    return state ? state->focus : nullptr;
}

BOOL ShowWindow(HWND window, int command) {
    return static_cast<BOOL>(RunOnOwner(window, [&]() -> LRESULT {
        auto record = FindWindowRecord(window);
        bool wasVisible = (record->style & WS_VISIBLE) != 0;
        if (command == SW_HIDE)
            record->style &= ~WS_VISIBLE;
        else
            record->style |= WS_VISIBLE;
        HWND dialog = DialogOf(window);
        if (command == SW_HIDE && dialog && GetDialogState(dialog)->focus == window)
            GetDialogState(dialog)->focus = NextTabStop(dialog, window, true);
        return wasVisible;
    }));
}

BOOL UpdateWindow(HWND window) {
    return IsWindow(window);
}

// A message box is a small dialog built in code: the text and an OK button. Its width
// follows the longest line of the text, within the screen.
int MessageBoxW(HWND owner, LPCWSTR text, LPCWSTR caption, UINT) {
    std::u16string body = text ? text : u"";
    int longest = 0, lines = 1, current = 0;
    for (char16_t c : body) {
        if (c == u'\n') {
            ++lines;
            current = 0;
        } else if (c != u'\r') {
            longest = std::max(longest, ++current);
        }
    }
    int columns = 80, rows = 24;
    if (FrontEnd* frontEnd = ActiveFrontEnd()) frontEnd->ScreenSize(&columns, &rows);
    int width = std::clamp(longest + 4, 20, std::max(20, columns - 4));
    int textRows = lines + longest / std::max(1, width - 2);
    auto cx = static_cast<short>(width * 4);
    auto textCy = static_cast<short>(std::min(textRows, std::max(1, rows - 8)) * 8);
    std::vector<platform::DialogItemSpec> items = {
        {WS_CHILD | WS_VISIBLE | SS_CENTER, 0, 4, 4, static_cast<short>(cx - 8), textCy, 0xFFFF,
         u"STATIC", body},
        {WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_DEFPUSHBUTTON, 0, static_cast<short>(cx / 2 - 20),
         static_cast<short>(textCy + 8), 40, 14, IDOK, u"BUTTON", u"OK"},
    };
    platform::DialogSpec layout{WS_POPUP | WS_VISIBLE | WS_CAPTION | WS_SYSMENU | DS_CENTER,
                                0,
                                0,
                                0,
                                cx,
                                static_cast<short>(textCy + 26),
                                caption ? caption : u"",
                                u"",
                                0,
                                u""};
    std::vector<WORD> words = platform::BuildDialogTemplate(layout, items);
    INT_PTR result = DialogBoxIndirectParamW(
        nullptr, reinterpret_cast<LPCDLGTEMPLATEW>(words.data()), owner, MessageBoxProc, 0);
    return result < 0 ? 0 : static_cast<int>(result);
}

namespace platform {

bool FrontEndUsable(std::string* why) {
    FrontEnd* frontEnd = UsableFrontEnd(why);
    return frontEnd && frontEnd->Check(why);
}

void StartWindowClasses() {
    static std::once_flag once;
    std::call_once(once, [] {
        WNDCLASSW dialog{};
        dialog.lpfnWndProc = DefDlgProcW;
        dialog.cbWndExtra = DLGWINDOWEXTRA;
        dialog.lpszClassName = u"Dialog";
        RegisterSystemClass(dialog);
        RegisterControlClasses();
    });
}

}  // namespace platform
