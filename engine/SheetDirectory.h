#pragma once
// A sheet's header and first directory, read into a value: its size, compression, strip
// tables and resolution. Big-endian whatever the byte-order mark says.

#include "runtime/BinaryFile.h"

#include <array>
#include <cstdint>
#include <string>
#include <vector>

// One TIFF directory entry after conversion to the machine's byte order.
struct TDirEntry {
    uint16_t Tag = 0;
    uint16_t FieldType = 0;
    uint32_t Count = 0;
    uint32_t Value = 0;
};
static_assert(sizeof(TDirEntry) == 12);

struct TSheetDirectory {
    std::array<uint8_t, 8> Header{};
    std::array<TDirEntry, 15> DirEntries{}; // 1 to 14: the first entries as read
    int32_t Width = 0, Height = 0, StripCount = 0;
    int32_t Compression = 1; // none stated: uncompressed, as TIFF defines
    int32_t XResOffset = 0, YResOffset = 0;
    bool Packed() const { return Compression == 32773; }
};

struct TStripTables {
    std::vector<uint32_t> Offsets, ByteCounts;
};

namespace sheetdir {

// Largest accepted sheet side in pixels.
constexpr int32_t kMaxSide = 1048576;

void SwapWords(void* buffer, int32_t byteCount);
void SwapLongHalves(void* buffer, int32_t byteCount);

// The part of a file name before its first ".", or "" without one.
std::string SheetName(const std::string& path);

// Reads the header and the first directory; dir is filled as far as the reading went when
// it raises. A size past the limit or an unknown compression is refused.
void Read(rt::TBinaryFile& source, TSheetDirectory& dir);
// The two tables directly behind the directory, where the file position is after Read.
TStripTables ReadStripTables(rt::TBinaryFile& source, int32_t stripCount);
// Dots per inch of two rationals; 0 for a denominator of 0 or a quotient out of range.
void ReadResolution(rt::TBinaryFile& source, int32_t xOffset, int32_t yOffset, int32_t& xDpi,
                    int32_t& yDpi);
// How many bytes of a sheet an open reads, as far as the bytes in partial tell.
int64_t BytesNeeded(rt::TBinaryFile& partial);

} // namespace sheetdir
