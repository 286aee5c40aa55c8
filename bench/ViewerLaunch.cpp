// The viewer as bench_process launches it: the program's own main block, which in addition
// prints on stdout, on the monotonic clock, when the first picture is on the screen (the
// sheet's first view, or the empty window without a sheet), then closes. The product's
// program knows nothing of this.
//   mapviewer_launch [SHEET]

#include "viewer/UFormMap.h"
#include "viewer/ViewerMain.h"

#include <QTimer>
#include <cstdio>
#include <ctime>

namespace {

class TFirstPictureReport : public QObject {
public:
    // Owned by the view it watches.
    TFirstPictureReport(QWidget* view, bool sheet) : QObject(view), Sheet(sheet) {
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
    const bool sheet = argc > 1;
    return ViewerMain(argc, argv, [sheet](TFormMap& form) {
        new TFirstPictureReport(form.Image1, sheet); // the view owns it
    });
}
