#include "engine/PageStore.h"

#include "engine/Catalog.h"
#include "engine/Vfs.h"

#if __has_include("engine/FilterExpr.h")
#include "engine/FilterExpr.h"
#define TAMBLOR_HAVE_FILTER_SQL 1
#endif

#include <sqlite3.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace engine {

namespace {

bool Writable(const std::string& path, int mode, int& err) {
    if (::faccessat(AT_FDCWD, path.c_str(), mode, AT_EACCESS) == 0) return true;
    err = errno;
    return false;
}

// After a commit that leaves many pages in the log: copy them into the table
// file unless a snapshot connection reads it. A failure is left for a later
// commit or the close (the commit itself is done).
int AutoCheckpoint(void*, sqlite3* db, const char*, int pages) {
    if (pages >= 1000 && CheckpointLog(db, SQLITE_CHECKPOINT_PASSIVE, nullptr, nullptr) != SQLITE_OK)
        TakeLastIoErrno();  // not this commit's failure
    return SQLITE_OK;
}

}  // namespace

std::string WriteAccessProblem(const std::string& path) {
    int err = 0;
    if (!Writable(path, W_OK, err))
        return "Table file '" + path + "' cannot be written (" + std::strerror(err) + ")";
    const std::size_t slash = path.rfind('/');
    const std::string dir = slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    for (const char* suffix : {"-wal", "-shm"}) {
        const std::string side = path + suffix;
        struct stat st {};
        if (::stat(side.c_str(), &st) == 0) {
            if (!Writable(side, W_OK, err))
                return "Table file '" + path + "' cannot be written: its side file '" + side + "' cannot be written (" +
                       std::strerror(err) + ")";
        } else if (!Writable(dir, W_OK | X_OK, err)) {
            return "Table file '" + path + "' cannot be written here: its folder '" + dir +
                   "' must hold its side files '" + name + "-wal' and '" + name + "-shm' but cannot be written (" +
                   std::strerror(err) + ")";
        }
    }
    return {};
}

void RequireWriteAccess(const std::string& path, const std::string& advice) {
    const std::string problem = WriteAccessProblem(path);
    if (!problem.empty()) throw EngineError(problem + advice);
}

std::string StoreErrorMessage(sqlite3* db, int rc, const std::string& path, const std::string& what) {
    if (std::string refused = TakeSideFileRefusal(db); !refused.empty()) return refused;
    const std::string detail = db ? sqlite3_errmsg(db) : sqlite3_errstr(rc);
    switch (rc & 0xFF) {
    case SQLITE_IOERR:
    case SQLITE_FULL: {
        int sys = TakeLastIoErrno();
        if (sys == 0 && db) sys = sqlite3_system_errno(db);
        return IoErrorMessage(path, rc, sys, what);
    }
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
        return "Table '" + path + "' is busy: it is in use by another user";
    case SQLITE_CORRUPT:
    case SQLITE_NOTADB:
        return "Table file '" + path + "' is damaged (" + detail + ")";
    case SQLITE_READONLY:
        // A connection that may not write found the journal of a bulk insert
        // that did not end (its process died): only a writer rolls it back.
        if (rc == SQLITE_READONLY_ROLLBACK)
            return "Table file '" + path + "' cannot be read before the unfinished bulk insert in its side file '" +
                   path + "-journal' is rolled back; open the table once for writing to roll it back";
        return "Table file '" + path + "' is read-only";
    case SQLITE_CANTOPEN:
        return "Cannot open table file '" + path + "' (" + detail + ")";
    case SQLITE_NOMEM:
        return "Out of memory while " + what + " on table '" + path + "'";
    default:
        return "Error on table '" + path + "' while " + what + " (" + detail + ")";
    }
}

const char* SqlTypeOf(char type) {
    switch (type) {
    case 'C': case 'U': case 'M': case 'G': return "TEXT";
    case 'E': case 'R': return "REAL";
    default: return "INTEGER";
    }
}

std::string IndexSql(const TableSchema& s, std::size_t k) {
    const IndexSpec& ix = s.Indexes[k];
    std::string sql = std::string("CREATE ") + (ix.Unique ? "UNIQUE " : "") + "INDEX ix" + std::to_string(k) +
                      " ON records(";
    for (std::size_t i = 0; i < ix.Columns.size(); ++i) {
        const int c = ix.Columns[i];
        if (i) sql += ",";
        sql += "c" + std::to_string(c);
        if (IsTextType(s.Columns[static_cast<std::size_t>(c)].Type)) sql += " COLLATE MONEYKEY";
    }
    if (!ix.Unique) sql += ",rowid";
    return sql + ")";
}

// ------------------------------------------------------------------ Query

Query::Query(sqlite3* db, sqlite3_stmt* stmt, const std::string* path) : FDb(db), FStmt(stmt), FPath(path) {}

Query::~Query() {
    sqlite3_reset(FStmt);
    sqlite3_clear_bindings(FStmt);
}

Query& Query::Bind(int index, const Value& v, bool keepText) {
    switch (v.kind) {
    case Value::Kind::Null: sqlite3_bind_null(FStmt, index); break;
    case Value::Kind::Int: sqlite3_bind_int64(FStmt, index, v.i); break;
    case Value::Kind::Real: sqlite3_bind_double(FStmt, index, v.r); break;
    case Value::Kind::Text:
        sqlite3_bind_text(FStmt, index, v.s.data(), static_cast<int>(v.s.size()),
                          keepText ? SQLITE_STATIC : SQLITE_TRANSIENT);
        break;
    }
    return *this;
}

Query& Query::Bind(int index, std::int64_t v) {
    sqlite3_bind_int64(FStmt, index, v);
    return *this;
}

Query& Query::Bind(int index, const std::string& v) {
    sqlite3_bind_text(FStmt, index, v.data(), static_cast<int>(v.size()), SQLITE_TRANSIENT);
    return *this;
}

bool Query::Step() {
    const int rc = sqlite3_step(FStmt);
    if (rc == SQLITE_ROW) return true;
    if (rc == SQLITE_DONE) return false;
    const std::string msg = StoreErrorMessage(FDb, rc, *FPath, "reading");
    sqlite3_reset(FStmt);
    throw EngineError(msg);
}

int Query::Run(bool allowConstraint) {
    for (;;) {
        const int rc = sqlite3_step(FStmt);
        if (rc == SQLITE_ROW) continue;
        if (rc == SQLITE_DONE) return rc;
        const int ext = sqlite3_extended_errcode(FDb);
        if (allowConstraint && (rc & 0xFF) == SQLITE_CONSTRAINT) {
            sqlite3_reset(FStmt);
            return ext;
        }
        const std::string msg = StoreErrorMessage(FDb, ext, *FPath, "writing");
        sqlite3_reset(FStmt);
        throw EngineError(msg);
    }
}

Value Query::Column(int i) const {
    switch (sqlite3_column_type(FStmt, i)) {
    case SQLITE_NULL: return Value::Null();
    case SQLITE_INTEGER: return Value::Int(sqlite3_column_int64(FStmt, i));
    case SQLITE_FLOAT: return Value::Real(sqlite3_column_double(FStmt, i));
    default: {
        const auto* p = reinterpret_cast<const char*>(sqlite3_column_text(FStmt, i));
        const int n = sqlite3_column_bytes(FStmt, i);
        return Value::Text(std::string(p ? p : "", static_cast<std::size_t>(n)));
    }
    }
}

void Query::ColumnInto(int i, Value& v) const {
    // A value that is not a text keeps no text of an earlier use of v (the
    // buffer stays allocated for the next text).
    switch (sqlite3_column_type(FStmt, i)) {
    case SQLITE_NULL:
        v.kind = Value::Kind::Null;
        v.s.clear();
        break;
    case SQLITE_INTEGER:
        v.kind = Value::Kind::Int;
        v.i = sqlite3_column_int64(FStmt, i);
        v.s.clear();
        break;
    case SQLITE_FLOAT:
        v.kind = Value::Kind::Real;
        v.r = sqlite3_column_double(FStmt, i);
        v.s.clear();
        break;
    default: {
        const auto* p = reinterpret_cast<const char*>(sqlite3_column_text(FStmt, i));
        const int n = sqlite3_column_bytes(FStmt, i);
        v.kind = Value::Kind::Text;
        v.s.assign(p ? p : "", static_cast<std::size_t>(n));
    }
    }
}

std::int64_t Query::Int(int i) const { return sqlite3_column_int64(FStmt, i); }
bool Query::IsNull(int i) const { return sqlite3_column_type(FStmt, i) == SQLITE_NULL; }

// -------------------------------------------------------------- PageStore

PageStore::~PageStore() { Close(); }

void PageStore::Open(const std::string& path, OpenMode mode) {
    Close();
    FPath = path;
    // A snapshot connection: read-only where this user cannot write, and
    // always for an inspection.
    const bool snapshot =
        mode == OpenMode::Inspect || (mode == OpenMode::ReadOnly && !WriteAccessProblem(path).empty());
    const char* vfs = RegisterPageStoreVfs();
    sqlite3* db = nullptr;
    int rc = sqlite3_open_v2(path.c_str(), &db,
                             (snapshot ? SQLITE_OPEN_READONLY : SQLITE_OPEN_READWRITE) | SQLITE_OPEN_NOMUTEX |
                                 SQLITE_OPEN_PRIVATECACHE,
                             vfs);
    if (rc != SQLITE_OK) {
        const std::string msg = StoreErrorMessage(db, rc, path, "opening");
        sqlite3_close_v2(db);
        throw EngineError(msg);
    }
    FDb = db;
    sqlite3_extended_result_codes(db, 1);
    sqlite3_busy_timeout(db, 10000);
#ifdef TAMBLOR_HAVE_FILTER_SQL
    RegisterFilterSql(db);
#endif
    try {
        if (snapshot) {
            // The log's index in private memory, no checkpoint at the close.
            Exec("PRAGMA locking_mode=EXCLUSIVE");
            sqlite3_db_config(db, SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 1, nullptr);
        } else {
            sqlite3_wal_hook(db, AutoCheckpoint, nullptr);
        }
        Exec("PRAGMA synchronous=NORMAL");
        Exec("PRAGMA mmap_size=0");
        // A fixed page cache of 32 MiB, whatever the table's size: it holds
        // the inner pages of the record tree and of an index of a table of
        // ten million records, so that a seek reads at most its two leaf
        // pages from the file. It is filled only as pages are read.
        Exec("PRAGMA cache_size=-32768");
        if (mode == OpenMode::Create) {
            // WAL is recorded in the page store's header: every later open
            // uses it.
            Query q = Prepare("PRAGMA journal_mode=WAL");
            if (!q.Step() || q.Column(0).s != "wal")
                throw EngineError("Cannot switch table file '" + path + "' to write-ahead logging");
        }
    } catch (...) {
        Close();
        throw;
    }
}

void PageStore::StartReading() { Prepare("PRAGMA schema_version").Step(); }

void PageStore::SetDurable() { Exec("PRAGMA synchronous=FULL"); }

void PageStore::Checkpoint() {
    int log = 0, done = 0;
    const int rc = CheckpointLog(FDb, SQLITE_CHECKPOINT_TRUNCATE, &log, &done);
    if (rc == SQLITE_BUSY || (rc == SQLITE_OK && log != 0))
        throw EngineError("Table '" + FPath + "' is busy: it is in use by another user");
    if (rc != SQLITE_OK) Fail(sqlite3_extended_errcode(FDb), "writing");
}

void PageStore::Close() {
    for (auto& [sql, st] : FCache) sqlite3_finalize(st);
    FCache.clear();
    FCacheOrder.clear();
    if (FDb) {
        sqlite3_close_v2(FDb);
        FDb = nullptr;
    }
}

Query PageStore::Prepare(const std::string& sql) {
    auto it = FCache.find(sql);
    if (it != FCache.end()) return Query(FDb, it->second, &FPath);
    if (FCache.size() >= 200) {
        // Trim the oldest statements that are not in use.
        for (auto o = FCacheOrder.begin(); o != FCacheOrder.end() && FCache.size() >= 150;) {
            auto c = FCache.find(*o);
            if (c != FCache.end() && !sqlite3_stmt_busy(c->second)) {
                sqlite3_finalize(c->second);
                FCache.erase(c);
                o = FCacheOrder.erase(o);
            } else {
                ++o;
            }
        }
    }
    sqlite3_stmt* st = nullptr;
    const int rc = sqlite3_prepare_v3(FDb, sql.c_str(), static_cast<int>(sql.size()), SQLITE_PREPARE_PERSISTENT, &st,
                                      nullptr);
    if (rc != SQLITE_OK) Fail(rc, "preparing a query");
    FCache.emplace(sql, st);
    FCacheOrder.push_back(sql);
    return Query(FDb, st, &FPath);
}

void PageStore::Exec(const std::string& sql) {
    char* err = nullptr;
    const int rc = sqlite3_exec(FDb, sql.c_str(), nullptr, nullptr, &err);
    sqlite3_free(err);
    if (rc != SQLITE_OK) Fail(sqlite3_extended_errcode(FDb), "updating");
}

void PageStore::Begin() { Prepare("BEGIN IMMEDIATE").Run(); }

void PageStore::Commit() { Prepare("COMMIT").Run(); }

void PageStore::Rollback() noexcept {
    if (FDb && !sqlite3_get_autocommit(FDb)) sqlite3_exec(FDb, "ROLLBACK", nullptr, nullptr, nullptr);
}

bool PageStore::InTransaction() const { return FDb && !sqlite3_get_autocommit(FDb); }

std::int64_t PageStore::DataVersion() {
    Query q = Prepare("PRAGMA data_version");
    q.Step();
    return q.Int(0);
}

bool PageStore::GetMeta(const std::string& key, Value& out) {
    Query q = Prepare("SELECT value FROM meta WHERE key=?");
    q.Bind(1, key);
    if (!q.Step()) return false;
    out = q.Column(0);
    return true;
}

std::int64_t PageStore::GetMetaInt(const std::string& key, std::int64_t def) {
    Value v;
    if (!GetMeta(key, v) || v.kind != Value::Kind::Int) return def;
    return v.i;
}

void PageStore::SetMeta(const std::string& key, const Value& v) {
    Query q = Prepare("INSERT INTO meta(key,value) VALUES(?,?) ON CONFLICT(key) DO UPDATE SET value=excluded.value");
    q.Bind(1, key).Bind(2, v);
    q.Run();
}

void PageStore::Fail(int rc, const std::string& what) const {
    throw EngineError(StoreErrorMessage(FDb, rc, FPath, what));
}

}  // namespace engine
