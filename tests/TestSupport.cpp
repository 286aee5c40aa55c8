#include "tests/TestSupport.h"

#include "runtime/Hooks.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <fstream>
#include <iterator>
#include <sched.h>
#include <stdexcept>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

namespace testing_support {

TTempDir::TTempDir() {
    std::string tmpl = (std::filesystem::temp_directory_path() / "mapview-test-XXXXXX").string();
    if (!::mkdtemp(tmpl.data())) throw std::runtime_error("mkdtemp failed");
    Dir = tmpl;
}

TTempDir::~TTempDir() {
    std::error_code ec;
    // Undo read-only modes that a test left so that everything can go.
    for (auto& e : std::filesystem::recursive_directory_iterator(Dir, ec))
        std::filesystem::permissions(e.path(), std::filesystem::perms::owner_all,
                                     std::filesystem::perm_options::add, ec);
    std::filesystem::permissions(Dir, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ec);
    std::filesystem::remove_all(Dir, ec);
}

TScriptedBoxes::TScriptedBoxes() {
    rt::SetShowMessageHook([this](const std::string& t) { Messages.push_back(t); });
    rt::SetAskYesNoHook([this](const std::string& t) {
        Questions.push_back(t);
        if (BeforeAnswer) BeforeAnswer();
        bool yes = !Answers.empty() && Answers.front();
        if (!Answers.empty()) Answers.pop_front();
        return yes;
    });
}

TScriptedBoxes::~TScriptedBoxes() {
    rt::SetShowMessageHook(nullptr);
    rt::SetAskYesNoHook(nullptr);
}

int InSmallTmpfs(const std::string& dir, int sizeKiB, const std::function<int()>& body) {
    std::filesystem::create_directories(dir);
    pid_t pid = ::fork();
    if (pid == 0) {
        const std::string size = "size=" + std::to_string(sizeKiB) + "k";
        if (::unshare(CLONE_NEWNS) != 0 ||
            ::mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
            ::mount("tmpfs", dir.c_str(), "tmpfs", 0, size.c_str()) != 0)
            ::_exit(kNoTmpfs);
        ::_exit(body());
    }
    int status = 0;
    if (pid < 0 || ::waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
    return WEXITSTATUS(status);
}

std::vector<uint8_t> ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::string CommandOutput(const std::string& command) {
    std::string out;
    FILE* p = ::popen(command.c_str(), "r");
    if (!p) return out;
    char buf[4096];
    for (size_t n; (n = std::fread(buf, 1, sizeof buf, p)) > 0;) out.append(buf, n);
    ::pclose(p);
    return out;
}

void WriteAll(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

namespace {
uint32_t Be32(const std::vector<uint8_t>& f, size_t at) {
    return uint32_t(f.at(at)) << 24 | uint32_t(f.at(at + 1)) << 16 | uint32_t(f.at(at + 2)) << 8 |
           f.at(at + 3);
}
// Where the StripOffsets entry of a sheet's first directory is, or 0.
size_t StripOffsetsEntry(const std::vector<uint8_t>& f) {
    const uint32_t dir = Be32(f, 4);
    const size_t entries = size_t(f.at(dir)) << 8 | f.at(dir + 1);
    for (size_t i = 0; i < entries; ++i) {
        const size_t at = dir + 2 + 12 * i;
        if ((f.at(at) << 8 | f.at(at + 1)) == 273) return at;
    }
    return 0;
}
} // namespace

uint32_t StripOffset(const std::vector<uint8_t>& f, size_t n) {
    const size_t at = StripOffsetsEntry(f);
    if (!at) return 0;
    return Be32(f, at + 4) == 1 ? Be32(f, at + 8) : Be32(f, Be32(f, at + 8) + 4 * n);
}

size_t StripCount(const std::vector<uint8_t>& f) {
    const size_t at = StripOffsetsEntry(f);
    return at ? Be32(f, at + 4) : 0;
}

TIoFault::TIoFault(std::string variable, const std::string& value) : Variable(std::move(variable)) {
    ::setenv(Variable.c_str(), value.c_str(), 1);
}

pid_t Spawn(const std::function<int()>& body) {
    std::fflush(nullptr);
    const pid_t pid = ::fork();
    if (pid != 0) return pid;
    int code = 1;
    try {
        code = body();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "child %d: %s\n", ::getpid(), e.what());
    }
    ::_exit(code);
}

TIoFault TIoFault::Stall(const std::string& path, uint64_t offset, int ms) {
    return TIoFault("MAPVIEW_READ_STALL",
                    std::to_string(ms) + ":" + std::to_string(offset) + ":" + path);
}

TIoFault TIoFault::Read(const std::string& path, uint64_t offset) {
    return TIoFault("MAPVIEW_READ_FAULT", std::to_string(offset) + ":" + path);
}

TIoFault TIoFault::Close(const std::string& suffix) {
    return TIoFault("MAPVIEW_CLOSE_FAULT", suffix);
}

TIoFault::~TIoFault() {
    if (!Variable.empty()) ::unsetenv(Variable.c_str());
}

bool IoFaultsLoaded() {
    return ::dlsym(RTLD_DEFAULT, "mapview_io_faults_loaded") != nullptr;
}

bool SameBitmaps(const rt::TBitmap& a, const rt::TBitmap& b) {
    if (a.Width() != b.Width() || a.Height() != b.Height()) return false;
    for (int y = 0; y < a.Height(); ++y)
        if (std::memcmp(a.ScanLine(y), b.ScanLine(y), size_t(a.Stride())) != 0) return false;
    return true;
}

int OpenDescriptorCount() {
    int n = 0;
    for ([[maybe_unused]] auto& e : std::filesystem::directory_iterator("/proc/self/fd")) ++n;
    return n;
}

} // namespace testing_support
