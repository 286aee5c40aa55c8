#pragma once
// Maps of files that another program may cut short: a read of a page past the new end would
// end the process with SIGBUS. While a map is registered here, such a read finds zeros
// instead, and the cut is counted, so that the reader finishes its pass and then reports the
// short file as a short read.

#include <cstddef>
#include <cstdint>

namespace rt {

// Registers bytes base to base + length - 1 of a file map while it lives.
class TMapGuard {
public:
    TMapGuard() = default;
    TMapGuard(const void* base, size_t length);
    ~TMapGuard();
    TMapGuard(const TMapGuard&) = delete;
    TMapGuard& operator=(const TMapGuard&) = delete;

private:
    int Slot = -1;
};

// How many reads of registered maps have fallen past their file's end, ever.
uint64_t MapCuts();

} // namespace rt
