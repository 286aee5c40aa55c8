#include "engine/ScratchRaster.h"

#include "runtime/Errors.h"
#include "runtime/FileSys.h"

#include <algorithm>
#include <cctype>
#include <unistd.h>

namespace {

constexpr char kScratchName[] = "tiff.tmp";
constexpr char kScratchLockName[] = "tiff.lock";

// "tiff-PID.tmp", or "tiff-PID-N.tmp" where a viewer of the same number in another PID
// namespace holds the first.
std::string OwnScratchName(pid_t pid, int n) {
    std::string name = "tiff-";
    name += std::to_string(pid);
    if (n > 0) name.append("-").append(std::to_string(n));
    return name.append(".tmp");
}

bool IsOwnScratchName(const std::string& name) {
    if (name.size() < 10 || name.rfind("tiff-", 0) != 0 ||
        name.compare(name.size() - 4, 4, ".tmp") != 0)
        return false;
    const std::string middle = name.substr(5, name.size() - 9);
    return !middle.empty() && middle.find_first_not_of("0123456789-") == std::string::npos &&
           std::isdigit(static_cast<unsigned char>(middle.front())) &&
           std::isdigit(static_cast<unsigned char>(middle.back()));
}

} // namespace

std::string SharedScratchPath(const std::string& dir) {
    return rt::JoinPath(dir, kScratchName);
}

bool THeldRows::Holds(int64_t row) const {
    if (row >= ViewFirst && row < ViewEnd) return true;
    if (row < First || row >= First + Count) return false;
    auto hole = std::upper_bound(Holes.begin(), Holes.end(), row,
                                 [](int64_t r, const auto& h) { return r < h.second; });
    return hole == Holes.end() || hole->first > row;
}

bool THeldRows::HoldsAll(int64_t row, int64_t end) const {
    if (end <= row || (row >= ViewFirst && end <= ViewEnd)) return true;
    if (row < First || end > First + Count) return false;
    // The first hole that ends after row must begin at or after end.
    auto hole = std::upper_bound(Holes.begin(), Holes.end(), row,
                                 [](int64_t r, const auto& h) { return r < h.second; });
    return hole == Holes.end() || hole->first >= end;
}

TScratchRaster::TScratchRaster(std::string sharedDir, std::string path)
    : SharedDir(std::move(sharedDir)), FilePath(std::move(path)) {}

TScratchRaster::~TScratchRaster() {
    WholeMap.reset();
    Rows.CloseQuietly();
    // The shared file is ours to delete only while we hold its lock; a file of our own is
    // deleted before its lock goes.
    if (!SharedDir.empty() && !Lock.Held()) return;
    try {
        if (rt::FileExists(FilePath)) rt::DeleteFile(FilePath);
    } catch (const rt::TError&) {
        // Nothing is left to tell it to.
    }
    Lock.Release();
}

void TScratchRaster::RemoveStale(const std::string& dir) {
    // A scratch file of its own is held locked by its viewer for as long as it lives: one
    // that can be locked is left by a viewer that has gone. A process number tells nothing
    // here, since a viewer in another PID namespace sees other numbers.
    for (const std::string& name : rt::ListDirectory(dir)) {
        if (!IsOwnScratchName(name)) continue;
        try {
            rt::TFileLock lock;
            if (lock.TryAcquire(rt::JoinPath(dir, name))) rt::DeleteFile(rt::JoinPath(dir, name));
        } catch (const rt::TError&) {
            // Another user's file, or a directory we cannot write: not ours to clean.
        }
    }
    try {
        rt::TFileLock lock;
        if (lock.TryAcquire(rt::JoinPath(dir, kScratchLockName)))
            rt::DeleteFile(rt::JoinPath(dir, kScratchName));
    } catch (const rt::TError&) {
        // A directory we cannot write holds no scratch file of ours to clean.
    }
}

void TScratchRaster::PrepareOpen() {
    WholeMap.reset();
    Rows.CloseQuietly();
    ShownStart = ShownEnd = 0;
    Acquire();
}

void TScratchRaster::Acquire() {
    if (SharedDir.empty() || Lock.Held()) return;
    if (Lock.TryAcquire(rt::JoinPath(SharedDir, kScratchLockName))) return;
    // Another process has "tiff.tmp": use a file of our own beside it, for good, locked for
    // as long as we live so that no viewer takes it for a dead one's.
    for (int n = 0;; ++n) {
        const std::string path = rt::JoinPath(SharedDir, OwnScratchName(::getpid(), n));
        if (Lock.TryAcquire(path)) {
            FilePath = path;
            break;
        }
    }
    SharedDir.clear();
}

int64_t TScratchRaster::OpenForReading(bool mapWhole) {
    if (!Rows.IsOpen()) {
        WholeMap.reset();
        Rows.Assign(FilePath);
        Rows.Reset();
    }
    const int64_t size = Rows.FileSize();
    // A file cut behind our back must not be read through a map longer than the file.
    if (WholeMap && WholeMap->Mapped() && WholeMap->Size() != size) WholeMap.reset();
    if (mapWhole && !WholeMap) {
        WholeMap = std::make_unique<rt::TFileMap>(Rows);
        ShownStart = ShownEnd = 0;
    }
    return size;
}

void TScratchRaster::ShowPages(int64_t start, int64_t end) {
    // A page fault maps the pages around the one read as well (64 KiB on Linux).
    constexpr int64_t kFaultAround = 256 * 1024;
    const int64_t oldStart = ShownStart, oldEnd = ShownEnd;
    ShownStart = start < end ? std::max<int64_t>(start - kFaultAround, 0) : 0;
    ShownEnd = start < end ? end + kFaultAround : 0;
    ReleasePages(oldStart, oldEnd);
}

void TScratchRaster::ReleasePages(int64_t start, int64_t end) {
    if (!WholeMap) return;
    WholeMap->Release(start, std::min(end, ShownStart) - start);
    const int64_t from = std::max(start, ShownEnd);
    WholeMap->Release(from, end - from);
}

bool TScratchRaster::ByteAt(int64_t offset, uint8_t& value) {
    try {
        OpenForReading(false);
        if (offset >= Rows.FileSize()) return false;
        Rows.ReadAt(offset, &value, 1);
        return true;
    } catch (const rt::TError&) {
        return false; // a hint for the status bar, not worth an error box
    }
}
