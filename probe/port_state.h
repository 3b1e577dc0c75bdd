// Port state codes, which are also the device types asked for, and the scan's notification.
#pragma once

#include "platform/base/messages.h"

enum : int {
    PORT_NONE = 0,
    PORT_UNUSABLE = 1,
    PORT_GPS = 2,
    PORT_RADAR = 3,
    PORT_VIRTUAL_FREE = 4,
    PORT_PROBING = 5,
};

// Posted to the scan's owner window, never sent, so no reader thread waits for the dialog.
constexpr UINT WM_PROBE_NOTIFY = 1607;
// wParam codes of WM_PROBE_NOTIFY.
constexpr WPARAM NOTIFY_FOUND = 2;       // lParam: the device type
constexpr WPARAM NOTIFY_NEXT_BAUD = 3;   // lParam: the rate of the step just begun
constexpr WPARAM NOTIFY_FINISHED = 100;  // lParam: 0
