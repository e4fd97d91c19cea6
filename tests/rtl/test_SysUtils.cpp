// Format, number conversions, strings, UTF-8/UTF-16 and file-name helpers.
#include "rtl/Rtl.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include <cerrno>
#include <cstdlib>

namespace {

// Runs Body and checks that it raises exactly class E with message Msg.
template <class E, class F>
void ExpectRaise(F&& Body, const std::string& Msg) {
    try {
        Body();
        ADD_FAILURE() << "no exception, expected: " << Msg;
    } catch (const E& Ex) {
        EXPECT_EQ(Ex.Message(), Msg);
        EXPECT_EQ(typeid(Ex), typeid(E)) << "raised a subclass of the expected one";
    } catch (const std::exception& Ex) {
        ADD_FAILURE() << "wrong exception class: " << typeid(Ex).name() << " " << Ex.what();
    }
}

class SysUtilsTest : public ::testing::Test {
protected:
    void SetUp() override { Saved = FormatSettings; FormatSettings = TFormatSettings::Invariant(); }
    void TearDown() override { FormatSettings = Saved; }
    TFormatSettings Saved;
};

TEST_F(SysUtilsTest, FormatDirectives) {
    EXPECT_EQ(Format("Cannot open file %s", {std::string("a.dat")}), "Cannot open file a.dat");
    EXPECT_EQ(Format("%d|%d|%d", {0, -42, std::int64_t{-9000000000}}), "0|-42|-9000000000");
    EXPECT_EQ(Format("%u|%u", {-1, 7u}), "4294967295|7");
    EXPECT_EQ(Format("%x|%x|%x", {255, 0, -1}), "FF|0|FFFFFFFF");
    EXPECT_EQ(Format("%.2x %.2x %.2x", {0, 10, 0x1ab}), "00 0A 1AB");
    EXPECT_EQ(Format("%.3d|%.3d|%.3d|%.3d", {7, 255, 1234, -5}), "007|255|1234|-005");
    EXPECT_EQ(Format("%.10s|", {"ABCDEFGHIJKLMNOP"}), "ABCDEFGHIJ|");
    EXPECT_EQ(Format("%.10s|", {"short"}), "short|");
    EXPECT_EQ(Format("100%% of %s", {'x'}), "100% of x");
    EXPECT_EQ(Format("[%5d][%-5d][%5s][%-4s]", {42, 42, "ab", "ab"}), "[   42][42   ][   ab][ab  ]");
    EXPECT_EQ(Format("%1:s %0:s %s", {"a", "b"}), "b a b");
    EXPECT_EQ(Format("[%*d] [%.*d]", {4, 7, 3, 7}), "[   7] [007]");
    EXPECT_EQ(Format("%f|%.3f|%.2f|%.0f", {3.14159, 2.0, -0.001, 999.6}), "3.14|2.000|0.00|1000");
    // Exact ties round away from zero, as the classic run time does.
    EXPECT_EQ(Format("%.0f|%.0f|%.2f|%.2f", {2.5, -2.5, 0.125, 1.005}), "3|-3|0.13|1.00");
    EXPECT_EQ(Format("%g|%g|%g", {0.5, 1e20, 100.0}), "0.5|1E20|100");
    EXPECT_EQ(Format("%e", {1.5}), "1.50000000000000E+000");
    EXPECT_EQ(Format("%.3e", {-12345.678}), "-1.23E+004");
    EXPECT_EQ(Format("%n|%.0n", {1234567.891, -1000.0}), "1,234,567.89|-1,000");
    EXPECT_EQ(Format("%p", {static_cast<const void*>(nullptr)}), "0000000000000000");
    EXPECT_EQ(Format("no directives", {}), "no directives");
    EXPECT_EQ(Format("%s", {std::u16string(u"\u00C4")}), "\xC3\x84");
}

TEST_F(SysUtilsTest, FormatOfTheHeaderDumpLines) {
    // The column line: name padded to 10, type letter, size with three digits.
    const std::string Hex = "00 00 ";
    EXPECT_EQ(Format("%.10s %s%.3d %s", {"NAME      ", 'T', 4, Hex}), "NAME       T004 00 00 ");
    EXPECT_EQ(Format("Byte1: %.2x, Header: %s, FieldCount: %d ", {3, "AB\x01" "C", 12}),
              "Byte1: 03, Header: AB\x01" "C, FieldCount: 12 ");
    EXPECT_EQ(Format("DataPos: %x, Data: %s", {0x2A8, ""}), "DataPos: 2A8, Data: ");
}

TEST_F(SysUtilsTest, FormatUsesTheDecimalSeparator) {
    FormatSettings.DecimalSeparator = ',';
    FormatSettings.ThousandSeparator = '.';
    EXPECT_EQ(Format("%.2f %g %n", {2.5, 0.25, 1234.5}), "2,50 0,25 1.234,50");
    TFormatSettings Own = TFormatSettings::Invariant();
    EXPECT_EQ(Format("%.1f", {2.5}, Own), "2.5");
}

TEST_F(SysUtilsTest, FormatCutsTextWithoutSplittingUtf8) {
    // Six two-byte letters: a cut at 10 bytes keeps five, at 9 bytes four.
    const std::string Umlauts = "\xC3\x84\xC3\x84\xC3\x84\xC3\x84\xC3\x84\xC3\x84";
    EXPECT_EQ(Format("%.10s", {Umlauts}), Umlauts.substr(0, 10));
    EXPECT_EQ(Format("%.9s", {Umlauts}), Umlauts.substr(0, 8));
}

TEST_F(SysUtilsTest, FormatMismatchAndMissingArguments) {
    ExpectRaise<EConvertError>([] { Format("%d", {"x"}); }, "Format '%d' invalid or incompatible with argument");
    ExpectRaise<EConvertError>([] { Format("%s", {1}); }, "Format '%s' invalid or incompatible with argument");
    ExpectRaise<EConvertError>([] { Format("%f", {1}); }, "Format '%f' invalid or incompatible with argument");
    ExpectRaise<EConvertError>([] { Format("%x", {1.5}); }, "Format '%x' invalid or incompatible with argument");
    ExpectRaise<EConvertError>([] { Format("%p", {1}); }, "Format '%p' invalid or incompatible with argument");
    ExpectRaise<EConvertError>([] { Format("n=%d %d", {1}); }, "No argument for format 'n=%d %d'");
    ExpectRaise<EConvertError>([] { Format("%d", {}); }, "No argument for format '%d'");
    ExpectRaise<EConvertError>([] { Format("%k", {1}); }, "Format '%k' invalid or incompatible with argument");
    ExpectRaise<EConvertError>([] { Format("50%", {}); }, "Format '50%' invalid or incompatible with argument");
    ExpectRaise<EConvertError>([] { Format("%.5", {1}); }, "Format '%.5' invalid or incompatible with argument");
    // A width that would allocate without bound is refused.
    ExpectRaise<EConvertError>([] { Format("%999999999d", {1}); },
                               "Format '%999999999d' invalid or incompatible with argument");
    ExpectRaise<EConvertError>([] { Format("%*d", {"w", 1}); }, "Format '%*d' invalid or incompatible with argument");
}

TEST_F(SysUtilsTest, IntegerConversions) {
    EXPECT_EQ(IntToStr(-17), "-17");
    EXPECT_EQ(IntToStr(std::int64_t{1} << 40), "1099511627776");
    EXPECT_EQ(IntToHex(255, 4), "00FF");
    EXPECT_EQ(IntToHex(-1, 2), "FFFFFFFF");
    EXPECT_EQ(IntToHex(std::int64_t{-1}, 2), "FFFFFFFFFFFFFFFF");

    EXPECT_EQ(StrToInt("42"), 42);
    EXPECT_EQ(StrToInt("  -2147483648"), -2147483648LL);
    EXPECT_EQ(StrToInt("+2147483647"), 2147483647);
    EXPECT_EQ(StrToInt("$FF"), 255);
    EXPECT_EQ(StrToInt("0x1f"), 31);
    EXPECT_EQ(StrToInt("$FFFFFFFF"), -1);  // the hexadecimal form of IntToHex(-1)
    EXPECT_EQ(StrToInt64("-9223372036854775808"), INT64_MIN);
    for (const char* Bad : {"", " ", "12 ", "2147483648", "-2147483649", "abc", "1.5", "$", "0x", "--1", "1e3"})
        ExpectRaise<EConvertError>([&] { StrToInt(Bad); }, "'" + std::string(Bad) + "' is not a valid integer value");
    ExpectRaise<EConvertError>([] { StrToInt64("9223372036854775808"); },
                               "'9223372036854775808' is not a valid integer value");
    EXPECT_EQ(StrToIntDef("x", -7), -7);
    int V = 5;
    EXPECT_FALSE(TryStrToInt("99999999999", V));
    EXPECT_EQ(V, 5);
    EXPECT_TRUE(TryStrToInt("-0", V));
    EXPECT_EQ(V, 0);
}

TEST_F(SysUtilsTest, FloatToStrGeneralForm) {
    EXPECT_EQ(FloatToStr(0.0), "0");
    EXPECT_EQ(FloatToStr(0.1), "0.1");
    EXPECT_EQ(FloatToStr(-2.5), "-2.5");
    EXPECT_EQ(FloatToStr(1.0 / 3.0), "0.333333333333333");
    EXPECT_EQ(FloatToStr(123456789012345.0), "123456789012345");
    EXPECT_EQ(FloatToStr(1e15), "1E15");
    EXPECT_EQ(FloatToStr(1e20), "1E20");
    EXPECT_EQ(FloatToStr(0.0001), "0.0001");
    EXPECT_EQ(FloatToStr(0.00001), "0.00001");  // fixed down to 0.00001
    EXPECT_EQ(FloatToStr(0.000001), "1E-6");
    EXPECT_EQ(FloatToStr(1.5e-7), "1.5E-7");
    EXPECT_EQ(FloatToStr(100.0), "100");
    EXPECT_EQ(FloatToStr(std::numeric_limits<double>::infinity()), "INF");
    FormatSettings.DecimalSeparator = ',';
    EXPECT_EQ(FloatToStr(2.5), "2,5");
}

TEST_F(SysUtilsTest, StrToFloatReadsTheLocaleNotation) {
    EXPECT_DOUBLE_EQ(StrToFloat("1.5"), 1.5);
    EXPECT_DOUBLE_EQ(StrToFloat("  -2.5e3 "), -2500.0);
    EXPECT_DOUBLE_EQ(StrToFloat(".5"), 0.5);
    EXPECT_DOUBLE_EQ(StrToFloat("5."), 5.0);
    EXPECT_EQ(StrToFloat("1e-999"), 0.0);  // underflow reads as zero
    for (const char* Bad : {"", ".", "e5", "1e", "1.5x", "1,5", "1e999", "INF", "nan", "1..2", "- 1"})
        ExpectRaise<EConvertError>([&] { StrToFloat(Bad); },
                                   "'" + std::string(Bad) + "' is not a valid floating point value");
    FormatSettings.DecimalSeparator = ',';
    EXPECT_DOUBLE_EQ(StrToFloat("1,25"), 1.25);
    ExpectRaise<EConvertError>([] { StrToFloat("1.25"); }, "'1.25' is not a valid floating point value");
    // Every FloatToStr text reads back (15 significant digits).
    for (double X : {0.1, -2.5, 1.0 / 3.0, 1e20, 1.5e-7, 123456.789}) {
        const double Back = StrToFloat(FloatToStr(X));
        EXPECT_NEAR(Back, X, std::fabs(X) * 1e-14) << FloatToStr(X);
    }
}

TEST_F(SysUtilsTest, AsciiStringFunctions) {
    EXPECT_EQ(UpperCase("abc\xC3\xA4z"), "ABC\xC3\xA4Z");  // only ASCII letters change
    EXPECT_EQ(LowerCase("ABC\xC3\x84"), "abc\xC3\x84");
    EXPECT_TRUE(SameText("Amount", "AMOUNT"));
    EXPECT_FALSE(SameText("Amount", "Amounts"));
    EXPECT_LT(CompareText("abc", "ABD"), 0);
    EXPECT_GT(CompareText("b", "A"), 0);
    EXPECT_EQ(CompareText("", ""), 0);
    EXPECT_LT(CompareStr("B", "a"), 0);
    EXPECT_EQ(Trim(" \t x y \r\n"), "x y");
    EXPECT_EQ(TrimLeft("  x "), "x ");
    EXPECT_EQ(TrimRight("  x "), "  x");
    EXPECT_EQ(Trim("\xC3\x84 "), "\xC3\x84");
    EXPECT_EQ(StringReplace("a-b-c", "-", "+", 0), "a+b-c");
    EXPECT_EQ(StringReplace("a-b-c", "-", "+", rfReplaceAll), "a+b+c");
    EXPECT_EQ(StringReplace("aXbxc", "x", "", rfReplaceAll | rfIgnoreCase), "abc");
    EXPECT_EQ(StringReplace("abc", "", "z", rfReplaceAll), "abc");
    EXPECT_EQ(QuotedStr("O'Brien"), "'O''Brien'");
    std::size_t Pos = 0;
    EXPECT_EQ(AnsiExtractQuotedStr("'O''Brien' rest", Pos, '\''), "O'Brien");
    EXPECT_EQ(Pos, 10u);
    EXPECT_TRUE(IsValidIdent("_Table1"));
    EXPECT_FALSE(IsValidIdent("1Table"));
    EXPECT_FALSE(IsValidIdent("a b"));
    EXPECT_FALSE(IsValidIdent(""));
}

TEST_F(SysUtilsTest, Utf8AndUtf16RoundTrips) {
    const std::string Text = "A\xC3\xA4\xE2\x82\xAC\xF0\x9D\x84\x9E" "z";  // A, a-umlaut, euro, G clef (astral), z
    const WideString Wide = Utf8ToWide(Text);
    EXPECT_EQ(Wide, WideString(u"A\u00E4\u20AC\U0001D11Ez"));
    ASSERT_EQ(Wide.size(), 6u);  // the astral character is a surrogate pair
    EXPECT_EQ(Wide[3], 0xD834);
    EXPECT_EQ(Wide[4], 0xDD1E);
    EXPECT_EQ(WideToUtf8(Wide), Text);
    EXPECT_EQ(rtl::Utf8Length(Text), 5u);
    // Every code point of the boundary classes survives both ways.
    for (char32_t Cp : {0x0u, 0x7Fu, 0x80u, 0x7FFu, 0x800u, 0xD7FFu, 0xE000u, 0xFFFDu, 0xFFFFu, 0x10000u, 0x10FFFFu}) {
        std::u16string W;
        if (Cp >= 0x10000) {
            W += static_cast<char16_t>(0xD800 + ((Cp - 0x10000) >> 10));
            W += static_cast<char16_t>(0xDC00 + ((Cp - 0x10000) & 0x3FF));
        } else {
            W += static_cast<char16_t>(Cp);
        }
        EXPECT_EQ(Utf8ToWide(WideToUtf8(W)), W) << std::hex << static_cast<unsigned>(Cp);
    }
}

// The converters take whole runs of ASCII at once and short texts through a
// buffer of their own: every character class must come out right at every
// position of a run, in short and in long texts, and invalid input must still
// meet its substitution after a run.
TEST_F(SysUtilsTest, ConversionsHoldAtEveryPositionAndLength) {
    struct TChar {
        const char* Utf8;
        std::u16string Wide;
    };
    const TChar Chars[] = {{"\x7F", u"\u007F"},       {"\xC2\x80", u"\u0080"},        {"\xC3\xA4", u"\u00E4"},
                           {"\xDF\xBF", u"\u07FF"},   {"\xE0\xA0\x80", u"\u0800"},   {"\xED\x9F\xBF", u"\uD7FF"},
                           {"\xEE\x80\x80", u"\uE000"}, {"\xEF\xBF\xBF", u"\uFFFF"},
                           {"\xF0\x90\x80\x80", u"\U00010000"}, {"\xF4\x8F\xBF\xBF", u"\U0010FFFF"}};
    for (const std::size_t Tail : {std::size_t(3), std::size_t(300)}) {
        for (std::size_t Lead = 0; Lead < 10; ++Lead) {
            for (const TChar& C : Chars) {
                const std::string Text = std::string(Lead, 'a') + C.Utf8 + std::string(Tail, 'z');
                const std::u16string Wide = std::u16string(Lead, u'a') + C.Wide + std::u16string(Tail, u'z');
                EXPECT_EQ(Utf8ToWide(Text), Wide) << Lead << " " << Tail;
                EXPECT_EQ(WideToUtf8(Wide), Text) << Lead << " " << Tail;
                EXPECT_TRUE(rtl::IsWellFormedUtf8(Text)) << Lead << " " << Tail;
            }
            const std::string Bad = std::string(Lead, 'a') + "\xE2\x82" + std::string(Tail, 'z');
            EXPECT_EQ(Utf8ToWide(Bad), std::u16string(Lead, u'a') + u"\uFFFD" + std::u16string(Tail, u'z'));
            for (const char* Invalid : {"\xE2\x82", "\xC1\xBF", "\x80", "\xC3", "\xC3\xA4\xA4"})
                EXPECT_FALSE(rtl::IsWellFormedUtf8(std::string(Lead, 'a') + Invalid + std::string(Tail, 'z')))
                    << Lead << " " << Tail << " " << Invalid;
            const std::u16string Lone = std::u16string(Lead, u'a') + char16_t(0xDC00) + std::u16string(Tail, u'z');
            EXPECT_EQ(WideToUtf8(Lone), std::string(Lead, 'a') + "\xEF\xBF\xBD" + std::string(Tail, 'z'));
        }
    }
}

TEST_F(SysUtilsTest, WideToUtf8IntoReplacesWhatTheStringHeld) {
    std::string Out = "a much longer text than the next one";
    rtl::WideToUtf8Into(u"\u00E4\U0001D11E", Out);
    EXPECT_EQ(Out, "\xC3\xA4\xF0\x9D\x84\x9E");
    rtl::WideToUtf8Into(std::u16string(1, char16_t(0xDBFF)), Out);  // a lone high surrogate at the end
    EXPECT_EQ(Out, "\xEF\xBF\xBD");
    rtl::WideToUtf8Into(u"", Out);
    EXPECT_EQ(Out, "");
}

TEST_F(SysUtilsTest, InvalidUtf8BecomesReplacementCharacters) {
    EXPECT_EQ(Utf8ToWide("a\x80" "b"), u"a\uFFFDb");                  // stray continuation byte
    EXPECT_EQ(Utf8ToWide("\xC3"), u"\uFFFD");                          // truncated at the end
    EXPECT_EQ(Utf8ToWide("\xE2\x82" "A"), u"\uFFFDA");                 // truncated sequence: one U+FFFD
    EXPECT_EQ(Utf8ToWide("\xC0\xAF"), u"\uFFFD\uFFFD");                // overlong
    EXPECT_EQ(Utf8ToWide("\xED\xA0\x80"), u"\uFFFD\uFFFD\uFFFD");      // encoded surrogate
    EXPECT_EQ(Utf8ToWide("\xF4\x90\x80\x80"), u"\uFFFD\uFFFD\uFFFD\uFFFD");  // above U+10FFFF
    EXPECT_EQ(Utf8ToWide("\xFF"), u"\uFFFD");
    // Lone surrogates in UTF-16.
    EXPECT_EQ(WideToUtf8(std::u16string(1, char16_t(0xD800)) + u"x"), "\xEF\xBF\xBDx");
    EXPECT_EQ(WideToUtf8(std::u16string(1, char16_t(0xDC00))), "\xEF\xBF\xBD");
}

TEST_F(SysUtilsTest, Utf8CutNeverSplitsASequence) {
    const std::string Text = "a\xC3\xA4\xE2\x82\xAC\xF0\x9D\x84\x9E" "b\x80" "c";
    // Sequence boundaries of Text (the stray 0x80 is a sequence of its own).
    const std::size_t Boundaries[] = {0, 1, 3, 6, 10, 11, 12, 13};
    for (std::size_t Max = 0; Max <= Text.size() + 2; ++Max) {
        const std::string Cut = Utf8Cut(Text, Max);
        std::size_t Expected = 0;
        for (std::size_t B : Boundaries)
            if (B <= Max) Expected = B;
        EXPECT_EQ(Cut, Text.substr(0, Expected)) << "max " << Max;
        EXPECT_EQ(rtl::Utf8CutLength(Text, Max), Expected);
    }
    EXPECT_EQ(Utf8Cut("\xC3\xA4\xC3\xA4", 3), "\xC3\xA4");
    EXPECT_EQ(Utf8Cut("", 5), "");
}

TEST_F(SysUtilsTest, ErrorMessagesOfTheSystem) {
    EXPECT_EQ(SysErrorMessage(ENOENT), "No such file or directory");
    EXPECT_EQ(rtl::InOutErrorMessage(ENOENT), "File not found");
    EXPECT_EQ(rtl::InOutErrorMessage(ENOSPC), "Disk full");
    EXPECT_EQ(rtl::InOutErrorMessage(EACCES), "File access denied");
    try {
        rtl::RaiseInOutError(ENOSPC);
        ADD_FAILURE();
    } catch (const EInOutError& E) {
        EXPECT_EQ(E.Message(), "Disk full");
        EXPECT_EQ(E.ErrorCode, ENOSPC);
    }
    ExpectRaise<EAbort>([] { Abort(); }, "Operation aborted");
    ExpectRaise<EAssertionFailed>([] { Assert(false, "not connected"); }, "not connected");
    Assert(true, "never raised");
}

TEST_F(SysUtilsTest, FileNameHelpers) {
    EXPECT_EQ(ExtractFileName("/data/BANK.DAT"), "BANK.DAT");
    EXPECT_EQ(ExtractFilePath("/data/BANK.DAT"), "/data/");
    EXPECT_EQ(ExtractFileDir("/data/BANK.DAT"), "/data");
    EXPECT_EQ(ExtractFileDir("/x"), "/");
    EXPECT_EQ(ExtractFileExt("/data/BANK.DAT"), ".DAT");
    EXPECT_EQ(ExtractFileExt("/da.ta/BANK"), "");
    EXPECT_EQ(ChangeFileExt("/data/BANK.DAT", ".MDX"), "/data/BANK.MDX");
    EXPECT_EQ(ChangeFileExt("/da.ta/BANK", ".MDX"), "/da.ta/BANK.MDX");
    EXPECT_EQ(IncludeTrailingPathDelimiter("/tmp"), "/tmp/");
    EXPECT_EQ(ExcludeTrailingPathDelimiter("/tmp//"), "/tmp");
    EXPECT_TRUE(DirectoryExists("/tmp"));
    EXPECT_FALSE(FileExists("/tmp"));
}

TEST_F(SysUtilsTest, CLocaleGivesTheInvariantSettings) {
    const char* Old = std::getenv("LC_ALL");
    const std::string Saved = Old ? Old : "";
    setenv("LC_ALL", "C", 1);
    const TFormatSettings S = TFormatSettings::Create();
    if (Old) setenv("LC_ALL", Saved.c_str(), 1); else unsetenv("LC_ALL");
    EXPECT_EQ(S.DecimalSeparator, '.');
    EXPECT_EQ(S.ShortDateFormat, "yyyy-mm-dd");
    EXPECT_EQ(S.LongTimeFormat, "hh:nn:ss");
    EXPECT_EQ(S.DateSeparator, '-');
    EXPECT_EQ(S.TimeSeparator, ':');
}

}  // namespace
