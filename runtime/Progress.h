#pragma once
// The progress bar as the engine sees it. TProgressModel holds the values and refuses a
// maximum below the minimum the way the window's progress bar does.

#include "runtime/Bitmap.h"

namespace rt {

class TProgressBar {
public:
    virtual ~TProgressBar() = default;
    virtual void SetVisible(bool visible) = 0;
    virtual bool Visible() const = 0;
    virtual void SetMin(int value) = 0;
    virtual int Min() const = 0;
    virtual void SetMax(int value) = 0;
    virtual int Max() const = 0;
    virtual void SetPosition(int value) = 0;
    virtual int Position() const = 0;
    virtual void SetForeColor(TColor color) = 0;
};

// The progress bar's range rule: a minimum above the maximum, or a maximum below the
// minimum, is refused with the error the window's progress bar gives.
void CheckProgressMin(int value, int max);
void CheckProgressMax(int value, int min);

class TProgressModel : public TProgressBar {
public:
    void SetVisible(bool visible) override { Shown = visible; }
    bool Visible() const override { return Shown; }
    void SetMin(int value) override;
    int Min() const override { return Lo; }
    void SetMax(int value) override;
    int Max() const override { return Hi; }
    void SetPosition(int value) override;
    int Position() const override { return Pos; }
    void SetForeColor(TColor color) override { Fore = color; }
    TColor ForeColor() const { return Fore; }

private:
    bool Shown = false;
    int Lo = 0, Hi = 100, Pos = 0;
    TColor Fore = 0;
};

} // namespace rt
