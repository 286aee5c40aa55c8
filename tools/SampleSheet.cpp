#include "tools/SampleSheet.h"

#include "runtime/BinaryFile.h"

#include <algorithm>
#include <cmath>
#include <random>

namespace sample {

void PutBE16(std::vector<uint8_t>& v, size_t at, uint16_t x) {
    v[at] = uint8_t(x >> 8);
    v[at + 1] = uint8_t(x);
}

void PutBE32(std::vector<uint8_t>& v, size_t at, uint32_t x) {
    for (int i = 0; i < 4; ++i) v[at + size_t(i)] = uint8_t(x >> (24 - 8 * i));
}

void PackRow(const uint8_t* row, size_t n, bool literalRuns, std::vector<uint8_t>& out) {
    size_t i = 0;
    while (i < n) {
        size_t run = 1;
        while (i + run < n && run < 128 && row[i + run] == row[i]) ++run;
        if (run >= 2 || !literalRuns) {
            out.push_back(static_cast<uint8_t>(static_cast<int8_t>(1 - int(run))));
            out.push_back(row[i]);
            i += run;
            continue;
        }
        // A literal run goes on until two equal bytes start a replicate run.
        size_t start = i, len = 0;
        while (i < n && len < 128 && !(i + 1 < n && row[i + 1] == row[i])) {
            ++i;
            ++len;
        }
        out.push_back(static_cast<uint8_t>(len - 1));
        out.insert(out.end(), row + start, row + start + len);
    }
}

namespace {

// Where each strip begins, the sheet's end last: the rows given, strips filled up to the
// byte budget, or the largest equal strips that all fit it. rps: the largest strip's rows.
std::vector<size_t> StripStarts(const std::vector<uint64_t>& prefix, const TSheetOptions& o,
                                size_t& rps) {
    const size_t h = prefix.size() - 1;
    std::vector<size_t> starts{0};
    rps = std::max<size_t>(h, 1);
    if (!o.StripRows.empty()) {
        rps = 1;
        for (size_t i = 0; i < o.StripRows.size() && starts.back() < h; ++i) {
            const size_t end = i + 1 == o.StripRows.size()
                                   ? h
                                   : std::min<size_t>(h, starts.back() + o.StripRows[i]);
            rps = std::max(rps, end - starts.back());
            starts.push_back(end);
        }
    } else if (o.FillStrips) {
        rps = 1;
        for (size_t y = 0; y < h;) {
            size_t end = y + 1; // a row larger than the budget still makes a strip
            while (end < h && prefix[end + 1] - prefix[y] <= o.StripBytes) ++end;
            rps = std::max(rps, end - y);
            starts.push_back(y = end);
        }
    } else {
        auto fits = [&](size_t r) {
            for (size_t y = 0; y < h; y += r)
                if (prefix[std::min(h, y + r)] - prefix[y] > o.StripBytes) return false;
            return true;
        };
        while (rps > 1 && !fits(rps)) rps = std::max<size_t>(1, std::min(rps - 1, rps * 9 / 10));
        while (rps < h && fits(rps + 1)) ++rps; // the coarse walk may have stepped past the best
        for (size_t y = rps; y < h; y += rps) starts.push_back(y);
        if (h > 0) starts.push_back(h);
    }
    return starts;
}

} // namespace

std::vector<uint8_t> BuildSheet(const TRaster& raster, const TSheetOptions& o) {
    const size_t w = size_t(raster.Width), h = size_t(raster.Height);
    // Pack every row, then choose the largest rows-per-strip whose strips all fit.
    std::vector<std::vector<uint8_t>> rows(h);
    std::vector<uint64_t> prefix(h + 1, 0);
    for (size_t y = 0; y < h; ++y) {
        if (o.Compression == 1)
            rows[y].assign(raster.Row(int(y)), raster.Row(int(y)) + w);
        else
            PackRow(raster.Row(int(y)), w, o.LiteralRuns, rows[y]);
        prefix[y + 1] = prefix[y] + rows[y].size();
    }
    size_t rps = 1;
    const std::vector<size_t> starts = StripStarts(prefix, o, rps);
    const size_t strips = starts.size() - 1;
    if (o.StatedRowsPerStrip) rps = o.StatedRowsPerStrip;

    const uint16_t entries = 12;
    const size_t dir = o.FirstDirOffset;
    const size_t dirEnd = dir + 2 + 12 * entries + 4;
    const size_t offTable = dirEnd, countTable = offTable + 4 * strips;
    const size_t xRes = countTable + 4 * strips, yRes = xRes + 8;
    const size_t data = yRes + 8;
    std::vector<uint8_t> f(data, 0);
    f[0] = 'M';
    f[1] = 'M';
    PutBE16(f, 2, 42);
    PutBE32(f, 4, uint32_t(dir));
    PutBE16(f, dir, entries);
    size_t at = dir + 2;
    std::vector<uint32_t> stripOffsets, stripCounts;
    size_t pos = data;
    for (size_t s = 0; s < strips; ++s) {
        uint64_t n = prefix[starts[s + 1]] - prefix[starts[s]];
        stripOffsets.push_back(uint32_t(pos));
        stripCounts.push_back(uint32_t(n));
        pos += n;
    }
    auto entry = [&](uint16_t tag, uint16_t type, uint32_t count, uint32_t value) {
        PutBE16(f, at, tag);
        PutBE16(f, at + 2, type);
        PutBE32(f, at + 4, count);
        if (type == 3 && count == 1) {
            PutBE16(f, at + 8, uint16_t(value));
        } else {
            PutBE32(f, at + 8, value);
        }
        at += 12;
    };
    entry(256, 4, 1, uint32_t(w));
    entry(257, 4, 1, o.StatedHeight ? o.StatedHeight : uint32_t(h));
    entry(258, 3, 1, 8);
    entry(259, 3, 1, o.Compression);
    entry(262, 3, 1, 1);
    entry(273, 4, uint32_t(strips), strips == 1 ? stripOffsets[0] : uint32_t(offTable));
    entry(277, 3, 1, 1);
    entry(278, 4, 1, uint32_t(rps));
    entry(279, 4, uint32_t(strips), strips == 1 ? stripCounts[0] : uint32_t(countTable));
    entry(282, 5, 1, uint32_t(xRes));
    entry(283, 5, 1, uint32_t(yRes));
    entry(296, 3, 1, 2);
    PutBE32(f, at, 0); // no next directory
    for (size_t s = 0; s < strips; ++s) {
        PutBE32(f, offTable + 4 * s, stripOffsets[s]);
        PutBE32(f, countTable + 4 * s, stripCounts[s]);
    }
    PutBE32(f, xRes, uint32_t(o.XDpi));
    PutBE32(f, xRes + 4, 1);
    PutBE32(f, yRes, uint32_t(o.YDpi));
    PutBE32(f, yRes + 4, 1);
    f.reserve(pos);
    for (auto& r : rows) {
        f.insert(f.end(), r.begin(), r.end());
        std::vector<uint8_t>().swap(r);
    }
    return f;
}

void WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
    rt::TBinaryFile file;
    file.Assign(path);
    file.Rewrite();
    file.Write(bytes.data(), bytes.size());
    file.Close();
}

void WriteSheet(const std::string& path, const TRaster& raster, const TSheetOptions& options) {
    WriteBytes(path, BuildSheet(raster, options));
}

namespace {

uint64_t SplitMix(uint64_t x) {
    x += 0x9E3779B97F4A7C15ull;
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
    return x ^ (x >> 31);
}

// Smooth value noise in [0, 1): random heights on a grid, interpolated.
class TNoise {
public:
    TNoise(uint32_t seed, int cell) : Seed(seed), Cell(cell) {}
    double At(int x, int y) const {
        int gx = x / Cell, gy = y / Cell;
        double fx = double(x % Cell) / Cell, fy = double(y % Cell) / Cell;
        fx = fx * fx * (3 - 2 * fx);
        fy = fy * fy * (3 - 2 * fy);
        double a = Grid(gx, gy), b = Grid(gx + 1, gy), c = Grid(gx, gy + 1),
               d = Grid(gx + 1, gy + 1);
        return (a * (1 - fx) + b * fx) * (1 - fy) + (c * (1 - fx) + d * fx) * fy;
    }

private:
    double Grid(int gx, int gy) const {
        uint64_t k = SplitMix(uint64_t(Seed) << 40 ^ uint64_t(uint32_t(gx)) << 20 ^ uint32_t(gy) ^
                              uint64_t(Cell) << 56);
        return double(k >> 11) / double(1ull << 53);
    }
    uint32_t Seed;
    int Cell;
};

class TPainter {
public:
    TPainter(TRaster& r, uint32_t seed) : R(r), Rng(seed) {}

    int Uniform(int lo, int hi) { // inclusive
        if (hi <= lo) return lo;
        return lo + int(Rng() % uint32_t(hi - lo + 1));
    }

    void Or(int x, int y, uint8_t bits) {
        if (x >= 0 && y >= 0 && x < R.Width && y < R.Height) R.Row(y)[x] |= bits;
    }
    void Box(int x0, int y0, int x1, int y1, uint8_t bits) {
        for (int y = std::max(y0, 0); y < std::min(y1, R.Height); ++y)
            for (int x = std::max(x0, 0); x < std::min(x1, R.Width); ++x) R.Row(y)[x] |= bits;
    }
    // A line with a square brush of the given width.
    // Sets the bits of set and clears those of clear under the brush.
    void Line(int x0, int y0, int x1, int y1, int width, uint8_t set, uint8_t clear = 0) {
        int dx = std::abs(x1 - x0), dy = -std::abs(y1 - y0);
        int sx = x0 < x1 ? 1 : -1, sy = y0 < y1 ? 1 : -1, err = dx + dy;
        int lo = -(width / 2), hi = lo + width;
        for (;;) {
            for (int y = std::max(y0 + lo, 0); y < std::min(y0 + hi, R.Height); ++y) {
                uint8_t* row = R.Row(y);
                for (int x = std::max(x0 + lo, 0); x < std::min(x0 + hi, R.Width); ++x)
                    row[x] = uint8_t((row[x] & ~clear) | set);
            }
            if (x0 == x1 && y0 == y1) break;
            int e2 = 2 * err;
            if (e2 >= dy) {
                err += dy;
                x0 += sx;
            }
            if (e2 <= dx) {
                err += dx;
                y0 += sy;
            }
        }
    }

    TRaster& R;
    std::mt19937 Rng;
};

} // namespace

TRaster PaintSample(int width, int height, uint32_t seed) {
    TRaster r(std::max(width, 0), std::max(height, 0));
    if (r.Width == 0 || r.Height == 0) return r;
    TPainter p(r, seed);
    const TNoise broad(seed, 512), detail(seed ^ 0x5bd1e995u, 96);
    const double kInterval = 0.03, kSea = 0.28;

    // Relief: contour lines on the brown plate, water with its shoreline on indigo.
    std::vector<int> above(size_t(r.Width)), here(size_t(r.Width));
    std::vector<char> wetAbove(size_t(r.Width)), wet(size_t(r.Width));
    for (int y = 0; y < r.Height; ++y) {
        uint8_t* row = r.Row(y);
        for (int x = 0; x < r.Width; ++x) {
            double h = 0.8 * broad.At(x, y) + 0.2 * detail.At(x, y);
            here[size_t(x)] = int(h / kInterval);
            wet[size_t(x)] = h < kSea;
        }
        for (int x = 0; x < r.Width; ++x) {
            bool w = wet[size_t(x)];
            bool shore =
                (x + 1 < r.Width && wet[size_t(x) + 1] != w) || (y > 0 && wetAbove[size_t(x)] != w);
            if (w) row[x] |= kIndigoMask;
            if (shore) row[x] |= kIndigo;
            bool contour = (x + 1 < r.Width && here[size_t(x) + 1] != here[size_t(x)]) ||
                           (y > 0 && above[size_t(x)] != here[size_t(x)]);
            if (contour && !w) row[x] |= kBrown;
        }
        std::swap(above, here);
        std::swap(wetAbove, wet);
    }

    const double area = double(r.Width) * r.Height;
    // Built-up areas: hatched black mask with buildings on the black plate.
    int towns = std::max(1, int(area / 2.0e6));
    for (int i = 0; i < towns; ++i) {
        int cx = p.Uniform(0, r.Width - 1), cy = p.Uniform(0, r.Height - 1);
        int hw = p.Uniform(40, 200), hh = p.Uniform(40, 200);
        for (int y = cy - hh; y < cy + hh; ++y)
            for (int x = cx - hw; x < cx + hw; ++x)
                if ((x + y) % 6 == 0) p.Or(x, y, kBlackMask);
        int blocks = p.Uniform(5, 30);
        for (int b = 0; b < blocks; ++b) {
            int bx = p.Uniform(cx - hw, cx + hw), by = p.Uniform(cy - hh, cy + hh);
            p.Box(bx, by, bx + p.Uniform(4, 16), by + p.Uniform(4, 16), kBlack);
        }
    }
    // Roads: thin black lines; national roads: brown-filled bands with black edges.
    auto randomPath = [&](int width, uint8_t bits, int segments) {
        int x = p.Uniform(0, r.Width - 1), y = p.Uniform(0, r.Height - 1);
        for (int s = 0; s < segments; ++s) {
            int nx = std::clamp(x + p.Uniform(-600, 600), 0, r.Width - 1);
            int ny = std::clamp(y + p.Uniform(-600, 600), 0, r.Height - 1);
            p.Line(x, y, nx, ny, width, bits);
            x = nx;
            y = ny;
        }
    };
    int roads = std::max(2, int(area / 5.0e5));
    for (int i = 0; i < roads; ++i) randomPath(2, kBlack, p.Uniform(3, 10));
    int national = std::max(1, int(area / 8.0e6));
    for (int i = 0; i < national; ++i) {
        std::vector<std::pair<int, int>> pts{
            {p.Uniform(0, r.Width - 1), p.Uniform(0, r.Height - 1)}};
        int segments = p.Uniform(4, 12);
        for (int s = 0; s < segments; ++s)
            pts.emplace_back(std::clamp(pts.back().first + p.Uniform(-800, 800), 0, r.Width - 1),
                             std::clamp(pts.back().second + p.Uniform(-800, 800), 0, r.Height - 1));
        // Black edges, then a brown band whose inside loses the black.
        for (size_t s = 1; s < pts.size(); ++s)
            p.Line(pts[s - 1].first, pts[s - 1].second, pts[s].first, pts[s].second, 8, kBlack);
        for (size_t s = 1; s < pts.size(); ++s) {
            p.Line(pts[s - 1].first, pts[s - 1].second, pts[s].first, pts[s].second, 5, kBrownMask,
                   kBlack);
        }
    }
    // Rivers: water bands with a shoreline on each side.
    int rivers = std::max(1, int(area / 6.0e6));
    for (int i = 0; i < rivers; ++i) {
        std::vector<std::pair<int, int>> pts{{p.Uniform(0, r.Width - 1), 0}};
        while (pts.back().second < r.Height)
            pts.emplace_back(std::clamp(pts.back().first + p.Uniform(-150, 150), 0, r.Width - 1),
                             pts.back().second + p.Uniform(80, 300));
        for (size_t s = 1; s < pts.size(); ++s)
            p.Line(pts[s - 1].first, pts[s - 1].second, pts[s].first, pts[s].second, 14, kIndigo,
                   kBrown);
        for (size_t s = 1; s < pts.size(); ++s)
            p.Line(pts[s - 1].first, pts[s - 1].second, pts[s].first, pts[s].second, 10,
                   kIndigoMask, kIndigo);
    }
    // Names: glyph blocks on the annotation plate over a white annotation mask.
    int names = std::max(1, int(area / 4.0e5));
    for (int i = 0; i < names; ++i) {
        int glyphs = p.Uniform(2, 6), size = p.Uniform(10, 18);
        int x0 = p.Uniform(0, std::max(0, r.Width - glyphs * size)),
            y0 = p.Uniform(0, std::max(0, r.Height - size));
        p.Box(x0 - 2, y0 - 2, x0 + glyphs * size + 2, y0 + size + 2, kAnnotationMask);
        for (int g = 0; g < glyphs; ++g) {
            int gx = x0 + g * size;
            int strokes = p.Uniform(3, 6);
            for (int s = 0; s < strokes; ++s) {
                int ax = gx + p.Uniform(1, size - 2), ay = y0 + p.Uniform(1, size - 2);
                int bx = gx + p.Uniform(1, size - 2), by = y0 + p.Uniform(1, size - 2);
                p.Line(ax, ay, bx, by, 1, kAnnotation);
            }
        }
    }
    return r;
}

} // namespace sample
