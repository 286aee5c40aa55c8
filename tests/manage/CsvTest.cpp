#include "manage/Csv.h"
#include "runtime/Errors.h"
#include "tests/TestSupport.h"

#include <gtest/gtest.h>

using testing_support::ReadAll;
using testing_support::TTempDir;
using testing_support::WriteAll;
using Lines = std::vector<std::string>;

namespace {

Lines Split(const std::string& line, void (*setup)(tcsv&) = nullptr) {
    tcsv csv;
    if (setup) setup(csv);
    csv.text = line;
    csv.split();
    return csv.items;
}

// Every record of a file as "text: field|field", with " $" when eof follows it.
Lines ReadFile(const TTempDir& dir, const std::string& bytes) {
    WriteAll(dir.File("in.csv"), std::vector<uint8_t>(bytes.begin(), bytes.end()));
    tcsv csv;
    csv.openread(dir.File("in.csv"));
    Lines out;
    while (!csv.eof) {
        csv.readrec();
        std::string r = csv.text + ":";
        for (size_t i = 0; i < csv.items.size(); ++i) r += (i ? "|" : " ") + csv.items[i];
        out.push_back(r + (csv.eof ? " $" : ""));
    }
    csv.close();
    return out;
}

} // namespace

TEST(Csv, SplitKeepsQuotesAndTheirStateAcrossTheLine) {
    EXPECT_EQ(Split("x,y,"), (Lines{"x", "y", ""}));
    EXPECT_EQ(Split(","), (Lines{"", ""}));
    EXPECT_EQ(Split(",x"), (Lines{"", "x"}));
    EXPECT_EQ(Split("\"x,y\",z"), (Lines{"\"x,y\"", "z"}));
    EXPECT_EQ(Split("x\"y,z\"x,y"), (Lines{"x\"y,z\"x", "y"}));
    EXPECT_EQ(Split("\"x\"\"y\",z"), (Lines{"\"x\"\"y\"", "z"}));
    EXPECT_EQ(Split("\"x,y"), (Lines{"\"x,y"})); // an unmatched quote takes the rest
    EXPECT_EQ(Split("\"x\"\"y\",z", [](tcsv& c) { c.sepaflg = true; }), (Lines{"xy", "z"}));
    EXPECT_EQ(Split("\"x,y\"", [](tcsv& c) { c.stringflg = false; }), (Lines{"\"x", "y\""}));
    EXPECT_EQ(Split("a,b\tc", [](tcsv& c) { c.tokns = ",\t"; }), (Lines{"a", "b", "c"}));

    tcsv csv; // an empty line leaves the previous fields in place
    csv.items = {"kept"};
    csv.split();
    EXPECT_EQ(csv.items, Lines{"kept"});
}

TEST(Csv, LineEndsBlankLinesAndTheEndOfFileByte) {
    TTempDir dir;
    EXPECT_EQ(ReadFile(dir, "  a\r\nb\rc\nd\r\n\r\n \t\r\n  e,f\x1A"
                            "g\r\n"),
              (Lines{"  a:   a", "b: b", "c\nd: c\nd", "e,f: e|f $"})); // a lone LF is a byte
    EXPECT_EQ(ReadFile(dir, ""), (Lines{": $"}));
    EXPECT_EQ(ReadFile(dir, "\r\n\r\nx"), (Lines{":", "x: x $"}));
    EXPECT_EQ(ReadFile(dir, "x\r\n \r\n\x1A"), (Lines{"x: x $"}));
    const std::string longLine(300000, 'q'); // longer than any read buffer
    EXPECT_EQ(ReadFile(dir, longLine + ",z\r\n"), (Lines{longLine + ",z: " + longLine + "|z $"}));
}

TEST(Csv, WritesUnquotedRecordsWithCrLfThatReadBack) {
    TTempDir dir;
    tcsv out;
    out.tokns = ",\t";
    out.openwrite(dir.File("out.csv"));
    for (Lines record : {Lines{"x,y", "z"}, Lines{}, Lines{"\"q\"", "\x95\x5c"}}) {
        out.items = record;
        out.writerec();
    }
    EXPECT_EQ(out.text, "\"q\",\x95\x5c");
    out.close();
    const std::string bytes = "x,y,z\r\n\r\n\"q\",\x95\x5c\r\n";
    EXPECT_EQ(ReadAll(dir.File("out.csv")), std::vector<uint8_t>(bytes.begin(), bytes.end()));
    EXPECT_EQ(ReadFile(dir, bytes), (Lines{"x,y,z: x|y|z", "\"q\",\x95\x5c: \"q\"|\x95\x5c $"}));
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
    EXPECT_THROW(csv.close(), rt::EInOutError); // nothing is open
    EXPECT_THROW(csv.openwrite(dir.File("no/such/out.csv")), rt::EInOutError);

    // Reopening a file still open for writing keeps what was written.
    csv.openwrite(dir.File("a.csv"));
    csv.items = {"a", "b"};
    csv.writerec();
    csv.openread();
    csv.readrec();
    EXPECT_EQ(csv.items, (Lines{"a", "b"}));
    csv.close();
}
