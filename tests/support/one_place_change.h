// Whether a rewrite of a line-based file changed exactly one place: after == P + E + S
// where before == P + R + S, E is the entry line written (after a line feed that ends an
// old last line without one) and R is empty or the one piece that held the entry before
// (it starts with "key=" and holds a line feed only at its end). Everything else, in
// particular every other line, is byte for byte the same.
#pragma once

#include <string>

namespace testsupport {

inline bool IsOldEntryPiece(const std::string& removed, const std::string& key) {
    if (removed.empty()) return true;
    const size_t lineFeed = removed.find('\n');
    return removed.compare(0, key.size() + 1, key + "=") == 0 &&
           (lineFeed == std::string::npos || lineFeed == removed.size() - 1);
}

inline bool OnePlaceChanged(const std::string& before, const std::string& after,
                            const std::string& entry, const std::string& key) {
    for (size_t at = after.find(entry); at != std::string::npos; at = after.find(entry, at + 1)) {
        const size_t s = after.size() - at - entry.size();
        for (size_t lf = 0; lf <= 1; ++lf) {
            // The added line feed ends an old last line that had none: nothing follows.
            if (lf == 1 && (at == 0 || after[at - 1] != '\n' || s != 0)) continue;
            const size_t p = at - lf;
            if (p + s > before.size()) continue;
            if (lf == 1 && p != before.size()) continue;
            if (before.compare(0, p, after, 0, p) != 0) continue;
            if (before.compare(before.size() - s, s, after, at + entry.size(), s) != 0) continue;
            if (IsOldEntryPiece(before.substr(p, before.size() - s - p), key)) return true;
        }
    }
    return false;
}

}  // namespace testsupport
