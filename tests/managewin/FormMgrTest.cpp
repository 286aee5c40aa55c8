#include "manage/UManage.h"
#include "tests/LayoutCheck.h"
#include "tests/managewin/MgrWindows.h"

namespace {

using FormMgrTest = MgrWindows;

int VisibleManagers() {
    int n = 0;
    for (QWidget* w : QApplication::topLevelWidgets())
        if (qobject_cast<TFormMgr*>(w) && w->isVisible()) ++n;
    return n;
}

TEST_F(FormMgrTest, HasTheDesignedLayoutAndStartsHidden) {
    TFormMgr* f = FormMgr;
    EXPECT_FALSE(f->isVisible());
    EXPECT_EQ(f->windowTitle().toStdString(), "Map Manager");
    EXPECT_EQ(f->size(), QSize(668, 471));
    EXPECT_EQ(f->font().pixelSize(), 15);
    testing_support::ExpectTidyLayout(f);
    EXPECT_EQ(f->lblInfo->text().toStdString(), "lblInfo");
    EXPECT_EQ(f->btnMakeMgr->text().toStdString(), "地図CD-ROM登録");
    EXPECT_EQ(TabOrder(f->lstMgrFile, 2), (std::vector<QWidget*>{f->lstMgrFile, f->btnMakeMgr}));
    f->ShowMgr();
    ExpectCentred(f);
}

TEST_F(FormMgrTest, ShowsTheRegistryAfreshEachTimeInOneWindow) {
    FormMgr->ShowMgr();
    EXPECT_TRUE(FormMgr->isVisible());
    EXPECT_EQ(FormMgr->lstMgrFile->count(), 0);
    EXPECT_EQ(FormMgr->lblInfo->text().toStdString(), "Mapマネージャの管理ファイルはありません");

    // Registered meanwhile: the window shown again reads it, and is still one window.
    const std::string root = MakeImageDisc("img", "\"5339\",\"\x93\x8c\x8b\x9e\"\r\n5340,y\r\n");
    MakeMgrMI(root + "/Data");
    FormMgr->ShowMgr();
    EXPECT_EQ(VisibleManagers(), 1);
    EXPECT_EQ(Texts(FormMgr->lstMgrFile),
              (std::vector<std::string>{"\"5339\":\"東京\"", "5340:y"}));
    EXPECT_EQ(FormMgr->lblInfo->text().toStdString(), "登録数 2");
    EXPECT_EQ(FormMgr->lstMgrFile->visualItemRect(FormMgr->lstMgrFile->item(0)).height(), 15);

    std::filesystem::remove(MgrFile);
    FormMgr->ShowMgr();
    EXPECT_EQ(FormMgr->lstMgrFile->count(), 0);
    EXPECT_EQ(FormMgr->lblInfo->text().toStdString(), "Mapマネージャの管理ファイルはありません");
    EXPECT_EQ(VisibleManagers(), 1);
    FormMgr->close(); // the frame's close box only hides it
    EXPECT_FALSE(FormMgr->isVisible());
    FormMgr->ShowMgr();
    EXPECT_TRUE(FormMgr->isVisible());
}

TEST_F(FormMgrTest, TheRegistrationButtonOpensTheDialogBesideTheWindow) {
    FormMgr->ShowMgr();
    FormMgr->btnMakeMgr->click();
    EXPECT_TRUE(FormMakeMgr->isVisible());
    EXPECT_TRUE(FormMgr->isVisible());
    EXPECT_FALSE(FormMakeMgr->isModal());
    ExpectCentred(FormMakeMgr);
    FormMakeMgr->edtRoot->setText(QString::fromStdString(Disc.Path()));
    QTest::keyClick(FormMakeMgr->edtRoot, Qt::Key_Return);
    FormMakeMgr->chkMakeThmb->setChecked(true);
    FormMgr->btnMakeMgr->click(); // already shown: the same dialog with its content
    EXPECT_EQ(FormMakeMgr->edtRoot->text().toStdString(), Disc.Path());
    // Closed by its frame or by "閉じる", it only hides and keeps everything for next time.
    for (auto close : {+[] { FormMakeMgr->close(); }, +[] { FormMakeMgr->btnCansel->click(); }}) {
        close();
        EXPECT_FALSE(FormMakeMgr->isVisible());
        FormMgr->btnMakeMgr->click();
        EXPECT_TRUE(FormMakeMgr->isVisible());
        EXPECT_EQ(FormMakeMgr->edtRoot->text().toStdString(), Disc.Path());
        EXPECT_EQ(FormMakeMgr->lblKind->text().toStdString(), "不明な地図");
        EXPECT_TRUE(FormMakeMgr->chkMakeThmb->isChecked());
    }
    // A registration there does not refresh the list; the next ShowMgr does.
    MakeMgrMI(MakeImageDisc("img", "1,a\r\n") + "/Data");
    EXPECT_EQ(FormMgr->lstMgrFile->count(), 0);
    FormMgr->ShowMgr();
    EXPECT_EQ(Texts(FormMgr->lstMgrFile), std::vector<std::string>{"1:a"});
}

} // namespace
