#pragma once
// The open of a sheet: its header and first directory read, its strips unpacked into the
// scratch file. An open runs on one thread, the worker's or the caller's; it alone reads the
// sheet and writes the scratch file, and it touches nothing of the map image object: what it
// knows is handed on as a value, which the object takes in on its own thread.

#include "engine/SheetDirectory.h"
#include "runtime/BinaryFile.h"
#include "runtime/Errors.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

struct TOpenRequest {
    std::string SheetPath, ScratchPath;
    // The rows wanted (to the sheet's end where RowCount is negative), every Step-th of them.
    int64_t FirstRow = 0, RowCount = -1;
    int32_t Step = 1;
    // Rows a view shows: an open of the whole sheet unpacks them first.
    int64_t ViewFirst = 0, ViewCount = 0;
    bool DecodeAhead = true;
    // The rest of the sheet waits, a moment at most, until a window has shown the view's
    // rows: the walk's threads do not take the cores from its first paint.
    bool WaitForView = false;
};

// What an open knows so far.
struct TOpenState {
    bool DirectoryRead = false; // the sheet's size and strips below are known
    TSheetDirectory Directory;
    bool ResolutionRead = false; // the sheet states both resolutions
    int32_t XDpi = 0, YDpi = 0;
    int32_t Strip = 0; // the strip the walk has come to
    int32_t FirstRow = 0, RowsWritten = 0;
    int64_t DroppedBytes = 0;
    std::optional<rt::EInOutError> Damage;
    // Rows in the scratch file ahead of the walk (a view's), held only while the open runs.
    int64_t ViewFirst = 0, ViewEnd = 0;
    // Rows a sampled open passed without unpacking them, [first, end) in order.
    std::vector<std::pair<int64_t, int64_t>> Holes;
};

class TSheetOpen {
public:
    // publish is called on the open's thread each time the state has moved on: once the
    // directory is read, once a view's rows are in, after each strip. What it raises ends
    // the open.
    using TPublish = std::function<void(const TOpenState&)>;
    TSheetOpen(TOpenRequest request, TPublish publish);

    // Runs the open to its end and raises what ended it early (rt::EAbort when stopped).
    void Run();
    // Heard before the next strip, and inside a view's rows.
    void RequestStop();
    // The window has shown the view's rows: the rest of the sheet follows.
    void ViewShown();
    const TOpenState& State() const { return S; }

private:
    void ReadDirectory();
    void CheckSpace(int64_t firstRow, int64_t rowCount);
    int64_t UnpackView(const TStripTables& tables, int64_t first, int64_t count);
    void UnpackStrips(const TStripTables& tables, int64_t firstRow, int64_t rowCount);
    void Publish();

    const TOpenRequest Request;
    const TPublish PublishTo;
    std::atomic<bool> Stop = false;
    std::mutex ViewLock;
    std::condition_variable ViewChanged;
    bool Shown = false;
    TOpenState S;
    rt::TBinaryFile Source, Scratch;
};
