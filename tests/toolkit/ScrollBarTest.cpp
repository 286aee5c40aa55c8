#include "toolkit/ScrollBar.h"
#include "tests/toolkit/ToolkitFixture.h"

#include <QApplication>
#include <QStyle>
#include <QStyleOptionSlider>
#include <QWheelEvent>

namespace {

constexpr int kEnd = TScrollBar::scEndScroll;
using TCodes = std::vector<int>;

// Finds where the style puts the arrows, the trough and the thumb.
class TProbedBar : public TScrollBar {
public:
    using TScrollBar::TScrollBar;
    QPoint Centre(QStyle::SubControl sc) {
        QStyleOptionSlider opt;
        initStyleOption(&opt);
        return style()->subControlRect(QStyle::CC_ScrollBar, &opt, sc, this).center();
    }
};

class ScrollBarTest : public ToolkitTest {
protected:
    void SetUp() override {
        ToolkitTest::SetUp();
        Bar.resize(20, 300);
        Bar.SetMax(100);
        Bar.SetSmallChange(10);
        Bar.SetLargeChange(30);
        Bar.OnScroll = [this](TScrollBar* s, int code, int& pos) {
            EXPECT_EQ(s, &Bar);
            Codes.push_back(code);
            Positions.push_back(pos);
            if (code == kEnd) {
                EXPECT_EQ(pos, Bar.Position()) << "end of scroll";
            }
        };
        Bar.OnChange = [this](TScrollBar*) { Changes.push_back(Bar.Position()); };
        Bar.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&Bar));
    }
    TCodes Click(QStyle::SubControl sc) {
        Clear();
        QPoint at = Bar.Centre(sc);
        QTest::mousePress(&Bar, Qt::LeftButton, {}, at);
        QTest::mouseRelease(&Bar, Qt::LeftButton, {}, at);
        return Codes;
    }
    TCodes Key(Qt::Key key) {
        Clear();
        QTest::keyPress(&Bar, key);
        QTest::keyRelease(&Bar, key);
        return Codes;
    }
    void SendKey(QEvent::Type type, bool autoRepeat) {
        QKeyEvent e(type, Qt::Key_Down, Qt::NoModifier, QString(), autoRepeat);
        QApplication::sendEvent(&Bar, &e);
    }
    TCodes Wheel(int angle) {
        Clear();
        QPointF at(10, 150);
        QWheelEvent e(at, Bar.mapToGlobal(at), QPoint(), QPoint(0, angle), Qt::NoButton,
                      Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(&Bar, &e);
        return Codes;
    }
    void Clear() {
        Codes.clear();
        Positions.clear();
    }
    TProbedBar Bar{Qt::Vertical};
    TCodes Codes;
    std::vector<int> Positions; // as the scroll event reported them
    std::vector<int> Changes;
};

TEST_F(ScrollBarTest, ArrowsAndTroughStepThenEndOnceOnRelease) {
    using B = TScrollBar;
    EXPECT_EQ(Click(QStyle::SC_ScrollBarAddLine), (TCodes{B::scLineDown, kEnd}));
    EXPECT_EQ(Bar.Position(), 10);
    EXPECT_EQ(Click(QStyle::SC_ScrollBarAddPage), (TCodes{B::scPageDown, kEnd}));
    EXPECT_EQ(Bar.Position(), 40);
    EXPECT_EQ(Click(QStyle::SC_ScrollBarSubPage), (TCodes{B::scPageUp, kEnd}));
    EXPECT_EQ(Bar.Position(), 10);
    EXPECT_EQ(Click(QStyle::SC_ScrollBarSubLine), (TCodes{B::scLineUp, kEnd}));
    EXPECT_EQ(Bar.Position(), 0);
    EXPECT_EQ(Changes, (std::vector<int>{10, 40, 10, 0}));
}

TEST_F(ScrollBarTest, ThumbTracksThenTakesItsPositionThenEndsOnce) {
    QPoint from = Bar.Centre(QStyle::SC_ScrollBarSlider);
    QTest::mousePress(&Bar, Qt::LeftButton, {}, from);
    for (int dy = 20; dy <= 60; dy += 20) QTest::mouseMove(&Bar, from + QPoint(0, dy));
    EXPECT_EQ(Codes, (TCodes(3, TScrollBar::scTrack)));
    QTest::mouseRelease(&Bar, Qt::LeftButton, {}, from + QPoint(0, 60));
    const int at = Bar.Position();
    ASSERT_GT(at, 0);
    ASSERT_EQ(Codes, (TCodes{TScrollBar::scTrack, TScrollBar::scTrack, TScrollBar::scTrack,
                             TScrollBar::scPosition, kEnd}));
    EXPECT_LT(Positions[0], Positions[1]);
    EXPECT_LT(Positions[1], Positions[2]);
    EXPECT_EQ(Positions[2], at);
    EXPECT_EQ(Positions[3], at);
    EXPECT_EQ(Changes.back(), at);
}

TEST_F(ScrollBarTest, KeysStepThenEndOnceOnRelease) {
    using B = TScrollBar;
    EXPECT_EQ(Key(Qt::Key_Down), (TCodes{B::scLineDown, kEnd}));
    EXPECT_EQ(Key(Qt::Key_PageDown), (TCodes{B::scPageDown, kEnd}));
    EXPECT_EQ(Bar.Position(), 40);
    EXPECT_EQ(Key(Qt::Key_End), (TCodes{B::scBottom, kEnd}));
    EXPECT_EQ(Bar.Position(), 100);
    EXPECT_EQ(Key(Qt::Key_PageUp), (TCodes{B::scPageUp, kEnd}));
    EXPECT_EQ(Key(Qt::Key_Home), (TCodes{B::scTop, kEnd}));
    EXPECT_EQ(Bar.Position(), 0);
    EXPECT_EQ(Key(Qt::Key_Up), (TCodes{B::scLineUp, kEnd})); // already at the top: still one action
    EXPECT_EQ(Key(Qt::Key_A), TCodes{});                     // not a scroll key: nothing to end
}

TEST_F(ScrollBarTest, AHeldKeyEndsOnlyWhenLetGo) {
    SendKey(QEvent::KeyPress, false);
    for (int i = 0; i < 3; ++i) {
        SendKey(QEvent::KeyRelease, true);
        SendKey(QEvent::KeyPress, true);
    }
    EXPECT_EQ(Codes, TCodes(4, TScrollBar::scLineDown));
    SendKey(QEvent::KeyRelease, false);
    EXPECT_EQ(Codes.size(), 5u);
    EXPECT_EQ(Codes.back(), kEnd);
    EXPECT_EQ(Bar.Position(), 40);
}

TEST_F(ScrollBarTest, TheWheelStepsByLinesAndEndsEachEvent) {
    using B = TScrollBar;
    EXPECT_EQ(Wheel(-240), (TCodes{B::scLineDown, B::scLineDown, kEnd}));
    EXPECT_EQ(Bar.Position(), 20);
    EXPECT_EQ(Wheel(120), (TCodes{B::scLineUp, kEnd}));
    EXPECT_EQ(Bar.Position(), 10);
    // A fine-grained wheel's fractions add up to a notch.
    EXPECT_EQ(Wheel(-60), TCodes{});
    EXPECT_EQ(Wheel(-60), (TCodes{B::scLineDown, kEnd}));
    EXPECT_EQ(Bar.Position(), 20);
}

// A line, page, top or bottom step carries the position after the step, as the thumb codes
// do (value() moves only after actionTriggered).
TEST_F(ScrollBarTest, StepsReportTheNewPosition) {
    Click(QStyle::SC_ScrollBarAddLine);
    EXPECT_EQ(Positions, (std::vector<int>{10, 10}));
    Key(Qt::Key_PageDown);
    EXPECT_EQ(Positions, (std::vector<int>{40, 40}));
    Key(Qt::Key_End);
    EXPECT_EQ(Positions, (std::vector<int>{100, 100}));
    Wheel(120);
    EXPECT_EQ(Positions, (std::vector<int>{90, 90}));
}

TEST_F(ScrollBarTest, CodeMovesRaiseTheChangeEventOnly) {
    Bar.SetPosition(80);
    EXPECT_EQ(Changes, std::vector<int>{80});
    Bar.SetMax(50); // pulls the position down with it
    EXPECT_EQ(Bar.Position(), 50);
    EXPECT_EQ(Changes, (std::vector<int>{80, 50}));
    Bar.SetMax(200);
    EXPECT_EQ(Bar.Position(), 50);
    Bar.SetMax(-5);
    EXPECT_EQ(Bar.Max(), 0);
    EXPECT_EQ(Bar.Position(), 0);
    EXPECT_EQ(Changes, (std::vector<int>{80, 50, 0}));
    EXPECT_EQ(Codes, TCodes{});
}

} // namespace
