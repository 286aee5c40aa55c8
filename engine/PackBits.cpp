#include "engine/PackBits.h"

#include <algorithm>
#include <cstring>

namespace packbits {

uint8_t* Decode(const uint8_t*& in, const uint8_t* inEnd, uint8_t* out, uint8_t* outEnd,
                TState& state) {
    const uint8_t* p = in;
    for (;;) {
        if (state.LiteralLeft > 0) {
            const size_t take =
                std::min({size_t(state.LiteralLeft), size_t(inEnd - p), size_t(outEnd - out)});
            std::memcpy(out, p, take);
            p += take;
            out += take;
            state.LiteralLeft -= static_cast<uint32_t>(take);
            if (state.LiteralLeft > 0) break; // the input or the room ran out
        }
        const bool carried = state.Pending < 0;
        if (!carried && p == inEnd) break;
        const int n = carried ? state.Pending : static_cast<int8_t>(*p++);
        state.Pending = 0;
        if (n >= 0) {
            state.LiteralLeft = uint32_t(n) + 1;
            continue;
        }
        if (n == -128) continue;
        const size_t count = size_t(1 - n);
        if (p == inEnd || size_t(outEnd - out) < count) {
            // The value byte is in the next chunk, or the run does not fit: keep the count.
            if (p < inEnd && !carried)
                --p;
            else
                state.Pending = n;
            break;
        }
        std::memset(out, *p++, count);
        out += count;
    }
    in = p;
    return out;
}

uint64_t Scan(const uint8_t* in, const uint8_t* inEnd, TState& state) {
    uint64_t total = 0;
    const uint8_t* p = in;
    for (;;) {
        if (state.LiteralLeft > 0) {
            const size_t take = std::min(size_t(state.LiteralLeft), size_t(inEnd - p));
            p += take;
            total += take;
            state.LiteralLeft -= static_cast<uint32_t>(take);
            if (state.LiteralLeft > 0) break;
        }
        const bool carried = state.Pending < 0;
        if (!carried && p == inEnd) break;
        const int n = carried ? state.Pending : static_cast<int8_t>(*p++);
        state.Pending = 0;
        if (n >= 0) {
            state.LiteralLeft = uint32_t(n) + 1;
            continue;
        }
        if (n == -128) continue;
        if (p == inEnd) {
            state.Pending = n;
            break;
        }
        ++p;
        total += uint64_t(1 - n);
    }
    return total;
}

uint32_t Unfinished(const TState& state) {
    return state.Pending < 0 ? 1 : 0;
}

} // namespace packbits
