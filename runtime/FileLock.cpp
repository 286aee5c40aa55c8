#include "runtime/FileLock.h"

#include "runtime/BinaryFile.h"
#include "runtime/Errors.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace rt {

bool TFileLock::Lock(const std::string& path, bool wait) {
    Release();
    for (;;) {
        // flock needs no more than a descriptor to read by: a user who may not write the
        // lock file (another's, made 0644 by the umask) still takes turns by it.
        // Non-blocking, so that a FIFO of that name is refused instead of waited on.
        int fd = ::open(path.c_str(), O_RDONLY | O_CREAT | O_NONBLOCK | O_CLOEXEC, 0666);
        if (fd < 0) RaiseIoErrorFor(path);
        struct stat kind {};
        if (::fstat(fd, &kind) != 0 || !S_ISREG(kind.st_mode)) {
            ::close(fd);
            throw TError(kNotRegularFile);
        }
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
        // A file locked while another process removed it is no lock: take the one that the
        // name stands for now.
        struct stat held {
        }, named{};
        if (::fstat(fd, &held) == 0 && ::stat(path.c_str(), &named) == 0 &&
            held.st_dev == named.st_dev && held.st_ino == named.st_ino) {
            Fd = fd;
            return true;
        }
        ::close(fd);
    }
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
