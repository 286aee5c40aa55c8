#include "runtime/FileSys.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

namespace rt {

bool FileExists(const std::string& path) {
    struct stat st {};
    return !path.empty() && ::stat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

bool DirectoryExists(const std::string& path) {
    struct stat st {};
    return !path.empty() && ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool DeleteFile(const std::string& path) {
    return ::unlink(path.c_str()) == 0;
}

bool RenameFile(const std::string& from, const std::string& to) {
    return ::rename(from.c_str(), to.c_str()) == 0;
}

namespace {

// Closes fd keeping the errno of a failure before it.
bool CloseKeepingErrno(int fd, bool ok) {
    const int err = errno;
    const bool closed = ::close(fd) == 0 || errno == EINTR;
    if (!ok) errno = err;
    return ok && closed;
}

bool SyncPath(const std::string& path, int flags) {
    const int fd = ::open(path.c_str(), flags | O_CLOEXEC);
    if (fd < 0) return false;
    bool ok = ::fsync(fd) == 0;
    // Some file systems cannot sync a directory at all; there is nothing more to do then.
    if (!ok && (flags & O_DIRECTORY) && (errno == EINVAL || errno == ENOTSUP)) ok = true;
    return CloseKeepingErrno(fd, ok);
}

} // namespace

int FileMode(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return -1;
    return static_cast<int>(st.st_mode & 07777);
}

bool SetFileMode(const std::string& path, int mode) {
    return ::chmod(path.c_str(), static_cast<mode_t>(mode)) == 0;
}

bool SyncDir(const std::string& dir) {
    return SyncPath(dir, O_RDONLY | O_DIRECTORY);
}

bool CreateDir(const std::string& path) {
    return ::mkdir(path.c_str(), 0777) == 0;
}

std::string GetCurrentDir() {
    std::string buf(PATH_MAX, '\0');
    if (!::getcwd(buf.data(), buf.size())) return {};
    buf.resize(std::char_traits<char>::length(buf.c_str()));
    return buf;
}

std::string ExeDir() {
    std::string buf(PATH_MAX, '\0');
    ssize_t n = ::readlink("/proc/self/exe", buf.data(), buf.size() - 1);
    if (n <= 0) return GetCurrentDir();
    buf.resize(static_cast<size_t>(n));
    std::string dir = ExtractFileDir(buf);
    return dir.empty() ? std::string("/") : dir;
}

bool IsWritableDir(const std::string& dir) {
    return DirectoryExists(dir) && ::access(dir.c_str(), W_OK | X_OK) == 0;
}

bool ForceDirectories(const std::string& dir) {
    if (dir.empty() || DirectoryExists(dir)) return !dir.empty();
    std::string parent = ExtractFileDir(dir);
    if (!parent.empty() && parent != dir) ForceDirectories(parent);
    return CreateDir(dir) || DirectoryExists(dir);
}

namespace {

std::string UserDir(const char* xdgVar, const char* homeRel) {
    const char* xdg = std::getenv(xdgVar);
    std::string base;
    if (xdg && *xdg == '/') {
        base = xdg;
    } else {
        const char* home = std::getenv("HOME");
        base = JoinPath(home && *home ? home : "/tmp", homeRel);
    }
    std::string dir = JoinPath(base, "mapviewer");
    ForceDirectories(dir);
    return dir;
}

} // namespace

bool IsInstalledLayout(const std::string& exeDir) {
    return ExtractFileName(exeDir) == "bin" &&
           DirectoryExists(JoinPath(ExtractFileDir(exeDir), "share/mapviewer"));
}

std::string AppDir(const std::string& exeDir, const char* xdgVar, const char* homeRel) {
    return !IsInstalledLayout(exeDir) && IsWritableDir(exeDir) ? exeDir : UserDir(xdgVar, homeRel);
}

std::string ScratchDir() {
    return AppDir(ExeDir(), "XDG_CACHE_HOME", ".cache");
}
std::string DataDir() {
    return AppDir(ExeDir(), "XDG_DATA_HOME", ".local/share");
}
std::string ConfigDir() {
    return AppDir(ExeDir(), "XDG_CONFIG_HOME", ".config");
}

std::string JoinPath(const std::string& dir, const std::string& name) {
    if (dir.empty()) return name;
    if (dir.back() == '/') return dir + name;
    return dir + "/" + name;
}

std::string ExtractFileName(const std::string& path) {
    auto p = path.rfind('/');
    return p == std::string::npos ? path : path.substr(p + 1);
}

std::string ExtractFileDir(const std::string& path) {
    auto p = path.rfind('/');
    if (p == std::string::npos) return {};
    if (p == 0) return "/";
    return path.substr(0, p);
}

std::vector<std::string> ListDirectory(const std::string& dir) {
    std::vector<std::string> names;
    DIR* d = ::opendir(dir.empty() ? "." : dir.c_str());
    if (!d) return names;
    while (dirent* e = ::readdir(d)) {
        std::string n = e->d_name;
        if (n != "." && n != "..") names.push_back(std::move(n));
    }
    ::closedir(d);
    std::sort(names.begin(), names.end());
    return names;
}

std::string FindPathNoCase(const std::string& dir, const std::string& name,
                           bool (*fits)(const std::string& path)) {
    const std::string exact = JoinPath(dir, name);
    if (fits(exact)) return exact;
    for (const auto& entry : ListDirectory(dir)) {
        if (::strcasecmp(entry.c_str(), name.c_str()) != 0) continue;
        std::string path = JoinPath(dir, entry);
        if (fits(path)) return path;
    }
    return {};
}

} // namespace rt
