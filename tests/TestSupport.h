#pragma once
// Helpers shared by the suites: a private temporary directory and file access.

#include "runtime/Bitmap.h"

#include <cstdint>
#include <deque>
#include <filesystem>
#include <functional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace testing_support {

// A fresh directory removed with everything in it at the end of the test.
class TTempDir {
public:
    TTempDir();
    ~TTempDir();
    TTempDir(const TTempDir&) = delete;
    TTempDir& operator=(const TTempDir&) = delete;
    const std::string& Path() const { return Dir; }
    std::string File(const std::string& name) const { return Dir + "/" + name; }

private:
    std::string Dir;
};

// Answers the runtime's message boxes while it lives: records every text, and answers
// each question from Answers (No when it is empty), after running BeforeAnswer if set.
struct TScriptedBoxes {
    TScriptedBoxes();
    ~TScriptedBoxes();
    TScriptedBoxes(const TScriptedBoxes&) = delete;
    TScriptedBoxes& operator=(const TScriptedBoxes&) = delete;
    std::vector<std::string> Messages, Questions;
    std::deque<bool> Answers;
    std::function<void()> BeforeAnswer;
};

// Runs body in a child process that sees a fresh tmpfs of sizeKiB mounted at dir (a
// directory of the caller's), in a mount namespace of its own so that nothing outside
// sees it. Answers body's result, or kNoTmpfs when this machine lets no test mount one.
constexpr int kNoTmpfs = 77;
int InSmallTmpfs(const std::string& dir, int sizeKiB, const std::function<int()>& body);

std::vector<uint8_t> ReadAll(const std::string& path);
void WriteAll(const std::string& path, const std::vector<uint8_t>& bytes);
// What a shell command writes to its standard output.
std::string CommandOutput(const std::string& command);
// Runs body in a child process, which ends with body's result; an error is printed and ends
// it with 1. Answers the child's process number.
pid_t Spawn(const std::function<int()>& body);
// Whether two pictures have the same size and pixels.
bool SameBitmaps(const rt::TBitmap& a, const rt::TBitmap& b);

// Number of open file descriptors of this process.
int OpenDescriptorCount();

// Where strip n of a sheet's bytes begins, read from its strip table.
uint32_t StripOffset(const std::vector<uint8_t>& sheet, size_t n);
// How many strips a sheet's directory states.
size_t StripCount(const std::vector<uint8_t>& sheet);

// Whether the fault library is preloaded, so that TIoFault works.
bool IoFaultsLoaded();

// While it lives, makes system calls of this process and the ones it starts fail with EIO:
// every read of path that reaches offset (a bad sector), or every close of a file whose path
// ends with a suffix.
class TIoFault {
public:
    static TIoFault Read(const std::string& path, uint64_t offset);
    // The first read of path that starts at or past offset sleeps ms milliseconds.
    static TIoFault Stall(const std::string& path, uint64_t offset, int ms);
    static TIoFault Close(const std::string& suffix);
    ~TIoFault();
    TIoFault(TIoFault&& other) noexcept : Variable(std::move(other.Variable)) {
        other.Variable.clear();
    }
    TIoFault(const TIoFault&) = delete;
    TIoFault& operator=(const TIoFault&) = delete;

private:
    TIoFault(std::string variable, const std::string& value);
    std::string Variable;
};

} // namespace testing_support
