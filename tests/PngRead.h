#pragma once
// Reading back what the program wrote, independently of it: PNG through libpng, the
// bitmaps by their format, both as RGB rows from the top.

#include <cstdint>
#include <png.h>
#include <string>
#include <vector>

namespace testing_support {

struct TRgbPicture {
    uint32_t Width = 0, Height = 0;
    bool Palette = false;
    uint32_t Colours = 0;
    std::vector<uint8_t> Rgb; // three bytes a pixel, rows from the top
};

inline TRgbPicture ReadPng(const std::string& path) {
    TRgbPicture p;
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&image, path.c_str())) return p;
    p.Palette = (image.format & PNG_FORMAT_FLAG_COLORMAP) != 0;
    p.Colours = image.colormap_entries;
    image.format = PNG_FORMAT_RGB;
    p.Width = image.width;
    p.Height = image.height;
    p.Rgb.resize(PNG_IMAGE_SIZE(image));
    if (!png_image_finish_read(&image, nullptr, p.Rgb.data(), 0, nullptr)) p = {};
    return p;
}

// A 4- or 24-bit bitmap as the program writes them.
inline TRgbPicture ReadBmp(const std::vector<uint8_t>& f) {
    auto le = [&](size_t at) {
        return uint32_t(f[at]) | uint32_t(f[at + 1]) << 8 | uint32_t(f[at + 2]) << 16 |
               uint32_t(f[at + 3]) << 24;
    };
    TRgbPicture p;
    p.Width = le(18);
    p.Height = le(22);
    const uint32_t bits = f[28], offset = le(10);
    const size_t stride = (size_t(p.Width) * bits + 31) / 32 * 4;
    p.Rgb.resize(size_t(p.Width) * p.Height * 3);
    for (uint32_t y = 0; y < p.Height; ++y) {
        const uint8_t* row = f.data() + offset + size_t(p.Height - 1 - y) * stride;
        for (uint32_t x = 0; x < p.Width; ++x) {
            uint8_t* d = p.Rgb.data() + (size_t(y) * p.Width + x) * 3;
            if (bits == 24) {
                d[0] = row[3 * x + 2], d[1] = row[3 * x + 1], d[2] = row[3 * x];
            } else {
                const uint8_t i = x % 2 ? row[x / 2] & 15 : row[x / 2] >> 4;
                const uint8_t* c = f.data() + 54 + 4 * i;
                d[0] = c[2], d[1] = c[1], d[2] = c[0];
            }
        }
    }
    return p;
}

} // namespace testing_support
