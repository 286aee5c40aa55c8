#include "runtime/FileLock.h"

#include "runtime/BinaryFile.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace rt {

bool TFileLock::Lock(const std::string& path, bool wait) {
    Release();
    int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0) RaiseIoErrorFor(path);
    int rc;
    do {
        rc = ::flock(fd, LOCK_EX | (wait ? 0 : LOCK_NB));
    } while (rc != 0 && errno == EINTR);
    if (rc != 0) {
        int err = errno;
        ::close(fd);
        if (err == EWOULDBLOCK) return false;
        errno = err;
        RaiseIoErrorFor(path);
    }
    Fd = fd;
    return true;
}

void TFileLock::Acquire(const std::string& path) {
    Lock(path, true);
}

bool TFileLock::TryAcquire(const std::string& path) {
    return Lock(path, false);
}

void TFileLock::Release() noexcept {
    if (Fd >= 0) ::close(Fd);
    Fd = -1;
}

} // namespace rt
