// The page store of one open table: an SQLite connection on NAME.dat through
// the page-store VFS, with prepared-statement caching, transactions and the
// `meta` key/value table.
//
// Schema inside the page store (fixed identifiers; user text never becomes an
// identifier):
//   records(rowid INTEGER PRIMARY KEY AUTOINCREMENT, c0, c1, ...)
//   meta(key TEXT PRIMARY KEY, value)   -- count, autoinc:<n>, collator, format,
//                                       -- catalog (the copy of the catalog: Catalog.h)
//   columns(num INTEGER PRIMARY KEY, name TEXT)
//   ix<k>: one SQL index per catalog index record
//
// Open modes:
//   Create     a new table file (the caller wrote its catalog area): the page
//              store is switched to write-ahead logging
//   ReadWrite  an existing table; the caller has checked with
//              RequireWriteAccess that the file and its side files can be
//              written
//   ReadOnly   an existing table, for reading only (the caller refuses every
//              change). When this user can write the file and its side files
//              it is an ordinary connection (it shares the log and sees the
//              posts of others); otherwise a snapshot connection (Vfs.h): no
//              side file is created or changed, and the table is seen as it
//              was at the open.
//   Inspect    always a snapshot connection, even where this user can
//              write: it never changes the table file or its side files
//              (`tamblor check`).
// Checkpoints: the connection copies the log into the table file after a
// commit that leaves 1000 pages or more in it, unless a snapshot connection
// has the table open (CheckpointLog); the last connection to close copies the
// rest and removes the side files, unless a snapshot connection still reads.
//
// Ownership: PageStore owns the connection and its statements; a Statement
// handed out by Prepare stays owned by the cache (valid until Close or the
// cache is trimmed by a later Prepare; callers use it at once).
// Threads: one PageStore belongs to one thread.
#pragma once

#include "engine/Collation.h"
#include "engine/Engine.h"

#include <cstdint>
#include <list>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

struct sqlite3;
struct sqlite3_stmt;

namespace engine {

// A prepared statement in use: binds, steps and reads; resets on destruction.
class Query {
public:
    Query(sqlite3* db, sqlite3_stmt* stmt, const std::string* path);
    ~Query();
    Query(const Query&) = delete;
    Query& operator=(const Query&) = delete;

    // 1-based. The statement takes a copy of a text unless keepText says
    // that v outlives the statement's use of it (the next Step, Run or reset).
    Query& Bind(int index, const Value& v, bool keepText = false);
    Query& Bind(int index, std::int64_t v);
    Query& Bind(int index, const std::string& v);
    // Steps once: true while a row is available. Throws EngineError on failure.
    bool Step();
    // Steps to completion; returns the SQLite result code of the final step
    // (SQLITE_DONE, or SQLITE_CONSTRAINT_... without throwing for constraint
    // failures when allowConstraint is set).
    int Run(bool allowConstraint = false);
    Value Column(int i) const;
    // Stores column i into v, reusing v's text buffer.
    void ColumnInto(int i, Value& v) const;
    std::int64_t Int(int i) const;
    bool IsNull(int i) const;

private:
    sqlite3* FDb;
    sqlite3_stmt* FStmt;
    const std::string* FPath;
};

enum class OpenMode { Create, ReadWrite, ReadOnly, Inspect };

// "" when this user can write the table file at path and its side files
// (the existing ones, and the folder that must hold the missing ones);
// otherwise why not, naming the file or the folder: "Table file '<path>'
// cannot be written (<reason>)", "... its side file '<path>-shm' cannot be
// written (<reason>)", "... its folder '<dir>' must hold its side files ...".
std::string WriteAccessProblem(const std::string& path);
// Throws EngineError(WriteAccessProblem(path) + advice) when there is one.
void RequireWriteAccess(const std::string& path, const std::string& advice);

class PageStore {
public:
    PageStore() = default;
    ~PageStore();
    PageStore(const PageStore&) = delete;
    PageStore& operator=(const PageStore&) = delete;

    // Opens a connection on the table file `path` (reading nothing yet, so
    // that the caller can check the catalog first) and registers the filter
    // functions; the caller registers MONEYKEY (RegisterMoneyKey) once it
    // knows the table's locale.
    void Open(const std::string& path, OpenMode mode);
    // The first read: opens the log and checks the side files (Vfs.h).
    // Throws EngineError naming a refused side file.
    void StartReading();
    void Close();
    bool IsOpen() const { return FDb != nullptr; }
    // Every later commit syncs the log before it counts as done (for the
    // operations that report completion: create, bulk inserts, schema
    // changes); ordinary posts may lose the latest commits to a power failure.
    void SetDurable();
    // Copies the whole log into the table file, syncs it and empties the log.
    // Throws EngineError when it fails or cannot complete.
    void Checkpoint();
    sqlite3* Db() const { return FDb; }
    const std::string& Path() const { return FPath; }

    Query Prepare(const std::string& sql);
    void Exec(const std::string& sql);

    // BEGIN IMMEDIATE / COMMIT / ROLLBACK (rollback never throws).
    void Begin();
    void Commit();
    void Rollback() noexcept;
    bool InTransaction() const;

    // Counter that changes whenever another connection committed.
    std::int64_t DataVersion();

    // meta table access (inside or outside a transaction).
    bool GetMeta(const std::string& key, Value& out);
    std::int64_t GetMetaInt(const std::string& key, std::int64_t def);
    void SetMeta(const std::string& key, const Value& v);

    // Throws EngineError for a failed SQLite call with the file named.
    [[noreturn]] void Fail(int rc, const std::string& what) const;

private:
    sqlite3* FDb = nullptr;
    std::string FPath;
    std::unordered_map<std::string, sqlite3_stmt*> FCache;
    std::list<std::string> FCacheOrder;
};

// Message for an SQLite failure on the table file `path`: the refused side
// file when the VFS refused one, IoErrorMessage (Vfs.h) for an I/O error or a
// full disk (with the system's reason), ...
std::string StoreErrorMessage(sqlite3* db, int rc, const std::string& path, const std::string& what);

// The SQL column declaration of a column type.
const char* SqlTypeOf(char type);

// The statement that creates the SQL index ix<k> of index record k.
std::string IndexSql(const TableSchema& schema, std::size_t k);

}  // namespace engine
