// The main block: the application object, the windows, then the event loop.

#include "managewin/UDirDialog.h"
#include "managewin/UFormMakeMgr.h"
#include "managewin/UFormMgr.h"
#include "toolkit/Application.h"
#include "toolkit/Guard.h"
#include "viewer/UFormMap.h"

#include <QTimer>
#include <csignal>

int main(int argc, char** argv) {
    tk::PrepareEnvironment();
    tk::TApplication app(argc, argv);
    QApplication::setApplicationDisplayName("Talvren Map Viewer for GSI 25000");
    QApplication::setFont(tk::FormFont());
    tk::InstallRuntimeHooks();

    // The first window made is the main window; the other three start hidden.
    auto formMap = std::make_unique<TFormMap>();
    FormMap = formMap.get();
    auto formMgr = std::make_unique<TFormMgr>();
    FormMgr = formMgr.get();
    auto formMakeMgr = std::make_unique<TFormMakeMgr>();
    FormMakeMgr = formMakeMgr.get();
    auto dirDialog = std::make_unique<TDirDialog>();
    DirDialog = dirDialog.get();
    formMap->ShowMgr = [] { FormMgr->ShowMgr(); };
    // Closing the main window ends the program, whatever else is open.
    QApplication::setQuitOnLastWindowClosed(false);
    formMap->OnClosed = [] { QCoreApplication::quit(); };
    // Ended from outside, the program closes as its window would, scratch file and all.
    tk::OnSignals({SIGTERM, SIGINT, SIGHUP}, [] {
        if (FormMap) FormMap->close();
    });

    formMap->show();
    if (argc > 1) {
        std::string sheet = argv[1];
        QTimer::singleShot(0, formMap.get(),
                           [sheet] { tk::Guarded([&] { FormMap->OpenSheet(sheet); }); });
    }
    int rc = app.exec();
    DirDialog = nullptr;
    dirDialog.reset();
    FormMakeMgr = nullptr;
    formMakeMgr.reset();
    FormMgr = nullptr;
    formMgr.reset();
    FormMap = nullptr;
    return rc;
}
