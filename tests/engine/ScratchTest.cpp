// The shared scratch file under several real processes, stale files of gone processes,
// sheet paths that are not files and rasters larger than the disk.

#include "runtime/Errors.h"
#include "runtime/FileLock.h"
#include "runtime/FileSys.h"
#include "runtime/MapGuard.h"
#include "tests/engine/EngineFixture.h"

#include <chrono>
#include <csignal>
#include <sched.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using namespace enginetest;

namespace {

pid_t GonePid() {
    pid_t pid = ::fork();
    if (pid == 0) ::_exit(0);
    ::waitpid(pid, nullptr, 0);
    return pid;
}

// A process that holds a lock file until it is told to let go (by closing the pipe).
struct TLockHolder {
    pid_t Pid = -1;
    int Release = -1;
    explicit TLockHolder(const std::string& lockPath) {
        int go[2], ready[2];
        if (::pipe(go) != 0 || ::pipe(ready) != 0) return;
        Pid = ::fork();
        if (Pid == 0) {
            ::close(go[1]);
            rt::TFileLock lock;
            lock.Acquire(lockPath);
            char c = 1;
            if (::write(ready[1], &c, 1) != 1) ::_exit(1);
            while (::read(go[0], &c, 1) > 0) {
            }
            ::_exit(0);
        }
        ::close(go[0]);
        ::close(ready[1]);
        char c;
        if (::read(ready[0], &c, 1) != 1) Pid = -1;
        ::close(ready[0]);
        Release = go[1];
    }
    ~TLockHolder() { Stop(); }
    void Stop() {
        if (Release >= 0) ::close(Release);
        Release = -1;
        if (Pid > 0) ::waitpid(Pid, nullptr, 0);
        Pid = -1;
    }
};

} // namespace

TEST_F(EngineTest, ProcessesRacingForTheSharedScratchFileNeverShareOne) {
    // Each process opens a sheet of its own again and again and checks that the scratch
    // file it was given holds its own raster and nothing else, before and after a pause.
    const std::string shared = Dir.File("shared");
    ASSERT_TRUE(rt::ForceDirectories(shared));
    constexpr int kProcs = 4;
    std::vector<std::string> sheets;
    std::vector<sample::TRaster> rasters;
    for (int k = 0; k < kProcs; ++k) {
        rasters.push_back(sample::PaintSample(48, 40, uint32_t(k + 1)));
        sheets.push_back(PutSample(std::to_string(k) + ".tif", rasters.back()));
    }
    std::vector<pid_t> pids;
    for (int k = 0; k < kProcs; ++k) {
        pid_t pid = ::fork();
        if (pid == 0) {
            const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(1500);
            const std::string own =
                rt::JoinPath(shared, "tiff-" + std::to_string(::getpid()) + ".tmp");
            int bad = 0;
            while (std::chrono::steady_clock::now() < end && bad == 0) {
                TTiff t(nullptr, TSharedScratch{shared});
                t.OpenFile(sheets[size_t(k)]);
                if (t.ScratchPath != rt::JoinPath(shared, "tiff.tmp") && t.ScratchPath != own)
                    bad = 2;
                for (int look = 0; look < 2 && bad == 0; ++look) {
                    if (testing_support::ReadAll(t.ScratchPath) != rasters[size_t(k)].Pixels)
                        bad = 1;
                    ::usleep(50);
                }
            }
            ::_exit(bad);
        }
        pids.push_back(pid);
    }
    for (pid_t pid : pids) {
        int status = 0;
        ::waitpid(pid, &status, 0);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "a scratch file was shared";
    }
    // Every process removed what it made; only the lock file stays.
    EXPECT_EQ(rt::ListDirectory(shared), std::vector<std::string>{"tiff.lock"});
}

TEST_F(EngineTest, ScratchFilesNoViewerHoldsAreRemovedWhateverTheirNumbers) {
    const std::string d = Dir.Path();
    auto own = [&](const std::string& n) { return Dir.File("tiff-" + n + ".tmp"); };
    const std::string self = std::to_string(::getpid());
    // Left behind: a live number says nothing (a new process, another namespace's).
    for (const std::string& f : {own(std::to_string(GonePid())), own(self), own("7-1"),
                                 Dir.File("tiff-x.tmp"), Dir.File("tiff.tmp")})
        testing_support::WriteAll(f, {1, 2, 3});
    {
        TLockHolder viewer(own("77777")); // a live viewer's own file
        TLockHolder first(Dir.File("tiff.lock"));
        ASSERT_GT(viewer.Pid, 0);
        TTiff::RemoveStaleScratch(d);
        EXPECT_EQ(rt::ListDirectory(d), (std::vector<std::string>{"tiff-77777.tmp", "tiff-x.tmp",
                                                                  "tiff.lock", "tiff.tmp"}));
        // A viewer starting now takes a file of its own beside "tiff.tmp" and holds it.
        TTiff t(nullptr, TSharedScratch{d});
        t.OpenFile(PutSample("a.tif", sample::PaintSample(8, 8, 1)));
        EXPECT_EQ(t.ScratchPath, own(self));
        TTiff::RemoveStaleScratch(d);
        EXPECT_TRUE(rt::FileExists(own(self)));
    }
    // Both viewers are gone: what they held goes at the next start.
    TTiff::RemoveStaleScratch(d);
    EXPECT_EQ(rt::ListDirectory(d), (std::vector<std::string>{"a.tif", "tiff-x.tmp", "tiff.lock"}));
}

TEST_F(EngineTest, AViewerInAnotherPidNamespaceLeavesALiveViewersFileAlone) {
    TLockHolder viewer(Dir.File("tiff-77777.tmp"));
    ASSERT_GT(viewer.Pid, 0);
    // A start-up clean-up in a namespace that cannot see the holder's process number.
    const pid_t outer = ::fork();
    if (outer == 0) {
        if (::unshare(CLONE_NEWPID) != 0) ::_exit(77);
        const pid_t inner = ::fork();
        if (inner == 0) {
            TTiff::RemoveStaleScratch(Dir.Path());
            ::_exit(::kill(viewer.Pid, 0) == 0 ? 1 : 0); // it must not see the holder
        }
        int status = 0;
        ::waitpid(inner, &status, 0);
        ::_exit(WIFEXITED(status) ? WEXITSTATUS(status) : 2);
    }
    int status = 0;
    ::waitpid(outer, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    if (WEXITSTATUS(status) == 77) GTEST_SKIP() << "no PID namespace can be made here";
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_TRUE(rt::FileExists(Dir.File("tiff-77777.tmp")));
}

TEST_F(EngineTest, SheetPathsThatAreNotFilesAreRefusedAtOnce) {
    const std::string fifo = Dir.File("wait.tif");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    ASSERT_TRUE(rt::ForceDirectories(Dir.File("dir.tif")));
    // In a child with an alarm, so that an open that waits on the FIFO fails the test.
    pid_t pid = ::fork();
    if (pid == 0) {
        ::alarm(10);
        int failures = 0;
        for (const std::string& path : {fifo, Dir.File("dir.tif"), std::string("/dev/null")}) {
            TTiff t(nullptr, ScratchPath());
            if (ErrorOf([&] { t.OpenFile(path); }) != rt::kNotRegularFile) ++failures;
            if (rt::FileExists(ScratchPath())) ++failures; // nothing is left behind
        }
        ::_exit(failures);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
        << (WIFSIGNALED(status) ? "the open waited on the FIFO" : "a path was not refused");
}

TEST_F(EngineTest, ARasterLargerThanTheFreeSpaceIsRefusedWritingNothing) {
    // 600 x 600 pixels do not fit a 256 KiB file system; the packed sheet is far smaller.
    const std::string sheet = PutSample("big.tif", sample::PaintSample(600, 600, 3));
    const std::string small = Dir.File("small");
    const std::string scratch = small + "/scratch.tmp";
    int rc = testing_support::InSmallTmpfs(small, 256, [&] {
        TTiff t(nullptr, scratch);
        if (ErrorOf([&] { t.OpenFile(sheet); }) != "ディスクがいっぱいです") return 1;
        struct stat st {};
        if (::stat(scratch.c_str(), &st) != 0 || st.st_size != 0) return 2; // nothing written
        // A sheet that fits still opens there.
        t.OpenFile(PutSample("fits.tif", sample::PaintSample(200, 200, 3)));
        return t.RowsWritten == 200 ? 0 : 3;
    });
    if (rc == testing_support::kNoTmpfs) GTEST_SKIP() << "no tmpfs can be mounted here";
    EXPECT_EQ(rc, 0);
}

TEST_F(EngineTest, AScratchFileCutByAnotherProgramWhileItIsDrawnIsAShortReadNotACrash) {
    // A child draws the lower half of a sheet again and again through the map of its scratch
    // file while a second process cuts the file to a quarter: a read past the new end must
    // not end the child. It says how many pictures were refused as short reads.
    const std::string sheet = PutSample("cut.tif", sample::PaintSample(2000, 2000, 3));
    const std::string scratch = ScratchPath();
    int refusedTotal = 0, cutDuringDraw = 0;
    for (int round = 0; round < 6; ++round) {
        int ready[2], result[2];
        ASSERT_EQ(::pipe(ready), 0);
        ASSERT_EQ(::pipe(result), 0);
        const pid_t child = ::fork();
        if (child == 0) {
            rt::TBitmapCanvas canvas(2000, 1000);
            TTiff t(&canvas, scratch);
            t.DecodeAhead = false; // no thread in a child forked from a process that has some
            t.PlateVisible = AllVisible();
            t.PlateColor = ViewerColours();
            t.OpenFile(sheet);
            t.Draw(0, 1000, 2000, 1000, 1); // the next pictures read through a map of it all
            char go = 1;
            if (::write(ready[1], &go, 1) != 1) ::_exit(3);
            int refused = 0;
            const uint64_t cutsBefore = rt::MapCuts();
            for (int i = 0; i < 400; ++i) {
                try {
                    t.Draw(0, 1000, 2000, 1000, 1);
                } catch (const rt::EInOutError& e) {
                    if (e.ErrorCode() != rt::kReadPastEnd) ::_exit(4);
                    ++refused;
                }
            }
            const int out[2] = {refused, int(rt::MapCuts() - cutsBefore)};
            if (::write(result[1], out, sizeof out) != sizeof out) ::_exit(5);
            ::_exit(0);
        }
        ::close(ready[1]); // a child that dies before it is ready ends the read
        ::close(result[1]);
        char go = 0;
        ASSERT_EQ(::read(ready[0], &go, 1), 1) << "the drawing process died before it drew";
        std::this_thread::sleep_for(std::chrono::milliseconds(2 + round));
        ASSERT_EQ(::truncate(scratch.c_str(), 2000 * 500), 0); // another program's cut
        int status = 0;
        ::waitpid(child, &status, 0);
        ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
            << "round " << round << ": the drawing process died by signal "
            << (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
        int out[2] = {};
        ASSERT_EQ(::read(result[0], out, sizeof out), ssize_t(sizeof out));
        refusedTotal += out[0];
        cutDuringDraw += out[1] > 0;
        for (int fd : {ready[0], result[0]}) ::close(fd);
    }
    EXPECT_GT(refusedTotal, 0); // the pictures after the cut say it
    // The cut fell inside a picture's reads in some rounds: the guard, not the size check
    // before each picture, is what kept the process alive then.
    EXPECT_GT(cutDuringDraw, 0);
}

TEST_F(EngineTest, ThePixelUnderThePointerIsReadThroughTheFileHeldOpen) {
    // Asked at every move of the pointer: no open and close of the scratch file each time.
    // Seen from outside: the file's name may go and the pixel is still read.
    TTiff t(nullptr, ScratchPath());
    t.OpenFile(Put("p.tif", TSheetBuilder::Basic(4, 2, {{0xFD, 6, 0xFD, 7}}).Build()));
    uint8_t v = 0;
    ASSERT_TRUE(t.PixelAt(3, 1, v));
    EXPECT_EQ(v, 7);
    const int open = testing_support::OpenDescriptorCount();
    ASSERT_EQ(::rename(ScratchPath().c_str(), Dir.File("moved.tmp").c_str()), 0);
    v = 0;
    ASSERT_TRUE(t.PixelAt(0, 0, v));
    EXPECT_EQ(v, 6);
    EXPECT_EQ(testing_support::OpenDescriptorCount(), open);
    EXPECT_FALSE(t.PixelAt(4, 0, v)); // outside the sheet
}
