// The table engine: registration of its COM classes and its schema API.
//
// This is the one header that a user of the engine library includes.
//
// RegisterEngineServer() puts the engine's classes (table, string, filter and
// relation objects) into the COM layer's class registry; the program's
// composition root calls it once before anything creates an engine object.
// Calling it again is harmless.
//
// The schema API works on table files directly, never through an open engine
// table object:
//   - CreateTable writes a new table file (catalog area and empty page store).
//   - AddIndex / DropIndex change the catalog; they need the table lock, so
//     they fail with "in use by another user" while anyone has the table open.
//     The new file is written beside the old one and renamed over it.
//   - BulkInserter adds many rows in one transaction: all or nothing.
//   - ReadTableInfo reads the catalogue and the record count (for `info`),
//     opening the table for reading only (it works where this user cannot
//     write, and changes nothing).
//   - CheckTable verifies a table without changing it (for `check`).
// CreateTable, AddIndex, DropIndex and BulkInserter::Commit return only once
// their result is durable (synced to the disk); a failed sync, write or close
// on the way fails them with the system's reason ("I/O error on table file
// '<path>' while writing (Input/output error)", "Cannot write table file
// '<path>': the disk is full"), and a failed create leaves no file behind.
// Every failure throws engine::EngineError whose message names the file (and
// the column, index or row concerned).
//
// Ownership: everything returned is a value owned by the caller.
// Threads: every function may be called from any thread; a BulkInserter
// belongs to the thread that created it.
#pragma once

#include "engine/Errors.h"

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace engine {

// Registers CoBFTable, CoBFString, CoBFFilter and CoBFRelation in the class
// registry of the COM layer.
void RegisterEngineServer();

// One column of a table. Type letters: B C D E G I L M R T U V W Y Z.
// Size counts bytes for "C" and "U" (1 to 255); other types ignore it and
// store their natural size. Name: 1 to 64 characters, none of + ; [ ] | or
// control characters.
struct ColumnSpec {
    std::string Name;
    char Type = 'C';
    int Size = 0;
    bool AutoInc = false;  // only for I, L, V, W
};

// One index: zero-based column numbers (1 to 10 of them), unique or not.
struct IndexSpec {
    std::vector<int> Columns;
    bool Unique = false;
};

// Everything the catalog describes. Locale: ICU locale id of at most 8 ASCII
// characters ("" = root) that orders the string keys of the indexes.
struct TableSchema {
    std::vector<ColumnSpec> Columns;
    std::vector<IndexSpec> Indexes;
    std::string Locale;
};

// The catalogue plus the record count, as `tamblor info` shows it.
struct TableInfo {
    TableSchema Schema;
    std::int64_t RecordCount = 0;
};

// A value in its stored form, for bulk inserts.
//   B: Int 0 or 1; D, Z: Int whole days since 30 Dec 1899; T, Y: Int
//   milliseconds since midnight; E, R: Real (an Int is accepted);
//   I, L, V, W: Int; C, U, M, G: Text (UTF-8). Null: Kind::Null.
struct Value {
    enum class Kind { Null, Int, Real, Text };
    Kind kind = Kind::Null;
    std::int64_t i = 0;
    double r = 0;
    std::string s;

    static Value Null() { return {}; }
    static Value Int(std::int64_t v) { Value x; x.kind = Kind::Int; x.i = v; return x; }
    static Value Real(double v) { Value x; x.kind = Kind::Real; x.r = v; return x; }
    static Value Text(std::string v) { Value x; x.kind = Kind::Text; x.s = std::move(v); return x; }
    bool IsNull() const { return kind == Kind::Null; }
};

// Parses the text form of a value for a column of the given type letter:
// "" = null; dates YYYY-MM-DD; times HH:MM[:SS]; booleans true/false/1/0
// (letter case ignored); integers and decimal numbers with '.'; texts as they
// are. Throws EngineError with the reason (without line or column: the
// caller adds them) when the text does not fit the type.
Value ParseValue(char type, std::string_view text);

// Creates the table file at path (which must not exist) from the schema.
// Validates names, types, sizes and index column numbers first.
void CreateTable(const std::string& path, const TableSchema& schema);

// Adds an index to an existing table and builds it; returns its zero-based
// number. A unique index over columns that already hold duplicate keys is
// refused with a message naming the index.
int AddIndex(const std::string& path, const IndexSpec& index);

// Removes index number `index` (zero-based; later indexes move down by one).
void DropIndex(const std::string& path, int index);

// Reads the catalog and the record count of an existing table.
TableInfo ReadTableInfo(const std::string& path);

// One line of a table check: something checked and found sound, or a
// problem found (naming the column, index or page concerned).
struct CheckLine {
    bool Problem = false;
    std::string Text;
};

// Checks the table file at path, reading it only (its page store is opened
// read-only; nothing is written to the file, not even a checkpoint): the
// catalog against the page store's copy of it, the full column names and the
// record table; the page store's own integrity check with the table's
// collation; every index against its catalog record and its records; the
// cached record count against the records. Returns a line per check and per
// problem, in that order; the table is damaged when any line is a problem
// (a page store that cannot be read is one). Throws EngineError when there is
// nothing to check: the file does not exist, or another user holds the table
// exclusively (a schema change or a bulk insert is under way).
std::vector<CheckLine> CheckTable(const std::string& path);

// Inserts rows in one transaction. Rows are added with Add (one value per
// column in column order; a null auto-increment column receives the next
// counter value; Y and Z columns are written by the engine and must be null).
// Commit makes all rows durable at once; destroying the inserter without
// Commit, or any failed Add, leaves the table as it was.
// The inserter holds the table lock from construction to Commit/destruction.
class BulkInserter {
public:
    explicit BulkInserter(const std::string& path);
    ~BulkInserter();
    BulkInserter(const BulkInserter&) = delete;
    BulkInserter& operator=(const BulkInserter&) = delete;

    const TableSchema& Schema() const;
    // Throws EngineError naming the column (and the row number counted from 1
    // within this inserter) for a value that does not fit; the transaction is
    // then abandoned and further calls fail.
    void Add(const std::vector<Value>& row);
    std::int64_t RowsAdded() const;
    void Commit();

private:
    struct Impl;
    std::unique_ptr<Impl> FImpl;
};

}  // namespace engine
