#include "runtime/TextFile.h"

namespace rt {

namespace {
constexpr size_t kChunk = 64 * 1024;
}

void TTextFile::Reset() {
    Out.clear();
    BufLen = BufPos = 0;
    File.Reset();
}

void TTextFile::Rewrite() {
    Out.clear();
    BufLen = BufPos = 0;
    File.Rewrite();
}

bool TTextFile::Fill() {
    if (BufPos < BufLen) return true;
    // Taken once, not cleared: only the bytes read are ever looked at.
    if (!Buf) Buf = std::make_unique_for_overwrite<char[]>(kChunk);
    BufLen = File.ReadSome(Buf.get(), kChunk);
    BufPos = 0;
    return BufLen > 0;
}

int TTextFile::Peek() {
    if (!Fill()) return -1;
    return static_cast<unsigned char>(Buf[BufPos]);
}

int TTextFile::Get() {
    if (!Fill()) return -1;
    return static_cast<unsigned char>(Buf[BufPos++]);
}

void TTextFile::Write(const std::string& s) {
    Out += s;
    if (Out.size() >= kChunk) Flush();
}

void TTextFile::Flush() {
    if (Out.empty()) return;
    File.Write(Out.data(), Out.size());
    Out.clear();
}

void TTextFile::Close() {
    if (File.IsOpen()) {
        try {
            Flush();
        } catch (...) {
            File.CloseQuietly();
            Out.clear();
            throw;
        }
    }
    File.Close();
}

void TTextFile::CloseQuietly() noexcept {
    Out.clear();
    File.CloseQuietly();
}

} // namespace rt
