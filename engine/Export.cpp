#include "engine/Export.h"

#include "engine/Compose.h"
#include "runtime/BitmapFile.h"
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

void WriteBmpHead(const TExportJob& job, const TWindow& w, size_t rowStride, rt::TOutputFile& out) {
    uint8_t head[rt::kBmpHeaderBytes + 64] = {};
    rt::TBmpInfo info{uint32_t(w.OutCols), uint32_t(w.OutRows), 4, uint32_t(rowStride), 16};
    info.XPixelsPerMetre = PixelsPerMetre(job.XDpi);
    info.YPixelsPerMetre = PixelsPerMetre(job.YDpi);
    info.StateImageSize = false;
    rt::PutBmpHeaders(head, info);
    for (size_t i = 0; i < 16; ++i) {
        const rt::TColor c = i <= 8 ? job.Colors[i] : rt::kWhite;
        uint8_t* e = head + 54 + 4 * i;
        e[0] = rt::BlueOf(c);
        e[1] = rt::GreenOf(c);
        e[2] = rt::RedOf(c);
    }
    out.Write(head, sizeof head);
}

} // namespace

void ExportBitmap(const TExportJob& job, const TWindow& w, const std::string& fileName) {
    const size_t rowStride = size_t((w.OutCols + 7) / 8 * 4);
    const size_t readLen = size_t(std::min(w.OutCols * w.Step, w.Cols));
    rt::TFileView sheetRows(job.Rows, readLen, ExportAccess(w.Step, readLen, job.Width));
    rt::TOutputFile out(fileName, {job.Sync, {}});
    WriteBmpHead(job, w, rowStride, out);
    const std::array<uint8_t, 256> index = PlateIndexTable(job.Visible);
    const TNibbleRows nibbles(index, w.Step);
    // File rows are gathered and written several at a time.
    const size_t rowsPerWrite =
        std::clamp<size_t>(kSaveBatchBytes / rowStride, 1, size_t(w.OutRows));
    std::vector<uint8_t> rowsOut(rowsPerWrite * rowStride);
    size_t pending = 0;
    for (int64_t j = 0; j < w.OutRows; ++j) {
        const int64_t sheetRow = w.Row + w.Rows - 1 - j * w.Step;
        nibbles.Pack(sheetRows.Get(sheetRow * job.Width + w.Col, readLen), w.OutCols,
                     rowsOut.data() + pending * rowStride, rowStride);
        if (++pending == rowsPerWrite) {
            out.Write(rowsOut.data(), pending * rowStride);
            pending = 0;
        }
    }
    if (pending > 0) out.Write(rowsOut.data(), pending * rowStride);
    out.Commit();
}

namespace {

void ExportSmoothPng(const TExportJob& job, const TWindow& w, const std::string& fileName) {
    const std::array<uint8_t, 256> index = PlateIndexTable(job.Visible);
    uint64_t packed[256];
    for (size_t v = 0; v < 256; ++v) {
        const rt::TColor c = job.Colors[index[v]];
        packed[v] = Lanes(rt::RedOf(c), rt::GreenOf(c), rt::BlueOf(c));
    }
    // Every row of the blocks is read, top down: read ahead, a window of the file at a time.
    const size_t span = size_t(std::min(w.OutCols * w.Step, job.Width - w.Col));
    rt::TFileView view(job.Rows, span, rt::TFileView::kReadAhead);
    const TSmoothSource source{view, job.Held, job.Width, job.Height};
    const int64_t top = w.Row + w.Rows - w.OutRows * w.Step; // the export's grid, from its top
    rt::TBitmap line;
    line.SetSize(int(w.OutCols), 1);
    rt::SavePngRgb(fileName, uint32_t(w.OutCols), uint32_t(w.OutRows),
                   [&](uint32_t y, uint8_t* out) {
                       AverageBlocks(source, w.Col, top + int64_t(y) * w.Step, w.Step, w.OutCols,
                                     packed, line, 0, 1);
                       std::memcpy(out, line.ScanLine(0), size_t(w.OutCols) * 3);
                   },
                   {job.Sync, {}});
}

} // namespace

void ExportPng(const TExportJob& job, const TWindow& w, bool smooth, const std::string& fileName) {
    if (smooth && w.Step > 1) return ExportSmoothPng(job, w, fileName);
    const size_t readLen = size_t(std::min(w.OutCols * w.Step, w.Cols));
    rt::TFileView sheetRows(job.Rows, readLen, ExportAccess(w.Step, readLen, job.Width));
    const std::array<uint8_t, 256> index = PlateIndexTable(job.Visible);
    std::vector<rt::TColor> palette(job.Colors.begin(), job.Colors.end());
    palette.resize(16, rt::kWhite);
    // The bitmap's grid, which starts at the window's bottom row, from its top row down.
    rt::SavePng8(fileName, uint32_t(w.OutCols), uint32_t(w.OutRows), palette,
                 PixelsPerMetre(job.XDpi), PixelsPerMetre(job.YDpi),
                 [&](uint32_t y, uint8_t* out) {
                     const int64_t sheetRow =
                         w.Row + w.Rows - 1 - (w.OutRows - 1 - int64_t(y)) * w.Step;
                     const uint8_t* src = sheetRows.Get(sheetRow * job.Width + w.Col, readLen);
                     for (int64_t x = 0; x < w.OutCols; ++x) out[x] = index[src[x * w.Step]];
                 },
                 {job.Sync, {}});
}
