// Modal dialogs from binary templates, the dialog manager's focus and keyboard rules, and
// the window functions the dialogs use.
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <mutex>

#include "internal/dialog.h"
#include "internal/template_parser.h"
#include "platform/base/detail/window_sockets.h"
#include "platform/ui/dialog_template.h"
#include "platform/ui/resources.h"

namespace platform::detail {
namespace {

// Reads the template word by word; strings are bounded so that a template without its
// terminators cannot run away.
class WordReader {
  public:
    explicit WordReader(const void* start) : base_(static_cast<const BYTE*>(start)) {}
    WORD Word() {
        WORD value;
        std::memcpy(&value, base_ + offset_, sizeof value);
        offset_ += 2;
        return value;
    }
    DWORD Dword() {
        DWORD low = Word();
        return low | (DWORD{Word()} << 16);
    }
    short Short() { return static_cast<short>(Word()); }
    bool String(std::u16string* out) {
        out->clear();
        for (int i = 0; i < 4096; ++i) {
            WORD c = Word();
            if (c == 0) return true;
            out->push_back(static_cast<char16_t>(c));
        }
        return false;
    }
    // A string or 0xFFFF followed by an ordinal.
    bool StringOrOrdinal(std::u16string* out, int* ordinal) {
        WORD first = Word();
        *ordinal = -1;
        out->clear();
        if (first == 0) return true;
        if (first == 0xFFFF) {
            *ordinal = Word();
            return true;
        }
        out->push_back(static_cast<char16_t>(first));
        std::u16string rest;
        if (!String(&rest)) return false;
        *out += rest;
        return true;
    }
    void AlignDword() { offset_ = (offset_ + 3) & ~size_t{3}; }
    const void* Here() const { return base_ + offset_; }
    void Skip(size_t bytes) { offset_ += bytes; }

  private:
    const BYTE* base_;
    size_t offset_ = 0;
};

std::u16string PredefinedClass(int ordinal) {
    switch (ordinal) {
        case 0x80:
            return u"BUTTON";
        case 0x81:
            return u"EDIT";
        case 0x82:
            return u"STATIC";
        case 0x83:
            return u"LISTBOX";
        default:
            return u"";
    }
}

}  // namespace

bool ParseTemplate(const DLGTEMPLATE* source, ParsedTemplate* out) {
    if (!source) return false;
    WordReader in(source);
    WORD first = in.Word();
    WORD second = in.Word();
    bool extended = first == 1 && second == 0xFFFF;
    WORD count;
    if (extended) {
        in.Dword();  // help id
        out->exStyle = in.Dword();
        out->style = in.Dword();
    } else {
        out->style = first | (DWORD{second} << 16);
        out->exStyle = in.Dword();
    }
    count = in.Word();
    out->x = in.Short();
    out->y = in.Short();
    out->cx = in.Short();
    out->cy = in.Short();
    std::u16string menu;
    int ordinal;
    if (!in.StringOrOrdinal(&menu, &ordinal)) return false;
    if (!in.StringOrOrdinal(&out->className, &ordinal)) return false;
    if (ordinal >= 0) out->className.clear();
    if (!in.String(&out->title)) return false;
    if (out->style & DS_SETFONT) {
        out->pointSize = in.Word();
        if (extended) {
            in.Word();  // weight
            in.Word();  // italic and character set
        }
        if (!in.String(&out->font)) return false;
    }
    for (WORD i = 0; i < count; ++i) {
        in.AlignDword();
        ItemTemplate item;
        if (extended) {
            in.Dword();  // help id
            item.exStyle = in.Dword();
            item.style = in.Dword();
        } else {
            item.style = in.Dword();
            item.exStyle = in.Dword();
        }
        item.x = in.Short();
        item.y = in.Short();
        item.cx = in.Short();
        item.cy = in.Short();
        item.id = extended ? static_cast<WORD>(in.Dword()) : in.Word();
        int classOrdinal;
        if (!in.StringOrOrdinal(&item.className, &classOrdinal)) return false;
        if (classOrdinal >= 0) item.className = PredefinedClass(classOrdinal);
        if (item.className.empty()) return false;
        if (!in.StringOrOrdinal(&item.text, &item.textOrdinal)) return false;
        WORD extra = in.Word();
        if (extra) item.createData = in.Here();
        in.Skip(extra);
        out->items.push_back(std::move(item));
    }
    return true;
}

namespace {

struct ProcessDialogList {
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<HWND> running;
};

ProcessDialogList& Running() {
    static ProcessDialogList* list = new ProcessDialogList;
    return *list;
}

thread_local std::vector<HWND> t_dialogs;

FrontEnd* g_testFrontEnd = nullptr;

void OnForeground(HWND window) {
    HWND dialog = window;
    if (DialogState* state = GetDialogState(dialog)) {
        ++state->foregroundRequests;
        if (FrontEnd* frontEnd = ActiveFrontEnd()) frontEnd->Alert(dialog);
    }
}

bool IsTabStop(const WindowRecord& record) {
    return (record.style & WS_TABSTOP) && (record.style & WS_VISIBLE) &&
           !(record.style & WS_DISABLED);
}

// The next (or previous) enabled, visible tab-stop control after from, wrapping around;
// from itself is chosen only when it is the one left. Null when there is none.
HWND NextTabStop(HWND dialog, HWND from, bool forward) {
    auto record = FindWindowRecord(dialog);
    if (!record) return nullptr;
    const auto& children = record->children;
    int n = static_cast<int>(children.size());
    if (n == 0) return nullptr;
    int start = forward ? -1 : n;
    for (int i = 0; i < n; ++i)
        if (children[static_cast<size_t>(i)] == from) start = i;
    for (int step = 1; step <= n; ++step) {
        int i = ((start + (forward ? step : -step)) % n + n) % n;
        auto child = FindWindowRecord(children[static_cast<size_t>(i)]);
        if (child && IsTabStop(*child)) return child->handle;
    }
    return nullptr;
}

HWND DialogOf(HWND control) {
    auto record = FindWindowRecord(control);
    if (!record || !record->parent) return nullptr;
    return GetDialogState(record->parent) ? record->parent : nullptr;
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
    t_dialogs.push_back(dialog);
    {
        ProcessDialogList& list = Running();
        std::lock_guard<std::mutex> lock(list.mutex);
        list.running.push_back(dialog);
        list.changed.notify_all();
    }
    frontEnd->DialogStarted(dialog);
    struct Unregister {
        HWND dialog;
        FrontEnd* frontEnd;
        ~Unregister() {
            frontEnd->DialogEnded(dialog);
            std::erase(t_dialogs, dialog);
            ProcessDialogList& list = Running();
            std::lock_guard<std::mutex> lock(list.mutex);
            std::erase(list.running, dialog);
            list.changed.notify_all();
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
        frontEnd->Paint(t_dialogs);
        pollfd fds[8];
        int count = frontEnd->InputFds(fds, 8);
        if (WaitMessageOrFds(fds, count, -1)) frontEnd->HandleInput(dialog, fds, count);
    }
    return state->result;
}

}  // namespace

DialogState* GetDialogState(HWND dialog) {
    auto record = FindWindowRecord(dialog);
    if (!record) return nullptr;
    return dynamic_cast<DialogState*>(record->extension.get());
}

const std::vector<HWND>& ThreadDialogs() {
    return t_dialogs;
}

std::vector<HWND> ProcessDialogs() {
    ProcessDialogList& list = Running();
    std::lock_guard<std::mutex> lock(list.mutex);
    return list.running;
}

HWND WaitForRunningDialog(int timeoutMs, HWND skip) {
    ProcessDialogList& list = Running();
    std::unique_lock<std::mutex> lock(list.mutex);
    HWND found = nullptr;
    list.changed.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] {
        for (auto it = list.running.rbegin(); it != list.running.rend(); ++it) {
            if (*it != skip) {
                found = *it;
                return true;
            }
        }
        return false;
    });
    return found;
}

bool WaitForDialogGone(HWND dialog, int timeoutMs) {
    ProcessDialogList& list = Running();
    std::unique_lock<std::mutex> lock(list.mutex);
    return list.changed.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] {
        return std::find(list.running.begin(), list.running.end(), dialog) == list.running.end();
    });
}

void SetTestFrontEnd(FrontEnd* frontEnd) {
    g_testFrontEnd = frontEnd;
}

FrontEnd* ActiveFrontEnd() {
    return g_testFrontEnd ? g_testFrontEnd : TerminalFrontEnd();
}

bool DoneButtonVisible(HWND dialog) {
    auto record = FindWindowRecord(dialog);
    DialogState* state = GetDialogState(dialog);
    return record && state && (record->exStyle & WS_EX_CAPTIONOKBTN) && !state->taskbarHidden;
}

bool ClickButton(HWND button) {
    auto record = FindWindowRecord(button);
    if (!record || !(record->style & WS_VISIBLE) || (record->style & WS_DISABLED)) return false;
    if (!record->parent) return false;
    SendMessageW(record->parent, WM_COMMAND, MAKEWPARAM(record->id, BN_CLICKED),
                 reinterpret_cast<LPARAM>(button));
    return true;
}

bool PressDone(HWND dialog) {
    if (!DoneButtonVisible(dialog)) return false;
    SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    return true;
}

// A close request (Escape, Ctrl-C) reaches only a dialog that offers a way to close: a
// Done/OK button in its title bar or a system menu. A dialog without either, such as one
// whose Done button was taken away, ends only through its own buttons.
void SendCloseRequest(HWND dialog) {
    auto record = FindWindowRecord(dialog);
    if (!record) return;
    if (DoneButtonVisible(dialog) || (record->style & WS_SYSMENU))
        SendMessageW(dialog, WM_CLOSE, 0, 0);
}

void HandleKey(HWND dialog, DialogKey key) {
    DialogState* state = GetDialogState(dialog);
    if (!state) return;
    HWND focus = state->focus;
    auto focused = FindWindowRecord(focus);
    ControlKind kind = focused ? KindOf(*focused) : ControlKind::Other;
    switch (key) {
        case DialogKey::Tab:
        case DialogKey::ShiftTab:
            if (HWND next = NextTabStop(dialog, focus, key == DialogKey::Tab)) SetFocus(next);
            return;
        case DialogKey::Enter:
        case DialogKey::Space:
            if (kind == ControlKind::Button) ClickButton(focus);
            return;
        case DialogKey::Up:
        case DialogKey::Down:
        case DialogKey::PageUp:
        case DialogKey::PageDown: {
            bool down = key == DialogKey::Down || key == DialogKey::PageDown;
            bool page = key == DialogKey::PageUp || key == DialogKey::PageDown;
            if (kind == ControlKind::Edit) {
                auto* edit = dynamic_cast<EditState*>(focused->extension.get());
                if (!edit) return;
                int lines = page ? std::max(1, edit->rows) : 1;
                SendMessageW(focus, EM_LINESCROLL, 0, down ? lines : -lines);
            } else if (kind == ControlKind::List) {
                auto* list = dynamic_cast<ListState*>(focused->extension.get());
                if (!list) return;
                int count = static_cast<int>(list->items.size());
                if (count == 0) return;
                int step = page ? std::max(1, list->rows - 1) : 1;
                int next = list->selection < 0 ? 0 : list->selection + (down ? step : -step);
                next = std::clamp(next, 0, count - 1);
                if (next == list->selection) return;
                SendMessageW(focus, LB_SETCURSEL, static_cast<WPARAM>(next), 0);
                if (focused->style & LBS_NOTIFY)
                    SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(focused->id, LBN_SELCHANGE),
                                 reinterpret_cast<LPARAM>(focus));
            }
            return;
        }
        case DialogKey::Escape:
        case DialogKey::CtrlC:
            SendCloseRequest(dialog);
            return;
    }
}

bool HandleClick(HWND dialog, int column, int row) {
    FrontEnd* frontEnd = ActiveFrontEnd();
    int columns = 80, rows = 24;
    if (frontEnd) frontEnd->ScreenSize(&columns, &rows);
    DialogLayout layout = LayoutDialog(dialog, columns, rows);
    if (layout.done.w > 0 && layout.done.Contains(column, row)) return PressDone(dialog);
    for (auto& [control, cell] : layout.controls) {
        if (!cell.Contains(column, row)) continue;
        auto record = FindWindowRecord(control);
        if (!record || (record->style & WS_DISABLED)) return false;
        switch (KindOf(*record)) {
            case ControlKind::Button:
                SetFocus(control);
                return ClickButton(control);
            case ControlKind::List: {
                SetFocus(control);
                auto* list = dynamic_cast<ListState*>(record->extension.get());
                if (!list) return true;
                bool border = (record->style & WS_BORDER) && cell.h >= 3;
                int line = list->top + row - cell.y - (border ? 1 : 0);
                if (line < 0 || line >= static_cast<int>(list->items.size())) return true;
                if (line != list->selection) {
                    SendMessageW(control, LB_SETCURSEL, static_cast<WPARAM>(line), 0);
                    if (record->style & LBS_NOTIFY)
                        SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(record->id, LBN_SELCHANGE),
                                     reinterpret_cast<LPARAM>(control));
                }
                return true;
            }
            case ControlKind::Edit:
                if (record->style & WS_TABSTOP) SetFocus(control);
                return true;
            default:
                return false;
        }
    }
    return false;
}

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
    FrontEnd* frontEnd = ActiveFrontEnd();
    std::string why;
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

bool platform::FrontEndUsable(std::string* why) {
    return ActiveFrontEnd()->Check(why);
}
