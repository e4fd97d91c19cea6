// TMoneyTable benchmark, on the engine benchmarks' table:
//   - a full forward scan through TMoneyTable (First, then Next until Eof,
//     reading every field's AsString), against the scan through the engine
//     interface and the plain SQLite scan of the same page store;
//   - the TAB export (moneytable/Export.h) against the sqlite3 command-line
//     program writing the same rows, TAB-separated, from a plain SQLite copy
//     of the page store;
//   - 10,000 edits and posts (each a record lock, a re-read under it and a
//     transaction writing what changed). Each post flips the lowest bit of
//     the record's Category, so every other run leaves the table as it was.
//
// Usage: moneytable_bench [RECORDS [TABLE-PATH]]   (default 100000 records)
// Needs the sqlite3 program on the PATH for the export baseline.
#include "BenchTable.h"

#include "engine/Engine.h"
#include "engine/Vfs.h"
#include "moneytable/Export.h"
#include "moneytable/Tamblor.h"

#include <sqlite3.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

using namespace bench;

namespace {

struct Timing {
    double Wall = 0;
    double Cpu = 0;
};

template <class F>
Timing Measure(F&& Fn) {
    const auto a = Clock::now();
    const double c = CpuSeconds();
    Fn();
    return {Seconds(a, Clock::now()), CpuSeconds() - c};
}

// CPU time (user and system) of the finished child processes.
double ChildCpuSeconds() {
    rusage ru {};
    getrusage(RUSAGE_CHILDREN, &ru);
    return static_cast<double>(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) +
           static_cast<double>(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) * 1e-6;
}

long long FileSize(const std::string& Path) {
    struct stat st {};
    return ::stat(Path.c_str(), &st) == 0 ? static_cast<long long>(st.st_size) : -1;
}

}  // namespace

int main(int argc, char** argv) {
    const std::int64_t n = argc > 1 ? std::atoll(argv[1]) : 100000;
    const char* tmp = std::getenv("TMPDIR");
    const std::string dir = tmp && *tmp ? tmp : "/tmp";
    const std::string path = argc > 2 ? argv[2] : dir + "/tamblor-bench-" + std::to_string(n) + ".dat";
    std::printf("TMoneyTable benchmark: %lld records, 10 columns, table %s\n", static_cast<long long>(n), path.c_str());
    if (EnsureTable(path, n) == 0) std::printf("(table reused)\n");
    FormatSettings = TFormatSettings::Invariant();
    engine::RegisterEngineServer();

    // ---- scan through TMoneyTable ----
    TMoneyTable T(nullptr);
    T.SetFileName(path);
    T.Open();
    std::int64_t rows = 0;
    std::size_t bytes = 0;
    const Timing tableScan = Measure([&] {
        for (T.First(); !T.Eof(); T.Next()) {
            for (int i = 0; i < T.FieldCount(); ++i) bytes += T.Fields(i)->AsString().size();
            ++rows;
        }
    });

    // ---- scan through the engine interface ----
    CoInitialize(nullptr);
    std::int64_t engineRows = 0;
    Timing engineScan;
    {
        auto t = CoBFTable::Create();
        std::int32_t st = 0;
        OleCheck(t->OpenTable(OleVariant(path), &st));
        std::vector<OleVariant> cols;
        for (const char* c : {"Name", "Payee", "Day", "Amount", "Flag", "Seq", "Memo", "Category", "Clock", "Id"})
            cols.emplace_back(c);
        OleVariant v;
        engineScan = Measure([&] {
            OleCheck(t->MoveFirst(&st));
            WordBool eof = VARIANT_FALSE;
            OleCheck(t->GetEof(&eof));
            while (!eof) {
                for (const OleVariant& c : cols) OleCheck(t->GetColumnValue(c, &v));
                ++engineRows;
                OleCheck(t->MoveNext(&st));
                OleCheck(t->GetEof(&eof));
            }
        });
        OleCheck(t->CloseTable());
    }

    // ---- plain SQLite scan of the page store ----
    sqlite3* db = nullptr;
    sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, engine::RegisterPageStoreVfs());
    sqlite3_stmt* stmt = nullptr;
    sqlite3_prepare_v2(db, "SELECT rowid,c0,c1,c2,c3,c4,c5,c6,c7,c8,c9 FROM records ORDER BY rowid", -1, &stmt,
                       nullptr);
    std::int64_t baseRows = 0;
    std::string text;
    const Timing baseScan = Measure([&] {
        while (sqlite3_step(stmt) == SQLITE_ROW) {
            for (int c = 0; c <= 10; ++c) {
                const unsigned char* s = sqlite3_column_text(stmt, c);
                text.assign(s ? reinterpret_cast<const char*>(s) : "", static_cast<std::size_t>(sqlite3_column_bytes(stmt, c)));
            }
            ++baseRows;
        }
    });
    sqlite3_finalize(stmt);

    std::printf("scan via TMoneyTable:   %8.3f s wall, %7.3f s CPU (%lld records, %.2f us/record CPU)\n",
                tableScan.Wall, tableScan.Cpu, static_cast<long long>(rows), tableScan.Cpu / double(rows ? rows : 1) * 1e6);
    std::printf("scan via engine:        %8.3f s wall, %7.3f s CPU\n", engineScan.Wall, engineScan.Cpu);
    std::printf("scan via SQLite:        %8.3f s wall, %7.3f s CPU [baseline]\n", baseScan.Wall, baseScan.Cpu);
    std::printf("scan ratios (CPU):      %8.2f x SQLite (target <= 3), %.2f x the engine interface\n",
                tableScan.Cpu / baseScan.Cpu, tableScan.Cpu / engineScan.Cpu);

    // ---- TAB export against the sqlite3 program on a plain copy ----
    const std::string out = dir + "/tamblor-bench-export.txt";
    const std::string plain = dir + "/tamblor-bench-plain.db";
    const std::string cliOut = dir + "/tamblor-bench-export-cli.txt";
    std::remove(plain.c_str());
    // The plain copy holds the records only (the indexes of the page store
    // need the engine's collation, which the sqlite3 program lacks).
    sqlite3_close(db);
    char* err = nullptr;
    sqlite3* plainDb = nullptr;
    sqlite3_open_v2(plain.c_str(), &plainDb, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_URI, nullptr);
    const std::string copy = std::string("ATTACH 'file:") + path + "?mode=ro&vfs=" + engine::RegisterPageStoreVfs() +
                             "' AS src; CREATE TABLE records AS SELECT * FROM src.records ORDER BY rowid; DETACH src;";
    if (sqlite3_exec(plainDb, copy.c_str(), nullptr, nullptr, &err) != SQLITE_OK) {
        std::printf("copying the page store failed: %s\n", err ? err : "?");
        sqlite3_free(err);
    }
    sqlite3_close(plainDb);
    const Timing exportTable = Measure([&] { moneytable::ExportDataSetToFile(&T, out, moneytable::TExportFormat::Tab); });
    const std::string cmd = "sqlite3 -header -separator \"$(printf '\\t')\" -newline \"$(printf '\\r\\n')\" '" + plain +
                            "' 'SELECT rowid,c0,c1,c2,c3,c4,c5,c6,c7,c8,c9 FROM records ORDER BY rowid' > '" + cliOut + "'";
    int rc = 0;
    const double childCpu0 = ChildCpuSeconds();
    Timing exportCli = Measure([&] { rc = std::system(cmd.c_str()); });
    exportCli.Cpu = ChildCpuSeconds() - childCpu0;
    std::printf("TAB export:             %8.3f s wall, %7.3f s CPU (%lld bytes)\n", exportTable.Wall, exportTable.Cpu,
                FileSize(out));
    std::printf("sqlite3 -separator:     %8.3f s wall, %7.3f s CPU (%lld bytes) [baseline%s]\n", exportCli.Wall,
                exportCli.Cpu, FileSize(cliOut), rc == 0 ? "" : ", FAILED");
    std::printf("export ratios:          %8.2f x the sqlite3 program in wall time, %.2f x in CPU time (target <= 1.5)\n",
                exportTable.Wall / exportCli.Wall, exportTable.Cpu / exportCli.Cpu);
    std::remove(out.c_str());
    std::remove(cliOut.c_str());
    std::remove(plain.c_str());

    // ---- 10,000 edits and posts ----
    const int posts = static_cast<int>(std::min<std::int64_t>(10000, n));
    TField* category = T.FieldByName("Category");
    T.First();
    const Timing postTime = Measure([&] {
        for (int i = 0; i < posts; ++i) {
            T.Edit();
            category->SetAsInteger(category->AsInteger() ^ 1);
            T.Post();
            T.Next();
        }
    });
    std::printf("%d edits and posts:  %8.3f s wall, %.3f s CPU (%.3f ms per post; target <= 2 s)\n", posts,
                postTime.Wall, postTime.Cpu, postTime.Wall / posts * 1000);
    T.Close();
    CoUninitialize();
    if (rows != n || engineRows != n || baseRows != n) {
        std::printf("MISMATCH: TMoneyTable %lld records, engine %lld, SQLite %lld\n", static_cast<long long>(rows),
                    static_cast<long long>(engineRows), static_cast<long long>(baseRows));
        return 1;
    }
    return 0;
}
