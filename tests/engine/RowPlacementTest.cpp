// Every faster open (a window of rows, a sample, a view's rows first) places each row where
// the whole open does, by what the strips before it unpack to, whatever RowsPerStrip says.

#include "engine/SheetStream.h"
#include "tests/engine/EngineFixture.h"

#include <algorithm>

using namespace enginetest;

namespace {

struct TLayout {
    const char* Name;
    int W, H;
    std::vector<uint32_t> StripRows; // empty: filled up to a packed-byte budget
    uint32_t Stated = 0;             // RowsPerStrip written, 0: the largest strip's
    uint32_t Budget = 0;
    bool Literal = false; // literal runs too, which may cross a piece a scan reads
};

// Tags that the shortcut would believe (their strip count agrees with Height) and that lie,
// a sheet cut by a byte budget, and one whose tag tells the truth.
const TLayout kLayouts[] = {
    {"two strips of 96 and 107 rows, tagged 107", 301, 203, {96, 107}, 107},
    {"strips of 51 rows tagged 50", 120, 400, {51, 51, 51, 51, 51, 51, 51, 51}, 50},
    {"strips of 49 rows tagged 50", 90, 400, std::vector<uint32_t>(8, 49), 50},
    {"filled up to 600 packed bytes", 160, 300, {}, 0, 600},
    // Its first strip, some 400 KB, is scanned in pieces, a literal run crossing the first
    // piece's end.
    {"filled up to 400,000 packed bytes, literals", 4002, 1200, {}, 0, 400000, true},
    {"a truthful tag", 160, 300, std::vector<uint32_t>(10, 30), 0},
};

class RowPlacementTest : public EngineTest {
protected:
    std::string Sheet(const TLayout& l) {
        sample::TSheetOptions o;
        o.StripRows = l.StripRows;
        o.StatedRowsPerStrip = l.Stated;
        o.FillStrips = l.StripRows.empty();
        o.StripBytes = l.Budget ? l.Budget : 8192;
        o.LiteralRuns = l.Literal;
        return PutSample("s.tif", sample::PaintSample(l.W, l.H, 5), o);
    }
    // The rows of the whole open, as the plain walk places them.
    std::vector<uint8_t> Whole(const std::string& path) {
        TTiff whole(nullptr, Dir.File("whole.tmp"));
        whole.DecodeAhead = false;
        whole.OpenFile(path);
        EXPECT_EQ(whole.RowsWritten, whole.Height);
        return testing_support::ReadAll(Dir.File("whole.tmp"));
    }
    static std::vector<uint8_t> Rows(const std::vector<uint8_t>& raster, int w, int64_t first,
                                     int64_t count) {
        const auto* p = raster.data() + first * w;
        return {p, p + count * w};
    }
};

TEST_F(RowPlacementTest, WindowsAndSamplesHoldTheWholeOpensRows) {
    for (const TLayout& l : kLayouts) {
        SCOPED_TRACE(l.Name);
        const std::string path = Sheet(l);
        const std::vector<uint8_t> whole = Whole(path);
        ASSERT_EQ(whole.size(), size_t(l.W) * size_t(l.H));
        for (bool ahead : {false, true}) {
            TTiff map(nullptr, ScratchPath());
            map.DecodeAhead = ahead;
            for (auto [first, count] : {std::pair{0, 60}, {107, 96}, {l.H / 2, 60}, {l.H - 7, 7}}) {
                map.OpenRows(path, first, count);
                ASSERT_TRUE(map.HoldsRows(first, count)) << first;
                EXPECT_EQ(Rows(Scratch(), l.W, first, count), Rows(whole, l.W, first, count))
                    << "window at " << first << (ahead ? ", ahead" : "");
            }
            // A sample holds every row it reads: the window's last and each step-th above.
            for (int step : {4, 64}) {
                for (auto [first, count] : {std::pair{0, -1}, {l.H / 3, l.H / 2}}) {
                    map.OpenSample(path, first, count, step);
                    const int64_t end = count < 0 ? l.H : first + count;
                    const std::vector<uint8_t> got = Scratch();
                    int held = 0;
                    for (int64_t r = end - 1; r >= first; r -= step) {
                        ASSERT_TRUE(map.HoldsRow(r)) << "row " << r << " at 1/" << step;
                        EXPECT_EQ(Rows(got, l.W, r, 1), Rows(whole, l.W, r, 1)) << r;
                        ++held;
                    }
                    EXPECT_GT(held, 0);
                }
            }
        }
    }
}

TEST_F(RowPlacementTest, TheFirstViewShowsTheWholeOpensRowsBeforeTheWalk) {
    for (const TLayout& l : kLayouts) {
        SCOPED_TRACE(l.Name);
        const std::string path = Sheet(l);
        const std::vector<uint8_t> whole = Whole(path);
        // Inside the sheet, and past its end: the view is moved up to end on the last row.
        for (const auto& [viewFirst, viewCount] : {std::pair{107, 50}, {l.H - 10, 40}}) {
            const int32_t first = viewFirst, count = viewCount; // a lambda takes these
            TTiff map(nullptr, ScratchPath());
            map.ShowFirst = {first, count};
            const int32_t top = std::min(first, l.H - count);
            int calls = 0;
            map.OnRows = [&] {
                if (calls++ > 0) return;
                // The first call comes after the view's rows alone, before any of the walk.
                EXPECT_EQ(map.RowsWritten, 0);
                ASSERT_TRUE(map.HoldsRows(top, count));
                EXPECT_EQ(Rows(Scratch(), l.W, top, count), Rows(whole, l.W, top, count));
            };
            map.OpenFile(path);
            EXPECT_GT(calls, 1);
            EXPECT_EQ(Scratch(), whole);
        }
    }
}

TEST_F(RowPlacementTest, DroppedBytesCountWhatTheLastStripLeavesBehindTheLastRow) {
    // Width 4, Height 2, one strip: two rows, then a third row cut at 3 bytes and a count
    // byte without its value.
    const std::vector<uint8_t> strip = {0xFD, 7, 0xFD, 9, 0xFE, 5, 0xFF};
    TTiff map(nullptr, ScratchPath());
    map.OpenFile(Put("d.tif", TSheetBuilder::Basic(4, 2, {strip}).Build()));
    EXPECT_EQ(map.RowsWritten, 2);
    EXPECT_EQ(map.DroppedBytes, 3 + 1);
    // A whole extra row is not dropped bytes: it makes a row the sheet does not state.
    map.OpenFile(Put("e.tif", TSheetBuilder::Basic(4, 1, {{0xFD, 7, 0xFD, 9}}).Build()));
    EXPECT_EQ(map.DroppedBytes, 0);
}

TEST_F(RowPlacementTest, AStripCutShortBehindAWindowsLastRowLosesTheWindowNothing) {
    // The last strip states 50 bytes more than the file holds. A window's rows all lie in the
    // bytes there, the last of them gathered but not yet written when the read comes up short.
    const sample::TRaster raster = sample::PaintSample(24, 16, 2);
    sample::TSheetOptions o;
    o.StripRows = {4, 12};
    std::vector<uint8_t> bytes = sample::BuildSheet(raster, o);
    for (size_t at = 10; at + 12 <= bytes.size() && bytes[at] != 0; at += 12) {
        if (bytes[at] != 0x01 || bytes[at + 1] != 0x17) continue; // StripByteCounts
        const size_t last = size_t(bytes[at + 10]) << 8 | bytes[at + 11];
        sample::PutBE32(bytes, last + 4, uint32_t(bytes[last + 6] << 8 | bytes[last + 7]) + 50);
    }
    const std::string path = Put("c.tif", bytes);
    TTiff window(nullptr, ScratchPath());
    window.DecodeAhead = false;
    window.OpenRows(path, 5, 9);
    EXPECT_FALSE(window.Damage);
    EXPECT_TRUE(window.HoldsRows(5, 9));
    const std::vector<uint8_t> scratch = Scratch();
    ASSERT_GE(scratch.size(), size_t(14 * 24));
    EXPECT_EQ(Rows(scratch, 24, 5, 9), Rows(raster.Pixels, 24, 5, 9));
    // The stream straight from the strips gives the window too, and the whole open all rows.
    TSheetStream stream(path);
    int64_t taken = 0;
    stream.Walk(5, 9, 1, [&](int64_t, const uint8_t*) { ++taken; });
    EXPECT_EQ(taken, 9);
    TTiff whole(nullptr, Dir.File("whole.tmp"));
    whole.OpenFile(path);
    EXPECT_FALSE(whole.Damage);
    EXPECT_EQ(whole.RowsWritten, 16);
}

} // namespace
