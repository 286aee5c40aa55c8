#pragma once
// The errors every layer raises. Messages are UTF-8 texts shown to the user as they stand.

#include <stdexcept>
#include <string>

namespace rt {

// Base of every error the system raises on purpose; its message is for the user.
class TError : public std::runtime_error {
public:
    explicit TError(const std::string& message) : std::runtime_error(message) {}
};

// An input/output failure carrying the system's error code.
class EInOutError : public TError {
public:
    explicit EInOutError(int code);
    int ErrorCode() const { return Code; }

private:
    int Code;
};

// A control refused a value (the progress bar's maximum below its minimum, for one).
class EInvalidOperation : public TError {
public:
    using TError::TError;
};

// Ends an operation silently: the handler that catches it shows nothing.
class EAbort : public TError {
public:
    EAbort() : TError("operation aborted") {}
};

// Error codes of the input/output error.
constexpr int kFileNotFound = 2;
constexpr int kPathNotFound = 3;
constexpr int kTooManyOpenFiles = 4;
constexpr int kAccessDenied = 5;
// A medium that cannot be read where it should (EIO: a scratched disc, a bad sector).
constexpr int kDataError = 23;
// A file past the size the process or its file system allows (EFBIG).
constexpr int kFileTooLarge = 27;
constexpr int kReadPastEnd = 100;
constexpr int kDiskFull = 101;
constexpr int kNotANumber = 106;

// The text shown for an input/output error code.
std::string IoErrorMessage(int code);

// Maps a POSIX errno value onto the system's input/output error codes.
int ErrnoToIoCode(int err);

// Raises the input/output error for the current errno.
[[noreturn]] void RaiseLastIoError();

// printf-style formatting into a std::string.
std::string Format(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

} // namespace rt
