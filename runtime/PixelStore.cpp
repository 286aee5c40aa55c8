#include "runtime/PixelStore.h"

#include <cstdlib>
#include <cstring>
#include <new>
#include <sys/mman.h>
#include <utility>

namespace rt {

namespace {
// Below this a picture is cheaper from the heap than from a map of its own.
constexpr std::size_t kMapFrom = std::size_t(1) << 20;
constexpr std::size_t kHugePage = std::size_t(2) << 20;
} // namespace

TPixelStore::TPixelStore(std::size_t bytes) : Bytes(bytes) {
    if (bytes == 0) return;
    if (bytes >= kMapFrom) {
        // Huge pages need a range aligned to their size: a larger map, its ends let go.
        const std::size_t length = (bytes + kHugePage - 1) / kHugePage * kHugePage;
        void* p = ::mmap(nullptr, length + kHugePage, PROT_READ | PROT_WRITE,
                         MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (p != MAP_FAILED) {
            const auto start = reinterpret_cast<std::uintptr_t>(p);
            const std::uintptr_t aligned = (start + kHugePage - 1) / kHugePage * kHugePage;
            if (aligned > start) ::munmap(p, aligned - start);
            const std::uintptr_t end = aligned + length, mapEnd = start + length + kHugePage;
            if (mapEnd > end) ::munmap(reinterpret_cast<void*>(end), mapEnd - end);
            Base = reinterpret_cast<uint8_t*>(aligned);
            Length = length;
            ::madvise(Base, Length, MADV_HUGEPAGE); // a hint: refused, the pages are small
            return;
        }
    }
    Base = static_cast<uint8_t*>(std::calloc(bytes, 1));
    if (!Base) throw std::bad_alloc();
}

TPixelStore::~TPixelStore() {
    Free();
}

void TPixelStore::Free() noexcept {
    if (Length)
        ::munmap(Base, Length);
    else
        std::free(Base);
    Base = nullptr;
    Bytes = Length = 0;
}

TPixelStore::TPixelStore(const TPixelStore& other) : TPixelStore(other.Bytes) {
    if (Bytes) std::memcpy(Base, other.Base, Bytes);
}

TPixelStore& TPixelStore::operator=(const TPixelStore& other) {
    if (this != &other) *this = TPixelStore(other);
    return *this;
}

TPixelStore::TPixelStore(TPixelStore&& other) noexcept
    : Base(std::exchange(other.Base, nullptr)), Bytes(std::exchange(other.Bytes, 0)),
      Length(std::exchange(other.Length, 0)) {}

TPixelStore& TPixelStore::operator=(TPixelStore&& other) noexcept {
    if (this != &other) {
        Free();
        Base = std::exchange(other.Base, nullptr);
        Bytes = std::exchange(other.Bytes, 0);
        Length = std::exchange(other.Length, 0);
    }
    return *this;
}

} // namespace rt
