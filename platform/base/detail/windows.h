// Platform-private: window records and the message loop primitives shared by the
// message, dialog and terminal code.
//
// A window's mutable fields belong to the thread that created it (its owner). Code on
// another thread reaches them only through RunOnOwner, which runs a function on the owner
// thread the way SendMessageW does, so no field needs a lock of its own.
#pragma once

#include <poll.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/base/messages.h"

namespace platform::detail {

struct MessageQueue;

// Per-window state that the dialog manager and the controls keep beside the record.
struct WindowExtension {
    virtual ~WindowExtension() = default;
};

struct WindowRecord {
    HWND handle = nullptr;
    std::shared_ptr<MessageQueue> owner;  // null for a window of another process
    DWORD ownerThread = 0;                // GetCurrentThreadId of the owner
    std::u16string className;
    bool remote = false;  // stands for a window that another process owns

    // Owner-thread fields.
    WNDPROC proc = nullptr;
    UINT classStyle = 0;
    HINSTANCE instance = nullptr;
    HICON classIcon = nullptr;
    DWORD style = 0;
    DWORD exStyle = 0;
    HWND parent = nullptr;
    LONG_PTR id = 0;
    LONG_PTR userData = 0;
    std::vector<LONG_PTR> extraBytes;  // cbWndExtra, in pointer-sized slots
    std::u16string text;
    RECT rect{};  // in dialog units for dialogs and their controls
    HICON icons[2] = {nullptr, nullptr};
    std::vector<HWND> children;  // in creation order, which is the tab order
    std::unique_ptr<WindowExtension> extension;
    bool destroying = false;
    int listenFd = -1;  // lets other processes find this window by its class
};

std::shared_ptr<WindowRecord> FindWindowRecord(HWND window);
// True when the calling thread owns the window (false for unknown windows).
bool IsOwnerThread(const WindowRecord& record);
// Runs fn on the window's owner thread and returns its result; a direct call on the owner
// thread. Returns 0 without calling fn when the window or its thread is gone.
LRESULT RunOnOwner(HWND window, const std::function<LRESULT()>& fn);

// Waits until the calling thread's queue has a posted message, a due timer or a quit
// request, or until one of fds (may be null) is ready, or until timeoutMs (-1: no limit).
// Messages sent from other threads are handled meanwhile. Returns true when fds are ready.
bool WaitMessageOrFds(pollfd* fds, int count, int timeoutMs);

// Called on a window's owner thread when SetForegroundWindow names it, also from another
// process. The dialog layer installs the hook that redraws and alerts the user.
using ForegroundHook = void (*)(HWND window);
void SetForegroundHook(ForegroundHook hook);

// Classes that the platform registers itself (the dialog and the controls): other
// processes do not look for their windows.
void RegisterSystemClass(const WNDCLASSW& windowClass);
bool IsSystemClass(const std::u16string& className);

// Milliseconds of the platform clock (manual in tests).
unsigned long long ClockNowMs();

}  // namespace platform::detail
