#include "engine/Table.h"

#include "engine/Catalog.h"
#include "engine/FilterExpr.h"
#include "engine/Vfs.h"

#include <sqlite3.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

namespace engine {

// ------------------------------------------------------------ free helpers

std::string ResolveTablePath(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0) {
        if (S_ISDIR(st.st_mode)) throw EngineError("'" + path + "' is not a table file");
        return path;
    }
    // Not there as written: accept the one entry of the folder whose name
    // matches ignoring letter case (BANK.DAT for BANK.dat).
    const std::size_t slash = path.rfind('/');
    const std::string dir = slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    const std::string folded = FoldCase(name);
    std::string found;
    int matches = 0;
    if (DIR* d = ::opendir(dir.c_str())) {
        while (dirent* e = ::readdir(d)) {
            if (FoldCase(e->d_name) == folded) {
                ++matches;
                found = e->d_name;
            }
        }
        ::closedir(d);
    }
    if (matches == 1) {
        std::string full = slash == std::string::npos ? found : path.substr(0, slash + 1) + found;
        if (::stat(full.c_str(), &st) == 0 && !S_ISDIR(st.st_mode)) return full;
    }
    if (matches > 1)
        throw EngineError("Table file '" + path + "' does not exist (several files match it when letter case is ignored)");
    throw EngineError("Table file '" + path + "' does not exist");
}

std::string IndexName(const TableSchema& schema, const IndexSpec& index) {
    std::string n;
    for (std::size_t i = 0; i < index.Columns.size(); ++i) {
        if (i) n += "+";
        n += schema.Columns[static_cast<std::size_t>(index.Columns[i])].Name;
    }
    return n;
}

void LocalNow(std::int64_t& day, std::int64_t& ms) {
    timeval tv {};
    ::gettimeofday(&tv, nullptr);
    std::tm tm {};
    const time_t secs = tv.tv_sec;
    ::localtime_r(&secs, &tm);
    day = DayFromCivil(tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday);
    ms = (static_cast<std::int64_t>(tm.tm_hour) * 3600 + tm.tm_min * 60 + std::min(tm.tm_sec, 59)) * 1000 +
         tv.tv_usec / 1000;
}

namespace {
// Whether two values of one column are stored alike (an integer and the
// equal real are not: the kind is stored too).
bool SameStoredValue(const Value& a, const Value& b) {
    if (a.kind != b.kind) return false;
    switch (a.kind) {
    case Value::Kind::Null: return true;
    case Value::Kind::Int: return a.i == b.i;
    case Value::Kind::Real: return std::memcmp(&a.r, &b.r, sizeof a.r) == 0;
    case Value::Kind::Text: return a.s == b.s;
    }
    return false;
}

Value FromFilterParam(const FilterParam& p) {
    if (std::holds_alternative<std::int64_t>(p)) return Value::Int(std::get<std::int64_t>(p));
    if (std::holds_alternative<double>(p)) return Value::Real(std::get<double>(p));
    if (std::holds_alternative<std::string>(p)) return Value::Text(std::get<std::string>(p));
    return Value::Null();
}
}  // namespace

// ------------------------------------------------------------------ Table

Table::Table() = default;

Table::~Table() { Close(); }

void Table::CheckOpen() const {
    if (!FOpen) throw EngineError("The table is not open", stMisuse);
}

void Table::CheckWritable() const {
    CheckOpen();
    if (FReadOnly) throw EngineError("Table '" + FPath + "' is open for reading only");
}

void Table::Open(const std::string& path, bool readOnly) {
    if (FOpen) throw EngineError("Table '" + FPath + "' is already open", stAlreadyOpen);
    const std::string resolved = ResolveTablePath(path);
    if (!readOnly) RequireWriteAccess(resolved, "; open it read-only to look at it");
    FLocks.Open(resolved);
    try {
        FStore.Open(resolved, readOnly ? OpenMode::ReadOnly : OpenMode::ReadWrite);
        SchemaFindings found = LoadSchema(FStore, resolved);
        FSchema = std::move(found.Schema);
        FCollator = std::make_unique<Collator>(FSchema.Locale);
        RegisterMoneyKey(FStore.Db(), FCollator.get());
        if (!readOnly) {
            if (!found.HasCopy) StoreCatalogCopy(found.Catalog);
            VerifyCollation();
            ReturnToWriteAheadLog(resolved);
        }
        FCursor = std::make_unique<Cursor>(FStore, FSchema, *FCollator);
        FPath = resolved;
        FOpen = true;
        FReadOnly = readOnly;
        FIndex = -1;
        FCursor->First();
    } catch (...) {
        FOpen = false;
        FCursor.reset();
        FStore.Close();
        FCollator.reset();
        FLocks.Close();
        throw;
    }
}

void Table::StoreCatalogCopy(const std::vector<std::uint8_t>& catalog) {
    // A table written before the page store kept a copy of its catalog gets
    // one at its first open for writing. The table is usable without it, so a
    // failure leaves it as it was, and a later open tries again.
    if (sqlite3_db_readonly(FStore.Db(), "main")) return;
    try {
        FStore.Begin();
        Value stored;
        if (!FStore.GetMeta("catalog", stored)) WriteCatalogCopy(FStore, catalog);
        FStore.Commit();
    } catch (const EngineError&) {
        FStore.Rollback();
    }
}

void Table::VerifyCollation() {
    Value stored;
    const bool has = FStore.GetMeta("collator", stored);
    if (has && stored.kind == Value::Kind::Text && stored.s == FCollator->Version()) return;
    // The collation rules changed (another ICU version): rebuild the indexes
    // that use them, so that their order matches the comparisons. (A table
    // opened for reading only is not changed: it is read as it is.)
    try {
        FStore.Begin();
        FStore.Exec("REINDEX MONEYKEY");
        FStore.SetMeta("collator", Value::Text(FCollator->Version()));
        FStore.Commit();
    } catch (const EngineError&) {
        FStore.Rollback();
        throw;
    }
}

void Table::ReturnToWriteAheadLog(const std::string& path) {
    // A load whose process died before anything went into its journal leaves
    // one that holds nothing to apply (at most the engine's header), which
    // SQLite leaves beside a table that keeps its log: remove it. No load
    // runs while this open holds the table.
    const std::string journal = path + "-journal";
    struct stat st {};
    if (::lstat(journal.c_str(), &st) == 0 && S_ISREG(st.st_mode) && st.st_size <= LogHeaderSize)
        ::unlink(journal.c_str());
    // A bulk load runs with a rollback journal; one that never ended (its
    // process died) leaves the page store so, with the journal rolled back at
    // the first read. Switch back when no one else has the table open (the
    // switch would wait for them otherwise); a read-only file stays as it is.
    {
        Query q = FStore.Prepare("PRAGMA journal_mode");
        if (!q.Step() || q.Column(0).s == "wal") return;
    }
    try {
        FLocks.LockTable();
    } catch (const EngineError&) {
        return;
    }
    try {
        FStore.Prepare("PRAGMA journal_mode=WAL").Step();
    } catch (const EngineError&) {
    }
    FLocks.UnlockTable();
}

void Table::PrepareClose() {
    DropEdit();
    if (FLocks.IsOpen()) FLocks.ReleaseAll();
    FLockedRecords.clear();
}

void Table::Close() {
    DropEdit();
    FCursor.reset();
    FStore.Close();  // before the lock descriptor: see Locks.h
    FCollator.reset();
    FLocks.Close();
    FLockedRecords.clear();
    FOpen = false;
    FReadOnly = false;
    FIndex = -1;
    FExpression.clear();
    FCompareFlags = 0;
    FLower.reset();
    FUpper.reset();
    FCompiledWhere.clear();
    FCompiledParams.clear();
}

int Table::FindColumn(const std::string& name) const {
    const std::string f = FoldCase(name);
    for (std::size_t c = 0; c < FSchema.Columns.size(); ++c)
        if (FoldCase(FSchema.Columns[c].Name) == f) return static_cast<int>(c);
    for (std::size_t c = 0; c < FSchema.Columns.size(); ++c)
        if (FoldCase(CutUtf8(FSchema.Columns[c].Name, CatalogNameBytes)) == f) return static_cast<int>(c);
    return -1;
}

// ------------------------------------------------------------------ cursor

void Table::MoveFirst() {
    CheckOpen();
    DropEdit();
    FCursor->First();
}

void Table::MoveLast() {
    CheckOpen();
    DropEdit();
    FCursor->Last();
}

void Table::MoveNext() {
    CheckOpen();
    DropEdit();
    FCursor->Next();
}

void Table::MovePrior() {
    CheckOpen();
    DropEdit();
    FCursor->Prior();
}

bool Table::MoveToRecord(std::int64_t recno) {
    CheckOpen();
    DropEdit();
    return FCursor->GoTo(recno);
}

bool Table::Eof() const { return !FOpen || FCursor->Eof(); }
bool Table::Bof() const { return !FOpen || FCursor->Bof(); }

std::int64_t Table::RecordNumber() const {
    if (!FOpen || !FCursor->Current()) return -1;
    return FCursor->Current()->RecNo;
}

std::int64_t Table::CountRecords() {
    CheckOpen();
    return FCursor->Count();
}

const Row& Table::CurrentRow() const {
    CheckOpen();
    const Row* r = FCursor->Current();
    if (!r) throw EngineError("There is no current record", stMisuse);
    return *r;
}

void Table::CheckColumn(int col) const {
    if (col < 0 || col >= static_cast<int>(FSchema.Columns.size()))
        throw EngineError("Unknown column number " + std::to_string(col), stMisuse);
}

// --------------------------------------------------- index, seek, filter

void Table::SetIndex(const std::string& name) {
    CheckOpen();
    int found = -1;
    if (!name.empty()) {
        std::vector<int> cols;
        std::size_t start = 0;
        for (;;) {
            const std::size_t plus = name.find('+', start);
            const std::string part = name.substr(start, plus == std::string::npos ? std::string::npos : plus - start);
            const int c = FindColumn(part);
            if (c < 0) throw EngineError("Table '" + FPath + "' has no index '" + name + "'", stInvalidIndex);
            cols.push_back(c);
            if (plus == std::string::npos) break;
            start = plus + 1;
        }
        for (std::size_t x = 0; x < FSchema.Indexes.size() && found < 0; ++x)
            if (FSchema.Indexes[x].Columns == cols) found = static_cast<int>(x);
        if (found < 0) throw EngineError("Table '" + FPath + "' has no index '" + name + "'", stInvalidIndex);
    }
    DropEdit();
    FIndex = found;
    FCursor->SetOrder(KeyColumns());
    // Range bounds compare on the key columns of the new index.
    try {
        ApplyVisibility();
    } catch (const EngineError&) {
        // Bounds that do not convert for the new index: no range.
        Visibility v = FCursor->GetVisibility();
        v.HasLower = v.HasUpper = false;
        FCursor->SetVisibility(std::move(v));
    }
}

std::vector<int> Table::KeyColumns() const {
    if (FIndex < 0) return {};
    return FSchema.Indexes[static_cast<std::size_t>(FIndex)].Columns;
}

int Table::Seek(const std::vector<ClientValue>& key) {
    CheckOpen();
    if (FIndex < 0) throw EngineError("No index is set for a seek on table '" + FPath + "'", stInvalidIndex);
    DropEdit();
    const std::vector<int> cols = KeyColumns();
    std::vector<Value> k;
    for (std::size_t i = 0; i < key.size() && i < cols.size(); ++i)
        k.push_back(ConvertClientValue(FSchema.Columns[static_cast<std::size_t>(cols[i])], key[i], ConvertFor::Key));
    return FCursor->Seek(k);
}

void Table::SetVisibility(const std::string& expression, int compareFlags,
                          const std::optional<std::vector<ClientValue>>& lower,
                          const std::optional<std::vector<ClientValue>>& upper) {
    CheckOpen();
    std::vector<FilterColumn> columns;
    for (std::size_t c = 0; c < FSchema.Columns.size(); ++c)
        columns.push_back(FilterColumn{FSchema.Columns[c].Name, FSchema.Columns[c].Type, static_cast<int>(c)});
    CompiledFilter compiled = CompileFilter(expression, columns, compareFlags);
    std::vector<Value> params;
    for (const FilterParam& p : compiled.Params) params.push_back(FromFilterParam(p));
    // Check the bounds before anything changes.
    const auto oldLower = FLower, oldUpper = FUpper;
    FLower = lower;
    FUpper = upper;
    const std::string oldWhere = FCompiledWhere;
    const std::vector<Value> oldParams = FCompiledParams;
    FCompiledWhere = compiled.Where;
    FCompiledParams = std::move(params);
    try {
        ApplyVisibility();
    } catch (...) {
        FLower = oldLower;
        FUpper = oldUpper;
        FCompiledWhere = oldWhere;
        FCompiledParams = oldParams;
        throw;
    }
    FExpression = expression;
    FCompareFlags = compareFlags;
}

void Table::ClearVisibility() {
    CheckOpen();
    FExpression.clear();
    FCompareFlags = 0;
    FLower.reset();
    FUpper.reset();
    FCompiledWhere.clear();
    FCompiledParams.clear();
    ApplyVisibility();
}

void Table::ApplyVisibility() {
    Visibility v;
    v.Where = FCompiledWhere;
    v.WhereParams = FCompiledParams;
    const std::vector<int> cols = KeyColumns();
    auto convert = [&](const std::vector<ClientValue>& in) {
        std::vector<Value> out;
        for (std::size_t i = 0; i < in.size() && i < cols.size(); ++i)
            out.push_back(ConvertClientValue(FSchema.Columns[static_cast<std::size_t>(cols[i])], in[i], ConvertFor::Key));
        return out;
    };
    // An empty bound array leaves its side open, like a missing one.
    if (!cols.empty() && FLower && !FLower->empty()) {
        v.HasLower = true;
        v.Lower = convert(*FLower);
    }
    if (!cols.empty() && FUpper && !FUpper->empty()) {
        v.HasUpper = true;
        v.Upper = convert(*FUpper);
    }
    FCursor->SetVisibility(std::move(v));
}

// ---------------------------------------------------------------- editing

const Value& Table::GetValue(int col) const {
    // Every value of every record read passes here: the checks stay inline.
    if (!FOpen || col < 0 || col >= static_cast<int>(FSchema.Columns.size()) ||
        (FState == State::Browse && !FCursor->Current())) {
        CheckOpen();
        CheckColumn(col);
        CurrentRow();  // throws: no current record
    }
    if (FState != State::Browse) return FBuffer[static_cast<std::size_t>(col)];
    return FCursor->Current()->Values[static_cast<std::size_t>(col)];
}

void Table::AddRecord() {
    CheckWritable();
    FState = State::Adding;
    FBuffer.assign(FSchema.Columns.size(), Value::Null());
    FEditRecNo = 0;
}

EngineError Table::DeletedByAnotherUser(std::int64_t recno) const {
    return EngineError("Record " + std::to_string(recno) + " of table '" + FPath + "' was deleted by another user");
}

void Table::EditRecord() {
    CheckWritable();
    DropEdit();
    FCursor->Sync();
    if (!FCursor->Current()) throw EngineError("There is no current record to edit", stMisuse);
    const std::int64_t recno = FCursor->Current()->RecNo;
    // Edit the values as they are now, not as they were read earlier (a
    // current record read since the last commit of anyone is as it is now).
    if (!FCursor->CurrentIsFresh() && !FCursor->Refresh())
        throw DeletedByAnotherUser(recno);
    FState = State::Editing;
    FBuffer = FCursor->Current()->Values;
    FOriginal = FBuffer;
    FEditRecNo = recno;
}

void Table::SetValue(int col, const ClientValue& v) {
    CheckOpen();
    CheckColumn(col);
    if (FState == State::Browse) throw EngineError("No record is being added or edited", stMisuse);
    FBuffer[static_cast<std::size_t>(col)] =
        ConvertClientValue(FSchema.Columns[static_cast<std::size_t>(col)], v, ConvertFor::Write);
}

void Table::KeyViolation(std::int64_t selfRecNo) {
    // Find the unique index that already holds the key.
    for (const IndexSpec& ix : FSchema.Indexes) {
        if (!ix.Unique) continue;
        std::string sql = "SELECT 1 FROM records WHERE rowid<>?";
        bool hasNull = false;
        for (int c : ix.Columns) {
            if (FBuffer[static_cast<std::size_t>(c)].IsNull()) hasNull = true;
            sql += " AND c" + std::to_string(c);
            if (IsTextType(FSchema.Columns[static_cast<std::size_t>(c)].Type)) sql += " COLLATE MONEYKEY";
            sql += "=?";
        }
        if (hasNull) continue;  // nulls never collide
        Query q = FStore.Prepare(sql + " LIMIT 1");
        q.Bind(1, selfRecNo);
        int p = 2;
        for (int c : ix.Columns) q.Bind(p++, FBuffer[static_cast<std::size_t>(c)]);
        if (q.Step())
            throw EngineError("Key violation: the unique index '" + IndexName(FSchema, ix) + "' of table '" + FPath +
                              "' already holds this key");
    }
    throw EngineError("Key violation in a unique index of table '" + FPath + "'");
}

std::int64_t Table::Post() {
    CheckWritable();
    if (FState == State::Browse) throw EngineError("No record is being added or edited", stMisuse);
    const bool adding = FState == State::Adding;
    bool tookLock = false;
    if (!adding && !FLocks.HoldsRecord(FEditRecNo)) {
        FLocks.LockRecord(FEditRecNo);  // throws "Record is locked by another user"
        tookLock = true;
    }
    struct Unlock {
        TableLocks& l;
        bool on;
        std::int64_t r;
        ~Unlock() {
            if (on) l.UnlockRecord(r);
        }
    } unlock{FLocks, tookLock, FEditRecNo};

    std::int64_t day, ms;
    LocalNow(day, ms);
    std::vector<Value> values = FBuffer;
    for (std::size_t c = 0; c < FSchema.Columns.size(); ++c) {
        if (FSchema.Columns[c].Type == 'Y') values[c] = Value::Int(ms);
        if (FSchema.Columns[c].Type == 'Z') values[c] = Value::Int(day);
    }
    const std::size_t n = FSchema.Columns.size();
    std::int64_t recno = FEditRecNo;
    std::optional<int> countChange;
    FStore.Begin();
    try {
        const std::optional<bool> wasVisible = adding ? std::optional<bool>(false) : FCursor->VisibleForCount(recno);
        int rc;
        if (adding) {
            std::string sql;
            if (n == 0) {
                sql = "INSERT INTO records DEFAULT VALUES";
            } else {
                sql = "INSERT INTO records(";
                std::string qs;
                for (std::size_t c = 0; c < n; ++c) {
                    sql += (c ? ",c" : "c") + std::to_string(c);
                    qs += c ? ",?" : "?";
                }
                sql += ") VALUES(" + qs + ")";
            }
            Query q = FStore.Prepare(sql);
            for (std::size_t c = 0; c < n; ++c) q.Bind(static_cast<int>(c + 1), values[c]);
            rc = q.Run(true);
            if (rc == SQLITE_DONE) {
                recno = sqlite3_last_insert_rowid(FStore.Db());
                FStore.Prepare("UPDATE meta SET value=value+1 WHERE key='count'").Run();
            }
        } else {
            // Only the columns whose values differ from the record as read
            // under EditRecord are written: the others hold those values
            // already, and the indexes over them need no change.
            std::vector<std::size_t> changed;
            for (std::size_t c = 0; c < n; ++c)
                if (c >= FOriginal.size() || !SameStoredValue(values[c], FOriginal[c])) changed.push_back(c);
            if (changed.empty()) {
                Query q = FStore.Prepare("SELECT 1 FROM records WHERE rowid=?");
                q.Bind(1, recno);
                if (!q.Step())
                    throw DeletedByAnotherUser(recno);
                rc = SQLITE_DONE;
            } else {
                std::string sql = "UPDATE records SET ";
                for (std::size_t k = 0; k < changed.size(); ++k)
                    sql += (k ? ",c" : "c") + std::to_string(changed[k]) + "=?";
                sql += " WHERE rowid=?";
                Query q = FStore.Prepare(sql);
                for (std::size_t k = 0; k < changed.size(); ++k) q.Bind(static_cast<int>(k + 1), values[changed[k]]);
                q.Bind(static_cast<int>(changed.size() + 1), recno);
                rc = q.Run(true);
                if (rc == SQLITE_DONE && sqlite3_changes(FStore.Db()) == 0)
                    throw DeletedByAnotherUser(recno);
            }
        }
        if ((rc & 0xFF) == SQLITE_CONSTRAINT) {
            FStore.Rollback();
            KeyViolation(adding ? 0 : recno);
        }
        if (wasVisible)
            if (const std::optional<bool> isVisible = FCursor->VisibleForCount(recno))
                countChange = int(*isVisible) - int(*wasVisible);
        // Auto-increment counters never hand out a number already posted.
        for (std::size_t c = 0; c < n; ++c) {
            if (!FSchema.Columns[c].AutoInc || values[c].kind != Value::Kind::Int) continue;
            Query q = FStore.Prepare(
                "INSERT INTO meta(key,value) VALUES(?,?) ON CONFLICT(key) DO UPDATE SET value=max(value,excluded.value)");
            q.Bind(1, "autoinc:" + std::to_string(c)).Bind(2, values[c].i);
            q.Run();
        }
        FStore.Commit();
    } catch (...) {
        FStore.Rollback();
        FCursor->Invalidate();
        throw;
    }
    DropEdit();
    Row row;
    row.RecNo = recno;
    row.Values = std::move(values);
    // The posted values are the record as stored now. An edit leaves the
    // number of records as it was; what a filter or range sees may change.
    FCursor->SetPosted(std::move(row), adding, countChange);
    return recno;
}

void Table::Delete() {
    CheckWritable();
    DropEdit();
    FCursor->Sync();
    const Row& cur = CurrentRow();
    const std::int64_t recno = cur.RecNo;
    bool tookLock = false;
    if (!FLocks.HoldsRecord(recno)) {
        FLocks.LockRecord(recno);  // throws "Record is locked by another user"
        tookLock = true;
    }
    std::optional<bool> wasVisible;
    try {
        FStore.Begin();
        wasVisible = FCursor->VisibleForCount(recno);
        Query q = FStore.Prepare("DELETE FROM records WHERE rowid=?");
        q.Bind(1, recno);
        q.Run();
        if (sqlite3_changes(FStore.Db()) == 0)
            throw DeletedByAnotherUser(recno);
        FStore.Prepare("UPDATE meta SET value=value-1 WHERE key='count'").Run();
        FStore.Commit();
    } catch (...) {
        FStore.Rollback();
        if (tookLock) FLocks.UnlockRecord(recno);
        FCursor->Invalidate();
        throw;
    }
    // The lock of a deleted record means nothing any more.
    FLocks.UnlockRecord(recno);
    FLockedRecords.erase(recno);
    FCursor->SetDeleted(wasVisible);
    // Next visible record; the previous one at the end; none when empty.
    // The delete is committed: a failure to read the record to move to (an
    // I/O error) leaves no current record rather than report the delete as
    // failed; the next positioning reads again.
    try {
        if (!FCursor->Next()) {
            if (!FCursor->Prior()) FCursor->Clear();
        }
    } catch (const EngineError&) {
        FCursor->Clear();
    }
    FCursor->Forget(recno);
}

std::int64_t Table::NextAutoIncValue(int col) {
    CheckWritable();
    CheckColumn(col);
    const ColumnSpec& c = FSchema.Columns[static_cast<std::size_t>(col)];
    if (!c.AutoInc) throw EngineError("Column '" + c.Name + "' is not an auto-increment column", stUnsupportedType);
    std::int64_t v;
    FStore.Begin();
    try {
        const std::string key = "autoinc:" + std::to_string(col);
        v = FStore.GetMetaInt(key, 0) + 1;
        ConvertClientValue(c, ClientValue::Int(v), ConvertFor::Write);  // range check
        FStore.SetMeta(key, Value::Int(v));
        FStore.Commit();
    } catch (...) {
        FStore.Rollback();
        throw;
    }
    return v;
}

// ------------------------------------------------------------------ locks

void Table::LockTable() {
    CheckOpen();
    FLocks.LockTable();
}

void Table::UnlockTable() {
    CheckOpen();
    FLocks.UnlockTable();
}

void Table::LockRecord() {
    CheckWritable();  // a record lock is taken to change the record
    FCursor->Sync();
    const std::int64_t recno = CurrentRow().RecNo;
    FLocks.LockRecord(recno);
    FLockedRecords.insert(recno);
    // Values read before the lock may be stale: read them again under it,
    // unless no one has committed since they were read. Anyone's post of this
    // record needs its lock, so a commit that changed it precedes the lock
    // just taken and shows in the change stamp checked now.
    FCursor->Sync();
    if (!FCursor->CurrentIsFresh() && !FCursor->Refresh()) {
        FLocks.UnlockRecord(recno);
        FLockedRecords.erase(recno);
        throw DeletedByAnotherUser(recno);
    }
}

void Table::UnlockRecord() {
    CheckOpen();
    // Releases the record locks of this object: the one of the current
    // record, and any left from a record that the cursor has moved away from.
    for (std::int64_t r : FLockedRecords) FLocks.UnlockRecord(r);
    FLockedRecords.clear();
}

}  // namespace engine
