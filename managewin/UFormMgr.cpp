#include "managewin/UFormMgr.h"

#include "managewin/FormPlace.h"
#include "managewin/UFormMakeMgr.h"
#include "manage/UManage.h"
#include "toolkit/Guard.h"

#include <QShowEvent>
#include <QStyledItemDelegate>

TFormMgr* FormMgr = nullptr;

namespace {

// Entries of the registry list are 15 pixels high.
class TFixedHeightDelegate : public QStyledItemDelegate {
public:
    TFixedHeightDelegate(int height, QObject* parent) : QStyledItemDelegate(parent), Height(height) {}
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        return {QStyledItemDelegate::sizeHint(option, index).width(), Height};
    }

private:
    int Height;
};

} // namespace

TFormMgr::TFormMgr(QWidget* parent) : QWidget(parent) {
    setupUi(this);
    UseFormFont(this);
    lstMgrFile->setItemDelegate(new TFixedHeightDelegate(15, lstMgrFile));
    lstMgrFile->setUniformItemSizes(true);
    btnMakeMgr->setAutoDefault(true);
    connect(btnMakeMgr, &QPushButton::clicked, this, tk::Guard([this](bool) { btnMakeMgrClick(); }));
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

void TFormMgr::showEvent(QShowEvent* e) {
    // Each showing from hidden puts it in the middle of the screen; coming back from
    // the task bar leaves it where it was.
    if (!e->spontaneous()) CentreOnScreen(this);
    QWidget::showEvent(e);
}
