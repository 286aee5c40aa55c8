#include "runtime/BitmapFile.h"

#include "runtime/OutputFile.h"

#include <vector>

namespace rt {

namespace {
void LE32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
} // namespace

void SaveBitmap24(const TBitmap& bitmap, const std::string& path) {
    const size_t stride = (bitmap.Stride() + 3) / 4 * 4;
    const uint64_t size = 54 + uint64_t(stride) * uint64_t(bitmap.Height());
    uint8_t head[54] = {'B', 'M'};
    LE32(head + 2, static_cast<uint32_t>(size));
    LE32(head + 10, 54);
    LE32(head + 14, 40);
    LE32(head + 18, static_cast<uint32_t>(bitmap.Width()));
    LE32(head + 22, static_cast<uint32_t>(bitmap.Height()));
    head[26] = 1;
    head[28] = 24;
    LE32(head + 34, static_cast<uint32_t>(size - 54));
    TOutputFile out(path);
    out.Write(head, sizeof head);
    std::vector<uint8_t> row(stride, 0);
    for (int y = bitmap.Height() - 1; y >= 0; --y) {
        std::copy(bitmap.ScanLine(y), bitmap.ScanLine(y) + bitmap.Stride(), row.begin());
        out.Write(row.data(), row.size());
    }
    out.Commit();
}

} // namespace rt
