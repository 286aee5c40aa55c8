#pragma once
// The registration dialog: names the root of a map CD-ROM, shows what kind of disc it is
// and registers a map-image disc in the map registry. Modeless; closing only hides it.

#include "ui_UFormMakeMgr.h"

#include <QWidget>
#include <cstdint>
#include <string>

class TFormMakeMgr : public QWidget, public Ui::TFormMakeMgr {
    Q_OBJECT
public:
    explicit TFormMakeMgr(QWidget* parent = nullptr);

    // The kind and the root last recognised; for a map-image disc the root is its data
    // directory.
    uint8_t FKind = 0;
    std::string FRoot;

    void btnRootClick();
    // Enter (Return or the keypad's Enter) with any modifiers recognises the typed root;
    // the key goes on to the edit box unchanged.
    void edtRootKeyDown(int& key, Qt::KeyboardModifiers shift);
    void ShowKind();
    void btnOKClick();
    void btnCanselClick();

protected:
    bool eventFilter(QObject* watched, QEvent* e) override;

private:
    void Recognise(std::string root);
};

extern TFormMakeMgr* FormMakeMgr;
