// Arbitrary bytes as a map sheet: open it, then draw small windows of it at several rates,
// sampled and smooth, and export them as bitmap and PNG. Every faster open (a window of rows,
// a sample, a view's rows first) must give exactly the rows of the whole open, or fail alike:
// a difference aborts. The sheet and its scratch file live in memory and go with the
// process, however it ends.

#include "engine/PackBits.h"
#include "engine/SheetStream.h"
#include "engine/TiffIO.h"
#include "fuzz/Reach.h"
#include "runtime/Errors.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sched.h>
#include <string>
#include <sys/mman.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

TFuzzReach gFuzzReach;

namespace {

// A memory file that the engine opens by its /proc path like any regular file.
class TMemFile {
public:
    explicit TMemFile(const char* name) : Fd(::memfd_create(name, MFD_CLOEXEC)) {
        if (Fd < 0) {
            std::perror("memfd_create");
            std::abort();
        }
        Path = "/proc/self/fd/" + std::to_string(Fd);
    }
    const std::string& Name() const { return Path; }
    void Fill(const uint8_t* data, size_t size) {
        if (::ftruncate(Fd, 0) != 0) std::abort();
        for (size_t done = 0; done < size;) {
            ssize_t n = ::pwrite(Fd, data + done, size - done, off_t(done));
            if (n <= 0) std::abort();
            done += size_t(n);
        }
    }

private:
    int Fd;
    std::string Path;
};

// Runs one engine call; the errors it raises are its way of refusing the input.
template <class F> void Try(F&& f) {
    try {
        f();
    } catch (const rt::TError&) {
    }
}

// The scratch file and the exports on a small file system of the process's own: a sheet
// that stands for more rows than it holds meets a real full disk, and what is written goes
// with the process however it ends. Where no file system can be mounted, $TMPDIR.
const std::string& WorkDir() {
    // Never destroyed, so that the clean-up at exit can still name it.
    static const std::string* dir = [] {
        const char* tmp = std::getenv("TMPDIR");
        auto* d = new std::string(std::string(tmp && *tmp ? tmp : "/tmp") + "/fuzz-tiff-" +
                                  std::to_string(::getpid()));
        if (::mkdir(d->c_str(), 0700) != 0) {
            std::perror(d->c_str());
            std::abort();
        }
        if (::unshare(CLONE_NEWNS) != 0 ||
            ::mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
            ::mount("fuzz", d->c_str(), "tmpfs", 0, "size=1m") != 0)
            std::fprintf(stderr, "fuzz_tiff: no file system of its own, writing in %s\n",
                         d->c_str());
        std::atexit([] {
            ::umount2(WorkDir().c_str(), MNT_DETACH);
            ::rmdir(WorkDir().c_str());
        });
        return d;
    }();
    return *dir;
}

// The size of a written export, which then goes.
int64_t TakeSize(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return 0;
    ::unlink(path.c_str());
    return st.st_size;
}

// Rows first to first + count - 1 of a scratch file, or fewer where it ends.
std::vector<uint8_t> ReadRows(const std::string& path, int64_t width, int64_t first,
                              int64_t count) {
    std::vector<uint8_t> rows(size_t(std::max<int64_t>(width * count, 0)));
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return {};
    size_t n = 0;
    if (std::fseek(f, long(first * width), SEEK_SET) == 0)
        n = std::fread(rows.data(), 1, rows.size(), f);
    std::fclose(f);
    rows.resize(n);
    return rows;
}

[[noreturn]] void Differ(const char* what, int64_t row) {
    std::fprintf(stderr, "fuzz_tiff: %s: row %lld differs from the whole open's\n", what,
                 static_cast<long long>(row));
    std::abort();
}

// The rows the whole open placed, and the check that a faster open placed the same.
struct TWholeRows {
    const TTiff& Whole;
    std::vector<uint8_t> Bytes; // rows 0 to Whole.RowsWritten - 1

    bool Holds(int64_t r) const { return r >= 0 && r < Whole.RowsWritten; }
    // Row r as the faster open holds it (held) must be the whole open's, and held where the
    // whole open holds it when must says so.
    void Check(const char* what, int64_t r, bool held, bool must, const uint8_t* row) const {
        const size_t w = size_t(Whole.Width);
        if (held && (!Holds(r) || std::memcmp(row, Bytes.data() + size_t(r) * w, w) != 0))
            Differ(what, r);
        if (must && Holds(r) && !held) Differ(what, r);
        gFuzzReach.RowsCompared += held;
    }
};

// Opens a window of rows, and a sample of rows, of the sheet and checks each row they hold.
template <class TOpen>
void CheckFaster(const char* what, const TWholeRows& whole, const std::string& scratch, bool ahead,
                 int64_t first, int64_t count, int64_t step, TOpen open) {
    TTiff t(nullptr, scratch);
    t.DecodeAhead = ahead;
    try {
        open(t);
    } catch (const rt::EInOutError& e) {
        if (e.ErrorCode() == rt::kDiskFull) return; // the small file system, not the rows
        Differ(what, -1);
    } catch (const rt::TError&) {
        Differ(what, -1); // the whole open went through
    }
    const int64_t w = t.Width, end = std::min<int64_t>(first + count, t.Height);
    for (int64_t r = first; r < end; ++r) {
        const bool held = t.HoldsRow(r);
        const std::vector<uint8_t> row = held ? ReadRows(scratch, w, r, 1) : std::vector<uint8_t>();
        if (held && int64_t(row.size()) != w) Differ(what, r);
        // Every row a sample reads: the window's last and each step-th above it.
        whole.Check(what, r, held, (end - 1 - r) % step == 0, row.data());
    }
}

// The bytes as one packed stream, decoded into a room of the given size at a time.
std::vector<uint8_t> DecodeAll(const uint8_t* p, const uint8_t* end, size_t room) {
    std::vector<uint8_t> out, buf(room);
    packbits::TState st;
    do {
        uint8_t* stop = packbits::Decode(p, end, buf.data(), buf.data() + room, st);
        out.insert(out.end(), buf.data(), stop);
    } while (p < end);
    return out;
}

// The rows a stream straight from the strips hands on for a window or a sample: each the
// whole open's, and all of them unless the stream fails where the whole open was damaged or
// lacks the window's last row.
void CheckStream(const char* what, const TWholeRows& whole, const std::string& sheet, int64_t first,
                 int64_t count, int64_t step) {
    const int64_t end = std::min<int64_t>(first + count, whole.Whole.Height);
    if (end <= first) return;
    int64_t next = end - 1 - (end - 1 - first) / step * step; // the first row wanted
    try {
        TSheetStream stream(sheet);
        stream.Walk(first, count, step, [&](int64_t r, const uint8_t* row) {
            if (r != next) Differ(what, r);
            whole.Check(what, r, true, false, row);
            gFuzzReach.StreamedRows += 1;
            next += step;
        });
    } catch (const rt::TError&) {
        if (!whole.Whole.Damage && whole.Holds(end - 1)) Differ(what, next);
        return;
    }
    if (next < end) Differ(what, next);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static TMemFile sheet("sheet.tif");
    static const std::string scratch = WorkDir() + "/tiff.tmp", bitmap = WorkDir() + "/out.bmp",
                             png = WorkDir() + "/out.png";
    sheet.Fill(data, size);
    gFuzzReach = {};
    // The decoder's quick loop, which wants room for a run to spare, against its plain walk
    // alone in a room of one run.
    if (DecodeAll(data, data + size, 4096) != DecodeAll(data, data + size, 128))
        Differ("decode", -1);

    constexpr uint32_t kUnset = 0x00010203; // a colour no plate has
    rt::TBitmapCanvas canvas(48, 32);
    static const rt::TBitmap unsetRow = [] {
        rt::TBitmapCanvas row(48, 1);
        row.FillRect({0, 0, 48, 1}, kUnset);
        return row.Bitmap();
    }();
    rt::TProgressModel gauge;
    TTiff map(&canvas, scratch);
    map.Gauge = &gauge;
    // Both ways of unpacking; handing strips to another thread costs more than a small
    // input's whole work, so one input in four.
    map.DecodeAhead = gFuzzReach.DecodedAhead = size % 4 == 0; // both ways of unpacking
    for (int k = 1; k <= 8; ++k) map.PlateVisible[size_t(k)] = k % 3 != 0;
    // One input in four has a view inside the sheet unpacked first: its rows as they are
    // when the view is first drawn.
    std::vector<uint8_t> viewRows;
    int32_t viewTop = 0;
    if (size % 4 == 1) {
        map.ShowFirst = {5, 8};
        map.OnRows = [&] {
            if (gFuzzReach.ViewFirst || !viewRows.empty()) return;
            viewTop = std::clamp(5, 0, std::max(map.Height - 8, 0));
            if (!map.HoldsRows(viewTop, 8) || map.HoldsRow(0)) return;
            gFuzzReach.ViewFirst = true;
            viewRows = ReadRows(scratch, map.Width, viewTop, std::min(8, map.Height));
        };
    }
    Try([&] { map.OpenFile(sheet.Name()); });
    map.OnRows = nullptr;
    gFuzzReach.RowsUnpacked = map.RowsWritten;

    // A refused sheet may leave any size behind.
    const int32_t w = std::max(map.Width, 0), h = std::max(map.Height, 0);

    // The faster opens against the whole one.
    if (map.Loaded && w > 0) {
        const TWholeRows whole{map, ReadRows(scratch, w, 0, map.RowsWritten)};
        if (int64_t(whole.Bytes.size()) != int64_t(w) * map.RowsWritten) Differ("whole", -1);
        for (int64_t r = 0; r * w < int64_t(viewRows.size()); ++r)
            whole.Check("first view", viewTop + r, true, false, viewRows.data() + r * w);
        const std::string other = WorkDir() + "/faster.tmp";
        const bool ahead = map.DecodeAhead;
        const int64_t top = h / 3, rows = std::min<int64_t>(h - top, 9);
        CheckFaster("window", whole, other, ahead, top, rows, 1,
                    [&](TTiff& t) { t.OpenRows(sheet.Name(), int32_t(top), int32_t(rows)); });
        CheckFaster("sample", whole, other, ahead, top, rows, 4,
                    [&](TTiff& t) { t.OpenSample(sheet.Name(), int32_t(top), int32_t(rows), 4); });
        CheckFaster("sample of all", whole, other, ahead, 0, h, 16,
                    [&](TTiff& t) { t.OpenSample(sheet.Name(), 0, -1, 16); });
        CheckStream("stream", whole, sheet.Name(), top, rows, 1);
        CheckStream("streamed sample", whole, sheet.Name(), 0, h, 16);
    }
    uint8_t pixel;
    map.PixelAt(w - 1, h - 1, pixel);

    // The view never composes more than the canvas shows, whatever the sheet's size.
    struct {
        long double Rate;
        bool Smooth;
    } views[] = {{1, false}, {8, false}, {0.75L, false}, {0.25L, true}, {1.0L / 64, true}};
    for (const auto& v : views) {
        canvas.FillRect({0, 0, 48, 32}, kUnset);
        map.Smooth = v.Smooth;
        Try([&] {
            map.Draw(map.Width / 3, map.Height / 5, int32_t(48 / v.Rate), int32_t(32 / v.Rate),
                     v.Rate);
        });
        bool drawn = false;
        for (int y = 0; y < 32 && !drawn; ++y)
            drawn = std::memcmp(canvas.Bitmap().ScanLine(y), unsetRow.ScanLine(0), 48 * 3) != 0;
        gFuzzReach.DrawsWithPixels += drawn;
    }

    // A bitmap reduced over a corner that clipping cuts; PNG at full size and smooth.
    auto exported = [](const std::string& path) { gFuzzReach.Exports += TakeSize(path) > 0; };
    map.Smooth = false;
    Try([&] { map.SaveBitmap(std::max(w - 700, 0), h / 2, 1000, 600, 1.0L / 16, bitmap); });
    exported(bitmap);
    Try([&] { map.SavePng(0, 0, std::min(w, 64), std::min(h, 48), 1, png); });
    exported(png);
    map.Smooth = true;
    Try([&] { map.SavePng(0, 0, std::min(w, 64), std::min(h, 48), 0.25L, png); });
    exported(png);

    // One input in four again: the rows an export at 1/4 samples, and that export.
    if (size % 4 == 2) {
        TTiff sampled(nullptr, scratch);
        sampled.PlateVisible = map.PlateVisible;
        Try([&] { sampled.OpenSample(sheet.Name(), 0, -1, 4); });
        Try([&] { sampled.SaveBitmap(0, 0, w, h, 0.25L, bitmap); });
        gFuzzReach.SampledExport = TakeSize(bitmap) > 0;
        gFuzzReach.StripsPassed = sampled.Loaded && !sampled.HoldsRows(0, h);
    }
    return 0;
}
