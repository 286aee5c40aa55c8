#include "managewin/MgrWindows.h"

TMgrWindows::TMgrWindows() {
    Mgr = std::make_unique<TFormMgr>();
    FormMgr = Mgr.get();
    MakeMgr = std::make_unique<TFormMakeMgr>();
    FormMakeMgr = MakeMgr.get();
    Chooser = std::make_unique<TDirDialog>();
    DirDialog = Chooser.get();
}

TMgrWindows::~TMgrWindows() {
    DirDialog = nullptr;
    Chooser.reset();
    FormMakeMgr = nullptr;
    MakeMgr.reset();
    FormMgr = nullptr;
    Mgr.reset();
}
