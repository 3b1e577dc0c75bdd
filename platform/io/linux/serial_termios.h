// Platform-private: the translation between a DCB and a tty's termios settings. Kept
// apart from the device so that it can be checked without hardware (a pseudo-terminal
// keeps no parity, byte size or stop bits).
#pragma once

#include <termios.h>

#include "platform/io/serial.h"

namespace platform::detail {

// The termios speed constant of a rate in bits per second; false for a rate that has none.
bool SpeedOfBaud(DWORD baud, speed_t& speed);
// Bits per second of a termios speed constant; 0 for none.
DWORD BaudOfSpeed(speed_t speed);

// The DCB that termios settings describe. modemLines are the TIOCM_* bits when the tty
// reports them, else -1 (DTR and RTS then count as on).
DCB DcbOfTermios(const termios& t, int modemLines);

// Puts the DCB's rate, framing, flow control and XON/XOFF characters into t and leaves
// everything else as it is. False, with t unchanged, for what a tty cannot do: an unknown
// rate, byte sizes outside 5 to 8, mark or space parity, 1.5 stop bits.
bool ApplyDcb(const DCB& dcb, termios& t);

// The modem lines to raise (set) and drop (clear) for the DCB's DTR and RTS control.
void ModemLinesOfDcb(const DCB& dcb, int& set, int& clear);

}  // namespace platform::detail
