#include "toolkit/PrintDialog.h"

#include <QApplication>
#include <QCheckBox>
#include <QPrintDialog>
#include <QVBoxLayout>

namespace tk {

namespace {

std::function<std::optional<TPrintChoice>()>& Hook() {
    static std::function<std::optional<TPrintChoice>()> h;
    return h;
}

} // namespace

void SetPrintDialogHook(std::function<std::optional<TPrintChoice>()> hook) {
    Hook() = std::move(hook);
}

bool TPrintDialog::Execute(QPrinter& printer) {
    if (Hook()) {
        std::optional<TPrintChoice> c = Hook()();
        if (!c) return false;
        Choice = *c;
        if (!Choice.PdfFile.empty()) {
            printer.setOutputFormat(QPrinter::PdfFormat);
            printer.setOutputFileName(QString::fromStdString(Choice.PdfFile));
        }
        return true;
    }
    QPrintDialog d(&printer, QApplication::activeWindow());
    // "Selection" is the window the view shows; "All" the whole sheet.
    d.setOption(QAbstractPrintDialog::PrintSelection, true);
    d.setOption(QAbstractPrintDialog::PrintPageRange, false);
    d.setPrintRange(Choice.WholeSheet ? QAbstractPrintDialog::AllPages
                                      : QAbstractPrintDialog::Selection);
    auto* size = new QWidget;
    size->setWindowTitle(QStringLiteral("地図"));
    auto* fit =
        new QCheckBox(QStringLiteral("1ページに収める (縮尺は 1:25,000 でなくなります)"), size);
    fit->setChecked(Choice.FitToPage);
    auto* layout = new QVBoxLayout(size);
    layout->addWidget(fit);
    layout->addStretch();
    d.setOptionTabs({size});
    if (d.exec() != QDialog::Accepted) return false;
    Choice.WholeSheet = d.printRange() != QAbstractPrintDialog::Selection;
    Choice.FitToPage = fit->isChecked();
    return true;
}

} // namespace tk
