#include "toolkit/Widgets.h"
#include "runtime/Errors.h"
#include "tests/toolkit/ToolkitFixture.h"

#include <QImage>
#include <QPixmap>
#include <QScreen>

namespace {

using ProgressGaugeTest = ToolkitTest;

std::string Refusal(const std::function<void()>& f) {
    try {
        f();
    } catch (const rt::EInvalidOperation& e) {
        return e.what();
    }
    return "accepted";
}

TEST_F(ProgressGaugeTest, RefusesACrossedRangeAndKeepsItsValues) {
    TProgressGauge g;
    g.SetPosition(40);
    EXPECT_EQ(Refusal([&] { g.SetMax(-1); }), "1 から 2147483647 の間の値でなければなりません");
    g.SetMin(10);
    EXPECT_EQ(Refusal([&] { g.SetMax(9); }), "11 から 2147483647 の間の値でなければなりません");
    EXPECT_EQ(Refusal([&] { g.SetMin(101); }), "-2147483648 から 99 の間の値でなければなりません");
    EXPECT_EQ(g.Min(), 10);
    EXPECT_EQ(g.Max(), 100);
    EXPECT_EQ(g.Position(), 40);
    // An empty range is still a range.
    EXPECT_EQ(Refusal([&] { g.SetMax(10); }), "accepted");
    EXPECT_EQ(Refusal([&] { g.SetMin(10); }), "accepted");
}

// QProgressBar::setRange resets a value left outside the new range to the minimum less
// one; the gauge, like rt::TProgressModel, pulls it to the nearer end.
TEST_F(ProgressGaugeTest, ANarrowedRangeKeepsThePositionInside) {
    TProgressGauge g;
    g.SetPosition(80);
    g.SetMax(50);
    EXPECT_EQ(g.Position(), 50);
    g.SetMin(20);
    g.SetPosition(20);
    g.SetMin(30);
    EXPECT_EQ(g.Position(), 30);
}

class PaintBoxTest : public ToolkitTest {
protected:
    void SetUp() override {
        ToolkitTest::SetUp();
        Box.resize(60, 40);
        Box.OnPaint = [this] {
            ++Paints;
            Box.FillRect({0, 0, Box.SurfaceWidth(), Box.SurfaceHeight()}, rt::kWhite);
        };
        Box.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&Box));
        Settle();
    }
    // What the window system was last given, read without asking the widget to paint.
    QColor Shown(int x, int y) {
        return Box.screen()->grabWindow(Box.winId()).toImage().pixelColor(x, y);
    }
    void Fill(rt::TColor c) { Box.FillRect({0, 0, 60, 40}, c); }
    TPaintBox Box;
    int Paints = 0;
};

TEST_F(PaintBoxTest, PaintsOnExposeAndResize) {
    EXPECT_EQ(Paints, 1);
    EXPECT_EQ(Shown(5, 5), QColor(Qt::white));
    Box.resize(90, 70);
    Settle();
    EXPECT_EQ(Paints, 2);
    EXPECT_EQ(Box.Bitmap().Width(), 90);
    EXPECT_EQ(Box.Bitmap().Height(), 70);
    EXPECT_EQ(Shown(85, 65), QColor(Qt::white));
}

TEST_F(PaintBoxTest, ShowsWhatWasDrawnWithoutPaintingAgain) {
    Fill(rt::RGB(255, 0, 0));
    Settle();
    EXPECT_EQ(Shown(30, 20), QColor(255, 0, 0));
    EXPECT_EQ(Paints, 1);
}

TEST_F(PaintBoxTest, ALockedCanvasIsShownOnlyOnceUnlocked) {
    Box.Lock();
    Box.Lock();
    Fill(rt::RGB(0, 0, 255));
    Settle();
    Box.Unlock();
    Settle();
    EXPECT_EQ(Shown(30, 20), QColor(Qt::white));
    Box.Unlock();
    EXPECT_FALSE(Box.Locked());
    Settle();
    EXPECT_EQ(Shown(30, 20), QColor(0, 0, 255));
    EXPECT_EQ(Paints, 1);
    Box.Unlock(); // one too many does no harm
    EXPECT_FALSE(Box.Locked());
}

} // namespace
