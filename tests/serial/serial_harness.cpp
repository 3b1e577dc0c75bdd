#include "serial_harness.h"

#include <array>
#include <atomic>
#include <chrono>
#include <future>
#include <map>
#include <memory>

#include "support/registered_ptys.h"

namespace {

std::atomic<int> g_terminations{0};
std::mutex g_purgeMutex;
std::condition_variable g_purged;
std::map<HANDLE, int> g_purges;
std::array<std::atomic<serialtest::Recorder*>, 64> g_slots{};
std::atomic<int> g_nextSlot{0};

const WCHAR kWindowClass[] = TEXT("SerialTestWindow");

LRESULT CALLBACK RecordingProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_CHANNEL_DATA) {
        auto* recorder =
            reinterpret_cast<serialtest::Recorder*>(GetWindowLongPtrW(window, GWLP_USERDATA));
        const char* bytes = reinterpret_cast<const char*>(wParam);
        recorder->Add({'W', WM_CHANNEL_DATA, std::string(bytes, static_cast<size_t>(lParam))});
        return 0;
    }
    if (message == WM_CLOSE) {
        DestroyWindow(window);
        return 0;
    }
    if (message == WM_DESTROY) {
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

void RegisterWindowClass() {
    static std::once_flag once;
    std::call_once(once, [] {
        WNDCLASSW wc{};
        wc.lpfnWndProc = RecordingProc;
        wc.lpszClassName = kWindowClass;
        RegisterClassW(&wc);
    });
}

testsupport::RegisteredPtys& ThePorts() {
    static testsupport::RegisteredPtys ports(serialtest::kPorts);
    return ports;
}

}  // namespace

namespace serialtest {

void CountTermination() {
    ++g_terminations;
}

void CountPurge(HANDLE port) {
    std::lock_guard<std::mutex> hold(g_purgeMutex);
    ++g_purges[port];
    g_purged.notify_all();
}

bool StartReaderAndWait(SerialChannel* channel) {
    const HANDLE port = channel->port;
    int before;
    {
        std::lock_guard<std::mutex> hold(g_purgeMutex);
        before = g_purges[port];
    }
    if (!StartReader(channel)) return false;
    std::unique_lock<std::mutex> hold(g_purgeMutex);
    return g_purged.wait_for(hold, std::chrono::seconds(10),
                             [&] { return g_purges[port] >= before + 2; });
}

void Recorder::Add(Piece piece) {
    std::lock_guard<std::mutex> hold(mutex_);
    pieces_.push_back(std::move(piece));
    changed_.notify_all();
}

std::vector<Piece> Recorder::Pieces() {
    std::lock_guard<std::mutex> hold(mutex_);
    return pieces_;
}

std::vector<std::string> Recorder::Bytes(char who) {
    std::vector<std::string> out;
    for (const Piece& p : Pieces()) {
        if (p.who == who) out.push_back(p.bytes);
    }
    return out;
}

bool Recorder::WaitFor(char who, size_t count, int timeoutMs) {
    std::unique_lock<std::mutex> hold(mutex_);
    return changed_.wait_for(hold, std::chrono::milliseconds(timeoutMs), [&] {
        size_t n = 0;
        for (const Piece& p : pieces_) n += p.who == who ? 1 : 0;
        return n >= count;
    });
}

void Bind(SerialChannel* channel, Recorder* recorder) {
    const int slot = g_nextSlot++ % static_cast<int>(g_slots.size());
    g_slots[static_cast<size_t>(slot)] = recorder;
    channel->portIndex = slot;
}

static Recorder* RecorderOf(SerialChannel* channel) {
    return g_slots[static_cast<size_t>(channel->portIndex)];
}

LONG RecordFrame(SerialChannel* channel, LONG id, const BYTE* data, LONG count) {
    Recorder* r = RecorderOf(channel);
    r->Add({'F', id, std::string(reinterpret_cast<const char*>(data), static_cast<size_t>(count))});
    if (r->onFrame) r->onFrame(channel);
    std::lock_guard<std::mutex> hold(r->mutex_);
    const size_t call = r->calls_++;
    return call < r->results.size() ? r->results[call] : 0;
}

LONG RecordChunk(SerialChannel* channel, LONG id, const BYTE* data, LONG count) {
    RecorderOf(channel)->Add(
        {'C', id, std::string(reinterpret_cast<const char*>(data), static_cast<size_t>(count))});
    return 0;
}

HWND CreateRecordingWindow(Recorder* recorder) {
    RegisterWindowClass();
    HWND window = CreateWindowExW(0, kWindowClass, TEXT(""), 0, 0, 0, 0, 0, nullptr, nullptr,
                                  nullptr, nullptr);
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(recorder));
    return window;
}

TestWindow::TestWindow(Recorder* recorder) {
    std::promise<HWND> created;
    std::future<HWND> ready = created.get_future();
    thread_ = std::thread([recorder, &created] {
        created.set_value(CreateRecordingWindow(recorder));
        MSG msg;
        while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
            DispatchMessageW(&msg);
        }
    });
    hwnd_ = ready.get();
}

TestWindow::~TestWindow() {
    PostMessageW(hwnd_, WM_CLOSE, 0, 0);
    thread_.join();
}

testsupport::PtyPair& Pty(int index) {
    return ThePorts().pty(index);
}

LONG PortNumber(int index) {
    // An index past the ports names no device and is passed on as it is.
    return index < kPorts ? ThePorts().number(index) : index;
}

void EnsurePorts() {
    ThePorts();
}

int Terminations() {
    return g_terminations;
}

}  // namespace serialtest
