#pragma once
// Files that must not outlive the process when a signal ends it: a fatal signal removes
// every registered file of this process, then ends the process by the same signal. Any
// number of files may be registered; the handler takes no lock and allocates nothing, and
// sees a name only once it is whole.

#include <csignal>
#include <memory>
#include <string>
#include <vector>

namespace rt {

// Every signal whose default action ends the process and that a handler may take, but the
// faults a program raises on itself (SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGTRAP, SIGSYS,
// SIGABRT), which belong to sanitizers and debuggers, and SIGXFSZ, which a program that
// writes files should ignore so that the write fails as an ordinary I/O error.
std::vector<int> EndingSignals();

// Installs the handler for these signals.
void RemoveFilesOnSignals(const std::vector<int>& which);

// True once a signal is ending the process: its files are being removed, so that what fails
// on other threads meanwhile is the ending, not a fault worth telling.
bool ProcessEnding();

// Held around the exclusive creation of a file (O_CREAT | O_EXCL), never around an open
// that may wait (a FIFO waits for its reader, and a signal must still end the process): a
// signal that ends the process waits until it is over, so that a registered file it
// creates again is still removed, and once the process is ending no file is created any
// more. It allocates nothing and holds the signals off its own thread meanwhile.
class TCreatingFile {
public:
    TCreatingFile();
    ~TCreatingFile();
    TCreatingFile(const TCreatingFile&) = delete;
    TCreatingFile& operator=(const TCreatingFile&) = delete;

private:
    sigset_t Before;
};

struct TRegisteredFile;
TRegisteredFile CreateRegistered(const std::string& prefix);

// A registered file; the registration ends with the object (the file stays). A name is
// registered once its file is ours (see CreateRegistered).
class TCleanupEntry {
public:
    TCleanupEntry() = default;
    explicit TCleanupEntry(const std::string& path);
    ~TCleanupEntry();
    TCleanupEntry(const TCleanupEntry&) = delete;
    TCleanupEntry& operator=(const TCleanupEntry&) = delete;

private:
    friend TRegisteredFile CreateRegistered(const std::string& prefix);
    void* Node = nullptr;
};

// Creates a new file (mode 0600, opened for reading and writing) named prefix followed by
// this process's number and a count, and registers it once it is made, so that a name
// another process holds is never removed. Answers the descriptor; a failure raises
// EInOutError for the prefix.
struct TRegisteredFile {
    int Fd = -1;
    std::string Path;
    std::unique_ptr<TCleanupEntry> Entry;
};
TRegisteredFile CreateRegistered(const std::string& prefix);

} // namespace rt
