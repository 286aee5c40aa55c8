#include "runtime/Bitmap.h"

#include <climits>

namespace rt {

void TBitmap::SetSize(int w, int h) {
    if (w < 0) w = 0;
    if (h < 0) h = 0;
    if (w == W && h == H) return;
    // The memory first: a picture that gets none keeps its old size and pixels.
    Pixels = TPixelStore(static_cast<std::size_t>(w) * 3 * static_cast<std::size_t>(h));
    W = w;
    H = h;
}

TColor TBitmap::Pixel(int x, int y) const {
    const uint8_t* p = ScanLine(y) + static_cast<std::size_t>(x) * 3;
    return RGB(p[2], p[1], p[0]);
}

void TBitmap::SetPixel(int x, int y, TColor c) {
    uint8_t* p = ScanLine(y) + static_cast<std::size_t>(x) * 3;
    p[0] = BlueOf(c);
    p[1] = GreenOf(c);
    p[2] = RedOf(c);
}

int TBitmap::NearestPaletteIndex(TColor c) const {
    int best = 0;
    long bestDist = LONG_MAX;
    for (int i = 0; i < 256; ++i) {
        long dr = long(Pal[i].Red) - RedOf(c), dg = long(Pal[i].Green) - GreenOf(c),
             db = long(Pal[i].Blue) - BlueOf(c);
        long d = dr * dr + dg * dg + db * db;
        if (d < bestDist) {
            bestDist = d;
            best = i;
        }
    }
    return best;
}

} // namespace rt
