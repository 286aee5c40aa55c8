#pragma once
// What the viewer keeps across runs, and the file it keeps it in.

#include "runtime/Bitmap.h"

#include <QByteArray>
#include <array>
#include <optional>
#include <string>

struct TViewSettings {
    std::array<bool, 9> Visible{};      // plates 1 to 8
    std::array<rt::TColor, 9> Colors{}; // plates 1 to 8
    bool Smooth = false;
    double Rate = 1;
    QByteArray Geometry; // the window's size and place, as Qt saves them
    bool OptionPanel = true;
    std::string OpenDir, SaveDir;
};

// The settings in path; nothing where there is no such file. A file that cannot be read or
// holds a value no viewer writes gives nothing too, and problem says why.
std::optional<TViewSettings> LoadViewSettings(const std::string& path, std::string& problem);
// Writes the file whole or not at all; false, with problem, where it cannot.
bool SaveViewSettings(const std::string& path, const TViewSettings& s, std::string& problem);
