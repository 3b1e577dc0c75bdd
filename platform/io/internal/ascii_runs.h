// Platform-private: runs of plain ASCII (0x01..0x7F) between the bytes on disk and UTF-16,
// the common case of a text stream's lines. On x86 sixteen bytes (eight units) are tested
// and converted at once; elsewhere one at a time. Kept apart from the streams so that each
// can be checked against a character-at-a-time model.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/base/types.h"

#if defined(__SSE2__) && defined(__GNUC__)
#include <emmintrin.h>
#define BELVANE_ASCII_BLOCKS 1
#endif

namespace platform::detail {

inline bool IsPlainAscii(unsigned value) {
    return value - 1 < 0x7F;
}

// Copies the run of plain ASCII that starts bytes[0 .. span) into units, up to and including
// a line feed. Reads and writes nothing beyond the run. Returns the count copied; lineEnded
// tells whether the run ended with a line feed.
inline size_t WidenAsciiRun(const unsigned char* bytes, size_t span, WCHAR* units,
                            bool& lineEnded) {
    size_t i = 0;
#ifdef BELVANE_ASCII_BLOCKS
    const __m128i zero = _mm_setzero_si128(), feed = _mm_set1_epi8('\n');
    for (; i + 16 <= span; i += 16) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + i));
        const unsigned feeds = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, feed)));
        // A byte above 0x7F has its top bit set, and so has the mark of a NUL.
        const unsigned others =
            static_cast<unsigned>(_mm_movemask_epi8(_mm_or_si128(v, _mm_cmpeq_epi8(v, zero))));
        const __m128i low = _mm_unpacklo_epi8(v, zero), high = _mm_unpackhi_epi8(v, zero);
        if ((feeds | others) == 0) {
            _mm_storeu_si128(reinterpret_cast<__m128i*>(units + i), low);
            _mm_storeu_si128(reinterpret_cast<__m128i*>(units + i + 8), high);
            continue;
        }
        // The run ends in this block: whole halves within it go at once, the rest singly.
        const unsigned first = static_cast<unsigned>(__builtin_ctz(feeds | others));
        lineEnded = (feeds >> first & 1) != 0;
        const size_t end = i + first + (lineEnded ? 1 : 0);
        if (end - i >= 8) {
            _mm_storeu_si128(reinterpret_cast<__m128i*>(units + i), low);
            i += 8;
        }
        for (; i < end; ++i) units[i] = bytes[i];
        return end;
    }
#endif
    for (; i < span; ++i) {
        const unsigned char c = bytes[i];
        if (!IsPlainAscii(c)) return i;
        units[i] = c;
        if (c == '\n') {
            lineEnded = true;
            return i + 1;
        }
    }
    return i;
}

// Puts the run of plain ASCII that starts at text (NUL-terminated) into to while at least
// four bytes of room remain before end, and returns where the run stopped. A block may read
// up to fourteen bytes past the text's end, as the C library's strlen reads, but never into
// the next page, so never where nothing is mapped (the address sanitizer is told so), and
// may write up to seven bytes beyond the run within the room.
#ifdef BELVANE_ASCII_BLOCKS
__attribute__((no_sanitize("address", "thread")))
#endif
inline const WCHAR*
NarrowAsciiRun(const WCHAR* text, unsigned char*& to, const unsigned char* end) {
    unsigned char* out = to;
#ifdef BELVANE_ASCII_BLOCKS
    // A block of eight units goes at once where one at a time would put all eight too: with
    // room for them and the four bytes that must remain.
    constexpr std::uintptr_t kPage = 4096, kBlock = 16;
    constexpr std::ptrdiff_t kBlockRoom = 8 + 3;
    const __m128i zero = _mm_setzero_si128(), high = _mm_set1_epi16(static_cast<short>(0xFF80));
#endif
    while (end - out >= 4) {
#ifdef BELVANE_ASCII_BLOCKS
        if (end - out >= kBlockRoom &&
            reinterpret_cast<std::uintptr_t>(text) % kPage <= kPage - kBlock) {
            const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text));
            const __m128i ascii = _mm_cmpeq_epi16(_mm_and_si128(v, high), zero);
            const __m128i nul = _mm_cmpeq_epi16(v, zero);
            const unsigned plain =
                static_cast<unsigned>(_mm_movemask_epi8(_mm_andnot_si128(nul, ascii)));
            _mm_storel_epi64(reinterpret_cast<__m128i*>(out), _mm_packus_epi16(v, v));
            // Two mask bits per unit: the first clear pair is the first unit of another kind.
            const unsigned count =
                plain == 0xFFFF ? 8 : static_cast<unsigned>(__builtin_ctz(~plain)) / 2;
            out += count;
            text += count;
            if (count < 8) break;
            continue;
        }
#endif
        if (!IsPlainAscii(*text)) break;
        *out++ = static_cast<unsigned char>(*text++);
    }
    to = out;
    return text;
}

}  // namespace platform::detail
