// Printing, seen as a user sees the paper: each PDF page rasterised by pdftoppm and read
// back, its text by pdftotext.
#include "runtime/Errors.h"
#include "runtime/ScopeExit.h"
#include "tests/PngRead.h"
#include "tests/viewer/FormFixture.h"
#include "viewer/SheetPrint.h"

#include <QApplication>
#include <filesystem>
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <unistd.h>

using testing_support::CommandOutput;
using testing_support::TRgbPicture;

namespace {

// The part x, y, w x h (in dots) of a page of pdf rasterised at dpi.
TRgbPicture PageRaster(const std::string& pdf, int page, int dpi, int x, int y, int w, int h) {
    const std::string png = pdf + "-" + std::to_string(page) + "-" + std::to_string(dpi);
    const std::string command =
        "pdftoppm -r " + std::to_string(dpi) + " -png -singlefile -f " + std::to_string(page) +
        " -l " + std::to_string(page) + " -x " + std::to_string(x) + " -y " + std::to_string(y) +
        " -W " + std::to_string(w) + " -H " + std::to_string(h) + " " + pdf + " " + png;
    if (std::system(command.c_str()) != 0) return {};
    return testing_support::ReadPng(png + ".png");
}

rt::TColor At(const TRgbPicture& p, int x, int y) {
    const uint8_t* d = &p.Rgb[(size_t(y) * p.Width + size_t(x)) * 3];
    return rt::RGB(d[0], d[1], d[2]);
}

bool Dark(const TRgbPicture& p, int x, int y) {
    const uint8_t* d = &p.Rgb[(size_t(y) * p.Width + size_t(x)) * 3];
    return int(d[0]) + d[1] + d[2] < 3 * 100;
}

// The longest run of dark dots along any row: a scale bar's length.
int LongestDarkRun(const TRgbPicture& p) {
    int longest = 0;
    for (int y = 0; y < int(p.Height); ++y)
        for (int x = 0, run = 0; x < int(p.Width); ++x) {
            run = Dark(p, x, y) ? run + 1 : 0;
            longest = std::max(longest, run);
        }
    return longest;
}

std::string PageText(const std::string& pdf, int page) {
    return CommandOutput("pdftotext -f " + std::to_string(page) + " -l " + std::to_string(page) +
                         " " + pdf + " -");
}

int PageCountOf(const std::string& pdf) {
    const std::string info = CommandOutput("pdfinfo " + pdf);
    const size_t at = info.find("Pages:");
    return at == std::string::npos ? -1 : std::atoi(info.c_str() + at + 6);
}

// A tmpfs of its own at dir while it lives (as root; Mounted() says whether it could be).
class TSmallDisk {
public:
    TSmallDisk(const std::string& dir, int sizeKiB, bool readOnly) : Dir(dir) {
        std::filesystem::create_directories(dir);
        const std::string size = "size=" + std::to_string(sizeKiB) + "k";
        Ok = ::mount("tmpfs", dir.c_str(), "tmpfs", readOnly ? MS_RDONLY : 0, size.c_str()) == 0;
    }
    ~TSmallDisk() {
        if (Ok) ::umount2(Dir.c_str(), MNT_DETACH);
    }
    bool Mounted() const { return Ok; }

private:
    std::string Dir;
    bool Ok = false;
};

} // namespace

class PrintTest : public FormMapTest {
protected:
    // Prints through the window as Ctrl+P does, the dialog answered with choice.
    void PrintFromWindow(const tk::TPrintChoice& choice) {
        tk::SetPrintDialogHook([&]() -> std::optional<tk::TPrintChoice> { return choice; });
        Form->actPrint->trigger();
        Settle();
        tk::SetPrintDialogHook(nullptr);
    }
    // The sheet as the view composes it, every plate and colour as set.
    rt::TBitmap Composed(int w, int h) {
        rt::TBitmapCanvas whole(w, h);
        TTiff t(&whole, Dir.File("print-reference.tmp"));
        t.OpenFile(LastOpened);
        t.PlateVisible = MapImage->PlateVisible;
        t.PlateColor = MapImage->PlateColor;
        t.Draw(0, 0, w, h, 1);
        return whole.Bitmap();
    }
    // A printer that prints to pdf, set up further by setup.
    static void PrintTo(const std::string& pdf, TTiff& sheet, const TPrintJob& job,
                        const std::function<void(QPrinter&)>& setup = {}) {
        QPrinter printer(QPrinter::HighResolution);
        printer.setOutputFormat(QPrinter::PdfFormat);
        printer.setOutputFileName(QString::fromStdString(pdf));
        if (setup) setup(printer);
        PrintSheet(printer, sheet, job);
    }
};

TEST_F(PrintTest, EveryPageTellsItsSheetScaleAndPlaceAroundTheUnchangedMap) {
    // 4000 x 3000 pixels at 254 dpi: 400 x 300 mm at 1:25,000. A4 takes six portrait pages
    // or four landscape ones (277 x 190 mm of map each, 10 mm repeated): landscape it is.
    LastOpened = MakeSheet("C4.tif", 4000, 3000);
    Open(LastOpened);
    Form->chk5->click(); // printed as shown: contour lines off
    const std::string pdf = Dir.File("all.pdf");
    PrintFromWindow({true, false, pdf});
    ASSERT_TRUE(Errors.empty()) << Errors.front();
    ASSERT_EQ(PageCountOf(pdf), 4);
    EXPECT_NE(CommandOutput("pdfinfo " + pdf).find("842 x 595 pts (A4)"), std::string::npos);
    const rt::TBitmap sheet = Composed(4000, 3000);

    const TSheetWindow pages[] = {
        {0, 0, 2770, 1900}, {2670, 0, 1330, 1900}, {0, 1800, 2770, 1200}, {2670, 1800, 1330, 1200}};
    for (int page = 1; page <= 4; ++page) {
        SCOPED_TRACE("page " + std::to_string(page));
        const std::string text = PageText(pdf, page);
        EXPECT_NE(text.find("C4 " + std::to_string(page) + "/4"), std::string::npos) << text;
        EXPECT_NE(text.find("1:25,000"), std::string::npos) << text;

        // Rasterised at five times the sheet's resolution (where no rasteriser smooths),
        // each sheet pixel is a 5 x 5 block of its own colour, the map 10 mm (500 dots) in
        // from the paper's corner, with nothing drawn over it: its top, middle and bottom
        // rows, and the paper right of it.
        const TSheetWindow& w = pages[page - 1];
        for (const int first : {0, int(w.Rows) / 2 - 50, int(w.Rows) - 100}) {
            const TRgbPicture band =
                PageRaster(pdf, page, 1270, 500, 500 + 5 * first, 5 * int(w.Cols) + 10, 500);
            ASSERT_EQ(band.Width, uint32_t(5 * w.Cols + 10));
            int wrong = 0;
            for (int y = 0; y < 100; ++y) {
                for (int x = 0; x < w.Cols; ++x) {
                    const rt::TColor want = sheet.Pixel(int(w.Col) + x, int(w.Row) + first + y);
                    for (auto [dx, dy] : {std::pair{0, 0}, {4, 0}, {2, 2}, {0, 4}, {4, 4}})
                        wrong += At(band, 5 * x + dx, 5 * y + dy) != want;
                }
                wrong += At(band, 5 * int(w.Cols) + 1, 5 * y + 2) != rt::kWhite;
            }
            EXPECT_EQ(wrong, 0) << "from row " << first;
        }

        // Below the map (from 200.5 mm down, at 5 x 254 dpi): a scale bar of 1 km at
        // 1:25,000, 40 mm or 2000 dots to the dot, and the grid of 2 x 2 pages with this one
        // filled at the right.
        const TRgbPicture notes = PageRaster(pdf, page, 1270, 0, 10025, 14850, 465);
        ASSERT_EQ(notes.Width, 14850u);
        ASSERT_EQ(notes.Height, 465u);
        EXPECT_NEAR(LongestDarkRun(notes), 2000, 1);
        int left = 14850, right = 0, top = 465, bottom = 0;
        for (int y = 150; y < 465; ++y) // clear of the marks right under the map
            for (int x = 14850 * 3 / 4; x < 14850; ++x)
                if (Dark(notes, x, y)) {
                    left = std::min(left, x), right = std::max(right, x);
                    top = std::min(top, y), bottom = std::max(bottom, y);
                }
        ASSERT_LT(left, right);
        for (int cell = 0; cell < 4; ++cell) {
            const int cx = left + (right - left) * (2 * (cell % 2) + 1) / 4;
            const int cy = top + (bottom - top) * (2 * (cell / 2) + 1) / 4;
            EXPECT_EQ(Dark(notes, cx, cy), cell == page - 1) << "cell " << cell;
        }
    }

    // Where the next page begins: a fine mark above the map at sheet column 2670 of the
    // first page (277 mm from the paper's edge), none elsewhere in that band.
    const TRgbPicture above = PageRaster(pdf, 1, 1270, 500, 400, 13850, 90);
    ASSERT_EQ(above.Height, 90u);
    int marks = 0, at = 0;
    for (int x = 1; x < 13850; ++x)
        if (Dark(above, x, 60) && !Dark(above, x - 1, 60)) ++marks, at = x;
    EXPECT_EQ(marks, 1);
    EXPECT_NEAR(at, 5 * 2670, 3);
}

TEST_F(PrintTest, AFittedPrintGivesItsOwnScaleAndABarOfIt) {
    EXPECT_EQ(ScaleText(25000, true), "1:25,000");
    EXPECT_EQ(ScaleText(52631.6, false), "約 1:52,600");
    EXPECT_EQ(ScaleText(1234567, false), "約 1:1,230,000");
    EXPECT_EQ(ScaleText(999.4, false), "約 1:999");

    // 400 x 300 mm on 277 x 190 mm of landscape A4: 0.633 of its size, about 1:39,500; 1 km
    // is 25.33 mm (1267 dots at 1270 dpi).
    LastOpened = MakeSheet("C5.tif", 4000, 3000);
    Open(LastOpened);
    const std::string pdf = Dir.File("fit.pdf");
    PrintFromWindow({true, true, pdf});
    ASSERT_TRUE(Errors.empty()) << Errors.front();
    ASSERT_EQ(PageCountOf(pdf), 1);
    const std::string text = PageText(pdf, 1);
    EXPECT_NE(text.find("約 1:39,500"), std::string::npos) << text;
    EXPECT_NE(text.find("C5 1/1"), std::string::npos) << text;
    const TRgbPicture notes = PageRaster(pdf, 1, 1270, 0, 10025, 14850, 465);
    ASSERT_EQ(notes.Height, 465u);
    EXPECT_NEAR(LongestDarkRun(notes), 40.0 * 190 / 300 * 50, 1.5);
}

TEST_F(PrintTest, ThePagesAskedForTheMarginsSetAndTheOrientationChosen) {
    LastOpened = MakeSheet("C6.tif", 4000, 3000);
    rt::TBitmapCanvas canvas(4000, 3000);
    TTiff t(&canvas, Dir.File("print-sheet.tmp"));
    t.OpenFile(LastOpened);
    t.PlateColor = plates::kDefaultColors;
    t.PlateVisible.fill(true);
    t.Draw(0, 0, 4000, 3000, 1); // what the pages must show
    const TSheetWindow whole{0, 0, 4000, 3000};
    {
        QPrinter a4(QPrinter::HighResolution);
        EXPECT_EQ(PageCount(a4, t, whole, false, QPageLayout::Portrait), 6u);
        EXPECT_EQ(PageCount(a4, t, whole, false, QPageLayout::Landscape), 4u);
        EXPECT_EQ(PageCount(a4, t, whole, true, QPageLayout::Portrait), 1u);
    }
    // Pages 2 to 3 of the four: those alone, numbered as in the whole.
    const std::string range = Dir.File("range.pdf");
    PrintTo(range, t, {whole}, [](QPrinter& p) {
        p.setPrintRange(QPrinter::PageRange);
        p.setFromTo(2, 3);
    });
    ASSERT_EQ(PageCountOf(range), 2);
    EXPECT_NE(PageText(range, 1).find("C6 2/4"), std::string::npos);
    EXPECT_NE(PageText(range, 2).find("C6 3/4"), std::string::npos);
    // Pages the tiling does not have: said, and no file.
    const std::string none = Dir.File("none.pdf");
    try {
        PrintTo(none, t, {whole}, [](QPrinter& p) {
            p.setPrintRange(QPrinter::PageRange);
            p.setFromTo(5, 6);
        });
        ADD_FAILURE() << "printed pages that are not there";
    } catch (const rt::TError& e) {
        EXPECT_STREQ(e.what(), "印刷するページがありません (全 4 ページ)");
    }
    EXPECT_FALSE(rt::FileExists(none));

    // Portrait chosen, with 25 mm margins set: the map begins 25 mm in, and 160 x 247 mm of
    // it on a page takes 3 x 2 pages.
    const std::string margins = Dir.File("margins.pdf");
    PrintTo(margins, t, {whole, false, true}, [](QPrinter& p) {
        p.setPageOrientation(QPageLayout::Portrait);
        p.setPageMargins(QMarginsF(25, 25, 25, 25), QPageLayout::Millimeter);
    });
    ASSERT_EQ(PageCountOf(margins), 6);
    EXPECT_NE(PageText(margins, 6).find("C6 6/6"), std::string::npos);
    // At 5 x 254 dpi, 25 mm is 1250 dots: the map's first 100 rows, paper left of, above
    // and right of them.
    const TRgbPicture band = PageRaster(margins, 1, 1270, 1245, 1245, 5 * 1600 + 10, 505);
    ASSERT_EQ(band.Width, 5u * 1600 + 10);
    int wrong = 0;
    for (int y = 0; y < 100; ++y) {
        for (int x = 0; x < 1600; ++x)
            for (auto [dx, dy] : {std::pair{0, 0}, {4, 0}, {2, 2}, {0, 4}, {4, 4}})
                wrong += At(band, 5 + 5 * x + dx, 5 + 5 * y + dy) != canvas.Bitmap().Pixel(x, y);
        wrong += At(band, 2, 5 + 5 * y + 2) != rt::kWhite;
        wrong += At(band, 5 + 5 * 1600 + 2, 5 + 5 * y + 2) != rt::kWhite;
    }
    for (int x = 0; x < 1600; ++x) wrong += At(band, 5 + 5 * x + 2, 2) != rt::kWhite;
    EXPECT_EQ(wrong, 0);
}

TEST_F(PrintTest, APdfThatCannotBeWrittenIsToldAndLeavesNothing) {
    LastOpened = MakeSheet("C7.tif", 4000, 3000);
    Open(LastOpened);
    // A directory that does not exist.
    PrintFromWindow({true, false, Dir.File("missing/print.pdf")});
    EXPECT_EQ(Errors, std::vector<std::string>{rt::IoErrorMessage(rt::kPathNotFound)});
    EXPECT_FALSE(std::filesystem::exists(Dir.File("missing")));
    Errors.clear();

    if (::geteuid() != 0) GTEST_SKIP() << "a tmpfs of the test's own needs root";
    // A read-only file system.
    {
        TSmallDisk disk(Dir.File("ro"), 1024, true);
        ASSERT_TRUE(disk.Mounted());
        PrintFromWindow({true, false, Dir.File("ro/print.pdf")});
        EXPECT_EQ(Errors, std::vector<std::string>{rt::IoErrorMessage(rt::kAccessDenied)});
        EXPECT_TRUE(std::filesystem::is_empty(Dir.File("ro")));
        Errors.clear();
    }
    // A disk that fills up: the old print stays as it was, no partial file beside it.
    TSmallDisk disk(Dir.File("full"), 128, false);
    ASSERT_TRUE(disk.Mounted());
    const std::string pdf = Dir.File("full/print.pdf");
    testing_support::WriteAll(pdf, {'o', 'l', 'd'});
    PrintFromWindow({true, false, pdf});
    EXPECT_EQ(Errors, std::vector<std::string>{rt::IoErrorMessage(rt::kDiskFull)});
    EXPECT_EQ(testing_support::ReadAll(pdf), (std::vector<uint8_t>{'o', 'l', 'd'}));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(Dir.File("full")), {}), 1);
}

TEST_F(PrintTest, ADamagedSheetIsRefusedAsSavingItIs) {
    // A copy cut short: 1500 of its 3000 rows. "All" reaches the missing rows: refused as
    // saving it is, and nothing written. The view's window at the top prints.
    Raster = sample::PaintSample(4000, 1500, 1);
    sample::TSheetOptions cut;
    cut.StatedHeight = 3000;
    sample::WriteSheet(Dir.File("C9.tif"), Raster, cut);
    LastOpened = Dir.File("C9.tif");
    Open(LastOpened);
    ASSERT_TRUE(MapImage->Loaded);
    ASSERT_LT(MapImage->RowsWritten, 3000);
    Errors.clear();
    PrintFromWindow({true, false, Dir.File("all.pdf")});
    EXPECT_EQ(Errors, std::vector<std::string>{rt::IoErrorMessage(rt::kReadPastEnd)});
    EXPECT_FALSE(rt::FileExists(Dir.File("all.pdf")));
    Errors.clear();
    PrintFromWindow({false, false, Dir.File("view.pdf")});
    EXPECT_TRUE(Errors.empty()) << Errors.front();
    EXPECT_EQ(PageCountOf(Dir.File("view.pdf")), 1);
}

TEST_F(PrintTest, ManyPagesAreAskedForFirstWithTheirCount) {
    // 20 dpi at true scale: 1.27 mm a pixel, 1905 mm square, dozens of pages.
    Raster = sample::PaintSample(1500, 1500, 1);
    sample::TSheetOptions coarse;
    coarse.XDpi = coarse.YDpi = 20;
    sample::WriteSheet(Dir.File("C10.tif"), Raster, coarse);
    LastOpened = Dir.File("C10.tif");
    Open(LastOpened);
    QPrinter a4(QPrinter::HighResolution);
    const size_t pages = PageCount(a4, *MapImage, {0, 0, 1500, 1500}, false,
                                   BestOrientation(a4, *MapImage, {0, 0, 1500, 1500}, false));
    ASSERT_GT(pages, kPagesWithoutAsking);
    testing_support::TScriptedBoxes boxes;
    boxes.Answers = {false, true};
    const std::string pdf = Dir.File("many.pdf");
    PrintFromWindow({true, false, pdf});
    ASSERT_EQ(boxes.Questions.size(), 1u);
    EXPECT_EQ(boxes.Questions[0], rt::Format("%zu ページを印刷します。よろしいですか?", pages));
    EXPECT_FALSE(rt::FileExists(pdf));
    PrintFromWindow({true, false, pdf});
    EXPECT_EQ(boxes.Questions.size(), 2u);
    EXPECT_TRUE(Errors.empty()) << Errors.front();
    EXPECT_EQ(PageCountOf(pdf), int(pages));
    // A window of a few pages is not asked about.
    PrintFromWindow({false, false, Dir.File("view.pdf")});
    EXPECT_EQ(boxes.Questions.size(), 2u);
}

TEST_F(PrintTest, PagesTwoToThreeChosenInTheDialogPrintThoseAlone) {
    // Landscape A4 takes the sheet in four pages; the dialog asks for 2 to 3 of them.
    LastOpened = MakeSheet("C11.tif", 4000, 3000);
    Open(LastOpened);
    tk::TPrintChoice pages{true, false, Dir.File("pages.pdf")};
    pages.FromPage = 2;
    pages.ToPage = 3;
    PrintFromWindow(pages);
    ASSERT_TRUE(Errors.empty()) << Errors.front();
    ASSERT_EQ(PageCountOf(Dir.File("pages.pdf")), 2);
    EXPECT_NE(PageText(Dir.File("pages.pdf"), 1).find("C11 2/4"), std::string::npos);
    EXPECT_NE(PageText(Dir.File("pages.pdf"), 2).find("C11 3/4"), std::string::npos);
    // The range lasts for that print only: the next one without it prints every page.
    PrintFromWindow({true, false, Dir.File("all.pdf")});
    EXPECT_EQ(PageCountOf(Dir.File("all.pdf")), 4);
}

TEST_F(PrintTest, TheDialogIsToldWhenASheetCanOnlyBeFitted) {
    // What the dialog is given when it opens: a sheet without a resolution has no scale to
    // print at, one with a resolution has.
    std::vector<bool> fitOnly;
    auto print = [&] {
        tk::SetPrintDialogHook([&]() -> std::optional<tk::TPrintChoice> {
            fitOnly.push_back(Form->PrintDialog.Choice.FitOnly);
            return std::nullopt;
        });
        Form->actPrint->trigger();
        Settle();
        tk::SetPrintDialogHook(nullptr);
    };
    Raster = sample::PaintSample(400, 300, 1);
    sample::TSheetOptions none;
    none.XDpi = none.YDpi = 0;
    sample::WriteSheet(Dir.File("C12.tif"), Raster, none);
    Open(Dir.File("C12.tif"));
    print();
    Open(MakeSheet("C13.tif", 400, 300));
    print();
    EXPECT_EQ(fitOnly, (std::vector<bool>{true, false}));
    EXPECT_TRUE(Errors.empty()) << Errors.front();
}

TEST_F(PrintTest, APdfLargerThanTheFileSizeLimitIsToldAndLeavesNothing) {
    LastOpened = MakeSheet("C14.tif", 4000, 3000);
    Open(LastOpened);
    const std::string pdf = Dir.File("limited.pdf");
    {
        TFileSizeLimit limit(256 * 1024);
        PrintFromWindow({true, false, pdf});
    }
    EXPECT_EQ(Errors, std::vector<std::string>{"ファイルが大きすぎます"});
    EXPECT_FALSE(rt::FileExists(pdf));
}
