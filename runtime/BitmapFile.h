#pragma once
// Writes a runtime bitmap as an uncompressed 24-bit BMP file (bottom-up rows, 54-byte header).

#include "runtime/Bitmap.h"

#include <string>

#include <cstdint>

namespace rt {

void SaveBitmap24(const TBitmap& bitmap, const std::string& path);

// What the two headers of an uncompressed BMP say (rows bottom-up).
struct TBmpInfo {
    uint32_t Width = 0, Height = 0;
    uint16_t Bits = 24;
    uint32_t RowStride = 0; // bytes of one padded row
    uint32_t Colours = 0;   // entries of the colour table behind the headers
    int32_t XPixelsPerMetre = 0, YPixelsPerMetre = 0;
    bool StateImageSize = true; // the image size field holds the pixel bytes, else 0
};
constexpr size_t kBmpHeaderBytes = 54;
// The 14-byte file header and the 40-byte information header, written at out.
void PutBmpHeaders(uint8_t* out, const TBmpInfo& info);
void PutLE16(uint8_t* p, uint16_t v);
void PutLE32(uint8_t* p, uint32_t v);

} // namespace rt
