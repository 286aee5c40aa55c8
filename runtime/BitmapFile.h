#pragma once
// Writes a runtime bitmap as an uncompressed 24-bit BMP file (bottom-up rows, 54-byte header).

#include "runtime/Bitmap.h"

#include <string>

namespace rt {

void SaveBitmap24(const TBitmap& bitmap, const std::string& path);

} // namespace rt
