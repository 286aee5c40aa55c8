#pragma once
// Ranges of an open file, read through a read-only memory map of one window of the file
// at a time where the file can be mapped, else with one read per range into a buffer; a
// small file is read whole at once. The
// window is let go as the reading moves on, so that resident memory stays bounded whatever
// the file's size. Views of one file may be read on several threads at once.

#include "runtime/BinaryFile.h"
#include "runtime/FileMap.h"

#include <cstdint>
#include <optional>
#include <vector>

namespace rt {

class TFileView {
public:
    // How the file is read: ranges far apart (the rows of a reduction) cost less as reads
    // than as windows mapped for a row or two; a window read whole is best mapped with its
    // pages at once.
    // A file read through from one end to the other is best read a window at a time into
    // a buffer: the bytes arrive hot in the cache, with one call per window.
    enum TAccess { kRead, kMap, kMapWhole, kReadAhead };
    // maxRange is the largest range Get will be asked for. With a map of the whole file,
    // ranges are read from it, whatever the access. Read ahead, a window holds aheadBytes
    // where that is more than maxRange.
    TFileView(const TBinaryFile& file, size_t maxRange, TAccess access = kMap,
              const TFileMap* whole = nullptr, size_t aheadBytes = 1 << 20);
    ~TFileView();
    TFileView(const TFileView&) = delete;
    TFileView& operator=(const TFileView&) = delete;

    // The count bytes at offset, valid until the next call; a range that runs past the end
    // of the file is the short-read error (100).
    const uint8_t* Get(int64_t offset, size_t count);

private:
    void Unmap() noexcept;

    const TBinaryFile& File;
    const TFileMap* WholeMap = nullptr;
    int64_t Size;
    bool Mappable;
    bool Whole;
    bool Ahead;
    bool InBuffer = false; // a small file, read whole
    std::vector<uint8_t> Buffer;
    uint8_t* Map = nullptr;
    std::optional<TMapGuard> MapGuard; // a file cut meanwhile reads as zeros past its end
    int64_t MapStart = 0, MapEnd = 0;  // the file bytes the window holds
    int64_t Last = -1;                 // the offset asked for last, to tell the direction
};

} // namespace rt
