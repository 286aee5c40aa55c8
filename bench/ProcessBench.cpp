// Whole processes: mapsheet against tiffcp, GDAL and itself, and its peak memory; the
// viewer's launch with a sheet against its launch without one.
//   bench_process MAPSHEET [--viewer MAPVIEWER_LAUNCH] [--quick]
// Each comparison runs its commands in turn, again and again, and takes the fastest run of
// each, in wall time and in CPU time, so that both sides meet the same load. --quick uses
// small sheets and few runs: it shows the program works, not the figures. Without
// gdal_translate on the PATH its comparisons are left out. The viewer runs on an Xvfb of
// its own where there is one, else on Qt's offscreen platform, as mapviewer_launch: the
// viewer's own main block with a report of its first picture.

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <poll.h>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

struct TResult {
    double Seconds = 0, CpuSeconds = 0;
    long PeakKiB = 0;
    bool Ok = false;
};

double SecondsOf(const timeval& t) {
    return double(t.tv_sec) + double(t.tv_usec) / 1e6;
}

// Runs argv with stdout and stderr to /dev/null.
TResult RunOnce(const std::vector<std::string>& argv) {
    const auto start = std::chrono::steady_clock::now();
    pid_t pid = ::fork();
    if (pid == 0) {
        int null = ::open("/dev/null", O_WRONLY);
        ::dup2(null, STDOUT_FILENO);
        ::dup2(null, STDERR_FILENO);
        std::vector<char*> args;
        for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        ::execvp(args[0], args.data());
        ::_exit(127);
    }
    int status = 0;
    rusage usage{};
    TResult r;
    if (::wait4(pid, &status, 0, &usage) < 0) return r;
    r.Seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    r.PeakKiB = usage.ru_maxrss;
    r.CpuSeconds = SecondsOf(usage.ru_utime) + SecondsOf(usage.ru_stime);
    r.Ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    return r;
}

struct TBest {
    double Wall = 1e9, Cpu = 1e9;
};

// The fastest of runs interleaved with the others of the same comparison.
std::vector<TBest> Fastest(const std::vector<std::vector<std::string>>& commands, int runs) {
    std::vector<TBest> best(commands.size());
    for (int i = 0; i < runs; ++i)
        for (size_t c = 0; c < commands.size(); ++c) {
            TResult r = RunOnce(commands[c]);
            if (!r.Ok) {
                std::fprintf(stderr, "bench_process: %s failed\n", commands[c][0].c_str());
                std::exit(1);
            }
            best[c].Wall = std::min(best[c].Wall, r.Seconds);
            best[c].Cpu = std::min(best[c].Cpu, r.CpuSeconds);
        }
    return best;
}

bool OnPath(const std::string& program) {
    return RunOnce({"sh", "-c", "command -v " + program}).Ok;
}

std::string ReadText(const std::string& path) {
    std::ifstream in(path);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// A VRT over the sheet whose colour table gives each pixel byte its plate's colour, the top
// plate set winning, so that GDAL writes the picture mapsheet export writes.
bool WriteColourVrt(const std::string& sheet, const std::string& vrt) {
    if (!RunOnce({"gdal_translate", "-q", "-of", "VRT", sheet, vrt + ".raw"}).Ok) return false;
    std::string text = ReadText(vrt + ".raw");
    const std::string gray = "<ColorInterp>Gray</ColorInterp>";
    const size_t at = text.find(gray);
    if (at == std::string::npos) return false;
    static const int kColours[9][3] = {{255, 255, 255}, {0, 0, 0},       {255, 255, 255},
                                       {80, 80, 80},    {0, 0, 255},     {160, 80, 0},
                                       {40, 40, 40},    {150, 150, 255}, {255, 160, 160}};
    std::string table = "<ColorInterp>Palette</ColorInterp><ColorTable>";
    for (int v = 0; v < 256; ++v) {
        int plate = 0;
        for (int k = 8; k >= 1 && !plate; --k)
            if (v & (1 << (k - 1))) plate = k;
        const int* c = kColours[plate];
        table += "<Entry c1=\"" + std::to_string(c[0]) + "\" c2=\"" + std::to_string(c[1]) +
                 "\" c3=\"" + std::to_string(c[2]) + "\" c4=\"255\"/>";
    }
    text.replace(at, gray.size(), table + "</ColorTable>");
    std::ofstream(vrt) << text;
    std::filesystem::remove(vrt + ".raw");
    return true;
}

double SizeRatio(const std::string& a, const std::string& b) {
    return double(std::filesystem::file_size(a)) / double(std::filesystem::file_size(b));
}

int gFailed = 0;
bool gQuick = false;

void Verdict(const std::string& what, double value, double target, bool below = true,
             const char* unit = "") {
    const bool holds = below ? value <= target : value >= target;
    gFailed += !holds;
    std::printf("ratio %-52s %7.3f%s  target %s %.2f  %s\n", what.c_str(), value, unit,
                below ? "<=" : ">=", target, holds ? "holds" : "FAILS");
}

// Both ratios are printed; the verdict goes by the worse.
void Verdict2(const std::string& what, const TBest& ours, const TBest& theirs, double target) {
    const double wall = ours.Wall / theirs.Wall, cpu = ours.Cpu / theirs.Cpu;
    std::printf("      %-52s wall %.3f, cpu %.3f\n", what.c_str(), wall, cpu);
    Verdict(what + " (the worse)", std::max(wall, cpu), target);
}

// An X server for the viewer, ended with the bench; none where Xvfb is missing.
class TXServer {
public:
    TXServer() {
        int fds[2];
        if (::pipe(fds) != 0) return;
        Pid = ::fork();
        if (Pid == 0) {
            ::close(fds[0]);
            int null = ::open("/dev/null", O_WRONLY);
            ::dup2(null, STDERR_FILENO);
            const std::string fd = std::to_string(fds[1]);
            ::execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", "1280x1024x24",
                     "-nolisten", "tcp", "-noreset", static_cast<char*>(nullptr));
            ::_exit(127);
        }
        ::close(fds[1]);
        std::string number;
        char c;
        // The display number ends with a newline; a server that cannot start closes the pipe.
        while (::read(fds[0], &c, 1) == 1 && c != '\n') number += c;
        ::close(fds[0]);
        if (!number.empty()) Display = ":" + number;
    }
    ~TXServer() {
        if (Pid > 0) {
            ::kill(Pid, SIGTERM);
            ::waitpid(Pid, nullptr, 0);
        }
    }
    TXServer(const TXServer&) = delete;
    TXServer& operator=(const TXServer&) = delete;
    std::string Display;

private:
    pid_t Pid = -1;
};

// Seconds from launching the viewer to its first picture on the screen, which the launcher
// reports on the monotonic clock; negative when it reports none.
double LaunchToPicture(const std::vector<std::string>& argv, const std::string& display) {
    int fds[2];
    if (::pipe(fds) != 0) return -1;
    timespec start{};
    ::clock_gettime(CLOCK_MONOTONIC, &start);
    pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(fds[1], STDOUT_FILENO);
        ::close(fds[0]);
        ::close(fds[1]);
        int null = ::open("/dev/null", O_WRONLY);
        ::dup2(null, STDERR_FILENO);
        if (display.empty())
            ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
        else {
            ::setenv("QT_QPA_PLATFORM", "xcb", 1);
            ::setenv("DISPLAY", display.c_str(), 1);
        }
        std::vector<char*> args;
        for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        ::execv(args[0], args.data());
        ::_exit(127);
    }
    ::close(fds[1]);
    std::string out;
    char buf[256];
    // A viewer that shows nothing (a message box it waits on) is ended after a minute.
    pollfd p{fds[0], POLLIN, 0};
    while (out.find('\n') == std::string::npos && ::poll(&p, 1, 60000) > 0) {
        const ssize_t n = ::read(fds[0], buf, sizeof buf);
        if (n <= 0) break;
        out.append(buf, size_t(n));
    }
    ::close(fds[0]);
    if (out.find('\n') == std::string::npos) ::kill(pid, SIGKILL);
    int status = 0;
    ::waitpid(pid, &status, 0);
    long long sec = 0;
    long nsec = 0;
    if (std::sscanf(out.c_str(), "shown %lld.%ld", &sec, &nsec) != 2) return -1;
    return double(sec - start.tv_sec) + double(nsec - start.tv_nsec) / 1e9;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr,
                     "usage: bench_process MAPSHEET [--viewer MAPVIEWER_LAUNCH] [--quick]\n");
        return 2;
    }
    const std::string mapsheet = argv[1];
    std::string viewer;
    for (int i = 2; i < argc; ++i) {
        if (std::strcmp(argv[i], "--quick") == 0) gQuick = true;
        if (std::strcmp(argv[i], "--viewer") == 0 && i + 1 < argc) viewer = argv[++i];
    }
    std::string dir = (std::filesystem::current_path() / "bench-process-XXXXXX").string();
    if (!::mkdtemp(dir.data())) return 1;
    auto at = [&](const std::string& name) { return dir + "/" + name; };
    auto sheet = [&](int w, int h, int seed = 1) {
        std::string p =
            at(std::to_string(w) + "x" + std::to_string(h) + "-" + std::to_string(seed) + ".tif");
        RunOnce({mapsheet, "sample", p, "--width", std::to_string(w), "--height", std::to_string(h),
                 "--seed", std::to_string(seed)});
        return p;
    };
    const int runs = gQuick ? 1 : 7;
    const std::pair<int, int> small = gQuick ? std::pair{200, 150} : std::pair{2000, 1500};
    const std::vector<std::pair<int, int>> large =
        gQuick ? std::vector<std::pair<int, int>>{{800, 600}, {1600, 1200}}
               : std::vector<std::pair<int, int>>{{8000, 6000}, {16000, 12000}};
    const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
    std::printf("%u cores, load %s\n", cores, [] {
        double l[3] = {};
        static char text[64];
        std::snprintf(text, sizeof text, "%.2f", ::getloadavg(l, 3) > 0 ? l[0] : -1.0);
        return text;
    }());

    // Unpacking to a file: mapsheet raster against tiffcp writing an uncompressed TIFF.
    std::map<std::pair<int, int>, std::string> sheets;
    for (auto size : large) sheets[size] = sheet(size.first, size.second);
    for (auto size : large) {
        const std::string s = sheets[size],
                          name = std::to_string(size.first) + "x" + std::to_string(size.second);
        auto t = Fastest(
            {{mapsheet, "raster", s, at("out.raw")}, {"tiffcp", "-c", "none", s, at("out.tif")}},
            runs);
        Verdict2("raster / tiffcp -c none, " + name, t[0], t[1], 0.9);
    }
    // A view of a large sheet against unpacking it whole.
    {
        const auto size = large.back();
        const std::string s = sheets[size];
        const std::string view = gQuick ? "160x100" : "1600x1000";
        const std::string where =
            std::to_string(size.first / 4) + "," + std::to_string(size.second / 4);
        auto t = Fastest({{mapsheet, "render", s, at("v.bmp"), "--view", view, "--at", where},
                          {mapsheet, "info", s}},
                         runs);
        std::printf("      render / info wall %.3f\n", t[0].Wall / t[1].Wall);
        Verdict("render " + view + " at 1 / info in CPU, " + std::to_string(size.first) + "x" +
                    std::to_string(size.second),
                t[0].Cpu / t[1].Cpu, 0.25);
    }
    // A disc at once: two jobs against one.
    {
        std::vector<std::string> disc;
        const auto size = large.front();
        const int count = gQuick ? 4 : 16;
        for (int i = 0; i < count; ++i) disc.push_back(sheet(size.first, size.second, 100 + i));
        for (const char* format : {"bmp", "png"}) {
            auto jobs = [&](const char* n) {
                std::vector<std::string> argv = {mapsheet,   "export", "--out-dir", at("disc"),
                                                 "--format", format,   "--jobs",    n};
                argv.insert(argv.end(), disc.begin(), disc.end());
                return argv;
            };
            auto t = Fastest({jobs("2"), jobs("1")}, gQuick ? 1 : 3);
            Verdict("export of " + std::to_string(count) + " sheets to " + format +
                        ", --jobs 2 / --jobs 1",
                    t[0].Wall / t[1].Wall, cores >= 2 ? 0.65 : 1.1);
        }
        for (const auto& p : disc) std::filesystem::remove(p);
    }
    // Exports against GDAL reading the same sheet through a colour-table VRT.
    if (OnPath("gdal_translate")) {
        std::vector<std::pair<int, int>> sizes = large;
        if (!gQuick) sizes.push_back({24000, 18000});
        const int gdalRuns = gQuick ? 1 : 3;
        for (auto size : sizes) {
            if (!sheets.count(size)) sheets[size] = sheet(size.first, size.second);
            const std::string s = sheets[size], vrt = at("colour.vrt"),
                              name = std::to_string(size.first) + "x" + std::to_string(size.second);
            if (!WriteColourVrt(s, vrt)) {
                std::printf("gdal_translate cannot read %s: GDAL comparisons left out\n",
                            s.c_str());
                break;
            }
            auto q = Fastest({{mapsheet, "export", s, at("q.bmp"), "--rate", "1/4"},
                              {"gdal_translate", "-q", "-outsize", "25%", "25%", vrt, at("q.tif")}},
                             gdalRuns);
            Verdict2("export --rate 1/4 bmp / gdal_translate 25%, " + name, q[0], q[1], 0.4);
            for (const char* rate : {"1", "1/4"}) {
                const bool whole = std::strcmp(rate, "1") == 0;
                std::vector<std::string> gdal = {"gdal_translate", "-q", "-of", "PNG"};
                if (!whole) gdal.insert(gdal.end(), {"-outsize", "25%", "25%"});
                gdal.insert(gdal.end(), {vrt, at("g.png")});
                auto p =
                    Fastest({{mapsheet, "export", s, at("p.png"), "--rate", rate}, gdal}, gdalRuns);
                Verdict2(std::string("export png at ") + rate + " / gdal_translate, " + name, p[0],
                         p[1], 0.5);
                Verdict(std::string("size of png at ") + rate + " / gdal's, " + name,
                        SizeRatio(at("p.png"), at("g.png")), 1.25);
            }
            if (std::find(large.begin(), large.end(), size) == large.end()) {
                std::filesystem::remove(s); // the largest is a gigabyte's worth of pixels
                sheets.erase(size);
            }
        }
    } else {
        std::printf("gdal_translate not found: GDAL comparisons left out\n");
    }
    // Memory stays flat: peak resident memory of the largest sheet against the smallest.
    {
        const std::string tiny = sheet(small.first, small.second), big = sheets[large.back()];
        auto peak = [&](std::vector<std::string> argv) { return RunOnce(argv).PeakKiB; };
        for (const char* cmd : {"raster", "export", "render"}) {
            auto with = [&](const std::string& s) {
                if (std::strcmp(cmd, "render") == 0)
                    return peak({mapsheet, "render", s, at("m.bmp"), "--view", "1600x1000"});
                return peak(
                    {mapsheet, cmd, s, at(std::strcmp(cmd, "raster") == 0 ? "m.raw" : "m.bmp")});
            };
            const long a = with(tiny), b = with(big);
            std::printf("peak RSS of mapsheet %s: %ld KiB, then %ld KiB\n", cmd, a, b);
            Verdict(std::string("memory growth of ") + cmd + " (MiB)", (b - a) / 1024.0, 2.0);
        }
    }
    // The viewer's first view against its empty window, from launch. The viewer is copied
    // here so that its settings and scratch file stay in the bench's directory.
    if (!viewer.empty()) {
        const std::string copy = at("mapviewer");
        std::filesystem::copy_file(viewer, copy);
        TXServer x;
        std::printf("viewer on %s\n",
                    x.Display.empty() ? "the offscreen platform" : ("Xvfb " + x.Display).c_str());
        std::vector<std::pair<int, int>> sizes = large;
        sizes.push_back(gQuick ? std::pair{2400, 1800} : std::pair{24000, 18000});
        for (auto size : sizes) {
            if (!sheets.count(size)) sheets[size] = sheet(size.first, size.second);
            double empty = 1e9, first = 1e9;
            for (int i = 0; i < runs; ++i) {
                const double e = LaunchToPicture({copy}, x.Display),
                             f = LaunchToPicture({copy, sheets[size]}, x.Display);
                if (e < 0 || f < 0) {
                    std::fprintf(stderr, "bench_process: the viewer reported no picture\n");
                    std::filesystem::remove_all(dir);
                    return 1;
                }
                empty = std::min(empty, e);
                first = std::min(first, f);
            }
            const std::string name = std::to_string(size.first) + "x" + std::to_string(size.second);
            std::printf("      launch to first view %.1f ms, to empty window %.1f ms, %s\n",
                        first * 1e3, empty * 1e3, name.c_str());
            Verdict("launch to first view / to empty window, " + name, first / empty, 1.2);
        }
    }
    std::filesystem::remove_all(dir);
    return gQuick ? 0 : (gFailed ? 1 : 0);
}
