#pragma once
// A text file read and written by lines. Reading takes LF or CR LF as the line end.

#include "runtime/BinaryFile.h"

#include <memory>
#include <string>
#include <vector>

namespace rt {

class TTextFile {
public:
    void Assign(const std::string& path) { File.Assign(path); }
    const std::string& FileName() const { return File.FileName(); }
    bool IsOpen() const { return File.IsOpen(); }

    void Reset();   // open for reading
    void Rewrite(); // create or empty, for writing

    // Next byte without consuming it; -1 at the end of the file.
    int Peek();
    // Next byte, consumed; -1 at the end of the file.
    int Get();

    void Write(const std::string& s);
    void WriteLn(const std::string& s) { Write(s + "\r\n"); }

    void Close();
    void CloseQuietly() noexcept;

private:
    bool Fill();
    void Flush();

    TBinaryFile File;
    std::unique_ptr<char[]> Buf;
    size_t BufLen = 0, BufPos = 0;
    std::string Out;
};

} // namespace rt
