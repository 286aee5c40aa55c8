#include "tests/engine/EngineFixture.h"

using namespace enginetest;

namespace {
using Bytes = std::vector<uint8_t>;

Bytes Repeat(uint8_t v, size_t n) {
    return Bytes(n, v);
}
Bytes Cat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (auto& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}
} // namespace

TEST(UnpackRun, TwoByteUnits) {
    uint8_t dest[130];
    const uint8_t longest[2] = {0x81, 0xAB}; // -127
    std::fill(std::begin(dest), std::end(dest), 0);
    EXPECT_EQ(TTiff::UnpackRun(longest, dest), 128);
    EXPECT_EQ(std::count(dest, dest + 130, 0xAB), 128);
    const uint8_t two[2] = {0xFF, 3}, one[2] = {0x00, 4};
    EXPECT_EQ(TTiff::UnpackRun(two, dest), 2);
    EXPECT_EQ(TTiff::UnpackRun(one, dest), 1);
}

TEST(ByteOrder, SwapsWorkInPlaceAndLeaveTails) {
    uint8_t b[7] = {1, 2, 3, 4, 5, 6, 7};
    TTiff::SwapWords(b, 7);
    EXPECT_EQ(Bytes(b, b + 7), (Bytes{2, 1, 4, 3, 6, 5, 7}));
    TTiff::SwapLongHalves(b, 7);
    EXPECT_EQ(Bytes(b, b + 7), (Bytes{4, 3, 2, 1, 6, 5, 7}));
    uint8_t c[1] = {9};
    TTiff::SwapWords(c, 1);
    TTiff::SwapLongHalves(c, 3);
    EXPECT_EQ(c[0], 9);
}

TEST_F(EngineTest, WorkedExampleStrip) {
    TTiff t(nullptr, ScratchPath());
    t.OpenFile(
        Put("w.tif", TSheetBuilder::Basic(4, 2, {{0xFD, 0x07, 0xFF, 0x09, 0xFF, 0x05}}).Build()));
    EXPECT_EQ(Scratch(), (Bytes{7, 7, 7, 7, 9, 9, 5, 5}));
    EXPECT_EQ(t.RowsWritten, 2);
}

TEST_F(EngineTest, StripEndsDropPartialRowsAndOddBytes) {
    // Strip 1: a row and a half, then an odd byte. Strip 2: empty. Strip 3: one row.
    Bytes s1 = {0xFD, 1, 0xFF, 2, 0x7F};
    Bytes s3 = {0xFD, 3};
    TTiff t(nullptr, ScratchPath());
    t.OpenFile(Put("p.tif", TSheetBuilder::Basic(4, 3, {s1, {}, s3}).Build()));
    EXPECT_EQ(Scratch(), (Bytes{1, 1, 1, 1, 3, 3, 3, 3}));
    EXPECT_EQ(t.RowsWritten, 2);
}

TEST_F(EngineTest, FullPackBitsLiteralsNoOpsAndRowCrossingRuns) {
    // Width 3: a literal of 4 bytes crosses into row 2, -128 is skipped, a run of 5 crosses
    // into row 3; the literal at the end is cut short by the strip and gives what is there.
    Bytes strip = {0x03, 10, 11, 12, 13, 0x80, 0xFC, 20, 0x05, 30, 31};
    TTiff t(nullptr, ScratchPath());
    t.OpenFile(Put("l.tif", TSheetBuilder::Basic(3, 4, {strip}).Build()));
    EXPECT_EQ(Scratch(), (Bytes{10, 11, 12, 13, 20, 20, 20, 20, 20}));
    EXPECT_EQ(t.RowsWritten, 3);
}

TEST_F(EngineTest, LargeStripsAreUnpackedNotSkipped) {
    // Width 2: 8192 packed bytes, then 8193, then 70000 (more than one read chunk).
    auto strip = [](size_t packed, uint8_t v) {
        Bytes s;
        for (size_t i = 0; i + 1 < packed; i += 2) {
            s.push_back(0xFF);
            s.push_back(v);
        }
        if (packed % 2) s.push_back(0x00);
        return s;
    };
    Bytes a = strip(8192, 1), b = strip(8193, 2), c = strip(70000, 3);
    TTiff t(nullptr, ScratchPath());
    t.OpenFile(Put("big.tif", TSheetBuilder::Basic(2, 4096 + 4096 + 35000, {a, b, c}).Build()));
    EXPECT_EQ(Scratch(), Cat({Repeat(1, 8192), Repeat(2, 8192), Repeat(3, 70000)}));
    EXPECT_EQ(t.RowsWritten, 4096 + 4096 + 35000);
}

TEST_F(EngineTest, AtMostHeightRowsAndNothingForZeroWidth) {
    TTiff t(nullptr, ScratchPath());
    t.OpenFile(Put("h.tif", TSheetBuilder::Basic(2, 2, {{0xFB, 6}}).Build())); // 6 bytes, 3 rows
    EXPECT_EQ(Scratch(), Repeat(6, 4));
    EXPECT_EQ(t.RowsWritten, 2);
    t.OpenFile(Put("z.tif", TSheetBuilder::Basic(0, 5, {{0xFB, 6}}).Build()));
    EXPECT_TRUE(Scratch().empty());
    EXPECT_EQ(t.RowsWritten, 0);
    EXPECT_TRUE(t.Loaded);
}

TEST_F(EngineTest, PaintedSheetsRoundTripInEveryPacking) {
    const sample::TRaster r = sample::PaintSample(1500, 700, 7);
    struct Case {
        bool literal;
        uint32_t stripBytes;
        uint16_t compression;
    };
    for (Case c : {Case{false, 8192, 32773}, Case{true, 8192, 32773}, Case{true, 100000, 32773},
                   Case{false, 512, 32773}, Case{false, 8192, 1}}) {
        sample::TSheetOptions o;
        o.LiteralRuns = c.literal;
        o.StripBytes = c.stripBytes;
        o.Compression = c.compression;
        TTiff t(nullptr, ScratchPath());
        t.OpenFile(PutSample("r.tif", r, o));
        EXPECT_EQ(t.RowsWritten, 700);
        EXPECT_TRUE(Scratch() == r.Pixels) << c.literal << " " << c.stripBytes;
    }
}

TEST_F(EngineTest, BytesThatFindNoPlaceAreCounted) {
    // Width 4: a strip ending two bytes into its second row, and one whose last count byte
    // lost its value byte; a literal cut short gives what it had to the row.
    TTiff t(nullptr, ScratchPath());
    t.OpenFile(Put("d.tif", TSheetBuilder::Basic(
                                4, 4, {{0xFD, 1, 0xFF, 2}, {0xFD, 3, 0xFF}, {0x05, 4, 4, 4, 4}})
                                .Build()));
    EXPECT_EQ(t.RowsWritten, 3);
    EXPECT_EQ(Scratch(), (std::vector<uint8_t>{1, 1, 1, 1, 3, 3, 3, 3, 4, 4, 4, 4}));
    EXPECT_EQ(t.DroppedBytes, 2 + 1);
    t.OpenFile(Put("ok.tif", TSheetBuilder::Basic(4, 1, {{0xFD, 1}}).Build()));
    EXPECT_EQ(t.DroppedBytes, 0);
}
