// The reader thread: polls or waits on the port, reads under the channel's lock and hands
// the bytes to the framing step.
#include <cstring>

#include "platform/base/threads.h"
#include "platform/io/files.h"
#include "platform/io/serial.h"
#include "serial/channel.h"
#include "serial/framing.h"
#include "serial/shared_field.h"

using serial_detail::CompareExchangeShared;
using serial_detail::LoadShared;

namespace {

const char kRequest[] = "gps_data_n_n";

// A port whose far end hung up fails every wait and every read at once. Without a pause
// the reader would spin on it at full speed until it is stopped, whatever its sleep
// settings say. The pause is alertable, so it does not hold up a stop.
constexpr DWORD kFailedPortPauseMs = 50;

constexpr DWORD kQueueWatchMs = 10;

void PauseAfterFailure() {
    SleepEx(kFailedPortPauseMs, TRUE);
}

// Sleeps are alertable so that StopReader can cut them short with an APC. The APC may
// have been spent already on a shorter pause of this pass, so a stop that is asked for is
// looked at first.
void SleepSetting(const SerialChannel* channel, const LONG& setting) {
    const LONG ms = LoadShared(setting);
    if (ms >= 0 && LoadShared(channel->stopRequested, std::memory_order_acquire) == 0) {
        SleepEx(static_cast<DWORD>(ms), TRUE);
    }
}

// Bytes waiting in the port's input queue.
DWORD QueuedBytes(HANDLE port) {
    DWORD errors = 0;
    COMSTAT status;
    std::memset(&status, 0, sizeof status);
    ClearCommError(port, &errors, &status);
    return status.cbInQue;
}

// A driver that cannot wait for line events (Wine's on a pseudo-terminal refuses at once
// with ERROR_NOT_SUPPORTED) is watched through its input queue instead, with a short
// alertable pause while it is empty, so that the reader neither spins nor misses data.
DWORD WatchQueue(HANDLE port) {
    const DWORD queued = QueuedBytes(port);
    if (queued == 0) {
        SleepEx(kQueueWatchMs, TRUE);
    }
    return queued;
}

// How many bytes to ask for; 0 when this pass has nothing to read.
DWORD WaitForData(SerialChannel* channel) {
    const HANDLE port = LoadShared(channel->port);
    DWORD mask = EV_RXCHAR;
    const bool polled = LoadShared(channel->pollMode) != 0;
    if (!polled && !WaitCommEvent(port, &mask, nullptr)) {
        if (GetLastError() == ERROR_NOT_SUPPORTED) {
            return WatchQueue(port);
        }
        PauseAfterFailure();
        return 0;
    }
    if ((mask & EV_RXCHAR) == 0) {
        return 0;
    }
    if (polled) {
        return READ_REQUEST_POLLED;
    }
    return QueuedBytes(port);
}

// One read into the buffer; the count of bytes read, 0 when none. The port is taken
// under the lock, which OpenChannel holds while it replaces the port.
LONG ReadPort(SerialChannel* channel, ReaderState* state, DWORD wanted) {
    if (LoadShared(channel->port) == nullptr) {
        return 0;
    }
    const DWORD toRead = PrepareRead(state, wanted);
    DWORD read = 0;
    EnterCriticalSection(&channel->lock);
    const HANDLE port = LoadShared(channel->port);
    const BOOL ok =
        port != nullptr && ReadFile(port, state->buffer + state->fill, toRead, &read, nullptr);
    LeaveCriticalSection(&channel->lock);
    if (!ok) {
        PauseAfterFailure();
        return 0;
    }
    return static_cast<LONG>(read);
}

// One pass; true when it read data.
bool RunPass(SerialChannel* channel, ReaderState* state) {
    const DWORD wanted = WaitForData(channel);
    if (wanted == 0) {
        return false;
    }
    const LONG count = ReadPort(channel, state, wanted);
    if (count <= 0) {
        return false;
    }
    ProcessRead(channel, state, count);
    return true;
}

// The thread gives up its handle when it ends by itself. StopReader takes the handle out
// of the record before it sets stopRequested and closes it only after the thread is gone,
// so the handle found here is ours only when the flag was set some other way. The thread
// id tells our handle from that of a newer reader (OpenChannel may have dropped ours and
// StartReader stored another); the exchange makes sure that only one side closes it.
void ReleaseOwnHandle(SerialChannel* channel) {
    const HANDLE handle = LoadShared(channel->readerThread, std::memory_order_acquire);
    if (handle == nullptr || GetThreadId(handle) != GetCurrentThreadId()) {
        return;
    }
    if (CompareExchangeShared(channel->readerThread, handle, HANDLE{nullptr})) {
        CloseHandle(handle);
    }
}

}  // namespace

DWORD WINAPI ReaderThread(LPVOID parameter) {
    SerialChannel* channel = static_cast<SerialChannel*>(parameter);
    if (channel == nullptr || LoadShared(channel->port) == nullptr) {
        return 0;
    }
    const HANDLE port = LoadShared(channel->port);
    PurgeComm(port, PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR);
    PurgeComm(port, PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR);
    ReaderState state;
    BeginReaderState(&state, channel);
    if (state.mode == FRAME_REQUEST) {
        WriteChannel(channel, kRequest, sizeof kRequest - 1);
    }
    while (LoadShared(channel->stopRequested, std::memory_order_acquire) == 0) {
        if (RunPass(channel, &state)) {
            SleepSetting(channel, channel->sleepAfterDataMs);
        } else {
            SleepSetting(channel, channel->sleepIdleMs);
        }
    }
    ReleaseOwnHandle(channel);
    return 1;
}
