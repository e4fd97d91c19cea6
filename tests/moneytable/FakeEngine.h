// A recording stand-in for the table engine, for the tests of TMoneyTable.
//
// What it declares:
// - fake::FakeTableData: one in-memory table (columns as the engine reports
//   them, indexes, records with their record numbers);
// - fake::FakeEngine: the process-wide state of the fake: the tables by path,
//   the log of every engine call in order with its arguments, and knobs that
//   make chosen calls return a given status or a failing HRESULT;
// - the engine objects themselves (table, filter, string), which implement
//   IBFTable7, IMoneyFilter and IBFString over that state.
//
// FakeEngine::Register() puts the three classes into the COM class registry
// under CLASS_BFTable, CLASS_BFFilter and CLASS_BFString, in place of the
// real engine; Reset() forgets every table, log entry and knob.
//
// Log entries are texts such as
//   "OpenTable('/data/BANK.dat')"      "MoveNext"
//   "SetColumnValue(Amount, R8:12.5)"  "SetWideValue(Name, '')"
//   "Filter.SetRangeBound(0, [BSTR:'A', I4:3])"
// Variants are written as EMPTY, NULL, I2:n, I4:n, R8:x, DATE:x, BOOL:T/F,
// BSTR:'text' or [elements]. Filter and string object calls carry the
// prefixes "Filter." and "String.".
//
// Cursor behaviour follows the engine contract the component relies on: after
// MoveFirst/MoveLast the cursor stands on the first/last visible record; a
// MoveNext from the last record stays there and sets the end flag; a
// MovePrior from the first stays there and sets the start flag; both flags
// are set only when there is no current record. Order is by record number,
// or by the index key columns and then the record number once SetIndex named
// an index ("Payee+Date"). An installed filter object restricts the visible
// records by its range bounds (leading key columns, inclusive, only with an
// index) and by FakeEngine::Predicate when one is set.
//
// Ownership: the tables belong to the FakeEngine; engine objects count
// themselves in LiveObjects() so that tests can check that every object was
// released. Threads: tests use it from one thread only.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "moneytable/Orbalk_TLB.h"
#include "moneytable/Vennick_TLB.h"

namespace fake {

struct FakeColumn {
    std::string Name;      // as GetColumnName reports it (may be longer than 10)
    std::string Type;      // as GetColumnType reports it (first character = letter)
    std::int32_t Size = 0;
};

struct FakeRecord {
    std::int32_t RecNo = 0;
    std::vector<OleVariant> Values;  // one per column
};

struct FakeTableData {
    std::vector<FakeColumn> Columns;
    // Each index: zero-based column numbers of its key columns.
    std::vector<std::vector<int>> Indexes;
    std::vector<FakeRecord> Records;
    std::int32_t NextRecNo = 1;
    std::map<std::string, std::int32_t> AutoInc;  // per upper-cased column name

    // Appends a record; returns its record number.
    std::int32_t Add(std::vector<OleVariant> values);
    // The record with that number, or nullptr.
    FakeRecord* Find(std::int32_t recNo);
    // Column number by name (ASCII letter case ignored), -1 when unknown.
    int ColumnIndex(const std::string& name) const;
    // The engine's index name of index k: column names joined by "+".
    std::string IndexName(std::size_t k) const;
};

class FakeEngine {
public:
    static FakeEngine& Instance();

    // Registers the fake classes in the class registry (replacing whatever
    // was registered there).
    static void Register();
    // Removes the fake classes from the class registry.
    static void Unregister();

    // Forgets tables, log and knobs (not the live-object count).
    void Reset();

    // Creates (or replaces) the table stored under Path.
    FakeTableData& CreateTable(const std::string& path, std::vector<FakeColumn> columns);
    FakeTableData& Table(const std::string& path);

    // The log of calls, oldest first.
    std::vector<std::string> Calls;
    void ClearCalls() { Calls.clear(); }
    // The entries whose text starts with one of the prefixes.
    std::vector<std::string> CallsStartingWith(std::initializer_list<std::string> prefixes) const;
    // Number of entries whose text starts with the prefix.
    int Count(const std::string& prefix) const;

    // Knobs. ForcedStatus[op] replaces the status that operation op (e.g.
    // "LockRecord", "MoveNext") reports, every time until erased.
    std::map<std::string, std::int32_t> ForcedStatus;
    // FailWith[op]: the operation sets error info "<op> failed in the fake"
    // and returns this HRESULT.
    std::map<std::string, HRESULT> FailWith;
    // Replace what CountRecords, GetEof and GetBof report.
    std::optional<std::int32_t> ForcedCount;
    std::optional<bool> ForcedEof;
    std::optional<bool> ForcedBof;
    // An extra record test of an installed filter object (the expression is
    // passed along); nullptr = every record passes.
    std::function<bool(const FakeTableData&, const FakeRecord&, const std::string& expression)> Predicate;

    // Engine objects (tables, filters, strings) currently alive.
    int LiveObjects() const { return FLive; }
    void ObjectCreated() { ++FLive; }
    void ObjectDestroyed() { --FLive; }

    void Log(std::string entry) { Calls.push_back(std::move(entry)); }

private:
    std::map<std::string, std::shared_ptr<FakeTableData>> FTables;
    int FLive = 0;
    friend class FakeTable;
};

// Text form of a variant as the log writes it.
std::string Describe(const OleVariant& v);
// Text form of a safe array ("nil" for nullptr).
std::string Describe(PSafeArray a);

}  // namespace fake
