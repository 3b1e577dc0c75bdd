// The behaviour of one simulated device over time, without a port: given the time and the
// settings of the listening end, what bytes go on the line now.
#pragma once

#include <random>
#include <string>
#include <vector>

#include "tools/simulator/bench.h"

namespace sim {

struct Emulator {
    DeviceSpec setup;
    std::vector<std::string> replayBursts;  // for a replaying receiver
    std::size_t replayNext = 0;
    long long startUtcSeconds = 0;  // time stamp of the first generated fix
    unsigned sequence = 0;          // transmissions so far
    long long nextBurstMs = 0;
    long long lastMs = 0;
    std::string pending;    // what the device is still sending of its current transmission
    double budget = 0;      // characters the line could carry since the last step
    double garbageDue = 0;  // garbage characters owed to the listener, fractional
    std::mt19937 rng;
};

// Prepares the emulator; the first transmission starts at nowMs.
void StartEmulator(Emulator& emulator, const DeviceSpec& setup,
                   std::vector<std::string> replayBursts, long long nowMs, long long utcSeconds,
                   unsigned seed);

// The bytes the listener receives between the last step and nowMs. The device sends at its
// own rate; a listener set the same way (see SettingsMatch) receives what it sends, any
// other listener receives garbage at about the rate a real mismatched line yields.
std::string StepEmulator(Emulator& emulator, long long nowMs, const LineSettings& listener,
                         bool framingVisible);

}  // namespace sim
