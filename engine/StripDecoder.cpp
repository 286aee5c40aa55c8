#include "engine/StripDecoder.h"

#include <algorithm>

namespace {
// Pieces of about this size travel between the threads; a few of them at most are on the
// way, so that memory stays bounded whatever the sheet's size.
constexpr size_t kPieceBytes = 512 * 1024;
constexpr size_t kPiecesAhead = 6;
} // namespace

TStripDecoder::TStripDecoder(rt::TBinaryFile& source, const std::vector<uint32_t>& offsets,
                             const std::vector<uint32_t>& byteCounts, bool packed, size_t rowBytes,
                             int64_t maxRows)
    : Source(source), Offsets(offsets), ByteCounts(byteCounts), Packed(packed), RowBytes(rowBytes),
      MaxRows(maxRows), Worker([this] { Run(); }) {}

TStripDecoder::~TStripDecoder() {
    {
        std::lock_guard<std::mutex> guard(Lock);
        Stopping = true;
    }
    Changed.notify_all();
    Worker.join();
}

std::vector<uint8_t> TStripDecoder::FreeBuffer() {
    std::lock_guard<std::mutex> guard(Lock);
    if (Free.empty()) return {};
    std::vector<uint8_t> b = std::move(Free.back());
    Free.pop_back();
    b.clear();
    return b;
}

void TStripDecoder::Push(TPiece piece) {
    std::unique_lock<std::mutex> guard(Lock);
    Changed.wait(guard, [this] { return Stopping || Queue.size() < kPiecesAhead; });
    Queue.push_back(std::move(piece));
    guard.unlock();
    Changed.notify_all();
}

void TStripDecoder::Run() {
    auto stopping = [this] {
        std::lock_guard<std::mutex> guard(Lock);
        return Stopping;
    };
    Filling.Rows = FreeBuffer();
    TRowSink sink(
        [this](const uint8_t* rows, size_t bytes) {
            Filling.Rows.insert(Filling.Rows.end(), rows, rows + bytes);
            if (Filling.Rows.size() >= kPieceBytes) {
                Push(std::move(Filling));
                Filling = TPiece{};
                Filling.Rows = FreeBuffer();
            }
        },
        RowBytes, MaxRows);
    std::vector<uint8_t> chunk = StripChunk(ByteCounts, Source.FileSize());
    for (size_t s = 0; s < Offsets.size() && !sink.Full(); ++s) {
        if (stopping()) return;
        try {
            Filling.Result = UnpackStrip(Source, Offsets[s], ByteCounts[s], Packed, sink, chunk);
            sink.Flush();
        } catch (...) {
            Filling.Error = std::current_exception();
            try {
                sink.Flush(); // the rows it completed
            } catch (...) {
            }
        }
        Filling.EndOfStrip = true;
        Filling.Last =
            sink.Full() || s + 1 == Offsets.size() || Filling.Error || Filling.Result.Cut;
        const bool last = Filling.Last;
        Push(std::move(Filling));
        Filling = TPiece{};
        if (last) return;
        Filling.Rows = FreeBuffer();
    }
    Filling.EndOfStrip = Filling.Last = true; // no strips at all, or no rows wanted
    Push(std::move(Filling));
}

TStripResult TStripDecoder::TakeStrip(const std::function<void(const uint8_t*, size_t)>& write) {
    for (;;) {
        TPiece piece;
        {
            std::unique_lock<std::mutex> guard(Lock);
            Changed.wait(guard, [this] { return !Queue.empty(); });
            piece = std::move(Queue.front());
            Queue.pop_front();
        }
        Changed.notify_all();
        if (piece.Last) Finished = true;
        if (!piece.Rows.empty()) write(piece.Rows.data(), piece.Rows.size());
        {
            std::lock_guard<std::mutex> guard(Lock);
            Free.push_back(std::move(piece.Rows));
        }
        if (piece.Error) std::rethrow_exception(piece.Error);
        if (piece.EndOfStrip) return piece.Result;
    }
}
