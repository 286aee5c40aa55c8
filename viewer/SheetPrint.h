#pragma once
// Printing a window of the open sheet: at the sheet's own scale (a 1:25,000 sheet gives a
// 1:25,000 map on paper) across as many pages as it needs, or fitted to one page.

#include "engine/TiffIO.h"

#include <QPrinter>
#include <string>
#include <vector>

struct TSheetWindow {
    int64_t Col = 0, Row = 0, Cols = 0, Rows = 0;
    bool operator==(const TSheetWindow&) const = default;
};

// The windows of the pages that cover w, pageCols x pageRows sheet pixels each, each page
// repeating the last overlap pixels of the one before it; row by row, left to right.
std::vector<TSheetWindow> PageWindows(const TSheetWindow& w, int64_t pageCols, int64_t pageRows,
                                      int64_t overlapCols, int64_t overlapRows);

// Prints window w of sheet with its plates and colours as they are set. Each page says in
// its margin which it is ("C12345 2/6"). A sheet without a resolution is fitted to one page.
// Raises the runtime's error where the printer cannot be drawn on.
void PrintSheet(QPrinter& printer, TTiff& sheet, const TSheetWindow& w, bool fitToPage);
