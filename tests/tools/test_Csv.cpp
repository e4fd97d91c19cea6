// RFC 4180 reader and field quoting.
#include "tools/Csv.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

using tools::CsvError;
using tools::CsvReader;

namespace {

using Records = std::vector<std::vector<std::string>>;

// All records of `text`, each followed by the line it started on.
Records ReadAll(const std::string& text, char sep = ',', std::vector<std::int64_t>* lines = nullptr) {
    std::istringstream in(text);
    CsvReader r(in, sep);
    Records out;
    std::vector<std::string> fields;
    while (r.Next(fields)) {
        out.push_back(fields);
        if (lines) lines->push_back(r.RecordLine());
    }
    EXPECT_FALSE(r.Next(fields));  // stays at the end
    EXPECT_TRUE(fields.empty());
    return out;
}

// The line and reason of the CsvError that reading `text` throws.
std::string ErrorOf(const std::string& text, char sep = ',') {
    std::istringstream in(text);
    CsvReader r(in, sep);
    std::vector<std::string> fields;
    try {
        while (r.Next(fields)) {
        }
    } catch (const CsvError& e) {
        return std::to_string(e.Line()) + ": " + e.what();
    }
    return "(no error)";
}

TEST(CsvReader, PlainFieldsLineEndingsAndEmptyFields) {
    EXPECT_EQ(ReadAll("a,b,c\n1,2,3\n"), Records({{"a", "b", "c"}, {"1", "2", "3"}}));
    EXPECT_EQ(ReadAll("a,b\r\n1,2\r\n"), Records({{"a", "b"}, {"1", "2"}}));
    EXPECT_EQ(ReadAll("a,b\r1,2"), Records({{"a", "b"}, {"1", "2"}}));  // lone CR, no final break
    EXPECT_EQ(ReadAll(",,\n,x,\n"), Records({{"", "", ""}, {"", "x", ""}}));
    EXPECT_EQ(ReadAll(" a , b "), Records({{" a ", " b "}}));  // blanks are data
    EXPECT_EQ(ReadAll(""), Records());
    EXPECT_EQ(ReadAll("\n\r\n\n"), Records());
}

TEST(CsvReader, QuotedFields) {
    EXPECT_EQ(ReadAll("\"a,b\",\"say \"\"hi\"\"\",\"\"\n"), Records({{"a,b", "say \"hi\"", ""}}));
    EXPECT_EQ(ReadAll("\"\"\"\"\n"), Records({{"\""}}));
    // Line breaks inside quotes belong to the field, and line numbers count them.
    std::vector<std::int64_t> lines;
    EXPECT_EQ(ReadAll("x,y\n\"one\ntwo\",\"3\r\n4\"\nlast,\"\"\n", ',', &lines),
              Records({{"x", "y"}, {"one\ntwo", "3\r\n4"}, {"last", ""}}));
    EXPECT_EQ(lines, std::vector<std::int64_t>({1, 2, 5}));  // CR LF inside quotes is one break
    // Empty lines between records are skipped but counted.
    lines.clear();
    EXPECT_EQ(ReadAll("a\n\n\nb\n", ',', &lines), Records({{"a"}, {"b"}}));
    EXPECT_EQ(lines, std::vector<std::int64_t>({1, 4}));
    // Which fields were quoted: "" is an empty text, an empty field nothing.
    std::istringstream in("\"\",,x,\"y\"\n");
    CsvReader r(in);
    std::vector<std::string> fields;
    ASSERT_TRUE(r.Next(fields));
    EXPECT_EQ(r.Quoted(), std::vector<bool>({true, false, false, true}));
}

TEST(CsvReader, SeparatorsUtf8AndByteOrderMark) {
    EXPECT_EQ(ReadAll("a\tb;c\n\"x\ty\"\tz\n", '\t'), Records({{"a", "b;c"}, {"x\ty", "z"}}));
    EXPECT_EQ(ReadAll("a;\"b;c\";d", ';'), Records({{"a", "b;c", "d"}}));
    EXPECT_EQ(ReadAll("\xEF\xBB\xBFNázev,Částka\nŽluťoučký kůň,1\n"),
              Records({{"Název", "Částka"}, {"Žluťoučký kůň", "1"}}));
    // A first character that starts like the mark is data: U+FF01 and U+FEC0.
    EXPECT_EQ(ReadAll("\xEF\xBC\x81,a\n"), Records({{"\xEF\xBC\x81", "a"}}));
    EXPECT_EQ(ReadAll("\xEF\xBB\x80\n"), Records({{"\xEF\xBB\x80"}}));
    std::istringstream empty;
    EXPECT_THROW(CsvReader(empty, '"'), std::invalid_argument);
}

TEST(CsvReader, MalformedInputNamesTheLine) {
    EXPECT_EQ(ErrorOf("a,b\nc,d\"e\n"), "2: quote inside an unquoted field");
    EXPECT_EQ(ErrorOf("a\n\"abc\"x,1\n"), "2: text after a closing quote");
    EXPECT_EQ(ErrorOf("a\nb\n\"open\nstill open\n"), "3: quoted field not closed");
    EXPECT_EQ(ErrorOf("\xEF\xBB" "x"), "1: invalid byte order mark");
}

TEST(CsvField, QuotesOnlyWhenNeeded) {
    EXPECT_EQ(tools::CsvField("plain"), "plain");
    EXPECT_EQ(tools::CsvField(""), "");
    EXPECT_EQ(tools::CsvField("a,b"), "\"a,b\"");
    EXPECT_EQ(tools::CsvField("a;b"), "a;b");
    EXPECT_EQ(tools::CsvField("a;b", ';'), "\"a;b\"");
    EXPECT_EQ(tools::CsvField("say \"hi\""), "\"say \"\"hi\"\"\"");
    EXPECT_EQ(tools::CsvField("two\nlines"), "\"two\nlines\"");
    EXPECT_EQ(tools::CsvField(" padded"), "\" padded\"");
    // What CsvField writes, CsvReader reads back.
    const std::vector<std::string> values = {"x", "a,b", "\"", "line\r\nbreak", " ", "Příliš žluťoučký"};
    std::string line;
    for (std::size_t i = 0; i < values.size(); ++i) line += (i ? "," : "") + tools::CsvField(values[i]);
    EXPECT_EQ(ReadAll(line + "\n"), Records({values}));
}

}  // namespace
