// Conversion of client values into the stored form of each column type.
#include "engine/Values.h"

#include "EngineTestUtil.h"
#include "tests/LocaleTestKit.h"

#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

using namespace engine;
using enginetest::Col;
using CV = ClientValue;

namespace {
Value Conv(char type, const CV& v, int size = 10) {
    return ConvertClientValue(Col("Col", type, size), v, ConvertFor::Write);
}
}  // namespace

TEST(EngineValues, NumericVariantsConvertToTheColumnType) {
    EXPECT_EQ(Conv('B', CV::Int(5)).i, 1);
    EXPECT_EQ(Conv('B', CV::Text(" FALSE ")).i, 0);
    EXPECT_EQ(Conv('I', CV::Real(2.5)).i, 2);  // banker's rounding
    EXPECT_EQ(Conv('I', CV::Real(3.5)).i, 4);
    EXPECT_EQ(Conv('L', CV::Text("+42")).i, 42);
    EXPECT_EQ(Conv('E', CV::Int(3)).kind, Value::Kind::Real);
    EXPECT_EQ(Conv('R', CV::Text("1e3")).r, 1000.0);
    EXPECT_EQ(Conv('D', CV::Date(45000.99)).i, 45000);
    EXPECT_EQ(Conv('D', CV::Date(-1.5)).i, -2);  // the day before 30 Dec 1899
    EXPECT_EQ(Conv('D', CV::Text("2024-02-29")).i, DayFromCivil(2024, 2, 29));
    EXPECT_EQ(Conv('T', CV::Date(45000.25)).i, 6 * 3600 * 1000);
    EXPECT_EQ(Conv('T', CV::Text("23:59:59")).i, 86399000);
    EXPECT_EQ(Conv('T', CV::Text("07:05")).i, (7 * 60 + 5) * 60000);
    EXPECT_EQ(Conv('C', CV::Int(-7)).s, "-7");
    EXPECT_EQ(Conv('C', CV::Real(0.1)).s, "0.1");
    EXPECT_EQ(Conv('G', CV::Text("0a1b2c3d-4e5f-6071-8293-a4b5c6d7e8f9")).s, "{0A1B2C3D-4E5F-6071-8293-A4B5C6D7E8F9}");
    EXPECT_TRUE(Conv('G', CV::Text("")).IsNull());
    EXPECT_TRUE(Conv('L', CV::Null()).IsNull());
}

TEST(EngineValues, LimitsOfEveryIntegerType) {
    EXPECT_EQ(Conv('I', CV::Int(-32768)).i, -32768);
    EXPECT_EQ(Conv('I', CV::Int(32767)).i, 32767);
    EXPECT_ENGINE_ERROR(Conv('I', CV::Int(-32769)), "Value -32769 is out of range for column 'Col' (-32768 to 32767)");
    EXPECT_EQ(Conv('L', CV::Int(-2147483648LL)).i, -2147483648LL);
    EXPECT_ENGINE_ERROR(Conv('L', CV::Int(2147483648LL)),
                        "Value 2147483648 is out of range for column 'Col' (-2147483648 to 2147483647)");
    EXPECT_EQ(Conv('V', CV::Int(0)).i, 0);
    EXPECT_EQ(Conv('W', CV::Int(65535)).i, 65535);
    EXPECT_ENGINE_ERROR(Conv('W', CV::Int(65536)), "Value 65536 is out of range for column 'Col' (0 to 65535)");
    EXPECT_ENGINE_ERROR(Conv('V', CV::Real(-0.6)), "Value -1 is out of range for column 'Col' (0 to 65535)");
}

TEST(EngineValues, TextSizeCountsUtf8Bytes) {
    EXPECT_EQ(Conv('C', CV::Text(std::string(255, 'x')), 255).s.size(), 255u);
    EXPECT_ENGINE_ERROR(Conv('C', CV::Text(std::string(256, 'x')), 255),
                        "Text of 256 bytes is too long for column 'Col' (at most 255 bytes)");
    EXPECT_EQ(Conv('U', CV::Text("ěščř"), 8).s, "ěščř");
    EXPECT_ENGINE_ERROR(Conv('U', CV::Text("ěščřž"), 8), "Text of 10 bytes is too long for column 'Col' (at most 8 bytes)");
    EXPECT_EQ(Conv('M', CV::Text(std::string(100000, 'm'))).s.size(), 100000u);  // memo: unbounded
    EXPECT_ENGINE_ERROR(Conv('C', CV::Text("\xC3\x28")), "Value (text that is not valid UTF-8) does not fit column 'Col' (type C)");
    // A key is compared, not stored: no size limit.
    EXPECT_EQ(ConvertClientValue(Col("Col", 'C', 3), CV::Text("abcdef"), ConvertFor::Key).s, "abcdef");
}

TEST(EngineValues, RefusalsNameTheColumnAndTheValue) {
    EXPECT_ENGINE_ERROR(Conv('D', CV::Text("2023-02-29")), "Value '2023-02-29' does not fit column 'Col' (type D)");
    EXPECT_ENGINE_ERROR(Conv('D', CV::Date(3000000)), "Date is out of range for column 'Col'");
    EXPECT_ENGINE_ERROR(Conv('T', CV::Text("24:00")), "Value '24:00' does not fit column 'Col' (type T)");
    EXPECT_ENGINE_ERROR(Conv('E', CV::Real(std::nan(""))), "Value (not a finite number) does not fit column 'Col' (type E)");
    EXPECT_ENGINE_ERROR(Conv('B', CV::Text("yes")), "Value 'yes' does not fit column 'Col' (type B)");
    EXPECT_ENGINE_ERROR(Conv('L', CV::Bool(true)), "Value of type Boolean does not fit column 'Col' (type L)");
    EXPECT_ENGINE_ERROR(Conv('C', CV::Date(1)), "Value of type Date does not fit column 'Col' (type C)");
    EXPECT_ENGINE_ERROR(Conv('Y', CV::Date(0.5)), "Column 'Col' holds the time of the last post and cannot be written");
    EXPECT_ENGINE_ERROR(Conv('Z', CV::Null()), "Column 'Col' holds the time of the last post and cannot be written");
}

TEST(EngineValues, ParseValueReadsTheTextForms) {
    EXPECT_TRUE(ParseValue('L', "").IsNull());
    EXPECT_EQ(ParseValue('D', "1899-12-30").i, 0);
    EXPECT_EQ(ParseValue('D', "2000-01-01").i, 36526);
    EXPECT_EQ(ParseValue('T', "12:00").i, 43200000);
    EXPECT_EQ(ParseValue('B', "True").i, 1);
    EXPECT_EQ(ParseValue('R', "-1.25").r, -1.25);
    EXPECT_EQ(ParseValue('C', "  as is ").s, "  as is ");
    EXPECT_ENGINE_ERROR(ParseValue('D', "30.12.1899"), "'30.12.1899' is not a date (YYYY-MM-DD)");
    EXPECT_ENGINE_ERROR(ParseValue('T', "12"), "'12' is not a time (HH:MM[:SS])");
    EXPECT_ENGINE_ERROR(ParseValue('I', "1.5"), "'1.5' is not an integer");
    EXPECT_ENGINE_ERROR(ParseValue('G', "{123}"), "'{123}' is not a GUID");
    EXPECT_ENGINE_ERROR(ParseValue('D', std::string("2000-01-01\0x", 12)), "a value cannot hold a NUL character");
    EXPECT_EQ(DayFromCivil(1, 1, 1), MinDay);
    EXPECT_EQ(DayFromCivil(9999, 12, 31), MaxDay);
}

namespace {

// The results of the text conversions, one line each, values in a form that
// does not depend on the locale (the double's bits, not its text).
std::vector<std::string> TextConversions() {
    std::vector<std::string> out;
    const auto show = [](const Value& v) {
        switch (v.kind) {
        case Value::Kind::Null: return std::string("null");
        case Value::Kind::Int: return "int " + std::to_string(v.i);
        case Value::Kind::Real: {
            std::uint64_t bits;
            std::memcpy(&bits, &v.r, sizeof bits);
            return "real " + std::to_string(bits);
        }
        case Value::Kind::Text: return "text " + v.s;
        }
        return std::string("?");
    };
    const std::pair<char, const char*> parsed[] = {
        {'E', "1.5"}, {'R', " -2.5e-3 "}, {'R', "+0.1"}, {'E', "1,5"}, {'E', "1e999"}, {'D', "2020-01-02"},
        {'D', "2020-1-2"}, {'D', "02.01.2020"}, {'T', "12:34:56"}, {'T', "12:34:56.789"}, {'T', "08:05:06.5"},
        {'T', "12:34:56,789"}, {'T', "24:00"}, {'B', "TRUE"}, {'L', "+42"}, {'I', "1.5"},
    };
    for (const auto& [type, text] : parsed) {
        try {
            out.push_back(show(ParseValue(type, text)));
        } catch (const EngineError& e) {
            out.push_back(e.what());
        }
    }
    out.push_back(show(Conv('C', CV::Real(1.5), 40)));
    out.push_back(show(Conv('C', CV::Real(0.1 + 0.2), 40)));
    out.push_back(show(Conv('C', CV::Real(-1e20), 40)));
    out.push_back(show(Conv('R', CV::Text("2.25"))));
    return out;
}

}  // namespace

// The engine's text forms are C notation whatever the process locale: under
// a comma-decimal locale, as a Qt program runs, "1.5" is still a number.
TEST(EngineValues, TextFormsDoNotFollowTheProcessLocale) {
    const auto realBits = [](double d) {
        std::uint64_t bits;
        std::memcpy(&bits, &d, sizeof bits);
        return "real " + std::to_string(bits);
    };
    const std::vector<std::string> expected = {
        realBits(1.5), realBits(-2.5e-3), realBits(0.1), "'1,5' is not a number", "'1e999' is not a number",
        "int " + std::to_string(DayFromCivil(2020, 1, 2)), "int " + std::to_string(DayFromCivil(2020, 1, 2)),
        "'02.01.2020' is not a date (YYYY-MM-DD)", "int 45296000", "int 45296789", "int 29106500",
        "'12:34:56,789' is not a time (HH:MM[:SS])", "'24:00' is not a time (HH:MM[:SS])", "int 1", "int 42",
        "'1.5' is not an integer", "text 1.5", "text 0.30000000000000004", "text -1e+20", realBits(2.25),
    };
    EXPECT_EQ(TextConversions(), expected);
    ENTER_COMMA_DECIMAL_LOCALE(german);
    EXPECT_EQ(FormatSettings.DecimalSeparator, ',');
    EXPECT_EQ(TextConversions(), expected);
}
