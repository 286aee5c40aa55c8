#include "managewin/UDirDialog.h"

#include "managewin/FormPlace.h"
#include "runtime/FileSys.h"
#include "toolkit/Guard.h"

#include <QKeyEvent>
#include <QShowEvent>
#include <QStyle>
#include <QStyleOptionButton>

TDirDialog* DirDialog = nullptr;

namespace {

// The standard glyph beside the caption, where the button has room for both: a font
// wider than the one the layout was made for must not push the caption out.
void GiveGlyph(QPushButton* button, const QIcon& glyph) {
    constexpr int kGlyph = 16, kSpacing = 4;
    QStyleOptionButton option;
    option.initFrom(button);
    const int room =
        button->style()->subElementRect(QStyle::SE_PushButtonContents, &option, button).width();
    if (kGlyph + kSpacing + button->fontMetrics().horizontalAdvance(button->text()) <= room) {
        button->setIcon(glyph);
        button->setIconSize(QSize(kGlyph, kGlyph));
    }
}

} // namespace

TDirDialog::TDirDialog(QWidget* parent) : QDialog(parent) {
    setupUi(this);
    UseFormFont(this);
    CentreEachShowing(this);
    // A fixed dialog frame: no resizing, no minimise or maximise.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint |
                   Qt::MSWindowsFixedSizeDialogHint);
    setFixedSize(242, 270);
    setSizeGripEnabled(false);
    lstDir->SetItemHeight(16);
    lstDrv->SetDirList(lstDir);
    lstDir->SetDirectory(rt::GetCurrentDir());
    GiveGlyph(btnOk, style()->standardIcon(QStyle::SP_DialogOkButton));
    GiveGlyph(btnCancel, style()->standardIcon(QStyle::SP_DialogCancelButton));
    btnOk->setDefault(true);

    connect(btnOk, &QPushButton::clicked, this, tk::Guard([this](bool) {
                btnOkClick();
                accept();
            }));
    connect(btnCancel, &QPushButton::clicked, this, tk::Guard([this](bool) {
                btnCancelClick();
                reject();
            }));
}

bool TDirDialog::Execute() {
    Directory.clear();
    FOk = false;
    exec();
    Directory = lstDir->Directory();
    return FOk;
}

void TDirDialog::btnOkClick() {
    FOk = true;
}

void TDirDialog::btnCancelClick() {
    FOk = false;
}

void TDirDialog::keyPressEvent(QKeyEvent* e) {
    // Escape is the Cancel button, not a bare rejection.
    if (e->key() == Qt::Key_Escape) {
        btnCancel->click();
        return;
    }
    QDialog::keyPressEvent(e);
}

void TDirDialog::showEvent(QShowEvent* e) {
    // What is on the disk may have changed since the last use.
    if (!e->spontaneous()) lstDir->Refresh();
    QDialog::showEvent(e);
}
