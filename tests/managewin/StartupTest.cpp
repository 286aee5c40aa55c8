// The program's own main block, run as it is, with the user played by timers.

#include "managewin/UDirDialog.h"
#include "managewin/UFormMakeMgr.h"
#include "managewin/UFormMgr.h"
#include "viewer/UFormMap.h"
#include "viewer/ViewerMain.h"

#include <QApplication>
#include <QTimer>
#include <algorithm>
#include <gtest/gtest.h>

namespace {

// Every top-level widget in the order it was made.
class TMadeWindows : public QObject {
public:
    std::vector<QObject*> Order;
    bool eventFilter(QObject* o, QEvent* e) override {
        if (e->type() == QEvent::Create && o->isWidgetType() &&
            !static_cast<QWidget*>(o)->parentWidget())
            Order.push_back(o);
        return false;
    }
};

bool Armed = false;
TMadeWindows* Made = nullptr;
struct TSeen {
    size_t FormsMade = 0;
    bool InOrder = false, MainShown = false, OthersHidden = false, MgrButtonHidden = false;
    bool MgrShownAtClose = false, TimedOut = false;
} Seen;

void Watch() {
    if (!Armed) return;
    Made = new TMadeWindows;
    qApp->installEventFilter(Made);
    QTimer::singleShot(0, [] {
        // Other top-levels may be made between the four forms; their order is what counts.
        const std::vector<QObject*> forms = {FormMap, FormMgr, FormMakeMgr, DirDialog};
        std::vector<QObject*> made;
        for (QObject* o : Made->Order)
            if (std::find(forms.begin(), forms.end(), o) != forms.end()) made.push_back(o);
        Seen.FormsMade = made.size();
        Seen.InOrder = made == forms;
        Seen.MainShown = FormMap && FormMap->isVisible();
        Seen.OthersHidden = FormMgr && FormMakeMgr && DirDialog && !FormMgr->isVisible() &&
                            !FormMakeMgr->isVisible() && !DirDialog->isVisible();
        Seen.MgrButtonHidden = FormMap && FormMap->btnMapMgr->isHidden();
        if (!FormMap || !FormMgr) return;
        FormMap->btnMapMgr->click(); // hidden, but its click is what would open the manager
        QTimer::singleShot(0, [] {
            Seen.MgrShownAtClose = FormMgr->isVisible();
            FormMap->close();
        });
    });
    QTimer::singleShot(20000, [] {
        Seen.TimedOut = true;
        QCoreApplication::exit(1);
    });
}
Q_COREAPP_STARTUP_FUNCTION(Watch)

TEST(Startup, FourWindowsInOrderAndClosingTheMainWindowEndsTheProgram) {
    Armed = true;
    char name[] = "mapviewer";
    char* argv[] = {name, nullptr};
    const int rc = ViewerMain(1, argv);
    EXPECT_EQ(rc, 0);
    EXPECT_FALSE(Seen.TimedOut);
    EXPECT_TRUE(Seen.MainShown);
    EXPECT_TRUE(Seen.OthersHidden);
    EXPECT_TRUE(Seen.MgrButtonHidden);
    EXPECT_TRUE(Seen.MgrShownAtClose);
    EXPECT_EQ(Seen.FormsMade, 4u);
    EXPECT_TRUE(Seen.InOrder);
    EXPECT_TRUE(FormMap == nullptr && FormMgr == nullptr && FormMakeMgr == nullptr &&
                DirDialog == nullptr);
}

} // namespace

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    return RUN_ALL_TESTS();
}
