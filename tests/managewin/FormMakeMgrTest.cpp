#include "tests/LayoutCheck.h"
#include "tests/managewin/MgrWindows.h"

namespace {

const std::string kImage = "CD-ROM「数値地図25000(地図画像)」です";
const std::string kMesh = "CD-ROM「数値地図50mメッシュ(標高)」です";
const std::string kUnknown = "不明な地図";
const std::string kAsk = "はすでに登録されています。現在の設定を変更しますか？";

class FormMakeMgrTest : public MgrWindows {
protected:
    void SetUp() override {
        MgrWindows::SetUp();
        FormMakeMgr->show();
        Settle();
    }
    // Types text into the root box and confirms it with Enter and the given modifiers.
    void TypeRoot(const std::string& text, Qt::KeyboardModifiers mods = Qt::NoModifier,
                  Qt::Key enter = Qt::Key_Return) {
        QLineEdit* edit = FormMakeMgr->edtRoot;
        edit->clear();
        QTest::keyClicks(edit, QString::fromStdString(text));
        QTest::keyClick(edit, enter, mods);
    }
    std::string Kind() const { return FormMakeMgr->lblKind->text().toStdString(); }
    bool GroupOn() const { return FormMakeMgr->grpOptMI->isEnabled(); }
    bool OkOn() const { return FormMakeMgr->btnOK->isEnabled(); }
};

TEST_F(FormMakeMgrTest, StartsEmptyWithTheDesignedLayout) {
    TFormMakeMgr* f = FormMakeMgr;
    EXPECT_EQ(f->windowTitle().toStdString(), "FormMakeMgr");
    EXPECT_EQ(f->size(), QSize(414, 370));
    EXPECT_EQ(f->palette().color(QPalette::Window), QColor(Qt::white));
    EXPECT_TRUE(f->autoFillBackground());
    EXPECT_EQ(f->font().pixelSize(), 15);
    EXPECT_TRUE(f->edtRoot->text().isEmpty());
    EXPECT_EQ(Kind(), "       ");
    EXPECT_TRUE(GroupOn());
    EXPECT_FALSE(OkOn());
    EXPECT_FALSE(f->chkMakeThmb->isChecked());
    EXPECT_EQ(f->Label1->text().toStdString(), "地図データのルートディレクトリを指定して下さい");
    EXPECT_EQ(f->Label1->pos(), QPoint(16, 8));
    EXPECT_EQ(f->Label1->height(), 15);
    EXPECT_GE(f->Label1->width(), std::max(300, f->Label1->sizeHint().width())); // never cut
    testing_support::ExpectTidyLayout(f);
    EXPECT_EQ(f->btnRoot->text().toStdString(), "参照...");
    EXPECT_EQ(f->lblKind->font().pixelSize(), 20);
    EXPECT_EQ(f->lblKind->palette().color(QPalette::WindowText), QColor(Qt::red));
    EXPECT_EQ(f->grpOptMI->title().toStdString(), " 地図画像オプション ");
    EXPECT_EQ(f->chkMakeThmb->text().toStdString(), "サムネールを作成する");
    EXPECT_EQ(f->btnOK->text().toStdString(), "登録する");
    EXPECT_EQ(f->btnCansel->text().toStdString(), "閉じる");
    EXPECT_EQ(
        TabOrder(f->edtRoot, 5),
        (std::vector<QWidget*>{f->edtRoot, f->btnRoot, f->chkMakeThmb, f->btnOK, f->btnCansel}));
    ExpectCentred(f);
}

TEST_F(FormMakeMgrTest, EnterWithAnyModifiersRecognisesTheTypedRoot) {
    const std::string root = MakeImageDisc("img", "1,a\r\n");
    QTest::keyClicks(FormMakeMgr->edtRoot, QString::fromStdString(root));
    EXPECT_EQ(Kind(), "       "); // typing alone recognises nothing
    for (auto mods : {Qt::ShiftModifier, Qt::ControlModifier, Qt::NoModifier}) {
        TypeRoot(MakeMeshDisc("mesh"), mods);
        EXPECT_EQ(Kind(), kMesh);
        TypeRoot(root, mods);
        EXPECT_EQ(Kind(), kImage);
    }
    TypeRoot(MakeMeshDisc("mesh"), Qt::KeypadModifier, Qt::Key_Enter);
    EXPECT_EQ(Kind(), kMesh);
    // The key goes on to the box: Enter there still reaches whoever listens.
    int pressed = 0;
    QObject::connect(FormMakeMgr->edtRoot, &QLineEdit::returnPressed, [&] { ++pressed; });
    TypeRoot(root);
    EXPECT_EQ(pressed, 1);
}

TEST_F(FormMakeMgrTest, AnImageDiscIsShownAndRegisteredOnceThenAskedAbout) {
    const std::string root = MakeImageDisc("img", "\"5339\",\"\x93\x8c\x8b\x9e\"\r\n5340,y,z\r\n");
    TypeRoot(root);
    EXPECT_EQ(Kind(), kImage);
    EXPECT_TRUE(GroupOn());
    EXPECT_TRUE(OkOn());
    EXPECT_EQ(FormMakeMgr->edtRoot->text().toStdString(), root); // still as typed
    EXPECT_EQ(FormMakeMgr->FKind, 7);
    EXPECT_EQ(FormMakeMgr->FRoot, root + "/Data");
    EXPECT_GT(FormMakeMgr->lblKind->width(), 42); // the label grew with its text

    FormMakeMgr->chkMakeThmb->click(); // read by nothing
    FormMakeMgr->btnOK->click();
    const std::string registered = Entry("\"5339\"", "\"\x93\x8c\x8b\x9e\"", root + "/Data") +
                                   Entry("5340", "y", root + "/Data");
    EXPECT_EQ(Registry(), registered);
    EXPECT_TRUE(Questions.empty());
    EXPECT_TRUE(Messages.empty());
    EXPECT_TRUE(FormMakeMgr->isVisible()); // the dialog stays open as it was
    EXPECT_EQ(Kind(), kImage);

    FormMakeMgr->btnOK->click(); // again: one question per entry, No keeps everything
    EXPECT_EQ(Questions, (std::vector<std::string>{"\"5339\":\"東京\"" + kAsk, "5340:y" + kAsk}));
    EXPECT_EQ(Registry(), registered);

    // OK registers the last recognised root, not a text typed since without Enter.
    FormMakeMgr->edtRoot->setText(QString::fromStdString(MakeImageDisc("other", "9,q\r\n")));
    Questions.clear();
    FormMakeMgr->btnOK->click();
    EXPECT_EQ(Questions.size(), 2u);
    EXPECT_EQ(Registry(), registered);
}

TEST_F(FormMakeMgrTest, AMeshDiscDisablesTheOptionsAndRegistersNothing) {
    TypeRoot(MakeMeshDisc("mesh"));
    EXPECT_EQ(Kind(), kMesh);
    EXPECT_FALSE(GroupOn());
    EXPECT_TRUE(OkOn());
    FormMakeMgr->btnOK->click();
    EXPECT_FALSE(rt::FileExists(MgrFile));
    EXPECT_TRUE(Messages.empty());

    // An unknown root after it leaves the group disabled, after an image disc enabled.
    TypeRoot(Disc.File("nothing"));
    EXPECT_EQ(Kind(), kUnknown);
    EXPECT_FALSE(GroupOn());
    EXPECT_FALSE(OkOn());
    TypeRoot(MakeImageDisc("img", "1,a\r\n"));
    TypeRoot("");
    EXPECT_EQ(Kind(), kUnknown);
    EXPECT_TRUE(GroupOn());
    EXPECT_FALSE(OkOn());
    EXPECT_EQ(FormMakeMgr->FKind, 0);
}

TEST_F(FormMakeMgrTest, TheChooserNamesTheRootAndCancellingItChangesNothing) {
    const std::string root = MakeImageDisc("img", "1,a\r\n");
    DirDialog->lstDrv->SetDrives({{"/", "ext4"}, {Disc.Path(), "iso9660"}});
    DirDialog->lstDir->SetDirectory(Disc.Path());
    WhileChooserUp([] {
        TDirectoryListBox* list = DirDialog->lstDir;
        int img = -1;
        for (int i = 0; i < list->count(); ++i)
            if (list->item(i)->text() == "img") img = i;
        ASSERT_GE(img, 0);
        const QPoint at = list->visualItemRect(list->item(img)).center();
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, at);
        QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, at);
        Settle();
        DirDialog->btnOk->click();
    });
    FormMakeMgr->btnRoot->click();
    EXPECT_EQ(FormMakeMgr->edtRoot->text().toStdString(), root);
    EXPECT_EQ(FormMakeMgr->FRoot, root + "/Data");
    EXPECT_EQ(Kind(), kImage);

    WhileChooserUp([] {
        DirDialog->lstDir->OpenItem(0);
        DirDialog->btnCancel->click();
    });
    FormMakeMgr->btnRoot->click();
    EXPECT_EQ(FormMakeMgr->edtRoot->text().toStdString(), root);
    EXPECT_EQ(FormMakeMgr->FRoot, root + "/Data");
    EXPECT_EQ(FormMakeMgr->FKind, 7);
    EXPECT_EQ(Kind(), kImage);
}

} // namespace
