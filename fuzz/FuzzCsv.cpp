// Arbitrary bytes as a CSV file read record by record, and as the map registry that an
// update rewrites.

#include "fuzz/Reach.h"
#include "manage/Csv.h"
#include "manage/UInit.h"
#include "manage/UManage.h"
#include "runtime/FileSys.h"
#include "runtime/Hooks.h"

#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <string>
#include <unistd.h>

namespace {

// Plain system calls: the stdio buffers cost more than the rest of a small input.
std::string ReadFileBytes(const std::string& path) {
    std::string out;
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return out;
    char buf[4096];
    ssize_t n;
    while ((n = ::read(fd, buf, sizeof buf)) > 0) out.append(buf, size_t(n));
    ::close(fd);
    return out;
}

bool WriteFileBytes(const std::string& path, const uint8_t* data, size_t size) {
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) return false;
    size_t done = 0;
    while (done < size) {
        ssize_t n = ::write(fd, data + done, size - done);
        if (n <= 0) break;
        done += size_t(n);
    }
    return ::close(fd) == 0 && done == size;
}

void Check(bool ok, const char* what) {
    if (ok) return;
    std::fprintf(stderr, "broken: %s\n", what);
    std::abort();
}

// A directory of our own under $TMPDIR, else on the memory file system where there is one:
// each input is written, read twice, rewritten and renamed.
std::string WorkBase() {
    const char* tmp = std::getenv("TMPDIR");
    if (tmp && *tmp == '/') return tmp;
    return rt::DirectoryExists("/dev/shm") ? "/dev/shm" : "/tmp";
}

const std::string& WorkDir() {
    // Never destroyed, so that the clean-up at exit can still name it.
    static const std::string* dir = [] {
        auto* d = new std::string(
            rt::JoinPath(WorkBase(), "mapview-fuzz-csv-" + std::to_string(::getpid())));
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

TFuzzReach gFuzzReach;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    WorkDir();
    gFuzzReach = {};
    // Read as it stands first, then updated.
    if (!WriteFileBytes(MgrFile, data, size)) return 0;

    // With the default settings the fields joined by commas give the line back, and a line
    // never holds CR or the end-of-file byte.
    std::string firstKeys[2];
    {
        tcsv csv;
        csv.openread(MgrFile);
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
        gFuzzReach.Records = int64_t(records);
        csv.close();
    }
    {
        tcsv csv; // the other settings only have to survive
        csv.stringflg = size % 2 == 0;
        csv.sepaflg = size % 3 == 0;
        csv.tokns = ",\t;";
        csv.openread(MgrFile);
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
    gFuzzReach.RegistryRewritten = ReadFileBytes(MgrFile).find(",/d,/m") != std::string::npos;
    return 0;
}
