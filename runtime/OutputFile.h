#pragma once
// An output file that replaces its target only once it is complete: the bytes go to a
// working file beside the target, which Commit renames over it, so that a failure leaves
// an existing file as it was; the new file keeps the target's mode. A target that is not a
// regular file (a FIFO, a terminal, a device) is written directly, and "-" is standard
// output.

#include "runtime/BinaryFile.h"
#include "runtime/SignalCleanup.h"

#include <memory>
#include <string>

namespace rt {

// How a replacement is made.
struct TReplace {
    // The new bytes on the disk before the rename and the rename on it after: a power loss
    // then leaves the old file or the new one. What a user saves asks for it; a batch of
    // hundreds of exports may do without.
    bool Sync = false;
    // A working file of this fixed name, made exclusively, for a caller that holds a lock
    // and removes what a crash left; empty: a fresh name of this process's, which a signal
    // that ends the process removes.
    std::string WorkPath;
};

class TOutputFile {
public:
    // Opens the output; a directory that does not exist raises code 3 as creating the
    // target itself would.
    explicit TOutputFile(const std::string& path, const TReplace& how = {});
    // Without Commit the temporary file goes and the target stays as it was.
    ~TOutputFile();
    TOutputFile(const TOutputFile&) = delete;
    TOutputFile& operator=(const TOutputFile&) = delete;

    void Write(const void* buffer, size_t count) { Out.Write(buffer, count); }
    TBinaryFile& File() { return Out; }
    // The file the bytes go to before Commit: the working file beside the target, or empty
    // where the target is written directly (a pipe, a device, standard output).
    const std::string& TempPath() const { return Temp; }
    void Commit();

private:
    TBinaryFile Out;
    std::string Target, Temp;
    std::unique_ptr<TCleanupEntry> Cleanup;
    int Mode = 0;
    bool Sync = false;
    bool Done = false;
};

} // namespace rt
