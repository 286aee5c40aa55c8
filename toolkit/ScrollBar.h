#pragma once
// A scroll bar with the classic scroll event: codes 0 to 8 while the user scrolls, end of
// scroll (8) once when the user lets go, and a change event for every new position.

#include <QScrollBar>
#include <functional>

class TScrollBar : public QScrollBar {
    Q_OBJECT
public:
    enum TScrollCode {
        scLineUp = 0,
        scLineDown,
        scPageUp,
        scPageDown,
        scPosition,
        scTrack,
        scTop,
        scBottom,
        scEndScroll
    };

    explicit TScrollBar(QWidget* parent = nullptr);
    explicit TScrollBar(Qt::Orientation o, QWidget* parent = nullptr);

    int Position() const { return value(); }
    // A position set from code raises the change event, never the scroll event.
    void SetPosition(int p) { setValue(p); }
    int Max() const { return maximum(); }
    // A maximum below the position pulls the position to it (a change event).
    void SetMax(int m) { setMaximum(std::max(m, minimum())); }
    int LargeChange() const { return pageStep(); }
    void SetLargeChange(int v) { setPageStep(std::max(v, 0)); }
    int SmallChange() const { return singleStep(); }
    void SetSmallChange(int v) { setSingleStep(std::max(v, 0)); }

    std::function<void(TScrollBar*, int code, int& pos)> OnScroll;
    std::function<void(TScrollBar*)> OnChange;

protected:
    void mousePressEvent(QMouseEvent* e) override;
    void mouseReleaseEvent(QMouseEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;
    void keyReleaseEvent(QKeyEvent* e) override;
    void wheelEvent(QWheelEvent* e) override;

private:
    void Init();
    void Scroll(int code);

    bool Pressed = false;
    bool KeyScrolling = false;
    int WheelRest = 0;
};
