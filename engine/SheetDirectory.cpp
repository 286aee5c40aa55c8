#include "engine/SheetDirectory.h"

#include "runtime/Errors.h"
#include "runtime/FileSys.h"

#include <algorithm>
#include <cstring>

namespace sheetdir {

namespace {

constexpr uint16_t kImageWidth = 256;
constexpr uint16_t kImageLength = 257;
constexpr uint16_t kCompression = 259;
constexpr uint16_t kStripOffsets = 273;
constexpr uint16_t kXResolution = 282;
constexpr uint16_t kYResolution = 283;
constexpr uint16_t kTypeLong = 4;
constexpr uint16_t kTypeRational = 5;

uint32_t BigEndian32(const uint8_t* p) {
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}

// Which tag sets which number: the entry's value, or for the strip offsets its count.
struct TTagField {
    uint16_t Tag;
    int32_t TSheetDirectory::*Field;
    bool FromCount;
};
constexpr TTagField kTagFields[] = {
    {kImageWidth, &TSheetDirectory::Width, false},
    {kImageLength, &TSheetDirectory::Height, false},
    {kCompression, &TSheetDirectory::Compression, false},
    {kStripOffsets, &TSheetDirectory::StripCount, true},
    {kXResolution, &TSheetDirectory::XResOffset, false},
    {kYResolution, &TSheetDirectory::YResOffset, false},
};

// Takes count big-endian entries of 12 bytes into dir; later entries of a tag win.
void ReadEntries(const uint8_t* p, int32_t count, TSheetDirectory& dir) {
    for (int32_t i = 1; i <= count; ++i, p += 12) {
        TDirEntry entry;
        std::memcpy(&entry, p, sizeof entry);
        SwapWords(&entry, 12);
        SwapLongHalves(&entry.Count, 4);
        if (entry.FieldType == kTypeLong || entry.FieldType == kTypeRational)
            SwapLongHalves(&entry.Value, 4);
        if (i < int32_t(dir.DirEntries.size())) dir.DirEntries[size_t(i)] = entry;
        for (const TTagField& f : kTagFields)
            if (f.Tag == entry.Tag) dir.*f.Field = int32_t(f.FromCount ? entry.Count : entry.Value);
    }
}

bool ValidSize(const TSheetDirectory& d) {
    return d.Width >= 0 && d.Height >= 0 && d.Width <= kMaxSide && d.Height <= kMaxSide;
}

bool KnownCompression(const TSheetDirectory& d) {
    return d.Compression == 1 || d.Compression == 32773;
}

} // namespace

void SwapWords(void* buffer, int32_t byteCount) {
    if (byteCount < 2) return;
    auto* p = static_cast<uint8_t*>(buffer);
    for (int32_t j = 0; j < byteCount / 2; ++j) std::swap(p[2 * j], p[2 * j + 1]);
}

void SwapLongHalves(void* buffer, int32_t byteCount) {
    if (byteCount < 4) return;
    auto* p = static_cast<uint8_t*>(buffer);
    for (int32_t j = 0; j < byteCount / 4; ++j) {
        std::swap(p[4 * j], p[4 * j + 2]);
        std::swap(p[4 * j + 1], p[4 * j + 3]);
    }
}

std::string SheetName(const std::string& path) {
    const std::string name = rt::ExtractFileName(path);
    const auto dot = name.find('.');
    return dot == std::string::npos ? std::string() : name.substr(0, dot);
}

void Read(rt::TBinaryFile& source, TSheetDirectory& dir) {
    source.Read(dir.Header.data(), dir.Header.size());
    const uint32_t firstDir = BigEndian32(dir.Header.data() + 4);
    SwapWords(dir.Header.data(), 8);
    SwapLongHalves(dir.Header.data() + 4, 4);

    source.Seek(firstDir);
    uint8_t countBytes[2];
    source.Read(countBytes, 2);
    const int16_t entryCount = int16_t(countBytes[0] << 8 | countBytes[1]);
    // The entries and the next directory's offset behind them, in one read.
    std::vector<uint8_t> entries(size_t(std::max<int16_t>(entryCount, 0)) * 12 + 4);
    source.Read(entries.data(), entries.size());
    ReadEntries(entries.data(), entryCount, dir);
    if (!ValidSize(dir)) throw rt::TError("マップ画像の大きさが不正です");
    if (!KnownCompression(dir))
        throw rt::TError(rt::Format("対応していない圧縮形式です (%d)", dir.Compression));
}

TStripTables ReadStripTables(rt::TBinaryFile& source, int32_t stripCount) {
    // The two tables lie directly behind the directory; check they are there before
    // taking memory for them.
    const int64_t tableBytes = int64_t(stripCount) * 4;
    if (source.FilePos() + 2 * tableBytes > source.FileSize())
        throw rt::EInOutError(rt::kReadPastEnd);
    auto readTable = [&] {
        std::vector<uint32_t> table(static_cast<size_t>(stripCount));
        source.Read(table.data(), static_cast<size_t>(tableBytes));
        for (uint32_t& v : table) v = BigEndian32(reinterpret_cast<const uint8_t*>(&v));
        return table;
    };
    TStripTables t;
    t.Offsets = readTable();
    t.ByteCounts = readTable();
    return t;
}

void ReadResolution(rt::TBinaryFile& source, int32_t xOffset, int32_t yOffset, int32_t& xDpi,
                    int32_t& yDpi) {
    const int64_t keep = source.FilePos();
    xDpi = 0;
    yDpi = 0;
    auto readOne = [&](int32_t offset) -> int32_t {
        source.Seek(static_cast<uint32_t>(offset));
        uint8_t b[8];
        source.Read(b, 8);
        auto num = static_cast<int32_t>(BigEndian32(b));
        auto den = static_cast<int32_t>(BigEndian32(b + 4));
        if (den == 0) return 0;
        double q = static_cast<double>(num) / static_cast<double>(den);
        if (q >= 2147483647.0 || q <= -2147483648.0) return 0;
        return static_cast<int32_t>(q);
    };
    xDpi = readOne(xOffset);
    yDpi = readOne(yOffset);
    source.Seek(keep);
}

int64_t BytesNeeded(rt::TBinaryFile& f) {
    const int64_t have = f.FileSize();
    auto at = [&](int64_t pos, void* p, size_t n) {
        f.Seek(pos);
        f.Read(p, n);
    };
    if (have < 8) return 8;
    uint8_t header[8];
    at(0, header, 8);
    const int64_t dir = BigEndian32(header + 4);
    if (have < dir + 2) return dir + 2;
    uint8_t countBytes[2];
    at(dir, countBytes, 2);
    const int16_t count = int16_t(countBytes[0] << 8 | countBytes[1]);
    const int64_t tables = dir + 2 + 12 * int64_t(std::max<int16_t>(count, 0)) + 4;
    if (have < tables) return tables;
    std::vector<uint8_t> entries(size_t(tables - dir - 2));
    at(dir + 2, entries.data(), entries.size());
    TSheetDirectory tags;
    ReadEntries(entries.data(), count, tags);
    int64_t need = tables;
    if (!ValidSize(tags) || !KnownCompression(tags)) return need; // the open stops here
    if (tags.XResOffset > 0 && tags.YResOffset > 0)
        need = std::max({need, int64_t(tags.XResOffset) + 8, int64_t(tags.YResOffset) + 8});
    if (tags.StripCount <= 0) return need;
    const int64_t tablesEnd = tables + 8 * int64_t(tags.StripCount);
    if (have < tablesEnd) return std::max(need, tablesEnd);
    // Both tables are in: the strips end where the farthest of them does.
    std::vector<uint8_t> table(size_t(8) * size_t(tags.StripCount));
    at(tables, table.data(), table.size());
    const size_t n = size_t(tags.StripCount);
    for (size_t s = 0; s < n; ++s)
        need = std::max(need, int64_t(BigEndian32(&table[4 * s])) +
                                  int64_t(BigEndian32(&table[4 * (n + s)])));
    return need;
}

} // namespace sheetdir
