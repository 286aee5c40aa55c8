#include "runtime/Encoding.h"

#include <cerrno>
#include <iconv.h>

namespace rt {

namespace {

constexpr char kReplacement[] = "\xEF\xBF\xBD"; // U+FFFD

// Owns one conversion descriptor.
class TIconv {
public:
    TIconv() : Cd(::iconv_open("UTF-8", "CP932")) {}
    ~TIconv() {
        if (Valid()) ::iconv_close(Cd);
    }
    TIconv(const TIconv&) = delete;
    TIconv& operator=(const TIconv&) = delete;
    bool Valid() const { return Cd != reinterpret_cast<iconv_t>(-1); }
    iconv_t Get() const { return Cd; }

private:
    iconv_t Cd;
};

} // namespace

std::string Cp932ToUtf8(const std::string& bytes) {
    TIconv cd;
    if (!cd.Valid()) return bytes; // no converter installed: show the bytes as they are
    std::string out;
    out.reserve(bytes.size() * 3 / 2 + 4);
    char buf[256];
    // iconv takes a non-const input pointer; it never writes through it.
    char* in = const_cast<char*>(bytes.data());
    size_t inLeft = bytes.size();
    while (inLeft > 0) {
        char* o = buf;
        size_t oLeft = sizeof buf;
        size_t r = ::iconv(cd.Get(), &in, &inLeft, &o, &oLeft);
        int err = errno;
        out.append(buf, static_cast<size_t>(o - buf));
        if (r != static_cast<size_t>(-1)) break;
        if (err == E2BIG) continue;
        // EILSEQ or EINVAL (a character cut off at the end): skip one byte.
        out += kReplacement;
        ++in;
        --inLeft;
        ::iconv(cd.Get(), nullptr, nullptr, nullptr, nullptr);
    }
    return out;
}

} // namespace rt
