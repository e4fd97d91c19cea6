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

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace engine {

namespace {

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

// Writes the catalog area (catalog + zeros to 65536) of a new table file.
// identity: the table identity to keep (nullptr: none yet; the first log
// gives one, see Vfs.h).
void WriteCatalogArea(PlainFile& file, const TableSchema& schema, const std::uint8_t* identity) {
    std::vector<std::uint8_t> area = EncodeCatalog(schema);
    area.resize(static_cast<std::size_t>(PageStoreOffset), 0);
    if (identity) std::memcpy(&area[TableIdentityOffset], identity, LogStampOffset - TableIdentityOffset);
    file.Write(area.data(), static_cast<std::int64_t>(area.size()), 0);
}

void RemoveTableFiles(const std::string& path) {
    ::unlink(path.c_str());
    ::unlink((path + "-wal").c_str());
    ::unlink((path + "-shm").c_str());
    ::unlink((path + "-journal").c_str());
}

// Switches the page store's journal ("wal" or "delete"); the caller makes
// sure that no one else has the table open.
void SetJournalMode(PageStore& store, const std::string& path, const std::string& mode) {
    sqlite3* db = store.Db();
    sqlite3_stmt* st = nullptr;
    int rc = sqlite3_prepare_v2(db, ("PRAGMA journal_mode=" + mode).c_str(), -1, &st, nullptr);
    std::string now;
    if (rc == SQLITE_OK) {
        rc = sqlite3_step(st);
        if (rc == SQLITE_ROW) {
            const unsigned char* text = sqlite3_column_text(st, 0);
            if (text) now = reinterpret_cast<const char*>(text);
            rc = SQLITE_OK;
        } else {
            rc = sqlite3_extended_errcode(db);
        }
    }
    sqlite3_finalize(st);
    // The switch copies the log into the table file (or begins one): a
    // failure is one of writing. One whose sync failed can leave SQLite's
    // pager in its error state behind a result that names the new mode; the
    // next read shows it.
    if (rc == SQLITE_OK && now == mode) {
        st = nullptr;
        rc = sqlite3_prepare_v2(db, "SELECT count(*) FROM sqlite_master", -1, &st, nullptr);
        if (rc == SQLITE_OK) rc = sqlite3_step(st) == SQLITE_ROW ? SQLITE_OK : sqlite3_extended_errcode(db);
        sqlite3_finalize(st);
    }
    if (rc != SQLITE_OK) throw EngineError(StoreErrorMessage(db, rc, path, "writing"));
    if (now == mode) return;
    // SQLite keeps the mode of a file it cannot write, without an error.
    if (sqlite3_db_readonly(db, "main") == 1) throw EngineError(StoreErrorMessage(db, SQLITE_READONLY, path, "writing"));
    throw EngineError("Cannot switch table file '" + path + "' to journal mode " + mode);
}

// Writes the page store's initial schema: records, meta, columns, indexes.
void InitialisePageStore(PageStore& store, const TableSchema& schema, const Collator& coll) {
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
    WriteCatalogCopy(store, EncodeCatalog(schema));
    store.SetMeta("collator", Value::Text(coll.Version()));
    store.Commit();
}

// Rewrites the table under the table lock: a new file with the new catalog
// and a copy of the page store, changed by `change`, made durable and renamed
// over the old. The table keeps its identity.
template <class Change>
void RewriteTable(const std::string& path0, Change change) {
    const std::string path = ResolveTablePath(path0);
    RequireWriteAccess(path, "");
    TableLocks locks;
    locks.Open(path);
    locks.LockTable();  // "in use by another user" while anyone has it open
    TableSchema old;
    std::uint8_t identity[LogStampOffset - TableIdentityOffset] = {};
    {
        // Fold the write-ahead log into the page store so that a byte copy
        // of the file holds everything.
        PageStore store;
        store.Open(path, OpenMode::ReadWrite);
        old = LoadSchema(store, path).Schema;
        std::int64_t fileSize = 0;
        ReadTableFileBytes(store.Db(), path, identity, sizeof identity, TableIdentityOffset, &fileSize);
        Collator coll(old.Locale);
        RegisterMoneyKey(store.Db(), &coll);
        store.Checkpoint();
        store.Close();
    }
    TableSchema next = old;
    const std::string tmp = path + ".rebuild";
    RemoveTableFiles(tmp);
    // change() may refuse the new schema before anything is written.
    auto action = change(next);
    try {
        {
            PlainFile out(tmp, PlainFile::Mode::CreateNew, path);
            WriteCatalogArea(out, next, identity);
            PlainFile in(path, PlainFile::Mode::ReadOnly, path);
            const std::int64_t size = in.Size();
            std::vector<char> buf(1 << 20);
            for (std::int64_t off = PageStoreOffset; off < size;) {
                const std::int64_t n = std::min<std::int64_t>(static_cast<std::int64_t>(buf.size()), size - off);
                in.Read(buf.data(), n, off);
                out.Write(buf.data(), n, off);
                off += n;
            }
            out.Sync();
            out.Close();
        }
        PageStore store;
        store.Open(tmp, OpenMode::ReadWrite);
        store.SetDurable();
        Collator coll(next.Locale);
        RegisterMoneyKey(store.Db(), &coll);
        store.StartReading();
        store.Begin();
        action(store, next, path);
        WriteCatalogCopy(store, EncodeCatalog(next));
        store.SetMeta("collator", Value::Text(coll.Version()));
        store.Commit();
        store.Checkpoint();
        store.Close();
    } catch (...) {
        RemoveTableFiles(tmp);
        throw;
    }
    if (::rename(tmp.c_str(), path.c_str()) != 0) {
        const std::string err = std::strerror(errno);
        RemoveTableFiles(tmp);
        throw EngineError("Cannot replace table file '" + path + "': " + err);
    }
    ::unlink((tmp + "-wal").c_str());
    ::unlink((tmp + "-shm").c_str());
    SyncFolderOf(path, path);
    locks.Close();
}

}  // namespace

void CreateTable(const std::string& path, const TableSchema& schema) {
    ValidateSchema(schema);
    Collator coll(schema.Locale);
    // Refuse an unknown locale before anything is written, rather than order
    // the keys silently by the root rules.
    if (!coll.Known()) throw EngineError("No collation is available for locale '" + schema.Locale + "'");
    PlainFile file(path, PlainFile::Mode::CreateNew, path);  // "already exists"
    try {
        WriteCatalogArea(file, schema, nullptr);
        file.Sync();
        file.Close();
        // The page store, durable before the table counts as created.
        PageStore store;
        store.Open(path, OpenMode::Create);
        store.SetDurable();
        RegisterMoneyKey(store.Db(), &coll);
        InitialisePageStore(store, schema, coll);
        store.Checkpoint();
        store.Close();
        SyncFolderOf(path, path);
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
    t.Open(path, true);
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
    RequireWriteAccess(m.Path, "");
    m.Locks.Open(m.Path);
    try {
        m.Locks.LockTable();
        m.Store.Open(m.Path, OpenMode::ReadWrite);
        // The commit is synced: the records are durable when Commit returns.
        m.Store.SetDurable();
        // Index pages of a large load stay in memory until the commit.
        m.Store.Exec("PRAGMA cache_size=-262144");
        // The table lock keeps everyone else out, as the switch needs.
        SetJournalMode(m.Store, m.Path, "delete");
        m.Journal = true;
        m.Store.Exec("PRAGMA synchronous=FULL");
        m.Schema = LoadSchema(m.Store, m.Path).Schema;
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
        // A commit whose sync failed may have left its frames in the log:
        // they must never count as committed later.
        DiscardUncommittedLog(m.Store.Db());
        throw;
    }
    m.EndJournal();
}

}  // namespace engine
