#include "toolkit/Controls.h"

#include <QEvent>
#include <QIcon>
#include <QMouseEvent>
#include <QPixmap>

TPanel::TPanel(QWidget* parent) : QFrame(parent) {
    setFrameShape(QFrame::Panel);
    setFrameShadow(QFrame::Sunken);
    setLineWidth(1);
}

void TPanel::resizeEvent(QResizeEvent* e) {
    QFrame::resizeEvent(e);
    if (OnResize) OnResize();
}

TToolBar::TToolBar(QWidget* parent) : QWidget(parent) {}

void TToolBar::Arrange() {
    int x = Indent;
    for (QObject* o : children()) {
        auto* w = qobject_cast<QWidget*>(o);
        if (!w || w->isHidden()) continue;
        w->move(x, 0);
        x += w->width();
    }
}

bool TToolBar::event(QEvent* e) {
    if (e->type() == QEvent::ChildAdded || e->type() == QEvent::ChildRemoved ||
        e->type() == QEvent::Show || e->type() == QEvent::LayoutRequest)
        Arrange();
    return QWidget::event(e);
}

TSwatch::TSwatch(QWidget* parent) : QLabel(parent) {
    setAutoFillBackground(true);
    setText("        ");
}

void TSwatch::SetColor(rt::TColor c) {
    Value = c & 0x00FFFFFF;
    QPalette p = palette();
    p.setColor(QPalette::Window, tk::ToQColor(Value));
    setPalette(p);
}

void TSwatch::mouseReleaseEvent(QMouseEvent* e) {
    QLabel::mouseReleaseEvent(e);
    if (e->button() == Qt::LeftButton && rect().contains(e->position().toPoint()) && OnClick)
        OnClick(this);
}

namespace tk {

int TItemDelegate::Shift(const QModelIndex& index) const {
    return LevelRole < 0 ? 0 : Indent * index.data(LevelRole).toInt();
}

QSize TItemDelegate::sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const {
    return {QStyledItemDelegate::sizeHint(option, index).width() + Shift(index), Height};
}

void TItemDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                          const QModelIndex& index) const {
    QStyleOptionViewItem o = option;
    o.rect.setLeft(o.rect.left() + Shift(index));
    QStyledItemDelegate::paint(painter, o, index);
}

QColor ToQColor(rt::TColor c) {
    return QColor(rt::RedOf(c), rt::GreenOf(c), rt::BlueOf(c));
}

rt::TColor FromQColor(const QColor& c) {
    return rt::RGB(uint8_t(c.red()), uint8_t(c.green()), uint8_t(c.blue()));
}

void SetGlyph(QToolButton* button, const QString& path) {
    QPixmap pair(path);
    if (pair.isNull()) return;
    const int side = pair.height();
    QIcon icon;
    icon.addPixmap(pair.copy(0, 0, side, side), QIcon::Normal);
    icon.addPixmap(pair.width() >= 2 * side ? pair.copy(side, 0, side, side)
                                            : pair.copy(0, 0, side, side),
                   QIcon::Disabled);
    button->setIcon(icon);
    button->setIconSize(QSize(side, side));
}

QFont FormFont() {
    QFont::insertSubstitution(QStringLiteral("ＭＳ Ｐゴシック"), QStringLiteral("IPAPGothic"));
    QFont f(QStringLiteral("ＭＳ Ｐゴシック"));
    f.setPixelSize(15);
    return f;
}

} // namespace tk
