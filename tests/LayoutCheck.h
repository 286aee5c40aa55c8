#pragma once
// What a window's layout must give its user, whatever its pixels: every control inside its
// parent, none over another (a designed pixel or two of overlap aside), every button's and
// box's caption shown whole. Labels are left out: they grow with what is set in them.

#include <QAbstractButton>
#include <QCheckBox>
#include <QGroupBox>
#include <QWidget>
#include <gtest/gtest.h>
#include <vector>

namespace testing_support {

inline void ExpectTidyLayout(const QWidget* parent) {
    std::vector<const QWidget*> controls;
    for (QObject* o : parent->children()) {
        auto* w = qobject_cast<const QWidget*>(o);
        if (w && !w->isWindow() && !w->isHidden() && !w->objectName().isEmpty())
            controls.push_back(w);
    }
    for (size_t i = 0; i < controls.size(); ++i) {
        const QWidget* w = controls[i];
        const std::string name = w->objectName().toStdString();
        EXPECT_TRUE(parent->rect().contains(w->geometry())) << name << " leaves its parent";
        for (size_t j = i + 1; j < controls.size(); ++j) {
            const QRect both = w->geometry() & controls[j]->geometry();
            EXPECT_FALSE(both.width() > 2 && both.height() > 2)
                << name << " lies over " << controls[j]->objectName().toStdString();
        }
        QString text;
        int room = w->width();
        if (auto* b = qobject_cast<const QAbstractButton*>(w)) text = b->text();
        if (qobject_cast<const QCheckBox*>(w)) room -= 20; // the box itself
        if (!text.trimmed().isEmpty()) {
            EXPECT_LE(w->fontMetrics().horizontalAdvance(text), room)
                << name << " cuts its caption";
        }
        if (auto* g = qobject_cast<const QGroupBox*>(w)) {
            EXPECT_LE(g->fontMetrics().horizontalAdvance(g->title()), g->width()) << name;
            ExpectTidyLayout(g);
        }
    }
}

} // namespace testing_support
