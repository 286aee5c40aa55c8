#include "managewin/FormPlace.h"

#include "toolkit/Controls.h"

#include <QEvent>
#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

void UseFormFont(QWidget* form) {
    form->setFont(tk::FormFont());
}

void CentreOnScreen(QWidget* form) {
    QScreen* screen = form->screen() ? form->screen() : QGuiApplication::primaryScreen();
    if (!screen) return;
    const QRect area = screen->geometry();
    // Before the first showing the frame is not known yet and counts as nothing.
    const QSize outer = form->frameGeometry().size();
    form->move(area.x() + (area.width() - outer.width()) / 2,
               area.y() + (area.height() - outer.height()) / 2);
}

namespace {

class TCentreOnShow : public QObject {
public:
    using QObject::QObject;
    bool eventFilter(QObject* watched, QEvent* e) override {
        if (e->type() == QEvent::Show && !e->spontaneous())
            CentreOnScreen(static_cast<QWidget*>(watched));
        return false;
    }
};

} // namespace

void CentreEachShowing(QWidget* form) {
    form->installEventFilter(new TCentreOnShow(form));
}

void ShowInFront(QWidget* form) {
    form->setWindowState(form->windowState() & ~Qt::WindowMinimized);
    if (form->isVisible()) {
        form->raise();
        form->activateWindow();
    } else {
        form->show();
    }
}
