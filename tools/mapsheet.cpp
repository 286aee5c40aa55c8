// mapsheet: the map image engine for scripts and batch work.

#include "engine/Export.h"
#include "engine/Plates.h"
#include "engine/Render.h"
#include "engine/SheetStream.h"
#include "engine/TiffIO.h"
#include "runtime/BinaryFile.h"
#include "runtime/BitmapFile.h"
#include "runtime/Errors.h"
#include "runtime/FileSys.h"
#include "runtime/OutputFile.h"
#include "runtime/PngFile.h"
#include "runtime/SignalCleanup.h"
#include "runtime/Worker.h"
#include "tools/MapSheetArgs.h"
#include "tools/SampleSheet.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

const char* const kMainUsage =
    "usage: mapsheet COMMAND ARGS...\n"
    "\n"
    "commands:\n"
    "  info SHEET              the sheet's name, size, resolution, strips and rows\n"
    "  raster SHEET OUT        the unpacked raster, rows of WIDTH bytes, top row first\n"
    "  export SHEET OUT.bmp    a 16-colour bitmap of the sheet, as the save command writes\n"
    "                          (OUT.png: the same picture as a 4-bit palette PNG)\n"
    "  render SHEET OUT.bmp    a 24-bit bitmap of what a view of the viewer shows (or OUT.png)\n"
    "  sample OUT.tif          a synthetic sheet\n"
    "  --version               the version of mapsheet\n"
    "\n"
    "SHEET - reads the sheet from standard input, OUT - writes to standard output.\n"
    "mapsheet COMMAND --help tells more.\n";

const std::map<std::string, std::string> kUsage = {
    {"info", "usage: mapsheet info SHEET\n"},
    {"raster", "usage: mapsheet raster SHEET OUT\n"
               "       mapsheet raster --out-dir DIR [--jobs N] SHEET...\n"
               "  --out-dir DIR   one output per sheet, DIR/NAME.raw after the sheet's name\n"
               "  --jobs N        sheets converted at once (default: the number of cores)\n"},
    {"export",
     "usage: mapsheet export SHEET OUT.bmp [--rate R] [--window COL,ROW,COLS,ROWS]\n"
     "                        [--hide PLATES] [--color K=RRGGBB]...\n"
     "       mapsheet export --out-dir DIR [--format bmp|png] [--jobs N] [options] SHEET...\n"
     "  --out-dir DIR   one picture per sheet, DIR/NAME.bmp after the sheet's name\n"
     "  --format F      with --out-dir: bmp (the default) or png, DIR/NAME.png\n"
     "  --jobs N        sheets converted at once (default: the number of cores)\n"
     "  --rate R        1, 1/2, 1/4 ... 1/64, or the same as a decimal: 0.5, 0.25 ...\n"
     "                  (default 1)\n"
     "  --window ...    the part of the sheet to write (default the whole sheet)\n"
     "  --hide PLATES   comma-separated plate numbers 1 to 8 to leave out\n"
     "  --color K=RRGGBB  colour of plate K (1 to 8) or of the background (0)\n"
     "  --smooth        below rate 1, each pixel the average colour of its block\n"
     "                  (to PNG only, as 24-bit RGB: an output ending in .png, or --format png)\n"},
    {"render",
     "usage: mapsheet render SHEET OUT.bmp --view WIDTHxHEIGHT [--at COL,ROW] [--rate R]\n"
     "                        [--hide PLATES] [--color K=RRGGBB]...\n"
     "  --view WxH      size of the view in screen pixels\n"
     "  --at COL,ROW    sheet pixel at the view's top-left corner (default 0,0)\n"
     "  --rate R        zoom rate: 1/64, 1/32 ... 1/2, 1, 2, 4 or 8 (default 1)\n"
     "  --smooth        below rate 1, each pixel the average colour of its block\n"
     "  --hide, --color as for export\n"},
    {"sample",
     "usage: mapsheet sample OUT.tif [--width W] [--height H] [--seed N] [--dpi N]\n"
     "                        [--strip-bytes N] [--literal-runs]\n"
     "  --strip-bytes N  each strip filled with rows up to N packed bytes, so that strips\n"
     "                  hold varying rows and RowsPerStrip is the largest strip's\n"
     "  defaults: 4000 x 3000 pixels, seed 1, 254 dpi, strips of equal rows and at most 8192\n"
     "  packed bytes, PackBits in two-byte units only (--literal-runs adds literal runs)\n"},
};

struct TUsageError {
    std::string Message;
};

constexpr int kMaxView = 16384;
const char* const kNoPixel = "the window holds no pixel of the sheet at this rate";
const char* const kNotASheet = "standard input is not a map sheet";

// A temporary file of ours in $TMPDIR (or /tmp), removed by a signal that ends the process
// as by the destructor; it is registered before a signal could find it half made.
class TTempFile {
public:
    TTempFile() {
        const char* tmp = std::getenv("TMPDIR");
        rt::TRegisteredFile made =
            rt::CreateRegistered(std::string(tmp && *tmp ? tmp : "/tmp") + "/mapsheet-");
        ::close(made.Fd);
        Path = made.Path;
        Cleanup = std::move(made.Entry);
    }
    ~TTempFile() { ::unlink(Path.c_str()); }
    TTempFile(const TTempFile&) = delete;
    TTempFile& operator=(const TTempFile&) = delete;
    const std::string& Name() const { return Path; }

private:
    std::string Path;
    std::unique_ptr<rt::TCleanupEntry> Cleanup;
};

// Per cent of strips on stderr, while stderr is a terminal. It only shows: whatever the
// engine sets is taken, so that a result never depends on where stderr goes.
class TTermProgress : public rt::TProgressBar {
public:
    ~TTermProgress() override { EndLine(); }
    void SetVisible(bool visible) override {
        if (Shown && !visible) {
            Print(100);
            EndLine();
        }
        Shown = visible;
    }
    bool Visible() const override { return Shown; }
    void SetMin(int value) override { Lo = value; }
    int Min() const override { return Lo; }
    void SetMax(int value) override { Hi = value; }
    int Max() const override { return Hi; }
    void SetPosition(int value) override {
        Pos = value;
        long span = long(Hi) - Lo + 1;
        Print(span > 0 ? int(std::clamp((long(Pos) - Lo) * 100 / span, 0L, 100L)) : 100);
    }
    int Position() const override { return Pos; }
    void SetForeColor(rt::TColor) override {}

private:
    void Print(int percent) {
        if (percent == Percent) return;
        Percent = percent;
        LineOpen = true;
        std::fprintf(stderr, "\runpacking %3d%%", percent);
    }
    // A message that follows starts on a line of its own, after a failure as after success.
    void EndLine() {
        if (LineOpen) std::fputc('\n', stderr);
        LineOpen = false;
    }
    bool Shown = false, LineOpen = false;
    int Lo = 0, Hi = 100, Pos = 0, Percent = -1;
};

struct TArgs {
    std::vector<std::string> Positional;
    std::multimap<std::string, std::string> Options;
    bool Has(const std::string& k) const { return Options.count(k) > 0; }
    std::string Get(const std::string& k) const { return Options.find(k)->second; }
};

TArgs ParseArgs(const std::vector<std::string>& args, const std::vector<std::string>& valued,
                const std::vector<std::string>& flags) {
    TArgs out;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a.rfind("--", 0) != 0 || a == "--") {
            out.Positional.push_back(a);
            continue;
        }
        std::string name = a, value;
        bool inlineValue = false;
        if (auto eq = a.find('='); eq != std::string::npos) {
            name = a.substr(0, eq);
            value = a.substr(eq + 1);
            inlineValue = true;
        }
        if (std::find(flags.begin(), flags.end(), name) != flags.end() && !inlineValue) {
            out.Options.emplace(name, "");
        } else if (std::find(valued.begin(), valued.end(), name) != valued.end()) {
            if (!inlineValue) {
                if (i + 1 >= args.size()) throw TUsageError{name + " needs a value"};
                value = args[++i];
            }
            out.Options.emplace(name, value);
        } else {
            throw TUsageError{"unknown option " + name};
        }
    }
    return out;
}

void Require(bool ok, const std::string& what) {
    if (!ok) throw TUsageError{what};
}

// A sheet named on the command line; "-" is standard input, copied first into a file of its
// own (the engine seeks).
struct TSheetInput {
    std::unique_ptr<TTempFile> Copy;
    std::string Path;

    explicit TSheetInput(const std::string& path) : Path(path) {
        if (path != "-") return;
        Copy = std::make_unique<TTempFile>();
        CopySheet(STDIN_FILENO, Copy->Name());
        Path = Copy->Name();
    }

    // Copies what the open will read of the sheet on standard input, and no more: the
    // header, the directory and the tables tell how far its strips go. What cannot be a
    // sheet is refused before anything more is read.
    static void CopySheet(int fd, const std::string& to) {
        rt::TBinaryFile in, out, copy;
        in.AssignHandle(fd, "-");
        out.Assign(to);
        out.Rewrite();
        copy.Assign(to);
        copy.Reset();
        std::vector<char> buf(1 << 20);
        int64_t have = 0;
        for (int64_t need = 8; have < need;) {
            const size_t n = in.ReadSome(
                buf.data(), size_t(std::min<int64_t>(need - have, int64_t(buf.size()))));
            if (n == 0) break; // the sheet ends early: the open says so
            out.Write(buf.data(), n);
            have += int64_t(n);
            if (have < need) continue;
            if (need == 8 && !LooksLikeSheet(buf.data())) throw rt::TError(kNotASheet);
            need = TTiff::BytesNeeded(copy);
        }
        out.Close();
    }

    // The mark of a TIFF file and a directory behind the header.
    static bool LooksLikeSheet(const char* h) {
        // Sheets are big-endian: a little-endian mark is no sheet the engine can read.
        const bool mm = h[0] == 'M' && h[1] == 'M' && h[2] == 0 && h[3] == 42;
        const uint32_t dir = uint32_t(uint8_t(h[4])) << 24 | uint32_t(uint8_t(h[5])) << 16 |
                             uint32_t(uint8_t(h[6])) << 8 | uint8_t(h[7]);
        return mm && dir >= 8;
    }
};

// The sheet opened with a scratch file of its own.
struct TSheet {
    TSheetInput Input;
    std::unique_ptr<TTempFile> Scratch;
    TTermProgress Gauge;
    std::unique_ptr<TTiff> Map;

    // How a sheet is opened: one of a batch says nothing on the terminal; the scratch file is
    // scratchPath where one is given, else a file of its own; with a row count, only those rows
    // from firstRow on are unpacked.
    struct TOpen {
        bool Alone = true;
        std::string ScratchPath;
        int32_t FirstRow = 0, RowCount = -1;
        int32_t Step = 1; // an export's reduction: only the rows it samples
    };
    TSheet(const std::string& path, const TOpen& how) : Input(path) {
        if (how.ScratchPath.empty()) Scratch = std::make_unique<TTempFile>();
        Map = std::make_unique<TTiff>(nullptr,
                                      how.ScratchPath.empty() ? Scratch->Name() : how.ScratchPath);
        if (how.Alone && ::isatty(STDERR_FILENO)) Map->Gauge = &Gauge;
        // Unpacking beside the writing on a second core costs a third more CPU time than
        // it saves in wall time: a sheet keeps to one thread here, as one of a batch does.
        Map->DecodeAhead = false;
        if (how.Step > 1)
            Map->OpenSample(Input.Path, how.FirstRow, how.RowCount, how.Step);
        else if (how.RowCount < 0)
            Map->OpenFile(Input.Path);
        else
            Map->OpenRows(Input.Path, how.FirstRow, how.RowCount);
        // A script must not take a copy cut short for a good sheet.
        if (Map->Damage) throw *Map->Damage;
        if (Input.Copy) Map->SheetName = "-";
    }
};

// The plates to show and their colours: the viewer's defaults, changed by --hide and
// --color. Read before the sheet is unpacked, so that a usage error is quick.
struct TPlates {
    std::array<bool, 9> Visible{};
    std::array<rt::TColor, 9> Colors = plates::kDefaultColors;
};

TPlates PlateOptions(const TArgs& a) {
    TPlates p;
    for (int k = 1; k <= 8; ++k) p.Visible[size_t(k)] = true;
    for (auto [it, end] = a.Options.equal_range("--hide"); it != end; ++it)
        Require(mapsheet::ParseHide(it->second, p.Visible), "bad plate list: " + it->second);
    for (auto [it, end] = a.Options.equal_range("--color"); it != end; ++it)
        Require(mapsheet::ParseColor(it->second, p.Colors), "bad colour: " + it->second);
    return p;
}

// Says so when the engine would write nothing, rather than succeed with no picture.
void RequirePixel(int32_t width, int32_t height, int32_t col, int32_t row, int32_t cols,
                  int32_t rows, long double rate) {
    const int64_t inCols = std::min<int64_t>(cols, int64_t(width) - col);
    const int64_t inRows = std::min<int64_t>(rows, int64_t(height) - row);
    if (col < 0 || row < 0 || int64_t(inCols * rate) <= 0 || int64_t(inRows * rate) <= 0)
        throw rt::TError(kNoPixel);
}

void UsePlates(const TPlates& p, TTiff& map) {
    map.PlateVisible = p.Visible;
    map.PlateColor = p.Colors;
}

int Info(const std::vector<std::string>& args) {
    TArgs a = ParseArgs(args, {}, {});
    Require(a.Positional.size() == 1, "info takes one sheet");
    TSheet s(a.Positional[0], {});
    const TTiff& m = *s.Map;
    std::printf("name: %s\nwidth: %d\nheight: %d\nxdpi: %d\nydpi: %d\nstrips: %d\nrows: %d\n",
                m.SheetName.c_str(), m.Width, m.Height, m.XDpi, m.YDpi, m.StripCount,
                m.RowsWritten);
    if (m.DroppedBytes != 0)
        std::printf("dropped: %lld bytes\n", static_cast<long long>(m.DroppedBytes));
    return 0;
}

// The name of a sheet's output in a directory: its file name up to the first ".", or the
// whole file name where it has none.
std::string OutputName(const std::string& sheet, const char* ext) {
    std::string name = rt::ExtractFileName(sheet);
    if (auto dot = name.find('.'); dot != 0 && dot != std::string::npos) name.resize(dot);
    return name + ext;
}

// Converts many sheets, each into DIR/NAME.ext, jobs at a time, each with a scratch file of
// its own and on one core. A failure is told for its sheet and the others go on; on a
// terminal one line counts the sheets done.
int RunBatch(const std::vector<std::string>& sheets, const std::string& outDir, const char* ext,
             int jobCount, const std::function<void(const std::string&, const std::string&)>& one) {
    std::set<std::string> names;
    for (const auto& sheet : sheets) {
        Require(sheet != "-", "standard input is one sheet, not one of many");
        Require(names.insert(OutputName(sheet, ext)).second,
                "two sheets would write " + OutputName(sheet, ext));
    }
    if (rt::FileExists(outDir)) throw rt::TError("--out-dir " + outDir + " is not a directory");
    if (!rt::ForceDirectories(outDir)) rt::RaiseIoErrorFor(rt::JoinPath(outDir, "x"));
    const bool terminal = ::isatty(STDERR_FILENO);
    std::atomic<size_t> next{0};
    size_t done = 0, failed = 0;
    std::mutex report;
    auto work = [&] {
        for (size_t i; (i = next++) < sheets.size();) {
            std::string error;
            try {
                one(sheets[i], rt::JoinPath(outDir, OutputName(sheets[i], ext)));
            } catch (const std::exception& e) {
                error = e.what();
            }
            std::lock_guard<std::mutex> lock(report);
            // A signal that ends the process removes the jobs' files under them: what they
            // meet then is the stop, not the sheet's fault.
            if (rt::ProcessEnding()) return;
            ++done;
            if (!error.empty()) {
                ++failed;
                if (terminal) std::fputs("\r\033[K", stderr);
                std::fprintf(stderr, "mapsheet: %s: %s\n", sheets[i].c_str(), error.c_str());
            }
            if (terminal) std::fprintf(stderr, "\rsheets done: %zu/%zu", done, sheets.size());
        }
    };
    // The jobs share the cores: each sheet keeps to one thread. Threads the system does not
    // give leave their jobs to this one.
    {
        const size_t jobs = std::min<size_t>(size_t(jobCount), sheets.size());
        rt::TWorker workers(unsigned(jobs > 0 ? jobs - 1 : 0));
        std::vector<rt::TTask<void>> tasks;
        for (size_t t = 1; t < jobs; ++t) tasks.push_back(workers.Run(work));
        work();
        for (auto& t : tasks) t.Get();
    }
    if (terminal && !sheets.empty()) std::fputc('\n', stderr);
    return failed ? 1 : 0;
}

// The sheets and where their outputs go: "SHEET OUT", or "--out-dir DIR SHEET..." with
// --jobs N at a time.
struct TTargets {
    std::vector<std::string> Sheets;
    std::string Out, OutDir;
    int Jobs = 1;
};

TTargets Targets(const TArgs& a, const char* command) {
    TTargets t;
    if (!a.Has("--out-dir")) {
        Require(a.Positional.size() == 2,
                std::string(command) + " takes a sheet and an output file");
        Require(!a.Has("--jobs"), "--jobs goes with --out-dir");
        t.Sheets = {a.Positional[0]};
        t.Out = a.Positional[1];
        return t;
    }
    Require(!a.Positional.empty(), std::string(command) + " --out-dir takes one or more sheets");
    t.Sheets = a.Positional;
    t.OutDir = a.Get("--out-dir");
    int64_t jobs = std::max(1u, std::thread::hardware_concurrency());
    if (a.Has("--jobs"))
        Require(mapsheet::ParseInt(a.Get("--jobs"), 1, 256, jobs),
                "bad job count: " + a.Get("--jobs"));
    t.Jobs = int(jobs);
    return t;
}

void RasterOne(const std::string& sheet, const std::string& outPath, bool alone) {
    rt::TOutputFile out(outPath);
    if (!out.TempPath().empty()) {
        // The raster is the scratch file: unpacked straight into the output, no second pass.
        TSheet s(sheet, {alone, out.TempPath()});
        out.Commit();
        return;
    }
    TSheet s(sheet, {alone, {}});
    rt::TBinaryFile in;
    in.Assign(s.Map->ScratchPath);
    in.Reset();
    std::vector<char> buf(1 << 20);
    while (size_t n = in.ReadSome(buf.data(), buf.size())) out.Write(buf.data(), n);
    in.Close();
    out.Commit();
}

int Raster(const std::vector<std::string>& args) {
    TArgs a = ParseArgs(args, {"--out-dir", "--jobs"}, {});
    const TTargets t = Targets(a, "raster");
    if (t.OutDir.empty()) {
        RasterOne(t.Sheets[0], t.Out, true);
        return 0;
    }
    return RunBatch(
        t.Sheets, t.OutDir, ".raw", t.Jobs,
        [](const std::string& sheet, const std::string& out) { RasterOne(sheet, out, false); });
}

struct TExportOptions {
    long double Rate = 1;
    bool Window = false;
    std::array<int32_t, 4> Win{};
    TPlates Shown;
    bool Smooth = false;
};

// Whether a file can be written at any place: a regular file, or none yet. A bitmap's rows
// then go straight to their places as the sheet gives them, bottom row last.
bool Positional(const std::string& path) {
    struct stat st {};
    if (path == "-") return false;
    return ::stat(path.c_str(), &st) != 0 ? errno == ENOENT : S_ISREG(st.st_mode);
}

// Per cent of strips on a terminal as a stream walks them, for a sheet converted alone.
void ShowProgress(TSheetStream& s, TTermProgress& gauge, bool alone) {
    if (!alone || !::isatty(STDERR_FILENO) || s.Directory().StripCount <= 0) return;
    gauge.SetMax(s.Directory().StripCount - 1);
    gauge.SetVisible(true);
    s.OnStrip = [&gauge](int32_t strip) { gauge.SetPosition(strip); };
}

// The window an export writes, the whole sheet without --window; one that holds no pixel at
// the rate is refused.
std::array<int32_t, 4> ExportWindow(const TExportOptions& o, int32_t width, int32_t height) {
    const std::array<int32_t, 4> win =
        o.Window ? o.Win : std::array<int32_t, 4>{0, 0, width, height};
    RequirePixel(width, height, win[0], win[1], win[2], win[3], o.Rate);
    return win;
}

// An export composed from the sheet's strips as they are unpacked: no scratch file.
void StreamOne(const std::string& sheet, const std::string& out, const TExportOptions& o,
               bool alone) {
    TSheetInput input(sheet);
    TSheetStream s(input.Path);
    const TSheetDirectory& d = s.Directory();
    const std::array<int32_t, 4> win = ExportWindow(o, d.Width, d.Height);
    const TWindow w = ClipWindow(d.Width, d.Height, win[0], win[1], win[2], win[3], o.Rate);
    TTermProgress gauge;
    ShowProgress(s, gauge, alone);
    const TExportLook look{o.Shown.Visible, o.Shown.Colors, s.XDpi, s.YDpi, false};
    if (rt::IsPngName(out))
        StreamPng(s, look, w, o.Smooth, out);
    else
        StreamBitmap(s, look, w, out);
    gauge.SetVisible(false);
}

void ExportOne(const std::string& sheet, const std::string& out, const TExportOptions& o,
               bool alone) {
    if (rt::IsPngName(out) || Positional(out)) return StreamOne(sheet, out, o, alone);
    // A bitmap to a pipe is written bottom row first: its rows come from a scratch file.
    // A window needs only its rows unpacked, and a sampled reduction only the strips that
    // hold a row it samples.
    const int32_t step = int32_t(std::min<int64_t>(TTiff::SampleStep(o.Rate), INT32_MAX));
    TSheet s(sheet, {alone, {}, o.Window ? o.Win[1] : 0, o.Window ? o.Win[3] : -1, step});
    TTiff& m = *s.Map;
    UsePlates(o.Shown, m);
    const std::array<int32_t, 4> win = ExportWindow(o, m.Width, m.Height);
    m.SaveBitmap(win[0], win[1], win[2], win[3], o.Rate, out);
}

int Export(const std::vector<std::string>& args) {
    TArgs a = ParseArgs(
        args, {"--rate", "--window", "--hide", "--color", "--out-dir", "--jobs", "--format"},
        {"--smooth"});
    const TTargets t = Targets(a, "export");
    // One output's type comes from its name; a batch's from --format.
    Require(!a.Has("--format") || !t.OutDir.empty(), "--format goes with --out-dir");
    const std::string format = a.Has("--format") ? a.Get("--format") : "bmp";
    Require(format == "bmp" || format == "png", "bad format: " + format + " (bmp or png)");
    const bool png = t.OutDir.empty() ? rt::IsPngName(t.Out) : format == "png";
    // Averages are no colours of sixteen: a smooth export is a PNG.
    Require(!a.Has("--smooth") || png,
            "--smooth writes PNG: give an output ending in .png, or --format png");
    TExportOptions o;
    if (a.Has("--rate"))
        Require(mapsheet::ParseRate(a.Get("--rate"), o.Rate), "bad rate: " + a.Get("--rate"));
    o.Window = a.Has("--window");
    if (o.Window)
        Require(mapsheet::ParseInts(a.Get("--window"), 4, o.Win),
                "bad window: " + a.Get("--window"));
    o.Shown = PlateOptions(a);
    o.Smooth = a.Has("--smooth");
    if (t.OutDir.empty()) {
        ExportOne(t.Sheets[0], t.Out, o, true);
        return 0;
    }
    return RunBatch(t.Sheets, t.OutDir, png ? ".png" : ".bmp", t.Jobs,
                    [&o](const std::string& sheet, const std::string& out) {
                        ExportOne(sheet, out, o, false);
                    });
}

int Render(const std::vector<std::string>& args) {
    TArgs a = ParseArgs(args, {"--view", "--at", "--rate", "--hide", "--color"}, {"--smooth"});
    Require(a.Positional.size() == 2, "render takes a sheet and an output file");
    int width = 0, height = 0;
    Require(a.Has("--view"), "render needs --view WIDTHxHEIGHT");
    Require(mapsheet::ParseSize(a.Get("--view"), kMaxView, width, height),
            "bad view size: " + a.Get("--view"));
    std::array<int32_t, 4> at{};
    if (a.Has("--at"))
        Require(mapsheet::ParseInts(a.Get("--at"), 2, at), "bad position: " + a.Get("--at"));
    long double rate = 1;
    if (a.Has("--rate"))
        Require(mapsheet::ParseZoomRate(a.Get("--rate"), rate),
                "bad zoom rate: " + a.Get("--rate"));
    const TPlates shown = PlateOptions(a);
    rt::TBitmapCanvas canvas(width, height);
    const int32_t cols = int32_t(width / rate), rows = int32_t(height / rate);
    // The view's rows straight from the strips: every row of the window is walked, and
    // a damaged one or one the sheet lacks fails the picture.
    TSheetInput input(a.Positional[0]);
    TSheetStream s(input.Path);
    const TSheetDirectory& d = s.Directory();
    RequirePixel(d.Width, d.Height, at[0], at[1], cols, rows, rate);
    TTermProgress gauge;
    ShowProgress(s, gauge, true);
    canvas.FillRect({0, 0, width, height}, rt::kWhite);
    const std::array<uint32_t, 256> colours = PixelColours(shown.Visible, shown.Colors);
    const TStreamedPicture job{colours, a.Has("--smooth") && rate < 1, at[1], rows};
    rt::TBitmap work;
    DrawWindow(
        canvas, work, d.Width, d.Height, at[0], at[1], cols, rows, rate,
        [&](const TWindow& w, int64_t picCols, int64_t picRows, size_t, rt::TBitmap& picture) {
            ComposeStreamed(s, job, w, picCols, picRows, picture);
        });
    gauge.SetVisible(false);
    if (rt::IsPngName(a.Positional[1]))
        rt::SavePng24(canvas.Bitmap(), a.Positional[1]);
    else
        rt::SaveBitmap24(canvas.Bitmap(), a.Positional[1]);
    return 0;
}

int Sample(const std::vector<std::string>& args) {
    TArgs a = ParseArgs(args, {"--width", "--height", "--seed", "--dpi", "--strip-bytes"},
                        {"--literal-runs"});
    Require(a.Positional.size() == 1, "sample takes one output file");
    auto number = [&](const char* name, int64_t lo, int64_t hi, int64_t def) {
        int64_t v = def;
        if (a.Has(name))
            Require(mapsheet::ParseInt(a.Get(name), lo, hi, v), std::string("bad ") + name);
        return v;
    };
    int64_t w = number("--width", 1, TTiff::kMaxSide, 4000);
    int64_t h = number("--height", 1, TTiff::kMaxSide, 3000);
    Require(w * h <= (int64_t(1) << 31), "the sheet is too large to paint");
    sample::TSheetOptions o;
    uint32_t seed = uint32_t(number("--seed", 0, UINT32_MAX, 1));
    o.XDpi = o.YDpi = int32_t(number("--dpi", 0, INT32_MAX, 254));
    o.StripBytes = uint32_t(number("--strip-bytes", 1, UINT32_MAX, 8192));
    o.FillStrips = a.Has("--strip-bytes");
    o.LiteralRuns = a.Has("--literal-runs");
    sample::WriteSheet(a.Positional[0], sample::PaintSample(int(w), int(h), seed), o);
    return 0;
}

const std::map<std::string, int (*)(const std::vector<std::string>&)> kCommands = {
    {"info", Info}, {"raster", Raster}, {"export", Export}, {"render", Render}, {"sample", Sample},
};

} // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    if (args.empty()) {
        std::fputs(kMainUsage, stderr);
        return 2;
    }
    if (args[0] == "--help" || args[0] == "-h") {
        std::fputs(kMainUsage, stdout);
        return 0;
    }
    if (args[0] == "--version") {
        std::printf("mapsheet %s\n", MAPVIEW_VERSION);
        return 0;
    }
    auto cmd = kCommands.find(args[0]);
    if (cmd == kCommands.end()) {
        std::fprintf(stderr, "mapsheet: unknown command %s\n%s", args[0].c_str(), kMainUsage);
        return 2;
    }
    const std::string& usage = kUsage.at(args[0]);
    args.erase(args.begin());
    if (std::find(args.begin(), args.end(), "--help") != args.end() ||
        std::find(args.begin(), args.end(), "-h") != args.end()) {
        std::fputs(usage.c_str(), stdout);
        return 0;
    }
    // A file-size limit makes a write fail with its error instead of ending the process.
    std::signal(SIGXFSZ, SIG_IGN);
    rt::RemoveFilesOnSignals(rt::EndingSignals());
    int rc;
    try {
        rc = cmd->second(args);
    } catch (const TUsageError& e) {
        std::fprintf(stderr, "mapsheet: %s\n%s", e.Message.c_str(), usage.c_str());
        rc = 2;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "mapsheet: %s\n", e.what());
        rc = 1;
    }
    return rc;
}
