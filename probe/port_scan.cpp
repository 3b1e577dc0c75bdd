#include "probe/port_scan.h"

#include <atomic>
#include <new>

#include "platform/base/account.h"
#include "probe/classifier.h"
#include "probe/virtual_port.h"
#include "serial/shared_field.h"

const DWORD BaudLadder[BAUD_STEPS] = {4800, 9600, 57600, 19200};
const int PortPreference[PORT_COUNT] = {1, 4, 6, 2, 9, 3, 5, 7, 8, 0};

namespace {

constexpr UINT kStepMs = 10000;

// Reader threads read the pointer in MarkPortFound; it is set before the first reader starts
// and cleared only after every reader has been stopped.
std::atomic<PortScan*> g_scan{nullptr};

// Bytes each port delivered since it was opened at its rate, for the log (BELVANE_LOG). Only
// the port's own reader adds to it (one reader per port at a time) and the count is reset
// only while no reader runs, so the byte path needs a plain load and store, not a locked add.

const WCHAR* TypeName(int type) {
    return type == PORT_GPS ? TEXT("GPS") : type == PORT_RADAR ? TEXT("radar") : TEXT("nothing");
}

int Load(const int& field) {
    return serial_detail::LoadShared(field, std::memory_order_acquire);
}

void Store(int& field, int value) {
    serial_detail::StoreShared(field, value, std::memory_order_release);
}

bool IsDecided(int state) {
    return state == PORT_GPS || state == PORT_RADAR;
}

// The last rate stays in force after the ladder is exhausted.
DWORD LadderRate(int step) {
    return BaudLadder[step < BAUD_STEPS ? step : BAUD_STEPS - 1];
}

void SetUpChannel(SerialChannel* channel, int index) {
    InitChannel(channel);
    SetReceiveCallback(channel, ClassifyByte);
    SetFrameDelimiters(channel, nullptr, 0, nullptr, 0);
    channel->sleepIdleMs = 100;
    channel->portIndex = index;
    channel->framed = 0;
    channel->sleepAfterDataMs = 0;
    channel->recordSize = 1;
    channel->pollMode = 1;
}

// Opens port i at the rate of its current step and starts its reader. The rate is recorded
// and the state set before the reader exists, so a mark always sees both.
bool OpenPort(PortScan* scan, int i) {
    DWORD rate = LadderRate(scan->baudStep[i]);
    if (!OpenChannel(&scan->channels[i], nullptr, i, rate, TEXT("NONE"), 8, 1)) {
        platform::LogFormat(TEXT("COM%d: cannot open at %u baud (error %u)"), i, rate,
                            GetLastError());
        return false;
    }
    platform::LogFormat(TEXT("COM%d: listening at %u baud (step %d)"), i, rate,
                        scan->baudStep[i] + 1);
    ResetScanBytes(i);
    Store(scan->openBaud[i], static_cast<int>(rate));
    Store(scan->portState[i], PORT_PROBING);
    StartReader(&scan->channels[i]);
    return true;
}

// Without a window the notice goes to the calling thread's queue as a thread message, which
// no window procedure sees: harmless, so the scan does not ask whether it has one.
void Notify(PortScan* scan, WPARAM code, LPARAM value) {
    PostMessageW(scan->ownerWindow, WM_PROBE_NOTIFY, code, value);
}

// The next step comes a full period after this one began (since: its GetTickCount), so the
// time spent closing and reopening ports does not push every later step back.
void ArmTimer(PortScan* scan, DWORD since) {
    const DWORD spent = GetTickCount() - since;
    SetTimer(scan->ownerWindow, scan->timerId, spent < kStepMs ? kStepMs - spent : 0, OnScanTimer);
}

// One port's part of a tick. Returns true when the port was reopened at the next rate.
bool StepPort(PortScan* scan, int i) {
    int state = Load(scan->portState[i]);
    if (scan->channels[i].port != nullptr)
        platform::LogFormat(TEXT("COM%d: step %d over: %d bytes seen at this rate, %s found"), i,
                            scan->baudStep[i] + 1, ScanBytesSeen(i), TypeName(state));
    if (scan->baudStep[i] < BAUD_STEPS) ++scan->baudStep[i];
    if (IsDecided(state)) {
        CloseChannel(&scan->channels[i]);
        return false;
    }
    if (scan->baudStep[i] >= BAUD_STEPS) return false;
    CloseChannel(&scan->channels[i]);
    // The reader is gone now; a mark it made after the state was read above must survive,
    // so such a port stays closed instead of being reopened over its finding.
    if (IsDecided(Load(scan->portState[i]))) return false;
    return OpenPort(scan, i);
}

}  // namespace

PortScan* CurrentPortScan() {
    return g_scan.load(std::memory_order_acquire);
}

int StartPortScan(HWND window, UINT timerId) {
    if (CurrentPortScan() != nullptr) return 0;
    PortScan* scan = new (std::nothrow) PortScan{};
    if (scan == nullptr) return 0;
    scan->ownerWindow = window;
    scan->timerId = timerId;
    for (int i = 0; i < PORT_COUNT; ++i) SetUpChannel(&scan->channels[i], i);
    g_scan.store(scan, std::memory_order_release);
    platform::LogLine("scan: started");
    if (!ScanFirstPass()) {
        platform::LogLine("scan: no port could be opened");
        StopPortScan();
        return 0;
    }
    return 1;
}

int ScanFirstPass() {
    PortScan* scan = CurrentPortScan();
    if (scan == nullptr) return 0;
    const DWORD began = GetTickCount();
    bool opened = false;
    for (int i = 0; i < PORT_COUNT; ++i) {
        if (OpenPort(scan, i)) {
            opened = true;
        } else {
            int state = TryVirtualPort(i);
            Store(scan->portState[i], state);
            platform::LogFormat(TEXT("COM%d: %s for the virtual port"), i,
                                state == PORT_VIRTUAL_FREE ? TEXT("free") : TEXT("unusable"));
        }
    }
    if (!opened) return 0;
    ArmTimer(scan, began);
    Notify(scan, NOTIFY_NEXT_BAUD, static_cast<LPARAM>(LadderRate(scan->baudStep[0])));
    return 1;
}

VOID CALLBACK OnScanTimer(HWND, UINT, UINT_PTR, DWORD) {
    PortScan* scan = CurrentPortScan();
    if (scan == nullptr) return;
    const DWORD began = GetTickCount();
    KillTimer(scan->ownerWindow, scan->timerId);
    bool reopened = false;
    for (int i = 0; i < PORT_COUNT; ++i) {
        if (StepPort(scan, i)) reopened = true;
    }
    if (!reopened) {
        platform::LogLine("scan: finished");
        Notify(scan, NOTIFY_FINISHED, 0);
        return;
    }
    Notify(scan, NOTIFY_NEXT_BAUD, static_cast<LPARAM>(LadderRate(scan->baudStep[0])));
    ArmTimer(scan, began);
}

void MarkPortFound(SerialChannel* channel, int type) {
    PortScan* scan = CurrentPortScan();
    if (scan == nullptr || channel == nullptr) return;
    int port = channel->portIndex;
    if (port < 0 || port >= PORT_COUNT) return;
    if (type != PORT_GPS && type != PORT_RADAR) return;
    // The rate first, so that whoever sees the state also sees the rate it was found at.
    Store(scan->foundBaud[port], Load(scan->openBaud[port]));
    Store(scan->portState[port], type);
    platform::LogFormat(TEXT("COM%d: %s signature found at %d baud"), port, TypeName(type),
                        Load(scan->foundBaud[port]));
    Notify(scan, NOTIFY_FOUND, type);
}

int NextPortOfType(int* port, int* baud, int type) {
    PortScan* scan = CurrentPortScan();
    if (scan == nullptr || port == nullptr) return 0;
    while (scan->cursor < PORT_COUNT) {
        int p = PortPreference[scan->cursor++];
        if (Load(scan->portState[p]) != type) continue;
        *port = p;
        if (baud != nullptr) *baud = Load(scan->foundBaud[p]);
        return 1;
    }
    *port = -1;
    if (baud != nullptr) *baud = 0;
    return 0;
}

int FirstPortOfType(int* baud, int type) {
    PortScan* scan = CurrentPortScan();
    if (scan == nullptr) return -1;
    scan->cursor = 0;
    int port = -1;
    NextPortOfType(&port, baud, type);
    return port;
}

void StopPortScan() {
    PortScan* scan = CurrentPortScan();
    if (scan == nullptr) return;
    platform::LogLine("scan: stopped; every port is closed");
    KillTimer(scan->ownerWindow, scan->timerId);
    // The record is freed: each channel's lock goes with its reader and port.
    for (int i = 0; i < PORT_COUNT; ++i) ReleaseChannel(&scan->channels[i]);
    g_scan.store(nullptr, std::memory_order_release);
    delete scan;
}
