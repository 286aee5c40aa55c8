#include "tests/TestSupport.h"
#include "tests/toolkit/ToolkitFixture.h"

#include <QApplication>
#include <QComboBox>
#include <QFileDialog>
#include <QLineEdit>
#include <QTest>
#include <QTimer>
#include <optional>

namespace {

TEST(Dialogs, FiltersBecomeQtNameFilters) {
    EXPECT_EQ(tk::QtFilters("Tiff (*.tif)|*.tif"), "Tiff (*.tif)");
    EXPECT_EQ(tk::QtFilters("Bitmap|*.Bmp"), "Bitmap (*.Bmp)");
    EXPECT_EQ(tk::QtFilters("Tiff (*.tif)|*.tif|Bitmap|*.Bmp"), "Tiff (*.tif);;Bitmap (*.Bmp)");
    EXPECT_EQ(tk::QtFilters("All|*.tif;*.bmp"), "All (*.tif;*.bmp)");
    EXPECT_EQ(tk::QtFilters(""), "");
}

TEST(Dialogs, TheDefaultExtensionGoesOnlyOnANameWithoutOne) {
    EXPECT_EQ(tk::WithDefaultExt("/tmp/map", "bmp"), "/tmp/map.bmp");
    EXPECT_EQ(tk::WithDefaultExt("map", "bmp"), "map.bmp");
    EXPECT_EQ(tk::WithDefaultExt("/tmp/map.Bmp", "bmp"), "/tmp/map.Bmp");
    EXPECT_EQ(tk::WithDefaultExt("/tmp/map.tif", "bmp"), "/tmp/map.tif");
    EXPECT_EQ(tk::WithDefaultExt("/tmp/v1.2/map", "bmp"), "/tmp/v1.2/map.bmp");
    EXPECT_EQ(tk::WithDefaultExt("/tmp/map", ""), "/tmp/map");
}

TEST_F(ToolkitTest, TheTypeChosenInTheSaveDialogGivesABareNameItsExtension) {
    // The real dialog, its details hidden: the type list shows "PNG", not "PNG (*.png)".
    testing_support::TTempDir dir;
    tk::TSaveDialog save;
    save.Filter = "Bitmap|*.Bmp|PNG|*.png";
    save.DefaultExt = "bmp";
    for (int type : {1, 0}) {
        bool answered = false;
        QTimer::singleShot(0, [&] {
            auto* d = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
            if (!d) return;
            d->setDirectory(QString::fromStdString(dir.Path()));
            auto* types = d->findChild<QComboBox*>("fileTypeCombo");
            auto* name = d->findChild<QLineEdit*>("fileNameEdit");
            if (!types || !name) return d->reject();
            while (types->currentIndex() < type) QTest::keyClick(types, Qt::Key_Down);
            name->setText("view4");
            answered = true;
            QMetaObject::invokeMethod(d, "accept");
        });
        ASSERT_TRUE(save.Execute());
        ASSERT_TRUE(answered);
        EXPECT_EQ(save.FileName, dir.File(type == 1 ? "view4.png" : "view4.bmp"));
    }
}

class DialogHooks : public ToolkitTest {
protected:
    void SetUp() override {
        ToolkitTest::SetUp();
        tk::SetFileDialogHook([this](const tk::TFileRequest& r) {
            Asked.push_back(r);
            return Answer;
        });
        tk::SetColorDialogHook([this](rt::TColor initial) {
            Offered.push_back(initial);
            return ColorAnswer;
        });
    }
    std::vector<tk::TFileRequest> Asked;
    std::optional<std::string> Answer;
    std::vector<rt::TColor> Offered;
    std::optional<rt::TColor> ColorAnswer;
};

TEST_F(DialogHooks, OpenAsksWithItsFilterAndCancelKeepsTheName) {
    tk::TOpenDialog d;
    d.Filter = "Tiff (*.tif)|*.tif";
    d.FileName = "/before.tif";
    EXPECT_FALSE(d.Execute());
    EXPECT_EQ(d.FileName, "/before.tif");
    Answer = "/maps/5339.TIF";
    EXPECT_TRUE(d.Execute());
    EXPECT_EQ(d.FileName, "/maps/5339.TIF");
    ASSERT_EQ(Asked.size(), 2u);
    EXPECT_FALSE(Asked[0].Save);
    EXPECT_EQ(Asked[0].Filter, "Tiff (*.tif)|*.tif");
}

TEST_F(DialogHooks, SaveAppendsTheDefaultExtension) {
    tk::TSaveDialog d;
    d.Filter = "Bitmap|*.Bmp";
    d.DefaultExt = "bmp";
    Answer = "/out/sheet";
    EXPECT_TRUE(d.Execute());
    EXPECT_EQ(d.FileName, "/out/sheet.bmp");
    Answer = "/out/sheet.BMP";
    EXPECT_TRUE(d.Execute());
    EXPECT_EQ(d.FileName, "/out/sheet.BMP");
    Answer.reset();
    EXPECT_FALSE(d.Execute());
    EXPECT_EQ(d.FileName, "/out/sheet.BMP");
    ASSERT_EQ(Asked.size(), 3u);
    EXPECT_TRUE(Asked[0].Save);
    EXPECT_EQ(Asked[0].Filter, "Bitmap|*.Bmp");
    EXPECT_EQ(Asked[0].DefaultExt, "bmp");
}

TEST_F(DialogHooks, ColourOpensWithTheLastChoiceAndCancelKeepsIt) {
    tk::TColorDialog d;
    ColorAnswer = 0xFF123456; // a top byte is not part of a colour
    EXPECT_TRUE(d.Execute());
    EXPECT_EQ(d.Color, 0x00123456u);
    ColorAnswer.reset();
    EXPECT_FALSE(d.Execute());
    EXPECT_EQ(d.Color, 0x00123456u);
    EXPECT_EQ(Offered, (std::vector<rt::TColor>{0, 0x00123456}));
}

} // namespace
