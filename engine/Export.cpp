#include "engine/Export.h"

#include "engine/Compose.h"
#include "runtime/BitmapFile.h"
#include "runtime/Errors.h"
#include "runtime/FileView.h"
#include "runtime/OutputFile.h"
#include "runtime/PngFile.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace {

// Bitmap file rows are gathered up to about this many bytes before one write.
constexpr size_t kSaveBatchBytes = 1024 * 1024;

int32_t PixelsPerMetre(int32_t dpi) {
    long double v = static_cast<long double>(dpi) * 1000 / 25.4L;
    return static_cast<int32_t>(std::clamp<long double>(v, INT32_MIN, INT32_MAX));
}

// Every row of a window that fills most of each row: the rows read many at a time. Rows far
// apart are read one by one. An export never maps the scratch file, whose pages would stay
// with the process for as long as the file is open.
rt::TFileView::TAccess ExportAccess(int64_t step, size_t readLen, int64_t width) {
    return step == 1 && readLen * 2 >= size_t(width) ? rt::TFileView::kReadAhead
                                                     : rt::TFileView::kRead;
}

// One bitmap row of four-bit palette indexes from sampled pixel bytes.
class TNibbleRows {
public:
    TNibbleRows(const std::array<uint8_t, 256>& index, int64_t step) : Index(index), Step(step) {
        if (step != 1) return;
        // At full size two neighbouring pixel bytes give one file byte through one table.
        Pairs.resize(65536);
        for (size_t v = 0; v < 65536; ++v) {
            uint8_t b[2];
            const uint16_t v16 = uint16_t(v);
            std::memcpy(b, &v16, 2);
            Pairs[v] = uint8_t(index[b[0]] << 4 | index[b[1]]);
        }
    }
    void Pack(const uint8_t* src, int64_t cols, uint8_t* line, size_t stride) const {
        const size_t used = size_t((cols + 1) / 2);
        std::memset(line + used, 0, stride - used);
        int64_t x = 0;
        if (Step == 1) {
            for (; x + 1 < cols; x += 2) {
                uint16_t pair;
                std::memcpy(&pair, src + x, 2);
                line[x / 2] = Pairs[pair];
            }
        } else {
            for (; x + 1 < cols; x += 2)
                line[x / 2] = uint8_t(Index[src[x * Step]] << 4 | Index[src[(x + 1) * Step]]);
        }
        if (x < cols) line[x / 2] = uint8_t(Index[src[x * Step]] << 4);
    }

private:
    const std::array<uint8_t, 256>& Index;
    const int64_t Step;
    std::vector<uint8_t> Pairs;
};

// A 16-colour bitmap file of the window's picture, its rows put one by one: bottom up, each
// written after the last, or top down, each batch written to its place in a file of known
// size.
class TBitmapOut {
public:
    TBitmapOut(const TExportLook& look, const TWindow& w, const std::string& fileName, bool topDown)
        : W(w), TopDown(topDown), Stride(size_t((w.OutCols + 7) / 8 * 4)),
          Index(PlateIndexTable(look.Visible)), Nibbles(Index, w.Step),
          Batch(std::clamp<size_t>(kSaveBatchBytes / Stride, 1, size_t(w.OutRows))),
          Rows(Batch * Stride), Out(fileName, {look.Sync, {}}) {
        if (topDown && Out.TempPath().empty())
            throw rt::TError("a bitmap written top down needs a regular file");
        uint8_t head[kHeadBytes] = {};
        rt::TBmpInfo info{uint32_t(w.OutCols), uint32_t(w.OutRows), 4, uint32_t(Stride), 16};
        info.XPixelsPerMetre = PixelsPerMetre(look.XDpi);
        info.YPixelsPerMetre = PixelsPerMetre(look.YDpi);
        info.StateImageSize = false;
        rt::PutBmpHeaders(head, info);
        for (size_t i = 0; i < 16; ++i) {
            const rt::TColor c = i <= 8 ? look.Colors[i] : rt::kWhite;
            uint8_t* e = head + 54 + 4 * i;
            e[0] = rt::BlueOf(c);
            e[1] = rt::GreenOf(c);
            e[2] = rt::RedOf(c);
        }
        Out.Write(head, sizeof head);
    }
    // The next row of the picture from its sheet row's bytes at the window's first column.
    void Put(const uint8_t* src) {
        if (Done == W.OutRows) throw rt::TError("a bitmap row beyond the picture");
        // Top down, a batch fills from its end: its rows lie in the file bottom up.
        const size_t slot = TopDown ? Batch - 1 - Pending : Pending;
        Nibbles.Pack(src, W.OutCols, Rows.data() + slot * Stride, Stride);
        ++Done;
        if (++Pending == Batch) WriteBatch();
    }
    void Commit() {
        // A row never put would stand in the file as zeros.
        if (Done != W.OutRows) throw rt::EInOutError(rt::kReadPastEnd);
        if (Pending > 0) WriteBatch();
        Out.Commit();
    }

private:
    static constexpr size_t kHeadBytes = rt::kBmpHeaderBytes + 64;
    void WriteBatch() {
        if (TopDown) {
            Out.File().Seek(int64_t(kHeadBytes + size_t(W.OutRows - Done) * Stride));
            Out.Write(Rows.data() + (Batch - Pending) * Stride, Pending * Stride);
        } else {
            Out.Write(Rows.data(), Pending * Stride);
        }
        Pending = 0;
    }
    const TWindow W;
    const bool TopDown;
    const size_t Stride;
    const std::array<uint8_t, 256> Index;
    const TNibbleRows Nibbles;
    const size_t Batch; // rows to a write
    std::vector<uint8_t> Rows;
    size_t Pending = 0;
    int64_t Done = 0; // rows put so far
    rt::TOutputFile Out;
};

std::vector<rt::TColor> Palette16(const TExportLook& look) {
    std::vector<rt::TColor> palette(look.Colors.begin(), look.Colors.end());
    palette.resize(16, rt::kWhite);
    return palette;
}

rt::TPngWriter PalettePng(const TExportLook& look, const TWindow& w, const std::string& fileName) {
    return rt::TPngWriter(fileName, uint32_t(w.OutCols), uint32_t(w.OutRows), Palette16(look),
                          PixelsPerMetre(look.XDpi), PixelsPerMetre(look.YDpi), {look.Sync, {}});
}

void IndexRow(const uint8_t* src, const TWindow& w, const std::array<uint8_t, 256>& index,
              uint8_t* out) {
    for (int64_t x = 0; x < w.OutCols; ++x) out[x] = index[src[x * w.Step]];
}

// Each pixel byte's colour as red, green, blue lanes.
std::array<uint64_t, 256> RgbLanes(const TExportLook& look) {
    const std::array<uint8_t, 256> index = PlateIndexTable(look.Visible);
    std::array<uint64_t, 256> packed{};
    for (size_t v = 0; v < 256; ++v) {
        const rt::TColor c = look.Colors[index[v]];
        packed[v] = Lanes(rt::RedOf(c), rt::GreenOf(c), rt::BlueOf(c));
    }
    return packed;
}

// The first row of a smooth export's blocks: its grid ends on the window's last row.
int64_t SmoothTop(const TWindow& w) {
    return w.Row + w.Rows - w.OutRows * w.Step;
}

// The top row a sampled picture shows. The rows are walked as an open of the window walks
// them, from the first row of its grid that lies in the window, which may lie above it.
int64_t SampleTop(const TWindow& w) {
    return w.Row + w.Rows - 1 - (w.OutRows - 1) * w.Step;
}

} // namespace

void ExportBitmap(const TExportJob& job, const TWindow& w, const std::string& fileName) {
    const size_t readLen = size_t(std::min(w.OutCols * w.Step, w.Cols));
    rt::TFileView sheetRows(job.Rows, readLen, ExportAccess(w.Step, readLen, job.Width));
    TBitmapOut out(job.Look, w, fileName, false);
    for (int64_t j = 0; j < w.OutRows; ++j) {
        const int64_t sheetRow = w.Row + w.Rows - 1 - j * w.Step;
        out.Put(sheetRows.Get(sheetRow * job.Width + w.Col, readLen));
    }
    out.Commit();
}

void ExportPng(const TExportJob& job, const TWindow& w, bool smooth, const std::string& fileName) {
    if (smooth && w.Step > 1) {
        const std::array<uint64_t, 256> packed = RgbLanes(job.Look);
        // Every row of the blocks is read, top down: read ahead, a window of the file at a time.
        const size_t span = size_t(std::min(w.OutCols * w.Step, job.Width - w.Col));
        rt::TFileView view(job.Rows, span, rt::TFileView::kReadAhead);
        const TSmoothSource source{view, job.Held, job.Width, job.Height};
        rt::TBitmap line;
        line.SetSize(int(w.OutCols), 1);
        rt::TPngWriter png(fileName, uint32_t(w.OutCols), uint32_t(w.OutRows), {}, 0, 0,
                           {job.Look.Sync, {}});
        for (int64_t y = 0; y < w.OutRows; ++y) {
            AverageBlocks(source, w.Col, SmoothTop(w) + y * w.Step, w.Step, w.OutCols,
                          packed.data(), line, 0, 1);
            std::memcpy(png.Row(), line.ScanLine(0), size_t(w.OutCols) * 3);
            png.Put();
        }
        png.Commit();
        return;
    }
    const size_t readLen = size_t(std::min(w.OutCols * w.Step, w.Cols));
    rt::TFileView sheetRows(job.Rows, readLen, ExportAccess(w.Step, readLen, job.Width));
    const std::array<uint8_t, 256> index = PlateIndexTable(job.Look.Visible);
    rt::TPngWriter png = PalettePng(job.Look, w, fileName);
    // The bitmap's grid, which starts at the window's bottom row, from its top row down.
    for (int64_t y = 0; y < w.OutRows; ++y) {
        const int64_t sheetRow = w.Row + w.Rows - 1 - (w.OutRows - 1 - y) * w.Step;
        IndexRow(sheetRows.Get(sheetRow * job.Width + w.Col, readLen), w, index, png.Row());
        png.Put();
    }
    png.Commit();
}

void StreamBitmap(TSheetStream& sheet, const TExportLook& look, const TWindow& w,
                  const std::string& fileName) {
    TBitmapOut out(look, w, fileName, true);
    sheet.Walk(w.Row, w.Rows, w.Step, [&](int64_t row, const uint8_t* bytes) {
        if (row >= SampleTop(w)) out.Put(bytes + w.Col);
    });
    out.Commit();
}

void StreamPng(TSheetStream& sheet, const TExportLook& look, const TWindow& w, bool smooth,
               const std::string& fileName) {
    if (smooth && w.Step > 1) {
        const std::array<uint64_t, 256> packed = RgbLanes(look);
        const int64_t width = sheet.Directory().Width;
        TBlockSums sums(w.Step, w.OutCols, std::min(w.OutCols * w.Step, width - w.Col),
                        packed.data());
        rt::TPngWriter png(fileName, uint32_t(w.OutCols), uint32_t(w.OutRows), {}, 0, 0,
                           {look.Sync, {}});
        // The blocks lie wholly in the window, each ending on its step-th row; the window's
        // rows above them are walked too, as an open of the window walks them.
        const int64_t top = SmoothTop(w);
        sheet.Walk(w.Row, w.Rows, 1, [&](int64_t row, const uint8_t* bytes) {
            if (row < top) return;
            sums.Add(bytes + w.Col);
            if ((row - top + 1) % w.Step != 0) return;
            sums.Write(w.Step, png.Row());
            png.Put();
        });
        png.Commit();
        return;
    }
    const std::array<uint8_t, 256> index = PlateIndexTable(look.Visible);
    rt::TPngWriter png = PalettePng(look, w, fileName);
    sheet.Walk(w.Row, w.Rows, w.Step, [&](int64_t row, const uint8_t* bytes) {
        if (row < SampleTop(w)) return;
        IndexRow(bytes + w.Col, w, index, png.Row());
        png.Put();
    });
    png.Commit();
}
