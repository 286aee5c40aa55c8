#pragma once
// TTiff, the map image object: reads a map sheet, unpacks its strips into the scratch
// raster file, composes the plates into colours, draws a window of the sheet onto the
// view's canvas and exports bitmaps.

#include "engine/StripWalk.h"
#include "runtime/BinaryFile.h"
#include "runtime/Bitmap.h"
#include "runtime/Canvas.h"
#include "runtime/Errors.h"
#include "runtime/FileLock.h"
#include "runtime/FileMap.h"
#include "runtime/FileView.h"
#include "runtime/Progress.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class TRowSink;
struct TStripResult;

// One TIFF directory entry after conversion to the machine's byte order.
struct TDirEntry {
    uint16_t Tag = 0;
    uint16_t FieldType = 0;
    uint32_t Count = 0;
    uint32_t Value = 0;
};
static_assert(sizeof(TDirEntry) == 12);

// The scratch raster file shared by the processes of one directory: "tiff.tmp" for the one
// that holds the lock file "tiff.lock", "tiff-PID.tmp" for each other one.
struct TSharedScratch {
    std::string Dir;
};

class TTiff {
public:
    // An empty scratchPath means the shared scratch file of the program's scratch directory
    // (rt::ScratchDir()).
    explicit TTiff(rt::TCanvasSurface* viewCanvas, const std::string& scratchPath = {});
    TTiff(rt::TCanvasSurface* viewCanvas, TSharedScratch shared);
    ~TTiff();
    TTiff(const TTiff&) = delete;
    TTiff& operator=(const TTiff&) = delete;

    void OpenFile(const std::string& sheetPath);
    // Opens a sheet as OpenFile does but unpacks only the strips that hold rows firstRow
    // to firstRow + rowCount - 1; only those rows are written, at their place in the scratch
    // file. For a window of a large sheet, where the rest is never shown.
    void OpenRows(const std::string& sheetPath, int32_t firstRow, int32_t rowCount);
    // Opens the rows an export at 1/step reads of the window of rows firstRow to firstRow +
    // rowCount - 1 (to the sheet's end where rowCount is negative): its last row and every
    // step-th row above it. A strip that holds none of them is scanned, not unpacked, and
    // its rows are not held.
    void OpenSample(const std::string& sheetPath, int32_t firstRow, int32_t rowCount, int32_t step);
    // The rows an export at rate samples: every step-th.
    static int64_t SampleStep(long double rate);
    void ReadResolution(int32_t xOffset, int32_t yOffset);
    void Draw(int32_t col, int32_t row, int32_t cols, int32_t rows, long double rate);
    void SaveBitmap(int32_t col, int32_t row, int32_t cols, int32_t rows, long double rate,
                    const std::string& fileName);
    // The picture SaveBitmap writes, as an 8-bit PNG with the same 16 colours; with Smooth
    // below rate 1, an RGB PNG of each block's average colour, the blocks ending on the rows
    // SaveBitmap samples.
    void SavePng(int32_t col, int32_t row, int32_t cols, int32_t rows, long double rate,
                 const std::string& fileName);
    void InitPalette();

    // The pixel byte at a sheet position, from the scratch file; false where there is none.
    bool PixelAt(int32_t col, int32_t row, uint8_t& value) const;
    // Whether the scratch file holds every row of the window, cut to the sheet: a damaged
    // sheet may end before Height rows.
    bool HoldsRows(int32_t row, int32_t rows) const;
    bool HoldsRow(int64_t row) const;

    // How many bytes of a sheet an open reads (header, directory, tables, resolution and
    // strips), as far as the bytes already in partial tell: a caller with fewer copies more
    // and asks again, until the answer stops growing.
    static int64_t BytesNeeded(rt::TBinaryFile& partial);

    // Removes the shared scratch files in dir that no process uses any more: "tiff.tmp"
    // when no one holds the lock, "tiff-PID.tmp" when its process has gone.
    static void RemoveStaleScratch(const std::string& dir);

    // True while OpenFile runs (its strips let pending window events run).
    bool IsOpening() const { return Opening; }
    // Asks a running OpenFile to stop before its next strip; it then raises rt::EAbort.
    void RequestStop() { StopRequested = Opening; }

    static void SwapWords(void* buffer, int32_t byteCount);
    static void SwapLongHalves(void* buffer, int32_t byteCount);
    // Unpacks one two-byte unit (count byte n from -127 to 0, value byte v) at dest and
    // returns how many bytes it wrote.
    static int32_t UnpackRun(const uint8_t* unitAddr, uint8_t* dest);

    // Largest accepted sheet side in pixels.
    static constexpr int32_t kMaxSide = 1048576;

    rt::TBinaryFile SourceFile;
    rt::TBinaryFile ScratchFile;
    std::string ScratchPath;
    std::string SheetName;
    int32_t StripCount = 0;
    int32_t RowsWritten = 0;
    // The first row the scratch file holds: 0, but for OpenRows.
    int32_t FirstRow = 0;
    // Bytes the last open unpacked but could not place: incomplete rows at the ends of
    // strips and count bytes whose value never came.
    int64_t DroppedBytes = 0;
    // Set when the last open met a strip it could not read whole (a copy cut short, a read
    // error of a scratched disc): the unpacking ended there, and the rows before the fault
    // are the sheet's rows that RowsWritten counts.
    std::optional<rt::EInOutError> Damage;
    int32_t Width = 0;
    int32_t Height = 0;
    int32_t XDpi = 0;
    int32_t YDpi = 0;
    std::unique_ptr<rt::TBitmap> WorkBitmap;
    bool Loaded = false;
    // Rows a view will show at once: an open of the whole sheet unpacks them before the
    // others (moved up to end at the sheet's last row where they would run past it).
    struct TRows {
        int32_t First = 0, Count = 0;
    };
    TRows ShowFirst;
    // Called while an open runs, after each strip's rows are in the scratch file: HoldsRows
    // tells which rows may be drawn already.
    std::function<void()> OnRows;
    rt::TCanvasSurface* TargetCanvas = nullptr;
    std::array<bool, 9> PlateVisible{};     // 1 to 8
    std::array<rt::TColor, 9> PlateColor{}; // 0 (background) to 8
    // SaveBitmap and SavePng put the file on the disk before it replaces an old one: what a
    // user saves; off for the many exports of a batch.
    bool SyncSaves = false;
    // Below rate 1, Draw shows each block's average colour instead of its top-left pixel.
    bool Smooth = false;
    // Opens unpack on a thread of the worker while this one writes, and a view's rows come
    // in there while this one runs the events, where one is idle; off where sheets are
    // already opened one per core.
    bool DecodeAhead = true;
    rt::TProgressBar* Gauge = nullptr;
    std::array<uint8_t, 8> Header{};
    std::array<TDirEntry, 15> DirEntries{}; // 1 to 14

private:
    void Open(const std::string& sheetPath, int64_t firstRow, int64_t rowCount, int32_t step);
    // Whether the file holds the count rows step apart that end on the window's last row.
    bool HoldsSamples(int64_t row, int64_t rows, int64_t step, int64_t count) const;
    struct TStripTables {
        std::vector<uint32_t> Offsets, ByteCounts;
    };
    TStripTables ReadStripTables();
    // Unpacks rows firstRow to firstRow + rowCount - 1 to their place in the scratch file.
    void UnpackStrips(int32_t compression, const TStripTables& tables, int64_t firstRow,
                      int64_t rowCount, const TStripWalk::TSample& sample);
    // Unpacks a view's rows on a thread of the worker while this one runs the events;
    // answers how many came in a row from first.
    int64_t UnpackView(int32_t compression, const TStripTables& tables, int64_t first,
                       int64_t count);
    // Takes in what one strip gave; false when it ends the unpacking.
    bool TakeResult(const TStripResult& result);
    void AcquireSharedScratch();
    // The scratch file stays open for reading from the first picture until the next open,
    // and mapped whole once mapWhole asks for it. Returns its size.
    int64_t OpenScratchForReading(bool mapWhole);
    std::array<uint8_t, 256> PlateIndexTable() const;
    rt::TFileView::TAccess ExportAccess(int64_t step, size_t readLen) const;
    // The scratch bytes start to end - 1 are those of the picture on the canvas: the pages
    // the last one read and this one does not are given back.
    void ShowPages(int64_t start, int64_t end);
    // Gives back the pages of start to end - 1 that the picture on the canvas does not read.
    void ReleasePages(int64_t start, int64_t end);

    bool Opening = false;
    std::atomic<bool> StopRequested = false; // read by a view's unpacking on another thread
    std::string SharedDir;                   // set while the shared "tiff.tmp" may still be ours
    rt::TFileLock ScratchLock;               // held while "tiff.tmp" is ours
    rt::TBinaryFile ScratchRows;        // the scratch file open for reading, from the first picture
    int64_t ViewFirst = 0, ViewEnd = 0; // rows unpacked ahead for a view while an open runs
    // Rows a sampled open passed without unpacking them, [first, end) in order.
    std::vector<std::pair<int64_t, int64_t>> Holes;
    // The scratch file mapped whole from the first picture until the next open.
    std::unique_ptr<rt::TFileMap> ScratchMap;
    int64_t ShownStart = 0, ShownEnd = 0;
    int32_t Pictures = 0; // drawn since the open
};
