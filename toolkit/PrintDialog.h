#pragma once
// The system's print dialog, with the choices a map sheet adds: what to print and at which
// size. A hook answers it instead in tests.

#include <QPrinter>
#include <functional>
#include <optional>
#include <string>

namespace tk {

struct TPrintChoice {
    bool WholeSheet = false; // else the window the view shows
    bool FitToPage = false;  // else at the sheet's own scale, across as many pages as it needs
    std::string PdfFile;     // from a hook: "Print to File" with this name
    // Pages FromPage to ToPage (from 1) of the tiling alone; 0: every page.
    int FromPage = 0, ToPage = 0;
    // Set by the caller: the sheet can only be fitted (it has no scale), so the box shows
    // ticked and cannot be changed.
    bool FitOnly = false;
};

void SetPrintDialogHook(std::function<std::optional<TPrintChoice>()> hook);

class TPrintDialog {
public:
    TPrintChoice Choice;
    // Sets printer up as the user chose, its page range included; false when the user
    // cancels.
    bool Execute(QPrinter& printer);
};

} // namespace tk
