#include "engine/RowSink.h"

#include "engine/PackBits.h"

#include <algorithm>
#include <cstring>

namespace {
// Complete rows are gathered up to about this many bytes before one write.
constexpr size_t kBatchBytes = 256 * 1024;
} // namespace

TRowSink::TRowSink(TWrite write, size_t rowBytes, int64_t maxRows)
    : Write(std::move(write)), RowBytes(std::max<size_t>(rowBytes, 1)),
      Capacity(size_t(std::clamp<int64_t>(int64_t(kBatchBytes / RowBytes), 1,
                                          std::max<int64_t>(maxRows, 1))) *
               RowBytes),
      MaxRows(maxRows), BufferSize(Capacity + packbits::kMaxRun), Done(maxRows <= 0) {
    Buffer = std::make_unique_for_overwrite<uint8_t[]>(BufferSize);
}

void TRowSink::Advance(size_t n) {
    Filled += n;
    if (Filled >= Capacity) Flush();
}

size_t TRowSink::Put(const uint8_t* p, size_t n) {
    size_t taken = 0;
    while (taken < n && !Done) {
        const size_t take = std::min(n - taken, BufferSize - Filled);
        std::memcpy(Buffer.get() + Filled, p + taken, take);
        taken += take;
        Advance(take);
    }
    return taken;
}

size_t TRowSink::EndStrip() {
    if (Done) return 0;
    const size_t partial = Filled % RowBytes;
    Filled -= partial;
    return partial;
}

std::vector<uint8_t> StripChunk(const std::vector<uint32_t>& byteCounts, int64_t fileSize) {
    const uint32_t most = uint32_t(std::clamp<int64_t>(fileSize, 1, 64 * 1024));
    uint32_t largest = 1;
    for (uint32_t n : byteCounts) largest = std::max(largest, std::min(n, most));
    return std::vector<uint8_t>(largest);
}

namespace {

// Unpacks bytes of a strip into the sink while it takes rows; past its last row they are
// only scanned, for what they leave of an incomplete row (beyond).
void Feed(const uint8_t* p, const uint8_t* end, bool packed, TRowSink& sink,
          packbits::TState& state, uint64_t& beyond) {
    if (!sink.Full()) {
        if (!packed) p += sink.Put(p, size_t(end - p));
        while (packed && p < end && !sink.Full()) {
            uint8_t* out = sink.Dest();
            sink.Advance(size_t(packbits::Decode(p, end, out, sink.Limit(), state) - out));
        }
        if (sink.Full()) beyond = sink.Surplus();
    }
    if (sink.Full()) beyond += packed ? packbits::Scan(p, end, state) : uint64_t(end - p);
}

int64_t Dropped(TRowSink& sink, const packbits::TState& state, uint64_t beyond) {
    const uint64_t open = packbits::Unfinished(state);
    return int64_t(sink.Full() ? beyond % sink.RowSize() + open : sink.EndStrip() + open);
}

} // namespace

TStripResult UnpackStrip(rt::TBinaryFile& source, uint32_t offset, uint32_t byteCount, bool packed,
                         TRowSink& sink, std::vector<uint8_t>& chunk) {
    TStripResult result;
    packbits::TState state;
    uint64_t beyond = 0; // unpacked past the last row wanted
    source.Seek(offset);
    // Behind the last row wanted a strip cut short loses nothing, whether the rows gathered
    // are written yet or not.
    for (uint32_t left = byteCount; left > 0 && !result.Cut;) {
        const size_t wanted = std::min<size_t>(left, chunk.size());
        size_t n = 0;
        try {
            n = source.ReadSome(chunk.data(), wanted);
        } catch (const rt::EInOutError& e) {
            if (!sink.Complete()) result.Cut = e;
            break;
        }
        left = n < wanted ? 0 : left - static_cast<uint32_t>(n);
        Feed(chunk.data(), chunk.data() + n, packed, sink, state, beyond);
        if (n < wanted && !sink.Complete()) result.Cut = rt::EInOutError(rt::kReadPastEnd);
    }
    result.Dropped = Dropped(sink, state, beyond);
    return result;
}

TStripResult UnpackBytes(const uint8_t* bytes, uint32_t byteCount, bool packed, TRowSink& sink) {
    TStripResult result;
    packbits::TState state;
    uint64_t beyond = 0;
    Feed(bytes, bytes + byteCount, packed, sink, state, beyond);
    result.Dropped = Dropped(sink, state, beyond);
    return result;
}

void TRowSink::Pass(int64_t n) {
    Flush();
    Skip = 0; // rows before a window in the strip passed are passed with it
    n = std::min(n, MaxRows - Rows);
    if (Done || n <= 0) return;
    Write(nullptr, size_t(n) * RowBytes);
    Rows += n;
    Done = Rows >= MaxRows;
}

void TRowSink::Flush() {
    size_t rows = Filled / RowBytes;
    const size_t skipped = size_t(std::min<int64_t>(Skip, int64_t(rows)));
    Skip -= int64_t(skipped);
    rows -= skipped;
    const uint8_t* first = Buffer.get() + skipped * RowBytes;
    const int64_t left = MaxRows - Rows;
    if (int64_t(rows) >= left) {
        rows = size_t(left);
        Done = true;
    }
    if (rows > 0) {
        Write(first, rows * RowBytes);
        Rows += int64_t(rows);
    }
    const size_t used = (skipped + rows) * RowBytes;
    if (Done) {
        Beyond = Filled - used;
        Filled = 0;
        return;
    }
    std::memmove(Buffer.get(), Buffer.get() + used, Filled - used);
    Filled -= used;
}
