#include "tests/LayoutCheck.h"
#include "tests/managewin/MgrWindows.h"
#include "toolkit/DirLists.h"

#include <QKeyEvent>
#include <QStyle>
#include <QStyleOptionButton>
#include <unistd.h>

namespace {

class DirDialogTest : public MgrWindows {
protected:
    void SetUp() override {
        MgrWindows::SetUp();
        // Two made-up drives: a machine's own mounts are not the test's to rely on.
        std::filesystem::create_directories(Disc.File("c/maps/sub"));
        std::filesystem::create_directories(Disc.File("c/maps/Beta"));
        std::filesystem::create_directories(Disc.File("c/maps/alpha/deep"));
        std::filesystem::create_directories(Disc.File("c/maps/.hidden"));
        testing_support::WriteAll(Disc.File("c/maps/file.csv"), {});
        std::filesystem::create_directories(Disc.File("d/Data"));
        C = Disc.File("c");
        D = Disc.File("d");
        DirDialog->lstDrv->SetDrives({{"/", "ext4"}, {C, "ext4"}, {D, "iso9660"}});
        DirDialog->lstDir->SetDirectory(C + "/maps");
    }
    // Runs the chooser, doing act while it is up.
    bool Run(std::function<void()> act) {
        WhileChooserUp(std::move(act));
        return DirDialog->Execute();
    }
    void DoubleClick(int row) {
        TDirectoryListBox* list = DirDialog->lstDir;
        const QPoint at = list->visualItemRect(list->item(row)).center();
        // Press and release, then the second press that the system reports as a double-click.
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, at);
        QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, at);
        Settle();
    }
    static void Key(QWidget* w, Qt::Key key) { QTest::keyClick(w, key); }

    std::string C, D;
};

TEST_F(DirDialogTest, HasTheDesignedFixedLayout) {
    TDirDialog* d = DirDialog;
    EXPECT_EQ(d->windowTitle().toStdString(), "ディレクトリ指定");
    EXPECT_EQ(d->size(), QSize(242, 270));
    EXPECT_EQ(d->minimumSize(), d->maximumSize());
    const Qt::WindowFlags f = d->windowFlags();
    EXPECT_FALSE(f & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint |
                      Qt::WindowContextHelpButtonHint));
    EXPECT_TRUE(f & Qt::WindowCloseButtonHint);
    testing_support::ExpectTidyLayout(d);
    EXPECT_EQ(d->btnOk->text().toStdString(), "OK");
    EXPECT_EQ(d->btnCancel->text().toStdString(), "キャンセル");
    EXPECT_TRUE(d->btnOk->isDefault());
    // The glyphs stand beside the captions where the font leaves them room.
    EXPECT_FALSE(d->btnOk->icon().isNull());
    for (QPushButton* b : {d->btnOk, d->btnCancel}) {
        if (b->icon().isNull()) continue;
        QStyleOptionButton o;
        o.initFrom(b);
        EXPECT_LE(20 + b->fontMetrics().horizontalAdvance(b->text()),
                  b->style()->subElementRect(QStyle::SE_PushButtonContents, &o, b).width());
    }
    EXPECT_EQ(d->font().pixelSize(), 15);
    EXPECT_EQ(TabOrder(d->lstDrv, 4),
              (std::vector<QWidget*>{d->lstDrv, d->lstDir, d->btnOk, d->btnCancel}));
    EXPECT_EQ(d->lstDir->visualItemRect(d->lstDir->item(0)).height(), 16);

    QPoint placed;
    EXPECT_TRUE(Run([&] {
        placed = d->frameGeometry().center();
        ExpectCentred(d);
        d->btnOk->click();
    }));
    EXPECT_FALSE(placed.isNull());
}

TEST_F(DirDialogTest, ShowsThePathDownThenTheSubdirectories) {
    TDirectoryListBox* list = DirDialog->lstDir;
    // Hidden directories and files are left out; names sort without regard to case.
    EXPECT_EQ(Texts(list), (std::vector<std::string>{C, "maps", "alpha", "Beta", "sub"}));
    EXPECT_EQ(list->PathCount(), 2);
    EXPECT_EQ(list->currentRow(), 1); // the open directory is highlighted
    EXPECT_EQ(DirDialog->lstDrv->currentText().toStdString(), C);

    DoubleClick(2);
    EXPECT_EQ(list->Directory(), C + "/maps/alpha");
    EXPECT_EQ(Texts(list), (std::vector<std::string>{C, "maps", "alpha", "deep"}));
    DoubleClick(0); // up to the drive's root
    EXPECT_EQ(list->Directory(), C);
    EXPECT_EQ(Texts(list), (std::vector<std::string>{C, "maps"}));

    list->SetDirectory(C + "/../d/./Data/"); // opened on its own drive
    EXPECT_EQ(list->Directory(), D + "/Data");
    EXPECT_EQ(list->Root(), D);
    EXPECT_EQ(Texts(list), (std::vector<std::string>{D, "Data"}));

    // The root file system still has the directory the dialog started at, shown from "/".
    DirDialog->lstDrv->SetDrive("/");
    EXPECT_EQ(list->Directory(), Cwd);
    EXPECT_EQ(list->ItemPath(0), "/");
    EXPECT_EQ(list->ItemPath(list->PathCount() - 1), Cwd);
    DoubleClick(0);
    EXPECT_EQ(list->Directory(), "/");
    EXPECT_EQ(list->PathCount(), 1);
    EXPECT_EQ(list->ItemPath(1), "/" + Texts(list)[1]);
}

TEST_F(DirDialogTest, EachDriveKeepsTheDirectoryLastOpenedOnIt) {
    TDirectoryListBox* list = DirDialog->lstDir;
    TDriveComboBox* drives = DirDialog->lstDrv;
    // Chosen as the user does, through the drop-down.
    auto choose = [&](int index) {
        drives->setCurrentIndex(index);
        emit drives->activated(index);
    };
    choose(2);
    EXPECT_EQ(list->Directory(), D); // its root the first time
    DoubleClick(1);
    EXPECT_EQ(list->Directory(), D + "/Data");
    choose(1);
    EXPECT_EQ(list->Directory(), C + "/maps");
    choose(2);
    EXPECT_EQ(list->Directory(), D + "/Data");
    EXPECT_EQ(drives->currentIndex(), 2);

    // What was opened there has gone: its nearest remaining parent stands in.
    std::filesystem::remove(D + "/Data");
    choose(1);
    choose(2);
    EXPECT_EQ(list->Directory(), D);

    // OK on another drive hands back that drive's directory.
    list->SetDirectory(C + "/maps/alpha/deep");
    EXPECT_TRUE(Run([&] {
        choose(2);
        DirDialog->btnOk->click();
    }));
    EXPECT_EQ(DirDialog->Directory, D);
}

TEST_F(DirDialogTest, OkHandsBackTheOpenDirectoryNotTheHighlightedOne) {
    EXPECT_TRUE(Run([&] { DirDialog->btnOk->click(); }));
    EXPECT_EQ(DirDialog->Directory, C + "/maps");

    EXPECT_TRUE(Run([&] {
        DirDialog->lstDir->setCurrentRow(4);    // "sub", highlighted only
        Key(DirDialog->lstDir, Qt::Key_Return); // Enter is OK, also from the list
    }));
    EXPECT_EQ(DirDialog->Directory, C + "/maps");

    // The list keeps where it was left from one use to the next.
    EXPECT_TRUE(Run([&] {
        DoubleClick(4);
        DirDialog->btnOk->click();
    }));
    EXPECT_EQ(DirDialog->Directory, C + "/maps/sub");
    EXPECT_TRUE(Run([&] { DirDialog->btnOk->click(); }));
    EXPECT_EQ(DirDialog->Directory, C + "/maps/sub");
}

TEST_F(DirDialogTest, ListsWhatIsOnTheDiskAndNothingOfWhatCannotBeRead) {
    TDirectoryListBox* list = DirDialog->lstDir;
    std::filesystem::create_directories(C + "/maps/later");
    std::vector<std::string> shown;
    EXPECT_TRUE(Run([&] {
        shown = Texts(list);
        DirDialog->btnOk->click();
    }));
    EXPECT_EQ(shown, (std::vector<std::string>{C, "maps", "alpha", "Beta", "later", "sub"}));

    // The open directory went between two uses: its parent stands in.
    std::filesystem::remove_all(C + "/maps");
    EXPECT_FALSE(Run([&] {
        shown = Texts(list);
        DirDialog->btnCancel->click();
    }));
    EXPECT_EQ(shown, std::vector<std::string>{C});
    EXPECT_EQ(DirDialog->Directory, C);

    // A drive that is not ready shows its root alone, and no error.
    const std::string gone = Disc.File("e");
    DirDialog->lstDrv->SetDrives({{"/", "ext4"}, {gone, "iso9660"}});
    DirDialog->lstDrv->SetDrive(gone);
    EXPECT_EQ(Texts(list), std::vector<std::string>{gone});
    EXPECT_TRUE(Messages.empty());
}

TEST_F(DirDialogTest, EscapeCancelAndTheCloseBoxAnswerFalse) {
    const std::vector<std::function<void()>> cancels = {
        [] { Key(DirDialog->lstDir, Qt::Key_Escape); },
        [] { DirDialog->btnCancel->click(); },
        [] { DirDialog->close(); },
    };
    for (const auto& cancel : cancels) {
        EXPECT_TRUE(Run([] { DirDialog->btnOk->click(); }));
        EXPECT_FALSE(Run([&] {
            DoubleClick(0);
            cancel();
        }));
        EXPECT_FALSE(DirDialog->FOk);
        EXPECT_FALSE(DirDialog->isVisible());
        EXPECT_EQ(DirDialog->Directory, C); // the open directory, whatever the answer
        DirDialog->lstDir->SetDirectory(C + "/maps");
    }
}

TEST_F(DirDialogTest, StartsAtTheCurrentDirectoryOfItsCreation) {
    ASSERT_EQ(::chdir(D.c_str()), 0);
    auto fresh = std::make_unique<TDirDialog>();
    ASSERT_EQ(::chdir(Cwd.c_str()), 0);
    EXPECT_EQ(fresh->lstDir->Directory(), std::filesystem::canonical(D).string());
    EXPECT_EQ(fresh->lstDrv->Drive(), fresh->lstDrv->DriveOf(fresh->lstDir->Directory()));
    EXPECT_EQ(fresh->lstDrv->Drives().front().Root, "/");
}

TEST(DirLists, MountsBecomeDrivesRootFirst) {
    const std::string mounts = "proc /proc proc rw 0 0\n"
                               "/dev/sdb1 /media/user/GSI\\04025000 iso9660 ro 0 0\n"
                               "tmpfs /tmp tmpfs rw 0 0\n"
                               "/dev/sda2 /home ext4 rw 0 0\n"
                               "cgroup2 /sys/fs/cgroup cgroup2 rw 0 0\n"
                               "tmpfs /run/user/1000 tmpfs rw 0 0\n"
                               "/dev/sdc1 /run/media/user/USB vfat rw 0 0\n"
                               "/dev/sdd1 /run/lock ext4 rw 0 0\n"
                               "server:/x /mnt/net nfs4 rw 0 0\n"
                               "/dev/sda1 / ext4 rw 0 0\n"
                               "/dev/sde1 /home ext4 rw 0 0\n"
                               "broken line\n";
    const auto drives = tk::ParseMounts(mounts);
    std::vector<std::string> roots;
    for (const auto& d : drives) roots.push_back(d.Root);
    EXPECT_EQ(roots, (std::vector<std::string>{"/", "/home", "/media/user/GSI 25000", "/mnt/net",
                                               "/run/media/user/USB"}));
    EXPECT_EQ(drives[0].Type, "ext4");
    EXPECT_EQ(drives[2].Type, "iso9660");
    // Without a line for "/" the root file system is still the first drive.
    EXPECT_EQ(tk::ParseMounts("/dev/sdb1 /mnt/cd udf ro 0 0\n").front().Root, "/");
    EXPECT_EQ(tk::MountedDrives().front().Root, "/");
}

TEST(DirLists, NormalDirectories) {
    EXPECT_EQ(tk::NormalDir("/a//b/./c/../"), "/a/b");
    EXPECT_EQ(tk::NormalDir("/../.."), "/");
    EXPECT_EQ(tk::NormalDir("x/y"), rt::JoinPath(rt::GetCurrentDir(), "x/y"));
    EXPECT_EQ(tk::NormalDir(""), tk::NormalDir(rt::GetCurrentDir()));
    EXPECT_FALSE(tk::DirWithin("/a", "/ab")); // a drive at /a does not hold /ab
}

} // namespace
