// One whole scan on the real clock, with the notifications handled by a window that runs its
// own message loop on its own thread, as the dialog does.
#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "probe/port_scan.h"
#include "scan_support.h"

namespace {

using probetest::Notification;

struct Outcome {
    int started = 0;
    std::vector<Notification> notifications;
    int gpsPort = -2, gpsBaud = -2, radarPort = -2, radarBaud = -2;
};

constexpr WCHAR kClass[] = TEXT("ProbeEndToEnd");
thread_local Outcome* t_outcome = nullptr;

LRESULT CALLBACK DialogLikeProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message != WM_PROBE_NOTIFY) return DefWindowProcW(window, message, wParam, lParam);
    t_outcome->notifications.emplace_back(wParam, lParam);
    if (wParam == NOTIFY_FINISHED) {
        t_outcome->gpsPort = FirstPortOfType(&t_outcome->gpsBaud, PORT_GPS);
        t_outcome->radarPort = FirstPortOfType(&t_outcome->radarBaud, PORT_RADAR);
        PostQuitMessage(0);
    }
    return 0;
}

void RunUserInterface(Outcome* outcome) {
    t_outcome = outcome;
    WNDCLASSW wc{};
    wc.lpfnWndProc = DialogLikeProc;
    wc.lpszClassName = kClass;
    RegisterClassW(&wc);
    HWND window =
        CreateWindowExW(0, kClass, TEXT(""), 0, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
    outcome->started = StartPortScan(window, 1);
    if (outcome->started) {
        MSG msg;
        while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
    }
    StopPortScan();
    DestroyWindow(window);
}

TEST(PortScanEndToEnd, RealTimerScanReportsDevicesAndFinishes) {
    probetest::ScanEnvironment env;
    probetest::Talker gps(env.AddPort(1), probetest::kGpsLine, 57600);
    probetest::Talker radar(env.AddPort(4), probetest::kRadarBytes, 9600);
    probetest::Talker quiet(env.AddPort(6), "no device here", 0);

    Outcome outcome;
    std::thread ui(RunUserInterface, &outcome);
    ui.join();

    ASSERT_EQ(outcome.started, 1);
    std::vector<Notification> steps;
    int gpsFound = 0, radarFound = 0;
    for (const auto& n : outcome.notifications) {
        if (n.first == NOTIFY_FOUND) {
            (n.second == PORT_GPS ? gpsFound : radarFound) += 1;
        } else {
            steps.push_back(n);
        }
    }
    EXPECT_EQ(steps, (std::vector<Notification>{{NOTIFY_NEXT_BAUD, 4800},
                                                {NOTIFY_NEXT_BAUD, 9600},
                                                {NOTIFY_NEXT_BAUD, 57600},
                                                {NOTIFY_NEXT_BAUD, 19200},
                                                {NOTIFY_FINISHED, 0}}));
    EXPECT_GT(gpsFound, 0);
    EXPECT_GT(radarFound, 0);
    EXPECT_EQ(outcome.gpsPort, 1);
    EXPECT_EQ(outcome.gpsBaud, 57600);
    EXPECT_EQ(outcome.radarPort, 4);
    EXPECT_EQ(outcome.radarBaud, 9600);
}

}  // namespace
