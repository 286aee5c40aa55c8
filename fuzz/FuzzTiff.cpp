// Arbitrary bytes as a map sheet: open it, then draw and export whatever it gave.

#include "engine/TiffIO.h"
#include "runtime/Errors.h"

#include <cstdio>
#include <string>
#include <unistd.h>

namespace {

std::string TempName(const char* what) {
    return "/tmp/mapview-fuzz-" + std::to_string(::getpid()) + "." + what;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::string sheet = TempName("tif"), scratch = TempName("tmp"),
                             bitmap = TempName("bmp");
    if (FILE* f = std::fopen(sheet.c_str(), "wb")) {
        std::fwrite(data, 1, size, f);
        std::fclose(f);
    } else {
        return 0;
    }
    rt::TBitmapCanvas canvas(64, 48);
    rt::TProgressModel gauge;
    TTiff map(&canvas, scratch);
    map.Gauge = &gauge;
    for (int k = 1; k <= 8; ++k) map.PlateVisible[size_t(k)] = k % 3 != 0;
    try {
        map.OpenFile(sheet);
    } catch (const rt::TError&) {
    }
    const long double rates[] = {1, 8, 0.5L, 1.0L / 64, 0.75L};
    for (long double rate : rates) {
        try {
            map.Draw(map.Width / 3, map.Height / 5, int32_t(64 / rate), int32_t(48 / rate), rate);
        } catch (const rt::TError&) {
        }
    }
    try {
        map.SaveBitmap(0, 0, map.Width, map.Height, 1.0L / 16, bitmap);
    } catch (const rt::TError&) {
    }
    try {
        map.SaveBitmap(1, 1, 40, 40, 1, bitmap);
    } catch (const rt::TError&) {
    }
    ::unlink(bitmap.c_str());
    return 0;
}
