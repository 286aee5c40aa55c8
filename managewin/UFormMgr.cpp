#include "managewin/UFormMgr.h"

#include "manage/UManage.h"
#include "managewin/FormPlace.h"
#include "managewin/UFormMakeMgr.h"
#include "toolkit/Controls.h"
#include "toolkit/Guard.h"

TFormMgr* FormMgr = nullptr;

TFormMgr::TFormMgr(QWidget* parent) : QWidget(parent) {
    setupUi(this);
    UseFormFont(this);
    CentreEachShowing(this);
    // Entries of the registry list are 15 pixels high.
    lstMgrFile->setItemDelegate(new tk::TItemDelegate(15, lstMgrFile));
    lstMgrFile->setUniformItemSizes(true);
    btnMakeMgr->setAutoDefault(true);
    connect(btnMakeMgr, &QPushButton::clicked, this,
            tk::Guard([this](bool) { btnMakeMgrClick(); }));
}

void TFormMgr::ShowMgr() {
    lstMgrFile->clear();
    const TMgrFileView view = ShowMgrFile();
    for (const auto& line : view.Lines) lstMgrFile->addItem(QString::fromStdString(line));
    lblInfo->setText(QString::fromStdString(view.Info));
    lblInfo->resize(lblInfo->sizeHint().width(), lblInfo->height());
    ShowInFront(this);
}

void TFormMgr::btnMakeMgrClick() {
    if (FormMakeMgr) ShowInFront(FormMakeMgr);
}
