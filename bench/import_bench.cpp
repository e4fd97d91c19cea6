// Bulk import benchmark: the rows of the sample's transactions table (the
// shape that `tamblor sample` writes: 16 columns, six indexes, one of them
// over a collated text) loaded through engine::BulkInserter into a new table,
// against plain SQLite loading the same rows into a plain database file with
// the same indexes (no journal, no sync, indexes built after the rows: the
// fastest load plain SQLite has). Only the loads are timed, not the making of
// the rows.
//
// It also counts what the load writes, through the engine's StorageIo: the
// bytes written into the table file against the page store's final size
// (each page written about once: near 1), and the largest size that each side
// file reached (write-ahead log, rollback journal, temporary files of the
// index sorts).
//
// Usage: import_bench [RECORDS [FOLDER]]   (default 1000000 records, $TMPDIR)
#include "BenchTable.h"

#include "engine/Collation.h"
#include "engine/Engine.h"
#include "engine/PageStore.h"
#include "engine/StorageIo.h"
#include "engine/Vfs.h"
#include "tools/Sample.h"

#include <sqlite3.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <mutex>
#include <string>
#include <vector>

using namespace bench;

namespace {

// Bytes written per kind of file, and the largest extent each file reached.
class CountingIo : public engine::StorageIo {
public:
    std::int64_t TableBytes = 0;
    std::int64_t SideBytes = 0;
    std::map<std::string, std::int64_t> SideExtent;  // by path
    std::int64_t TemporaryBytes = 0;

    int Write(engine::StorageFile& f, const void* b, int n, std::int64_t off) override {
        {
            std::lock_guard<std::mutex> g(FMutex);
            if (f.Kind == engine::FileKind::Table) {
                TableBytes += n;
            } else if (f.Path.empty()) {
                TemporaryBytes += n;
            } else {
                SideBytes += n;
                std::int64_t& e = SideExtent[f.Path];
                e = std::max(e, off + n);
            }
        }
        return StorageIo::Write(f, b, n, off);
    }

private:
    std::mutex FMutex;
};

// Calls load(rows) for chunks of the sample's transaction rows and returns
// the time spent in load only.
template <class Load>
double TimedLoad(std::int64_t n, double& cpu, Load load) {
    std::vector<std::vector<engine::Value>> chunk;
    chunk.reserve(65536);
    double wall = 0;
    cpu = 0;
    auto flush = [&] {
        const auto a = Clock::now();
        const double c = CpuSeconds();
        load(chunk);
        cpu += CpuSeconds() - c;
        wall += Seconds(a, Clock::now());
        chunk.clear();
    };
    tools::SampleTransactions(n, 12, tools::SamplePayeeCount(n), [&](const std::vector<engine::Value>& row) {
        chunk.push_back(row);
        if (chunk.size() == 65536) flush();
    });
    flush();
    return wall;
}

long long FileSize(const std::string& path) {
    std::error_code ec;
    const auto s = std::filesystem::file_size(path, ec);
    return ec ? -1 : static_cast<long long>(s);
}

}  // namespace

int main(int argc, char** argv) {
    const std::int64_t n = argc > 1 ? std::atoll(argv[1]) : 1000000;
    const char* tmp = std::getenv("TMPDIR");
    const std::string dir = argc > 2 ? argv[2] : (tmp && *tmp ? tmp : "/tmp");
    const std::string path = dir + "/tamblor-import-" + std::to_string(n) + ".dat";
    const std::string plain = dir + "/tamblor-import-plain.db";
    const engine::TableSchema schema = tools::SampleSchemas()[2].Schema;
    std::printf("import benchmark: %lld records of the sample's transactions (%zu columns, %zu indexes), table %s\n",
                static_cast<long long>(n), schema.Columns.size(), schema.Indexes.size(), path.c_str());

    // ---- the engine's bulk load ----
    for (const char* suffix : {"", "-wal", "-shm", "-journal"}) std::remove((path + suffix).c_str());
    engine::CreateTable(path, schema);
    const long long created = FileSize(path);
    CountingIo io;
    engine::SetStorageIo(&io);
    double cpu = 0, commitCpu = 0, commitWall = 0;
    double wall = 0;
    {
        engine::BulkInserter ins(path);
        wall = TimedLoad(n, cpu, [&](const std::vector<std::vector<engine::Value>>& rows) {
            for (const auto& r : rows) ins.Add(r);
        });
        const auto a = Clock::now();
        const double c = CpuSeconds();
        ins.Commit();
        commitCpu = CpuSeconds() - c;
        commitWall = Seconds(a, Clock::now());
    }
    engine::SetStorageIo(nullptr);
    wall += commitWall;
    cpu += commitCpu;
    const long long size = FileSize(path);
    const double grown = static_cast<double>(size - created);
    std::printf("bulk load:              %10.0f rows/s (%.3f s wall, %.3f s CPU, of which the commit %.3f s wall; "
                "%.3f s CPU; target >= 300000 rows/s)\n",
                static_cast<double>(n) / wall, wall, cpu, commitWall, commitCpu);
    std::printf("table file:             %10lld bytes; written: %lld bytes into it and %lld into its side files, "
                "%.2f x its growth in all (each page once: about 1)\n",
                size, static_cast<long long>(io.TableBytes), static_cast<long long>(io.SideBytes),
                static_cast<double>(io.TableBytes + io.SideBytes) / grown);
    std::int64_t side = 0;
    for (const auto& [file, extent] : io.SideExtent) {
        std::printf("side file:              %10lld bytes at most, %.2f %% of the table (%s)\n",
                    static_cast<long long>(extent), 100.0 * static_cast<double>(extent) / static_cast<double>(size),
                    file.c_str());
        side = std::max(side, extent);
    }
    if (io.SideExtent.empty()) std::printf("side file:              none\n");
    std::printf("temporary files:        %10lld bytes written (the sorts of the indexes, elsewhere)\n",
                static_cast<long long>(io.TemporaryBytes));

    // ---- plain SQLite, the same rows ----
    std::remove(plain.c_str());
    sqlite3* db = nullptr;
    sqlite3_open(plain.c_str(), &db);
    engine::Collator coll(schema.Locale);
    engine::RegisterMoneyKey(db, &coll);
    sqlite3_exec(db, "PRAGMA journal_mode=OFF; PRAGMA synchronous=OFF; PRAGMA cache_size=-262144", nullptr, nullptr,
                 nullptr);
    std::string create = "CREATE TABLE records(rowid INTEGER PRIMARY KEY AUTOINCREMENT";
    std::string insert = "INSERT INTO records VALUES(NULL";
    for (std::size_t c = 0; c < schema.Columns.size(); ++c) {
        create += ",c" + std::to_string(c) + " " + engine::SqlTypeOf(schema.Columns[c].Type);
        insert += ",?";
    }
    sqlite3_exec(db, (create + ")").c_str(), nullptr, nullptr, nullptr);
    sqlite3_stmt* stmt = nullptr;
    sqlite3_prepare_v2(db, (insert + ")").c_str(), -1, &stmt, nullptr);
    sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr);
    double baseCpu = 0;
    double baseWall = TimedLoad(n, baseCpu, [&](const std::vector<std::vector<engine::Value>>& rows) {
        for (const auto& r : rows) {
            for (std::size_t c = 0; c < r.size(); ++c) {
                const int p = static_cast<int>(c + 1);
                const engine::Value& v = r[c];
                switch (v.kind) {
                case engine::Value::Kind::Null: sqlite3_bind_null(stmt, p); break;
                case engine::Value::Kind::Int: sqlite3_bind_int64(stmt, p, v.i); break;
                case engine::Value::Kind::Real: sqlite3_bind_double(stmt, p, v.r); break;
                case engine::Value::Kind::Text:
                    sqlite3_bind_text(stmt, p, v.s.data(), static_cast<int>(v.s.size()), SQLITE_STATIC);
                    break;
                }
            }
            sqlite3_step(stmt);
            sqlite3_reset(stmt);
        }
    });
    sqlite3_finalize(stmt);
    {
        const auto a = Clock::now();
        const double c = CpuSeconds();
        for (std::size_t k = 0; k < schema.Indexes.size(); ++k) {
            std::string ix = std::string("CREATE ") + (schema.Indexes[k].Unique ? "UNIQUE " : "") + "INDEX ix" +
                             std::to_string(k) + " ON records(";
            for (std::size_t i = 0; i < schema.Indexes[k].Columns.size(); ++i) {
                const int col = schema.Indexes[k].Columns[i];
                const char t = schema.Columns[static_cast<std::size_t>(col)].Type;
                ix += (i ? ",c" : "c") + std::to_string(col) +
                      (t == 'C' || t == 'U' || t == 'M' || t == 'G' ? " COLLATE MONEYKEY" : "");
            }
            sqlite3_exec(db, (ix + ")").c_str(), nullptr, nullptr, nullptr);
        }
        sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
        baseCpu += CpuSeconds() - c;
        baseWall += Seconds(a, Clock::now());
    }
    sqlite3_close(db);
    std::printf("plain SQLite:           %10.0f rows/s (%.3f s wall, %.3f s CPU; no journal, no sync) [baseline]\n",
                static_cast<double>(n) / baseWall, baseWall, baseCpu);
    std::printf("load ratio:             %10.2f x the baseline in CPU time, %.2f x in wall time\n", cpu / baseCpu,
                wall / baseWall);
    std::remove(plain.c_str());
    const bool ok = engine::ReadTableInfo(path).RecordCount == n;
    if (!ok) std::printf("MISMATCH: the table does not hold %lld records\n", static_cast<long long>(n));
    std::remove(path.c_str());
    return ok ? 0 : 1;
}
