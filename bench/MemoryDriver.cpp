// Peak resident set of `mapsheet raster` on a large and a small sheet.
//   bench_memory MAPSHEET [--quick]

#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

long PeakKiB(const char* mapsheet, const std::string& sheet, const std::string& out) {
    pid_t pid = ::fork();
    if (pid == 0) {
        int null = ::open("/dev/null", O_WRONLY);
        ::dup2(null, STDERR_FILENO);
        ::execl(mapsheet, "mapsheet", "raster", sheet.c_str(), out.c_str(),
                static_cast<char*>(nullptr));
        ::_exit(127);
    }
    int status = 0;
    rusage usage{};
    if (::wait4(pid, &status, 0, &usage) < 0 || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return -1;
    return usage.ru_maxrss;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: bench_memory MAPSHEET [--quick]\n");
        return 2;
    }
    bool quick = argc > 2 && std::strcmp(argv[2], "--quick") == 0;
    std::string dir = (std::filesystem::current_path() / "bench-mem-XXXXXX").string();
    if (!::mkdtemp(dir.data())) return 1;
    // The sheets are painted by a child, so that this process stays small: a child's peak
    // counts the pages it shared with its parent before it started mapsheet.
    auto make = [&](int w, int h) {
        std::string p = dir + "/" + std::to_string(w) + ".tif";
        pid_t pid = ::fork();
        if (pid == 0) {
            ::execl(argv[1], "mapsheet", "sample", p.c_str(), "--width", std::to_string(w).c_str(),
                    "--height", std::to_string(h).c_str(), static_cast<char*>(nullptr));
            ::_exit(127);
        }
        int status = 0;
        ::waitpid(pid, &status, 0);
        return p;
    };
    std::string large = quick ? make(1000, 800) : make(10000, 8000);
    std::string small = quick ? make(200, 150) : make(2000, 1500);
    long big = PeakKiB(argv[1], large, dir + "/large.raw");
    long little = PeakKiB(argv[1], small, dir + "/small.raw");
    std::filesystem::remove_all(dir);
    if (big < 0 || little < 0) {
        std::fprintf(stderr, "bench_memory: mapsheet raster failed\n");
        return 1;
    }
    double diff = (big - little) / 1024.0;
    bool holds = diff < 2.0;
    std::printf("peak RSS of mapsheet raster: %s %ld KiB, %s %ld KiB\n",
                quick ? "1000x800" : "10000x8000", big, quick ? "200x150" : "2000x1500", little);
    std::printf("ratio %-45s %6.3f  target < 2 MiB  %s\n", "memory difference (MiB)", diff,
                holds ? "holds" : "FAILS");
    return quick || holds ? 0 : 1;
}
