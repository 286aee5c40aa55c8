#include "tools/SampleSheet.h"
#include "tests/TestSupport.h"

#include <cstdlib>
#include <gtest/gtest.h>
#include <tiffio.h>

using testing_support::TTempDir;

namespace {

// Reads a sheet with libtiff, strip by strip, into rows.
std::vector<uint8_t> ReadWithLibtiff(const std::string& path, uint32_t& w, uint32_t& h,
                                     float& xres) {
    TIFFSetWarningHandler(nullptr);
    TIFF* t = TIFFOpen(path.c_str(), "r");
    if (!t) return {};
    TIFFGetField(t, TIFFTAG_IMAGEWIDTH, &w);
    TIFFGetField(t, TIFFTAG_IMAGELENGTH, &h);
    TIFFGetField(t, TIFFTAG_XRESOLUTION, &xres);
    std::vector<uint8_t> out(size_t(w) * h);
    size_t at = 0;
    for (tstrip_t s = 0; s < TIFFNumberOfStrips(t); ++s) {
        tmsize_t n = TIFFReadEncodedStrip(t, s, out.data() + at, tmsize_t(out.size() - at));
        if (n < 0) {
            out.clear();
            break;
        }
        at += size_t(n);
    }
    TIFFClose(t);
    return out;
}

} // namespace

TEST(SampleSheet, PackRowUnits) {
    const uint8_t row[] = {5, 5, 5, 1, 2, 3, 3};
    std::vector<uint8_t> units, literal;
    sample::PackRow(row, 7, false, units);
    EXPECT_EQ(units, (std::vector<uint8_t>{0xFE, 5, 0, 1, 0, 2, 0xFF, 3}));
    sample::PackRow(row, 7, true, literal);
    EXPECT_EQ(literal, (std::vector<uint8_t>{0xFE, 5, 1, 1, 2, 0xFF, 3}));
}

TEST(SampleSheet, PainterIsDeterministicAndUsesEveryPlate) {
    auto a = sample::PaintSample(1200, 900, 42), b = sample::PaintSample(1200, 900, 42);
    auto c = sample::PaintSample(1200, 900, 43);
    EXPECT_TRUE(a.Pixels == b.Pixels);
    EXPECT_FALSE(a.Pixels == c.Pixels);
    uint8_t seen = 0;
    for (uint8_t v : a.Pixels) seen |= v;
    EXPECT_EQ(seen, 0xFF);
}

TEST(SampleSheet, WrittenSheetsAreValidTiffWithTheSamePixels) {
    TTempDir dir;
    auto raster = sample::PaintSample(777, 333, 5);
    for (bool literal : {false, true}) {
        for (uint32_t dirAt : {8u, 64u}) {
            sample::TSheetOptions o;
            o.LiteralRuns = literal;
            o.FirstDirOffset = dirAt;
            o.XDpi = 400;
            std::string path = dir.File("s.tif");
            sample::WriteSheet(path, raster, o);
            uint32_t w = 0, h = 0;
            float xres = 0;
            auto pixels = ReadWithLibtiff(path, w, h, xres);
            EXPECT_EQ(w, 777u);
            EXPECT_EQ(h, 333u);
            EXPECT_FLOAT_EQ(xres, 400);
            EXPECT_TRUE(pixels == raster.Pixels) << literal << " " << dirAt;
            std::string cmd = "tiffinfo -D '" + path + "' > /dev/null 2>&1";
            EXPECT_EQ(std::system(cmd.c_str()), 0);
        }
    }
    // A single strip, and strips limited to their packed size.
    sample::TRaster tiny(5, 2);
    tiny.Pixels = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
    sample::WriteSheet(dir.File("t.tif"), tiny);
    uint32_t w, h;
    float x;
    EXPECT_TRUE(ReadWithLibtiff(dir.File("t.tif"), w, h, x) == tiny.Pixels);
    auto bytes = sample::BuildSheet(raster, {});
    EXPECT_GT(bytes.size(), 8192u);
}
