#include "engine/Render.h"

#include "engine/TiffIO.h"
#include "runtime/Errors.h"
#include "runtime/FileView.h"
#include "runtime/MapGuard.h"
#include "runtime/Worker.h"

#include <algorithm>
#include <vector>

std::array<uint32_t, 256> PixelColours(const std::array<bool, 9>& visible,
                                       const std::array<rt::TColor, 9>& colors) {
    const std::array<uint8_t, 256> index = PlateIndexTable(visible);
    std::array<uint32_t, 256> colours{};
    for (size_t v = 0; v < 256; ++v) {
        const rt::TColor c = colors[index[v]];
        colours[v] =
            uint32_t(rt::BlueOf(c)) | uint32_t(rt::GreenOf(c)) << 8 | uint32_t(rt::RedOf(c)) << 16;
    }
    return colours;
}

void FitToCanvas(TWindow& w, int64_t canvasW, int64_t canvasH, long double rate) {
    if (rate >= 1) {
        if (w.OutCols > canvasW) {
            w.Cols = std::min(w.Cols, TruncTo64(canvasW / rate) + 1);
            w.OutCols = TruncTo64(w.Cols * rate);
        }
        if (w.OutRows > canvasH) {
            w.Rows = std::min(w.Rows, TruncTo64(canvasH / rate) + 1);
            w.OutRows = TruncTo64(w.Rows * rate);
        }
    } else {
        w.OutCols = std::min(w.OutCols, canvasW);
        w.OutRows = std::min(w.OutRows, canvasH);
    }
    w.OutCols = std::min<int64_t>(w.OutCols, INT32_MAX);
    w.OutRows = std::min<int64_t>(w.OutRows, INT32_MAX);
}

namespace {

// Each pixel colour's three channels in the lanes block sums add, in the order written.
std::array<uint64_t, 256> ColourLanes(const std::array<uint32_t, 256>& colours) {
    std::array<uint64_t, 256> packed{};
    for (size_t v = 0; v < 256; ++v) {
        const uint32_t c = colours[v];
        packed[v] = Lanes(uint8_t(c), uint8_t(c >> 8), uint8_t(c >> 16));
    }
    return packed;
}

void ComposeSmooth(const TPictureJob& job, const TWindow& w, int64_t picCols, int64_t picRows,
                   rt::TBitmap& picture) {
    const std::array<uint64_t, 256> packed = ColourLanes(job.Colours);
    const size_t span = size_t(std::min(picCols * w.Step, job.Width - w.Col));
    auto blocks = [&](int64_t y0, int64_t y1) {
        rt::TFileView view(job.Raster.File(), span, rt::TFileView::kMapWhole, job.Raster.Map());
        const TSmoothSource source{view, job.Held, job.Width, job.Height};
        AverageBlocks(source, w.Col, w.Row, w.Step, picCols, packed.data(), picture, y0, y1);
    };
    // Every pixel of the window is read: the lower half of the picture on a second core.
    const int64_t half = picRows >= 64 ? picRows / 2 : picRows;
    rt::TTask<void> lower;
    if (half < picRows) lower = rt::TWorker::Shared().Run([&] { blocks(half, picRows); });
    blocks(0, half);
    if (lower.Valid()) lower.Get();
}

void ComposeSamples(const TPictureJob& job, const TWindow& w, int64_t picCols, int64_t picRows,
                    size_t readLen, rt::TBitmap& picture) {
    // Rows far apart for what is read of each (a narrow window of wide rows) cost less as
    // reads than as page faults of a map.
    const bool mapped = w.Step == 1 && readLen * 4 >= size_t(job.Width);
    rt::TFileView rows(job.Raster.File(), readLen,
                       mapped ? rt::TFileView::kMap : rt::TFileView::kRead, job.Raster.Map());
    std::vector<uint8_t> missing; // the background, for rows a damaged sheet did not give
    int64_t offset = w.Row * job.Width + w.Col;
    for (int64_t y = 0; y < picRows; ++y, offset += job.Width * w.Step) {
        const uint8_t* src;
        if (job.Held.Holds(w.Row + y * w.Step)) {
            src = rows.Get(offset, readLen);
        } else {
            missing.resize(readLen);
            src = missing.data();
        }
        ComposeRow(src, w.Step, picCols, job.Colours.data(), picture.ScanLine(int(y)));
    }
}

} // namespace

void ComposePicture(const TPictureJob& job, const TWindow& w, int64_t picCols, int64_t picRows,
                    size_t readLen, bool mapWhole, rt::TBitmap& picture) {
    const int64_t scratchBytes = job.Raster.OpenForReading(mapWhole);
    const bool smooth = job.Smooth && w.Step > 1;
    const int64_t readRows =
        smooth ? std::min(picRows * w.Step, job.Height - w.Row) : (picRows - 1) * w.Step + 1;
    // The canvas is written as the rows are read: a file too short must fail first.
    int64_t heldEnd = 0; // one past the last row read that the scratch file holds
    for (auto [first, end] : {std::pair{job.Held.First, job.Held.First + job.Held.Count},
                              std::pair{job.Held.ViewFirst, job.Held.ViewEnd}}) {
        const int64_t e = std::min(w.Row + readRows, end);
        if (e > std::max(first, w.Row)) heldEnd = std::max(heldEnd, e);
    }
    if (heldEnd * job.Width > scratchBytes) throw rt::EInOutError(rt::kReadPastEnd);
    job.Raster.ShowPages(w.Row * job.Width, (w.Row + readRows) * job.Width);
    // Another program may cut the file while it is read: what lay past its new end reads as
    // zeros, and the picture is then a short read.
    const uint64_t cuts = rt::MapCuts();
    if (smooth)
        ComposeSmooth(job, w, picCols, picRows, picture);
    else
        ComposeSamples(job, w, picCols, picRows, readLen, picture);
    if (rt::MapCuts() != cuts) throw rt::EInOutError(rt::kReadPastEnd);
}

void DrawWindow(rt::TCanvasSurface& canvas, rt::TBitmap& work, int32_t width, int32_t height,
                int32_t col, int32_t row, int32_t cols, int32_t rows, long double rate,
                const TComposeWindow& compose) {
    TWindow w = ClipWindow(width, height, col, row, cols, rows, rate);
    if (w.Empty()) return;
    FitToCanvas(w, std::max(canvas.SurfaceWidth(), 0), std::max(canvas.SurfaceHeight(), 0), rate);
    if (w.Empty()) return;
    const bool enlarge = rate >= 1;
    const size_t readLen = size_t(enlarge ? w.Cols : std::min(w.OutCols * w.Step, w.Cols));
    work.Dormant();
    int64_t picCols = enlarge ? w.Cols : w.OutCols;
    int64_t picRows = enlarge ? w.Rows : w.OutRows;
    // A picture the canvas shows pixel for pixel is composed in the canvas itself.
    rt::TBitmap* direct = rate == 1 || !enlarge ? canvas.Pixels() : nullptr;
    rt::TBitmap& picture = direct ? *direct : work;
    if (direct) {
        picCols = std::min<int64_t>(picCols, direct->Width());
        picRows = std::min<int64_t>(picRows, direct->Height());
        if (picCols <= 0 || picRows <= 0) return;
    } else {
        work.SetWidth(int(picCols));
        work.SetHeight(int(picRows));
    }
    compose(w, picCols, picRows, readLen, picture);
    if (direct)
        canvas.PixelsWritten();
    else if (enlarge)
        canvas.StretchBlt(0, 0, int(w.OutCols), int(w.OutRows), work, 0, 0, int(w.Cols),
                          int(w.Rows), rt::SRCCOPY);
    else
        canvas.BitBlt(0, 0, int(w.OutCols), int(w.OutRows), work, 0, 0, rt::SRCCOPY);
    work.Dormant();
}

void ComposeStreamed(TSheetStream& sheet, const TStreamedPicture& job, const TWindow& w,
                     int64_t picCols, int64_t picRows, rt::TBitmap& picture) {
    const int64_t width = sheet.Directory().Width;
    if (job.Smooth && w.Step > 1) {
        const std::array<uint64_t, 256> packed = ColourLanes(job.Colours);
        // The blocks from the window's top; the last may be cut by the sheet's end.
        const int64_t end = w.Row + std::min(picRows * w.Step, sheet.Directory().Height - w.Row);
        TBlockSums sums(w.Step, picCols, std::min(picCols * w.Step, width - w.Col), packed.data());
        sheet.Walk(job.FirstRow, job.RowCount, 1, [&](int64_t r, const uint8_t* bytes) {
            if (r < w.Row || r >= end) return;
            sums.Add(bytes + w.Col);
            const int64_t y = (r - w.Row) / w.Step, top = w.Row + y * w.Step;
            if (r + 1 == std::min(top + w.Step, end))
                sums.Write(r + 1 - top, picture.ScanLine(int(y)));
        });
        return;
    }
    sheet.Walk(job.FirstRow, job.RowCount, 1, [&](int64_t r, const uint8_t* bytes) {
        const int64_t y = (r - w.Row) / w.Step;
        if (r < w.Row || (r - w.Row) % w.Step != 0 || y >= picRows) return;
        ComposeRow(bytes + w.Col, w.Step, picCols, job.Colours.data(), picture.ScanLine(int(y)));
    });
}

void TTiff::Draw(int32_t col, int32_t row, int32_t cols, int32_t rows, long double rate) {
    // While an open runs, the rows already in are drawn and the others are background.
    if (!(Loaded || Opening) || !TargetCanvas) return;
    const std::array<uint32_t, 256> colours = PixelColours(PlateVisible, PlateColor);
    DrawWindow(*TargetCanvas, *WorkBitmap, Width, Height, col, row, cols, rows, rate,
               [&](const TWindow& w, int64_t picCols, int64_t picRows, size_t readLen,
                   rt::TBitmap& picture) {
                   // A sheet drawn once (a picture for a file) is read a window at a time,
                   // and its pages go with the window; one drawn again is mapped whole, as
                   // the view scrolls over it.
                   ComposePicture({*Raster, Held, Width, Height, colours, Smooth && rate < 1}, w,
                                  picCols, picRows, readLen, ++Pictures > 1, picture);
               });
}
