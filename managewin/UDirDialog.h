#pragma once
// The directory chooser: a modal dialog with a drive list and a directory list. It is made
// once and reused; the directory list keeps where the user left it.

#include "ui_UDirDialog.h"

#include <QDialog>
#include <string>

class TDirDialog : public QDialog, public Ui::TDirDialog {
    Q_OBJECT
public:
    explicit TDirDialog(QWidget* parent = nullptr);

    bool FOk = false;
    // The chosen directory, handed back by Execute.
    std::string Directory;

    // Shows the dialog modally; Directory becomes the open directory of the list, and the
    // answer is true only when the dialog was closed with OK.
    bool Execute();
    void btnOkClick();
    void btnCancelClick();

protected:
    void keyPressEvent(QKeyEvent* e) override;
    void showEvent(QShowEvent* e) override;
};

extern TDirDialog* DirDialog;
