#include "runtime/BitmapFile.h"

#include "runtime/OutputFile.h"

#include <algorithm>
#include <vector>

namespace rt {

void PutLE16(uint8_t* p, uint16_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}

void PutLE32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

void PutBmpHeaders(uint8_t* out, const TBmpInfo& info) {
    const uint32_t offset = uint32_t(kBmpHeaderBytes + 4 * info.Colours);
    const uint64_t pixels = uint64_t(info.RowStride) * info.Height;
    std::fill(out, out + kBmpHeaderBytes, uint8_t(0));
    out[0] = 'B';
    out[1] = 'M';
    PutLE32(out + 2, static_cast<uint32_t>(offset + pixels));
    PutLE32(out + 10, offset);
    PutLE32(out + 14, 40);
    PutLE32(out + 18, info.Width);
    PutLE32(out + 22, info.Height);
    PutLE16(out + 26, 1);
    PutLE16(out + 28, info.Bits);
    PutLE32(out + 34, info.StateImageSize ? static_cast<uint32_t>(pixels) : 0);
    PutLE32(out + 38, static_cast<uint32_t>(info.XPixelsPerMetre));
    PutLE32(out + 42, static_cast<uint32_t>(info.YPixelsPerMetre));
    PutLE32(out + 46, info.Colours);
    PutLE32(out + 50, info.Colours);
}

void SaveBitmap24(const TBitmap& bitmap, const std::string& path) {
    const size_t stride = (bitmap.Stride() + 3) / 4 * 4;
    uint8_t head[kBmpHeaderBytes];
    PutBmpHeaders(head,
                  {uint32_t(bitmap.Width()), uint32_t(bitmap.Height()), 24, uint32_t(stride)});
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
