// Fuzz target: filter text and compare flags through the parser and the
// compiler to real queries on a small table.
//
// Input: the first byte holds the compare flags (bits 0-1) and the order
// (bits 2-3: none, Name, Day+Amount); the rest is the expression. Checked:
//   - a refused expression fails with "Filter expression error at position
//     N: ..." and N within the expression;
//   - the compiled statement carries nothing of the text but bound
//     parameters: only column identifiers c<N>, the fixed words and
//     operators of the compiler, the constants 0 and 1, and one '?' per
//     parameter; SQLite prepares it with exactly that many parameters;
//   - the engine's filtered cursor (in the chosen order) counts and walks as
//     many records as the statement selects.
#include "engine/Engine.h"
#include "engine/FilterExpr.h"
#include "engine/PageStore.h"
#include "engine/Table.h"
#include "fuzz/FuzzSupport.h"

#include <sqlite3.h>

#include <cctype>
#include <set>
#include <string>
#include <vector>

namespace {

using engine::Value;

struct Fixture {
    std::string Path;
    std::vector<engine::FilterColumn> Columns;
    engine::Table Table;
    engine::PageStore Raw;  // a second connection for the compiled statements
};

Fixture& Setup() {
    static Fixture x;
    static const bool ready = [] {
        x.Path = fuzz::ScratchDir() + "/filter.dat";
        engine::TableSchema schema;
        schema.Columns = {{"Name", 'C', 20},  {"Amount", 'R', 0}, {"Day", 'D', 0},  {"At", 'T', 0},
                          {"Flag", 'B', 0},   {"Note", 'M', 0},   {"Id", 'G', 0},   {"Count", 'I', 0},
                          {"Big", 'L', 0},    {"Wide", 'U', 12},  {"Stamp", 'Z', 0}, {"Time", 'Y', 0},
                          {"Small", 'V', 0},  {"Word", 'W', 0},   {"Cost", 'E', 0}, {"Pay Date", 'D', 0}};
        schema.Indexes = {{{0}, false}, {{2, 1}, false}};
        engine::CreateTable(x.Path, schema);
        const Value N = Value::Null();
        auto T = [](const char* s) { return Value::Text(s); };
        auto I = [](std::int64_t v) { return Value::Int(v); };
        auto R = [](double v) { return Value::Real(v); };
        const std::vector<std::vector<Value>> rows = {
            {T("Alice"), R(12.5), I(45000), I(3600000), I(1), T("note *one*"), T("{0B7E9A1C-1D2E-4F30-8A4B-5C6D7E8F9012}"),
             I(3), I(100000), T("W\xC3\xAF" "de"), N, N, I(7), I(65535), R(0.1), I(45001)},
            {T("alice"), R(-1.25), I(36526), I(0), I(0), N, N, I(-7), I(-2), T("wide"), N, N, I(0), I(1), R(-0), N},
            {T("Bob*"), R(1e300), N, I(86399000), N, T(""), N, I(32767), I(2147483647), N, N, N, N, N, N, I(2)},
            {T("\xC3\x89mile"), N, I(1), N, I(1), T("'quoted' \"text\""), N, N, I(-2147483647 - 1), T("\xC3\xA9"), N, N, I(1),
             I(2), R(1e-300), I(45000)},
            {T(""), R(0), I(2958465), I(43200000), I(0), T("line\r\nbreak"), N, I(-32768), I(0), T(""), N, N, I(2), I(3),
             R(2.5), N},
            {N, N, N, N, N, N, N, N, N, N, N, N, N, N, N, N},
            {T("ZZ"), R(3), I(45000), I(60000), I(1), T("ZZ"), N, I(1), I(1), T("ZZ"), N, N, I(3), I(4), R(3), I(45000)},
        };
        {
            engine::BulkInserter in(x.Path);  // holds the table lock while it lives
            for (const auto& row : rows) in.Add(row);
            in.Commit();
        }
        for (std::size_t c = 0; c < schema.Columns.size(); ++c)
            x.Columns.push_back({schema.Columns[c].Name, schema.Columns[c].Type, static_cast<int>(c)});
        x.Table.Open(x.Path);
        x.Raw.Open(x.Path, engine::OpenMode::ReadWrite);
        return true;
    }();
    (void)ready;
    return x;
}

std::size_t CodePoints(const std::string& s) {
    std::size_t n = 0;
    for (unsigned char c : s) n += (c & 0xC0) != 0x80;
    return n;
}

void CheckRefusal(const std::string& message, const std::string& expression) {
    static const std::string prefix = "Filter expression error at position ";
    fuzz::Check(message.starts_with(prefix), "a refused expression without its position: " + message);
    std::size_t i = prefix.size();
    std::size_t position = 0;
    while (i < message.size() && std::isdigit(static_cast<unsigned char>(message[i])))
        position = position * 10 + static_cast<std::size_t>(message[i++] - '0');
    fuzz::Check(i < message.size() && message[i] == ':', "no position number: " + message);
    fuzz::Check(position >= 1 && position <= CodePoints(expression) + 1, "the position lies outside the text: " + message);
}

// The compiled fragment holds only what the compiler itself writes.
void CheckFragment(const std::string& sql, std::size_t params, std::size_t columns) {
    static const std::set<std::string> words = {"AND", "OR", "NOT", "IS", "NULL", "COLLATE", "FILTER_FOLD",
                                                "BINARY", "filter_prefix", "filter_logic"};
    std::size_t marks = 0;
    for (std::size_t i = 0; i < sql.size();) {
        const unsigned char c = static_cast<unsigned char>(sql[i]);
        if (std::isalpha(c) || c == '_') {
            std::size_t j = i;
            while (j < sql.size() && (std::isalnum(static_cast<unsigned char>(sql[j])) || sql[j] == '_')) ++j;
            const std::string word = sql.substr(i, j - i);
            bool column = word.size() > 1 && word[0] == 'c';
            for (std::size_t k = 1; column && k < word.size(); ++k)
                column = std::isdigit(static_cast<unsigned char>(word[k])) != 0;
            fuzz::Check(words.count(word) || (column && std::stoul(word.substr(1)) < columns),
                        "the statement holds a word the compiler does not write: " + word + " in " + sql);
            i = j;
        } else if (std::isdigit(c)) {
            fuzz::Check((c == '0' || c == '1') && (i + 1 >= sql.size() || !std::isdigit(static_cast<unsigned char>(sql[i + 1]))),
                        "the statement holds a number of the expression: " + sql);
            ++i;
        } else if (c == '?') {
            ++marks;
            ++i;
        } else {
            fuzz::Check(std::string(" (),=<>|").find(static_cast<char>(c)) != std::string::npos,
                        "the statement holds a character of the expression: " + sql);
            ++i;
        }
    }
    fuzz::Check(marks == params, "the statement's parameters do not match its values: " + sql);
}

// Records that the compiled fragment selects, counted by SQLite directly.
std::int64_t CountSelected(Fixture& f, const engine::CompiledFilter& compiled) {
    const std::string sql = "SELECT count(*) FROM records" + (compiled.Empty() ? "" : " WHERE " + compiled.Where);
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare_v2(f.Raw.Db(), sql.c_str(), -1, &stmt, nullptr) != SQLITE_OK)
        fuzz::Fail("the compiled statement does not prepare: " + std::string(sqlite3_errmsg(f.Raw.Db())) + " in " + sql);
    fuzz::Check(sqlite3_bind_parameter_count(stmt) == static_cast<int>(compiled.Params.size()),
                "SQLite counts other parameters than the compiler: " + sql);
    engine::BindFilterParams(stmt, 1, compiled.Params);
    const int rc = sqlite3_step(stmt);
    const std::int64_t n = sqlite3_column_int64(stmt, 0);
    sqlite3_finalize(stmt);
    fuzz::Check(rc == SQLITE_ROW, "the compiled statement fails: " + sql);
    return n;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    Fixture& f = Setup();
    const int flags = data[0] & 3;
    static const char* const orders[] = {"", "Name", "Day+Amount", ""};
    const std::string expression(reinterpret_cast<const char*>(data) + 1, size - 1);

    engine::CompiledFilter compiled;
    bool refused = false;
    try {
        compiled = engine::CompileFilter(expression, f.Columns, flags);
    } catch (const engine::EngineError& e) {
        CheckRefusal(e.what(), expression);
        refused = true;
    }
    if (!refused) CheckFragment(compiled.Where, compiled.Params.size(), f.Columns.size());

    f.Table.SetIndex(orders[(data[0] >> 2) & 3]);
    try {
        f.Table.SetVisibility(expression, flags, std::nullopt, std::nullopt);
        fuzz::Check(!refused, "the table takes an expression that the compiler refuses");
    } catch (const engine::EngineError& e) {
        fuzz::Check(refused, std::string("the table refuses an expression that compiles: ") + e.what());
        return 0;
    }
    const std::int64_t selected = CountSelected(f, compiled);
    fuzz::Check(f.Table.CountRecords() == selected, "the filtered count differs from the statement's");
    std::int64_t walked = 0;
    for (f.Table.MoveFirst(); !f.Table.Eof(); f.Table.MoveNext()) ++walked;
    fuzz::Check(walked == selected, "the filtered walk differs from the statement's count");
    f.Table.ClearVisibility();
    return 0;
}
