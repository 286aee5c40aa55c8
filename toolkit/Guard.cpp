#include "toolkit/Guard.h"

#include "runtime/Errors.h"

#include <QApplication>
#include <QMessageBox>
#include <QTimer>

namespace tk {

namespace {
std::function<void(const std::string&)>& Handler() {
    static std::function<void(const std::string&)> h;
    return h;
}
} // namespace

void SetErrorHandler(std::function<void(const std::string&)> handler) {
    Handler() = std::move(handler);
}

void HandleError(const std::string& message) {
    if (Handler()) {
        Handler()(message);
        return;
    }
    QMessageBox box(QMessageBox::Critical, QApplication::applicationDisplayName(),
                    QString::fromStdString(message), QMessageBox::Ok);
    box.exec();
}

namespace {

void Catching(const std::function<void()>& f,
              const std::function<void(const std::string&)>& show) noexcept {
    try {
        f();
    } catch (const rt::EAbort&) {
    } catch (const std::exception& e) {
        try {
            show(e.what());
        } catch (...) {
        }
    } catch (...) {
        try {
            show("unexpected error");
        } catch (...) {
        }
    }
}

} // namespace

void Guarded(const std::function<void()>& f) noexcept {
    Catching(f, HandleError);
}

void GuardedLater(const std::function<void()>& f) noexcept {
    Catching(f, [](const std::string& message) {
        QTimer::singleShot(0, qApp, [message] { Guarded([&] { HandleError(message); }); });
    });
}

} // namespace tk
