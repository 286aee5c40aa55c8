// Exports composed straight from the strips make the files the scratch raster makes, byte
// for byte: on strips of equal rows, of rows cut by a byte budget, under a RowsPerStrip that
// lies, uncompressed, and against opens that left holes where a sample passed strips.

#include "engine/Export.h"
#include "engine/SheetStream.h"
#include "runtime/Errors.h"
#include "runtime/FileSys.h"
#include "tests/engine/EngineFixture.h"

#include <set>

using namespace enginetest;

namespace {

struct TLayout {
    const char* Name;
    int W, H;
    sample::TSheetOptions Options;
};

sample::TSheetOptions Budget(uint32_t bytes) {
    sample::TSheetOptions o;
    o.FillStrips = true;
    o.StripBytes = bytes;
    o.LiteralRuns = true;
    return o;
}

sample::TSheetOptions Lying() {
    sample::TSheetOptions o;
    o.StripRows.assign(12, 51);
    o.StatedRowsPerStrip = 50;
    return o;
}

sample::TSheetOptions Plain(uint16_t compression) {
    sample::TSheetOptions o;
    o.Compression = compression;
    o.StripBytes = 2000;
    return o;
}

const TLayout kLayouts[] = {
    {"equal strips", 611, 587, Plain(32773)},
    {"filled up to 900 packed bytes", 611, 587, Budget(900)},
    {"strips of 51 rows tagged 50", 433, 590, Lying()},
    {"uncompressed", 300, 257, Plain(1)},
    // Rows of over 4 KB: the bitmap's rows go out many writes apiece.
    {"wide", 8200, 600, Budget(20000)},
};

struct TRequest {
    std::array<int32_t, 4> Win; // a negative size: to the sheet's edge
    long double Rate;
    bool Png, Smooth;
    int Hidden; // a plate left out, or 0
};

const TRequest kRequests[] = {
    {{0, 0, -1, -1}, 1, false, false, 0},         {{0, 0, -1, -1}, 1, true, false, 0},
    {{7, 11, 301, 257}, 0.5L, false, false, 3},   {{7, 11, 301, 257}, 0.5L, true, false, 3},
    {{0, 0, -1, -1}, 0.25L, false, false, 0},     {{3, 5, -1, -1}, 0.0625L, true, false, 2},
    {{0, 0, -1, -1}, 1.0L / 64, false, false, 0}, {{13, 2, 280, 231}, 0.125L, true, true, 0},
    {{0, 0, -1, -1}, 1.0L / 64, true, true, 5},   {{1, 1, -1, -1}, 0.5L, true, true, 0},
};

class StreamExportTest : public EngineTest {
protected:
    void Look(TTiff& t, const TRequest& q) {
        t.PlateColor = ViewerColours();
        t.PlateVisible = AllVisible();
        if (q.Hidden) t.PlateVisible[size_t(q.Hidden)] = false;
        t.Smooth = q.Smooth;
    }
    static std::array<int32_t, 4> Window(const TRequest& q, int w, int h) {
        return {q.Win[0], q.Win[1], q.Win[2] < 0 ? w : q.Win[2], q.Win[3] < 0 ? h : q.Win[3]};
    }
    // The file as the scratch raster makes it, after a whole open or a sampled one.
    std::string FromScratch(const std::string& sheet, const TRequest& q, bool sampled,
                            const std::string& out, bool& holes) {
        TTiff t(nullptr, ScratchPath());
        t.DecodeAhead = false;
        const int64_t step = TTiff::SampleStep(q.Rate);
        if (sampled) {
            TTiff probe(nullptr, Dir.File("probe.tmp"));
            probe.OpenFile(sheet);
            const auto win = Window(q, probe.Width, probe.Height);
            t.OpenSample(sheet, win[1], win[3], int32_t(step));
        } else {
            t.OpenFile(sheet);
        }
        Look(t, q);
        const auto win = Window(q, t.Width, t.Height);
        for (int64_t r = win[1]; sampled && r < win[1] + win[3] && r < t.Height; ++r)
            holes = holes || !t.HoldsRow(r);
        if (q.Png)
            t.SavePng(win[0], win[1], win[2], win[3], q.Rate, out);
        else
            t.SaveBitmap(win[0], win[1], win[2], win[3], q.Rate, out);
        return out;
    }
    // The file as the stream makes it.
    std::string Streamed(const std::string& sheet, const TRequest& q, const std::string& out) {
        TSheetStream s(sheet);
        const TSheetDirectory& d = s.Directory();
        std::array<bool, 9> visible = AllVisible();
        if (q.Hidden) visible[size_t(q.Hidden)] = false;
        const std::array<rt::TColor, 9> colours = ViewerColours();
        const auto win = Window(q, d.Width, d.Height);
        const TWindow w = ClipWindow(d.Width, d.Height, win[0], win[1], win[2], win[3], q.Rate);
        const TExportLook look{visible, colours, s.XDpi, s.YDpi, false};
        if (q.Png)
            StreamPng(s, look, w, q.Smooth, out);
        else
            StreamBitmap(s, look, w, out);
        return out;
    }
};

} // namespace

TEST_F(StreamExportTest, EveryModeMakesTheScratchRastersFile) {
    bool anyHoles = false;
    for (const TLayout& l : kLayouts) {
        SCOPED_TRACE(l.Name);
        const std::string sheet = PutSample("s.tif", sample::PaintSample(l.W, l.H, 7), l.Options);
        for (const TRequest& q : kRequests) {
            SCOPED_TRACE(testing::Message()
                         << "window " << q.Win[0] << "," << q.Win[1] << " rate " << double(q.Rate)
                         << (q.Png ? " png" : " bmp") << (q.Smooth ? " smooth" : ""));
            const auto got = testing_support::ReadAll(Streamed(sheet, q, Dir.File("got")));
            // The picture holds the sheet's colours, not one background.
            ASSERT_GT(got.size(), 118u);
            if (!q.Png) {
                EXPECT_GT(std::set<uint8_t>(got.begin() + 118, got.end()).size(), 1u);
            }
            // A smooth reduction reads every row: no sampled open stands for it.
            for (bool sampled : {false, true}) {
                if (sampled && q.Smooth) continue;
                bool holes = false;
                const auto want = testing_support::ReadAll(
                    FromScratch(sheet, q, sampled, Dir.File("want"), holes));
                EXPECT_TRUE(got == want) << (sampled ? "against a sampled open" : "");
                anyHoles = anyHoles || holes;
            }
        }
    }
    // The sampled opens passed strips, so that the scratch side read around holes.
    EXPECT_TRUE(anyHoles);
}

TEST_F(StreamExportTest, ASheetThatFailsTheOpenFailsTheStreamAndWritesNothing) {
    // Cut inside the strips, or stating more rows than its strips hold: the stream fails as
    // the scratch raster's export does, and the target stays as it was.
    const sample::TRaster raster = sample::PaintSample(300, 240, 3);
    auto cut = sample::BuildSheet(raster, Plain(32773));
    cut.resize(cut.size() * 3 / 4);
    sample::TSheetOptions tall = Plain(32773);
    tall.StatedHeight = 260;
    const std::vector<uint8_t> sheets[] = {cut, sample::BuildSheet(raster, tall)};
    for (const auto& bytes : sheets) {
        const std::string sheet = Put("d.tif", bytes);
        for (const TRequest& q : {TRequest{{0, 0, -1, -1}, 1, false, false, 0},
                                  TRequest{{0, 0, -1, -1}, 0.25L, true, false, 0},
                                  TRequest{{0, 100, 50, -1}, 0.5L, true, true, 0}}) {
            std::string want;
            {
                TTiff t(nullptr, ScratchPath());
                t.OpenFile(sheet);
                Look(t, q);
                const auto win = Window(q, t.Width, t.Height);
                want = t.Damage ? t.Damage->what() : ErrorOf([&] {
                    t.SaveBitmap(win[0], win[1], win[2], win[3], q.Rate, Dir.File("x"));
                });
            }
            ASSERT_FALSE(want.empty());
            testing_support::WriteAll(Dir.File("old"), {1, 2, 3});
            EXPECT_EQ(ErrorOf([&] { Streamed(sheet, q, Dir.File("old")); }), want);
            EXPECT_EQ(testing_support::ReadAll(Dir.File("old")), (std::vector<uint8_t>{1, 2, 3}));
        }
    }
    // No working file of a failed output is left beside it.
    for (const auto& e : std::filesystem::directory_iterator(Dir.Path()))
        EXPECT_TRUE(std::set<std::string>({"d.tif", "scratch.tmp", "old"})
                        .count(e.path().filename().string()))
            << e.path();
}

TEST_F(StreamExportTest, TheWalkHandsOnTheSampledRowsInOrderFromTheirBytes) {
    // Rows 4, 9, ... 99 of a 5-step sample ending on row 99, each with its own bytes.
    const sample::TRaster raster = sample::PaintSample(97, 130, 11);
    TSheetStream s(PutSample("s.tif", raster, Budget(300)));
    std::vector<int64_t> rows;
    s.Walk(4, 96, 5, [&](int64_t row, const uint8_t* bytes) {
        rows.push_back(row);
        EXPECT_TRUE(std::equal(bytes, bytes + 97, raster.Row(int(row)))) << row;
    });
    std::vector<int64_t> want;
    for (int64_t r = 4; r < 100; r += 5) want.push_back(r);
    EXPECT_EQ(rows, want);
    // A take that fails ends the walk with its error.
    EXPECT_EQ(
        ErrorOf([&] { s.Walk(0, 130, 1, [](int64_t, const uint8_t*) { throw rt::TError("x"); }); }),
        "x");
}
