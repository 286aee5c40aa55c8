#pragma once
// A 24-bit bitmap with rows addressable directly (top row first, three bytes per pixel in
// the order blue, green, red) and an optional 256-entry palette.

#include "runtime/PixelStore.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace rt {

// A colour value: red in the lowest byte, then green, then blue (0x00BBGGRR).
using TColor = uint32_t;
constexpr TColor kWhite = 0x00FFFFFF;
constexpr TColor kBlack = 0x00000000;
constexpr uint8_t RedOf(TColor c) {
    return static_cast<uint8_t>(c & 0xFF);
}
constexpr uint8_t GreenOf(TColor c) {
    return static_cast<uint8_t>((c >> 8) & 0xFF);
}
constexpr uint8_t BlueOf(TColor c) {
    return static_cast<uint8_t>((c >> 16) & 0xFF);
}
constexpr TColor RGB(uint8_t r, uint8_t g, uint8_t b) {
    return static_cast<TColor>(r) | static_cast<TColor>(g) << 8 | static_cast<TColor>(b) << 16;
}

struct TPaletteEntry {
    uint8_t Red = 0, Green = 0, Blue = 0, Flags = 0;
};
constexpr uint8_t kPcReserved = 1;

class TBitmap {
public:
    virtual ~TBitmap() = default;
    int Width() const { return W; }
    int Height() const { return H; }
    // Sizes keep no pixels of the old picture that matter; new pixels are black.
    void SetWidth(int w) { SetSize(w, H); }
    void SetHeight(int h) { SetSize(W, h); }
    void SetSize(int w, int h);

    uint8_t* ScanLine(int y) { return Pixels.data() + static_cast<std::size_t>(y) * Stride(); }
    const uint8_t* ScanLine(int y) const {
        return Pixels.data() + static_cast<std::size_t>(y) * Stride();
    }
    std::size_t Stride() const { return static_cast<std::size_t>(W) * 3; }

    TColor Pixel(int x, int y) const;
    void SetPixel(int x, int y, TColor c);

    bool HasPalette() const { return PaletteSet; }
    const std::array<TPaletteEntry, 256>& Palette() const { return Pal; }
    void SetPalette(const std::array<TPaletteEntry, 256>& pal) {
        Pal = pal;
        PaletteSet = true;
    }
    // The palette index whose colour lies nearest to c.
    int NearestPaletteIndex(TColor c) const;

    // Releases a cached copy of the picture kept beside the pixel rows; the pixels are held
    // in one store, so there is none to release.
    virtual void Dormant() {}

private:
    int W = 0, H = 0;
    TPixelStore Pixels;
    std::array<TPaletteEntry, 256> Pal{};
    bool PaletteSet = false;
};

} // namespace rt
