#include "viewer/ViewerMain.h"

#include "managewin/MgrWindows.h"
#include "runtime/FileSys.h"
#include "toolkit/Application.h"
#include "toolkit/Controls.h"
#include "toolkit/Guard.h"
#include "viewer/UFormMap.h"

#include <QTimer>
#include <csignal>

int ViewerMain(int argc, char** argv, const std::function<void(TFormMap&)>& beforeShow) {
    // Under a file-size limit a write fails with its error, told like any other, instead of
    // ending the process and leaving the scratch file behind.
    std::signal(SIGXFSZ, SIG_IGN);
    tk::TApplication app(argc, argv);
    QApplication::setApplicationDisplayName("Talvren Map Viewer for GSI 25000");
    QApplication::setFont(tk::FormFont());
    tk::InstallRuntimeHooks();

    // The first window made is the main window; the other three start hidden.
    auto formMap = std::make_unique<TFormMap>();
    FormMap = formMap.get();
    auto mgrWindows = std::make_unique<TMgrWindows>();
    formMap->ShowMgr = [] { FormMgr->ShowMgr(); };
    // Closing the main window ends the program, whatever else is open.
    QApplication::setQuitOnLastWindowClosed(false);
    formMap->OnClosed = [] { QCoreApplication::quit(); };
    // Ended from outside, the program closes as its window would, scratch file and all.
    tk::OnSignals({SIGTERM, SIGINT, SIGHUP}, [] {
        if (FormMap) FormMap->close();
    });

    formMap->UseSettings(rt::JoinPath(rt::ConfigDir(), "mapviewer.ini"));
    if (beforeShow) beforeShow(*formMap);
    formMap->show();
    if (argc > 1) {
        std::string sheet = argv[1];
        QTimer::singleShot(0, formMap.get(),
                           [sheet] { tk::Guarded([&] { FormMap->OpenSheet(sheet); }); });
    }
    int rc = app.exec();
    mgrWindows.reset();
    FormMap = nullptr;
    return rc;
}
