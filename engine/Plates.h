#pragma once
// The plates' default colours: slot 0 is the white background, slots 1 to 8 the plates.

#include "runtime/Bitmap.h"

#include <array>

namespace plates {

inline constexpr std::array<rt::TColor, 9> kDefaultColors = {
    rt::RGB(255, 255, 255), // background
    rt::RGB(255, 255, 0),   // 1 brown mask
    rt::RGB(0, 255, 255),   // 2 indigo mask
    rt::RGB(0, 128, 0),     // 3 black mask
    rt::RGB(115, 115, 0),   // 4 brown
    rt::RGB(0, 0, 255),     // 5 indigo
    rt::RGB(77, 77, 77),    // 6 black
    rt::RGB(255, 255, 255), // 7 annotation mask
    rt::RGB(0, 0, 0),       // 8 annotation
};

} // namespace plates
