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
            // Strips cut by a byte budget, and strips whose RowsPerStrip lies: rows are
            // placed by what the strips unpack to.
            sample::TSheetOptions budget, lying;
            budget.FillStrips = true;
            budget.StripBytes = 40;
            lying.StripRows.assign(4, 5);
            lying.StatedRowsPerStrip = 4;
            for (const sample::TSheetOptions& o : {budget, lying})
                sample::WriteSheet(dir + "/seed" + std::to_string(++n) + ".tif",
                                   sample::PaintSample(24, 16, uint32_t(n)), o);
        } else if (target == "fuzz_csv") {
            // Registries and index files: quotes, Shift-JIS, the line ends and 0x1A.
            const std::string seeds[] = {
                "7,5339,\"\x93\x8c\x8b\x9e\",/cd/Data,/opt/Gsi25kMI5339.txt\r\n"
                "7,5340,y,/cd/Data,/opt/Gsi25kMI5340.txt\r\n",
                "7,k,v,/d\r\n\r\n  7,k,v,/e,/f\r\n",
                "\"x,y\",z\rx\"y,z\"x,y\n\"x\"\"y\",z\r\n\x1a"
                "7,a,b,c,d\r\n",
                "\r\n  \t,,\r\n",
            };
            int n = 0;
            for (const auto& s : seeds) {
                const std::string path = dir + "/seed" + std::to_string(++n) + ".csv";
                if (FILE* f = std::fopen(path.c_str(), "wb")) {
                    std::fwrite(s.data(), 1, s.size(), f);
                    std::fclose(f);
                }
            }
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "fuzz_seeds: %s\n", e.what());
        return 1;
    }
    return 0;
}
