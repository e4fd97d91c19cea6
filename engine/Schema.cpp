// The schema API: creating tables, adding and dropping indexes, bulk inserts
// and reading the catalogue.
#include "engine/Catalog.h"
#include "engine/Engine.h"
#include "engine/Locks.h"
#include "engine/PageStore.h"
#include "engine/Table.h"
#include "engine/Values.h"
#include "engine/Vfs.h"

#include <sqlite3.h>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace engine {

namespace {

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

// Builds index k; a unique index over duplicate keys is refused by name.
void BuildIndex(PageStore& store, const TableSchema& s, std::size_t k, const std::string& path) {
    try {
        store.Exec(IndexSql(s, k));
    } catch (const EngineError&) {
        if ((sqlite3_extended_errcode(store.Db()) & 0xFF) == SQLITE_CONSTRAINT)
            throw EngineError("Cannot create the unique index '" + IndexName(s, s.Indexes[k]) + "' on table '" + path +
                              "': records with equal keys exist");
        throw;
    }
}

void WriteAll(int fd, const void* data, std::size_t size, std::int64_t offset, const std::string& path) {
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n = ::pwrite(fd, static_cast<const char*>(data) + done, size - done,
                                   static_cast<off_t>(offset + static_cast<std::int64_t>(done)));
        if (n < 0) {
            if (errno == EINTR) continue;
            throw EngineError("Cannot write table file '" + path + "': " + std::strerror(errno));
        }
        done += static_cast<std::size_t>(n);
    }
}

// Writes the catalog area (catalog + zeros to 65536) of a new file.
int CreateCatalogFile(const std::string& path, const TableSchema& schema) {
    std::vector<std::uint8_t> area = EncodeCatalog(schema);
    area.resize(static_cast<std::size_t>(PageStoreOffset), 0);
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0) {
        if (errno == EEXIST) throw EngineError("Table file '" + path + "' already exists");
        throw EngineError("Cannot create table file '" + path + "': " + std::strerror(errno));
    }
    try {
        WriteAll(fd, area.data(), area.size(), 0, path);
    } catch (...) {
        ::close(fd);
        ::unlink(path.c_str());
        throw;
    }
    return fd;
}

void RemoveTableFiles(const std::string& path) {
    ::unlink(path.c_str());
    ::unlink((path + "-wal").c_str());
    ::unlink((path + "-shm").c_str());
}

void SyncDirectoryOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    const std::string dir = slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));
    const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

// Switches the page store's journal ("wal" or "delete"); the caller makes
// sure that no one else has the table open.
void SetJournalMode(PageStore& store, const std::string& path, const std::string& mode) {
    Query q = store.Prepare("PRAGMA journal_mode=" + mode);
    if (q.Step() && q.Column(0).s == mode) return;
    // SQLite keeps the mode of a file it cannot write, without an error.
    if (sqlite3_db_readonly(store.Db(), "main") == 1)
        throw EngineError(StoreErrorMessage(store.Db(), SQLITE_READONLY, path, "writing"));
    throw EngineError("Cannot switch table file '" + path + "' to journal mode " + mode);
}

// Writes the page store's initial schema: records, meta, columns, indexes.
void InitialisePageStore(PageStore& store, const TableSchema& schema) {
    store.Begin();
    std::string sql = "CREATE TABLE records(rowid INTEGER PRIMARY KEY AUTOINCREMENT";
    for (std::size_t c = 0; c < schema.Columns.size(); ++c)
        sql += ",c" + std::to_string(c) + " " + SqlTypeOf(schema.Columns[c].Type);
    store.Exec(sql + ")");
    store.Exec("CREATE TABLE meta(key TEXT PRIMARY KEY, value)");
    store.Exec("CREATE TABLE columns(num INTEGER PRIMARY KEY, name TEXT)");
    for (std::size_t c = 0; c < schema.Columns.size(); ++c) {
        Query q = store.Prepare("INSERT INTO columns(num,name) VALUES(?,?)");
        q.Bind(1, static_cast<std::int64_t>(c)).Bind(2, schema.Columns[c].Name);
        q.Run();
    }
    for (std::size_t k = 0; k < schema.Indexes.size(); ++k) store.Exec(IndexSql(schema, k));
    store.SetMeta("count", Value::Int(0));
    store.SetMeta("format", Value::Int(1));
    store.Commit();
}

// Reads the full schema of an open page store.
TableSchema LoadSchema(PageStore& store, const std::string& path) {
    std::vector<std::uint8_t> buf(MaxCatalogSize);
    std::int64_t fileSize = 0;
    const std::int64_t n = ReadTableFileBytes(store.Db(), path, buf.data(), MaxCatalogSize, 0, &fileSize);
    TableSchema s = DecodeCatalog(buf.data(), static_cast<std::size_t>(n), fileSize, path);
    Query q = store.Prepare("SELECT num, name FROM columns ORDER BY num");
    while (q.Step()) {
        const std::int64_t num = q.Int(0);
        const Value name = q.Column(1);
        if (num >= 0 && num < static_cast<std::int64_t>(s.Columns.size()) && name.kind == Value::Kind::Text)
            s.Columns[static_cast<std::size_t>(num)].Name = name.s;
    }
    return s;
}

// Rewrites the table under the table lock: a new file with the new catalog
// and a copy of the page store, changed by `change`, renamed over the old.
template <class Change>
void RewriteTable(const std::string& path0, Change change) {
    const std::string path = ResolveTablePath(path0);
    TableLocks locks;
    locks.Open(path);
    locks.LockTable();  // "in use by another user" while anyone has it open
    TableSchema old;
    {
        // Fold the write-ahead log into the page store so that a byte copy
        // of the file holds everything.
        PageStore store;
        store.Open(path, false);
        old = LoadSchema(store, path);
        Collator coll(old.Locale);
        RegisterMoneyKey(store.Db(), &coll);
        store.Exec("PRAGMA wal_checkpoint(TRUNCATE)");
        store.Close();
    }
    TableSchema next = old;
    const std::string tmp = path + ".rebuild";
    RemoveTableFiles(tmp);
    {
        std::vector<std::uint8_t> area;
        // change() may refuse the new schema before anything is written.
        auto action = change(next);
        const int out = CreateCatalogFile(tmp, next);
        const int in = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        try {
            if (in < 0) throw EngineError("Cannot read table file '" + path + "': " + std::strerror(errno));
            std::vector<char> buf(1 << 20);
            std::int64_t off = PageStoreOffset;
            for (;;) {
                const ssize_t n = ::pread(in, buf.data(), buf.size(), off);
                if (n < 0) {
                    if (errno == EINTR) continue;
                    throw EngineError("Cannot read table file '" + path + "': " + std::strerror(errno));
                }
                if (n == 0) break;
                WriteAll(out, buf.data(), static_cast<std::size_t>(n), off, tmp);
                off += n;
            }
            if (::fsync(out) != 0) throw EngineError("Cannot write table file '" + tmp + "': " + std::strerror(errno));
        } catch (...) {
            if (in >= 0) ::close(in);
            ::close(out);
            RemoveTableFiles(tmp);
            throw;
        }
        ::close(in);
        ::close(out);
        try {
            PageStore store;
            store.Open(tmp, false);
            Collator coll(next.Locale);
            RegisterMoneyKey(store.Db(), &coll);
            store.Begin();
            action(store, next, path);
            store.SetMeta("collator", Value::Text(coll.Version()));
            store.Commit();
            store.Exec("PRAGMA wal_checkpoint(TRUNCATE)");
            store.Close();
        } catch (...) {
            RemoveTableFiles(tmp);
            throw;
        }
    }
    {
        const int fd = ::open(tmp.c_str(), O_RDWR | O_CLOEXEC);
        if (fd >= 0) {
            ::fsync(fd);
            ::close(fd);
        }
    }
    if (::rename(tmp.c_str(), path.c_str()) != 0) {
        const std::string err = std::strerror(errno);
        RemoveTableFiles(tmp);
        throw EngineError("Cannot replace table file '" + path + "': " + err);
    }
    ::unlink((tmp + "-wal").c_str());
    ::unlink((tmp + "-shm").c_str());
    SyncDirectoryOf(path);
    locks.Close();
}

}  // namespace

void CreateTable(const std::string& path, const TableSchema& schema) {
    ValidateSchema(schema);
    Collator coll(schema.Locale);
    // Refuse an unknown locale before anything is written, rather than order
    // the keys silently by the root rules.
    if (!coll.Known()) throw EngineError("No collation is available for locale '" + schema.Locale + "'");
    const int fd = CreateCatalogFile(path, schema);
    ::close(fd);
    try {
        PageStore store;
        store.Open(path, true);
        RegisterMoneyKey(store.Db(), &coll);
        InitialisePageStore(store, schema);
        store.SetMeta("collator", Value::Text(coll.Version()));
        store.Close();
    } catch (...) {
        RemoveTableFiles(path);
        throw;
    }
}

int AddIndex(const std::string& path, const IndexSpec& index) {
    int number = -1;
    RewriteTable(path, [&](TableSchema& s) {
        s.Indexes.push_back(index);
        ValidateSchema(s);
        number = static_cast<int>(s.Indexes.size()) - 1;
        return [number](PageStore& store, const TableSchema& ns, const std::string& p) {
            BuildIndex(store, ns, static_cast<std::size_t>(number), p);
        };
    });
    return number;
}

void DropIndex(const std::string& path, int index) {
    RewriteTable(path, [&](TableSchema& s) {
        if (index < 0 || index >= static_cast<int>(s.Indexes.size()))
            throw EngineError("Table '" + path + "' has no index number " + std::to_string(index + 1));
        const std::size_t oldCount = s.Indexes.size();
        s.Indexes.erase(s.Indexes.begin() + index);
        return [index, oldCount](PageStore& store, const TableSchema& ns, const std::string& p) {
            // Indexes are named by their position: the later ones move down.
            for (std::size_t k = static_cast<std::size_t>(index); k < oldCount; ++k)
                store.Exec("DROP INDEX ix" + std::to_string(k));
            for (std::size_t k = static_cast<std::size_t>(index); k < ns.Indexes.size(); ++k) BuildIndex(store, ns, k, p);
        };
    });
}

TableInfo ReadTableInfo(const std::string& path) {
    Table t;
    t.Open(path);
    TableInfo info;
    info.Schema = t.Schema();
    info.RecordCount = t.CountRecords();
    t.Close();
    return info;
}

// ------------------------------------------------------------ BulkInserter

// A load writes each page about once:
//   - It runs with a rollback journal (NAME.dat-journal) instead of the
//     write-ahead log. Pages that the load adds go straight into the table
//     file; only pages that existed before are saved in the journal first, so
//     the journal stays small (a few pages for a table that starts empty).
//     The write-ahead log would take every page, to be copied once more at its
//     checkpoint. The load is still one transaction: a failure, or a crash
//     (the next open rolls the journal back), leaves the table as it was. The
//     table returns to the write-ahead log when the load ends.
//   - Into a table that starts empty, the rows go without the indexes that
//     are not unique; those are built at the commit by sorting, each written
//     once in order, instead of taking every row at a random place. Unique
//     indexes stay in force so that a duplicate key is refused at its row.
struct BulkInserter::Impl {
    std::string Path;
    TableLocks Locks;
    PageStore Store;
    std::unique_ptr<Collator> Coll;
    TableSchema Schema;
    std::int64_t Rows = 0;
    bool Started = false;
    bool Done = false;
    bool Failed = false;
    bool Journal = false;               // switched from the write-ahead log to a rollback journal
    std::vector<std::size_t> Deferred;  // indexes dropped for the load, built at the commit
    std::vector<std::int64_t> AutoInc;  // next counter per column (0 = unused)
    std::string InsertSql;

    // Ends the rollback journal: back to the write-ahead log. Should that
    // fail, the table keeps the journal, which works as well: the next open
    // of the table switches back.
    void EndJournal() noexcept {
        if (!Journal) return;
        Journal = false;
        try {
            SetJournalMode(Store, Path, "wal");
        } catch (const EngineError&) {
        }
    }
};

BulkInserter::BulkInserter(const std::string& path0) : FImpl(std::make_unique<Impl>()) {
    Impl& m = *FImpl;
    m.Path = ResolveTablePath(path0);
    m.Locks.Open(m.Path);
    try {
        m.Locks.LockTable();
        m.Store.Open(m.Path, false);
        // Index pages of a large load stay in memory until the commit.
        m.Store.Exec("PRAGMA cache_size=-262144");
        // The table lock keeps everyone else out, as the switch needs.
        SetJournalMode(m.Store, m.Path, "delete");
        m.Journal = true;
        m.Store.Exec("PRAGMA synchronous=FULL");
        m.Schema = LoadSchema(m.Store, m.Path);
        m.Coll = std::make_unique<Collator>(m.Schema.Locale);
        RegisterMoneyKey(m.Store.Db(), m.Coll.get());
        m.InsertSql = "INSERT INTO records(";
        std::string qs;
        for (std::size_t c = 0; c < m.Schema.Columns.size(); ++c) {
            m.InsertSql += (c ? ",c" : "c") + std::to_string(c);
            qs += c ? ",?" : "?";
        }
        m.InsertSql = m.Schema.Columns.empty() ? "INSERT INTO records DEFAULT VALUES"
                                               : m.InsertSql + ") VALUES(" + qs + ")";
        m.AutoInc.assign(m.Schema.Columns.size(), 0);
    } catch (...) {
        m.EndJournal();
        m.Store.Close();
        m.Locks.Close();
        throw;
    }
}

BulkInserter::~BulkInserter() {
    Impl& m = *FImpl;
    if (m.Started && !m.Done) m.Store.Rollback();
    m.EndJournal();
    m.Store.Close();
    m.Locks.Close();
}

const TableSchema& BulkInserter::Schema() const { return FImpl->Schema; }

std::int64_t BulkInserter::RowsAdded() const { return FImpl->Rows; }

void BulkInserter::Add(const std::vector<Value>& row) {
    Impl& m = *FImpl;
    if (m.Failed || m.Done) throw EngineError("The bulk insert into table '" + m.Path + "' has already ended");
    const std::size_t n = m.Schema.Columns.size();
    const std::string where = "Row " + std::to_string(m.Rows + 1) + " of the insert into table '" + m.Path + "': ";
    try {
        if (row.size() != n)
            throw EngineError(where + "it has " + std::to_string(row.size()) + " values, the table has " +
                              std::to_string(n) + " columns");
        if (!m.Started) {
            m.Store.Begin();
            m.Started = true;
            for (std::size_t c = 0; c < n; ++c)
                if (m.Schema.Columns[c].AutoInc) m.AutoInc[c] = m.Store.GetMetaInt("autoinc:" + std::to_string(c), 0);
            if (!m.Store.Prepare("SELECT 1 FROM records LIMIT 1").Step())
                for (std::size_t k = 0; k < m.Schema.Indexes.size(); ++k)
                    if (!m.Schema.Indexes[k].Unique) {
                        m.Store.Exec("DROP INDEX ix" + std::to_string(k));
                        m.Deferred.push_back(k);
                    }
        }
        std::int64_t day, ms;
        LocalNow(day, ms);
        std::vector<Value> values(n);
        for (std::size_t c = 0; c < n; ++c) {
            const ColumnSpec& col = m.Schema.Columns[c];
            if (col.Type == 'Y' || col.Type == 'Z') {
                if (!row[c].IsNull())
                    throw EngineError(where + "column '" + col.Name + "' holds the time of the last post and cannot be written");
                values[c] = Value::Int(col.Type == 'Y' ? ms : day);
                continue;
            }
            try {
                values[c] = CheckStoredValue(col, row[c], ConvertFor::Write);
            } catch (const EngineError& e) {
                throw EngineError(where + e.what());
            }
            if (col.AutoInc) {
                if (values[c].IsNull()) {
                    values[c] = Value::Int(++m.AutoInc[c]);
                    try {
                        CheckStoredValue(col, values[c], ConvertFor::Write);
                    } catch (const EngineError& e) {
                        throw EngineError(where + "the auto-increment counter of " + e.what());
                    }
                } else if (values[c].i > m.AutoInc[c]) {
                    m.AutoInc[c] = values[c].i;
                }
            }
        }
        Query q = m.Store.Prepare(m.InsertSql);
        for (std::size_t c = 0; c < n; ++c) q.Bind(static_cast<int>(c + 1), values[c], true);  // values outlive the run
        const int rc = q.Run(true);
        if ((rc & 0xFF) == SQLITE_CONSTRAINT) {
            for (std::size_t k = 0; k < m.Schema.Indexes.size(); ++k)
                if (m.Schema.Indexes[k].Unique) {
                    // Which unique index refused the row?
                    std::string sql = "SELECT 1 FROM records WHERE 1";
                    bool hasNull = false;
                    for (int c : m.Schema.Indexes[k].Columns) {
                        hasNull = hasNull || values[static_cast<std::size_t>(c)].IsNull();
                        sql += " AND c" + std::to_string(c) +
                               (IsTextType(m.Schema.Columns[static_cast<std::size_t>(c)].Type) ? " COLLATE MONEYKEY" : "") +
                               "=?";
                    }
                    if (hasNull) continue;
                    Query chk = m.Store.Prepare(sql + " LIMIT 1");
                    int p = 1;
                    for (int c : m.Schema.Indexes[k].Columns) chk.Bind(p++, values[static_cast<std::size_t>(c)]);
                    if (chk.Step())
                        throw EngineError(where + "key violation: the unique index '" +
                                          IndexName(m.Schema, m.Schema.Indexes[k]) + "' already holds this key");
                }
            throw EngineError(where + "key violation in a unique index");
        }
        ++m.Rows;
    } catch (...) {
        m.Failed = true;
        if (m.Started) m.Store.Rollback();
        throw;
    }
}

void BulkInserter::Commit() {
    Impl& m = *FImpl;
    if (m.Failed || m.Done) throw EngineError("The bulk insert into table '" + m.Path + "' has already ended");
    try {
        if (m.Started) {
            for (std::size_t k : m.Deferred) BuildIndex(m.Store, m.Schema, k, m.Path);
            Query q = m.Store.Prepare("UPDATE meta SET value=value+? WHERE key='count'");
            q.Bind(1, m.Rows);
            q.Run();
            for (std::size_t c = 0; c < m.AutoInc.size(); ++c)
                if (m.Schema.Columns[c].AutoInc) m.Store.SetMeta("autoinc:" + std::to_string(c), Value::Int(m.AutoInc[c]));
            m.Store.Commit();
        }
        m.Done = true;
    } catch (...) {
        m.Failed = true;
        m.Store.Rollback();
        throw;
    }
    m.EndJournal();
}

}  // namespace engine
