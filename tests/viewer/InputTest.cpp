// Panning, the wheel, keys, shortcuts, drops and the status bar on the main window.

#include "runtime/Strings.h"
#include "tests/viewer/FormFixture.h"

#include <QClipboard>
#include <QContextMenuEvent>
#include <QMenu>
#include <QMimeData>
#include <QMouseEvent>
#include <QTest>
#include <QUrl>
#include <algorithm>
#include <cmath>
#include <filesystem>

namespace {

class InputTest : public FormMapTest {
protected:
    // The window these cases were measured in, whatever the first start's size.
    void SetUp() override {
        FormMapTest::SetUp();
        Form->resize(720, 455);
        Settle();
    }
    void OpenSample(int w = 4000, int h = 3000) {
        LastOpened = MakeSheet("C12345.tif", w, h);
        Open(LastOpened);
        ASSERT_TRUE(MapImage->Loaded);
    }
    void SetRate(double rate) {
        while (Form->Rate < rate) Form->spnRateUpClick();
        while (Form->Rate > rate) Form->spnRateDownClick();
    }
    void Wheel(QPoint at, QPoint angle, Qt::KeyboardModifiers mods = {}) {
        QWheelEvent e(at, Form->Image1->mapToGlobal(at), QPoint(), angle, Qt::NoButton, mods,
                      Qt::NoScrollPhase, false);
        QApplication::sendEvent(Form->Image1, &e);
    }
    // A key on the view; a sheet it opens is waited for.
    void Key(int key, Qt::KeyboardModifiers mods = {}) {
        Form->Image1->setFocus();
        QTest::keyClick(Form->Image1, Qt::Key(key), mods);
        Settle();
    }
    // The sheet pixel drawn at a point of the view.
    QPoint SheetAt(QPoint p) const {
        return {Form->scrH->Position() + int(std::floor(p.x() / Form->Rate)),
                Form->scrV->Position() + int(std::floor(p.y() / Form->Rate))};
    }
};

} // namespace

TEST_F(InputTest, DraggingMovesTheSheetWithThePointer) {
    OpenSample();
    for (double rate : {0.25, 1.0, 4.0}) {
        SetRate(rate);
        Form->scrH->SetPosition(1000);
        Form->scrV->SetPosition(800);
        QPoint p(300, 200);
        QTest::mousePress(Form->Image1, Qt::LeftButton, {}, p);
        EXPECT_TRUE(Form->Dragging());
        // Thirteen one-pixel moves left and seven up: slow moves count at high zoom too.
        for (int i = 1; i <= 13; ++i) QTest::mouseMove(Form->Image1, p - QPoint(i, i <= 7 ? i : 7));
        QTest::mouseRelease(Form->Image1, Qt::LeftButton, {}, p - QPoint(13, 7));
        Settle();
        EXPECT_EQ(Form->scrH->Position(), 1000 + int(13 / rate)) << rate;
        EXPECT_EQ(Form->scrV->Position(), 800 + int(7 / rate)) << rate;
        EXPECT_FALSE(Form->Dragging());
        EXPECT_TRUE(ViewIsRight()) << rate;
    }
    // Past the edge the positions stop at the bars' limits.
    SetRate(1);
    const int start = Form->scrH->Position();
    QTest::mousePress(Form->Image1, Qt::LeftButton, {}, QPoint(10, 10));
    QTest::mouseMove(Form->Image1, QPoint(400, 300));
    QTest::mouseRelease(Form->Image1, Qt::LeftButton, {}, QPoint(400, 300));
    EXPECT_EQ(Form->scrH->Position(), start - 390);
    Form->scrH->SetPosition(5);
    QTest::mousePress(Form->Image1, Qt::LeftButton, {}, QPoint(10, 10));
    QTest::mouseMove(Form->Image1, QPoint(400, 10));
    QTest::mouseRelease(Form->Image1, Qt::LeftButton, {}, QPoint(400, 10));
    EXPECT_EQ(Form->scrH->Position(), 0);
}

TEST_F(InputTest, ADragIsDrawnOncePerFrameAndAtTheEnd) {
    OpenSample();
    QPoint p(300, 200);
    QTest::mousePress(Form->Image1, Qt::LeftButton, {}, p);
    int before = Form->Redraws;
    // Fifty moves arrive before the event loop runs again, as they do in a busy frame.
    for (int i = 1; i <= 50; ++i) {
        QPointF at = p - QPoint(i, 0);
        QMouseEvent move(QEvent::MouseMove, at, Form->Image1->mapToGlobal(at), Qt::NoButton,
                         Qt::LeftButton, {});
        QApplication::sendEvent(Form->Image1, &move);
    }
    EXPECT_EQ(Form->Redraws, before); // moves are coalesced, not drawn one by one
    QTest::qWait(100);                // a frame passes
    EXPECT_EQ(Form->Redraws, before + 1);
    QTest::qWait(100); // nothing new moved: nothing drawn
    EXPECT_EQ(Form->Redraws, before + 1);
    QTest::mouseRelease(Form->Image1, Qt::LeftButton, {}, p - QPoint(50, 0));
    EXPECT_EQ(Form->Redraws, before + 2);
    EXPECT_EQ(Form->scrH->Position(), 50);
}

TEST_F(InputTest, WheelScrollsATenthOfTheView) {
    OpenSample();
    SetRate(0.5);
    Form->scrH->SetPosition(500);
    Form->scrV->SetPosition(600);
    const int h = Form->Image1->height(), w = Form->Image1->width();
    int before = Form->Redraws;
    Wheel({50, 50}, {0, -120}); // one notch down
    EXPECT_EQ(Form->scrV->Position(), 600 + int(h / 10.0 / 0.5));
    EXPECT_EQ(Form->Redraws, before + 1);
    Wheel({50, 50}, {0, 60}); // half a notch up, from a touchpad
    EXPECT_EQ(Form->scrV->Position(), 600 + int(h / 10.0 / 0.5) - int(h / 20.0 / 0.5));
    Wheel({50, 50}, {0, -120}, Qt::ShiftModifier);
    EXPECT_EQ(Form->scrH->Position(), 500 + int(w / 10.0 / 0.5));
    Wheel({50, 50}, {120, 0});
    EXPECT_EQ(Form->scrH->Position(), 500);
    EXPECT_TRUE(ViewIsRight());
}

TEST_F(InputTest, CtrlWheelZoomsAboutThePointer) {
    OpenSample();
    Form->scrH->SetPosition(1500);
    Form->scrV->SetPosition(1000);
    const QPoint at(123, 77);
    const QPoint sheet = SheetAt(at);
    for (double want : {2.0, 4.0}) {
        Wheel(at, {0, 120}, Qt::ControlModifier);
        EXPECT_EQ(Form->Rate, want);
        EXPECT_EQ(SheetAt(at), sheet);
    }
    EXPECT_EQ(Form->lblMScale->text().toStdString(), "x 4");
    int before = Form->Redraws;
    Wheel(at, {0, -240}, Qt::ControlModifier); // two notches out: two steps, two redraws
    EXPECT_EQ(Form->Rate, 1.0);
    EXPECT_EQ(Form->Redraws, before + 2);
    EXPECT_EQ(SheetAt(at), sheet);
    for (int i = 0; i < 2; ++i) Wheel(at, {0, -120}, Qt::ControlModifier);
    EXPECT_EQ(Form->Rate, 1.0 / 4);
    EXPECT_EQ(SheetAt(at), sheet);
    EXPECT_TRUE(ViewIsRight());
    // Near the sheet's corner the bars' limits win.
    Form->scrH->SetPosition(0);
    Form->scrV->SetPosition(0);
    Wheel({0, 0}, {0, 120}, Qt::ControlModifier);
    EXPECT_EQ(Form->scrH->Position(), 0);
    EXPECT_EQ(Form->scrV->Position(), 0);
}

TEST_F(InputTest, KeysOnTheView) {
    OpenSample();
    Form->scrH->SetPosition(1000);
    Form->scrV->SetPosition(1000);
    Key(Qt::Key_Right);
    Key(Qt::Key_Down);
    EXPECT_EQ(Form->scrH->Position(), 1010);
    EXPECT_EQ(Form->scrV->Position(), 1010);
    Key(Qt::Key_PageDown);
    EXPECT_EQ(Form->scrV->Position(), 1010 + Form->ViewRows / 2);
    Key(Qt::Key_Home);
    EXPECT_EQ(Form->scrV->Position(), 0);
    EXPECT_EQ(Form->scrH->Position(), 1010);
    Key(Qt::Key_End, Qt::ControlModifier);
    EXPECT_EQ(Form->scrH->Position(), Form->scrH->Max());
    EXPECT_EQ(Form->scrV->Position(), Form->scrV->Max());
    Key(Qt::Key_Home, Qt::ControlModifier);
    EXPECT_EQ(Form->scrH->Position(), 0);
    Form->scrH->SetPosition(1500);
    Form->scrV->SetPosition(1200);
    const QPoint centre(Form->Image1->width() / 2, Form->Image1->height() / 2);
    const QPoint middle = SheetAt(centre);
    Key(Qt::Key_Plus);
    EXPECT_EQ(Form->Rate, 2.0);
    EXPECT_EQ(SheetAt(centre), middle);
    Key(Qt::Key_Minus);
    Key(Qt::Key_Minus);
    EXPECT_EQ(Form->Rate, 0.5);
    EXPECT_EQ(SheetAt(centre), middle);
    Key(Qt::Key_1);
    EXPECT_EQ(Form->Rate, 1.0);
    EXPECT_EQ(SheetAt(centre), middle);
    Key(Qt::Key_F);
    // The largest rate at which 4000 x 3000 fits the view.
    double fit = 1.0 / 64;
    for (double r = 1.0 / 64; r <= 8; r *= 2)
        if (4000 * r <= Form->Image1->width() && 3000 * r <= Form->Image1->height()) fit = r;
    EXPECT_EQ(Form->Rate, fit);
    EXPECT_EQ(Form->scrH->Position(), 0);
    EXPECT_EQ(Form->scrV->Position(), 0);
    EXPECT_TRUE(ViewIsRight());
}

TEST_F(InputTest, ShortcutsGoThroughTheirButtons) {
    QTest::keyClick(Form.get(), Qt::Key_S, Qt::ControlModifier); // save disabled: nothing asked
    EXPECT_TRUE(Requests.empty());
    LastOpened = MakeSheet("a.tif", 500, 400);
    Answers.push_back(LastOpened);
    QTest::keyClick(Form.get(), Qt::Key_O, Qt::ControlModifier);
    Settle();
    EXPECT_TRUE(MapImage->Loaded);
    Answers.push_back(Dir.File("saved.bmp"));
    QTest::keyClick(Form.get(), Qt::Key_S, Qt::ControlModifier);
    EXPECT_TRUE(rt::FileExists(Dir.File("saved.bmp")));
    bool closed = false;
    Form->OnClosed = [&] { closed = true; };
    QTest::keyClick(Form.get(), Qt::Key_Q, Qt::ControlModifier);
    EXPECT_TRUE(closed);
}

TEST_F(InputTest, DroppingOneTifOpensIt) {
    LastOpened = MakeSheet("Drop.TIF", 600, 500);
    auto drop = [&](const QList<QUrl>& urls) {
        QMimeData data;
        data.setUrls(urls);
        QDragEnterEvent enter(QPoint(100, 100), Qt::CopyAction, &data, Qt::LeftButton, {});
        QApplication::sendEvent(Form.get(), &enter);
        QDropEvent dropEv(QPointF(100, 100), Qt::CopyAction, &data, Qt::LeftButton, {});
        if (enter.isAccepted()) QApplication::sendEvent(Form.get(), &dropEv);
        Settle();
        return enter.isAccepted();
    };
    EXPECT_FALSE(drop({QUrl::fromLocalFile(QString::fromStdString(Dir.File("x.png")))}));
    EXPECT_FALSE(drop({QUrl::fromLocalFile(QString::fromStdString(LastOpened)),
                       QUrl::fromLocalFile(QString::fromStdString(LastOpened))}));
    EXPECT_FALSE(drop({QUrl("https://example.org/a.tif")}));
    EXPECT_FALSE(MapImage->Loaded);
    EXPECT_TRUE(drop({QUrl::fromLocalFile(QString::fromStdString(LastOpened))}));
    EXPECT_TRUE(MapImage->Loaded);
    EXPECT_TRUE(Form->btnCopy->isEnabled());
    EXPECT_TRUE(ViewIsRight());
    EXPECT_TRUE(Requests.empty()); // no dialog
    // A missing file fails as the open command does.
    EXPECT_TRUE(drop({QUrl::fromLocalFile(QString::fromStdString(Dir.File("gone.tif")))}));
    ASSERT_EQ(Errors.size(), 1u);
    EXPECT_EQ(Errors[0], "ファイルが見つかりません");
}

TEST_F(InputTest, StatusBarNamesTheSheetTheScaleAndThePlatesUnderThePointer) {
    EXPECT_EQ(Form->StatusSheet(), "");
    EXPECT_EQ(Form->StatusPointer(), "");
    sample::TRaster r(40, 30);
    r.Row(7)[5] = 0x80 | 0x20 | 0x01; // plates 8, 6 and 1
    r.Row(7)[6] = 0x00;
    sample::WriteSheet(Dir.File("C12345.tif"), r);
    LastOpened = Dir.File("C12345.tif");
    Open(LastOpened);
    EXPECT_EQ(Form->StatusSheet().toStdString(), "C12345  40 x 30");
    EXPECT_EQ(Form->StatusScale().toStdString(), "x 1");
    int redraws = Form->Redraws;
    QTest::mouseMove(Form->Image1, QPoint(5, 7));
    EXPECT_EQ(Form->StatusPointer().toStdString(), "5, 7  注記版 墨版 褐ﾏｽｸ版");
    QTest::mouseMove(Form->Image1, QPoint(6, 7));
    EXPECT_EQ(Form->StatusPointer().toStdString(), "6, 7");
    QTest::mouseMove(Form->Image1, QPoint(45, 7)); // beyond the sheet
    EXPECT_EQ(Form->StatusPointer().toStdString(), "");
    EXPECT_EQ(Form->Redraws, redraws); // pointer moves draw nothing
    Form->spnRateUpClick();
    EXPECT_EQ(Form->StatusScale().toStdString(), "x 2");
    QTest::mouseMove(Form->Image1, QPoint(11, 15));
    EXPECT_EQ(Form->StatusPointer().toStdString(), "5, 7  注記版 墨版 褐ﾏｽｸ版");
}

TEST_F(InputTest, SpaceAndBackspaceLeafThroughTheDisc) {
    // Sheets of a disc directory in natural order, whatever the case of their names; other
    // files are not sheets.
    std::filesystem::create_directories(Dir.File("disc"));
    const std::vector<std::pair<std::string, std::pair<int, int>>> disc = {
        {"disc/C2.tif", {1200, 900}}, {"disc/c3.TIF", {800, 600}}, {"disc/C10.tif", {1500, 1000}}};
    for (auto& [name, size] : disc) MakeSheet(name, size.first, size.second);
    testing_support::WriteAll(Dir.File("disc/notes.txt"), {'x'});
    LastOpened = Dir.File("disc/C2.tif");
    Open(LastOpened);
    SetRate(0.5);
    Form->chk6->click();
    Form->scrH->SetPosition(700);
    Form->scrV->SetPosition(400);
    EXPECT_EQ(Form->StatusSheet().toStdString(), "C2  1200 x 900  (1/3)");

    Key(Qt::Key_Space);
    EXPECT_EQ(MapImage->SheetName, "c3");
    EXPECT_EQ(Form->StatusSheet().toStdString(), "c3  800 x 600  (2/3)");
    // The rate and the plates stay; the positions are clamped to the smaller sheet.
    EXPECT_EQ(Form->Rate, 0.5);
    EXPECT_FALSE(Form->chk6->isChecked());
    EXPECT_EQ(Form->scrH->Position(), Form->scrH->Max());
    EXPECT_EQ(Form->scrV->Position(), Form->scrV->Max());
    LastOpened = Dir.File("disc/c3.TIF");
    EXPECT_TRUE(ViewIsRight());

    Key(Qt::Key_Space);
    EXPECT_EQ(MapImage->SheetName, "C10");
    Key(Qt::Key_Space); // the last: no wrap
    EXPECT_EQ(MapImage->SheetName, "C10");
    Key(Qt::Key_Backspace);
    Key(Qt::Key_Backspace);
    EXPECT_EQ(MapImage->SheetName, "C2");
    Key(Qt::Key_Backspace); // the first: nothing before it
    EXPECT_EQ(MapImage->SheetName, "C2");
    EXPECT_TRUE(Errors.empty());

    // A damaged sheet among them is opened as the open command opens it: one message.
    sample::TSheetOptions damaged;
    damaged.StatedHeight = 300;
    sample::WriteSheet(Dir.File("disc/C2a.tif"), sample::PaintSample(50, 40, 1), damaged);
    Key(Qt::Key_Space);
    EXPECT_EQ(MapImage->SheetName, "C2a");
    EXPECT_EQ(Errors, std::vector<std::string>{"ファイルの末尾以降を読み込みました"});
    // One that cannot be read at all is its message too, and the next key goes past it.
    testing_support::WriteAll(Dir.File("disc/C2b.tif"), {'M', 'M', 0, 42});
    Key(Qt::Key_Space);
    EXPECT_FALSE(MapImage->Loaded);
    EXPECT_EQ(Errors.size(), 2u);
    Key(Qt::Key_Space);
    EXPECT_EQ(MapImage->SheetName, "c3");
    EXPECT_TRUE(MapImage->Loaded);
}

TEST_F(InputTest, ShiftAndADragMeasureADistanceOnTheGround) {
    OpenSample(2000, 1500); // 254 dpi: a sheet pixel is 2.5 m on the ground
    SetRate(0.5);
    const rt::TBitmap before = Form->Image1->Bitmap();
    // 102 x 136 view pixels at 1/2: 204 x 272 sheet pixels, 340 in all.
    QTest::mousePress(Form->Image1, Qt::LeftButton, Qt::ShiftModifier, QPoint(5, 5));
    QTest::mouseMove(Form->Image1, QPoint(107, 141));
    EXPECT_EQ(Form->StatusMeasure().toStdString(), "距離 850 m");
    QTest::mouseMove(Form->Image1, QPoint(155, 205)); // 300 x 400: 500 sheet pixels
    QTest::mouseRelease(Form->Image1, Qt::LeftButton, Qt::ShiftModifier, QPoint(155, 205));
    EXPECT_EQ(Form->StatusMeasure().toStdString(), "距離 1.25 km");
    EXPECT_EQ(Form->scrH->Position(), 0); // a measurement, not a pan
    // Drawn over the picture on the screen, not into the picture that is copied and saved.
    const QImage shown = Form->Image1->grab().toImage();
    const QColor mid = shown.pixelColor(80, 105);
    EXPECT_GT(mid.red(), 150);
    EXPECT_LT(mid.green(), 100);
    EXPECT_TRUE(testing_support::SameBitmaps(Form->Image1->Bitmap(), before));
    // Esc ends it, and so does a scroll.
    Key(Qt::Key_Escape);
    EXPECT_EQ(Form->StatusMeasure().toStdString(), "");
    QTest::mousePress(Form->Image1, Qt::LeftButton, Qt::ShiftModifier, QPoint(5, 5));
    QTest::mouseRelease(Form->Image1, Qt::LeftButton, Qt::ShiftModifier, QPoint(35, 45));
    EXPECT_EQ(Form->StatusMeasure().toStdString(), "距離 250 m");
    ScrollTo(Form->scrV, 100);
    EXPECT_EQ(Form->StatusMeasure().toStdString(), "");
    // A sheet without a resolution measures in its own pixels.
    sample::TSheetOptions none;
    none.XDpi = none.YDpi = 0;
    LastOpened = Dir.File("nodpi.tif");
    sample::WriteSheet(LastOpened, sample::PaintSample(400, 300, 2), none);
    Open(LastOpened);
    QTest::mousePress(Form->Image1, Qt::LeftButton, Qt::ShiftModifier, QPoint(5, 5));
    QTest::mouseRelease(Form->Image1, Qt::LeftButton, Qt::ShiftModifier, QPoint(20, 25));
    EXPECT_EQ(Form->StatusMeasure().toStdString(), "距離 50 px");
}

TEST(NaturalOrder, NumbersByValueLettersWithoutCase) {
    std::vector<std::string> names = {"C10.tif", "c3.TIF",  "C2.tif",  "C02.tif",
                                      "b.tif",   "C2a.tif", "C100.tif"};
    std::sort(names.begin(), names.end(), rt::NaturalLess);
    EXPECT_EQ(names, (std::vector<std::string>{"b.tif", "C02.tif", "C2.tif", "C2a.tif", "c3.TIF",
                                               "C10.tif", "C100.tif"}));
}

TEST_F(InputTest, SmoothReductionFromTheViewsMenuAndTheKey) {
    OpenSample(2000, 1500);
    SetRate(0.125);
    EXPECT_FALSE(Form->SmoothView());
    // A right-click on the view (the context-menu event the platform makes of it) opens its
    // menu; its check item turns smoothing on.
    QContextMenuEvent click(QContextMenuEvent::Mouse, QPoint(40, 30),
                            Form->Image1->mapToGlobal(QPoint(40, 30)));
    QApplication::sendEvent(Form->Image1, &click);
    Settle();
    auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
    ASSERT_NE(menu, nullptr);
    ASSERT_EQ(menu->actions().size(), 5);
    EXPECT_EQ(menu->actions()[1]->text().toStdString(), "印刷...");
    EXPECT_EQ(menu->actions()[2]->text().toStdString(), "表示を既定に戻す");
    EXPECT_EQ(menu->actions()[3]->text().toStdString(), "縮尺バー");
    EXPECT_EQ(menu->actions()[4]->text().toStdString(), "距離をコピー");
    QAction* item = menu->actions().front();
    EXPECT_EQ(item->text().toStdString(), "滑らかに縮小");
    EXPECT_TRUE(item->isCheckable());
    item->trigger();
    menu->close();
    Settle();
    EXPECT_TRUE(Form->SmoothView());
    EXPECT_EQ(Form->StatusScale().toStdString(), "1/8  滑らか");
    EXPECT_TRUE(ViewIsRight());
    const rt::TBitmap smooth = Form->Image1->Bitmap();
    // S on the view turns it off again: the sampled picture, and the status says so.
    Key(Qt::Key_S);
    EXPECT_FALSE(Form->SmoothView());
    EXPECT_EQ(Form->StatusScale().toStdString(), "1/8");
    EXPECT_TRUE(ViewIsRight());
    EXPECT_FALSE(Same(smooth, Form->Image1->Bitmap()));
    Key(Qt::Key_S);
    EXPECT_TRUE(Form->SmoothView());
}

TEST_F(InputTest, LeafingShowsTheViewBeforeTheRestOfTheSheetIsIn) {
    if (!testing_support::IoFaultsLoaded())
        GTEST_SKIP() << "the read fault library is not preloaded";
    std::filesystem::create_directories(Dir.File("disc"));
    MakeSheet("disc/A1.tif", 1600, 2400, 1);
    MakeSheet("disc/A2.tif", 1600, 2400, 2); // Raster is this one's
    LastOpened = Dir.File("disc/A1.tif");
    Open(LastOpened);
    Form->scrH->SetPosition(500);
    Form->scrV->SetPosition(1700);
    LastOpened = Dir.File("disc/A2.tif");
    // The read of the sheet's last strip stalls, as a scratched disc's would: the view,
    // inside the sheet, is drawn from its own rows meanwhile.
    const std::vector<uint8_t> bytes = ReadAll(LastOpened);
    const auto stall = testing_support::TIoFault::Stall(
        LastOpened, testing_support::StripOffset(bytes, testing_support::StripCount(bytes) - 1),
        1500);
    Form->Image1->setFocus();
    QTest::keyClick(Form->Image1, Qt::Key_Space);
    bool early = false;
    for (int i = 0; i < 3000 && MapImage->IsOpening() && !early; ++i) {
        QCoreApplication::processEvents();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        early = Form->SheetOnView;
    }
    ASSERT_TRUE(early) << "the view was not shown before the sheet was in";
    EXPECT_TRUE(MapImage->IsOpening());
    EXPECT_EQ(Form->scrV->Position(), 1700);
    EXPECT_EQ(Form->scrH->Position(), 500);
    EXPECT_TRUE(ViewIsRight());
    Settle();
    EXPECT_EQ(MapImage->SheetName, "A2");
    EXPECT_EQ(Form->scrV->Position(), 1700);
    EXPECT_TRUE(ViewIsRight());
    EXPECT_TRUE(Errors.empty());
}

namespace {

bool IsPathInk(QColor c) {
    return c.red() > 140 && c.green() < 90 && c.blue() > 140;
}

// The longest row of solid black pixels inside the box where two grabs of the view differ:
// the scale bar, measured on the screen's own pixels.
int LongestBlackRunWhereDiffers(const QImage& with, const QImage& without) {
    QRect box;
    for (int y = 0; y < with.height(); ++y)
        for (int x = 0; x < with.width(); ++x)
            if (with.pixel(x, y) != without.pixel(x, y)) box |= QRect(x, y, 1, 1);
    int longest = 0;
    for (int y = box.top(); y <= box.bottom() && !box.isEmpty(); ++y)
        for (int x = box.left(), run = 0; x <= box.right(); ++x) {
            run = (with.pixel(x, y) & 0xFFFFFF) == 0 ? run + 1 : 0;
            longest = std::max(longest, run);
        }
    return longest;
}

QAction* MenuItem(TFormMap& form, const char* text) {
    for (QAction* a : form.ViewMenu->actions())
        if (a->text() == QString::fromUtf8(text)) return a;
    return nullptr;
}

} // namespace

TEST_F(InputTest, ShiftClicksMeasureAPathThatStaysAtItsPlaceOnTheSheet) {
    MakeSheet("C12344.tif", 500, 400, 2); // the sheet before: Backspace would leaf to it
    OpenSample(2000, 1500);               // 254 dpi: a sheet pixel is 2.5 m on the ground
    SetRate(0.25);                        // a view pixel is 10 m
    auto click = [this](QPoint at) {
        QTest::mouseClick(Form->Image1, Qt::LeftButton, Qt::ShiftModifier, at);
        Settle();
        return Form->StatusMeasure().toStdString();
    };
    EXPECT_EQ(click({20, 20}), "距離 0 m (最後 0 m)");
    EXPECT_EQ(click({20, 140}), "距離 1.20 km (最後 1.20 km)");
    EXPECT_EQ(click({180, 140}), "距離 2.80 km (最後 1.60 km)");
    // A press that moves less than a drag's distance is a click too.
    QTest::mousePress(Form->Image1, Qt::LeftButton, Qt::ShiftModifier, QPoint(180, 175));
    QTest::mouseMove(Form->Image1, QPoint(181, 176));
    QTest::mouseRelease(Form->Image1, Qt::LeftButton, Qt::ShiftModifier, QPoint(181, 176));
    EXPECT_EQ(Form->StatusMeasure().toStdString(), "距離 3.15 km (最後 350 m)");
    EXPECT_EQ(Form->scrH->Position(), 0); // clicks, not pans
    const std::vector<QPointF> corners{{80, 80}, {80, 560}, {720, 560}, {720, 700}};
    EXPECT_EQ(Form->MeasuredPath().Vertices(), corners);

    // Backspace takes back the last point and stays on the sheet.
    Key(Qt::Key_Backspace);
    EXPECT_EQ(Form->StatusMeasure().toStdString(), "距離 2.80 km (最後 1.60 km)");
    EXPECT_EQ(MapImage->SheetName, "C12345");
    QApplication::clipboard()->clear();
    MenuItem(*Form, "距離をコピー")->trigger();
    EXPECT_EQ(QApplication::clipboard()->text().toStdString(), "2.80 km");

    // Zoomed out, the path is drawn where its sheet pixels now are.
    Key(Qt::Key_Minus);
    ASSERT_EQ(Form->Rate, 0.125);
    EXPECT_EQ(Form->StatusMeasure().toStdString(), "距離 2.80 km (最後 1.60 km)");
    auto onView = [this](QPointF s) {
        return QPoint(int((s.x() - Form->scrH->Position()) * Form->Rate),
                      int((s.y() - Form->scrV->Position()) * Form->Rate));
    };
    QImage shown = Form->Image1->grab().toImage();
    const QPoint midFirst = onView({80, 320}), midSecond = onView({400, 560});
    ASSERT_TRUE(shown.rect().contains(midFirst) && shown.rect().contains(midSecond));
    EXPECT_TRUE(IsPathInk(shown.pixelColor(midFirst))) << midFirst.x() << "," << midFirst.y();
    EXPECT_TRUE(IsPathInk(shown.pixelColor(midSecond)));
    // Where the leg was before the zoom, the sheet shows through.
    EXPECT_FALSE(IsPathInk(shown.pixelColor(100, 140)));
    // The picture that is copied and saved holds none of it.
    EXPECT_TRUE(ViewIsRight());
    // A scroll keeps it too.
    ScrollTo(Form->scrV, Form->scrV->Position() + 40);
    EXPECT_EQ(Form->StatusMeasure().toStdString(), "距離 2.80 km (最後 1.60 km)");
    shown = Form->Image1->grab().toImage();
    EXPECT_TRUE(IsPathInk(shown.pixelColor(onView({80, 320}))));

    // Esc clears it; then Backspace leafs again.
    Key(Qt::Key_Escape);
    EXPECT_EQ(Form->StatusMeasure().toStdString(), "");
    EXPECT_TRUE(Form->MeasuredPath().Empty());
    shown = Form->Image1->grab().toImage();
    EXPECT_FALSE(IsPathInk(shown.pixelColor(onView({80, 320}))));
    EXPECT_FALSE(MenuItem(*Form, "距離をコピー")->isEnabled());
    Key(Qt::Key_Backspace);
    EXPECT_EQ(MapImage->SheetName, "C12344");
    EXPECT_TRUE(Errors.empty());
}

TEST_F(InputTest, EnterOrADoubleClickEndsAPathAndTheNextClickStartsAnother) {
    OpenSample(2000, 1500);
    SetRate(1); // a view pixel is 2.5 m
    auto click = [this](QPoint at) {
        QTest::mouseClick(Form->Image1, Qt::LeftButton, Qt::ShiftModifier, at);
        Settle();
        return Form->StatusMeasure().toStdString();
    };
    click({10, 10});
    EXPECT_EQ(click({10, 110}), "距離 250 m (最後 250 m)");
    Key(Qt::Key_Return);
    EXPECT_TRUE(Form->MeasuredPath().IsEnded());
    EXPECT_EQ(Form->StatusMeasure().toStdString(), "距離 250 m (最後 250 m)");
    EXPECT_EQ(click({50, 50}), "距離 0 m (最後 0 m)");
    click({50, 90});
    // The double click's first click adds the point; the second ends the path there.
    click({80, 90});
    QTest::mouseDClick(Form->Image1, Qt::LeftButton, Qt::ShiftModifier, QPoint(80, 90));
    Settle();
    EXPECT_EQ(Form->MeasuredPath().Vertices().size(), 3u);
    EXPECT_EQ(Form->StatusMeasure().toStdString(), "距離 175 m (最後 75 m)");
    EXPECT_EQ(click({200, 200}), "距離 0 m (最後 0 m)");

    // A Shift drag is still the straight line, shown while it lasts; the path stays.
    QTest::mousePress(Form->Image1, Qt::LeftButton, Qt::ShiftModifier, QPoint(10, 10));
    QTest::mouseMove(Form->Image1, QPoint(190, 250));
    QTest::mouseRelease(Form->Image1, Qt::LeftButton, Qt::ShiftModifier, QPoint(190, 250));
    EXPECT_EQ(Form->StatusMeasure().toStdString(), "距離 750 m");
    EXPECT_EQ(Form->MeasuredPath().Vertices().size(), 1u);
    MenuItem(*Form, "距離をコピー")->trigger();
    EXPECT_EQ(QApplication::clipboard()->text().toStdString(), "750 m");
    // A sheet without a resolution: in its own pixels, and another sheet has its own path.
    sample::TSheetOptions none;
    none.XDpi = none.YDpi = 0;
    LastOpened = Dir.File("nodpi.tif");
    sample::WriteSheet(LastOpened, sample::PaintSample(400, 300, 2), none);
    Open(LastOpened);
    EXPECT_EQ(Form->StatusMeasure().toStdString(), "");
    click({5, 5});
    EXPECT_EQ(click({35, 45}), "距離 50 px (最後 50 px)");
}

TEST_F(InputTest, TheScaleBarShowsARoundLengthAtTheZoomOverTheViewOnly) {
    // 400 dpi: at x 1 a view pixel is 1.5875 m; 200 m is 126 pixels, at 1/4 1 km is 157.
    sample::TSheetOptions fine;
    fine.XDpi = fine.YDpi = 400;
    LastOpened = Dir.File("C400.tif");
    Raster = sample::PaintSample(2400, 1800, 3);
    sample::WriteSheet(LastOpened, Raster, fine);
    Open(LastOpened);
    ASSERT_TRUE(Form->ScaleBarShown()); // a first start shows it
    QAction* item = MenuItem(*Form, "縮尺バー");
    ASSERT_NE(item, nullptr);
    ASSERT_TRUE(item->isCheckable());
    for (auto [rate, pixels] : {std::pair{1.0, 126}, std::pair{0.25, 157}}) {
        SetRate(rate);
        Settle();
        const QImage with = Form->Image1->grab().toImage();
        item->trigger(); // hidden
        Settle();
        const QImage without = Form->Image1->grab().toImage();
        item->trigger();
        Settle();
        EXPECT_EQ(LongestBlackRunWhereDiffers(with, without), pixels) << rate;
        // Nothing of it in the picture, nor in the copy.
        EXPECT_TRUE(ViewIsRight());
        Form->btnCopy->click();
        const QImage clip =
            QApplication::clipboard()->image().convertToFormat(QImage::Format_RGB32);
        const rt::TBitmap expected = Expected();
        ASSERT_EQ(clip.size(), QSize(expected.Width(), expected.Height()));
        int wrong = 0;
        for (int y = 0; y < clip.height(); ++y)
            for (int x = 0; x < clip.width(); ++x) {
                const rt::TColor c = expected.Pixel(x, y);
                wrong += clip.pixel(x, y) != qRgb(rt::RedOf(c), rt::GreenOf(c), rt::BlueOf(c));
            }
        EXPECT_EQ(wrong, 0) << rate;
        EXPECT_EQ(LongestBlackRunWhereDiffers(with, clip), pixels) << rate; // the bar, missing
    }
    // At 254 dpi and x 1 a view pixel is 2.5 m: 500 m is 200 pixels.
    LastOpened = MakeSheet("C254.tif", 1200, 900);
    Open(LastOpened);
    SetRate(1);
    Settle();
    QImage with = Form->Image1->grab().toImage();
    item->trigger();
    Settle();
    EXPECT_FALSE(Form->ScaleBarShown());
    EXPECT_EQ(LongestBlackRunWhereDiffers(with, Form->Image1->grab().toImage()), 200);
    item->trigger();
    // A sheet without a resolution has none.
    sample::TSheetOptions none;
    none.XDpi = none.YDpi = 0;
    LastOpened = Dir.File("nodpi.tif");
    sample::WriteSheet(LastOpened, sample::PaintSample(1200, 900, 2), none);
    Open(LastOpened);
    ASSERT_TRUE(Form->ScaleBarShown());
    with = Form->Image1->grab().toImage();
    item->trigger();
    Settle();
    EXPECT_EQ(with, Form->Image1->grab().toImage());
}

TEST(ScaleBar, RoundLengthsWithinTheirBoundsAtEveryRate) {
    for (int dpi : {100, 254, 400, 1200})
        for (double rate = 1.0 / 64; rate <= 8; rate *= 2) {
            const auto bar = measure::ScaleBarFor(rate, dpi);
            ASSERT_TRUE(bar);
            EXPECT_GE(bar->Pixels, measure::kBarMinPixels) << dpi << " " << rate;
            EXPECT_LE(bar->Pixels, measure::kBarMaxPixels) << dpi << " " << rate;
            const double mantissa =
                bar->Metres / std::pow(10.0, std::floor(std::log10(bar->Metres)));
            EXPECT_TRUE(std::abs(mantissa - 1) < 1e-9 || std::abs(mantissa - 2) < 1e-9 ||
                        std::abs(mantissa - 5) < 1e-9)
                << bar->Metres;
        }
    EXPECT_EQ(measure::ScaleBarFor(1, 254)->Label.toStdString(), "500 m");
    EXPECT_EQ(measure::ScaleBarFor(1.0 / 64, 254)->Label.toStdString(), "20 km");
    EXPECT_FALSE(measure::ScaleBarFor(1, 0));
}
