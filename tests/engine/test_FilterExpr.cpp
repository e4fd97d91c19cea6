// Filter expressions compiled to SQL and run against a page-store-shaped table.
#include "engine/FilterExpr.h"

#include "engine/Errors.h"
#include "tests/LocaleTestKit.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <string>
#include <vector>

using engine::CompileFilter;
using engine::EngineError;
using engine::FilterColumn;

namespace {

const std::vector<FilterColumn> kColumns = {
    {"Name", 'C', 0},     {"Amount", 'E', 1}, {"Count", 'I', 2},      {"Cleared", 'B', 3},
    {"Date", 'D', 4},     {"Time", 'T', 5},   {"Post Date", 'Z', 6},  {"Memo", 'M', 7},
    {"Název účtu", 'C', 8}, {"Stamp", 'Y', 9}, {"Key", 'G', 10},
};

struct Row {
    const char* name;  // nullptr = NULL
    const char* amount;
    const char* count;
    const char* cleared;
    const char* date;  // day numbers
    const char* time;  // ms
};

class FilterTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(sqlite3_open(":memory:", &db), SQLITE_OK);
        engine::RegisterFilterSql(db);
        Exec("CREATE TABLE records(rowid INTEGER PRIMARY KEY AUTOINCREMENT, c0, c1, c2, c3, c4, c5, c6, c7, c8, c9, c10)");
        // 45292 = 2024-01-01, 45293 = 2024-01-02; 45000000 ms = 12:30:00.
        const char* rows[] = {
            "'John', 10.5, 3, 1, 45292, 45000000, 45292, 'memo one', 'Účet', 36000000, '{A}'",  // 1
            "'Joe', 7.0, 7, 0, 45293, 43200000, 45293, NULL, 'účet', 0, NULL",                  // 2
            "'O''Brien', NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL",          // 3
            "'Český', -2.25, -1, 1, 45000, 86399000, 45000, 'Straße', 'ČESKÝ', 86399999, NULL", // 4
            "'český', 0, 0, 0, 45292, 0, 45292, 'STRASSE', NULL, NULL, NULL",                  // 5
            "'50% off', 100, 100, 1, 45292, 45000000, 45292, NULL, NULL, NULL, NULL",          // 6
            "'500', 5, 5, 0, NULL, NULL, NULL, NULL, NULL, NULL, NULL",                        // 7
            "'a_b', 1, 1, 1, NULL, NULL, NULL, NULL, NULL, NULL, NULL",                        // 8
            "'abc', 2, 2, 0, NULL, NULL, NULL, NULL, NULL, NULL, NULL",                        // 9
            "'Jo*', 3, 3, 1, NULL, NULL, NULL, NULL, NULL, NULL, NULL",                        // 10
            "'x'' OR 1=1 --', 4, 4, 0, NULL, NULL, NULL, NULL, NULL, NULL, NULL",              // 11
            "NULL, 6, 6, 1, NULL, NULL, NULL, NULL, NULL, NULL, NULL",                         // 12
            "'Zebra', 8, 8, 0, NULL, NULL, NULL, NULL, NULL, NULL, NULL",                      // 13
            "'ábel', 9, 9, 1, NULL, NULL, NULL, NULL, NULL, NULL, NULL",                       // 14
        };
        for (const char* r : rows) Exec(std::string("INSERT INTO records(c0,c1,c2,c3,c4,c5,c6,c7,c8,c9,c10) VALUES(") + r + ")");
    }
    void TearDown() override { sqlite3_close(db); }

    void Exec(const std::string& sql) {
        char* err = nullptr;
        ASSERT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &err), SQLITE_OK) << (err ? err : "") << " in " << sql;
    }

    // Record numbers matching the expression, in record-number order.
    std::vector<int> Match(const std::string& expr, int flags = 0) {
        engine::CompiledFilter f = CompileFilter(expr, kColumns, flags);
        std::string sql = "SELECT rowid FROM records";
        if (!f.Empty()) sql += " WHERE " + f.Where;
        sql += " ORDER BY rowid";
        sqlite3_stmt* st = nullptr;
        if (sqlite3_prepare_v2(db, sql.c_str(), -1, &st, nullptr) != SQLITE_OK) {
            ADD_FAILURE() << sqlite3_errmsg(db) << " in " << sql;
            return {};
        }
        EXPECT_EQ(engine::BindFilterParams(st, 1, f.Params), int(f.Params.size()) + 1);
        EXPECT_EQ(sqlite3_bind_parameter_count(st), int(f.Params.size()));
        std::vector<int> out;
        int rc;
        while ((rc = sqlite3_step(st)) == SQLITE_ROW) out.push_back(sqlite3_column_int(st, 0));
        EXPECT_EQ(rc, SQLITE_DONE) << sqlite3_errmsg(db);
        sqlite3_finalize(st);
        return out;
    }

    std::string ErrorOf(const std::string& expr, int flags = 0) {
        try {
            CompileFilter(expr, kColumns, flags);
        } catch (const EngineError& e) {
            EXPECT_EQ(e.Status(), engine::stFailed);
            return e.what();
        }
        return "(no error)";
    }

    sqlite3* db = nullptr;
};

using V = std::vector<int>;
const V kAll = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14};

TEST_F(FilterTest, EmptyExpressionRestrictsNothing) {
    EXPECT_TRUE(CompileFilter("", kColumns, 0).Empty());
    EXPECT_TRUE(CompileFilter("  \t ", kColumns, 3).Empty());
    EXPECT_EQ(Match(""), kAll);
}

TEST_F(FilterTest, NumericOperatorsAndNulls) {
    EXPECT_EQ(Match("Amount = 7"), V({2}));
    EXPECT_EQ(Match("Amount = 10.5"), V({1}));
    EXPECT_EQ(Match("Amount < 0"), V({4}));
    EXPECT_EQ(Match("Amount <= 1"), V({4, 5, 8}));
    EXPECT_EQ(Match("Amount > 9"), V({1, 6}));
    EXPECT_EQ(Match("Amount >= 9"), V({1, 6, 14}));
    EXPECT_EQ(Match("Amount = -2.25"), V({4}));
    EXPECT_EQ(Match("Amount > 1e1"), V({1, 6}));
    EXPECT_EQ(Match("Count <> 0 AND Count != 100 AND Count < 5"), V({1, 4, 8, 9, 10, 11}));
    // Record 3 has a null Amount: every comparison with it is false, also <>,
    // and NOT of such a comparison is true.
    EXPECT_EQ(Match("Amount <> 7").size(), 12u);
    EXPECT_EQ(Match("NOT (Amount <> 7)"), V({2, 3}));
    EXPECT_EQ(Match("NOT Amount > 0"), V({3, 4, 5}));
    // Integer column against a fractional literal compares numerically.
    EXPECT_EQ(Match("Count > 99.5"), V({6}));
    // Column against column.
    EXPECT_EQ(Match("Amount > Count"), V({1}));
    EXPECT_EQ(Match("Count = Amount AND Count > 4"), V({2, 6, 7, 12, 13, 14}));
}

TEST_F(FilterTest, PrecedenceParenthesesAndKeywordCase) {
    // AND binds tighter than OR; NOT tighter than AND.
    EXPECT_EQ(Match("Count = 1 OR Count = 2 AND Cleared"), V({8}));
    EXPECT_EQ(Match("(Count = 1 OR Count = 2) AND NOT Cleared"), V({9}));
    EXPECT_EQ(Match("NOT Count = 1 AND Count < 3"), V({4, 5, 9}));
    EXPECT_EQ(Match("NOT (Count = 1 AND Count < 3)").size(), 13u);
    EXPECT_EQ(Match("not not (count = 1) or AMOUNT = 7"), V({2, 8}));
    EXPECT_EQ(Match("((((Count = 5))))"), V({7}));
    EXPECT_EQ(Match("Cleared = (Count > 50)"), V({2, 5, 6, 7, 9, 11, 13}));
}

TEST_F(FilterTest, IsNullAndBooleans) {
    EXPECT_EQ(Match("Name IS NULL"), V({12}));
    EXPECT_EQ(Match("Memo is not null"), V({1, 4, 5}));
    EXPECT_EQ(Match("Amount IS NULL OR Count IS NULL"), V({3}));
    EXPECT_EQ(Match("NOT Name IS NULL").size(), 13u);
    EXPECT_EQ(Match("Cleared"), V({1, 4, 6, 8, 10, 12, 14}));
    EXPECT_EQ(Match("NOT Cleared"), V({2, 3, 5, 7, 9, 11, 13}));  // null counts as not true
    EXPECT_EQ(Match("Cleared = FALSE"), V({2, 5, 7, 9, 11, 13}));  // null is neither
    EXPECT_EQ(Match("Cleared = 1 AND Count < 2"), V({4, 8}));
    EXPECT_EQ(Match("Cleared > FALSE AND Count > 9"), V({6}));
    EXPECT_EQ(Match("TRUE"), kAll);
    EXPECT_EQ(Match("FALSE OR Count = 3"), V({1, 10}));
    EXPECT_EQ(Match("1 = 1 AND 'a' < 'b'"), kAll);
    EXPECT_EQ(Match("'x' IS NULL"), V());
}

TEST_F(FilterTest, TextQuotedQuotesAndBracketedNames) {
    EXPECT_EQ(Match("Name = 'O''Brien'"), V({3}));
    EXPECT_EQ(Match("Name = ''''"), V());
    EXPECT_EQ(Match("[Název účtu] = 'Účet'"), V({1}));
    EXPECT_EQ(Match("[název ÚČTU] IS NULL"), V({3, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14}));
    EXPECT_EQ(Match("[Post Date] = '2024-01-02'"), V({2}));
    EXPECT_EQ(Match("[Name]='Joe'"), V({2}));
    EXPECT_EQ(Match("Key = '{A}'"), V({1}));
}

TEST_F(FilterTest, TextComparesByCodePointOrIgnoringCase) {
    // Code point order: 'Z' (U+005A) < 'a' < 'á' (U+00E1) < 'Č' (U+010C).
    EXPECT_EQ(Match("Name < 'a' AND Name >= 'A'"), V({1, 2, 3, 10, 13}));
    EXPECT_EQ(Match("Name > 'z'"), V({4, 5, 14}));
    EXPECT_EQ(Match("Name = 'český'"), V({5}));
    EXPECT_EQ(Match("Name = 'ČESKÝ'"), V());
    // Case-insensitive with full Unicode folding, accents kept.
    EXPECT_EQ(Match("Name = 'ČESKÝ'", engine::cfCaseInsensitive), V({4, 5}));
    EXPECT_EQ(Match("Name = 'cesky'", engine::cfCaseInsensitive), V());
    EXPECT_EQ(Match("[Název účtu] = 'ÚČET'", engine::cfCaseInsensitive), V({1, 2}));
    EXPECT_EQ(Match("Memo = 'strasse'", engine::cfCaseInsensitive), V({4, 5}));  // ß folds to ss
    EXPECT_EQ(Match("Name <> 'JOHN'", engine::cfCaseInsensitive).size(), 12u);
    EXPECT_EQ(Match("Name > 'JOE' AND Name < 'JOHN'", engine::cfCaseInsensitive), V());
    EXPECT_EQ(Match("Name >= 'joe' AND Name <= 'JOHN'", engine::cfCaseInsensitive), V({1, 2}));
    EXPECT_EQ(Match("Name < 'B'", engine::cfCaseInsensitive), V({6, 7, 8, 9}));  // '5' < 'a' < 'b'
    EXPECT_EQ(Match("Name = [Název účtu]", engine::cfCaseInsensitive), V({4}));
    EXPECT_EQ(Match("'abc' = 'ABC'", engine::cfCaseInsensitive), kAll);
}

TEST_F(FilterTest, TrailingStarMatchesPrefix) {
    EXPECT_EQ(Match("Name = 'Jo*'"), V({1, 2, 10}));
    EXPECT_EQ(Match("Name = 'jo*'"), V());
    EXPECT_EQ(Match("Name = 'jo*'", engine::cfCaseInsensitive), V({1, 2, 10}));
    EXPECT_EQ(Match("Name = 'čES*'", engine::cfCaseInsensitive), V({4, 5}));
    EXPECT_EQ(Match("Name = 'Jo*'", engine::cfNoPartialCompare), V({10}));
    EXPECT_EQ(Match("Name = 'JO*'", engine::cfCaseInsensitive | engine::cfNoPartialCompare), V({10}));
    // LIKE metacharacters are ordinary characters.
    EXPECT_EQ(Match("Name = '50%*'"), V({6}));
    EXPECT_EQ(Match("Name = 'a_*'"), V({8}));
    EXPECT_EQ(Match("Name = '*'").size(), 13u);  // every non-null name
    // <> with a prefix: non-null values without the prefix.
    EXPECT_EQ(Match("Name <> 'Jo*' AND Count < 4"), V({4, 5, 8, 9}));
    // A '*' on the left or with another operator is an ordinary character.
    EXPECT_EQ(Match("'Jo*' = Name"), V({10}));
    EXPECT_EQ(Match("Name >= 'Jo*' AND Name < 'Jp'"), V({1, 2, 10}));
    EXPECT_EQ(Match("Memo = 'STRA*'", engine::cfCaseInsensitive), V({4, 5}));
}

TEST_F(FilterTest, DatesAndTimes) {
    EXPECT_EQ(engine::FilterDayNumber(1899, 12, 30), 0);
    EXPECT_EQ(engine::FilterDayNumber(1900, 3, 1), 61);
    EXPECT_EQ(engine::FilterDayNumber(2024, 1, 1), 45292);
    EXPECT_EQ(Match("Date = '2024-01-01'"), V({1, 5, 6}));
    EXPECT_EQ(Match("Date > '2024-01-01'"), V({2}));
    EXPECT_EQ(Match("Date < '2023-03-15'"), V());  // 45000 = 2023-03-15
    EXPECT_EQ(Match("Date < '2023-03-16'"), V({4}));
    EXPECT_EQ(Match("Date <= '2023-03-15'"), V({4}));
    EXPECT_EQ(Match("Date > '2024-01-01 12:00'"), V({2}));
    EXPECT_EQ(Match("Date >= '2024-01-01 00:00:00' AND Date < '2024-01-02'"), V({1, 5, 6}));
    EXPECT_EQ(Match("Time = '12:30'"), V({1, 6}));
    EXPECT_EQ(Match("Time < '12:00:01' AND Time >= '00:00'"), V({2, 5}));
    EXPECT_EQ(Match("Time = '23:59:59'"), V({4}));
    EXPECT_EQ(Match("Stamp > '23:59:59'"), V({4}));
    EXPECT_EQ(Match("Stamp = '10:00'"), V({1}));
    EXPECT_EQ(Match("[Post Date] = Date AND Time > '12:00'"), V({1, 4, 6}));
}

TEST_F(FilterTest, ValuesThatDoNotFitTheirColumn) {
    EXPECT_EQ(ErrorOf("Date = '2024-13-01'"),
              "Filter expression error at position 8: '2024-13-01' is not a valid date (YYYY-MM-DD [HH:MM[:SS]]) for column 'Date'");
    EXPECT_EQ(ErrorOf("Date = '2023-02-29'"),
              "Filter expression error at position 8: '2023-02-29' is not a valid date (YYYY-MM-DD [HH:MM[:SS]]) for column 'Date'");
    EXPECT_EQ(ErrorOf("Date = 45292"), "Filter expression error at position 8: date literal 'YYYY-MM-DD' expected for column 'Date'");
    EXPECT_EQ(ErrorOf("Time = '24:00'"),
              "Filter expression error at position 8: '24:00' is not a valid time (HH:MM[:SS]) for column 'Time'");
    EXPECT_EQ(ErrorOf("Time = '2024-01-01'"),
              "Filter expression error at position 8: '2024-01-01' is not a valid time (HH:MM[:SS]) for column 'Time'");
    EXPECT_EQ(ErrorOf("Amount = 'x'"), "Filter expression error at position 10: number expected for column 'Amount'");
    EXPECT_EQ(ErrorOf("Name = 5"), "Filter expression error at position 8: text literal expected for column 'Name'");
    EXPECT_EQ(ErrorOf("Cleared = 2"), "Filter expression error at position 11: TRUE or FALSE expected for column 'Cleared'");
    EXPECT_EQ(ErrorOf("Name = Amount"),
              "Filter expression error at position 6: column 'Name' (text) cannot be compared with column 'Amount' (number)");
    EXPECT_EQ(ErrorOf("Date = Time"),
              "Filter expression error at position 6: column 'Date' (date) cannot be compared with column 'Time' (time)");
    EXPECT_EQ(ErrorOf("'a' = 1"), "Filter expression error at position 5: a text cannot be compared with a number");
    EXPECT_EQ(ErrorOf("Amount = (Count = 1)"),
              "Filter expression error at position 10: column 'Amount' is not boolean and cannot be compared with a condition");
    EXPECT_EQ(ErrorOf("Date = '2024*'"),
              "Filter expression error at position 8: '2024*' is not a valid date (YYYY-MM-DD [HH:MM[:SS]]) for column 'Date'");
}

TEST_F(FilterTest, SyntaxErrorsGiveCharacterPositions) {
    EXPECT_EQ(ErrorOf("Nme = 'x'"), "Filter expression error at position 1: unknown column 'Nme'");
    EXPECT_EQ(ErrorOf("Name = 'x' AND [Post  Date] = '2024-01-01'"),
              "Filter expression error at position 16: unknown column 'Post  Date'");
    EXPECT_EQ(ErrorOf("(Amount > 1"), "Filter expression error at position 12: ')' expected");
    EXPECT_EQ(ErrorOf("Amount > 1)"), "Filter expression error at position 11: unexpected ')'");
    EXPECT_EQ(ErrorOf("Name = 'abc"), "Filter expression error at position 8: closing quote expected");
    EXPECT_EQ(ErrorOf("[Name = 'x'"), "Filter expression error at position 1: ']' expected");
    EXPECT_EQ(ErrorOf("Amount >"), "Filter expression error at position 9: column, value or '(' expected");
    EXPECT_EQ(ErrorOf("Amount > 1 AND"), "Filter expression error at position 15: column, value or '(' expected");
    EXPECT_EQ(ErrorOf("Amount 5"), "Filter expression error at position 8: comparison operator expected");
    EXPECT_EQ(ErrorOf("Name"), "Filter expression error at position 5: comparison operator expected");
    EXPECT_EQ(ErrorOf("Amount > 1 Count < 2"), "Filter expression error at position 12: AND, OR or end of expression expected");
    EXPECT_EQ(ErrorOf("Amount == 1"), "Filter expression error at position 9: column, value or '(' expected");
    EXPECT_EQ(ErrorOf("Amount # 1"), "Filter expression error at position 8: unexpected character '#'");
    EXPECT_EQ(ErrorOf("Name IS 'x'"), "Filter expression error at position 9: NULL expected");
    EXPECT_EQ(ErrorOf("Name = NULL"), "Filter expression error at position 8: NULL can only be tested with IS NULL or IS NOT NULL");
    EXPECT_EQ(ErrorOf("Amount > 12abc"), "Filter expression error at position 10: invalid number");
    EXPECT_EQ(ErrorOf("[] = 1"), "Filter expression error at position 1: column name expected inside '[ ]'");
    // Positions count characters, not bytes: "Účet" has 2 two-byte letters.
    EXPECT_EQ(ErrorOf("[Název účtu] = 'Účet' AND Čas = 1"), "Filter expression error at position 27: unknown column 'Čas'");
    EXPECT_EQ(ErrorOf("Name = 'Ž' §"), "Filter expression error at position 12: unexpected character '§'");
}

TEST_F(FilterTest, LongAndDeepExpressions) {
    // 3000 alternatives compile to a balanced tree that SQLite accepts
    // (its expression depth limit is 1000).
    std::string many = "Count = 5";
    for (int i = 0; i < 3000; ++i) many += " OR Count = " + std::to_string(1000 + i);
    EXPECT_EQ(Match(many), V({7}));
    std::string all = "Count >= 0";
    for (int i = 0; i < 3000; ++i) all += " AND Count < " + std::to_string(10 + i);
    EXPECT_EQ(Match(all), V({1, 2, 5, 7, 8, 9, 10, 11, 12, 13, 14}));
    // 100 levels of nesting are allowed; deeper nesting is refused, not a crash.
    EXPECT_EQ(Match(std::string(100, '(') + "Count = 5" + std::string(100, ')')), V({7}));
    EXPECT_EQ(ErrorOf(std::string(100000, '(') + "Count = 5"),
              "Filter expression error at position 101: expression nested too deeply (more than 100 levels)");
    std::string nots;
    for (int i = 0; i < 101; ++i) nots += "NOT ";
    EXPECT_EQ(ErrorOf(nots + "Cleared"),
              "Filter expression error at position 401: expression nested too deeply (more than 100 levels)");
}

TEST_F(FilterTest, EveryExpressionWithinTheNestingLimitRuns) {
    // SQLite's parser takes far fewer levels of parentheses than the limit
    // of 100 allows; deeper conditions are compiled flat.
    const auto nots = [](int n) {
        std::string s;
        for (int i = 0; i < n; ++i) s += "NOT ";
        return s;
    };
    const std::vector<int> cleared = {1, 4, 6, 8, 10, 12, 14}, notCleared = {2, 3, 5, 7, 9, 11, 13};
    EXPECT_EQ(Match(nots(60) + "Cleared"), V(cleared));
    EXPECT_EQ(Match(nots(61) + "Cleared"), V(notCleared));
    EXPECT_EQ(Match(nots(100) + "Cleared"), V(cleared));
    std::string grouped = "Cleared";
    for (int i = 0; i < 50; ++i) grouped = "NOT (" + grouped + ")";
    EXPECT_EQ(Match(grouped), V(cleared));

    // 100 levels of AND inside OR inside AND ...: only Count = 5 decides
    // (no record has Count 1000; a null Count fails every comparison).
    std::string alternating = "Count = 5";
    for (int i = 0; i < 100; ++i)
        alternating = i % 2 == 0 ? "Count <> 1000 AND (" + alternating + ")" : "Count = 1000 OR (" + alternating + ")";
    EXPECT_EQ(Match(alternating), V({7}));
    // Conditions compared with conditions, 99 and 100 levels deep: a cleared
    // record gives true at every level, an uncleared one alternates, a null
    // one is false from the first comparison on.
    std::string compared = "Cleared";
    for (int i = 0; i < 99; ++i) compared = "Cleared = (" + compared + ")";
    EXPECT_EQ(Match(compared), V({1, 2, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14}));
    EXPECT_EQ(Match("Cleared = (" + compared + ")"), V(cleared));
    EXPECT_EQ(Match("(" + compared + ") <> TRUE"), V({3}));

    // Many deep branches with values and long chains among them.
    std::string branches;
    for (const char* count : {"5", "100", "2", "1000", "1000", "1000", "1000", "1000", "1000", "1000", "1000", "1000",
                              "1000", "1000", "1000", "1000", "1000", "1000", "1000", "1000"}) {
        std::string branch = "Count = " + std::string(count) + " AND Name <> 'nobody*'";
        for (int i = 0; i < 3000 / 20; ++i) branch += " AND Count <> " + std::to_string(2000 + i);
        for (int i = 0; i < 20; ++i)
            branch = i % 2 == 0 ? "Amount <> 1000 AND (" + branch + ")" : "Time = '11:11' OR (" + branch + ")";
        branches += (branches.empty() ? "(" : " OR (") + branch + ")";
    }
    EXPECT_EQ(Match(branches), V({6, 7, 9}));
}

TEST_F(FilterTest, UserTextNeverBecomesSql) {
    // The doubled quote is part of the literal: the whole text is one value.
    EXPECT_EQ(Match("Name = 'x'' OR 1=1 --'"), V({11}));
    EXPECT_EQ(Match("Name = 'nobody'' OR ''1''=''1'"), V());
    engine::CompiledFilter f = CompileFilter("Name = 'x'' OR 1=1 --' OR Name = 'a; DROP TABLE records'", kColumns, 0);
    EXPECT_EQ(f.Where.find("DROP"), std::string::npos);
    EXPECT_EQ(f.Where.find('\''), std::string::npos);
    ASSERT_EQ(f.Params.size(), 2u);
    EXPECT_EQ(std::get<std::string>(f.Params[0]), "x' OR 1=1 --");
    EXPECT_EQ(Match("Name = 'a; DROP TABLE records'"), V());
    EXPECT_EQ(Match("").size(), 14u);  // the table is still there
    // A bracketed name is looked up, never pasted.
    EXPECT_EQ(ErrorOf("[Name) OR (1] = 1"), "Filter expression error at position 1: unknown column 'Name) OR (1'");
    EXPECT_EQ(ErrorOf("Name = 'x' OR 1=1 --"), "Filter expression error at position 19: unexpected character '-'");
}

}  // namespace

// Number, date and time literals are C notation whatever the process locale:
// the same records match under a comma-decimal locale, and "10,5" stays a
// syntax error there.
TEST_F(FilterTest, LiteralsDoNotFollowTheProcessLocale) {
    const auto results = [&] {
        return std::vector<V>{Match("Amount = 10.5"), Match("Amount >= -2.25 AND Amount < 1e1"), Match("Count > 99.5"),
                              Match("Date = '2024-01-01' AND Time >= '12:30'"), Match("Stamp = '10:00:00'")};
    };
    const std::vector<V> expected = {V({1}), V({2, 4, 5, 7, 8, 9, 10, 11, 12, 13, 14}), V({6}), V({1, 6}), V({1})};
    const std::string comma = ErrorOf("Amount = 10,5");
    EXPECT_EQ(results(), expected);
    ENTER_COMMA_DECIMAL_LOCALE(german);
    EXPECT_EQ(results(), expected);
    EXPECT_EQ(ErrorOf("Amount = 10,5"), comma);
}
