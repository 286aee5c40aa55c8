#pragma once
// The file-open, file-save and colour dialogs. Each runs Qt's own (non-native) dialog,
// unless a hook is set: tests answer the dialogs through the hooks.

#include "runtime/Bitmap.h"

#include <functional>
#include <optional>
#include <string>

namespace tk {

struct TFileRequest {
    bool Save = false;
    std::string Filter;     // "Description|pattern" pairs joined by "|"
    std::string DefaultExt; // without the dot
    std::string Directory;  // where it opens; empty: Qt's choice
};

// A hook answers with the chosen path, or nothing for Cancel.
void SetFileDialogHook(std::function<std::optional<std::string>(const TFileRequest&)> hook);
// A hook gets the colour the dialog opens with and answers the chosen one, or nothing.
void SetColorDialogHook(std::function<std::optional<rt::TColor>(rt::TColor)> hook);

// Appends ".ext" when the file name part has no extension.
std::string WithDefaultExt(const std::string& path, const std::string& ext);
// "Tiff (*.tif)|*.tif|Bitmap|*.Bmp" as Qt name filters: "Tiff (*.tif)", "Bitmap (*.Bmp)".
std::string QtFilters(const std::string& filter);

class TOpenDialog {
public:
    std::string Filter;
    std::string DefaultExt;
    std::string FileName;
    // Where the dialog opens: the directory of the last file chosen, until changed.
    std::string InitialDir;
    bool Execute(); // false when the user cancels
};

class TSaveDialog : public TOpenDialog {
public:
    bool Execute();
};

class TColorDialog {
public:
    rt::TColor Color = 0; // opens with it; holds the choice afterwards
    bool Execute();
};

} // namespace tk
