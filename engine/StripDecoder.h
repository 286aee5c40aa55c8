#pragma once
// Reads and unpacks a sheet's strips on a thread of its own, a few strips ahead of the one
// that writes the rows: an open then costs about what the slower of the two does, on two
// cores. The rows come in strip order, whole, each strip's with the bytes it dropped; a
// strip cut short ends the walk after the rows it completed, and a failure while a strip is
// unpacked comes with it, after the rows it completed.

#include "engine/RowSink.h"
#include "runtime/BinaryFile.h"

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

class TStripDecoder {
public:
    // source is read by the decoder alone until it is destroyed.
    TStripDecoder(rt::TBinaryFile& source, const std::vector<uint32_t>& offsets,
                  const std::vector<uint32_t>& byteCounts, bool packed, size_t rowBytes,
                  int64_t maxRows);
    // Stops the thread, whatever it was doing.
    ~TStripDecoder();
    TStripDecoder(const TStripDecoder&) = delete;
    TStripDecoder& operator=(const TStripDecoder&) = delete;

    // Hands the rows of the next strip to write and answers what the strip gave; raises
    // what failed in it once its rows are written.
    TStripResult TakeStrip(const std::function<void(const uint8_t*, size_t)>& write);
    // Every row wanted has been taken: the strips left need not be read.
    bool Done() const { return Finished; }

private:
    struct TPiece {
        std::vector<uint8_t> Rows;
        bool EndOfStrip = false;
        bool Last = false; // no strip follows: every row wanted is there, or all strips read
        TStripResult Result;
        std::exception_ptr Error;
    };
    void Run();
    void Push(TPiece piece);
    std::vector<uint8_t> FreeBuffer();

    rt::TBinaryFile& Source;
    const std::vector<uint32_t>& Offsets;
    const std::vector<uint32_t>& ByteCounts;
    const bool Packed;
    const size_t RowBytes;
    const int64_t MaxRows;

    std::mutex Lock;
    std::condition_variable Changed;
    std::deque<TPiece> Queue;
    std::vector<std::vector<uint8_t>> Free;
    bool Stopping = false;
    bool Finished = false;
    TPiece Filling;
    std::thread Worker;
};
