#pragma once
// How far the last input went into the code its fuzz target exists for. A test replays a
// valid seed through the target's entry and asserts that it got there, so that a check put
// in front of that code cannot blind the target unseen.

#include <cstdint>

struct TFuzzReach {
    int64_t RowsUnpacked = 0;
    bool DecodedAhead = false;  // on the strip decoder's thread
    int DrawsWithPixels = 0;    // Draw calls that changed canvas pixels
    int Exports = 0;            // bitmap and PNG exports that wrote bytes
    bool ViewFirst = false;     // a view's rows in before the sheet's first row
    bool SampledExport = false; // a sampled open's export wrote bytes
    bool StripsPassed = false;  // and the sampled open left strips unread
    int64_t RowsCompared = 0;   // rows of a window, a sample or a first view found equal to
                                // the whole open's
    int64_t StreamedRows = 0;   // rows a stream from the strips handed on, found equal too
    int64_t Records = 0;        // CSV records read
    bool RegistryRewritten = false;
};

extern TFuzzReach gFuzzReach;
