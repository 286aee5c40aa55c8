#include "viewer/ViewSettings.h"

#include "engine/Plates.h"
#include "engine/ZoomRates.h"

#include <QFileInfo>
#include <QSettings>
#include <algorithm>

namespace {

QString PlateKey(int k, const char* what) {
    return QStringLiteral("plate%1/%2").arg(k).arg(QLatin1String(what));
}

// Reads a boolean written as "true" or "false"; anything else is damage.
bool ReadBool(const QSettings& s, const QString& key, bool& value) {
    if (!s.contains(key)) return true;
    const QString text = s.value(key).toString();
    if (text != QLatin1String("true") && text != QLatin1String("false")) return false;
    value = text == QLatin1String("true");
    return true;
}

} // namespace

std::optional<TViewSettings> LoadViewSettings(const std::string& path, std::string& problem) {
    problem.clear();
    const QString file = QString::fromStdString(path);
    if (!QFileInfo::exists(file)) return std::nullopt;
    if (!QFileInfo(file).isReadable()) {
        problem = "cannot be read";
        return std::nullopt;
    }
    QSettings s(file, QSettings::IniFormat);
    if (s.status() != QSettings::NoError) {
        problem = s.status() == QSettings::FormatError ? "is damaged" : "cannot be read";
        return std::nullopt;
    }
    // Bytes that are no settings of ours are damage too.
    static const QStringList kKeys = [] {
        QStringList keys = {"view/smooth",    "view/rate",    "window/geometry",
                            "window/options", "dialogs/open", "dialogs/save"};
        for (int k = 1; k <= 8; ++k) keys << PlateKey(k, "visible") << PlateKey(k, "color");
        return keys;
    }();
    const QStringList found = s.allKeys();
    if ((found.isEmpty() && QFileInfo(file).size() > 0) ||
        std::any_of(found.begin(), found.end(),
                    [](const QString& k) { return !kKeys.contains(k); })) {
        problem = "is damaged";
        return std::nullopt;
    }
    TViewSettings v;
    bool ok = true;
    for (int k = 1; k <= 8; ++k) {
        v.Visible[size_t(k)] = true;
        v.Colors[size_t(k)] = plates::kDefaultColors[size_t(k)];
        ok = ok && ReadBool(s, PlateKey(k, "visible"), v.Visible[size_t(k)]);
        const QString colour = PlateKey(k, "color");
        if (!s.contains(colour)) continue;
        bool number = false;
        const uint value = s.value(colour).toString().toUInt(&number, 16);
        ok = ok && number && value <= 0xFFFFFF;
        // Kept as the usual RRGGBB; held as the program's colour value.
        v.Colors[size_t(k)] = rt::RGB(uint8_t(value >> 16), uint8_t(value >> 8), uint8_t(value));
    }
    ok = ok && ReadBool(s, QStringLiteral("view/smooth"), v.Smooth);
    ok = ok && ReadBool(s, QStringLiteral("window/options"), v.OptionPanel);
    if (s.contains(QStringLiteral("view/rate"))) {
        bool number = false;
        v.Rate = s.value(QStringLiteral("view/rate")).toString().toDouble(&number);
        ok = ok && number && zoom::IsRate(v.Rate);
    }
    v.Geometry = s.value(QStringLiteral("window/geometry")).toByteArray();
    v.OpenDir = s.value(QStringLiteral("dialogs/open")).toString().toStdString();
    v.SaveDir = s.value(QStringLiteral("dialogs/save")).toString().toStdString();
    if (!ok) {
        problem = "is damaged";
        return std::nullopt;
    }
    return v;
}

bool SaveViewSettings(const std::string& path, const TViewSettings& v, std::string& problem) {
    problem.clear();
    QSettings s(QString::fromStdString(path), QSettings::IniFormat);
    s.clear();
    for (int k = 1; k <= 8; ++k) {
        const rt::TColor c = v.Colors[size_t(k)];
        s.setValue(PlateKey(k, "visible"), v.Visible[size_t(k)] ? "true" : "false");
        s.setValue(PlateKey(k, "color"), QStringLiteral("%1%2%3")
                                             .arg(rt::RedOf(c), 2, 16, QLatin1Char('0'))
                                             .arg(rt::GreenOf(c), 2, 16, QLatin1Char('0'))
                                             .arg(rt::BlueOf(c), 2, 16, QLatin1Char('0')));
    }
    s.setValue(QStringLiteral("view/smooth"), v.Smooth ? "true" : "false");
    s.setValue(QStringLiteral("view/rate"), QString::number(v.Rate, 'g', 17));
    s.setValue(QStringLiteral("window/geometry"), v.Geometry);
    s.setValue(QStringLiteral("window/options"), v.OptionPanel ? "true" : "false");
    s.setValue(QStringLiteral("dialogs/open"), QString::fromStdString(v.OpenDir));
    s.setValue(QStringLiteral("dialogs/save"), QString::fromStdString(v.SaveDir));
    s.sync(); // through a file of its own, renamed over the old one once whole
    if (s.status() == QSettings::NoError) return true;
    problem = "cannot be written";
    return false;
}
