// The framing step: what one read's bytes become in each mode.
#include "serial/framing.h"

#include <algorithm>
#include <cstring>

#include "platform/base/messages.h"
#include "platform/io/files.h"
#include "serial/shared_field.h"

using serial_detail::LoadShared;

namespace {

void SendToWindow(SerialChannel* channel, const BYTE* data, LONG count) {
    HWND window = LoadShared(channel->notifyWindow);
    if (window != nullptr) {
        SendMessageW(window, WM_CHANNEL_DATA, reinterpret_cast<WPARAM>(data),
                     static_cast<LPARAM>(count));
    }
}

LONG CallFrameCallback(SerialChannel* channel, const BYTE* data, LONG count) {
    ChannelCallback callback = LoadShared(channel->frameCallback);
    return callback != nullptr ? callback(channel, WM_CHANNEL_DATA, data, count) : 0;
}

void WriteMirror(SerialChannel* channel, const BYTE* data, LONG count) {
    HANDLE mirror = LoadShared(channel->mirror);
    if (mirror != INVALID_HANDLE_VALUE) {
        DWORD written = 0;
        WriteFile(mirror, data, static_cast<DWORD>(count), &written, nullptr);
    }
}

void DeliverFrame(SerialChannel* channel, const ReaderState* state, LONG start, LONG count) {
    const BYTE* data = state->buffer + start;
    SendToWindow(channel, data, count);
    CallFrameCallback(channel, data, count);
    if (state->mode == FRAME_DELIMITER || state->mode == FRAME_REQUEST) {
        WriteMirror(channel, data, count);
    }
}

void ResetFraming(ReaderState* state) {
    state->fill = 0;
    state->scanPos = 0;
    state->awaitedEnd = 0;
    state->resumePos = -1;
}

// Request mode follows the channel's delimiters as they change; the other modes use the
// bytes taken at thread start.
BYTE StartByte(const SerialChannel* channel, const ReaderState* state) {
    return state->mode == FRAME_REQUEST ? LoadShared(channel->startDelimiter[0]) : state->startByte;
}

BYTE EndByte(const SerialChannel* channel, const ReaderState* state) {
    return state->mode == FRAME_REQUEST ? LoadShared(channel->endDelimiter[0]) : state->endByte;
}

// ---- Raw and record mode ----

// Calls the callback for each whole record and returns how many bytes stay held. Each
// result moves the later records by that many bytes (running sum); a positive total keeps
// that many more bytes back. A record that the sum would push outside the filled part is
// not delivered, nor is any after it, and never more than the filled part is kept.
LONG DeliverRecords(SerialChannel* channel, ReaderState* state, LONG size) {
    const LONG fill = state->fill;
    const LONG count = fill / size;
    const LONG rest = fill % size;
    LONGLONG sum = 0;
    for (LONG k = 0; k < count; ++k) {
        const LONGLONG offset = static_cast<LONGLONG>(k) * size + sum;
        if (offset < 0 || offset + size > fill) {
            break;
        }
        sum += CallFrameCallback(channel, state->buffer + offset, size);
    }
    return static_cast<LONG>(std::min<LONGLONG>(rest + std::max<LONGLONG>(sum, 0), fill));
}

void ProcessUnframed(SerialChannel* channel, ReaderState* state, LONG count) {
    const LONG first = state->fill;
    const BYTE* justRead = state->buffer + first;
    SendToWindow(channel, justRead, count);
    state->fill = first + count;
    const LONG size = LoadShared(channel->recordSize);
    if (size <= 0) {
        CallFrameCallback(channel, justRead, count);
        WriteMirror(channel, justRead, count);
        state->fill = 0;
        return;
    }
    if (state->fill < size) {
        WriteMirror(channel, justRead, count);
        return;
    }
    const LONG kept = DeliverRecords(channel, state, size);
    // The mirror copy is written before the kept bytes move to the buffer start, which
    // may overwrite part of what was just read.
    WriteMirror(channel, justRead, count);
    std::memmove(state->buffer, state->buffer + state->fill - kept, static_cast<size_t>(kept));
    state->fill = kept;
}

// ---- Framed modes ----

enum HeaderCheck { HEADER_COMPLETE, HEADER_INCOMPLETE, HEADER_REJECTED };

HeaderCheck CheckHeader(const ReaderState* state, LONG p, LONG* length) {
    const BYTE* record = state->buffer + p;
    const LONG available = state->fill - p;
    if (available < HEADER_OVERHEAD) {
        return HEADER_INCOMPLETE;
    }
    const LONG payload = record[4] * 256 + record[5];
    if (payload > HEADER_PLAIN_MAX && record[3] != HEADER_LONG_MARK) {
        return HEADER_REJECTED;
    }
    // A record that cannot fit the receive buffer can never complete: it is rejected like
    // any other bad header, so the search goes on one byte further.
    if (payload + HEADER_OVERHEAD > RECEIVE_BUFFER_SIZE) {
        return HEADER_REJECTED;
    }
    if (payload + HEADER_OVERHEAD > available) {
        return HEADER_INCOMPLETE;
    }
    if (record[payload + HEADER_OVERHEAD - 1] != CARRIAGE_RETURN) {
        return HEADER_REJECTED;
    }
    *length = payload + HEADER_OVERHEAD;
    return HEADER_COMPLETE;
}

// How a pass over the held bytes ended.
enum ScanEnd {
    SCAN_CONSUMED,    // nothing stays held
    SCAN_KEEP,        // the bytes from `kept` on stay held
    SCAN_LONE_START,  // a header start byte ended the data; only it stays
};

struct ScanResult {
    ScanEnd end;
    LONG kept;
};

class FrameScanner {
  public:
    FrameScanner(SerialChannel* channel, ReaderState* state) : channel_(channel), state_(state) {}

    ScanResult Run() {
        LONG p = state_->scanPos;
        if (state_->awaitedEnd != 0) {
            LONG from = p + 1;
            if (state_->resumePos > 0) {
                from = state_->resumePos;
                state_->resumePos = -1;
            }
            ScanResult r;
            if (!SearchEnd(p, from, &p, &r)) {
                return r;
            }
        }
        for (;;) {
            ScanResult r;
            LONG frameStart = 0;
            if (!SearchStart(p, &frameStart, &r)) {
                return r;
            }
            if (!SearchEnd(frameStart, frameStart + 1, &p, &r)) {
                return r;
            }
        }
    }

  private:
    bool IsHeaderStart(LONG q) const {
        return state_->buffer[q] == state_->startByte && q + 1 < state_->fill &&
               state_->buffer[q + 1] == state_->secondStartByte;
    }
    bool IsLoneStart(LONG q) const {
        return state_->buffer[q] == state_->startByte && q + 1 == state_->fill;
    }

    // A: looks for a frame start from p. True when a frame was opened at *frameStart;
    // false when the pass ends (*result says how).
    bool SearchStart(LONG p, LONG* frameStart, ScanResult* result) {
        const LONG end = state_->fill;
        while (p < end) {
            const BYTE b = state_->buffer[p];
            if (b == SENTENCE_START) {
                return Open(p, LINE_FEED, frameStart);
            }
            const FrameMode mode = state_->mode;
            if ((mode == FRAME_DELIMITER || mode == FRAME_REQUEST) &&
                b == StartByte(channel_, state_)) {
                return Open(p, EndByte(channel_, state_), frameStart);
            }
            if (mode == FRAME_HEADER) {
                if (IsLoneStart(p)) {
                    *result = {SCAN_LONE_START, p};
                    return false;
                }
                if (IsHeaderStart(p)) {
                    LONG length = 0;
                    switch (CheckHeader(state_, p, &length)) {
                        case HEADER_COMPLETE:
                            DeliverFrame(channel_, state_, p, length);
                            p += length;
                            continue;
                        case HEADER_INCOMPLETE:
                            *result = {SCAN_KEEP, p};
                            return false;
                        case HEADER_REJECTED:
                            *result = {SCAN_KEEP, p + 1};
                            return false;
                    }
                }
            }
            ++p;
        }
        *result = {SCAN_CONSUMED, 0};
        return false;
    }

    bool Open(LONG p, BYTE awaited, LONG* frameStart) {
        state_->awaitedEnd = awaited;
        *frameStart = p;
        return true;
    }

    // B: looks for the end of the frame open at frameStart, from q. True when the frame
    // was delivered and the search for a start goes on at *next; false when the pass ends.
    bool SearchEnd(LONG frameStart, LONG q, LONG* next, ScanResult* result) {
        const LONG end = state_->fill;
        const FrameMode mode = state_->mode;
        for (; q < end; ++q) {
            const BYTE b = state_->buffer[q];
            if (b == state_->awaitedEnd) {
                DeliverFrame(channel_, state_, frameStart, q - frameStart + 1);
                state_->awaitedEnd = 0;
                *next = q + 1;
                return true;
            }
            if (b == SENTENCE_START) {
                frameStart = q;
                state_->awaitedEnd = LINE_FEED;
            } else if ((mode == FRAME_DELIMITER || mode == FRAME_REQUEST) &&
                       b == StartByte(channel_, state_)) {
                frameStart = q;
                state_->awaitedEnd = EndByte(channel_, state_);
            } else if (mode == FRAME_HEADER && IsLoneStart(q)) {
                *result = {SCAN_LONE_START, q};
                return false;
            } else if (mode == FRAME_HEADER && IsHeaderStart(q)) {
                frameStart = q;
                state_->awaitedEnd = state_->endByte;
            }
        }
        *result = {SCAN_KEEP, frameStart};
        return false;
    }

    SerialChannel* channel_;
    ReaderState* state_;
};

// C: what stays in the buffer after a framed pass.
void EndFramedPass(ReaderState* state, ScanResult result) {
    if (result.end == SCAN_CONSUMED || result.kept >= state->fill) {
        ResetFraming(state);
        return;
    }
    if (result.end == SCAN_LONE_START) {
        // The awaited end stays: after a cut inside a frame, this byte starts that frame.
        state->buffer[0] = state->buffer[result.kept];
        state->fill = 1;
        state->scanPos = 0;
        state->resumePos = -1;
        return;
    }
    const bool move = state->mode == FRAME_HEADER ? state->fill >= HEADER_COMPACT_FILL
                                                  : result.kept >= FRAME_COMPACT_OFFSET;
    if (!move) {
        state->scanPos = result.kept;
        return;
    }
    const LONG held = state->fill - result.kept;
    std::memmove(state->buffer, state->buffer + result.kept, static_cast<size_t>(held));
    state->fill = held;
    state->scanPos = 0;
    state->resumePos = state->awaitedEnd != 0 ? held : -1;
}

void ProcessFramed(SerialChannel* channel, ReaderState* state, LONG count) {
    const BYTE* justRead = state->buffer + state->fill;
    if (state->mode == FRAME_SENTENCE) {
        ChannelCallback chunk = LoadShared(channel->chunkCallback);
        if (chunk != nullptr) {
            chunk(channel, 0, justRead, count);
        }
    }
    WriteMirror(channel, justRead, count);
    state->fill += count;
    FrameScanner scanner(channel, state);
    EndFramedPass(state, scanner.Run());
}

}  // namespace

FrameMode ChooseFrameMode(const SerialChannel* channel) {
    if (channel->framed == 0) {
        return FRAME_UNFRAMED;
    }
    const DWORD start = channel->startLength;
    const DWORD end = channel->endLength;
    if (start == 0 || end == 0) {
        return FRAME_SENTENCE;
    }
    if (start == 1 && end == 1) {
        return FRAME_DELIMITER;
    }
    if (start == 2 && end == 1) {
        return FRAME_HEADER;
    }
    return FRAME_REQUEST;
}

void BeginReaderState(ReaderState* state, const SerialChannel* channel) {
    std::memset(state->buffer, 0, sizeof state->buffer);
    ResetFraming(state);
    state->mode = ChooseFrameMode(channel);
    state->startByte = channel->startDelimiter[0];
    state->secondStartByte = channel->startDelimiter[1];
    state->endByte = channel->endDelimiter[0];
}

DWORD PrepareRead(ReaderState* state, DWORD wanted) {
    // A full buffer holds an open frame (framed modes), an incomplete header record or
    // bytes that record mode keeps back (a record longer than the buffer, or bytes held by
    // callback results). None of them can complete any more: they are dropped and reading
    // goes on into the empty buffer.
    if (state->fill >= RECEIVE_BUFFER_SIZE) {
        ResetFraming(state);
    }
    const DWORD space = static_cast<DWORD>(RECEIVE_BUFFER_SIZE - state->fill);
    return std::min(wanted, space);
}

void ProcessRead(SerialChannel* channel, ReaderState* state, LONG count) {
    if (state->mode == FRAME_UNFRAMED) {
        ProcessUnframed(channel, state, count);
    } else {
        ProcessFramed(channel, state, count);
    }
}
