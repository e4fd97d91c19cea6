// Shared by the benchmarks: builds (or reuses) tables of N records in the
// shapes (a) to (e) that the read-path benchmarks measure, and small timing
// and memory helpers.
#pragma once

#include "engine/Engine.h"

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <functional>
#include <algorithm>
#include <vector>
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

// One column of a benchmark table.
inline engine::ColumnSpec Col(const char* name, char type, int size = 0) {
    engine::ColumnSpec c;
    c.Name = name;
    c.Type = type;
    c.Size = size;
    return c;
}

// Columns: Name C30 (indexed), Payee C40, Day D, Amount E, Flag B, Seq L,
// Memo M, Category I, Clock T, Id G; indexes Name and Day+Amount.
inline engine::TableSchema Schema() {
    engine::TableSchema s;
    s.Columns = {Col("Name", 'C', 30), Col("Payee", 'C', 40), Col("Day", 'D'),      Col("Amount", 'E'),
                 Col("Flag", 'B'),     Col("Seq", 'L'),        Col("Memo", 'M'),     Col("Category", 'I'),
                 Col("Clock", 'T'),    Col("Id", 'G')};
    engine::IndexSpec byName;
    byName.Columns = {0};
    engine::IndexSpec byDay;
    byDay.Columns = {2, 3};
    s.Indexes = {byName, byDay};
    s.Locale = "cs";
    return s;
}

// Record i's values for a table: one call per record, i counting from 1.
using RowMaker = std::function<void(std::int64_t i, std::vector<engine::Value>& row)>;

// A shape of table that the read-path benchmarks measure: its letter, what
// it stands for, its schema and a maker of its records (a new one for each
// table built, as makers keep state).
struct Shape {
    char Letter;
    const char* Title;
    engine::TableSchema Schema;
    std::function<RowMaker()> Rows;
};

// A well-mixed 64-bit number for record i and stream k.
inline std::uint64_t Mix(std::int64_t i, std::uint64_t k) {
    std::uint64_t z = static_cast<std::uint64_t>(i) * 0x9E3779B97F4A7C15ull + k * 0xD1B54A32D192ED03ull;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

inline const char* kWords[] = {"účet",   "nákup",    "Příbram", "šťovík",  "žlutý",  "kůň",     "úpěl",
                               "ďábel",  "ódy",      "Čáslav",  "Řevnice", "Ústí",   "Žďár",    "Brno",
                               "potraviny", "energie", "nájem", "záloha",  "splátka", "Plzeň",  "oběd",
                               "vstupenky", "Hradec", "Králové", "Šumava", "Třeboň", "Jihlava", "chalupa"};

// Words of record i (stream k) joined by blanks, cut to at most max bytes
// without splitting a character.
inline std::string Words(std::int64_t i, std::uint64_t k, std::size_t max) {
    std::string s;
    for (std::uint64_t w = 0; s.size() < max; ++w) {
        if (!s.empty()) s += ' ';
        s += kWords[Mix(i, k * 16 + w) % 28];
    }
    std::size_t n = std::min(max, s.size());
    while (n > 0 && n < s.size() && (static_cast<unsigned char>(s[n]) & 0xC0) == 0x80) --n;
    s.resize(n);
    return s;
}

inline std::string GuidOf(std::uint64_t a, std::uint64_t b) {
    char guid[40];
    std::snprintf(guid, sizeof guid, "{%08X-%04X-%04X-%04X-%012llX}", static_cast<unsigned>(a),
                  static_cast<unsigned>((a >> 32) & 0xFFFF), static_cast<unsigned>(a >> 48),
                  static_cast<unsigned>(b & 0xFFFF), static_cast<unsigned long long>((b >> 16) & 0xFFFFFFFFFFFFull));
    return guid;
}

// The shapes (a) to (e):
//   (a) today's benchmark table: Schema() above, a memo in every tenth record;
//   (b) memo-heavy: a short memo in every record, with a date, a time, a
//       boolean, a real and a wide (U) text;
//   (c) numeric: reals and integers only;
//   (d) dates and times;
//   (e) wide text: four 60-byte strings with accented letters.
inline std::vector<Shape> Shapes() {
    using V = engine::Value;
    std::vector<Shape> out;
    out.push_back({'a', "today's (10 columns, memo in every tenth record)", Schema(), [] {
                       return RowMaker([rng = std::mt19937_64(42)](std::int64_t i, std::vector<V>& r) mutable {
                           const std::uint64_t g1 = rng(), g2 = rng();
                           r = {V::Text(NameOf(i)), V::Text("Payee " + std::to_string(i % 5000)),
                                V::Int(40000 + i % 3650), V::Real(static_cast<double>(rng() % 100000) / 100.0),
                                V::Int(static_cast<std::int64_t>(rng() % 2)), V::Int(i),
                                i % 10 == 0 ? V::Text("memo of record " + std::to_string(i)) : V::Null(),
                                V::Int(i % 300), V::Int(static_cast<std::int64_t>(rng() % 86400000)),
                                V::Text(GuidOf(g1, g2))};
                       });
                   }});
    {
        engine::TableSchema s;
        s.Columns = {Col("Name", 'C', 30), Col("Memo", 'M'),      Col("Day", 'D'),       Col("Clock", 'T'),
                     Col("Flag", 'B'),     Col("Amount", 'E'),    Col("Note", 'U', 40),  Col("Seq", 'L'),
                     Col("Category", 'I'), Col("Ref", 'C', 12)};
        s.Indexes = {engine::IndexSpec{{7}, false}};
        s.Locale = "cs";
        out.push_back({'b', "memo-heavy (10 columns, a short memo in every record)", s, [] {
                           return RowMaker([](std::int64_t i, std::vector<V>& r) {
                               r = {V::Text(NameOf(i)), V::Text(Words(i, 1, 20 + Mix(i, 2) % 40)),
                                    V::Int(40000 + static_cast<std::int64_t>(Mix(i, 3) % 3650)),
                                    V::Int(static_cast<std::int64_t>(Mix(i, 4) % 86400) * 1000),
                                    V::Int(static_cast<std::int64_t>(Mix(i, 5) % 2)),
                                    V::Real(static_cast<double>(Mix(i, 6) % 2000000) / 100.0 - 10000.0),
                                    V::Text(Words(i, 7, 40)), V::Int(i),
                                    V::Int(static_cast<std::int64_t>(Mix(i, 8) % 300)),
                                    V::Text("R-" + std::to_string(Mix(i, 9) % 1000000))};
                           });
                       }});
    }
    {
        engine::TableSchema s;
        s.Columns = {Col("Amount", 'E'), Col("Rate", 'R'),  Col("Balance", 'E'), Col("Share", 'R'),
                     Col("Seq", 'L'),    Col("Kind", 'I'),  Col("Count", 'W'),   Col("Code", 'V'),
                     Col("Total", 'L'),  Col("Price", 'E')};
        s.Indexes = {engine::IndexSpec{{4}, false}};
        out.push_back({'c', "numeric (10 columns: reals and integers)", s, [] {
                           return RowMaker([](std::int64_t i, std::vector<V>& r) {
                               r = {V::Real(static_cast<double>(Mix(i, 1) % 10000000) / 100.0 - 50000.0),
                                    V::Real(static_cast<double>(Mix(i, 2) % 1000000) / 1e6),
                                    V::Real(static_cast<double>(Mix(i, 3) % 100000000) / 100.0),
                                    V::Real(static_cast<double>(Mix(i, 4) % 1000) / 7.0),
                                    V::Int(i),
                                    V::Int(static_cast<std::int64_t>(Mix(i, 5) % 65536) - 32768),
                                    V::Int(static_cast<std::int64_t>(Mix(i, 6) % 65536)),
                                    V::Int(static_cast<std::int64_t>(Mix(i, 7) % 1000)),
                                    V::Int(static_cast<std::int64_t>(Mix(i, 8) % 4000000000ull) - 2000000000),
                                    V::Real(static_cast<double>(Mix(i, 9) % 100000) / 100.0)};
                           });
                       }});
    }
    {
        engine::TableSchema s;
        s.Columns = {Col("Booked", 'D'), Col("BookedAt", 'T'), Col("Due", 'D'),     Col("DueAt", 'T'),
                     Col("Paid", 'D'),   Col("PaidAt", 'T'),   Col("Closed", 'D'),  Col("ClosedAt", 'T'),
                     Col("Seq", 'L'),    Col("Born", 'D')};
        s.Indexes = {engine::IndexSpec{{0}, false}};
        out.push_back({'d', "dates and times (10 columns: 5 dates, 4 times, a number)", s, [] {
                           return RowMaker([](std::int64_t i, std::vector<V>& r) {
                               auto day = [&](std::uint64_t k) {
                                   return V::Int(static_cast<std::int64_t>(Mix(i, k) % 40000) + 10000);
                               };
                               auto time = [&](std::uint64_t k) {
                                   return V::Int(static_cast<std::int64_t>(Mix(i, k) % 86400) * 1000);
                               };
                               r = {day(1), time(2), day(3), time(4), day(5), time(6), day(7), time(8), V::Int(i), day(9)};
                           });
                       }});
    }
    {
        engine::TableSchema s;
        s.Columns = {Col("Name", 'C', 60), Col("Street", 'C', 60), Col("City", 'C', 60), Col("Remark", 'U', 60),
                     Col("Seq", 'L')};
        s.Indexes = {engine::IndexSpec{{4}, false}};
        s.Locale = "cs";
        out.push_back({'e', "wide text (four accented 60-byte strings and a number)", s, [] {
                           return RowMaker([](std::int64_t i, std::vector<V>& r) {
                               r = {V::Text(Words(i, 1, 60)), V::Text(Words(i, 2, 60)), V::Text(Words(i, 3, 60)),
                                    V::Text(Words(i, 4, 60)), V::Int(i)};
                           });
                       }});
    }
    return out;
}

// Creates the table of a shape at path with n records unless it exists with
// n records. Returns the insert rate (records per second), or 0 when reused.
inline double EnsureShapeTable(const std::string& path, const Shape& shape, std::int64_t n) {
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0) {
        if (engine::ReadTableInfo(path).RecordCount == n) return 0;
        std::remove(path.c_str());
    }
    engine::CreateTable(path, shape.Schema);
    const auto t0 = Clock::now();
    engine::BulkInserter ins(path);
    RowMaker make = shape.Rows();
    std::vector<engine::Value> row;
    for (std::int64_t i = 1; i <= n; ++i) {
        make(i, row);
        ins.Add(row);
    }
    ins.Commit();
    const auto t1 = Clock::now();
    return static_cast<double>(n) / Seconds(t0, t1);
}

// Creates the table of shape (a) at path with n records unless it exists with
// n records. Returns the insert rate (records per second), or 0 when reused.
inline double EnsureTable(const std::string& path, std::int64_t n) { return EnsureShapeTable(path, Shapes()[0], n); }

}  // namespace bench
