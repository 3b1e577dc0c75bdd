// The reader thread's private state and the framing step it runs after every read. Kept
// apart from the thread so that a pass can be fed from memory with exact read boundaries.
#pragma once

#include "serial/channel.h"

#define RECEIVE_BUFFER_SIZE 12288
// An open frame that starts this far into the buffer is moved to the buffer start.
#define FRAME_COMPACT_OFFSET 7168
// Header mode moves its kept bytes once this many are held.
#define HEADER_COMPACT_FILL 6144
#define READ_REQUEST_POLLED 1024
#define LINE_FEED 10
#define CARRIAGE_RETURN 13
#define SENTENCE_START '$'
// Byte 3 of a header record whose payload is longer than HEADER_PLAIN_MAX.
#define HEADER_LONG_MARK 0x85
#define HEADER_PLAIN_MAX 400
#define HEADER_OVERHEAD 8

enum FrameMode {
    FRAME_UNFRAMED,  // raw or record mode, decided by recordSize at every pass
    FRAME_SENTENCE,
    FRAME_DELIMITER,
    FRAME_REQUEST,
    FRAME_HEADER,
};

struct ReaderState {
    BYTE buffer[RECEIVE_BUFFER_SIZE];
    LONG fill;        // bytes held
    LONG scanPos;     // where the next framed pass begins to look
    BYTE awaitedEnd;  // end byte of the open frame; 0: no frame open
    LONG resumePos;   // where the end search goes on after a move; 0 or less: none
    FrameMode mode;
    BYTE startByte;        // taken at thread start (delimiter and header mode)
    BYTE secondStartByte;  // header mode
    BYTE endByte;
};

// Zeroes the buffer and chooses the mode from the channel's fields.
void BeginReaderState(ReaderState* state, const SerialChannel* channel);
FrameMode ChooseFrameMode(const SerialChannel* channel);
// Makes room for a read of up to wanted bytes and returns how many may be read at
// buffer + fill (never more than the free space, never 0 for a nonzero wanted).
DWORD PrepareRead(ReaderState* state, DWORD wanted);
// Hands on the count bytes that the last read put at buffer + fill.
void ProcessRead(SerialChannel* channel, ReaderState* state, LONG count);
