#include "toolkit/PrintDialog.h"

#include <QApplication>
#include <QCheckBox>
#include <QPrintDialog>
#include <QVBoxLayout>
#include <algorithm>

namespace tk {

namespace {

std::function<std::optional<TPrintChoice>()>& Hook() {
    static std::function<std::optional<TPrintChoice>()> h;
    return h;
}

// The printer prints the choice's pages alone, or all of them.
void SetRange(QPrinter& printer, const TPrintChoice& c) {
    if (c.FromPage > 0) {
        printer.setPrintRange(QPrinter::PageRange);
        printer.setFromTo(c.FromPage, std::max(c.FromPage, c.ToPage));
    } else if (printer.printRange() == QPrinter::PageRange) {
        printer.setPrintRange(QPrinter::AllPages);
    }
}

} // namespace

void SetPrintDialogHook(std::function<std::optional<TPrintChoice>()> hook) {
    Hook() = std::move(hook);
}

bool TPrintDialog::Execute(QPrinter& printer) {
    if (Hook()) {
        std::optional<TPrintChoice> c = Hook()();
        if (!c) return false;
        const bool fitOnly = Choice.FitOnly;
        Choice = *c;
        Choice.FitOnly = fitOnly;
        if (!Choice.PdfFile.empty()) {
            printer.setOutputFormat(QPrinter::PdfFormat);
            printer.setOutputFileName(QString::fromStdString(Choice.PdfFile));
        }
        SetRange(printer, Choice);
        return true;
    }
    QPrintDialog d(&printer, QApplication::activeWindow());
    // "Selection" is the window the view shows; "All" the whole sheet, and "Pages" some
    // pages of it.
    d.setOption(QAbstractPrintDialog::PrintSelection, true);
    d.setOption(QAbstractPrintDialog::PrintPageRange, true);
    d.setPrintRange(Choice.WholeSheet ? QAbstractPrintDialog::AllPages
                                      : QAbstractPrintDialog::Selection);
    auto* size = new QWidget;
    size->setWindowTitle(QStringLiteral("地図"));
    auto* fit =
        new QCheckBox(QStringLiteral("1ページに収める (縮尺は 1:25,000 でなくなります)"), size);
    fit->setChecked(Choice.FitToPage || Choice.FitOnly);
    fit->setEnabled(!Choice.FitOnly);
    if (Choice.FitOnly)
        fit->setToolTip(QStringLiteral("解像度のない地図は1ページに収めて印刷します"));
    auto* layout = new QVBoxLayout(size);
    layout->addWidget(fit);
    layout->addStretch();
    d.setOptionTabs({size});
    if (d.exec() != QDialog::Accepted) return false;
    Choice.WholeSheet = d.printRange() != QAbstractPrintDialog::Selection;
    const bool range = d.printRange() == QAbstractPrintDialog::PageRange;
    Choice.FromPage = range ? printer.fromPage() : 0;
    Choice.ToPage = range ? printer.toPage() : 0;
    // A box that could not be changed says nothing of what the user wants for other sheets.
    if (!Choice.FitOnly) Choice.FitToPage = fit->isChecked();
    SetRange(printer, Choice);
    return true;
}

} // namespace tk
