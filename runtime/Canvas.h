#pragma once
// The drawing surface the engine paints on, and an in-memory surface over a bitmap.

#include "runtime/Bitmap.h"

namespace rt {

constexpr uint32_t SRCCOPY = 0x00CC0020;

struct TRect {
    int Left = 0, Top = 0, Right = 0, Bottom = 0;
    int Width() const { return Right - Left; }
    int Height() const { return Bottom - Top; }
};

class TCanvasSurface {
public:
    virtual ~TCanvasSurface() = default;
    virtual void FillRect(const TRect& r, TColor c) = 0;
    // Copies the source rectangle onto the destination rectangle, enlarging or reducing by
    // nearest neighbour; at whole-number factors each source pixel becomes an exact block.
    virtual void StretchBlt(int dx, int dy, int dw, int dh, const TBitmap& src, int sx, int sy,
                            int sw, int sh, uint32_t rop) = 0;
    // Copies w x h pixels 1:1.
    virtual void BitBlt(int dx, int dy, int w, int h, const TBitmap& src, int sx, int sy,
                        uint32_t rop) = 0;
    virtual void Lock() = 0;
    virtual void Unlock() = 0;
    // The surface's size: nothing drawn beyond it can be seen.
    virtual int SurfaceWidth() const = 0;
    virtual int SurfaceHeight() const = 0;
    // The surface's own pixels, for a caller that composes a picture straight into them
    // rather than into a bitmap it then copies; nullptr where the surface has none. The
    // caller says when it has written with PixelsWritten.
    virtual TBitmap* Pixels() { return nullptr; }
    virtual void PixelsWritten() {}
};

// Copies between bitmaps with clipping on both sides; the one drawing routine behind
// every surface of this program.
void StretchCopy(TBitmap& dst, int dx, int dy, int dw, int dh, const TBitmap& src, int sx, int sy,
                 int sw, int sh);
void FillBitmap(TBitmap& dst, const TRect& r, TColor c);

// A surface that draws into a bitmap it owns.
class TBitmapCanvas : public TCanvasSurface {
public:
    TBitmapCanvas(int width, int height) { Image.SetSize(width, height); }
    TBitmap& Bitmap() { return Image; }
    const TBitmap& Bitmap() const { return Image; }

    void FillRect(const TRect& r, TColor c) override { FillBitmap(Image, r, c); }
    void StretchBlt(int dx, int dy, int dw, int dh, const TBitmap& src, int sx, int sy, int sw,
                    int sh, uint32_t rop) override;
    void BitBlt(int dx, int dy, int w, int h, const TBitmap& src, int sx, int sy,
                uint32_t rop) override;
    // Nothing else draws on a bitmap of its own.
    void Lock() override {}
    void Unlock() override {}
    int SurfaceWidth() const override { return Image.Width(); }
    int SurfaceHeight() const override { return Image.Height(); }
    TBitmap* Pixels() override { return &Image; }

private:
    TBitmap Image;
};

} // namespace rt
