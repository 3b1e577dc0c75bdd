// Samples, percentiles and the one line per figure that bench/run collects: each figure is
// printed beside the floor it is compared with, both measured in the same run.
#pragma once

#include <stdio.h>
#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <utility>
#include <vector>

namespace bench {

inline double Percentile(std::vector<double> samples, double p) {
    if (samples.empty()) return 0;
    std::sort(samples.begin(), samples.end());
    size_t rank = static_cast<size_t>(p / 100.0 * static_cast<double>(samples.size()));
    return samples[std::min(rank, samples.size() - 1)];
}

inline double SecondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// A count from the environment, for quick runs with fewer samples.
inline int Count(const char* variable, int fallback) {
    const char* text = getenv(variable);
    int value = text != nullptr ? atoi(text) : 0;
    return value > 0 ? value : fallback;
}

struct Figure {
    std::string name;    // what is measured
    std::string unit;    // of value and floor
    double value = 0;    // the figure compared (a median unless the name says otherwise)
    double floor = 0;    // the same measure of the least that could be done; 0: none
    double ratio = 0;    // value / floor, or as the target reads
    std::string target;  // the bound the figure should meet, as text
    bool met = true;
    std::vector<std::pair<std::string, double>> extra;  // percentiles and counts
};

// One human line and one "FIGURE {json}" line.
inline void Report(const Figure& f) {
    printf("%-34s %12.3f %-6s floor %12.3f  ratio %7.3f  target %-22s %s\n", f.name.c_str(),
           f.value, f.unit.c_str(), f.floor, f.ratio, f.target.c_str(), f.met ? "met" : "MISSED");
    for (const auto& [key, value] : f.extra) printf("    %-12s %12.3f\n", key.c_str(), value);
    printf(
        "FIGURE {\"name\":\"%s\",\"unit\":\"%s\",\"value\":%.6g,\"floor\":%.6g,\"ratio\":%.6g,"
        "\"target\":\"%s\",\"met\":%s",
        f.name.c_str(), f.unit.c_str(), f.value, f.floor, f.ratio, f.target.c_str(),
        f.met ? "true" : "false");
    for (const auto& [key, value] : f.extra) printf(",\"%s\":%.6g", key.c_str(), value);
    printf("}\n");
    fflush(stdout);
}

}  // namespace bench
