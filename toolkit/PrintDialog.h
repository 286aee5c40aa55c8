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
};

void SetPrintDialogHook(std::function<std::optional<TPrintChoice>()> hook);

class TPrintDialog {
public:
    TPrintChoice Choice;
    // Sets printer up as the user chose; false when the user cancels.
    bool Execute(QPrinter& printer);
};

} // namespace tk
