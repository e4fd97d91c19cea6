// Tests of TMoneyTable's header dump against table files written byte by
// byte, short and damaged files, the output file's failures, and (with the
// engine library) a table file written by the engine.
#include "tests/moneytable/MoneyTableTestKit.h"

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#ifdef TAMBLOR_HAVE_ENGINE
#include "engine/Engine.h"
#endif

using namespace mttest;

namespace {

std::string Bytes(std::initializer_list<int> List) {
    std::string S;
    for (int B : List) S += static_cast<char>(B);
    return S;
}

std::string Zeros(std::size_t N) { return std::string(N, '\0'); }

// "00 " N times: the dump of N zero bytes.
std::string ZeroHex(std::size_t N) {
    std::string S;
    for (std::size_t I = 0; I < N; ++I) S += "00 ";
    return S;
}

// The 40-byte header block: Byte1, four header bytes, DataPos, FieldCount,
// then 32 data bytes (Data, zero-padded).
std::string HeaderBlock(int Byte1, const std::string& Four, int DataPos, int FieldCount, const std::string& Data = "") {
    std::string S = Bytes({Byte1}) + Four + Bytes({DataPos & 0xFF, DataPos >> 8, FieldCount}) + Data;
    S.resize(40, '\0');
    return S;
}

// A 26-byte column record: length byte, 10 name bytes, type, size, 13 more.
std::string ColumnRecord(int Length, const std::string& Name, char Type, int Size, const std::string& Rest = "") {
    std::string S = Bytes({Length}) + Name;
    S.resize(11, '\0');
    S += Type;
    S += static_cast<char>(Size);
    S += Rest;
    S.resize(26, '\0');
    return S;
}

// A 13-byte index record: n, 10 bytes, Byte1, Byte2.
std::string IndexRecord(int N, const std::string& Keys, int Byte1, int Byte2) {
    std::string S = Bytes({N}) + Keys;
    S.resize(11, '\0');
    return S + Bytes({Byte1, Byte2});
}

class HeaderDump : public FakeEngineTest {
protected:
    void SetUp() override {
        FakeEngineTest::SetUp();
        char Template[] = "/tmp/tamblor-dump-XXXXXX";
        ASSERT_NE(::mkdtemp(Template), nullptr);
        Dir = Template;
        TablePath = Dir + "/BANK.dat";
        OutPath = Dir + "/DUMP.TXT";
        Write(OutPath, "");
        T.SetFileName(TablePath);
    }
    void TearDown() override {
        std::error_code Ec;
        std::filesystem::remove_all(Dir, Ec);
        FakeEngineTest::TearDown();
    }
    static void Write(const std::string& Path, const std::string& Content) {
        std::ofstream(Path, std::ios::binary | std::ios::trunc) << Content;
    }
    static std::string Read(const std::string& Path) {
        std::ifstream In(Path, std::ios::binary);
        std::ostringstream S;
        S << In.rdbuf();
        return S.str();
    }
    // Dumps a table file with Content; returns what was appended.
    std::string Dump(const std::string& Content) {
        Write(TablePath, Content);
        const std::string Before = Read(OutPath);
        T.DumpHeader(OutPath);
        const std::string After = Read(OutPath);
        EXPECT_EQ(After.substr(0, Before.size()), Before);
        return After.substr(Before.size());
    }
    std::string Dir, TablePath, OutPath;
    TTestTable T{nullptr};
};

// Two columns and two index records; DataPos 40 + 52 + 26 = 118 (hex 76).
std::string SampleTable() {
    return HeaderBlock(1, "BFT1", 118, 2, Bytes({0, 0, 1, 0, 2, 'c', 's'})) +
           ColumnRecord(4, "NAME", 'T', 4) +
           ColumnRecord(12, "AMOUNTXYZW", 'R', 8, Bytes({1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13})) +
           IndexRecord(1, Bytes({0}), 1, 0) + IndexRecord(2, Bytes({1, 0}), 0, 0) + Zeros(30);
}

}  // namespace

TEST_F(HeaderDump, EveryPartOfTheHeaderByteForByte) {
    Write(OutPath, "earlier text\r\n");
    const std::string Expected =
        TablePath + "\r\n" +
        "Byte1: 01, Header: BFT1, FieldCount: 2 DataPos: 76, Data: 00 00 01 00 02 63 73 " + ZeroHex(25) + "\r\n" +
        "Fields:\r\n" +
        "NAME       T004 " + ZeroHex(13) + "\r\n" +
        "AMOUNTXYZW R008 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D \r\n" +
        "Indexis:\r\n" +
        "00  Byte1: 01, Byte2: 00\r\n" +
        "01 00  Byte1: 00, Byte2: 00\r\n" +
        "\r\n\r\n";
    EXPECT_EQ(Dump(SampleTable()), Expected);
    // The dump needs neither an open table nor the engine.
    EXPECT_TRUE(Calls().empty());
    EXPECT_EQ(Engine().LiveObjects(), 0);
    // Two dumps in a row: the second is appended after the first.
    EXPECT_EQ(Dump(SampleTable()), Expected);
    EXPECT_EQ(Read(OutPath), "earlier text\r\n" + Expected + Expected);
}

TEST_F(HeaderDump, NoColumnsAndNoIndexes) {
    const std::string Out = Dump(HeaderBlock(1, "BFT1", 40, 0));
    EXPECT_EQ(Out, TablePath + "\r\nByte1: 01, Header: BFT1, FieldCount: 0 DataPos: 28, Data: " + ZeroHex(32) +
                       "\r\nFields:\r\nIndexis:\r\n\r\n\r\n");
}

TEST_F(HeaderDump, DataPosNotBeyondTheColumnsGivesNoIndexLines) {
    // Index records follow in the file, but DataPos ends before them.
    for (int DataPos : {66, 50, 0}) {
        const std::string Out =
            Dump(HeaderBlock(1, "BFT1", DataPos, 1) + ColumnRecord(1, "A", 'L', 4) + IndexRecord(1, Bytes({0}), 0, 0));
        const std::string Tail = "Fields:\r\nA          L004 " + ZeroHex(13) + "\r\nIndexis:\r\n\r\n\r\n";
        ASSERT_GE(Out.size(), Tail.size());
        EXPECT_EQ(Out.substr(Out.size() - Tail.size()), Tail) << DataPos;
    }
}

TEST_F(HeaderDump, HeaderBytesAreWrittenUnchanged) {
    const std::string Four = Bytes({0, 1, '\r', 0x7F});
    const std::string Out = Dump(HeaderBlock(0xFF, Four, 0xABC, 0));
    const std::string Line = "Byte1: FF, Header: " + Four + ", FieldCount: 0 DataPos: ABC, Data: " + ZeroHex(32) + "\r\n";
    EXPECT_EQ(Out.substr(TablePath.size() + 2, Line.size()), Line);
    // DataPos beyond the end of the file: the index list ends with the file.
    EXPECT_EQ(Out.substr(TablePath.size() + 2 + Line.size()), "Fields:\r\nIndexis:\r\n\r\n\r\n");
}

TEST_F(HeaderDump, ColumnNamesAndSizes) {
    const std::string Out = Dump(HeaderBlock(1, "BFT1", 40 + 3 * 26, 3) + ColumnRecord(0, "IGNORED", 'C', 255) +
                                 ColumnRecord(10, "0123456789", 'U', 7) + ColumnRecord(200, "LONGERNAME", 0, 0));
    EXPECT_NE(Out.find("\r\n           C255 " + ZeroHex(13) + "\r\n"), std::string::npos);
    EXPECT_NE(Out.find("\r\n0123456789 U007 "), std::string::npos);
    // A length byte above 10 shows 10 characters; the type byte is written as
    // it is, even a zero.
    EXPECT_NE(Out.find("\r\nLONGERNAME " + Bytes({0}) + "000 "), std::string::npos);
}

TEST_F(HeaderDump, IndexRecordsAnnouncingTooManyBytes) {
    const std::string Keys = Bytes({1, 2, 3, 4, 5, 6, 7, 8, 9, 10});
    const std::string Out = Dump(HeaderBlock(1, "BFT1", 40 + 3 * 13, 0) + IndexRecord(12, Keys, 0xEE, 0xFF) +
                                 IndexRecord(13, Keys, 0xA, 0xB) + IndexRecord(255, Keys, 0, 0));
    const std::string Twelve = "01 02 03 04 05 06 07 08 09 0A ";
    EXPECT_NE(Out.find("Indexis:\r\n" + Twelve + "EE FF  Byte1: EE, Byte2: FF\r\n" + Twelve +
                       "0A 0B  Byte1: 0A, Byte2: 0B\r\n" + Twelve + "00 00  Byte1: 00, Byte2: 00\r\n\r\n\r\n"),
              std::string::npos)
        << Out;
}

TEST_F(HeaderDump, ShortFilesPrintOnlyWhatWasRead) {
    // Shorter than the header block.
    EXPECT_EQ(Dump(Bytes({1, 'B', 'F'})), TablePath + "\r\nHeader block: 3 of 40 bytes: 01 42 46 \r\n\r\n\r\n");
    EXPECT_EQ(Dump(""), TablePath + "\r\nHeader block: 0 of 40 bytes: \r\n\r\n\r\n");
    // Three columns announced, one and a half present: one column line, and
    // the index list is empty because the file has ended.
    std::string Out = Dump(HeaderBlock(1, "BFT1", 500, 3) + ColumnRecord(1, "A", 'L', 4) + Zeros(13));
    EXPECT_NE(Out.find("Fields:\r\nA          L004 " + ZeroHex(13) + "\r\nIndexis:\r\n\r\n\r\n"), std::string::npos)
        << Out;
    // DataPos beyond the end: the complete index records, not the broken one.
    Out = Dump(HeaderBlock(1, "BFT1", 0xFFFF, 0) + IndexRecord(1, Bytes({3}), 0, 0) + Bytes({2, 9, 9}));
    EXPECT_NE(Out.find("Indexis:\r\n03  Byte1: 00, Byte2: 00\r\n\r\n\r\n"), std::string::npos) << Out;
}

TEST_F(HeaderDump, OutputFileFailures) {
    Write(TablePath, SampleTable());
    // The output file must exist; it is not created.
    const std::string Missing = Dir + "/NONE.TXT";
    ExpectError<EInOutError>([&] { T.DumpHeader(Missing); }, "File not found");
    EXPECT_FALSE(std::filesystem::exists(Missing));
    // A write error reaches the caller.
    if (std::filesystem::exists("/dev/full"))
        ExpectError<EInOutError>([&] { T.DumpHeader("/dev/full"); }, "Disk full");
}

TEST_F(HeaderDump, TableFileFailuresLeaveTheOutputUnchanged) {
    Write(OutPath, "kept");
    T.SetFileName("");
    ExpectError<EFOpenError>([&] { T.DumpHeader(OutPath); }, "Cannot open file ");
    T.SetFileName(Dir + "/NOTHERE.dat");
    ExpectError<EFOpenError>([&] { T.DumpHeader(OutPath); }, "Cannot open file " + Dir + "/NOTHERE.dat");
    T.SetFileName(Dir);  // a folder
    ExpectError<EFOpenError>([&] { T.DumpHeader(OutPath); }, "Cannot open file " + Dir);
    EXPECT_EQ(Read(OutPath), "kept");
}

TEST_F(HeaderDump, TheFileNameIsTakenWithItsExtension) {
    // Unlike the open, the dump does not change the extension.
    Write(Dir + "/BANK.MNY", HeaderBlock(7, "MNY!", 40, 0));
    Write(TablePath, SampleTable());
    T.SetFileName(Dir + "/BANK.MNY");
    T.DumpHeader(OutPath);
    const std::string Start = Dir + "/BANK.MNY\r\nByte1: 07, Header: MNY!, FieldCount: 0 ";
    EXPECT_EQ(Read(OutPath).substr(0, Start.size()), Start);
}

TEST(HeaderDumpText, GoesThroughTheGivenWriter) {
    char Template[] = "/tmp/tamblor-dump-XXXXXX";
    ASSERT_NE(::mkdtemp(Template), nullptr);
    const std::string Path = std::string(Template) + "/T.dat";
    std::ofstream(Path, std::ios::binary) << HeaderBlock(1, "BFT1", 40, 0);
    std::string Text;
    moneytable::WriteHeaderDump(Path, [&](std::string_view S) { Text += S; });
    EXPECT_EQ(Text, Path + "\r\nByte1: 01, Header: BFT1, FieldCount: 0 DataPos: 28, Data: " + ZeroHex(32) +
                        "\r\nFields:\r\nIndexis:\r\n\r\n\r\n");
    ExpectError<EFOpenError>([&] { moneytable::WriteHeaderDump(Path + "x", [](std::string_view) {}); },
                             "Cannot open file " + Path + "x");
    std::filesystem::remove_all(Template);
}

#ifdef TAMBLOR_HAVE_ENGINE

TEST(HeaderDumpOfAnEngineTable, ShowsTheCatalogWhileTheTableIsOpen) {
    FormatSettings = TFormatSettings::Invariant();
    engine::RegisterEngineServer();
    char Template[] = "/tmp/tamblor-dump-XXXXXX";
    ASSERT_NE(::mkdtemp(Template), nullptr);
    const std::string Dir = Template;
    engine::CreateTable(Dir + "/acc.dat", {{{"Name", 'C', 20, false}, {"Amount", 'R', 0, false}}, {{{1, 0}, true}}, "cs"});
    std::ofstream(Dir + "/DUMP.TXT").flush();
    {
        TMoneyTable T(nullptr);
        T.SetFileName(Dir + "/acc.dat");
        T.Open();  // the engine holds the file; the dump shares it
        T.DumpHeader(Dir + "/DUMP.TXT");
        T.Close();
    }
    std::ifstream In(Dir + "/DUMP.TXT", std::ios::binary);
    std::ostringstream S;
    S << In.rdbuf();
    const std::string Out = S.str();
    // DataPos 40 + 2 * 26 + 13 = 105 (hex 69); page store at 65536; one index;
    // locale "cs".
    EXPECT_NE(Out.find("Byte1: 01, Header: BFT1, FieldCount: 2 DataPos: 69, Data: 00 00 01 00 01 63 73 00 "),
              std::string::npos)
        << Out;
    EXPECT_NE(Out.find("Fields:\r\nName       C020 "), std::string::npos) << Out;
    EXPECT_NE(Out.find("\r\nAmount     R"), std::string::npos) << Out;
    EXPECT_NE(Out.find("Indexis:\r\n01 00  Byte1: 01, Byte2: 00\r\n\r\n\r\n"), std::string::npos) << Out;
    std::filesystem::remove_all(Dir);
}

#endif  // TAMBLOR_HAVE_ENGINE
