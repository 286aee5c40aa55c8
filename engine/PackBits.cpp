#include "engine/PackBits.h"

#include <algorithm>
#include <bit>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#include <cstring>

namespace packbits {

namespace {

// Walks packed bytes, handing literals and runs to the sink while it has room for them;
// a run is handed whole. Answers where the walk stopped.
template <class TSink>
const uint8_t* Walk(const uint8_t* p, const uint8_t* inEnd, TState& state, TSink& sink) {
    for (;;) {
        if (state.LiteralLeft > 0) {
            const size_t take =
                std::min({size_t(state.LiteralLeft), size_t(inEnd - p), sink.Room()});
            sink.Literal(p, take);
            p += take;
            state.LiteralLeft -= static_cast<uint32_t>(take);
            if (state.LiteralLeft > 0) return p; // the input or the room ran out
        }
        const bool carried = state.Pending < 0;
        if (!carried && p == inEnd) return p;
        const int n = carried ? state.Pending : static_cast<int8_t>(*p++);
        state.Pending = 0;
        if (n >= 0) {
            state.LiteralLeft = uint32_t(n) + 1;
            continue;
        }
        if (n == -128) continue;
        const size_t count = size_t(1 - n);
        if (p == inEnd || sink.Room() < count) {
            // The value byte is in the next chunk, or the run does not fit: keep the count.
            if (p < inEnd && !carried)
                --p;
            else
                state.Pending = n;
            return p;
        }
        sink.Run(*p++, count);
    }
}

struct TWriter {
    uint8_t* Out;
    uint8_t* End;
    size_t Room() const { return size_t(End - Out); }
    void Literal(const uint8_t* p, size_t n) {
        std::memcpy(Out, p, n);
        Out += n;
    }
    void Run(uint8_t v, size_t n) {
        std::memset(Out, v, n);
        Out += n;
    }
};

} // namespace

uint8_t* Decode(const uint8_t*& in, const uint8_t* inEnd, uint8_t* out, uint8_t* outEnd,
                TState& state) {
    TWriter writer{out, outEnd};
    const uint8_t* p = in;
    // Whole units in a tight loop while the room takes any unit with a margin: a run is
    // filled in 16-byte steps, which may write past its end but never past the room.
    constexpr size_t kMargin = kMaxRun + 16;
    if (state.Pending == 0 && state.LiteralLeft == 0) {
        uint8_t* o = out;
        while (inEnd - p >= 2 && size_t(outEnd - o) >= kMargin) {
            const uint8_t c = p[0];
            if (uint8_t(c - 1) >= 0x80) {
                // A run, or a literal of one byte, which is a run of one: 257 - c bytes, or
                // 1 for 0, of the value behind the count. The two alike spare a branch the
                // map's short units would mispredict; most fit 16 bytes without a loop.
                const size_t count = size_t(uint8_t(0 - c)) + 1;
                const uint64_t pattern = 0x0101010101010101ull * p[1];
                std::memcpy(o, &pattern, 8);
                std::memcpy(o + 8, &pattern, 8);
                for (size_t k = 16; k < count; k += 16) {
                    std::memcpy(o + k, &pattern, 8);
                    std::memcpy(o + k + 8, &pattern, 8);
                }
                o += count;
                p += 2;
                continue;
            }
            if (c == 0x80) { // the no-op
                ++p;
                continue;
            }
            const size_t length = size_t(c) + 1;
            if (size_t(inEnd - p) - 1 < length) break; // the literal goes on in the next chunk
            std::memcpy(o, p + 1, length);
            o += length;
            p += 1 + length;
        }
        writer.Out = o;
    }
    in = Walk(p, inEnd, state, writer);
    return writer.Out;
}

namespace {
constexpr uint64_t kLanes = 0x00FF00FF00FF00FFull;
// The bytes of a word as they lie in memory, first byte lowest.
uint64_t le64(uint64_t v) {
    if constexpr (std::endian::native == std::endian::big) return __builtin_bswap64(v);
    return v;
}
} // namespace

// Counts whole two-byte units that are all runs of 1 to 128 bytes, as the map sheets' strips
// are, many at a time and with no branch in the sum; answers where the first other unit, or
// the last few bytes, begin.
namespace {
const uint8_t* CountRuns(const uint8_t* p, const uint8_t* inEnd, uint64_t& total) {
// Count bytes side by side in 16-bit lanes.
#if defined(__SSE2__)
    const __m128i lanes = _mm_set1_epi16(0x00FF), one = _mm_set1_epi16(1);
    const __m128i literal = _mm_set1_epi16(0x80), full = _mm_set1_epi16(0x100);
    while (inEnd - p >= 16) {
        const __m128i counts =
            _mm_and_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)), lanes);
        // 1 to 128 less one is 0 to 127: below 128 as a signed 16-bit number, 0 to -1.
        const __m128i less = _mm_sub_epi16(counts, one);
        const __m128i bad = _mm_andnot_si128(_mm_cmplt_epi16(less, _mm_setzero_si128()),
                                             _mm_cmplt_epi16(less, literal));
        if (_mm_movemask_epi8(bad)) break;
        const __m128i bytes = _mm_and_si128(_mm_sub_epi16(full, counts), lanes);
        const __m128i sums = _mm_sad_epu8(bytes, _mm_setzero_si128());
        total += uint64_t(_mm_cvtsi128_si32(sums) + _mm_extract_epi16(sums, 4)) + 8;
        p += 16;
    }
#endif
    while (inEnd - p >= 16) {
        uint64_t words[2];
        std::memcpy(words, p, 16);
        const uint64_t c0 = le64(words[0]) & kLanes, c1 = le64(words[1]) & kLanes;
        const uint64_t u0 = c0 + 0x007F007F007F007Full, u1 = c1 + 0x007F007F007F007Full;
        if (((u0 & ~(u0 >> 1)) | (u1 & ~(u1 >> 1))) & 0x0080008000800080ull) break;
        const uint64_t bytes = ((0x0100010001000100ull - c0) & kLanes) +
                               ((0x0100010001000100ull - c1) & kLanes) + 0x0002000200020002ull;
        total += (bytes * 0x0001000100010001ull) >> 48;
        p += 16;
    }
    while (inEnd - p >= 8) {
        uint64_t word;
        std::memcpy(&word, p, 8);
        const uint64_t counts = le64(word) & kLanes;
        // Count bytes 1 to 128 (a literal, the no-op) end the quick walk.
        const uint64_t up = counts + 0x007F007F007F007Full;
        if (up & ~(up >> 1) & 0x0080008000800080ull) break;
        // Each run gives 256 - n + 1 bytes modulo 256, which is 1 - n as a signed byte.
        const uint64_t bytes = ((0x0100010001000100ull - counts) & kLanes) + 0x0001000100010001ull;
        total += (bytes * 0x0001000100010001ull) >> 48;
        p += 8;
    }
    return p;
}
} // namespace

uint64_t Scan(const uint8_t* in, const uint8_t* inEnd, TState& state) {
    // What the last chunk left open first, then whole units in one tight loop: a window's
    // first rows are found by scanning every strip before it.
    const uint8_t* p = in;
    uint64_t total = 0;
    if (state.Pending < 0) { // a run whose value byte opens this chunk
        if (p == inEnd) return 0;
        total += uint64_t(1 - state.Pending);
        state.Pending = 0;
        ++p;
    }
    if (state.LiteralLeft > 0) {
        const size_t take = std::min(size_t(state.LiteralLeft), size_t(inEnd - p));
        p += take;
        total += take;
        state.LiteralLeft -= static_cast<uint32_t>(take);
        if (state.LiteralLeft > 0) return total;
    }
    while (inEnd - p >= 2) {
        p = CountRuns(p, inEnd, total);
        if (inEnd - p < 2) break;
        const int n = static_cast<int8_t>(p[0]);
        if (n < 0) {
            if (n == -128) {
                ++p;
                continue;
            }
            total += uint64_t(1 - n);
            p += 2;
            continue;
        }
        const size_t length = size_t(n) + 1, there = size_t(inEnd - p) - 1;
        if (there < length) { // the literal goes on in the next chunk
            total += there;
            state.LiteralLeft = static_cast<uint32_t>(length - there);
            return total;
        }
        total += length;
        p += 1 + length;
    }
    if (p < inEnd) { // a count byte whose bytes are in the next chunk
        const int n = static_cast<int8_t>(*p);
        if (n >= 0)
            state.LiteralLeft = uint32_t(n) + 1;
        else if (n != -128)
            state.Pending = n;
    }
    return total;
}

uint32_t Unfinished(const TState& state) {
    return state.Pending < 0 ? 1 : 0;
}

} // namespace packbits
