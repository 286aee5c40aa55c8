// The main block: the application object, the windows, then the event loop.

#include "managewin/MgrWindows.h"
#include "runtime/FileSys.h"
#include "toolkit/Application.h"
#include "toolkit/Guard.h"
#include "viewer/UFormMap.h"

#include <QTimer>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

namespace {

// MAPVIEWER_BENCH=1: prints on stdout, on the monotonic clock, when the first picture is on
// the screen (the sheet's first view, or the empty window without a sheet), then closes.
// For timing a launch from outside; nothing else changes.
class TFirstPictureReport : public QObject {
public:
    TFirstPictureReport(QWidget* view, bool sheet) : Sheet(sheet) {
        view->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject*, QEvent* e) override {
        if (e->type() == QEvent::Paint && !Reported && (!Sheet || FormMap->SheetOnView)) {
            Reported = true;
            // Runs once this paint has gone to the screen.
            QTimer::singleShot(0, [] {
                timespec now{};
                ::clock_gettime(CLOCK_MONOTONIC, &now);
                std::printf("shown %lld.%09ld\n", static_cast<long long>(now.tv_sec), now.tv_nsec);
                std::fflush(stdout);
                if (FormMap) FormMap->close();
            });
        }
        return false;
    }

private:
    bool Sheet, Reported = false;
};

} // namespace

int main(int argc, char** argv) {
    // Answered before Qt starts, so that it needs no display.
    if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
        std::printf("mapviewer %s\n", MAPVIEW_VERSION);
        return 0;
    }
    tk::PrepareEnvironment();
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
    std::unique_ptr<TFirstPictureReport> report;
    if (const char* bench = std::getenv("MAPVIEWER_BENCH"); bench && *bench)
        report = std::make_unique<TFirstPictureReport>(formMap->Image1, argc > 1);
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
