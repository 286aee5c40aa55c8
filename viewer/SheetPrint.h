#pragma once
// Printing a window of the open sheet: at the sheet's own scale (a 1:25,000 sheet gives a
// 1:25,000 map on paper) across as many pages as it needs, or fitted to one page. Each page
// carries in its margin the sheet's name, its place among the pages, the scale, a scale bar
// and a diagram of all pages; the map itself is only the sheet's pixels.

#include "engine/TiffIO.h"

#include <QPageLayout>
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

// "1:25,000" at the sheet's own scale; "約 1:52,600" (three figures) for any other.
std::string ScaleText(double denominator, bool exact);

struct TPrintJob {
    TSheetWindow Window;
    bool FitToPage = false;
    // Else the orientation that takes fewer pages is used (fitted: the one with the larger
    // map), portrait where both are alike.
    bool OrientationChosen = false;
};

// How many pages window w takes on printer's paper in orientation o.
size_t PageCount(const QPrinter& printer, const TTiff& sheet, const TSheetWindow& w, bool fit,
                 QPageLayout::Orientation o);
// The orientation a job that leaves it open takes.
QPageLayout::Orientation BestOrientation(const QPrinter& printer, const TTiff& sheet,
                                         const TSheetWindow& w, bool fit);

// More pages than this are printed only after a question.
constexpr size_t kPagesWithoutAsking = 50;

// Prints the job's window of sheet with its plates and colours as they are set, the pages of
// the printer's page range alone where it has one. A sheet without a resolution is fitted
// to one page. A window that reaches rows a damaged sheet does not hold is refused, as
// saving it is. Raises the runtime's error where the job cannot be done; the job is then
// aborted, and a PDF file being written is removed (an existing one stays as it was).
void PrintSheet(QPrinter& printer, TTiff& sheet, const TPrintJob& job);
