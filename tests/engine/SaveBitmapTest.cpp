#include "runtime/Errors.h"
#include "runtime/FileSys.h"
#include "tests/PngRead.h"
#include "tests/engine/EngineFixture.h"

using namespace enginetest;

namespace {

using Bytes = std::vector<uint8_t>;

uint32_t LE32(const Bytes& b, size_t at) {
    return uint32_t(b[at]) | uint32_t(b[at + 1]) << 8 | uint32_t(b[at + 2]) << 16 |
           uint32_t(b[at + 3]) << 24;
}

class SaveTest : public EngineTest {
protected:
    void Open(const sample::TRaster& r, int32_t dpi = 254) {
        Raster = r;
        sample::TSheetOptions o;
        o.XDpi = o.YDpi = dpi;
        Map.OpenFile(PutSample("s.tif", r, o));
        Map.PlateColor = ViewerColours();
        Map.PlateVisible = AllVisible();
    }
    // The plate index of file row j, pixel x, worked out from the raster.
    int IndexAt(int row, int rows, int col, int step, int j, int x) const {
        uint8_t v = Raster.Row(row + rows - 1 - j * step)[col + x * step];
        return PlateOf(v, Map.PlateVisible);
    }
    int Nibble(const Bytes& f, size_t stride, int j, int x) const {
        uint8_t b = f[118 + size_t(j) * stride + size_t(x / 2)];
        return x % 2 ? b & 15 : b >> 4;
    }

    sample::TRaster Raster;
    TTiff Map{nullptr, ScratchPath()};
};

} // namespace

TEST_F(SaveTest, ThreeByTwoWindowGivesTheListedBytes) {
    sample::TRaster r(3, 2);
    r.Pixels = {0x00, 0x80, 0x01, 0x81, 0x04, 0x00};
    Open(r);
    Map.SaveBitmap(0, 0, 3, 2, 1, Dir.File("o.bmp"));
    Bytes f = testing_support::ReadAll(Dir.File("o.bmp"));
    Bytes head = {0x42, 0x4D, 0x7E, 0,    0, 0, 0,    0,    0, 0, 0x76, 0, 0, 0, 0x28, 0, 0, 0,
                  3,    0,    0,    0,    2, 0, 0,    0,    1, 0, 4,    0, 0, 0, 0,    0, 0, 0,
                  0,    0,    0x10, 0x27, 0, 0, 0x10, 0x27, 0, 0, 0x10, 0, 0, 0, 0x10, 0, 0, 0};
    ASSERT_EQ(f.size(), 126u);
    EXPECT_EQ(Bytes(f.begin(), f.begin() + 54), head);
    for (int i = 0; i < 16; ++i) {
        rt::TColor c = i <= 8 ? ViewerColours()[size_t(i)] : rt::kWhite;
        EXPECT_EQ(Bytes(f.begin() + 54 + 4 * i, f.begin() + 58 + 4 * i),
                  (Bytes{rt::BlueOf(c), rt::GreenOf(c), rt::RedOf(c), 0}))
            << i;
    }
    EXPECT_EQ(Bytes(f.begin() + 118, f.end()), (Bytes{0x83, 0, 0, 0, 0x08, 0x10, 0, 0}));
}

TEST_F(SaveTest, WholeSheetSizesAndSampling) {
    Open(sample::PaintSample(100, 80, 11));
    Map.SaveBitmap(0, 0, 100, 80, 1, Dir.File("a.bmp"));
    Bytes a = testing_support::ReadAll(Dir.File("a.bmp"));
    EXPECT_EQ(a.size(), 4278u);
    for (int j = 0; j < 80; ++j)
        for (int x = 0; x < 100; ++x) ASSERT_EQ(Nibble(a, 52, j, x), IndexAt(0, 80, 0, 1, j, x));

    // 21.9 x 15.6 blocks: the columns and rows that make no whole block are left out.
    Open(sample::PaintSample(700, 500, 12));
    Map.SaveBitmap(0, 0, 700, 500, 1.0L / 32, Dir.File("b.bmp"));
    Bytes b = testing_support::ReadAll(Dir.File("b.bmp"));
    ASSERT_EQ(b.size(), 118u + 12 * 15);
    EXPECT_EQ(LE32(b, 2), 118u + 12 * 15);
    EXPECT_EQ(LE32(b, 18), 21u);
    EXPECT_EQ(LE32(b, 22), 15u);
    for (int j = 0; j < 15; ++j) // row 0 from sheet row 499, row 1 from 467 ...
        for (int x = 0; x < 21; ++x) ASSERT_EQ(Nibble(b, 12, j, x), IndexAt(0, 500, 0, 32, j, x));
}

TEST_F(SaveTest, FullSizeWindowsAcrossSeveralReadBlocks) {
    // Wide enough that one read holds a few hundred rows only.
    Open(sample::PaintSample(3000, 900, 17));
    for (auto [col, cols] : {std::pair{0, 3000}, std::pair{101, 2500}, std::pair{7, 1001}}) {
        Map.SaveBitmap(col, 13, cols, 877, 1, Dir.File("b.bmp"));
        Bytes f = testing_support::ReadAll(Dir.File("b.bmp"));
        const size_t stride = size_t((cols + 7) / 8 * 4);
        ASSERT_EQ(f.size(), 118 + stride * 877) << col;
        for (int j = 0; j < 877; ++j)
            for (int x = 0; x < cols; ++x)
                ASSERT_EQ(Nibble(f, stride, j, x), IndexAt(13, 877, col, 1, j, x)) << j;
    }
}

TEST_F(SaveTest, WindowsStepsAndOddWidths) {
    Open(sample::PaintSample(64, 40, 13));
    Map.PlateVisible[6] = false;
    Map.SaveBitmap(5, 3, 20, 10, 0.25L, Dir.File("w.bmp"));
    Bytes f = testing_support::ReadAll(Dir.File("w.bmp"));
    ASSERT_EQ(f.size(), 118u + 2 * 4);
    for (int j = 0; j < 2; ++j) // sheet rows 12 and 8
        for (int x = 0; x < 5; ++x) EXPECT_EQ(Nibble(f, 4, j, x), IndexAt(3, 10, 5, 4, j, x));
    EXPECT_EQ(f[118 + 3], 0); // padding

    Map.SaveBitmap(0, 0, 1, 1, 1, Dir.File("one.bmp"));
    f = testing_support::ReadAll(Dir.File("one.bmp"));
    EXPECT_EQ(Bytes(f.begin() + 118, f.end()),
              (Bytes{uint8_t(IndexAt(0, 1, 0, 1, 0, 0) << 4), 0, 0, 0}));
    Map.SaveBitmap(0, 0, 17, 1, 1, Dir.File("w17.bmp"));
    EXPECT_EQ(testing_support::ReadAll(Dir.File("w17.bmp")).size(), 118u + 12);
}

TEST_F(SaveTest, ResolutionColourTableAndReplacement) {
    Open(sample::PaintSample(10, 10, 14), 400);
    Map.PlateColor = {1, 2, 3, 4, 5, 6, 7, 8, 0x00FFEEDD};
    testing_support::WriteAll(Dir.File("r.bmp"), Bytes(5000, 0xEE));
    Map.SaveBitmap(0, 0, 10, 10, 1, Dir.File("r.bmp"));
    Bytes f = testing_support::ReadAll(Dir.File("r.bmp"));
    EXPECT_EQ(f.size(), 118u + 10 * 8);
    EXPECT_EQ(LE32(f, 38), 15748u);
    EXPECT_EQ(LE32(f, 42), 15748u);
    EXPECT_EQ(Bytes(f.begin() + 54 + 32, f.begin() + 54 + 40),
              (Bytes{0xFF, 0xEE, 0xDD, 0, 255, 255, 255, 0}));

    Open(sample::PaintSample(10, 10, 14), 0);
    Map.SaveBitmap(0, 0, 10, 10, 0.5L, Dir.File("z.bmp"));
    f = testing_support::ReadAll(Dir.File("z.bmp"));
    EXPECT_EQ(LE32(f, 38), 0u);
    EXPECT_EQ(LE32(f, 42), 0u);
}

TEST_F(SaveTest, RefusalsWriteNoFile) {
    TTiff empty(nullptr, ScratchPath());
    empty.SaveBitmap(0, 0, 10, 10, 1, Dir.File("n0.bmp"));
    Open(sample::PaintSample(30, 30, 15));
    Map.SaveBitmap(0, 0, 30, 30, 2, Dir.File("n1.bmp"));
    Map.SaveBitmap(0, 0, 30, 30, 0, Dir.File("n2.bmp"));
    Map.SaveBitmap(0, 0, 30, 30, -0.5L, Dir.File("n3.bmp"));
    Map.SaveBitmap(-1, 0, 30, 30, 1, Dir.File("n4.bmp"));
    Map.SaveBitmap(30, 0, 30, 30, 1, Dir.File("n5.bmp"));
    Map.SaveBitmap(0, 0, 30, 1, 0.5L, Dir.File("n6.bmp")); // no row left
    for (const char* name : {"n0.bmp", "n1.bmp", "n2.bmp", "n3.bmp", "n4.bmp", "n5.bmp", "n6.bmp"})
        EXPECT_FALSE(rt::FileExists(Dir.File(name))) << name;
}

TEST_F(SaveTest, FailuresCarryTheirCodesAndCloseEverything) {
    Open(sample::PaintSample(30, 30, 16));
    // The sheet's scratch file stays open for reading from the first picture on; a failure
    // leaves nothing else open.
    Map.SaveBitmap(0, 0, 30, 30, 1, Dir.File("ok.bmp"));
    int fds = testing_support::OpenDescriptorCount();
    try {
        Map.SaveBitmap(0, 0, 30, 30, 1, Dir.File("no/dir/x.bmp"));
        FAIL();
    } catch (const rt::EInOutError& e) {
        EXPECT_EQ(e.ErrorCode(), 3);
        EXPECT_STREQ(e.what(), "不正なファイル名です");
    }
    // A damaged sheet gave fewer rows than it has: a window reaching them is refused before
    // anything is written, and a file of that name stays as it was.
    {
        TTiff shortMap(nullptr, Dir.File("short.tmp"));
        shortMap.OpenFile(Put("short.tif", TSheetBuilder::Basic(4, 3, {{0xF9, 1}}).Build()));
        testing_support::WriteAll(Dir.File("s.bmp"), Bytes{1, 2, 3});
        try {
            shortMap.SaveBitmap(0, 0, 4, 3, 1, Dir.File("s.bmp"));
            FAIL();
        } catch (const rt::EInOutError& e) {
            EXPECT_EQ(e.ErrorCode(), 100);
        }
        EXPECT_EQ(testing_support::ReadAll(Dir.File("s.bmp")), (Bytes{1, 2, 3}));
        shortMap.SaveBitmap(0, 0, 4, 2, 1, Dir.File("s.bmp")); // the rows it holds
        EXPECT_EQ(testing_support::ReadAll(Dir.File("s.bmp")).size(), 118u + 2 * 4);
    }
    EXPECT_EQ(testing_support::OpenDescriptorCount(), fds);
    if (rt::FileExists("/dev/full")) {
        try {
            Map.SaveBitmap(0, 0, 30, 30, 1, "/dev/full");
            FAIL();
        } catch (const rt::EInOutError& e) {
            EXPECT_STREQ(e.what(), "ディスクがいっぱいです");
        }
        // Through libpng's jump: the error comes out whole and is done with once handled,
        // so that the process goes on as if it had never been.
        for (int i = 0; i < 2; ++i) {
            try {
                Map.SavePng(0, 0, 30, 30, 1, "/dev/full");
                FAIL();
            } catch (const rt::EInOutError& e) {
                EXPECT_STREQ(e.what(), "ディスクがいっぱいです");
            }
            EXPECT_FALSE(std::current_exception()) << "an exception left caught";
        }
        Map.SavePng(0, 0, 30, 30, 1, Dir.File("after.png"));
        EXPECT_FALSE(testing_support::ReadAll(Dir.File("after.png")).empty());
    }
}

TEST_F(SaveTest, ResolutionsBeyondThirtyTwoBitsPerMetreAreClamped) {
    // 100,000,000 dpi is 3,937,007,874 pixels per metre; the field holds at most 2^31 - 1.
    for (int32_t dpi : {100000000, -100000000}) {
        Open(sample::PaintSample(8, 8, 17), dpi);
        ASSERT_EQ(Map.XDpi, dpi);
        Map.SaveBitmap(0, 0, 8, 8, 1, Dir.File("h.bmp"));
        Bytes f = testing_support::ReadAll(Dir.File("h.bmp"));
        EXPECT_EQ(LE32(f, 38), dpi > 0 ? 0x7FFFFFFFu : 0x80000000u);
        EXPECT_EQ(LE32(f, 42), dpi > 0 ? 0x7FFFFFFFu : 0x80000000u);
    }
}

TEST_F(SaveTest, AnExportThatFailsLeavesTheFileItWouldReplace) {
    // The disk fills while the bitmap is written: the old file is still there, whole, and no
    // temporary file is left beside it.
    Open(sample::PaintSample(800, 600, 18));
    const std::string small = Dir.File("small");
    const std::string target = small + "/keep.bmp";
    int rc = testing_support::InSmallTmpfs(small, 128, [&] {
        testing_support::WriteAll(target, Bytes(1000, 7));
        try {
            Map.SaveBitmap(0, 0, 800, 600, 1, target);
            return 1;
        } catch (const rt::EInOutError& e) {
            if (e.ErrorCode() != rt::kDiskFull) return 2;
        }
        if (testing_support::ReadAll(target) != Bytes(1000, 7)) return 3;
        if (rt::ListDirectory(small) != std::vector<std::string>{"keep.bmp"}) return 4;
        Map.SaveBitmap(0, 0, 800, 600, 0.25L, target); // one that fits replaces it
        return testing_support::ReadAll(target).size() == 118u + 150 * 100 ? 0 : 5;
    });
    if (rc == testing_support::kNoTmpfs) GTEST_SKIP() << "no tmpfs can be mounted here";
    EXPECT_EQ(rc, 0);
}

TEST_F(SaveTest, APngHoldsTheBitmapsPicture) {
    // Windows, rates and plates as the bitmap has them: decoded by libpng, pixel for pixel
    // the bitmap's, with the same 16 colours.
    Open(sample::PaintSample(333, 250, 19), 400);
    Map.PlateVisible[6] = false;
    Map.PlateColor[8] = rt::RGB(1, 2, 3);
    for (auto [col, row, cols, rows, rate] :
         {std::tuple{0, 0, 333, 250, 1.0L}, std::tuple{7, 11, 300, 201, 0.25L},
          std::tuple{100, 90, 500, 500, 1.0L / 8}, std::tuple{1, 2, 5, 3, 1.0L}}) {
        Map.SaveBitmap(col, row, cols, rows, rate, Dir.File("p.bmp"));
        Map.SavePng(col, row, cols, rows, rate, Dir.File("p.PNG"));
        const auto bmp = testing_support::ReadBmp(testing_support::ReadAll(Dir.File("p.bmp")));
        const auto png = testing_support::ReadPng(Dir.File("p.PNG"));
        EXPECT_TRUE(png.Palette);
        EXPECT_EQ(png.Colours, 16u);
        EXPECT_EQ(png.Width, bmp.Width);
        EXPECT_EQ(png.Height, bmp.Height);
        EXPECT_TRUE(png.Rgb == bmp.Rgb) << col << "," << row << " at " << double(rate);
    }
    // Refused as the bitmap is, and a failure leaves no file.
    Map.SavePng(0, 0, 333, 250, 2, Dir.File("none.png"));
    EXPECT_FALSE(rt::FileExists(Dir.File("none.png")));
    EXPECT_EQ(ErrorOf([&] { Map.SavePng(0, 0, 333, 250, 1, Dir.File("no/dir/x.png")); }),
              "不正なファイル名です");
}

TEST_F(SaveTest, ASmoothPngAveragesTheBlocksOfTheExportsGrid) {
    // The export's grid ends on the window's bottom row: each block ends on a row the bitmap
    // samples, and each pixel is the rounded average of its block's composed colours.
    Open(sample::PaintSample(203, 150, 20));
    Map.Smooth = true;
    const int col = 3, row = 5, cols = 190, rows = 141, step = 4;
    Map.SavePng(col, row, cols, rows, 0.25L, Dir.File("s.png"));
    const auto png = testing_support::ReadPng(Dir.File("s.png"));
    ASSERT_FALSE(png.Palette);
    ASSERT_EQ(png.Width, uint32_t(cols / step));
    ASSERT_EQ(png.Height, uint32_t(rows / step));
    for (uint32_t y = 0; y < png.Height; ++y)
        for (uint32_t x = 0; x < png.Width; ++x) {
            const int bottom = row + rows - 1 - int(png.Height - 1 - y) * step;
            long sum[3] = {0, 0, 0};
            for (int sy = bottom - step + 1; sy <= bottom; ++sy)
                for (int sx = col + int(x) * step; sx < col + int(x + 1) * step; ++sx) {
                    const rt::TColor k =
                        Map.PlateColor[size_t(PlateOf(Raster.Row(sy)[sx], Map.PlateVisible))];
                    sum[0] += rt::RedOf(k), sum[1] += rt::GreenOf(k), sum[2] += rt::BlueOf(k);
                }
            const uint8_t* got = png.Rgb.data() + (size_t(y) * png.Width + x) * 3;
            for (int ch = 0; ch < 3; ++ch) ASSERT_EQ(got[ch], (sum[ch] + 8) / 16) << x << "," << y;
        }
}
