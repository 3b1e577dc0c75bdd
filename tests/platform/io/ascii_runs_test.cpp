#include "internal/ascii_runs.h"

#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

using platform::detail::NarrowAsciiRun;
using platform::detail::WidenAsciiRun;

// Every run length across two wide blocks and a part of one, ended by each kind of byte at
// every place (or by the span), against a byte-at-a-time model: the count, the line end, the
// units, nothing but zeros after the run and nothing at all past the span.
TEST(AsciiRuns, WideningMatchesTheModelAndWritesOnlyZerosAfterTheRun) {
    const unsigned char stops[] = {'\n', 0, 0x80, 0xC3, 0xFF};
    for (size_t span = 0; span <= 72; ++span)
        for (size_t stopAt = 0; stopAt <= span; ++stopAt)
            for (unsigned char stop : stops) {
                std::vector<unsigned char> bytes(span + 1);
                for (size_t i = 0; i < bytes.size(); ++i)
                    bytes[i] = static_cast<unsigned char>(0x20 + (i * 7) % 0x5F);
                bytes[span] = '\n';  // beyond the span: never to be read
                if (stopAt < span) bytes[stopAt] = stop;
                bytes[0] = span > 0 && stopAt > 0 ? 0x01 : bytes[0];  // the lowest plain byte
                if (span > 1 && stopAt > 1) bytes[1] = 0x7F;          // and the highest

                size_t expected = 0;
                bool expectEnded = false;
                while (expected < span && bytes[expected] >= 0x01 && bytes[expected] <= 0x7F) {
                    if (bytes[expected++] == '\n') {
                        expectEnded = true;
                        break;
                    }
                }
                std::vector<WCHAR> units(span + 8, 0xBEEF);
                bool ended = false, zeroAfter = false;
                const size_t taken =
                    WidenAsciiRun(bytes.data(), span, units.data(), ended, zeroAfter);
                ASSERT_EQ(taken, expected) << "span " << span << " stop " << +stop << "@" << stopAt;
                ASSERT_EQ(ended, expectEnded) << "span " << span << " stop " << +stop;
                for (size_t i = 0; i < units.size(); ++i) {
                    const WCHAR got = units[i];
                    const bool right = i < taken   ? got == bytes[i]
                                       : i >= span ? got == 0xBEEF
                                                   : got == 0 || got == 0xBEEF;
                    ASSERT_TRUE(right) << "unit " << i << " is " << int{got} << ", span " << span;
                }
                ASSERT_TRUE(!zeroAfter || units[taken] == 0) << "span " << span;
            }
}

// Text whose end is the last unit before an unmapped page, at every alignment, every run
// length and each kind of unit that ends a run, with room running out at every point: the
// bytes and the stopping place match the model, and nothing reads into the next page.
TEST(AsciiRuns, NarrowingMatchesTheModelUpToAnUnmappedPage) {
    const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
    void* map = mmap(nullptr, 2 * page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    ASSERT_NE(map, MAP_FAILED);
    auto* base = static_cast<unsigned char*>(map);
    ASSERT_EQ(mprotect(base + page, page, PROT_NONE), 0);

    const WCHAR stops[] = {0, 0x80, 0xFF, 0x100, 0xDC00, 0xFF7F};
    for (size_t length = 0; length <= 72; ++length)
        for (WCHAR stop : stops)
            for (size_t room = 0; room <= 80; ++room) {
                // length units of ASCII, then stop, then the NUL as the page's last unit.
                WCHAR* text = reinterpret_cast<WCHAR*>(base + page) - (length + 2);
                for (size_t i = 0; i < length; ++i)
                    text[i] = static_cast<WCHAR>(i % 3 == 0 ? 0x7F : 0x01 + (i * 11) % 0x7E);
                text[length] = stop;
                text[length + 1] = 0;
                // The same text moved one unit on, so that it starts at every alignment
                // with respect to a block.
                for (size_t shift = 0; shift < 2; ++shift) {
                    const WCHAR* from = text + shift;
                    const size_t units = length - std::min(length, shift);
                    size_t expected = 0;
                    while (expected < units && room - std::min(room, expected) >= 4) ++expected;
                    if (room < 4) expected = 0;
                    unsigned char out[96];
                    std::memset(out, 0xEE, sizeof out);
                    unsigned char* to = out;
                    const WCHAR* stopped = NarrowAsciiRun(from, to, out + room);
                    ASSERT_EQ(stopped - from, static_cast<ptrdiff_t>(expected))
                        << "length " << length << " stop " << int{stop} << " room " << room;
                    ASSERT_EQ(to - out, static_cast<ptrdiff_t>(expected));
                    for (size_t i = 0; i < expected; ++i) ASSERT_EQ(out[i], from[i]) << i;
                    for (size_t i = room; i < sizeof out; ++i) ASSERT_EQ(out[i], 0xEE) << i;
                }
            }
    munmap(map, 2 * page);
}

}  // namespace
