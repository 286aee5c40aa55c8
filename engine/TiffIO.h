#pragma once
// TTiff, the map image object: reads a map sheet, unpacks its strips into the scratch
// raster file, composes the plates into colours, draws a window of the sheet onto the
// view's canvas and exports bitmaps.

#include "engine/ScratchRaster.h"
#include "engine/SheetOpen.h"
#include "engine/Window.h"
#include "runtime/BinaryFile.h"
#include "runtime/Bitmap.h"
#include "runtime/Canvas.h"
#include "runtime/Errors.h"
#include "runtime/Progress.h"
#include "runtime/Worker.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

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

    // Opens a sheet on this thread: the object's fields follow the open as it goes (the
    // gauge, OnRows), and what ends it early is raised.
    void OpenFile(const std::string& sheetPath);
    // Opens a sheet as OpenFile does on a thread of the worker, so that this one is never
    // held by the sheet's reads: Poll takes in how far it has come, FinishOpen its end.
    void StartOpen(const std::string& sheetPath);
    // Takes in what the open has done since the last call: the fields, the gauge, OnRows.
    // Answers whether the open is over; FinishOpen then ends it. What the gauge refuses
    // stops the open and is raised.
    bool Poll();
    // Called on the open's own thread when an open that StartOpen began has a view's rows in
    // or has read its directory: a window can then ask Poll at once rather than at its next
    // turn. It must only hand a call over to the window's thread.
    std::function<void()> OnNews;
    // The window has shown the view's rows of an open that StartOpen began with OnNews set:
    // the rest of the sheet, which waits for it a moment at most, follows.
    void ViewShown();
    // Waits for the open that StartOpen began and raises what ended it early.
    void FinishOpen();
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

    // True from the start of an open to its end.
    bool IsOpening() const { return Opening; }
    // Asks a running open to stop before its next strip; it then raises rt::EAbort. A read
    // that stalls holds only the open's thread.
    void RequestStop();

    static void SwapWords(void* buffer, int32_t byteCount);
    static void SwapLongHalves(void* buffer, int32_t byteCount);
    // Unpacks one two-byte unit (count byte n from -127 to 0, value byte v) at dest and
    // returns how many bytes it wrote.
    static int32_t UnpackRun(const uint8_t* unitAddr, uint8_t* dest);

    // Largest accepted sheet side in pixels.
    static constexpr int32_t kMaxSide = sheetdir::kMaxSide;

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
    // Called on this object's thread while an open runs, as its rows come in (from OpenFile,
    // or from Poll): HoldsRows tells which rows may be drawn already.
    std::function<void()> OnRows;
    rt::TCanvasSurface* TargetCanvas = nullptr;
    std::array<bool, 9> PlateVisible{};     // 1 to 8
    std::array<rt::TColor, 9> PlateColor{}; // 0 (background) to 8
    // SaveBitmap and SavePng put the file on the disk before it replaces an old one: what a
    // user saves; off for the many exports of a batch.
    bool SyncSaves = false;
    // Below rate 1, Draw shows each block's average colour instead of its top-left pixel.
    bool Smooth = false;
    // Opens unpack on a thread of the worker while their own thread writes, where one is
    // idle; off where sheets are already opened one per core.
    bool DecodeAhead = true;
    rt::TProgressBar* Gauge = nullptr;
    std::array<uint8_t, 8> Header{};
    std::array<TDirEntry, 15> DirEntries{}; // 1 to 14

private:
    void Open(const std::string& sheetPath, int64_t firstRow, int64_t rowCount, int32_t step);
    TOpenRequest Begin(const std::string& sheetPath, int64_t firstRow, int64_t rowCount,
                       int32_t step);
    // Takes in what an open knows, on this object's thread.
    void TakeIn(const TOpenState& state);
    // Takes in the last state and ends the open.
    void End(const TOpenState& state, bool completed);
    void FinishOpen(bool quiet);
    // Whether the file holds the count rows step apart that end on the window's last row.
    bool HoldsSamples(int64_t row, int64_t rows, int64_t step, int64_t count) const;
    // The window of a save or a PNG, refused where the sheet does not hold its rows.
    TWindow ExportWindow(int32_t col, int32_t row, int32_t cols, int32_t rows,
                         long double rate) const;

    bool Opening = false;
    bool GaugeSet = false; // the gauge took the open's strips
    // The open StartOpen began, on a thread of the worker, and what it last published.
    std::unique_ptr<rt::TWorker> OpenThread; // made by the first StartOpen
    std::unique_ptr<TSheetOpen> Running;
    TSheetOpen* Current = nullptr; // the open running, on whichever thread
    rt::TTask<void> RunningTask;
    std::mutex PublishedLock;
    TOpenState Published;
    bool PublishedNew = false;
    // The scratch file and the rows the last open left in it.
    std::unique_ptr<TScratchRaster> Raster;
    THeldRows Held;
    int32_t Pictures = 0; // drawn since the open
};
