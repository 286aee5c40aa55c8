// Whole processes: mapsheet against tiffcp, GDAL, the I/O floor of its jobs and itself, and
// its peak memory; the viewer's launch with a sheet against its launch without one.
//   bench_process MAPSHEET [--viewer MAPVIEWER_LAUNCH] [--quick]
// Each comparison runs its commands in turn, again and again, and takes the fastest run of
// each, in wall time and in CPU time, so that both sides meet the same load. Every line
// against a peer names the peer's command, and the peer writes the format and size we write.
// The floor of a job is a cat of its sheet and a cp of a file of its output's size. --quick
// uses small sheets and one run: it shows the program works, not the figures. Without
// gdal_translate on the PATH its comparisons are left out. The viewer runs on an Xvfb of
// its own where there is one, else on Qt's offscreen platform, as mapviewer_launch: the
// viewer's own main block with a report of its first picture.

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
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
// A peer that wrote another picture than ours: the figures mean nothing, even in --quick.
bool gUnlike = false;

void Verdict(const std::string& what, double value, double target, bool below = true,
             const char* unit = "") {
    const bool holds = below ? value <= target : value >= target;
    gFailed += !holds;
    std::printf("ratio %-78s %7.3f%s  target %s %.2f  %s\n", what.c_str(), value, unit,
                below ? "<=" : ">=", target, holds ? "holds" : "FAILS");
}

enum class EBy { Worse, Cpu };

// Both ratios are printed with the times they come from; the verdict goes by the worse, or by
// CPU time where the target is set in CPU time.
void Verdict2(const std::string& what, const TBest& ours, const TBest& theirs, double target,
              EBy by = EBy::Worse) {
    const double wall = ours.Wall / theirs.Wall, cpu = ours.Cpu / theirs.Cpu;
    std::printf("      %-78s wall %.3f (%.3f s / %.3f s), cpu %.3f (%.3f s / %.3f s)\n",
                what.c_str(), wall, ours.Wall, theirs.Wall, cpu, ours.Cpu, theirs.Cpu);
    if (by == EBy::Cpu)
        Verdict(what + " (cpu)", cpu, target);
    else
        Verdict(what + " (the worse)", std::max(wall, cpu), target);
}

std::string LoadText() {
    double l[3] = {-1, -1, -1};
    ::getloadavg(l, 3);
    char text[64];
    std::snprintf(text, sizeof text, "%.2f %.2f %.2f", l[0], l[1], l[2]);
    return text;
}

// Width and height of a BMP; zeros for what is none.
std::pair<long, long> BmpSize(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    unsigned char h[26] = {};
    if (!in.read(reinterpret_cast<char*>(h), sizeof h) || h[0] != 'B' || h[1] != 'M') return {};
    auto le = [&](int at) {
        return int32_t(uint32_t(h[at]) | uint32_t(h[at + 1]) << 8 | uint32_t(h[at + 2]) << 16 |
                       uint32_t(h[at + 3]) << 24);
    };
    return {le(18), std::labs(le(22))}; // a top-down bitmap has a negative height
}

// A ratio against a peer that wrote another size compares unlike work.
void SamePicture(const std::string& ours, const std::string& theirs) {
    const auto a = BmpSize(ours), b = BmpSize(theirs);
    if (a == b && a.first > 0) return;
    gUnlike = true;
    std::printf("UNLIKE %s is %ldx%ld, %s is %ldx%ld: the ratio above compares unlike work\n",
                ours.c_str(), a.first, a.second, theirs.c_str(), b.first, b.second);
}

// The I/O floor of a job: the sheet read once, and a file of the output's size copied to the
// output's place.
std::vector<std::string> Floor(const std::string& sheet, const std::string& sameSize,
                               const std::string& out) {
    return {"sh", "-c", "cat \"$1\" >/dev/null && cp \"$2\" \"$3\"", "sh", sheet, sameSize, out};
}

std::string Name(std::pair<int, int> size) {
    return std::to_string(size.first) + "x" + std::to_string(size.second);
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
    const std::pair<int, int> largest = gQuick ? std::pair{2400, 1800} : std::pair{24000, 18000};
    const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
    std::printf("%u cores, load %s (1, 5, 15 min)\n", cores, LoadText().c_str());

    // Unpacking to a file: mapsheet raster against tiffcp writing an uncompressed TIFF.
    std::map<std::pair<int, int>, std::string> sheets;
    for (auto size : large) sheets[size] = sheet(size.first, size.second);
    for (auto size : large) {
        const std::string s = sheets[size];
        auto t = Fastest(
            {{mapsheet, "raster", s, at("out.raw")}, {"tiffcp", "-c", "none", s, at("out.tif")}},
            runs);
        Verdict2("raster / tiffcp -c none, " + Name(size), t[0], t[1], 0.9);
    }
    std::filesystem::remove(at("out.raw"));
    std::filesystem::remove(at("out.tif"));
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
        Verdict("render " + view + " at 1 / info in CPU, " + Name(size), t[0].Cpu / t[1].Cpu, 0.25);
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
        std::filesystem::remove_all(at("disc"));
    }
    // Exports against GDAL reading the same sheet through a colour-table VRT, against their
    // I/O floors, and a fixed window as the sheet grows.
    bool gdal = OnPath("gdal_translate");
    if (gdal)
        std::printf("note: mapsheet writes 4-bit BMP; gdal_translate -of BMP writes the same "
                    "colours as 8-bit BMP, the nearest it can do, at the same width and height\n");
    else
        std::printf("gdal_translate not found: GDAL comparisons left out\n");
    std::vector<std::pair<int, int>> sizes = large;
    sizes.push_back(largest);
    const auto first = sizes.front(), last = sizes.back();
    std::map<std::pair<int, int>, std::string> vrts;
    for (auto size : sizes) {
        if (!sheets.count(size)) sheets[size] = sheet(size.first, size.second);
        if (!gdal) continue;
        vrts[size] = at("colour-" + Name(size) + ".vrt");
        if (!WriteColourVrt(sheets[size], vrts[size])) {
            std::printf("gdal_translate cannot read %s: GDAL comparisons left out\n",
                        sheets[size].c_str());
            gdal = false;
        }
    }
    auto file = [&](const char* base, std::pair<int, int> size, const char* ext = ".bmp") {
        return at(base + Name(size) + ext);
    };
    // Ours and the peer's fastest runs by size. All sizes run in one interleaved series, so
    // that growth from the first to the last compares runs under the same load.
    using TBySize = std::map<std::pair<int, int>, std::pair<TBest, TBest>>;
    using TCommand = std::function<std::vector<std::string>(std::pair<int, int>)>;
    auto series = [&](const std::vector<std::pair<int, int>>& of, const TCommand& ours,
                      const TCommand& peer, int n) {
        std::vector<std::vector<std::string>> commands;
        for (auto size : of) {
            commands.push_back(ours(size));
            if (gdal) commands.push_back(peer(size));
        }
        const auto t = Fastest(commands, n);
        TBySize by;
        size_t i = 0;
        for (auto size : of) {
            by[size].first = t[i++];
            if (gdal) by[size].second = t[i++];
        }
        return by;
    };
    const std::string span = Name(last) + " / " + Name(first);
    // Prints how the cost grows, the peer's beside ours; gives ours.
    auto growth = [&](const std::string& what, const std::string& peer, const TBySize& by) {
        auto show = [&](const std::string& who, const TBest& a, const TBest& b) {
            std::printf("      growth of %s, %s: wall %.3f (%.3f s / %.3f s), cpu %.3f (%.3f s / "
                        "%.3f s)\n",
                        who.c_str(), span.c_str(), b.Wall / a.Wall, b.Wall, a.Wall, b.Cpu / a.Cpu,
                        b.Cpu, a.Cpu);
            return TBest{b.Wall / a.Wall, b.Cpu / a.Cpu};
        };
        const TBest ours = show(what, by.at(first).first, by.at(last).first);
        if (gdal) show(peer + " (for reference)", by.at(first).second, by.at(last).second);
        return ours;
    };
    {
        const int n = gQuick ? 1 : 7;
        auto t = series(
            sizes,
            [&](auto size) {
                return std::vector<std::string>{mapsheet,         "export", sheets[size],
                                                file("q-", size), "--rate", "1/4"};
            },
            [&](auto size) {
                return std::vector<std::string>{"gdal_translate", "-q",  "-of", "BMP",
                                                "-outsize",       "25%", "25%", vrts[size],
                                                file("gq-", size)};
            },
            n);
        if (gdal)
            for (auto size : sizes) {
                Verdict2("export --rate 1/4 bmp / gdal_translate -of BMP -outsize 25% 25%, " +
                             Name(size),
                         t[size].first, t[size].second, 0.4, EBy::Cpu);
                SamePicture(file("q-", size), file("gq-", size));
            }
        const TBest g =
            growth("export --rate 1/4 bmp", "gdal_translate -of BMP -outsize 25% 25%", t);
        Verdict("growth of export --rate 1/4 bmp in cpu, " + span, g.Cpu, 2.5);
    }
    for (auto size : sizes) {
        const std::string s = sheets[size], vrt = gdal ? vrts[size] : "", name = Name(size);
        // Runs by cost: a few seconds a comparison at most.
        const int light = gQuick ? 1 : size == last ? 5 : 9, heavy = gQuick ? 1 : 3;
        // GDAL takes some 5 s a run for the whole of the largest sheet: it has one run there.
        if (gdal) {
            auto t = Fastest({{mapsheet, "export", s, at("o.bmp")},
                              {"gdal_translate", "-q", "-of", "BMP", vrt, at("go.bmp")}},
                             size == last ? 1 : heavy);
            Verdict2("export bmp at 1 / gdal_translate -of BMP, " + name, t[0], t[1], 0.2);
            SamePicture(at("o.bmp"), at("go.bmp"));
            std::filesystem::remove(at("go.bmp"));
        }
        if (size == first || size == last) {
            // The floor copies a file of exactly our output's size, made from our output.
            const std::pair<const char*, std::vector<std::string>> jobs[] = {
                {"export bmp at 1", {mapsheet, "export", s, at("o.bmp")}},
                {"raster", {mapsheet, "raster", s, at("r.raw")}}};
            const double targets[] = {2.5, 1.3};
            for (int j = 0; j < 2; ++j) {
                const std::string out = jobs[j].second.back(), same = at("same"),
                                  floor = at("floor");
                RunOnce(jobs[j].second);
                std::filesystem::copy_file(out, same,
                                           std::filesystem::copy_options::overwrite_existing);
                auto t = Fastest({jobs[j].second, Floor(s, same, floor)}, light);
                Verdict2(std::string(jobs[j].first) +
                             " / its floor (cat sheet >/dev/null && cp same-size file), " + name,
                         t[0], t[1], targets[j]);
                for (const auto& p : {out, same, floor}) std::filesystem::remove(p);
            }
        }
        if (gdal)
            for (const char* rate : {"1", "1/4"}) {
                const bool whole = std::strcmp(rate, "1") == 0;
                std::vector<std::string> peer = {"gdal_translate", "-q", "-of", "PNG"};
                if (!whole) peer.insert(peer.end(), {"-outsize", "25%", "25%"});
                peer.insert(peer.end(), {vrt, at("g.png")});
                auto p =
                    Fastest({{mapsheet, "export", s, at("p.png"), "--rate", rate}, peer}, heavy);
                const std::string how = whole ? "" : " -outsize 25% 25%";
                Verdict2(std::string("export png at ") + rate + " / gdal_translate -of PNG" + how +
                             ", " + name,
                         p[0], p[1], 0.5);
                Verdict(std::string("size of png at ") + rate + " / gdal_translate -of PNG" + how +
                            "'s, " + name,
                        SizeRatio(at("p.png"), at("g.png")), 1.25);
            }
    }
    // A fixed window a quarter of the way into the sheet, whatever the sheet's size.
    {
        const std::string cols = gQuick ? "160" : "1600", rows = gQuick ? "100" : "1000";
        auto col = [](auto size) { return std::to_string(size.first / 4); };
        auto row = [](auto size) { return std::to_string(size.second / 4); };
        auto t = series(
            {first, last},
            [&](auto size) {
                return std::vector<std::string>{
                    mapsheet,     "export",
                    sheets[size], file("w-", size),
                    "--window",   col(size) + "," + row(size) + "," + cols + "," + rows};
            },
            [&](auto size) {
                return std::vector<std::string>{
                    "gdal_translate", "-q", "-of", "BMP",      "-srcwin",        col(size),
                    row(size),        cols, rows,  vrts[size], file("gw-", size)};
            },
            gQuick ? 1 : 21);
        if (gdal)
            for (auto size : {first, last}) {
                const auto& [ours, theirs] = t[size];
                std::printf("      export --window %s,%s,%s,%s bmp / gdal_translate -of BMP "
                            "-srcwin %s %s %s %s, %s: wall %.3f (%.3f s / %.3f s), cpu %.3f "
                            "(%.3f s / %.3f s), for reference\n",
                            col(size).c_str(), row(size).c_str(), cols.c_str(), rows.c_str(),
                            col(size).c_str(), row(size).c_str(), cols.c_str(), rows.c_str(),
                            Name(size).c_str(), ours.Wall / theirs.Wall, ours.Wall, theirs.Wall,
                            ours.Cpu / theirs.Cpu, ours.Cpu, theirs.Cpu);
                SamePicture(file("w-", size), file("gw-", size));
            }
        const std::string fixed = cols + "x" + rows;
        const TBest g =
            growth("export --window of " + fixed + " bmp", "gdal_translate -of BMP -srcwin", t);
        Verdict("growth of export --window of " + fixed + " bmp (the worse), " + span,
                std::max(g.Wall, g.Cpu), 1.3);
    }
    for (auto size : sizes) {
        for (const char* base : {"q-", "gq-", "w-", "gw-"}) {
            std::filesystem::remove(file(base, size));
            std::filesystem::remove(file(base, size, ".bmp.aux.xml"));
        }
        if (gdal) std::filesystem::remove(vrts[size]);
    }
    for (const char* p : {"o.bmp", "p.png", "g.png", "v.bmp"}) std::filesystem::remove(at(p));
    // Memory stays flat: peak resident memory of the largest sheet against the smallest.
    {
        const std::string tiny = sheet(small.first, small.second), big = sheets[last];
        const std::pair<const char*, std::vector<std::string>> jobs[] = {
            {"raster", {"raster", at("m.raw")}},
            {"export", {"export", at("m.bmp")}},
            {"export --rate 1/4", {"export", at("m.bmp"), "--rate", "1/4"}},
            {"export to png", {"export", at("m.png")}},
            {"render", {"render", at("m.bmp"), "--view", "1600x1000"}}};
        for (const auto& [what, args] : jobs) {
            auto with = [&](const std::string& s) {
                std::vector<std::string> argv = {mapsheet, args[0], s};
                argv.insert(argv.end(), args.begin() + 1, args.end());
                return RunOnce(argv).PeakKiB;
            };
            const long a = with(tiny), b = with(big);
            std::printf("peak RSS of mapsheet %s: %ld KiB, then %ld KiB (%s, then %s)\n", what, a,
                        b, Name(small).c_str(), Name(last).c_str());
            Verdict(std::string("memory growth of ") + what + " (MiB)", (b - a) / 1024.0, 2.0);
        }
        for (const char* p : {"m.raw", "m.bmp", "m.png"}) std::filesystem::remove(at(p));
    }
    // The viewer's first view against its empty window, from launch. The viewer is copied
    // here so that its settings and scratch file stay in the bench's directory.
    if (!viewer.empty()) {
        const std::string copy = at("mapviewer");
        std::filesystem::copy_file(viewer, copy);
        TXServer x;
        std::printf("viewer on %s\n",
                    x.Display.empty() ? "the offscreen platform" : ("Xvfb " + x.Display).c_str());
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
            const std::string name = Name(size);
            std::printf("      launch to first view %.1f ms, to empty window %.1f ms, %s\n",
                        first * 1e3, empty * 1e3, name.c_str());
            Verdict("launch to first view / to empty window, " + name, first / empty, 1.2);
        }
    }
    std::filesystem::remove_all(dir);
    std::printf("load at the end %s (1, 5, 15 min)\n", LoadText().c_str());
    if (gUnlike) return 1;
    return gQuick ? 0 : (gFailed ? 1 : 0);
}
