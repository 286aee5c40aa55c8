#pragma once
// Gathers unpacked bytes into rows and hands whole rows on, many rows at a time. A run that
// crosses the end of a row goes on in the next row; at the end of a strip an incomplete
// row is dropped. No more than a given number of rows is ever handed on.

#include "runtime/BinaryFile.h"

#include "runtime/Errors.h"

#include <algorithm>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

class TRowSink {
public:
    using TWrite = std::function<void(const uint8_t* rows, size_t bytes)>;
    TRowSink(TWrite write, size_t rowBytes, int64_t maxRows);

    // All the rows wanted are written: the rest of the sheet need not be unpacked.
    bool Full() const { return Done; }
    // The rows gathered, written or not, are all the rows wanted.
    bool Complete() const {
        const int64_t gathered = int64_t(Filled / RowBytes);
        return Done || Rows + gathered - std::min(Skip, gathered) >= MaxRows;
    }
    int64_t RowsWritten() const { return Rows; }

    // Where the next bytes go, and the end of the room there: at least one whole run.
    uint8_t* Dest() { return Buffer.get() + Filled; }
    uint8_t* Limit() { return Buffer.get() + BufferSize; }
    // n bytes were written at Dest.
    void Advance(size_t n);
    // Copies bytes in (an uncompressed strip); answers how many it took.
    size_t Put(const uint8_t* p, size_t n);
    // The next n whole rows are dropped, not written: rows before a window.
    void SkipRows(int64_t n) { Skip = n; }
    // Passes n rows that are not unpacked at all (a strip a sampled walk does not need):
    // the write is told their bytes with no rows, where a hole stands for them.
    void Pass(int64_t n);
    // The strip ended: answers how many bytes of an incomplete row it drops.
    size_t EndStrip();
    // Writes the whole rows gathered so far.
    void Flush();
    // Bytes gathered past the last row wanted, when the sink filled up.
    size_t Surplus() const { return Beyond; }
    size_t RowSize() const { return RowBytes; }

private:
    TWrite Write;
    size_t RowBytes;
    size_t Capacity;
    int64_t MaxRows;
    // Never more than the rows wanted, and never cleared: only what is unpacked is read.
    std::unique_ptr<uint8_t[]> Buffer;
    size_t BufferSize;
    size_t Filled = 0;
    int64_t Rows = 0;
    int64_t Skip = 0;
    bool Done = false;
    size_t Beyond = 0;
};

// The buffer packed bytes are read into, a chunk of a strip at a time: 64 KiB, or the
// largest strip or the whole file where that is smaller.
std::vector<uint8_t> StripChunk(const std::vector<uint32_t>& byteCounts, int64_t fileSize);

// What one strip gave: the bytes its end dropped and, where it could not be read whole (the
// file ends inside it, a read error), the error that cut it short.
struct TStripResult {
    int64_t Dropped = 0;
    std::optional<rt::EInOutError> Cut;
};

// Reads one strip of byteCount bytes at offset, in chunks, and unpacks it into the sink
// (PackBits, or copied as it is). A strip cut short gives the whole rows its bytes hold. Once
// the sink is full, the rest of the strip is only scanned: what it leaves of an incomplete row
// counts as dropped.
TStripResult UnpackStrip(rt::TBinaryFile& source, uint32_t offset, uint32_t byteCount, bool packed,
                         TRowSink& sink, std::vector<uint8_t>& chunk);
// The same for a strip whose bytes are all at hand.
TStripResult UnpackBytes(const uint8_t* bytes, uint32_t byteCount, bool packed, TRowSink& sink);
