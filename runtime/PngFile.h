#pragma once
// PNG files through libpng, written whole or not at all (see TOutputFile): an 8-bit palette
// picture whose rows are handed over one by one from the top, and a 24-bit bitmap as RGB.

#include "runtime/Bitmap.h"
#include "runtime/OutputFile.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace rt {

// A picture written row by row from the top, as the rows come: an indexed picture with the
// palette's colours in its order, or RGB where the palette is empty (three bytes a pixel, red,
// green, blue). The resolution, when above 0, is in pixels per metre.
class TPngWriter {
public:
    TPngWriter(const std::string& path, uint32_t width, uint32_t height,
               const std::vector<TColor>& palette, int32_t xPixelsPerMetre, int32_t yPixelsPerMetre,
               const TReplace& how = {});
    // Without Commit the target stays as it was.
    ~TPngWriter();
    TPngWriter(const TPngWriter&) = delete;
    TPngWriter& operator=(const TPngWriter&) = delete;
    // Where the next row goes: width palette indexes, or width RGB triples.
    uint8_t* Row();
    // Writes the row filled at Row.
    void Put();
    // Ends the picture once every row is put, and puts the file in its place.
    void Commit();

private:
    struct TState;
    std::unique_ptr<TState> S;
};

// Writes a width x height palette picture: row(y, out) fills out (width palette indices)
// with picture row y, y going from 0 (the top) down. The palette's colours are written in
// its order; the resolution, when above 0, in pixels per metre.
void SavePng8(const std::string& path, uint32_t width, uint32_t height,
              const std::vector<TColor>& palette, int32_t xPixelsPerMetre, int32_t yPixelsPerMetre,
              const std::function<void(uint32_t y, uint8_t* out)>& row, const TReplace& how = {});

// Writes the bitmap as an RGB picture.
void SavePng24(const TBitmap& bitmap, const std::string& path);
// Writes a width x height RGB picture whose rows row(y, out) fills, three bytes a pixel in
// the order red, green, blue, y going from 0 (the top) down.
void SavePngRgb(const std::string& path, uint32_t width, uint32_t height,
                const std::function<void(uint32_t y, uint8_t* out)>& row, const TReplace& how = {});

// Whether a file name asks for PNG: it ends in ".png", in any case.
bool IsPngName(const std::string& path);

} // namespace rt
