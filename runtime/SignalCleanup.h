#pragma once
// Files that must not outlive the process when a signal ends it: a fatal signal removes
// every registered file of this process, then ends the process by the same signal. Names
// are registered with the signals blocked, so the handler only ever sees a complete name.

#include <csignal>
#include <initializer_list>
#include <string>

namespace rt {

// Blocks the cleanup signals in this thread while it lives.
class TSignalBlock {
public:
    TSignalBlock();
    ~TSignalBlock();
    TSignalBlock(const TSignalBlock&) = delete;
    TSignalBlock& operator=(const TSignalBlock&) = delete;

private:
    sigset_t Old;
};

// Installs the handler for these signals (e.g. SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGPIPE).
void RemoveFilesOnSignals(std::initializer_list<int> signals);

// A registered file; the registration ends with the object (the file stays). Call it with
// the signals blocked (TSignalBlock) from the moment the file is made.
class TCleanupEntry {
public:
    TCleanupEntry() = default;
    explicit TCleanupEntry(const std::string& path);
    ~TCleanupEntry();
    TCleanupEntry(const TCleanupEntry&) = delete;
    TCleanupEntry& operator=(const TCleanupEntry&) = delete;

private:
    int Slot = -1;
};

} // namespace rt
