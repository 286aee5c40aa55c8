#include "engine/StripWalk.h"

#include "engine/PackBits.h"

#include <algorithm>
#include <utility>

namespace {

// Pieces of about this size travel between the threads; a few of them at most are on the
// way, so that memory stays bounded whatever the sheet's size.
constexpr size_t kPieceBytes = 512 * 1024;
constexpr size_t kPiecesAhead = 6;
// Strips are scanned for their length as they are read ahead this many bytes at a time, a
// large one in pieces: a fresh page of the buffer costs a fault of its own.
constexpr int64_t kScanPiece = 256 * 1024;

} // namespace

uint64_t TStripWalk::ScanLength(size_t s) {
    const uint32_t offset = Sheet.Offsets[s], byteCount = Sheet.ByteCounts[s];
    // Read ahead a window at a time into one buffer, a large strip in pieces: a read of the
    // page cache costs less than mapping its pages (a fifth less for a window of a wide
    // sheet here), and a file cut meanwhile is a short read.
    if (!Scanned) {
        const int64_t size = std::max<int64_t>(Source.FileSize(), 1);
        Scanned = std::make_unique<rt::TFileView>(Source, size_t(std::min(kScanPiece, size)),
                                                  rt::TFileView::kReadAhead, nullptr, kScanPiece);
    }
    // An uncompressed strip is as long as its bytes, but they must be there, as for the walk
    // that reads them: past the file's end is a short read.
    packbits::TState state;
    uint64_t length = 0;
    for (uint32_t done = 0; done < byteCount;) {
        const uint32_t n = uint32_t(std::min<int64_t>(byteCount - done, kScanPiece));
        const uint8_t* bytes = Scanned->Get(int64_t(offset) + done, n);
        length += Sheet.Packed ? packbits::Scan(bytes, bytes + n, state) : n;
        done += n;
    }
    return length;
}

TStripWalk::TStripWalk(rt::TBinaryFile& source, const TSheet& sheet, int64_t first, int64_t count,
                       bool ahead, TSample sample)
    : Source(source), Sheet(sheet), First(first), Count(count), Sample(sample) {
    if (ahead) Producer = rt::TWorker::Shared().TryStart([this] { Produce(); });
    if (Producer.Valid()) return;
    Chunk = StripChunk(Sheet.ByteCounts, Source.FileSize());
    Sink.emplace(
        [this](const uint8_t* rows, size_t bytes) {
            try {
                (*Write)(rows, bytes);
            } catch (...) {
                SinkFailed = true; // its rows may be partly written: never again
                throw;
            }
        },
        Sheet.RowBytes, Count);
}

TStripWalk::~TStripWalk() {
    if (!Producer.Valid()) return;
    {
        std::lock_guard<std::mutex> guard(Lock);
        Stopping = true;
    }
    Changed.notify_all();
    try {
        Producer.Get(); // it ends at its next piece
    } catch (...) {
        // Its failure was handed on with its pieces, or no one is left to hear of it.
    }
}

TStripResult TStripWalk::Walk(size_t s, TRowSink& sink, std::vector<uint8_t>& chunk) {
    const uint32_t offset = Sheet.Offsets[s], byteCount = Sheet.ByteCounts[s];
    if ((Top >= First && Sample.Step <= 1) || !TopKnown) return Unpack(s, sink, chunk);
    // Each strip starts a row: its rows are known from its length alone.
    uint64_t length = 0;
    try {
        length = ScanLength(s);
    } catch (const rt::EInOutError&) {
        // A strip cut short gives the whole rows its bytes hold, in their place, and ends
        // the walk, as in the whole walk.
        if (Top < First) sink.SkipRows(First - Top);
        TopKnown = false;
        return UnpackStrip(Source, offset, byteCount, Sheet.Packed, sink, chunk);
    }
    const int64_t top = Top, rows = int64_t(length / Sheet.RowBytes);
    Top += rows;
    if (Top <= First) return {};
    // The first strip of the window may begin before it; the sink is empty then.
    if (top < First) sink.SkipRows(First - top);
    if (!Sample.Wants(std::max(top, First), Top)) {
        sink.Pass(Top - std::max(top, First)); // its rows in the window
        return {};
    }
    return Unpack(s, sink, chunk);
}

TStripResult TStripWalk::Unpack(size_t s, TRowSink& sink, std::vector<uint8_t>& chunk) {
    const uint32_t offset = Sheet.Offsets[s], byteCount = Sheet.ByteCounts[s];
    // A walk that scans has the strips read ahead, the one just scanned among them: a strip
    // there whole is unpacked where it lies. One the buffer cannot give (past the file's
    // end, a read error in its window) is read on its own, which tells what is wrong.
    if (Scanned && TopKnown && byteCount <= kScanPiece) {
        const uint8_t* bytes = nullptr;
        try {
            bytes = Scanned->Get(offset, byteCount);
        } catch (const rt::EInOutError&) {
            // Told by the strip's own read below.
        }
        if (bytes) return UnpackBytes(bytes, byteCount, Sheet.Packed, sink);
    }
    return UnpackStrip(Source, offset, byteCount, Sheet.Packed, sink, chunk);
}

bool TStripWalk::TSample::Wants(int64_t top, int64_t end) const {
    if (Step <= 1) return top < end;
    const int64_t from = std::max(top, FirstWanted);
    const int64_t off = (from - FirstWanted) % Step;
    return (off ? from + Step - off : from) < end;
}

bool TStripWalk::Over(const TRowSink& sink, const TStripResult& last) const {
    return sink.Full() || Strip >= Sheet.Offsets.size() || last.Cut;
}

std::optional<TStripResult> TStripWalk::Next(const TRowSink::TWrite& write) {
    if (!Producer.Valid()) {
        if (Finished || Over(*Sink, {})) return std::nullopt;
        Write = &write;
        TStripResult r;
        try {
            r = Walk(Strip++, *Sink, Chunk);
        } catch (...) {
            FlushAfterFailure(*Sink); // the rows it completed
            throw;
        }
        // Rows go out many to a write (a strip may hold one): a strip's rows are written
        // at once only where they end the walk.
        Finished = Sink->Complete() || Over(*Sink, r);
        if (Finished) Sink->Flush();
        return r;
    }
    for (;;) {
        TPiece piece;
        {
            std::unique_lock<std::mutex> guard(Lock);
            Changed.wait(guard, [this] { return !Queue.empty() || Ended; });
            if (Queue.empty()) {
                if (EndError) std::rethrow_exception(std::exchange(EndError, nullptr));
                return std::nullopt;
            }
            piece = std::move(Queue.front());
            Queue.pop_front();
        }
        Changed.notify_all();
        if (!piece.Rows.empty()) write(piece.Rows.data(), piece.Rows.size());
        if (piece.Gap > 0) write(nullptr, piece.Gap);
        {
            std::lock_guard<std::mutex> guard(Lock);
            Free.push_back(std::move(piece.Rows));
        }
        if (piece.Error) std::rethrow_exception(piece.Error);
        if (piece.EndOfStrip) return piece.Result;
    }
}

std::vector<uint8_t> TStripWalk::FreeBuffer() {
    std::lock_guard<std::mutex> guard(Lock);
    if (Free.empty()) return {};
    std::vector<uint8_t> b = std::move(Free.back());
    Free.pop_back();
    b.clear();
    return b;
}

void TStripWalk::Push() {
    std::unique_lock<std::mutex> guard(Lock);
    Changed.wait(guard, [this] { return Stopping || Queue.size() < kPiecesAhead; });
    if (Stopping) throw TStopped{};
    Queue.push_back(std::move(Filling));
    guard.unlock();
    Changed.notify_all();
    Filling = TPiece{};
}

void TStripWalk::Append(const uint8_t* rows, size_t bytes) {
    try {
        if (!rows) { // a gap goes after the rows before it, and nothing follows it in a piece
            Filling.Gap = bytes;
            Push();
            Filling.Rows = FreeBuffer();
            return;
        }
        Filling.Rows.insert(Filling.Rows.end(), rows, rows + bytes);
        if (Filling.Rows.size() < kPieceBytes) return;
        Push();
        Filling.Rows = FreeBuffer();
    } catch (const TStopped&) {
        SinkFailed = Stopped = true;
        throw;
    } catch (...) {
        SinkFailed = true; // its rows may be partly queued: never again
        throw;
    }
}

void TStripWalk::FlushAfterFailure(TRowSink& sink) {
    if (SinkFailed) return;
    try {
        sink.Flush();
    } catch (...) {
        // The failure that came first is the one told.
    }
}

void TStripWalk::Produce() {
    std::exception_ptr failed;
    try {
        std::vector<uint8_t> chunk = StripChunk(Sheet.ByteCounts, Source.FileSize());
        TRowSink sink([this](const uint8_t* rows, size_t bytes) { Append(rows, bytes); },
                      Sheet.RowBytes, Count);
        for (bool over = Over(sink, {}); !over;) {
            try {
                Filling.Result = Walk(Strip++, sink, chunk);
                sink.Flush();
            } catch (const TStopped&) {
                throw;
            } catch (...) {
                Filling.Error = std::current_exception();
                FlushAfterFailure(sink); // the rows it completed
                if (Stopped) throw TStopped{};
            }
            Filling.EndOfStrip = true;
            over = Filling.Error || Over(sink, Filling.Result);
            Push();
            if (!over) Filling.Rows = FreeBuffer();
        }
    } catch (const TStopped&) {
    } catch (...) {
        failed = std::current_exception(); // outside a strip: memory, most likely
    }
    {
        std::lock_guard<std::mutex> guard(Lock);
        Ended = true;
        EndError = failed;
    }
    Changed.notify_all();
}
