// Files that a signal removes, outputs that wait for their reader, and replacements whose
// directory cannot be synced, in child processes of their own.

#include "runtime/BinaryFile.h"
#include "runtime/Errors.h"
#include "runtime/OutputFile.h"
#include "runtime/SignalCleanup.h"
#include "tests/TestSupport.h"

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using testing_support::TTempDir;

namespace {

// The child's status once it ends, or -1 after SIGKILL where it is still running after
// seconds; waitedMs says how long it took.
int EndOf(pid_t pid, int seconds, long& waitedMs) {
    const auto start = std::chrono::steady_clock::now();
    int status = 0;
    pid_t done = 0;
    while ((done = ::waitpid(pid, &status, WNOHANG)) == 0 &&
           std::chrono::steady_clock::now() - start < std::chrono::seconds(seconds))
        ::usleep(1000);
    waitedMs = long(std::chrono::duration_cast<std::chrono::milliseconds>(
                        std::chrono::steady_clock::now() - start)
                        .count());
    if (done == pid) return status;
    ::kill(pid, SIGKILL);
    ::waitpid(pid, &status, 0);
    return -1;
}

// Whether pid is inside an open that waits (of a FIFO without its reader): seen twice.
bool WaitsInOpen(pid_t pid) {
    const std::string openat = std::to_string(SYS_openat) + " ";
    const std::string syscall = "/proc/" + std::to_string(pid) + "/syscall";
    for (int i = 0, seen = 0; i < 2000; ++i) {
        const auto text = testing_support::ReadAll(syscall);
        seen = std::string(text.begin(), text.end()).rfind(openat, 0) == 0 ? seen + 1 : 0;
        if (seen == 2) return true;
        ::usleep(10000);
    }
    return false;
}

std::vector<std::string> Names(const std::string& dir) {
    std::vector<std::string> out;
    for (auto& e : std::filesystem::directory_iterator(dir))
        out.push_back(e.path().filename().string());
    std::sort(out.begin(), out.end());
    return out;
}

} // namespace

TEST(SignalCleanup, AnOpenThatWaitsForItsReaderStillEndsBySignal) {
    // A registered file is held, and the process then waits in the open of a FIFO nobody
    // reads: written directly, and as an output file whose target is a FIFO. SIGINT and
    // SIGTERM end it there, and the registered file goes.
    TTempDir dir;
    ASSERT_EQ(::mkfifo(dir.File("f").c_str(), 0600), 0);
    for (const bool output : {false, true})
        for (const int sig : {SIGINT, SIGTERM}) {
            SCOPED_TRACE(std::string(output ? "output file " : "binary file ") + strsignal(sig));
            const pid_t pid = testing_support::Spawn([&] {
                rt::RemoveFilesOnSignals(rt::EndingSignals());
                const rt::TRegisteredFile held = rt::CreateRegistered(dir.File("held-"));
                if (output) {
                    rt::TOutputFile out(dir.File("f"));
                } else {
                    rt::TBinaryFile f;
                    f.Assign(dir.File("f"));
                    f.Rewrite();
                }
                return 3; // a reader came after all
            });
            EXPECT_TRUE(WaitsInOpen(pid));
            ::kill(pid, sig);
            long ms = 0;
            const int status = EndOf(pid, 5, ms);
            EXPECT_NE(status, -1) << "still running 5 s after the signal";
            EXPECT_TRUE(status != -1 && WIFSIGNALED(status) && WTERMSIG(status) == sig) << status;
            EXPECT_EQ(Names(dir.Path()), std::vector<std::string>{"f"});
        }
}

TEST(SignalCleanup, CreatingThroughALinkToAMissingFileAndOverAnExistingOne) {
    // The open made missing files exclusively now: a link to a missing file is still made
    // through, and an existing file is emptied as before.
    TTempDir dir;
    ASSERT_EQ(::symlink("target.bin", dir.File("link.bin").c_str()), 0);
    rt::TBinaryFile f;
    f.Assign(dir.File("link.bin"));
    f.Rewrite();
    f.Write("abc", 3);
    f.Close();
    EXPECT_EQ(testing_support::ReadAll(dir.File("target.bin")),
              (std::vector<uint8_t>{'a', 'b', 'c'}));
    f.Rewrite();
    f.Write("d", 1);
    f.Close();
    EXPECT_EQ(testing_support::ReadAll(dir.File("target.bin")), (std::vector<uint8_t>{'d'}));
    ASSERT_EQ(::symlink("no/such/dir/x", dir.File("broken").c_str()), 0);
    f.Assign(dir.File("broken"));
    try {
        f.Rewrite();
        ADD_FAILURE() << "made a file in a missing directory";
    } catch (const rt::EInOutError& e) {
        EXPECT_EQ(e.ErrorCode(), 2);
    }
}

TEST(SignalCleanup, TheHandlerRemovesTheNameItFoundThoughItsEntryIsTakenAgainMeanwhile) {
    // The handler is slowed inside its unlink of A; meanwhile another thread ends A's
    // registration and registers B, which fits A's entry. What the handler removes is
    // still A, the name it found complete.
    if (!testing_support::IoFaultsLoaded()) GTEST_SKIP() << "the fault library is not preloaded";
    TTempDir dir;
    // Longer than any name this process registered before, so that A has an entry of its
    // own, and B, one letter shorter, takes it again.
    const std::string deep = dir.File(std::string(200, 'd'));
    ASSERT_EQ(::mkdir(deep.c_str(), 0700), 0);
    const pid_t pid = testing_support::Spawn([&] {
        rt::RemoveFilesOnSignals({SIGUSR1});
        auto a = std::make_unique<rt::TRegisteredFile>(rt::CreateRegistered(deep + "/aa-"));
        ::close(a->Fd);
        const std::string pause = "400:" + a->Path;
        ::setenv("MAPVIEW_UNLINK_PAUSE", pause.c_str(), 1);
        std::thread other([&] {
            ::usleep(100000);
            a->Entry.reset();
            rt::CreateRegistered(deep + "/b-"); // the process is ending: it never returns
        });
        other.detach();
        ::raise(SIGUSR1);
        return 3;
    });
    long ms = 0;
    const int status = EndOf(pid, 10, ms);
    EXPECT_TRUE(status != -1 && WIFSIGNALED(status) && WTERMSIG(status) == SIGUSR1) << status;
    EXPECT_EQ(Names(deep), std::vector<std::string>{});
}

TEST(OutputFile, AReplacementWhoseDirectoryCannotBeSyncedIsNoFailure) {
    // Once renamed, the file holds the new bytes: a directory sync that fails then (a file
    // system that cannot, or a directory its user may write but not read) must not report
    // the save as failed.
    TTempDir dir;
    testing_support::WriteAll(dir.File("out.bin"), {'o', 'l', 'd'});
    auto save = [&](const std::string& path) {
        rt::TOutputFile out(path, {true, {}});
        out.Write("new", 3);
        out.Commit();
    };
    if (testing_support::IoFaultsLoaded()) {
        ::setenv("MAPVIEW_DIRSYNC_FAULT", "1", 1);
        EXPECT_NO_THROW(save(dir.File("out.bin")));
        ::unsetenv("MAPVIEW_DIRSYNC_FAULT");
        EXPECT_EQ(testing_support::ReadAll(dir.File("out.bin")),
                  (std::vector<uint8_t>{'n', 'e', 'w'}));
    }
    // A directory of write and search only, for a user who is not root (as root, in a
    // child that becomes nobody).
    const std::string drop = dir.File("drop");
    ASSERT_EQ(::mkdir(drop.c_str(), 0700), 0);
    testing_support::WriteAll(drop + "/out.bin", {'o', 'l', 'd'});
    const bool root = ::geteuid() == 0;
    if (root) {
        ASSERT_EQ(::chmod(dir.Path().c_str(), 0711), 0);
        ASSERT_EQ(::chown(drop.c_str(), 65534, 65534), 0);
        ASSERT_EQ(::chown((drop + "/out.bin").c_str(), 65534, 65534), 0);
    }
    ASSERT_EQ(::chmod(drop.c_str(), 0300), 0);
    const pid_t pid = testing_support::Spawn([&] {
        if (root && (::setgid(65534) != 0 || ::setuid(65534) != 0)) return 4;
        if (::access(drop.c_str(), R_OK) == 0) return 5; // the directory can be read after all
        save(drop + "/out.bin");
        return 0;
    });
    long ms = 0;
    const int status = EndOf(pid, 20, ms);
    ::chmod(drop.c_str(), 0700);
    ASSERT_TRUE(status != -1 && WIFEXITED(status)) << status;
    if (WEXITSTATUS(status) == 5) GTEST_SKIP() << "this user reads any directory";
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(testing_support::ReadAll(drop + "/out.bin"), (std::vector<uint8_t>{'n', 'e', 'w'}));
}
