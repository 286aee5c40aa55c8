#include "runtime/PngFile.h"

#include "runtime/Errors.h"
#include "runtime/OutputFile.h"
#include "runtime/ScopeExit.h"

#include <csetjmp>
#include <png.h>
#include <strings.h>
#include <zlib.h>

namespace rt {

namespace {

// What libpng's callbacks share with the writer. libpng is C: an error leaves it by a jump
// back to the writer, never by an exception through its frames.
struct TPngSink {
    TOutputFile* Out = nullptr;
    std::exception_ptr Failure; // the output's own error, raised once libpng has let go
};

void WriteBytes(png_structp png, png_bytep data, png_size_t n) {
    auto* sink = static_cast<TPngSink*>(png_get_io_ptr(png));
    try {
        sink->Out->Write(data, n);
    } catch (...) {
        sink->Failure = std::current_exception();
    }
    // Jumped out of only once the handler has ended: a jump from inside it would leave the
    // exception caught for good.
    if (sink->Failure) png_error(png, "write failed");
}

void Flush(png_structp) {}

void OnError(png_structp png, png_const_charp) {
    png_longjmp(png, 1);
}
void OnWarning(png_structp, png_const_charp) {}

// How the picture is laid out and compressed, decided before libpng runs.
struct TPngLayout {
    uint32_t Width = 0, Height = 0;
    bool Palette = false;
    const std::vector<png_color>* Entries = nullptr;
    int32_t XPpm = 0, YPpm = 0;
    bool Small = false;
    uint8_t* Packed = nullptr; // 4-bit indices, two to a byte, high nibble first
};

// Runs the whole write inside libpng's jump buffer; false when libpng gave up. No object
// with a destructor lives between the setjmp and the calls that may jump back to it.
bool WriteImage(png_structp png, png_infop info, TPngSink* sink, const TPngLayout& l,
                const std::function<void(uint32_t, uint8_t*)>& fill, uint8_t* row) {
    if (setjmp(png_jmpbuf(png))) return false;
    png_set_write_fn(png, sink, WriteBytes, Flush);
    png_set_IHDR(png, info, l.Width, l.Height, l.Packed ? 4 : 8,
                 l.Palette ? PNG_COLOR_TYPE_PALETTE : PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    if (l.Palette) png_set_PLTE(png, info, l.Entries->data(), int(l.Entries->size()));
    if (l.XPpm > 0 && l.YPpm > 0)
        png_set_pHYs(png, info, png_uint_32(l.XPpm), png_uint_32(l.YPpm), PNG_RESOLUTION_METER);
    if (l.Small) png_set_compression_mem_level(png, 1);
    if (l.Palette) {
        // A map's plates are long runs of one colour, much like the row above: each row as
        // it is or as its difference from the one above, whichever looks smaller, compressed
        // as runs, is about as small as the default compression makes it and several times
        // quicker.
        png_set_filter(png, PNG_FILTER_TYPE_BASE, PNG_FILTER_NONE | PNG_FILTER_UP);
        png_set_compression_strategy(png, Z_RLE);
    }
    png_write_info(png, info);
    for (uint32_t y = 0; y < l.Height; ++y) {
        fill(y, row);
        if (uint8_t* p = l.Packed) {
            uint32_t x = 0;
            for (; x + 1 < l.Width; x += 2) p[x / 2] = uint8_t(row[x] << 4 | (row[x + 1] & 15));
            if (x < l.Width) p[x / 2] = uint8_t(row[x] << 4);
        }
        png_write_row(png, l.Packed ? l.Packed : row);
    }
    png_write_end(png, info);
    return true;
}

void Save(const std::string& path, uint32_t width, uint32_t height, bool palette,
          const std::vector<TColor>& colours, int32_t xPpm, int32_t yPpm,
          const std::function<void(uint32_t, uint8_t*)>& fill, const TReplace& how) {
    TOutputFile out(path, how);
    TPngSink sink{&out, nullptr};
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, OnError, OnWarning);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    // Whatever ends the write, a row that failed to be read included.
    TScopeExit destroy([&] { png_destroy_write_struct(&png, &info); });
    if (!info) throw TError("PNG を書き出せません");
    std::vector<uint8_t> row(size_t(width) * (palette ? 1 : 3));
    std::vector<png_color> entries;
    for (TColor c : colours) entries.push_back({RedOf(c), GreenOf(c), BlueOf(c)});
    // Sixteen colours fit in four bits: half the bytes to compress.
    std::vector<uint8_t> packed(palette && entries.size() <= 16 ? (size_t(width) + 1) / 2 : 0);
    TPngLayout layout{width, height, palette, &entries, xPpm, yPpm};
    // A small picture needs no large hash tables: setting them up would cost more than
    // compressing it.
    layout.Small = uint64_t(row.size() + 1) * height < 64 * 1024;
    layout.Packed = packed.empty() ? nullptr : packed.data();
    const bool ok = WriteImage(png, info, &sink, layout, fill, row.data());
    if (sink.Failure) std::rethrow_exception(sink.Failure);
    if (!ok) throw TError("PNG を書き出せません");
    out.Commit();
}

} // namespace

void SavePng8(const std::string& path, uint32_t width, uint32_t height,
              const std::vector<TColor>& palette, int32_t xPixelsPerMetre, int32_t yPixelsPerMetre,
              const std::function<void(uint32_t y, uint8_t* out)>& row, const TReplace& how) {
    Save(path, width, height, true, palette, xPixelsPerMetre, yPixelsPerMetre, row, how);
}

void SavePngRgb(const std::string& path, uint32_t width, uint32_t height,
                const std::function<void(uint32_t y, uint8_t* out)>& row, const TReplace& how) {
    Save(path, width, height, false, {}, 0, 0, row, how);
}

void SavePng24(const TBitmap& bitmap, const std::string& path) {
    Save(path, uint32_t(bitmap.Width()), uint32_t(bitmap.Height()), false, {}, 0, 0,
         [&](uint32_t y, uint8_t* out) {
             const uint8_t* s = bitmap.ScanLine(int(y));
             for (int x = 0; x < bitmap.Width(); ++x, s += 3, out += 3) {
                 out[0] = s[2];
                 out[1] = s[1];
                 out[2] = s[0];
             }
         },
         {});
}

bool IsPngName(const std::string& path) {
    return path.size() >= 4 && ::strcasecmp(path.c_str() + path.size() - 4, ".png") == 0;
}

} // namespace rt
