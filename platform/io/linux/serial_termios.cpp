#include "linux/serial_termios.h"

#include <sys/ioctl.h>

#include "linux/baud_rates.h"

namespace platform::detail {

bool SpeedOfBaud(DWORD baud, speed_t& speed) {
    const speed_t found = TermiosSpeedOf(baud);
    if (found == B0) return false;
    speed = found;
    return true;
}

DWORD BaudOfSpeed(speed_t speed) {
    return BaudOfTermiosSpeed(speed);
}

DCB DcbOfTermios(const termios& t, int modemLines) {
    DCB dcb{};
    dcb.DCBlength = sizeof(DCB);
    dcb.BaudRate = BaudOfSpeed(cfgetospeed(&t));
    dcb.fBinary = 1;
    dcb.fParity = (t.c_cflag & PARENB) ? 1 : 0;
    bool hardware = (t.c_cflag & CRTSCTS) != 0;
    dcb.fOutxCtsFlow = hardware ? 1 : 0;
    dcb.fOutxDsrFlow = 0;
    bool dtr = modemLines < 0 || (modemLines & TIOCM_DTR);
    bool rts = modemLines < 0 || (modemLines & TIOCM_RTS);
    dcb.fDtrControl = dtr ? DTR_CONTROL_ENABLE : DTR_CONTROL_DISABLE;
    dcb.fRtsControl =
        hardware ? RTS_CONTROL_HANDSHAKE : (rts ? RTS_CONTROL_ENABLE : RTS_CONTROL_DISABLE);
    dcb.fTXContinueOnXoff = 1;
    dcb.fOutX = (t.c_iflag & IXON) ? 1 : 0;
    dcb.fInX = (t.c_iflag & IXOFF) ? 1 : 0;
    dcb.XonLim = 2048;
    dcb.XoffLim = 512;
    switch (t.c_cflag & CSIZE) {
        case CS5:
            dcb.ByteSize = 5;
            break;
        case CS6:
            dcb.ByteSize = 6;
            break;
        case CS7:
            dcb.ByteSize = 7;
            break;
        default:
            dcb.ByteSize = 8;
            break;
    }
    if (!(t.c_cflag & PARENB))
        dcb.Parity = NOPARITY;
    else if (t.c_cflag & CMSPAR)
        dcb.Parity = (t.c_cflag & PARODD) ? MARKPARITY : SPACEPARITY;
    else
        dcb.Parity = (t.c_cflag & PARODD) ? ODDPARITY : EVENPARITY;
    dcb.StopBits = (t.c_cflag & CSTOPB) ? TWOSTOPBITS : ONESTOPBIT;
    dcb.XonChar = static_cast<char>(t.c_cc[VSTART]);
    dcb.XoffChar = static_cast<char>(t.c_cc[VSTOP]);
    dcb.EofChar = static_cast<char>(t.c_cc[VEOF]);
    return dcb;
}

bool ApplyDcb(const DCB& dcb, termios& t) {
    speed_t speed;
    if (!SpeedOfBaud(dcb.BaudRate, speed)) return false;
    tcflag_t size;
    switch (dcb.ByteSize) {
        case 5:
            size = CS5;
            break;
        case 6:
            size = CS6;
            break;
        case 7:
            size = CS7;
            break;
        case 8:
            size = CS8;
            break;
        default:
            return false;
    }
    tcflag_t parity;
    switch (dcb.Parity) {
        case NOPARITY:
            parity = 0;
            break;
        case ODDPARITY:
            parity = PARENB | PARODD;
            break;
        case EVENPARITY:
            parity = PARENB;
            break;
        default:
            return false;  // mark and space: not offered
    }
    if (dcb.StopBits != ONESTOPBIT && dcb.StopBits != TWOSTOPBITS) return false;
    termios next = t;
    if (cfsetispeed(&next, speed) != 0 || cfsetospeed(&next, speed) != 0) return false;
    next.c_cflag &= ~(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS);
    next.c_cflag |= size | parity | CREAD | CLOCAL;
    if (dcb.StopBits == TWOSTOPBITS) next.c_cflag |= CSTOPB;
    if (dcb.fOutxCtsFlow || dcb.fRtsControl == RTS_CONTROL_HANDSHAKE) next.c_cflag |= CRTSCTS;
    // Parity is generated and checked by the line; the received bytes stay as they come.
    next.c_iflag &= ~(INPCK | IXON | IXOFF | IXANY);
    if (parity) next.c_iflag |= INPCK;
    if (dcb.fOutX) next.c_iflag |= IXON;
    if (dcb.fInX) next.c_iflag |= IXOFF;
    if (dcb.XonChar) next.c_cc[VSTART] = static_cast<cc_t>(dcb.XonChar);
    if (dcb.XoffChar) next.c_cc[VSTOP] = static_cast<cc_t>(dcb.XoffChar);
    t = next;
    return true;
}

void ModemLinesOfDcb(const DCB& dcb, int& set, int& clear) {
    set = clear = 0;
    (dcb.fDtrControl == DTR_CONTROL_DISABLE ? clear : set) |= TIOCM_DTR;
    if (dcb.fRtsControl == RTS_CONTROL_DISABLE)
        clear |= TIOCM_RTS;
    else if (dcb.fRtsControl != RTS_CONTROL_HANDSHAKE)
        set |= TIOCM_RTS;
}

}  // namespace platform::detail
