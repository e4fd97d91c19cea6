// The engine table core: cursor contract, stable record numbers, posting,
// deleting, values and misuse statuses.
#include "engine/Table.h"

#include "EngineTestUtil.h"

#include <fstream>
#include <iterator>
#include <thread>
#include <vector>

#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace engine;
using enginetest::Col;
using enginetest::EngineErrorOf;
using enginetest::Ix;
using enginetest::RunAsUser;
using enginetest::TempDir;

namespace {

TableSchema SimpleSchema() {
    TableSchema s;
    s.Columns = {Col("Name", 'C', 20), Col("Amount", 'L'), Col("Posted", 'Z'), Col("At", 'Y')};
    s.Indexes = {Ix({0})};
    return s;
}

std::int64_t Add(Table& t, const std::string& name, std::int64_t amount) {
    t.AddRecord();
    t.SetValue(0, ClientValue::Text(name));
    t.SetValue(1, ClientValue::Int(amount));
    return t.Post();
}

std::vector<std::int64_t> Forward(Table& t) {
    std::vector<std::int64_t> out;
    t.MoveFirst();
    while (!t.Eof() && t.RecordNumber() >= 0) {
        out.push_back(t.RecordNumber());
        t.MoveNext();
    }
    return out;
}

std::vector<std::int64_t> Backward(Table& t) {
    std::vector<std::int64_t> out;
    t.MoveLast();
    while (!t.Bof() && t.RecordNumber() >= 0) {
        out.push_back(t.RecordNumber());
        t.MovePrior();
    }
    return out;
}

}  // namespace

TEST(EngineTable, EmptyTableSetsBothFlagsAndHasNoRecord) {
    TempDir dir;
    const std::string path = dir.File("empty.dat");
    CreateTable(path, SimpleSchema());
    Table t;
    t.Open(path);
    EXPECT_TRUE(t.Eof());
    EXPECT_TRUE(t.Bof());
    EXPECT_EQ(t.RecordNumber(), -1);
    EXPECT_EQ(t.CountRecords(), 0);
    for (auto move : {&Table::MoveFirst, &Table::MoveLast, &Table::MoveNext, &Table::MovePrior}) {
        (t.*move)();
        EXPECT_TRUE(t.Eof());
        EXPECT_TRUE(t.Bof());
    }
    EXPECT_FALSE(t.MoveToRecord(1));
    EXPECT_ENGINE_STATUS(t.GetValue(0), stMisuse);
    EXPECT_ENGINE_STATUS(t.EditRecord(), stMisuse);
    EXPECT_ENGINE_STATUS(t.Delete(), stMisuse);
}

TEST(EngineTable, OneRecordStaysCurrentAtBothEnds) {
    TempDir dir;
    const std::string path = dir.File("one.dat");
    CreateTable(path, SimpleSchema());
    Table t;
    t.Open(path);
    EXPECT_EQ(Add(t, "Alice", 5), 1);
    t.MoveFirst();
    EXPECT_EQ(t.RecordNumber(), 1);
    EXPECT_FALSE(t.Eof());
    EXPECT_FALSE(t.Bof());
    t.MoveNext();
    EXPECT_TRUE(t.Eof());
    EXPECT_FALSE(t.Bof());
    EXPECT_EQ(t.RecordNumber(), 1);
    t.MovePrior();
    EXPECT_TRUE(t.Bof());
    EXPECT_FALSE(t.Eof());
    EXPECT_EQ(t.RecordNumber(), 1);
    t.MoveLast();
    EXPECT_FALSE(t.Eof());
    EXPECT_FALSE(t.Bof());
    EXPECT_EQ(t.GetValue(0).s, "Alice");
}

TEST(EngineTable, ManyRecordsWalkBothWaysInRecordAndIndexOrder) {
    TempDir dir;
    const std::string path = dir.File("many.dat");
    CreateTable(path, SimpleSchema());
    Table t;
    t.Open(path);
    std::vector<std::int64_t> expect;
    for (int i = 0; i < 300; ++i) expect.push_back(Add(t, "n" + std::to_string((i * 7919) % 300), i));
    EXPECT_EQ(Forward(t), expect);
    std::vector<std::int64_t> rev(expect.rbegin(), expect.rend());
    EXPECT_EQ(Backward(t), rev);
    EXPECT_EQ(t.CountRecords(), 300);

    t.SetIndex("name");
    std::vector<std::int64_t> byName = Forward(t);
    ASSERT_EQ(byName.size(), 300u);
    std::string prev;
    for (std::int64_t r : byName) {
        ASSERT_TRUE(t.MoveToRecord(r));
        const std::string name = t.GetValue(0).s;
        EXPECT_LE(prev, name);
        prev = name;
    }
    std::vector<std::int64_t> back = Backward(t);
    std::reverse(back.begin(), back.end());
    EXPECT_EQ(back, byName);
}

TEST(EngineTable, RecordNumbersAreNeverReused) {
    TempDir dir;
    const std::string path = dir.File("stable.dat");
    CreateTable(path, SimpleSchema());
    Table t;
    t.Open(path);
    Add(t, "a", 1);
    Add(t, "b", 2);
    const std::int64_t third = Add(t, "c", 3);
    ASSERT_TRUE(t.MoveToRecord(third));
    t.Delete();
    // Deleting the last record leaves the cursor on the previous one.
    EXPECT_EQ(t.RecordNumber(), 2);
    EXPECT_EQ(Add(t, "d", 4), 4);
    t.Close();
    t.Open(path);
    EXPECT_EQ(Add(t, "e", 5), 5);
    EXPECT_EQ(Forward(t), (std::vector<std::int64_t>{1, 2, 4, 5}));
    ASSERT_TRUE(t.MoveToRecord(1));
    t.Delete();
    EXPECT_EQ(t.RecordNumber(), 2);  // the next record
    EXPECT_FALSE(t.MoveToRecord(1));
    EXPECT_EQ(t.RecordNumber(), 2);  // unchanged
    EXPECT_EQ(t.CountRecords(), 3);
    for (std::int64_t r : {2, 4, 5}) {
        ASSERT_TRUE(t.MoveToRecord(r));
        t.Delete();
    }
    EXPECT_EQ(t.RecordNumber(), -1);
    EXPECT_TRUE(t.Eof() && t.Bof());
    EXPECT_EQ(t.CountRecords(), 0);
}

TEST(EngineTable, RecordAndTableLocksBetweenObjects) {
    TempDir dir;
    const std::string path = dir.File("locks.dat");
    CreateTable(path, SimpleSchema());
    Table a, b;
    a.Open(path);
    b.Open(path);
    Add(a, "one", 1);
    Add(a, "two", 2);
    ASSERT_TRUE(a.MoveToRecord(1));
    ASSERT_TRUE(b.MoveToRecord(1));
    a.LockRecord();
    // b can neither post an edit of nor delete the locked record.
    b.EditRecord();
    b.SetValue(1, ClientValue::Int(100));
    EXPECT_ENGINE_ERROR(b.Post(), "Record is locked by another user");
    EXPECT_ENGINE_ERROR(b.Delete(), "Record is locked by another user");
    EXPECT_ENGINE_ERROR(b.LockRecord(), "Record is locked by another user");
    // Other records are free.
    ASSERT_TRUE(b.MoveToRecord(2));
    b.Delete();
    // The holder edits and posts.
    a.EditRecord();
    a.SetValue(1, ClientValue::Int(11));
    a.Post();
    a.UnlockRecord();
    ASSERT_TRUE(b.MoveToRecord(1));
    EXPECT_EQ(b.GetValue(1).i, 11);
    b.EditRecord();
    b.SetValue(1, ClientValue::Int(12));
    b.Post();

    // The table lock needs everyone else gone, and keeps newcomers out.
    EXPECT_ENGINE_ERROR(a.LockTable(), "Table '" + path + "' is in use by another user");
    b.Close();
    a.LockTable();
    Table c;
    EXPECT_ENGINE_ERROR(c.Open(path), "Table '" + path + "' is locked by another user");
    // PrepareClose releases the table lock as well.
    a.PrepareClose();
    c.Open(path);
    EXPECT_EQ(c.CountRecords(), 1);
}

TEST(EngineTable, LocksOfAKilledProcessVanish) {
    TempDir dir;
    const std::string path = dir.File("plocks.dat");
    CreateTable(path, SimpleSchema());
    {
        Table t;
        t.Open(path);
        Add(t, "one", 1);
    }
    int up[2];
    ASSERT_EQ(::pipe(up), 0);
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(up[0]);
        int rc = 0;
        try {
            Table t;
            t.Open(path);
            t.MoveFirst();
            t.LockRecord();
            const char c = 'r';
            if (::write(up[1], &c, 1) != 1) rc = 2;
            ::pause();
        } catch (...) {
            rc = 3;
        }
        ::_exit(rc);
    }
    ::close(up[1]);
    char c = 0;
    ASSERT_EQ(::read(up[0], &c, 1), 1);
    Table t;
    t.Open(path);
    t.MoveFirst();
    EXPECT_ENGINE_ERROR(t.LockRecord(), "Record is locked by another user");
    EXPECT_ENGINE_ERROR(t.Delete(), "Record is locked by another user");
    EXPECT_ENGINE_ERROR(t.LockTable(), "Table '" + path + "' is in use by another user");
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
    ::close(up[0]);
    t.LockRecord();
    t.UnlockRecord();
    t.LockTable();
    t.Delete();
    EXPECT_EQ(t.CountRecords(), 0);
}

TEST(EngineTable, EditsAreDroppedByMovesAndPostsLandOnThePostedRecord) {
    TempDir dir;
    const std::string path = dir.File("edit.dat");
    CreateTable(path, SimpleSchema());
    Table t;
    t.Open(path);
    Add(t, "b", 1);
    Add(t, "a", 2);
    t.SetIndex("Name");
    t.MoveFirst();
    EXPECT_EQ(t.GetValue(0).s, "a");
    t.AddRecord();
    t.SetValue(0, ClientValue::Text("c"));
    EXPECT_TRUE(t.GetValue(0).s == "c");  // the record being added
    t.MoveFirst();                          // drops the pending insert
    EXPECT_FALSE(t.Editing());
    EXPECT_ENGINE_STATUS(t.Post(), stMisuse);
    EXPECT_EQ(t.CountRecords(), 2);
    // After a post the cursor stands on the posted record, in index order.
    t.AddRecord();
    t.SetValue(0, ClientValue::Text("aa"));
    EXPECT_EQ(t.Post(), 3);
    EXPECT_EQ(t.RecordNumber(), 3);
    t.MoveNext();
    EXPECT_EQ(t.GetValue(0).s, "b");
    // Y and Z are written by the engine at every post and refused to clients.
    EXPECT_FALSE(t.GetValue(2).IsNull());
    EXPECT_FALSE(t.GetValue(3).IsNull());
    t.EditRecord();
    EXPECT_ENGINE_ERROR(t.SetValue(2, ClientValue::Int(1)),
                        "Column 'Posted' holds the time of the last post and cannot be written");
    // An edit re-reads the record: a change made meanwhile is not overwritten.
    Table other;
    other.Open(path);
    ASSERT_TRUE(other.MoveToRecord(1));
    other.EditRecord();
    other.SetValue(1, ClientValue::Int(77));
    other.Post();
    ASSERT_TRUE(t.MoveToRecord(1));
    t.LockRecord();
    t.EditRecord();
    EXPECT_EQ(t.GetValue(1).i, 77);
    t.SetValue(0, ClientValue::Text("bb"));
    t.Post();
    t.UnlockRecord();
    ASSERT_TRUE(other.MoveToRecord(1));
    EXPECT_EQ(other.GetValue(0).s, "bb");
    EXPECT_EQ(other.GetValue(1).i, 77);
}

TEST(EngineTable, AnEditWritesOnlyWhatChangedAndReadsAgainAfterOthersCommitted) {
    TempDir dir;
    const std::string path = dir.File("changed.dat");
    TableSchema s;
    s.Columns = {Col("Name", 'C', 20), Col("Amount", 'L')};
    s.Indexes = {Ix({0})};
    CreateTable(path, s);
    Table t, other;
    t.Open(path);
    other.Open(path);
    Add(t, "a", 1);
    Add(t, "b", 2);

    // A value that another object posted while this one edited survives, as
    // this post writes only the column it changed (and the index follows).
    ASSERT_TRUE(t.MoveToRecord(1));
    t.EditRecord();
    ASSERT_TRUE(other.MoveToRecord(1));
    other.EditRecord();
    other.SetValue(1, ClientValue::Int(50));
    other.Post();
    t.SetValue(0, ClientValue::Text("z"));
    t.Post();
    ASSERT_TRUE(other.MoveToRecord(1));
    EXPECT_EQ(other.GetValue(0).s, "z");
    EXPECT_EQ(other.GetValue(1).i, 50);
    other.SetIndex("Name");
    other.MoveLast();
    EXPECT_EQ(other.RecordNumber(), 1);

    // The current record, read before another object's post, is read again
    // by LockRecord and by EditRecord.
    ASSERT_TRUE(t.MoveToRecord(2));
    ASSERT_TRUE(other.MoveToRecord(2));
    other.EditRecord();
    other.SetValue(1, ClientValue::Int(20));
    other.Post();
    t.LockRecord();
    EXPECT_EQ(t.GetValue(1).i, 20);
    t.UnlockRecord();
    other.EditRecord();
    other.SetValue(1, ClientValue::Int(21));
    other.Post();
    t.EditRecord();
    EXPECT_EQ(t.GetValue(1).i, 21);

    // A post that changes nothing, or changes a value back, still fails on a
    // record that another object deleted meanwhile.
    t.SetValue(1, ClientValue::Int(21));
    other.Delete();
    EXPECT_ENGINE_ERROR(t.Post(), "Record 2 of table '" + path + "' was deleted by another user");
    EXPECT_TRUE(t.Editing());
    ASSERT_TRUE(t.MoveToRecord(1));
    t.EditRecord();
    t.SetValue(1, ClientValue::Int(7));
    t.SetValue(1, ClientValue::Int(50));
    EXPECT_EQ(t.Post(), 1);
    ASSERT_TRUE(other.MoveToRecord(1));
    EXPECT_EQ(other.GetValue(1).i, 50);
    EXPECT_EQ(other.CountRecords(), 1);
}

// ------------------------------------------------------ read-only storage

namespace {

bool Exists(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0;
}

std::string Bytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// "" when t walks over `count` records named n0, n1, ... in record order.
std::string CheckRecords(Table& t, int count) {
    if (t.CountRecords() != count) return "count " + std::to_string(t.CountRecords());
    int i = 0;
    for (t.MoveFirst(); !t.Eof(); t.MoveNext(), ++i)
        if (t.GetValue(0).s != "n" + std::to_string(i)) return "record " + std::to_string(i) + " is " + t.GetValue(0).s;
    return i == count ? "" : "walked " + std::to_string(i);
}

void AddNamed(const std::string& path, int from, int to) {
    Table t;
    t.Open(path);
    for (int i = from; i < to; ++i) Add(t, "n" + std::to_string(i), i);
}

}  // namespace

TEST(EngineTable, ReadOnlyOpenWhereThisUserCannotWrite) {
    if (::geteuid() != 0) GTEST_SKIP() << "acts as another user: needs root";
    TempDir dir;
    const std::string path = dir.File("t.dat");
    CreateTable(path, SimpleSchema());
    AddNamed(path, 0, 10);
    ASSERT_EQ(::chmod(dir.Path().c_str(), 0755), 0);
    ASSERT_EQ(::chmod(path.c_str(), 0644), 0);
    const std::string before = Bytes(path);
    // A folder and a file that nobody may write.
    EXPECT_EQ(RunAsUser("nobody", [&]() -> std::string {
                  Table t;
                  const std::string refused = EngineErrorOf([&] { t.Open(path); });
                  if (refused != "Table file '" + path +
                                     "' cannot be written (Permission denied); open it read-only to look at it")
                      return "read-write open: " + refused;
                  t.Open(path, true);
                  if (std::string r = CheckRecords(t, 10); !r.empty()) return r;
                  t.SetIndex("Name");
                  if (t.Seek({ClientValue::Text("n7")}) != 7) return "seek";
                  const std::string change = EngineErrorOf([&] { t.AddRecord(); });
                  if (change != "Table '" + path + "' is open for reading only") return "add: " + change;
                  const std::string lock = EngineErrorOf([&] { t.LockTable(); });
                  if (lock != "Table '" + path + "' cannot be locked: this user cannot write its file")
                      return "lock: " + lock;
                  if (ReadTableInfo(path).RecordCount != 10) return "info";
                  return "";
              }),
              "");
    EXPECT_FALSE(Exists(path + "-wal"));
    EXPECT_FALSE(Exists(path + "-shm"));
    EXPECT_EQ(Bytes(path), before);
    // A file that it may write, in a folder that it may not.
    ASSERT_EQ(::chmod(path.c_str(), 0666), 0);
    EXPECT_EQ(RunAsUser("nobody", [&] {
                  return EngineErrorOf([&] { Table().Open(path); });
              }),
              "Table file '" + path + "' cannot be written here: its folder '" + dir.Path() +
                  "' must hold its side files 't.dat-wal' and 't.dat-shm' but cannot be written (Permission denied); "
                  "open it read-only to look at it");
}

TEST(EngineTable, AReaderInASharedFolderNeverBlocksTheOwner) {
    if (::geteuid() != 0) GTEST_SKIP() << "acts as other users: needs root";
    TempDir dir;
    const std::string path = dir.File("t.dat");
    ASSERT_EQ(::chmod(dir.Path().c_str(), 0777), 0);
    ASSERT_EQ(RunAsUser("daemon", [&] {
                  CreateTable(path, SimpleSchema());
                  AddNamed(path, 0, 5);
                  return std::string();
              }),
              "");
    // The reader alone, then while the owner has the table open with posts
    // in its log.
    EXPECT_EQ(RunAsUser("nobody", [&] {
                  Table t;
                  t.Open(path, true);
                  return CheckRecords(t, 5);
              }),
              "");
    EXPECT_FALSE(Exists(path + "-wal"));
    EXPECT_FALSE(Exists(path + "-shm"));
    int toOwner[2], fromOwner[2];
    ASSERT_EQ(::pipe(toOwner), 0);
    ASSERT_EQ(::pipe(fromOwner), 0);
    std::string ownerResult;
    std::thread owner([&] {
        ownerResult = RunAsUser("daemon", [&]() -> std::string {
            Table t;
            t.Open(path);
            for (int i = 5; i < 8; ++i) Add(t, "n" + std::to_string(i), i);
            char c = 'x';
            if (::write(fromOwner[1], &c, 1) != 1 || ::read(toOwner[0], &c, 1) != 1) return "pipe";
            // The reader is still there: the owner goes on posting.
            for (int i = 8; i < 10; ++i) Add(t, "n" + std::to_string(i), i);
            return CheckRecords(t, 10);
        });
    });
    char c = 0;
    ASSERT_EQ(::read(fromOwner[0], &c, 1), 1);
    EXPECT_EQ(RunAsUser("nobody", [&] {
                  Table t;
                  t.Open(path, true);
                  // What was in the table file when it opened.
                  return CheckRecords(t, 5);
              }),
              "");
    ASSERT_EQ(::write(toOwner[1], &c, 1), 1);
    owner.join();
    EXPECT_EQ(ownerResult, "");
    for (int fd : {toOwner[0], toOwner[1], fromOwner[0], fromOwner[1]}) ::close(fd);
    EXPECT_EQ(RunAsUser("daemon", [&] {
                  AddNamed(path, 10, 11);
                  Table t;
                  t.Open(path);
                  return CheckRecords(t, 11);
              }),
              "");
    EXPECT_FALSE(Exists(path + "-wal"));
    EXPECT_FALSE(Exists(path + "-shm"));
}
