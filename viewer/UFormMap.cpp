#include "viewer/UFormMap.h"

#include "engine/Plates.h"
#include "engine/ZoomRates.h"
#include "manage/UInit.h"
#include "runtime/Errors.h"
#include "runtime/FileSys.h"
#include "runtime/PngFile.h"
#include "runtime/ScopeExit.h"
#include "runtime/Strings.h"
#include "toolkit/Application.h"
#include "toolkit/Guard.h"
#include "viewer/SheetPrint.h"
#include "viewer/ViewSettings.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QPainter>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <strings.h>

std::unique_ptr<TTiff> MapImage;
TFormMap* FormMap = nullptr;

namespace {

QString GlyphPath(const char* name) {
    return QString(":/glyphs/") + name;
}

} // namespace

TFormMap::TFormMap(QWidget* parent, const std::string& scratchPath, const std::string& dataDir)
    : QWidget(parent) {
    setupUi(this);
    setFont(tk::FormFont());
    setAttribute(Qt::WA_DeleteOnClose, false);
    setAutoFillBackground(true);
    resize(measure::FirstWindowSize());
    OpenDialog.Filter = "Tiff (*.tif)|*.tif";
    SaveDialog.DefaultExt = "bmp";
    SaveDialog.Filter = "Bitmap|*.Bmp|PNG|*.png";
    PlateChecks = {nullptr, chk1, chk2, chk3, chk4, chk5, chk6, chk7, chk8};
    PlateSwatches = {nullptr, col1, col2, col3, col4, col5, col6, col7, col8};
    for (int k = 1; k <= 8; ++k) {
        PlateSwatches[size_t(k)]->Tag = k;
        PlateSwatches[size_t(k)]->SetColor(plates::kDefaultColors[size_t(k)]);
        PlateSwatches[size_t(k)]->OnClick = [this](TSwatch* s) {
            tk::Guarded([&] { col8Click(s); });
        };
        connect(PlateChecks[size_t(k)], &QCheckBox::clicked, this,
                tk::Guard([this](bool) { chk8Click(); }));
    }
    Gauge->SetBackColor(rt::RGB(0, 255, 0));
    Gauge->SetForeColor(rt::RGB(0, 0, 255));
    tk::SetGlyph(btnMapMgr, GlyphPath("globe.xpm"));
    tk::SetGlyph(btnOpenSingle, GlyphPath("open.xpm"));
    tk::SetGlyph(btnBmpSave, GlyphPath("save.xpm"));
    tk::SetGlyph(btnCopy, GlyphPath("copy.xpm"));
    tk::SetGlyph(btnOptV, GlyphPath("options.xpm"));

    connect(btnOpenSingle, &QToolButton::clicked, this,
            tk::Guard([this](bool) { btnOpenClick(); }));
    connect(btnMapMgr, &QToolButton::clicked, this, tk::Guard([this](bool) { btnMapMgrClick(); }));
    connect(btnBmpSave, &QToolButton::clicked, this,
            tk::Guard([this](bool) { btnBmpSaveClick(); }));
    connect(btnCopy, &QToolButton::clicked, this, tk::Guard([this](bool) { Button2Click(); }));
    connect(btnOptV, &QToolButton::clicked, this, tk::Guard([this](bool) { btnOptVClick(); }));
    connect(Button1, &QPushButton::clicked, this, tk::Guard([this](bool) { Button1Click(); }));
    connect(Button2, &QPushButton::clicked, this, tk::Guard([this](bool) { Button2Click(); }));
    connect(Button3, &QPushButton::clicked, this, tk::Guard([this](bool) { Button3Click(); }));
    spnRate->OnUpClick = [this] { spnRateUpClick(); };
    spnRate->OnDownClick = [this] { spnRateDownClick(); };
    for (TScrollBar* bar : {scrH, scrV}) {
        bar->OnScroll = [this](TScrollBar* s, int code, int& pos) { scrHScroll(s, code, pos); };
        bar->OnChange = [this](TScrollBar* s) { scrHChange(s); };
    }
    pnlMap->OnResize = [this] { tk::Guarded([this] { pnlMapResize(); }); };
    Image1->OnPaint = [this] { Image1Paint(); };

    OpenTimer = new QTimer(this);
    OpenTimer->setInterval(15);
    connect(OpenTimer, &QTimer::timeout, this, tk::Guard([this] { OpenTick(); }));
    StopKey = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    StopKey->setContext(Qt::WindowShortcut);
    StopKey->setEnabled(false);
    connect(StopKey, &QShortcut::activated, this, [this] {
        if (Busy()) MapImage->RequestStop();
    });

    SetupInput();
    FormCreate(scratchPath, dataDir);
}

TFormMap::~TFormMap() {
    FormDestroy();
}

void TFormMap::FormCreate(const std::string& scratchPath, const std::string& dataDir) {
    InitMapMgr(dataDir.empty() ? rt::DataDir() : dataDir);
    // Scratch files of viewers that were killed stay behind for good unless one goes now.
    if (scratchPath.empty()) TTiff::RemoveStaleScratch(rt::ScratchDir());
    MapImage = std::make_unique<TTiff>(Image1, scratchPath);
    MapImage->Gauge = Gauge;
    MapImage->SyncSaves = true; // what the user saves reaches the disk before it replaces
    Rate = 1.0;
    Ready = false;
}

void TFormMap::UseSettings(const std::string& path) {
    SettingsPath = path;
    std::string problem;
    const std::optional<TViewSettings> kept = LoadViewSettings(path, problem);
    if (!problem.empty())
        std::fprintf(stderr, "mapviewer: %s %s: the defaults are used\n", path.c_str(),
                     problem.c_str());
    if (!kept) return;
    for (int k = 1; k <= 8; ++k) {
        PlateChecks[size_t(k)]->setChecked(kept->Visible[size_t(k)]);
        PlateSwatches[size_t(k)]->SetColor(kept->Colors[size_t(k)]);
    }
    actSmooth->setChecked(kept->Smooth);
    actScaleBar->setChecked(kept->ScaleBar);
    Rate = kept->Rate;
    if (!kept->Geometry.isEmpty()) restoreGeometry(kept->Geometry);
    btnOptV->setChecked(kept->OptionPanel);
    pnlOption->setVisible(kept->OptionPanel);
    OpenDialog.InitialDir = kept->OpenDir;
    SaveDialog.InitialDir = kept->SaveDir;
    AlignControls();
    UpdateScale();
    TransferPlateColors();
}

void TFormMap::SaveSettings() {
    if (SettingsPath.empty()) return;
    TViewSettings v;
    for (int k = 1; k <= 8; ++k) {
        v.Visible[size_t(k)] = PlateChecks[size_t(k)]->isChecked();
        v.Colors[size_t(k)] = PlateSwatches[size_t(k)]->Color();
    }
    v.Smooth = SmoothView();
    v.ScaleBar = ScaleBarShown();
    v.Rate = Rate;
    v.Geometry = saveGeometry();
    v.OptionPanel = btnOptV->isChecked();
    v.OpenDir = OpenDialog.InitialDir;
    v.SaveDir = SaveDialog.InitialDir;
    std::string problem;
    if (!SaveViewSettings(SettingsPath, v, problem))
        std::fprintf(stderr, "mapviewer: %s %s\n", SettingsPath.c_str(), problem.c_str());
}

void TFormMap::ResetView() {
    for (int k = 1; k <= 8; ++k) {
        PlateChecks[size_t(k)]->setChecked(true);
        PlateSwatches[size_t(k)]->SetColor(plates::kDefaultColors[size_t(k)]);
    }
    actSmooth->setChecked(false);
    TransferPlateColors();
}

void TFormMap::FormDestroy() {
    // Detach the view first: the widgets go before the object would otherwise.
    if (MapImage) {
        MapImage->Gauge = nullptr;
        MapImage->TargetCanvas = nullptr;
    }
    MapImage.reset();
}

void TFormMap::FormShow() {
    UpdateScale();
    TransferPlateColors();
}

bool TFormMap::Busy() const {
    return MapImage && MapImage->IsOpening();
}

bool TFormMap::Showing() const {
    return MapImage && (MapImage->Loaded || MapImage->IsOpening());
}

void TFormMap::showEvent(QShowEvent* e) {
    QWidget::showEvent(e);
    AlignControls();
    if (!Shown) {
        Shown = true;
        tk::Guarded([this] { FormShow(); });
    }
}

void TFormMap::resizeEvent(QResizeEvent* e) {
    QWidget::resizeEvent(e);
    AlignControls();
}

// The toolbar along the top, the option panel at the right while visible, the map panel
// in what is left.
void TFormMap::AlignControls() {
    const int w = width(), h = height(), bar = ToolBar1->height();
    ToolBar1->setGeometry(0, 0, w, bar);
    ToolBar1->Arrange();
    int right = w;
    if (!pnlOption->isHidden()) {
        right = std::max(0, w - pnlOption->width());
        pnlOption->setGeometry(right, bar, pnlOption->width(), std::max(0, h - bar));
    }
    const int status = StatusBar ? StatusBar->height() : 0;
    pnlMap->setGeometry(0, bar, right, std::max(0, h - bar - status));
    if (StatusBar) StatusBar->setGeometry(0, std::max(bar, h - status), right, status);
}

void TFormMap::closeEvent(QCloseEvent* e) {
    // A sheet that loads stops at its next strip, or when a read that stalls returns; the
    // window goes at once, and the scratch file with the open's end.
    if (Busy()) {
        MapImage->RequestStop();
        OpenTimer->stop();
        PendingOpen.reset();
        PendingCommands.clear();
    }
    SaveSettings();
    QWidget::closeEvent(e);
    if (OnClosed) OnClosed();
}

void TFormMap::RedrawView() {
    Image1->Lock();
    rt::TScopeExit unlock([this] { Image1->Unlock(); });
    for (int k = 1; k <= 8; ++k)
        MapImage->PlateVisible[size_t(k)] = PlateChecks[size_t(k)]->isChecked();
    MapImage->Smooth = SmoothView();
    Image1->FillRect({0, 0, Image1->width(), Image1->height()}, rt::RGB(255, 255, 255));
    SheetOnView = false;
    // A sheet that loads is drawn once its view's place is known: its rows are in, and
    // the bars have its ranges.
    if (Showing() && !(Opening && !Opening->Shown)) {
        const TRedrawState state = CurrentRedrawState();
        try {
            MapImage->Draw(scrH->Position(), scrV->Position(), ViewCols, ViewRows,
                           static_cast<long double>(Rate));
            SheetOnView = MapImage->HoldsRows(scrV->Position(), ViewRows);
            LastRedrawFailure.reset();
        } catch (const rt::TError& e) {
            const bool shown = LastRedrawFailure && LastRedrawFailure->first == state &&
                               LastRedrawFailure->second == e.what();
            LastRedrawFailure.emplace(state, e.what());
            if (!shown) throw;
        }
        UpdateScrollRanges();
    }
    UpdateStatus();
}

TFormMap::TRedrawState TFormMap::CurrentRedrawState() const {
    return {SheetsOpened, scrH->Position(),       scrV->Position(),     ViewCols,        ViewRows,
            Rate,         MapImage->PlateVisible, MapImage->PlateColor, MapImage->Smooth};
}

void TFormMap::btnOpenClick() {
    if (!OpenDialog.Execute()) return;
    OpenSheet(OpenDialog.FileName);
}

void TFormMap::OpenSheet(const std::string& path, bool keepPosition) {
    if (Busy()) { // the one that loads stops, and this one follows it
        PendingOpen.emplace(path, keepPosition);
        PendingCommands.clear();
        MapImage->RequestStop();
        return;
    }
    const int col = scrH->Position(), row = scrV->Position();
    ++SheetsOpened;
    Measure.reset(); // measured on the sheet before
    // Taken before the open, so that leafing goes on past a sheet that cannot be read.
    SheetPath = path;
    ListSiblings();
    // The view is drawn as soon as its rows are in, and the rest unpacked while it is seen.
    TOpening opening;
    opening.StartCol = keepPosition ? col : 0;
    opening.StartRow = keepPosition ? row : 0;
    opening.KeepPosition = keepPosition;
    MapImage->ShowFirst = {opening.StartRow, ViewRows};
    MapImage->OnRows = nullptr;
    // The view is drawn as soon as its rows are in, not at the timer's next turn.
    MapImage->OnNews = [this] {
        QMetaObject::invokeMethod(this, "OpenNews", Qt::QueuedConnection);
    };
    // Save and copy asked for while the sheet loads are done once it is in.
    btnBmpSave->setEnabled(true);
    btnCopy->setEnabled(true);
    try {
        MapImage->StartOpen(path);
    } catch (...) {
        NothingShown();
        throw;
    }
    Opening = opening;
    StopKey->setEnabled(true);
    OpenTimer->start();
    RedrawView(); // the last sheet goes at once
}

bool TFormMap::Deferred(std::function<void()> command) {
    if (!Busy()) return false;
    PendingCommands.push_back(std::move(command));
    return true;
}

void TFormMap::NothingShown() {
    // The window says so rather than keep the last picture or an empty status bar; there
    // is nothing to save or copy.
    btnBmpSave->setEnabled(false);
    btnCopy->setEnabled(false);
    RedrawView();
}

void TFormMap::OpenNews() {
    tk::Guarded([this] { OpenTick(); });
}

void TFormMap::OpenTick() {
    if (!Opening) return; // news that came after the open's end
    bool over = false;
    try {
        over = MapImage->Poll();
    } catch (...) { // the gauge refused the sheet: the open is over
        OpenEnded();
        throw;
    }
    if (Opening && !Opening->Shown && MapImage->Width > 0) {
        UpdateScrollRanges(); // the new sheet's, which clamp the position kept
        const int32_t top = std::min(Opening->StartRow, scrV->Max());
        if (MapImage->HoldsRows(top, ViewRows)) {
            Opening->Shown = true;
            scrH->SetPosition(std::min(Opening->StartCol, scrH->Max()));
            scrV->SetPosition(top);
            try {
                RedrawView();
            } catch (const rt::TError&) {
                // The whole sheet is drawn again once it is in, and says what fails.
            }
            Ready = true;
            // Once the view is painted, the rest of the sheet may take the cores.
            QTimer::singleShot(0, this, [this] {
                if (Busy()) MapImage->ViewShown();
            });
        }
    }
    if (over) OpenEnded();
}

namespace {
// Whether a file begins as a big-endian TIFF does; a file that cannot be read says nothing.
bool LooksLikeASheet(const std::string& path) {
    try {
        rt::TBinaryFile f;
        f.Assign(path);
        f.ResetRegular();
        uint8_t head[4] = {};
        return f.ReadSome(head, 4) == 4 && head[0] == 'M' && head[1] == 'M' && head[2] == 0 &&
               head[3] == 42;
    } catch (const rt::TError&) {
        return true;
    }
}
} // namespace

void TFormMap::OpenEnded() {
    OpenTimer->stop();
    StopKey->setEnabled(false);
    const std::optional<TOpening> opening = std::exchange(Opening, std::nullopt);
    std::vector<std::function<void()>> commands = std::exchange(PendingCommands, {});
    // A sheet asked for meanwhile follows, whatever became of this one.
    rt::TScopeExit next([this] {
        if (!PendingOpen) return;
        QTimer::singleShot(0, this, tk::Guard([this] {
                               if (!PendingOpen) return;
                               const auto [path, keep] = *std::exchange(PendingOpen, std::nullopt);
                               OpenSheet(path, keep);
                           }));
    });
    try {
        MapImage->FinishOpen();
    } catch (const rt::EAbort&) {
        NothingShown(); // stopped: and nothing is wrong
        return;
    } catch (const rt::TError& e) {
        NothingShown();
        if (dynamic_cast<const rt::EInOutError*>(&e) && !LooksLikeASheet(SheetPath))
            throw rt::TError(std::string("マップ画像ではありません (") + e.what() + ")");
        throw;
    }
    UpdateScrollRanges(); // the bars take the new sheet's ranges, then clamp
    if (opening && opening->Shown) {
        // Where the view went while the rest of the sheet came in, it stays.
    } else if (opening && opening->KeepPosition) {
        scrH->SetPosition(opening->StartCol);
        scrV->SetPosition(opening->StartRow);
    } else {
        scrH->SetPosition(0);
        scrV->SetPosition(0);
    }
    RedrawView();
    Ready = true;
    btnBmpSave->setEnabled(true);
    btnCopy->setEnabled(true);
    // What was asked for while the sheet loaded, now that it is in.
    for (auto& command : commands)
        QTimer::singleShot(0, this, tk::Guard([command = std::move(command)] { command(); }));
    // A damaged sheet is shown as far as it goes; the user hears once that it ends early.
    if (MapImage->Damage) throw *MapImage->Damage;
    if (MapImage->RowsWritten < MapImage->Height) throw rt::EInOutError(rt::kReadPastEnd);
}

void TFormMap::ListSiblings() {
    std::string dir = rt::ExtractFileDir(SheetPath), name = rt::ExtractFileName(SheetPath);
    Sheets.clear();
    for (std::string& entry : rt::ListDirectory(dir.empty() ? "." : dir))
        if (entry.size() > 4 && ::strcasecmp(entry.c_str() + entry.size() - 4, ".tif") == 0 &&
            rt::FileExists(rt::JoinPath(dir, entry)))
            Sheets.push_back(std::move(entry));
    std::sort(Sheets.begin(), Sheets.end(), rt::NaturalLess);
    auto at = std::find(Sheets.begin(), Sheets.end(), name);
    if (at == Sheets.end()) { // a sheet of another name: it is still the one shown
        Sheets.clear();
        return;
    }
    SheetIndex = size_t(at - Sheets.begin());
}

void TFormMap::LeafThrough(int direction) {
    if (SheetPath.empty()) return;
    ListSiblings(); // the directory as it is now: a disc may have been changed meanwhile
    if (Sheets.empty()) return;
    const int64_t next = int64_t(SheetIndex) + direction;
    if (next < 0 || next >= int64_t(Sheets.size())) return;
    OpenSheet(rt::JoinPath(rt::ExtractFileDir(SheetPath), Sheets[size_t(next)]), true);
}

void TFormMap::btnMapMgrClick() {
    if (ShowMgr) ShowMgr();
}

void TFormMap::btnOptVClick() {
    pnlOption->setVisible(btnOptV->isChecked());
    AlignControls();
}

void TFormMap::StepRate(bool in) {
    if (in) {
        Rate = Rate * 2;
        if (Rate > zoom::kMaxRate) Rate = zoom::kMaxRate;
    } else {
        Rate = Rate / 2;
        if (Rate < zoom::kMinRate) Rate = zoom::kMinRate;
    }
    UpdateScale();
}

void TFormMap::spnRateUpClick() {
    StepRate(true);
    if (Ready) RedrawView();
}

void TFormMap::spnRateDownClick() {
    StepRate(false);
    if (Ready) RedrawView();
}

void TFormMap::UpdateScale() {
    if (Rate >= 1)
        lblMScale->setText(QString("x %1").arg(static_cast<int64_t>(Rate)));
    else
        lblMScale->setText(QString("1/%1").arg(static_cast<int64_t>(1 / Rate)));
    ViewCols = static_cast<int32_t>(Image1->width() / Rate);
    ViewRows = static_cast<int32_t>(Image1->height() / Rate);
    scrH->setGeometry(Image1->x(), Image1->y() + Image1->height(), Image1->width(), scrH->height());
    scrH->SetLargeChange(ViewCols / 2);
    scrH->SetSmallChange(10);
    scrV->setGeometry(Image1->x() + Image1->width(), Image1->y(), scrV->width(), Image1->height());
    scrV->SetLargeChange(ViewRows / 2);
    scrV->SetSmallChange(10);
    UpdateScrollRanges();
}

void TFormMap::UpdateScrollRanges() {
    const int32_t w = MapImage->Width, h = MapImage->Height;
    scrH->SetMax(w > ViewCols ? w - ViewCols : 0);
    scrV->SetMax(h > ViewRows ? h - ViewRows : 0);
}

void TFormMap::pnlMapResize() {
    Ready = false;
    rt::TScopeExit ready([this] { Ready = true; });
    // A panel smaller than the bars leaves the view no room: it gets none.
    Image1->setGeometry(0, 0, std::max(0, pnlMap->width() - scrV->width()),
                        std::max(0, pnlMap->height() - scrH->height()));
    Gauge->setGeometry(0, 0, pnlMap->width(), Gauge->height());
    UpdateScale();
}

void TFormMap::Image1Paint() {
    if (Ready) RedrawView();
}

void TFormMap::scrHScroll(TScrollBar*, int scrollCode, int&) {
    if (Ready && scrollCode == TScrollBar::scEndScroll) RedrawView();
}

void TFormMap::scrHChange(TScrollBar*) {}

void TFormMap::chk8Click() {
    if (Ready) RedrawView();
}

void TFormMap::col8Click(TSwatch* sender) {
    if (!ColorDialog.Execute()) return;
    sender->SetColor(ColorDialog.Color);
    TransferPlateColors();
}

void TFormMap::TransferPlateColors() {
    MapImage->PlateColor[0] = rt::RGB(255, 255, 255);
    for (int k = 1; k <= 8; ++k)
        MapImage->PlateColor[size_t(k)] = PlateSwatches[size_t(k)]->Color();
    RedrawView();
}

void TFormMap::Button2Click() {
    if (Deferred([this] { Button2Click(); })) return;
    rt::TBitmap copy;
    copy.SetSize(Image1->width(), Image1->height());
    rt::StretchCopy(copy, 0, 0, copy.Width(), copy.Height(), Image1->Bitmap(), 0, 0, copy.Width(),
                    copy.Height());
    tk::CopyToClipboard(copy);
}

void TFormMap::PrintClick() {
    if (Deferred([this] { PrintClick(); }) || !MapImage->Loaded) return;
    QPrinter printer(QPrinter::HighResolution);
    const TSheetWindow whole{0, 0, MapImage->Width, MapImage->Height};
    // The dialog offers the orientation that takes fewer pages; one the user picks stays.
    printer.setPageOrientation(
        BestOrientation(printer, *MapImage, whole, PrintDialog.Choice.FitToPage));
    const QPageLayout::Orientation offered = printer.pageLayout().orientation();
    PrintDialog.Choice.FitOnly = !measure::HasResolution(MapImage->XDpi, MapImage->YDpi);
    if (!PrintDialog.Execute(printer)) return;
    const int64_t col = scrH->Position(), row = scrV->Position();
    const TSheetWindow shown{col, row, std::min<int64_t>(ViewCols, MapImage->Width - col),
                             std::min<int64_t>(ViewRows, MapImage->Height - row)};
    PrintSheet(printer, *MapImage,
               {PrintDialog.Choice.WholeSheet ? whole : shown, PrintDialog.Choice.FitToPage,
                printer.pageLayout().orientation() != offered});
}

void TFormMap::btnBmpSaveClick() {
    if (Deferred([this] { btnBmpSaveClick(); }) || !MapImage->Loaded) return;
    // Nothing is written above x 1: said before a name is asked for, not after.
    if (Rate > 1)
        throw rt::TError("x 1 より大きい倍率では保存できません (倍率を x 1 以下にしてください)");
    if (!SaveDialog.Execute()) return;
    // The same picture as PNG where the user asks for it.
    if (rt::IsPngName(SaveDialog.FileName))
        MapImage->SavePng(0, 0, MapImage->Width, MapImage->Height, static_cast<long double>(Rate),
                          SaveDialog.FileName);
    else
        MapImage->SaveBitmap(0, 0, MapImage->Width, MapImage->Height,
                             static_cast<long double>(Rate), SaveDialog.FileName);
}

void TFormMap::Button1Click() {
    if (Busy()) return;
    std::string path =
        rt::JoinPath(rt::JoinPath(rt::ExeDir(), "Bmp"), MapImage->SheetName + ".Bmp");
    MapImage->SaveBitmap(0, 0, MapImage->Width, MapImage->Height, 0.03125L, path);
}

void TFormMap::Button3Click() {
    // The work bitmap's palette, 32 squares to a row, on the window's own surface.
    PaletteSquares.clear();
    const rt::TBitmap& work = *MapImage->WorkBitmap;
    if (!work.HasPalette()) return;
    const auto& pal = work.Palette();
    for (int k = 0; k < 256; ++k) {
        const auto& e = pal[size_t(k)];
        rt::TColor wanted = rt::RGB(e.Red, e.Green, e.Blue);
        const auto& near = pal[size_t(work.NearestPaletteIndex(wanted))];
        int i = k / 32, j = k % 32;
        PaletteSquares.push_back(
            {QRect(10 + 15 * j, 10 + 15 * i, 16, 16), rt::RGB(near.Red, near.Green, near.Blue)});
    }
    repaint();
}

void TFormMap::paintEvent(QPaintEvent* e) {
    QWidget::paintEvent(e);
    if (PaletteSquares.empty()) return;
    QPainter p(this);
    p.setPen(Qt::black);
    for (const auto& [r, c] : PaletteSquares) {
        p.setBrush(tk::ToQColor(c));
        p.drawRect(r.adjusted(0, 0, -1, -1));
    }
    PaletteSquares.clear();
}
