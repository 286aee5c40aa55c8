// The main block: the application object, the windows, then the event loop.

#include "toolkit/Application.h"
#include "toolkit/Guard.h"
#include "viewer/UFormMap.h"

#include <QTimer>

int main(int argc, char** argv) {
    tk::PrepareEnvironment();
    tk::TApplication app(argc, argv);
    QApplication::setApplicationDisplayName("Talvren Map Viewer for GSI 25000");
    QApplication::setFont(tk::FormFont());
    tk::InstallRuntimeHooks();

    auto formMap = std::make_unique<TFormMap>();
    FormMap = formMap.get();
    // Closing the main window ends the program, whatever else is open.
    QApplication::setQuitOnLastWindowClosed(false);
    formMap->OnClosed = [] { QCoreApplication::quit(); };

    formMap->show();
    if (argc > 1) {
        std::string sheet = argv[1];
        QTimer::singleShot(0, formMap.get(), [sheet] { tk::Guarded([&] { FormMap->OpenSheet(sheet); }); });
    }
    int rc = app.exec();
    FormMap = nullptr;
    return rc;
}
