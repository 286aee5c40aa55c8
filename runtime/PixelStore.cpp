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
} // namespace

TPixelStore::TPixelStore(std::size_t bytes) : Bytes(bytes) {
    if (bytes == 0) return;
    if (bytes >= kMapFrom) {
        void* p =
            ::mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (p != MAP_FAILED) {
            ::madvise(p, bytes, MADV_HUGEPAGE); // a hint: refused, the pages are small
            Base = static_cast<uint8_t*>(p);
            Mapped = true;
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
    if (Mapped)
        ::munmap(Base, Bytes);
    else
        std::free(Base);
    Base = nullptr;
    Bytes = 0;
    Mapped = false;
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
      Mapped(std::exchange(other.Mapped, false)) {}

TPixelStore& TPixelStore::operator=(TPixelStore&& other) noexcept {
    if (this != &other) {
        Free();
        Base = std::exchange(other.Base, nullptr);
        Bytes = std::exchange(other.Bytes, 0);
        Mapped = std::exchange(other.Mapped, false);
    }
    return *this;
}

} // namespace rt
