#include "runtime/FileMap.h"

#include "runtime/Errors.h"

#include <algorithm>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace rt {

TFileMap::TFileMap(const TBinaryFile& file) {
    if (!file.IsOpen()) throw EInOutError(103); // not open
    struct stat st {};
    if (::fstat(file.Handle(), &st) != 0) RaiseLastIoError();
    if (!S_ISREG(st.st_mode) || st.st_size <= 0 || uint64_t(st.st_size) > SIZE_MAX) return;
    void* p = ::mmap(nullptr, size_t(st.st_size), PROT_READ, MAP_SHARED, file.Handle(), 0);
    if (p == MAP_FAILED) return; // no address space for it: read instead
    Base = static_cast<uint8_t*>(p);
    Length = st.st_size;
    Guard.emplace(Base, size_t(Length));
}

TFileMap::~TFileMap() {
    Guard.reset();
    if (Base) ::munmap(Base, size_t(Length));
}

void TFileMap::Release(int64_t offset, int64_t count) const noexcept {
    if (!Base) return;
    static const int64_t page = ::sysconf(_SC_PAGESIZE);
    // Whole pages inside the range only: the pages at its ends may hold bytes still shown.
    const int64_t start = std::max<int64_t>(offset, 0);
    const int64_t first = (start + page - 1) / page * page;
    // The last page of the file holds no bytes of anything else.
    const int64_t stop = std::min(offset + count, Length);
    const int64_t end = stop == Length ? (stop + page - 1) / page * page : stop / page * page;
    if (end > first) ::madvise(Base + first, size_t(end - first), MADV_DONTNEED);
}

} // namespace rt
