#include "toolkit/Application.h"

#include "runtime/Hooks.h"
#include "toolkit/Guard.h"

#include <QClipboard>
#include <QImage>
#include <QMessageBox>
#include <QPushButton>

namespace tk {

void PrepareEnvironment() {
    qputenv("QT_ENABLE_HIGHDPI_SCALING", "0");
    qputenv("QT_FONT_DPI", "96");
}

TApplication::TApplication(int& argc, char** argv) : QApplication(argc, argv) {}

bool TApplication::notify(QObject* receiver, QEvent* event) {
    bool result = false;
    Guarded([&] { result = QApplication::notify(receiver, event); });
    return result;
}

void InstallRuntimeHooks() {
    rt::SetProcessMessagesHook([] { QCoreApplication::processEvents(); });
    rt::SetShowMessageHook([](const std::string& text) { MessageBox(text); });
    rt::SetAskYesNoHook([](const std::string& text) { return QuestionBox(text); });
}

bool QuestionBox(const std::string& text) {
    QMessageBox box(QMessageBox::Information, QStringLiteral("情報"), QString::fromStdString(text),
                    QMessageBox::NoButton, QApplication::activeWindow());
    QPushButton* yes = box.addButton(QStringLiteral("はい(&Y)"), QMessageBox::YesRole);
    box.addButton(QStringLiteral("いいえ(&N)"), QMessageBox::NoRole);
    box.exec();
    return box.clickedButton() == yes;
}

void MessageBox(const std::string& text) {
    QMessageBox box(QMessageBox::NoIcon, QApplication::applicationDisplayName(),
                    QString::fromStdString(text), QMessageBox::Ok, QApplication::activeWindow());
    box.exec();
}

void CopyToClipboard(const rt::TBitmap& bitmap) {
    QImage image(bitmap.Width(), bitmap.Height(), QImage::Format_RGB32);
    for (int y = 0; y < bitmap.Height(); ++y)
        for (int x = 0; x < bitmap.Width(); ++x) {
            rt::TColor c = bitmap.Pixel(x, y);
            image.setPixel(x, y, qRgb(rt::RedOf(c), rt::GreenOf(c), rt::BlueOf(c)));
        }
    QApplication::clipboard()->setImage(image);
}

} // namespace tk
