#pragma once
// The part of a window that lies in a sheet and the sampling that covers it at a rate.

#include <algorithm>
#include <cstdint>

// Truncation toward zero of a product that may not fit an int.
inline int64_t TruncTo64(long double v) {
    if (!(v > 0)) return 0;
    if (v >= 9.0e18L) return INT64_MAX;
    return static_cast<int64_t>(v);
}

// The rows and columns a picture at rate samples: every step-th.
inline int64_t SampleStepOf(long double rate) {
    return rate >= 1 || !(rate > 0) ? 1 : TruncTo64(1 / rate);
}

struct TWindow {
    int64_t Col = 0, Row = 0, Cols = 0, Rows = 0;
    int64_t Step = 1, OutCols = 0, OutRows = 0;
    bool Empty() const { return Cols <= 0 || Rows <= 0 || OutCols <= 0 || OutRows <= 0; }
};

inline TWindow ClipWindow(int32_t width, int32_t height, int32_t col, int32_t row, int32_t cols,
                          int32_t rows, long double rate) {
    TWindow w;
    if (!(rate > 0) || col < 0 || row < 0) return w;
    w.Col = col;
    w.Row = row;
    w.Cols = cols;
    w.Rows = rows;
    if (width < w.Col + w.Cols) w.Cols = width - w.Col;
    if (height < w.Row + w.Rows) w.Rows = height - w.Row;
    if (w.Cols <= 0 || w.Rows <= 0) return w;
    w.Step = SampleStepOf(rate);
    w.OutCols = TruncTo64(w.Cols * rate);
    w.OutRows = TruncTo64(w.Rows * rate);
    if (rate < 1) {
        // The grid must stay inside the window whatever the rounding of rate.
        w.OutCols = std::min(w.OutCols, (w.Cols - 1) / w.Step + 1);
        w.OutRows = std::min(w.OutRows, (w.Rows - 1) / w.Step + 1);
    }
    return w;
}
