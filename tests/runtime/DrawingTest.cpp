#include "runtime/Canvas.h"

#include <gtest/gtest.h>

namespace {

rt::TBitmap Numbered(int w, int h) {
    rt::TBitmap b;
    b.SetSize(w, h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) b.SetPixel(x, y, rt::RGB(uint8_t(x), uint8_t(y), 7));
    return b;
}

} // namespace

TEST(Bitmap, RowsAreBlueGreenRedTopDown) {
    rt::TBitmap b;
    b.SetSize(2, 2);
    b.SetPixel(1, 1, 0x00112233); // blue 0x11, green 0x22, red 0x33
    const uint8_t* row = b.ScanLine(1);
    EXPECT_EQ(row[3], 0x11);
    EXPECT_EQ(row[4], 0x22);
    EXPECT_EQ(row[5], 0x33);
    EXPECT_EQ(b.Pixel(1, 1), 0x00112233u);
    EXPECT_EQ(b.Stride(), 6u);
}

TEST(Bitmap, NearestPaletteEntry) {
    rt::TBitmap b;
    std::array<rt::TPaletteEntry, 256> pal{};
    for (int i = 0; i < 256; ++i) pal[size_t(i)] = {uint8_t(i), uint8_t(i), uint8_t(i), 1};
    b.SetPalette(pal);
    EXPECT_EQ(b.NearestPaletteIndex(rt::RGB(100, 102, 104)), 102);
}

TEST(Canvas, StretchReplicatesWholeBlocksAndClips) {
    rt::TBitmap src = Numbered(3, 2);
    rt::TBitmapCanvas c(10, 5);
    c.FillRect({0, 0, 10, 5}, rt::kWhite);
    c.StretchBlt(0, 0, 12, 8, src, 0, 0, 3, 2, rt::SRCCOPY); // rate 4, past the canvas
    for (int y = 0; y < 5; ++y)
        for (int x = 0; x < 10; ++x)
            EXPECT_EQ(c.Bitmap().Pixel(x, y), src.Pixel(x / 4, y / 4)) << x << "," << y;
}

TEST(Canvas, BitBltCopiesOneToOneAndLeavesTheRest) {
    rt::TBitmap src = Numbered(4, 3);
    rt::TBitmapCanvas c(6, 6);
    c.FillRect({0, 0, 6, 6}, rt::kWhite);
    c.BitBlt(0, 0, 2, 2, src, 1, 1, rt::SRCCOPY);
    EXPECT_EQ(c.Bitmap().Pixel(0, 0), src.Pixel(1, 1));
    EXPECT_EQ(c.Bitmap().Pixel(1, 1), src.Pixel(2, 2));
    EXPECT_EQ(c.Bitmap().Pixel(2, 0), rt::kWhite);
    EXPECT_EQ(c.Bitmap().Pixel(0, 2), rt::kWhite);
    c.FillRect({-5, -5, 1, 1}, rt::kBlack);
    EXPECT_EQ(c.Bitmap().Pixel(0, 0), rt::kBlack);
    EXPECT_EQ(c.Bitmap().Pixel(1, 0), src.Pixel(2, 1));
}
