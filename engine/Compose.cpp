#include "engine/Compose.h"

#include <algorithm>
#include <cstring>
#include <vector>

std::array<uint8_t, 256> PlateIndexTable(const std::array<bool, 9>& visible) {
    std::array<uint8_t, 256> table{};
    for (int v = 0; v < 256; ++v)
        for (int k = 8; k >= 1; --k)
            if (visible[size_t(k)] && (v & (1 << (k - 1)))) {
                table[size_t(v)] = uint8_t(k);
                break;
            }
    return table;
}

namespace {

constexpr uint64_t kLane = (1u << 21) - 1;
// The lanes hold a block's sums while step * step * 255 stays below 2^21, to 1/90; a
// coarser reduction sums each channel on its own.
constexpr int64_t kMaxLaneStep = 90;

} // namespace

TBlockSums::TBlockSums(int64_t step, int64_t outCols, int64_t span, const uint64_t* packed)
    : Step(step), OutCols(outCols), Span(span), Packed(packed),
      Sums(size_t(outCols) * (step > kMaxLaneStep ? 3 : 1)) {}

void TBlockSums::Add(const uint8_t* p) {
    // Locals, which the stores to the sums cannot be taken to change.
    uint64_t* const sums = Sums.data();
    const uint64_t* const packed = Packed;
    const int64_t step = Step, span = Span, outCols = OutCols;
    if (step > kMaxLaneStep) {
        for (int64_t k = 0; k < span; ++k) {
            const uint64_t c = packed[p[k]];
            uint64_t* t = &sums[3 * size_t(k / step)];
            t[0] += c & kLane;
            t[1] += (c >> 21) & kLane;
            t[2] += c >> 42;
        }
        return;
    }
    int64_t x = 0;
    for (; (x + 1) * step <= span; ++x, p += step) {
        uint64_t s = 0;
        for (int64_t k = 0; k < step; ++k) s += packed[p[k]];
        sums[size_t(x)] += s;
    }
    for (int64_t k = x * step; x < outCols && k < span; ++k) sums[size_t(x)] += packed[*p++];
}

void TBlockSums::Write(int64_t rows, uint8_t* d) {
    const bool wide = Step > kMaxLaneStep;
    for (int64_t x = 0; x < OutCols; ++x, d += 3) {
        const uint64_t n = uint64_t(rows) * uint64_t(std::min(Step, Span - x * Step));
        uint64_t c[3];
        if (wide) {
            std::copy_n(&Sums[3 * size_t(x)], 3, c);
        } else {
            const uint64_t s = Sums[size_t(x)];
            c[0] = s & kLane;
            c[1] = (s >> 21) & kLane;
            c[2] = s >> 42;
        }
        for (int i = 0; i < 3; ++i) d[i] = uint8_t((c[i] + n / 2) / n);
    }
    std::fill(Sums.begin(), Sums.end(), 0);
}

void AverageBlocks(const TSmoothSource& src, int64_t col, int64_t row, int64_t step,
                   int64_t outCols, const uint64_t* packed, rt::TBitmap& picture, int64_t y0,
                   int64_t y1) {
    const int64_t span = std::min(outCols * step, src.Width - col);
    std::vector<uint8_t> background; // made for the first row a sheet lacks
    TBlockSums sums(step, outCols, span, packed);
    for (int64_t y = y0; y < y1; ++y) {
        const int64_t top = row + y * step, bottom = std::min(top + step, src.Height);
        for (int64_t r = top; r < bottom; ++r) {
            const bool held = src.Held.Holds(r);
            if (!held) background.resize(size_t(span), 0);
            sums.Add(held ? src.View.Get(r * src.Width + col, size_t(span)) : background.data());
        }
        sums.Write(bottom - top, picture.ScanLine(int(y)));
    }
}

void ComposeRow(const uint8_t* src, int64_t step, int64_t cols, const uint32_t* colours,
                uint8_t* d) {
    int64_t x = 0;
    if (step == 1) // the common case, without the multiplication in its way
        for (; x + 1 < cols; ++x, d += 3) std::memcpy(d, &colours[src[x]], 4);
    else
        for (; x + 1 < cols; ++x, d += 3) std::memcpy(d, &colours[src[x * step]], 4);
    if (x < cols) { // the last pixel of the row may not spill
        const uint32_t c = colours[src[x * step]];
        d[0] = uint8_t(c);
        d[1] = uint8_t(c >> 8);
        d[2] = uint8_t(c >> 16);
    }
}
