#include "runtime/MapGuard.h"

#include <atomic>
#include <csignal>
#include <mutex>
#include <sys/mman.h>
#include <unistd.h>

namespace rt {

namespace {

// More maps than a few pictures read at once at most; one that finds no slot is unguarded.
constexpr int kSlots = 64;
struct TSlot {
    std::atomic<uintptr_t> Start{0}, End{0};
};
TSlot gSlots[kSlots];
std::atomic<uint64_t> gCuts{0};

void OnBus(int, siginfo_t* info, void*) {
    const uintptr_t at = reinterpret_cast<uintptr_t>(info->si_addr);
    for (TSlot& s : gSlots) {
        if (at < s.Start.load() || at >= s.End.load()) continue;
        // The page past the file's end reads as zeros from now on: a private page of our own
        // in place of the file's, in our own map.
        const uintptr_t page = at & ~uintptr_t(::sysconf(_SC_PAGESIZE) - 1);
        const long size = ::sysconf(_SC_PAGESIZE);
        if (::mmap(reinterpret_cast<void*>(page), size_t(size), PROT_READ,
                   MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED, -1, 0) == MAP_FAILED)
            break;
        gCuts.fetch_add(1);
        return;
    }
    // Not a map of ours: the fault ends the process as it would have.
    std::signal(SIGBUS, SIG_DFL);
}

void Install() {
    static std::once_flag once;
    std::call_once(once, [] {
        struct sigaction sa {};
        sa.sa_sigaction = OnBus;
        sa.sa_flags = SA_SIGINFO;
        sigemptyset(&sa.sa_mask);
        ::sigaction(SIGBUS, &sa, nullptr);
    });
}

} // namespace

TMapGuard::TMapGuard(const void* base, size_t length) {
    Install();
    const uintptr_t start = reinterpret_cast<uintptr_t>(base);
    for (int i = 0; i < kSlots; ++i) {
        uintptr_t free = 0;
        if (!gSlots[i].Start.compare_exchange_strong(free, start)) continue;
        gSlots[i].End.store(start + length);
        Slot = i;
        return;
    }
}

TMapGuard::~TMapGuard() {
    if (Slot < 0) return;
    gSlots[Slot].End.store(0);
    gSlots[Slot].Start.store(0);
}

uint64_t MapCuts() {
    return gCuts.load();
}

} // namespace rt
