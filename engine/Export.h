#pragma once
// The exporters: a window of the sheet, sampled at a rate, written as a 16-colour bitmap or a
// PNG (four-bit palette, or RGB averages of blocks for smooth reduction). The rows come from
// the scratch raster, or straight from the sheet's strips where the sheet is read for the
// one picture: both make the same file.

#include "engine/ScratchRaster.h"
#include "engine/SheetStream.h"
#include "engine/Window.h"
#include "runtime/Bitmap.h"

#include <array>
#include <cstdint>
#include <string>

// How the picture looks and how its file is made.
struct TExportLook {
    const std::array<bool, 9>& Visible;
    const std::array<rt::TColor, 9>& Colors;
    int32_t XDpi, YDpi;
    bool Sync; // the file reaches the disk before it replaces an old one
};

struct TExportJob {
    const rt::TBinaryFile& Rows; // the scratch file, open for reading
    const THeldRows& Held;
    int64_t Width, Height;
    TExportLook Look;
};

// The window's rows, bottom up from its last row every w.Step rows, as a bitmap file.
void ExportBitmap(const TExportJob& job, const TWindow& w, const std::string& fileName);
// The same picture as a four-bit palette PNG; with smooth, an RGB PNG of each block's average
// colour, the blocks ending on the rows the bitmap samples.
void ExportPng(const TExportJob& job, const TWindow& w, bool smooth, const std::string& fileName);

// The same files made from the rows as the sheet's strips give them. The bitmap's rows go to
// their places in the file, bottom up: fileName must be a regular file or none yet.
void StreamBitmap(TSheetStream& sheet, const TExportLook& look, const TWindow& w,
                  const std::string& fileName);
void StreamPng(TSheetStream& sheet, const TExportLook& look, const TWindow& w, bool smooth,
               const std::string& fileName);
