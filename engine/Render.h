#pragma once
// The renderer: a window of the scratch raster composed into a picture, sample by sample or
// as averaged blocks, reading only the rows the picture needs.

#include "engine/Compose.h"
#include "engine/ScratchRaster.h"
#include "engine/SheetStream.h"
#include "engine/Window.h"
#include "runtime/Bitmap.h"
#include "runtime/Canvas.h"

#include <array>
#include <cstdint>
#include <functional>

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

// Fills the picCols x picRows of picture with window w, whose rows are readLen bytes each.
using TComposeWindow = std::function<void(const TWindow& w, int64_t picCols, int64_t picRows,
                                          size_t readLen, rt::TBitmap& picture)>;
// Draws a window of a width x height sheet onto the canvas at rate: the window cut to the
// sheet and to what the canvas shows, its picture composed in work, or in the canvas itself
// where that shows it pixel for pixel, and put on the canvas.
void DrawWindow(rt::TCanvasSurface& canvas, rt::TBitmap& work, int32_t width, int32_t height,
                int32_t col, int32_t row, int32_t cols, int32_t rows, long double rate,
                const TComposeWindow& compose);

// A picture composed from rows a stream hands on: rows FirstRow to FirstRow + RowCount - 1
// are walked, every one of them, and those the picture shows composed.
struct TStreamedPicture {
    const std::array<uint32_t, 256>& Colours;
    bool Smooth;
    int64_t FirstRow, RowCount;
};
void ComposeStreamed(TSheetStream& sheet, const TStreamedPicture& job, const TWindow& w,
                     int64_t picCols, int64_t picRows, rt::TBitmap& picture);
