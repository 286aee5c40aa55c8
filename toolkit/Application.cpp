#include "toolkit/Application.h"

#include "runtime/Hooks.h"
#include "toolkit/Guard.h"

#include <QClipboard>
#include <QImage>
#include <QMessageBox>
#include <QPushButton>
#include <QSocketNotifier>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace tk {

TApplication::TApplication(int& argc, char** argv) : QApplication(argc, argv) {}

bool TApplication::notify(QObject* receiver, QEvent* event) {
    bool result = false;
    Guarded([&] { result = QApplication::notify(receiver, event); });
    return result;
}

namespace {

int gSignalPipe[2] = {-1, -1};

void SignalArrived(int) {
    const int saved = errno;
    const char byte = 1;
    if (::write(gSignalPipe[1], &byte, 1) < 0) {
        // A full pipe already holds a wake-up.
    }
    errno = saved;
}

} // namespace

void OnSignals(std::initializer_list<int> which, std::function<void()> handler) {
    if (gSignalPipe[0] < 0 && ::pipe2(gSignalPipe, O_CLOEXEC | O_NONBLOCK) != 0) return;
    auto* notifier = new QSocketNotifier(gSignalPipe[0], QSocketNotifier::Read, qApp);
    QObject::connect(notifier, &QSocketNotifier::activated, qApp,
                     Guard([handler = std::move(handler)] {
                         char buf[64];
                         while (::read(gSignalPipe[0], buf, sizeof buf) > 0) {
                         }
                         handler();
                     }));
    for (int sig : which) {
        struct sigaction sa {};
        sa.sa_handler = SignalArrived;
        sigemptyset(&sa.sa_mask);
        sa.sa_flags = SA_RESTART;
        ::sigaction(sig, &sa, nullptr);
    }
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
