// Engine benchmark: open time, full forward scan through the engine
// interface against a plain SQLite scan of the same page store, bulk insert
// rate and memory after open.
//
// Usage: engine_bench [RECORDS [TABLE-PATH]]   (default 100000 records)
#include "BenchTable.h"

#include "engine/Engine.h"
#include "engine/Vfs.h"
#include "moneytable/Orbalk_TLB.h"

#include <sqlite3.h>

#include <cstdio>
#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

using namespace bench;

int main(int argc, char** argv) {
    const std::int64_t n = argc > 1 ? std::atoll(argv[1]) : 100000;
    const char* tmp = std::getenv("TMPDIR");
    const std::string path = argc > 2 ? argv[2]
                                      : std::string(tmp && *tmp ? tmp : "/tmp") + "/tamblor-bench-" +
                                            std::to_string(n) + ".dat";
    std::printf("engine benchmark: %lld records, 10 columns, table %s\n", static_cast<long long>(n), path.c_str());
    const double rate = EnsureTable(path, n);
    if (rate > 0)
        std::printf("bulk insert:            %10.0f records/s\n", rate);
    else
        std::printf("bulk insert:            (table reused)\n");

    CoInitialize(nullptr);
    engine::RegisterEngineServer();
    const long rss0 = RssKiB();

    // Open: a new table object each time, as the component does.
    const int opens = 20;
    double openTotal = 0;
    for (int i = 0; i < opens; ++i) {
        auto t = CoBFTable::Create();
        std::int32_t st = 0;
        const auto a = Clock::now();
        OleCheck(t->OpenTable(OleVariant(path), &st));
        const auto b = Clock::now();
        openTotal += Seconds(a, b);
        OleCheck(t->CloseTable());
    }
    std::printf("open:                   %10.3f ms (mean of %d; target <= 20 ms)\n", openTotal / opens * 1000, opens);

    auto t = CoBFTable::Create();
    std::int32_t st = 0;
    OleCheck(t->OpenTable(OleVariant(path), &st));
    const long rssOpen = RssKiB();
    std::printf("memory after open:      %10ld KiB resident (%+ld KiB against before the open)\n", rssOpen,
                rssOpen - rss0);

    // Warm-up: read the whole file once so that both timed scans find it in
    // the operating system's cache.
    {
        std::FILE* fp = std::fopen(path.c_str(), "rb");
        std::vector<char> buf(1 << 20);
        while (fp && std::fread(buf.data(), 1, buf.size(), fp) == buf.size()) {
        }
        if (fp) std::fclose(fp);
    }

    // Full scan through the engine interface, every column by name.
    const char* names[] = {"Name", "Payee", "Day", "Amount", "Flag", "Seq", "Memo", "Category", "Clock", "Id"};
    std::vector<OleVariant> cols;
    for (const char* c : names) cols.emplace_back(c);
    std::int64_t rows = 0, baseRows = 0;
    double checksum = 0, baseSum = 0;
    auto engineScanOnce = [&] {
        OleVariant v;
        rows = 0;
        checksum = 0;
        OleCheck(t->MoveFirst(&st));
        WordBool eof = VARIANT_FALSE;
        OleCheck(t->GetEof(&eof));
        while (!eof) {
            for (const OleVariant& c : cols) {
                OleCheck(t->GetColumnValue(c, &v));
                if (v.VType() == VT_R8) checksum += v.ToDouble();
            }
            ++rows;
            OleCheck(t->MoveNext(&st));
            OleCheck(t->GetEof(&eof));
        }
    };
    // Baseline: plain SQLite over the same page store, every column read.
    sqlite3* db = nullptr;
    sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, engine::RegisterPageStoreVfs());
    sqlite3_stmt* stmt = nullptr;
    sqlite3_prepare_v2(db, "SELECT rowid,c0,c1,c2,c3,c4,c5,c6,c7,c8,c9 FROM records ORDER BY rowid", -1, &stmt,
                       nullptr);
    auto baseScanOnce = [&] {
        baseRows = 0;
        baseSum = 0;
        std::string text;
        while (sqlite3_step(stmt) == SQLITE_ROW) {
            for (int c = 1; c <= 10; ++c) {
                switch (sqlite3_column_type(stmt, c)) {
                case SQLITE_TEXT:
                    text.assign(reinterpret_cast<const char*>(sqlite3_column_text(stmt, c)),
                                static_cast<std::size_t>(sqlite3_column_bytes(stmt, c)));
                    break;
                case SQLITE_FLOAT: baseSum += sqlite3_column_double(stmt, c); break;
                case SQLITE_INTEGER: (void)sqlite3_column_int64(stmt, c); break;
                default: break;
                }
            }
            ++baseRows;
        }
        sqlite3_reset(stmt);
    };
    // Alternating rounds; the best of each: the machine's other load only
    // ever adds time.
    double engineScan = 1e30, engineCpu = 1e30, baseScan = 1e30, baseCpu = 1e30;
    long rssScan = 0;
    for (int round = 0; round < 3; ++round) {
        auto a = Clock::now();
        double ca = CpuSeconds();
        engineScanOnce();
        engineCpu = std::min(engineCpu, CpuSeconds() - ca);
        engineScan = std::min(engineScan, Seconds(a, Clock::now()));
        rssScan = std::max(rssScan, RssKiB());
        a = Clock::now();
        ca = CpuSeconds();
        baseScanOnce();
        baseCpu = std::min(baseCpu, CpuSeconds() - ca);
        baseScan = std::min(baseScan, Seconds(a, Clock::now()));
    }
    sqlite3_finalize(stmt);
    sqlite3_close(db);

    const double nr = static_cast<double>(rows ? rows : 1);
    std::printf("scan via engine:        %10.3f s wall, %.3f s CPU  (%lld records, %.3f us/record CPU)\n", engineScan,
                engineCpu, static_cast<long long>(rows), engineCpu / nr * 1e6);
    std::printf("scan via SQLite:        %10.3f s wall, %.3f s CPU  (%lld records, %.3f us/record CPU) [baseline]\n",
                baseScan, baseCpu, static_cast<long long>(baseRows), baseCpu / nr * 1e6);
    std::printf("scan ratio:             %10.2f x the baseline in CPU time, %.2f x in wall time (target <= 2; "
                "best of 3 alternating rounds)\n",
                engineCpu / baseCpu, engineScan / baseScan);
    std::printf("memory after scan:      %10ld KiB resident (%+ld KiB against before the open)\n", rssScan,
                rssScan - rss0);
    if (rows != n || baseRows != n || checksum != baseSum) {
        std::printf("MISMATCH: engine %lld records, SQLite %lld, checksums %.2f / %.2f\n", static_cast<long long>(rows),
                    static_cast<long long>(baseRows), checksum, baseSum);
        return 1;
    }
    t.reset();
    CoUninitialize();
    return 0;
}
