// Tests of the export unit over a table on the recording fake engine.
#include "moneytable/Export.h"
#include "tests/moneytable/MoneyTableTestKit.h"

#include <cstdio>
#include <fstream>
#include <sstream>

#include <unistd.h>

using namespace mttest;
using moneytable::TExportFormat;

namespace {

std::string Content(TMemoryStream& S) {
    return std::string(static_cast<const char*>(S.Memory()), static_cast<std::size_t>(S.Size()));
}

class Export : public FakeEngineTest {
protected:
    void SetUp() override {
        FakeEngineTest::SetUp();
        auto& Data = Engine().CreateTable("/data/X.dat", {{"Name", "C", 20}, {"Note", "M", 0}, {"Amount", "R", 8}});
        Data.Add({"Smith; John", "line 1\r\nline 2", 1.5});
        Data.Add({"", "say \"hi\"", -2.0});
        Data.Add({"a,b", OleVariant(), OleVariant()});
        T.SetFileName("/data/X");
    }
    void TearDown() override {
        T.Close();
        FakeEngineTest::TearDown();
    }
    std::string Run(TExportFormat Format) {
        TMemoryStream S;
        moneytable::ExportDataSet(&T, S, Format);
        return Content(S);
    }
    TTestTable T{nullptr};
};

}  // namespace

TEST_F(Export, SeparatedTextIsWrittenUnquoted) {
    T.Open();
    T.Last();
    EXPECT_EQ(Run(TExportFormat::Tab),
              "_RECNO_\tName\tNote\tAmount\r\n"
              "1\tSmith; John\tline 1\r\nline 2\t1.5\r\n"
              "2\t\tsay \"hi\"\t-2\r\n"
              "3\ta,b\t\t\r\n");
    EXPECT_TRUE(T.Eof()) << "the walk leaves the cursor at the end";
    EXPECT_EQ(Run(TExportFormat::Semicolon),
              "_RECNO_;Name;Note;Amount\r\n"
              "1;Smith; John;line 1\r\nline 2;1.5\r\n"
              "2;;say \"hi\";-2\r\n"
              "3;a,b;;\r\n");
}

TEST_F(Export, CsvQuotesWhatNeedsIt) {
    T.Open();
    // Record 2's Name is an empty text, not null: two quotes.
    EXPECT_EQ(Run(TExportFormat::Csv),
              "_RECNO_,Name,Note,Amount\r\n"
              "1,Smith; John,\"line 1\r\nline 2\",1.5\r\n"
              "2,\"\",\"say \"\"hi\"\"\",-2\r\n"
              "3,\"a,b\",,\r\n");
    EXPECT_EQ(moneytable::ExportValue("plain", TExportFormat::Csv), "plain");
    EXPECT_EQ(moneytable::ExportValue("a\"b", TExportFormat::Tab), "a\"b");
}

// The TAB and ';' forms show what the user sees (the format settings); the
// CSV form is C notation, and its numbers read back as the same double.
TEST_F(Export, CsvIsCNotationWhateverTheFormatSettings) {
    auto& Data = Engine().CreateTable("/data/X.dat", {{"Amount", "E", 8}, {"Day", "D", 4}, {"At", "T", 4}});
    Data.Add({0.1 + 0.2, OleVariant::FromDate(EncodeDate(2020, 1, 2)), OleVariant::FromDate(EncodeTime(8, 5, 6, 7))});
    Data.Add({-1.5e20, OleVariant::FromDate(EncodeDate(1, 1, 1)), OleVariant::FromDate(EncodeTime(23, 59, 59, 0))});
    FormatSettings.DecimalSeparator = ',';
    FormatSettings.DateSeparator = '.';
    FormatSettings.ShortDateFormat = "dd/mm/yyyy";
    T.Open();
    EXPECT_EQ(Run(TExportFormat::Semicolon),
              "_RECNO_;Amount;Day;At\r\n"
              "1;0,3;02.01.2020;08:05:06\r\n"
              "2;-1,5E20;01.01.0001;23:59:59\r\n");
    EXPECT_EQ(Run(TExportFormat::Csv),
              "_RECNO_,Amount,Day,At\r\n"
              "1,0.30000000000000004,2020-01-02,08:05:06.007\r\n"
              "2,-1.5e+20,0001-01-01,23:59:59\r\n");
    EXPECT_EQ(moneytable::CsvNumberText(ftDateTime, EncodeDate(2024, 2, 29) + EncodeTime(12, 0, 0, 500)),
              "2024-02-29 12:00:00.500");
}

TEST_F(Export, HiddenFieldsAreLeftOut) {
    T.Open();
    T.FieldByName("_RECNO_")->SetVisible(false);
    T.FieldByName("Note")->SetVisible(false);
    EXPECT_EQ(Run(TExportFormat::Tab), "Name\tAmount\r\nSmith; John\t1.5\r\n\t-2\r\na,b\t\r\n");
    for (int I = 0; I < T.FieldCount(); ++I) T.Fields(I)->SetVisible(false);
    EXPECT_EQ(Run(TExportFormat::Semicolon), "\r\n\r\n\r\n\r\n");
}

TEST_F(Export, EmptyOrFilteredOutTableGivesTheHeaderOnly) {
    Engine().CreateTable("/data/X.dat", {{"Name", "C", 20}});
    T.Open();
    EXPECT_EQ(Run(TExportFormat::Tab), "_RECNO_\tName\r\n");
}

TEST_F(Export, ClosedTableWritesAnEmptyLineAndFails) {
    TMemoryStream S;
    ExpectError<EDatabaseError>([&] { moneytable::ExportDataSet(&T, S, TExportFormat::Tab); },
                                "Cannot perform this operation on a closed dataset");
    EXPECT_EQ(Content(S), "\r\n");
}

TEST_F(Export, AReadErrorKeepsTheLinesWrittenBefore) {
    Engine().Table("/data/X.dat").Records[2].Values[2] = OleVariant::Null();
    T.Open();
    TMemoryStream S;
    EXPECT_THROW(moneytable::ExportDataSet(&T, S, TExportFormat::Tab), EVariantTypeCastError);
    EXPECT_EQ(Content(S),
              "_RECNO_\tName\tNote\tAmount\r\n"
              "1\tSmith; John\tline 1\r\nline 2\t1.5\r\n"
              "2\t\tsay \"hi\"\t-2\r\n");
}

TEST_F(Export, FileIsReplacedOrNotCreated) {
    T.Open();
    char Name[] = "/tmp/mt_exportXXXXXX";
    const int Fd = mkstemp(Name);
    ASSERT_GE(Fd, 0);
    const std::string Old(200, 'x');
    ASSERT_EQ(::write(Fd, Old.data(), Old.size()), static_cast<ssize_t>(Old.size()));
    ::close(Fd);
    T.FieldByName("Note")->SetVisible(false);
    moneytable::ExportDataSetToFile(&T, Name, TExportFormat::Semicolon);
    std::ifstream In(Name, std::ios::binary);
    std::stringstream Got;
    Got << In.rdbuf();
    EXPECT_EQ(Got.str(), "_RECNO_;Name;Amount\r\n1;Smith; John;1.5\r\n2;;-2\r\n3;a,b;\r\n");
    std::remove(Name);
    ExpectError<EFCreateError>(
        [&] { moneytable::ExportDataSetToFile(&T, "/nonexistent-dir/x.txt", TExportFormat::Tab); },
        "Cannot create file /nonexistent-dir/x.txt");
}
