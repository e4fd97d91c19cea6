// TMoneyTable benchmark, on tables of the shapes (a) to (e) (BenchTable.h),
// each measured side by side with its baselines in the same run:
//   - a full forward scan through TMoneyTable (First, then Next until Eof,
//     reading every field's AsString), against the scan through the engine
//     interface and the plain SQLite scan of the same page store (every
//     column read as text);
//   - the TAB export (moneytable/Export.h) against the sqlite3 command-line
//     program writing the same rows, TAB-separated, from a plain SQLite copy
//     of the page store;
//   - the resident memory that the scans and exports add (flat in the
//     table's size: compare two sizes);
//   - on shape (a), 10,000 edits and posts (each a record lock, a re-read
//     under it and a transaction writing what changed). Each post flips the
//     lowest bit of the record's Category, so every other run leaves the
//     table as it was. Then as many under a filter that shows one record in
//     300 (each flipping the lowest bit of Seq), against the unfiltered
//     posts as the baseline.
// Every figure is the best of alternating rounds: the machine's other load
// only ever adds time.
//
// Usage: moneytable_bench [RECORDS [FOLDER [SHAPES]]]
//   (defaults: 100000 records, $TMPDIR or /tmp, shapes "abcde")
// The tables are kept in FOLDER (tamblor-bench-N.dat for shape (a), which
// the engine and seek benchmarks share, tamblor-bench-X-N.dat for the
// others) and reused by the next run. Needs the sqlite3 program on the PATH
// for the export baseline.
#include "BenchTable.h"

#include "engine/Engine.h"
#include "engine/Vfs.h"
#include "moneytable/Export.h"
#include "moneytable/Tamblor.h"

#include <sqlite3.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

using namespace bench;

namespace {

struct Timing {
    double Wall = 1e30;
    double Cpu = 1e30;
    void Keep(const Timing& t) {
        Wall = std::min(Wall, t.Wall);
        Cpu = std::min(Cpu, t.Cpu);
    }
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

// Reads the whole file once, so that the timed rounds find it in the
// operating system's cache.
void WarmUp(const std::string& Path) {
    std::FILE* fp = std::fopen(Path.c_str(), "rb");
    std::vector<char> buf(1 << 20);
    while (fp && std::fread(buf.data(), 1, buf.size(), fp) == buf.size()) {
    }
    if (fp) std::fclose(fp);
}

std::string SelectAll(std::size_t Columns) {
    std::string s = "SELECT rowid";
    for (std::size_t c = 0; c < Columns; ++c) s += ",c" + std::to_string(c);
    return s + " FROM records ORDER BY rowid";
}

struct ShapeResult {
    char Letter = 0;
    Timing TableScan, EngineScan, BaseScan, Export, Cli;
    long long ExportBytes = 0, CliBytes = 0;
    long RssGrowth = 0;
    bool Ok = true;
};

ShapeResult RunShape(const Shape& shape, std::int64_t n, const std::string& dir, bool posts) {
    ShapeResult r;
    r.Letter = shape.Letter;
    const std::string path = dir + "/tamblor-bench-" + (shape.Letter == 'a' ? "" : std::string(1, shape.Letter) + "-") +
                             std::to_string(n) + ".dat";
    std::printf("\n(%c) %s: %lld records, table %s\n", shape.Letter, shape.Title, static_cast<long long>(n),
                path.c_str());
    const double rate = EnsureShapeTable(path, shape, n);
    if (rate > 0)
        std::printf("bulk insert:            %8.0f records/s\n", rate);
    else
        std::printf("(table reused)\n");
    WarmUp(path);
    const std::size_t ncol = shape.Schema.Columns.size();

    // The plain copy for the sqlite3 program holds the records only (the
    // indexes of the page store need the engine's collation, which the
    // program lacks).
    const std::string plain = dir + "/tamblor-bench-plain.db";
    const std::string out = dir + "/tamblor-bench-export.txt";
    const std::string cliOut = dir + "/tamblor-bench-export-cli.txt";
    std::remove(plain.c_str());
    {
        sqlite3* plainDb = nullptr;
        sqlite3_open_v2(plain.c_str(), &plainDb, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_URI, nullptr);
        char* err = nullptr;
        const std::string copy = std::string("ATTACH 'file:") + path + "?mode=ro&vfs=" + engine::RegisterPageStoreVfs() +
                                 "' AS src; CREATE TABLE records AS SELECT * FROM src.records ORDER BY rowid; DETACH src;";
        if (sqlite3_exec(plainDb, copy.c_str(), nullptr, nullptr, &err) != SQLITE_OK) {
            std::printf("copying the page store failed: %s\n", err ? err : "?");
            sqlite3_free(err);
            r.Ok = false;
        }
        sqlite3_close(plainDb);
    }
    const std::string cmd = "sqlite3 -header -separator \"$(printf '\\t')\" -newline \"$(printf '\\r\\n')\" '" + plain +
                            "' '" + SelectAll(ncol) + "' > '" + cliOut + "'";

    const long rss0 = RssKiB();
    TMoneyTable T(nullptr);
    T.SetFileName(path);
    T.Open();

    CoInitialize(nullptr);
    auto engineTable = CoBFTable::Create();
    std::int32_t st = 0;
    OleCheck(engineTable->OpenTable(OleVariant(path), &st));
    std::vector<OleVariant> cols;
    for (const engine::ColumnSpec& c : shape.Schema.Columns) cols.emplace_back(c.Name.c_str());

    sqlite3* db = nullptr;
    sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, engine::RegisterPageStoreVfs());
    sqlite3_stmt* stmt = nullptr;
    sqlite3_prepare_v2(db, SelectAll(ncol).c_str(), -1, &stmt, nullptr);

    std::int64_t rows = 0, engineRows = 0, baseRows = 0;
    std::size_t bytes = 0;
    std::string text;
    long rssMax = RssKiB();
    for (int round = 0; round < 3; ++round) {
        r.TableScan.Keep(Measure([&] {
            rows = 0;
            for (T.First(); !T.Eof(); T.Next()) {
                for (int i = 0; i < T.FieldCount(); ++i) bytes += T.Fields(i)->AsString().size();
                ++rows;
            }
        }));
        r.EngineScan.Keep(Measure([&] {
            engineRows = 0;
            OleVariant v;
            OleCheck(engineTable->MoveFirst(&st));
            WordBool eof = VARIANT_FALSE;
            OleCheck(engineTable->GetEof(&eof));
            while (!eof) {
                for (const OleVariant& c : cols) OleCheck(engineTable->GetColumnValue(c, &v));
                ++engineRows;
                OleCheck(engineTable->MoveNext(&st));
                OleCheck(engineTable->GetEof(&eof));
            }
        }));
        r.BaseScan.Keep(Measure([&] {
            baseRows = 0;
            while (sqlite3_step(stmt) == SQLITE_ROW) {
                for (int c = 0; c <= static_cast<int>(ncol); ++c) {
                    const unsigned char* s = sqlite3_column_text(stmt, c);
                    text.assign(s ? reinterpret_cast<const char*>(s) : "",
                                static_cast<std::size_t>(sqlite3_column_bytes(stmt, c)));
                }
                ++baseRows;
            }
            sqlite3_reset(stmt);
        }));
        rssMax = std::max(rssMax, RssKiB());
        r.Export.Keep(Measure([&] { moneytable::ExportDataSetToFile(&T, out, moneytable::TExportFormat::Tab); }));
        rssMax = std::max(rssMax, RssKiB());
        int rc = 0;
        const double childCpu0 = ChildCpuSeconds();
        Timing cli = Measure([&] { rc = std::system(cmd.c_str()); });
        cli.Cpu = ChildCpuSeconds() - childCpu0;
        if (rc != 0) {
            std::printf("the sqlite3 program FAILED (%d)\n", rc);
            r.Ok = false;
        }
        r.Cli.Keep(cli);
    }
    r.RssGrowth = rssMax - rss0;
    r.ExportBytes = FileSize(out);
    r.CliBytes = FileSize(cliOut);
    sqlite3_finalize(stmt);
    sqlite3_close(db);
    OleCheck(engineTable->CloseTable());
    engineTable.reset();
    std::remove(out.c_str());
    std::remove(cliOut.c_str());
    std::remove(plain.c_str());

    const double nr = static_cast<double>(n ? n : 1);
    std::printf("scan via TMoneyTable:   %8.3f s wall, %7.3f s CPU (%.2f us/record CPU)\n", r.TableScan.Wall,
                r.TableScan.Cpu, r.TableScan.Cpu / nr * 1e6);
    std::printf("scan via engine:        %8.3f s wall, %7.3f s CPU\n", r.EngineScan.Wall, r.EngineScan.Cpu);
    std::printf("scan via SQLite:        %8.3f s wall, %7.3f s CPU [baseline]\n", r.BaseScan.Wall, r.BaseScan.Cpu);
    std::printf("scan ratio:             %8.2f x SQLite in CPU time, %.2f x in wall time (target <= 2)\n",
                r.TableScan.Cpu / r.BaseScan.Cpu, r.TableScan.Wall / r.BaseScan.Wall);
    std::printf("TAB export:             %8.3f s wall, %7.3f s CPU (%lld bytes)\n", r.Export.Wall, r.Export.Cpu,
                r.ExportBytes);
    std::printf("sqlite3 -separator:     %8.3f s wall, %7.3f s CPU (%lld bytes) [baseline]\n", r.Cli.Wall, r.Cli.Cpu,
                r.CliBytes);
    std::printf("export ratio:           %8.2f x the sqlite3 program in CPU time, %.2f x in wall time (target <= 1.5)\n",
                r.Export.Cpu / r.Cli.Cpu, r.Export.Wall / r.Cli.Wall);
    std::printf("memory:                 %8ld KiB resident added by the scans and exports\n", r.RssGrowth);

    if (posts) {
        // Walks Records records from the first, flipping the low bit of
        // Field in each and posting it.
        const auto PostWalk = [&T](TField* Field, int Records) {
            T.First();
            return Measure([&] {
                for (int i = 0; i < Records; ++i) {
                    T.Edit();
                    Field->SetAsInteger(Field->AsInteger() ^ 1);
                    T.Post();
                    T.Next();
                }
            });
        };
        const int count = static_cast<int>(std::min<std::int64_t>(10000, n));
        const Timing postTime = PostWalk(T.FieldByName("Category"), count);
        std::printf("%d edits and posts:  %8.3f s wall, %.3f s CPU (%.3f ms per post; target <= 2 s) [baseline]\n",
                    count, postTime.Wall, postTime.Cpu, postTime.Wall / count * 1000);

        // The same walk under a filter that shows one record in 300, as
        // "Fill field in records" runs on a filtered view; each post flips
        // the low bit of Seq, which the filter does not read.
        T.SetFilter("Category = 3");
        T.SetFiltered(true);
        const int shown = std::min(count, T.RecordCount());
        const Timing filteredTime = PostWalk(T.FieldByName("Seq"), shown);
        std::printf("%d under a filter:     %8.3f s wall, %.3f s CPU (%.3f ms per post, %.2f x the unfiltered posts)\n",
                    shown, filteredTime.Wall, filteredTime.Cpu, filteredTime.Wall / shown * 1000,
                    (filteredTime.Wall / shown) / (postTime.Wall / count));
        T.SetFiltered(false);
    }
    T.Close();
    CoUninitialize();
    if (rows != n || engineRows != n || baseRows != n) {
        std::printf("MISMATCH: TMoneyTable %lld records, engine %lld, SQLite %lld\n", static_cast<long long>(rows),
                    static_cast<long long>(engineRows), static_cast<long long>(baseRows));
        r.Ok = false;
    }
    return r;
}

}  // namespace

int main(int argc, char** argv) {
    const std::int64_t n = argc > 1 ? std::atoll(argv[1]) : 100000;
    const char* tmp = std::getenv("TMPDIR");
    const std::string dir = argc > 2 ? argv[2] : (tmp && *tmp ? tmp : "/tmp");
    const std::string letters = argc > 3 ? argv[3] : "abcde";
    FormatSettings = TFormatSettings::Invariant();
    engine::RegisterEngineServer();
    std::printf("TMoneyTable benchmark: %lld records per table, shapes %s, best of 3 alternating rounds\n",
                static_cast<long long>(n), letters.c_str());

    std::vector<ShapeResult> results;
    for (const Shape& s : Shapes())
        if (letters.find(s.Letter) != std::string::npos) results.push_back(RunShape(s, n, dir, s.Letter == 'a'));

    bool ok = true;
    std::printf("\nshape  scan/SQLite (CPU, wall)   export/sqlite3 (CPU, wall)   memory added\n");
    for (const ShapeResult& r : results) {
        std::printf("(%c)    %5.2f x  %5.2f x         %5.2f x  %5.2f x              %6ld KiB\n", r.Letter,
                    r.TableScan.Cpu / r.BaseScan.Cpu, r.TableScan.Wall / r.BaseScan.Wall, r.Export.Cpu / r.Cli.Cpu,
                    r.Export.Wall / r.Cli.Wall, r.RssGrowth);
        ok = ok && r.Ok;
    }
    std::printf("targets: scan <= 2 x, export <= 1.5 x\n");
    return ok ? 0 : 1;
}
