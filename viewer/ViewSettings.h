#pragma once
// What the viewer keeps across runs, and the file it keeps it in.

#include "runtime/Bitmap.h"

#include <QByteArray>
#include <QList>
#include <QRect>
#include <array>
#include <optional>
#include <string>

struct TViewSettings {
    std::array<bool, 9> Visible{};      // plates 1 to 8
    std::array<rt::TColor, 9> Colors{}; // plates 1 to 8
    bool Smooth = false;
    bool ScaleBar = true; // the scale bar in the view's corner
    double Rate = 1;
    QByteArray Geometry; // the window's size and place, as Qt saves them
    bool OptionPanel = true;
    std::string OpenDir, SaveDir;
};

// A settings file larger than this is none of ours: it is not read.
constexpr qint64 kMaxSettingsBytes = 64 * 1024;
// How long a close waits for another viewer's hold on the settings file.
constexpr int kSettingsLockWaitMs = 2000;

// The settings in path; nothing where there is no such file. Only a regular file of at most
// kMaxSettingsBytes is read, never waiting (a FIFO); one that cannot be read, is larger or is
// no settings file gives nothing, and problem says why. A value no viewer writes (a geometry
// that fits no screen among them) is left at its default, and problem says "is damaged";
// keys of other versions are passed over.
std::optional<TViewSettings> LoadViewSettings(const std::string& path, std::string& problem);
// Writes the file whole or not at all, keeping the keys of other versions it holds; false,
// with problem ("cannot be written"), where it cannot, also where another holds the file's
// lock for longer than kSettingsLockWaitMs.
bool SaveViewSettings(const std::string& path, const TViewSettings& s, std::string& problem);

// Whether a geometry saved by QWidget::saveGeometry has a size and place that fit one of
// screens: no larger than it, and on it.
bool GeometryFits(const QByteArray& geometry, const QList<QRect>& screens);
