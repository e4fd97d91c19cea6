// Shared by the engine benchmarks: builds (or reuses) a table of N records
// with 10 columns, and small timing and memory helpers.
#pragma once

#include "engine/Engine.h"

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <random>
#include <string>
#include <ctime>
#include <sys/stat.h>
#include <unistd.h>

namespace bench {

using Clock = std::chrono::steady_clock;

inline double Seconds(Clock::time_point a, Clock::time_point b) {
    return std::chrono::duration<double>(b - a).count();
}

// CPU time of the calling thread: steadier than the wall clock on a busy
// machine (both scans run on this thread).
inline double CpuSeconds() {
    timespec ts {};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

// Resident set size of this process in KiB.
inline long RssKiB() {
    std::ifstream in("/proc/self/statm");
    long pages = 0, resident = 0;
    in >> pages >> resident;
    return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

inline const char* kNames[] = {"Novák", "Svoboda", "Novotný", "Dvořák", "Černý", "Procházka", "Kučera",
                               "Veselý", "Horák", "Němec", "Marek", "Pospíšil", "Hájek", "Jelínek",
                               "Král", "Růžička", "Beneš", "Fiala", "Sedláček", "Doležal", "Zeman",
                               "Kolář", "Navrátil", "Čermák", "Urban", "Vaněk", "Blažek", "Kříž"};

// The name of record i: a surname and a number, so that keys are spread.
inline std::string NameOf(std::int64_t i) {
    std::uint64_t h = static_cast<std::uint64_t>(i) * 0x9E3779B97F4A7C15ull;
    h ^= h >> 29;
    return std::string(kNames[h % 28]) + " " + std::to_string((h >> 8) % 1000000);
}

// Columns: Name C30 (indexed), Payee C40, Day D, Amount E, Flag B, Seq L,
// Memo M, Category I, Clock T, Id G; indexes Name and Day+Amount.
inline engine::TableSchema Schema() {
    engine::TableSchema s;
    auto col = [](const char* n, char t, int size = 0) {
        engine::ColumnSpec c;
        c.Name = n;
        c.Type = t;
        c.Size = size;
        return c;
    };
    s.Columns = {col("Name", 'C', 30), col("Payee", 'C', 40), col("Day", 'D'),      col("Amount", 'E'),
                 col("Flag", 'B'),     col("Seq", 'L'),        col("Memo", 'M'),     col("Category", 'I'),
                 col("Clock", 'T'),    col("Id", 'G')};
    engine::IndexSpec byName;
    byName.Columns = {0};
    engine::IndexSpec byDay;
    byDay.Columns = {2, 3};
    s.Indexes = {byName, byDay};
    s.Locale = "cs";
    return s;
}

// Creates the table at path with n records unless it exists with n records.
// Returns the insert rate (records per second), or 0 when reused.
inline double EnsureTable(const std::string& path, std::int64_t n) {
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0) {
        if (engine::ReadTableInfo(path).RecordCount == n) return 0;
        std::remove(path.c_str());
    }
    engine::CreateTable(path, Schema());
    const auto t0 = Clock::now();
    engine::BulkInserter ins(path);
    std::mt19937_64 rng(42);
    char guid[40];
    for (std::int64_t i = 1; i <= n; ++i) {
        using V = engine::Value;
        std::snprintf(guid, sizeof guid, "{%08X-%04X-%04X-%04X-%012llX}", static_cast<unsigned>(rng()),
                      static_cast<unsigned>(rng() & 0xFFFF), static_cast<unsigned>(rng() & 0xFFFF),
                      static_cast<unsigned>(rng() & 0xFFFF),
                      static_cast<unsigned long long>(rng() & 0xFFFFFFFFFFFFull));
        ins.Add({V::Text(NameOf(i)), V::Text("Payee " + std::to_string(i % 5000)), V::Int(40000 + i % 3650),
                 V::Real(static_cast<double>(rng() % 100000) / 100.0), V::Int(static_cast<std::int64_t>(rng() % 2)),
                 V::Int(i), i % 10 == 0 ? V::Text("memo of record " + std::to_string(i)) : V::Null(),
                 V::Int(static_cast<std::int64_t>(i % 300)), V::Int(static_cast<std::int64_t>(rng() % 86400000)),
                 V::Text(guid)});
    }
    ins.Commit();
    const auto t1 = Clock::now();
    return static_cast<double>(n) / Seconds(t0, t1);
}

}  // namespace bench
