#pragma once
// Pixel bytes turned into colours: the plate that wins in each byte, the colour of each
// byte, rows composed sample by sample and blocks averaged for smooth reduction.

#include "engine/ScratchRaster.h"
#include "runtime/Bitmap.h"
#include "runtime/FileView.h"

#include <array>
#include <cstdint>
#include <vector>

// For each pixel byte the highest visible plate set in it, 0 for the background.
std::array<uint8_t, 256> PlateIndexTable(const std::array<bool, 9>& visible);

// Three channels in the 21-bit lanes AverageBlocks sums, in the order they are written.
constexpr uint64_t Lanes(uint8_t first, uint8_t second, uint8_t third) {
    return uint64_t(first) | uint64_t(second) << 21 | uint64_t(third) << 42;
}

// Where the rows of a smooth reduction come from: the scratch file's rows through a view of
// it, the background for rows the file does not hold.
struct TSmoothSource {
    rt::TFileView& View;
    const THeldRows& Held;
    int64_t Width, Height;
};

// The colour sums of one row of blocks of a smooth reduction, a sheet row at a time: each
// block step x step sheet pixels, outCols blocks over span pixel bytes (a block cut by the
// sheet's edge sums what it holds). packed[v] holds the colour of pixel byte v in the order
// to write, in 21-bit lanes, so that one addition sums all three.
class TBlockSums {
public:
    TBlockSums(int64_t step, int64_t outCols, int64_t span, const uint64_t* packed);
    // Adds span pixel bytes of one sheet row.
    void Add(const uint8_t* row);
    // Writes each block's average over rows sheet rows, channel by channel, as three bytes;
    // the sums start again.
    void Write(int64_t rows, uint8_t* d);

private:
    const int64_t Step, OutCols, Span;
    const uint64_t* const Packed;
    std::vector<uint64_t> Sums;
};

// Fills rows y0 to y1 - 1 of a reduced picture: each pixel the average, channel by channel,
// of the composed colours of the sheet pixels of its step x step block (a block cut by the
// sheet's edge averages what it holds). packed[v] holds the colour of pixel byte v in the
// order to write, in 21-bit lanes, so that one addition sums all three.
void AverageBlocks(const TSmoothSource& src, int64_t col, int64_t row, int64_t step,
                   int64_t outCols, const uint64_t* packed, rt::TBitmap& picture, int64_t y0,
                   int64_t y1);

// Turns cols pixel bytes, step apart, into blue, green, red triples at d; colours[v] holds
// them in its low three bytes.
void ComposeRow(const uint8_t* src, int64_t step, int64_t cols, const uint32_t* colours,
                uint8_t* d);
