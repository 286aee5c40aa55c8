#pragma once
// Parsing of the mapsheet command line's values. Each parser returns false on a value it
// does not accept; the caller turns that into a usage error.

#include "runtime/Bitmap.h"

#include <array>
#include <cstdint>
#include <string>

namespace mapsheet {

// A reduction: "1", "1/2" ... "1/64", or the same as a decimal ("0.5" ... "0.015625").
bool ParseRate(const std::string& text, long double& rate);
// One of the viewer's ten zoom rates, 1/64 to 8.
bool ParseZoomRate(const std::string& text, long double& rate);
// A whole number within [lo, hi].
bool ParseInt(const std::string& text, int64_t lo, int64_t hi, int64_t& value);
// "A,B" or "A,B,C,D" of 32-bit integers.
bool ParseInts(const std::string& text, size_t count, std::array<int32_t, 4>& values);
// "WIDTHxHEIGHT", each from 1 to maxSide.
bool ParseSize(const std::string& text, int maxSide, int& width, int& height);
// Comma-separated plate numbers 1 to 8; each named plate is hidden in visible.
bool ParseHide(const std::string& text, std::array<bool, 9>& visible);
// "K=RRGGBB" with K from 0 to 8.
bool ParseColor(const std::string& text, std::array<rt::TColor, 9>& colors);

} // namespace mapsheet
