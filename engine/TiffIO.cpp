#include "engine/TiffIO.h"

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

namespace {

// Bitmap file rows are gathered up to about this many bytes before one write.
constexpr size_t kSaveBatchBytes = 1024 * 1024;

// Truncation toward zero of a product that may not fit an int.
int64_t TruncTo64(long double v) {
    if (!(v > 0)) return 0;
    if (v >= 9.0e18L) return INT64_MAX;
    return static_cast<int64_t>(v);
}

} // namespace

namespace {
constexpr char kScratchName[] = "tiff.tmp";
constexpr char kScratchLockName[] = "tiff.lock";
// "tiff-PID.tmp", or "tiff-PID-N.tmp" where a viewer of the same number in another PID
// namespace holds the first.
std::string OwnScratchName(pid_t pid, int n) {
    std::string name = "tiff-";
    name += std::to_string(pid);
    if (n > 0) name.append("-").append(std::to_string(n));
    return name.append(".tmp");
}

bool IsOwnScratchName(const std::string& name) {
    if (name.size() < 10 || name.rfind("tiff-", 0) != 0 ||
        name.compare(name.size() - 4, 4, ".tmp") != 0)
        return false;
    const std::string middle = name.substr(5, name.size() - 9);
    return !middle.empty() && middle.find_first_not_of("0123456789-") == std::string::npos &&
           std::isdigit(static_cast<unsigned char>(middle.front())) &&
           std::isdigit(static_cast<unsigned char>(middle.back()));
}
} // namespace

TTiff::TTiff(rt::TCanvasSurface* viewCanvas, const std::string& scratchPath)
    : TTiff(viewCanvas, TSharedScratch{}) {
    if (scratchPath.empty()) {
        SharedDir = rt::ScratchDir();
        ScratchPath = rt::JoinPath(SharedDir, kScratchName);
    } else {
        SharedDir.clear();
        ScratchPath = scratchPath;
    }
}

TTiff::TTiff(rt::TCanvasSurface* viewCanvas, TSharedScratch shared) {
    TargetCanvas = viewCanvas;
    SharedDir = std::move(shared.Dir);
    ScratchPath = rt::JoinPath(SharedDir, kScratchName);
    WorkBitmap = std::make_unique<rt::TBitmap>();
    Loaded = false;
    InitPalette();
}

TTiff::~TTiff() {
    // An open still running ends first, at its next strip or when its read returns: the
    // scratch file goes after its last write.
    RequestStop();
    RunningTask = rt::TTask<void>();
    ScratchMap.reset();
    ScratchRows.CloseQuietly();
    WorkBitmap.reset();
    // The shared file is ours to delete only while we hold its lock; a file of our own is
    // deleted before its lock goes.
    if (!SharedDir.empty() && !ScratchLock.Held()) return;
    if (rt::FileExists(ScratchPath)) rt::DeleteFile(ScratchPath);
    ScratchLock.Release();
}

void TTiff::RemoveStaleScratch(const std::string& dir) {
    // A scratch file of its own is held locked by its viewer for as long as it lives: one
    // that can be locked is left by a viewer that has gone. A process number tells nothing
    // here, since a viewer in another PID namespace sees other numbers.
    for (const std::string& name : rt::ListDirectory(dir)) {
        if (!IsOwnScratchName(name)) continue;
        try {
            rt::TFileLock lock;
            if (lock.TryAcquire(rt::JoinPath(dir, name))) rt::DeleteFile(rt::JoinPath(dir, name));
        } catch (const rt::TError&) {
            // Another user's file, or a directory we cannot write: not ours to clean.
        }
    }
    try {
        rt::TFileLock lock;
        if (lock.TryAcquire(rt::JoinPath(dir, kScratchLockName)))
            rt::DeleteFile(rt::JoinPath(dir, kScratchName));
    } catch (const rt::TError&) {
        // A directory we cannot write holds no scratch file of ours to clean.
    }
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

void TTiff::AcquireSharedScratch() {
    if (SharedDir.empty() || ScratchLock.Held()) return;
    if (ScratchLock.TryAcquire(rt::JoinPath(SharedDir, kScratchLockName))) return;
    // Another process has "tiff.tmp": use a file of our own beside it, for good, locked for
    // as long as we live so that no viewer takes it for a dead one's.
    for (int n = 0;; ++n) {
        const std::string path = rt::JoinPath(SharedDir, OwnScratchName(::getpid(), n));
        if (ScratchLock.TryAcquire(path)) {
            ScratchPath = path;
            break;
        }
    }
    SharedDir.clear();
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
    return rate >= 1 || !(rate > 0) ? 1 : TruncTo64(1 / rate);
}

TOpenRequest TTiff::Begin(const std::string& sheetPath, int64_t firstRow, int64_t rowCount,
                          int32_t step) {
    if (Opening) throw rt::TError("マップ画像を読み込み中です");
    Loaded = false;
    SheetName = sheetdir::SheetName(sheetPath);
    TakeIn({});
    // Nothing of the last sheet is read from here on.
    ScratchMap.reset();
    ScratchRows.CloseQuietly();
    Pictures = 0;
    GaugeSet = false;
    AcquireSharedScratch();
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
    ViewFirst = state.ViewFirst;
    ViewEnd = state.ViewEnd;
    Holes = state.Holes;
    if (!state.DirectoryRead || !Opening) return;
    if (Gauge && !GaugeSet) {
        GaugeSet = true;
        Gauge->SetVisible(true);
        Gauge->SetMax(static_cast<int32_t>(static_cast<uint32_t>(StripCount) - 1u));
        Gauge->SetForeColor(0x0000FF);
    }
    if (Gauge && StripCount > 0) Gauge->SetPosition(state.Strip);
    if (OnRows && (RowsWritten > 0 || ViewEnd > ViewFirst)) OnRows();
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
    try {
        Running = std::make_unique<TSheetOpen>(std::move(request), [this](const TOpenState& s) {
            std::lock_guard<std::mutex> guard(PublishedLock);
            Published = s;
            PublishedNew = true;
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

std::array<uint8_t, 256> TTiff::PlateIndexTable() const {
    std::array<uint8_t, 9> masks{};
    for (int k = 1; k <= 8; ++k)
        masks[static_cast<size_t>(k)] =
            PlateVisible[static_cast<size_t>(k)] ? uint8_t(1u << (k - 1)) : 0;
    std::array<uint8_t, 256> table{};
    for (int v = 0; v < 256; ++v) {
        for (int k = 8; k >= 1; --k) {
            if (masks[static_cast<size_t>(k)] & v) {
                table[static_cast<size_t>(v)] = static_cast<uint8_t>(k);
                break;
            }
        }
    }
    return table;
}

namespace {

// The part of a window that lies in the sheet and the sampling that covers it.
struct TWindow {
    int64_t Col = 0, Row = 0, Cols = 0, Rows = 0;
    int64_t Step = 1, OutCols = 0, OutRows = 0;
    bool Empty() const { return Cols <= 0 || Rows <= 0 || OutCols <= 0 || OutRows <= 0; }
};

TWindow ClipWindow(int32_t width, int32_t height, int32_t col, int32_t row, int32_t cols,
                   int32_t rows, long double rate) {
    TWindow w;
    if (!(rate > 0) || col < 0 || row < 0) return w;
    w.Col = col;
    w.Row = row;
    w.Cols = cols;
    w.Rows = rows;
    if (width < w.Col + w.Cols) w.Cols = width - w.Col;
    if (height < w.Row + w.Rows) w.Rows = height - w.Row;
    if (w.Cols <= 0 || w.Rows <= 0) return w;
    w.Step = TTiff::SampleStep(rate);
    w.OutCols = TruncTo64(w.Cols * rate);
    w.OutRows = TruncTo64(w.Rows * rate);
    if (rate < 1) {
        // The grid must stay inside the window whatever the rounding of rate.
        w.OutCols = std::min(w.OutCols, (w.Cols - 1) / w.Step + 1);
        w.OutRows = std::min(w.OutRows, (w.Rows - 1) / w.Step + 1);
    }
    return w;
}

} // namespace

namespace {

// Where the rows of a smooth reduction come from: the scratch file's rows, the background
// for rows a damaged or windowed sheet does not hold.
struct TSmoothSource {
    const rt::TBinaryFile& File;
    const rt::TFileMap* Map;
    const TTiff& Sheet;
    int64_t Width, Height;
};

// Three channels in the 21-bit lanes AverageBlocks sums, in the order they are written.
constexpr uint64_t Lanes(uint8_t first, uint8_t second, uint8_t third) {
    return uint64_t(first) | uint64_t(second) << 21 | uint64_t(third) << 42;
}

// Fills rows y0 to y1 - 1 of a reduced picture: each pixel the average, channel by
// channel, of the composed colours of the sheet pixels of its Step x Step block (a block
// cut by the sheet's edge averages what it holds). packed[v] holds the colour of pixel byte
// v as blue, green and red in 21-bit lanes, so that one addition sums all three.
void AverageBlocks(const TSmoothSource& src, int64_t col, int64_t row, int64_t step,
                   int64_t outCols, const uint64_t* packed, rt::TBitmap& picture, int64_t y0,
                   int64_t y1) {
    const int64_t span = std::min(outCols * step, src.Width - col);
    rt::TFileView view(src.File, size_t(span), rt::TFileView::kMapWhole, src.Map);
    std::vector<uint8_t> background; // made for the first row a sheet lacks
    constexpr uint64_t kLane = (1u << 21) - 1;
    // The lanes hold a block's sums while step * step * 255 stays below 2^21, to 1/90; a
    // coarser reduction sums each channel on its own.
    constexpr int64_t kMaxLaneStep = 90;
    const bool wide = step > kMaxLaneStep;
    std::vector<uint64_t> sums(static_cast<size_t>(outCols) * (wide ? 3 : 1));
    for (int64_t y = y0; y < y1; ++y) {
        std::fill(sums.begin(), sums.end(), 0);
        const int64_t top = row + y * step, bottom = std::min(top + step, src.Height);
        for (int64_t r = top; r < bottom; ++r) {
            const bool held = src.Sheet.HoldsRow(r);
            if (!held) background.resize(size_t(span), 0);
            const uint8_t* p =
                held ? view.Get(r * src.Width + col, size_t(span)) : background.data();
            if (wide) {
                for (int64_t k = 0; k < span; ++k) {
                    const uint64_t c = packed[p[k]];
                    uint64_t* t = &sums[3 * size_t(k / step)];
                    t[0] += c & kLane;
                    t[1] += (c >> 21) & kLane;
                    t[2] += c >> 42;
                }
                continue;
            }
            int64_t x = 0;
            for (; (x + 1) * step <= span; ++x, p += step) {
                uint64_t s = 0;
                for (int64_t k = 0; k < step; ++k) s += packed[p[k]];
                sums[size_t(x)] += s;
            }
            for (int64_t k = x * step; x < outCols && k < span; ++k)
                sums[size_t(x)] += packed[*p++];
        }
        uint8_t* d = picture.ScanLine(int(y));
        for (int64_t x = 0; x < outCols; ++x, d += 3) {
            const uint64_t n = uint64_t(bottom - top) * uint64_t(std::min(step, span - x * step));
            uint64_t c[3];
            if (wide) {
                std::copy_n(&sums[3 * size_t(x)], 3, c);
            } else {
                const uint64_t s = sums[size_t(x)];
                c[0] = s & kLane;
                c[1] = (s >> 21) & kLane;
                c[2] = s >> 42;
            }
            for (int i = 0; i < 3; ++i) d[i] = uint8_t((c[i] + n / 2) / n);
        }
    }
}

// Turns cols pixel bytes, step apart, into blue, green, red triples at d.
void ComposeRow(const uint8_t* src, int64_t step, int64_t cols, const uint32_t* colours,
                uint8_t* d) {
    int64_t x = 0;
    if (step == 1) // the common case, without the multiplication in its way
        for (; x + 1 < cols; ++x, d += 3) std::memcpy(d, &colours[src[x]], 4);
    else
        for (; x + 1 < cols; ++x, d += 3) std::memcpy(d, &colours[src[x * step]], 4);
    if (x < cols) { // the last pixel of the row may not spill
        const uint32_t c = colours[src[x * step]];
        d[0] = uint8_t(c);
        d[1] = uint8_t(c >> 8);
        d[2] = uint8_t(c >> 16);
    }
}

} // namespace

void TTiff::Draw(int32_t col, int32_t row, int32_t cols, int32_t rows, long double rate) {
    // While an open runs, the rows already in are drawn and the others are background.
    if (!(Loaded || Opening) || !TargetCanvas) return;
    TWindow w = ClipWindow(Width, Height, col, row, cols, rows, rate);
    if (w.Empty()) return;
    // What lies beyond the canvas is never seen: compose no more than it can show.
    const int64_t canvasW = std::max(TargetCanvas->SurfaceWidth(), 0);
    const int64_t canvasH = std::max(TargetCanvas->SurfaceHeight(), 0);
    const bool enlarge = rate >= 1;
    if (enlarge) {
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
    if (w.Empty()) return;
    w.OutCols = std::min<int64_t>(w.OutCols, INT32_MAX);
    w.OutRows = std::min<int64_t>(w.OutRows, INT32_MAX);

    const size_t readLen =
        static_cast<size_t>(enlarge ? w.Cols : std::min(w.OutCols * w.Step, w.Cols));
    WorkBitmap->Dormant();
    // A sheet drawn once (a picture for a file) is read a window at a time, and its pages
    // go with the window; one drawn again is mapped whole, as the view scrolls over it.
    const int64_t scratchBytes = OpenScratchForReading(++Pictures > 1);

    const std::array<uint8_t, 256> index = PlateIndexTable();
    // Each entry holds blue, green, red in its low three bytes, so that a pixel is one
    // four-byte store whose fourth byte the next pixel overwrites.
    uint32_t colours[256];
    for (int v = 0; v < 256; ++v) {
        rt::TColor c = PlateColor[index[static_cast<size_t>(v)]];
        colours[v] =
            uint32_t(rt::BlueOf(c)) | uint32_t(rt::GreenOf(c)) << 8 | uint32_t(rt::RedOf(c)) << 16;
    }

    int64_t picCols = enlarge ? w.Cols : w.OutCols;
    int64_t picRows = enlarge ? w.Rows : w.OutRows;
    // A picture the canvas shows pixel for pixel is composed in the canvas itself.
    rt::TBitmap* direct = rate == 1 || !enlarge ? TargetCanvas->Pixels() : nullptr;
    rt::TBitmap& picture = direct ? *direct : *WorkBitmap;
    if (direct) {
        picCols = std::min<int64_t>(picCols, direct->Width());
        picRows = std::min<int64_t>(picRows, direct->Height());
        if (picCols <= 0 || picRows <= 0) return;
    } else {
        WorkBitmap->SetWidth(static_cast<int>(picCols));
        WorkBitmap->SetHeight(static_cast<int>(picRows));
    }
    const bool smooth = Smooth && !enlarge && w.Step > 1;
    const int64_t readRows =
        smooth ? std::min(picRows * w.Step, Height - w.Row) : (picRows - 1) * w.Step + 1;
    // The canvas is written as the rows are read: a file too short must fail first.
    int64_t heldEnd = 0; // one past the last row read that the scratch file holds
    for (auto [first, end] : {std::pair{int64_t(FirstRow), int64_t(FirstRow) + RowsWritten},
                              std::pair{ViewFirst, ViewEnd}}) {
        const int64_t e = std::min(w.Row + readRows, end);
        if (e > std::max(first, w.Row)) heldEnd = std::max(heldEnd, e);
    }
    if (heldEnd * Width > scratchBytes) throw rt::EInOutError(rt::kReadPastEnd);
    ShowPages(w.Row * Width, (w.Row + readRows) * Width);
    if (smooth) {
        uint64_t packed[256];
        for (int v = 0; v < 256; ++v)
            packed[v] =
                Lanes(uint8_t(colours[v]), uint8_t(colours[v] >> 8), uint8_t(colours[v] >> 16));
        const TSmoothSource source{ScratchRows, ScratchMap.get(), *this, Width, Height};
        // Every pixel of the window is read: the lower half of the picture on a second core.
        const int64_t half = picRows >= 64 ? picRows / 2 : picRows;
        rt::TTask<void> lower;
        if (half < picRows)
            lower = rt::TWorker::Shared().Run([&] {
                AverageBlocks(source, w.Col, w.Row, w.Step, picCols, packed, picture, half,
                              picRows);
            });
        AverageBlocks(source, w.Col, w.Row, w.Step, picCols, packed, picture, 0, half);
        if (lower.Valid()) lower.Get();
    } else {
        // Rows far apart for what is read of each (a narrow window of wide rows) cost less
        // as reads than as page faults of a map.
        const bool mapped = w.Step == 1 && readLen * 4 >= size_t(Width);
        rt::TFileView sheetRows(ScratchRows, readLen,
                                mapped ? rt::TFileView::kMap : rt::TFileView::kRead,
                                ScratchMap.get());
        std::vector<uint8_t> missing; // the background, for rows a damaged sheet did not give
        int64_t offset = w.Row * Width + w.Col;
        const int64_t rowAdvance = int64_t(Width) * w.Step;
        for (int64_t y = 0; y < picRows; ++y, offset += rowAdvance) {
            const uint8_t* src;
            const int64_t sheetRow = w.Row + y * w.Step;
            if (HoldsRow(sheetRow)) {
                src = sheetRows.Get(offset, readLen);
            } else {
                missing.resize(readLen);
                src = missing.data();
            }
            ComposeRow(src, w.Step, picCols, colours, picture.ScanLine(static_cast<int>(y)));
        }
    }
    if (direct)
        TargetCanvas->PixelsWritten();
    else if (enlarge)
        TargetCanvas->StretchBlt(0, 0, static_cast<int>(w.OutCols), static_cast<int>(w.OutRows),
                                 *WorkBitmap, 0, 0, static_cast<int>(w.Cols),
                                 static_cast<int>(w.Rows), rt::SRCCOPY);
    else
        TargetCanvas->BitBlt(0, 0, static_cast<int>(w.OutCols), static_cast<int>(w.OutRows),
                             *WorkBitmap, 0, 0, rt::SRCCOPY);
    WorkBitmap->Dormant();
}

void TTiff::ShowPages(int64_t start, int64_t end) {
    // A page fault maps the pages around the one read as well (64 KiB on Linux).
    constexpr int64_t kFaultAround = 256 * 1024;
    const int64_t oldStart = ShownStart, oldEnd = ShownEnd;
    ShownStart = start < end ? std::max<int64_t>(start - kFaultAround, 0) : 0;
    ShownEnd = start < end ? end + kFaultAround : 0;
    ReleasePages(oldStart, oldEnd);
}

void TTiff::ReleasePages(int64_t start, int64_t end) {
    if (!ScratchMap) return;
    ScratchMap->Release(start, std::min(end, ShownStart) - start);
    const int64_t from = std::max(start, ShownEnd);
    ScratchMap->Release(from, end - from);
}

namespace {

int32_t PixelsPerMetre(int32_t dpi) {
    long double v = static_cast<long double>(dpi) * 1000 / 25.4L;
    return static_cast<int32_t>(std::clamp<long double>(v, INT32_MIN, INT32_MAX));
}

} // namespace

rt::TFileView::TAccess TTiff::ExportAccess(int64_t step, size_t readLen) const {
    // Every row of a window that fills most of each row: the rows read many at a time.
    // Rows far apart are read one by one; an export never maps the scratch file, whose
    // pages would stay with the process for as long as the file is open.
    return step == 1 && readLen * 2 >= size_t(Width) ? rt::TFileView::kReadAhead
                                                     : rt::TFileView::kRead;
}

void TTiff::SaveBitmap(int32_t col, int32_t row, int32_t cols, int32_t rows, long double rate,
                       const std::string& fileName) {
    if (!Loaded || rate > 1) return;
    const TWindow w = ClipWindow(Width, Height, col, row, cols, rows, rate);
    if (w.Empty()) return;
    // A written file must not hold pixels the sheet did not give.
    if (!HoldsSamples(w.Row, w.Rows, w.Step, w.OutRows)) throw rt::EInOutError(rt::kReadPastEnd);
    const size_t rowStride = static_cast<size_t>((w.OutCols + 7) / 8 * 4);
    const size_t readLen = static_cast<size_t>(std::min(w.OutCols * w.Step, w.Cols));

    OpenScratchForReading(false);
    rt::TFileView sheetRows(ScratchRows, readLen, ExportAccess(w.Step, readLen));
    rt::TOutputFile out(fileName, {SyncSaves, {}});

    uint8_t head[rt::kBmpHeaderBytes + 64] = {};
    rt::TBmpInfo info{uint32_t(w.OutCols), uint32_t(w.OutRows), 4, uint32_t(rowStride), 16};
    info.XPixelsPerMetre = PixelsPerMetre(XDpi);
    info.YPixelsPerMetre = PixelsPerMetre(YDpi);
    info.StateImageSize = false;
    rt::PutBmpHeaders(head, info);
    for (int i = 0; i < 16; ++i) {
        rt::TColor c = i <= 8 ? PlateColor[static_cast<size_t>(i)] : rt::kWhite;
        uint8_t* e = head + 54 + 4 * i;
        e[0] = rt::BlueOf(c);
        e[1] = rt::GreenOf(c);
        e[2] = rt::RedOf(c);
    }
    out.Write(head, sizeof head);

    const std::array<uint8_t, 256> index = PlateIndexTable();
    // At full size two neighbouring pixel bytes give one file byte through one table.
    std::vector<uint8_t> pairs;
    if (w.Step == 1) {
        pairs.resize(65536);
        for (size_t v = 0; v < 65536; ++v) {
            uint8_t b[2];
            uint16_t v16 = uint16_t(v);
            std::memcpy(b, &v16, 2);
            pairs[v] = static_cast<uint8_t>(index[b[0]] << 4 | index[b[1]]);
        }
    }
    // File rows are gathered and written several at a time.
    const size_t rowsPerWrite =
        std::clamp<size_t>(kSaveBatchBytes / rowStride, 1, static_cast<size_t>(w.OutRows));
    std::vector<uint8_t> rowsOut(rowsPerWrite * rowStride);
    size_t pending = 0;
    for (int64_t j = 0; j < w.OutRows; ++j) {
        const int64_t sheetRow = w.Row + w.Rows - 1 - j * w.Step;
        const uint8_t* src = sheetRows.Get(sheetRow * Width + w.Col, readLen);
        uint8_t* line = rowsOut.data() + pending * rowStride;
        const int64_t step = w.Step;
        const size_t used = static_cast<size_t>((w.OutCols + 1) / 2);
        std::memset(line + used, 0, rowStride - used);
        int64_t x = 0;
        if (step == 1) {
            for (; x + 1 < w.OutCols; x += 2) {
                uint16_t pair;
                std::memcpy(&pair, src + x, 2);
                line[x / 2] = pairs[pair];
            }
        } else {
            for (; x + 1 < w.OutCols; x += 2)
                line[x / 2] =
                    static_cast<uint8_t>(index[src[x * step]] << 4 | index[src[(x + 1) * step]]);
        }
        if (x < w.OutCols) line[x / 2] = static_cast<uint8_t>(index[src[x * step]] << 4);
        if (++pending == rowsPerWrite) {
            out.Write(rowsOut.data(), pending * rowStride);
            pending = 0;
        }
    }
    if (pending > 0) out.Write(rowsOut.data(), pending * rowStride);
    out.Commit();
}

void TTiff::SavePng(int32_t col, int32_t row, int32_t cols, int32_t rows, long double rate,
                    const std::string& fileName) {
    if (!Loaded || rate > 1) return;
    const TWindow w = ClipWindow(Width, Height, col, row, cols, rows, rate);
    if (w.Empty()) return;
    if (!HoldsSamples(w.Row, w.Rows, w.Step, w.OutRows)) throw rt::EInOutError(rt::kReadPastEnd);
    const size_t readLen = static_cast<size_t>(std::min(w.OutCols * w.Step, w.Cols));
    OpenScratchForReading(false);
    rt::TFileView sheetRows(ScratchRows, readLen, ExportAccess(w.Step, readLen));
    const std::array<uint8_t, 256> index = PlateIndexTable();
    if (Smooth && w.Step > 1) {
        uint64_t packed[256];
        for (int v = 0; v < 256; ++v) {
            const rt::TColor c = PlateColor[index[size_t(v)]];
            packed[v] = Lanes(rt::RedOf(c), rt::GreenOf(c), rt::BlueOf(c));
        }
        const TSmoothSource source{ScratchRows, nullptr, *this, Width, Height};
        const int64_t top = w.Row + w.Rows - w.OutRows * w.Step; // the export's grid, from its top
        rt::TBitmap line;
        line.SetSize(int(w.OutCols), 1);
        rt::SavePngRgb(fileName, uint32_t(w.OutCols), uint32_t(w.OutRows),
                       [&](uint32_t y, uint8_t* out) {
                           AverageBlocks(source, w.Col, top + int64_t(y) * w.Step, w.Step,
                                         w.OutCols, packed, line, 0, 1);
                           std::memcpy(out, line.ScanLine(0), size_t(w.OutCols) * 3);
                       },
                       {SyncSaves, {}});
        return;
    }
    std::vector<rt::TColor> palette(PlateColor.begin(), PlateColor.end());
    palette.resize(16, rt::kWhite);
    // The bitmap's grid, which starts at the window's bottom row, from its top row down.
    rt::SavePng8(fileName, uint32_t(w.OutCols), uint32_t(w.OutRows), palette, PixelsPerMetre(XDpi),
                 PixelsPerMetre(YDpi),
                 [&](uint32_t y, uint8_t* out) {
                     const int64_t sheetRow =
                         w.Row + w.Rows - 1 - (w.OutRows - 1 - int64_t(y)) * w.Step;
                     const uint8_t* src = sheetRows.Get(sheetRow * Width + w.Col, readLen);
                     for (int64_t x = 0; x < w.OutCols; ++x) out[x] = index[src[x * w.Step]];
                 },
                 {SyncSaves, {}});
}

int64_t TTiff::OpenScratchForReading(bool mapWhole) {
    if (!ScratchRows.IsOpen()) {
        ScratchMap.reset();
        ScratchRows.Assign(ScratchPath);
        ScratchRows.Reset();
    }
    const int64_t size = ScratchRows.FileSize();
    // A file cut behind our back must not be read through a map longer than the file.
    if (ScratchMap && ScratchMap->Mapped() && ScratchMap->Size() != size) ScratchMap.reset();
    if (mapWhole && !ScratchMap) {
        ScratchMap = std::make_unique<rt::TFileMap>(ScratchRows);
        ShownStart = ShownEnd = 0;
    }
    return size;
}

bool TTiff::HoldsRows(int32_t row, int32_t rows) const {
    const int64_t end = std::min<int64_t>(int64_t(row) + rows, Height);
    if (end <= row || (row >= ViewFirst && end <= ViewEnd)) return true;
    if (row < FirstRow || end > int64_t(FirstRow) + RowsWritten) return false;
    // The first hole that ends after row must begin at or after end.
    auto hole = std::upper_bound(Holes.begin(), Holes.end(), int64_t(row),
                                 [](int64_t r, const auto& h) { return r < h.second; });
    return hole == Holes.end() || hole->first >= end;
}

bool TTiff::HoldsRow(int64_t row) const {
    if (row >= ViewFirst && row < ViewEnd) return true;
    if (row < FirstRow || row >= int64_t(FirstRow) + RowsWritten) return false;
    auto hole = std::upper_bound(Holes.begin(), Holes.end(), row,
                                 [](int64_t r, const auto& h) { return r < h.second; });
    return hole == Holes.end() || hole->first > row;
}

bool TTiff::HoldsSamples(int64_t row, int64_t rows, int64_t step, int64_t count) const {
    if (Holes.empty()) return HoldsRows(int32_t(row), int32_t(rows));
    for (int64_t j = 0; j < count; ++j)
        if (!HoldsRow(row + rows - 1 - j * step)) return false;
    return true;
}

bool TTiff::PixelAt(int32_t col, int32_t row, uint8_t& value) const {
    if (!Loaded || col < 0 || row < 0 || col >= Width || row >= Height) return false;
    try {
        rt::TBinaryFile f;
        f.Assign(ScratchPath);
        f.Reset();
        f.Seek(int64_t(row) * Width + col);
        return f.ReadSome(&value, 1) == 1;
    } catch (const rt::TError&) {
        return false; // a hint for the status bar, not worth an error box
    }
}
