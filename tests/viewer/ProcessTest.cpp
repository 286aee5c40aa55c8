// The viewer as a real process: ended by signals, killed, and started again.

#include "tests/TestSupport.h"
#include "tools/SampleSheet.h"

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using testing_support::TTempDir;
namespace fs = std::filesystem;

namespace {

constexpr int kSheetW = 600, kSheetH = 400;

class ViewerProcess : public ::testing::Test {
protected:
    void SetUp() override {
        // A folder of its own, as a portable copy: its scratch files lie beside it.
        App = Dir.File("app");
        fs::create_directories(App);
        fs::copy_file(MAPVIEWER_PATH, App + "/mapviewer");
        Sheet = Dir.File("C12345.tif");
        sample::WriteSheet(Sheet, sample::PaintSample(kSheetW, kSheetH, 2));
    }
    // With fileSizeLimit, the child's files cannot grow past that many bytes (ulimit -f).
    pid_t Start(const std::string& sheet, rlim_t fileSizeLimit = RLIM_INFINITY) {
        pid_t pid = ::fork();
        if (pid == 0) {
            const rlimit limit{fileSizeLimit, fileSizeLimit};
            if (fileSizeLimit != RLIM_INFINITY && ::setrlimit(RLIMIT_FSIZE, &limit) != 0)
                ::_exit(126);
            ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
            ::setenv("HOME", Dir.Path().c_str(), 1);
            const std::string exe = App + "/mapviewer";
            ::execl(exe.c_str(), "mapviewer", sheet.c_str(), static_cast<char*>(nullptr));
            ::_exit(127);
        }
        return pid;
    }
    // Waits until the file exists with the given size (or, with size -1, is gone).
    bool WaitFor(const std::string& path, intmax_t size) {
        for (int i = 0; i < 1000; ++i) {
            std::error_code ec;
            const auto n = fs::file_size(path, ec);
            if (size < 0 ? ec.value() != 0 : (!ec && intmax_t(n) == size)) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return false;
    }
    static int Wait(pid_t pid) {
        int status = 0;
        ::waitpid(pid, &status, 0);
        return status;
    }
    std::string Scratch(pid_t pid = 0) const {
        return App + (pid ? "/tiff-" + std::to_string(pid) + ".tmp" : "/tiff.tmp");
    }

    TTempDir Dir;
    std::string App, Sheet;
};

} // namespace

TEST_F(ViewerProcess, EndedBySignalsItClosesAsItsWindowWouldAndRemovesTheScratchFile) {
    for (int sig : {SIGTERM, SIGINT, SIGHUP}) {
        pid_t pid = Start(Sheet);
        ASSERT_TRUE(WaitFor(Scratch(), kSheetW * kSheetH)) << sig;
        ::kill(pid, sig);
        int status = Wait(pid);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << sig;
        EXPECT_FALSE(fs::exists(Scratch())) << sig;
        // A portable copy keeps its settings beside it, as closing the window does.
        EXPECT_TRUE(fs::exists(App + "/mapviewer.ini")) << sig;
    }
}

TEST_F(ViewerProcess, ScratchFilesOfKilledViewersGoWhenTheNextOneStarts) {
    pid_t first = Start(Sheet);
    ASSERT_TRUE(WaitFor(Scratch(), kSheetW * kSheetH));
    pid_t second = Start(Sheet);
    ASSERT_TRUE(WaitFor(Scratch(second), kSheetW * kSheetH));
    ::kill(first, SIGKILL);
    ::kill(second, SIGKILL);
    Wait(first);
    Wait(second);
    EXPECT_TRUE(fs::exists(Scratch()) && fs::exists(Scratch(second)));
    // The next viewer opens a smaller sheet, so that its own "tiff.tmp" is told apart.
    const std::string small = Dir.File("small.tif");
    sample::WriteSheet(small, sample::PaintSample(30, 20, 3));
    pid_t next = Start(small);
    EXPECT_TRUE(WaitFor(Scratch(), 30 * 20));
    EXPECT_FALSE(fs::exists(Scratch(second)));
    ::kill(next, SIGTERM);
    int status = Wait(next);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_FALSE(fs::exists(Scratch()));
}

TEST_F(ViewerProcess, UnderAFileSizeLimitASheetLargerThanItFailsAndTheViewerLivesOn) {
    // The sheet's scratch file takes 240,000 bytes; the viewer may write 64 KiB. The write
    // that meets the limit fails (its message waits in a box) instead of ending the process.
    constexpr rlim_t kLimit = 64 * 1024;
    const pid_t pid = Start(Sheet, kLimit);
    bool filled = false;
    for (int i = 0; i < 1000 && !filled; ++i) {
        std::error_code ec;
        filled = fs::file_size(Scratch(), ec) == kLimit;
        if (!filled) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_TRUE(filled) << "the open never reached the limit";
    // Time enough for the open to have failed, and for a SIGXFSZ to have ended the process.
    std::this_thread::sleep_for(std::chrono::milliseconds(700));
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, WNOHANG), 0)
        << "the viewer ended by itself, signal " << (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
    EXPECT_LE(fs::file_size(Scratch()), kLimit);
    // Closed from outside over its message box, it ends as it always does.
    ::kill(pid, SIGTERM);
    status = Wait(pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_FALSE(fs::exists(Scratch())) << "the scratch file stayed";
}

namespace {

// An X server of the test's own, kept alive between clients, so that the root window's
// resources stay as a desktop sets them.
class TXServer {
public:
    TXServer() {
        int fds[2];
        if (::pipe(fds) != 0) return;
        Pid = ::fork();
        if (Pid == 0) {
            ::close(fds[0]);
            const std::string fd = std::to_string(fds[1]);
            ::execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", "2400x1600x24",
                     "-nolisten", "tcp", "-noreset", static_cast<char*>(nullptr));
            ::_exit(127);
        }
        ::close(fds[1]);
        // The server writes its display's number, then a newline, once it takes clients.
        std::string number;
        char c = 0;
        while (::read(fds[0], &c, 1) == 1 && c != '\n') number += c;
        ::close(fds[0]);
        if (c == '\n' && !number.empty()) Display = ":" + number;
    }
    ~TXServer() {
        if (Pid > 0) {
            ::kill(Pid, SIGTERM);
            ::waitpid(Pid, nullptr, 0);
        }
    }
    // Runs a command on this display; its standard output.
    std::string Run(const std::string& command) const {
        return testing_support::CommandOutput("DISPLAY=" + Display + " " + command);
    }
    pid_t Pid = -1;
    std::string Display;
};

} // namespace

TEST_F(ViewerProcess, ADesktopsXftDpiScalesTheWindowWithItsLayout) {
    TXServer x;
    ASSERT_FALSE(x.Display.empty()) << "Xvfb did not start";
    // The main window's size on the screen, as the X server has it: "WxH".
    auto windowSize = [&](const char* dpi) {
        if (dpi)
            x.Run(std::string("xprop -root -format RESOURCE_MANAGER 8s -set RESOURCE_MANAGER "
                              "'Xft.dpi:\t") +
                  dpi + "'");
        else
            x.Run("xprop -root -remove RESOURCE_MANAGER");
        pid_t pid = ::fork();
        if (pid == 0) {
            ::setenv("QT_QPA_PLATFORM", "xcb", 1);
            ::setenv("DISPLAY", x.Display.c_str(), 1);
            ::setenv("HOME", Dir.Path().c_str(), 1);
            ::unsetenv("QT_SCALE_FACTOR");
            ::unsetenv("QT_FONT_DPI");
            const std::string exe = App + "/mapviewer";
            ::execl(exe.c_str(), "mapviewer", static_cast<char*>(nullptr));
            ::_exit(127);
        }
        std::string size;
        for (int i = 0; i < 500 && size.empty(); ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            const std::string tree = x.Run("xwininfo -root -tree");
            const size_t at = tree.find("(\"mapviewer\" \"mapviewer\")");
            if (at == std::string::npos) continue;
            const size_t from = tree.find_first_not_of(' ', at + 26);
            size = tree.substr(from, tree.find('+', from) - from);
        }
        ::kill(pid, SIGTERM);
        EXPECT_TRUE(WIFEXITED(Wait(pid)));
        return size;
    };
    // A first window takes most of the screen in the desktop's own pixels, at least 1280 x
    // 800 where they allow: scaled by 1.5 and 2 it is that size in larger pixels.
    const std::string root = x.Run("xwininfo -root");
    auto number = [&](const char* key) {
        const size_t at = root.find(key);
        return at == std::string::npos ? 0 : std::atoi(root.c_str() + at + std::strlen(key));
    };
    const int screenW = number("Width: "), screenH = number("Height: ");
    ASSERT_GT(screenW, 0);
    auto expectScaled = [&](const char* dpi, double scale) {
        const std::string got = windowSize(dpi);
        const int w = std::atoi(got.c_str()), h = std::atoi(got.c_str() + got.find('x') + 1);
        auto side = [&](int screen, int least) {
            const int logical = int(screen / scale);
            return std::clamp(logical * 17 / 20, std::min(logical, least), logical) * scale;
        };
        EXPECT_NEAR(w, side(screenW, 1280), 3) << (dpi ? dpi : "none") << ": " << got;
        EXPECT_NEAR(h, side(screenH, 800), 3) << (dpi ? dpi : "none") << ": " << got;
    };
    expectScaled(nullptr, 1);
    expectScaled("96", 1);
    expectScaled("144", 1.5);
    expectScaled("192", 2);
}

TEST_F(ViewerProcess, Ctrl_QDuringAStalledReadClosesTheWindowAtOnce) {
    // A read in the middle of the sheet stalls for 5 s, as a scratched disc's does while the
    // drive retries. The window goes as soon as Ctrl+Q is typed into the stall; the process
    // ends once the read returns, and its scratch file with it.
    TXServer x;
    ASSERT_FALSE(x.Display.empty()) << "Xvfb did not start";
    const std::string sheet = Dir.File("C5339.tif");
    sample::WriteSheet(sheet, sample::PaintSample(2000, 3000, 4));
    const std::vector<uint8_t> bytes = testing_support::ReadAll(sheet);
    const uint32_t middle =
        testing_support::StripOffset(bytes, testing_support::StripCount(bytes) / 2);
    constexpr int kStallMs = 5000;
    const auto start = std::chrono::steady_clock::now();
    pid_t pid = ::fork();
    if (pid == 0) {
        ::setenv("QT_QPA_PLATFORM", "xcb", 1);
        ::setenv("DISPLAY", x.Display.c_str(), 1);
        ::setenv("HOME", Dir.Path().c_str(), 1);
        ::setenv("LD_PRELOAD", IOFAULT_PATH, 1);
        const std::string stall =
            std::to_string(kStallMs) + ":" + std::to_string(middle) + ":" + sheet;
        ::setenv("MAPVIEW_READ_STALL", stall.c_str(), 1);
        const std::string exe = App + "/mapviewer";
        ::execl(exe.c_str(), "mapviewer", sheet.c_str(), static_cast<char*>(nullptr));
        ::_exit(127);
    }
    auto since = [&](std::chrono::steady_clock::time_point t) {
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - t).count();
    };
    std::string window;
    for (int i = 0; i < 500 && window.empty(); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        window = x.Run("xdotool search --onlyvisible --name 'Map Viewer' 2>/dev/null");
    }
    ASSERT_FALSE(window.empty()) << "the window never showed";
    window = window.substr(0, window.find('\n'));
    // A second into the stall, as a user who waits a moment.
    std::this_thread::sleep_for(std::chrono::milliseconds(1000));
    ASSERT_LT(since(start), kStallMs / 1000.0 - 2) << "too slow a start to be in the stall";
    const auto typed = std::chrono::steady_clock::now();
    // Typed on the keyboard (XTEST) into the focused window, as a user types it.
    x.Run("xdotool windowfocus --sync " + window + " key ctrl+q");
    double gone = -1;
    for (int i = 0; i < 400 && gone < 0; ++i) {
        if (x.Run("xdotool search --onlyvisible --name 'Map Viewer' 2>/dev/null").empty())
            gone = since(typed);
        else
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    std::printf("window gone %.3f s after Ctrl+Q, %.3f s into the run\n", gone, since(start));
    // Gone while the read is still stalled, not at its end.
    EXPECT_GE(gone, 0);
    if (gone < 0) ::kill(pid, SIGKILL);
    EXPECT_LT(since(start), kStallMs / 1000.0) << "the window waited for the read";
    // Ended by itself, not by a signal (under the leak checker, a library's leak of the X
    // platform's bus connection makes the status nonzero).
    const int status = Wait(pid);
    EXPECT_TRUE(WIFEXITED(status));
    EXPECT_GE(since(start), kStallMs / 1000.0 - 0.5); // it ended after the read returned
    EXPECT_FALSE(fs::exists(Scratch())) << "the scratch file stayed";
}
