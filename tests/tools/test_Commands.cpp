// The built `tamblor` program, run as a subprocess: help, usage errors, exit
// codes, create / import / info / export round trips on temporary files, the
// standard streams, and exports that are killed or fail.
#include "engine/Engine.h"
#include "engine/Vfs.h"
#include "tests/engine/EngineTestUtil.h"
#include "tools/Commands.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <thread>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#ifndef TAMBLOR_EXE
#error "TAMBLOR_EXE must name the built tamblor program"
#endif

namespace fs = std::filesystem;

namespace {

struct Result {
    int Code = -1;
    std::string Out;
    std::string Err;
};

std::string ReadFile(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

void WriteFile(const fs::path& p, const std::string& text) {
    std::ofstream out(p, std::ios::binary);
    out << text;
}

// How ToolTest::Start runs the program: its standard input, and as the user
// nobody (when the tests run as root) for a folder that must be unwritable.
struct Options {
    fs::path Input = "/dev/null";
    bool AsNobody = false;
};

class ToolTest : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/tamblor-tool-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir = tmpl;
    }
    void TearDown() override { fs::remove_all(dir); }

    // Starts tamblor with `args`; stdout and stderr go to files (never a
    // terminal). Returns the process id.
    pid_t Start(const std::vector<std::string>& args, const Options& options = {}) {
        const fs::path out = dir / "stdout.txt", err = dir / "stderr.txt";
        const pid_t pid = fork();
        if (pid == 0) {
            const int o = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
            const int e = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
            const int n = open(options.Input.c_str(), O_RDONLY);
            if (o < 0 || e < 0 || n < 0) _exit(127);
            dup2(o, 1);
            dup2(e, 2);
            dup2(n, 0);
            if (options.AsNobody && getuid() == 0 && (setgroups(0, nullptr) != 0 || setgid(65534) != 0 || setuid(65534) != 0))
                _exit(126);
            std::vector<char*> argv;
            argv.push_back(const_cast<char*>(TAMBLOR_EXE));
            for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
            argv.push_back(nullptr);
            execv(TAMBLOR_EXE, argv.data());
            _exit(127);
        }
        return pid;
    }

    // Waits for the process that Start started and collects its output.
    Result Finish(pid_t pid) {
        int status = 0;
        waitpid(pid, &status, 0);
        Result r;
        r.Code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        r.Out = ReadFile(dir / "stdout.txt");
        r.Err = ReadFile(dir / "stderr.txt");
        return r;
    }

    Result Run(const std::vector<std::string>& args, const Options& options = {}) { return Finish(Start(args, options)); }

    std::string P(const std::string& name) const { return (dir / name).string(); }

    // Creates the table used by the import tests.
    void CreateLedger(const std::string& table) {
        const Result r = Run({"create", table, "--column", "Id:L:autoinc", "--column", "Name:C:20", "--column",
                              "Amount:E", "--column", "Day:D", "--column", "At:T", "--column", "Paid:B", "--column",
                              "Memo:M", "--column", "Posted:Z", "--index", "name", "--locale", "cs"});
        ASSERT_EQ(r.Code, 0) << r.Err;
    }

    // The stored rows of a table, read straight from its page store: one
    // string per record, values separated by '|', NULL for null.
    std::vector<std::string> StoredRows(const std::string& table, int columns) {
        sqlite3* db = nullptr;
        std::vector<std::string> rows;
        if (sqlite3_open_v2(table.c_str(), &db, SQLITE_OPEN_READONLY, engine::RegisterPageStoreVfs()) != SQLITE_OK) {
            ADD_FAILURE() << sqlite3_errmsg(db);
            sqlite3_close(db);
            return rows;
        }
        std::string sql = "SELECT ";
        for (int c = 0; c < columns; ++c) sql += (c ? ", quote(c" : "quote(c") + std::to_string(c) + ")";
        sql += " FROM records ORDER BY rowid";
        sqlite3_stmt* st = nullptr;
        if (sqlite3_prepare_v2(db, sql.c_str(), -1, &st, nullptr) != SQLITE_OK) {
            ADD_FAILURE() << sqlite3_errmsg(db);
        } else {
            while (sqlite3_step(st) == SQLITE_ROW) {
                std::string row;
                for (int c = 0; c < columns; ++c)
                    row += (c ? "|" : "") + std::string(reinterpret_cast<const char*>(sqlite3_column_text(st, c)));
                rows.push_back(row);
            }
        }
        sqlite3_finalize(st);
        sqlite3_close(db);
        return rows;
    }

    fs::path dir;
};

TEST_F(ToolTest, HelpForTheToolAndEachCommand) {
    Result r = Run({"--help"});
    EXPECT_EQ(r.Code, 0);
    EXPECT_EQ(r.Err, "");
    EXPECT_EQ(r.Out.rfind("Usage: tamblor COMMAND [ARGUMENTS]\n", 0), 0u) << r.Out;
    for (const char* c : {"create", "import", "info", "check", "sample"})
        EXPECT_NE(r.Out.find(std::string("\n  ") + c + " "), std::string::npos) << c;

    for (const char* c : {"create", "import", "info", "check", "sample"}) {
        r = Run({c, "--help"});
        EXPECT_EQ(r.Code, 0) << c;
        EXPECT_EQ(r.Out.rfind(std::string("Usage: tamblor ") + c + " ", 0), 0u) << r.Out;
        EXPECT_EQ(Run({"help", c}).Out, r.Out);
    }
    // --help wins over other arguments, even wrong ones.
    r = Run({"create", "--bogus", "-h"});
    EXPECT_EQ(r.Code, 0);
    EXPECT_EQ(r.Out.rfind("Usage: tamblor create ", 0), 0u);
}

TEST_F(ToolTest, UsageErrorsExitWithTwo) {
    Result r = Run({});
    EXPECT_EQ(r.Code, 2);
    EXPECT_EQ(r.Err.rfind("tamblor: missing command\nUsage: tamblor", 0), 0u) << r.Err;
    EXPECT_EQ(r.Out, "");

    const auto expectUsage = [&](const std::vector<std::string>& args, const std::string& message) {
        const Result u = Run(args);
        EXPECT_EQ(u.Code, 2) << message;
        EXPECT_EQ(u.Err, message + "\n");
        EXPECT_EQ(u.Out, "");
    };
    const std::string t = P("t.dat");
    expectUsage({"frobnicate"}, "tamblor: unknown command 'frobnicate' (see tamblor --help)");
    expectUsage({"help", "frobnicate"}, "tamblor: unknown command 'frobnicate' (see tamblor --help)");
    expectUsage({"create"}, "tamblor create: missing TABLE (see tamblor create --help)");
    expectUsage({"create", t}, "tamblor create: at least one --column is needed (see tamblor create --help)");
    expectUsage({"create", t, "--column", "Name"},
                "tamblor create: invalid column 'Name' (expected NAME:LETTER[:SIZE][:autoinc]) (see tamblor create --help)");
    expectUsage({"create", t, "--column", "Name:C"},
                "tamblor create: column 'Name' of type C needs a size (1 to 255) (see tamblor create --help)");
    expectUsage({"create", t, "--column", "Name:C:256"},
                "tamblor create: invalid size in column 'Name:C:256' (1 to 255) (see tamblor create --help)");
    expectUsage({"create", t, "--column", "Name:X"},
                "tamblor create: unknown type letter 'X' in column 'Name:X' (see tamblor create --help)");
    expectUsage({"create", t, "--column", "Amount:E:autoinc"},
                "tamblor create: column 'Amount': only I, L, V and W columns can be autoinc (see tamblor create --help)");
    expectUsage({"create", t, "--column", "Name:C:10", "--index", "Name+Nme"},
                "tamblor create: index 'Name+Nme' names an unknown column 'Nme' (see tamblor create --help)");
    expectUsage({"create", t, "--column=A:L", "--locale", "cs", "--locale", "de"},
                "tamblor create: option '--locale' given twice (see tamblor create --help)");
    expectUsage({"import", t}, "tamblor import: missing CSVFILE (see tamblor import --help)");
    expectUsage({"import", t, "x.csv", "--separator", "::"},
                "tamblor import: invalid separator '::' (one ASCII character other than '\"', or 'tab') (see tamblor import --help)");
    expectUsage({"info"}, "tamblor info: missing TABLE (see tamblor info --help)");
    expectUsage({"info", t, t}, "tamblor info: too many arguments (see tamblor info --help)");
    expectUsage({"check"}, "tamblor check: missing TABLE (see tamblor check --help)");
    expectUsage({"sample", P("s"), "--records", "-5"},
                "tamblor sample: invalid value '-5' for --records (0 to 100000000) (see tamblor sample --help)");
    EXPECT_FALSE(fs::exists(t));  // nothing was created by a refused command line
}

TEST_F(ToolTest, FailuresExitWithOneAndNameTheFile) {
    const std::string missing = P("missing.dat");
    Result r = Run({"info", missing});
    EXPECT_EQ(r.Code, 1);
    EXPECT_EQ(r.Err.rfind("tamblor info: ", 0), 0u);
    EXPECT_NE(r.Err.find(missing), std::string::npos) << r.Err;
    EXPECT_EQ(std::count(r.Err.begin(), r.Err.end(), '\n'), 1) << r.Err;

    // A file that is not a table.
    const std::string text = P("notes.dat");
    WriteFile(text, "just some text\n");
    r = Run({"info", text});
    EXPECT_EQ(r.Code, 1);
    EXPECT_NE(r.Err.find(text), std::string::npos) << r.Err;

    // create refuses an existing file and leaves it alone.
    r = Run({"create", text, "--column", "A:L"});
    EXPECT_EQ(r.Code, 1);
    EXPECT_NE(r.Err.find(text), std::string::npos) << r.Err;
    EXPECT_EQ(ReadFile(text), "just some text\n");

    const std::string t = P("t.dat");
    CreateLedger(t);
    r = Run({"import", t, P("nothere.csv")});
    EXPECT_EQ(r.Code, 1);
    EXPECT_EQ(r.Err, "tamblor import: " + P("nothere.csv") + ": cannot open: No such file or directory\n");
}

TEST_F(ToolTest, CreateImportInfoRoundTrip) {
    const std::string t = P("ledger.dat");
    CreateLedger(t);
    Result r = Run({"info", t});
    ASSERT_EQ(r.Code, 0) << r.Err;
    EXPECT_EQ(r.Out, "table: " + t +
                         "\nlocale: cs\ncolumns: 8\n"
                         "  Id\tL\t4\tautoinc\n  Name\tC\t20\n  Amount\tE\t8\n  Day\tD\t4\n  At\tT\t4\n  Paid\tB\t1\n"
                         "  Memo\tM\t0\n  Posted\tZ\t4\n"
                         "indexes: 1\n  Name\nrecords: 0\n");

    // Header in another order and letter case; Id and Posted left out;
    // quoted separators, quotes and line breaks; empty fields are null.
    const std::string csv = P("in.csv");
    WriteFile(csv,
              "MEMO,name,amount,Day,at,PAID\r\n"
              "\"two\nlines\",\"Novák, Jan\",12.5,2024-01-01,12:30,true\r\n"
              "\"say \"\"hi\"\"\",Žluťoučký kůň,-3,1899-12-30,23:59:59,0\r\n"
              ",,,,,\r\n");
    r = Run({"import", t, csv});
    ASSERT_EQ(r.Code, 0) << r.Err;
    EXPECT_EQ(r.Out, "imported 3 records into " + t + "\n");
    EXPECT_EQ(r.Err, "");  // no progress line when stderr is not a terminal

    r = Run({"info", t});
    EXPECT_NE(r.Out.find("\nrecords: 3\n"), std::string::npos) << r.Out;
    const std::vector<std::string> rows = StoredRows(t, 7);
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[0], "1|'Novák, Jan'|12.5|45292|45000000|1|'two\nlines'");
    EXPECT_EQ(rows[1], "2|'Žluťoučký kůň'|-3.0|0|86399000|0|'say \"hi\"'");
    EXPECT_EQ(rows[2], "3|NULL|NULL|NULL|NULL|NULL|NULL");

    // A second import appends; --no-header takes every column in order (the
    // Z column's value is ignored: the engine writes it), tab separator.
    const std::string tsv = P("in.tsv");
    WriteFile(tsv, "\tTab Name\t1\t2000-02-29\t00:00\tFALSE\t\tignored\n");
    r = Run({"import", t, tsv, "--no-header", "--separator", "tab"});
    ASSERT_EQ(r.Code, 0) << r.Err;
    const std::vector<std::string> more = StoredRows(t, 6);
    ASSERT_EQ(more.size(), 4u);
    EXPECT_EQ(more[3], "4|'Tab Name'|1.0|36585|0|0");

    const std::string semi = P("in.txt");
    WriteFile(semi, "Name;Amount\n\"a;b\";7\n");
    r = Run({"import", t, semi, "--separator=;"});
    ASSERT_EQ(r.Code, 0) << r.Err;
    EXPECT_EQ(StoredRows(t, 3).back(), "5|'a;b'|7.0");
}

TEST_F(ToolTest, CheckExitsWithZeroWhenSoundAndOneWhenDamaged) {
    const std::string t = P("ledger.dat");
    CreateLedger(t);
    const std::string store = "ok: page store: its integrity check, with the table's collation, found nothing wrong\n";
    const std::string count = "ok: records: 0, as the cached count says\n";
    Result r = Run({"check", t});
    EXPECT_EQ(r.Code, 0) << r.Err;
    EXPECT_EQ(r.Err, "");
    EXPECT_EQ(r.Out, "checking " + t + "\nok: catalog: 8 columns, 1 index, locale cs, as the page store's copy of it says\n" +
                         store + "ok: index 1 'Name': as its catalog record says, 0 entries for 0 records\n" + count + t +
                         ": no problem found\n");

    // Column 2 (Name, C) turned into a date column in the catalog.
    std::string bytes = ReadFile(t);
    bytes[40 + 26 + 11] = 'D';
    WriteFile(t, bytes);
    r = Run({"check", t});
    EXPECT_EQ(r.Code, 1) << r.Err;
    EXPECT_EQ(r.Err, "");
    EXPECT_EQ(r.Out, "checking " + t + "\nPROBLEM: column 2 'Name': the catalog gives type D, the page store C\n" +
                         store + count + t + ": damaged, 1 problem found\n");
    EXPECT_EQ(ReadFile(t), bytes);
    r = Run({"info", t});
    EXPECT_EQ(r.Code, 1);
    EXPECT_EQ(r.Err, "tamblor info: Table file '" + t + "' is damaged (column 2 'Name': the catalog gives type D, the page store C)\n");
}

TEST_F(ToolTest, ImportIsAllOrNothingAndNamesLineAndColumn) {
    const std::string t = P("ledger.dat");
    CreateLedger(t);
    const std::string csv = P("in.csv");
    const auto importFails = [&](const std::string& content, const std::string& message) {
        WriteFile(csv, content);
        const Result r = Run({"import", t, csv});
        EXPECT_EQ(r.Code, 1) << content;
        EXPECT_EQ(r.Err.rfind("tamblor import: " + csv + ": " + message, 0), 0u) << r.Err;
        EXPECT_EQ(std::count(r.Err.begin(), r.Err.end(), '\n'), 1) << r.Err;
        EXPECT_TRUE(StoredRows(t, 1).empty()) << content;
    };
    // Good rows before the bad one are not kept.
    std::string many = "Name,Amount\n";
    for (int i = 0; i < 500; ++i) many += "n" + std::to_string(i) + "," + std::to_string(i) + "\n";
    importFails(many + "bad,12x\n", "line 502, column 'Amount': ");
    importFails("Name,Day\nx,2024-02-30\n", "line 2, column 'Day': ");
    importFails("Name,At\nx,25:00\n", "line 2, column 'At': ");
    importFails("Name,Paid\nx,yes\n", "line 2, column 'Paid': ");
    importFails("Name\n\"much too long for twenty bytes\"\n", "line 2: ");
    importFails("Name\n\"Žluťoučký kůň úpěl\"\n", "line 2: ");  // 18 letters, 28 bytes
    importFails("Name,Nme\nx,y\n", "line 1: unknown column 'Nme' in the header");
    importFails("Name,NAME\nx,y\n", "line 1: column 'NAME' named twice in the header");
    importFails("Name,Amount\nx,1\ny\n", "line 3: 1 fields where 2 are expected");
    importFails("Name,Memo\nx,\"open\nnever closed\n", "line 2: quoted field not closed");
    importFails("Name\n\"two\nlines\"\nbad\"quote\n", "line 4: quote inside an unquoted field");
    importFails("Name\nab\xC3\n", "line 2, column 'Name': not valid UTF-8");
    // A NUL at the start is a binary file; one further on names its value.
    importFails(std::string("Name,Memo\nx,a\0b\n", 16), "is a binary file, not a CSV file");
    std::string rows = "Name,Memo\n";
    for (int i = 0; i < 1100; ++i) rows += "x,a\n";
    importFails(rows + std::string("y,a\0b\n", 7), "line 1102, column 'Memo': a value cannot hold a NUL character");
    importFails("", "the file is empty (a header line is expected)");
    // The error message stays on one line even for a value with a line break.
    importFails("Name,Day\nx,\"2024\n01\"\n", "line 2, column 'Day': ");
}

}  // namespace

namespace {

TEST_F(ToolTest, VersionAndTheStandardStreams) {
    Result r = Run({"--version"});
    EXPECT_EQ(r.Code, 0);
    EXPECT_TRUE(std::regex_match(r.Out, std::regex("tamblor [0-9]+\\.[0-9]+\\.[0-9]+\n"))) << r.Out;
    EXPECT_EQ(Run({"version"}).Out, r.Out);

    // '-' is the standard input of import and the standard output of export -o.
    const std::string t = P("ledger.dat");
    CreateLedger(t);
    const std::string csv = P("in.csv");
    WriteFile(csv, "Name,Amount,Memo\n\"Novák, Jan\",12.5,\"two\nlines\"\nx,-1,\n");
    r = Run({"import", t, "-"}, {csv});
    ASSERT_EQ(r.Code, 0) << r.Err;
    EXPECT_EQ(r.Out, "imported 2 records into " + t + "\n");
    r = Run({"export", t, "-o", "-", "--index", "Name"});
    ASSERT_EQ(r.Code, 0) << r.Err;
    // The Posted column holds the day of the import.
    EXPECT_EQ(std::regex_replace(r.Out, std::regex(",[0-9]{4}-[0-9]{2}-[0-9]{2}\r\n"), ",DAY\r\n"),
              "_RECNO_,Id,Name,Amount,Day,At,Paid,Memo,Posted\r\n"
              "1,1,\"Novák, Jan\",12.5,,,,\"two\nlines\",DAY\r\n"
              "2,2,x,-1,,,,,DAY\r\n");
    EXPECT_FALSE(fs::exists(dir / "-"));
    // Errors in the standard input name it.
    WriteFile(csv, "Name,Amount\nx,12x\n");
    r = Run({"import", t, "-"}, {csv});
    EXPECT_EQ(r.Code, 1);
    EXPECT_EQ(r.Err, "tamblor import: standard input: line 2, column 'Amount': '12x' is not a number\n");
}

TEST_F(ToolTest, ImportTakesCutNamesAndSkipsTheRecordNumber) {
    const std::string t = P("checks.dat");
    Result r = Run({"create", t, "--column", "Check Number:I", "--column", "ReconciledOn:D", "--column",
                    "ReconciledBy:C:20", "--column", "Note:C:10"});
    ASSERT_EQ(r.Code, 0) << r.Err;
    const std::string csv = P("in.csv");
    // The field names of the TAB export (10 characters); "" is an empty text.
    WriteFile(csv, "_RECNO_,check numb,ReconciledBy,Note\n7,12,Jana,\"\"\n8,,,\n");
    r = Run({"import", t, csv});
    ASSERT_EQ(r.Code, 0) << r.Err;
    EXPECT_EQ(StoredRows(t, 4), std::vector<std::string>({"12|NULL|'Jana'|''", "NULL|NULL|NULL|NULL"}));
    const auto importFails = [&](const std::string& content, const std::string& message) {
        WriteFile(csv, content);
        const Result f = Run({"import", t, csv});
        EXPECT_EQ(f.Code, 1);
        EXPECT_EQ(f.Err, "tamblor import: " + csv + ": " + message + "\n");
    };
    importFails("Reconciled\n2024-01-01\n",
                "line 1: the header name 'Reconciled' is the start of several columns ('ReconciledOn', "
                "'ReconciledBy'); name the column in full");
    importFails("Check Numb,check number\n1,2\n", "line 1: column 'check number' named twice in the header");
    importFails("Reconciled[1]\nx\n", "line 1: unknown column 'Reconciled[1]' in the header");
    EXPECT_EQ(StoredRows(t, 1).size(), 2u);
}

// Every sample table goes out as CSV and comes back, into a table made like
// it, with the same columns, indexes, locale and records (all but the post
// date and time, which the engine writes).
TEST_F(ToolTest, SampleTablesMakeTheRoundTrip) {
    Result r = Run({"sample", P("s"), "--records", "300"});
    ASSERT_EQ(r.Code, 0) << r.Err;
    const std::pair<const char*, int> tables[] = {{"accounts", 11}, {"payees", 8}, {"transactions", 14}};
    for (const auto& [name, compared] : tables) {
        const std::string src = P("s/" + std::string(name) + ".dat"), csv = P(std::string(name) + ".csv"),
                          copy = P(std::string(name) + "-copy.dat");
        r = Run({"export", src, "-o", csv});
        ASSERT_EQ(r.Code, 0) << r.Err;
        EXPECT_EQ(r.Out, "");
        r = Run({"create", copy, "--like", src});
        ASSERT_EQ(r.Code, 0) << r.Err;
        r = Run({"import", copy, csv});
        ASSERT_EQ(r.Code, 0) << r.Err;
        const std::string infoSrc = Run({"info", src}).Out, infoCopy = Run({"info", copy}).Out;
        EXPECT_EQ(infoSrc.substr(infoSrc.find('\n')), infoCopy.substr(infoCopy.find('\n'))) << name;
        const std::vector<std::string> rows = StoredRows(src, compared);
        EXPECT_GE(rows.size(), 12u) << name;
        EXPECT_EQ(StoredRows(copy, compared), rows) << name;
    }
    // The transactions hold memos of several lines and TABs, and the column
    // ReconciledBy, whose field TMoneyTable cannot read.
    const std::string text = ReadFile(P("transactions.csv"));
    EXPECT_NE(text.find("\tChorvatsko"), std::string::npos);
    EXPECT_NE(text.find(",ReconciledOn,ReconciledBy,"), std::string::npos);
    EXPECT_TRUE(std::regex_search(text, std::regex(",\"[^\",]+\n[^\",]+ \\([0-9]+\\)\","))) << "a memo of two lines, quoted";
    // In another order the same records, ReconciledBy included.
    r = Run({"export", P("s/transactions.dat"), "--index", "Payee"});
    ASSERT_EQ(r.Code, 0) << r.Err;
    const auto records = [](const std::string& csv) {
        std::vector<std::string> lines;
        for (std::size_t at = 0, end; (end = csv.find("\r\n", at)) != std::string::npos; at = end + 2)
            lines.push_back(csv.substr(at, end - at));
        std::sort(lines.begin(), lines.end());
        return lines;
    };
    EXPECT_NE(r.Out, text);
    EXPECT_EQ(records(r.Out), records(text));

    r = Run({"create", P("x.dat"), "--like", P("s/payees.dat"), "--index", "Name"});
    EXPECT_EQ(r.Code, 2);
    EXPECT_EQ(r.Err,
              "tamblor create: --like takes the columns, indexes and locale of OLD: no --column, --index or --locale "
              "with it (see tamblor create --help)\n");
    r = Run({"create", P("x.dat"), "--like", P("transactions.csv")});
    EXPECT_EQ(r.Code, 1);
    EXPECT_EQ(r.Err, "tamblor create: " + P("transactions.csv") + ": is a text file, not a table file\n");
    EXPECT_FALSE(fs::exists(P("x.dat")));
}

// An export into an existing file that is killed, or that cannot write beside
// the file, leaves the file as it was.
TEST_F(ToolTest, AnExportKilledOrFailingLeavesTheFileAsItWas) {
    // Large memos: the export writes many blocks, time enough to kill it.
    const std::string big = P("big.dat");
    engine::CreateTable(big, {{{"Id", 'L', 0, false}, {"Memo", 'M', 0, false}}, {}, ""});
    {
        engine::BulkInserter in(big);
        const std::string memo(4000, 'm');
        for (int i = 0; i < 3000; ++i) in.Add({engine::Value::Int(i), engine::Value::Text(memo + ",\n" + std::to_string(i))});
        in.Commit();
    }
    const fs::path target = dir / "out.csv";
    const auto tempFiles = [&] {
        std::vector<fs::path> found;
        for (const auto& e : fs::directory_iterator(dir))
            if (e.path().filename().string().rfind(".out.csv.", 0) == 0) found.push_back(e.path());
        return found;
    };
    for (const int signal : {SIGKILL, SIGTERM}) {
        WriteFile(target, "precious\n");
        const pid_t pid = Start({"export", big, "-o", target.string()});
        // Kill it once the first blocks are in its temporary file.
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        for (;;) {
            const auto temps = tempFiles();
            std::error_code ec;
            if (!temps.empty() && fs::file_size(temps[0], ec) >= 65536) break;
            ASSERT_LT(std::chrono::steady_clock::now(), deadline) << "the export did not start writing";
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
        kill(pid, signal);
        const Result r = Finish(pid);
        EXPECT_EQ(r.Code, 128 + signal) << r.Err;
        EXPECT_EQ(ReadFile(target), "precious\n") << signal;
        // SIGTERM removes the temporary file; SIGKILL cannot be answered.
        EXPECT_EQ(tempFiles().size(), signal == SIGKILL ? 1u : 0u) << signal;
        for (const fs::path& t : tempFiles()) fs::remove(t);
    }

    // A folder where the export cannot create its temporary file: as root
    // the program runs as nobody, with the table in a folder open to all.
    const fs::path locked = dir / "locked", open = dir / "open";
    fs::create_directory(locked);
    fs::create_directory(open);
    const fs::path lockedTarget = locked / "out.csv";
    WriteFile(lockedTarget, "precious\n");
    const std::string small = (open / "small.dat").string();
    engine::CreateTable(small, {{{"Name", 'C', 10, false}}, {}, ""});
    for (const fs::path& p : {dir, open}) fs::permissions(p, fs::perms(0777));
    fs::permissions(lockedTarget, fs::perms(0666));
    fs::permissions(small, fs::perms(0666));
    fs::permissions(locked, getuid() == 0 ? fs::perms(0755) : fs::perms(0555));
    const Result r = Run({"export", small, "-o", lockedTarget.string()}, {"/dev/null", true});
    fs::permissions(locked, fs::perms(0755));
    EXPECT_EQ(r.Code, 1);
    EXPECT_EQ(r.Err, "tamblor export: " + lockedTarget.string() + ": cannot create a file in " + locked.string() +
                         ": Permission denied\n");
    EXPECT_EQ(ReadFile(lockedTarget), "precious\n");
}

}  // namespace
TEST_F(ToolTest, ATableInAFolderThisUserCannotWrite) {
    if (geteuid() != 0) GTEST_SKIP() << "acts as another user: needs root";
    const std::string t = P("ro.dat");
    CreateLedger(t);
    const std::string csv = P("in.csv");
    WriteFile(csv, "Name,Amount\nAda,1.5\nBo,2\n");
    ASSERT_EQ(Run({"import", t, csv}).Code, 0);
    ASSERT_EQ(chmod(dir.c_str(), 0755), 0);
    ASSERT_EQ(chmod(t.c_str(), 0644), 0);
    const std::string before = ReadFile(t);
    Options nobody;
    nobody.AsNobody = true;

    Result r = Run({"info", t}, nobody);
    EXPECT_EQ(r.Code, 0) << r.Err;
    EXPECT_NE(r.Out.find("\nrecords: 2\n"), std::string::npos) << r.Out;
    r = Run({"export", t, "--csv"}, nobody);
    EXPECT_EQ(r.Code, 0) << r.Err;
    EXPECT_NE(r.Out.find("\r\n2,2,Bo,2,"), std::string::npos) << r.Out;
    r = Run({"dump-header", t, "-"}, nobody);
    EXPECT_EQ(r.Code, 0) << r.Err;
    EXPECT_EQ(r.Out.rfind(t + "\r\nByte1: 01, Header: BFT1", 0), 0u) << r.Out;
    EXPECT_FALSE(fs::exists(t + "-wal"));
    EXPECT_FALSE(fs::exists(t + "-shm"));
    EXPECT_EQ(ReadFile(t), before);

    // What would write says why it cannot.
    r = Run({"import", t, csv}, nobody);
    EXPECT_EQ(r.Code, 1);
    EXPECT_EQ(r.Err, "tamblor import: Table file '" + t + "' cannot be written (Permission denied)\n");
    ASSERT_EQ(chmod(t.c_str(), 0666), 0);
    r = Run({"import", t, csv}, nobody);
    EXPECT_EQ(r.Code, 1);
    EXPECT_EQ(r.Err, "tamblor import: Table file '" + t + "' cannot be written here: its folder '" + dir.string() +
                         "' must hold its side files 'ro.dat-wal' and 'ro.dat-shm' but cannot be written "
                         "(Permission denied)\n");
    EXPECT_EQ(ReadFile(t), before);
}

TEST_F(ToolTest, FailedSyncsAndAFullDiskAreNeverReportedAsSuccess) {
    // The commands run in this process, on a storage whose syncs fail or
    // whose disk is full.
    const auto run = [](const std::vector<std::string>& args, const enginetest::FaultyIo& faults) {
        enginetest::FaultyIo io = faults;
        enginetest::IoScope scope(&io);
        std::ostringstream out, err;
        Result r;
        r.Code = tools::RunTool(args, out, err);
        r.Out = out.str();
        r.Err = err.str();
        return r;
    };
    enginetest::FaultyIo failedSyncs;
    failedSyncs.FailedSyncs = {engine::FileKind::Table, engine::FileKind::Wal, engine::FileKind::Folder};
    enginetest::FaultyIo fullDisk;
    fullDisk.FullDisk = engine::FileKind::Wal;
    const std::string t = P("t.dat");
    const std::string ioError = "tamblor create: I/O error on table file '" + t + "' while writing (Input/output error)\n";
    Result r = run({"create", t, "--column", "Name:C:20"}, failedSyncs);
    EXPECT_EQ(r.Code, 1);
    EXPECT_EQ(r.Err, ioError);
    EXPECT_FALSE(fs::exists(t));
    EXPECT_FALSE(fs::exists(t + "-wal"));
    r = run({"create", t, "--column", "Name:C:20"}, fullDisk);
    EXPECT_EQ(r.Err, "tamblor create: Cannot write table file '" + t + "': the disk is full\n");
    EXPECT_FALSE(fs::exists(t));

    ASSERT_EQ(Run({"create", t, "--column", "Name:C:20"}).Code, 0);
    const std::string csv = P("in.csv");
    WriteFile(csv, "Name\nAda\nBo\n");
    r = run({"import", t, csv}, failedSyncs);
    EXPECT_EQ(r.Code, 1);
    EXPECT_EQ(r.Out, "");
    EXPECT_EQ(r.Err, "tamblor import: I/O error on table file '" + t + "' while writing (Input/output error)\n");
    r = run({"import", t, csv}, fullDisk);
    EXPECT_EQ(r.Code, 1);
    EXPECT_EQ(r.Out, "");
    EXPECT_EQ(r.Err, "tamblor import: Cannot write table file '" + t + "': the disk is full\n");
    r = Run({"info", t});
    EXPECT_NE(r.Out.find("\nrecords: 0\n"), std::string::npos) << r.Out;
}
