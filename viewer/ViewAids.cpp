#include "viewer/ViewAids.h"

#include <QGuiApplication>
#include <QScreen>
#include <algorithm>
#include <cmath>

namespace measure {

double Length(QPointF a, QPointF b, int xDpi, int yDpi) {
    const double dx = b.x() - a.x(), dy = b.y() - a.y();
    if (!HasResolution(xDpi, yDpi)) return std::hypot(dx, dy);
    return std::hypot(dx * kMetresPerSheetInch / xDpi, dy * kMetresPerSheetInch / yDpi);
}

QString LengthText(double length, bool metres) {
    if (!metres) return QStringLiteral("%1 px").arg(qRound64(length));
    if (length < 999.5) return QStringLiteral("%1 m").arg(qRound64(length));
    return QStringLiteral("%1 km").arg(length / 1000, 0, 'f', 2);
}

void TPath::Add(QPointF p) {
    if (Ended) Clear();
    Points.push_back(p);
}

bool TPath::RemoveLast() {
    if (Points.empty()) return false;
    Points.pop_back();
    if (Points.empty()) Ended = false;
    return true;
}

double TPath::Total(int xDpi, int yDpi) const {
    double sum = 0;
    for (size_t i = 1; i < Points.size(); ++i) sum += Length(Points[i - 1], Points[i], xDpi, yDpi);
    return sum;
}

double TPath::LastLeg(int xDpi, int yDpi) const {
    const size_t n = Points.size();
    return n < 2 ? 0 : Length(Points[n - 2], Points[n - 1], xDpi, yDpi);
}

QString TPath::Text(int xDpi, int yDpi) const {
    if (Points.empty()) return {};
    const bool metres = HasResolution(xDpi, yDpi);
    return QStringLiteral("距離 %1 (最後 %2)")
        .arg(LengthText(Total(xDpi, yDpi), metres), LengthText(LastLeg(xDpi, yDpi), metres));
}

std::optional<TScaleBar> ScaleBarFor(double rate, int xDpi) {
    if (xDpi <= 0 || !(rate > 0)) return std::nullopt;
    const double metresPerPixel = kMetresPerSheetInch / xDpi / rate;
    const double most = kBarMaxPixels * metresPerPixel;
    // 1, 2, 5 and their powers of ten: each step at most 2.5 times the last, so the longest
    // that fits below the bound is at least 1/2.5 of it.
    double power = std::pow(10.0, std::floor(std::log10(most)));
    double metres = power;
    for (double step : {5.0, 2.0, 1.0})
        if (step * power <= most * (1 + 1e-9)) {
            metres = step * power;
            break;
        }
    const int pixels = int(std::lround(metres / metresPerPixel));
    const QString label = metres >= 1000 ? QStringLiteral("%1 km").arg(metres / 1000, 0, 'g', 12)
                                         : QStringLiteral("%1 m").arg(metres, 0, 'g', 12);
    return TScaleBar{metres, pixels, label};
}

QSize FirstWindowSize(const QRect& available) {
    const int w = available.width(), h = available.height();
    return {std::clamp(w * 17 / 20, std::min(w, 1280), w),
            std::clamp(h * 17 / 20, std::min(h, 800), h)};
}

QSize FirstWindowSize() {
    const QScreen* screen = QGuiApplication::primaryScreen();
    return FirstWindowSize(screen ? screen->availableGeometry() : QRect(0, 0, 1280, 800));
}

} // namespace measure
