#include "tools/simulator/line_settings.h"

#include "platform/io/linux/baud_rates.h"

namespace sim {

namespace {

bool IsParityLetter(char c) {
    return c == 'N' || c == 'E' || c == 'O' || c == 'M' || c == 'S';
}

}  // namespace

std::optional<LineSettings> ParseFraming(std::string_view text, unsigned baud) {
    if (text.size() != 3) return std::nullopt;
    char size = text[0], parity = text[1], stop = text[2];
    if (size < '5' || size > '8' || !IsParityLetter(parity) || (stop != '1' && stop != '2'))
        return std::nullopt;
    return LineSettings{baud, size - '0', parity, stop - '0'};
}

std::string FormatFraming(const LineSettings& line) {
    return std::string{static_cast<char>('0' + line.byteSize), line.parity,
                       static_cast<char>('0' + line.stopBits)};
}

bool IsStandardBaud(unsigned baud) {
    return BaudToSpeed(baud) != B0;
}

speed_t BaudToSpeed(unsigned baud) {
    return platform::detail::TermiosSpeedOf(baud);
}

unsigned SpeedToBaud(speed_t speed) {
    return platform::detail::BaudOfTermiosSpeed(speed);
}

LineSettings SettingsFromTermios(const termios& t) {
    LineSettings line;
    line.baud = SpeedToBaud(cfgetospeed(&t));
    switch (t.c_cflag & CSIZE) {
        case CS5:
            line.byteSize = 5;
            break;
        case CS6:
            line.byteSize = 6;
            break;
        case CS7:
            line.byteSize = 7;
            break;
        default:
            line.byteSize = 8;
            break;
    }
    if (!(t.c_cflag & PARENB))
        line.parity = 'N';
    else if (t.c_cflag & CMSPAR)
        line.parity = (t.c_cflag & PARODD) ? 'M' : 'S';
    else
        line.parity = (t.c_cflag & PARODD) ? 'O' : 'E';
    line.stopBits = (t.c_cflag & CSTOPB) ? 2 : 1;
    return line;
}

void ApplySettings(termios& t, const LineSettings& line) {
    cfsetospeed(&t, BaudToSpeed(line.baud));
    cfsetispeed(&t, BaudToSpeed(line.baud));
    t.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB);
    static constexpr tcflag_t kSizes[] = {CS5, CS6, CS7, CS8};
    t.c_cflag |= kSizes[line.byteSize - 5];
    if (line.parity != 'N') t.c_cflag |= PARENB;
    if (line.parity == 'O' || line.parity == 'M') t.c_cflag |= PARODD;
    if (line.parity == 'M' || line.parity == 'S') t.c_cflag |= CMSPAR;
    if (line.stopBits == 2) t.c_cflag |= CSTOPB;
}

bool SettingsMatch(const LineSettings& device, const LineSettings& seen, bool framingVisible) {
    if (device.baud != seen.baud || device.stopBits != seen.stopBits) return false;
    if (!framingVisible) return true;
    return device.byteSize == seen.byteSize && device.parity == seen.parity;
}

int BitsPerCharacter(const LineSettings& line) {
    return 1 + line.byteSize + (line.parity == 'N' ? 0 : 1) + line.stopBits;
}

}  // namespace sim
