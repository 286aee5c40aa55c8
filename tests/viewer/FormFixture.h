#pragma once
// A shown main window with its dialogs answered by the test, and what its view must show.

#include "engine/Plates.h"
#include "runtime/FileSys.h"
#include "runtime/Hooks.h"
#include "tests/TestSupport.h"
#include "toolkit/Guard.h"
#include "tools/SampleSheet.h"
#include "viewer/UFormMap.h"

#include <QApplication>
#include <csignal>
#include <cstring>
#include <gtest/gtest.h>
#include <optional>
#include <sys/resource.h>
#include <thread>

using testing_support::ReadAll;
using testing_support::TTempDir;

// A file-size limit (ulimit -f) on this process while it lives, with SIGXFSZ ignored as the
// program's main block ignores it: a write past the limit fails with EFBIG.
class TFileSizeLimit {
public:
    explicit TFileSizeLimit(rlim_t bytes) {
        ::getrlimit(RLIMIT_FSIZE, &Old);
        OldAction = std::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{bytes, Old.rlim_max};
        ::setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~TFileSizeLimit() {
        ::setrlimit(RLIMIT_FSIZE, &Old);
        std::signal(SIGXFSZ, OldAction);
    }
    TFileSizeLimit(const TFileSizeLimit&) = delete;
    TFileSizeLimit& operator=(const TFileSizeLimit&) = delete;

private:
    rlimit Old{};
    void (*OldAction)(int) = nullptr;
};

// The window as the program makes it, counting how often its view is drawn.
class TWatchedFormMap : public TFormMap {
public:
    using TFormMap::TFormMap;
    void RedrawView() override {
        ++Redraws;
        TFormMap::RedrawView();
    }
    int Redraws = 0;
};

class FormMapTest : public ::testing::Test {
protected:
    void SetUp() override {
        rt::SetProcessMessagesHook([] { QCoreApplication::processEvents(); });
        tk::SetErrorHandler([this](const std::string& m) { Errors.push_back(m); });
        tk::SetFileDialogHook([this](const tk::TFileRequest& r) -> std::optional<std::string> {
            Requests.push_back(r);
            if (Answers.empty()) return std::nullopt;
            auto a = Answers.front();
            Answers.erase(Answers.begin());
            return a;
        });
        tk::SetColorDialogHook([this](rt::TColor initial) -> std::optional<rt::TColor> {
            ColorOffered.push_back(initial);
            return ColorAnswer;
        });
        // Everything the window makes stays in the test's own directory.
        Form = std::make_unique<TWatchedFormMap>(nullptr, Dir.File("scratch.tmp"), Dir.Path());
        FormMap = Form.get();
        Form->show();
        Settle();
    }
    void TearDown() override {
        Form.reset();
        FormMap = nullptr;
        tk::SetErrorHandler(nullptr);
        tk::SetFileDialogHook(nullptr);
        tk::SetColorDialogHook(nullptr);
        rt::SetProcessMessagesHook(nullptr);
    }
    // Runs the events, and waits for a sheet that loads beside the window to be in.
    static void Settle() {
        for (int i = 0; i < 5; ++i) QCoreApplication::processEvents();
        for (int i = 0; i < 20000 && MapImage && MapImage->IsOpening(); ++i) {
            QCoreApplication::processEvents();
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        for (int i = 0; i < 5; ++i) QCoreApplication::processEvents();
    }
    std::string MakeSheet(const std::string& name, int w, int h, uint32_t seed = 1) {
        Raster = sample::PaintSample(w, h, seed);
        sample::WriteSheet(Dir.File(name), Raster);
        return Dir.File(name);
    }
    void Open(const std::string& path) {
        Answers.push_back(path);
        Form->btnOpenSingle->click();
        Settle();
    }
    // What the view must show: the engine's own drawing of the same window onto white.
    rt::TBitmap Expected() {
        const rt::TBitmap& view = Form->Image1->Bitmap();
        rt::TBitmapCanvas canvas(view.Width(), view.Height());
        canvas.FillRect({0, 0, view.Width(), view.Height()}, rt::kWhite);
        TTiff t(&canvas, Dir.File("reference.tmp"));
        if (MapImage->Loaded || MapImage->IsOpening()) { // the whole sheet, drawn as it will be
            t.OpenFile(LastOpened);
            for (int k = 1; k <= 8; ++k)
                t.PlateVisible[size_t(k)] = Form->PlateChecks[size_t(k)]->isChecked();
            for (int k = 0; k <= 8; ++k) t.PlateColor[size_t(k)] = MapImage->PlateColor[size_t(k)];
            t.Smooth = Form->SmoothView();
            t.Draw(Form->scrH->Position(), Form->scrV->Position(), Form->ViewCols, Form->ViewRows,
                   static_cast<long double>(Form->Rate));
        }
        return canvas.Bitmap();
    }
    static bool Same(const rt::TBitmap& a, const rt::TBitmap& b) {
        return testing_support::SameBitmaps(a, b);
    }
    bool ViewIsRight() { return Same(Form->Image1->Bitmap(), Expected()); }
    // Scrolls as the user would: a move, then the end of the scroll.
    void ScrollTo(TScrollBar* bar, int pos) {
        bar->setSliderPosition(pos);
        int p = bar->Position();
        bar->OnScroll(bar, TScrollBar::scEndScroll, p);
        Settle();
    }

    TTempDir Dir;
    std::unique_ptr<TWatchedFormMap> Form;
    sample::TRaster Raster;
    std::string LastOpened;
    std::vector<std::string> Errors;
    std::vector<tk::TFileRequest> Requests;
    std::vector<std::string> Answers;
    std::vector<rt::TColor> ColorOffered;
    std::optional<rt::TColor> ColorAnswer;
};
