#pragma once
// The strips of a sheet, walked in order: each read, unpacked into rows and the rows handed
// to the caller's write on the caller's thread. Walked ahead, the strips are read and
// unpacked a few at a time on a thread of the process's worker while the caller writes,
// so that an open costs about what the slower of the two does.
//
// Only the rows of the window wanted are handed on: the strips before it are scanned for the
// length they unpack to, not unpacked. A row's place is what the strips before it unpack to,
// never what the sheet's RowsPerStrip claims. A strip cut short (the file ends inside it, a
// read error) ends the walk after the whole rows its bytes hold.

#include "engine/RowSink.h"
#include "runtime/BinaryFile.h"
#include "runtime/FileView.h"
#include "runtime/Worker.h"

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <exception>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

class TStripWalk {
public:
    struct TSheet {
        const std::vector<uint32_t>& Offsets;
        const std::vector<uint32_t>& ByteCounts;
        bool Packed;
        size_t RowBytes;
    };
    // The rows a reduction samples: FirstWanted and every Step-th row after it. A strip that
    // holds none of them is scanned for its rows and passed: its rows are handed on as a gap.
    struct TSample {
        int64_t Step = 1, FirstWanted = 0;
        // Whether rows top to end - 1 hold a row wanted.
        bool Wants(int64_t top, int64_t end) const;
    };
    // Rows first to first + count - 1 are handed on. With ahead, the walk runs on a thread
    // of the worker where one is idle, and on the caller's otherwise. source is the walk's
    // alone until it ends.
    TStripWalk(rt::TBinaryFile& source, const TSheet& sheet, int64_t first, int64_t count,
               bool ahead, TSample sample);
    // Stops the walk, inside a strip too, and waits for its thread.
    ~TStripWalk();
    TStripWalk(const TStripWalk&) = delete;
    TStripWalk& operator=(const TStripWalk&) = delete;

    // Walks the next strip, handing rows to write many at a time (all that are gathered once
    // the walk ends), and answers what the strip gave;
    // nothing once the walk is over (every row wanted handed on, every strip walked, or one
    // cut short). Raises what failed in a strip once the rows it completed are written.
    std::optional<TStripResult> Next(const TRowSink::TWrite& write);
    bool Ahead() const { return Producer.Valid(); }

private:
    // One strip into the sink, or past it when it lies wholly before the window.
    TStripResult Walk(size_t strip, TRowSink& sink, std::vector<uint8_t>& chunk);
    TStripResult Unpack(size_t strip, TRowSink& sink, std::vector<uint8_t>& chunk);
    bool Over(const TRowSink& sink, const TStripResult& last) const;
    // After a failure in a strip, the whole rows it completed go on, unless handing rows on
    // is what failed.
    void FlushAfterFailure(TRowSink& sink);
    bool SinkFailed = false;
    bool Stopped = false; // the walk ahead was told to stop while handing rows on

    // Walking ahead: pieces of rows travel from the worker's thread to the caller's.
    struct TPiece {
        std::vector<uint8_t> Rows;
        size_t Gap = 0; // bytes of rows passed unread, after Rows
        bool EndOfStrip = false;
        TStripResult Result;
        std::exception_ptr Error;
    };
    struct TStopped {}; // unwinds the walk ahead, inside a strip too
    void Produce();
    void Append(const uint8_t* rows, size_t bytes);
    void Push();
    std::vector<uint8_t> FreeBuffer();

    rt::TBinaryFile& Source;
    const TSheet Sheet;
    const int64_t First, Count;
    const TSample Sample;
    // The first row of the next strip, while the strips walked so far were scanned: up to
    // the window, and throughout a sampled walk.
    int64_t Top = 0;
    // The strips before the window are scanned as they are read ahead, a window of the
    // sheet at a time into one buffer; a file cut meanwhile is a short read.
    std::unique_ptr<rt::TFileView> Scanned;
    uint64_t ScanLength(size_t s);
    bool TopKnown = true; // false after a strip that could not be scanned: it ends the walk
    size_t Strip = 0;     // the next strip

    // Walked on the caller's thread.
    std::optional<TRowSink> Sink;
    std::vector<uint8_t> Chunk;
    const TRowSink::TWrite* Write = nullptr;
    bool Finished = false;

    // Walked ahead.
    std::mutex Lock;
    std::condition_variable Changed;
    std::deque<TPiece> Queue;
    std::vector<std::vector<uint8_t>> Free;
    bool Stopping = false;
    bool Ended = false; // no piece follows those queued
    std::exception_ptr EndError;
    TPiece Filling;
    rt::TTask<void> Producer;
};
