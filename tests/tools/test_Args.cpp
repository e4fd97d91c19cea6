// Option parsing of the tool's commands.
#include "tools/Args.h"

#include <gtest/gtest.h>

using tools::ParseArgs;
using tools::UsageError;

namespace {

const std::vector<tools::OptionSpec> kSpecs = {{"column", true, true}, {"locale", true, false}, {"no-header", false, false}};

std::string ErrorOf(const std::vector<std::string>& args) {
    try {
        ParseArgs(args, kSpecs);
    } catch (const UsageError& e) {
        return e.what();
    }
    return "(no error)";
}

TEST(ParseArgs, PositionalsOptionsAndValues) {
    const tools::ParsedArgs a =
        ParseArgs({"t.dat", "--column", "A:C:5", "--column=B:L", "x.csv", "--no-header", "--locale=cs"}, kSpecs);
    EXPECT_EQ(a.Positional, std::vector<std::string>({"t.dat", "x.csv"}));
    EXPECT_EQ(a.Values("column"), std::vector<std::string>({"A:C:5", "B:L"}));
    EXPECT_EQ(a.Value("locale"), "cs");
    EXPECT_TRUE(a.Has("no-header"));
    EXPECT_FALSE(a.Has("index"));
    EXPECT_TRUE(a.Values("index").empty());
    EXPECT_EQ(a.Value("missing", "dflt"), "dflt");
    // "--" ends the options; "-" alone is a parameter; an empty value is a value.
    const tools::ParsedArgs b = ParseArgs({"--locale", "", "--", "--column", "-"}, kSpecs);
    EXPECT_EQ(b.Positional, std::vector<std::string>({"--column", "-"}));
    EXPECT_TRUE(b.Has("locale"));
    EXPECT_EQ(b.Value("locale", "x"), "");
}

TEST(ParseArgs, WrongCommandLines) {
    EXPECT_EQ(ErrorOf({"--colum", "x"}), "unknown option '--colum'");
    EXPECT_EQ(ErrorOf({"-x"}), "unknown option '-x'");
    EXPECT_EQ(ErrorOf({"t", "--column"}), "option '--column' needs a value");
    EXPECT_EQ(ErrorOf({"--no-header=1"}), "option '--no-header' takes no value");
    EXPECT_EQ(ErrorOf({"--locale", "cs", "--locale=de"}), "option '--locale' given twice");
}

TEST(ParseCount, RangeAndForm) {
    EXPECT_EQ(tools::ParseCount("0", "records", 0, 10), 0);
    EXPECT_EQ(tools::ParseCount("10", "records", 0, 10), 10);
    for (const char* bad : {"11", "-1", "", "1x", " 1", "1.5", "99999999999999999999"}) {
        try {
            tools::ParseCount(bad, "records", 0, 10);
            ADD_FAILURE() << bad;
        } catch (const UsageError& e) {
            EXPECT_EQ(std::string(e.what()), "invalid value '" + std::string(bad) + "' for --records (0 to 10)");
        }
    }
}

}  // namespace
