#include "runtime/FileView.h"

#include "runtime/Errors.h"

#include <algorithm>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace rt {

namespace {
// Large enough that a map call is rare against the rows read, small enough that its pages
// weigh nothing in the process's memory.
constexpr int64_t kWindowBytes = 1 << 20;
// A file this small is read whole at once: a map would cost more than the reading.
constexpr int64_t kReadWholeBytes = 256 * 1024;
} // namespace

TFileView::TFileView(const TBinaryFile& file, size_t maxRange, TAccess access,
                     const TFileMap* whole, size_t aheadBytes)
    : File(file), Whole(access == kMapWhole), Ahead(access == kReadAhead) {
    if (!File.IsOpen()) throw EInOutError(103); // not open
    if (whole && whole->Mapped()) {
        WholeMap = whole;
        Size = whole->Size();
        Mappable = false;
        return;
    }
    struct stat st {};
    if (::fstat(File.Handle(), &st) != 0) RaiseLastIoError();
    Size = st.st_size;
    Mappable = (access == kMap || access == kMapWhole) && S_ISREG(st.st_mode) && Size > 0;
    if (Mappable && Size <= kReadWholeBytes) {
        Mappable = false;
        Buffer.resize(size_t(Size));
        File.ReadAt(0, Buffer.data(), Buffer.size());
        InBuffer = true;
        return;
    }
    // A window's buffer need not be larger than the file.
    if (!Mappable)
        Buffer.resize(Ahead ? std::max<size_t>(maxRange, size_t(std::clamp<int64_t>(
                                                             Size, 0, int64_t(aheadBytes))))
                            : maxRange);
}

TFileView::~TFileView() {
    Unmap();
}

void TFileView::Unmap() noexcept {
    MapGuard.reset();
    if (Map) ::munmap(Map, size_t(MapEnd - MapStart));
    Map = nullptr;
    MapStart = MapEnd = 0;
}

const uint8_t* TFileView::Get(int64_t offset, size_t count) {
    if (offset < 0 || offset + int64_t(count) > Size) throw EInOutError(kReadPastEnd);
    if (WholeMap) return WholeMap->Data() + offset;
    if (InBuffer) return Buffer.data() + offset;
    if (!Mappable && !Ahead) {
        File.ReadAt(offset, Buffer.data(), count); // views of one file on several threads
        return Buffer.data();
    }
    const bool backwards = Last >= 0 && offset < Last;
    Last = offset;
    if (MapEnd > MapStart && offset >= MapStart && offset + int64_t(count) <= MapEnd)
        return (Ahead ? Buffer.data() : Map) + (offset - MapStart);
    Unmap();
    // The window runs the way the reading goes, so that the next ranges fall inside it.
    if (Ahead) {
        const int64_t span = int64_t(Buffer.size()); // never less than count
        const int64_t start =
            backwards ? std::max<int64_t>(0, offset + int64_t(count) - span) : offset;
        const int64_t end = std::min(Size, start + span);
        File.ReadAt(start, Buffer.data(), size_t(end - start));
        MapStart = start;
        MapEnd = end;
        return Buffer.data() + (offset - start);
    }
    static const int64_t page = ::sysconf(_SC_PAGESIZE);
    const int64_t span = std::max<int64_t>(kWindowBytes, int64_t(count) + page);
    int64_t start = backwards ? offset + int64_t(count) - span : offset;
    start = std::max<int64_t>(0, std::min(start, offset)) / page * page;
    const int64_t end = std::min(Size, std::max(start + span, offset + int64_t(count)));
    void* p = ::mmap(nullptr, size_t(end - start), PROT_READ,
                     MAP_SHARED | (Whole ? MAP_POPULATE : 0), File.Handle(), off_t(start));
    if (p == MAP_FAILED) RaiseLastIoError();
    Map = static_cast<uint8_t*>(p);
    MapStart = start;
    MapEnd = end;
    MapGuard.emplace(Map, size_t(end - start));
    return Map + (offset - MapStart);
}

} // namespace rt
