#pragma once
// Hand-made sheets and a fixture with a private scratch path.

#include "engine/TiffIO.h"
#include "tests/TestSupport.h"
#include "tools/SampleSheet.h"

#include <functional>
#include <gtest/gtest.h>

namespace enginetest {

struct TEntry {
    uint16_t Tag, Type;
    uint32_t Count, Value;
};

// A value that stands for the file offset of rational i of the builder.
constexpr uint32_t RationalRef(uint32_t i) {
    return 0xFFFF0000u + i;
}

// Builds a sheet byte by byte, so that tests can make every layout the reader meets.
struct TSheetBuilder {
    std::vector<TEntry> Entries;
    std::vector<std::vector<uint8_t>> Strips;
    std::vector<std::pair<uint32_t, uint32_t>> Rationals;
    uint32_t DirOffset = 8;
    bool LittleEndianMark = false;
    std::vector<uint8_t> Build() const;

    // ImageWidth, ImageLength, Compression, StripOffsets (one per strip) and a 254 dpi
    // resolution.
    static TSheetBuilder Basic(uint32_t width, uint32_t height,
                               std::vector<std::vector<uint8_t>> strips,
                               uint16_t compression = 32773);
};

// A canvas that counts the transfers made onto it.
class TCountingCanvas : public rt::TBitmapCanvas {
public:
    using TBitmapCanvas::TBitmapCanvas;
    void StretchBlt(int dx, int dy, int dw, int dh, const rt::TBitmap& src, int sx, int sy, int sw,
                    int sh, uint32_t rop) override {
        ++Transfers;
        TBitmapCanvas::StretchBlt(dx, dy, dw, dh, src, sx, sy, sw, sh, rop);
    }
    void BitBlt(int dx, int dy, int w, int h, const rt::TBitmap& src, int sx, int sy,
                uint32_t rop) override {
        ++Transfers;
        TBitmapCanvas::BitBlt(dx, dy, w, h, src, sx, sy, rop);
    }
    void PixelsWritten() override { ++Transfers; }
    int Transfers = 0;
};

// A gauge that hands each position it is set to on: an open tells it strip by strip.
class TWatchedGauge : public rt::TProgressModel {
public:
    void SetPosition(int value) override {
        TProgressModel::SetPosition(value);
        if (OnPosition) OnPosition(value);
    }
    std::function<void(int)> OnPosition;
};

// A work bitmap that counts how often it is told to release a cached picture.
class TCountingBitmap : public rt::TBitmap {
public:
    void Dormant() override { ++Releases; }
    int Releases = 0;
};

// The message of the error f raises, or "" when it raises none.
template <class F> std::string ErrorOf(F f) {
    try {
        f();
    } catch (const std::exception& e) {
        return e.what();
    }
    return {};
}

// The palette index a pixel byte gets under the plate rule, written independently.
int PlateOf(uint8_t v, const std::array<bool, 9>& visible);

class EngineTest : public ::testing::Test {
protected:
    testing_support::TTempDir Dir;
    std::string ScratchPath() const { return Dir.File("scratch.tmp"); }
    std::string Put(const std::string& name, const std::vector<uint8_t>& bytes) const;
    std::vector<uint8_t> Scratch() const { return testing_support::ReadAll(ScratchPath()); }
    // A sheet written from a painted sample.
    std::string PutSample(const std::string& name, const sample::TRaster& r,
                          const sample::TSheetOptions& o = {}) const;
};

// Default viewer colours for plates 1 to 8 and white background.
std::array<rt::TColor, 9> ViewerColours();
std::array<bool, 9> AllVisible();

} // namespace enginetest
