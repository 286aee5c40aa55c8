#pragma once
// An advisory lock (flock) on a lock file, held while the object lives. A lock file that
// another process removes while it is being taken is taken anew, so that the holder always
// holds the file its name stands for; one that is removed may only be removed by a holder
// of its lock.

#include <string>

namespace rt {

class TFileLock {
public:
    TFileLock() = default;
    ~TFileLock() { Release(); }
    TFileLock(const TFileLock&) = delete;
    TFileLock& operator=(const TFileLock&) = delete;

    // Creates the lock file when it is missing and waits for the lock; a lock file that
    // cannot be opened raises EInOutError.
    void Acquire(const std::string& path);
    // Takes the lock only when it is free; false when another holder has it. A lock file
    // that cannot be opened raises EInOutError.
    bool TryAcquire(const std::string& path);
    void Release() noexcept;
    bool Held() const { return Fd >= 0; }

private:
    bool Lock(const std::string& path, bool wait);
    int Fd = -1;
};

} // namespace rt
