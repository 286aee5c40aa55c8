#include "runtime/SignalCleanup.h"

#include "runtime/BinaryFile.h"

#include <atomic>
#include <cerrno>
#include <climits>
#include <fcntl.h>
#include <unistd.h>

namespace rt {

namespace {

// A registered name. Nodes are linked once and never freed, so that the handler can walk
// the list at any moment without a lock or an allocation; a node whose file is done with
// is taken again by a later name that fits it. The handler may be reading a node's name on
// one thread while another takes the node again: it copies the name and keeps the copy only
// where the generation, odd while a name is being written, stayed the same meanwhile.
struct TNode {
    std::atomic<int> State{0}; // 0 free, 1 being written, 2 complete
    std::atomic<unsigned> Generation{0};
    std::atomic<pid_t> Owner{0};
    size_t Capacity = 0;               // set before the node is linked, never changed after
    std::atomic<char>* Path = nullptr; // as Capacity
    TNode* Next = nullptr;             // as Capacity
};
std::atomic<TNode*> gHead{nullptr};
sigset_t gSignals;
// Files being made and registered on some thread, which holds the signals off meanwhile;
// once the process is ending, no file is made any more.
std::atomic<int> gMaking{0};
std::atomic<bool> gEnding{false};

// Writes a name into a node this thread has claimed (State 1).
void WriteName(TNode* n, const std::string& path) {
    const unsigned g = n->Generation.load(std::memory_order_relaxed);
    n->Generation.store(g + 1, std::memory_order_relaxed);
    std::atomic_thread_fence(std::memory_order_release);
    n->Owner.store(::getpid(), std::memory_order_relaxed);
    for (size_t i = 0; i <= path.size(); ++i)
        n->Path[i].store(path.c_str()[i], std::memory_order_relaxed);
    n->Generation.store(g + 2, std::memory_order_release);
}

// Copies the name of a complete node of this process into to; false where there is none,
// or where the node was taken for another name while it was read.
bool ReadName(const TNode* n, pid_t self, char* to, size_t room) {
    if (n->State.load() != 2 || n->Capacity > room) return false;
    const unsigned g = n->Generation.load(std::memory_order_acquire);
    if (g & 1) return false;
    const pid_t owner = n->Owner.load(std::memory_order_relaxed);
    for (size_t i = 0; i < n->Capacity; ++i)
        if ((to[i] = n->Path[i].load(std::memory_order_relaxed)) == 0) break;
    std::atomic_thread_fence(std::memory_order_acquire);
    return n->Generation.load(std::memory_order_relaxed) == g && n->State.load() == 2 &&
           owner == self;
}

void OnSignal(int sig) {
    const pid_t self = ::getpid();
    gEnding.store(true);
    // A file made on another thread is registered a moment later: it must not be missed.
    while (gMaking.load() > 0) {
    }
    char name[PATH_MAX];
    for (TNode* n = gHead.load(); n; n = n->Next)
        if (ReadName(n, self, name, sizeof name)) ::unlink(name);
    std::signal(sig, SIG_DFL);
    ::raise(sig);
}

TNode* Claim(size_t bytes) {
    for (TNode* n = gHead.load(); n; n = n->Next) {
        int expected = 0;
        if (n->Capacity >= bytes && n->State.compare_exchange_strong(expected, 1)) return n;
    }
    auto* n = new TNode; // for good: the handler may be walking past it at any time
    n->Path = new std::atomic<char>[bytes];
    n->Capacity = bytes;
    n->State.store(1);
    n->Next = gHead.load();
    while (!gHead.compare_exchange_weak(n->Next, n)) {
    }
    return n;
}

} // namespace

bool ProcessEnding() {
    return gEnding.load();
}

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
    WriteName(n, path);
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
        WriteName(n, f.Path);
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
