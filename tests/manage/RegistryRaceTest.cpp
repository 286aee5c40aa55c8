// The registry under several programs at once, after a crash and across a power loss.
// Every program here is a real process; the interleavings are forced, not hoped for.

#include "manage/UInit.h"
#include "manage/UManage.h"
#include "runtime/Errors.h"
#include "runtime/FileSys.h"
#include "runtime/Hooks.h"
#include "tests/TestSupport.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <map>
#include <poll.h>
#include <spawn.h>
#include <sstream>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

using testing_support::ReadAll;
using testing_support::TTempDir;
using testing_support::WriteAll;

namespace {

// A one-way signal between processes that outlives a fork.
class TPipe {
public:
    TPipe() {
        if (::pipe(Fd) != 0) throw std::runtime_error("pipe failed");
    }
    ~TPipe() {
        ::close(Fd[0]);
        ::close(Fd[1]);
    }
    TPipe(const TPipe&) = delete;
    TPipe& operator=(const TPipe&) = delete;
    void Signal() const { (void)!::write(Fd[1], "x", 1); }
    bool Ready(int timeoutMs = 0) const {
        pollfd p{Fd[0], POLLIN, 0};
        return ::poll(&p, 1, timeoutMs) == 1;
    }

private:
    int Fd[2];
};

// The child's exit code, or 128 + the signal that ended it.
int WaitExit(pid_t pid) {
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

bool WaitUntil(const std::function<bool()>& done) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

// Whether pid waits for a file lock that another process holds.
bool BlockedOnLock(pid_t pid) {
    std::ifstream locks("/proc/locks");
    std::string line;
    while (std::getline(locks, line)) {
        std::istringstream in(line);
        std::string id, arrow, type, advisory, access;
        long owner = 0;
        if (in >> id >> arrow >> type >> advisory >> access >> owner && arrow == "->" &&
            owner == pid)
            return true;
    }
    return false;
}

int ModeOf(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? static_cast<int>(st.st_mode & 07777) : -1;
}

class RegistryUnderTwoPrograms : public ::testing::Test {
protected:
    void SetUp() override { InitMapMgr(Exe.Path()); }
    void TearDown() override { EXPECT_FALSE(rt::FileExists(MgrFile + ".new")); }

    std::string Registry() const {
        auto b = ReadAll(MgrFile);
        return {b.begin(), b.end()};
    }
    void SetRegistry(const std::string& text) { WriteAll(MgrFile, {text.begin(), text.end()}); }

    TTempDir Exe;
    testing_support::TScriptedBoxes Boxes;
};

TEST_F(RegistryUnderTwoPrograms, AQuestionOpenInOneHoldsBackTheOthersUpdate) {
    SetRegistry("7,1,x,/old,m1\r\n7,2,y,/d2,m2\r\n");
    TPipe bStart, bDone;
    const pid_t b = testing_support::Spawn([&] {
        if (!bStart.Ready(20000)) return 6;
        UpdateMgrFile(7, "3", "z", "/cdrom3/Data", "mB");
        bDone.Signal();
        return 0;
    });
    const pid_t a = testing_support::Spawn([&] {
        rt::SetAskYesNoHook([&](const std::string&) {
            bStart.Signal();
            // Yes only once B waits for the registry or, where nothing holds it back, has
            // written it.
            if (!WaitUntil([&] { return BlockedOnLock(b) || bDone.Ready(); })) ::_exit(4);
            return true;
        });
        UpdateMgrFile(7, "1", "x", "/media/cdrom2/Data", "mA");
        return 0;
    });
    EXPECT_EQ(WaitExit(a), 0);
    EXPECT_EQ(WaitExit(b), 0);
    // Either order of the two gives these bytes. Interleaved, B's longer registry showed
    // through the end of A's as a line of two fields that stopped every later update.
    EXPECT_EQ(Registry(), "7,1,x,/media/cdrom2/Data,mA\r\n7,2,y,/d2,m2\r\n"
                          "7,3,z,/cdrom3/Data,mB\r\n");

    Boxes.Answers = {true};
    EXPECT_NO_THROW(UpdateMgrFile(7, "2", "y", "/dataC", "mC"));
    EXPECT_EQ(Registry(), "7,1,x,/media/cdrom2/Data,mA\r\n7,2,y,/dataC,mC\r\n"
                          "7,3,z,/cdrom3/Data,mB\r\n");
    EXPECT_EQ(Boxes.Questions.size(), 1u);
}

TEST_F(RegistryUnderTwoPrograms, ProgramsAppendingAtOnceLoseNothing) {
    constexpr int kPrograms = 4, kEntries = 20;
    TPipe go;
    std::vector<pid_t> programs;
    for (int p = 0; p < kPrograms; ++p)
        programs.push_back(testing_support::Spawn([&, p] {
            if (!go.Ready(20000)) return 101;
            int failures = 0;
            for (int e = 0; e < kEntries; ++e) {
                try {
                    UpdateMgrFile(7, std::to_string(100 + p), std::to_string(e), "/d", "m");
                } catch (const std::exception& err) {
                    std::fprintf(stderr, "program %d entry %d: %s\n", p, e, err.what());
                    ++failures;
                }
            }
            return std::min(failures, 100);
        }));
    go.Signal(); // the pipe stays readable: every program starts at once
    for (pid_t pid : programs) EXPECT_EQ(WaitExit(pid), 0);

    // Each program's entries in its own order, whatever the interleaving with the others;
    // a broken line has a key of its own.
    std::map<std::string, std::vector<std::string>> seen, expected;
    std::istringstream lines(Registry());
    for (std::string line; std::getline(lines, line);)
        seen[line.substr(0, line.find(',', 2))].push_back(line);
    for (int p = 0; p < kPrograms; ++p)
        for (int e = 0; e < kEntries; ++e)
            expected["7," + std::to_string(100 + p)].push_back("7," + std::to_string(100 + p) +
                                                               "," + std::to_string(e) + ",/d,m\r");
    EXPECT_EQ(seen, expected);
}

TEST_F(RegistryUnderTwoPrograms, ARegistryKeepsItsModeAndACrashedUpdateBlocksNothing) {
    struct TUmask {
        mode_t Before = ::umask(022);
        ~TUmask() { ::umask(Before); }
    } umask022;
    std::string text = "7,1,x,/d1,m1\r\n";
    SetRegistry(text);
    int key = 2;
    for (int mode : {0600, 0664}) {
        ASSERT_EQ(::chmod(MgrFile.c_str(), static_cast<mode_t>(mode)), 0);
        UpdateMgrFile(7, std::to_string(key), "k", "/d", "m");
        text += "7," + std::to_string(key++) + ",k,/d,m\r\n";
        EXPECT_EQ(Registry(), text);
        EXPECT_EQ(ModeOf(MgrFile), mode);
    }

    // A program dies with the question open: its working file stays behind.
    TPipe asked;
    const pid_t dying = testing_support::Spawn([&] {
        rt::SetAskYesNoHook([&](const std::string&) {
            asked.Signal();
            for (;;) ::pause();
            return true;
        });
        UpdateMgrFile(7, "1", "x", "/never", "never");
        return 0;
    });
    const bool wasAsked = asked.Ready(20000);
    ::kill(dying, SIGKILL);
    EXPECT_EQ(WaitExit(dying), 128 + SIGKILL);
    ASSERT_TRUE(wasAsked);
    ASSERT_TRUE(rt::FileExists(MgrFile + ".new"));
    EXPECT_EQ(Registry(), text);

    UpdateMgrFile(7, "9", "k", "/d", "m");
    EXPECT_EQ(Registry(), text + "7,9,k,/d,m\r\n");
    EXPECT_EQ(ModeOf(MgrFile), 0664);
    EXPECT_TRUE(Boxes.Messages.empty());
}

// The calls that matter for a power loss, as "name(paths) = result", in the order a real
// process made them; fdatasync counts as fsync and every renameat as rename.
std::vector<std::string> SyncAndRenameCalls(const std::string& straceLog) {
    std::vector<std::string> calls;
    std::ifstream log(straceLog);
    std::string line;
    while (std::getline(log, line)) {
        const auto open = line.find('('), result = line.rfind(" = ");
        if (open == std::string::npos || result == std::string::npos) continue;
        std::string name = line.substr(0, open);
        name = name.substr(name.find_last_of(' ') + 1); // a pid may lead
        std::vector<std::string> paths;
        if (name.rfind("rename", 0) == 0) {
            name = "rename";
            for (size_t q = line.find('"', open); q != std::string::npos;) {
                const size_t end = line.find('"', q + 1);
                paths.push_back(line.substr(q + 1, end - q - 1));
                q = line.find('"', end + 1);
            }
        } else {
            name = "fsync";
            const size_t lt = line.find('<', open), gt = line.find('>', lt);
            if (lt != std::string::npos) paths.push_back(line.substr(lt + 1, gt - lt - 1));
        }
        std::string call = name + "(";
        for (size_t i = 0; i < paths.size(); ++i) call += (i ? ", " : "") + paths[i];
        call += ")" + line.substr(result);
        calls.push_back(call);
    }
    return calls;
}

TEST_F(RegistryUnderTwoPrograms, TheNewRegistryReachesTheDiskBeforeItReplacesTheOld) {
    SetRegistry("7,1,x,/d1,m1\r\n");
    const pid_t updater = testing_support::Spawn([] {
        ::prctl(PR_SET_PTRACER, PR_SET_PTRACER_ANY);
        const auto traced = [] {
            std::ifstream status("/proc/self/status");
            std::string key;
            long tracer = 0;
            while (status >> key)
                if (key == "TracerPid:") return status >> tracer && tracer != 0;
            return false;
        };
        if (!WaitUntil(traced)) return 5;
        UpdateMgrFile(7, "2", "y", "/d2", "m2");
        return 0;
    });
    const std::string log = Exe.File("strace.log");
    const std::string pid = std::to_string(updater);
    std::vector<std::string> args = {
        "strace", "-qq", "-y", "-o", log, "-e", "trace=fsync,fdatasync,rename,renameat,renameat2",
        "-p",     pid};
    std::vector<char*> argv;
    for (auto& s : args) argv.push_back(s.data());
    argv.push_back(nullptr);
    pid_t tracer = 0;
    const int spawned = ::posix_spawnp(&tracer, "strace", nullptr, nullptr, argv.data(), environ);
    if (spawned != 0) {
        ::kill(updater, SIGKILL);
        WaitExit(updater);
    }
    ASSERT_EQ(spawned, 0) << "strace must be installed (scripts/install-deps)";
    EXPECT_EQ(WaitExit(updater), 0);
    EXPECT_EQ(WaitExit(tracer), 0);
    EXPECT_EQ(Registry(), "7,1,x,/d1,m1\r\n7,2,y,/d2,m2\r\n");

    const std::string realDir = std::filesystem::canonical(MgrDir).string();
    EXPECT_EQ(SyncAndRenameCalls(log),
              (std::vector<std::string>{"fsync(" + realDir + "/Mapmgr.txt.new) = 0",
                                        "rename(" + MgrFile + ".new, " + MgrFile + ") = 0",
                                        "fsync(" + realDir + ") = 0"}));
}

} // namespace

TEST_F(RegistryUnderTwoPrograms, ASecondUserWhoMayWriteTheRegistryUpdatesItToo) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to act as a second user";
    struct TUmask {
        mode_t Before = ::umask(022);
        ~TUmask() { ::umask(Before); }
    } umask022;
    SetRegistry("7,1,x,/d1,m1\r\n");
    UpdateMgrFile(7, "2", "k", "/d", "m"); // makes the lock file, 0644 and ours
    // The directories and the registry are open to all; the lock file is not.
    for (const std::string& path : {Exe.Path(), rt::ExtractFileDir(MgrFile), MgrFile})
        ASSERT_EQ(::chmod(path.c_str(), ModeOf(path) == 0644 ? 0666 : 0777), 0);
    const pid_t other = testing_support::Spawn([] {
        if (::setgid(65534) != 0 || ::setuid(65534) != 0) return 3;
        UpdateMgrFile(7, "3", "k", "/d", "m");
        return 0;
    });
    EXPECT_EQ(WaitExit(other), 0);
    EXPECT_EQ(Registry(), "7,1,x,/d1,m1\r\n7,2,k,/d,m\r\n7,3,k,/d,m\r\n");
}

TEST_F(RegistryUnderTwoPrograms, AWorkingFileWhoseFirstCloseFailsGoesAtOnce) {
    if (!testing_support::IoFaultsLoaded()) GTEST_SKIP() << "the fault library is not preloaded";
    SetRegistry("7,1,x,/d1,m1\r\n");
    {
        const auto fault = testing_support::TIoFault::Close(".new");
        EXPECT_THROW(UpdateMgrFile(7, "2", "k", "/d", "m"), rt::EInOutError);
    }
    EXPECT_FALSE(rt::FileExists(MgrFile + ".new"));
    EXPECT_EQ(Registry(), "7,1,x,/d1,m1\r\n");
}
