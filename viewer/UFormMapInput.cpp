// The view as users of image and map viewers expect it: drag to pan, the wheel to scroll
// and zoom, keys, shortcuts, dropped sheets and the status bar. Everything goes through
// the window's own state (Rate, the scroll positions, UpdateScale, RedrawView).

#include "engine/ZoomRates.h"
#include "runtime/FileSys.h"
#include "toolkit/Guard.h"
#include "viewer/UFormMap.h"

#include <QApplication>
#include <QClipboard>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QScreen>
#include <QShortcut>
#include <QWheelEvent>
#include <cmath>

namespace {

constexpr int kStatusHeight = 20;
constexpr int kNotch = QWheelEvent::DefaultDeltasPerStep;

} // namespace

void TFormMap::SetupInput() {
    StatusBar = new QFrame(this);
    static_cast<QFrame*>(StatusBar)->setFrameShape(QFrame::StyledPanel);
    StatusBar->setFixedHeight(kStatusHeight);
    auto* row = new QHBoxLayout(StatusBar);
    row->setContentsMargins(4, 0, 4, 0);
    row->setSpacing(16);
    lblStatusSheet = new QLabel(StatusBar);
    lblStatusScale = new QLabel(StatusBar);
    lblStatusPointer = new QLabel(StatusBar);
    lblStatusMeasure = new QLabel(StatusBar);
    row->addWidget(lblStatusSheet);
    row->addWidget(lblStatusScale);
    row->addWidget(lblStatusMeasure);
    row->addWidget(lblStatusPointer, 1);
    Image1->OnOverlay = [this](QPainter& p) {
        DrawPath(p);
        DrawMeasure(p);
        DrawScaleBar(p);
    };

    // Moves during a drag are drawn at most once a frame.
    FrameTimer = new QTimer(this);
    FrameTimer->setSingleShot(true);
    const QScreen* screen = QGuiApplication::primaryScreen();
    const double hz = screen && screen->refreshRate() > 1 ? screen->refreshRate() : 60.0;
    FrameTimer->setInterval(std::max(1, int(1000.0 / hz)));
    connect(FrameTimer, &QTimer::timeout, this, tk::Guard([this] {
                if (DragOn && DragRedrawDue) {
                    DragRedrawDue = false;
                    RedrawView();
                }
            }));

    Image1->OnMouseDown = [this](QMouseEvent* e) { ViewMouseDown(e); };
    Image1->OnMouseMove = [this](QMouseEvent* e) { ViewMouseMove(e); };
    Image1->OnMouseUp = [this](QMouseEvent* e) { ViewMouseUp(e); };
    Image1->OnMouseLeave = [this] {
        Pointer = {-1, -1};
        UpdateStatus();
    };
    Image1->OnWheel = [this](QWheelEvent* e) { ViewWheel(e); };
    Image1->OnKeyDown = [this](QKeyEvent* e) { return ViewKeyDown(e); };

    auto shortcut = [this](const char* keys, auto handler) {
        auto* s = new QShortcut(QKeySequence(QString::fromLatin1(keys)), this);
        s->setContext(Qt::WindowShortcut);
        connect(s, &QShortcut::activated, this, tk::Guard(handler));
    };
    shortcut("Ctrl+O", [this] {
        if (btnOpenSingle->isEnabled()) btnOpenClick();
    });
    shortcut("Ctrl+S", [this] {
        if (btnBmpSave->isEnabled()) btnBmpSaveClick();
    });
    shortcut("Ctrl+C", [this] {
        if (btnCopy->isEnabled()) Button2Click();
    });
    shortcut("Ctrl+Q", [this] { close(); });
    shortcut("Ctrl+P", [this] { PrintClick(); });

    ViewMenu = new QMenu(this);
    actSmooth = ViewMenu->addAction(QStringLiteral("滑らかに縮小"));
    actSmooth->setCheckable(true);
    connect(actSmooth, &QAction::toggled, this, tk::Guard([this](bool on) { SetSmoothView(on); }));
    actPrint = ViewMenu->addAction(QStringLiteral("印刷..."));
    connect(actPrint, &QAction::triggered, this, tk::Guard([this](bool) { PrintClick(); }));
    actReset = ViewMenu->addAction(QStringLiteral("表示を既定に戻す"));
    connect(actReset, &QAction::triggered, this, tk::Guard([this](bool) { ResetView(); }));
    actScaleBar = ViewMenu->addAction(QStringLiteral("縮尺バー"));
    actScaleBar->setCheckable(true);
    actScaleBar->setChecked(true);
    connect(actScaleBar, &QAction::toggled, this, tk::Guard([this](bool) { Image1->update(); }));
    actCopyDistance = ViewMenu->addAction(QStringLiteral("距離をコピー"));
    actCopyDistance->setEnabled(false);
    connect(actCopyDistance, &QAction::triggered, this,
            tk::Guard([this](bool) { CopyDistance(); }));
    Image1->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(Image1, &QWidget::customContextMenuRequested, this,
            tk::Guard([this](const QPoint& at) { ViewMenu->popup(Image1->mapToGlobal(at)); }));
    setAcceptDrops(true);
}

void TFormMap::ScrollBy(double cols, double rows) {
    RestCols += cols;
    RestRows += rows;
    const double wholeCols = std::trunc(RestCols), wholeRows = std::trunc(RestRows);
    RestCols -= wholeCols;
    RestRows -= wholeRows;
    // The bars clamp the positions to 0 .. maximum.
    scrH->SetPosition(int(std::clamp<double>(scrH->Position() + wholeCols, INT32_MIN, INT32_MAX)));
    scrV->SetPosition(int(std::clamp<double>(scrV->Position() + wholeRows, INT32_MIN, INT32_MAX)));
}

void TFormMap::ViewMouseDown(QMouseEvent* e) {
    Image1->setFocus(Qt::MouseFocusReason);
    if (e->button() != Qt::LeftButton || !MapImage->Loaded) return;
    // The first click of a double click added the path's last point; the second ends it.
    if (e->type() == QEvent::MouseButtonDblClick && !Path.Empty() && !Path.IsEnded()) {
        Path.End();
        UpdateStatus();
        return;
    }
    if (e->modifiers() & Qt::ShiftModifier) { // a measurement, not a pan
        ShiftPress = e->position();
        return;
    }
    DragOn = true;
    DragLast = e->position();
    RestCols = RestRows = 0;
    Image1->setCursor(Qt::ClosedHandCursor);
}

void TFormMap::ViewMouseMove(QMouseEvent* e) {
    if (ShiftPress && !Measuring &&
        (e->position() - *ShiftPress).manhattanLength() >= QApplication::startDragDistance()) {
        const QPointF at = SheetPoint(*ShiftPress);
        Measure = TMeasure{at, at, {scrH->Position(), scrV->Position()}};
        Measuring = true;
    }
    if (Measuring && Measure) {
        Measure->To = SheetPoint(e->position());
        Image1->update();
    }
    ShowPointer(e->position().toPoint());
    if (!DragOn) return;
    const QPointF d = e->position() - DragLast;
    DragLast = e->position();
    // The sheet follows the pointer: a move of d screen pixels is d / Rate sheet pixels.
    ScrollBy(-d.x() / Rate, -d.y() / Rate);
    DragRedrawDue = true;
    if (!FrameTimer->isActive()) FrameTimer->start();
}

void TFormMap::ViewMouseUp(QMouseEvent* e) {
    if (ShiftPress && e->button() == Qt::LeftButton) {
        const QPointF from = *ShiftPress;
        ShiftPress.reset();
        if (!Measuring &&
            (e->position() - from).manhattanLength() >= QApplication::startDragDistance()) {
            // A drag whose moves were not seen is a line all the same.
            Measure = TMeasure{SheetPoint(from), {}, {scrH->Position(), scrV->Position()}};
            Measuring = true;
        }
        if (Measuring) {
            Measuring = false; // the line and its length stay
            if (Measure) Measure->To = SheetPoint(e->position());
        } else {
            if (Path.Empty() || Path.IsEnded() || PathSheet != SheetsOpened) {
                Path.Clear();
                PathSheet = SheetsOpened;
            }
            Path.Add(SheetPoint(from));
            Measure.reset(); // the next measurement ends a straight line
        }
        Image1->update();
        UpdateStatus();
        return;
    }
    if (!DragOn || e->button() != Qt::LeftButton) return;
    DragOn = false;
    DragRedrawDue = false;
    FrameTimer->stop();
    Image1->setCursor(MapImage->Loaded ? Qt::OpenHandCursor : Qt::ArrowCursor);
    if (Ready) RedrawView();
}

void TFormMap::ViewWheel(QWheelEvent* e) {
    const QPoint d = e->angleDelta();
    const bool shift = e->modifiers() & Qt::ShiftModifier;
    if (e->modifiers() & Qt::ControlModifier) {
        ZoomRest += d.y() != 0 ? d.y() : d.x();
        const QPoint at = e->position().toPoint();
        for (; ZoomRest >= kNotch; ZoomRest -= kNotch)
            ZoomAbout(std::min(Rate * 2, zoom::kMaxRate), at.x(), at.y());
        for (; ZoomRest <= -kNotch; ZoomRest += kNotch)
            ZoomAbout(std::max(Rate / 2, zoom::kMinRate), at.x(), at.y());
        return;
    }
    const bool sideways = shift || (d.y() == 0 && d.x() != 0);
    const double notches = (sideways ? (d.y() != 0 ? d.y() : d.x()) : d.y()) / double(kNotch);
    if (notches == 0) return;
    // A notch is a tenth of the view in screen pixels, whatever the rate.
    if (sideways)
        ScrollBy(-notches * Image1->width() / 10.0 / Rate, 0);
    else
        ScrollBy(0, -notches * Image1->height() / 10.0 / Rate);
    if (Ready) RedrawView();
}

void TFormMap::ZoomAbout(double newRate, int x, int y) {
    // The sheet pixel shown at (x, y) now, and where it must stay.
    const double col = scrH->Position() + std::floor(x / Rate);
    const double row = scrV->Position() + std::floor(y / Rate);
    if (newRate > Rate) {
        while (Rate < newRate && Rate < zoom::kMaxRate) StepRate(true);
    } else if (newRate < Rate) {
        while (Rate > newRate && Rate > zoom::kMinRate) StepRate(false);
    } else {
        UpdateScale();
    }
    scrH->SetPosition(int(std::clamp<double>(col - std::floor(x / Rate), 0, INT32_MAX)));
    scrV->SetPosition(int(std::clamp<double>(row - std::floor(y / Rate), 0, INT32_MAX)));
    RestCols = RestRows = 0;
    if (Ready) RedrawView();
}

double TFormMap::FitRate() const {
    double best = zoom::kMinRate;
    for (double r : zoom::kRates)
        if (MapImage->Width * r <= Image1->width() && MapImage->Height * r <= Image1->height())
            best = r;
    return best;
}

bool TFormMap::ViewKeyDown(QKeyEvent* e) {
    const bool ctrl = e->modifiers() & Qt::ControlModifier;
    const int cx = Image1->width() / 2, cy = Image1->height() / 2;
    switch (e->key()) {
    case Qt::Key_Left:
        scrH->SetPosition(scrH->Position() - scrH->SmallChange());
        break;
    case Qt::Key_Right:
        scrH->SetPosition(scrH->Position() + scrH->SmallChange());
        break;
    case Qt::Key_Up:
        scrV->SetPosition(scrV->Position() - scrV->SmallChange());
        break;
    case Qt::Key_Down:
        scrV->SetPosition(scrV->Position() + scrV->SmallChange());
        break;
    case Qt::Key_PageUp:
        scrV->SetPosition(scrV->Position() - scrV->LargeChange());
        break;
    case Qt::Key_PageDown:
        scrV->SetPosition(scrV->Position() + scrV->LargeChange());
        break;
    case Qt::Key_Home:
        if (ctrl) scrH->SetPosition(0);
        scrV->SetPosition(0);
        break;
    case Qt::Key_End:
        if (ctrl) scrH->SetPosition(scrH->Max());
        scrV->SetPosition(scrV->Max());
        break;
    case Qt::Key_Plus:
    case Qt::Key_Equal:
        ZoomAbout(std::min(Rate * 2, zoom::kMaxRate), cx, cy);
        return true;
    case Qt::Key_Minus:
        ZoomAbout(std::max(Rate / 2, zoom::kMinRate), cx, cy);
        return true;
    case Qt::Key_1:
        ZoomAbout(1.0, cx, cy);
        return true;
    case Qt::Key_Space:
        LeafThrough(+1);
        return true;
    case Qt::Key_Escape:
        if (!Measure && Path.Empty()) return false;
        Measure.reset();
        Measuring = false;
        ShiftPress.reset();
        Path.Clear();
        Image1->update();
        UpdateStatus();
        return true;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        if (Path.Empty() || Path.IsEnded()) return false;
        Path.End();
        UpdateStatus();
        return true;
    case Qt::Key_S:
        if (ctrl) return false;
        actSmooth->toggle();
        return true;
    case Qt::Key_Backspace:
        // While a path is drawn Backspace takes back its last point rather than leaf.
        if (Path.RemoveLast()) {
            Image1->update();
            UpdateStatus();
        } else {
            LeafThrough(-1);
        }
        return true;
    case Qt::Key_F:
        ZoomAbout(FitRate(), 0, 0);
        scrH->SetPosition(0);
        scrV->SetPosition(0);
        if (Ready) RedrawView();
        return true;
    default:
        return false;
    }
    if (Ready) RedrawView();
    return true;
}

QString TFormMap::DroppedSheet(const QMimeData* data) const {
    if (!data || !data->hasUrls() || Busy()) return {};
    const QList<QUrl> urls = data->urls();
    if (urls.size() != 1 || !urls.front().isLocalFile()) return {};
    QString path = urls.front().toLocalFile();
    return path.endsWith(".tif", Qt::CaseInsensitive) ? path : QString();
}

namespace {
// A sheet is read, never taken: a drop offered as a move would let a file manager delete it.
bool AcceptAsCopy(QDropEvent* e, bool sheet) {
    if (!sheet || !(e->possibleActions() & Qt::CopyAction)) {
        e->ignore();
        return false;
    }
    e->setDropAction(Qt::CopyAction);
    e->accept();
    return true;
}
} // namespace

void TFormMap::dragEnterEvent(QDragEnterEvent* e) {
    AcceptAsCopy(e, !DroppedSheet(e->mimeData()).isEmpty());
}

void TFormMap::dragMoveEvent(QDragMoveEvent* e) {
    AcceptAsCopy(e, !DroppedSheet(e->mimeData()).isEmpty());
}

void TFormMap::dropEvent(QDropEvent* e) {
    const QString path = DroppedSheet(e->mimeData());
    if (!AcceptAsCopy(e, !path.isEmpty())) return;
    tk::Guarded([&] { OpenSheet(path.toStdString()); });
}

QPointF TFormMap::SheetPoint(QPointF view) const {
    return {scrH->Position() + view.x() / Rate, scrV->Position() + view.y() / Rate};
}

void TFormMap::DrawMeasure(QPainter& p) const {
    if (!Measure) return;
    auto onView = [this](QPointF s) {
        return QPointF((s.x() - scrH->Position()) * Rate, (s.y() - scrV->Position()) * Rate);
    };
    p.setRenderHint(QPainter::Antialiasing, true);
    p.setPen(QPen(QColor(220, 0, 0), 2));
    p.drawLine(onView(Measure->From), onView(Measure->To));
}

QString TFormMap::MeasureText() const {
    if (!Measure) return {};
    const int xDpi = MapImage->XDpi, yDpi = MapImage->YDpi;
    return QStringLiteral("距離 ") +
           measure::LengthText(measure::Length(Measure->From, Measure->To, xDpi, yDpi),
                               measure::HasResolution(xDpi, yDpi));
}

QString TFormMap::DistanceText() const {
    if (!MapImage || !MapImage->Loaded) return {};
    const int xDpi = MapImage->XDpi, yDpi = MapImage->YDpi;
    const bool metres = measure::HasResolution(xDpi, yDpi);
    if (Measure)
        return measure::LengthText(measure::Length(Measure->From, Measure->To, xDpi, yDpi), metres);
    if (Path.Empty() || PathSheet != SheetsOpened) return {};
    return measure::LengthText(Path.Total(xDpi, yDpi), metres);
}

void TFormMap::CopyDistance() {
    const QString text = DistanceText();
    if (!text.isEmpty()) QApplication::clipboard()->setText(text);
}

void TFormMap::DrawPath(QPainter& p) const {
    if (Path.Empty() || PathSheet != SheetsOpened) return;
    const int col = scrH->Position(), row = scrV->Position();
    QPainterPath line;
    std::vector<QPointF> at;
    for (QPointF s : Path.Vertices()) at.emplace_back((s.x() - col) * Rate, (s.y() - row) * Rate);
    line.moveTo(at.front());
    for (size_t i = 1; i < at.size(); ++i) line.lineTo(at[i]);
    p.save();
    p.setRenderHint(QPainter::Antialiasing, true);
    const QColor ink(200, 0, 200);
    p.setPen(QPen(ink, 2));
    p.setBrush(Qt::NoBrush);
    p.drawPath(line);
    p.setBrush(Qt::white);
    for (QPointF v : at) p.drawEllipse(v, 3.5, 3.5);
    p.restore();
}

void TFormMap::DrawScaleBar(QPainter& p) const {
    if (!ScaleBarShown() || !MapImage || !MapImage->Loaded ||
        !measure::HasResolution(MapImage->XDpi, MapImage->YDpi))
        return;
    const std::optional<measure::TScaleBar> bar = measure::ScaleBarFor(Rate, MapImage->XDpi);
    if (!bar) return;
    // Bottom left, on a light box so that it reads over any plate; the bar is whole pixels
    // of solid black, its length exactly the round length at this zoom.
    constexpr int kMargin = 10, kPad = 6, kThick = 4, kTick = 6;
    const QFontMetrics fm(p.font());
    const int textH = fm.height();
    const int boxW = std::max(bar->Pixels, fm.horizontalAdvance(bar->Label)) + 2 * kPad;
    const int boxH = kPad + textH + 2 + kTick + kPad;
    const QRect box(kMargin, Image1->height() - kMargin - boxH, boxW, boxH);
    if (box.top() < 0) return; // no room in a view this low
    p.save();
    p.setRenderHint(QPainter::Antialiasing, false);
    p.fillRect(box, QColor(255, 255, 255, 210));
    const int x0 = box.left() + kPad, base = box.bottom() - kPad + 1;
    p.fillRect(QRect(x0, base - kThick, bar->Pixels, kThick), Qt::black);
    p.fillRect(QRect(x0, base - kTick, 1, kTick), Qt::black);
    p.fillRect(QRect(x0 + bar->Pixels - 1, base - kTick, 1, kTick), Qt::black);
    p.setPen(Qt::black);
    p.drawText(QRect(x0, box.top() + kPad, boxW - 2 * kPad, textH), Qt::AlignLeft, bar->Label);
    p.restore();
}

void TFormMap::ShowPointer(QPoint at) {
    Pointer = at;
    if (MapImage->Loaded && !DragOn) Image1->setCursor(Qt::OpenHandCursor);
    UpdateStatus();
}

void TFormMap::SetSmoothView(bool on) {
    if (actSmooth->isChecked() != on) actSmooth->setChecked(on); // comes back here
    if (Ready) RedrawView();
    UpdateStatus();
}

void TFormMap::UpdateStatus() {
    if (!lblStatusSheet) return;
    if (Measure && !Measuring && Measure->Scroll != QPoint(scrH->Position(), scrV->Position())) {
        Measure.reset(); // scrolled away from it
        Image1->update();
    }
    if (!Path.Empty() && PathSheet != SheetsOpened) Path.Clear(); // drawn on the sheet before
    QString measured;
    if (MapImage && MapImage->Loaded)
        measured = Measure ? MeasureText() : Path.Text(MapImage->XDpi, MapImage->YDpi);
    lblStatusMeasure->setText(measured);
    if (actCopyDistance) actCopyDistance->setEnabled(!DistanceText().isEmpty());
    if (!Showing()) {
        lblStatusSheet->clear();
        if (MapImage && !SheetPath.empty())
            lblStatusSheet->setText(QString::fromStdString(rt::ExtractFileName(SheetPath)) +
                                    QStringLiteral("  (not opened)"));
        lblStatusScale->clear();
        lblStatusPointer->clear();
        if (!DragOn) Image1->unsetCursor();
        return;
    }
    QString sheet = QString("%1  %2 x %3")
                        .arg(QString::fromStdString(MapImage->SheetName))
                        .arg(MapImage->Width)
                        .arg(MapImage->Height);
    if (Sheets.size() > 1) sheet += QString("  (%1/%2)").arg(SheetIndex + 1).arg(Sheets.size());
    if (MapImage->RowsWritten < MapImage->Height)
        sheet += QString("  (%1 rows read)").arg(MapImage->RowsWritten);
    lblStatusSheet->setText(sheet);
    lblStatusScale->setText(SmoothView() ? lblMScale->text() + QStringLiteral("  滑らか")
                                         : lblMScale->text());
    // The pointer is over the sheet where the picture was drawn.
    const int64_t cols = std::min<int64_t>(ViewCols, int64_t(MapImage->Width) - scrH->Position());
    const int64_t rows = std::min<int64_t>(ViewRows, int64_t(MapImage->Height) - scrV->Position());
    const int64_t shownW = int64_t(cols * Rate), shownH = int64_t(rows * Rate);
    QString text;
    if (Pointer.x() >= 0 && Pointer.y() >= 0 && Pointer.x() < shownW && Pointer.y() < shownH) {
        const int col = scrH->Position() + int(std::floor(Pointer.x() / Rate));
        const int row = scrV->Position() + int(std::floor(Pointer.y() / Rate));
        text = QString("%1, %2").arg(col).arg(row);
        uint8_t v = 0;
        if (MapImage->PixelAt(col, row, v)) {
            QStringList names;
            for (int k = 8; k >= 1; --k)
                if (v >> (k - 1) & 1) names << PlateChecks[size_t(k)]->text();
            if (!names.isEmpty()) text += "  " + names.join(' ');
        }
    }
    lblStatusPointer->setText(text);
}
