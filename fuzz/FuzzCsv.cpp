// Arbitrary bytes as a CSV file read record by record, and as the map registry that an
// update rewrites.

#include "manage/Csv.h"
#include "manage/UInit.h"
#include "manage/UManage.h"
#include "runtime/FileSys.h"
#include "runtime/Hooks.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <unistd.h>

namespace {

std::string ReadFileBytes(const std::string& path) {
    std::string out;
    if (FILE* f = std::fopen(path.c_str(), "rb")) {
        char buf[4096];
        size_t n;
        while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) out.append(buf, n);
        std::fclose(f);
    }
    return out;
}

bool WriteFileBytes(const std::string& path, const uint8_t* data, size_t size) {
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    bool ok = std::fwrite(data, 1, size, f) == size;
    return std::fclose(f) == 0 && ok;
}

void Check(bool ok, const char* what) {
    if (ok) return;
    std::fprintf(stderr, "broken: %s\n", what);
    std::abort();
}

const std::string& WorkDir() {
    // Never destroyed, so that the clean-up at exit can still name it.
    static const std::string* dir = [] {
        auto* d = new std::string("/tmp/mapview-fuzz-csv-" + std::to_string(::getpid()));
        rt::CreateDir(*d);
        InitMapMgr(*d);
        std::atexit([] {
            std::error_code ec;
            std::filesystem::remove_all(WorkDir(), ec);
        });
        return d;
    }();
    return *dir;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string& dir = WorkDir();
    const std::string csvPath = dir + "/in.csv";
    if (!WriteFileBytes(csvPath, data, size) || !WriteFileBytes(MgrFile, data, size)) return 0;

    // With the default settings the fields joined by commas give the line back, and a line
    // never holds CR or the end-of-file byte.
    std::string firstKeys[2];
    {
        tcsv csv;
        csv.openread(csvPath);
        size_t records = 0;
        while (!csv.eof) {
            csv.readrec();
            Check(csv.text.find_first_of("\r\x1A") == std::string::npos, "line end in a record");
            if (!csv.text.empty()) {
                std::string joined;
                for (size_t i = 0; i < csv.items.size(); ++i)
                    joined += (i ? "," : "") + csv.items[i];
                Check(joined == csv.text, "fields do not give the line back");
            }
            if (records++ == 0 && csv.items.size() >= 3) {
                firstKeys[0] = csv.items[1];
                firstKeys[1] = csv.items[2];
            }
            Check(records <= size + 1, "more records than bytes");
        }
        csv.close();
    }
    {
        tcsv csv; // the other settings only have to survive
        csv.stringflg = size % 2 == 0;
        csv.sepaflg = size % 3 == 0;
        csv.tokns = ",\t;";
        csv.openread(csvPath);
        while (!csv.eof) csv.readrec();
        csv.close();
    }

    // The first record's keys make a match likely, so that the question and the in-place
    // change are reached; the answer comes from the data.
    const std::string before(reinterpret_cast<const char*>(data), size);
    const bool yes = size > 0 && (data[size - 1] & 1);
    bool asked = false;
    rt::SetAskYesNoHook([&](const std::string&) {
        asked = true;
        return yes;
    });
    bool failed = false;
    try {
        UpdateMgrFile(7, firstKeys[0], firstKeys[1], "/d", "/m");
    } catch (const std::exception&) {
        failed = true;
    }
    rt::SetAskYesNoHook(nullptr);
    Check(!rt::FileExists(MgrFile + ".new"), "working file left behind");
    if (failed || (asked && !yes))
        Check(ReadFileBytes(MgrFile) == before, "registry changed by a failed or refused update");
    else
        Check(!ReadFileBytes(MgrFile).empty(), "registry lost by an update");
    return 0;
}
