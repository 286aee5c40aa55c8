#include "toolkit/Guard.h"

#include "runtime/Errors.h"

#include <QApplication>
#include <QMessageBox>

namespace tk {

namespace {
std::function<void(const std::string&)>& Handler() {
    static std::function<void(const std::string&)> h;
    return h;
}
} // namespace

void SetErrorHandler(std::function<void(const std::string&)> handler) { Handler() = std::move(handler); }

void HandleError(const std::string& message) {
    if (Handler()) {
        Handler()(message);
        return;
    }
    QMessageBox box(QMessageBox::Critical, QApplication::applicationDisplayName(),
                    QString::fromStdString(message), QMessageBox::Ok);
    box.exec();
}

void Guarded(const std::function<void()>& f) noexcept {
    try {
        f();
    } catch (const rt::EAbort&) {
    } catch (const std::exception& e) {
        try {
            HandleError(e.what());
        } catch (...) {
        }
    } catch (...) {
        try {
            HandleError("unexpected error");
        } catch (...) {
        }
    }
}

} // namespace tk
