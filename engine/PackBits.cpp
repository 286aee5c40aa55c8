#include "engine/PackBits.h"

#include <algorithm>
#include <cstring>
#include <limits>

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

struct TCounter {
    uint64_t Total = 0;
    static size_t Room() { return std::numeric_limits<size_t>::max(); }
    void Literal(const uint8_t*, size_t n) { Total += n; }
    void Run(uint8_t, size_t n) { Total += n; }
};

} // namespace

uint8_t* Decode(const uint8_t*& in, const uint8_t* inEnd, uint8_t* out, uint8_t* outEnd,
                TState& state) {
    TWriter writer{out, outEnd};
    in = Walk(in, inEnd, state, writer);
    return writer.Out;
}

uint64_t Scan(const uint8_t* in, const uint8_t* inEnd, TState& state) {
    TCounter counter;
    Walk(in, inEnd, state, counter);
    return counter.Total;
}

uint32_t Unfinished(const TState& state) {
    return state.Pending < 0 ? 1 : 0;
}

} // namespace packbits
