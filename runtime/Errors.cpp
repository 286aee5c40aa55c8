#include "runtime/Errors.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <vector>

namespace rt {

std::string IoErrorMessage(int code) {
    switch (code) {
    case kFileNotFound:
        return "ファイルが見つかりません";
    case kPathNotFound:
        return "不正なファイル名です";
    case kTooManyOpenFiles:
        return "オープンしたファイルが多すぎます";
    case kAccessDenied:
        return "ファイルへのアクセスが拒否されました";
    case kDataError:
        return "データ エラー (巡回冗長検査 (CRC) エラー) です";
    case kReadPastEnd:
        return "ファイルの末尾以降を読み込みました";
    case kFileTooLarge:
        return "ファイルが大きすぎます";
    case kDiskFull:
        return "ディスクがいっぱいです";
    case kNotANumber:
        return "入力値が数値ではありません";
    default:
        return Format("I/O エラー (%d)", code);
    }
}

EInOutError::EInOutError(int code) : TError(IoErrorMessage(code)), Code(code) {}

int ErrnoToIoCode(int err) {
    switch (err) {
    case ENOENT:
        return kFileNotFound;
    case ENOTDIR:
    case ENAMETOOLONG:
    case ELOOP:
    case EISDIR:
        return kPathNotFound;
    case EMFILE:
    case ENFILE:
        return kTooManyOpenFiles;
    case EACCES:
    case EPERM:
    case EROFS:
    case ETXTBSY:
        return kAccessDenied;
    case EIO: // its number is the access error's
        return kDataError;
    case ENOSPC:
    case EDQUOT:
        return kDiskFull;
    case EFBIG:
        return kFileTooLarge;
    default:
        return err;
    }
}

void RaiseLastIoError() {
    throw EInOutError(ErrnoToIoCode(errno));
}

std::string Format(const char* fmt, ...) {
    va_list args;
    va_start(args, fmt);
    va_list copy;
    va_copy(copy, args);
    int n = std::vsnprintf(nullptr, 0, fmt, copy);
    va_end(copy);
    std::string out;
    if (n > 0) {
        std::vector<char> buf(static_cast<size_t>(n) + 1);
        std::vsnprintf(buf.data(), buf.size(), fmt, args);
        out.assign(buf.data(), static_cast<size_t>(n));
    }
    va_end(args);
    return out;
}

} // namespace rt
