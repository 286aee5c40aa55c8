#pragma once
// A sheet read once, straight through, for a picture written once: its directory, then the
// rows of a window taken from its strips in order, top down, without a scratch file. Rows
// are placed as an open places them, by what the strips before them unpack to.

#include "engine/SheetDirectory.h"
#include "runtime/BinaryFile.h"

#include <cstdint>
#include <functional>
#include <string>

class TSheetStream {
public:
    // Opens the sheet and reads its directory, resolution and strip tables.
    explicit TSheetStream(const std::string& sheetPath);
    TSheetStream(const TSheetStream&) = delete;
    TSheetStream& operator=(const TSheetStream&) = delete;

    const TSheetDirectory& Directory() const { return D; }
    bool ResolutionRead = false; // the sheet states both resolutions
    int32_t XDpi = 0, YDpi = 0;

    // Told the strip the walk has come to, before it is walked.
    std::function<void(int32_t strip)> OnStrip;

    // row's bytes are the sheet's whole row, valid during the call.
    using TTake = std::function<void(int64_t row, const uint8_t* bytes)>;
    // Hands take the last of rows first to first + count - 1 and every step-th row above it,
    // top down. A strip cut short before the last of them raises what cut it; rows the
    // sheet does not have raise the short-read error. Either may come after some rows.
    void Walk(int64_t first, int64_t count, int64_t step, const TTake& take);

private:
    rt::TBinaryFile Source;
    TSheetDirectory D;
    TStripTables Tables;
};
