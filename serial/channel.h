// One serial port as a plain record: the port handle, its lock, the settings last applied,
// the reader thread and the receivers of incoming data. The owner allocates the record,
// calls InitChannel once and may then set the plain fields directly.
#pragma once

#include "platform/base/messages.h"
#include "platform/base/threads.h"
#include "platform/base/types.h"
#include "platform/io/serial.h"

// Sent (never posted) by a reader thread: wParam the address of the bytes, lParam their
// count. The bytes are valid only until the send returns.
#define WM_CHANNEL_DATA (WM_USER + 10)

struct SerialChannel;

// (channel, id, bytes, count). id is WM_CHANNEL_DATA for frameCallback and 0 for
// chunkCallback. The bytes lie in the reader's buffer, are valid only during the call and
// carry no terminator. The result is read only in record mode.
typedef LONG (*ChannelCallback)(SerialChannel* channel, LONG id, const BYTE* data, LONG count);

struct SerialChannel {
    HANDLE port;                    // open port; 0 when none
    CRITICAL_SECTION lock;          // held around each read, each write and the whole of an open
    COMMTIMEOUTS timeouts;          // last applied by OpenChannel
    DCB dcb;                        // last applied by OpenChannel
    HANDLE readerThread;            // running reader; 0 when none
    HWND notifyWindow;              // sent WM_CHANNEL_DATA; 0 for none
    ChannelCallback frameCallback;  // each frame, record or chunk; null for none
    ChannelCallback chunkCallback;  // each read before framing, sentence mode only
    LONG sleepAfterDataMs;          // sleep after a pass that read data; negative: none
    LONG sleepIdleMs;               // sleep after a pass without data; negative: none
    BOOL pollMode;                  // nonzero: ask for 1024 bytes each pass, no event wait
    BOOL stopRequested;             // set by StopReader, cleared by StartReader
    HANDLE mirror;                  // gets a copy of received data; INVALID_HANDLE_VALUE: none
    BOOL framed;                    // zero: raw or record mode; nonzero: delimiter-based modes
    BYTE startDelimiter[4];
    DWORD startLength;  // 0 to 4 valid bytes in startDelimiter
    BYTE endDelimiter[4];
    DWORD endLength;  // 0 to 4 valid bytes in endDelimiter
    LONG recordSize;  // record mode length; 0 or less: raw mode
    LONG portIndex;   // the owner's port number; the channel never touches it
};

// Resets the fields to their defaults and initialises lock anew. Returns 1.
BOOL InitChannel(SerialChannel* channel);
BOOL SetReceiveCallback(SerialChannel* channel, ChannelCallback callback);
// Lengths above 4 (or a null channel) give 0 and change nothing.
BOOL SetFrameDelimiters(SerialChannel* channel, const BYTE* start, DWORD startLength,
                        const BYTE* end, DWORD endLength);
// Opens "com<portNumber>:" and applies the rate, parity ("ODD"/"O", "EVEN"/"E", anything
// else none), byte size and stop bits (1 or 2; anything else keeps the driver's value).
BOOL OpenChannel(SerialChannel* channel, HWND window, LONG portNumber, DWORD baudRate,
                 LPCWSTR parity, LONG byteSize, LONG stopBits);
BOOL StartReader(SerialChannel* channel);
VOID StopReader(SerialChannel* channel);
BOOL CloseChannel(SerialChannel* channel);
// Stops and closes everything and leaves the record initialised, ready to open again.
BOOL DestroyChannel(SerialChannel* channel);
// For an owner that frees the record: DestroyChannel, then the lock is deleted. The record
// must be initialised again before any further use.
BOOL ReleaseChannel(SerialChannel* channel);
BOOL WriteChannel(SerialChannel* channel, const void* data, DWORD length);

// The reader thread procedure; its parameter is the channel.
DWORD WINAPI ReaderThread(LPVOID parameter);
