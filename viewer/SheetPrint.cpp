#include "viewer/SheetPrint.h"

#include "runtime/Canvas.h"
#include "runtime/Errors.h"
#include "runtime/ScopeExit.h"

#include <QImage>
#include <QPainter>
#include <algorithm>
#include <cmath>

namespace {

constexpr double kMarginMm = 10, kOverlapMm = 10;

int64_t Pixels(double mm, double dpi) {
    return int64_t(std::floor(mm / 25.4 * dpi + 1e-9));
}

// Draws window w of the sheet onto target, a band of rows at a time: each sheet pixel a
// rectangle of the target, never smoothed.
void DrawWindow(QPainter& p, TTiff& sheet, const TSheetWindow& w, const QRectF& target) {
    const double sy = target.height() / double(w.Rows);
    const int64_t band = std::clamp<int64_t>((4 << 20) / std::max<int64_t>(w.Cols, 1), 1, w.Rows);
    rt::TBitmapCanvas canvas(int(w.Cols), int(band));
    rt::TCanvasSurface* shown = sheet.TargetCanvas;
    rt::TScopeExit back([&] { sheet.TargetCanvas = shown; });
    sheet.TargetCanvas = &canvas;
    for (int64_t y = 0; y < w.Rows; y += band) {
        const int64_t rows = std::min(band, w.Rows - y);
        canvas.FillRect({0, 0, int(w.Cols), int(band)}, sheet.PlateColor[0]);
        sheet.Draw(int32_t(w.Col), int32_t(w.Row + y), int32_t(w.Cols), int32_t(rows), 1);
        const rt::TBitmap& b = canvas.Bitmap();
        const QImage image(b.ScanLine(0), b.Width(), int(rows), qsizetype(b.Stride()),
                           QImage::Format_BGR888);
        p.drawImage(
            QRectF(target.left(), target.top() + double(y) * sy, target.width(), double(rows) * sy),
            image);
    }
}

} // namespace

std::vector<TSheetWindow> PageWindows(const TSheetWindow& w, int64_t pageCols, int64_t pageRows,
                                      int64_t overlapCols, int64_t overlapRows) {
    std::vector<TSheetWindow> pages;
    if (w.Cols <= 0 || w.Rows <= 0 || pageCols <= 0 || pageRows <= 0) return pages;
    const int64_t stepX = std::max<int64_t>(pageCols - overlapCols, 1);
    const int64_t stepY = std::max<int64_t>(pageRows - overlapRows, 1);
    for (int64_t row = w.Row;; row += stepY) {
        for (int64_t col = w.Col;; col += stepX) {
            pages.push_back({col, row, std::min(pageCols, w.Col + w.Cols - col),
                             std::min(pageRows, w.Row + w.Rows - row)});
            if (col + pageCols >= w.Col + w.Cols) break;
        }
        if (row + pageRows >= w.Row + w.Rows) break;
    }
    return pages;
}

void PrintSheet(QPrinter& printer, TTiff& sheet, const TSheetWindow& w, bool fitToPage) {
    if (w.Cols <= 0 || w.Rows <= 0) return;
    printer.setFullPage(true); // the margins are ours: the page's place is printed in one
    QPainter p;
    if (!p.begin(&printer)) throw rt::TError("印刷できません");
    p.setRenderHint(QPainter::SmoothPixmapTransform, false);
    p.setRenderHint(QPainter::LosslessImageRendering); // never JPEG: the colours stay exact
    const double dpi = printer.resolution();
    const QRectF pageMm = printer.pageLayout().fullRect(QPageLayout::Millimeter);
    const double margin = kMarginMm / 25.4 * dpi;
    QRectF content(margin, margin, (pageMm.width() - 2 * kMarginMm) / 25.4 * dpi,
                   (pageMm.height() - 2 * kMarginMm) / 25.4 * dpi);
    const bool trueScale = !fitToPage && sheet.XDpi > 0 && sheet.YDpi > 0;
    std::vector<TSheetWindow> pages = {w};
    double sx = 0, sy = 0; // device pixels per sheet pixel
    if (trueScale) {
        sx = dpi / sheet.XDpi;
        sy = dpi / sheet.YDpi;
        const double widthMm = pageMm.width() - 2 * kMarginMm;
        const double heightMm = pageMm.height() - 2 * kMarginMm;
        pages = PageWindows(w, Pixels(widthMm, sheet.XDpi), Pixels(heightMm, sheet.YDpi),
                            Pixels(kOverlapMm, sheet.XDpi), Pixels(kOverlapMm, sheet.YDpi));
        // The picture starts a hair past a whole sheet pixel: rasterised at the sheet's
        // resolution, its edges fall on whole dots, so that each sheet pixel is one dot
        // rather than a blend of two, whatever the rounding of the numbers in between.
        constexpr double kHair = 1.0 / 64;
        content.moveTopLeft({(double(Pixels(kMarginMm, sheet.XDpi)) + kHair) * sx,
                             (double(Pixels(kMarginMm, sheet.YDpi)) + kHair) * sy});
    } else {
        sx = sy = std::min(content.width() / double(w.Cols), content.height() / double(w.Rows));
    }
    QFont label = p.font();
    label.setPointSizeF(9);
    p.setFont(label);
    for (size_t i = 0; i < pages.size(); ++i) {
        if (i > 0 && !printer.newPage()) throw rt::TError("印刷できません");
        const TSheetWindow& t = pages[i];
        DrawWindow(p, sheet, t,
                   QRectF(content.left(), content.top(), double(t.Cols) * sx, double(t.Rows) * sy));
        p.setPen(Qt::black);
        p.drawText(QRectF(content.left(), content.bottom(), content.width(), margin),
                   Qt::AlignLeft | Qt::AlignVCenter,
                   QStringLiteral("%1 %2/%3")
                       .arg(QString::fromStdString(sheet.SheetName))
                       .arg(i + 1)
                       .arg(pages.size()));
    }
    if (!p.end()) throw rt::TError("印刷できません");
}
