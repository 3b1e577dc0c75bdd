// Replay of captured receiver output: the capture is cut into the bursts a receiver sends
// once a second.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace sim {

// Lines starting with '#' are the capture's notes, not device output, and are dropped. NMEA
// output is cut where the sentence that opened the first burst comes round again (receivers
// send their sentences in a fixed order each second); output without NMEA sentences (binary
// protocols) is cut into pieces of binaryBurst bytes.
std::vector<std::string> SplitCapture(std::string_view contents, std::size_t binaryBurst = 256);

// Reads and splits a capture file; false with a message when it cannot be read or holds
// no device output.
bool LoadCapture(const std::string& path, std::vector<std::string>& bursts, std::string& error);

}  // namespace sim
