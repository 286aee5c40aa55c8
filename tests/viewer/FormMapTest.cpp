#include "tests/LayoutCheck.h"
#include "tests/PngRead.h"
#include "tests/viewer/FormFixture.h"
#include "viewer/SheetPrint.h"

#include <QApplication>
#include <QClipboard>
#include <QElapsedTimer>
#include <QImage>
#include <QStyle>
#include <QStyleOptionSlider>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

TEST_F(FormMapTest, StartsEmptyWithTheDesignedControls) {
    EXPECT_EQ(Form->windowTitle().toStdString(), "Talvren Map Viewer for GSI 25000");
    EXPECT_EQ(Form->lblMScale->text().toStdString(), "x 1");
    EXPECT_EQ(Form->scrH->Max(), 0);
    EXPECT_EQ(Form->scrV->Max(), 0);
    EXPECT_FALSE(Form->btnBmpSave->isEnabled());
    EXPECT_FALSE(Form->btnCopy->isEnabled());
    EXPECT_TRUE(Form->btnMapMgr->isHidden());
    EXPECT_TRUE(Form->Button1->isHidden() && Form->Button2->isHidden() &&
                Form->Button3->isHidden());
    EXPECT_TRUE(Form->btnOptV->isChecked());
    EXPECT_EQ(Form->btnOpenSingle->toolTip().toStdString(), "単一ファイルを開く");
    EXPECT_EQ(Form->grpOption->title().toStdString(), " 表示オプション ");
    EXPECT_EQ(Form->pnlOption->width(), 168);
    testing_support::ExpectTidyLayout(Form->grpOption);
    EXPECT_TRUE(Form->pnlOption->rect().contains(Form->grpOption->geometry()));
    EXPECT_EQ(Form->scrV->width(), 20);
    EXPECT_EQ(Form->scrH->height(), 20);
    // The view lies at the map panel's corner with the bars right of and below it.
    EXPECT_EQ(Form->Image1->geometry(),
              QRect(0, 0, Form->pnlMap->width() - 20, Form->pnlMap->height() - 20));
    EXPECT_EQ(Form->scrH->geometry().top(), Form->Image1->height());
    EXPECT_EQ(Form->scrV->geometry().left(), Form->Image1->width());
    for (int k = 1; k <= 8; ++k) {
        EXPECT_EQ(Form->PlateSwatches[size_t(k)]->Tag, k);
        EXPECT_EQ(MapImage->PlateColor[size_t(k)], plates::kDefaultColors[size_t(k)]);
    }
    EXPECT_EQ(Form->chk8->text().toStdString(), "注記版");
    EXPECT_EQ(Form->Label15->text().toStdString(), "(国道)");
    EXPECT_TRUE(ViewIsRight()); // all white
    EXPECT_TRUE(Errors.empty());
}

TEST_F(FormMapTest, OpenShowsTheSheetAtEveryRate) {
    LastOpened = MakeSheet("C5339.tif", 3000, 2000);
    Open(LastOpened);
    ASSERT_TRUE(Errors.empty()) << Errors.front();
    ASSERT_EQ(Requests.size(), 1u);
    EXPECT_EQ(Requests[0].Filter, "Tiff (*.tif)|*.tif");
    EXPECT_TRUE(MapImage->Loaded);
    EXPECT_TRUE(Form->btnBmpSave->isEnabled() && Form->btnCopy->isEnabled());
    EXPECT_EQ(Form->scrH->Max(), 3000 - Form->ViewCols);
    EXPECT_EQ(Form->scrV->Max(), 2000 - Form->ViewRows);
    EXPECT_TRUE(ViewIsRight());

    ScrollTo(Form->scrH, 700);
    ScrollTo(Form->scrV, 333);
    EXPECT_TRUE(ViewIsRight());
    std::vector<std::string> labels;
    for (int i = 0; i < 7; ++i) {
        Form->spnRate->DownButton()->click();
        Settle();
        labels.push_back(Form->lblMScale->text().toStdString());
        EXPECT_TRUE(ViewIsRight()) << labels.back();
    }
    EXPECT_EQ(Form->Rate, 1.0 / 64);
    for (int i = 0; i < 10; ++i) {
        Form->spnRate->UpButton()->click();
        Settle();
        labels.push_back(Form->lblMScale->text().toStdString());
        EXPECT_TRUE(ViewIsRight()) << labels.back();
    }
    EXPECT_EQ(Form->Rate, 8.0);
    EXPECT_EQ(labels, (std::vector<std::string>{"1/2", "1/4", "1/8", "1/16", "1/32", "1/64", "1/64",
                                                "1/32", "1/16", "1/8", "1/4", "1/2", "x 1", "x 2",
                                                "x 4", "x 8", "x 8"}));
    EXPECT_EQ(Form->ViewCols, int(Form->Image1->width() / 8.0));
}

TEST_F(FormMapTest, ZoomingOutAtTheRightEdgePullsThePositionBack) {
    LastOpened = MakeSheet("a.tif", 2000, 1500);
    Open(LastOpened);
    ScrollTo(Form->scrH, Form->scrH->Max());
    int before = Form->scrH->Position();
    Form->spnRate->DownButton()->click();
    Settle();
    EXPECT_EQ(Form->scrH->Max(), 2000 - Form->ViewCols);
    EXPECT_LT(Form->scrH->Position(), before);
    EXPECT_EQ(Form->scrH->Position(), Form->scrH->Max());
    EXPECT_TRUE(ViewIsRight());
    // A second sheet starts at its top-left corner.
    LastOpened = MakeSheet("b.tif", 1200, 900, 2);
    Open(LastOpened);
    EXPECT_EQ(Form->scrH->Position(), 0);
    EXPECT_EQ(Form->scrV->Position(), 0);
    EXPECT_TRUE(ViewIsRight());
}

TEST_F(FormMapTest, ThumbDragRedrawsOnceWhenReleased) {
    LastOpened = MakeSheet("a.tif", 4000, 3000);
    Open(LastOpened);
    rt::TBitmap before = Form->Image1->Bitmap();
    TScrollBar* bar = Form->scrH;
    QStyleOptionSlider opt;
    opt.initFrom(bar);
    opt.orientation = Qt::Horizontal;
    opt.minimum = bar->minimum();
    opt.maximum = bar->maximum();
    opt.sliderPosition = bar->sliderPosition();
    opt.sliderValue = bar->value();
    opt.pageStep = bar->pageStep();
    opt.singleStep = bar->singleStep();
    QRect thumb =
        bar->style()->subControlRect(QStyle::CC_ScrollBar, &opt, QStyle::SC_ScrollBarSlider, bar);
    QTest::mousePress(bar, Qt::LeftButton, {}, thumb.center());
    QTest::mouseMove(bar, thumb.center() + QPoint(60, 0));
    Settle();
    EXPECT_GT(bar->Position(), 0);
    EXPECT_TRUE(Same(Form->Image1->Bitmap(), before)); // nothing drawn while dragging
    QTest::mouseRelease(bar, Qt::LeftButton, {}, thumb.center() + QPoint(60, 0));
    Settle();
    EXPECT_FALSE(Same(Form->Image1->Bitmap(), before));
    EXPECT_TRUE(ViewIsRight());
}

TEST_F(FormMapTest, HidingTheOptionPanelWidensTheView) {
    LastOpened = MakeSheet("a.tif", 4000, 3000);
    Open(LastOpened);
    ScrollTo(Form->scrH, 500);
    int width = Form->Image1->width(), cols = Form->ViewCols;
    Form->btnOptV->click();
    Settle();
    EXPECT_TRUE(Form->pnlOption->isHidden());
    EXPECT_EQ(Form->Image1->width(), width + 168);
    EXPECT_EQ(Form->ViewCols, cols + 168);
    EXPECT_EQ(Form->scrH->Position(), 500);
    EXPECT_TRUE(ViewIsRight());
    Form->btnOptV->click();
    Settle();
    EXPECT_FALSE(Form->pnlOption->isHidden());
    EXPECT_EQ(Form->Image1->width(), width);
}

TEST_F(FormMapTest, PlatesAndColoursChangeTheirPixelsOnly) {
    LastOpened = MakeSheet("a.tif", 1500, 1000);
    Open(LastOpened);
    Form->chk4->click(); // contour lines off
    Settle();
    EXPECT_FALSE(MapImage->PlateVisible[4]);
    EXPECT_TRUE(ViewIsRight());
    ColorAnswer = rt::RGB(200, 10, 20);
    QTest::mouseClick(Form->col5, Qt::LeftButton);
    Settle();
    EXPECT_EQ(MapImage->PlateColor[5], rt::RGB(200, 10, 20));
    EXPECT_EQ(Form->col5->Color(), rt::RGB(200, 10, 20));
    EXPECT_TRUE(ViewIsRight());
    rt::TBitmap before = Form->Image1->Bitmap();
    ColorAnswer.reset(); // cancelled
    QTest::mouseClick(Form->col6, Qt::LeftButton);
    Settle();
    EXPECT_TRUE(Same(Form->Image1->Bitmap(), before));
    EXPECT_EQ(MapImage->PlateColor[6], plates::kDefaultColors[6]);
    ASSERT_EQ(ColorOffered.size(), 2u);
    EXPECT_EQ(ColorOffered[0], 0u); // the dialog opens with the last colour chosen, black first
    EXPECT_EQ(ColorOffered[1], rt::RGB(200, 10, 20));
}

TEST_F(FormMapTest, CopyPutsTheViewOnTheClipboard) {
    LastOpened = MakeSheet("a.tif", 3000, 2000);
    Open(LastOpened);
    Form->spnRate->DownButton()->click();
    Form->spnRate->DownButton()->click();
    ScrollTo(Form->scrH, 900);
    ScrollTo(Form->scrV, 600);
    Form->btnCopy->click();
    QImage clip = QApplication::clipboard()->image();
    const rt::TBitmap& view = Form->Image1->Bitmap();
    ASSERT_EQ(clip.width(), view.Width());
    ASSERT_EQ(clip.height(), view.Height());
    for (int y = 0; y < view.Height(); y += 7)
        for (int x = 0; x < view.Width(); x += 5) {
            rt::TColor c = view.Pixel(x, y);
            ASSERT_EQ(clip.pixel(x, y), qRgb(rt::RedOf(c), rt::GreenOf(c), rt::BlueOf(c)))
                << x << "," << y;
        }
}

TEST_F(FormMapTest, SaveWritesWhatTheEngineWrites) {
    LastOpened = MakeSheet("a.tif", 900, 700);
    Open(LastOpened);
    Form->spnRate->DownButton()->click();
    Form->spnRate->DownButton()->click();
    Answers.push_back(Dir.File("quarter")); // no extension typed
    Form->btnBmpSave->click();
    EXPECT_TRUE(rt::FileExists(Dir.File("quarter.bmp")));
    TTiff t(nullptr, Dir.File("ref.tmp"));
    t.OpenFile(LastOpened);
    t.PlateColor = MapImage->PlateColor;
    t.PlateVisible = MapImage->PlateVisible;
    t.SaveBitmap(0, 0, 900, 700, 0.25L, Dir.File("want.bmp"));
    EXPECT_TRUE(ReadAll(Dir.File("quarter.bmp")) == ReadAll(Dir.File("want.bmp")));
    EXPECT_EQ(Requests.back().DefaultExt, "bmp");
    EXPECT_EQ(Requests.back().Filter, "Bitmap|*.Bmp|PNG|*.png");
    // The same picture as PNG: decoded, pixel for pixel the bitmap's.
    Answers.push_back(Dir.File("quarter.png"));
    Form->btnBmpSave->click();
    const auto png = testing_support::ReadPng(Dir.File("quarter.png"));
    EXPECT_TRUE(png.Palette);
    EXPECT_TRUE(png.Rgb == testing_support::ReadBmp(ReadAll(Dir.File("want.bmp"))).Rgb);

    // Above x 1 nothing is written: said at once, before a name is asked for.
    for (int i = 0; i < 3; ++i) Form->spnRate->UpButton()->click(); // x 2
    const size_t asked = Requests.size();
    Form->btnBmpSave->click();
    EXPECT_EQ(Requests.size(), asked);
    ASSERT_EQ(Errors.size(), 1u);
    EXPECT_NE(Errors[0].find("x 1"), std::string::npos) << Errors[0];
}

TEST_F(FormMapTest, AFailedOpenShowsItsMessageAndChangesNothingElse) {
    LastOpened = MakeSheet("a.tif", 800, 600);
    Open(LastOpened);
    ScrollTo(Form->scrH, 100);
    Open(Dir.File("missing.tif"));
    ASSERT_EQ(Errors.size(), 1u);
    EXPECT_EQ(Errors[0], "ファイルが見つかりません");
    EXPECT_FALSE(MapImage->Loaded);
    // Nothing is shown: there is nothing to save or copy, as before a first open.
    EXPECT_FALSE(Form->btnCopy->isEnabled());
    EXPECT_FALSE(Form->btnBmpSave->isEnabled());
    // A file that is not a big-endian TIFF says so beside the reading's own message.
    testing_support::WriteAll(Dir.File("notes.tif"), std::vector<uint8_t>(200, 'x'));
    Open(Dir.File("notes.tif"));
    ASSERT_EQ(Errors.size(), 2u);
    EXPECT_EQ(Errors[1], "マップ画像ではありません (ファイルの末尾以降を読み込みました)");
    Errors.pop_back();
    Form->Image1->repaint();
    EXPECT_TRUE(ViewIsRight()); // white now
    size_t asked = Requests.size();
    Form->btnOpenSingle->click(); // cancelled: nothing happens
    EXPECT_EQ(Requests.size(), asked + 1);
    EXPECT_EQ(Errors.size(), 1u);
}

TEST_F(FormMapTest, ASheetLargerThanTheFileSizeLimitFailsWithItsMessage) {
    // 240,000 bytes of scratch file against 64 KiB: the open stops at the limit and says so.
    LastOpened = MakeSheet("a.tif", 600, 400);
    {
        TFileSizeLimit limit(64 * 1024);
        Open(LastOpened);
    }
    EXPECT_EQ(Errors, std::vector<std::string>{"ファイルが大きすぎます"});
    EXPECT_FALSE(MapImage->Loaded);
    EXPECT_FALSE(Form->btnBmpSave->isEnabled());
    // Without the limit the same sheet opens.
    Errors.clear();
    Open(LastOpened);
    EXPECT_TRUE(MapImage->Loaded);
    EXPECT_TRUE(Errors.empty()) << Errors.front();
}

TEST_F(FormMapTest, CommandsAskedForWhileASheetLoadsAreDoneOnceItIsIn) {
    LastOpened = MakeSheet("a.tif", 2000, 1500);
    Answers.push_back(LastOpened);
    Form->btnOpenSingle->click(); // the open goes on beside the window
    ASSERT_TRUE(MapImage->IsOpening());
    const size_t asked = Requests.size();
    Answers.push_back(Dir.File("saved.bmp"));
    QTest::keyClick(Form.get(), Qt::Key_S, Qt::ControlModifier);
    QTest::keyClick(Form.get(), Qt::Key_C, Qt::ControlModifier);
    Form->RedrawView();                // draws what is in, reads nothing else
    EXPECT_EQ(Requests.size(), asked); // no dialog while the sheet loads
    EXPECT_FALSE(rt::FileExists(Dir.File("saved.bmp")));
    Settle();
    EXPECT_TRUE(MapImage->Loaded);
    EXPECT_TRUE(Errors.empty());
    EXPECT_TRUE(ViewIsRight());
    // Then both, in the order they were asked for.
    EXPECT_EQ(Requests.size(), asked + 1);
    EXPECT_TRUE(rt::FileExists(Dir.File("saved.bmp")));
    const QImage copied = QGuiApplication::clipboard()->image();
    EXPECT_EQ(copied.width(), Form->Image1->width());
}

TEST_F(FormMapTest, ClosingWhileASheetLoadsClosesAtOnceAndStopsTheOpen) {
    LastOpened = MakeSheet("a.tif", 2000, 1500);
    bool closed = false;
    Form->OnClosed = [&] { closed = true; };
    Answers.push_back(LastOpened);
    Form->btnOpenSingle->click();
    ASSERT_TRUE(MapImage->IsOpening());
    Form->close();
    EXPECT_TRUE(closed); // at once, not at the open's end
    EXPECT_FALSE(Form->isVisible());
    Form.reset(); // waits for the open's thread, then the scratch file goes
    EXPECT_FALSE(rt::FileExists(Dir.File("scratch.tmp")));
    EXPECT_TRUE(Errors.empty());
}

TEST_F(FormMapTest, APanelTooSmallForItsBarsDrawsNothing) {
    LastOpened = MakeSheet("a.tif", 800, 600);
    Open(LastOpened);
    Form->resize(180, 40);
    Settle();
    EXPECT_LE(Form->Image1->height(), 0 + 0 * Form->Image1->width());
    EXPECT_LE(Form->ViewRows, 0);
    Form->RedrawView();
    EXPECT_TRUE(Errors.empty());
    Form->resize(720, 455);
    Settle();
    EXPECT_TRUE(ViewIsRight());
}

TEST_F(FormMapTest, ADamagedSheetShowsWhatItHoldsAndSaysSoOnce) {
    // Its strips end 150 rows before its stated height.
    Raster = sample::PaintSample(900, 450, 21);
    sample::TSheetOptions damaged;
    damaged.StatedHeight = 600;
    LastOpened = Dir.File("C12345.tif");
    sample::WriteSheet(LastOpened, Raster, damaged);
    Open(LastOpened);
    EXPECT_EQ(Errors, std::vector<std::string>{"ファイルの末尾以降を読み込みました"});
    EXPECT_TRUE(MapImage->Loaded);
    EXPECT_EQ(Form->StatusSheet().toStdString(), "C12345  900 x 600  (450 rows read)");
    // Scrolled down to the missing rows, zoomed and repainted: the background, no message.
    ScrollTo(Form->scrV, Form->scrV->Max());
    EXPECT_TRUE(ViewIsRight());
    Form->spnRate->DownButton()->click();
    Form->Image1->repaint();
    Settle();
    EXPECT_TRUE(ViewIsRight());
    EXPECT_EQ(Errors.size(), 1u);
    const rt::TBitmap& view = Form->Image1->Bitmap();
    EXPECT_EQ(view.Pixel(0, (599 - Form->scrV->Position()) / 2), rt::kWhite); // a missing row
}

TEST_F(FormMapTest, ACopyCutShortOrUnreadableShowsTheRowsBeforeTheFault) {
    Raster = sample::PaintSample(400, 300, 7);
    sample::TSheetOptions o;
    o.StripBytes = 2048;
    o.LiteralRuns = true;
    const auto bytes = sample::BuildSheet(Raster, o);
    const std::string good = Dir.File("C12344.tif");
    LastOpened = Dir.File("C12345.tif");
    testing_support::WriteAll(good, bytes);
    auto expectRowsShown = [&](const std::string& message, const char* what) {
        EXPECT_EQ(Errors, std::vector<std::string>{message}) << what;
        Errors.clear();
        ASSERT_TRUE(MapImage->Loaded) << what;
        const int32_t rows = MapImage->RowsWritten;
        EXPECT_GT(rows, 0) << what;
        EXPECT_LT(rows, 300) << what;
        EXPECT_FALSE(Form->Gauge->isVisible()) << what;
        EXPECT_EQ(Form->StatusSheet().toStdString(),
                  "C12345  400 x 300  (2/2)  (" + std::to_string(rows) + " rows read)")
            << what;
        EXPECT_TRUE(Form->btnCopy->isEnabled() && Form->btnBmpSave->isEnabled()) << what;
        EXPECT_TRUE(ViewIsRight()) << what;
        const rt::TBitmap& view = Form->Image1->Bitmap();
        int drawn = 0;
        for (int x = 0; x < view.Width(); ++x) drawn += view.Pixel(x, 0) != rt::kWhite;
        EXPECT_GT(drawn, 0) << what; // the rows it holds, not a white view
    };
    // A copy that stopped at 60 %, opened and leafed onto.
    testing_support::WriteAll(LastOpened,
                              {bytes.begin(), bytes.begin() + long(bytes.size()) * 6 / 10});
    Open(LastOpened);
    expectRowsShown("ファイルの末尾以降を読み込みました", "cut, opened");
    Open(good);
    ASSERT_TRUE(Errors.empty());
    tk::Guarded([&] { Form->LeafThrough(1); });
    Settle();
    expectRowsShown("ファイルの末尾以降を読み込みました", "cut, leafed onto");

    // A whole copy whose fifth strip lies on a bad sector.
    if (!testing_support::IoFaultsLoaded())
        GTEST_SKIP() << "the read fault library is not preloaded";
    testing_support::WriteAll(LastOpened, bytes);
    const auto fault =
        testing_support::TIoFault::Read(LastOpened, testing_support::StripOffset(bytes, 4));
    Open(LastOpened);
    expectRowsShown("データ エラー (巡回冗長検査 (CRC) エラー) です", "read error");
}

TEST_F(FormMapTest, AFailedOpenHidesTheGaugeAndSaysNothingIsShown) {
    // Cut behind its directory: the strip tables are missing once the gauge is up.
    auto bytes = sample::BuildSheet(sample::PaintSample(200, 100, 3));
    const size_t entries = size_t(bytes[8]) << 8 | bytes[9];
    bytes.resize(8 + 2 + 12 * entries + 4 + 4);
    LastOpened = Dir.File("cut.tif");
    testing_support::WriteAll(LastOpened, bytes);
    Open(LastOpened);
    EXPECT_EQ(Errors, std::vector<std::string>{"ファイルの末尾以降を読み込みました"});
    EXPECT_FALSE(MapImage->Loaded);
    EXPECT_FALSE(Form->Gauge->isVisible());
    EXPECT_EQ(Form->StatusSheet().toStdString(), "cut.tif  (not opened)");
    // Something that is no file at all is refused before anything is read.
    const std::string fifo = Dir.File("pipe.tif");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    Open(fifo);
    EXPECT_EQ(Errors.size(), 2u);
    EXPECT_FALSE(Form->Gauge->isVisible());
    EXPECT_EQ(Form->StatusSheet().toStdString(), "pipe.tif  (not opened)");
    EXPECT_TRUE(ViewIsRight()); // white
}

TEST_F(FormMapTest, PaintFailuresAreShownAfterThePaintOncePerPicture) {
    LastOpened = MakeSheet("s.tif", 1200, 900);
    Open(LastOpened);
    ASSERT_TRUE(Errors.empty());
    bool inPaint = false;
    tk::SetErrorHandler([&](const std::string& m) {
        inPaint = inPaint || Form->Image1->testAttribute(Qt::WA_WState_InPaintEvent);
        Errors.push_back(m);
    });
    // The scratch file is damaged behind the viewer's back: every picture fails to read.
    ASSERT_EQ(::truncate(MapImage->ScratchPath.c_str(), 1000), 0);
    for (int i = 0; i < 3; ++i) {
        Form->Image1->repaint();
        Settle();
    }
    EXPECT_FALSE(inPaint);
    EXPECT_EQ(Errors, std::vector<std::string>{"ファイルの末尾以降を読み込みました"});
    // Another picture that fails is another message; its repaints add none.
    tk::Guarded([&] { ScrollTo(Form->scrV, 100); }); // as the scroll bar's own release does
    Form->Image1->repaint();
    Settle();
    EXPECT_EQ(Errors.size(), 2u);
    EXPECT_FALSE(inPaint);
}

TEST_F(FormMapTest, ASecondStartShowsWhatTheFirstSet) {
    const std::string ini = Dir.File("mapviewer.ini");
    Form->UseSettings(ini); // none yet: the window as a first start has it
    EXPECT_EQ(Form->Rate, 1.0);
    EXPECT_TRUE(Form->chk3->isChecked());
    EXPECT_FALSE(rt::FileExists(ini));

    std::filesystem::create_directories(Dir.File("disc"));
    LastOpened = MakeSheet("disc/C1.tif", 900, 700);
    Open(LastOpened);
    Form->chk3->click();
    ColorAnswer = rt::RGB(12, 34, 56);
    Form->PlateSwatches[5]->OnClick(Form->PlateSwatches[5]);
    Form->actSmooth->trigger();
    Form->spnRate->DownButton()->click();
    Form->spnRate->DownButton()->click();
    Form->btnOptV->click();
    Form->move(40, 30);
    Form->resize(700, 500);
    Answers.push_back(Dir.File("out/v.png"));
    std::filesystem::create_directories(Dir.File("out"));
    Form->btnBmpSaveClick();
    Settle();
    Form->close();
    ASSERT_TRUE(Errors.empty()) << Errors.front();
    ASSERT_TRUE(rt::FileExists(ini));

    TWatchedFormMap second(nullptr, Dir.File("second.tmp"), Dir.Path());
    second.UseSettings(ini);
    second.show();
    Settle();
    EXPECT_FALSE(second.chk3->isChecked());
    EXPECT_TRUE(second.chk4->isChecked());
    EXPECT_EQ(second.PlateSwatches[5]->Color(), rt::RGB(12, 34, 56));
    EXPECT_EQ(second.PlateSwatches[6]->Color(), plates::kDefaultColors[6]);
    EXPECT_TRUE(second.SmoothView());
    EXPECT_EQ(second.Rate, 0.25);
    EXPECT_EQ(second.lblMScale->text().toStdString(), "1/4");
    EXPECT_FALSE(second.btnOptV->isChecked());
    EXPECT_FALSE(second.pnlOption->isVisible());
    EXPECT_EQ(second.size(), QSize(700, 500));
    EXPECT_EQ(second.OpenDialog.InitialDir, Dir.File("disc"));
    EXPECT_EQ(second.SaveDialog.InitialDir, Dir.File("out"));
    // The dialogs open where the last file was chosen.
    Requests.clear();
    second.btnOpenClick();
    ASSERT_EQ(Requests.size(), 1u);
    EXPECT_EQ(Requests[0].Directory, Dir.File("disc"));

    // "表示を既定に戻す" brings back the plates, colours and smooth reduction, not the zoom.
    second.actReset->trigger();
    EXPECT_TRUE(second.chk3->isChecked());
    EXPECT_EQ(second.PlateSwatches[5]->Color(), plates::kDefaultColors[5]);
    EXPECT_FALSE(second.SmoothView());
    EXPECT_EQ(second.Rate, 0.25);
    FormMap = Form.get();
}

TEST_F(FormMapTest, ADamagedOrUnwritableSettingsFileLeavesTheDefaults) {
    struct TCase {
        const char* What;
        std::string Text;
    };
    for (const TCase& c : {TCase{"a rate no viewer has", "[view]\nrate=0.3\n"},
                           TCase{"a colour out of range", "[plate2]\ncolor=1000000\n"},
                           TCase{"not a boolean", "[view]\nsmooth=perhaps\n"},
                           TCase{"no settings at all", std::string("\0\xff\xfe[[[=\n", 8)}}) {
        SCOPED_TRACE(c.What);
        const std::string ini = Dir.File("bad.ini");
        testing_support::WriteAll(ini, std::vector<uint8_t>(c.Text.begin(), c.Text.end()));
        TWatchedFormMap f(nullptr, Dir.File("bad.tmp"), Dir.Path());
        testing::internal::CaptureStderr();
        f.UseSettings(ini);
        const std::string said = testing::internal::GetCapturedStderr();
        EXPECT_EQ(f.Rate, 1.0);
        EXPECT_TRUE(f.chk2->isChecked());
        EXPECT_EQ(f.PlateSwatches[2]->Color(), plates::kDefaultColors[2]);
        EXPECT_FALSE(f.SmoothView());
        EXPECT_NE(said.find("bad.ini is damaged: the defaults are used"), std::string::npos)
            << said;
    }
    // A place that cannot be written (below a file, whoever runs it): closing still closes,
    // and the user hears why.
    testing_support::WriteAll(Dir.File("plain"), {'x'});
    TWatchedFormMap f(nullptr, Dir.File("ro.tmp"), Dir.Path());
    f.UseSettings(Dir.File("plain/mapviewer.ini"));
    f.show();
    testing::internal::CaptureStderr();
    EXPECT_TRUE(f.close());
    EXPECT_NE(testing::internal::GetCapturedStderr().find("cannot be written"), std::string::npos);
    FormMap = Form.get();
}

using testing_support::CommandOutput;

TEST_F(FormMapTest, PrintedAtTheSheetsScaleEverySheetPixelIsAnExactBlockOfThePage) {
    // 2500 x 2500 pixels at 254 dpi: 250 mm square, two portrait A4 pages side by side (as
    // many as landscape), the second repeating the last 10 mm (100 pixels) of the first.
    LastOpened = MakeSheet("C1.tif", 2500, 2500);
    Open(LastOpened);
    Form->chk5->click(); // printed as shown: contour lines off
    const std::string pdf = Dir.File("print.pdf");
    std::vector<tk::TPrintChoice> asked;
    tk::SetPrintDialogHook([&]() -> std::optional<tk::TPrintChoice> {
        asked.push_back({});
        return tk::TPrintChoice{true, false, pdf};
    });
    QKeyEvent ctrlP(QEvent::KeyPress, Qt::Key_P, Qt::ControlModifier, QStringLiteral("p"));
    QApplication::sendEvent(Form->Image1, &ctrlP);
    Settle();
    tk::SetPrintDialogHook(nullptr);
    ASSERT_EQ(asked.size(), 1u);
    ASSERT_TRUE(Errors.empty()) << Errors.front();
    ASSERT_TRUE(rt::FileExists(pdf));
    const std::string info = CommandOutput("pdfinfo " + pdf);
    EXPECT_NE(info.find("Pages:           2"), std::string::npos) << info;
    EXPECT_NE(info.find("(A4)"), std::string::npos) << info;
    const std::string text = CommandOutput("pdftotext " + pdf + " -");
    EXPECT_NE(text.find("C1 1/2"), std::string::npos) << text;
    EXPECT_NE(text.find("C1 2/2"), std::string::npos) << text;

    // The sheet as the view composes it, every plate and colour as set.
    rt::TBitmapCanvas whole(2500, 2500);
    TTiff t(&whole, Dir.File("print-reference.tmp"));
    t.OpenFile(LastOpened);
    t.PlateVisible = MapImage->PlateVisible;
    t.PlateColor = MapImage->PlateColor;
    t.Draw(0, 0, 2500, 2500, 1);
    // Rasterised at five times the sheet's resolution (where no rasteriser smooths), each
    // sheet pixel is a 5 x 5 block of its own colour, 10 mm (500 dots) in from the page's
    // edges: the first page from sheet column 0, the second from 1800, 10 mm before the
    // first one's end (its 1900 columns fill the 190 mm between the margins).
    for (auto [page, firstCol, cols] : {std::tuple{1, 0, 300}, std::tuple{2, 1800, 300}}) {
        const std::string png = Dir.File("page" + std::to_string(page));
        ASSERT_EQ(std::system(("pdftoppm -r 1270 -png -singlefile -f " + std::to_string(page) +
                               " -l " + std::to_string(page) + " -x 500 -y 500 -W " +
                               std::to_string(5 * cols + 5) + " -H 1005 " + pdf + " " + png)
                                  .c_str()),
                  0);
        const auto shown = testing_support::ReadPng(png + ".png");
        ASSERT_EQ(shown.Width, uint32_t(5 * cols + 5));
        int wrong = 0;
        for (int y = 0; y < 200; ++y)
            for (int x = 0; x < cols; ++x)
                for (auto [dx, dy] : {std::pair{0, 0}, {4, 0}, {2, 2}, {0, 4}, {4, 4}}) {
                    const uint8_t* d =
                        &shown.Rgb[(size_t(5 * y + dy) * shown.Width + size_t(5 * x + dx)) * 3];
                    wrong += rt::RGB(d[0], d[1], d[2]) != whole.Bitmap().Pixel(firstCol + x, y);
                }
        EXPECT_EQ(wrong, 0) << "page " << page;
    }
    // The last sheet column on the second page, then paper.
    const std::string edge = Dir.File("edge");
    ASSERT_EQ(std::system(("pdftoppm -r 1270 -png -singlefile -f 2 -l 2 -x " +
                           std::to_string(500 + 5 * 699) + " -y 500 -W 10 -H 5 " + pdf + " " + edge)
                              .c_str()),
              0);
    const auto last = testing_support::ReadPng(edge + ".png");
    ASSERT_EQ(last.Width, 10u);
    EXPECT_EQ(rt::RGB(last.Rgb[6], last.Rgb[7], last.Rgb[8]), whole.Bitmap().Pixel(2499, 0));
    EXPECT_EQ(rt::RGB(last.Rgb[21], last.Rgb[22], last.Rgb[23]), rt::kWhite);
}

TEST_F(FormMapTest, TheViewsWindowFittedToOnePageAndThePagesOfAWindow) {
    LastOpened = MakeSheet("C2.tif", 3000, 2000);
    Open(LastOpened);
    const std::string pdf = Dir.File("fit.pdf");
    tk::SetPrintDialogHook([&]() -> std::optional<tk::TPrintChoice> {
        return tk::TPrintChoice{false, true, pdf};
    });
    Form->actPrint->trigger();
    tk::SetPrintDialogHook(nullptr);
    ASSERT_TRUE(Errors.empty()) << Errors.front();
    EXPECT_NE(CommandOutput("pdfinfo " + pdf).find("Pages:           1"), std::string::npos);
    EXPECT_NE(CommandOutput("pdftotext " + pdf + " -").find("C2 1/1"), std::string::npos);

    // Pages row by row, each repeating the last overlap of the one before, the last ones cut
    // to the window.
    EXPECT_EQ(PageWindows({10, 20, 250, 150}, 100, 100, 10, 20),
              (std::vector<TSheetWindow>{{10, 20, 100, 100},
                                         {100, 20, 100, 100},
                                         {190, 20, 70, 100},
                                         {10, 100, 100, 70},
                                         {100, 100, 100, 70},
                                         {190, 100, 70, 70}}));
    EXPECT_EQ(PageWindows({0, 0, 100, 100}, 100, 100, 10, 10),
              (std::vector<TSheetWindow>{{0, 0, 100, 100}}));
    EXPECT_TRUE(PageWindows({0, 0, 0, 100}, 100, 100, 10, 10).empty());
}

TEST_F(FormMapTest, TheEventsRunAllAlongAnOpenWhoseReadStalls) {
    if (!testing_support::IoFaultsLoaded())
        GTEST_SKIP() << "the read fault library is not preloaded";
    // A read in the middle of the sheet stalls for a second, as a scratched disc's does.
    LastOpened = MakeSheet("C5339.tif", 2000, 3000, 4);
    const std::vector<uint8_t> bytes = ReadAll(LastOpened);
    const auto stall = testing_support::TIoFault::Stall(
        LastOpened, testing_support::StripOffset(bytes, testing_support::StripCount(bytes) / 2),
        1000);
    // The longest time between two runs of a timer that asks to run every 5 ms.
    QElapsedTimer clock;
    int64_t last = 0, longest = 0;
    QTimer beat;
    beat.setInterval(5);
    QObject::connect(&beat, &QTimer::timeout, [&] {
        const int64_t now = clock.elapsed();
        if (MapImage->IsOpening()) longest = std::max(longest, now - last);
        last = now;
    });
    clock.start();
    beat.start();
    Answers.push_back(LastOpened);
    Form->btnOpenSingle->click();
    // Into the stall: the view's rows are in, the rest of the sheet is not.
    for (int i = 0; i < 3000 && !Form->SheetOnView; ++i) {
        QCoreApplication::processEvents();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ASSERT_TRUE(Form->SheetOnView);
    ASSERT_TRUE(MapImage->IsOpening());
    // Scrolled and zoomed out meanwhile: the rows already there, the others background.
    Form->scrV->setSliderPosition(100);
    int at = Form->scrV->Position();
    Form->scrV->OnScroll(Form->scrV, TScrollBar::scEndScroll, at);
    Form->spnRate->DownButton()->click();
    Form->Image1->repaint();
    EXPECT_TRUE(MapImage->IsOpening());
    const rt::TBitmap& view = Form->Image1->Bitmap();
    int shown = 0;
    for (int x = 0; x < view.Width(); ++x) shown += view.Pixel(x, 0) != rt::kWhite;
    EXPECT_GT(shown, 0); // row 100 is in
    Settle();
    beat.stop();
    EXPECT_TRUE(MapImage->Loaded);
    EXPECT_TRUE(ViewIsRight());
    std::printf("longest time without events during the open: %lld ms\n",
                static_cast<long long>(longest));
    // Far below the stall: the window's thread never waited for the read.
    EXPECT_LT(longest, 500);
    EXPECT_TRUE(Errors.empty());
}
