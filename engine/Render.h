#pragma once
// The renderer: a window of the scratch raster composed into a picture, sample by sample or
// as averaged blocks, reading only the rows the picture needs.

#include "engine/Compose.h"
#include "engine/ScratchRaster.h"
#include "engine/Window.h"
#include "runtime/Bitmap.h"

#include <array>
#include <cstdint>

// Each entry holds blue, green, red in its low three bytes, so that a pixel is one four-byte
// store whose fourth byte the next pixel overwrites.
std::array<uint32_t, 256> PixelColours(const std::array<bool, 9>& visible,
                                       const std::array<rt::TColor, 9>& colors);

// What lies beyond the canvas is never seen: the window cut to what a canvas of the given
// size shows at rate.
void FitToCanvas(TWindow& w, int64_t canvasW, int64_t canvasH, long double rate);

struct TPictureJob {
    TScratchRaster& Raster;
    const THeldRows& Held;
    int64_t Width, Height;
    const std::array<uint32_t, 256>& Colours;
    bool Smooth; // each pixel its block's average, where the window is reduced
};

// Composes window w into the picCols x picRows of picture (sheet pixels at x 1 and above,
// samples or blocks below), each row of readLen bytes. Rows the file does not hold are the
// background; a file shorter than the rows it holds is the short-read error, raised before
// a pixel is written.
void ComposePicture(const TPictureJob& job, const TWindow& w, int64_t picCols, int64_t picRows,
                    size_t readLen, bool mapWhole, rt::TBitmap& picture);
