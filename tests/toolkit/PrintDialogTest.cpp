// The system's print dialog as the user meets it: the map's own box and the page range.

#include "toolkit/PrintDialog.h"
#include "tests/TestSupport.h"
#include "tests/toolkit/ToolkitFixture.h"

#include <QApplication>
#include <QCheckBox>
#include <QPrintDialog>
#include <QRadioButton>
#include <QSpinBox>
#include <QTimer>
#include <functional>
#include <optional>

namespace {

// Runs what with the print dialog once it is up, then ends it as what says.
void WithDialog(const std::function<void(QPrintDialog&)>& what) {
    QTimer::singleShot(10, [what] {
        if (auto* d = qobject_cast<QPrintDialog*>(QApplication::activeModalWidget()))
            what(*d);
        else
            WithDialog(what);
    });
}

QCheckBox* FitBox(QPrintDialog& d) {
    for (auto* box : d.findChildren<QCheckBox*>())
        if (box->text().startsWith(QStringLiteral("1ページに収める"))) return box;
    return nullptr;
}

TEST_F(ToolkitTest, ASheetThatCanOnlyBeFittedShowsTheBoxTickedAndFixed) {
    struct TCase {
        bool FitOnly, FitToPage, Checked, Enabled;
    };
    testing_support::TTempDir dir;
    for (auto c : {TCase{true, false, true, false}, TCase{false, false, false, true},
                   TCase{false, true, true, true}}) {
        SCOPED_TRACE(std::to_string(c.FitOnly) + std::to_string(c.FitToPage));
        tk::TPrintDialog dialog;
        dialog.Choice.FitOnly = c.FitOnly;
        dialog.Choice.FitToPage = c.FitToPage;
        std::optional<bool> checked, enabled;
        bool rangeOffered = false;
        WithDialog([&](QPrintDialog& d) {
            if (QCheckBox* fit = FitBox(d)) {
                checked = fit->isChecked();
                enabled = fit->isEnabled();
            }
            rangeOffered = d.testOption(QAbstractPrintDialog::PrintPageRange);
            d.accept();
        });
        QPrinter printer;
        printer.setOutputFileName(QString::fromStdString(dir.File("x.pdf")));
        ASSERT_TRUE(dialog.Execute(printer));
        EXPECT_EQ(checked, c.Checked);
        EXPECT_EQ(enabled, c.Enabled);
        EXPECT_TRUE(rangeOffered);
        // A box that could not be changed leaves the user's own choice for other sheets.
        EXPECT_EQ(dialog.Choice.FitToPage, c.FitToPage);
    }
}

TEST_F(ToolkitTest, ThePagesChosenInTheDialogReachTheChoiceAndThePrinter) {
    testing_support::TTempDir dir;
    tk::TPrintDialog dialog;
    // As the user sets them: "Pages from 2 to 3".
    WithDialog([](QPrintDialog& d) {
        auto* pages = d.findChild<QRadioButton*>("printRange");
        auto* from = d.findChild<QSpinBox*>("from");
        auto* to = d.findChild<QSpinBox*>("to");
        if (pages && from && to) {
            pages->click();
            to->setValue(3);
            from->setValue(2);
        }
        d.accept();
    });
    QPrinter printer;
    printer.setOutputFileName(QString::fromStdString(dir.File("x.pdf")));
    ASSERT_TRUE(dialog.Execute(printer));
    EXPECT_TRUE(dialog.Choice.WholeSheet);
    EXPECT_EQ(dialog.Choice.FromPage, 2);
    EXPECT_EQ(dialog.Choice.ToPage, 3);
    EXPECT_EQ(printer.printRange(), QPrinter::PageRange);
    EXPECT_EQ(printer.fromPage(), 2);
    EXPECT_EQ(printer.toPage(), 3);

    // "All" after it: every page again.
    WithDialog([](QPrintDialog& d) {
        if (auto* all = d.findChild<QRadioButton*>("printAll")) all->click();
        d.accept();
    });
    ASSERT_TRUE(dialog.Execute(printer));
    EXPECT_EQ(dialog.Choice.FromPage, 0);
    EXPECT_NE(printer.printRange(), QPrinter::PageRange);
}

TEST_F(ToolkitTest, AHookGivesItsRangeToThePrinter) {
    tk::TPrintChoice pages{true, false, "/nonexistent/x.pdf"};
    pages.FromPage = 2;
    pages.ToPage = 3;
    tk::SetPrintDialogHook([&] { return std::optional<tk::TPrintChoice>(pages); });
    tk::TPrintDialog dialog;
    dialog.Choice.FitOnly = true;
    QPrinter printer;
    ASSERT_TRUE(dialog.Execute(printer));
    tk::SetPrintDialogHook(nullptr);
    EXPECT_EQ(printer.printRange(), QPrinter::PageRange);
    EXPECT_EQ(printer.fromPage(), 2);
    EXPECT_EQ(printer.toPage(), 3);
    EXPECT_TRUE(dialog.Choice.FitOnly); // the caller's, not the hook's
}

} // namespace
