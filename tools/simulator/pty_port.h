// One simulated serial port: a pseudo-terminal whose slave end the program under test opens
// as a serial device, and whose master end the simulator drives.
#pragma once

#include <optional>
#include <string>

#include "tools/simulator/emulator.h"
#include "tools/simulator/line_settings.h"

namespace sim {

struct PtyPort {
    int master = -1;
    // Held open for the port's whole life: without it the pair hangs up each time the
    // program closes its end, and the line settings would not survive until it reopens.
    int keepSlave = -1;
    std::string slavePath;
    bool framingVisible = false;
    std::optional<LineSettings> lastSeen;
};

// Opens a pseudo-terminal pair, puts the slave end into raw mode (so the line discipline
// neither echoes nor translates bytes) and finds out whether byte size and parity can be
// seen from the master end. False with a message on failure; the port is then closed.
bool OpenPtyPort(PtyPort& port, std::string& error);
void ClosePtyPort(PtyPort& port);

// The settings the program under test has given its end of the line.
std::optional<LineSettings> ListenerSettings(const PtyPort& port);

// One step of the device on this port: bytes in transit are dropped when the listener
// changes its settings (as on a real line), the device's bytes for nowMs are written, a
// backlog that no one reads is discarded, and whatever the program wrote is drained.
void ServicePort(PtyPort& port, Emulator& emulator, long long nowMs);

}  // namespace sim
