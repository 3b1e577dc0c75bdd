// The window table: window records by handle, the window functions, and the message
// functions that find a window's queue (its owner thread's) before they use it.
#include "platform/base/detail/windows.h"

#include <algorithm>
#include <atomic>
#include <map>
#include <mutex>

#include "internal/classes.h"
#include "internal/queues.h"
#include "platform/base/detail/window_sockets.h"
#include "platform/base/threads.h"

namespace platform::detail {
namespace {

struct WindowTable {
    std::mutex mutex;
    std::map<uintptr_t, std::shared_ptr<WindowRecord>> windows;
    uintptr_t nextHandle = 0x10000;
    std::atomic<ForegroundHook> foregroundHook{nullptr};
};

WindowTable& Table() {
    static WindowTable* table = new WindowTable;  // lives until exit, also for late calls
    return *table;
}

HWND NewHandle(WindowTable& table) {
    uintptr_t value = table.nextHandle;
    table.nextHandle += 4;  // the lowest bits stay free (SetForegroundWindow uses bit 0)
    return reinterpret_cast<HWND>(value);
}

LRESULT CallProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    auto record = FindWindowRecord(window);
    if (!record || !record->proc) return 0;
    return record->proc(window, message, wParam, lParam);
}

}  // namespace

std::shared_ptr<WindowRecord> FindWindowRecord(HWND window) {
    uintptr_t value = reinterpret_cast<uintptr_t>(window) & ~uintptr_t{1};
    WindowTable& table = Table();
    std::lock_guard<std::mutex> lock(table.mutex);
    auto it = table.windows.find(value);
    return it == table.windows.end() ? nullptr : it->second;
}

bool IsOwnerThread(const WindowRecord& record) {
    return record.owner && record.owner.get() == ThisQueueIfAny();
}

void SetForegroundHook(ForegroundHook hook) {
    Table().foregroundHook.store(hook);
}

LRESULT RunOnOwner(HWND window, const std::function<LRESULT()>& fn) {
    auto record = FindWindowRecord(window);
    if (!record || record->remote || !record->owner) return 0;
    if (IsOwnerThread(*record)) return fn();
    return SendToQueue(record->owner, fn);
}

}  // namespace platform::detail

using namespace platform::detail;

HWND CreateWindowExW(DWORD exStyle, LPCWSTR className, LPCWSTR windowName, DWORD style, int x,
                     int y, int width, int height, HWND parent, HMENU menu, HINSTANCE instance,
                     LPVOID parameter) {
    WNDCLASSW cls{};
    if (!className || !GetClassInfoW(instance, className, &cls)) {
        SetLastError(ERROR_CLASS_DOES_NOT_EXIST);
        return nullptr;
    }
    auto record = std::make_shared<WindowRecord>();
    record->owner = ThisQueue();
    record->ownerThread = GetCurrentThreadId();
    record->className = cls.lpszClassName;
    record->proc = cls.lpfnWndProc;
    record->classStyle = cls.style;
    record->instance = instance;
    record->classIcon = cls.hIcon;
    record->style = style;
    record->exStyle = exStyle;
    record->parent = parent;
    record->id = reinterpret_cast<LONG_PTR>(menu);
    record->extraBytes.assign(
        static_cast<size_t>(std::max(cls.cbWndExtra, 0)) / sizeof(LONG_PTR) + 2, 0);
    if (windowName) record->text = windowName;
    record->rect = RECT{x, y, x + width, y + height};
    WindowTable& table = Table();
    {
        std::lock_guard<std::mutex> lock(table.mutex);
        record->handle = NewHandle(table);
        table.windows.emplace(reinterpret_cast<uintptr_t>(record->handle), record);
    }
    HWND window = record->handle;
    if (parent) {
        if (auto parentRecord = FindWindowRecord(parent)) parentRecord->children.push_back(window);
    } else if (!IsSystemClass(record->className)) {
        ListenForWindowClass(*record);
    }
    CREATESTRUCTW create{
        parameter,  instance,  menu,   parent, height, width, y, x, static_cast<LONG>(style),
        windowName, className, exStyle};
    if (SendMessageW(window, WM_CREATE, 0, reinterpret_cast<LPARAM>(&create)) == -1) {
        DestroyWindow(window);
        return nullptr;
    }
    return window;
}

BOOL DestroyWindow(HWND window) {
    auto record = FindWindowRecord(window);
    if (!record || record->remote || record->destroying) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    if (!IsOwnerThread(*record)) {
        SetLastError(ERROR_ACCESS_DENIED);  // as on Windows: only the owner may destroy
        return FALSE;
    }
    record->destroying = true;
    SendMessageW(window, WM_DESTROY, 0, 0);
    auto children = record->children;
    for (HWND child : children) DestroyWindow(child);
    if (record->owner) RemoveTimersOf(*record->owner, window);
    StopListening(*record);
    if (record->parent) {
        if (auto parentRecord = FindWindowRecord(record->parent))
            std::erase(parentRecord->children, window);
    }
    WindowTable& table = Table();
    std::lock_guard<std::mutex> lock(table.mutex);
    table.windows.erase(reinterpret_cast<uintptr_t>(window));
    return TRUE;
}

BOOL IsWindow(HWND window) {
    auto record = FindWindowRecord(window);
    if (!record) return FALSE;
    if (record->remote) return RemoteWindowAlive(*record) ? TRUE : FALSE;
    return TRUE;
}

LRESULT DefWindowProcW(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    auto record = FindWindowRecord(window);
    if (!record) return 0;
    switch (message) {
        case WM_CLOSE:
            DestroyWindow(window);
            return 0;
        case WM_SETTEXT: {
            const WCHAR* text = reinterpret_cast<const WCHAR*>(lParam);
            record->text = text ? text : u"";
            return TRUE;
        }
        case WM_GETTEXT: {
            WCHAR* buffer = reinterpret_cast<WCHAR*>(lParam);
            if (!buffer || wParam == 0) return 0;
            size_t count = std::min<size_t>(record->text.size(), wParam - 1);
            std::copy_n(record->text.data(), count, buffer);
            buffer[count] = 0;
            return static_cast<LRESULT>(count);
        }
        case WM_GETTEXTLENGTH:
            return static_cast<LRESULT>(record->text.size());
        case WM_SETICON: {
            size_t which = wParam ? 1 : 0;
            HICON old = record->icons[which];
            record->icons[which] = reinterpret_cast<HICON>(lParam);
            return reinterpret_cast<LRESULT>(old);
        }
        case WM_GETICON:
            return reinterpret_cast<LRESULT>(record->icons[wParam ? 1 : 0]);
        default:
            return 0;
    }
}

static LONG_PTR* WindowLongSlot(WindowRecord& record, int index) {
    switch (index) {
        case GWLP_USERDATA:
            return &record.userData;
        case GWLP_ID:
            return &record.id;
        default:
            break;
    }
    if (index >= 0 && index % static_cast<int>(sizeof(LONG_PTR)) == 0) {
        size_t slot = static_cast<size_t>(index) / sizeof(LONG_PTR);
        if (slot < record.extraBytes.size()) return &record.extraBytes[slot];
    }
    return nullptr;
}

LONG_PTR GetWindowLongPtrW(HWND window, int index) {
    return RunOnOwner(window, [&]() -> LRESULT {
        auto record = FindWindowRecord(window);
        if (!record) return 0;
        switch (index) {
            case GWLP_WNDPROC:
                return reinterpret_cast<LONG_PTR>(record->proc);
            case GWLP_HINSTANCE:
                return reinterpret_cast<LONG_PTR>(record->instance);
            case GWL_STYLE:
                return static_cast<LONG_PTR>(record->style);
            case GWL_EXSTYLE:
                return static_cast<LONG_PTR>(record->exStyle);
            default:
                break;
        }
        LONG_PTR* slot = WindowLongSlot(*record, index);
        if (!slot) SetLastError(ERROR_INVALID_PARAMETER);
        return slot ? *slot : 0;
    });
}

LONG_PTR SetWindowLongPtrW(HWND window, int index, LONG_PTR value) {
    return RunOnOwner(window, [&]() -> LRESULT {
        auto record = FindWindowRecord(window);
        if (!record) return 0;
        LONG_PTR old = 0;
        switch (index) {
            case GWLP_WNDPROC:
                old = reinterpret_cast<LONG_PTR>(record->proc);
                record->proc = reinterpret_cast<WNDPROC>(value);
                return old;
            case GWL_STYLE:
                old = static_cast<LONG_PTR>(record->style);
                record->style = static_cast<DWORD>(value);
                return old;
            case GWL_EXSTYLE:
                old = static_cast<LONG_PTR>(record->exStyle);
                record->exStyle = static_cast<DWORD>(value);
                return old;
            default:
                break;
        }
        LONG_PTR* slot = WindowLongSlot(*record, index);
        if (!slot) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return 0;
        }
        old = *slot;
        *slot = value;
        return old;
    });
}

LRESULT CallWindowProcW(WNDPROC proc, HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    return proc ? proc(window, message, wParam, lParam) : 0;
}

BOOL PostMessageW(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    std::shared_ptr<MessageQueue> queue;
    if (!window) {
        queue = ThisQueue();
    } else {
        auto record = FindWindowRecord(window);
        if (!record || record->remote) {
            SetLastError(ERROR_INVALID_WINDOW_HANDLE);
            return FALSE;
        }
        queue = record->owner;
    }
    if (!PostToQueue(*queue, MSG{window, message, wParam, lParam, GetTickCount(), {}})) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    return TRUE;
}

LRESULT SendMessageW(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    auto record = FindWindowRecord(window);
    if (!record || record->remote) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return 0;
    }
    if (IsOwnerThread(*record)) return CallProc(window, message, wParam, lParam);
    HWND handle = record->handle;
    std::function<LRESULT()> call = [&] { return CallProc(handle, message, wParam, lParam); };
    return SendToQueue(record->owner, call);
}

LRESULT DispatchMessageW(const MSG* message) {
    if (!message) return 0;
    if (message->message == kForegroundMessage) {
        if (auto hook = Table().foregroundHook.load()) hook(message->hwnd);
        return 0;
    }
    if (message->message == WM_TIMER && message->lParam != 0) {
        auto proc = reinterpret_cast<TIMERPROC>(message->lParam);
        proc(message->hwnd, WM_TIMER, message->wParam, GetTickCount());
        return 0;
    }
    if (!message->hwnd) return 0;
    return CallProc(message->hwnd, message->message, message->wParam, message->lParam);
}

HWND FindWindowW(LPCWSTR className, LPCWSTR windowName) {
    std::vector<std::shared_ptr<WindowRecord>> candidates;
    {
        WindowTable& table = Table();
        std::lock_guard<std::mutex> lock(table.mutex);
        for (auto& [value, record] : table.windows)
            if (!record->remote) candidates.push_back(record);
    }
    std::u16string wantClass = className ? ClassKey(className) : u"";
    for (auto& record : candidates) {
        if (className && ClassKey(record->className) != wantClass) continue;
        HWND window = record->handle;
        if (record->parent) continue;  // set at creation, never changed
        if (windowName) {
            std::u16string name;
            RunOnOwner(window, [&]() -> LRESULT {
                name = record->text;
                return 0;
            });
            if (name != windowName) continue;
        }
        return window;
    }
    if (!className || windowName) return nullptr;
    if (!WindowClassListening(className)) return nullptr;
    WindowTable& table = Table();
    auto proxy = std::make_shared<WindowRecord>();
    proxy->remote = true;
    proxy->className = className;
    std::lock_guard<std::mutex> lock(table.mutex);
    for (auto& [value, record] : table.windows)
        if (record->remote && ClassKey(record->className) == wantClass) return record->handle;
    proxy->handle = NewHandle(table);
    table.windows.emplace(reinterpret_cast<uintptr_t>(proxy->handle), proxy);
    return proxy->handle;
}

DWORD GetWindowThreadProcessId(HWND window, LPDWORD processId) {
    auto record = FindWindowRecord(window);
    if (!record) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return 0;
    }
    if (!record->remote) {
        if (processId) *processId = GetCurrentProcessId();
        return record->ownerThread;
    }
    DWORD process = WindowClassProcess(record->className);
    if (process == 0) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);  // the other program has ended
        return 0;
    }
    if (processId) *processId = process;
    return process;
}

BOOL SetForegroundWindow(HWND window) {
    auto record = FindWindowRecord(window);
    if (!record) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    if (record->remote) return AskWindowClassForward(record->className) ? TRUE : FALSE;
    // A program bringing its own window forward is already in front of its user; only a
    // request from elsewhere redraws and alerts.
    if (IsOwnerThread(*record)) return TRUE;
    PostMessageW(record->handle, kForegroundMessage, 0, 0);
    return TRUE;
}
