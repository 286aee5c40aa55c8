// The settings file against what may stand at its name: FIFOs, huge files, values of other
// versions or none, window geometries no screen shows, a lock that is never freed.

#include "engine/Plates.h"
#include "tests/TestSupport.h"
#include "viewer/ViewSettings.h"

#include <QDataStream>
#include <QIODevice>
#include <QWidget>
#include <chrono>
#include <fcntl.h>
#include <functional>
#include <future>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

using testing_support::TTempDir;

namespace {

void WriteText(const std::string& path, const std::string& text) {
    testing_support::WriteAll(path, std::vector<uint8_t>(text.begin(), text.end()));
}

std::string ReadText(const std::string& path) {
    const auto bytes = testing_support::ReadAll(path);
    return {bytes.begin(), bytes.end()};
}

// Runs f on a thread of its own; false where it has not returned after seconds (it is then
// left behind, and release, if given, is run to let it go).
bool ReturnsWithin(int seconds, const std::function<void()>& f,
                   const std::function<void()>& release = {}) {
    auto done = std::make_shared<std::promise<void>>();
    std::future<void> ended = done->get_future();
    std::thread([f, done] {
        f();
        done->set_value();
    }).detach();
    if (ended.wait_for(std::chrono::seconds(seconds)) == std::future_status::ready) return true;
    if (release) release();
    return false;
}

// A geometry as QWidget::saveGeometry writes it.
QByteArray Geometry(const QRect& frame, const QRect& client) {
    QByteArray out;
    QDataStream s(&out, QIODevice::WriteOnly);
    s.setVersion(QDataStream::Qt_4_0);
    s << quint32(0x1D9D0CB) << quint16(3) << quint16(0) << frame << client << qint32(0) << quint8(0)
      << quint8(0) << qint32(800) << client;
    return out;
}

} // namespace

TEST(ViewSettings, OnlyARegularFileOfAtMost64KiBIsRead) {
    TTempDir dir;
    const std::string ini = dir.File("mapviewer.ini");
    std::string problem;
    // A FIFO nobody writes to: the start goes on at once, and so does the close.
    ASSERT_EQ(::mkfifo(ini.c_str(), 0600), 0);
    const auto release = [&] { ::close(::open(ini.c_str(), O_RDWR | O_NONBLOCK)); };
    std::optional<TViewSettings> got;
    EXPECT_TRUE(ReturnsWithin(
        10, [&] { got = LoadViewSettings(ini, problem); }, release));
    EXPECT_FALSE(got);
    EXPECT_EQ(problem, "is not a regular file");
    bool saved = true;
    EXPECT_TRUE(ReturnsWithin(
        10, [&] { saved = SaveViewSettings(ini, TViewSettings{}, problem); }, release));
    EXPECT_FALSE(saved);
    EXPECT_EQ(problem, "cannot be written");
    ::unlink(ini.c_str());

    // Settings padded to exactly the bound are read; one byte more and the file is passed
    // over with a word, whatever it holds.
    std::string text = "[view]\nrate=0.5\n;";
    text.resize(size_t(kMaxSettingsBytes) - 1, 'x');
    text += "\n";
    WriteText(ini, text);
    got = LoadViewSettings(ini, problem);
    ASSERT_TRUE(got);
    EXPECT_EQ(problem, "");
    EXPECT_EQ(got->Rate, 0.5);
    WriteText(ini, text + "\n");
    got = LoadViewSettings(ini, problem);
    EXPECT_FALSE(got);
    EXPECT_EQ(problem, "is larger than 64 KiB");
    // A directory is no settings file either; a missing file is a first start, unsaid.
    ::unlink(ini.c_str());
    ASSERT_EQ(::mkdir(ini.c_str(), 0700), 0);
    EXPECT_FALSE(LoadViewSettings(ini, problem));
    EXPECT_EQ(problem, "is not a regular file");
    EXPECT_FALSE(LoadViewSettings(dir.File("none.ini"), problem));
    EXPECT_EQ(problem, "");
}

TEST(ViewSettings, ABadValueLosesOnlyItselfAndKeysOfOtherVersionsStay) {
    TTempDir dir;
    const std::string ini = dir.File("mapviewer.ini");
    WriteText(ini, "[view]\nrate=0.3\nsmooth=true\n"
                   "[plate2]\ncolor=123456\nvisible=false\n"
                   "[plate3]\ncolor=1000000\nvisible=perhaps\n"
                   "[dialogs]\nopen=/maps\n"
                   "[newer]\nlayout=tiles\n");
    std::string problem;
    const std::optional<TViewSettings> got = LoadViewSettings(ini, problem);
    ASSERT_TRUE(got);
    EXPECT_EQ(problem, "is damaged");
    EXPECT_EQ(got->Rate, 1.0); // the rate no viewer has
    EXPECT_TRUE(got->Smooth);
    EXPECT_EQ(got->Colors[2], rt::RGB(0x12, 0x34, 0x56));
    EXPECT_FALSE(got->Visible[2]);
    EXPECT_EQ(got->Colors[3], plates::kDefaultColors[3]); // out of range
    EXPECT_TRUE(got->Visible[3]);                         // no boolean
    EXPECT_EQ(got->OpenDir, "/maps");

    // A key of a newer version alone is no damage; written again, the file keeps it.
    WriteText(ini, "[newer]\nlayout=tiles\n[view]\nrate=0.25\n");
    TViewSettings v = *LoadViewSettings(ini, problem);
    EXPECT_EQ(problem, "");
    EXPECT_EQ(v.Rate, 0.25);
    v.Rate = 2;
    ASSERT_TRUE(SaveViewSettings(ini, v, problem)) << problem;
    const std::string written = ReadText(ini);
    EXPECT_NE(written.find("[newer]\nlayout=tiles\n"), std::string::npos) << written;
    EXPECT_EQ(LoadViewSettings(ini, problem)->Rate, 2.0);
    EXPECT_EQ(problem, "");
    // A file that is no settings file at all is replaced whole.
    WriteText(ini, std::string("\0\xff\xfe[[[=\n", 8));
    EXPECT_FALSE(LoadViewSettings(ini, problem));
    EXPECT_EQ(problem, "is damaged");
    ASSERT_TRUE(SaveViewSettings(ini, v, problem)) << problem;
    EXPECT_EQ(LoadViewSettings(ini, problem)->Rate, 2.0);
    EXPECT_EQ(problem, "");
}

TEST(ViewSettings, AGeometryThatFitsNoScreenOpensTheWindowAtItsDefault) {
    const QList<QRect> screens = {QRect(0, 0, 1920, 1080), QRect(1920, 0, 1280, 1024)};
    EXPECT_TRUE(GeometryFits(Geometry({100, 50, 900, 700}, {105, 80, 890, 665}), screens));
    EXPECT_TRUE(GeometryFits(Geometry({2000, 10, 1200, 900}, {2005, 40, 1190, 865}), screens));
    EXPECT_TRUE(GeometryFits(Geometry({-20, -5, 900, 700}, {-15, 25, 890, 665}), screens));
    // No size, a negative one, larger than every screen, on no screen at all, or no geometry
    // of Qt's.
    EXPECT_FALSE(GeometryFits(Geometry({100, 50, 0, 0}, {100, 50, 0, 0}), screens));
    EXPECT_FALSE(GeometryFits(Geometry({100, 50, -500, -300}, {100, 50, -500, -300}), screens));
    EXPECT_FALSE(GeometryFits(Geometry({0, 0, 32767, 32767}, {5, 30, 32757, 32732}), screens));
    EXPECT_FALSE(
        GeometryFits(Geometry({0, 0, 1900, 1060}, {5, 30, 1890, 1025}), {QRect(0, 0, 1280, 1024)}));
    EXPECT_FALSE(GeometryFits(Geometry({5000, 3000, 900, 700}, {5005, 3030, 890, 665}), screens));
    EXPECT_FALSE(GeometryFits(QByteArray("@garbage"), screens));
    EXPECT_FALSE(GeometryFits(Geometry({100, 50, 900, 700}, {105, 80, 890, 665}), {}));

    // What a window of this screen saves is taken back; a huge one is passed over alone.
    QWidget w;
    w.resize(400, 300);
    w.move(20, 20);
    const QByteArray real = w.saveGeometry();
    TTempDir dir;
    const std::string ini = dir.File("mapviewer.ini");
    TViewSettings v;
    v.Rate = 0.5;
    v.Geometry = real;
    std::string problem;
    ASSERT_TRUE(SaveViewSettings(ini, v, problem)) << problem;
    std::optional<TViewSettings> got = LoadViewSettings(ini, problem);
    ASSERT_TRUE(got);
    EXPECT_EQ(problem, "");
    EXPECT_EQ(got->Geometry, real);
    v.Geometry = Geometry({0, 0, 32767, 32767}, {5, 30, 32757, 32732});
    ASSERT_TRUE(SaveViewSettings(ini, v, problem)) << problem;
    got = LoadViewSettings(ini, problem);
    ASSERT_TRUE(got);
    EXPECT_EQ(problem, "is damaged");
    EXPECT_TRUE(got->Geometry.isEmpty());
    EXPECT_EQ(got->Rate, 0.5);
}

TEST(ViewSettings, ALockThatIsNeverFreedBoundsTheCloseAndSaysSo) {
    // A directory at the lock's name can never be taken: the close waits its bound, says the
    // settings cannot be written, and leaves the file as it was.
    TTempDir dir;
    const std::string ini = dir.File("mapviewer.ini");
    WriteText(ini, "[view]\nrate=0.5\n");
    ASSERT_EQ(::mkdir((ini + ".lock").c_str(), 0700), 0);
    TViewSettings v;
    v.Rate = 2;
    std::string problem;
    bool saved = true;
    EXPECT_TRUE(ReturnsWithin(30, [&] { saved = SaveViewSettings(ini, v, problem); }));
    EXPECT_FALSE(saved);
    EXPECT_EQ(problem, "cannot be written");
    EXPECT_EQ(ReadText(ini), "[view]\nrate=0.5\n");
}
