// Recognises GPS receivers and radar detectors from the bytes a port delivers, one byte at
// a time, and marks the port in the scan when a signature shows up.
#pragma once

#include "platform/base/types.h"
#include "serial/channel.h"

// Six received bytes, oldest first, and a seventh that stays zero, read as a zero-terminated
// byte string: the fill count is the number of bytes before the first zero.
struct ByteWindow {
    BYTE bytes[7];
};

// Bytes that identify a radar detector when they follow 0xAA.
extern const BYTE RadarCommandBytes[14];
// Three-byte sequences that identify a radar detector, in the order they are tested.
extern const BYTE RadarTriples[6][3];

// Appends b to the window and tests it; returns the device type the window now shows
// (PORT_GPS or PORT_RADAR), or 0.
int ClassifyWindowByte(ByteWindow* window, BYTE b);

// The same on the process-wide window of one port (0 to 9). Each port has its own window,
// so that a signature only counts when all its bytes came from that port. Returns 0 for an
// index outside 0 to 9. Calls for one port must not overlap, as they never do in the scan,
// which ends a port's reader before it starts the next; calls for different ports may.
int ClassifyPortByte(int portIndex, BYTE b);

// Frame callback of every scan channel: classifies the first byte on the window of the
// channel's port and marks the port on a signature. Always returns 0.
LONG ClassifyByte(SerialChannel* channel, LONG id, const BYTE* data, LONG count);

// Bytes the port's reader has delivered since the last reset, for the scan's log. The count
// sits beside the port's window and is written by its reader only, so the byte path pays a
// plain load and store on a line it owns; the scan reads and resets it between readers.
int ScanBytesSeen(int portIndex);
void ResetScanBytes(int portIndex);
