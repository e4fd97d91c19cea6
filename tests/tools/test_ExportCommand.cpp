// `tamblor export`: a table written as text through TMoneyTable, run in
// process through the tool's dispatcher.
#include "engine/Engine.h"
#include "rtl/Rtl.h"
#include "tools/Commands.h"
#include "tests/LocaleTestKit.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

class ExportCommand : public ::testing::Test {
protected:
    void SetUp() override {
        FormatSettings = TFormatSettings::Invariant();
        engine::RegisterEngineServer();
        char tmpl[] = "/tmp/tamblor-export-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir = tmpl;
        table = (dir / "people.dat").string();
        engine::TableSchema schema;
        schema.Columns = {{"Name", 'C', 20}, {"Note", 'M', 0}, {"Amount", 'R', 0}};
        engine::CreateTable(table, schema);
        engine::BulkInserter in(table);
        in.Add({engine::Value::Text("Smith, \"J\""), engine::Value::Text("a\nb"), engine::Value::Real(1.5)});
        in.Add({engine::Value::Null(), engine::Value::Null(), engine::Value::Real(-2)});
        in.Commit();
    }
    void TearDown() override { fs::remove_all(dir); }

    int Run(const std::vector<std::string>& args) {
        out.str("");
        err.str("");
        return tools::RunTool(args, out, err);
    }

    fs::path dir;
    std::string table;
    std::ostringstream out, err;
};

}  // namespace

TEST_F(ExportCommand, WritesTheThreeFormsToTheOutput) {
    const std::string csv = "_RECNO_,Name,Note,Amount\r\n1,\"Smith, \"\"J\"\"\",\"a\nb\",1.5\r\n2,,,-2\r\n";
    ASSERT_EQ(Run({"export", table}), 0) << err.str();
    EXPECT_EQ(out.str(), csv);  // the default
    ASSERT_EQ(Run({"export", "--csv", table, "-o", "-"}), 0);
    EXPECT_EQ(out.str(), csv);
    ASSERT_EQ(Run({"export", table, "--tab"}), 0);
    EXPECT_EQ(out.str(), "_RECNO_\tName\tNote\tAmount\r\n1\tSmith, \"J\"\ta\nb\t1.5\r\n2\t\t\t-2\r\n");
    ASSERT_EQ(Run({"export", table, "--semicolon"}), 0);
    EXPECT_EQ(out.str(), "_RECNO_;Name;Note;Amount\r\n1;Smith, \"J\";a\nb;1.5\r\n2;;;-2\r\n");
    EXPECT_TRUE(err.str().empty());
}

TEST_F(ExportCommand, WritesAFileWithDashO) {
    const std::string file = (dir / "out.txt").string();
    ASSERT_EQ(Run({"export", table, "--tab", "-o", file}), 0) << err.str();
    EXPECT_TRUE(out.str().empty());
    std::ifstream in(file, std::ios::binary);
    std::stringstream got;
    got << in.rdbuf();
    EXPECT_EQ(got.str(), "_RECNO_\tName\tNote\tAmount\r\n1\tSmith, \"J\"\ta\nb\t1.5\r\n2\t\t\t-2\r\n");
    EXPECT_EQ(Run({"export", table, "--output", (dir / "no" / "x.txt").string()}), 1);
    EXPECT_EQ(err.str(), "tamblor export: " + (dir / "no" / "x.txt").string() + ": cannot create a file in " +
                             (dir / "no").string() + ": No such file or directory\n");
    // Neither a folder nor the table itself is overwritten.
    EXPECT_EQ(Run({"export", table, "-o", dir.string()}), 1);
    EXPECT_EQ(err.str(), "tamblor export: " + dir.string() + ": is a directory\n");
    EXPECT_EQ(Run({"export", table, "-o", table}), 1);
    EXPECT_EQ(err.str(), "tamblor export: " + table + ": is the table being exported\n");
    EXPECT_EQ(Run({"info", table}), 0);
    // A full disk (a device that is always full).
    if (fs::exists("/dev/full")) {
        EXPECT_EQ(Run({"export", table, "-o", "/dev/full"}), 1);
        EXPECT_EQ(err.str(), "tamblor export: /dev/full: cannot write: the disk is full\n");
    }
}

TEST_F(ExportCommand, UsageAndTableErrors) {
    EXPECT_EQ(Run({"export"}), 2);
    EXPECT_EQ(err.str(), "tamblor export: missing TABLE (see tamblor export --help)\n");
    EXPECT_EQ(Run({"export", table, "--csv", "--tab"}), 2);
    EXPECT_EQ(err.str(), "tamblor export: choose one of --csv, --tab and --semicolon (see tamblor export --help)\n");
    EXPECT_EQ(Run({"export", table, "-o"}), 2);
    EXPECT_EQ(Run({"export", (dir / "missing.dat").string()}), 1);
    EXPECT_EQ(err.str(), "tamblor export: " + (dir / "missing.dat").string() + ": Table file '" +
                             (dir / "missing.dat").string() + "' does not exist\n");
    // A directory, or a file that is not a table, under the name the table is opened by.
    fs::create_directory(dir / "folder.dat");
    EXPECT_EQ(Run({"export", (dir / "folder").string()}), 1);
    EXPECT_EQ(err.str(), "tamblor export: " + (dir / "folder.dat").string() + ": is a directory, not a table file\n");
    std::ofstream(dir / "notes.dat") << "Name,Amount\n";
    EXPECT_EQ(Run({"export", (dir / "notes.dat").string()}), 1);
    EXPECT_EQ(err.str(), "tamblor export: " + (dir / "notes.dat").string() + ": is a text file, not a table file\n");
    EXPECT_EQ(Run({"export", "--help"}), 0);
    EXPECT_EQ(out.str().rfind("Usage: tamblor export TABLE", 0), 0u);
}

// Under a comma-decimal locale, as a Qt program runs, the tool reads and writes
// the same C notation as under C (values, the filter's literals, --csv); only
// the TAB form follows the user's notation.
TEST_F(ExportCommand, MachineFormsDoNotFollowTheProcessLocale) {
    const std::string csv = (dir / "in.csv").string();
    std::ofstream(csv, std::ios::binary) << "Name,Amount\n\"x, y\",2.5\nz,0.1\n";
    int sessions = 0;
    const auto session = [&] {
        std::vector<std::string> got;
        const std::string t = (dir / ("t" + std::to_string(++sessions) + ".dat")).string();
        EXPECT_EQ(Run({"create", t, "--like", table}), 0) << err.str();
        EXPECT_EQ(Run({"import", t, csv}), 0) << err.str();
        EXPECT_EQ(Run({"export", t, "--filter", "Amount > 0.15 OR Amount < -1.5"}), 0) << err.str();
        got.push_back(out.str());
        EXPECT_EQ(Run({"export", t, "--tab", "--filter", "Amount = 0.1"}), 0) << err.str();
        got.push_back(out.str());
        return got;
    };
    const std::vector<std::string> inC = session();
    EXPECT_EQ(inC[0], "_RECNO_,Name,Note,Amount\r\n1,\"x, y\",,2.5\r\n");
    EXPECT_EQ(inC[1], "_RECNO_\tName\tNote\tAmount\r\n2\tz\t\t0.1\r\n");
    ENTER_COMMA_DECIMAL_LOCALE(german);
    const std::vector<std::string> inGerman = session();
    EXPECT_EQ(inGerman[0], inC[0]);
    EXPECT_EQ(inGerman[1], "_RECNO_\tName\tNote\tAmount\r\n2\tz\t\t0,1\r\n");
}
