#include "runtime/Canvas.h"

#include <algorithm>
#include <cstring>

namespace rt {

void FillBitmap(TBitmap& dst, const TRect& r, TColor c) {
    int l = std::max(r.Left, 0), t = std::max(r.Top, 0);
    int rr = std::min(r.Right, dst.Width()), b = std::min(r.Bottom, dst.Height());
    if (l >= rr || t >= b) return;
    const uint8_t px[3] = {BlueOf(c), GreenOf(c), RedOf(c)};
    if (px[0] == px[1] && px[1] == px[2]) { // white, black: one byte throughout
        for (int y = t; y < b; ++y)
            std::memset(dst.ScanLine(y) + size_t(l) * 3, px[0], size_t(rr - l) * 3);
        return;
    }
    for (int y = t; y < b; ++y) {
        uint8_t* p = dst.ScanLine(y) + static_cast<size_t>(l) * 3;
        for (int x = l; x < rr; ++x, p += 3) std::memcpy(p, px, 3);
    }
}

void StretchCopy(TBitmap& dst, int dx, int dy, int dw, int dh, const TBitmap& src, int sx, int sy,
                 int sw, int sh) {
    if (dw <= 0 || dh <= 0 || sw <= 0 || sh <= 0) return;
    // Destination pixels whose source lies outside the source bitmap stay as they are.
    int64_t x0 = std::max<int64_t>(dx, 0), y0 = std::max<int64_t>(dy, 0);
    int64_t x1 = std::min<int64_t>(int64_t(dx) + dw, dst.Width());
    int64_t y1 = std::min<int64_t>(int64_t(dy) + dh, dst.Height());
    if (x0 >= x1 || y0 >= y1) return;
    const bool oneToOne = dw == sw && dh == sh;
    // Source column for every destination column, worked out once.
    std::vector<int64_t> srcX(static_cast<size_t>(x1 - x0));
    bool allIn = true;
    for (int64_t x = x0; x < x1; ++x) {
        int64_t v = sx + (x - dx) * sw / dw;
        srcX[static_cast<size_t>(x - x0)] = v;
        allIn = allIn && v >= 0 && v < src.Width();
    }
    const uint8_t* lastSrcRow = nullptr;
    const uint8_t* lastDstRow = nullptr;
    for (int64_t y = y0; y < y1; ++y) {
        int64_t syy = sy + (y - dy) * sh / dh;
        if (syy < 0 || syy >= src.Height()) continue;
        const uint8_t* s = src.ScanLine(static_cast<int>(syy));
        uint8_t* d = dst.ScanLine(static_cast<int>(y));
        if (allIn && s == lastSrcRow && lastDstRow) {
            // Enlarging repeats the row just made.
            std::memcpy(d + x0 * 3, lastDstRow + x0 * 3, static_cast<size_t>(x1 - x0) * 3);
            lastDstRow = d;
            continue;
        }
        if (oneToOne && sx + (x0 - dx) >= 0 && sx + (x1 - dx) <= src.Width()) {
            std::memcpy(d + x0 * 3, s + (sx + (x0 - dx)) * 3, static_cast<size_t>(x1 - x0) * 3);
        } else {
            for (int64_t x = x0; x < x1; ++x) {
                int64_t sxx = srcX[static_cast<size_t>(x - x0)];
                if (sxx < 0 || sxx >= src.Width()) continue;
                std::memcpy(d + x * 3, s + sxx * 3, 3);
            }
        }
        lastSrcRow = s;
        lastDstRow = d;
    }
}

void TBitmapCanvas::StretchBlt(int dx, int dy, int dw, int dh, const TBitmap& src, int sx, int sy,
                               int sw, int sh, uint32_t /*rop*/) {
    StretchCopy(Image, dx, dy, dw, dh, src, sx, sy, sw, sh);
}

void TBitmapCanvas::BitBlt(int dx, int dy, int w, int h, const TBitmap& src, int sx, int sy,
                           uint32_t /*rop*/) {
    StretchCopy(Image, dx, dy, w, h, src, sx, sy, w, h);
}

} // namespace rt
