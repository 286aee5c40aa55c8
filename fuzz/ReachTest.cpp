// Valid inputs through a fuzz target's entry get to the code the target exists for: a
// check put in front of that code (a size or space test) cannot blind the target unseen.

#include "fuzz/Reach.h"
#include "tools/SampleSheet.h"

#include <gtest/gtest.h>
#include <set>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

void Feed(const std::vector<uint8_t>& bytes) {
    LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
}

} // namespace

#ifdef REACH_fuzz_tiff
TEST(FuzzReach, ASheetIsUnpackedDrawnAtEveryRateAndExported) {
    // The seeds' own size and one large enough for a pixel at 1/64; packed in two-byte units
    // and with literals, and uncompressed.
    struct {
        int W, H, Draws, Exports;
        bool Literal;
        uint16_t Compression;
    } sheets[] = {{24, 16, 4, 2, false, 32773}, // too small for 1/64 and the 1/16 corner
                  {200, 130, 5, 3, true, 32773},
                  {201, 130, 5, 3, false, 1}};
    std::set<bool> ways;
    int viewFirst = 0, sampled = 0;
    for (const auto& s : sheets) {
        sample::TSheetOptions o;
        o.LiteralRuns = s.Literal;
        o.Compression = s.Compression;
        o.StripBytes = 64;
        auto bytes = sample::BuildSheet(sample::PaintSample(s.W, s.H, 3), o);
        for (int pad = 0; pad < 4; ++pad, bytes.push_back(0)) { // the size picks the way
            Feed(bytes);
            EXPECT_EQ(gFuzzReach.RowsUnpacked, s.H) << s.W << " " << pad;
            EXPECT_EQ(gFuzzReach.DrawsWithPixels, s.Draws) << s.W << " " << pad;
            EXPECT_EQ(gFuzzReach.Exports, s.Exports) << s.W << " " << pad;
            // The window's nine rows, and the samples' at the least.
            EXPECT_GE(gFuzzReach.RowsCompared, 12) << s.W << " " << pad;
            EXPECT_EQ(gFuzzReach.StreamedRows, 9 + (s.H - 1) / 16 + 1) << s.W << " " << pad;
            ways.insert(gFuzzReach.DecodedAhead);
            viewFirst += gFuzzReach.ViewFirst;
            sampled += gFuzzReach.SampledExport && gFuzzReach.StripsPassed;
        }
    }
    EXPECT_EQ(ways.size(), 2u); // walked ahead and on the caller's thread
    // Each sheet once with its view's rows first, once sampled with strips left unread.
    EXPECT_EQ(viewFirst, 3);
    EXPECT_EQ(sampled, 3);
    // Strips cut by a byte budget and strips whose RowsPerStrip lies: the faster opens are
    // compared with the whole one, the first view among them.
    sample::TSheetOptions budget, lying;
    budget.FillStrips = true;
    budget.StripBytes = 300;
    lying.StripRows.assign(10, 14);
    lying.StatedRowsPerStrip = 13;
    for (const sample::TSheetOptions& o : {budget, lying}) {
        auto bytes = sample::BuildSheet(sample::PaintSample(200, 130, 4), o);
        bool viewCompared = false;
        for (int pad = 0; pad < 4; ++pad, bytes.push_back(0)) {
            Feed(bytes);
            EXPECT_EQ(gFuzzReach.RowsUnpacked, 130);
            EXPECT_GE(gFuzzReach.RowsCompared, 12);
            // The window's nine rows and the sample's nine.
            EXPECT_EQ(gFuzzReach.StreamedRows, 18);
            viewCompared = viewCompared || gFuzzReach.ViewFirst;
        }
        EXPECT_TRUE(viewCompared);
    }
    // What the fuzzer mostly makes, a sheet it cannot read, reaches nothing.
    Feed({'M', 'M', 0, 42, 0, 0, 0, 8});
    EXPECT_EQ(gFuzzReach.RowsUnpacked, 0);
    EXPECT_EQ(gFuzzReach.Exports, 0);
}
#endif

#ifdef REACH_fuzz_csv
TEST(FuzzReach, ARegistryIsReadAndRewritten) {
    // The first record's keys match and the last byte (odd) says yes to the change.
    const std::string registry = "7,a,b,/c,/e\r\n7,x,y,/z,/w";
    Feed({registry.begin(), registry.end()});
    EXPECT_EQ(gFuzzReach.Records, 2);
    EXPECT_TRUE(gFuzzReach.RegistryRewritten);
}
#endif
