// `tamblor dump-header` and the record selection options of `tamblor
// export`, run in process through the tool's dispatcher on real table files.
#include "engine/Engine.h"
#include "rtl/Rtl.h"
#include "tools/Commands.h"
#include "tools/TableCommands.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

namespace fs = std::filesystem;

namespace {

struct Result {
    int Code = -1;
    std::string Out;
    std::string Err;
};

std::string ReadFile(const fs::path& P) {
    std::ifstream In(P, std::ios::binary);
    std::ostringstream S;
    S << In.rdbuf();
    return S.str();
}

class TableCommands : public ::testing::Test {
protected:
    void SetUp() override {
        FormatSettings = TFormatSettings::Invariant();
        engine::RegisterEngineServer();
        char Template[] = "/tmp/tamblor-tablecmd-XXXXXX";
        ASSERT_NE(::mkdtemp(Template), nullptr);
        Dir = Template;
        Table = Dir + "/pay.dat";
        engine::CreateTable(Table, {{{"Payee", 'C', 20, false}, {"Amount", 'R', 0, false}},
                                    {{{0}, false}, {{0, 1}, false}},
                                    ""});
        engine::BulkInserter Ins(Table);
        const std::pair<const char*, double> Rows[] = {{"Cleo", 3}, {"Abel", 1}, {"Bert", 2}, {"Dora", 4}, {"bert", 5}};
        for (auto [Payee, Amount] : Rows) Ins.Add({engine::Value::Text(Payee), engine::Value::Real(Amount)});
        Ins.Commit();
    }
    void TearDown() override { fs::remove_all(Dir); }
    Result Run(std::vector<std::string> Args) {
        std::ostringstream Out, Err;
        Result R;
        R.Code = tools::RunTool(Args, Out, Err);
        R.Out = Out.str();
        R.Err = Err.str();
        return R;
    }
    // The payees of an export (TAB form: the first column).
    std::vector<std::string> Payees(std::vector<std::string> Options) {
        std::vector<std::string> Args{"export", Table, "--tab"};
        Args.insert(Args.end(), Options.begin(), Options.end());
        const Result R = Run(Args);
        EXPECT_EQ(R.Code, 0) << R.Err;
        std::vector<std::string> Names;
        std::istringstream In(R.Out);
        std::string Line;
        std::getline(In, Line);  // header
        while (std::getline(In, Line)) {
            const auto Tab = Line.find('\t');
            const auto Tab2 = Line.find('\t', Tab + 1);
            Names.push_back(Line.substr(Tab + 1, Tab2 - Tab - 1));
        }
        return Names;
    }
    std::string Dir, Table;
};

}  // namespace

// ============================================================ dump-header

TEST_F(TableCommands, DumpHeaderAppendsToAnExistingFile) {
    const std::string Output = Dir + "/DUMP.TXT";
    std::ofstream(Output) << "before\n";
    Result R = Run({"dump-header", Table, Output});
    EXPECT_EQ(R.Code, 0) << R.Err;
    EXPECT_TRUE(R.Out.empty());
    const std::string First = ReadFile(Output);
    // Column records 2, one index record of one key column and one of two:
    // DataPos 40 + 52 + 26 = 118, hex 76.
    const std::string Start = "before\n" + Table + "\r\nByte1: 01, Header: BFT1, FieldCount: 2 DataPos: 76, Data: ";
    EXPECT_EQ(First.substr(0, Start.size()), Start);
    EXPECT_NE(First.find("\r\nFields:\r\nPayee      C020 "), std::string::npos) << First;
    EXPECT_NE(First.find("\r\nIndexis:\r\n00  Byte1: 00, Byte2: 00\r\n00 01  Byte1: 00, Byte2: 00\r\n\r\n\r\n"),
              std::string::npos)
        << First;
    // A second run appends the same dump again.
    EXPECT_EQ(Run({"dump-header", Table, Output}).Code, 0);
    EXPECT_EQ(ReadFile(Output), First + First.substr(7));
    // "-" is the standard output.
    R = Run({"dump-header", Table, "-"});
    EXPECT_EQ(R.Code, 0);
    EXPECT_EQ(R.Out, First.substr(7));
}

TEST_F(TableCommands, DumpHeaderFailures) {
    const std::string Missing = Dir + "/NONE.TXT";
    Result R = Run({"dump-header", Table, Missing});
    EXPECT_EQ(R.Code, 1);
    EXPECT_EQ(R.Err, "tamblor dump-header: " + Missing + ": File not found (the output file must already exist)\n");
    EXPECT_FALSE(fs::exists(Missing));
    std::ofstream(Dir + "/DUMP.TXT").flush();
    R = Run({"dump-header", Dir + "/pay", Dir + "/DUMP.TXT"});  // the name is taken as given
    EXPECT_EQ(R.Code, 1);
    EXPECT_EQ(R.Err, "tamblor dump-header: Cannot open file " + Dir + "/pay\n");
    EXPECT_EQ(ReadFile(Dir + "/DUMP.TXT"), "");
    R = Run({"dump-header", Dir, Dir + "/DUMP.TXT"});
    EXPECT_EQ(R.Code, 1);
    EXPECT_EQ(R.Err, "tamblor dump-header: " + Dir + ": is a directory, not a table file\n");
    EXPECT_EQ(ReadFile(Dir + "/DUMP.TXT"), "");
    R = Run({"dump-header", Dir + "/pay", "-"});
    EXPECT_EQ(R.Code, 1);
    EXPECT_TRUE(R.Out.empty());
    if (fs::exists("/dev/full")) {  // a device that is always full
        R = Run({"dump-header", Table, "/dev/full"});
        EXPECT_EQ(R.Code, 1);
        EXPECT_EQ(R.Err, "tamblor dump-header: /dev/full: the disk is full\n");
    }
    R = Run({"dump-header"});
    EXPECT_EQ(R.Code, 2);
    EXPECT_EQ(R.Err, "tamblor dump-header: missing TABLE and OUTPUT (see tamblor dump-header --help)\n");
    EXPECT_EQ(Run({"dump-header", Table}).Code, 2);
    EXPECT_EQ(Run({"dump-header", Table, "-", "x"}).Code, 2);
    R = Run({"dump-header", "--help"});
    EXPECT_EQ(R.Code, 0);
    EXPECT_EQ(R.Out, tools::kDumpHeaderHelp);
}

// ============================================================ export selection

TEST_F(TableCommands, ExportInIndexOrder) {
    EXPECT_EQ(Payees({}), (std::vector<std::string>{"Cleo", "Abel", "Bert", "Dora", "bert"}));
    // Letter case is ignored by the index order; equal keys keep record order.
    EXPECT_EQ(Payees({"--index", "Payee"}), (std::vector<std::string>{"Abel", "Bert", "bert", "Cleo", "Dora"}));
    EXPECT_EQ(Payees({"--index", "Payee;Amount"}), (std::vector<std::string>{"Abel", "Bert", "bert", "Cleo", "Dora"}));
}

TEST_F(TableCommands, ExportThroughAFilter) {
    EXPECT_EQ(Payees({"--filter", "Amount > 2"}), (std::vector<std::string>{"Cleo", "Dora", "bert"}));
    EXPECT_EQ(Payees({"--filter", "Payee = 'b*'"}), (std::vector<std::string>{"bert"}));
    EXPECT_EQ(Payees({"--filter", "Payee = 'b*'", "--case-insensitive"}), (std::vector<std::string>{"Bert", "bert"}));
    EXPECT_TRUE(Payees({"--filter", "Payee = 'b*'", "--case-insensitive", "--no-partial"}).empty());
    EXPECT_EQ(Payees({"--filter", "Amount < 4", "--index", "Payee"}),
              (std::vector<std::string>{"Abel", "Bert", "Cleo"}));
}

TEST_F(TableCommands, ExportAKeyRange) {
    EXPECT_EQ(Payees({"--index", "Payee", "--range-start", "b", "--range-end", "Cleo"}),
              (std::vector<std::string>{"Bert", "bert", "Cleo"}));
    // Two key fields in the start, one in the end; the values beyond the
    // index fields are ignored.
    EXPECT_EQ(Payees({"--index", "Payee;Amount", "--range-start", "Bert|3|x", "--range-end", "Cleo"}),
              (std::vector<std::string>{"bert", "Cleo"}));
    // A range and a filter together.
    EXPECT_EQ(Payees({"--index", "Payee", "--range-start", "A", "--range-end", "C", "--filter", "Amount >= 2"}),
              (std::vector<std::string>{"Bert", "bert"}));
}

TEST_F(TableCommands, ExportSelectionFailures) {
    struct Usage {
        std::vector<std::string> Options;
        std::string Reason;
    };
    for (const Usage& U : {Usage{{"--range-start", "A", "--index", "Payee"}, "--range-start needs --range-end"},
                           Usage{{"--range-end", "A", "--index", "Payee"}, "--range-end needs --range-start"},
                           Usage{{"--range-start", "A", "--range-end", "B"}, "a range (--range-start, --range-end) needs --index"},
                           Usage{{"--case-insensitive"}, "--case-insensitive and --no-partial need --filter"},
                           Usage{{"--no-partial", "--index", "Payee"}, "--case-insensitive and --no-partial need --filter"}}) {
        std::vector<std::string> Args{"export", Table};
        Args.insert(Args.end(), U.Options.begin(), U.Options.end());
        const Result R = Run(Args);
        EXPECT_EQ(R.Code, 2) << U.Reason;
        EXPECT_EQ(R.Err, "tamblor export: " + U.Reason + " (see tamblor export --help)\n");
        EXPECT_TRUE(R.Out.empty()) << U.Reason;
    }
    // Failures of the table name the table file.
    Result R = Run({"export", Table, "--index", "Amount"});
    EXPECT_EQ(R.Code, 1);
    EXPECT_EQ(R.Err, "tamblor export: " + Table + ": Invalid index\n");
    R = Run({"export", Table, "--index", "Payee;Amount", "--range-start", "A|x", "--range-end", "B"});
    EXPECT_EQ(R.Code, 1);
    EXPECT_EQ(R.Err, "tamblor export: " + Table + ": 'x' is not a valid floating point value for field 'Amount'\n");
    R = Run({"export", Table, "--filter", "Amount >"});
    EXPECT_EQ(R.Code, 1);
    EXPECT_EQ(R.Err.rfind("tamblor export: " + Table + ": ", 0), 0u) << R.Err;
    EXPECT_TRUE(R.Out.empty());
}
