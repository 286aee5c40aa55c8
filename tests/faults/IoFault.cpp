// Media that fail, for tests: loaded with LD_PRELOAD, it makes system calls fail with EIO
// as named by the environment, and is idle while the variables are unset.
//   MAPVIEW_READ_FAULT=OFFSET:PATH   every read of PATH that reaches OFFSET, as a bad sector
//   MAPVIEW_CLOSE_FAULT=SUFFIX       every close of a file whose path ends so, after closing
//                                    it, as a network file system that loses a write
//   MAPVIEW_DIRSYNC_FAULT=1          every fsync of a directory, as a file system or a
//                                    directory that cannot be synced
//   MAPVIEW_UNLINK_PAUSE=MS:PATH     an unlink of PATH sleeps MS milliseconds before it reads
//                                    the name it was given, as a slow thread would
//   MAPVIEW_READ_STALL=MS:OFFSET:PATH  the first read of PATH that starts at or past OFFSET
//                                    sleeps MS milliseconds, as a drive retrying a scratched
//                                    sector; once for each value the variable takes

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <functional>
#include <string>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

namespace {

bool Faulty(int fd, off_t from, size_t count) {
    const char* fault = getenv("MAPVIEW_READ_FAULT");
    if (!fault) return false;
    char* path;
    const long long offset = std::strtoll(fault, &path, 10);
    if (*path != ':') return false;
    struct stat want {
    }, have{};
    if (::stat(path + 1, &want) != 0 || ::fstat(fd, &have) != 0) return false;
    if (want.st_dev != have.st_dev || want.st_ino != have.st_ino) return false;
    return from + off_t(count) > offset;
}

bool CloseFails(int fd) {
    const char* suffix = std::getenv("MAPVIEW_CLOSE_FAULT");
    if (!suffix || !*suffix) return false;
    char path[4096];
    const std::string link = "/proc/self/fd/" + std::to_string(fd);
    const ssize_t n = ::readlink(link.c_str(), path, sizeof path - 1);
    if (n <= 0) return false;
    const size_t len = std::strlen(suffix);
    return size_t(n) >= len && std::memcmp(path + n - len, suffix, len) == 0;
}

// The pause MAPVIEW_UNLINK_PAUSE asks for an unlink of path, in milliseconds; 0 for none.
long UnlinkPause(const char* path) {
    const char* pause = std::getenv("MAPVIEW_UNLINK_PAUSE");
    if (!pause) return 0;
    char* name;
    const long ms = std::strtol(pause, &name, 10);
    return *name == ':' && std::strcmp(name + 1, path) == 0 ? ms : 0;
}

// Sleeps where MAPVIEW_READ_STALL asks for a read of fd at from; once for each value.
void StallIfAsked(int fd, off_t from) {
    const char* stall = std::getenv("MAPVIEW_READ_STALL");
    if (!stall) return;
    char* rest;
    const long ms = std::strtol(stall, &rest, 10);
    if (*rest != ':') return;
    char* path;
    const long long offset = std::strtoll(rest + 1, &path, 10);
    if (*path != ':' || from < offset) return;
    struct stat want {
    }, have{};
    if (::stat(path + 1, &want) != 0 || ::fstat(fd, &have) != 0) return;
    if (want.st_dev != have.st_dev || want.st_ino != have.st_ino) return;
    static std::atomic<std::size_t> done{0}; // the value that stalled last, as a hash
    const std::size_t value = std::hash<std::string>()(stall);
    if (done.exchange(value) == value) return;
    const timespec wait{ms / 1000, (ms % 1000) * 1000000};
    ::nanosleep(&wait, nullptr);
}

using TPread = ssize_t (*)(int, void*, size_t, off_t);
using TClose = int (*)(int);
using TRead = ssize_t (*)(int, void*, size_t);
using TFsync = int (*)(int);
using TUnlink = int (*)(const char*);
// Found at load: a signal handler's unlink must not be the first to look it up.
const TUnlink gRealUnlink = reinterpret_cast<TUnlink>(::dlsym(RTLD_NEXT, "unlink"));

ssize_t RealPread(int fd, void* buf, size_t count, off_t at) {
    static auto real = reinterpret_cast<TPread>(::dlsym(RTLD_NEXT, "pread64"));
    return real(fd, buf, count, at);
}

} // namespace

extern "C" {

// Found by tests to tell that the fault can be injected.
int mapview_io_faults_loaded = 1;

ssize_t pread64(int fd, void* buf, size_t count, off_t at) {
    StallIfAsked(fd, at);
    if (Faulty(fd, at, count)) {
        errno = EIO;
        return -1;
    }
    return RealPread(fd, buf, count, at);
}

ssize_t pread(int fd, void* buf, size_t count, off_t at) {
    return pread64(fd, buf, count, at);
}

ssize_t read(int fd, void* buf, size_t count) {
    static auto real = reinterpret_cast<TRead>(::dlsym(RTLD_NEXT, "read"));
    const off_t at = ::lseek(fd, 0, SEEK_CUR);
    if (at >= 0) StallIfAsked(fd, at);
    if (at >= 0 && Faulty(fd, at, count)) {
        errno = EIO;
        return -1;
    }
    return real(fd, buf, count);
}

int close(int fd) {
    static auto real = reinterpret_cast<TClose>(::dlsym(RTLD_NEXT, "close"));
    const bool fail = CloseFails(fd);
    const int rc = real(fd);
    if (fail && rc == 0) {
        errno = EIO;
        return -1;
    }
    return rc;
}

int fsync(int fd) {
    static auto real = reinterpret_cast<TFsync>(::dlsym(RTLD_NEXT, "fsync"));
    struct stat st {};
    if (std::getenv("MAPVIEW_DIRSYNC_FAULT") && ::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
        errno = EIO;
        return -1;
    }
    return real(fd);
}

int unlink(const char* path) {
    if (const long ms = UnlinkPause(path)) {
        const timespec wait{ms / 1000, (ms % 1000) * 1000000};
        ::nanosleep(&wait, nullptr);
    }
    return gRealUnlink(path);
}

} // extern "C"
