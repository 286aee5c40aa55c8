#include "engine/SheetOpen.h"

#include "engine/StripWalk.h"
#include "runtime/ScopeExit.h"

#include <algorithm>
#include <chrono>
#include <unistd.h>

TSheetOpen::TSheetOpen(TOpenRequest request, TPublish publish)
    : Request(std::move(request)), PublishTo(std::move(publish)) {}

void TSheetOpen::RequestStop() {
    {
        std::lock_guard<std::mutex> guard(ViewLock);
        Stop = true;
    }
    ViewChanged.notify_all();
}

void TSheetOpen::ViewShown() {
    {
        std::lock_guard<std::mutex> guard(ViewLock);
        Shown = true;
    }
    ViewChanged.notify_all();
}

void TSheetOpen::Publish() {
    if (PublishTo) PublishTo(S);
}

void TSheetOpen::Run() {
    rt::TScopeExit closeSource([this] { Source.CloseQuietly(); });
    Source.Assign(Request.SheetPath);
    Source.ResetRegular();
    Scratch.Assign(Request.ScratchPath);
    // Written over and cut to length at the end: emptying a large file first is slow.
    Scratch.Overwrite();
    rt::TScopeExit closeScratch([this] {
        if (!Scratch.IsOpen()) return;
        // Whatever ended the open, the file holds exactly the rows written.
        if (::truncate(Scratch.FileName().c_str(), Scratch.FilePos()) != 0) { /* best effort */
        }
        Scratch.CloseQuietly();
    });
    // Rows unpacked for the first view are held only while the open runs.
    rt::TScopeExit viewRows([this] { S.ViewFirst = S.ViewEnd = 0; });

    const TSheetDirectory& d = S.Directory;
    sheetdir::Read(Source, S.Directory);
    if (d.XResOffset > 0 && d.YResOffset > 0) {
        sheetdir::ReadResolution(Source, d.XResOffset, d.YResOffset, S.XDpi, S.YDpi);
        S.ResolutionRead = true;
    }
    S.DirectoryRead = true;
    Publish();
    if (d.StripCount <= 0) return;

    const int64_t firstRow = std::min<int64_t>(std::max<int64_t>(Request.FirstRow, 0), d.Height);
    const int64_t rowCount = Request.RowCount < 0
                                 ? d.Height - firstRow
                                 : std::min<int64_t>(Request.RowCount, d.Height - firstRow);
    S.FirstRow = static_cast<int32_t>(firstRow);
    CheckSpace(firstRow, rowCount);
    const TStripTables tables = sheetdir::ReadStripTables(Source, d.StripCount);
    // The rows a view shows first come first, kept inside the sheet; the whole walk writes
    // them again, the same.
    const int64_t viewCount = std::clamp<int64_t>(Request.ViewCount, 0, d.Height);
    const int64_t viewFirst = std::clamp<int64_t>(Request.ViewFirst, 0, d.Height - viewCount);
    // A view that shows the whole sheet gains nothing by it.
    if (d.Width > 0 && viewCount > 0 && viewCount < d.Height && firstRow == 0 &&
        rowCount == d.Height) {
        S.ViewEnd = viewFirst + UnpackView(tables, viewFirst, viewCount);
        S.ViewFirst = viewFirst;
        Publish();
        if (Request.WaitForView) {
            constexpr auto kLongest = std::chrono::milliseconds(200);
            std::unique_lock<std::mutex> guard(ViewLock);
            ViewChanged.wait_for(guard, kLongest, [this] { return Shown || Stop; });
        }
    }
    UnpackStrips(tables, firstRow, rowCount);
    Source.Close();
    Scratch.CloseCut();
}

void TSheetOpen::CheckSpace(int64_t firstRow, int64_t rowCount) {
    const int64_t width = S.Directory.Width, step = std::max(Request.Step, 1);
    // Strip tables may point many times at the same packed bytes: a small file can stand
    // for a raster larger than the disk. A sample writes at least its rows; the strips that
    // hold them may take more, and a full disk then fails the write that meets it.
    const int64_t sampleRows = rowCount > 0 ? (rowCount - 1) / step + 1 : 0;
    if (width * sampleRows - Scratch.FileSize() > Scratch.SpaceAvailable())
        throw rt::EInOutError(rt::kDiskFull);
    // Taken at once, the space costs nothing row by row; where it cannot be, rows take it.
    // A small raster gains nothing by it.
    constexpr int64_t kReserveFrom = 1 << 20;
    if (rowCount * width >= kReserveFrom && step == 1)
        Scratch.Reserve(firstRow * width, rowCount * width);
}

int64_t TSheetOpen::UnpackView(const TStripTables& tables, int64_t first, int64_t count) {
    const int64_t width = S.Directory.Width;
    Scratch.Seek(first * width);
    int64_t written = 0;
    const TRowSink::TWrite write = [&](const uint8_t* rows, size_t bytes) {
        Scratch.Write(rows, bytes);
        written += int64_t(bytes);
    };
    TStripWalk walk(Source,
                    {tables.Offsets, tables.ByteCounts, S.Directory.Packed(), size_t(width)}, first,
                    count, false, {});
    // A damaged strip ends it; the whole walk meets the damage again, in its place.
    while (const std::optional<TStripResult> r = walk.Next(write)) {
        if (Stop) throw rt::EAbort();
        if (r->Cut) break;
    }
    return written / width;
}

void TSheetOpen::UnpackStrips(const TStripTables& tables, int64_t firstRow, int64_t rowCount) {
    const TSheetDirectory& d = S.Directory;
    const int64_t width = std::max(d.Width, 1);
    if (d.Width <= 0 || d.Height <= 0) rowCount = 0; // the strips still count on the gauge
    // The rows go to their place: a window's rows behind a hole where the others would be.
    Scratch.Seek(firstRow * width);
    int64_t written = 0;
    const TRowSink::TWrite write = [&](const uint8_t* rows, size_t bytes) {
        if (rows) {
            Scratch.Write(rows, bytes);
        } else { // rows no sample reads: a hole
            Scratch.Seek(Scratch.FilePos() + int64_t(bytes));
            const int64_t top = firstRow + written / width, end = top + int64_t(bytes) / width;
            if (!S.Holes.empty() && S.Holes.back().second == top)
                S.Holes.back().second = end;
            else
                S.Holes.emplace_back(top, end);
        }
        written += int64_t(bytes);
        S.RowsWritten = static_cast<int32_t>(written / width); // drawn as they come
    };
    // A sample's rows: the window's last and every step-th row above it.
    const int64_t step = std::max(Request.Step, 1);
    const TStripWalk::TSample sample{step, firstRow + (std::max<int64_t>(rowCount, 1) - 1) % step};
    TStripWalk walk(Source, {tables.Offsets, tables.ByteCounts, d.Packed(), size_t(width)},
                    firstRow, rowCount, Request.DecodeAhead, sample);
    for (int32_t s = 0; s < d.StripCount; ++s) {
        S.Strip = s;
        Publish();
        if (Stop) throw rt::EAbort();
        const std::optional<TStripResult> r = walk.Next(write);
        if (!r) break; // the rest of the strips hold no row wanted
        S.DroppedBytes += r->Dropped;
        if (r->Cut) {
            S.Damage = r->Cut;
            break;
        }
    }
    S.Strip = d.StripCount - 1;
    Publish();
}
