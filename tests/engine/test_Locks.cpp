// Table and record locks between objects of one process and between processes.
#include "engine/Locks.h"

#include "engine/Errors.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>

using engine::EngineError;
using engine::TableLocks;

namespace {

// Runs `body` and returns the message of the EngineError it throws.
std::string ErrorOf(const std::function<void()>& body) {
    try {
        body();
    } catch (const EngineError& e) {
        return e.what();
    }
    return "(no error)";
}

// Number of descriptors of this process open on `path`.
int OpenDescriptors(const std::string& path) {
    namespace fs = std::filesystem;
    const fs::path target = fs::canonical(path);
    int n = 0;
    for (const auto& e : fs::directory_iterator("/proc/self/fd")) {
        std::error_code ec;
        const fs::path p = fs::read_symlink(e.path(), ec);
        if (!ec && p == target) ++n;
    }
    return n;
}

// A child process that runs `body` and then waits to be killed. The parent
// gets the child's pid once the child has written its one status byte
// ('1' = body succeeded, '0' = it threw).
struct Child {
    pid_t Pid = -1;
    char Status = 0;

    explicit Child(const std::function<void()>& body) {
        int fds[2];
        if (pipe(fds) != 0) std::abort();
        Pid = fork();
        if (Pid == 0) {
            close(fds[0]);
            char ok = '1';
            try {
                body();
            } catch (...) {
                ok = '0';
            }
            if (write(fds[1], &ok, 1) != 1) _exit(3);
            for (;;) pause();
        }
        close(fds[1]);
        if (read(fds[0], &Status, 1) != 1) Status = 'x';
        close(fds[0]);
    }
    // kill -9, then reap.
    void Kill() {
        if (Pid <= 0) return;
        kill(Pid, SIGKILL);
        int st = 0;
        waitpid(Pid, &st, 0);
        Pid = -1;
    }
    ~Child() { Kill(); }
};

class LocksTest : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/tamblor-locks-XXXXXX";
        const int fd = mkstemp(tmpl);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(write(fd, "table", 5), 5);
        close(fd);
        path = tmpl;
    }
    void TearDown() override { unlink(path.c_str()); }

    std::string path;
};

TEST_F(LocksTest, RecordLocksConflictBetweenObjectsOfOneProcess) {
    TableLocks a, b;
    a.Open(path);
    b.Open(path);
    a.LockRecord(5);
    a.LockRecord(5);  // again: still held, no conflict with itself
    EXPECT_TRUE(a.HoldsRecord(5));
    EXPECT_FALSE(a.IsRecordLockedByOther(5));
    EXPECT_TRUE(b.IsRecordLockedByOther(5));
    EXPECT_EQ(ErrorOf([&] { b.LockRecord(5); }), "Record is locked by another user");
    EXPECT_FALSE(b.HoldsRecord(5));
    b.LockRecord(6);
    EXPECT_TRUE(a.IsRecordLockedByOther(6));
    EXPECT_EQ(ErrorOf([&] { a.LockRecord(6); }), "Record is locked by another user");

    b.UnlockRecord(5);  // not b's lock: no effect
    EXPECT_TRUE(b.IsRecordLockedByOther(5));
    a.UnlockRecord(5);
    EXPECT_FALSE(b.IsRecordLockedByOther(5));
    b.LockRecord(5);
    EXPECT_EQ(ErrorOf([&] { a.LockRecord(5); }), "Record is locked by another user");

    // Closing the holder releases its locks.
    b.Close();
    a.LockRecord(5);
    a.LockRecord(6);
    // ReleaseAll drops the record locks but keeps the table open.
    a.ReleaseAll();
    EXPECT_TRUE(a.IsOpen());
    b.Open(path);
    b.LockRecord(5);
    b.LockRecord(6);
}

TEST_F(LocksTest, TableLockBetweenObjectsOfOneProcess) {
    TableLocks a, b, c;
    a.Open(path);
    b.Open(path);
    EXPECT_EQ(ErrorOf([&] { a.LockTable(); }), "Table '" + path + "' is in use by another user");
    EXPECT_FALSE(a.TableLocked());
    b.Close();
    a.LockTable();
    EXPECT_TRUE(a.TableLocked());
    EXPECT_EQ(ErrorOf([&] { c.Open(path); }), "Table '" + path + "' is locked by another user");
    EXPECT_FALSE(c.IsOpen());
    a.UnlockTable();
    c.Open(path);
    EXPECT_EQ(ErrorOf([&] { a.LockTable(); }), "Table '" + path + "' is in use by another user");
    c.Close();
    a.LockTable();
    a.ReleaseAll();  // also ends the exclusive lock
    EXPECT_FALSE(a.TableLocked());
    c.Open(path);
}

TEST_F(LocksTest, MisuseAndMissingFile) {
    TableLocks a;
    EXPECT_EQ(ErrorOf([&] { a.LockRecord(1); }), "Table is not open");
    EXPECT_EQ(ErrorOf([&] { a.LockTable(); }), "Table is not open");
    EXPECT_EQ(ErrorOf([&] { a.Open(path + ".missing"); }),
              "Cannot open table '" + path + ".missing': No such file or directory");
    a.Open(path);
    EXPECT_EQ(ErrorOf([&] { a.Open(path); }), "Lock file is already open");
    EXPECT_EQ(ErrorOf([&] { a.LockRecord(-1); }), "Invalid record number -1");
    a.Close();
    a.Close();  // harmless
}

TEST_F(LocksTest, OneSharedDescriptorKeepsThePageStoreLocks) {
    // Stands in for the page store: a classic POSIX lock on another descriptor.
    const int store = open(path.c_str(), O_RDWR);
    ASSERT_GE(store, 0);
    struct flock fl {};
    fl.l_type = F_WRLCK;
    fl.l_whence = SEEK_SET;
    fl.l_start = 100;
    fl.l_len = 1;
    ASSERT_EQ(fcntl(store, F_SETLK, &fl), 0);
    {
        TableLocks a, b, c;
        a.Open(path);
        b.Open(path);
        c.Open(path);
        EXPECT_EQ(OpenDescriptors(path), 2);  // the page store's and one lock descriptor
        b.Close();
        c.Close();
        EXPECT_EQ(OpenDescriptors(path), 2);
        // Closing objects did not close a descriptor, so the process still
        // holds its classic lock: another process sees it.
        Child probe([&] {
            const int fd = open(path.c_str(), O_RDWR);
            struct flock q {};
            q.l_type = F_WRLCK;
            q.l_whence = SEEK_SET;
            q.l_start = 100;
            q.l_len = 1;
            if (fd < 0 || fcntl(fd, F_GETLK, &q) != 0 || q.l_type == F_UNLCK) throw 1;
        });
        EXPECT_EQ(probe.Status, '1');
    }
    EXPECT_EQ(OpenDescriptors(path), 1);  // the last user closed the lock descriptor
    close(store);
}

TEST_F(LocksTest, RecordLockOfAnotherProcessVanishesWhenItIsKilled) {
    Child holder([&] {
        static TableLocks t;  // lives until the child is killed
        t.Open(path);
        t.LockRecord(7);
    });
    ASSERT_EQ(holder.Status, '1');

    TableLocks a;
    a.Open(path);  // the table is only shared by the child
    EXPECT_TRUE(a.IsRecordLockedByOther(7));
    EXPECT_EQ(ErrorOf([&] { a.LockRecord(7); }), "Record is locked by another user");
    a.LockRecord(8);
    EXPECT_EQ(ErrorOf([&] { a.LockTable(); }), "Table '" + path + "' is in use by another user");

    holder.Kill();
    EXPECT_FALSE(a.IsRecordLockedByOther(7));
    a.LockRecord(7);
    a.LockTable();
}

TEST_F(LocksTest, TableLockOfAnotherProcessBlocksOpen) {
    Child holder([&] {
        static TableLocks t;
        t.Open(path);
        t.LockTable();
    });
    ASSERT_EQ(holder.Status, '1');
    TableLocks a;
    EXPECT_EQ(ErrorOf([&] { a.Open(path); }), "Table '" + path + "' is locked by another user");
    EXPECT_FALSE(a.IsOpen());
    holder.Kill();
    a.Open(path);
    a.LockTable();
}

TEST_F(LocksTest, ChildProcessDoesNotShareTheParentsLocks) {
    // The child is forked while this process has the file open and holds
    // locks: it must not inherit them through the shared descriptor.
    TableLocks a;
    a.Open(path);
    a.LockRecord(3);
    Child refused([&] {
        TableLocks t;
        t.Open(path);
        t.LockRecord(3);  // must throw
    });
    EXPECT_EQ(refused.Status, '0');
    Child allowed([&] {
        static TableLocks t;  // keeps its lock until the child is killed
        t.Open(path);
        t.LockRecord(4);
        if (!t.IsRecordLockedByOther(3)) throw 2;
    });
    EXPECT_EQ(allowed.Status, '1');
    EXPECT_TRUE(a.IsRecordLockedByOther(4));
    Child noTableLock([&] {
        TableLocks t;
        t.Open(path);
        t.LockTable();  // must throw: this process has the table open
    });
    EXPECT_EQ(noTableLock.Status, '0');
}

}  // namespace
