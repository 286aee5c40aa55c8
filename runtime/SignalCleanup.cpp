#include "runtime/SignalCleanup.h"

#include "runtime/BinaryFile.h"

#include <atomic>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace rt {

namespace {

constexpr int kSlots = 64;
constexpr size_t kPathMax = 4096;

struct TSlot {
    std::atomic<int> State{0}; // 0 free, 1 being written, 2 complete
    pid_t Owner = 0;
    char Path[kPathMax] = {};
};
TSlot gSlots[kSlots];
sigset_t gSignals;

void OnSignal(int sig) {
    const pid_t self = ::getpid();
    for (auto& s : gSlots)
        if (s.State.load() == 2 && s.Owner == self) ::unlink(s.Path);
    std::signal(sig, SIG_DFL);
    ::raise(sig);
}

} // namespace

std::vector<int> EndingSignals() {
    std::vector<int> out = {SIGHUP,  SIGINT,  SIGQUIT, SIGPIPE,   SIGALRM, SIGTERM,   SIGUSR1,
                            SIGUSR2, SIGPOLL, SIGPROF, SIGVTALRM, SIGXCPU, SIGSTKFLT, SIGPWR};
    for (int sig = SIGRTMIN; sig <= SIGRTMAX; ++sig) out.push_back(sig);
    return out;
}

void RemoveFilesOnSignals(const std::vector<int>& signals) {
    sigemptyset(&gSignals);
    for (int sig : signals) sigaddset(&gSignals, sig);
    for (int sig : signals) {
        struct sigaction sa {};
        sa.sa_handler = OnSignal;
        sigemptyset(&sa.sa_mask);
        sa.sa_mask = gSignals; // one handler at a time
        ::sigaction(sig, &sa, nullptr);
    }
}

TCleanupEntry::TCleanupEntry(const std::string& path) {
    if (path.size() >= kPathMax) return; // no file of ours has such a name
    for (int i = 0; i < kSlots; ++i) {
        int expected = 0;
        if (!gSlots[i].State.compare_exchange_strong(expected, 1)) continue;
        gSlots[i].Owner = ::getpid();
        std::memcpy(gSlots[i].Path, path.c_str(), path.size() + 1);
        gSlots[i].State.store(2);
        Slot = i;
        return;
    }
}

TCleanupEntry::~TCleanupEntry() {
    if (Slot >= 0) gSlots[Slot].State.store(0);
}

TRegisteredFile CreateRegistered(const std::string& prefix) {
    static std::atomic<unsigned> count{0};
    for (;;) {
        TRegisteredFile f;
        f.Path = prefix + std::to_string(::getpid()) + "-" + std::to_string(count++);
        f.Entry = std::make_unique<TCleanupEntry>(f.Path);
        f.Fd = ::open(f.Path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (f.Fd >= 0) return f;
        if (errno != EEXIST) RaiseIoErrorFor(prefix); // left by a process of the same number
    }
}

} // namespace rt
