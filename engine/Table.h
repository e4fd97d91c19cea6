// The engine table: one open table file with its cursor, edit buffer and
// locks. The COM table object (BFTable) is a thin boundary over it that turns
// EngineError into failed HRESULTs and statuses.
//
// Errors: operations throw EngineError. Its Status() is -1 for failures a
// user must understand (message naming the file, column, index or record),
// or one of the misuse statuses (-10 no current record / not editing /
// unknown column, -11 already open, -12 unsupported type, -13 unknown index),
// which the boundary reports as a plain status.
//
// Edit state machine (one per table object):
//   state    | call                       | next state
//   Browse   | AddRecord                  | Adding (all columns null)
//   Browse   | EditRecord (has a record)  | Editing (current values re-read)
//   Adding/  | SetValue                   | same (value checked and stored)
//   Editing  | Post succeeds              | Browse, cursor on the posted record
//            | Post fails                 | same state, table unchanged
//            | AddRecord / EditRecord     | restarts in the new state
//            | any positioning, Close,    | Browse (the pending change is dropped)
//            | PrepareClose               |
//   Browse   | SetValue / Post            | status -10
//
// Threads: one Table belongs to one thread.
#pragma once

#include "engine/Collation.h"
#include "engine/Cursor.h"
#include "engine/Engine.h"
#include "engine/PageStore.h"
#include "engine/Values.h"

#include "engine/Locks.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace engine {

// The path to open: path itself when it exists, else the one entry of its
// folder whose name matches ignoring letter case. Throws EngineError
// "Table file '<path>' does not exist" when there is none (or several).
std::string ResolveTablePath(const std::string& path);

// Index name: the key columns' names joined by '+'.
std::string IndexName(const TableSchema& schema, const IndexSpec& index);

// The current local date (days since 30 Dec 1899) and time of day (ms).
void LocalNow(std::int64_t& day, std::int64_t& ms);

class Table {
public:
    Table();
    ~Table();
    Table(const Table&) = delete;
    Table& operator=(const Table&) = delete;

    // ---- open and close
    // Opens the table; status -11 (EngineError) when already open.
    // readOnly: for reading only (every change fails with "Table '<path>' is
    // open for reading only"); works on storage that this user cannot write
    // and then leaves no side files (PageStore's OpenMode::ReadOnly).
    // Otherwise the file and its side files must be writable: the error
    // names the file or the folder that is not (WriteAccessProblem) and adds
    // "; open it read-only to look at it".
    void Open(const std::string& path, bool readOnly = false);
    bool ReadOnly() const { return FReadOnly; }
    // Drops a pending change and releases every lock (the table stays open).
    void PrepareClose();
    // Closes; harmless when not open.
    void Close();
    bool IsOpen() const { return FOpen; }
    const std::string& Path() const { return FPath; }
    const TableSchema& Schema() const { return FSchema; }

    // Column number for a name: the full name or its 10-byte catalog form,
    // letter case ignored; -1 when unknown.
    int FindColumn(const std::string& name) const;

    // ---- cursor
    void MoveFirst();
    void MoveLast();
    void MoveNext();
    void MovePrior();
    // False (cursor unchanged) when the record does not exist or is hidden.
    bool MoveToRecord(std::int64_t recno);
    bool Eof() const;
    bool Bof() const;
    // -1 when there is no current record.
    std::int64_t RecordNumber() const;
    std::int64_t CountRecords();

    // ---- index, seek, filter and range
    // "" = record-number order; names joined by '+', letter case ignored.
    // -13 (EngineError) for an unknown index. Keeps the current record.
    void SetIndex(const std::string& name);
    int CurrentIndex() const { return FIndex; }  // -1 = none
    // The current index's key column numbers, in key order.
    std::vector<int> KeyColumns() const;
    // Seek on the current index's leading columns (-13 without an index):
    // 7 equal key found, 1 greater key found, 0 none (cursor unchanged).
    int Seek(const std::vector<ClientValue>& key);
    // Installs a filter expression (compiled here) with its compare flags and
    // range bounds (nullopt = open side; bound values are converted for the
    // key columns of whatever index is current, now and after SetIndex).
    // Throws EngineError when the expression does not parse; the previous
    // filter then stays in force.
    void SetVisibility(const std::string& expression, int compareFlags,
                       const std::optional<std::vector<ClientValue>>& lower,
                       const std::optional<std::vector<ClientValue>>& upper);
    void ClearVisibility();

    // ---- values and editing
    // The value of column col of the record being added/edited, else of the
    // current record. -10 (EngineError) without a record or for a bad column.
    const Value& GetValue(int col) const;
    void AddRecord();
    void EditRecord();
    void SetValue(int col, const ClientValue& v);
    bool Editing() const { return FState != State::Browse; }
    // Posts the pending change (one transaction); returns the record number.
    std::int64_t Post();
    // Deletes the current record (one transaction) and moves to the next
    // visible record (the previous one at the end; none when none is left).
    void Delete();
    // The next value of an auto-increment column (-12 when not one).
    std::int64_t NextAutoIncValue(int col);

    // ---- locks
    void LockTable();
    void UnlockTable();
    void LockRecord();
    void UnlockRecord();

private:
    enum class State { Browse, Adding, Editing };

    void CheckOpen() const;
    void CheckWritable() const;
    const Row& CurrentRow() const;
    void CheckColumn(int col) const;
    void DropEdit() {
        FState = State::Browse;
        FBuffer.clear();
        FOriginal.clear();
        FEditRecNo = 0;
    }
    [[noreturn]] void KeyViolation(std::int64_t selfRecNo);
    // The error of a record that another user deleted meanwhile.
    EngineError DeletedByAnotherUser(std::int64_t recno) const;
    void ApplyVisibility();
    void StoreCatalogCopy(const std::vector<std::uint8_t>& catalog);
    void VerifyCollation();
    void ReturnToWriteAheadLog(const std::string& path);

    bool FOpen = false;
    bool FReadOnly = false;
    std::string FPath;
    TableSchema FSchema;
    std::unique_ptr<Collator> FCollator;
    PageStore FStore;
    std::unique_ptr<Cursor> FCursor;
    TableLocks FLocks;
    std::set<std::int64_t> FLockedRecords;  // taken by LockRecord
    int FIndex = -1;

    // Filter and range as last given.
    std::string FExpression;
    int FCompareFlags = 0;
    std::optional<std::vector<ClientValue>> FLower, FUpper;
    std::string FCompiledWhere;
    std::vector<Value> FCompiledParams;

    State FState = State::Browse;
    std::vector<Value> FBuffer;
    std::vector<Value> FOriginal;  // an edited record's values as read under EditRecord
    std::int64_t FEditRecNo = 0;
};

}  // namespace engine
