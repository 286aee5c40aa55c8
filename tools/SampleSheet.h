#pragma once
// Synthetic map sheets: a painter of topographic content on the eight plates and a writer
// that stores a raster as a sheet in exactly the layout the map image object reads.

#include <cstdint>
#include <string>
#include <vector>

namespace sample {

// Plate bits of a pixel byte (plate k is bit k-1).
enum : uint8_t {
    kBrownMask = 1 << 0,
    kIndigoMask = 1 << 1,
    kBlackMask = 1 << 2,
    kBrown = 1 << 3,
    kIndigo = 1 << 4,
    kBlack = 1 << 5,
    kAnnotationMask = 1 << 6,
    kAnnotation = 1 << 7,
};

struct TRaster {
    int Width = 0;
    int Height = 0;
    std::vector<uint8_t> Pixels; // rows of Width bytes, top row first

    TRaster() = default;
    TRaster(int w, int h) : Width(w), Height(h), Pixels(size_t(w) * size_t(h), 0) {}
    uint8_t* Row(int y) { return Pixels.data() + size_t(y) * size_t(Width); }
    const uint8_t* Row(int y) const { return Pixels.data() + size_t(y) * size_t(Width); }
};

struct TSheetOptions {
    uint32_t FirstDirOffset = 8; // at least 8, even
    int32_t XDpi = 254;
    int32_t YDpi = 254;
    uint32_t StripBytes = 8192; // largest packed strip, where whole rows allow it
    // Each strip filled with rows up to StripBytes packed bytes, as writers with a byte
    // budget do: strips of varying rows, RowsPerStrip the largest strip's. Otherwise every
    // strip holds the same rows.
    bool FillStrips = false;
    std::vector<uint32_t> StripRows; // each strip's rows where given, the last up to the end
    uint32_t StatedRowsPerStrip = 0; // RowsPerStrip when not the strips' own: a tag that lies
    bool LiteralRuns = false;        // PackBits literal runs; otherwise two-byte units only
    uint16_t Compression = 32773;    // or 1 (none)
    uint32_t StatedHeight = 0;       // ImageLength when not the raster's: a damaged sheet
};

// Big-endian numbers written into a byte vector at a position it already has.
void PutBE16(std::vector<uint8_t>& v, size_t at, uint16_t x);
void PutBE32(std::vector<uint8_t>& v, size_t at, uint32_t x);

// PackBits of one row, appended to out.
void PackRow(const uint8_t* row, size_t n, bool literalRuns, std::vector<uint8_t>& out);

// The whole sheet file as bytes.
std::vector<uint8_t> BuildSheet(const TRaster& raster, const TSheetOptions& options = {});
// Writes the sheet; failures raise the runtime's input/output error.
void WriteSheet(const std::string& path, const TRaster& raster, const TSheetOptions& options = {});
// Writes bytes to a file as they are.
void WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes);

// Contour lines, roads, national roads, shorelines and water, built-up areas and names
// with their masks; the same seed gives the same raster.
TRaster PaintSample(int width, int height, uint32_t seed);

} // namespace sample
