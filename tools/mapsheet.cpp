// mapsheet: the map image engine for scripts and batch work.

#include "engine/Plates.h"
#include "engine/TiffIO.h"
#include "runtime/BinaryFile.h"
#include "runtime/BitmapFile.h"
#include "runtime/Errors.h"
#include "runtime/OutputFile.h"
#include "runtime/SignalCleanup.h"
#include "tools/MapSheetArgs.h"
#include "tools/SampleSheet.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <string>
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
    "  render SHEET OUT.bmp    a 24-bit bitmap of what a view of the viewer shows\n"
    "  sample OUT.tif          a synthetic sheet\n"
    "\n"
    "SHEET - reads the sheet from standard input, OUT - writes to standard output.\n"
    "mapsheet COMMAND --help tells more.\n";

const std::map<std::string, std::string> kUsage = {
    {"info", "usage: mapsheet info SHEET\n"},
    {"raster", "usage: mapsheet raster SHEET OUT\n"},
    {"export", "usage: mapsheet export SHEET OUT.bmp [--rate R] [--window COL,ROW,COLS,ROWS]\n"
               "                        [--hide PLATES] [--color K=RRGGBB]...\n"
               "  --rate R        1, 1/2, 1/4 ... 1/64, or the same as a decimal: 0.5, 0.25 ...\n"
               "                  (default 1)\n"
               "  --window ...    the part of the sheet to write (default the whole sheet)\n"
               "  --hide PLATES   comma-separated plate numbers 1 to 8 to leave out\n"
               "  --color K=RRGGBB  colour of plate K (1 to 8) or of the background (0)\n"},
    {"render",
     "usage: mapsheet render SHEET OUT.bmp --view WIDTHxHEIGHT [--at COL,ROW] [--rate R]\n"
     "                        [--hide PLATES] [--color K=RRGGBB]...\n"
     "  --view WxH      size of the view in screen pixels\n"
     "  --at COL,ROW    sheet pixel at the view's top-left corner (default 0,0)\n"
     "  --rate R        zoom rate: 1/64, 1/32 ... 1/2, 1, 2, 4 or 8 (default 1)\n"
     "  --hide, --color as for export\n"},
    {"sample",
     "usage: mapsheet sample OUT.tif [--width W] [--height H] [--seed N] [--dpi N]\n"
     "                        [--strip-bytes N] [--literal-runs]\n"
     "  defaults: 4000 x 3000 pixels, seed 1, 254 dpi, strips of at most 8192 packed bytes,\n"
     "  PackBits in two-byte units only (--literal-runs adds literal runs)\n"},
};

struct TUsageError {
    std::string Message;
};

constexpr int kMaxView = 16384;
const char* const kNoPixel = "the window holds no pixel of the sheet at this rate";

// A temporary file of ours in $TMPDIR (or /tmp), removed by a signal that ends the process
// as by the destructor; it is registered before a signal could find it half made.
class TTempFile {
public:
    TTempFile() {
        const char* tmp = std::getenv("TMPDIR");
        Path = std::string(tmp && *tmp ? tmp : "/tmp") + "/mapsheet-XXXXXX";
        const std::string pattern = Path;
        rt::TSignalBlock block;
        int fd = ::mkstemp(Path.data());
        if (fd < 0) rt::RaiseIoErrorFor(pattern);
        ::close(fd);
        Cleanup = std::make_unique<rt::TCleanupEntry>(Path);
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

// The sheet opened with a scratch file of its own; "-" is standard input, copied first
// into a file of its own (the engine seeks).
struct TSheet {
    std::unique_ptr<TTempFile> Input, Scratch;
    TTermProgress Gauge;
    std::unique_ptr<TTiff> Map;

    // The sheet unpacks into scratchPath where one is given, else into a file of its own;
    // with a row count, only those rows from firstRow on are unpacked.
    TSheet(const std::string& path, rt::TCanvasSurface* canvas, const std::string& scratchPath = {},
           int32_t firstRow = 0, int32_t rowCount = -1) {
        std::string sheet = path;
        if (path == "-") {
            Input = std::make_unique<TTempFile>();
            CopyAll(STDIN_FILENO, Input->Name());
            sheet = Input->Name();
        }
        if (scratchPath.empty()) Scratch = std::make_unique<TTempFile>();
        Map = std::make_unique<TTiff>(canvas, scratchPath.empty() ? Scratch->Name() : scratchPath);
        if (::isatty(STDERR_FILENO)) Map->Gauge = &Gauge;
        if (rowCount < 0)
            Map->OpenFile(sheet);
        else
            Map->OpenRows(sheet, firstRow, rowCount);
    }

    static void CopyAll(int fd, const std::string& to) {
        rt::TBinaryFile in, out;
        in.AssignHandle(fd, "-");
        out.Assign(to);
        out.Rewrite();
        std::vector<char> buf(1 << 20);
        while (size_t n = in.ReadSome(buf.data(), buf.size())) out.Write(buf.data(), n);
        out.Close();
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
void RequirePixel(const TTiff& m, int32_t col, int32_t row, int32_t cols, int32_t rows,
                  long double rate) {
    const int64_t inCols = std::min<int64_t>(cols, int64_t(m.Width) - col);
    const int64_t inRows = std::min<int64_t>(rows, int64_t(m.Height) - row);
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
    TSheet s(a.Positional[0], nullptr);
    const TTiff& m = *s.Map;
    std::printf("name: %s\nwidth: %d\nheight: %d\nxdpi: %d\nydpi: %d\nstrips: %d\nrows: %d\n",
                m.SheetName.c_str(), m.Width, m.Height, m.XDpi, m.YDpi, m.StripCount,
                m.RowsWritten);
    if (m.DroppedBytes != 0)
        std::printf("dropped: %lld bytes\n", static_cast<long long>(m.DroppedBytes));
    return 0;
}

int Raster(const std::vector<std::string>& args) {
    TArgs a = ParseArgs(args, {}, {});
    Require(a.Positional.size() == 2, "raster takes a sheet and an output file");
    rt::TOutputFile out(a.Positional[1]);
    if (!out.TempPath().empty()) {
        // The raster is the scratch file: unpacked straight into the output, no second pass.
        TSheet s(a.Positional[0], nullptr, out.TempPath());
        out.Commit();
        return 0;
    }
    TSheet s(a.Positional[0], nullptr);
    rt::TBinaryFile in;
    in.Assign(s.Map->ScratchPath);
    in.Reset();
    std::vector<char> buf(1 << 20);
    while (size_t n = in.ReadSome(buf.data(), buf.size())) out.Write(buf.data(), n);
    in.Close();
    out.Commit();
    return 0;
}

int Export(const std::vector<std::string>& args) {
    TArgs a = ParseArgs(args, {"--rate", "--window", "--hide", "--color"}, {});
    Require(a.Positional.size() == 2, "export takes a sheet and an output file");
    long double rate = 1;
    if (a.Has("--rate"))
        Require(mapsheet::ParseRate(a.Get("--rate"), rate), "bad rate: " + a.Get("--rate"));
    std::array<int32_t, 4> win{};
    bool window = a.Has("--window");
    if (window)
        Require(mapsheet::ParseInts(a.Get("--window"), 4, win), "bad window: " + a.Get("--window"));
    const TPlates shown = PlateOptions(a);
    // A window needs only its rows unpacked.
    TSheet s(a.Positional[0], nullptr, {}, window ? win[1] : 0, window ? win[3] : -1);
    TTiff& m = *s.Map;
    UsePlates(shown, m);
    if (!window) win = {0, 0, m.Width, m.Height};
    RequirePixel(m, win[0], win[1], win[2], win[3], rate);
    m.SaveBitmap(win[0], win[1], win[2], win[3], rate, a.Positional[1]);
    return 0;
}

int Render(const std::vector<std::string>& args) {
    TArgs a = ParseArgs(args, {"--view", "--at", "--rate", "--hide", "--color"}, {});
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
    TSheet s(a.Positional[0], &canvas, {}, at[1], rows); // only the rows the view shows
    UsePlates(shown, *s.Map);
    const TTiff& m = *s.Map;
    RequirePixel(m, at[0], at[1], cols, rows, rate);
    // A written picture must not show rows a damaged sheet did not give.
    if (!m.HoldsRows(at[1], rows)) throw rt::EInOutError(rt::kReadPastEnd);
    canvas.FillRect({0, 0, width, height}, rt::kWhite);
    s.Map->Draw(at[0], at[1], cols, rows, rate);
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
    rt::RemoveFilesOnSignals({SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGPIPE});
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
