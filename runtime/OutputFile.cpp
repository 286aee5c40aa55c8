#include "runtime/OutputFile.h"

#include "runtime/Errors.h"
#include "runtime/FileSys.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <sys/stat.h>
#include <unistd.h>

namespace rt {

namespace {

// The process's file-creation mask, read without changing it (umask() would, for a moment,
// for every thread).
mode_t CurrentUmask() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("Umask:", 0) == 0)
            return static_cast<mode_t>(std::strtoul(line.c_str() + 6, nullptr, 8));
    return 022;
}

} // namespace

TOutputFile::TOutputFile(const std::string& path, const TReplace& how)
    : Target(path), Sync(how.Sync) {
    if (path == "-") {
        Out.AssignHandle(STDOUT_FILENO, path);
        return;
    }
    struct stat st {};
    const bool exists = ::stat(path.c_str(), &st) == 0;
    // A file replaced under a caller's lock is a regular file or none.
    if (exists && !S_ISREG(st.st_mode) && !how.WorkPath.empty()) throw TError(kNotRegularFile);
    if (exists && !S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode)) {
        Out.Assign(path);
        Out.Rewrite();
        return;
    }
    if (exists && S_ISDIR(st.st_mode)) throw EInOutError(kAccessDenied);
    // The replacement keeps the target's mode; a new file gets what creating it would. It
    // is private while it is written.
    Mode = int(exists ? (st.st_mode & 07777) : (0666 & ~CurrentUmask()));
    int fd;
    if (!how.WorkPath.empty()) {
        fd = ::open(how.WorkPath.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd < 0) RaiseIoErrorFor(how.WorkPath);
        Temp = how.WorkPath;
    } else {
        std::string leaf = ".";
        leaf += ExtractFileName(path);
        leaf += ".";
        TRegisteredFile made = CreateRegistered(JoinPath(ExtractFileDir(path), leaf));
        fd = made.Fd;
        Temp = made.Path;
        Cleanup = std::move(made.Entry);
    }
    try {
        Out.AssignHandle(fd, path);
    } catch (...) {
        ::close(fd);
        ::unlink(Temp.c_str());
        throw;
    }
    ::close(fd);
}

TOutputFile::~TOutputFile() {
    if (Done) return;
    Out.CloseQuietly();
    if (!Temp.empty()) ::unlink(Temp.c_str());
}

void TOutputFile::Commit() {
    if (!Temp.empty()) {
        if (::fchmod(Out.Handle(), mode_t(Mode)) != 0) RaiseIoErrorFor(Temp);
        if (Sync && ::fsync(Out.Handle()) != 0) RaiseIoErrorFor(Temp);
    }
    Out.Close();
    if (!Temp.empty() && ::rename(Temp.c_str(), Target.c_str()) != 0) RaiseIoErrorFor(Target);
    Done = true;
    Cleanup.reset(); // the working name is no file of ours any more
    // The target holds the new bytes now: a directory that cannot be synced (or read, by a
    // user who may only write it) leaves the rename to the file system's own time, and
    // reporting the save as failed would tell the user something untrue.
    const std::string dir = ExtractFileDir(Target);
    if (!Temp.empty() && Sync) SyncDir(dir.empty() ? "." : dir);
}

} // namespace rt
