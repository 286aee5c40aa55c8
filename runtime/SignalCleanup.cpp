#include "runtime/SignalCleanup.h"

#include "runtime/BinaryFile.h"

#include <atomic>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace rt {

namespace {

// A registered name. Nodes are linked once and never freed, so that the handler can walk
// the list at any moment without a lock or an allocation; a node whose file is done with
// is taken again by a later name that fits it.
struct TNode {
    std::atomic<int> State{0}; // 0 free, 1 being written, 2 complete
    pid_t Owner = 0;
    size_t Capacity = 0;
    char* Path = nullptr;
    TNode* Next = nullptr; // set before the node is linked, never changed after
};
std::atomic<TNode*> gHead{nullptr};
sigset_t gSignals;
// Files being made and registered on some thread, which holds the signals off meanwhile;
// once the process is ending, no file is made any more.
std::atomic<int> gMaking{0};
std::atomic<bool> gEnding{false};

void OnSignal(int sig) {
    const pid_t self = ::getpid();
    gEnding.store(true);
    // A file made on another thread is registered a moment later: it must not be missed.
    while (gMaking.load() > 0) {
    }
    for (TNode* n = gHead.load(); n; n = n->Next)
        if (n->State.load() == 2 && n->Owner == self) ::unlink(n->Path);
    std::signal(sig, SIG_DFL);
    ::raise(sig);
}

TNode* Claim(size_t bytes) {
    for (TNode* n = gHead.load(); n; n = n->Next) {
        int expected = 0;
        if (n->Capacity >= bytes && n->State.compare_exchange_strong(expected, 1)) return n;
    }
    auto* n = new TNode; // for good: the handler may be walking past it at any time
    n->Path = new char[bytes];
    n->Capacity = bytes;
    n->State.store(1);
    n->Next = gHead.load();
    while (!gHead.compare_exchange_weak(n->Next, n)) {
    }
    return n;
}

} // namespace

std::vector<int> EndingSignals() {
    std::vector<int> out = {SIGHUP,  SIGINT,  SIGQUIT, SIGPIPE,   SIGALRM, SIGTERM,   SIGUSR1,
                            SIGUSR2, SIGPOLL, SIGPROF, SIGVTALRM, SIGXCPU, SIGSTKFLT, SIGPWR};
    for (int sig = SIGRTMIN; sig <= SIGRTMAX; ++sig) out.push_back(sig);
    return out;
}

void RemoveFilesOnSignals(const std::vector<int>& which) {
    sigemptyset(&gSignals);
    for (int sig : which) sigaddset(&gSignals, sig);
    for (int sig : which) {
        // A signal the process was started ignoring (nohup, a background job) stays so.
        struct sigaction now {};
        if (::sigaction(sig, nullptr, &now) == 0 && now.sa_handler == SIG_IGN) continue;
        struct sigaction sa {};
        sa.sa_handler = OnSignal;
        sigemptyset(&sa.sa_mask);
        sa.sa_mask = gSignals; // one handler at a time
        ::sigaction(sig, &sa, nullptr);
    }
}

TCleanupEntry::TCleanupEntry(const std::string& path) {
    TNode* n = Claim(path.size() + 1);
    n->Owner = ::getpid();
    std::memcpy(n->Path, path.c_str(), path.size() + 1);
    n->State.store(2);
    Node = n;
}

TCleanupEntry::~TCleanupEntry() {
    if (Node) static_cast<TNode*>(Node)->State.store(0);
}

TCreatingFile::TCreatingFile() {
    ::pthread_sigmask(SIG_BLOCK, &gSignals, &Before);
    ++gMaking;
    if (gEnding.load()) { // the process is ending on another thread: create nothing more
        --gMaking;
        for (;;) ::pause();
    }
}

TCreatingFile::~TCreatingFile() {
    --gMaking;
    ::pthread_sigmask(SIG_SETMASK, &Before, nullptr);
}

TRegisteredFile CreateRegistered(const std::string& prefix) {
    static std::atomic<unsigned> count{0};
    for (;;) {
        TRegisteredFile f;
        f.Path = prefix + std::to_string(::getpid()) + "-" + std::to_string(count++);
        // Everything that allocates comes first: the handler may wait for the window below
        // on a thread that holds the allocator's lock.
        f.Entry = std::make_unique<TCleanupEntry>();
        TNode* n = Claim(f.Path.size() + 1);
        std::memcpy(n->Path, f.Path.c_str(), f.Path.size() + 1);
        n->Owner = ::getpid();
        // Made first and registered once it is ours: a name another process holds (of the
        // same number in another PID namespace) is never registered, so never removed.
        int err;
        {
            TCreatingFile creating;
            f.Fd = ::open(f.Path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
            err = errno;
            n->State.store(f.Fd >= 0 ? 2 : 0);
        }
        if (f.Fd >= 0) {
            f.Entry->Node = n;
            return f;
        }
        if (err == EEXIST) continue;
        errno = err;
        RaiseIoErrorFor(prefix);
    }
}

} // namespace rt
