#include "runtime/Errors.h"
#include "runtime/FileSys.h"
#include "runtime/Hooks.h"
#include "tests/engine/EngineFixture.h"

using namespace enginetest;

namespace {

// One strip holding rows of width w, each row filled with its own index.
std::vector<uint8_t> RowsStrip(int w, int rows, int first = 0) {
    std::vector<uint8_t> s;
    for (int r = 0; r < rows; ++r) {
        std::vector<uint8_t> row(size_t(w), uint8_t(first + r));
        sample::PackRow(row.data(), row.size(), false, s);
    }
    return s;
}

} // namespace

TEST_F(EngineTest, SheetNameIsTheFileNameCutBeforeItsFirstDot) {
    auto bytes = TSheetBuilder::Basic(4, 1, {RowsStrip(4, 1)}).Build();
    TTiff t(nullptr, ScratchPath());
    t.OpenFile(Put("C12345.tif", bytes));
    EXPECT_EQ(t.SheetName, "C12345");
    t.OpenFile(Put("a.b.tif", bytes));
    EXPECT_EQ(t.SheetName, "a");
    t.OpenFile(Put("nodot", bytes));
    EXPECT_EQ(t.SheetName, "");
}

TEST_F(EngineTest, DirectoryFieldsAreTakenAsConverted) {
    // ImageWidth as SHORT, the rest LONG; a tag twice (the later wins); a strange dir offset.
    TSheetBuilder b = TSheetBuilder::Basic(0, 2, {RowsStrip(5, 2)});
    b.Entries[0] = {256, 3, 1, 9};
    b.Entries.push_back({256, 3, 1, 5});
    b.Rationals = {{1270, 3}, {7, 2}};
    b.DirOffset = 30;
    TTiff t(nullptr, ScratchPath());
    t.OpenFile(Put("s.tif", b.Build()));
    EXPECT_TRUE(t.Loaded);
    EXPECT_EQ(t.Width, 5);
    EXPECT_EQ(t.Height, 2);
    EXPECT_EQ(t.StripCount, 1);
    EXPECT_EQ(t.XDpi, 423);
    EXPECT_EQ(t.YDpi, 3);
    EXPECT_EQ(t.Header[0], 'M');
    EXPECT_EQ(t.Header[2], 42); // version converted to the machine's order
    EXPECT_EQ(t.Header[4], 30);
    EXPECT_EQ(t.DirEntries[1].Tag, 256);
    EXPECT_EQ(t.DirEntries[1].FieldType, 3);
    EXPECT_EQ(t.DirEntries[1].Value, 9u);
    EXPECT_EQ(t.DirEntries[7].Value, 5u);
    EXPECT_EQ(Scratch(), (std::vector<uint8_t>{0, 0, 0, 0, 0, 1, 1, 1, 1, 1}));
}

TEST_F(EngineTest, ResolutionRules) {
    TTiff t(nullptr, ScratchPath());
    TSheetBuilder b = TSheetBuilder::Basic(4, 1, {RowsStrip(4, 1)});
    b.Rationals = {{400, 0}, {400, 1}};
    t.OpenFile(Put("a.tif", b.Build()));
    EXPECT_EQ(t.XDpi, 0);
    EXPECT_EQ(t.YDpi, 400);
    // Only one of the two entries: neither is read, the old values stay.
    b.Entries.pop_back();
    b.Rationals = {{300, 1}};
    t.OpenFile(Put("b.tif", b.Build()));
    EXPECT_EQ(t.XDpi, 0);
    EXPECT_EQ(t.YDpi, 400);
    EXPECT_EQ(Scratch(), std::vector<uint8_t>(4, 0)); // the strip table was still found
}

TEST_F(EngineTest, OneStripComesFromBehindTheDirectoryNotTheEntryValue) {
    TSheetBuilder b = TSheetBuilder::Basic(3, 1, {RowsStrip(3, 1, 7)});
    b.Entries[3].Value = 1; // nonsense in the entry's own value
    b.Entries.push_back({279, 4, 1, 99999});
    TTiff t(nullptr, ScratchPath());
    t.OpenFile(Put("a.tif", b.Build()));
    EXPECT_EQ(Scratch(), (std::vector<uint8_t>{7, 7, 7}));
}

TEST_F(EngineTest, EmptyDirectoryWithAndWithoutGauge) {
    TSheetBuilder b;
    TTiff t(nullptr, ScratchPath());
    t.OpenFile(Put("e.tif", b.Build()));
    EXPECT_TRUE(t.Loaded);
    EXPECT_EQ(t.Width, 0);
    EXPECT_EQ(t.StripCount, 0);
    EXPECT_TRUE(Scratch().empty());

    rt::TProgressModel gauge;
    t.Gauge = &gauge;
    EXPECT_EQ(ErrorOf([&] { t.OpenFile(Dir.File("e.tif")); }),
              "1 から 2147483647 の間の値でなければなりません");
    EXPECT_FALSE(t.Loaded);
    EXPECT_FALSE(gauge.Visible()); // a failed open leaves no gauge over the view
}

TEST_F(EngineTest, GaugeFollowsTheStrips) {
    std::vector<std::vector<uint8_t>> strips;
    for (int s = 0; s < 5; ++s) strips.push_back(RowsStrip(4, 2, 2 * s));
    TWatchedGauge gauge;
    std::vector<int> seen;
    gauge.OnPosition = [&](int p) {
        if (seen.empty() || seen.back() != p) seen.push_back(p);
    };
    TTiff t(nullptr, ScratchPath());
    t.Gauge = &gauge;
    t.OpenFile(Put("g.tif", TSheetBuilder::Basic(4, 10, strips).Build()));
    EXPECT_EQ(seen, (std::vector<int>{0, 1, 2, 3, 4}));
    EXPECT_EQ(gauge.Max(), 4);
    EXPECT_EQ(gauge.ForeColor(), 0x0000FFu);
    EXPECT_FALSE(gauge.Visible());
    EXPECT_EQ(t.RowsWritten, 10);
}

TEST_F(EngineTest, FailuresReportTheirMessagesAndLeaveNothingOpen) {
    TTiff t(nullptr, ScratchPath());
    const int fds = testing_support::OpenDescriptorCount();
    EXPECT_EQ(ErrorOf([&] { t.OpenFile(Dir.File("missing.tif")); }), "ファイルが見つかりません");

    auto good = TSheetBuilder::Basic(4, 2, {RowsStrip(4, 2)}).Build();
    // A little-endian mark is still read big-endian: the directory lies far past the end.
    TSheetBuilder little = TSheetBuilder::Basic(4, 2, {RowsStrip(4, 2)});
    little.LittleEndianMark = true;
    EXPECT_EQ(ErrorOf([&] { t.OpenFile(Put("le.tif", little.Build())); }),
              "ファイルの末尾以降を読み込みました");

    for (size_t cut : {size_t(4), size_t(12), size_t(40)}) {
        std::vector<uint8_t> part(good.begin(), good.begin() + long(cut));
        EXPECT_EQ(ErrorOf([&] { t.OpenFile(Put("cut.tif", part)); }),
                  "ファイルの末尾以降を読み込みました")
            << cut;
        EXPECT_FALSE(t.Loaded);
    }
    // A strip that runs past the end ends the unpacking without failing the open: the rows
    // before it are the sheet's, the rest is cut away, and the damage is told.
    std::vector<std::vector<uint8_t>> strips = {RowsStrip(4, 1, 1), RowsStrip(4, 1, 2)};
    TSheetBuilder noRes = TSheetBuilder::Basic(4, 2, strips);
    noRes.Entries.resize(4);
    noRes.Rationals.clear();
    auto bytes = noRes.Build();
    t.OpenFile(Put("full.tif", bytes)); // leaves a longer scratch file behind
    EXPECT_FALSE(t.Damage);
    bytes.resize(bytes.size() - 1);
    EXPECT_EQ(ErrorOf([&] { t.OpenFile(Put("short.tif", bytes)); }), "");
    EXPECT_TRUE(t.Loaded);
    ASSERT_TRUE(t.Damage);
    EXPECT_EQ(t.Damage->ErrorCode(), rt::kReadPastEnd);
    EXPECT_EQ(t.RowsWritten, 1);
    EXPECT_EQ(Scratch(), std::vector<uint8_t>(4, 1));
    EXPECT_EQ(testing_support::OpenDescriptorCount(), fds);

    // The scratch file cannot be made in a missing directory.
    TTiff lost(nullptr, Dir.File("none/scratch.tmp"));
    EXPECT_EQ(ErrorOf([&] { lost.OpenFile(Dir.File("full.tif")); }), "不正なファイル名です");
    EXPECT_EQ(testing_support::OpenDescriptorCount(), fds);
}

TEST_F(EngineTest, ASheetCutShortKeepsTheWholeRowsItsBytesHold) {
    // Rows of 4 bytes, the first two by runs; the last strip is cut where a copy stopped.
    const std::vector<uint8_t> first = {0xFD, 1, 0xFD, 2};
    struct {
        const char* Where;
        std::vector<uint8_t> Last;
        size_t Cut; // bytes missing at the file's end
        int32_t Rows;
    } cases[] = {
        {"inside a literal", {0x07, 3, 3, 3, 3, 4, 4, 4, 4}, 3, 3},
        {"before a run's value", {0xFD, 3, 0xFD, 4}, 1, 3},
        {"before the strip", {0xFD, 3, 0xFD, 4}, 4, 2},
    };
    TTiff t(nullptr, ScratchPath());
    for (const auto& c : cases) {
        TSheetBuilder b = TSheetBuilder::Basic(4, 4, {first, c.Last});
        b.Entries.resize(4); // no resolution: the last strip ends the file
        b.Rationals.clear();
        auto bytes = b.Build();
        bytes.resize(bytes.size() - c.Cut);
        EXPECT_EQ(ErrorOf([&] { t.OpenFile(Put("cut.tif", bytes)); }), "") << c.Where;
        EXPECT_TRUE(t.Loaded) << c.Where;
        ASSERT_TRUE(t.Damage) << c.Where;
        EXPECT_EQ(t.Damage->ErrorCode(), rt::kReadPastEnd) << c.Where;
        EXPECT_EQ(t.RowsWritten, c.Rows) << c.Where;
        std::vector<uint8_t> rows(size_t(c.Rows) * 4, 3);
        std::fill_n(rows.begin(), 4, 1);
        std::fill_n(rows.begin() + 4, 4, 2);
        EXPECT_EQ(Scratch(), rows) << c.Where;
        EXPECT_TRUE(t.HoldsRows(0, c.Rows)) << c.Where;
        EXPECT_FALSE(t.HoldsRows(0, 4)) << c.Where;
    }
}

TEST_F(EngineTest, UnsupportedSizesAndCompressionsAreRefusedBeforeUnpacking) {
    TTiff t(nullptr, ScratchPath());
    t.OpenFile(Put("ok.tif", TSheetBuilder::Basic(4, 1, {RowsStrip(4, 1, 9)}).Build()));
    for (uint32_t w : {1048577u, 0x80000000u}) {
        EXPECT_EQ(ErrorOf([&] {
                      t.OpenFile(
                          Put("w.tif", TSheetBuilder::Basic(w, 1, {RowsStrip(4, 1)}).Build()));
                  }),
                  "マップ画像の大きさが不正です");
        EXPECT_FALSE(t.Loaded);
        EXPECT_TRUE(Scratch().empty());
    }
    EXPECT_EQ(ErrorOf([&] {
                  t.OpenFile(
                      Put("h.tif", TSheetBuilder::Basic(4, 1048577, {RowsStrip(4, 1)}).Build()));
              }),
              "マップ画像の大きさが不正です");
    EXPECT_EQ(ErrorOf([&] {
                  t.OpenFile(
                      Put("c.tif", TSheetBuilder::Basic(4, 1, {RowsStrip(4, 1)}, 5).Build()));
              }),
              "対応していない圧縮形式です (5)");
    EXPECT_FALSE(t.Loaded);
    // The largest accepted side is taken.
    t.OpenFile(Put("max.tif", TSheetBuilder::Basic(1048576, 0, {}).Build()));
    EXPECT_TRUE(t.Loaded);
}

TEST_F(EngineTest, UncompressedStripsAreCopiedRowByRow) {
    std::vector<uint8_t> raw = {1, 2, 3, 4, 5, 6, 7};
    TTiff t(nullptr, ScratchPath());
    t.OpenFile(Put("raw.tif", TSheetBuilder::Basic(3, 2, {raw}, 1).Build()));
    EXPECT_TRUE(t.Loaded);
    EXPECT_EQ(Scratch(), (std::vector<uint8_t>{1, 2, 3, 4, 5, 6}));
    // No Compression entry at all means uncompressed.
    TSheetBuilder b = TSheetBuilder::Basic(3, 2, {raw});
    b.Entries.erase(b.Entries.begin() + 2);
    t.OpenFile(Put("none.tif", b.Build()));
    EXPECT_EQ(Scratch(), (std::vector<uint8_t>{1, 2, 3, 4, 5, 6}));
}

TEST_F(EngineTest, MoreThanFourteenEntriesAreAllTaken) {
    TSheetBuilder b = TSheetBuilder::Basic(2, 1, {RowsStrip(2, 1, 3)});
    std::vector<TEntry> entries;
    for (uint16_t i = 0; i < 20; ++i) entries.push_back({uint16_t(300 + i), 3, 1, i});
    // The size entries come last, past the table's room.
    entries.insert(entries.end(), b.Entries.begin(), b.Entries.end());
    b.Entries = entries;
    TTiff t(nullptr, ScratchPath());
    t.OpenFile(Put("many.tif", b.Build()));
    EXPECT_EQ(t.Width, 2);
    EXPECT_EQ(t.StripCount, 1);
    EXPECT_EQ(t.XDpi, 254);
    EXPECT_EQ(t.DirEntries[14].Tag, 313);
    EXPECT_EQ(Scratch(), (std::vector<uint8_t>{3, 3}));
}

TEST_F(EngineTest, SecondOpenReplacesTheScratchAndDestructionRemovesIt) {
    {
        TTiff t(nullptr, ScratchPath());
        EXPECT_FALSE(rt::FileExists(ScratchPath())); // nothing made at construction
        t.OpenFile(Put("big.tif", TSheetBuilder::Basic(8, 3, {RowsStrip(8, 3, 5)}).Build()));
        EXPECT_EQ(Scratch().size(), 24u);
        t.OpenFile(Put("small.tif", TSheetBuilder::Basic(2, 1, {RowsStrip(2, 1, 9)}).Build()));
        EXPECT_EQ(Scratch(), (std::vector<uint8_t>{9, 9}));
    }
    EXPECT_FALSE(rt::FileExists(ScratchPath()));
}

TEST_F(EngineTest, AnOpenFromInsideAnOpenIsRefused) {
    std::vector<std::vector<uint8_t>> strips = {RowsStrip(4, 1, 1), RowsStrip(4, 1, 2)};
    std::string path = Put("a.tif", TSheetBuilder::Basic(4, 2, strips).Build());
    TTiff t(nullptr, ScratchPath());
    std::string inner;
    t.OnRows = [&] {
        if (inner.empty()) inner = ErrorOf([&] { t.OpenFile(path); });
    };
    t.OpenFile(path);
    EXPECT_EQ(inner, "マップ画像を読み込み中です");
    EXPECT_TRUE(t.Loaded);
    EXPECT_EQ(Scratch(), (std::vector<uint8_t>{1, 1, 1, 1, 2, 2, 2, 2}));
}

TEST_F(EngineTest, DefaultScratchIsSharedUnderALockWithAPrivateFallback) {
    // A second process holding the shared file is played by a lock taken here.
    std::string shared = rt::JoinPath(rt::ExeDir(), "tiff.tmp");
    std::string own = rt::JoinPath(rt::ExeDir(), "tiff-" + std::to_string(::getpid()) + ".tmp");
    auto bytes = TSheetBuilder::Basic(2, 1, {RowsStrip(2, 1, 4)}).Build();
    std::string sheet = Put("s.tif", bytes);
    {
        TTiff first(nullptr);
        EXPECT_EQ(first.ScratchPath, shared);
        first.OpenFile(sheet);
        TTiff second(nullptr);
        second.OpenFile(sheet);
        EXPECT_EQ(second.ScratchPath, own);
        EXPECT_TRUE(rt::FileExists(shared));
        EXPECT_TRUE(rt::FileExists(own));
    }
    EXPECT_FALSE(rt::FileExists(shared));
    EXPECT_FALSE(rt::FileExists(own));
}

TEST_F(EngineTest, AStopRequestEndsTheOpenBeforeTheNextStrip) {
    std::vector<std::vector<uint8_t>> strips = {RowsStrip(4, 1, 1), RowsStrip(4, 1, 2),
                                                RowsStrip(4, 1, 3)};
    std::string path = Put("a.tif", TSheetBuilder::Basic(4, 3, strips).Build());
    TTiff t(nullptr, ScratchPath());
    TWatchedGauge gauge;
    gauge.OnPosition = [&](int strip) {
        if (strip == 1) t.RequestStop();
    };
    t.Gauge = &gauge;
    EXPECT_THROW(t.OpenFile(path), rt::EAbort);
    gauge.OnPosition = nullptr;
    EXPECT_FALSE(t.Loaded);
    EXPECT_FALSE(t.IsOpening());
    EXPECT_EQ(Scratch(), std::vector<uint8_t>(4, 1)); // the first strip's row only
    t.RequestStop();                                  // outside an open it is forgotten
    t.OpenFile(path);
    EXPECT_TRUE(t.Loaded);
}

TEST_F(EngineTest, AStripCutShortGivesAWindowWhatItGivesTheWholeOpenWhateverTheTagSays) {
    // Three strips of two rows; the first one's byte count runs far past the end of the file,
    // so that it reads the other strips' bytes too and is cut short by the file's end. What
    // it holds is every row: nothing is lost, and the window gets its rows from it.
    for (uint32_t stated : {0u, 2u, 4u}) { // 0: no RowsPerStrip entry
        SCOPED_TRACE(stated);
        auto b =
            TSheetBuilder::Basic(4, 6, {RowsStrip(4, 2), RowsStrip(4, 2, 2), RowsStrip(4, 2, 4)});
        if (stated) b.Entries.push_back({278, 4, 1, stated});
        std::vector<uint8_t> bytes = b.Build();
        const size_t byteCounts = b.DirOffset + 2 + 12 * b.Entries.size() + 4 + 4 * 3;
        sample::PutBE32(bytes, byteCounts, 0x00FFFFFF);
        const std::string path = Put("w.tif", bytes);
        TTiff whole(nullptr, Dir.File("whole.tmp"));
        whole.OpenFile(path);
        EXPECT_FALSE(whole.Damage);
        ASSERT_EQ(whole.RowsWritten, 6);
        TTiff t(nullptr, ScratchPath());
        t.OpenRows(path, 3, 2);
        EXPECT_FALSE(t.Damage.has_value());
        ASSERT_TRUE(t.HoldsRows(3, 2));
        for (int r = 3; r < 5 && t.HoldsRow(r); ++r)
            for (int c = 0; c < 4; ++c) {
                uint8_t got = 0, want = 1;
                ASSERT_TRUE(t.PixelAt(c, r, got) && whole.PixelAt(c, r, want));
                EXPECT_EQ(got, want) << c << "," << r;
            }
    }
}

TEST_F(EngineTest, ASampledOpenUnpacksOnlyTheStripsThatHoldASampledRow) {
    // Eight strips of one row; an export at 1/4 samples rows 7 and 3. The strips of the
    // other rows are scanned for their length and left as holes.
    std::vector<std::vector<uint8_t>> strips;
    for (int r = 0; r < 8; ++r) strips.push_back(RowsStrip(6, 1, 10 * r));
    auto b = TSheetBuilder::Basic(6, 8, strips);
    b.Entries.push_back({278, 4, 1, 1});
    const std::string sheet = Put("s.tif", b.Build());

    TTiff t(nullptr, ScratchPath());
    t.OpenSample(sheet, 0, -1, 4);
    EXPECT_FALSE(t.Damage);
    uint8_t v = 0;
    for (int r = 0; r < 8; ++r) EXPECT_EQ(t.HoldsRow(r), r == 3 || r == 7) << r;
    ASSERT_TRUE(t.PixelAt(5, 3, v));
    EXPECT_EQ(v, 30);
    ASSERT_TRUE(t.PixelAt(0, 7, v));
    EXPECT_EQ(v, 70);
    ASSERT_TRUE(t.PixelAt(0, 5, v));
    EXPECT_EQ(v, 0); // a hole
    EXPECT_FALSE(t.HoldsRows(0, 8));
    // The export at 1/4 reads the rows it holds; one at 1/2 would need the others.
    t.PlateVisible = AllVisible();
    t.SaveBitmap(0, 0, 6, 8, 0.25L, Dir.File("q.bmp"));
    EXPECT_EQ(testing_support::ReadAll(Dir.File("q.bmp")).size(), 118u + 2 * 4);
    EXPECT_EQ(ErrorOf([&] { t.SaveBitmap(0, 0, 6, 8, 0.5L, Dir.File("h.bmp")); }),
              rt::EInOutError(rt::kReadPastEnd).what());
    // A window ending on row 6 samples rows 6 and 2.
    TTiff w(nullptr, Dir.File("w.tmp"));
    w.OpenSample(sheet, 1, 6, 4);
    for (int r = 1; r < 7; ++r) EXPECT_EQ(w.HoldsRow(r), r == 2 || r == 6) << r;
}
