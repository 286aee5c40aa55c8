#include "toolkit/Widgets.h"

#include "runtime/Errors.h"
#include "toolkit/Controls.h"
#include "toolkit/Guard.h"

#include <QImage>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QWheelEvent>
#include <climits>

TSpinButton::TSpinButton(QWidget* parent) : QWidget(parent) {
    Up = new QToolButton(this);
    Down = new QToolButton(this);
    Up->setArrowType(Qt::UpArrow);
    Down->setArrowType(Qt::DownArrow);
    Up->setIconSize(QSize(9, 6));
    Down->setIconSize(QSize(9, 6));
    Up->setAutoRepeat(true);
    Down->setAutoRepeat(true);
    connect(Up, &QToolButton::clicked, this, tk::Guard([this](bool) {
                if (OnUpClick) OnUpClick();
            }));
    connect(Down, &QToolButton::clicked, this, tk::Guard([this](bool) {
                if (OnDownClick) OnDownClick();
            }));
}

void TSpinButton::resizeEvent(QResizeEvent* e) {
    QWidget::resizeEvent(e);
    int half = height() / 2;
    Up->setGeometry(0, 0, width(), half);
    Down->setGeometry(0, half, width(), height() - half);
}

TProgressGauge::TProgressGauge(QWidget* parent) : QProgressBar(parent) {
    setRange(0, 100);
    setValue(0);
    setTextVisible(false);
    Restyle();
}

void TProgressGauge::SetMin(int value) {
    rt::CheckProgressMin(value, maximum());
    const int keep = this->value();
    setMinimum(value);
    // Qt drops a value left outside the range; the gauge pulls it to the nearer end.
    setValue(std::clamp(keep, minimum(), maximum()));
}

void TProgressGauge::SetMax(int value) {
    rt::CheckProgressMax(value, minimum());
    const int keep = this->value();
    setMaximum(value);
    setValue(std::clamp(keep, minimum(), maximum()));
}

void TProgressGauge::SetForeColor(rt::TColor color) {
    Fore = color & 0x00FFFFFF;
    Restyle();
}

void TProgressGauge::SetBackColor(rt::TColor color) {
    Back = color & 0x00FFFFFF;
    Restyle();
}

void TProgressGauge::Restyle() {
    setStyleSheet(QString("QProgressBar { background: %1; border: 1px solid gray; } "
                          "QProgressBar::chunk { background: %2; }")
                      .arg(tk::ToQColor(Back).name(), tk::ToQColor(Fore).name()));
}

TPaintBox::TPaintBox(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    setFocusPolicy(Qt::StrongFocus);
    setMouseTracking(true);
    Image.SetSize(width(), height());
}

void TPaintBox::Drawn() {
    Fresh = true;
    if (Locks == 0 && !Painting) update();
}

void TPaintBox::Unlock() {
    if (Locks > 0) --Locks;
    if (Locks == 0 && Fresh && !Painting) update();
}

void TPaintBox::FillRect(const rt::TRect& r, rt::TColor c) {
    rt::FillBitmap(Image, r, c);
    Drawn();
}

void TPaintBox::StretchBlt(int dx, int dy, int dw, int dh, const rt::TBitmap& src, int sx, int sy,
                           int sw, int sh, uint32_t) {
    rt::StretchCopy(Image, dx, dy, dw, dh, src, sx, sy, sw, sh);
    Drawn();
}

void TPaintBox::BitBlt(int dx, int dy, int w, int h, const rt::TBitmap& src, int sx, int sy,
                       uint32_t) {
    rt::StretchCopy(Image, dx, dy, w, h, src, sx, sy, w, h);
    Drawn();
}

void TPaintBox::resizeEvent(QResizeEvent* e) {
    QWidget::resizeEvent(e);
    Image.SetSize(width(), height());
    Fresh = false; // the new size must be painted by the owner
}

void TPaintBox::paintEvent(QPaintEvent*) {
    if (!Fresh && OnPaint) {
        Painting = true;
        tk::GuardedLater([this] { OnPaint(); });
        Painting = false;
    }
    Fresh = false;
    if (Image.Width() == 0 || Image.Height() == 0) return;
    QPainter p(this);
    // The picture is in logical pixels: on a scaled screen each becomes a block of device
    // pixels, never smoothed, so that sheet pixels stay sharp.
    p.setRenderHint(QPainter::SmoothPixmapTransform, false);
    QImage shown(Image.ScanLine(0), Image.Width(), Image.Height(), qsizetype(Image.Stride()),
                 QImage::Format_BGR888);
    p.drawImage(QRect(0, 0, Image.Width(), Image.Height()), shown);
    if (OnOverlay) OnOverlay(p);
}

void TPaintBox::mousePressEvent(QMouseEvent* e) {
    QWidget::mousePressEvent(e);
    if (OnMouseDown) tk::Guarded([&] { OnMouseDown(e); });
}

void TPaintBox::mouseMoveEvent(QMouseEvent* e) {
    QWidget::mouseMoveEvent(e);
    if (OnMouseMove) tk::Guarded([&] { OnMouseMove(e); });
}

void TPaintBox::mouseReleaseEvent(QMouseEvent* e) {
    QWidget::mouseReleaseEvent(e);
    if (OnMouseUp) tk::Guarded([&] { OnMouseUp(e); });
}

void TPaintBox::leaveEvent(QEvent* e) {
    QWidget::leaveEvent(e);
    if (OnMouseLeave) tk::Guarded([&] { OnMouseLeave(); });
}

void TPaintBox::wheelEvent(QWheelEvent* e) {
    if (!OnWheel) {
        QWidget::wheelEvent(e);
        return;
    }
    e->accept();
    tk::Guarded([&] { OnWheel(e); });
}

void TPaintBox::keyPressEvent(QKeyEvent* e) {
    bool used = false;
    if (OnKeyDown) tk::Guarded([&] { used = OnKeyDown(e); });
    if (used)
        e->accept();
    else
        QWidget::keyPressEvent(e);
}
