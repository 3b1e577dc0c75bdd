// The framing of one serial line (rate, byte size, parity, stop bits) and the check whether
// the other end of a simulated line is set the way the device talks.
#pragma once

#include <termios.h>

#include <optional>
#include <string>
#include <string_view>

namespace sim {

struct LineSettings {
    unsigned baud = 9600;
    int byteSize = 8;
    char parity = 'N';  // N, E, O, M or S
    int stopBits = 1;
};

// "8N1", "7E2", ...: byte size 5 to 8, parity N/E/O/M/S, stop bits 1 or 2.
std::optional<LineSettings> ParseFraming(std::string_view text, unsigned baud);
std::string FormatFraming(const LineSettings& line);

// Rates that termios can express; others could never be matched by the other end.
bool IsStandardBaud(unsigned baud);
speed_t BaudToSpeed(unsigned baud);   // B0 for a rate that is not standard
unsigned SpeedToBaud(speed_t speed);  // 0 for an unknown code

LineSettings SettingsFromTermios(const termios& t);
void ApplySettings(termios& t, const LineSettings& line);

// True when the other end listens the way the device talks. framingVisible says whether
// byte size and parity can be seen at all: the Linux pty driver forces CS8 and clears
// PARENB on every set, so there only the rate and the stop bits can be compared.
bool SettingsMatch(const LineSettings& device, const LineSettings& seen, bool framingVisible);

// Bits on the wire for one character: start bit, data bits, parity bit, stop bits.
int BitsPerCharacter(const LineSettings& line);

}  // namespace sim
