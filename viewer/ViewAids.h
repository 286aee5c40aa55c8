#pragma once
// What the view adds for a user finding their way on a sheet: lengths on the ground, the
// scale bar, a path of points, and the first window's size.

#include <QPointF>
#include <QRect>
#include <QSize>
#include <QString>
#include <optional>
#include <vector>

namespace measure {

// A sheet inch is 25,000 inches on the ground: the series is drawn at 1:25,000.
constexpr double kMetresPerSheetInch = 0.0254 * 25000;

// The length from a to b: metres on the ground where the sheet has a resolution, else
// sheet pixels.
double Length(QPointF a, QPointF b, int xDpi, int yDpi);
inline bool HasResolution(int xDpi, int yDpi) {
    return xDpi > 0 && yDpi > 0;
}
// "850 m", "1.25 km"; "50 px" for a sheet without a resolution.
QString LengthText(double length, bool metres);

// Points added by Shift and clicks, in sheet pixels. An ended path stays shown; the next
// point starts a new one.
class TPath {
public:
    void Add(QPointF p);
    // False where there was no point to remove.
    bool RemoveLast();
    void End() { Ended = !Points.empty(); }
    void Clear() { *this = TPath(); }
    bool Empty() const { return Points.empty(); }
    bool IsEnded() const { return Ended; }
    const std::vector<QPointF>& Vertices() const { return Points; }
    double Total(int xDpi, int yDpi) const;
    double LastLeg(int xDpi, int yDpi) const;
    // "距離 3.42 km (最後 350 m)"; empty without points.
    QString Text(int xDpi, int yDpi) const;

private:
    std::vector<QPointF> Points;
    bool Ended = false;
};

// The scale bar's bounds, in screen pixels.
constexpr int kBarMinPixels = 80;
constexpr int kBarMaxPixels = 200;
struct TScaleBar {
    double Metres;
    int Pixels;
    QString Label; // "500 m", "2 km"
};
// The longest round length (1, 2 or 5 times a power of ten metres) whose bar at this zoom
// rate is at most kBarMaxPixels long, hence at least kBarMinPixels; none for a sheet
// without a resolution.
std::optional<TScaleBar> ScaleBarFor(double rate, int xDpi);

// The size of a window opened with nothing remembered: most of the screen's available
// area, at least 1280 x 800 where the area allows.
QSize FirstWindowSize(const QRect& available);
// The same on the primary screen.
QSize FirstWindowSize();

} // namespace measure
