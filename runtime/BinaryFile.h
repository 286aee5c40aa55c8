#pragma once
// A binary file of one-byte records. Every call is checked as it returns and raises
// EInOutError; the destructor closes the file whatever ended the work early.

#include <cstddef>
#include <cstdint>
#include <string>

struct stat;

namespace rt {

class TBinaryFile {
public:
    TBinaryFile() = default;
    ~TBinaryFile();
    TBinaryFile(const TBinaryFile&) = delete;
    TBinaryFile& operator=(const TBinaryFile&) = delete;

    void Assign(const std::string& path) { Path = path; }
    const std::string& FileName() const { return Path; }
    bool IsOpen() const { return Fd >= 0; }
    // The open descriptor, for what reads the file without moving it (a memory map).
    int Handle() const { return Fd; }

    // Opens the assigned file for reading only.
    void Reset();
    // Opens the assigned file for reading only when it is a regular file: a FIFO, device,
    // socket or directory is refused at once (kNotRegularFile), without waiting on it.
    void ResetRegular();
    // Takes over an open descriptor (standard input or output): reads and writes go
    // through it in order, and closing closes it.
    void AssignHandle(int fd, const std::string& name);
    // Creates the assigned file, emptying it when it exists, for writing.
    void Rewrite();
    // Opens the assigned file for writing, creating it when missing, without emptying it:
    // the content is cut to what was written when the file is closed (see CloseCut).
    void Overwrite();

    // A pipe or terminal cannot seek: only the position it stands at is accepted.
    void Seek(int64_t pos);
    int64_t FilePos() const { return Pos; }
    int64_t FileSize() const;
    // Bytes that can still be written on the file's file system.
    int64_t SpaceAvailable() const;
    // Takes the disk space for bytes from offset on now, without changing the file's size,
    // so that writing them later finds it ready; false where the file system cannot.
    bool Reserve(int64_t offset, int64_t bytes);

    // Reads exactly count bytes; fewer is the short-read error (100).
    void Read(void* buffer, size_t count);
    // Reads up to count bytes, returning how many there were before the end.
    size_t ReadSome(void* buffer, size_t count);
    // Reads exactly count bytes at offset without moving the position: several threads may
    // read one file so at once. A pipe cannot.
    void ReadAt(int64_t offset, void* buffer, size_t count) const;
    // Writes exactly count bytes; fewer is the disk-full error (101).
    void Write(const void* buffer, size_t count);

    // Closes the file; closing a file that is not open is an error (103).
    void Close();
    // Cuts the file at the current position, then closes it.
    void CloseCut();
    // Closes without raising: for clean-up on a path that is already failing.
    void CloseQuietly() noexcept;

private:
    void OpenWith(int flags);

    void Adopt(int fd, const struct stat& st);

    std::string Path;
    int Fd = -1;
    int64_t Pos = 0;
    bool Sequential = false; // a pipe, FIFO or terminal: read and write in order
};

// The message of a sheet path that names something other than a regular file.
extern const char* const kNotRegularFile;

// The input/output error for errno after an operation on path: a missing file in a
// missing directory is a bad path (3), not a missing file (2).
[[noreturn]] void RaiseIoErrorFor(const std::string& path);

} // namespace rt
