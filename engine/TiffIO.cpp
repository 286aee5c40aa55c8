#include "engine/TiffIO.h"

#include "engine/Export.h"

#include "engine/PackBits.h"
#include "engine/RowSink.h"
#include "engine/StripWalk.h"
#include "runtime/BitmapFile.h"
#include "runtime/Errors.h"
#include "runtime/FileSys.h"
#include "runtime/FileView.h"
#include "runtime/OutputFile.h"
#include "runtime/PngFile.h"
#include "runtime/ScopeExit.h"
#include "runtime/Worker.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <thread>
#include <unistd.h>
#include <vector>

TTiff::TTiff(rt::TCanvasSurface* viewCanvas, const std::string& scratchPath)
    : TTiff(viewCanvas, TSharedScratch{scratchPath.empty() ? rt::ScratchDir() : std::string()}) {
    if (!scratchPath.empty()) {
        Raster = std::make_unique<TScratchRaster>(std::string(), scratchPath);
        ScratchPath = scratchPath;
    }
}

TTiff::TTiff(rt::TCanvasSurface* viewCanvas, TSharedScratch shared) {
    TargetCanvas = viewCanvas;
    ScratchPath = SharedScratchPath(shared.Dir);
    Raster = std::make_unique<TScratchRaster>(std::move(shared.Dir), ScratchPath);
    WorkBitmap = std::make_unique<rt::TBitmap>();
    Loaded = false;
    InitPalette();
}

TTiff::~TTiff() {
    // An open still running ends first, at its next strip or when its read returns: the
    // scratch file goes after its last write.
    RequestStop();
    RunningTask = rt::TTask<void>();
    WorkBitmap.reset();
    Raster.reset();
}

void TTiff::RemoveStaleScratch(const std::string& dir) {
    TScratchRaster::RemoveStale(dir);
}

void TTiff::InitPalette() {
    std::array<rt::TPaletteEntry, 256> pal{};
    for (int i = 0; i < 256; ++i) {
        auto v = static_cast<uint8_t>(i);
        pal[static_cast<size_t>(i)] = {v, v, v, rt::kPcReserved};
    }
    WorkBitmap->SetPalette(pal);
}

void TTiff::SwapWords(void* buffer, int32_t byteCount) {
    sheetdir::SwapWords(buffer, byteCount);
}

void TTiff::SwapLongHalves(void* buffer, int32_t byteCount) {
    sheetdir::SwapLongHalves(buffer, byteCount);
}

int32_t TTiff::UnpackRun(const uint8_t* unitAddr, uint8_t* dest) {
    auto n = static_cast<int8_t>(unitAddr[0]);
    if (n > 0 || n == -128) return 0; // not a two-byte unit
    int32_t count = 1 - n;
    std::memset(dest, unitAddr[1], static_cast<size_t>(count));
    return count;
}

int64_t TTiff::BytesNeeded(rt::TBinaryFile& f) {
    return sheetdir::BytesNeeded(f);
}

void TTiff::OpenFile(const std::string& sheetPath) {
    Open(sheetPath, 0, -1, 1);
}

void TTiff::OpenRows(const std::string& sheetPath, int32_t firstRow, int32_t rowCount) {
    Open(sheetPath, std::max(firstRow, 0), std::max(rowCount, 0), 1);
}

void TTiff::OpenSample(const std::string& sheetPath, int32_t firstRow, int32_t rowCount,
                       int32_t step) {
    Open(sheetPath, std::max(firstRow, 0), rowCount < 0 ? -1 : rowCount, std::max(step, 1));
}

int64_t TTiff::SampleStep(long double rate) {
    return SampleStepOf(rate);
}

TOpenRequest TTiff::Begin(const std::string& sheetPath, int64_t firstRow, int64_t rowCount,
                          int32_t step) {
    if (Opening) throw rt::TError("マップ画像を読み込み中です");
    Loaded = false;
    SheetName = sheetdir::SheetName(sheetPath);
    TakeIn({});
    // Nothing of the last sheet is read from here on.
    Raster->PrepareOpen();
    ScratchPath = Raster->Path();
    Pictures = 0;
    GaugeSet = false;
    Opening = true;
    return {sheetPath, ScratchPath,     firstRow,        rowCount,
            step,      ShowFirst.First, ShowFirst.Count, DecodeAhead};
}

void TTiff::TakeIn(const TOpenState& state) {
    const TSheetDirectory& d = state.Directory;
    Header = d.Header;
    DirEntries = d.DirEntries;
    Width = d.Width;
    Height = d.Height;
    StripCount = d.StripCount;
    if (state.ResolutionRead) { // a sheet without one keeps the last
        XDpi = state.XDpi;
        YDpi = state.YDpi;
    }
    FirstRow = state.FirstRow;
    RowsWritten = state.RowsWritten;
    DroppedBytes = state.DroppedBytes;
    Damage = state.Damage;
    Held.First = state.FirstRow;
    Held.Count = state.RowsWritten;
    Held.ViewFirst = state.ViewFirst;
    Held.ViewEnd = state.ViewEnd;
    // Holes only grow at their end, the last one longer or new ones after it: what is new is
    // taken in, not all of them at each strip.
    const size_t keep =
        std::min(Held.Holes.empty() ? 0 : Held.Holes.size() - 1, state.Holes.size());
    Held.Holes.resize(keep);
    Held.Holes.insert(Held.Holes.end(), state.Holes.begin() + ptrdiff_t(keep), state.Holes.end());
    if (!state.DirectoryRead || !Opening) return;
    if (Gauge && !GaugeSet) {
        GaugeSet = true;
        Gauge->SetVisible(true);
        Gauge->SetMax(static_cast<int32_t>(static_cast<uint32_t>(StripCount) - 1u));
        Gauge->SetForeColor(0x0000FF);
    }
    if (Gauge && StripCount > 0) Gauge->SetPosition(state.Strip);
    if (OnRows && (RowsWritten > 0 || Held.ViewEnd > Held.ViewFirst)) OnRows();
}

void TTiff::End(const TOpenState& state, bool completed) {
    Current = nullptr;
    Opening = false; // takes in the last state without the gauge or OnRows
    TakeIn(state);
    // However the open ends, the gauge does not stay over the view.
    if (Gauge) Gauge->SetVisible(false);
    Loaded = completed;
}

void TTiff::Open(const std::string& sheetPath, int64_t firstRow, int64_t rowCount, int32_t step) {
    TSheetOpen open(Begin(sheetPath, firstRow, rowCount, step),
                    [this](const TOpenState& state) { TakeIn(state); });
    Current = &open;
    try {
        open.Run();
    } catch (...) {
        End(open.State(), false);
        throw;
    }
    End(open.State(), true);
}

void TTiff::StartOpen(const std::string& sheetPath) {
    TOpenRequest request = Begin(sheetPath, 0, -1, 1);
    request.WaitForView = bool(OnNews);
    try {
        Running = std::make_unique<TSheetOpen>(
            std::move(request),
            [this, news = OnNews, seen = std::pair<bool, int64_t>()](const TOpenState& s) mutable {
                {
                    std::lock_guard<std::mutex> guard(PublishedLock);
                    Published = s;
                    PublishedNew = true;
                }
                const std::pair<bool, int64_t> now{s.DirectoryRead, s.ViewEnd};
                if (news && now != seen) news();
                seen = now;
            });
        // A thread of its own, so that the process's worker stays free for the open's walk
        // ahead, and a read that stalls holds nothing else.
        if (!OpenThread) OpenThread = std::make_unique<rt::TWorker>(1);
        if (OpenThread->Threads() == 0) throw rt::TError("スレッドを作成できません");
        Current = Running.get();
        RunningTask = OpenThread->Run([open = Running.get()] { open->Run(); });
    } catch (...) {
        Running.reset();
        End({}, false);
        throw;
    }
}

bool TTiff::Poll() {
    if (!Running) return !Opening;
    const bool over = RunningTask.WaitFor(std::chrono::milliseconds(0));
    std::optional<TOpenState> state;
    {
        std::lock_guard<std::mutex> guard(PublishedLock);
        if (PublishedNew) state = std::move(Published);
        PublishedNew = false;
    }
    try {
        if (state) TakeIn(*state);
    } catch (...) {
        Running->RequestStop(); // the gauge refused the sheet: the open ends with it
        FinishOpen(true);
        throw;
    }
    return over;
}

void TTiff::FinishOpen() {
    FinishOpen(false);
}

void TTiff::FinishOpen(bool quiet) {
    if (!Running) return;
    rt::TTask<void> task = std::move(RunningTask);
    const std::unique_ptr<TSheetOpen> open = std::move(Running);
    try {
        task.Get();
    } catch (...) {
        End(open->State(), false);
        if (quiet) return;
        throw;
    }
    End(open->State(), true);
}

void TTiff::RequestStop() {
    if (Current) Current->RequestStop();
}

void TTiff::ViewShown() {
    if (Current) Current->ViewShown();
}

bool TTiff::HoldsRows(int32_t row, int32_t rows) const {
    return Held.HoldsAll(row, std::min<int64_t>(int64_t(row) + rows, Height));
}

bool TTiff::HoldsRow(int64_t row) const {
    return Held.Holds(row);
}

bool TTiff::HoldsSamples(int64_t row, int64_t rows, int64_t step, int64_t count) const {
    if (Held.Holes.empty()) return HoldsRows(int32_t(row), int32_t(rows));
    for (int64_t j = 0; j < count; ++j)
        if (!HoldsRow(row + rows - 1 - j * step)) return false;
    return true;
}

bool TTiff::PixelAt(int32_t col, int32_t row, uint8_t& value) const {
    if (!Loaded || col < 0 || row < 0 || col >= Width || row >= Height) return false;
    return Raster->ByteAt(int64_t(row) * Width + col, value);
}

TWindow TTiff::ExportWindow(int32_t col, int32_t row, int32_t cols, int32_t rows,
                            long double rate) const {
    if (!Loaded || rate > 1) return {};
    const TWindow w = ClipWindow(Width, Height, col, row, cols, rows, rate);
    // A written file must not hold pixels the sheet did not give.
    if (!w.Empty() && !HoldsSamples(w.Row, w.Rows, w.Step, w.OutRows))
        throw rt::EInOutError(rt::kReadPastEnd);
    return w;
}

void TTiff::SaveBitmap(int32_t col, int32_t row, int32_t cols, int32_t rows, long double rate,
                       const std::string& fileName) {
    const TWindow w = ExportWindow(col, row, cols, rows, rate);
    if (w.Empty()) return;
    Raster->OpenForReading(false);
    ExportBitmap(
        {Raster->File(), Held, Width, Height, {PlateVisible, PlateColor, XDpi, YDpi, SyncSaves}}, w,
        fileName);
}

void TTiff::SavePng(int32_t col, int32_t row, int32_t cols, int32_t rows, long double rate,
                    const std::string& fileName) {
    const TWindow w = ExportWindow(col, row, cols, rows, rate);
    if (w.Empty()) return;
    Raster->OpenForReading(false);
    ExportPng(
        {Raster->File(), Held, Width, Height, {PlateVisible, PlateColor, XDpi, YDpi, SyncSaves}}, w,
        Smooth, fileName);
}
