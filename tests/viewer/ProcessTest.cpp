// The viewer as a real process: ended by signals, killed, and started again.

#include "tests/TestSupport.h"
#include "tools/SampleSheet.h"

#include <chrono>
#include <csignal>
#include <filesystem>
#include <gtest/gtest.h>
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
    pid_t Start(const std::string& sheet) {
        pid_t pid = ::fork();
        if (pid == 0) {
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
