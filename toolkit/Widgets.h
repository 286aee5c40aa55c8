#pragma once
// The spin button, the progress bar behind the engine's progress-bar interface, and the
// paint box whose canvas is a runtime bitmap.

#include "runtime/Canvas.h"
#include "runtime/Progress.h"

#include <QFocusEvent>
#include <QProgressBar>
#include <QToolButton>
#include <QWidget>
#include <functional>

class QPainter;

// Two arrow buttons, up above down.
class TSpinButton : public QWidget {
    Q_OBJECT
public:
    explicit TSpinButton(QWidget* parent = nullptr);
    std::function<void()> OnUpClick;
    std::function<void()> OnDownClick;
    QToolButton* UpButton() const { return Up; }
    QToolButton* DownButton() const { return Down; }

protected:
    void resizeEvent(QResizeEvent* e) override;

private:
    QToolButton* Up;
    QToolButton* Down;
};

class TProgressGauge : public QProgressBar, public rt::TProgressBar {
    Q_OBJECT
public:
    explicit TProgressGauge(QWidget* parent = nullptr);
    void SetVisible(bool visible) override { setVisible(visible); }
    bool Visible() const override { return isVisible(); }
    void SetMin(int value) override;
    int Min() const override { return minimum(); }
    void SetMax(int value) override;
    int Max() const override { return maximum(); }
    void SetPosition(int value) override { setValue(std::clamp(value, minimum(), maximum())); }
    int Position() const override { return value(); }
    void SetForeColor(rt::TColor color) override;
    void SetBackColor(rt::TColor color);
    rt::TColor ForeColor() const { return Fore; }
    rt::TColor BackColor() const { return Back; }

private:
    void Restyle();
    rt::TColor Fore = 0x00FF0000, Back = 0x0000FF00;
};

// The view: draws into a bitmap the size of the widget and shows it. The paint event
// (OnPaint) fires on expose and resize; showing what was just drawn does not fire it again.
class TPaintBox : public QWidget, public rt::TCanvasSurface {
    Q_OBJECT
public:
    explicit TPaintBox(QWidget* parent = nullptr);
    std::function<void()> OnPaint;
    // Input on the view; each handler runs guarded.
    std::function<void(QMouseEvent*)> OnMouseDown;
    std::function<void(QMouseEvent*)> OnMouseMove;
    std::function<void(QMouseEvent*)> OnMouseUp;
    std::function<void()> OnMouseLeave;
    std::function<void(QWheelEvent*)> OnWheel;
    std::function<bool(QKeyEvent*)> OnKeyDown; // true when the key was used
    // Drawn over the picture on the screen only: the picture (copied, saved) stays as it is.
    std::function<void(QPainter&)> OnOverlay;
    const rt::TBitmap& Bitmap() const { return Image; }

    void FillRect(const rt::TRect& r, rt::TColor c) override;
    void StretchBlt(int dx, int dy, int dw, int dh, const rt::TBitmap& src, int sx, int sy, int sw,
                    int sh, uint32_t rop) override;
    void BitBlt(int dx, int dy, int w, int h, const rt::TBitmap& src, int sx, int sy,
                uint32_t rop) override;
    void Lock() override { ++Locks; }
    void Unlock() override;
    int SurfaceWidth() const override { return Image.Width(); }
    int SurfaceHeight() const override { return Image.Height(); }
    rt::TBitmap* Pixels() override { return &Image; }
    void PixelsWritten() override { Drawn(); }
    bool Locked() const { return Locks > 0; }

protected:
    void paintEvent(QPaintEvent* e) override;
    void resizeEvent(QResizeEvent* e) override;
    void mousePressEvent(QMouseEvent* e) override;
    void mouseMoveEvent(QMouseEvent* e) override;
    void mouseReleaseEvent(QMouseEvent* e) override;
    void leaveEvent(QEvent* e) override;
    void wheelEvent(QWheelEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;
    // The view shows no focus frame: gaining or losing focus needs no new picture.
    void focusInEvent(QFocusEvent* e) override { e->accept(); }
    void focusOutEvent(QFocusEvent* e) override { e->accept(); }

private:
    void Drawn();

    rt::TBitmap Image;
    int Locks = 0;
    bool Fresh = false;    // the bitmap holds a picture not yet shown
    bool Painting = false; // inside the paint event
};
