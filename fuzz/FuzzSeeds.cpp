// Writes small valid inputs for a fuzz target into a directory: fuzz_seeds TARGET DIR

#include "tools/SampleSheet.h"

#include <cstdio>
#include <string>

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: fuzz_seeds TARGET DIR\n");
        return 2;
    }
    const std::string target = argv[1], dir = argv[2];
    try {
        if (target == "fuzz_tiff") {
            int n = 0;
            for (bool literal : {false, true})
                for (uint16_t compression : {uint16_t(32773), uint16_t(1)}) {
                    sample::TSheetOptions o;
                    o.LiteralRuns = literal;
                    o.Compression = compression;
                    o.StripBytes = 64;
                    ++n;
                    sample::WriteSheet(dir + "/seed" + std::to_string(n) + ".tif",
                                       sample::PaintSample(24, 16, uint32_t(n)), o);
                }
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "fuzz_seeds: %s\n", e.what());
        return 1;
    }
    return 0;
}
