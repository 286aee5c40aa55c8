#pragma once
// PackBits decoding without any I/O: packed bytes in, unpacked bytes out. A run or literal
// cut by the end of a chunk goes on in the next chunk through the carried state.
//
// Count byte n, then: -127 to -1, one byte repeated 1 - n times; 0 to 127, a literal of
// n + 1 bytes; -128, nothing.

#include <cstddef>
#include <cstdint>

namespace packbits {

// The longest run one count byte gives.
constexpr size_t kMaxRun = 128;

struct TState {
    int Pending = 0;          // a run's count byte (-127 to -1) waiting for its value byte
    uint32_t LiteralLeft = 0; // bytes of a literal still to come
};

// Decodes from in while out has room; a run is written whole, so decoding stops before a
// run longer than the room left. Advances in and answers the end of what was written.
uint8_t* Decode(const uint8_t*& in, const uint8_t* inEnd, uint8_t* out, uint8_t* outEnd,
                TState& state);

// How many bytes the packed bytes unpack to, carrying the state as Decode does.
uint64_t Scan(const uint8_t* in, const uint8_t* inEnd, TState& state);

// Packed bytes the end of a strip leaves unused: a run's count byte whose value byte never
// came. A literal cut short gives what it had and leaves nothing.
uint32_t Unfinished(const TState& state);

} // namespace packbits
