#pragma once
// The zoom rates of the view: view pixels per sheet pixel, the powers of two from 1/64 to 8.

#include <array>

namespace zoom {

inline constexpr std::array<double, 10> kRates = {1.0 / 64, 1.0 / 32, 1.0 / 16, 1.0 / 8, 1.0 / 4,
                                                  1.0 / 2,  1,        2,        4,       8};
inline constexpr double kMinRate = kRates.front();
inline constexpr double kMaxRate = kRates.back();

// Whether rate is one of them, exactly.
constexpr bool IsRate(long double rate) {
    for (double r : kRates)
        if (rate == r) return true;
    return false;
}

} // namespace zoom
