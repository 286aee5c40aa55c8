#include "toolkit/ScrollBar.h"

#include "toolkit/Guard.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QWheelEvent>

TScrollBar::TScrollBar(QWidget* parent) : QScrollBar(parent) {
    Init();
}
TScrollBar::TScrollBar(Qt::Orientation o, QWidget* parent) : QScrollBar(o, parent) {
    Init();
}

void TScrollBar::Init() {
    setRange(0, 0);
    setPageStep(0);
    connect(this, &QAbstractSlider::valueChanged, this, tk::Guard([this](int) {
                if (OnChange) OnChange(this);
            }));
    connect(this, &QAbstractSlider::actionTriggered, this, tk::Guard([this](int action) {
                switch (action) {
                case SliderSingleStepSub:
                    Scroll(scLineUp);
                    break;
                case SliderSingleStepAdd:
                    Scroll(scLineDown);
                    break;
                case SliderPageStepSub:
                    Scroll(scPageUp);
                    break;
                case SliderPageStepAdd:
                    Scroll(scPageDown);
                    break;
                case SliderToMinimum:
                    Scroll(scTop);
                    break;
                case SliderToMaximum:
                    Scroll(scBottom);
                    break;
                case SliderMove:
                    Scroll(scTrack);
                    break;
                default:
                    break;
                }
            }));
    connect(this, &QAbstractSlider::sliderReleased, this,
            tk::Guard([this] { Scroll(scPosition); }));
}

void TScrollBar::Scroll(int code) {
    if (!OnScroll) return;
    // The slider has moved for every code by now; value() follows only after the action.
    int pos = sliderPosition();
    OnScroll(this, code, pos);
}

void TScrollBar::mousePressEvent(QMouseEvent* e) {
    QScrollBar::mousePressEvent(e);
    Pressed = e->isAccepted();
}

void TScrollBar::mouseReleaseEvent(QMouseEvent* e) {
    QScrollBar::mouseReleaseEvent(e);
    if (Pressed && e->buttons() == Qt::NoButton) {
        Pressed = false;
        tk::Guarded([this] { Scroll(scEndScroll); });
    }
}

void TScrollBar::keyPressEvent(QKeyEvent* e) {
    int before = value();
    QScrollBar::keyPressEvent(e);
    KeyScrolling = KeyScrolling || value() != before || e->isAccepted();
}

void TScrollBar::keyReleaseEvent(QKeyEvent* e) {
    QScrollBar::keyReleaseEvent(e);
    if (!e->isAutoRepeat() && KeyScrolling) {
        KeyScrolling = false;
        tk::Guarded([this] { Scroll(scEndScroll); });
    }
}

void TScrollBar::wheelEvent(QWheelEvent* e) {
    // A notch is a line step; the wheel's action ends with each event.
    QPoint d = e->angleDelta();
    int delta = d.y() != 0 ? d.y() : d.x();
    if (e->inverted()) delta = -delta;
    WheelRest += delta;
    int notches = WheelRest / QWheelEvent::DefaultDeltasPerStep;
    WheelRest -= notches * QWheelEvent::DefaultDeltasPerStep;
    e->accept();
    if (notches == 0) return;
    for (int i = 0; i < std::abs(notches); ++i)
        triggerAction(notches > 0 ? SliderSingleStepSub : SliderSingleStepAdd);
    tk::Guarded([this] { Scroll(scEndScroll); });
}
