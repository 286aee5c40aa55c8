#pragma once
// tcsv: reads and writes one comma-separated text file, one line a record. Bytes are
// never decoded; quotes stay in the fields unless sepaflg asks otherwise, a doubled quote
// means nothing special, and the writer never quotes.
//
// On reading a line ends at CR (an LF right after it is skipped), a lone LF is an
// ordinary byte, and 0x1A or the end of the file ends the file. Records are written with
// CR LF. Every file error is an rt::EInOutError raised to the caller.

#include "runtime/TextFile.h"

#include <string>
#include <vector>

class tcsv {
public:
    tcsv() = default;
    tcsv(const tcsv&) = delete;
    tcsv& operator=(const tcsv&) = delete;

    // An empty name keeps filename; with both empty nothing happens.
    void openread(const std::string& name = {});
    void openwrite(const std::string& name = {});
    // Reads the next line into text and its fields into items; eof tells whether another
    // record follows.
    void readrec();
    // Writes items joined by the first byte of tokns.
    void writerec();
    void close();

    // Splits text into items; an empty text leaves items as they were.
    void split();
    // The field without any byte of sepstring.
    std::string unquote(const std::string& field) const;

    std::string filename;
    std::string text;
    std::string tokns = ",";
    std::string stokns = "\"";
    bool stringflg = true;
    std::vector<std::string> items;
    std::string sepstring = "\"";
    bool sepaflg = false;
    bool eof = false;

private:
    // The byte that ends the file, wherever it stands.
    static constexpr int kEndOfFile = 0x1A;
    // -1 at 0x1A as at the physical end.
    int PeekByte();

    rt::TTextFile datafile;
};
