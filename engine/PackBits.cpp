#include "engine/PackBits.h"

#include <algorithm>
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
            const int n = static_cast<int8_t>(p[0]);
            if (n < 0) {
                if (n == -128) {
                    ++p;
                    continue;
                }
                const size_t count = size_t(1 - n);
                const uint64_t pattern = 0x0101010101010101ull * p[1];
                for (size_t k = 0; k < count; k += 16) {
                    std::memcpy(o + k, &pattern, 8);
                    std::memcpy(o + k + 8, &pattern, 8);
                }
                o += count;
                p += 2;
                continue;
            }
            const size_t length = size_t(n) + 1;
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
