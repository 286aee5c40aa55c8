// Arbitrary bytes as a map sheet: open it, then draw and export small windows of it.
// Every file lives in memory and goes with the process, however it ends.

#include "engine/TiffIO.h"
#include "runtime/Errors.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/mman.h>
#include <unistd.h>

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

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static TMemFile sheet("sheet.tif"), scratch("tiff.tmp");
    // Exports are composed and written in full, to a device that keeps nothing.
    static const std::string bitmap = "/dev/null";
    sheet.Fill(data, size);

    rt::TBitmapCanvas canvas(48, 32);
    rt::TProgressModel gauge;
    TTiff map(&canvas, scratch.Name());
    map.Gauge = &gauge;
    for (int k = 1; k <= 8; ++k) map.PlateVisible[size_t(k)] = k % 3 != 0;
    Try([&] { map.OpenFile(sheet.Name()); });

    // A refused sheet may leave any size behind.
    const int32_t w = std::max(map.Width, 0), h = std::max(map.Height, 0);
    uint8_t pixel;
    map.PixelAt(w - 1, h - 1, pixel);

    // The view never composes more than the canvas shows, whatever the sheet's size.
    const long double rates[] = {1, 8, 0.75L, 1.0L / 64};
    for (long double rate : rates)
        Try([&] {
            map.Draw(map.Width / 3, map.Height / 5, int32_t(48 / rate), int32_t(32 / rate), rate);
        });

    // At full size, and reduced over a corner that clipping cuts.
    Try([&] { map.SaveBitmap(0, 0, std::min(w, 96), std::min(h, 40), 1, bitmap); });
    Try([&] { map.SaveBitmap(std::max(w - 700, 0), h / 2, 1000, 600, 1.0L / 16, bitmap); });
    return 0;
}
