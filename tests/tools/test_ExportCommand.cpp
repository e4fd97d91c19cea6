// `tamblor export`: a table written as text through TMoneyTable, run in
// process through the tool's dispatcher.
#include "engine/Engine.h"
#include "rtl/Rtl.h"
#include "tools/Commands.h"

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
    ASSERT_EQ(Run({"export", table}), 0) << err.str();
    EXPECT_EQ(out.str(), "_RECNO_\tName\tNote\tAmount\r\n1\tSmith, \"J\"\ta\nb\t1.5\r\n2\t\t\t-2\r\n");
    ASSERT_EQ(Run({"export", table, "--semicolon"}), 0);
    EXPECT_EQ(out.str(), "_RECNO_;Name;Note;Amount\r\n1;Smith, \"J\";a\nb;1.5\r\n2;;;-2\r\n");
    ASSERT_EQ(Run({"export", "--csv", table}), 0);
    EXPECT_EQ(out.str(), "_RECNO_,Name,Note,Amount\r\n1,\"Smith, \"\"J\"\"\",\"a\nb\",1.5\r\n2,,,-2\r\n");
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
    EXPECT_EQ(err.str(), "tamblor: Cannot create file " + (dir / "no" / "x.txt").string() + "\n");
    // A full disk (a device that is always full).
    if (fs::exists("/dev/full")) {
        EXPECT_EQ(Run({"export", table, "-o", "/dev/full"}), 1);
        EXPECT_EQ(err.str(), "tamblor: /dev/full: the disk is full\n");
    }
}

TEST_F(ExportCommand, UsageAndTableErrors) {
    EXPECT_EQ(Run({"export"}), 2);
    EXPECT_EQ(err.str(), "tamblor export: missing TABLE (see tamblor export --help)\n");
    EXPECT_EQ(Run({"export", table, "--csv", "--tab"}), 2);
    EXPECT_EQ(err.str(), "tamblor export: choose one of --tab, --semicolon and --csv (see tamblor export --help)\n");
    EXPECT_EQ(Run({"export", table, "-o"}), 2);
    EXPECT_EQ(Run({"export", (dir / "missing.dat").string()}), 1);
    EXPECT_EQ(err.str().rfind("tamblor: " + (dir / "missing.dat").string() + ": ", 0), 0u) << err.str();
    EXPECT_EQ(Run({"export", "--help"}), 0);
    EXPECT_EQ(out.str().rfind("Usage: tamblor export TABLE", 0), 0u);
}
