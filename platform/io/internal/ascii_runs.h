// Platform-private: runs of plain ASCII (0x01..0x7F) between the bytes on disk and UTF-16,
// the common case of a text stream's lines. On x86 sixteen bytes (eight units) are tested
// and converted at once; elsewhere one at a time. Kept apart from the streams so that each
// can be checked against a character-at-a-time model.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "platform/base/types.h"

#if defined(__SSE2__) && defined(__GNUC__)
#include <emmintrin.h>
#define BELVANE_ASCII_BLOCKS 1
#endif

namespace platform::detail {

inline bool IsPlainAscii(unsigned value) {
    return value - 1 < 0x7F;
}

#ifdef BELVANE_ASCII_BLOCKS
// Widens the sixteen bytes of v into units[0 .. 16), eight units per store.
inline void Widen16(__m128i v, WCHAR* units) {
    const __m128i zero = _mm_setzero_si128();
    _mm_storeu_si128(reinterpret_cast<__m128i*>(units), _mm_unpacklo_epi8(v, zero));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(units + 8), _mm_unpackhi_epi8(v, zero));
}

// Bit k set where bytes[k] (k < 16) is a line feed, and in others where it needs decoding
// (a byte above 0x7F has its top bit set, and so has the mark of a NUL).
inline unsigned LineFeeds16(__m128i v) {
    return static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, _mm_set1_epi8('\n'))));
}
inline unsigned NotPlain16(__m128i v) {
    return static_cast<unsigned>(
        _mm_movemask_epi8(_mm_or_si128(v, _mm_cmpeq_epi8(v, _mm_setzero_si128()))));
}
#endif

// Copies the run of plain ASCII that starts bytes[0 .. span) into units, up to and including
// a line feed. Reads nothing beyond the span and writes nothing beyond it either; within it,
// units after the run may be set to zero. Returns the count copied; lineEnded tells whether
// the run ended with a line feed, zeroAfter whether units[count] is such a zero already.
//
// The units go in stores of eight, each at a multiple of eight from units, the block where
// the run ends included, with zeros after the run: a caller that ends the text there and
// reads it back in blocks of eight (as fputws does) finds each block in one store, which the
// processor hands on at once, where a block made of several stores would wait for them to
// reach the cache.
inline size_t WidenAsciiRun(const unsigned char* bytes, size_t span, WCHAR* units, bool& lineEnded,
                            [[maybe_unused]] bool& zeroAfter) {
    size_t i = 0;
#ifdef BELVANE_ASCII_BLOCKS
    // 32 bytes of 0xFF, then 32 of zero: the mask that keeps the first k of 32 bytes starts
    // 32 - k into it.
    alignas(16) static constexpr unsigned char kKeep[64] = {
        0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
        0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
        0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
    // Thirty-two bytes at a time: a typical line ends within the first such block, so the
    // one test of whether it did is the same for every line.
    for (; i + 32 <= span; i += 32) {
        __m128i low = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + i));
        __m128i high = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + i + 16));
        const unsigned feeds = LineFeeds16(low) | LineFeeds16(high) << 16;
        const unsigned stops = feeds | NotPlain16(low) | NotPlain16(high) << 16;
        if (stops == 0) {
            Widen16(low, units + i);
            Widen16(high, units + i + 16);
            continue;
        }
        const unsigned first = static_cast<unsigned>(__builtin_ctz(stops));
        lineEnded = (feeds >> first & 1) != 0;
        const unsigned count = first + (lineEnded ? 1 : 0);
        const unsigned char* keep = kKeep + 32 - count;
        low = _mm_and_si128(low, _mm_loadu_si128(reinterpret_cast<const __m128i*>(keep)));
        high = _mm_and_si128(high, _mm_loadu_si128(reinterpret_cast<const __m128i*>(keep + 16)));
        Widen16(low, units + i);
        Widen16(high, units + i + 16);
        zeroAfter = count < 32;
        return i + count;
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
// up to 62 bytes past the text's end, as the C library's strlen reads, but never into
// the next page, so never where nothing is mapped (the address sanitizer is told so), and
// may write up to 31 bytes beyond the run within the room.
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
    // Thirty-two units at a time while there is room and the text's next 64 bytes lie in one
    // page: a typical line ends within the first such block, so the one test of whether it
    // did is the same for every line.
    constexpr std::uintptr_t kWide = 64;
    while (end - out >= 32 + 3 && reinterpret_cast<std::uintptr_t>(text) % kPage <= kPage - kWide) {
        __m128i v[4];
        unsigned plain = 0;
        for (int k = 0; k < 4; ++k) {
            v[k] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text + 8 * k));
            const __m128i ascii = _mm_cmpeq_epi16(_mm_and_si128(v[k], high), zero);
            const __m128i ok = _mm_andnot_si128(_mm_cmpeq_epi16(v[k], zero), ascii);
            // One bit per unit: the 16-bit marks packed to bytes.
            plain |= static_cast<unsigned>(_mm_movemask_epi8(_mm_packs_epi16(ok, zero))) << (8 * k);
        }
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm_packus_epi16(v[0], v[1]));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 16), _mm_packus_epi16(v[2], v[3]));
        const unsigned count =
            plain == 0xFFFFFFFFu ? 32 : static_cast<unsigned>(__builtin_ctz(~plain));
        out += count;
        text += count;
        if (count < 32) {
            to = out;
            return text;
        }
    }
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
