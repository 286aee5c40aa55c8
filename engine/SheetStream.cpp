#include "engine/SheetStream.h"

#include "engine/StripWalk.h"
#include "runtime/Errors.h"

#include <algorithm>

TSheetStream::TSheetStream(const std::string& sheetPath) {
    Source.Assign(sheetPath);
    Source.ResetRegular();
    sheetdir::Read(Source, D);
    if (D.XResOffset > 0 && D.YResOffset > 0) {
        sheetdir::ReadResolution(Source, D.XResOffset, D.YResOffset, XDpi, YDpi);
        ResolutionRead = true;
    }
    if (D.StripCount > 0) Tables = sheetdir::ReadStripTables(Source, D.StripCount);
}

void TSheetStream::Walk(int64_t first, int64_t count, int64_t step, const TTake& take) {
    const int64_t width = D.Width;
    first = std::clamp<int64_t>(first, 0, D.Height);
    count = std::min(count, D.Height - first);
    if (count <= 0 || width <= 0) return;
    step = std::max<int64_t>(step, 1);
    const int64_t last = first + count - 1;
    int64_t next = first + (count - 1) % step; // the next row wanted
    int64_t row = first;                       // the row of the next bytes handed on
    const TRowSink::TWrite write = [&](const uint8_t* rows, size_t bytes) {
        const int64_t n = int64_t(bytes) / width;
        // Strips are passed only where they hold no row wanted.
        if (!rows && next < row + n) throw rt::EInOutError(rt::kReadPastEnd);
        for (; rows && next < row + n; next += step) take(next, rows + (next - row) * width);
        row += n;
    };
    if (D.StripCount > 0) {
        TStripWalk walk(Source, {Tables.Offsets, Tables.ByteCounts, D.Packed(), size_t(width)},
                        first, count, false, {step, next});
        for (int32_t strip = 0;; ++strip) {
            if (OnStrip) OnStrip(std::min(strip, D.StripCount - 1));
            const std::optional<TStripResult> r = walk.Next(write);
            if (!r) break;
            if (r->Cut) throw *r->Cut;
        }
    }
    if (next <= last) throw rt::EInOutError(rt::kReadPastEnd);
}
