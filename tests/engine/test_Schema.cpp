// The schema API: creating tables, adding and dropping indexes, bulk inserts,
// reading the catalogue, the re-index of a table whose collation changed, and
// operations whose syncs, writes or closes fail.
#include "engine/Engine.h"

#include "engine/Collation.h"
#include "engine/PageStore.h"
#include "engine/StorageIo.h"
#include "engine/Table.h"

#include "EngineTestUtil.h"

#include <sqlite3.h>

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>

using namespace engine;
using enginetest::Col;
using enginetest::FaultyIo;
using enginetest::IoScope;
using enginetest::Ix;
using enginetest::TempDir;

namespace {

TableSchema People() {
    TableSchema s;
    s.Columns = {Col("Name", 'C', 20), Col("Born", 'D'), Col("No", 'L', 0, true), Col("Changed", 'Z')};
    s.Indexes = {Ix({0})};
    s.Locale = "cs";
    return s;
}

void Load(const std::string& path, const std::vector<std::pair<std::string, std::string>>& rows) {
    BulkInserter ins(path);
    for (const auto& [name, born] : rows)
        ins.Add({Value::Text(name), ParseValue('D', born), Value::Null(), Value::Null()});
    ins.Commit();
}

std::vector<std::string> NamesInOrder(Table& t) {
    std::vector<std::string> out;
    for (t.MoveFirst(); !t.Eof() && t.RecordNumber() >= 0; t.MoveNext()) out.push_back(t.GetValue(0).s);
    return out;
}

}  // namespace

TEST(EngineSchema, CreateAndReadTheCatalogue) {
    TempDir dir;
    const std::string path = dir.File("people.dat");
    TableSchema s = People();
    s.Columns.push_back(Col("A very long column name indeed", 'M'));
    CreateTable(path, s);
    EXPECT_ENGINE_ERROR(CreateTable(path, s), "Table file '" + path + "' already exists");
    {
        BulkInserter ins(path);
        ins.Add({Value::Text("Eva"), Value::Null(), Value::Null(), Value::Null(), Value::Text("memo")});
        ins.Add({Value::Text("Adam"), Value::Null(), Value::Int(7), Value::Null(), Value::Null()});
        ins.Commit();
    }
    const TableInfo info = ReadTableInfo(path);
    EXPECT_EQ(info.RecordCount, 2);
    EXPECT_EQ(info.Schema.Locale, "cs");
    ASSERT_EQ(info.Schema.Columns.size(), 5u);
    EXPECT_EQ(info.Schema.Columns[4].Name, "A very long column name indeed");  // full name kept
    EXPECT_TRUE(info.Schema.Columns[2].AutoInc);
    ASSERT_EQ(info.Schema.Indexes.size(), 1u);
    // A table with no columns at all is still a table.
    CreateTable(dir.File("empty.dat"), TableSchema{});
    EXPECT_EQ(ReadTableInfo(dir.File("empty.dat")).Schema.Columns.size(), 0u);
    // An unknown locale is refused before a file is written.
    TableSchema bad = People();
    bad.Locale = "xx!";
    EXPECT_ENGINE_ERROR(CreateTable(dir.File("bad.dat"), bad), "Locale 'xx!' is not a valid locale id");
    bad.Locale = "xx";
    EXPECT_ENGINE_ERROR(CreateTable(dir.File("bad.dat"), bad), "No collation is available for locale 'xx'");
    EXPECT_ENGINE_ERROR(ReadTableInfo(dir.File("bad.dat")), "Table file '" + dir.File("bad.dat") + "' does not exist");
}

TEST(EngineSchema, BulkInsertIsAllOrNothing) {
    TempDir dir;
    const std::string path = dir.File("bulk.dat");
    CreateTable(path, People());
    Load(path, {{"Eva", "1990-05-01"}, {"Adam", "1985-01-31"}, {"Čeněk", ""}});
    {
        BulkInserter ins(path);
        ins.Add({Value::Text("Lost"), Value::Null(), Value::Null(), Value::Null()});
        // Destroyed without Commit: nothing is added.
    }
    {
        BulkInserter ins(path);
        ins.Add({Value::Text("Lost too"), Value::Null(), Value::Null(), Value::Null()});
        EXPECT_ENGINE_ERROR(ins.Add({Value::Text(std::string(21, 'x')), Value::Null(), Value::Null(), Value::Null()}),
                            "Row 2 of the insert into table '" + path +
                                "': Text of 21 bytes is too long for column 'Name' (at most 20 bytes)");
        EXPECT_ENGINE_ERROR(ins.Commit(), "The bulk insert into table '" + path + "' has already ended");
    }
    {
        BulkInserter ins(path);
        EXPECT_ENGINE_ERROR(ins.Add({Value::Text("x"), Value::Null(), Value::Null(), Value::Int(1)}),
                            "Row 1 of the insert into table '" + path +
                                "': column 'Changed' holds the time of the last post and cannot be written");
    }
    Table t;
    t.Open(path);
    EXPECT_EQ(t.CountRecords(), 3);
    // Auto-increment columns were numbered, the post date written.
    ASSERT_TRUE(t.MoveToRecord(3));
    EXPECT_EQ(t.GetValue(2).i, 3);
    EXPECT_FALSE(t.GetValue(3).IsNull());
    EXPECT_EQ(t.NextAutoIncValue(2), 4);
    // While the table is open, a bulk insert (which needs the table lock) waits for nobody.
    EXPECT_ENGINE_ERROR(BulkInserter{path}, "Table '" + path + "' is in use by another user");
}

namespace {

// Counts the bytes written to each kind of file and can fail the writes to
// the table file from a given one on (a full disk).
class CountingIo : public StorageIo {
public:
    std::int64_t TableBytes = 0, WalBytes = 0, OtherBytes = 0;
    int FailTableWritesAfter = -1;
    int Write(StorageFile& f, const void* b, int n, std::int64_t off) override {
        if (f.Kind == FileKind::Table) {
            if (FailTableWritesAfter == 0) return SQLITE_FULL;
            if (FailTableWritesAfter > 0) --FailTableWritesAfter;
            TableBytes += n;
        } else if (f.Kind == FileKind::Wal) {
            WalBytes += n;
        } else {
            OtherBytes += n;
        }
        return StorageIo::Write(f, b, n, off);
    }
};

std::string JournalMode(const std::string& path) {
    PageStore store;
    store.Open(path, OpenMode::ReadWrite);
    Query q = store.Prepare("PRAGMA journal_mode");
    return q.Step() ? q.Column(0).s : "";
}

void LoadPeople(BulkInserter& ins, int from, int count) {
    for (int i = from; i < from + count; ++i)
        ins.Add({Value::Text("Name " + std::to_string((i * 7919) % 10007)), Value::Int(30000 + i % 5000), Value::Null(),
                 Value::Null()});
}

}  // namespace

// A load writes its pages into the table file about once, with a journal of a
// few pages and no write-ahead log, and builds the indexes that it put aside;
// it stays all or nothing whether it fails, runs out of disk or its process
// dies; the table returns to the write-ahead log after each.
TEST(EngineSchema, BulkLoadWritesEachPageOnceAndStaysAllOrNothing) {
    TempDir dir;
    const std::string path = dir.File("load.dat");
    TableSchema s = People();
    s.Indexes.push_back(Ix({2}, true));
    CreateTable(path, s);
    const auto storeSize = [&] { return static_cast<std::int64_t>(std::filesystem::file_size(path)) - 65536; };
    const std::int64_t before = storeSize();
    CountingIo io;
    {
        IoScope scope(&io);
        BulkInserter ins(path);
        LoadPeople(ins, 0, 20000);
        ins.Commit();
    }
    const std::int64_t grown = storeSize() - before;
    EXPECT_LT(io.WalBytes, 4096);  // no page goes through the log: only the headers of the one it returns to
    EXPECT_LE(io.TableBytes, grown + grown / 10) << "table file bytes written for " << grown << " bytes of growth";
    EXPECT_LE(io.OtherBytes, grown / 20) << "journal and temporary bytes";
    EXPECT_EQ(JournalMode(path), "wal");
    EXPECT_FALSE(std::filesystem::exists(path + "-journal"));
    {
        Table t;
        t.Open(path);
        EXPECT_EQ(t.CountRecords(), 20000);
        t.SetIndex("Name");
        const std::vector<std::string> names = NamesInOrder(t);
        ASSERT_EQ(names.size(), 20000u);
        Collator coll("cs");
        EXPECT_TRUE(std::is_sorted(names.begin(), names.end(),
                                   [&](const std::string& a, const std::string& b) { return coll.Compare(a, b) < 0; }));
        EXPECT_EQ(t.Seek({ClientValue::Text("Name 7919")}), 7);
    }

    // Into a table that holds records the indexes stay in force: a duplicate
    // unique key is refused at its row, and nothing of the load remains.
    {
        BulkInserter ins(path);
        LoadPeople(ins, 20000, 2);
        EXPECT_ENGINE_ERROR(ins.Add({Value::Text("Twin"), Value::Null(), Value::Int(5), Value::Null()}),
                            "Row 3 of the insert into table '" + path +
                                "': key violation: the unique index 'No' already holds this key");
    }
    EXPECT_EQ(ReadTableInfo(path).RecordCount, 20000);
    EXPECT_EQ(JournalMode(path), "wal");

    // A table that starts empty: a failed load leaves it empty, its indexes
    // (put aside during the load) in place.
    const std::string empty = dir.File("empty.dat");
    CreateTable(empty, s);
    {
        BulkInserter ins(empty);
        LoadPeople(ins, 0, 100);
        EXPECT_ENGINE_ERROR(ins.Add({Value::Text(std::string(21, 'x')), Value::Null(), Value::Null(), Value::Null()}),
                            "Row 101 of the insert into table '" + empty +
                                "': Text of 21 bytes is too long for column 'Name' (at most 20 bytes)");
    }
    {
        Table t;
        t.Open(empty);
        EXPECT_EQ(t.CountRecords(), 0);
        t.SetIndex("Name");
        EXPECT_TRUE(NamesInOrder(t).empty());
        EXPECT_EQ(t.Schema().Indexes.size(), 2u);
    }
    EXPECT_EQ(JournalMode(empty), "wal");

    // The disk fills up while the indexes are built at the commit.
    {
        BulkInserter ins(empty);
        LoadPeople(ins, 0, 20000);
        CountingIo full;
        full.FailTableWritesAfter = 0;
        IoScope scope(&full);
        try {
            ins.Commit();
            ADD_FAILURE() << "the commit succeeded on a full disk";
        } catch (const EngineError& e) {
            EXPECT_EQ(std::string(e.what()), "Cannot write table file '" + empty + "': the disk is full");
        }
    }
    EXPECT_EQ(ReadTableInfo(empty).RecordCount, 0);

    // The process of a load dies before the commit: the next open rolls the
    // journal back and returns to the write-ahead log.
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        try {
            BulkInserter ins(path);
            LoadPeople(ins, 20000, 20000);
        } catch (...) {
            ::_exit(2);
        }
        ::_exit(0);  // no commit, no clean-up
    }
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    {
        Table t;
        t.Open(path);
        EXPECT_EQ(t.CountRecords(), 20000);
        t.SetIndex("Name");
        EXPECT_EQ(t.Seek({ClientValue::Text("Name 7919")}), 7);
    }
    EXPECT_EQ(JournalMode(path), "wal");
    EXPECT_FALSE(std::filesystem::exists(path + "-journal"));
}

TEST(EngineSchema, AddAndDropIndexes) {
    TempDir dir;
    const std::string path = dir.File("ix.dat");
    TableSchema s = People();
    s.Indexes.clear();
    CreateTable(path, s);
    Load(path, {{"Eva", "1990-05-01"}, {"adam", "1985-01-31"}, {"Čeněk", "2001-01-01"}, {"Cyril", "1985-01-31"}});
    EXPECT_EQ(AddIndex(path, Ix({1, 0})), 0);
    EXPECT_EQ(AddIndex(path, Ix({0}, true)), 1);
    // A unique index over equal keys is refused by name; the table keeps its indexes.
    EXPECT_ENGINE_ERROR(AddIndex(path, Ix({1}, true)),
                        "Cannot create the unique index 'Born' on table '" + path + "': records with equal keys exist");
    {
        Table t;
        t.Open(path);
        ASSERT_EQ(t.Schema().Indexes.size(), 2u);
        t.SetIndex("Name");
        EXPECT_EQ(NamesInOrder(t), (std::vector<std::string>{"adam", "Cyril", "Čeněk", "Eva"}));
        t.SetIndex("born+name");
        EXPECT_EQ(NamesInOrder(t), (std::vector<std::string>{"adam", "Cyril", "Eva", "Čeněk"}));
        // The schema cannot change under an open table.
        EXPECT_ENGINE_ERROR(DropIndex(path, 0), "Table '" + path + "' is in use by another user");
    }
    DropIndex(path, 0);
    EXPECT_ENGINE_ERROR(DropIndex(path, 5), "Table '" + path + "' has no index number 6");
    Table t;
    t.Open(path);
    ASSERT_EQ(t.Schema().Indexes.size(), 1u);
    EXPECT_TRUE(t.Schema().Indexes[0].Unique);
    EXPECT_ENGINE_STATUS(t.SetIndex("Born+Name"), stInvalidIndex);
    t.SetIndex("Name");
    EXPECT_EQ(NamesInOrder(t), (std::vector<std::string>{"adam", "Cyril", "Čeněk", "Eva"}));
    // The unique index moved to position 0 still refuses duplicates.
    t.AddRecord();
    t.SetValue(0, ClientValue::Text("EVA"));
    EXPECT_ENGINE_ERROR(t.Post(), "Key violation: the unique index 'Name' of table '" + path + "' already holds this key");
}

TEST(EngineSchema, ChangedCollationVersionIsReindexedAtOpen) {
    TempDir dir;
    const std::string path = dir.File("coll.dat");
    CreateTable(path, People());
    Load(path, {{"chata", "2000-01-01"}, {"hrad", "2000-01-01"}, {"Cyril", "2000-01-01"}});
    {
        // Rebuild the index as other collation rules would have built it (in
        // byte order, where "chata" comes before "hrad") and record another
        // collator version.
        PageStore store;
        store.Open(path, OpenMode::ReadWrite);
        sqlite3_create_collation(store.Db(), "MONEYKEY", SQLITE_UTF8, nullptr,
                                 [](void*, int n1, const void* a, int n2, const void* b) {
                                     const int c = std::memcmp(a, b, static_cast<std::size_t>(std::min(n1, n2)));
                                     return c != 0 ? c : n1 - n2;
                                 });
        store.Exec("REINDEX ix0");
        store.SetMeta("collator", Value::Text("icu-0.0.0.0-cs-secondary"));
    }
    Table t;
    t.Open(path);
    t.SetIndex("Name");
    EXPECT_EQ(NamesInOrder(t), (std::vector<std::string>{"Cyril", "hrad", "chata"}));
    t.Close();
    PageStore store;
    store.Open(path, OpenMode::ReadWrite);
    Value v;
    ASSERT_TRUE(store.GetMeta("collator", v));
    EXPECT_EQ(v.s, Collator("cs").Version());
}


// ------------------------------------------------ failed syncs, writes, closes

namespace {

bool Exists(const std::string& path) { return ::access(path.c_str(), F_OK) == 0; }

std::vector<std::string> Names(const std::string& path) {
    Table t;
    t.Open(path, true);
    return NamesInOrder(t);
}

}  // namespace

TEST(EngineSchema, FailedSyncsWritesAndClosesFailTheOperation) {
    TempDir dir;
    const std::string path = dir.File("t.dat");
    const std::string ioError = "I/O error on table file '" + path + "' while writing (Input/output error)";
    const std::string diskFull = "Cannot write table file '" + path + "': the disk is full";
    // A create that cannot make the table durable leaves nothing.
    for (int fault = 0; fault < 4; ++fault) {
        FaultyIo io;
        if (fault == 0) io.FailedSyncs = {FileKind::Table};
        if (fault == 1) io.FailedSyncs = {FileKind::Wal};
        if (fault == 2) io.FullDisk = FileKind::Table;
        if (fault == 3) io.FailClose = true;
        {
            IoScope scope(&io);
            EXPECT_ENGINE_ERROR(CreateTable(path, People()), fault == 2 ? diskFull : ioError);
        }
        EXPECT_FALSE(Exists(path)) << fault;
        EXPECT_FALSE(Exists(path + "-wal")) << fault;
        EXPECT_FALSE(Exists(path + "-shm")) << fault;
        EXPECT_FALSE(Exists(path + "-journal")) << fault;
    }
    CreateTable(path, People());
    Load(path, {{"a", "2000-01-01"}});
    // A writer that died left a committed post in the log.
    const pid_t pid = ::fork();
    if (pid == 0) {
        Table t;
        t.Open(path);
        t.AddRecord();
        t.SetValue(0, ClientValue::Text("k"));
        t.Post();
        ::_exit(0);
    }
    ::waitpid(pid, nullptr, 0);
    // A load begins by copying the log into the table file (it runs with a
    // rollback journal): when that cannot be synced, it fails at its start
    // and the log stays.
    FaultyIo io;
    io.FailedSyncs = {FileKind::Table, FileKind::Wal};
    {
        IoScope scope(&io);
        EXPECT_ENGINE_ERROR(BulkInserter{path}, ioError);
    }
    EXPECT_TRUE(Exists(path + "-wal"));
    EXPECT_EQ(Names(path), (std::vector<std::string>{"a", "k"}));
    // A bulk insert whose commit cannot be synced fails, and its records never
    // appear later.
    io.FailedSyncs = {FileKind::Table, FileKind::Other};
    {
        BulkInserter ins(path);
        ins.Add({Value::Text("b"), Value::Null(), Value::Null(), Value::Null()});
        IoScope scope(&io);
        EXPECT_ENGINE_ERROR(ins.Commit(), ioError);
    }
    EXPECT_EQ(Names(path), (std::vector<std::string>{"a", "k"}));
    // The same on a full disk.
    io = FaultyIo();
    io.FullDisk = FileKind::Table;
    {
        BulkInserter ins(path);
        ins.Add({Value::Text("c"), Value::Null(), Value::Null(), Value::Null()});
        IoScope scope(&io);
        EXPECT_ENGINE_ERROR(ins.Commit(), diskFull);
    }
    EXPECT_EQ(Names(path), (std::vector<std::string>{"a", "k"}));
    // A schema change that cannot be made durable leaves the table as it was.
    io = FaultyIo();
    io.FailedSyncs = {FileKind::Table};
    {
        IoScope scope(&io);
        EXPECT_ENGINE_ERROR(AddIndex(path, Ix({1})), ioError);
    }
    io.FailedSyncs = {FileKind::Folder};
    {
        IoScope scope(&io);
        EXPECT_ENGINE_ERROR(DropIndex(path, 0), ioError);
    }
    EXPECT_EQ(ReadTableInfo(path).Schema.Indexes.size(), 0u);  // renamed in place, but not reported as done
    EXPECT_FALSE(Exists(path + ".rebuild"));
    EXPECT_EQ(Names(path), (std::vector<std::string>{"a", "k"}));
}
