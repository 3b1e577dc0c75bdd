#include "tools/simulator/emulator.h"

#include <algorithm>

namespace sim {

namespace {

constexpr long long kGpsPeriodMs = 1000;
// A device sends no more than it can in this many milliseconds at once, also after a stall.
constexpr double kMaxBurstMs = 50.0;
// What a device still has to send is capped: a real transmitter does not queue for long.
constexpr std::size_t kMaxPending = 8192;

std::string NextTransmission(Emulator& e) {
    const DeviceSpec& setup = e.setup;
    switch (setup.kind) {
        case DeviceKind::Gps:
            if (!e.replayBursts.empty()) {
                const std::string& burst = e.replayBursts[e.replayNext];
                e.replayNext = (e.replayNext + 1) % e.replayBursts.size();
                return burst;
            }
            return GpsBurst(setup.gps, e.startUtcSeconds + e.sequence);
        case DeviceKind::Radar:
            return RadarBurst(setup.radarMode, e.sequence);
        case DeviceKind::Noise: {
            std::uniform_int_distribution<std::size_t> length(1, 48);
            return GarbageBytes(length(e.rng), e.rng);
        }
        case DeviceKind::Silent:
            return {};
    }
    return {};
}

long long PeriodMs(Emulator& e) {
    switch (e.setup.kind) {
        case DeviceKind::Gps:
            return kGpsPeriodMs;
        case DeviceKind::Radar:
            return e.setup.intervalMs;
        case DeviceKind::Noise: {
            // Irregular: between half and one and a half intervals.
            std::uniform_int_distribution<long long> jitter(e.setup.intervalMs / 2,
                                                            e.setup.intervalMs * 3 / 2);
            return std::max(1LL, jitter(e.rng));
        }
        case DeviceKind::Silent:
            return 1000;
    }
    return 1000;
}

// Characters a listener set to `listener` receives for `sent` characters of the device: one
// per device character when the listener is faster (or only the framing differs), fewer when
// it is slower.
double GarbageRatio(const LineSettings& device, const LineSettings& listener) {
    if (listener.baud == 0 || listener.baud >= device.baud) return 1.0;
    return static_cast<double>(listener.baud) / device.baud;
}

}  // namespace

void StartEmulator(Emulator& emulator, const DeviceSpec& setup,
                   std::vector<std::string> replayBursts, long long nowMs, long long utcSeconds,
                   unsigned seed) {
    emulator = Emulator{};
    emulator.setup = setup;
    emulator.replayBursts = std::move(replayBursts);
    emulator.startUtcSeconds = utcSeconds;
    emulator.nextBurstMs = nowMs;
    emulator.lastMs = nowMs;
    emulator.rng.seed(seed);
}

std::string StepEmulator(Emulator& e, long long nowMs, const LineSettings& listener,
                         bool framingVisible) {
    while (nowMs >= e.nextBurstMs) {
        std::string next = NextTransmission(e);
        // A device configured to say more than its line carries loses whole transmissions.
        if (e.pending.size() + next.size() <= kMaxPending) e.pending += next;
        ++e.sequence;
        e.nextBurstMs += PeriodMs(e);
    }
    double charsPerMs = e.setup.line.baud / (1000.0 * BitsPerCharacter(e.setup.line));
    double elapsed = static_cast<double>(std::max(0LL, nowMs - e.lastMs));
    e.lastMs = nowMs;
    e.budget = std::min(e.budget + elapsed * charsPerMs, std::max(1.0, kMaxBurstMs * charsPerMs));
    auto count = std::min(e.pending.size(), static_cast<std::size_t>(e.budget));
    e.budget -= static_cast<double>(count);
    std::string sent = e.pending.substr(0, count);
    e.pending.erase(0, count);
    if (e.pending.empty()) e.budget = std::min(e.budget, 1.0);

    // Noise is noise at any setting.
    if (e.setup.kind == DeviceKind::Noise || SettingsMatch(e.setup.line, listener, framingVisible))
        return sent;
    e.garbageDue += static_cast<double>(count) * GarbageRatio(e.setup.line, listener);
    auto garbage = static_cast<std::size_t>(e.garbageDue);
    e.garbageDue -= static_cast<double>(garbage);
    return GarbageBytes(garbage, e.rng);
}

}  // namespace sim
