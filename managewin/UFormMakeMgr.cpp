#include "managewin/UFormMakeMgr.h"

#include "manage/UManage.h"
#include "managewin/FormPlace.h"
#include "managewin/UDirDialog.h"
#include "toolkit/Controls.h"
#include "toolkit/Guard.h"

#include <QKeyEvent>
#include <algorithm>

TFormMakeMgr* FormMakeMgr = nullptr;

namespace {

// A label that grows and shrinks with its text from its left edge.
void SetCaption(QLabel* label, const QString& text) {
    label->setText(text);
    label->resize(label->sizeHint().width(), label->height());
}

} // namespace

TFormMakeMgr::TFormMakeMgr(QWidget* parent) : QWidget(parent) {
    setupUi(this);
    UseFormFont(this);
    CentreEachShowing(this);
    QPalette white = palette();
    white.setColor(QPalette::Window, Qt::white);
    setPalette(white);
    setAutoFillBackground(true);

    // The designed width is a floor: where the font runs wider the caption is not cut.
    Label1->resize(std::max(Label1->width(), Label1->sizeHint().width()), Label1->height());
    // uic drops a caption of blanks.
    lblKind->setText(QString(7, QLatin1Char(' ')));
    QFont big = tk::FormFont();
    big.setPixelSize(20);
    lblKind->setFont(big);
    QPalette red = lblKind->palette();
    red.setColor(QPalette::WindowText, Qt::red);
    lblKind->setPalette(red);
    // Enter on a focused button presses it, as on the system this comes from.
    for (QPushButton* b : {btnRoot, btnOK, btnCansel}) b->setAutoDefault(true);

    edtRoot->installEventFilter(this);
    connect(btnRoot, &QPushButton::clicked, this, tk::Guard([this](bool) { btnRootClick(); }));
    connect(btnOK, &QPushButton::clicked, this, tk::Guard([this](bool) { btnOKClick(); }));
    connect(btnCansel, &QPushButton::clicked, this, tk::Guard([this](bool) { btnCanselClick(); }));
}

bool TFormMakeMgr::eventFilter(QObject* watched, QEvent* e) {
    if (watched == edtRoot && e->type() == QEvent::KeyPress) {
        auto* key = static_cast<QKeyEvent*>(e);
        int code = key->key();
        tk::Guarded([&] { edtRootKeyDown(code, key->modifiers()); });
    }
    return QWidget::eventFilter(watched, e);
}

void TFormMakeMgr::Recognise(std::string root) {
    FRoot = std::move(root);
    FKind = GetMapKind(FRoot);
    ShowKind();
}

void TFormMakeMgr::btnRootClick() {
    if (!DirDialog || !DirDialog->Execute()) return;
    edtRoot->setText(QString::fromStdString(DirDialog->Directory));
    Recognise(DirDialog->Directory);
}

void TFormMakeMgr::edtRootKeyDown(int& key, Qt::KeyboardModifiers) {
    if (key != Qt::Key_Return && key != Qt::Key_Enter) return;
    // The edit box keeps what was typed, also when the root moves to its data directory.
    Recognise(edtRoot->text().toStdString());
}

void TFormMakeMgr::ShowKind() {
    switch (FKind) {
    case kMapKindImage25k:
        SetCaption(lblKind, QStringLiteral("CD-ROM「数値地図25000(地図画像)」です"));
        grpOptMI->setEnabled(true);
        btnOK->setEnabled(true);
        break;
    case kMapKindMesh50m:
        SetCaption(lblKind, QStringLiteral("CD-ROM「数値地図50mメッシュ(標高)」です"));
        grpOptMI->setEnabled(false);
        btnOK->setEnabled(true);
        break;
    default:
        // The option group stays as the last recognised disc left it.
        SetCaption(lblKind, QStringLiteral("不明な地図"));
        btnOK->setEnabled(false);
        break;
    }
}

void TFormMakeMgr::btnOKClick() {
    // A mesh disc has no registration; the thumbnail option is not read by anything.
    if (FKind == kMapKindImage25k) MakeMgrMI(FRoot);
}

void TFormMakeMgr::btnCanselClick() {
    close();
}
