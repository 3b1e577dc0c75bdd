// The single port scan: listens on COM0 to COM9, steps every undecided port through the baud
// ladder on a window timer, and keeps per port what was learned.
#pragma once

#include "platform/base/messages.h"
#include "platform/base/types.h"
#include "probe/port_state.h"
#include "serial/channel.h"

constexpr int PORT_COUNT = 10;
constexpr int BAUD_STEPS = 4;

// Rates tried in this order (57600 before 19200).
extern const DWORD BaudLadder[BAUD_STEPS];
// Order in which the ports of one type are reported: COM1 first, COM0 last.
extern const int PortPreference[PORT_COUNT];

// The tables are shared by the user-interface thread and up to ten reader threads; every
// access of portState, foundBaud and openBaud from code that can run beside a reader goes
// through atomic loads and stores, so no lock is ever held while a channel is closed.
struct PortScan {
    HWND ownerWindow;
    UINT timerId;
    int cursor;
    SerialChannel channels[PORT_COUNT];
    int baudStep[PORT_COUNT];
    int portState[PORT_COUNT];
    int foundBaud[PORT_COUNT];
    // The rate each channel was last opened at, written before its reader starts: a mark
    // records the rate the deciding byte really came at, whatever step a tick has moved on to.
    int openBaud[PORT_COUNT];
};

// The one scan of the process, or null.
PortScan* CurrentPortScan();

// Returns 1 when a scan was created and its first pass opened at least one port, else 0
// (also when a scan exists already).
int StartPortScan(HWND window, UINT timerId);
// Opens every port at the first rate, trying the virtual port driver on those that fail.
int ScanFirstPass();
// One step of the ladder; the timer procedure, its arguments are ignored.
VOID CALLBACK OnScanTimer(HWND window, UINT message, UINT_PTR timerId, DWORD time);
// Called from a reader thread when the classifier recognised a device on the channel's port.
void MarkPortFound(SerialChannel* channel, int type);
// First port of the type in preference order, or -1; its found rate through baud.
int FirstPortOfType(int* baud, int type);
// The next such port through port and baud; 1 when found, 0 when none is left.
int NextPortOfType(int* port, int* baud, int type);
// Stops every reader, closes every port and frees the scan.
void StopPortScan();
