// The channel operations: initialising, opening and configuring the port, starting and
// stopping the reader, writing and closing.
#include "serial/channel.h"

#include "platform/base/strings.h"
#include "platform/io/files.h"
#include "serial/shared_field.h"

using serial_detail::ExchangeShared;
using serial_detail::LoadShared;
using serial_detail::StoreShared;

namespace {

const DWORD kPurgeAll = PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR;
const DWORD kEventMask = EV_RXCHAR | EV_CTS | EV_DSR | EV_RING;
const int kStopPolls = 10;
const DWORD kStopPollMs = 10;

void ClosePort(SerialChannel* channel) {
    const HANDLE port = ExchangeShared(channel->port, HANDLE{nullptr});
    if (port != nullptr) {
        CloseHandle(port);
    }
}

// Runs queued to the reader only to end an alertable sleep early.
VOID WINAPI WakeReader(ULONG_PTR) {}

BYTE ParityCode(LPCWSTR parity) {
    if (parity == nullptr) {
        return NOPARITY;
    }
    if (wcscmp(parity, TEXT("ODD")) == 0 || wcscmp(parity, TEXT("O")) == 0) {
        return ODDPARITY;
    }
    if (wcscmp(parity, TEXT("EVEN")) == 0 || wcscmp(parity, TEXT("E")) == 0) {
        return EVENPARITY;
    }
    return NOPARITY;
}

void ApplySettings(DCB* dcb, DWORD baudRate, LPCWSTR parity, LONG byteSize, LONG stopBits) {
    dcb->BaudRate = baudRate;
    dcb->Parity = ParityCode(parity);
    dcb->ByteSize = static_cast<BYTE>(byteSize & 0xff);
    if (stopBits == 1) {
        dcb->StopBits = ONESTOPBIT;
    } else if (stopBits == 2) {
        dcb->StopBits = TWOSTOPBITS;
    }
}

// Reads return at once with whatever is queued, possibly nothing.
bool ApplyTimeouts(SerialChannel* channel, HANDLE port) {
    if (!GetCommTimeouts(port, &channel->timeouts)) {
        return false;
    }
    channel->timeouts.ReadIntervalTimeout = MAXDWORD;
    channel->timeouts.ReadTotalTimeoutMultiplier = 0;
    channel->timeouts.ReadTotalTimeoutConstant = 0;
    channel->timeouts.WriteTotalTimeoutMultiplier = 0;
    channel->timeouts.WriteTotalTimeoutConstant = 0;
    return SetCommTimeouts(port, &channel->timeouts) != FALSE;
}

BOOL FailOpen(SerialChannel* channel) {
    StopReader(channel);
    ClosePort(channel);
    return FALSE;
}

BOOL OpenLocked(SerialChannel* channel, HWND window, LONG portNumber, DWORD baudRate,
                LPCWSTR parity, LONG byteSize, LONG stopBits) {
    ClosePort(channel);
    // A leftover reader handle is dropped without stopping its thread; callers stop the
    // reader first whenever one may run.
    const HANDLE oldReader = ExchangeShared(channel->readerThread, HANDLE{nullptr});
    if (oldReader != nullptr) {
        CloseHandle(oldReader);
    }
    WCHAR name[16];
    StringCchPrintfW(name, 16, TEXT("com%d:"), static_cast<int>(portNumber));
    StoreShared(channel->notifyWindow, window);
    const HANDLE port =
        CreateFileW(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (port == INVALID_HANDLE_VALUE || port == nullptr) {
        return FALSE;
    }
    StoreShared(channel->port, port);
    if (!GetCommState(port, &channel->dcb)) {
        return FailOpen(channel);
    }
    ApplySettings(&channel->dcb, baudRate, parity, byteSize, stopBits);
    if (!SetCommState(port, &channel->dcb) || !ApplyTimeouts(channel, port) ||
        !SetCommMask(port, kEventMask)) {
        return FailOpen(channel);
    }
    PurgeComm(port, kPurgeAll);
    return TRUE;
}

}  // namespace

BOOL InitChannel(SerialChannel* channel) {
    StoreShared(channel->port, HANDLE{nullptr});
    InitializeCriticalSection(&channel->lock);
    StoreShared(channel->readerThread, HANDLE{nullptr});
    StoreShared(channel->notifyWindow, HWND{nullptr});
    StoreShared(channel->frameCallback, ChannelCallback{nullptr});
    StoreShared(channel->sleepAfterDataMs, LONG{-1});
    StoreShared(channel->sleepIdleMs, LONG{-1});
    StoreShared(channel->pollMode, BOOL{1});
    StoreShared(channel->mirror, INVALID_HANDLE_VALUE);
    channel->framed = 1;
    channel->startDelimiter[0] = '{';
    channel->startLength = 0;
    channel->endDelimiter[0] = '}';
    channel->endLength = 0;
    StoreShared(channel->recordSize, LONG{0});
    return TRUE;
}

BOOL SetReceiveCallback(SerialChannel* channel, ChannelCallback callback) {
    if (channel == nullptr) {
        return FALSE;
    }
    StoreShared(channel->frameCallback, callback);
    return TRUE;
}

BOOL SetFrameDelimiters(SerialChannel* channel, const BYTE* start, DWORD startLength,
                        const BYTE* end, DWORD endLength) {
    if (channel == nullptr || startLength > 4 || endLength > 4) {
        return FALSE;
    }
    // A request-mode reader loads the delimiter bytes as they change, so each is stored
    // as one atomic write.
    for (DWORD i = 0; i < startLength; ++i) StoreShared(channel->startDelimiter[i], start[i]);
    for (DWORD i = 0; i < endLength; ++i) StoreShared(channel->endDelimiter[i], end[i]);
    channel->startLength = startLength;
    channel->endLength = endLength;
    return TRUE;
}

BOOL OpenChannel(SerialChannel* channel, HWND window, LONG portNumber, DWORD baudRate,
                 LPCWSTR parity, LONG byteSize, LONG stopBits) {
    EnterCriticalSection(&channel->lock);
    const BOOL opened =
        OpenLocked(channel, window, portNumber, baudRate, parity, byteSize, stopBits);
    LeaveCriticalSection(&channel->lock);
    return opened;
}

BOOL StartReader(SerialChannel* channel) {
    if (LoadShared(channel->readerThread) != nullptr) {
        return TRUE;
    }
    StoreShared(channel->stopRequested, BOOL{0}, std::memory_order_release);
    if (LoadShared(channel->port) == nullptr) {
        return FALSE;
    }
    const HANDLE thread = CreateThread(nullptr, 0, ReaderThread, channel, 0, nullptr);
    StoreShared(channel->readerThread, thread, std::memory_order_release);
    return thread != nullptr ? TRUE : FALSE;
}

// The handle is taken out of the record before the flag is set: from then on only this
// call uses it, and it closes it only after the thread has ended, so the reader's own
// ending never meets a closed handle and the handle is closed exactly once.
//
// A reader never holds the lock across a sleep, a wait or a delivery, so it is normally
// found outside it. Its sleeps are alertable: the APC queued here after the flag is set
// ends a sleep at once, and the empty event mask ends a pending WaitCommEvent, so the
// waiting of about 100 ms suffices for any reader that is not stuck in a receiver.
// TerminateThread stays the last resort for one that is (a window whose thread does not
// answer, a callback that blocks). The platform ends a thread only at one of its blocking
// calls while the thread holds no critical section, so termination never leaves the lock
// taken; a receiver blocked in such a call is unwound with its destructors run.
VOID StopReader(SerialChannel* channel) {
    const HANDLE port = LoadShared(channel->port);
    if (port == nullptr) {
        return;
    }
    const HANDLE thread = ExchangeShared(channel->readerThread, HANDLE{nullptr});
    StoreShared(channel->stopRequested, BOOL{1}, std::memory_order_release);
    if (thread == nullptr) {
        return;
    }
    QueueUserAPC(WakeReader, thread, 0);
    DWORD code = STILL_ACTIVE;
    GetExitCodeThread(thread, &code);
    for (int i = 0; i < kStopPolls && code == STILL_ACTIVE; ++i) {
        SetCommMask(port, 0);
        GetExitCodeThread(thread, &code);
        // Each of the ten pauses ends as soon as the thread does.
        if (code == STILL_ACTIVE && WaitForSingleObject(thread, kStopPollMs) == WAIT_OBJECT_0) {
            GetExitCodeThread(thread, &code);
        }
    }
    if (code == STILL_ACTIVE) {
        TerminateThread(thread, STILL_ACTIVE);
    }
    CloseHandle(thread);
}

BOOL CloseChannel(SerialChannel* channel) {
    StopReader(channel);
    ClosePort(channel);
    return TRUE;
}

BOOL DestroyChannel(SerialChannel* channel) {
    if (channel == nullptr) {
        return FALSE;
    }
    StopReader(channel);
    ClosePort(channel);
    const HANDLE mirror = ExchangeShared(channel->mirror, INVALID_HANDLE_VALUE);
    if (mirror != INVALID_HANDLE_VALUE) {
        CloseHandle(mirror);
    }
    InitChannel(channel);
    return TRUE;
}

// The lock is never deleted while the record lives; an owner that frees the record
// releases it here.
BOOL ReleaseChannel(SerialChannel* channel) {
    if (!DestroyChannel(channel)) {
        return FALSE;
    }
    DeleteCriticalSection(&channel->lock);
    return TRUE;
}

BOOL WriteChannel(SerialChannel* channel, const void* data, DWORD length) {
    if (LoadShared(channel->port) == nullptr) {
        return FALSE;
    }
    EnterCriticalSection(&channel->lock);
    const HANDLE port = LoadShared(channel->port);
    DWORD written = 0;
    const BOOL ok = port != nullptr && WriteFile(port, data, length, &written, nullptr);
    LeaveCriticalSection(&channel->lock);
    return ok && written > 0 ? TRUE : FALSE;
}
