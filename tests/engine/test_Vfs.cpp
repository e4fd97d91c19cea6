// The page store on disk: the offset VFS and file layout, injected I/O
// failures, short writes and corruption, a process killed in the middle of posts,
// changes made by another process, and side files that belong to another table
// or to another copy of the table.
#include "engine/StorageIo.h"
#include "engine/Table.h"
#include "engine/Vfs.h"

#include "EngineTestUtil.h"

#include <sqlite3.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <fstream>
#include <functional>
#include <set>

using namespace engine;
using enginetest::Col;
using enginetest::IoScope;
using enginetest::Ix;
using enginetest::PatchBytes;
using enginetest::TempDir;

namespace {

TableSchema Schema() {
    TableSchema s;
    s.Columns = {Col("Name", 'C', 40), Col("Amount", 'L')};
    s.Indexes = {Ix({0})};
    return s;
}

std::int64_t Add(Table& t, const std::string& name, std::int64_t amount) {
    t.AddRecord();
    t.SetValue(0, ClientValue::Text(name));
    t.SetValue(1, ClientValue::Int(amount));
    return t.Post();
}

std::vector<std::uint8_t> ReadBytes(const std::string& path, std::size_t n, std::size_t offset = 0) {
    std::ifstream in(path, std::ios::binary);
    in.seekg(static_cast<std::streamoff>(offset));
    std::vector<std::uint8_t> b(n);
    in.read(reinterpret_cast<char*>(b.data()), static_cast<std::streamsize>(n));
    b.resize(static_cast<std::size_t>(in.gcount()));
    return b;
}

// Fails writes to files of one kind once `after` of them went through;
// a short write stores the first half of the buffer before failing.
class FailingIo : public StorageIo {
public:
    FileKind Kind = FileKind::Wal;
    int After = 0;
    bool ShortWrite = false;
    int Writes = 0;
    int Write(StorageFile& f, const void* b, int n, std::int64_t off) override {
        if (f.Kind == Kind && Writes++ >= After) {
            if (ShortWrite) StorageIo::Write(f, b, n / 2, off);
            return SQLITE_IOERR_WRITE;
        }
        return StorageIo::Write(f, b, n, off);
    }
};

// Fails every read once a write to the write-ahead log went through: a disk
// that fails the reads that follow a commit.
class ReadsFailAfterCommit : public StorageIo {
public:
    bool Committed = false;
    int Write(StorageFile& f, const void* b, int n, std::int64_t off) override {
        if (f.Kind == FileKind::Wal) Committed = true;
        return StorageIo::Write(f, b, n, off);
    }
    // Pages only: the catalog area and the log's own header stay readable.
    int Read(StorageFile& f, void* b, int n, std::int64_t off) override {
        const bool page = f.Kind == FileKind::Table && off >= PageStoreOffset;
        return Committed && page ? SQLITE_IOERR_READ : StorageIo::Read(f, b, n, off);
    }
};

// Runs child(in, out) in a forked process; returns its pid and the parent's
// pipe ends (write to the child, read from the child).
struct Child {
    pid_t Pid = -1;
    int ToChild = -1;
    int FromChild = -1;
};
Child Fork(const std::function<int(int in, int out)>& child) {
    int down[2], up[2];
    if (::pipe(down) != 0 || ::pipe(up) != 0) throw std::runtime_error("pipe");
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(down[1]);
        ::close(up[0]);
        int rc = 1;
        try {
            rc = child(down[0], up[1]);
        } catch (...) {
            rc = 3;
        }
        ::_exit(rc);
    }
    ::close(down[0]);
    ::close(up[1]);
    return Child{pid, down[1], up[0]};
}

bool Signal(int fd) {
    const char c = 'x';
    return ::write(fd, &c, 1) == 1;
}
bool Await(int fd) {
    char c;
    return ::read(fd, &c, 1) == 1;
}
int Finish(const Child& c) {
    ::close(c.ToChild);
    ::close(c.FromChild);
    int status = 0;
    ::waitpid(c.Pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace

TEST(EngineVfs, PageStoreStartsAtOffset65536AndCatalogStaysIntact) {
    TempDir dir;
    const std::string path = dir.File("layout.dat");
    CreateTable(path, Schema());
    const std::vector<std::uint8_t> catalog = ReadBytes(path, 65536);
    {
        Table t;
        t.Open(path);
        for (int i = 0; i < 200; ++i) Add(t, "name " + std::to_string(i), i);
        // The write-ahead log and its index sit beside the table file.
        struct stat st {};
        EXPECT_EQ(::stat((path + "-wal").c_str(), &st), 0);
        EXPECT_EQ(::stat((path + "-shm").c_str(), &st), 0);
    }
    // The last close folded the log into the page store and removed it.
    struct stat st {};
    EXPECT_NE(::stat((path + "-wal").c_str(), &st), 0);
    // The catalog area is as it was but for the log stamp (bytes 29 to 36),
    // which the new log changed; the table identity (21 to 28) stays.
    std::vector<std::uint8_t> after = ReadBytes(path, 65536);
    EXPECT_NE(std::vector<std::uint8_t>(after.begin() + 29, after.begin() + 37),
              std::vector<std::uint8_t>(catalog.begin() + 29, catalog.begin() + 37));
    EXPECT_NE(std::vector<std::uint8_t>(after.begin() + 21, after.begin() + 29), std::vector<std::uint8_t>(8, 0));
    std::copy(catalog.begin() + 29, catalog.begin() + 37, after.begin() + 29);
    EXPECT_EQ(after, catalog);
    const std::vector<std::uint8_t> header = ReadBytes(path, 16, 65536);
    EXPECT_EQ(std::string(header.begin(), header.end()), std::string("SQLite format 3\0", 16));
    EXPECT_EQ(catalog[0], 1);
    EXPECT_EQ(std::string(catalog.begin() + 1, catalog.begin() + 5), "BFT1");
}

TEST(EngineVfs, FailedWriteLeavesTableAsBefore) {
    TempDir dir;
    const std::string path = dir.File("fail.dat");
    CreateTable(path, Schema());
    for (bool shortWrite : {false, true}) {
        Table t;
        t.Open(path);
        const std::int64_t before = t.CountRecords();
        Add(t, "kept", 1);
        FailingIo io;
        io.ShortWrite = shortWrite;
        {
            IoScope scope(&io);
            t.AddRecord();
            t.SetValue(0, ClientValue::Text("lost"));
            EXPECT_ENGINE_ERROR(t.Post(), "I/O error on table file '" + path + "' while writing (disk I/O error)");
        }
        EXPECT_TRUE(t.Editing());  // the record can be posted again
        EXPECT_EQ(t.CountRecords(), before + 1);
        t.Close();
        t.Open(path);
        EXPECT_EQ(t.CountRecords(), before + 1);
        t.SetIndex("Name");
        EXPECT_NE(t.Seek({ClientValue::Text("lost")}), 7);
        // The same table takes posts again.
        Add(t, "after", 2);
        EXPECT_EQ(t.CountRecords(), before + 2);
    }
}

TEST(EngineVfs, ACommittedDeleteIsDoneWhenTheNextRecordCannotBeRead) {
    TempDir dir;
    const std::string path = dir.File("delete.dat");
    TableSchema schema;
    schema.Columns = {Col("Memo", 'M')};
    CreateTable(path, schema);
    {
        // Long texts: reading the next record reads pages of its own.
        BulkInserter in(path);
        for (int i = 1; i <= 400; ++i) in.Add({Value::Text(std::string(3000, 'x') + std::to_string(i))});
        in.Commit();
    }
    Table t;
    t.Open(path);
    // A first delete starts the write-ahead log: the faulty one writes only its commit.
    ASSERT_TRUE(t.MoveToRecord(100));
    t.Delete();
    ASSERT_TRUE(t.MoveToRecord(200));
    ReadsFailAfterCommit io;
    {
        IoScope scope(&io);
        t.Delete();  // committed: moving on to the next record is no part of it
    }
    ASSERT_TRUE(io.Committed);
    EXPECT_EQ(t.RecordNumber(), -1);
    EXPECT_TRUE(t.Eof() && t.Bof());
    ASSERT_TRUE(t.MoveToRecord(201));
    EXPECT_FALSE(t.MoveToRecord(200));
    EXPECT_EQ(t.CountRecords(), 398);
    t.Close();
    t.Open(path);
    EXPECT_FALSE(t.MoveToRecord(200));
    EXPECT_EQ(t.CountRecords(), 398);
}

TEST(EngineVfs, CorruptedPageStoreGivesClearError) {
    TempDir dir;
    const std::string path = dir.File("corrupt.dat");
    CreateTable(path, Schema());
    {
        Table t;
        t.Open(path);
        for (int i = 0; i < 50; ++i) Add(t, std::string(30, 'a' + i % 26), i);
    }
    // Overwrite the page store's header.
    const char junk[100] = "this is no page store at all";
    ASSERT_NO_FATAL_FAILURE(PatchBytes(path, 65536, junk, sizeof junk));
    Table t;
    EXPECT_ENGINE_ERROR(t.Open(path), "Table file '" + path + "' is damaged (file is not a database)");
    EXPECT_FALSE(t.IsOpen());
}

TEST(EngineVfs, KilledWriterLosesNoCompletedPost) {
    TempDir dir;
    const std::string path = dir.File("crash.dat");
    CreateTable(path, Schema());
    Child c = Fork([&](int, int out) {
        Table t;
        t.Open(path);
        for (std::int64_t i = 1; i < 1000000; ++i) {
            const std::int64_t r = Add(t, "rec" + std::to_string(i), i);
            if (::write(out, &r, sizeof r) != sizeof r) return 2;
        }
        return 0;
    });
    std::set<std::int64_t> done;
    std::int64_t r;
    while (done.size() < 300 && ::read(c.FromChild, &r, sizeof r) == sizeof r) done.insert(r);
    ::kill(c.Pid, SIGKILL);
    while (::read(c.FromChild, &r, sizeof r) == sizeof r) done.insert(r);
    Finish(c);
    ASSERT_GE(done.size(), 300u);

    Table t;
    t.Open(path);
    const std::int64_t count = t.CountRecords();
    EXPECT_GE(count, static_cast<std::int64_t>(done.size()));
    EXPECT_LE(count, static_cast<std::int64_t>(done.size()) + 1);
    for (std::int64_t recno : done) {
        ASSERT_TRUE(t.MoveToRecord(recno)) << recno;
        EXPECT_EQ(t.GetValue(1).i, recno);
        EXPECT_EQ(t.GetValue(0).s, "rec" + std::to_string(recno));
    }
    // The record count kept in the page store matches the records.
    std::int64_t walked = 0;
    for (t.MoveFirst(); !t.Eof(); t.MoveNext()) ++walked;
    EXPECT_EQ(walked, count);
    t.Close();
    // And the page store is consistent.
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, RegisterPageStoreVfs()), SQLITE_OK);
    Collator coll("");
    RegisterMoneyKey(db, &coll);
    sqlite3_stmt* st = nullptr;
    ASSERT_EQ(sqlite3_prepare_v2(db, "PRAGMA quick_check", -1, &st, nullptr), SQLITE_OK);
    ASSERT_EQ(sqlite3_step(st), SQLITE_ROW);
    EXPECT_STREQ(reinterpret_cast<const char*>(sqlite3_column_text(st, 0)), "ok");
    sqlite3_finalize(st);
    sqlite3_close(db);
}

TEST(EngineVfs, AnotherProcessPostIsSeenByTheNextPositioning) {
    TempDir dir;
    const std::string path = dir.File("shared.dat");
    CreateTable(path, Schema());
    {
        Table t;
        t.Open(path);
        for (int i = 1; i <= 3; ++i) Add(t, "n" + std::to_string(i), i);
    }
    // The child is forked before this process opens the table again, so it
    // inherits no page-store state.
    Child c = Fork([&](int in, int out) {
        if (!Await(in)) return 2;
        Table t;
        t.Open(path);
        Add(t, "n4", 4);
        if (!t.MoveToRecord(2)) return 4;
        t.Delete();
        t.Close();
        if (!Signal(out) || !Await(in)) return 2;
        t.Open(path);
        if (!t.MoveToRecord(3)) return 5;
        t.EditRecord();
        t.SetValue(1, ClientValue::Int(333));
        t.Post();
        t.Close();
        return Signal(out) ? 0 : 2;
    });
    Table t;
    t.Open(path);
    t.MoveLast();
    EXPECT_EQ(t.RecordNumber(), 3);
    EXPECT_EQ(t.CountRecords(), 3);
    ASSERT_TRUE(Signal(c.ToChild));
    ASSERT_TRUE(Await(c.FromChild));
    t.MoveNext();
    EXPECT_EQ(t.RecordNumber(), 4);
    EXPECT_EQ(t.CountRecords(), 3);  // 4 added, 2 deleted
    t.MovePrior();
    t.MovePrior();
    EXPECT_EQ(t.RecordNumber(), 1);  // 2 is gone
    ASSERT_TRUE(Signal(c.ToChild));
    ASSERT_TRUE(Await(c.FromChild));
    ASSERT_TRUE(t.MoveToRecord(3));
    EXPECT_EQ(t.GetValue(1).i, 333);
    // A filter count is recomputed after the other process's change, too.
    t.SetVisibility("Amount > 100", 0, std::nullopt, std::nullopt);
    EXPECT_EQ(t.CountRecords(), 1);
    EXPECT_EQ(Finish(c), 0);
}

TEST(EngineVfs, PageStoreLocksSurviveAnotherDescriptorBeingClosed) {
    TempDir dir;
    const std::string path = dir.File("dump.dat");
    CreateTable(path, Schema());
    Table t;
    t.Open(path);
    Add(t, "x", 1);
    // A header dump in this process opens and closes the file: with classic
    // POSIX locks this would drop every lock the page store holds.
    const int dump = ::open(path.c_str(), O_RDONLY);
    ASSERT_GE(dump, 0);
    char header[40];
    ASSERT_EQ(::read(dump, header, sizeof header), 40);
    ::close(dump);
    // The connection still holds its shared lock on SQLite's shared range:
    // nobody could take the exclusive lock that checkpoints and deletes the
    // write-ahead log.
    const int probe = ::open(path.c_str(), O_RDWR);
    ASSERT_GE(probe, 0);
    struct flock fl {};
    fl.l_type = F_WRLCK;
    fl.l_whence = SEEK_SET;
    fl.l_start = 0x40000002;
    fl.l_len = 510;
    ASSERT_EQ(::fcntl(probe, F_OFD_GETLK, &fl), 0);
    EXPECT_EQ(fl.l_type, F_RDLCK);
    ::close(probe);
    Add(t, "y", 2);
    EXPECT_EQ(t.CountRecords(), 2);
}

// ------------------------------------------------- side files of a table

namespace {

bool Exists(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0;
}

std::vector<std::uint8_t> Slurp(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return {};
    return ReadBytes(path, static_cast<std::size_t>(st.st_size));
}

void WriteFile(const std::string& path, const std::vector<std::uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

void CopyFile(const std::string& from, const std::string& to) { WriteFile(to, Slurp(from)); }

std::int64_t CountOf(const std::string& path) {
    Table t;
    t.Open(path, true);
    return t.CountRecords();
}

// Opens path in a child process, posts `first` records, lets the parent run
// `midway`, posts `second` more and is killed: its log stays beside the
// table with the posts in it.
void KilledWriter(const std::string& path, int first, int second, const std::function<void()>& midway = {}) {
    Child c = Fork([&](int in, int out) {
        Table t;
        t.Open(path);
        for (int i = 0; i < first; ++i) Add(t, "late" + std::to_string(i), i);
        if (!Signal(out) || !Await(in)) return 2;
        for (int i = 0; i < second; ++i) Add(t, "later" + std::to_string(i), i);
        if (!Signal(out)) return 2;
        ::pause();
        return 0;
    });
    ASSERT_TRUE(Await(c.FromChild));
    if (midway) midway();
    ASSERT_TRUE(Signal(c.ToChild));
    ASSERT_TRUE(Await(c.FromChild));
    ::kill(c.Pid, SIGKILL);
    Finish(c);
    ASSERT_TRUE(Exists(path + "-wal"));
}

void Fill(const std::string& path, int records) {
    BulkInserter ins(path);
    for (int i = 0; i < records; ++i) ins.Add({Value::Text("n" + std::to_string(i)), Value::Int(i)});
    ins.Commit();
}

}  // namespace

TEST(EngineSideFiles, TheLogOfAnotherTableIsRefusedAndNothingIsTouched) {
    TempDir dir;
    const std::string mine = dir.File("mine.dat"), other = dir.File("other.dat");
    CreateTable(mine, Schema());
    CreateTable(other, Schema());
    Fill(mine, 3000);
    Fill(other, 94);
    KilledWriter(other, 20, 0);
    // Its side files left beside another table of the same layout.
    CopyFile(other + "-wal", mine + "-wal");
    CopyFile(other + "-shm", mine + "-shm");
    const auto table = Slurp(mine), log = Slurp(mine + "-wal"), index = Slurp(mine + "-shm");
    const std::string refused = "Table file '" + mine + "' cannot be opened: its side file '" + mine +
                                "-wal' belongs to another table; move it away to open this one";
    Table t;
    EXPECT_ENGINE_ERROR(t.Open(mine), refused);
    EXPECT_ENGINE_ERROR(t.Open(mine, true), refused);
    EXPECT_ENGINE_ERROR(ReadTableInfo(mine), refused);
    EXPECT_ENGINE_ERROR(BulkInserter{mine}, refused);
    EXPECT_ENGINE_ERROR(AddIndex(mine, Ix({1})), refused);
    EXPECT_FALSE(t.IsOpen());
    EXPECT_EQ(Slurp(mine), table);
    EXPECT_EQ(Slurp(mine + "-wal"), log);
    EXPECT_EQ(Slurp(mine + "-shm"), index);
    // Moved away, the table opens whole; the other table keeps its posts.
    ASSERT_EQ(::rename((mine + "-wal").c_str(), dir.File("moved-wal").c_str()), 0);
    EXPECT_EQ(CountOf(mine), 3000);
    EXPECT_EQ(CountOf(other), 94 + 20);
}

TEST(EngineSideFiles, TheLogOfALaterStateIsRefusedWhenACopyIsPutBack) {
    TempDir dir;
    const std::string path = dir.File("t.dat"), closedCopy = dir.File("closed.copy"), openCopy = dir.File("open.copy");
    CreateTable(path, Schema());
    Fill(path, 100);
    CopyFile(path, closedCopy);
    // The writer posts enough for its log to be checkpointed and begun again
    // after a copy was taken while it had the table open.
    KilledWriter(path, 10, 1500, [&] { CopyFile(path, openCopy); });
    // The crashed table and its own log, under another name: all posts are there.
    CopyFile(path, dir.File("crashed.dat"));
    CopyFile(path + "-wal", dir.File("crashed.dat-wal"));
    EXPECT_EQ(CountOf(dir.File("crashed.dat")), 100 + 10 + 1500);
    const auto log = Slurp(path + "-wal");
    for (const std::string& copy : {closedCopy, openCopy}) {
        CopyFile(copy, path);
        Table t;
        EXPECT_ENGINE_ERROR(t.Open(path, true), "Table file '" + path + "' cannot be opened: its side file '" + path +
                                                    "-wal' holds changes of another copy of this table (was the table "
                                                    "file put back from a copy?); move it away to open this one");
        EXPECT_EQ(Slurp(path), Slurp(copy));
        EXPECT_EQ(Slurp(path + "-wal"), log);
    }
}

TEST(EngineSideFiles, ALogWithNothingToApplyIsTakenOver) {
    // A crash while a log is begun leaves a log whose stamp differs from the
    // table's but that holds nothing after SQLite's own header.
    TempDir dir;
    const std::string path = dir.File("t.dat");
    CreateTable(path, Schema());
    Fill(path, 5);
    KilledWriter(path, 0, 0);
    ASSERT_NO_FATAL_FAILURE(PatchBytes(path, 29, "newstamp", 8));
    Table t;
    t.Open(path);
    Add(t, "after", 1);
    t.Close();
    EXPECT_EQ(CountOf(path), 6);
}

TEST(EngineSideFiles, ATableWithoutIdentityUsesItsOldLogAndGetsAnIdentity) {
    // A table file written before tables had an identity, with the log of a
    // crashed writer of that time (no header: SQLite's log from offset 0).
    TempDir dir;
    const std::string path = dir.File("old.dat");
    CreateTable(path, Schema());
    Fill(path, 7);
    KilledWriter(path, 3, 0);
    std::vector<std::uint8_t> log = Slurp(path + "-wal");
    log.erase(log.begin(), log.begin() + LogHeaderSize);
    WriteFile(path + "-wal", log);
    const char zero[16] = {};
    ASSERT_NO_FATAL_FAILURE(PatchBytes(path, 21, zero, sizeof zero));
    EXPECT_EQ(CountOf(path), 10);
    {
        Table t;
        t.Open(path);
        Add(t, "new", 1);
    }
    EXPECT_NE(ReadBytes(path, 8, 21), std::vector<std::uint8_t>(8, 0));
    EXPECT_EQ(CountOf(path), 11);
}

// A write that failed while a log was begun can leave its header torn, with
// no frame after it: the table opens and takes the log over.
TEST(EngineSideFiles, ALogWithATornHeaderAndNothingToApplyIsTakenOver) {
    TempDir dir;
    const std::string path = dir.File("torn.dat");
    CreateTable(path, Schema());
    Fill(path, 10);
    int records = 10;
    for (const std::size_t size : {std::size_t{5}, std::size_t{64 + 32}}) {
        std::vector<std::uint8_t> torn(size, 0);
        std::memcpy(torn.data(), "BFT", 3);
        WriteFile(path + "-wal", torn);
        EXPECT_EQ(CountOf(path), records) << size;
        Fill(path, 1);
        ++records;
    }
    EXPECT_EQ(CountOf(path), 12);
}

// Kills its process at the given write into a table file, once armed.
struct DieAtTableWrite : StorageIo {
    int Left = 0;
    int Write(StorageFile& f, const void* b, int n, std::int64_t off) override {
        if (f.Kind == FileKind::Table && Left > 0 && --Left == 0) ::raise(SIGKILL);
        return StorageIo::Write(f, b, n, off);
    }
};

// A load whose process died while its commit wrote the table file leaves a
// journal that must be rolled back; SQLite would roll it back into whatever
// table file it finds it beside. It is applied to its own table only, and
// refused beside another table or a copy put back.
TEST(EngineSideFiles, TheJournalOfAnUnfinishedLoadIsRolledBackOnlyIntoItsOwnTable) {
    TempDir dir;
    const std::string mine = dir.File("mine.dat"), other = dir.File("other.dat"), before = dir.File("before.copy");
    CreateTable(mine, Schema());
    CreateTable(other, Schema());
    Fill(mine, 3000);
    Fill(other, 50);
    CopyFile(other, before);
    Child c = Fork([&](int, int) {
        BulkInserter ins(other);
        for (int i = 0; i < 5000; ++i) ins.Add({Value::Text("load" + std::to_string(i)), Value::Int(i)});
        DieAtTableWrite io;
        io.Left = 5;
        SetStorageIo(&io);
        ins.Commit();
        return 2;
    });
    Finish(c);
    // SQLite's journal (behind the header) has its magic: it must be applied.
    const std::vector<std::uint8_t> journal = Slurp(other + "-journal");
    ASSERT_GT(journal.size(), 64u + 28u);
    ASSERT_EQ(journal[64], 0xd9);

    const auto refusal = [](const std::string& path, const std::string& reason) {
        return "Table file '" + path + "' cannot be opened: its side file '" + path + "-journal' " + reason +
               "; move it away to open this one";
    };
    CopyFile(other + "-journal", mine + "-journal");
    const auto table = Slurp(mine);
    const std::string foreign = refusal(mine, "belongs to another table");
    Table t;
    EXPECT_ENGINE_ERROR(t.Open(mine), foreign);
    EXPECT_ENGINE_ERROR(t.Open(mine, true), foreign);
    EXPECT_ENGINE_ERROR(BulkInserter{mine}, foreign);
    EXPECT_EQ(Slurp(mine), table);
    EXPECT_EQ(Slurp(mine + "-journal"), journal);
    ASSERT_EQ(::rename((mine + "-journal").c_str(), dir.File("moved-journal").c_str()), 0);
    EXPECT_EQ(CountOf(mine), 3000);

    // The copy taken before the load, put back: refused as well.
    const std::string crashed = dir.File("crashed.dat");
    CopyFile(other, crashed);
    CopyFile(other + "-journal", crashed + "-journal");
    CopyFile(before, other);
    const auto copy = Slurp(other);
    EXPECT_ENGINE_ERROR(t.Open(other), refusal(other, "holds changes of another copy of this table (was the table "
                                                      "file put back from a copy?)"));
    EXPECT_EQ(Slurp(other), copy);
    EXPECT_EQ(Slurp(other + "-journal"), journal);

    // Its own table (under another name) rolls it back: the load left nothing.
    // A check, which never writes, cannot, and says what to do.
    const std::vector<CheckLine> check = CheckTable(crashed);
    ASSERT_FALSE(check.empty());
    EXPECT_EQ(check.front().Text, "Table file '" + crashed +
                                      "' cannot be read before the unfinished bulk insert in its side file '" + crashed +
                                      "-journal' is rolled back; open the table once for writing to roll it back");
    t.Open(crashed);
    EXPECT_EQ(t.CountRecords(), 50);
    t.Close();
    EXPECT_FALSE(Exists(crashed + "-journal"));
    for (const CheckLine& line : CheckTable(crashed)) EXPECT_FALSE(line.Problem) << line.Text;
    Fill(crashed, 1);
    EXPECT_EQ(CountOf(crashed), 51);
}

// A load killed before anything went into its journal leaves one that holds
// nothing to apply, which SQLite would leave beside the table for good: an
// open for writing removes it, a reading open leaves it.
TEST(EngineSideFiles, AJournalWithNothingToApplyIsRemovedByAWritingOpen) {
    TempDir dir;
    const std::string path = dir.File("t.dat");
    CreateTable(path, Schema());
    Fill(path, 3);
    for (const std::size_t size : {std::size_t{0}, std::size_t{64}}) {
        WriteFile(path + "-journal", std::vector<std::uint8_t>(size, 0));
        EXPECT_EQ(CountOf(path), 3) << size;
        EXPECT_TRUE(Exists(path + "-journal")) << size;
        Table t;
        t.Open(path);
        EXPECT_EQ(t.CountRecords(), 3) << size;
        t.Close();
        EXPECT_FALSE(Exists(path + "-journal")) << size;
    }
}
