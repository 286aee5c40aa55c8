#pragma once
// The main window: the view of the open sheet with its scroll bars, the toolbar, and the
// option panel with the plate controls and the zoom.

#include "engine/TiffIO.h"
#include "toolkit/Dialogs.h"
#include "toolkit/PrintDialog.h"
#include "ui_UFormMap.h"
#include "viewer/ViewAids.h"

#include <QAction>
#include <QLabel>
#include <QMenu>
#include <QMimeData>
#include <QShortcut>
#include <QTimer>
#include <QWidget>
#include <array>
#include <functional>
#include <memory>
#include <optional>

class TFormMap : public QWidget, public Ui::TFormMap {
    Q_OBJECT
public:
    // scratchPath is the map image object's scratch file and dataDir the directory that
    // holds the management directory; empty means the program's own (rt::ScratchDir(),
    // rt::DataDir()).
    explicit TFormMap(QWidget* parent = nullptr, const std::string& scratchPath = {},
                      const std::string& dataDir = {});
    ~TFormMap() override;

    double Rate = 1.0;
    int32_t ViewCols = 0;
    int32_t ViewRows = 0;
    bool Ready = false;
    bool SheetOnView = false; // the picture shows the sheet's rows, all of them in

    tk::TOpenDialog OpenDialog;
    tk::TSaveDialog SaveDialog;
    tk::TColorDialog ColorDialog;
    tk::TPrintDialog PrintDialog;

    // Takes what the settings file at path keeps (plates, colours, smooth reduction, zoom,
    // the window's size and place, the option panel, the dialogs' directories), and keeps
    // them there when the window closes. Without it nothing is kept.
    void UseSettings(const std::string& path);
    void SaveSettings();
    // Plates, colours and smooth reduction as a first start has them.
    void ResetView();

    void FormCreate(const std::string& scratchPath, const std::string& dataDir);
    void FormDestroy();
    void FormShow();
    virtual void RedrawView();
    void btnOpenClick();
    void btnMapMgrClick();
    void btnOptVClick();
    void spnRateUpClick();
    void spnRateDownClick();
    void UpdateScale();
    void UpdateScrollRanges();
    void pnlMapResize();
    void Image1Paint();
    void scrHScroll(TScrollBar* sender, int scrollCode, int& scrollPos);
    void scrHChange(TScrollBar* sender);
    void chk8Click();
    void col8Click(TSwatch* sender);
    void TransferPlateColors();
    void Button2Click();
    // Prints the window the view shows or the whole sheet, as the print dialog chooses.
    void PrintClick();
    void btnBmpSaveClick();
    void Button1Click();
    void Button3Click();

    // The open command after its dialog: also used for the sheet named on the command line.
    // Leafing through a disc keeps the scroll positions where the new sheet allows.
    void OpenSheet(const std::string& path, bool keepPosition = false);
    // Opens the next (or the previous) .tif file of the open sheet's directory in natural
    // name order; at either end nothing happens.
    void LeafThrough(int direction);
    // The manager window's ShowMgr, once that window exists.
    std::function<void()> ShowMgr;
    // Called when the window has closed.
    std::function<void()> OnClosed;

    std::array<QCheckBox*, 9> PlateChecks{}; // 1 to 8
    std::array<TSwatch*, 9> PlateSwatches{}; // 1 to 8

    // Beyond the classic window: panning, wheel and keys on the view, shortcuts, drops and
    // a status bar. They all go through Rate, the scroll positions, UpdateScale and RedrawView.
    void ViewMouseDown(QMouseEvent* e);
    void ViewMouseMove(QMouseEvent* e);
    void ViewMouseUp(QMouseEvent* e);
    void ViewWheel(QWheelEvent* e);
    bool ViewKeyDown(QKeyEvent* e);
    // Zooms to newRate keeping the sheet pixel at view point (x, y) where the bars allow.
    void ZoomAbout(double newRate, int x, int y);
    // The largest zoom rate at which the whole sheet fits the view.
    double FitRate() const;
    void UpdateStatus();
    // Smooth reduction: below rate 1 each view pixel shows its block's average colour.
    bool SmoothView() const { return actSmooth->isChecked(); }
    void SetSmoothView(bool on);
    QMenu* ViewMenu = nullptr; // the view's context menu
    QAction* actSmooth = nullptr;
    QAction* actReset = nullptr;
    QAction* actPrint = nullptr;
    std::string SettingsPath;
    QString StatusSheet() const { return lblStatusSheet->text(); }
    QString StatusScale() const { return lblStatusScale->text(); }
    QString StatusPointer() const { return lblStatusPointer->text(); }
    QString StatusMeasure() const { return lblStatusMeasure->text(); }
    // A distance measured by Shift and a drag: its length on the ground at the 1:25,000 of
    // these sheets, from the sheet's resolution; in sheet pixels where it has none.
    QString MeasureText() const;
    bool Dragging() const { return DragOn; }
    // The scale bar in the view's corner, for a sheet with a resolution.
    QAction* actScaleBar = nullptr;
    bool ScaleBarShown() const { return actScaleBar->isChecked(); }
    // The path of Shift and clicks, in sheet pixels; "距離をコピー" copies its length (or
    // the straight line's while one is shown).
    const measure::TPath& MeasuredPath() const { return Path; }
    QAction* actCopyDistance = nullptr;
    QString DistanceText() const;

protected:
    void dragEnterEvent(QDragEnterEvent* e) override;
    void dragMoveEvent(QDragMoveEvent* e) override;
    void dropEvent(QDropEvent* e) override;
    void showEvent(QShowEvent* e) override;
    void resizeEvent(QResizeEvent* e) override;
    void closeEvent(QCloseEvent* e) override;
    void paintEvent(QPaintEvent* e) override;

private:
    void AlignControls();
    void SetupInput();
    void StepRate(bool in);
    // Moves the view by a number of sheet pixels, keeping fractions for the next move.
    void ScrollBy(double cols, double rows);
    // The local .tif file a drop carries, or empty when it may not be dropped.
    QString DroppedSheet(const QMimeData* data) const;
    void ShowPointer(QPoint at);

    QWidget* StatusBar = nullptr;
    QLabel* lblStatusSheet = nullptr;
    QLabel* lblStatusScale = nullptr;
    QLabel* lblStatusPointer = nullptr;
    QLabel* lblStatusMeasure = nullptr;
    // The line measured, in sheet pixels, and the scroll positions it was measured at: a
    // scroll ends it, as Esc and the next measurement do.
    struct TMeasure {
        QPointF From, To;
        QPoint Scroll;
    };
    std::optional<TMeasure> Measure;
    bool Measuring = false;
    QPointF SheetPoint(QPointF view) const;
    void DrawMeasure(QPainter& p) const;
    // A Shift press becomes a path's point when let go where it began, else a straight line.
    std::optional<QPointF> ShiftPress;
    measure::TPath Path;
    int PathSheet = 0; // SheetsOpened when the path began: a path belongs to its sheet
    void DrawPath(QPainter& p) const;
    void DrawScaleBar(QPainter& p) const;
    void CopyDistance();
    QTimer* FrameTimer = nullptr;
    bool DragOn = false;
    bool DragRedrawDue = false;
    QPointF DragLast;
    double RestCols = 0, RestRows = 0;
    int ZoomRest = 0;
    QPoint Pointer{-1, -1};
    bool Busy() const;    // a sheet is being unpacked
    bool Showing() const; // a sheet is open or its rows are coming in

    // What a redraw shows: the same failure of the same picture is reported once, not once
    // per repaint.
    struct TRedrawState {
        int Sheet, Col, Row, Cols, Rows;
        double Rate;
        std::array<bool, 9> Visible;
        std::array<rt::TColor, 9> Colors;
        bool Smooth;
        bool operator==(const TRedrawState&) const = default;
    };
    TRedrawState CurrentRedrawState() const;
    std::optional<std::pair<TRedrawState, std::string>> LastRedrawFailure;
    int SheetsOpened = 0;
    std::string SheetPath;           // the sheet last opened
    std::vector<std::string> Sheets; // the .tif files of its directory, in natural order
    size_t SheetIndex = 0;           // its place among them
    void ListSiblings();

    bool Shown = false;
    // The open running beside the window: the timer takes in its progress; the view is
    // drawn once its rows are in, then once the open is over.
    struct TOpening {
        int32_t StartCol = 0, StartRow = 0;
        bool KeepPosition = false, Shown = false;
    };
    std::optional<TOpening> Opening;
    QTimer* OpenTimer = nullptr;
    QShortcut* StopKey = nullptr; // Esc while a sheet loads
    void OpenTick();
    // OpenTick, guarded, posted by name from the open's thread: the call then carries
    // nothing built on that thread, whose hand-over only Qt's own lock would order.
    Q_INVOKABLE void OpenNews();
    void OpenEnded();
    void NothingShown(); // after an open that failed or was stopped
    // Asked for while a sheet loads: another sheet, once the stopped open is over; save,
    // copy or print, once the sheet is in.
    std::optional<std::pair<std::string, bool>> PendingOpen;
    std::vector<std::function<void()>> PendingCommands;
    // Runs command now, or once the sheet that loads is in.
    bool Deferred(std::function<void()> command);
    std::vector<std::pair<QRect, rt::TColor>> PaletteSquares; // drawn once, then forgotten
};

// The one map image object of the process, owned by the main window.
extern std::unique_ptr<TTiff> MapImage;
extern TFormMap* FormMap;
