#pragma once
// The controls the windows expect, over Qt Widgets: a panel with a resize event, a toolbar
// that lines up its visible buttons, a colour swatch with a Tag, and glyph pairs.

#include "runtime/Bitmap.h"

#include <QFrame>
#include <QLabel>
#include <QStyledItemDelegate>
#include <QToolButton>
#include <functional>

// A panel with a lowered bevel that reports its resizes.
class TPanel : public QFrame {
    Q_OBJECT
public:
    explicit TPanel(QWidget* parent = nullptr);
    std::function<void()> OnResize;

protected:
    void resizeEvent(QResizeEvent* e) override;
};

// A toolbar: its visible buttons stand left to right from the indent, hidden ones take no room.
class TToolBar : public QWidget {
    Q_OBJECT
public:
    explicit TToolBar(QWidget* parent = nullptr);
    int Indent = 3;
    void Arrange();

protected:
    bool event(QEvent* e) override;
};

// A label showing a colour, clicked to choose another; Tag tells which plate it stands for.
class TSwatch : public QLabel {
    Q_OBJECT
public:
    explicit TSwatch(QWidget* parent = nullptr);
    int Tag = 0;
    rt::TColor Color() const { return Value; }
    void SetColor(rt::TColor c);
    std::function<void(TSwatch*)> OnClick;

protected:
    void mouseReleaseEvent(QMouseEvent* e) override;

private:
    rt::TColor Value = 0;
};

namespace tk {

// List entries all of one height; where LevelRole is given, each is indented by Indent
// pixels per level that the entry carries in that role.
class TItemDelegate : public QStyledItemDelegate {
public:
    TItemDelegate(int height, QObject* parent, int levelRole = -1, int indent = 0)
        : QStyledItemDelegate(parent), Height(height), LevelRole(levelRole), Indent(indent) {}
    int Height;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;

private:
    int Shift(const QModelIndex& index) const;
    int LevelRole, Indent;
};

QColor ToQColor(rt::TColor c);
rt::TColor FromQColor(const QColor& c);
// Gives a tool button the glyph pair of a 32 x 16 image: normal left, disabled right.
void SetGlyph(QToolButton* button, const QString& path);
// The windows' font: "ＭＳ Ｐゴシック" at 15 pixels, IPAPGothic where that family is missing.
QFont FormFont();

} // namespace tk
