// The bench description: one simulated device a line, for example
//   COM4 gps 57600
//   COM1 gps 4800 replay=captures/tn200.log
//   COM2 radar 9600 8N1 mode=triples interval=250
//   COM5 noise 9600
//   COM6 silent 9600   # comment
//   COM7 gps 57600 plug=5 pull=20   # plugged in 5 s after start, pulled out at 20 s
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "tools/simulator/line_settings.h"
#include "tools/simulator/protocols.h"

namespace sim {

enum class DeviceKind { Gps, Radar, Silent, Noise };

struct DeviceSpec {
    int comIndex = 0;
    DeviceKind kind = DeviceKind::Silent;
    LineSettings line;
    GpsOptions gps;
    std::string replayPath;  // gps only: a capture file to replay instead of generated output
    RadarMode radarMode = RadarMode::Frames;
    unsigned intervalMs = 500;  // radar: between transmissions; noise: between bursts
    // Milliseconds after start at which the device is plugged in and pulled out, or -1. A
    // device is there from the start unless it is plugged in before it is pulled out.
    long long plugMs = -1;
    long long pullMs = -1;
    int lineNumber = 0;

    bool PresentAtStart() const { return plugMs < 0 || (pullMs >= 0 && pullMs < plugMs); }
};

struct Bench {
    std::vector<DeviceSpec> devices;
    std::vector<std::string> errors;  // "<source>:<line>: <message>", empty when valid
};

// Parses a bench description. sourceName prefixes error messages; relative replay paths
// are taken relative to baseDir.
Bench ParseBench(std::string_view text, std::string_view sourceName, std::string_view baseDir);

const char* KindName(DeviceKind kind);
const char* FriendlyName(DeviceKind kind);

}  // namespace sim
