#include "tools/simulator/bench.h"

#include <cctype>
#include <charconv>
#include <map>
#include <optional>
#include <set>
#include <sstream>

namespace sim {

namespace {

// The highest index a COM device name can carry in the device table.
constexpr int kMaxComIndex = 255;

std::vector<std::string> Tokens(std::string_view line) {
    std::istringstream in{std::string(line)};
    std::vector<std::string> tokens;
    for (std::string token; in >> token;) tokens.push_back(token);
    return tokens;
}

template <typename T>
std::optional<T> Number(std::string_view text) {
    T value{};
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc{} || end != text.data() + text.size()) return std::nullopt;
    return value;
}

std::optional<int> ComIndex(const std::string& token) {
    if (token.size() < 4) return std::nullopt;
    std::string prefix = token.substr(0, 3);
    for (char& c : prefix) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (prefix != "COM") return std::nullopt;
    auto index = Number<int>(std::string_view(token).substr(3));
    if (!index || *index < 0 || *index > kMaxComIndex) return std::nullopt;
    return index;
}

std::optional<DeviceKind> Kind(std::string_view name) {
    if (name == "gps") return DeviceKind::Gps;
    if (name == "radar") return DeviceKind::Radar;
    if (name == "silent") return DeviceKind::Silent;
    if (name == "noise") return DeviceKind::Noise;
    return std::nullopt;
}

std::vector<std::string> SplitList(std::string_view text) {
    std::vector<std::string> items;
    std::size_t start = 0;
    while (true) {
        std::size_t comma = text.find(',', start);
        items.emplace_back(text.substr(start, comma - start));
        if (comma == std::string_view::npos) break;
        start = comma + 1;
    }
    return items;
}

// Seconds after start, such as 5 or 2.5, in milliseconds.
std::optional<long long> Seconds(std::string_view text) {
    auto seconds = Number<double>(text);
    if (!seconds || !(*seconds >= 0 && *seconds <= 86400)) return std::nullopt;
    return static_cast<long long>(*seconds * 1000 + 0.5);
}

// Applies one key=value option; returns an error message or an empty string.
std::string ApplyOption(DeviceSpec& device, std::string_view key, std::string_view value,
                        std::string_view baseDir) {
    if (key == "plug" || key == "pull") {
        auto ms = Seconds(value);
        if (!ms) return std::string(key) + " must be a number of seconds from 0 to 86400";
        (key == "plug" ? device.plugMs : device.pullMs) = *ms;
        return {};
    }
    bool gps = device.kind == DeviceKind::Gps;
    bool timed = device.kind == DeviceKind::Radar || device.kind == DeviceKind::Noise;
    if (gps && key == "talker") {
        if (!IsValidTalker(value))
            return "talker must be two upper-case letters such as GP or GN, not \"" +
                   std::string(value) + "\"";
        device.gps.talker = value;
    } else if (gps && key == "sentences") {
        std::vector<std::string> list = SplitList(value);
        std::set<std::string> seen;
        for (const std::string& type : list) {
            if (!IsKnownSentence(type))
                return "unknown sentence \"" + type + "\" (known: RMC GGA GSA GSV GLL VTG ZDA)";
            if (!seen.insert(type).second) return "sentence " + type + " listed twice";
        }
        device.gps.sentences = list;
    } else if (gps && key == "replay") {
        if (value.empty()) return "replay needs a file name";
        device.replayPath = (value.front() == '/' || baseDir.empty())
                                ? std::string(value)
                                : std::string(baseDir) + "/" + std::string(value);
    } else if (device.kind == DeviceKind::Radar && key == "mode") {
        if (value == "frames")
            device.radarMode = RadarMode::Frames;
        else if (value == "triples")
            device.radarMode = RadarMode::Triples;
        else
            return "mode must be frames or triples, not \"" + std::string(value) + "\"";
    } else if (timed && key == "interval") {
        auto ms = Number<unsigned>(value);
        if (!ms || *ms < 10 || *ms > 60000)
            return "interval must be a number of milliseconds from 10 to 60000";
        device.intervalMs = *ms;
    } else {
        return "option \"" + std::string(key) + "\" does not apply to a " + KindName(device.kind) +
               " device";
    }
    return {};
}

// Parses the tokens of one non-empty line into device; returns an error message or "".
std::string ParseDevice(const std::vector<std::string>& tokens, DeviceSpec& device,
                        std::string_view baseDir) {
    auto index = ComIndex(tokens[0]);
    if (!index)
        return "expected a port name COM0 to COM255 at the start, not \"" + tokens[0] + "\"";
    device.comIndex = *index;
    if (tokens.size() < 2) return "missing device kind (gps, radar, silent or noise)";
    auto kind = Kind(tokens[1]);
    if (!kind)
        return "unknown device kind \"" + tokens[1] + "\" (expected gps, radar, silent or noise)";
    device.kind = *kind;
    if (tokens.size() < 3) return "missing baud rate";
    auto baud = Number<unsigned>(tokens[2]);
    if (!baud || !IsStandardBaud(*baud)) return "\"" + tokens[2] + "\" is not a standard baud rate";
    device.line.baud = *baud;
    bool framingSeen = false, talkerOrSentences = false;
    for (std::size_t i = 3; i < tokens.size(); ++i) {
        const std::string& token = tokens[i];
        std::size_t eq = token.find('=');
        if (eq == std::string::npos) {
            auto framing = ParseFraming(token, *baud);
            if (!framing || framingSeen)
                return "unexpected \"" + token + "\" (framing such as 8N1 or key=value expected)";
            device.line = *framing;
            framingSeen = true;
            continue;
        }
        std::string_view key = std::string_view(token).substr(0, eq);
        std::string error =
            ApplyOption(device, key, std::string_view(token).substr(eq + 1), baseDir);
        if (!error.empty()) return error;
        talkerOrSentences = talkerOrSentences || key == "talker" || key == "sentences";
    }
    if (device.plugMs >= 0 && device.plugMs == device.pullMs)
        return "plug and pull at the same time";
    if (!device.replayPath.empty() && talkerOrSentences)
        return "a replayed capture has its own talker and sentences; drop talker= and sentences=";
    return {};
}

}  // namespace

Bench ParseBench(std::string_view text, std::string_view sourceName, std::string_view baseDir) {
    Bench bench;
    std::map<int, int> used;  // COM index -> line that describes it
    std::istringstream in{std::string(text)};
    int lineNumber = 0;
    for (std::string line; std::getline(in, line);) {
        ++lineNumber;
        if (std::size_t hash = line.find('#'); hash != std::string::npos) line.resize(hash);
        std::vector<std::string> tokens = Tokens(line);
        if (tokens.empty()) continue;
        DeviceSpec device;
        device.lineNumber = lineNumber;
        std::string error = ParseDevice(tokens, device, baseDir);
        if (error.empty() && used.count(device.comIndex))
            error = "COM" + std::to_string(device.comIndex) + " is already described on line " +
                    std::to_string(used[device.comIndex]);
        if (!error.empty()) {
            bench.errors.push_back(std::string(sourceName) + ":" + std::to_string(lineNumber) +
                                   ": " + error);
            continue;
        }
        used[device.comIndex] = lineNumber;
        bench.devices.push_back(device);
    }
    if (bench.devices.empty() && bench.errors.empty())
        bench.errors.push_back(std::string(sourceName) + ": describes no device");
    return bench;
}

const char* KindName(DeviceKind kind) {
    switch (kind) {
        case DeviceKind::Gps:
            return "gps";
        case DeviceKind::Radar:
            return "radar";
        case DeviceKind::Silent:
            return "silent";
        case DeviceKind::Noise:
            return "noise";
    }
    return "?";
}

const char* FriendlyName(DeviceKind kind) {
    switch (kind) {
        case DeviceKind::Gps:
            return "Simulated GPS receiver";
        case DeviceKind::Radar:
            return "Simulated radar detector";
        case DeviceKind::Silent:
            return "Simulated silent device";
        case DeviceKind::Noise:
            return "Simulated noisy line";
    }
    return "Simulated device";
}

}  // namespace sim
