#include "runtime/PngFile.h"

#include "runtime/Errors.h"
#include "runtime/OutputFile.h"

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

// Each libpng call that may give up runs inside a jump buffer of its own; false when libpng
// gave up. No object with a destructor lives between the setjmp and the calls that may jump
// back to it.
template <typename F> bool Guarded(png_structp png, F&& f) {
    if (setjmp(png_jmpbuf(png))) return false;
    f();
    return true;
}

} // namespace

struct TPngWriter::TState {
    TOutputFile Out;
    TPngSink Sink{&Out, nullptr};
    png_structp Png = nullptr;
    png_infop Info = nullptr;
    std::vector<uint8_t> Row, Packed;
    std::vector<png_color> Entries;
    uint32_t Width, Height, Written = 0;
    TState(const std::string& path, const TReplace& how, uint32_t width, uint32_t height)
        : Out(path, how), Width(width), Height(height) {}
    ~TState() { png_destroy_write_struct(&Png, &Info); }
    // What libpng gave up on: the output's own error where that was the cause.
    [[noreturn]] void Fail() {
        if (Sink.Failure) std::rethrow_exception(Sink.Failure);
        throw TError("PNG を書き出せません");
    }
};

TPngWriter::TPngWriter(const std::string& path, uint32_t width, uint32_t height,
                       const std::vector<TColor>& palette, int32_t xPpm, int32_t yPpm,
                       const TReplace& how)
    : S(std::make_unique<TState>(path, how, width, height)) {
    const bool indexed = !palette.empty();
    S->Png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, OnError, OnWarning);
    S->Info = S->Png ? png_create_info_struct(S->Png) : nullptr;
    if (!S->Info) throw TError("PNG を書き出せません");
    S->Row.resize(size_t(width) * (indexed ? 1 : 3));
    for (TColor c : palette) S->Entries.push_back({RedOf(c), GreenOf(c), BlueOf(c)});
    // Sixteen colours fit in four bits: half the bytes to compress.
    if (indexed && palette.size() <= 16) S->Packed.resize((size_t(width) + 1) / 2);
    // A small picture needs no large hash tables: setting them up would cost more than
    // compressing it.
    const bool small = uint64_t(S->Row.size() + 1) * height < 64 * 1024;
    png_structp png = S->Png;
    png_infop info = S->Info;
    TState* st = S.get();
    const bool ok = Guarded(png, [&] {
        png_set_write_fn(png, &st->Sink, WriteBytes, Flush);
        png_set_IHDR(png, info, width, height, st->Packed.empty() ? 8 : 4,
                     indexed ? PNG_COLOR_TYPE_PALETTE : PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                     PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
        if (indexed) png_set_PLTE(png, info, st->Entries.data(), int(st->Entries.size()));
        if (xPpm > 0 && yPpm > 0)
            png_set_pHYs(png, info, png_uint_32(xPpm), png_uint_32(yPpm), PNG_RESOLUTION_METER);
        if (small) png_set_compression_mem_level(png, 1);
        if (indexed) {
            // A map's plates are long runs of one colour, much like the row above: each row
            // as it is or as its difference from the one above, whichever looks smaller,
            // compressed as runs, is about as small as the default compression makes it and
            // several times quicker.
            png_set_filter(png, PNG_FILTER_TYPE_BASE, PNG_FILTER_NONE | PNG_FILTER_UP);
            png_set_compression_strategy(png, Z_RLE);
        }
        png_write_info(png, info);
    });
    if (!ok) S->Fail();
}

TPngWriter::~TPngWriter() = default;

uint8_t* TPngWriter::Row() {
    return S->Row.data();
}

void TPngWriter::Put() {
    const uint8_t* row = S->Row.data();
    if (!S->Packed.empty()) {
        uint8_t* p = S->Packed.data();
        uint32_t x = 0;
        for (; x + 1 < S->Width; x += 2) p[x / 2] = uint8_t(row[x] << 4 | (row[x + 1] & 15));
        if (x < S->Width) p[x / 2] = uint8_t(row[x] << 4);
        row = p;
    }
    png_structp png = S->Png;
    if (!Guarded(png, [&] { png_write_row(png, row); })) S->Fail();
    ++S->Written;
}

void TPngWriter::Commit() {
    if (S->Written != S->Height) throw TError("PNG を書き出せません");
    png_structp png = S->Png;
    png_infop info = S->Info;
    if (!Guarded(png, [&] { png_write_end(png, info); })) S->Fail();
    S->Out.Commit();
}

namespace {

void Save(const std::string& path, uint32_t width, uint32_t height, bool palette,
          const std::vector<TColor>& colours, int32_t xPpm, int32_t yPpm,
          const std::function<void(uint32_t, uint8_t*)>& fill, const TReplace& how) {
    TPngWriter png(path, width, height, palette ? colours : std::vector<TColor>{}, xPpm, yPpm, how);
    for (uint32_t y = 0; y < height; ++y) {
        fill(y, png.Row());
        png.Put();
    }
    png.Commit();
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
