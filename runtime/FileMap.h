#pragma once
// A whole file mapped once for reading, for a file that is read again and again while it
// stays the same (the scratch raster of an open sheet): no map call and no page fault per
// read once its pages are in. Pages read for one picture are given back with Release, so
// that resident memory follows what is shown, not what has been.

#include "runtime/BinaryFile.h"
#include "runtime/MapGuard.h"

#include <cstdint>
#include <optional>

namespace rt {

class TFileMap {
public:
    // Maps the file as it is now; a file that cannot be mapped (a pipe, an empty file)
    // leaves the map empty and its readers read the file.
    explicit TFileMap(const TBinaryFile& file);
    ~TFileMap();
    TFileMap(const TFileMap&) = delete;
    TFileMap& operator=(const TFileMap&) = delete;

    bool Mapped() const { return Base != nullptr; }
    const uint8_t* Data() const { return Base; }
    int64_t Size() const { return Length; }
    // Whether bytes offset to offset + count - 1 lie in the map.
    bool Holds(int64_t offset, size_t count) const {
        return Base && offset >= 0 && offset <= Length && int64_t(count) <= Length - offset;
    }
    // Drops the process's pages of the range; a later read maps them again from the page
    // cache.
    void Release(int64_t offset, int64_t count) const noexcept;

private:
    uint8_t* Base = nullptr;
    int64_t Length = 0;
    std::optional<TMapGuard> Guard; // a file cut meanwhile reads as zeros past its end
};

} // namespace rt
