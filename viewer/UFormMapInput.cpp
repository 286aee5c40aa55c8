// The view as users of image and map viewers expect it: drag to pan, the wheel to scroll
// and zoom, keys, shortcuts, dropped sheets and the status bar. Everything goes through
// the window's own state (Rate, the scroll positions, UpdateScale, RedrawView).

#include "engine/ZoomRates.h"
#include "runtime/FileSys.h"
#include "toolkit/Guard.h"
#include "viewer/UFormMap.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>
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
    Image1->OnOverlay = [this](QPainter& p) { DrawMeasure(p); };

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
    if (e->modifiers() & Qt::ShiftModifier) { // a measurement, not a pan
        const QPointF at = SheetPoint(e->position());
        Measure = TMeasure{at, at, {scrH->Position(), scrV->Position()}};
        Measuring = true;
        Image1->update();
        UpdateStatus();
        return;
    }
    DragOn = true;
    DragLast = e->position();
    RestCols = RestRows = 0;
    Image1->setCursor(Qt::ClosedHandCursor);
}

void TFormMap::ViewMouseMove(QMouseEvent* e) {
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
    if (Measuring && e->button() == Qt::LeftButton) {
        Measuring = false; // the line and its length stay
        if (Measure) Measure->To = SheetPoint(e->position());
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
        if (!Measure) return false;
        Measure.reset();
        Measuring = false;
        Image1->update();
        UpdateStatus();
        return true;
    case Qt::Key_S:
        if (ctrl) return false;
        actSmooth->toggle();
        return true;
    case Qt::Key_Backspace:
        LeafThrough(-1);
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
    const double dx = Measure->To.x() - Measure->From.x(), dy = Measure->To.y() - Measure->From.y();
    if (MapImage->XDpi <= 0 || MapImage->YDpi <= 0)
        return QStringLiteral("距離 %1 px").arg(qRound64(std::hypot(dx, dy)));
    // A sheet inch is 25,000 inches on the ground.
    constexpr double kMetresPerInch = 0.0254 * 25000;
    const double metres =
        std::hypot(dx * kMetresPerInch / MapImage->XDpi, dy * kMetresPerInch / MapImage->YDpi);
    if (metres < 999.5) return QStringLiteral("距離 %1 m").arg(qRound64(metres));
    return QStringLiteral("距離 %1 km").arg(metres / 1000, 0, 'f', 2);
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
    lblStatusMeasure->setText(MapImage && MapImage->Loaded ? MeasureText() : QString());
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
