#include "tools/MapSheetArgs.h"

#include "engine/ZoomRates.h"
#include "runtime/Strings.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <vector>

namespace mapsheet {

namespace {

bool IsDecimal(const std::string& t) {
    if (t.empty()) return false;
    bool digit = false, dot = false;
    for (char c : t) {
        if (c >= '0' && c <= '9') {
            digit = true;
        } else if (c == '.' && !dot) {
            dot = true;
        } else {
            return false;
        }
    }
    return digit;
}

} // namespace

bool ParseInt(const std::string& text, int64_t lo, int64_t hi, int64_t& value) {
    if (text.empty() || text.size() > 20) return false;
    size_t i = text[0] == '-' ? 1 : 0;
    if (i == text.size()) return false;
    for (size_t j = i; j < text.size(); ++j)
        if (text[j] < '0' || text[j] > '9') return false;
    errno = 0;
    long long v = std::strtoll(text.c_str(), nullptr, 10);
    if (errno != 0 || v < lo || v > hi) return false;
    value = v;
    return true;
}

bool ParseZoomRate(const std::string& text, long double& rate) {
    long double r;
    if (text.rfind("1/", 0) == 0) {
        int64_t n;
        if (!ParseInt(text.substr(2), 1, 64, n)) return false;
        r = 1.0L / static_cast<long double>(n);
    } else {
        if (!IsDecimal(text)) return false;
        r = std::strtold(text.c_str(), nullptr);
    }
    if (!zoom::IsRate(r)) return false;
    rate = r;
    return true;
}

bool ParseRate(const std::string& text, long double& rate) {
    long double r;
    if (!ParseZoomRate(text, r) || r > 1) return false;
    rate = r;
    return true;
}

bool ParseInts(const std::string& text, size_t count, std::array<int32_t, 4>& values) {
    auto parts = rt::Split(text, ',');
    if (parts.size() != count) return false;
    for (size_t i = 0; i < count; ++i) {
        int64_t v;
        if (!ParseInt(parts[i], INT32_MIN, INT32_MAX, v)) return false;
        values[i] = static_cast<int32_t>(v);
    }
    return true;
}

bool ParseSize(const std::string& text, int maxSide, int& width, int& height) {
    auto parts = rt::Split(text, 'x');
    int64_t w, h;
    if (parts.size() != 2 || !ParseInt(parts[0], 1, maxSide, w) ||
        !ParseInt(parts[1], 1, maxSide, h))
        return false;
    width = static_cast<int>(w);
    height = static_cast<int>(h);
    return true;
}

bool ParseHide(const std::string& text, std::array<bool, 9>& visible) {
    std::array<bool, 9> v = visible;
    for (const auto& part : rt::Split(text, ',')) {
        int64_t k;
        if (!ParseInt(part, 1, 8, k)) return false;
        v[static_cast<size_t>(k)] = false;
    }
    visible = v;
    return true;
}

bool ParseColor(const std::string& text, std::array<rt::TColor, 9>& colors) {
    auto parts = rt::Split(text, '=');
    int64_t k;
    if (parts.size() != 2 || !ParseInt(parts[0], 0, 8, k) || parts[1].size() != 6) return false;
    uint32_t rgb = 0;
    for (char c : parts[1]) {
        int d = c >= '0' && c <= '9'   ? c - '0'
                : c >= 'a' && c <= 'f' ? c - 'a' + 10
                : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                       : -1;
        if (d < 0) return false;
        rgb = rgb << 4 | uint32_t(d);
    }
    colors[static_cast<size_t>(k)] = rt::RGB(uint8_t(rgb >> 16), uint8_t(rgb >> 8), uint8_t(rgb));
    return true;
}

} // namespace mapsheet
