#include "runtime/Errors.h"
#include "runtime/FileSys.h"
#include "runtime/Hooks.h"
#include "runtime/ScopeExit.h"
#include "tests/engine/EngineFixture.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>
#include <unistd.h>

using namespace enginetest;

namespace {

constexpr rt::TColor kPaper = 0x00123456; // what the caller painted before drawing

class DrawTest : public EngineTest {
protected:
    // A sheet from a raster, opened with the viewer's colours and every plate visible.
    void Open(const sample::TRaster& r) {
        Raster = r;
        Map.OpenFile(PutSample("d.tif", r));
        Map.PlateColor = ViewerColours();
        Map.PlateVisible = AllVisible();
    }
    // Another map image object drawing on c, opened on the sheet Open wrote, with Map's plates.
    std::unique_ptr<TTiff> On(rt::TCanvasSurface& c) {
        auto t = std::make_unique<TTiff>(&c, Dir.File("view.tmp"));
        t->OpenFile(Dir.File("d.tif"));
        t->PlateColor = Map.PlateColor;
        t->PlateVisible = Map.PlateVisible;
        return t;
    }
    TCountingCanvas Fresh(int w, int h) {
        TCountingCanvas c(w, h);
        c.FillRect({0, 0, w, h}, kPaper);
        return c;
    }
    // The canvas Draw must give, worked out pixel by pixel from the raster.
    rt::TBitmap Expected(int w, int h, int col, int row, int cols, int rows, double rate) {
        rt::TBitmap b;
        b.SetSize(w, h);
        FillBitmap(b, {0, 0, w, h}, kPaper);
        cols = std::min(cols, Raster.Width - col);
        rows = std::min(rows, Raster.Height - row);
        int outCols = int(cols * rate), outRows = int(rows * rate);
        int step = rate >= 1 ? 1 : int(1 / rate);
        for (int y = 0; y < std::min(outRows, h); ++y)
            for (int x = 0; x < std::min(outCols, w); ++x) {
                int sx = rate >= 1 ? int(x / rate) : x * step,
                    sy = rate >= 1 ? int(y / rate) : y * step;
                uint8_t v = Raster.Row(row + sy)[col + sx];
                b.SetPixel(x, y, Map.PlateColor[size_t(PlateOf(v, Map.PlateVisible))]);
            }
        return b;
    }
    static bool Same(const rt::TBitmap& a, const rt::TBitmap& b) {
        return testing_support::SameBitmaps(a, b);
    }

    sample::TRaster Raster;
    rt::TBitmapCanvas View{1, 1};
    TTiff Map{&View, ScratchPath()};
};

// Bytes of the file at path that this process's mappings hold in memory.
int64_t MappedResidentBytes(const std::string& path) {
    std::ifstream smaps("/proc/self/smaps");
    std::string line;
    bool inFile = false;
    int64_t total = 0;
    while (std::getline(smaps, line)) {
        std::istringstream fields(line);
        std::string first;
        fields >> first;
        if (first.find('-') != std::string::npos && first.back() != ':') {
            std::string perms, offset, device, inode, name;
            fields >> perms >> offset >> device >> inode >> name;
            inFile = name == path;
        } else if (inFile && first == "Rss:") {
            int64_t kib = 0;
            fields >> kib;
            total += kib * 1024;
        }
    }
    return total;
}

} // namespace

TEST_F(DrawTest, NothingLoadedLeavesTheCanvasAlone) {
    TCountingCanvas c = Fresh(8, 8);
    TTiff t(&c, ScratchPath());
    t.Draw(0, 0, 8, 8, 1);
    EXPECT_EQ(c.Transfers, 0);
    // Without a canvas nothing is read either: a scratch file that has gone is not missed.
    TTiff none(nullptr, ScratchPath());
    none.OpenFile(PutSample("a.tif", sample::PaintSample(4, 4, 1)));
    ASSERT_TRUE(rt::DeleteFile(ScratchPath()));
    EXPECT_NO_THROW(none.Draw(0, 0, 4, 4, 1));
}

TEST_F(DrawTest, EveryZoomRateMatchesThePixelModel) {
    Open(sample::PaintSample(900, 700, 3));
    for (double rate : {1.0 / 64, 1.0 / 32, 1.0 / 8, 1.0 / 2, 1.0, 2.0, 4.0, 8.0}) {
        TCountingCanvas c = Fresh(400, 300);
        auto t = On(c);
        int cols = int(400 / rate), rows = int(300 / rate);
        t->Draw(37, 21, cols, rows, rate);
        EXPECT_TRUE(Same(c.Bitmap(), Expected(400, 300, 37, 21, cols, rows, rate))) << rate;
    }
}

TEST_F(DrawTest, ClippingAtTheRightEdgeKeepsTheCallersPaper) {
    Open(sample::PaintSample(1000, 50, 4));
    TCountingCanvas c = Fresh(500, 100);
    auto t = On(c);
    t->Draw(900, 0, 200, 50, 2);
    EXPECT_EQ(t->WorkBitmap->Width(), 100);
    EXPECT_TRUE(Same(c.Bitmap(), Expected(500, 100, 900, 0, 200, 50, 2)));
    EXPECT_EQ(c.Bitmap().Pixel(200, 10), kPaper);
    EXPECT_NE(c.Bitmap().Pixel(199, 99), kPaper);
}

TEST_F(DrawTest, PlateRuleAndColourBytes) {
    sample::TRaster r(4, 1);
    r.Pixels = {0x81, 0x00, 0x10, 0x20};
    Open(r);
    TCountingCanvas c = Fresh(4, 1);
    auto t = On(c);
    t->PlateColor = {0x00FFFFFF, 0x11, 0x22, 0x33, 0x44, 0x00FF0000, 0x000000FF, 0x77, 0x88};
    t->Draw(0, 0, 4, 1, 1);
    EXPECT_EQ(c.Bitmap().Pixel(0, 0), 0x88u);
    EXPECT_EQ(c.Bitmap().Pixel(1, 0), 0x00FFFFFFu);
    const uint8_t* px = c.Bitmap().ScanLine(0);
    EXPECT_EQ((std::vector<uint8_t>(px + 6, px + 12)),
              (std::vector<uint8_t>{255, 0, 0, 0, 0, 255}));
    t->PlateVisible[8] = false;
    t->Draw(0, 0, 4, 1, 1);
    EXPECT_EQ(c.Bitmap().Pixel(0, 0), 0x11u);
    t->PlateVisible[1] = false;
    t->PlateVisible[5] = false;
    t->Draw(0, 0, 4, 1, 1);
    EXPECT_EQ(c.Bitmap().Pixel(0, 0), 0x00FFFFFFu); // both hidden: background
    EXPECT_EQ(c.Bitmap().Pixel(2, 0), 0x00FFFFFFu);
    EXPECT_EQ(c.Bitmap().Pixel(3, 0), 0x000000FFu);
}

TEST_F(DrawTest, SizesOfThePictureAtOddRates) {
    Open(sample::PaintSample(100, 80, 5));
    TCountingCanvas c = Fresh(700, 500);
    auto t = On(c);
    auto counting = std::make_unique<TCountingBitmap>();
    TCountingBitmap& work = *counting;
    t->WorkBitmap = std::move(counting);
    t->Draw(0, 0, 80, 60, 8);
    EXPECT_EQ(t->WorkBitmap->Width(), 80);
    EXPECT_EQ(c.Bitmap().Pixel(639, 479),
              ViewerColours()[size_t(PlateOf(Raster.Row(59)[79], AllVisible()))]);
    EXPECT_EQ(c.Bitmap().Pixel(640, 0), kPaper);
    // Reductions are composed in the canvas: their size shows where the paper begins.
    auto colourAt = [&](int x, int y) {
        return ViewerColours()[size_t(PlateOf(Raster.Row(y)[x], AllVisible()))];
    };
    TCountingCanvas reduced = Fresh(700, 500);
    auto r = On(reduced);
    r->WorkBitmap = std::move(t->WorkBitmap);
    r->Draw(10, 0, 5, 2, 0.5);
    EXPECT_EQ(reduced.Bitmap().Pixel(1, 0), colourAt(12, 0));
    EXPECT_EQ(reduced.Bitmap().Pixel(2, 0), kPaper);
    EXPECT_EQ(reduced.Bitmap().Pixel(0, 1), kPaper);
    r->Draw(0, 0, 40, 20, 0.75); // step 1: the top-left part at 1:1
    EXPECT_EQ(reduced.Bitmap().Pixel(29, 14), colourAt(29, 14));
    EXPECT_EQ(reduced.Bitmap().Pixel(30, 0), kPaper);
    EXPECT_EQ(reduced.Bitmap().Pixel(0, 15), kPaper);
    EXPECT_EQ(work.Releases, 6); // released at the start and end of each call
}

TEST_F(DrawTest, ChangesBetweenCallsShow) {
    Open(sample::PaintSample(300, 200, 6));
    TCountingCanvas c = Fresh(300, 200);
    auto t = On(c);
    t->Draw(0, 0, 300, 200, 1);
    Map.PlateColor = t->PlateColor;
    Map.PlateVisible = t->PlateVisible;
    EXPECT_TRUE(Same(c.Bitmap(), Expected(300, 200, 0, 0, 300, 200, 1)));
    t->PlateColor[4] = 0x00ABCDEF;
    t->PlateVisible[2] = false;
    t->Draw(0, 0, 300, 200, 1);
    Map.PlateColor = t->PlateColor;
    Map.PlateVisible = t->PlateVisible;
    EXPECT_TRUE(Same(c.Bitmap(), Expected(300, 200, 0, 0, 300, 200, 1)));
}

TEST_F(DrawTest, WindowsWithoutSheetPixelsDrawNothing) {
    Open(sample::PaintSample(50, 40, 8));
    TCountingCanvas c = Fresh(60, 60);
    auto t = On(c);
    t->Draw(-1, 0, 10, 10, 1);
    t->Draw(0, -5, 10, 10, 1);
    t->Draw(50, 0, 10, 10, 1);
    t->Draw(0, 40, 10, 10, 1);
    t->Draw(0, 0, 0, 10, 1);
    t->Draw(0, 0, 10, 10, 0);
    t->Draw(0, 0, 10, 10, -1);
    t->Draw(0, 0, 10, 10, 1.0 / 64); // reduces to nothing
    t->Draw(INT32_MAX, INT32_MAX, INT32_MAX, INT32_MAX, 1);
    EXPECT_EQ(c.Transfers, 0);
}

TEST_F(DrawTest, RowsADamagedSheetLacksShowTheBackground) {
    // Two of three rows unpacked: the third shows the background and nothing is raised.
    TCountingCanvas c = Fresh(4, 4);
    TTiff d(&c, ScratchPath());
    d.OpenFile(Put("s.tif", TSheetBuilder::Basic(4, 3, {{0xF9, 0x81}}).Build()));
    ASSERT_EQ(d.RowsWritten, 2);
    d.PlateVisible = AllVisible();
    d.PlateColor = ViewerColours();
    d.PlateColor[0] = rt::RGB(1, 2, 3);
    d.Draw(0, 0, 4, 3, 1);
    EXPECT_EQ(c.Transfers, 1);
    for (int x = 0; x < 4; ++x) {
        EXPECT_EQ(c.Bitmap().Pixel(x, 1), d.PlateColor[8]);
        EXPECT_EQ(c.Bitmap().Pixel(x, 2), rt::RGB(1, 2, 3));
        EXPECT_EQ(c.Bitmap().Pixel(x, 3), kPaper); // below the picture: the caller's
    }
    EXPECT_FALSE(d.HoldsRows(0, 3));
    EXPECT_TRUE(d.HoldsRows(0, 2));
    EXPECT_TRUE(d.HoldsRows(1, 1));
}

TEST_F(DrawTest, AScratchFileCutBehindItsBackFailsBeforeTouchingTheCanvas) {
    TCountingCanvas c = Fresh(4, 4);
    TTiff d(&c, ScratchPath());
    d.OpenFile(Put("s.tif", TSheetBuilder::Basic(4, 3, {{0xF9, 1, 0xFD, 2}}).Build()));
    ASSERT_EQ(d.RowsWritten, 3);
    d.Draw(0, 0, 4, 3, 1); // the scratch file stays open for the pictures from now on
    ASSERT_EQ(::truncate(ScratchPath().c_str(), 8), 0);
    int fds = testing_support::OpenDescriptorCount();
    try {
        d.Draw(0, 0, 4, 3, 1);
        FAIL() << "drew past the end of the scratch file";
    } catch (const rt::EInOutError& e) {
        EXPECT_EQ(e.ErrorCode(), 100);
    }
    EXPECT_EQ(c.Transfers, 1);
    EXPECT_EQ(testing_support::OpenDescriptorCount(), fds);
    d.Draw(0, 0, 4, 2, 1);
    EXPECT_EQ(c.Transfers, 2);
}

TEST_F(DrawTest, ASheetOpenedForSomeRowsDrawsAndExportsThemAsAWholeOpenDoes) {
    // Strips of a few rows each, literal runs among them, so that a window starts and ends
    // inside strips.
    Raster = sample::PaintSample(300, 260, 9);
    sample::TSheetOptions o;
    o.StripBytes = 900;
    o.LiteralRuns = true;
    const std::string sheet = PutSample("w.tif", Raster, o);
    Map.OpenFile(sheet);
    for (auto [first, count] :
         {std::pair{0, 260}, std::pair{37, 50}, std::pair{200, 500}, std::pair{259, 1}}) {
        TCountingCanvas whole = Fresh(320, 120), part = Fresh(320, 120);
        TTiff a(&whole, Dir.File("a.tmp")), b(&part, Dir.File("b.tmp"));
        a.OpenFile(sheet);
        b.OpenRows(sheet, first, count);
        const int held = std::min(count, 260 - first);
        EXPECT_EQ(b.FirstRow, first);
        EXPECT_EQ(b.RowsWritten, held);
        // The rows are at their place; nothing is written past them.
        const auto bytes = testing_support::ReadAll(Dir.File("b.tmp"));
        ASSERT_EQ(bytes.size(), size_t(first + held) * 300);
        EXPECT_TRUE(std::equal(bytes.begin() + first * 300, bytes.end(),
                               Raster.Pixels.begin() + first * 300));
        for (TTiff* t : {&a, &b}) {
            t->PlateVisible = AllVisible();
            t->PlateColor = ViewerColours();
        }
        for (double rate : {1.0, 0.5, 2.0}) {
            a.Draw(10, first, 300, held, rate);
            b.Draw(10, first, 300, held, rate);
            EXPECT_TRUE(Same(whole.Bitmap(), part.Bitmap())) << first << " " << rate;
        }
        a.SaveBitmap(5, first, 200, held, 0.5L, Dir.File("a.bmp"));
        b.SaveBitmap(5, first, 200, held, 0.5L, Dir.File("b.bmp"));
        EXPECT_EQ(testing_support::ReadAll(Dir.File("a.bmp")),
                  testing_support::ReadAll(Dir.File("b.bmp")));
        // Rows it did not unpack: the background in a view, a refusal in a file.
        EXPECT_EQ(b.HoldsRows(first, held), true);
        if (first > 0) {
            EXPECT_FALSE(b.HoldsRows(first - 1, 2));
            const int before = first - 1; // clang 14 captures no structured binding
            EXPECT_EQ(ErrorOf([&] { b.SaveBitmap(0, before, 10, 2, 1, Dir.File("c.bmp")); }),
                      "ファイルの末尾以降を読み込みました");
        }
    }
}

TEST_F(DrawTest, SmoothReductionAveragesEveryBlock) {
    // Each picture pixel is the rounded average, channel by channel, of the composed colours
    // of its Step x Step block, worked out here pixel by pixel; rows a damaged sheet lacks
    // count as the background.
    Raster = sample::PaintSample(403, 301, 11);
    sample::TSheetOptions damaged;
    damaged.StatedHeight = 330;
    const std::string sheet = PutSample("d.tif", Raster, damaged); // where On() looks
    Map.OpenFile(sheet);
    Map.PlateVisible[3] = false;
    Map.PlateColor[0] = rt::RGB(250, 240, 230);
    for (auto [col, row, rate] :
         {std::tuple{0, 0, 0.5}, std::tuple{17, 9, 0.125}, std::tuple{1, 260, 1.0 / 64},
          std::tuple{50, 20, 0.25}, std::tuple{2, 5, 1.0 / 128}}) { // beyond what lanes can sum
        TCountingCanvas c = Fresh(120, 90);
        auto t = On(c);
        t->Smooth = true;
        t->Draw(col, row, int(120 / rate), int(90 / rate), rate);
        const int step = int(1 / rate);
        const int outCols = std::min(120, (403 - col) / step),
                  outRows = std::min(90, (330 - row) / step);
        for (int y = 0; y < 90; ++y)
            for (int x = 0; x < 120; ++x) {
                rt::TColor want = kPaper;
                if (x < outCols && y < outRows) {
                    long sum[3] = {0, 0, 0}, n = 0;
                    for (int sy = row + y * step; sy < std::min(row + (y + 1) * step, 330); ++sy)
                        for (int sx = col + x * step; sx < std::min(col + (x + 1) * step, 403);
                             ++sx, ++n) {
                            const uint8_t v = sy < 301 ? Raster.Row(sy)[sx] : 0;
                            const rt::TColor k =
                                Map.PlateColor[size_t(PlateOf(v, Map.PlateVisible))];
                            sum[0] += rt::RedOf(k), sum[1] += rt::GreenOf(k),
                                sum[2] += rt::BlueOf(k);
                        }
                    want = rt::RGB(uint8_t((sum[0] + n / 2) / n), uint8_t((sum[1] + n / 2) / n),
                                   uint8_t((sum[2] + n / 2) / n));
                }
                ASSERT_EQ(c.Bitmap().Pixel(x, y), want) << x << "," << y << " at 1/" << step;
            }
    }
    // At rate 1 and above there is nothing to average: the picture is the sampled one.
    TCountingCanvas a = Fresh(50, 40), b = Fresh(50, 40);
    auto plain = On(a), smooth = On(b);
    smooth->Smooth = true;
    plain->Draw(3, 4, 25, 20, 2);
    smooth->Draw(3, 4, 25, 20, 2);
    EXPECT_TRUE(Same(a.Bitmap(), b.Bitmap()));
}

TEST_F(DrawTest, ScrollingAcrossTheSheetKeepsOnlyTheViewsPagesInMemory) {
    constexpr int kW = 4000, kH = 3000; // 12 MB of scratch rows
    Open(sample::PaintSample(kW, kH, 12));
    TCountingCanvas c = Fresh(400, 300);
    auto t = On(c);
    const std::string scratch = Dir.File("view.tmp");
    t->Smooth = true;
    t->Draw(0, 0, kW, kH, 1.0 / 8); // every byte of the sheet read
    t->Smooth = false;
    for (int row = 0; row < kH; row += 300)
        for (int col = 0; col < kW; col += 400) t->Draw(col, row, 400, 300, 1);
    t->Draw(0, 0, kW, kH, 0.5);
    t->Draw(1000, 1000, 400, 300, 1);
    EXPECT_EQ(c.Transfers, 103);
    EXPECT_TRUE(Same(c.Bitmap(), Expected(400, 300, 1000, 1000, 400, 300, 1)));
    // The last view's rows, with the pages mapped around them: far below the sheet's size.
    const int64_t resident = MappedResidentBytes(scratch);
    EXPECT_GT(resident, 0) << "the view is not read through a map of " << scratch;
    EXPECT_LT(resident, 2 * 1024 * 1024);
}

TEST_F(DrawTest, AViewInsideTheSheetIsDrawnBeforeTheRestIsUnpacked) {
    Raster = sample::PaintSample(300, 400, 13);
    sample::TSheetOptions o;
    o.StripBytes = 900; // strips of a few rows
    const std::string sheet = PutSample("f.tif", Raster, o);
    Map.PlateColor = ViewerColours();
    Map.PlateVisible = AllVisible();
    TCountingCanvas early = Fresh(200, 60);
    TTiff t(&early, Dir.File("first.tmp"));
    t.PlateColor = Map.PlateColor;
    t.PlateVisible = Map.PlateVisible;
    t.ShowFirst = {250, 60};
    int calls = 0, viewAt = 0, topAt = 0;
    t.OnRows = [&] {
        ++calls;
        if (!topAt && t.HoldsRows(0, 1)) topAt = calls;
        if (!viewAt && t.HoldsRows(250, 60)) {
            viewAt = calls;
            t.Draw(40, 250, 200, 60, 1);
        }
    };
    t.OpenFile(sheet);
    ASSERT_GT(viewAt, 0);
    EXPECT_LT(viewAt, topAt); // the view's strips before the first strip of the sheet
    EXPECT_TRUE(Same(early.Bitmap(), Expected(200, 60, 40, 250, 200, 60, 1)));
    EXPECT_TRUE(t.HoldsRows(0, 400));
    EXPECT_EQ(t.RowsWritten, 400);

    // A strip above the view that cannot be read: nothing tells where the view's rows
    // begin, so none are shown, as the whole open leaves none of them.
    std::vector<uint8_t> bytes = testing_support::ReadAll(sheet);
    const uint32_t at = testing_support::StripOffset(bytes, 5);
    const uint8_t be[4] = {uint8_t(at >> 24), uint8_t(at >> 16), uint8_t(at >> 8), uint8_t(at)};
    auto entry = std::search(bytes.begin(), bytes.end(), be, be + 4); // in the offsets table
    ASSERT_NE(entry, bytes.end());
    sample::PutBE32(bytes, size_t(entry - bytes.begin()), 0x7FFFFFF0);
    TTiff cut(nullptr, Dir.File("cut.tmp"));
    cut.ShowFirst = {250, 60};
    bool viewHeld = false;
    cut.OnRows = [&] { viewHeld = viewHeld || cut.HoldsRows(250, 60); };
    cut.OpenFile(Put("cut.tif", bytes));
    EXPECT_FALSE(viewHeld);
    ASSERT_TRUE(cut.Damage);
    EXPECT_LT(cut.RowsWritten, 250);
    EXPECT_FALSE(cut.HoldsRows(250, 60));
    EXPECT_FALSE(cut.HoldsRow(260));
}

// A stop asked for while the open runs on its own thread ends it at its next strip, inside
// the view's rows too, not once the whole view is in.
TEST_F(DrawTest, AStopWhileTheViewsRowsComeInEndsTheOpenAtTheNextStrip) {
    sample::TSheetOptions o;
    o.StripBytes = 900;
    Raster = sample::PaintSample(2000, 3000, 15);
    const std::string sheet = PutSample("stop.tif", Raster, o);
    const std::string scratch = Dir.File("stop.tmp");
    TTiff t(nullptr, scratch);
    t.ShowFirst = {1000, 1500};
    t.StartOpen(sheet);
    EXPECT_TRUE(t.IsOpening());
    t.RequestStop();
    while (!t.Poll()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    EXPECT_THROW(t.FinishOpen(), rt::EAbort);
    EXPECT_FALSE(t.Loaded);
    EXPECT_FALSE(t.IsOpening());
    // The file is cut where the unpacking stopped: short of the view's last row.
    EXPECT_LT(int64_t(std::filesystem::file_size(scratch)), int64_t(2500) * 2000);
}

// The view's rows come in on the open's thread while this one draws: any picture drawn
// before they are in shows the background, never the last sheet's rows still in the
// scratch file; once they are in, the view, before the walk has written a row.
TEST_F(DrawTest, AViewAtTheTopComesBeforeTheWalkWhileThisThreadDrawsOnTheLastSheetsFile) {
    sample::TSheetOptions o;
    o.StripBytes = 900;
    Raster = sample::PaintSample(300, 400, 13);
    const std::string last = PutSample("last.tif", Raster, o);
    Raster = sample::PaintSample(300, 400, 14);
    const std::string next = PutSample("next.tif", Raster, o);
    TCountingCanvas canvas = Fresh(200, 60);
    TTiff t(&canvas, Dir.File("top.tmp"));
    t.PlateColor = Map.PlateColor = ViewerColours();
    t.PlateVisible = Map.PlateVisible = AllVisible();
    t.OpenFile(last);
    t.Draw(0, 0, 200, 60, 1);

    t.ShowFirst = {0, 60};
    int early = 0, shown = 0;
    t.OnRows = [&] {
        if (shown || !t.HoldsRows(0, 60)) return;
        shown = 1;
        t.Draw(0, 0, 200, 60, 1);
        EXPECT_TRUE(Same(canvas.Bitmap(), Expected(200, 60, 0, 0, 200, 60, 1)));
    };
    const rt::TBitmap want = Expected(200, 60, 0, 0, 200, 60, 1);
    t.StartOpen(next);
    for (bool over = false; !over;) {
        if (!shown) {
            ++early;
            canvas.FillRect({0, 0, 200, 60}, Map.PlateColor[0]); // as the view is cleared
            t.Draw(0, 0, 200, 60, 1);
            for (int y = 0; y < 60; ++y)
                for (int x = 0; x < 200; ++x)
                    ASSERT_EQ(canvas.Bitmap().Pixel(x, y),
                              t.HoldsRow(y) ? want.Pixel(x, y) : Map.PlateColor[0])
                        << x << "," << y;
        }
        over = t.Poll();
    }
    t.FinishOpen();
    EXPECT_GE(early, 1);
    EXPECT_EQ(shown, 1);
    t.Draw(0, 0, 200, 60, 1);
    EXPECT_TRUE(Same(canvas.Bitmap(), Expected(200, 60, 0, 0, 200, 60, 1)));
}
