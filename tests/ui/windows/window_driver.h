// Drives dialogs under the system's own dialog manager (Wine's, with no display) as a user
// would: a modal dialog runs on a thread of its own or in a program of its own, and the
// test finds its window, reads it and presses its buttons through messages.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "platform/base/types.h"

namespace uitest {

using String = std::basic_string<WCHAR>;

// The top-level window of that class and title (either may be null), once it is there;
// null if it never comes (a bound against a hang, not a measure of speed).
inline HWND WaitForWindow(LPCWSTR className, LPCWSTR title) {
    for (int i = 0; i < 3000; ++i) {
        if (HWND window = FindWindowW(className, title); window && IsWindowVisible(window))
            return window;
        Sleep(10);
    }
    return nullptr;
}

// WM_GETTEXT, which the system carries across threads and processes.
inline String Text(HWND window) {
    WCHAR buffer[1024] = {};
    SendMessageW(window, WM_GETTEXT, 1024, reinterpret_cast<LPARAM>(buffer));
    return buffer;
}

inline String ItemText(HWND dialog, int id) {
    return Text(GetDlgItem(dialog, id));
}

inline String ClassOf(HWND window) {
    WCHAR name[256] = {};
    GetClassNameW(window, name, 256);
    return name;
}

inline bool SameRect(const RECT& a, const RECT& b) {
    return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}

inline RECT WorkArea() {
    RECT area{};
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &area, 0);
    return area;
}

// The icon drawn size pixels square over a green background, as 0x00RRGGBB rows from the
// top.
inline std::vector<DWORD> DrawnPixels(HICON icon, int size) {
    std::vector<DWORD> rows;
    BITMAPINFO format{};
    format.bmiHeader = {sizeof(BITMAPINFOHEADER), size, -size, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    void* pixels = nullptr;
    HDC dc = CreateCompatibleDC(nullptr);
    HBITMAP bitmap = CreateDIBSection(dc, &format, DIB_RGB_COLORS, &pixels, nullptr, 0);
    if (bitmap) {
        HGDIOBJ old = SelectObject(dc, bitmap);
        auto* bits = static_cast<DWORD*>(pixels);
        std::fill(bits, bits + size * size, 0x00FF00u);
        if (DrawIconEx(dc, 0, 0, icon, size, size, 0, nullptr, DI_NORMAL)) {
            GdiFlush();
            rows.assign(bits, bits + size * size);
        }
        SelectObject(dc, old);
        DeleteObject(bitmap);
    }
    DeleteDC(dc);
    return rows;
}

// A modal dialog on a thread of its own; its result once it has ended. A test that fails
// while the dialog is up closes it, so that the thread ends.
class ModalRun {
  public:
    explicit ModalRun(std::function<INT_PTR()> run) : thread_([this, run] { result_ = run(); }) {}
    ~ModalRun() {
        if (!thread_.joinable()) return;
        if (window_) PostMessageW(window_, WM_CLOSE, 0, 0);
        thread_.join();
    }
    HWND Find(LPCWSTR className, LPCWSTR title) {
        return window_ = WaitForWindow(className, title);
    }
    INT_PTR Result() {
        thread_.join();
        return result_;
    }

  private:
    HWND window_ = nullptr;
    INT_PTR result_ = -2;
    std::thread thread_;
};

}  // namespace uitest
