#include "runtime/BinaryFile.h"

#include "runtime/Errors.h"
#include "runtime/FileSys.h"
#include "runtime/SignalCleanup.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace rt {

namespace {
constexpr int kFileNotOpen = 103;
constexpr int kSeekOnPipe = 29; // ESPIPE, as the system numbers it
} // namespace

const char* const kNotRegularFile = "通常のファイルではありません";

void RaiseIoErrorFor(const std::string& path) {
    int err = errno;
    int code = ErrnoToIoCode(err);
    if (code == kFileNotFound && !path.empty()) {
        std::string dir = ExtractFileDir(path);
        if (!dir.empty() && !DirectoryExists(dir)) code = kPathNotFound;
    }
    throw EInOutError(code);
}

namespace {

// Opens path with flags that hold O_CREAT. What exists is opened as it is with the ending
// signals free: a FIFO waits there for its reader, and a signal must still end the process.
// Only a file that is missing is made, exclusively and with the signals held, so that a
// registered file a signal removes while the process ends is not made again behind it.
int OpenCreating(const std::string& path, int flags) {
    for (;;) {
        int fd = ::open(path.c_str(), (flags & ~O_CREAT) | O_CLOEXEC);
        if (fd >= 0 || errno != ENOENT) return fd;
        int err;
        bool linked = false;
        {
            TCreatingFile creating;
            fd = ::open(path.c_str(), flags | O_EXCL | O_CLOEXEC, 0666);
            err = errno;
            struct stat st {};
            if (fd < 0 && err == EEXIST && ::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
                // A link to a missing file is made through; never waiting, should a FIFO
                // have taken the missing name meanwhile.
                fd = ::open(path.c_str(), flags | O_NONBLOCK | O_CLOEXEC, 0666);
                err = errno;
                linked = true;
            }
        }
        if (fd >= 0) {
            if (linked) ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
            return fd;
        }
        // Made by another meanwhile (or a FIFO without a reader): opened as it is now.
        if (err != EEXIST && err != ENXIO) {
            errno = err;
            return -1;
        }
    }
}

} // namespace

TBinaryFile::~TBinaryFile() {
    CloseQuietly();
}

void TBinaryFile::OpenWith(int flags) {
    if (IsOpen()) Close();
    if (Path.empty()) throw EInOutError(kFileNotFound);
    const int fd =
        (flags & O_CREAT) ? OpenCreating(Path, flags) : ::open(Path.c_str(), flags | O_CLOEXEC);
    if (fd < 0) RaiseIoErrorFor(Path);
    struct stat st {};
    if (::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
        ::close(fd);
        throw EInOutError(kAccessDenied);
    }
    Adopt(fd, st);
}

void TBinaryFile::Adopt(int fd, const struct stat& st) {
    Fd = fd;
    Pos = 0;
    // Only what is no regular file may be a pipe or a terminal.
    Sequential = !S_ISREG(st.st_mode) && ::lseek(fd, 0, SEEK_CUR) < 0 && errno == ESPIPE;
}

void TBinaryFile::Reset() {
    OpenWith(O_RDONLY);
}

void TBinaryFile::ResetRegular() {
    if (IsOpen()) Close();
    if (Path.empty()) throw EInOutError(kFileNotFound);
    // Non-blocking, so that a FIFO nobody writes to is refused instead of waited on.
    int fd = ::open(Path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) RaiseIoErrorFor(Path);
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        throw TError(kNotRegularFile);
    }
    Adopt(fd, st);
}

void TBinaryFile::AssignHandle(int fd, const std::string& name) {
    if (IsOpen()) Close();
    Path = name;
    int own = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
    if (own < 0) RaiseLastIoError();
    struct stat st {};
    if (::fstat(own, &st) != 0) st.st_mode = 0; // then asked by seeking
    Adopt(own, st);
}
void TBinaryFile::Rewrite() {
    OpenWith(O_WRONLY | O_CREAT | O_TRUNC);
}
void TBinaryFile::Overwrite() {
    OpenWith(O_WRONLY | O_CREAT);
}

void TBinaryFile::Seek(int64_t pos) {
    if (!IsOpen()) throw EInOutError(kFileNotOpen);
    if (pos < 0) throw EInOutError(131); // negative seek
    if (Sequential && pos != Pos) throw EInOutError(kSeekOnPipe);
    Pos = pos;
}

int64_t TBinaryFile::FileSize() const {
    if (!IsOpen()) throw EInOutError(kFileNotOpen);
    struct stat st {};
    if (::fstat(Fd, &st) != 0) RaiseLastIoError();
    return static_cast<int64_t>(st.st_size);
}

bool TBinaryFile::Reserve(int64_t offset, int64_t bytes) {
    if (!IsOpen()) throw EInOutError(kFileNotOpen);
    if (bytes <= 0 || offset < 0 || Sequential) return false;
    return ::fallocate(Fd, FALLOC_FL_KEEP_SIZE, off_t(offset), off_t(bytes)) == 0;
}

int64_t TBinaryFile::SpaceAvailable() const {
    if (!IsOpen()) throw EInOutError(kFileNotOpen);
    struct statvfs vs {};
    if (::fstatvfs(Fd, &vs) != 0) RaiseLastIoError();
    // A file system of no stated size (a memory file, a tmpfs without a limit) says it has
    // no blocks at all: its room is unknown, not nil.
    if (vs.f_blocks == 0) return INT64_MAX;
    return static_cast<int64_t>(vs.f_bavail) * static_cast<int64_t>(vs.f_frsize);
}

size_t TBinaryFile::ReadSome(void* buffer, size_t count) {
    if (!IsOpen()) throw EInOutError(kFileNotOpen);
    auto* p = static_cast<char*>(buffer);
    size_t done = 0;
    while (done < count) {
        ssize_t n = Sequential ? ::read(Fd, p + done, count - done)
                               : ::pread(Fd, p + done, count - done, static_cast<off_t>(Pos));
        if (n < 0) {
            if (errno == EINTR) continue;
            RaiseLastIoError();
        }
        if (n == 0) break;
        done += static_cast<size_t>(n);
        Pos += n;
    }
    return done;
}

void TBinaryFile::ReadAt(int64_t offset, void* buffer, size_t count) const {
    if (!IsOpen()) throw EInOutError(kFileNotOpen);
    if (Sequential) throw EInOutError(kSeekOnPipe);
    auto* p = static_cast<char*>(buffer);
    for (size_t done = 0; done < count;) {
        ssize_t n = ::pread(Fd, p + done, count - done, static_cast<off_t>(offset + done));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) RaiseLastIoError();
        if (n == 0) throw EInOutError(kReadPastEnd);
        done += static_cast<size_t>(n);
    }
}

void TBinaryFile::Read(void* buffer, size_t count) {
    if (ReadSome(buffer, count) != count) throw EInOutError(kReadPastEnd);
}

void TBinaryFile::Write(const void* buffer, size_t count) {
    if (!IsOpen()) throw EInOutError(kFileNotOpen);
    const auto* p = static_cast<const char*>(buffer);
    size_t done = 0;
    while (done < count) {
        ssize_t n = Sequential ? ::write(Fd, p + done, count - done)
                               : ::pwrite(Fd, p + done, count - done, static_cast<off_t>(Pos));
        if (n < 0) {
            if (errno == EINTR) continue;
            RaiseLastIoError();
        }
        if (n == 0) throw EInOutError(kDiskFull);
        done += static_cast<size_t>(n);
        Pos += n;
    }
}

void TBinaryFile::Close() {
    if (!IsOpen()) throw EInOutError(kFileNotOpen);
    int fd = Fd;
    Fd = -1;
    if (::close(fd) != 0 && errno != EINTR) RaiseLastIoError();
}

void TBinaryFile::CloseCut() {
    if (!IsOpen()) throw EInOutError(kFileNotOpen);
    if (!Sequential && ::ftruncate(Fd, static_cast<off_t>(Pos)) != 0) {
        int err = errno;
        CloseQuietly();
        errno = err;
        RaiseLastIoError();
    }
    Close();
}

void TBinaryFile::CloseQuietly() noexcept {
    if (Fd >= 0) ::close(Fd);
    Fd = -1;
}

} // namespace rt
