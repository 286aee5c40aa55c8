// The first window on a large screen (set for this suite's runs: 1920 x 1200), and what a
// later start takes from the settings.

#include "tests/viewer/FormFixture.h"

#include <QGuiApplication>
#include <QScreen>

TEST_F(FormMapTest, AFirstStartUsesMostOfTheScreen) {
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    ASSERT_GE(screen.width(), 1600) << "run on a screen of 1920 x 1200";
    ASSERT_GE(screen.height(), 1000);
    Form->UseSettings(Dir.File("mapviewer.ini")); // none: the window as a first start has it
    Settle();
    EXPECT_GE(Form->width(), 1280);
    EXPECT_GE(Form->height(), 800);
    EXPECT_LE(Form->width(), screen.width());
    EXPECT_LE(Form->height(), screen.height());
    EXPECT_GE(double(Form->width()) * Form->height(), 0.6 * screen.width() * screen.height());
    // The view takes the room: the window is laid out at that size.
    EXPECT_EQ(Form->pnlMap->width(), Form->width() - Form->pnlOption->width());
    EXPECT_GT(Form->Image1->width(), 1000);

    // A later start takes the size the last one closed at, and the scale bar hidden.
    EXPECT_TRUE(Form->ScaleBarShown());
    Form->actScaleBar->trigger();
    Form->resize(1100, 700);
    Settle();
    Form->close();
    ASSERT_TRUE(Errors.empty());
    TWatchedFormMap second(nullptr, Dir.File("second.tmp"), Dir.Path());
    second.UseSettings(Dir.File("mapviewer.ini"));
    second.show();
    Settle();
    EXPECT_EQ(second.size(), QSize(1100, 700));
    EXPECT_FALSE(second.ScaleBarShown());
    FormMap = Form.get();
}

TEST(FirstWindowSize, MostOfTheScreenAtLeast1280By800WhereItAllows) {
    using measure::FirstWindowSize;
    EXPECT_EQ(FirstWindowSize(QRect(0, 0, 1920, 1200)), QSize(1632, 1020));
    EXPECT_EQ(FirstWindowSize(QRect(0, 0, 2560, 1400)), QSize(2176, 1190));
    // Between 1280 x 800 and the 85 % that would be smaller: the least size.
    EXPECT_EQ(FirstWindowSize(QRect(0, 0, 1440, 870)), QSize(1280, 800));
    // A screen that has not that room: all of it.
    EXPECT_EQ(FirstWindowSize(QRect(0, 24, 1366, 744)), QSize(1280, 744));
    EXPECT_EQ(FirstWindowSize(QRect(0, 0, 800, 600)), QSize(800, 600));
}
