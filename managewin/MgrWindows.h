#pragma once
// The three management windows as the program makes them: the map manager, the
// registration dialog and the directory chooser, in this order, each hidden and reachable
// through its global until the set goes, in the reverse order.

#include "managewin/UDirDialog.h"
#include "managewin/UFormMakeMgr.h"
#include "managewin/UFormMgr.h"

#include <memory>

class TMgrWindows {
public:
    TMgrWindows();
    ~TMgrWindows();
    TMgrWindows(const TMgrWindows&) = delete;
    TMgrWindows& operator=(const TMgrWindows&) = delete;

private:
    std::unique_ptr<TFormMgr> Mgr;
    std::unique_ptr<TFormMakeMgr> MakeMgr;
    std::unique_ptr<TDirDialog> Chooser;
};
