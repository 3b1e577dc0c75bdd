#include "scan_support.h"

#include <errno.h>
#include <unistd.h>

#include <chrono>

#include "platform/base/strings.h"
#include "platform/io/devices.h"
#include "platform/io/registry.h"
#include "probe/port_scan.h"

namespace probetest {

namespace {

void SetString(HKEY key, LPCWSTR name, const std::u16string& value) {
    RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                   static_cast<DWORD>((value.size() + 1) * sizeof(WCHAR)));
}

void SetNumber(HKEY key, LPCWSTR name, DWORD value) {
    RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof(value));
}

constexpr WCHAR kWindowClass[] = TEXT("ProbeTestNotify");
thread_local std::vector<Notification>* t_collected = nullptr;

LRESULT CALLBACK CollectProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_PROBE_NOTIFY && t_collected != nullptr) {
        t_collected->emplace_back(wParam, lParam);
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

thread_local std::vector<Notification> t_notifications;

}  // namespace

ScanEnvironment::ScanEnvironment()
    : registry_("BELVANE_REGISTRY", dir_.file("registry.reg").c_str()),
      sysfs_("BELVANE_SYSFS_ROOT", dir_.path().c_str()),
      dev_("BELVANE_DEV_ROOT", dir_.path().c_str()),
      proc_("BELVANE_PROC_ROOT", dir_.path().c_str()) {
    platform::StartDeviceManager();
}

ScanEnvironment::~ScanEnvironment() {
    StopPortScan();
}

testsupport::PtyPair& ScanEnvironment::AddPort(int index) {
    auto pty = std::make_unique<testsupport::PtyPair>();
    std::u16string key = platform::Format(TEXT("Drivers\\BuiltIn\\TestSerial%d"), index);
    HKEY handle = nullptr;
    RegCreateKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &handle,
                    nullptr);
    SetString(handle, TEXT("Prefix"), TEXT("COM"));
    SetNumber(handle, TEXT("Index"), static_cast<DWORD>(index));
    // The device root is an empty tree, so the key names a link outside it to the terminal.
    std::string link = dir_.file("com" + std::to_string(index));
    unlink(link.c_str());
    symlink(pty->slavePath().c_str(), link.c_str());
    SetString(handle, TEXT("DevicePath"), platform::FromUtf8(link));
    RegCloseKey(handle);
    // The device manager reads its keys at start; a new process would see the new port.
    platform::StartDeviceManager();
    auto& result = *pty;
    ports_[index] = std::move(pty);
    return result;
}

size_t WriteSome(testsupport::PtyPair& pty, const std::string& bytes) {
    ssize_t n = write(pty.master(), bytes.data(), bytes.size());
    return n > 0 ? static_cast<size_t>(n) : 0;
}

Talker::Talker(testsupport::PtyPair& pty, std::string line, unsigned baud)
    : pty_(pty), line_(std::move(line)), baud_(baud), thread_([this] { Run(); }) {}

Talker::~Talker() {
    Stop();
}

void Talker::Stop() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
}

void Talker::Run() {
    const std::string noise = "~?~?\x7f\x7f~?~?";
    while (!stop_) {
        bool inTune = baud_ == 0 || pty_.SlaveBaud() == baud_;
        WriteSome(pty_, inTune ? line_ : noise);
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

NotifyWindow::NotifyWindow() {
    WNDCLASSW wc{};
    wc.lpfnWndProc = CollectProc;
    wc.lpszClassName = kWindowClass;
    RegisterClassW(&wc);
    hwnd_ = CreateWindowExW(0, kWindowClass, TEXT(""), 0, 0, 0, 0, 0, nullptr, nullptr, nullptr,
                            nullptr);
    t_notifications.clear();
}

NotifyWindow::~NotifyWindow() {
    if (hwnd_ != nullptr) DestroyWindow(hwnd_);
}

std::vector<Notification> NotifyWindow::Pump() {
    t_collected = &t_notifications;
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    t_collected = nullptr;
    return t_notifications;
}

bool WaitUntil(const std::function<bool()>& condition, int limitMs) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

}  // namespace probetest
