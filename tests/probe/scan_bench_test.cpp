// A whole scan under Wine on the simulator's bench (cmake/wine-ports.sh starts belvane-sim
// on the host and maps its pseudo-terminals as COM ports). The bench is the oracle: every
// receiver and detector on it is found on its port at its rate, and the ladder is walked
// once; the other ports are tried for the virtual port driver (Morvex.dll, copied beside
// the test, run in the driver helper). The test moves the ladder itself once the devices of a rate
// are found, instead of waiting ten seconds a step; the scan's own timer never fires, as WM_TIMER
// is left queued.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <chrono>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/io/devices.h"
#include "probe/port_scan.h"

namespace {

struct BenchDevice {
    int port;
    int type;
    int baud;
};

// BELVANE_TEST_BENCH: "COM3 gps 4800 8N1" a line; the devices on the bench, of type
// PORT_NONE where the scan must find nothing (silent, noise).
std::vector<BenchDevice> BenchDevices() {
    std::vector<BenchDevice> devices;
    const char* text = getenv("BELVANE_TEST_BENCH");
    std::istringstream lines(text ? text : "");
    std::string com, kind;
    int baud = 0;
    while (lines >> com >> kind >> baud) {
        lines.ignore(1000, '\n');
        const int type = kind == "gps" ? PORT_GPS : kind == "radar" ? PORT_RADAR : PORT_NONE;
        devices.push_back({std::stoi(com.substr(3)), type, baud});
    }
    return devices;
}

using Notification = std::pair<WPARAM, LPARAM>;
std::vector<Notification> g_notifications;

LRESULT CALLBACK CollectProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_PROBE_NOTIFY) {
        g_notifications.emplace_back(wParam, lParam);
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

void PumpNotifications() {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, WM_PROBE_NOTIFY, WM_PROBE_NOTIFY, PM_REMOVE))
        DispatchMessageW(&msg);
}

bool Found(const BenchDevice& device) {
    const int state = CurrentPortScan()->portState[device.port];
    return std::atomic_ref<const int>(state).load() == device.type;
}

// Until every device talking at the rate is found; a generous limit against a hang (a
// receiver talks once a second).
void ListenAt(int baud, const std::vector<BenchDevice>& devices) {
    const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    for (;;) {
        bool all = true;
        for (const BenchDevice& d : devices)
            all = all && (d.type == PORT_NONE || d.baud != baud || Found(d));
        if (all || std::chrono::steady_clock::now() > limit) return;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

TEST(ScanOnWinePorts, FindsEveryReceiverAndDetectorOfTheBenchAtItsRate) {
    const std::vector<BenchDevice> bench = BenchDevices();
    ASSERT_FALSE(bench.empty()) << "run by wine-ports.sh with a bench";
    platform::StartDeviceManager();
    WNDCLASSW wc{};
    wc.lpfnWndProc = CollectProc;
    wc.lpszClassName = TEXT("ScanBenchNotify");
    RegisterClassW(&wc);
    HWND window = CreateWindowExW(0, wc.lpszClassName, TEXT(""), 0, 0, 0, 0, 0, HWND_MESSAGE,
                                  nullptr, nullptr, nullptr);
    ASSERT_NE(window, nullptr);

    ASSERT_EQ(StartPortScan(window, 1), 1);
    for (int step = 0; step < BAUD_STEPS; ++step) {
        ListenAt(static_cast<int>(BaudLadder[step]), bench);
        OnScanTimer(nullptr, 0, 0, 0);
    }
    PumpNotifications();

    // Every port: a device of the bench is found at its rate; another port of the bench
    // (silent, noisy) is still being probed; a port that is not there is offered to the
    // virtual port driver beside the program, which takes COM1: to COM9: but not COM0:,
    // as desktop Windows has none.
    for (int port = 0; port < PORT_COUNT; ++port) {
        int state = port == 0 ? PORT_UNUSABLE : PORT_VIRTUAL_FREE, baud = 0;
        for (const BenchDevice& d : bench) {
            if (d.port == port) {
                state = d.type == PORT_NONE ? PORT_PROBING : d.type;
                baud = d.type == PORT_NONE ? 0 : d.baud;
            }
        }
        EXPECT_EQ(CurrentPortScan()->portState[port], state) << "COM" << port;
        if (baud) {
            EXPECT_EQ(CurrentPortScan()->foundBaud[port], baud) << "COM" << port;
        }
    }
    for (int type : {PORT_GPS, PORT_RADAR}) {
        int expected = -1, expectedBaud = 0;
        for (int port : PortPreference) {
            for (const BenchDevice& d : bench) {
                if (expected < 0 && d.port == port && d.type == type) {
                    expected = port;
                    expectedBaud = d.baud;
                }
            }
        }
        int baud = 0;
        EXPECT_EQ(FirstPortOfType(&baud, type), expected) << "type " << type;
        EXPECT_EQ(baud, expectedBaud) << "type " << type;
    }
    std::vector<Notification> steps;
    for (const Notification& n : g_notifications) {
        if (n.first != NOTIFY_FOUND) steps.push_back(n);
    }
    EXPECT_EQ(steps, (std::vector<Notification>{{NOTIFY_NEXT_BAUD, 4800},
                                                {NOTIFY_NEXT_BAUD, 9600},
                                                {NOTIFY_NEXT_BAUD, 57600},
                                                {NOTIFY_NEXT_BAUD, 19200},
                                                {NOTIFY_FINISHED, 0}}));
    StopPortScan();
    DestroyWindow(window);
}

}  // namespace
