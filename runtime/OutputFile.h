#pragma once
// An output file that replaces its target only once it is complete: the bytes go to a
// temporary file beside the target, which Commit renames over it, so that a failure leaves
// an existing file as it was. A target that is not a regular file (a FIFO, a terminal, a
// device) is written directly, and "-" is standard output.

#include "runtime/BinaryFile.h"
#include "runtime/SignalCleanup.h"

#include <memory>
#include <string>

namespace rt {

class TOutputFile {
public:
    // Opens the output; a directory that does not exist raises code 3 as creating the
    // target itself would.
    explicit TOutputFile(const std::string& path);
    // Without Commit the temporary file goes and the target stays as it was.
    ~TOutputFile();
    TOutputFile(const TOutputFile&) = delete;
    TOutputFile& operator=(const TOutputFile&) = delete;

    void Write(const void* buffer, size_t count) { Out.Write(buffer, count); }
    TBinaryFile& File() { return Out; }
    // The file the bytes go to before Commit: the temporary beside the target, or empty
    // where the target is written directly (a pipe, a device, standard output).
    const std::string& TempPath() const { return Temp; }
    void Commit();

private:
    TBinaryFile Out;
    std::string Target, Temp;
    std::unique_ptr<TCleanupEntry> Cleanup;
    bool Done = false;
};

} // namespace rt
