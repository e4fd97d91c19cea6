// The record cursor of an engine table: order, visibility and positioning.
//
// Order: by record number (no key columns), or by the key columns of an index
// and then by record number. Strings compare under the table's collator
// (MONEYKEY), numbers numerically, null before every value.
//
// Visibility: a record is visible when it passes the filter (an SQL fragment
// with bound parameters) and, when an order by key columns is set, lies
// within the range bounds (inclusive, compared on each bound's leading
// columns; a side without bound is open).
//
// Positioning is by keyset: every move asks the page store for the records
// strictly after (or before) the current record's key, as a short list of
// index range scans, so that positioning costs O(log n). Rows are fetched in
// small batches (growing while the cursor keeps its direction) and kept in a
// window around the current record: MoveNext/MovePrior cost O(1) amortised,
// and memory does not grow with the table.
//
// Changes of other connections: Sync() compares the page store's data
// version and drops the window when another connection committed; every
// positioning calls it first, so such changes are seen by the next move.
//
// Flags (Eof/Bof), as the table component's cursor contract needs them:
//   state            | First/Last/Seek hit | Next at last | Prior at first | no visible record
//   on a record      | on it, flags clear  | stays, Eof   | stays, Bof     | -
//   no record        | -                   | -            | -              | Eof and Bof both set
// Both flags are set only when there is no current record.
//
// Ownership: the cursor refers to the page store, schema and collator of its
// table, which outlive it. Threads: the table's thread.
#pragma once

#include "engine/Collation.h"
#include "engine/Engine.h"
#include "engine/PageStore.h"

#include <cstdint>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

struct sqlite3_file;

namespace engine {

// One record: its number and the values of every column.
struct Row {
    std::int64_t RecNo = 0;
    std::vector<Value> Values;
};

// A compiled filter and range, in storage form. Bound values are already
// converted to the key columns' storage types and are at most as many as
// the key columns.
struct Visibility {
    std::string Where;                  // SQL fragment; empty = no filter
    std::vector<Value> WhereParams;     // one per `?` in Where
    bool HasLower = false;
    bool HasUpper = false;
    std::vector<Value> Lower;
    std::vector<Value> Upper;
};

class Cursor {
public:
    Cursor(PageStore& store, const TableSchema& schema, const Collator& collator);

    // Key columns of the order (empty = record-number order). Keeps the
    // current record current.
    void SetOrder(std::vector<int> keyColumns);
    const std::vector<int>& Order() const { return FKeyColumns; }
    // Keeps the current record current even when it is no longer visible.
    void SetVisibility(Visibility v);
    const Visibility& GetVisibility() const { return FVis; }

    // Drops cached rows and the cached count (data changed).
    void Invalidate();
    // Invalidates when another connection committed since the last call.
    void Sync();

    // Moves; false when there is no visible record to move to (the flags
    // tell why).
    bool First();
    bool Last();
    bool Next();
    bool Prior();
    // Positions on record recno when it exists and is visible; otherwise
    // returns false and leaves the cursor unchanged.
    bool GoTo(std::int64_t recno);
    // First visible record whose leading key columns are >= key: 7 when they
    // are equal to key, 1 when greater, 0 when there is none (cursor
    // unchanged).
    int Seek(const std::vector<Value>& key);
    // Number of visible records (cached until Invalidate or a change of
    // order or visibility).
    std::int64_t Count();

    // For the cached count across this connection's own change of record
    // recno, asked inside the change's write transaction before and after
    // the write: whether the record is visible as the page store holds it
    // now (false when it does not exist). Nothing when no count is cached or
    // no filter or range restricts the records (the page store's own count
    // then serves at no cost).
    std::optional<bool> VisibleForCount(std::int64_t recno);
    // Makes row, just posted through this cursor's connection, the current
    // record (flags clear, read as of now). added: a new record, so the
    // number of records changed; an edit changes only what a filter or
    // range sees. countChange: what the post did to the number of visible
    // records (from VisibleForCount), which keeps a cached count; without
    // it a count that may have changed is counted again.
    void SetPosted(Row row, bool added, std::optional<int> countChange);
    // After this connection deleted a record (wasVisible from
    // VisibleForCount before the delete): as Invalidate, but a cached count
    // is kept, less the record when it was visible.
    void SetDeleted(std::optional<bool> wasVisible);
    // Whether the current record was read since anyone's last commit (as of
    // the last Sync).
    bool CurrentIsFresh() const { return FHasCurrent && !FCurrentStale; }
    // Re-reads the current record from the page store; false (and no current
    // record) when it no longer exists.
    bool Refresh();
    // Removes a record that no longer exists from the window (after a
    // delete, once the cursor has moved away from it).
    void Forget(std::int64_t recno);
    // Forgets the current record (both flags set).
    void Clear();
    const Row* Current() const { return FHasCurrent ? &FWin[FPos] : nullptr; }

    bool Eof() const { return FEof; }
    bool Bof() const { return FBof; }

    // Compares two values of key column i (i == key column count: record
    // number) under the order's rules.
    int CompareKeyValue(std::size_t i, const Value& a, const Value& b) const;

private:
    // A filter or a range restricts the visible records.
    bool Restricted() const {
        return !FVis.Where.empty() || (!FKeyColumns.empty() && (FVis.HasLower || FVis.HasUpper));
    }
    // A bound of the order: the key prefix plus an infinitesimal tail below
    // (PlusInf false) or above (PlusInf true) every record with that prefix.
    struct Bound {
        std::vector<Value> Key;
        bool PlusInf = false;
    };
    // Records whose first Fixed.size() key columns equal Fixed, and, when
    // present, whose next key column lies between Lo and Hi (strictly,
    // unless LoIncl/HiIncl).
    struct Segment {
        std::vector<Value> Fixed;
        std::optional<Value> Lo, Hi;
        bool NullOnly = false;  // the next key column IS NULL
        bool LoIncl = false;
        bool HiIncl = false;
    };

    std::size_t KeyCount() const { return FKeyColumns.size() + 1; }
    std::vector<Value> KeyOf(const Row& row) const;
    std::string KeyExpr(std::size_t i) const;
    int CompareKeys(const std::vector<Value>& a, std::size_t an, const std::vector<Value>& b) const;
    int CompareBounds(const Bound& a, const Bound& b) const;
    int CompareRowToBound(const std::vector<Value>& key, const Bound& b) const;
    Bound LowerLimit() const;
    Bound UpperLimit() const;
    bool InRange(const std::vector<Value>& key) const;
    std::vector<Segment> Decompose(const Bound& lo, const Bound& hi) const;
    void AddASide(std::vector<Segment>& out, const std::vector<Value>& a, std::size_t downTo, bool plus) const;
    void AddBSide(std::vector<Segment>& out, const std::vector<Value>& b, std::size_t from, bool plus) const;
    // The WHERE text of a segment (when withSql) and its parameters.
    std::string SegmentWhere(const Segment& s, std::vector<Value>& params, bool withSql) const;
    // A code of what the text of the segment's fetch query depends on.
    std::uint64_t SegmentShape(const Segment& s, bool forward) const;
    // Visible rows of the interval (lo, hi) in order (forward) or reverse
    // order, at most limit of them.
    std::vector<Row> Fetch(const Bound& lo, const Bound& hi, bool forward, std::size_t limit);
    std::size_t BatchSize(bool forward);
    bool LoadRow(std::int64_t recno, Row& row, bool applyFilter);
    std::string SelectList() const;
    // Drops the window's rows but the current one (all when there is none).
    void KeepOnlyCurrent();
    // Makes rows the window with rows[pos] current, flags clear.
    void SetWindow(std::vector<Row> rows, std::size_t pos);

    PageStore& FStore;
    const TableSchema& FSchema;
    const Collator& FCollator;
    std::vector<int> FKeyColumns;
    Visibility FVis;

    // Rows that left the window, kept to be refilled (their buffers reused).
    Row TakeRow();
    void Recycle(std::vector<Row>& rows, std::size_t keep);

    std::vector<Row> FWin;  // consecutive visible rows in order; FWin[FPos] is current
    std::vector<Row> FPool; // spare rows, at most one batch
    std::size_t FPos = 0;
    bool FHasCurrent = false;
    bool FCurrentStale = false;  // the current row was read before another connection's commit
    bool FEof = true;
    bool FBof = true;
    int FRun = 0;           // consecutive fetches in one direction; -1 right after a post
    bool FRunForward = true;
    std::int64_t FDataVersion = -1;
    std::uint8_t FStamp[48] = {};
    bool FHaveStamp = false;
    sqlite3_file* FTableFile = nullptr;  // the page store's file, for the change stamp
    std::optional<std::int64_t> FCount;
    // Fetch query texts by segment shape, for the current order and filter.
    std::unordered_map<std::uint64_t, std::string> FFetchSql;
};

}  // namespace engine
