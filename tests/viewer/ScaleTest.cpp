// The viewer on a screen with a scale factor (QT_SCALE_FACTOR, set for this suite's runs):
// the same layout in logical pixels, and sheet pixels as sharp blocks of device pixels.

#include "tests/viewer/FormFixture.h"

#include <QWindow>
#include <cmath>

TEST_F(FormMapTest, AScaledScreenShowsSheetPixelsAsSharpBlocks) {
    const double factor = Form->devicePixelRatioF();
    ASSERT_GT(factor, 1.0) << "run with QT_SCALE_FACTOR above 1";
    LastOpened = MakeSheet("C1.tif", 900, 700);
    Open(LastOpened);
    Form->actScaleBar->setChecked(false); // drawn over the view, not of the sheet
    // The layout of the unscaled window, in logical pixels.
    EXPECT_EQ(Form->pnlOption->width(), 168);
    EXPECT_EQ(Form->scrV->width(), 20);
    EXPECT_EQ(Form->Image1->geometry(),
              QRect(0, 0, Form->pnlMap->width() - 20, Form->pnlMap->height() - 20));
    EXPECT_EQ(Form->ViewCols, Form->Image1->width()); // at x 1: one sheet column a logical pixel
    EXPECT_TRUE(ViewIsRight());
    // On the screen: every device pixel shows the view pixel under it, with no gap or seam,
    // and no colour that the view does not have.
    const QImage shown = Form->Image1->grab().toImage().convertToFormat(QImage::Format_RGB32);
    const rt::TBitmap& view = Form->Image1->Bitmap();
    ASSERT_EQ(shown.width(), int(std::ceil(view.Width() * factor - 0.01)));
    int wrong = 0;
    for (int dy = 0; dy < shown.height(); ++dy)
        for (int dx = 0; dx < shown.width(); ++dx) {
            const int x = std::min(view.Width() - 1, int(dx / factor)),
                      y = std::min(view.Height() - 1, int(dy / factor));
            const QRgb d = shown.pixel(dx, dy);
            bool near = false; // a block's edge may fall on either side of a fractional boundary
            for (int ny = std::max(0, y - 1); ny <= std::min(view.Height() - 1, y + 1) && !near;
                 ++ny)
                for (int nx = std::max(0, x - 1); nx <= std::min(view.Width() - 1, x + 1) && !near;
                     ++nx) {
                    const rt::TColor c = view.Pixel(nx, ny);
                    near = qRed(d) == rt::RedOf(c) && qGreen(d) == rt::GreenOf(c) &&
                           qBlue(d) == rt::BlueOf(c);
                }
            wrong += !near;
        }
    EXPECT_EQ(wrong, 0);
    if (factor == 2.0) {
        // At a whole factor each view pixel is exactly a 2 x 2 block.
        for (int y = 0; y < 50; ++y)
            for (int x = 0; x < 50; ++x) {
                const rt::TColor c = view.Pixel(x, y);
                const QRgb want = qRgb(rt::RedOf(c), rt::GreenOf(c), rt::BlueOf(c));
                ASSERT_EQ(shown.pixel(2 * x, 2 * y), want);
                ASSERT_EQ(shown.pixel(2 * x + 1, 2 * y + 1), want);
            }
    }
}
