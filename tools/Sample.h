// Demo tables of the `tamblor sample` command.
//
// Three tables, ordered under the Czech collation:
//   accounts.dat      12 accounts (names with Czech diacritics, GUIDs, an
//                     auto-increment id, post date and time columns)
//   payees.dat        people and firms with Czech names (č, ch, ř, š, ž ...)
//   transactions.dat  `transactions` records: dates, times, amounts, memos
//                     (some null, some over several lines), booleans, GUIDs,
//                     16-bit numbers, a wide text column, a column named with
//                     diacritics, two columns whose first 10 characters are
//                     equal (ReconciledOn, ReconciledBy), read-only Y/Z
//                     columns and several indexes, one on two columns.
// The data come from a fixed-seed generator: the same on every run and
// machine.
//
// Ownership: values. Threads: reentrant (each call writes its own files).
#pragma once

#include "engine/Engine.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace tools {

// Deterministic pseudo-random numbers (splitmix64).
class SampleRandom {
public:
    explicit SampleRandom(std::uint64_t seed) : FState(seed) {}
    std::uint64_t Next();
    // Uniform in [0, n) for n > 0.
    std::uint64_t Below(std::uint64_t n) { return Next() % n; }
    bool Chance(int percent) { return Below(100) < std::uint64_t(percent); }

private:
    std::uint64_t FState;
};

// The schemas of the three tables (file name without folder, schema).
struct SampleTable {
    std::string FileName;
    engine::TableSchema Schema;
};
std::vector<SampleTable> SampleSchemas();

// The rows of the tables (values in column order, stored forms; auto-increment
// and Y/Z columns null), as WriteSampleTables inserts them.
std::vector<std::vector<engine::Value>> SampleAccounts();
std::vector<std::vector<engine::Value>> SamplePayees(std::int64_t count);
// Transactions are generated one at a time (a large count never sits in
// memory): `sink` receives each row in turn.
void SampleTransactions(std::int64_t count, std::int64_t accounts, std::int64_t payees,
                        const std::function<void(const std::vector<engine::Value>&)>& sink);

// Number of payees written for a given number of transactions.
std::int64_t SamplePayeeCount(std::int64_t transactions);

// Creates the three tables in `dir` (which must exist; the files must not)
// and fills them in one transaction each. Returns the paths written. Throws
// ToolError when one of the files exists already (before writing anything)
// and engine::EngineError naming the file on any other failure.
std::vector<std::string> WriteSampleTables(const std::string& dir, std::int64_t transactions);

}  // namespace tools
