#include "viewer/ViewSettings.h"

#include "engine/Plates.h"
#include "engine/ZoomRates.h"
#include "runtime/BinaryFile.h"
#include "runtime/Errors.h"
#include "runtime/OutputFile.h"

#include <QDataStream>
#include <QFile>
#include <QGuiApplication>
#include <QLockFile>
#include <QScreen>
#include <QSettings>
#include <QTemporaryDir>
#include <algorithm>
#include <cerrno>
#include <sys/stat.h>

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

// The bytes of the settings file: false where there is none, or, with problem, where it
// is no regular file, cannot be read or is larger than any settings file of ours. Opened
// without waiting, so that a FIFO of that name never holds the start.
bool ReadSettingsBytes(const std::string& path, QByteArray& bytes, std::string& problem) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 && (errno == ENOENT || errno == ENOTDIR)) return false;
    try {
        rt::TBinaryFile f;
        f.Assign(path);
        f.ResetRegular();
        if (f.FileSize() <= kMaxSettingsBytes) {
            // One byte more than the bound tells a file that grew meanwhile.
            bytes.resize(kMaxSettingsBytes + 1);
            bytes.resize(qsizetype(f.ReadSome(bytes.data(), size_t(bytes.size()))));
        }
        if (f.FileSize() > kMaxSettingsBytes || bytes.size() > kMaxSettingsBytes) {
            problem = "is larger than 64 KiB";
            bytes.clear();
            return false;
        }
        return true;
    } catch (const rt::EInOutError&) {
        problem = "cannot be read";
    } catch (const rt::TError&) { // a FIFO, a device, a directory
        problem = "is not a regular file";
    } catch (const std::exception&) {
        problem = "cannot be read";
    }
    return false;
}

// QSettings reads and writes only files: the bytes go through a private copy.
class TIniCopy {
public:
    // False where the copy cannot be made.
    bool Put(const QByteArray& bytes) {
        if (!Dir.isValid()) return false;
        QFile f(Path());
        const bool ok = f.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
                        f.write(bytes) == bytes.size() && f.flush();
        f.close();
        return ok && f.error() == QFileDevice::NoError;
    }
    QString Path() const { return Dir.filePath(QStringLiteral("settings.ini")); }

private:
    QTemporaryDir Dir;
};

// Whether s holds settings at all: bytes without one key that any version could have
// written (binary bytes read as a key) are no settings file.
bool Readable(const QSettings& s, const QByteArray& bytes) {
    if (s.status() != QSettings::NoError) return false;
    const QStringList keys = s.allKeys();
    return bytes.isEmpty() || std::any_of(keys.begin(), keys.end(), [](const QString& key) {
               return !key.isEmpty() && std::all_of(key.begin(), key.end(), [](QChar c) {
                   return c.unicode() > 0x20 && c.unicode() < 0x7F;
               });
           });
}

QList<QRect> Screens() {
    QList<QRect> out;
    if (qobject_cast<QGuiApplication*>(QCoreApplication::instance()))
        for (const QScreen* screen : QGuiApplication::screens()) out << screen->geometry();
    return out;
}

} // namespace

bool GeometryFits(const QByteArray& geometry, const QList<QRect>& screens) {
    QDataStream in(geometry);
    in.setVersion(QDataStream::Qt_4_0); // as QWidget writes it
    quint32 magic = 0;
    quint16 major = 0, minor = 0;
    QRect frame, normal, client;
    qint32 screenNumber = 0, screenWidth = 0;
    quint8 maximized = 0, fullScreen = 0;
    in >> magic >> major >> minor >> frame >> normal >> screenNumber >> maximized >> fullScreen;
    if (major >= 2) in >> screenWidth;
    if (major >= 3) in >> client;
    if (in.status() != QDataStream::Ok || magic != 0x1D9D0CB || major < 1 || major > 3)
        return false;
    if (major < 3) client = normal;
    if (frame.isEmpty() || normal.isEmpty() || client.isEmpty()) return false;
    for (const QRect& screen : screens) {
        const QSize room = screen.size();
        if (normal.width() <= room.width() && normal.height() <= room.height() &&
            client.width() <= room.width() && client.height() <= room.height() &&
            frame.intersects(screen))
            return true;
    }
    return false;
}

std::optional<TViewSettings> LoadViewSettings(const std::string& path, std::string& problem) {
    problem.clear();
    QByteArray bytes;
    if (!ReadSettingsBytes(path, bytes, problem)) return std::nullopt;
    TIniCopy copy;
    if (!copy.Put(bytes)) {
        problem = "cannot be read";
        return std::nullopt;
    }
    QSettings s(copy.Path(), QSettings::IniFormat);
    if (!Readable(s, bytes)) {
        problem = s.status() == QSettings::AccessError ? "cannot be read" : "is damaged";
        return std::nullopt;
    }
    // A value no viewer writes loses only itself; keys of other versions are theirs.
    TViewSettings v;
    bool ok = true;
    for (int k = 1; k <= 8; ++k) {
        v.Visible[size_t(k)] = true;
        v.Colors[size_t(k)] = plates::kDefaultColors[size_t(k)];
        ok = ReadBool(s, PlateKey(k, "visible"), v.Visible[size_t(k)]) && ok;
        const QString colour = PlateKey(k, "color");
        if (!s.contains(colour)) continue;
        bool number = false;
        const uint value = s.value(colour).toString().toUInt(&number, 16);
        if (!number || value > 0xFFFFFF) {
            ok = false;
            continue;
        }
        // Kept as the usual RRGGBB; held as the program's colour value.
        v.Colors[size_t(k)] = rt::RGB(uint8_t(value >> 16), uint8_t(value >> 8), uint8_t(value));
    }
    ok = ReadBool(s, QStringLiteral("view/smooth"), v.Smooth) && ok;
    ok = ReadBool(s, QStringLiteral("view/scalebar"), v.ScaleBar) && ok;
    ok = ReadBool(s, QStringLiteral("window/options"), v.OptionPanel) && ok;
    if (s.contains(QStringLiteral("view/rate"))) {
        bool number = false;
        const double rate = s.value(QStringLiteral("view/rate")).toString().toDouble(&number);
        if (number && zoom::IsRate(rate))
            v.Rate = rate;
        else
            ok = false;
    }
    const QVariant geometry = s.value(QStringLiteral("window/geometry"));
    if (!geometry.toByteArray().isEmpty()) {
        // A window no screen can show (of no size, or larger than every screen) opens at
        // its default place and size instead.
        if (geometry.typeId() == QMetaType::QByteArray &&
            GeometryFits(geometry.toByteArray(), Screens()))
            v.Geometry = geometry.toByteArray();
        else
            ok = false;
    }
    v.OpenDir = s.value(QStringLiteral("dialogs/open")).toString().toStdString();
    v.SaveDir = s.value(QStringLiteral("dialogs/save")).toString().toStdString();
    if (!ok) problem = "is damaged";
    return v;
}

bool SaveViewSettings(const std::string& path, const TViewSettings& v, std::string& problem) {
    problem.clear();
    const auto fail = [&] {
        problem = "cannot be written";
        return false;
    };
    // The lock QSettings takes, so that two viewers closing at once take turns; bounded, so
    // that a lock that is never freed (a directory of that name) cannot keep a close open.
    QLockFile lock(QString::fromStdString(path + ".lock"));
    if (!lock.tryLock(kSettingsLockWaitMs)) return fail();
    // What another version keeps there stays; a file that is no settings file is replaced.
    QByteArray old;
    std::string unread;
    if (!ReadSettingsBytes(path, old, unread)) old.clear();
    TIniCopy copy;
    if (!copy.Put(old)) return fail();
    if (!old.isEmpty()) {
        const QSettings probe(copy.Path(), QSettings::IniFormat);
        if (!Readable(probe, old) && !copy.Put({})) return fail();
    }
    {
        QSettings s(copy.Path(), QSettings::IniFormat);
        for (int k = 1; k <= 8; ++k) {
            const rt::TColor c = v.Colors[size_t(k)];
            s.setValue(PlateKey(k, "visible"), v.Visible[size_t(k)] ? "true" : "false");
            s.setValue(PlateKey(k, "color"), QStringLiteral("%1%2%3")
                                                 .arg(rt::RedOf(c), 2, 16, QLatin1Char('0'))
                                                 .arg(rt::GreenOf(c), 2, 16, QLatin1Char('0'))
                                                 .arg(rt::BlueOf(c), 2, 16, QLatin1Char('0')));
        }
        s.setValue(QStringLiteral("view/smooth"), v.Smooth ? "true" : "false");
        s.setValue(QStringLiteral("view/scalebar"), v.ScaleBar ? "true" : "false");
        s.setValue(QStringLiteral("view/rate"), QString::number(v.Rate, 'g', 17));
        s.setValue(QStringLiteral("window/geometry"), v.Geometry);
        s.setValue(QStringLiteral("window/options"), v.OptionPanel ? "true" : "false");
        s.setValue(QStringLiteral("dialogs/open"), QString::fromStdString(v.OpenDir));
        s.setValue(QStringLiteral("dialogs/save"), QString::fromStdString(v.SaveDir));
        s.sync();
        if (s.status() != QSettings::NoError) return fail();
    }
    QFile made(copy.Path());
    if (!made.open(QIODevice::ReadOnly)) return fail();
    const QByteArray bytes = made.readAll();
    if (made.error() != QFileDevice::NoError) return fail();
    // Only a regular file is replaced: a FIFO of that name would hold the close.
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) return fail();
    try {
        rt::TOutputFile out(path, {true, {}});
        out.Write(bytes.constData(), size_t(bytes.size()));
        out.Commit();
    } catch (const std::exception&) {
        return fail();
    }
    return true;
}
