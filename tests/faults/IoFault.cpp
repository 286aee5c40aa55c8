// Media that fail, for tests: loaded with LD_PRELOAD, it makes system calls fail with EIO
// as named by the environment, and is idle while the variables are unset.
//   MAPVIEW_READ_FAULT=OFFSET:PATH   every read of PATH that reaches OFFSET, as a bad sector
//   MAPVIEW_CLOSE_FAULT=SUFFIX       every close of a file whose path ends so, after closing
//                                    it, as a network file system that loses a write

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <string>
#include <sys/stat.h>
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

using TPread = ssize_t (*)(int, void*, size_t, off_t);
using TClose = int (*)(int);
using TRead = ssize_t (*)(int, void*, size_t);

ssize_t RealPread(int fd, void* buf, size_t count, off_t at) {
    static auto real = reinterpret_cast<TPread>(::dlsym(RTLD_NEXT, "pread64"));
    return real(fd, buf, count, at);
}

} // namespace

extern "C" {

// Found by tests to tell that the fault can be injected.
int mapview_io_faults_loaded = 1;

ssize_t pread64(int fd, void* buf, size_t count, off_t at) {
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

} // extern "C"
