#include "tools/simulator/replay.h"

#include <fstream>
#include <sstream>

namespace sim {

namespace {

// The output without the capture's note lines, each kept line with its own line ending.
std::vector<std::string> DeviceLines(std::string_view contents) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < contents.size()) {
        std::size_t end = contents.find('\n', start);
        end = end == std::string_view::npos ? contents.size() : end + 1;
        std::string_view line = contents.substr(start, end - start);
        if (line.front() != '#') lines.emplace_back(line);
        start = end;
    }
    return lines;
}

// "$GPGGA" of "$GPGGA,..." ; empty when the line is not an NMEA sentence.
std::string_view SentenceId(std::string_view line) {
    if (line.empty() || line.front() != '$') return {};
    std::size_t comma = line.find(',');
    return comma == std::string_view::npos ? std::string_view{} : line.substr(0, comma);
}

}  // namespace

std::vector<std::string> SplitCapture(std::string_view contents, std::size_t binaryBurst) {
    std::vector<std::string> lines = DeviceLines(contents);
    std::string_view opener;
    for (const std::string& line : lines)
        if (opener = SentenceId(line); !opener.empty()) break;
    std::vector<std::string> bursts;
    if (opener.empty()) {
        std::string all;
        for (const std::string& line : lines) all += line;
        for (std::size_t i = 0; i < all.size(); i += binaryBurst)
            bursts.push_back(all.substr(i, binaryBurst));
        return bursts;
    }
    std::string opening(opener);
    std::string current;
    for (const std::string& line : lines) {
        if (SentenceId(line) == opening && !current.empty()) {
            bursts.push_back(current);
            current.clear();
        }
        current += line;
    }
    if (!current.empty()) bursts.push_back(current);
    return bursts;
}

bool LoadCapture(const std::string& path, std::vector<std::string>& bursts, std::string& error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = "cannot read capture " + path;
        return false;
    }
    std::ostringstream contents;
    contents << in.rdbuf();
    bursts = SplitCapture(contents.str());
    if (bursts.empty()) {
        error = "capture " + path + " holds no device output";
        return false;
    }
    return true;
}

}  // namespace sim
