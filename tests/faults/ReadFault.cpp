// A scratched disc for tests: loaded with LD_PRELOAD, it fails with EIO every read of one
// file that reaches a given offset, as a bad sector does. Named by the environment:
//   MAPVIEW_READ_FAULT=OFFSET:PATH
// and idle while the variable is unset.

#include <cerrno>
#include <cstdlib>
#include <dlfcn.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

bool Faulty(int fd, off_t from, size_t count) {
    const char* spec = getenv("MAPVIEW_READ_FAULT");
    if (!spec) return false;
    char* path;
    const long long offset = std::strtoll(spec, &path, 10);
    if (*path != ':') return false;
    struct stat want {
    }, have{};
    if (::stat(path + 1, &want) != 0 || ::fstat(fd, &have) != 0) return false;
    if (want.st_dev != have.st_dev || want.st_ino != have.st_ino) return false;
    return from + off_t(count) > offset;
}

using TPread = ssize_t (*)(int, void*, size_t, off_t);
using TRead = ssize_t (*)(int, void*, size_t);

ssize_t RealPread(int fd, void* buf, size_t count, off_t at) {
    static auto real = reinterpret_cast<TPread>(::dlsym(RTLD_NEXT, "pread64"));
    return real(fd, buf, count, at);
}

} // namespace

extern "C" {

// Found by tests to tell that the fault can be injected.
int mapview_read_fault_loaded = 1;

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

} // extern "C"
