// CheckTable: verifies a table file without writing to it.
#include "engine/Catalog.h"
#include "engine/Collation.h"
#include "engine/Engine.h"
#include "engine/Locks.h"
#include "engine/PageStore.h"
#include "engine/Table.h"

#include <charconv>
#include <functional>
#include <memory>

namespace engine {

namespace {

std::string Counted(std::int64_t n, const char* one, const char* many) {
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

std::int64_t CountOf(PageStore& store, const std::string& sql) {
    Query q = store.Prepare(sql);
    if (!q.Step()) throw EngineError("Table file '" + store.Path() + "' is damaged (a count gave no result)");
    return q.Int(0);
}

// SQLite's messages name the page store's indexes ix0, ix1, ...: each gets
// the name of its catalog index added.
std::string WithIndexNames(const std::string& text, const TableSchema& schema) {
    const auto digit = [&](std::size_t i) { return i < text.size() && text[i] >= '0' && text[i] <= '9'; };
    std::string out;
    for (std::size_t i = 0; i < text.size();) {
        if (text.compare(i, 2, "ix") != 0 || (i > 0 && text[i - 1] != ' ') || !digit(i + 2)) {
            out.push_back(text[i++]);
            continue;
        }
        std::size_t end = i + 2, number = 0;
        for (; digit(end); ++end)
            if (end - i < 6) number = number * 10 + static_cast<std::size_t>(text[end] - '0');
        out.append(text, i, end - i);
        if (end - i <= 6 && number < schema.Indexes.size())
            out += " (index " + std::to_string(number + 1) + " '" + IndexName(schema, schema.Indexes[number]) + "')";
        i = end;
    }
    return out;
}

}  // namespace

std::vector<CheckLine> CheckTable(const std::string& path0) {
    const std::string path = ResolveTablePath(path0);
    std::vector<CheckLine> out;
    const auto sound = [&](std::string text) { out.push_back({false, std::move(text)}); };
    const auto problem = [&](std::string text) { out.push_back({true, std::move(text)}); };
    // A check that cannot be carried out is a problem of the table.
    const auto attempt = [&](const std::function<void()>& check) {
        try {
            check();
        } catch (const EngineError& e) {
            problem(e.what());
        }
    };

    // The shared table lock keeps schema changes and bulk inserts away while
    // the check runs; it writes nothing. The page store closes first (see
    // Locks.h).
    TableLocks locks;
    locks.Open(path);
    std::unique_ptr<Collator> collator;  // registered on the connection: outlives it
    PageStore store;
    SchemaFindings found;
    try {
        store.Open(path, OpenMode::Inspect);
        // One read transaction: every check sees the same state of the table.
        store.Exec("BEGIN");
        found = ExamineSchema(store, path);
    } catch (const EngineError& e) {
        problem(e.what());
        return out;
    }
    const TableSchema& schema = found.Schema;
    const std::string shape = "catalog: " + Counted(static_cast<std::int64_t>(schema.Columns.size()), "column", "columns") +
                              ", " + Counted(static_cast<std::int64_t>(schema.Indexes.size()), "index", "indexes") +
                              ", locale " + (schema.Locale.empty() ? "root" : schema.Locale);
    for (const std::string& p : found.Problems) problem(p);
    if (found.Problems.empty())
        sound(shape + (found.HasCopy ? ", as the page store's copy of it says"
                                     : "; the page store holds no copy of it to compare with (a table written by an "
                                       "older version: its next open for writing stores one)"));

    attempt([&] {
        collator = std::make_unique<Collator>(schema.Locale);
        RegisterMoneyKey(store.Db(), collator.get());
        Value built;
        if (store.GetMeta("collator", built) && built.kind == Value::Kind::Text && built.s != collator->Version())
            sound("page store: its indexes were built under the collation " + built.s + ", this engine has " +
                  collator->Version() + " (the next open for writing rebuilds them)");
        Query q = store.Prepare("PRAGMA integrity_check(100)");
        std::vector<std::string> findings;
        while (q.Step()) findings.push_back(q.Column(0).s);
        if (findings.size() == 1 && findings[0] == "ok")
            sound("page store: its integrity check, with the table's collation, found nothing wrong");
        else
            for (const std::string& f : findings)
                problem("page store: " + (found.Problems.empty() ? WithIndexNames(f, schema) : f));
    });

    std::int64_t records = -1;
    attempt([&] { records = CountOf(store, "SELECT count(*) FROM records NOT INDEXED"); });

    // The indexes are checked against their catalog records only when the
    // catalog can be trusted.
    if (found.Problems.empty() && records >= 0) {
        for (std::size_t k = 0; k < schema.Indexes.size(); ++k) {
            attempt([&] {
                const std::string ix = "ix" + std::to_string(k);
                const std::string what =
                    "index " + std::to_string(k + 1) + " '" + IndexName(schema, schema.Indexes[k]) + "'";
                Query q = store.Prepare("SELECT sql FROM sqlite_schema WHERE type='index' AND name=?");
                q.Bind(1, ix);
                if (!q.Step()) return problem(what + ": the page store has no index " + ix + " for it");
                if (q.Column(0).s != IndexSql(schema, k))
                    return problem(what + ": the page store's index " + ix + " does not match its catalog record");
                const std::int64_t entries = CountOf(store, "SELECT count(*) FROM records INDEXED BY " + ix);
                if (entries != records)
                    problem(what + ": " + Counted(entries, "entry", "entries") + " for " +
                            Counted(records, "record", "records"));
                else
                    sound(what + ": as its catalog record says, " + Counted(entries, "entry", "entries") + " for " +
                          Counted(records, "record", "records"));
            });
        }
        attempt([&] {
            Query q = store.Prepare("SELECT name FROM sqlite_schema WHERE type='index' AND name GLOB 'ix[0-9]*'");
            while (q.Step()) {
                const std::string name = q.Column(0).s;
                std::size_t number = 0;
                const auto [end, ec] = std::from_chars(name.data() + 2, name.data() + name.size(), number);
                if (ec != std::errc() || end != name.data() + name.size() || number >= schema.Indexes.size())
                    problem("the page store holds an index " + name + " that the catalog does not list");
            }
        });
    }

    if (records >= 0) {
        attempt([&] {
            Value cached;
            if (!store.GetMeta("count", cached) || cached.kind != Value::Kind::Int)
                problem("records: the page store holds no cached record count");
            else if (cached.i != records)
                problem("records: the cached record count is " + std::to_string(cached.i) + ", the page store holds " +
                        Counted(records, "record", "records"));
            else
                sound("records: " + std::to_string(records) + ", as the cached count says");
        });
    }
    store.Rollback();
    return out;
}

}  // namespace engine
