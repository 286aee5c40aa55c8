#include "manage/Csv.h"

void tcsv::openread(const std::string& name) {
    if (!name.empty()) filename = name;
    if (filename.empty()) return;
    // Closing first flushes a file still open for writing, which a plain reopen would drop.
    if (datafile.IsOpen()) datafile.Close();
    datafile.Assign(filename);
    datafile.Reset();
    eof = false;
}

void tcsv::openwrite(const std::string& name) {
    if (!name.empty()) filename = name;
    if (filename.empty()) return;
    if (datafile.IsOpen()) datafile.Close();
    datafile.Assign(filename);
    datafile.Rewrite();
}

int tcsv::PeekByte() {
    int c = datafile.Peek();
    return c == kEndOfFile ? -1 : c;
}

void tcsv::readrec() {
    text.clear();
    for (int c = PeekByte(); c >= 0 && c != '\r'; c = PeekByte()) {
        text.push_back(static_cast<char>(c));
        datafile.Get();
    }
    if (PeekByte() == '\r') {
        datafile.Get();
        if (PeekByte() == '\n') datafile.Get();
    }

    // Blank lines and the leading blanks of the next record go here, so that eof is known
    // before the caller asks for a record that is not there.
    int c = PeekByte();
    while (c >= 0 && c <= 0x20) {
        datafile.Get();
        c = PeekByte();
    }
    eof = c < 0;

    split();
}

void tcsv::split() {
    if (text.empty()) return;
    items.clear();
    size_t start = 0;
    bool quoted = false;
    const size_t n = text.size();
    for (size_t i = 0; i < n; ++i) {
        const char c = text[i];
        if (stokns.find(c) != std::string::npos) {
            quoted = !(stringflg && quoted);
        } else if (tokns.find(c) != std::string::npos && !(stringflg && quoted)) {
            std::string field = text.substr(start, i - start);
            items.push_back(sepaflg ? unquote(field) : std::move(field));
            start = i + 1;
        }
    }
    if (start == n) {
        items.emplace_back();
    } else {
        std::string field = text.substr(start);
        items.push_back(sepaflg ? unquote(field) : std::move(field));
    }
}

std::string tcsv::unquote(const std::string& field) const {
    std::string out;
    out.reserve(field.size());
    for (char c : field)
        if (sepstring.find(c) == std::string::npos) out.push_back(c);
    return out;
}

void tcsv::writerec() {
    text.clear();
    for (size_t i = 0; i < items.size(); ++i) {
        if (i > 0 && !tokns.empty()) text.push_back(tokns[0]);
        text += items[i];
    }
    datafile.WriteLn(text);
}

void tcsv::close() {
    datafile.Close();
}
