// Runs the mapsheet executable on generated sheets and compares its files with what the
// engine writes for the same request.

#include "engine/Plates.h"
#include "engine/TiffIO.h"
#include "runtime/BitmapFile.h"
#include "runtime/PngFile.h"
#include "tests/PngRead.h"
#include "tests/TestSupport.h"
#include "tests/engine/EngineFixture.h"
#include "tools/MapSheetArgs.h"
#include "tools/SampleSheet.h"

#include <chrono>
#include <cmath>
#include <csignal>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <pty.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

using testing_support::ReadAll;
using testing_support::TTempDir;

namespace {

struct TRun {
    int Code;
    std::string Out, Err;
};

std::string Slurp(const std::string& path) {
    auto b = ReadAll(path);
    return {b.begin(), b.end()};
}

class MapsheetTest : public ::testing::Test {
protected:
    // env: more VAR=VALUE words for the tool's environment; shell: commands run first in the
    // tool's subshell (a ulimit).
    TRun Run(const std::string& args, const std::string& env = {}, const std::string& shell = {}) {
        // In a subshell, so that args may go on with a pipe or a second command.
        std::string cmd = "cd '" + Dir.Path() + "' && (" + shell + " TMPDIR='" + Dir.Path() + "' " +
                          env + " '" MAPSHEET_PATH "' " + args + ") > out.txt 2> err.txt";
        int status = std::system(cmd.c_str());
        return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, Slurp(Dir.File("out.txt")),
                Slurp(Dir.File("err.txt"))};
    }
    std::string Sheet(const std::string& name, int w, int h, uint32_t seed) {
        Raster = sample::PaintSample(w, h, seed);
        sample::WriteSheet(Dir.File(name), Raster);
        return Dir.File(name);
    }
    // Scratch files the tool left behind in its temporary directory.
    int LeftOver() {
        int n = 0;
        for (auto& e : std::filesystem::directory_iterator(Dir.Path()))
            if (e.path().filename().string().rfind("mapsheet-", 0) == 0) ++n;
        return n;
    }
    void Prepare(TTiff& t) {
        t.PlateColor = plates::kDefaultColors;
        for (int k = 1; k <= 8; ++k) t.PlateVisible[size_t(k)] = true;
    }

    TTempDir Dir;
    sample::TRaster Raster;
};

} // namespace

TEST_F(MapsheetTest, InfoAndRaster) {
    Sheet("C5339.tif", 640, 480, 3);
    TRun r = Run("info C5339.tif");
    EXPECT_EQ(r.Code, 0);
    EXPECT_EQ(r.Err, ""); // no progress line when stderr is not a terminal
    TTiff t(nullptr, Dir.File("own.tmp"));
    t.OpenFile(Dir.File("C5339.tif"));
    EXPECT_EQ(r.Out, "name: C5339\nwidth: 640\nheight: 480\nxdpi: 254\nydpi: 254\nstrips: " +
                         std::to_string(t.StripCount) + "\nrows: 480\n");
    EXPECT_EQ(Run("raster C5339.tif r.bin").Code, 0);
    EXPECT_TRUE(ReadAll(Dir.File("r.bin")) == Raster.Pixels);
    EXPECT_EQ(LeftOver(), 0);
}

TEST_F(MapsheetTest, ToolOutputsAreTheEnginesOwn) {
    // Each request as the tool writes it and as the engine writes it itself: the export of a
    // window, or a view drawn onto white; bitmaps byte for byte, PNGs pixel for pixel.
    struct TRequest {
        std::string Args; // after the sheet and the output
        const char* Out;
        bool Render;
        std::array<int32_t, 4> Win; // export: the window; render: at col, row, view size
        long double Rate;
        std::vector<int> Hidden;
        std::vector<std::pair<int, rt::TColor>> Colors;
        bool Smooth;
    };
    const TRequest requests[] = {
        {"", "o.bmp", false, {0, 0, 900, 700}, 1, {}, {}, false},
        {"--rate 1/4 --window 10,20,500,300 --hide 3,6 --color 0=112233 --color 8=abcdef",
         "o.bmp",
         false,
         {10, 20, 500, 300},
         0.25L,
         {3, 6},
         {{0, 0x00332211}, {8, rt::RGB(0xAB, 0xCD, 0xEF)}},
         false},
        {"--rate 1/8 --smooth", "o.png", false, {0, 0, 900, 700}, 0.125L, {}, {}, true},
        {"--view 300x200 --at 100,50 --hide 4 --rate 1/8",
         "o.bmp",
         true,
         {100, 50, 300, 200},
         0.125L,
         {4},
         {},
         false},
        {"--view 300x200 --at 100,50 --hide 4 --rate 1",
         "o.bmp",
         true,
         {100, 50, 300, 200},
         1,
         {4},
         {},
         false},
        {"--view 300x200 --at 100,50 --hide 4 --rate 4",
         "o.bmp",
         true,
         {100, 50, 300, 200},
         4,
         {4},
         {},
         false},
        {"--view 100x80 --at 40,30 --rate 1/8 --smooth",
         "o.bmp",
         true,
         {40, 30, 100, 80},
         0.125L,
         {},
         {},
         true},
    };
    // The same raster in strips as a writer with a byte budget cuts them, and in strips of
    // 51 rows whose RowsPerStrip says 50: every fast path places rows as the whole open does.
    sample::TSheetOptions budget, lying;
    budget.FillStrips = true;
    budget.StripBytes = 3000;
    lying.StripRows.assign(14, 51);
    lying.StatedRowsPerStrip = 50;
    Raster = sample::PaintSample(900, 700, 4);
    for (const sample::TSheetOptions& o : {sample::TSheetOptions{}, budget, lying})
        for (const TRequest& q : requests) {
            sample::WriteSheet(Dir.File("s.tif"), Raster, o);
            const std::string cmd =
                std::string(q.Render ? "render" : "export") + " s.tif " + q.Out + " " + q.Args;
            const TRun r = Run(cmd);
            ASSERT_EQ(r.Code, 0) << cmd << ": " << r.Err;
            rt::TBitmapCanvas canvas(std::max(q.Win[2], 1), std::max(q.Win[3], 1));
            canvas.FillRect({0, 0, q.Win[2], q.Win[3]}, rt::kWhite);
            TTiff t(&canvas, Dir.File("own.tmp"));
            t.OpenFile(Dir.File("s.tif"));
            Prepare(t);
            for (int k : q.Hidden) t.PlateVisible[size_t(k)] = false;
            for (auto [k, c] : q.Colors) t.PlateColor[size_t(k)] = c;
            t.Smooth = q.Smooth;
            const std::string want =
                Dir.File(std::string("want") + (rt::IsPngName(q.Out) ? ".png" : ".bmp"));
            if (q.Render) {
                t.Draw(q.Win[0], q.Win[1], int32_t(q.Win[2] / q.Rate), int32_t(q.Win[3] / q.Rate),
                       q.Rate);
                rt::SaveBitmap24(canvas.Bitmap(), want);
            } else if (rt::IsPngName(q.Out)) {
                t.SavePng(q.Win[0], q.Win[1], q.Win[2], q.Win[3], q.Rate, want);
            } else {
                t.SaveBitmap(q.Win[0], q.Win[1], q.Win[2], q.Win[3], q.Rate, want);
            }
            if (rt::IsPngName(q.Out))
                EXPECT_TRUE(testing_support::ReadPng(Dir.File(q.Out)).Rgb ==
                            testing_support::ReadPng(want).Rgb)
                    << cmd;
            else
                EXPECT_TRUE(ReadAll(Dir.File(q.Out)) == ReadAll(want)) << cmd;
        }
    // A bitmap of sixteen colours cannot hold averages.
    TRun r = Run("export s.tif got.bmp --rate 1/8 --smooth");
    EXPECT_EQ(r.Code, 2);
    EXPECT_NE(r.Err.find("--smooth writes PNG"), std::string::npos);
    EXPECT_EQ(LeftOver(), 0);
}

TEST_F(MapsheetTest, SampleWritesTheRequestedSheet) {
    EXPECT_EQ(Run("sample t.tif --width 300 --height 200 --seed 9 --dpi 400 --strip-bytes 2000 "
                  "--literal-runs")
                  .Code,
              0);
    sample::TSheetOptions o;
    o.XDpi = o.YDpi = 400;
    o.StripBytes = 2000;
    o.FillStrips = true;
    o.LiteralRuns = true;
    EXPECT_TRUE(ReadAll(Dir.File("t.tif")) ==
                sample::BuildSheet(sample::PaintSample(300, 200, 9), o));
    // Strips filled up to the budget hold varying rows, and the sheet is read whole.
    EXPECT_EQ(Run("sample b.tif --width 301 --height 203 --strip-bytes 700").Code, 0);
    const std::vector<uint8_t> b = ReadAll(Dir.File("b.tif"));
    const TRun info = Run("info b.tif");
    const size_t at = info.Out.find("strips: ");
    ASSERT_NE(at, std::string::npos);
    const size_t strips = std::stoul(info.Out.substr(at + 8));
    ASSERT_GT(strips, 2u);
    // The writer lays the strips one after another: each ends where the next begins.
    for (size_t i = 0; i + 1 < strips; ++i)
        EXPECT_LE(testing_support::StripOffset(b, i + 1) - testing_support::StripOffset(b, i), 700u)
            << i;
    EXPECT_EQ(Run("raster b.tif b.raw").Code, 0);
    EXPECT_TRUE(ReadAll(Dir.File("b.raw")) == sample::PaintSample(301, 203, 1).Pixels);
}

TEST_F(MapsheetTest, FailuresAndUsageErrors) {
    TRun r = Run("info missing.tif");
    EXPECT_EQ(r.Code, 1);
    EXPECT_EQ(r.Err, "mapsheet: ファイルが見つかりません\n");

    auto bytes = sample::BuildSheet(sample::PaintSample(200, 100, 6));
    bytes.resize(bytes.size() / 2);
    testing_support::WriteAll(Dir.File("cut.tif"), bytes);
    r = Run("raster cut.tif out.bin");
    EXPECT_EQ(r.Code, 1);
    EXPECT_EQ(r.Err, "mapsheet: ファイルの末尾以降を読み込みました\n");

    Sheet("s.tif", 50, 40, 7);
    for (const char* bad : {"export s.tif o.bmp --rate 2", "export s.tif o.bmp --rate 0",
                            "export s.tif o.bmp --rate -1", "export s.tif o.bmp --rate 1/3",
                            "export s.tif o.bmp --rate 0.75", "export s.tif o.bmp --hide 9",
                            "export s.tif o.bmp --hide 1,,2", "export s.tif o.bmp --color 9=000000",
                            "render s.tif o.bmp --view 10x10 --rate 3", "render s.tif o.bmp",
                            "export s.tif", "frobnicate", ""}) {
        r = Run(bad);
        EXPECT_EQ(r.Code, 2) << bad;
        EXPECT_NE(r.Err.find("usage: mapsheet"), std::string::npos) << bad;
        EXPECT_EQ(r.Out, "") << bad;
    }
    r = Run("export s.tif o.bmp --window 60,0,10,10");
    EXPECT_EQ(r.Code, 1);
    EXPECT_FALSE(std::filesystem::exists(Dir.File("o.bmp")));
    r = Run("export --help");
    EXPECT_EQ(r.Code, 0);
    EXPECT_EQ(r.Out.rfind("usage: mapsheet export", 0), 0u);
    EXPECT_EQ(Run("--help").Code, 0);
    EXPECT_EQ(LeftOver(), 0);
}

TEST_F(MapsheetTest, SignalsRemoveEveryFileOfTheTool) {
    // The sheet comes from a pipe nobody writes to, so the tool waits with its copy of
    // standard input already made.
    // Starts "info -" on a pipe nobody writes to yet, ignoring a signal as nohup would;
    // answers the child and the pipe's writing end once its copy of the input is made.
    auto waiting = [&](int ignored) {
        int in[2];
        EXPECT_EQ(::pipe(in), 0);
        const pid_t pid = ::fork();
        if (pid == 0) {
            if (ignored) ::signal(ignored, SIG_IGN);
            ::dup2(in[0], STDIN_FILENO);
            ::close(in[1]);
            ::setenv("TMPDIR", Dir.Path().c_str(), 1);
            ::execl(MAPSHEET_PATH, "mapsheet", "info", "-", static_cast<char*>(nullptr));
            ::_exit(127);
        }
        ::close(in[0]);
        for (int i = 0; i < 500 && LeftOver() == 0; ++i) ::usleep(10000);
        return std::pair{pid, in[1]};
    };
    for (int sig : {SIGTERM, SIGINT, SIGHUP, SIGQUIT, SIGPIPE, SIGXCPU, SIGALRM, SIGUSR1, SIGUSR2,
                    SIGVTALRM, SIGPROF, SIGRTMIN + 3}) {
        const auto [pid, in] = waiting(0);
        EXPECT_EQ(LeftOver(), 1);
        ::kill(pid, sig);
        int status = 0;
        ::waitpid(pid, &status, 0);
        ::close(in);
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == sig) << sig;
        EXPECT_EQ(LeftOver(), 0) << sig;
    }
    // Started ignoring a signal (under nohup), the tool goes on ignoring it.
    const auto [pid, in] = waiting(SIGHUP);
    ::kill(pid, SIGHUP);
    ::usleep(50000);
    ::close(in); // no sheet after all
    int status = 0;
    ::waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1);
    EXPECT_EQ(LeftOver(), 0);
}

TEST_F(MapsheetTest, LimitsAndInputsThatAreNoSheet) {
    // A file-size limit below the raster fails the write as an I/O error; nothing is left.
    Sheet("big.tif", 1500, 1000, 4);
    for (const char* cmd : {"info big.tif", "raster big.tif r.raw", "export big.tif e.bmp"}) {
        const TRun r = Run(cmd, "", "ulimit -f 1024;");
        EXPECT_EQ(r.Code, 1) << cmd;
        EXPECT_EQ(r.Err, "mapsheet: ファイルが大きすぎます\n") << cmd;
        EXPECT_EQ(r.Out, "") << cmd;
        EXPECT_EQ(LeftOver(), 0) << cmd;
    }
    // Standard input that cannot be a sheet is refused at its first bytes.
    for (const char* source :
         {"head -c 50000000 /dev/zero", "yes | head -c 50000000", "head -c 3 big.tif"}) {
        const TRun r = Run("info -", "", std::string(source) + " |");
        EXPECT_EQ(r.Code, 1) << source;
        EXPECT_NE(r.Err.find("mapsheet: "), std::string::npos) << source;
        EXPECT_EQ(r.Out, "") << source;
    }
    EXPECT_EQ(Run("info -", "", "head -c 50000000 /dev/zero |").Err,
              "mapsheet: standard input is not a map sheet\n");
    // A sheet followed by more bytes: only the sheet is copied, into a temporary directory
    // far smaller than the stream, and it is named "-".
    Sheet("s.tif", 300, 200, 2);
    const std::string tmp = Dir.File("small");
    const int rc = testing_support::InSmallTmpfs(tmp, 1024, [&] {
        const std::string cmd = "cd '" + Dir.Path() + "' && (cat s.tif; head -c 20000000 " +
                                "/dev/zero) | TMPDIR='" + tmp + "' '" MAPSHEET_PATH "' info - " +
                                "> out.txt 2> err.txt";
        return WEXITSTATUS(std::system(cmd.c_str()));
    });
    if (rc == testing_support::kNoTmpfs) GTEST_SKIP() << "no tmpfs can be mounted here";
    EXPECT_EQ(rc, 0) << Slurp(Dir.File("err.txt"));
    EXPECT_EQ(Slurp(Dir.File("out.txt")).rfind("name: -\nwidth: 300\n", 0), 0u);
    // An output directory that is a file says so.
    testing_support::WriteAll(Dir.File("plain"), {1});
    const TRun r = Run("export --out-dir plain s.tif");
    EXPECT_EQ(r.Code, 1);
    EXPECT_EQ(r.Err, "mapsheet: --out-dir plain is not a directory\n");
}

TEST_F(MapsheetTest, AWriteThatFailsStopsTheUnpackingInsideItsStrip) {
    // One strip of 9 MB of rows and a file-size limit of 1 MiB: the writes fail early in the
    // strip, and the unpacking ahead of them stops there instead of going on to its end.
    sample::TSheetOptions one;
    one.StripBytes = UINT32_MAX;
    sample::WriteSheet(Dir.File("one.tif"), sample::PaintSample(3000, 3000, 6), one);
    Sheet("small.tif", 30, 30, 6);
    auto peakKiB = [&](const char* sheet, rlim_t fileSize, int& code) {
        const pid_t pid = ::fork();
        if (pid == 0) {
            const rlimit limit{fileSize, fileSize};
            ::setrlimit(RLIMIT_FSIZE, &limit);
            ::setenv("TMPDIR", Dir.Path().c_str(), 1);
            const int null = ::open("/dev/null", O_WRONLY);
            ::dup2(null, STDOUT_FILENO);
            ::dup2(null, STDERR_FILENO);
            ::execl(MAPSHEET_PATH, "mapsheet", "info", sheet, static_cast<char*>(nullptr));
            ::_exit(127);
        }
        int status = 0;
        rusage usage{};
        ::wait4(pid, &status, 0, &usage);
        code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        return long(usage.ru_maxrss);
    };
    int code = 0;
    const long base = peakKiB(Dir.File("small.tif").c_str(), RLIM_INFINITY, code);
    EXPECT_EQ(code, 0);
    const long cut = peakKiB(Dir.File("one.tif").c_str(), 1 << 20, code);
    EXPECT_EQ(code, 1);
    EXPECT_LT(cut - base, 6 * 1024) << "peak " << cut << " KiB against " << base << " KiB";
    EXPECT_EQ(LeftOver(), 0);
}

TEST_F(MapsheetTest, ABatchInterruptedLeavesNoFileWhateverItsJobs) {
    // Seventy jobs hold seventy temporary files and more at once (a scratch file and an
    // output each): an interruption then removes every one of them. Smooth PNGs take longer
    // to write than their sheets to unpack, so that every job is writing before one ends.
    Sheet("s.tif", 3000, 3000, 9);
    std::vector<std::string> args = {"mapsheet", "export", "--out-dir", "out",    "--jobs", "70",
                                     "--format", "png",    "--smooth",  "--rate", "1/2"};
    for (int k = 0; k < 70; ++k) {
        const std::string name = "C" + std::to_string(k) + ".tif";
        ASSERT_EQ(::link(Dir.File("s.tif").c_str(), Dir.File(name).c_str()), 0);
        args.push_back(name);
    }
    auto temporaries = [&] {
        int n = LeftOver();
        std::error_code ec;
        for (auto& e : std::filesystem::directory_iterator(Dir.File("out"), ec))
            n += e.path().filename().string().rfind('.', 0) == 0;
        return n;
    };
    const pid_t pid = ::fork();
    if (pid == 0) {
        if (::chdir(Dir.Path().c_str()) != 0) ::_exit(127);
        ::setenv("TMPDIR", Dir.Path().c_str(), 1);
        const int err = ::open("batch.err", O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (err < 0 || ::dup2(err, STDERR_FILENO) < 0) ::_exit(127);
        std::vector<char*> argv;
        for (auto& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        ::execv(MAPSHEET_PATH, argv.data());
        ::_exit(127);
    }
    int most = 0;
    for (int i = 0; i < 4000 && most < 70; ++i) {
        most = std::max(most, temporaries());
        ::usleep(1000);
    }
    ::kill(pid, SIGINT);
    int status = 0;
    ::waitpid(pid, &status, 0);
    EXPECT_GE(most, 70) << "the jobs never held their files at once: " << most;
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGINT);
    // Jobs whose files the stop removed say nothing of sheets that are there.
    EXPECT_EQ(Slurp(Dir.File("batch.err")), "");
    EXPECT_EQ(temporaries(), 0) << [&] {
        std::string names;
        for (const auto& d : {Dir.Path(), Dir.File("out")})
            for (auto& e : std::filesystem::directory_iterator(d))
                if (e.path().filename().string()[0] == '.' ||
                    e.path().filename().string().rfind("mapsheet-", 0) == 0)
                    names += e.path().string() + " ";
        return names;
    }();
}

TEST_F(MapsheetTest, PipesAndFifosInAndOut) {
    Sheet("s.tif", 500, 300, 8);
    TTiff t(nullptr, Dir.File("own.tmp"));
    t.OpenFile(Dir.File("s.tif"));
    Prepare(t);
    t.SaveBitmap(0, 0, 500, 300, 0.25L, Dir.File("want.bmp"));
    // Standard input to standard output, through pipes on both sides.
    EXPECT_EQ(Run("export - - --rate 1/4 < s.tif | cat > got.bmp").Code, 0);
    EXPECT_TRUE(ReadAll(Dir.File("got.bmp")) == ReadAll(Dir.File("want.bmp")));
    EXPECT_EQ(Run("raster - - < s.tif | cat > r.bin").Code, 0);
    EXPECT_TRUE(ReadAll(Dir.File("r.bin")) == Raster.Pixels);
    // A FIFO as the output, read by another process.
    ASSERT_EQ(::mkfifo(Dir.File("o.fifo").c_str(), 0600), 0);
    TRun r = Run("render s.tif o.fifo --view 100x80 & cat o.fifo > fifo.bmp; wait");
    EXPECT_EQ(r.Err, "");
    EXPECT_EQ(ReadAll(Dir.File("fifo.bmp")).size(), 54u + 100 * 3 * 80);
    // A FIFO as the sheet is refused at once; "-" is the way to feed a pipe.
    r = Run("info o.fifo");
    EXPECT_EQ(r.Code, 1);
    EXPECT_EQ(r.Err, "mapsheet: 通常のファイルではありません\n");
    EXPECT_EQ(LeftOver(), 0);
}

TEST_F(MapsheetTest, ProgressOnATerminalOnlyShows) {
    // A sheet without strips opens whether stderr is a terminal or not; a failure's message
    // starts on a line of its own.
    auto bytes = sample::BuildSheet(sample::PaintSample(40, 30, 9));
    auto noStrips = bytes;
    for (size_t at = 10; at + 12 <= noStrips.size(); at += 12)
        if (noStrips[at] == 0x01 && noStrips[at + 1] == 0x11) noStrips[at + 1] = 0x7F; // tag 273
    testing_support::WriteAll(Dir.File("nostrips.tif"), noStrips);
    auto cut = bytes;
    cut.resize(cut.size() - 10);
    testing_support::WriteAll(Dir.File("cut.tif"), cut);
    auto onTerminal = [&](const char* sheet) {
        int master = -1;
        pid_t pid = ::forkpty(&master, nullptr, nullptr, nullptr);
        if (pid == 0) {
            int null = ::open("/dev/null", O_WRONLY);
            ::dup2(null, STDOUT_FILENO);
            ::setenv("TMPDIR", Dir.Path().c_str(), 1);
            ::execl(MAPSHEET_PATH, "mapsheet", "info", sheet, static_cast<char*>(nullptr));
            ::_exit(127);
        }
        std::string out;
        char buf[256];
        for (ssize_t n; (n = ::read(master, buf, sizeof buf)) > 0;) out.append(buf, size_t(n));
        int status = 0;
        ::waitpid(pid, &status, 0);
        ::close(master);
        return std::pair{WIFEXITED(status) ? WEXITSTATUS(status) : -1, out};
    };
    auto [code, out] = onTerminal(Dir.File("nostrips.tif").c_str());
    EXPECT_EQ(code, 0) << out;
    EXPECT_EQ(Run("info nostrips.tif").Code, 0);
    std::tie(code, out) = onTerminal(Dir.File("cut.tif").c_str());
    EXPECT_EQ(code, 1);
    EXPECT_NE(out.find("%\r\nmapsheet: ファイルの末尾以降を読み込みました"), std::string::npos)
        << out;
    EXPECT_EQ(LeftOver(), 0);
}

TEST_F(MapsheetTest, ACopyCutShortOrUnreadableFailsAndWritesNothing) {
    using enginetest::TSheetBuilder;
    sample::TSheetOptions o;
    o.StripBytes = 1024;
    o.LiteralRuns = true;
    const auto bytes = sample::BuildSheet(sample::PaintSample(300, 200, 5), o);
    // Rows of 4 bytes whose last strip is cut inside a literal or before a run's value.
    auto cutIn = [](std::vector<uint8_t> last, size_t cut) {
        TSheetBuilder b = TSheetBuilder::Basic(4, 4, {{0xFD, 1, 0xFD, 2}, std::move(last)});
        b.Entries.resize(4);
        b.Rationals.clear();
        auto f = b.Build();
        f.resize(f.size() - cut);
        return f;
    };
    const std::string pastEnd = "ファイルの末尾以降を読み込みました";
    struct {
        const char* What;
        std::vector<uint8_t> Bytes;
        std::string Env, Message;
    } cases[] = {
        {"60 %", {bytes.begin(), bytes.begin() + long(bytes.size()) * 6 / 10}, "", pastEnd},
        {"literal", cutIn({0x07, 3, 3, 3, 3, 4, 4, 4, 4}, 3), "", pastEnd},
        {"run", cutIn({0xFD, 3, 0xFD, 4}, 1), "", pastEnd},
        {"bad sector", bytes,
         "LD_PRELOAD='" IOFAULT_PATH "' MAPVIEW_READ_FAULT=" +
             std::to_string(testing_support::StripOffset(bytes, 3)) + ":'" + Dir.File("d.tif") +
             "'",
         "データ エラー (巡回冗長検査 (CRC) エラー) です"},
    };
    for (const auto& c : cases) {
        testing_support::WriteAll(Dir.File("d.tif"), c.Bytes);
        for (const char* cmd :
             {"info d.tif", "raster d.tif o.raw", "export d.tif o.bmp",
              "export d.tif o.png --rate 1/2", "render d.tif o.bmp --view 300x200"}) {
            const TRun r = Run(cmd, c.Env);
            EXPECT_EQ(r.Code, 1) << c.What << ": " << cmd;
            EXPECT_EQ(r.Out, "") << c.What << ": " << cmd;
            EXPECT_EQ(r.Err, "mapsheet: " + c.Message + "\n") << c.What << ": " << cmd;
        }
        for (const char* out : {"o.raw", "o.bmp", "o.png"})
            EXPECT_FALSE(std::filesystem::exists(Dir.File(out))) << c.What << ": " << out;
        EXPECT_EQ(LeftOver(), 0) << c.What;
    }
    // The sheet itself is sound: the fault alone failed it.
    EXPECT_EQ(Run("info d.tif").Code, 0);
}

TEST_F(MapsheetTest, DamagedSheetsAndEmptyWindowsWriteNothing) {
    // A sheet whose strips end before its last rows: info tells the rows read; export and
    // render of a window that reaches the missing rows fail, and an existing file stays.
    auto bytes = sample::BuildSheet(sample::PaintSample(60, 40, 10));
    for (size_t at = 10; at + 12 <= bytes.size(); at += 12)
        if (bytes[at] == 0x01 && bytes[at + 1] == 0x01)
            sample::PutBE32(bytes, at + 8, 50); // height 50
    testing_support::WriteAll(Dir.File("d.tif"), bytes);
    TRun r = Run("info d.tif");
    EXPECT_EQ(r.Code, 0);
    EXPECT_NE(r.Out.find("height: 50\n"), std::string::npos);
    EXPECT_NE(r.Out.find("rows: 40\n"), std::string::npos);
    testing_support::WriteAll(Dir.File("o.bmp"), {1, 2, 3});
    for (const char* cmd : {"export d.tif o.bmp", "render d.tif o.bmp --view 60x50"}) {
        r = Run(cmd);
        EXPECT_EQ(r.Code, 1) << cmd;
        EXPECT_EQ(r.Err, "mapsheet: ファイルの末尾以降を読み込みました\n") << cmd;
        EXPECT_EQ(ReadAll(Dir.File("o.bmp")), (std::vector<uint8_t>{1, 2, 3})) << cmd;
    }
    EXPECT_EQ(Run("render d.tif o.bmp --view 60x40").Code, 0); // the rows it holds
    EXPECT_EQ(r.Out.find("dropped"), std::string::npos);
    // Strips that end inside a row: info tells how many bytes found no place.
    testing_support::WriteAll(Dir.File("p.tif"),
                              enginetest::TSheetBuilder::Basic(4, 2, {{0xFD, 1, 0xFF, 2}}).Build());
    r = Run("info p.tif");
    EXPECT_EQ(r.Code, 0);
    EXPECT_NE(r.Out.find("rows: 1\ndropped: 2 bytes\n"), std::string::npos) << r.Out;
    // A view that holds no pixel of the sheet fails as such an export does.
    Sheet("s.tif", 50, 40, 7);
    for (const char* cmd :
         {"render s.tif e.bmp --view 10x10 --at 50,0", "render s.tif e.bmp --view 10x10 --at 0,40",
          "render s.tif e.bmp --view 10x10 --at 49,0 --rate 1/64",
          "export s.tif e.bmp --window 60,0,10,10"}) {
        r = Run(cmd);
        EXPECT_EQ(r.Code, 1) << cmd;
        EXPECT_EQ(r.Err, "mapsheet: the window holds no pixel of the sheet at this rate\n") << cmd;
        EXPECT_FALSE(std::filesystem::exists(Dir.File("e.bmp"))) << cmd;
    }
    EXPECT_EQ(LeftOver(), 0);
}

TEST(MapsheetArgs, Rates) {
    long double r = 0;
    EXPECT_TRUE(mapsheet::ParseRate("1/64", r));
    EXPECT_EQ(r, 1.0L / 64);
    // The export takes the viewer's reductions only, as fractions or decimals.
    EXPECT_TRUE(mapsheet::ParseRate("0.25", r));
    EXPECT_EQ(r, 0.25L);
    EXPECT_TRUE(mapsheet::ParseRate("0.015625", r));
    EXPECT_EQ(r, 1.0L / 64);
    for (const char* bad : {"0.3", "0.75", "1/3", "2", "0.0078125", "1/0"})
        EXPECT_FALSE(mapsheet::ParseRate(bad, r)) << bad;
    EXPECT_FALSE(mapsheet::ParseRate("1/128", r));
    EXPECT_FALSE(mapsheet::ParseRate("1.5", r));
    EXPECT_FALSE(mapsheet::ParseRate("abc", r));
    EXPECT_TRUE(mapsheet::ParseZoomRate("8", r));
    EXPECT_TRUE(mapsheet::ParseZoomRate("0.125", r));
    EXPECT_FALSE(mapsheet::ParseZoomRate("16", r));
    EXPECT_FALSE(mapsheet::ParseZoomRate("0.3", r));
    std::array<rt::TColor, 9> c{};
    EXPECT_TRUE(mapsheet::ParseColor("5=0000FF", c));
    EXPECT_EQ(c[5], 0x00FF0000u);
    EXPECT_FALSE(mapsheet::ParseColor("5=00FF", c));
}

TEST_F(MapsheetTest, AWholeDiscAtOnce) {
    // Three good sheets, a missing one and one that ends early: every good one converted as
    // alone, every failure told for its sheet, and the status 1.
    for (int k = 1; k <= 3; ++k)
        Sheet("C" + std::to_string(k) + ".tif", 300 + 40 * k, 200, uint32_t(k));
    sample::TSheetOptions damaged;
    damaged.StatedHeight = 90;
    sample::WriteSheet(Dir.File("D.tif"), sample::PaintSample(50, 40, 4), damaged);
    TRun r = Run(
        "export --out-dir out --jobs 2 --rate 1/2 --hide 3 C1.tif C2.tif missing.tif C3.tif D.tif");
    EXPECT_EQ(r.Code, 1);
    EXPECT_NE(r.Err.find("mapsheet: missing.tif: ファイルが見つかりません\n"), std::string::npos)
        << r.Err;
    EXPECT_NE(r.Err.find("mapsheet: D.tif: ファイルの末尾以降を読み込みました\n"),
              std::string::npos)
        << r.Err;
    for (int k = 1; k <= 3; ++k) {
        const std::string name = "C" + std::to_string(k);
        EXPECT_EQ(Run("export " + name + ".tif one.bmp --rate 0.5 --hide 3").Code, 0);
        EXPECT_EQ(ReadAll(Dir.File("out/" + name + ".bmp")), ReadAll(Dir.File("one.bmp"))) << name;
    }
    EXPECT_FALSE(std::filesystem::exists(Dir.File("out/missing.bmp")));
    EXPECT_FALSE(std::filesystem::exists(Dir.File("out/D.bmp")));
    r = Run("raster --out-dir raw --jobs 3 C1.tif C2.tif C3.tif");
    EXPECT_EQ(r.Code, 0) << r.Err;
    EXPECT_EQ(r.Err, "");
    EXPECT_TRUE(ReadAll(Dir.File("raw/C3.raw")) == Raster.Pixels);
    // A user allowed no more threads: the jobs run one after another on the one there is.
    if (::geteuid() == 0) {
        std::filesystem::permissions(Dir.Path(), std::filesystem::perms::all);
        r = Run("export --out-dir lone --jobs 4 --rate 1/2 --hide 3 C1.tif C2.tif C3.tif",
                // A leak checker's own thread would find none either.
                "ASAN_OPTIONS=detect_leaks=0 prlimit --nproc=1 setpriv --reuid=65534 "
                "--regid=65534 --clear-groups");
        EXPECT_EQ(r.Code, 0) << r.Err;
        for (const char* name : {"C1.bmp", "C2.bmp", "C3.bmp"})
            EXPECT_EQ(ReadAll(Dir.File(std::string("lone/") + name)),
                      ReadAll(Dir.File(std::string("out/") + name)))
                << name;
    }
    // Two sheets that would write one file, or standard input among many, are refused.
    std::filesystem::create_directories(Dir.File("other"));
    std::filesystem::copy_file(Dir.File("C1.tif"), Dir.File("other/C1.tif"));
    EXPECT_EQ(Run("export --out-dir out C1.tif other/C1.tif").Code, 2);
    EXPECT_EQ(Run("raster --out-dir out - C1.tif").Code, 2);
    EXPECT_EQ(Run("raster C1.tif o.raw --jobs 2").Code, 2);
    EXPECT_EQ(LeftOver(), 0);
}

TEST_F(MapsheetTest, AWholeDiscAsPng) {
    // Each PNG of a batch is the file the same export of its sheet alone writes.
    for (int k = 1; k <= 3; ++k)
        Sheet("C" + std::to_string(k) + ".tif", 200 + 30 * k, 150, uint32_t(k));
    for (const std::string options :
         {"", "--rate 1/4 --smooth", "--rate 1/2 --hide 2,5 --color 0=102030 --color 7=ff8000"}) {
        const TRun r =
            Run("export --out-dir png --format png --jobs 2 " + options + " C1.tif C2.tif C3.tif");
        ASSERT_EQ(r.Code, 0) << options << ": " << r.Err;
        for (int k = 1; k <= 3; ++k) {
            const std::string name = "C" + std::to_string(k);
            ASSERT_EQ(Run("export " + name + ".tif one.png " + options).Code, 0) << options;
            EXPECT_EQ(ReadAll(Dir.File("png/" + name + ".png")), ReadAll(Dir.File("one.png")))
                << name << " " << options;
        }
    }
    // A batch's type comes from --format, one output's from its name; averages need PNG.
    for (const char* bad :
         {"export C1.tif x.png --format png", "export --out-dir b --smooth --rate 1/2 C1.tif",
          "export --out-dir b --format bmp --smooth --rate 1/2 C1.tif",
          "export --out-dir b --format gif C1.tif"})
        EXPECT_EQ(Run(bad).Code, 2) << bad;
    // Rate 1 is the whole-size picture, however it is written.
    ASSERT_EQ(Run("export C1.tif whole.bmp").Code, 0);
    for (const char* rate : {"1", "1/1", "1.0"}) {
        EXPECT_EQ(Run(std::string("export C1.tif r.bmp --rate ") + rate).Code, 0) << rate;
        EXPECT_EQ(ReadAll(Dir.File("r.bmp")), ReadAll(Dir.File("whole.bmp"))) << rate;
    }
    const auto whole = testing_support::ReadBmp(ReadAll(Dir.File("whole.bmp")));
    EXPECT_EQ(whole.Width, 230u);
    EXPECT_EQ(whole.Height, 150u);
    EXPECT_EQ(LeftOver(), 0);
}

TEST_F(MapsheetTest, PngOutMeansTheSamePictures) {
    // export and render write PNG for a name ending in .png, in any case: decoded, the
    // pictures of the bitmaps of the same requests.
    Sheet("s.tif", 700, 500, 12);
    for (const char* args :
         {"export s.tif X --rate 1/4 --hide 2", "export s.tif X --window 10,20,300,200",
          "render s.tif X --view 320x200 --at 100,50 --rate 2 --color 0=102030"}) {
        std::string cmd = args;
        const size_t at = cmd.find(" X");
        ASSERT_EQ(Run(cmd.replace(at, 2, " o.bmp")).Code, 0) << args;
        cmd = args;
        ASSERT_EQ(Run(cmd.replace(at, 2, " o.PnG")).Code, 0) << args;
        const auto png = testing_support::ReadPng(Dir.File("o.PnG"));
        EXPECT_EQ(png.Palette, cmd.rfind("export", 0) == 0) << args;
        EXPECT_TRUE(png.Rgb == testing_support::ReadBmp(ReadAll(Dir.File("o.bmp"))).Rgb) << args;
    }
    EXPECT_EQ(LeftOver(), 0);
}

TEST_F(MapsheetTest, AnExportToAFileNeedsNoScratchSpaceAndAFullDiskLeavesNothing) {
    // A 3 MB raster, a 2 MiB temporary directory: an export to a file composes from the
    // strips and needs none of it, at full size as at 1/64. A bitmap to standard output comes
    // from a scratch file of the raster, which does not fit.
    Sheet("s.tif", 2000, 1500, 8);
    const std::string tmp = Dir.File("small");
    auto run = [&](const std::string& args, int sizeKiB = 2048) {
        return testing_support::InSmallTmpfs(tmp, sizeKiB, [&] {
            // What the small disk holds afterwards is listed before it goes.
            const std::string cmd = "cd '" + Dir.Path() + "' && { TMPDIR='" + tmp + "' '" +
                                    MAPSHEET_PATH + "' " + args +
                                    " 2> err.txt; rc=$?; ls -A small > left.txt; exit $rc; }";
            return WEXITSTATUS(std::system(cmd.c_str()));
        });
    };
    const int rc = run("export s.tif low.bmp --rate 1/64");
    if (rc == testing_support::kNoTmpfs) GTEST_SKIP() << "no tmpfs can be mounted here";
    EXPECT_EQ(rc, 0) << Slurp(Dir.File("err.txt"));
    EXPECT_EQ(run("export s.tif full.bmp"), 0) << Slurp(Dir.File("err.txt"));
    TTiff t(nullptr, Dir.File("own.tmp"));
    t.OpenFile(Dir.File("s.tif"));
    Prepare(t);
    t.SaveBitmap(0, 0, 2000, 1500, 1.0L / 64, Dir.File("want.bmp"));
    EXPECT_TRUE(ReadAll(Dir.File("low.bmp")) == ReadAll(Dir.File("want.bmp")));
    t.SaveBitmap(0, 0, 2000, 1500, 1, Dir.File("want.bmp"));
    EXPECT_TRUE(ReadAll(Dir.File("full.bmp")) == ReadAll(Dir.File("want.bmp")));
    EXPECT_EQ(run("export s.tif - > piped.bmp"), 1);
    EXPECT_EQ(Slurp(Dir.File("err.txt")), "mapsheet: ディスクがいっぱいです\n");
    // The 1.5 MB bitmap itself on a 1 MiB disk: its rows go in from the bottom of the file
    // up, and the write that meets the full disk fails the export without a file left.
    EXPECT_EQ(run("export s.tif small/full.bmp", 1024), 1);
    EXPECT_EQ(Slurp(Dir.File("err.txt")), "mapsheet: ディスクがいっぱいです\n");
    EXPECT_EQ(Slurp(Dir.File("left.txt")), "");
}

TEST_F(MapsheetTest, ASignalEndsARunThatWaitsForItsFifosReader) {
    // An output FIFO nobody reads: the tool waits in its open, raster before it unpacks and
    // export with its scratch file made. SIGINT and SIGTERM end it there, and nothing of the
    // tool's is left; the FIFO stays.
    Sheet("s.tif", 300, 200, 2);
    ASSERT_EQ(::mkfifo(Dir.File("f").c_str(), 0600), 0);
    ASSERT_EQ(::mkfifo(Dir.File("f.bmp").c_str(), 0600), 0);
    const std::string openat = std::to_string(SYS_openat) + " ";
    for (const char* output : {"raster", "export"})
        for (const int sig : {SIGINT, SIGTERM}) {
            SCOPED_TRACE(std::string(output) + " " + strsignal(sig));
            const pid_t pid = ::fork();
            if (pid == 0) {
                if (::chdir(Dir.Path().c_str()) != 0) ::_exit(127);
                ::setenv("TMPDIR", Dir.Path().c_str(), 1);
                const bool raster = std::string(output) == "raster";
                ::execl(MAPSHEET_PATH, "mapsheet", output, "s.tif", raster ? "f" : "f.bmp",
                        static_cast<char*>(nullptr));
                ::_exit(127);
            }
            // Inside an open that waits: seen twice in a row.
            const std::string syscall = "/proc/" + std::to_string(pid) + "/syscall";
            int seen = 0;
            for (int i = 0; i < 2000 && seen < 2; ++i) {
                seen = Slurp(syscall).rfind(openat, 0) == 0 ? seen + 1 : 0;
                ::usleep(10000);
            }
            EXPECT_EQ(seen, 2) << "never waited in its open";
            const auto signalled = std::chrono::steady_clock::now();
            ::kill(pid, sig);
            int status = 0;
            pid_t done = 0;
            while ((done = ::waitpid(pid, &status, WNOHANG)) == 0 &&
                   std::chrono::steady_clock::now() - signalled < std::chrono::seconds(5))
                ::usleep(1000);
            if (done == 0) {
                ::kill(pid, SIGKILL);
                ::waitpid(pid, &status, 0);
                ADD_FAILURE() << "still running 5 s after the signal";
                continue;
            }
            EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == sig) << status;
            EXPECT_EQ(LeftOver(), 0);
            std::vector<std::string> names;
            for (auto& e : std::filesystem::directory_iterator(Dir.Path()))
                names.push_back(e.path().filename().string());
            std::sort(names.begin(), names.end());
            EXPECT_EQ(names, (std::vector<std::string>{"f", "f.bmp", "s.tif"}));
        }
}
