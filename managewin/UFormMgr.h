#pragma once
// The map manager window: the registered map CD-ROMs and the way to the registration
// dialog. Modeless; closing only hides it.

#include "ui_UFormMgr.h"

#include <QWidget>

class TFormMgr : public QWidget, public Ui::TFormMgr {
    Q_OBJECT
public:
    explicit TFormMgr(QWidget* parent = nullptr);

    // Reads the registry afresh into the list and the label, then shows the window (or
    // brings it to the front) and returns at once.
    void ShowMgr();
    void btnMakeMgrClick();
};

extern TFormMgr* FormMgr;
