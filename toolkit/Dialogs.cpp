#include "toolkit/Dialogs.h"

#include "runtime/FileSys.h"
#include "runtime/Strings.h"
#include "toolkit/Controls.h"

#include <QApplication>
#include <QColorDialog>
#include <QFileDialog>

namespace tk {

namespace {

std::function<std::optional<std::string>(const TFileRequest&)>& FileHook() {
    static std::function<std::optional<std::string>(const TFileRequest&)> h;
    return h;
}
std::function<std::optional<rt::TColor>(rt::TColor)>& ColorHook() {
    static std::function<std::optional<rt::TColor>(rt::TColor)> h;
    return h;
}

std::optional<std::string> RunFileDialog(const TFileRequest& r) {
    if (FileHook()) return FileHook()(r);
    QFileDialog d(QApplication::activeWindow());
    d.setOption(QFileDialog::DontUseNativeDialog);
    d.setAcceptMode(r.Save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    d.setFileMode(QFileDialog::AnyFile);
    d.setOption(QFileDialog::HideNameFilterDetails, r.Save);
    if (!r.Directory.empty() && rt::DirectoryExists(r.Directory))
        d.setDirectory(QString::fromStdString(r.Directory));
    d.setNameFilters(QString::fromStdString(QtFilters(r.Filter)).split(";;"));
    if (!r.DefaultExt.empty()) {
        d.setDefaultSuffix(QString::fromStdString(r.DefaultExt));
        // A name typed without an extension takes the one of the type chosen in the list.
        // The list may show a type without its patterns ("PNG"): they are found again by it.
        QObject::connect(&d, &QFileDialog::filterSelected, &d, [&d](const QString& shown) {
            QString filter = shown;
            for (const QString& f : d.nameFilters())
                if (f.section('(', 0, 0).trimmed() == shown.trimmed()) filter = f;
            const qsizetype at = filter.indexOf("*.");
            if (at < 0) return;
            qsizetype end = at + 2;
            while (end < filter.size() && filter[end].isLetterOrNumber()) ++end;
            if (end > at + 2) d.setDefaultSuffix(filter.mid(at + 2, end - at - 2).toLower());
        });
    }
    if (d.exec() != QDialog::Accepted || d.selectedFiles().isEmpty()) return std::nullopt;
    return d.selectedFiles().first().toStdString();
}

} // namespace

void SetFileDialogHook(std::function<std::optional<std::string>(const TFileRequest&)> hook) {
    FileHook() = std::move(hook);
}
void SetColorDialogHook(std::function<std::optional<rt::TColor>(rt::TColor)> hook) {
    ColorHook() = std::move(hook);
}

std::string WithDefaultExt(const std::string& path, const std::string& ext) {
    if (ext.empty() || path.empty()) return path;
    std::string name = rt::ExtractFileName(path);
    if (name.find('.') != std::string::npos) return path;
    return path + "." + ext;
}

std::string QtFilters(const std::string& filter) {
    const std::vector<std::string> parts = rt::Split(filter, '|');
    std::string out;
    for (size_t i = 0; i + 1 < parts.size(); i += 2) {
        if (!out.empty()) out += ";;";
        const std::string& label = parts[i];
        // A label that already names its patterns is shown as it is.
        out += label.find('(') != std::string::npos ? label : label + " (" + parts[i + 1] + ")";
    }
    return out;
}

bool TOpenDialog::Execute() {
    auto chosen = RunFileDialog({false, Filter, DefaultExt, InitialDir});
    if (!chosen) return false;
    FileName = WithDefaultExt(*chosen, DefaultExt);
    InitialDir = rt::ExtractFileDir(FileName);
    return true;
}

bool TSaveDialog::Execute() {
    auto chosen = RunFileDialog({true, Filter, DefaultExt, InitialDir});
    if (!chosen) return false;
    FileName = WithDefaultExt(*chosen, DefaultExt);
    InitialDir = rt::ExtractFileDir(FileName);
    return true;
}

bool TColorDialog::Execute() {
    std::optional<rt::TColor> chosen;
    if (ColorHook()) {
        chosen = ColorHook()(Color);
    } else {
        QColor c = QColorDialog::getColor(ToQColor(Color), QApplication::activeWindow(), QString(),
                                          QColorDialog::DontUseNativeDialog);
        if (c.isValid()) chosen = FromQColor(c);
    }
    if (!chosen) return false;
    Color = *chosen & 0x00FFFFFF;
    return true;
}

} // namespace tk
