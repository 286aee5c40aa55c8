#include "viewer/SheetPrint.h"

#include "runtime/Canvas.h"
#include "runtime/Errors.h"
#include "runtime/Hooks.h"
#include "runtime/OutputFile.h"
#include "runtime/ScopeExit.h"

#include <QIODevice>
#include <QImage>
#include <QPainter>
#include <QPdfWriter>
#include <algorithm>
#include <cmath>
#include <exception>
#include <functional>

namespace {

constexpr double kMarginMm = 10, kOverlapMm = 10;
// The series' scale: a sheet's pixels at its own resolution are the 1:25,000 map.
constexpr double kSeriesScale = 25000;
const QColor kInk = Qt::black;

int64_t Pixels(double mm, double dpi) {
    return int64_t(std::floor(mm / 25.4 * dpi + 1e-9));
}

bool HasResolution(const TTiff& sheet) {
    return sheet.XDpi > 0 && sheet.YDpi > 0;
}

// Where and how large the pages of a job are, in the paint device's units.
struct TPlan {
    double Dpi = 0;
    QRectF Content;        // the map's place on every page
    double Sx = 0, Sy = 0; // device units per sheet pixel
    std::vector<TSheetWindow> Pages;
    int64_t GridCols = 1;
    double Scale = 0; // the printed map's 1:Scale; 0 where the sheet gives none
    bool TrueScale = false;

    double Mm(double mm) const { return mm / 25.4 * Dpi; }
};

TPlan MakePlan(const QPageLayout& layout, double dpi, const TTiff& sheet, const TSheetWindow& w,
               bool fit) {
    TPlan plan;
    plan.Dpi = dpi;
    const QRectF pageMm = layout.fullRect(QPageLayout::Millimeter);
    // The margins set in the page setup, but room for the margin's notes at least.
    const QMarginsF set = layout.margins(QPageLayout::Millimeter);
    const double left = std::max(set.left(), kMarginMm), top = std::max(set.top(), kMarginMm);
    const double widthMm = pageMm.width() - left - std::max(set.right(), kMarginMm);
    const double heightMm = pageMm.height() - top - std::max(set.bottom(), kMarginMm);
    plan.Content = QRectF(plan.Mm(left), plan.Mm(top), plan.Mm(widthMm), plan.Mm(heightMm));
    plan.TrueScale = !fit && HasResolution(sheet);
    plan.Pages = {w};
    if (plan.TrueScale && widthMm > 0 && heightMm > 0) {
        plan.Sx = dpi / sheet.XDpi;
        plan.Sy = dpi / sheet.YDpi;
        plan.Pages = PageWindows(w, Pixels(widthMm, sheet.XDpi), Pixels(heightMm, sheet.YDpi),
                                 Pixels(kOverlapMm, sheet.XDpi), Pixels(kOverlapMm, sheet.YDpi));
        // The picture starts a hair past a whole sheet pixel: rasterised at the sheet's
        // resolution, its edges fall on whole dots, so that each sheet pixel is one dot
        // rather than a blend of two, whatever the rounding of the numbers in between.
        constexpr double kHair = 1.0 / 64;
        plan.Content.moveTopLeft({(double(Pixels(left, sheet.XDpi)) + kHair) * plan.Sx,
                                  (double(Pixels(top, sheet.YDpi)) + kHair) * plan.Sy});
        plan.Scale = kSeriesScale;
    } else {
        plan.Sx = plan.Sy = std::max(0.0, std::min(plan.Content.width() / double(w.Cols),
                                                   plan.Content.height() / double(w.Rows)));
        if (HasResolution(sheet) && plan.Sx > 0)
            plan.Scale = kSeriesScale * dpi / (sheet.XDpi * plan.Sx);
    }
    plan.GridCols = std::count_if(plan.Pages.begin(), plan.Pages.end(), [&](const TSheetWindow& p) {
        return p.Row == plan.Pages.front().Row;
    });
    return plan;
}

TPlan PlanFor(const QPrinter& printer, const TTiff& sheet, const TSheetWindow& w, bool fit,
              QPageLayout::Orientation o) {
    QPageLayout layout = printer.pageLayout();
    layout.setOrientation(o);
    return MakePlan(layout, printer.resolution(), sheet, w, fit);
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

QString Metres(int metres) {
    return metres >= 1000 && metres % 1000 == 0 ? QStringLiteral("%1 km").arg(metres / 1000)
                                                : QStringLiteral("%1 m").arg(metres);
}

// A bar of a round ground length from x, y: 1 km where it fits, ticks at its tenths, its
// half and ends marked longer and named. Filled rectangles only, so that its ends are the
// length's ends to the dot.
void DrawScaleBar(QPainter& p, const TPlan& plan, double x, double y, double room) {
    const double mmPerKm = 1e6 / plan.Scale;
    int metres = 1000;
    for (int shorter : {500, 200, 100, 50, 20, 10})
        if (plan.Mm(mmPerKm * metres / 1000) > room) metres = shorter;
    const double length = plan.Mm(mmPerKm * metres / 1000);
    if (length > room || length < plan.Mm(5)) return;
    const double thin = plan.Mm(0.15), barTop = y + plan.Mm(1.5), barBottom = y + plan.Mm(2.7);
    p.fillRect(QRectF(x, barTop, length, thin), kInk);
    p.fillRect(QRectF(x, barBottom - thin, length, thin), kInk);
    for (int k = 0; k < 10; k += 2)
        p.fillRect(QRectF(x + length * k / 10, barTop, length / 10, barBottom - barTop), kInk);
    for (int k = 0; k <= 10; ++k) {
        const double at = std::clamp(x + length * k / 10 - thin / 2, x, x + length - thin);
        const double from = k % 5 == 0 ? y : y + plan.Mm(0.7);
        p.fillRect(QRectF(at, from, thin, barBottom - from), kInk);
    }
    QFont small = p.font();
    small.setPointSizeF(6);
    p.setFont(small);
    const double labelTop = barBottom + plan.Mm(0.3), half = plan.Mm(10);
    for (int k : {0, 5, 10})
        p.drawText(QRectF(x + length * k / 10 - half, labelTop, 2 * half, plan.Mm(3)),
                   Qt::AlignHCenter | Qt::AlignTop,
                   k == 0 ? QStringLiteral("0") : Metres(metres * k / 10));
}

// The grid of all pages, this one filled, its right edge at right.
void DrawAssembly(QPainter& p, const TPlan& plan, size_t page, double right, double y) {
    const int64_t cols = plan.GridCols, rows = int64_t(plan.Pages.size()) / cols;
    const double aspect = plan.Content.width() / plan.Content.height();
    const double ch =
        std::min({plan.Mm(6) / double(rows), plan.Mm(30) / double(cols) / aspect, plan.Mm(4)});
    const double cw = ch * aspect;
    const QPointF origin(right - cw * double(cols), y);
    p.fillRect(QRectF(origin.x() + cw * double(int64_t(page) % cols),
                      origin.y() + ch * double(int64_t(page) / cols), cw, ch),
               kInk);
    p.setPen(QPen(kInk, plan.Mm(0.1)));
    p.setBrush(Qt::NoBrush);
    for (int64_t r = 0; r < rows; ++r)
        for (int64_t c = 0; c < cols; ++c)
            p.drawRect(QRectF(origin.x() + cw * double(c), origin.y() + ch * double(r), cw, ch));
}

// One page: the map, then the margin's notes around it, never over it.
void DrawPage(QPainter& p, TTiff& sheet, const TPlan& plan, size_t i) {
    const TSheetWindow& t = plan.Pages[i];
    const QRectF& content = plan.Content;
    const QRectF map(content.left(), content.top(), double(t.Cols) * plan.Sx,
                     double(t.Rows) * plan.Sy);
    DrawWindow(p, sheet, t, map);

    QFont label = p.font();
    label.setPointSizeF(9);
    p.setFont(label);
    p.setPen(kInk);
    const QRectF line(content.left(), 0, content.width(), content.top() - plan.Mm(3));
    QRectF said;
    p.drawText(line, Qt::AlignLeft | Qt::AlignBottom,
               QStringLiteral("%1 %2/%3")
                   .arg(QString::fromStdString(sheet.SheetName))
                   .arg(i + 1)
                   .arg(plan.Pages.size()),
               &said);
    if (plan.Scale > 0)
        p.drawText(line.adjusted(said.width() + plan.Mm(8), 0, 0, 0),
                   Qt::AlignLeft | Qt::AlignBottom,
                   QString::fromStdString(ScaleText(plan.Scale, plan.TrueScale)));

    // Where the next page to the right and the one below begin on this one.
    const double thin = plan.Mm(0.1), mark = plan.Mm(2), gap = plan.Mm(0.5);
    const auto cols = size_t(plan.GridCols);
    if (i % cols + 1 < cols) {
        const double x = map.left() + double(plan.Pages[i + 1].Col - t.Col) * plan.Sx - thin / 2;
        p.fillRect(QRectF(x, map.top() - gap - mark, thin, mark), kInk);
        p.fillRect(QRectF(x, map.bottom() + gap, thin, mark), kInk);
    }
    if (i + cols < plan.Pages.size()) {
        const double y = map.top() + double(plan.Pages[i + cols].Row - t.Row) * plan.Sy - thin / 2;
        p.fillRect(QRectF(map.left() - gap - mark, y, mark, thin), kInk);
        p.fillRect(QRectF(map.right() + gap, y, mark, thin), kInk);
    }

    const double legend = content.bottom() + plan.Mm(3.5);
    if (plan.Scale > 0)
        DrawScaleBar(p, plan, content.left(), legend, content.width() - plan.Mm(40));
    if (plan.Pages.size() > 1) DrawAssembly(p, plan, i, content.right(), legend);
}

// A PDF's bytes on their way to the runtime's output file: a failed write is kept to be
// raised after the painter (which cannot carry it) and ends every later write.
class TPdfFile : public QIODevice {
public:
    explicit TPdfFile(rt::TOutputFile& out) : Out(out) { open(QIODevice::WriteOnly); }
    void RaiseFailure() const {
        if (Failure) std::rethrow_exception(Failure);
    }

protected:
    qint64 readData(char*, qint64) override { return -1; }
    qint64 writeData(const char* data, qint64 count) override {
        if (Failure) return -1;
        try {
            Out.Write(data, size_t(count));
            return count;
        } catch (...) {
            Failure = std::current_exception();
            return -1;
        }
    }

private:
    rt::TOutputFile& Out;
    std::exception_ptr Failure;
};

void DrawPages(QPainter& p, TTiff& sheet, const TPlan& plan, size_t first, size_t last,
               const std::function<bool()>& newPage, const std::function<void()>& check) {
    p.setRenderHint(QPainter::SmoothPixmapTransform, false);
    p.setRenderHint(QPainter::LosslessImageRendering); // never JPEG: the colours stay exact
    for (size_t i = first; i < last; ++i) {
        if (i > first && !newPage()) throw rt::TError("印刷できません");
        DrawPage(p, sheet, plan, i);
        check();
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

std::string ScaleText(double denominator, bool exact) {
    double shown = std::round(denominator);
    if (!exact && shown >= 1000) { // three figures: the page's size is not known closer
        const double unit = std::pow(10.0, std::floor(std::log10(shown)) - 2);
        shown = std::round(shown / unit) * unit;
    }
    const std::string digits = std::to_string(int64_t(shown));
    std::string grouped = exact ? "1:" : "約 1:";
    for (size_t i = 0; i < digits.size(); ++i) {
        if (i > 0 && (digits.size() - i) % 3 == 0) grouped += ',';
        grouped += digits[i];
    }
    return grouped;
}

size_t PageCount(const QPrinter& printer, const TTiff& sheet, const TSheetWindow& w, bool fit,
                 QPageLayout::Orientation o) {
    return PlanFor(printer, sheet, w, fit || !HasResolution(sheet), o).Pages.size();
}

QPageLayout::Orientation BestOrientation(const QPrinter& printer, const TTiff& sheet,
                                         const TSheetWindow& w, bool fit) {
    fit = fit || !HasResolution(sheet);
    const TPlan portrait = PlanFor(printer, sheet, w, fit, QPageLayout::Portrait);
    const TPlan landscape = PlanFor(printer, sheet, w, fit, QPageLayout::Landscape);
    const bool better =
        fit ? landscape.Sx > portrait.Sx : landscape.Pages.size() < portrait.Pages.size();
    return better ? QPageLayout::Landscape : QPageLayout::Portrait;
}

void PrintSheet(QPrinter& printer, TTiff& sheet, const TPrintJob& job) {
    const TSheetWindow& w = job.Window;
    if (w.Cols <= 0 || w.Rows <= 0) return;
    const bool fit = job.FitToPage || !HasResolution(sheet);
    if (!job.OrientationChosen) printer.setPageOrientation(BestOrientation(printer, sheet, w, fit));
    const TPlan plan = MakePlan(printer.pageLayout(), printer.resolution(), sheet, w, fit);
    if (plan.Sx <= 0 || plan.Pages.empty()) throw rt::TError("印刷できません");

    // The pages asked for, by their numbers in the whole tiling.
    size_t first = 0, last = plan.Pages.size();
    if (printer.printRange() == QPrinter::PageRange) {
        first = size_t(std::max(printer.fromPage(), 1)) - 1;
        if (printer.toPage() > 0) last = std::min(last, size_t(printer.toPage()));
        if (first >= last)
            throw rt::TError(
                rt::Format("印刷するページがありません (全 %zu ページ)", plan.Pages.size()));
    }
    // Paper must not hold pixels the sheet did not give, as a saved file must not.
    for (size_t i = first; i < last; ++i)
        if (!sheet.HoldsRows(int32_t(plan.Pages[i].Row), int32_t(plan.Pages[i].Rows)))
            throw rt::EInOutError(rt::kReadPastEnd);
    if (last - first > kPagesWithoutAsking &&
        !rt::AskYesNo(rt::Format("%zu ページを印刷します。よろしいですか?", last - first)))
        return;

    printer.setFullPage(true); // the margins are ours: the notes are printed in them
    if (printer.outputFormat() == QPrinter::PdfFormat && !printer.outputFileName().isEmpty()) {
        // Written through the runtime's output file, so that a file that cannot be made or
        // filled is told as such and a partial one never replaces anything.
        rt::TOutputFile out(printer.outputFileName().toStdString());
        TPdfFile device(out);
        QPdfWriter writer(&device);
        writer.setResolution(int(plan.Dpi));
        writer.setCreator(printer.creator());
        writer.setTitle(printer.docName());
        const QPageLayout& layout = printer.pageLayout();
        writer.setPageLayout(QPageLayout(layout.pageSize(), layout.orientation(), QMarginsF(),
                                         QPageLayout::Millimeter));
        QPainter p;
        if (!p.begin(&writer)) {
            device.RaiseFailure();
            throw rt::TError("印刷できません");
        }
        DrawPages(
            p, sheet, plan, first, last, [&] { return writer.newPage(); },
            [&] { device.RaiseFailure(); });
        const bool ended = p.end();
        device.RaiseFailure();
        if (!ended) throw rt::TError("印刷できません");
        out.Commit();
        return;
    }
    QPainter p;
    if (!p.begin(&printer)) throw rt::TError("印刷できません");
    try {
        DrawPages(
            p, sheet, plan, first, last, [&] { return printer.newPage(); }, [] {});
    } catch (...) {
        printer.abort(); // what was drawn is never sent
        throw;
    }
    if (!p.end()) throw rt::TError("印刷できません");
}
