// The registry file's parser and writer. Any text parses without harm; what the writer
// makes of the result parses back without a single problem to the same keys, so a
// parse -> write -> parse round is stable: the second text equals the first.
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz_check.h"
#include "internal/registry_format.h"

using platform::detail::FormatRegText;
using platform::detail::ParseRegText;
using platform::detail::RegKeyMap;

namespace {

void CheckSameKeys(const RegKeyMap& a, const RegKeyMap& b) {
    FUZZ_CHECK(a.size() == b.size());
    for (auto i = a.begin(), j = b.begin(); i != a.end(); ++i, ++j) {
        FUZZ_CHECK(i->first == j->first);
        FUZZ_CHECK(i->second.path == j->second.path);
        const auto& va = i->second.values;
        const auto& vb = j->second.values;
        FUZZ_CHECK(va.size() == vb.size());
        for (size_t k = 0; k < va.size(); ++k) {
            FUZZ_CHECK(va[k].name == vb[k].name);
            FUZZ_CHECK(va[k].type == vb[k].type);
            FUZZ_CHECK(va[k].data == vb[k].data);
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const auto first = ParseRegText(text);
    const std::string written = FormatRegText(first.keys);
    const auto second = ParseRegText(written);
    FUZZ_CHECK(second.problems.empty());
    CheckSameKeys(first.keys, second.keys);
    FUZZ_CHECK(FormatRegText(second.keys) == written);
    return 0;
}
