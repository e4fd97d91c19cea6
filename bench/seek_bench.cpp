// Seek and count benchmark: SeekKey nearest on a string index, a count under
// a filter against SQLite count(*) with the same WHERE on the page store, and
// the first 50 records of a selective filtered and ranged view.
//
// Usage: seek_bench [RECORDS [TABLE-PATH]]   (default 100000 records)
// Run it for two sizes (1,000,000 and 10,000,000) to see how a seek grows.
#include "BenchTable.h"

#include "engine/Collation.h"
#include "engine/Engine.h"
#include "engine/Vfs.h"
#include "moneytable/Orbalk_TLB.h"
#include "moneytable/Vennick_TLB.h"

#include <sqlite3.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

using namespace bench;

namespace {

// Installs a filter object with an expression and optional one-value bounds.
void Install(IBFTable7* t, IMoneyFilter* f, const std::u16string& expr, const char* lo, const char* hi) {
    OleCheck(f->SetExpression(expr));
    PSafeArray a = nullptr, b = nullptr;
    if (lo) {
        a = SafeArrayCreateVector(VT_VARIANT, 0, 1);
        a->Items[0] = OleVariant(lo);
    }
    if (hi) {
        b = SafeArrayCreateVector(VT_VARIANT, 0, 1);
        b->Items[0] = OleVariant(hi);
    }
    OleCheck(f->SetRangeBound(RangeBoundLower, a));
    OleCheck(f->SetRangeBound(RangeBoundUpper, b));
    f->AddRef();  // taken over by SetFilter
    OleCheck(t->SetFilter(f));
}

}  // namespace

int main(int argc, char** argv) {
    const std::int64_t n = argc > 1 ? std::atoll(argv[1]) : 100000;
    const char* tmp = std::getenv("TMPDIR");
    const std::string path = argc > 2 ? argv[2]
                                      : std::string(tmp && *tmp ? tmp : "/tmp") + "/tamblor-bench-" +
                                            std::to_string(n) + ".dat";
    std::printf("seek benchmark: %lld records, table %s\n", static_cast<long long>(n), path.c_str());
    const double rate = EnsureTable(path, n);
    if (rate > 0) std::printf("bulk insert:            %10.0f records/s\n", rate);

    CoInitialize(nullptr);
    engine::RegisterEngineServer();
    auto t = CoBFTable::Create();
    std::int32_t st = 0;
    OleCheck(t->OpenTable(OleVariant(path), &st));
    OleCheck(t->SetIndex(u"Name", &st));

    // SeekKey nearest: random existing names with the last digit dropped, so
    // that most seeks land between keys.
    std::mt19937_64 rng(7);
    const int seeks = 20000;
    std::vector<OleVariant> keys;
    for (int i = 0; i < seeks; ++i) {
        std::string k = NameOf(static_cast<std::int64_t>(rng() % static_cast<std::uint64_t>(n)) + 1);
        k.pop_back();
        keys.emplace_back(k);
    }
    // Baseline: the same nearest lookups as one plain SQLite query each, on
    // a connection of its own to the same file.
    sqlite3* bdb = nullptr;
    sqlite3_open_v2(path.c_str(), &bdb, SQLITE_OPEN_READONLY, engine::RegisterPageStoreVfs());
    engine::Collator bcoll("cs");
    engine::RegisterMoneyKey(bdb, &bcoll);
    sqlite3_stmt* bq = nullptr;
    sqlite3_prepare_v2(bdb,
                       "SELECT rowid,c0,c1,c2,c3,c4,c5,c6,c7,c8,c9 FROM records WHERE c0 COLLATE MONEYKEY >= ? "
                       "ORDER BY c0 COLLATE MONEYKEY, rowid LIMIT 1",
                       -1, &bq, nullptr);
    std::vector<std::string> texts;
    for (const OleVariant& k : keys) texts.push_back(k.ToString());

    // Alternating rounds of both, each taking the best round: the machine's
    // speed varies from moment to moment, the best round is the steadiest.
    int hits[8] = {};
    double cpu = 1e9, wall = 1e9, bcpu = 1e9;
    const int seekRounds = 5;
    for (int round = 0; round < seekRounds; ++round) {
        if (round == 0) std::fill(std::begin(hits), std::end(hits), 0);
        auto a = Clock::now();
        double ca = CpuSeconds();
        for (const OleVariant& k : keys) {
            OleCheck(t->SeekKey(k, &st));
            if (round == 0) ++hits[st & 7];
        }
        cpu = std::min(cpu, CpuSeconds() - ca);
        wall = std::min(wall, Seconds(a, Clock::now()));
        const double bca = CpuSeconds();
        for (const std::string& k : texts) {
            sqlite3_bind_text(bq, 1, k.data(), static_cast<int>(k.size()), SQLITE_STATIC);
            sqlite3_step(bq);
            sqlite3_reset(bq);
        }
        bcpu = std::min(bcpu, CpuSeconds() - bca);
    }
    sqlite3_finalize(bq);
    sqlite3_close(bdb);
    std::printf("SeekKey nearest:        %10.2f us/seek CPU, %.2f us wall (%d seeks: %d equal, %d greater, %d none; "
                "best of %d rounds; target <= 20 us)\n",
                cpu / seeks * 1e6, wall / seeks * 1e6, seeks, hits[7], hits[1], hits[0], seekRounds);
    std::printf("  log2(records) = %.1f: compare the figure at another size by this factor\n",
                std::log2(static_cast<double>(n)));
    std::printf("SQLite nearest lookup:  %10.2f us/lookup CPU [baseline]; SeekKey is %.2f x\n", bcpu / seeks * 1e6,
                cpu / bcpu);

    double ca = 0;
    Clock::time_point a, b;

    // Count under a filter against SQLite's count(*).
    auto f = CoBFFilter::Create();
    OleCheck(t->SetIndex(u"", &st));
    double engineCount = 0;
    std::int32_t count = 0;
    const int rounds = 3;
    for (int r = 0; r < rounds; ++r) {
        Install(t.get(), f.get(), u"Amount > 500 AND Flag = TRUE", nullptr, nullptr);
        ca = CpuSeconds();
        OleCheck(t->CountRecords(&count));
        engineCount += CpuSeconds() - ca;
        OleCheck(t->SetFilter(nullptr));
    }
    engineCount /= rounds;

    sqlite3* db = nullptr;
    sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, engine::RegisterPageStoreVfs());
    engine::Collator coll("cs");
    engine::RegisterMoneyKey(db, &coll);
    sqlite3_stmt* q = nullptr;
    sqlite3_prepare_v2(db, "SELECT count(*) FROM records WHERE c3 > 500 AND c4 = 1", -1, &q, nullptr);
    double baseCount = 0;
    std::int64_t baseN = 0;
    for (int r = 0; r < rounds; ++r) {
        ca = CpuSeconds();
        sqlite3_step(q);
        baseN = sqlite3_column_int64(q, 0);
        sqlite3_reset(q);
        baseCount += CpuSeconds() - ca;
    }
    baseCount /= rounds;
    sqlite3_finalize(q);
    std::printf("count under filter:     %10.3f ms CPU (%d records)\n", engineCount * 1e3, count);
    std::printf("SQLite count(*):        %10.3f ms CPU (%lld records) [baseline]\n", baseCount * 1e3,
                static_cast<long long>(baseN));
    std::printf("count ratio:            %10.2f x the baseline (target <= 1.5)\n", engineCount / baseCount);

    // First 50 records of a selective filtered and ranged view.
    OleCheck(t->SetIndex(u"Name", &st));
    const char* names[] = {"Name", "Payee", "Day", "Amount", "Flag", "Seq", "Memo", "Category", "Clock", "Id"};
    OleVariant v;
    a = Clock::now();
    ca = CpuSeconds();
    Install(t.get(), f.get(), u"Amount > 900", "Kolář", "Kolář 5");
    OleCheck(t->MoveFirst(&st));
    int got = 0;
    WordBool eof = VARIANT_FALSE;
    for (OleCheck(t->GetEof(&eof)); !eof && got < 50; OleCheck(t->GetEof(&eof))) {
        for (const char* c : names) OleCheck(t->GetColumnValue(OleVariant(c), &v));
        ++got;
        OleCheck(t->MoveNext(&st));
    }
    cpu = CpuSeconds() - ca;
    b = Clock::now();
    std::printf("first 50 of a view:     %10.3f ms CPU, %.3f ms wall (%d records; Name from 'Kolář' to 'Kolář 5', "
                "Amount > 900)\n",
                cpu * 1e3, Seconds(a, b) * 1e3, got);
    sqlite3_prepare_v2(db,
                       "SELECT rowid,c0,c1,c2,c3,c4,c5,c6,c7,c8,c9 FROM records WHERE c0 COLLATE MONEYKEY >= ?1 AND "
                       "(c0 COLLATE MONEYKEY < ?2 OR substr(c0,1,length(?2)) COLLATE MONEYKEY = ?2) AND c3 > 900 "
                       "ORDER BY c0 COLLATE MONEYKEY, rowid LIMIT 50",
                       -1, &q, nullptr);
    sqlite3_bind_text(q, 1, "Kolář", -1, SQLITE_STATIC);
    sqlite3_bind_text(q, 2, "Kolář 5", -1, SQLITE_STATIC);
    ca = CpuSeconds();
    int baseGot = 0;
    while (sqlite3_step(q) == SQLITE_ROW) ++baseGot;
    const double baseView = CpuSeconds() - ca;
    sqlite3_finalize(q);
    sqlite3_close(db);
    std::printf("SQLite same view:       %10.3f ms CPU (%d records) [baseline]\n", baseView * 1e3, baseGot);

    OleCheck(t->SetFilter(nullptr));
    OleCheck(t->CloseTable());
    t.reset();
    f.reset();
    CoUninitialize();
    return count == baseN ? 0 : 1;
}
