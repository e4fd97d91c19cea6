// Demo tables: their schemas, the generated data, and `tamblor sample`.
#include "tools/Sample.h"

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>
#include <set>
#include <string>

namespace fs = std::filesystem;
using engine::Value;

namespace {

std::vector<std::vector<Value>> Transactions(std::int64_t n) {
    std::vector<std::vector<Value>> rows;
    tools::SampleTransactions(n, 12, 40, [&](const std::vector<Value>& r) { rows.push_back(r); });
    return rows;
}

bool Same(const Value& a, const Value& b) { return a.kind == b.kind && a.i == b.i && a.r == b.r && a.s == b.s; }

TEST(Sample, SchemasHaveWhatTheDemoShows) {
    const auto schemas = tools::SampleSchemas();
    ASSERT_EQ(schemas.size(), 3u);
    EXPECT_EQ(schemas[0].FileName, "accounts.dat");
    EXPECT_EQ(schemas[1].FileName, "payees.dat");
    EXPECT_EQ(schemas[2].FileName, "transactions.dat");
    std::set<char> letters;
    for (const auto& t : schemas)
        for (const auto& c : t.Schema.Columns) letters.insert(c.Type);
    EXPECT_EQ(std::string(letters.begin(), letters.end()), "BCDEGILMRTUVWYZ");  // every type letter

    const auto& tx = schemas[2].Schema;
    // Two columns whose first 10 characters are equal.
    int sameTen = 0;
    for (std::size_t a = 0; a < tx.Columns.size(); ++a)
        for (std::size_t b = a + 1; b < tx.Columns.size(); ++b)
            if (tx.Columns[a].Name.substr(0, 10) == tx.Columns[b].Name.substr(0, 10)) ++sameTen;
    EXPECT_EQ(sameTen, 1);
    bool twoColumnIndex = false, uniqueIndex = false, diacritics = false, autoInc = false;
    for (const auto& ix : tx.Indexes) twoColumnIndex |= ix.Columns.size() == 2, uniqueIndex |= ix.Unique;
    for (const auto& c : tx.Columns) diacritics |= c.Name == "Poznámka", autoInc |= c.AutoInc;
    EXPECT_TRUE(twoColumnIndex && uniqueIndex && diacritics && autoInc);
    EXPECT_GE(tx.Indexes.size(), 4u);
}

TEST(Sample, DataAreDeterministicAndVaried) {
    const auto a = Transactions(2000), b = Transactions(2000);
    ASSERT_EQ(a.size(), 2000u);
    for (std::size_t i = 0; i < a.size(); ++i)
        for (std::size_t c = 0; c < a[i].size(); ++c) ASSERT_TRUE(Same(a[i][c], b[i][c])) << i << "," << c;

    const std::regex guid("\\{[0-9A-F]{8}-[0-9A-F]{4}-4[0-9A-F]{3}-[89AB][0-9A-F]{3}-[0-9A-F]{12}\\}");
    int nullMemo = 0, multiLine = 0, nullAmount = 0, reconciled = 0;
    std::set<std::string> guids;
    for (const auto& r : a) {
        ASSERT_EQ(r.size(), 16u);
        EXPECT_TRUE(r[0].IsNull() && r[14].IsNull() && r[15].IsNull());  // auto-increment, Z, Y
        EXPECT_TRUE(r[1].i >= 1 && r[1].i <= 12);
        EXPECT_TRUE(r[2].IsNull() || (r[2].i >= 1 && r[2].i <= 40));
        EXPECT_TRUE(r[3].i >= 42005 && r[3].i < 42005 + 3653);             // 2015..2024
        EXPECT_TRUE(r[4].IsNull() || (r[4].i >= 0 && r[4].i < 86400000));  // a time of day
        EXPECT_TRUE(r[7].IsNull() || (r[7].i >= 1 && r[7].i <= 32767));    // fits "I"
        EXPECT_TRUE(std::regex_match(r[13].s, guid)) << r[13].s;
        guids.insert(r[13].s);
        nullMemo += r[9].IsNull();
        multiLine += !r[9].IsNull() && r[9].s.find('\n') != std::string::npos;
        nullAmount += r[5].IsNull();
        reconciled += !r[11].IsNull();
        EXPECT_EQ(r[11].IsNull(), r[12].IsNull());
    }
    EXPECT_EQ(guids.size(), a.size());
    EXPECT_GT(nullMemo, 500);
    EXPECT_GT(multiLine, 20);
    EXPECT_GT(nullAmount, 0);
    EXPECT_GT(reconciled, 400);

    // Czech letters, and the same surname in capitals, among the payees.
    bool czech = false, capitals = false;
    for (const auto& p : tools::SamplePayees(200)) {
        czech |= p[1].s.find("ř") != std::string::npos || p[1].s.find("Č") != std::string::npos;
        // A surname in capitals, diacritics included: no lower-case letter
        // (ASCII or Czech) before the first blank, and some non-ASCII.
        const std::string first = p[1].s.substr(0, p[1].s.find(' '));
        bool lower = false;
        for (const char* l : {"á", "č", "ď", "é", "ě", "í", "ň", "ó", "ř", "š", "ť", "ú", "ů", "ý", "ž"})
            lower |= first.find(l) != std::string::npos;
        for (char c : first) lower |= c >= 'a' && c <= 'z';
        capitals |= !lower && first.size() > 3 && first.find_first_of("\xC3\xC4\xC5") != std::string::npos;
    }
    EXPECT_TRUE(czech);
    EXPECT_TRUE(capitals);
    EXPECT_EQ(tools::SamplePayeeCount(10000), 200);
    EXPECT_EQ(tools::SamplePayeeCount(10), 20);
    EXPECT_EQ(tools::SampleAccounts().size(), 12u);
}

TEST(Sample, CommandWritesTheThreeTables) {
    char tmpl[] = "/tmp/tamblor-sample-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    const fs::path dir = fs::path(tmpl) / "demo";  // created by the command
    const auto run = [&](const std::string& args, const fs::path& out) {
        const std::string cmd = std::string(TAMBLOR_EXE) + " " + args + " >" + out.string() + " 2>&1";
        const int st = std::system(cmd.c_str());
        return WIFEXITED(st) ? WEXITSTATUS(st) : -1;
    };
    const fs::path log = fs::path(tmpl) / "log.txt";
    ASSERT_EQ(run("sample " + dir.string() + " --records 300", log), 0);
    for (const auto& [file, records] :
         std::vector<std::pair<std::string, int>>{{"accounts.dat", 12}, {"payees.dat", 20}, {"transactions.dat", 300}}) {
        ASSERT_EQ(run("info " + (dir / file).string(), log), 0) << file;
        std::ifstream in(log);
        std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        EXPECT_NE(text.find("\nrecords: " + std::to_string(records) + "\n"), std::string::npos) << text;
        EXPECT_NE(text.find("locale: cs\n"), std::string::npos);
    }
    // A second run refuses to overwrite and writes nothing.
    const auto before = fs::last_write_time(dir / "accounts.dat");
    EXPECT_EQ(run("sample " + dir.string(), log), 1);
    {
        std::ifstream in(log);
        std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        EXPECT_EQ(text, "tamblor sample: " + (dir / "accounts.dat").string() + ": the file exists already\n");
    }
    EXPECT_EQ(fs::last_write_time(dir / "accounts.dat"), before);
    // A file where the folder should be.
    EXPECT_EQ(run("sample " + (dir / "accounts.dat").string(), log), 1);
    {
        std::ifstream in(log);
        std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        EXPECT_EQ(text, "tamblor sample: " + (dir / "accounts.dat").string() + ": is a table file, not a folder\n");
    }
    fs::remove_all(tmpl);
}

}  // namespace
