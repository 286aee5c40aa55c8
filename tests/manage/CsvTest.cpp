#include "manage/Csv.h"
#include "runtime/Errors.h"
#include "tests/TestSupport.h"

#include <gtest/gtest.h>

using testing_support::ReadAll;
using testing_support::TTempDir;
using testing_support::WriteAll;
using Fields = std::vector<std::string>;

namespace {

Fields Split(const std::string& line, void (*setup)(tcsv&) = nullptr) {
    tcsv csv;
    if (setup) setup(csv);
    csv.text = line;
    csv.split();
    return csv.items;
}

// Every record of a file as (text, items, eof after it).
struct TRecord {
    std::string Text;
    Fields Items;
    bool Eof;
    bool operator==(const TRecord&) const = default;
};

std::vector<TRecord> ReadFile(const TTempDir& dir, const std::string& bytes) {
    WriteAll(dir.File("in.csv"), std::vector<uint8_t>(bytes.begin(), bytes.end()));
    tcsv csv;
    csv.openread(dir.File("in.csv"));
    std::vector<TRecord> out;
    while (!csv.eof) {
        csv.readrec();
        out.push_back({csv.text, csv.items, csv.eof});
    }
    csv.close();
    return out;
}

} // namespace

TEST(Csv, SplitKeepsQuotesAndTheirStateAcrossTheLine) {
    EXPECT_EQ(Split("x,y,"), (Fields{"x", "y", ""}));
    EXPECT_EQ(Split(","), (Fields{"", ""}));
    EXPECT_EQ(Split(",x"), (Fields{"", "x"}));
    EXPECT_EQ(Split("\"x,y\",z"), (Fields{"\"x,y\"", "z"}));
    EXPECT_EQ(Split("x\"y,z\"x,y"), (Fields{"x\"y,z\"x", "y"}));
    EXPECT_EQ(Split("\"x\"\"y\",z"), (Fields{"\"x\"\"y\"", "z"}));
    EXPECT_EQ(Split("\"x,y"), (Fields{"\"x,y"})); // unmatched quote takes the rest
    EXPECT_EQ(Split("\x93\x8c,\x8b\x9e\\"), (Fields{"\x93\x8c", "\x8b\x9e\\"}));
    EXPECT_EQ(Split(std::string("a\0b,c", 5)), (Fields{std::string("a\0b", 3), "c"}));

    EXPECT_EQ(Split("\"x\"\"y\",z", [](tcsv& c) { c.sepaflg = true; }), (Fields{"xy", "z"}));
    EXPECT_EQ(Split("\"x,y\"", [](tcsv& c) { c.stringflg = false; }), (Fields{"\"x", "y\""}));
    EXPECT_EQ(Split("a,b\tc", [](tcsv& c) { c.tokns = ",\t"; }), (Fields{"a", "b", "c"}));

    tcsv csv; // an empty line leaves the previous fields in place
    csv.items = {"kept"};
    csv.split();
    EXPECT_EQ(csv.items, Fields{"kept"});
}

TEST(Csv, LineEndsBlankLinesAndTheEndOfFileByte) {
    TTempDir dir;
    EXPECT_EQ(ReadFile(dir, "  a\r\nb\rc\nd\r\n\r\n \t\r\n  e,f\x1A"
                            "g\r\n"),
              (std::vector<TRecord>{{"  a", {"  a"}, false},
                                    {"b", {"b"}, false},
                                    {"c\nd", {"c\nd"}, false}, // a lone LF is a byte
                                    {"e,f", {"e", "f"}, true}}));
    EXPECT_EQ(ReadFile(dir, ""), (std::vector<TRecord>{{"", {}, true}}));
    EXPECT_EQ(ReadFile(dir, "\r\n\r\nx"),
              (std::vector<TRecord>{{"", {}, false}, {"x", {"x"}, true}}));
    EXPECT_EQ(ReadFile(dir, "x\r\n \r\n\x1A"), (std::vector<TRecord>{{"x", {"x"}, true}}));

    const std::string longLine(300000, 'q'); // longer than any read buffer
    EXPECT_EQ(ReadFile(dir, longLine + ",z\r\n"),
              (std::vector<TRecord>{{longLine + ",z", {longLine, "z"}, true}}));
}

TEST(Csv, WritesUnquotedRecordsWithCrLfThatReadBack) {
    TTempDir dir;
    tcsv out;
    out.tokns = ",\t";
    out.openwrite(dir.File("out.csv"));
    out.items = {"x,y", "z"};
    out.writerec();
    EXPECT_EQ(out.text, "x,y,z");
    out.items.clear();
    out.writerec();
    out.items = {"\"q\"", "\x95\x5c"};
    out.writerec();
    out.close();
    const std::string bytes = "x,y,z\r\n\r\n\"q\",\x95\x5c\r\n";
    EXPECT_EQ(ReadAll(dir.File("out.csv")), std::vector<uint8_t>(bytes.begin(), bytes.end()));
    EXPECT_EQ(ReadFile(dir, bytes),
              (std::vector<TRecord>{{"x,y,z", {"x", "y", "z"}, false},
                                    {"\"q\",\x95\x5c", {"\"q\"", "\x95\x5c"}, true}}));
}

TEST(Csv, OpenAndCloseFailuresAreIoErrors) {
    TTempDir dir;
    tcsv csv;
    csv.openread(); // no name at all: nothing happens
    csv.eof = true;
    try {
        csv.openread(dir.File("missing.csv"));
        ADD_FAILURE() << "opened a missing file";
    } catch (const rt::EInOutError& e) {
        EXPECT_EQ(e.ErrorCode(), rt::kFileNotFound);
    }
    EXPECT_TRUE(csv.eof);
    EXPECT_EQ(csv.filename, dir.File("missing.csv"));
    EXPECT_THROW(csv.close(), rt::EInOutError); // nothing is open
    EXPECT_THROW(csv.openwrite(dir.File("no/such/out.csv")), rt::EInOutError);

    // Reopening a file still open for writing keeps what was written.
    csv.openwrite(dir.File("a.csv"));
    csv.items = {"a", "b"};
    csv.writerec();
    csv.openread();
    csv.readrec();
    EXPECT_EQ(csv.items, (Fields{"a", "b"}));
    csv.close();
}
