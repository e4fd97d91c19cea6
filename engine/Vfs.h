// The page-store VFS: SQLite sees a table file as a database that starts at
// offset 65536 (after the catalog area), and sees only the side files that
// belong to it.
//
// The VFS "tamblor" wraps SQLite's default unix VFS. It adds PageStoreOffset
// to every read, write, truncate, size and size hint of the main database
// file (the table file), delegates shared memory and durability to the unix
// VFS, and never offers memory-mapped pages (the unix VFS would map the file
// from offset 0). The table file's own locks follow SQLite's locking
// protocol with open-file-description locks on a descriptor of each
// connection, so that closing some other descriptor of the file in this
// process (a header dump, a catalog read) drops none of them. Every data call
// goes through the installed StorageIo (StorageIo.h), so tests can inject
// failures.
//
// Side files tied to their table. A table file NAME.dat has two side files
// while it is open: the write-ahead log NAME.dat-wal and its shared-memory
// index NAME.dat-shm (their names cannot collide with a table file, which
// ends in .dat); a bulk load has a third, its journal (below). Neither of
// the two says by itself which table it was written for, and SQLite applies
// any log it finds beside a database. So the VFS keeps a
// header of LogHeaderSize bytes at the start of the log, before SQLite's own
// log (which it shifts by that much):
//     0  4  "BFTW"
//     4  4  1, the header's version
//     8  8  the table identity
//    16  8  the log stamp
//    24 40  zero
// and the table file keeps the same two values in its catalog area (bytes 21
// to 36, see Catalog.h). The identity is random and stays with the table
// file; the stamp changes, before anything is logged, whenever a new log is
// begun (SQLite begins one whenever it writes its log header: in a new log
// file, and after a complete checkpoint when it writes from the start
// again). When a log is opened, under the stamp lock:
//   - a new or empty log gets the header with the table's values;
//   - a log whose identity differs from the table's, or whose stamp differs
//     (the log of a later state of a table file put back from a copy, say),
//     is refused before SQLite reads it, unless it holds nothing to apply
//     (nothing after SQLite's 32-byte log header): then its header is set to
//     the table's values. A refused log and its index are not touched; the
//     error names the log and asks the user to move it away;
//   - a log without the header is the log of a table file written before
//     tables had an identity: it is used as it is (at offset 0) when the
//     table file has no identity either, and refused otherwise.
// Beginning a log, the VFS writes SQLite's log header, cuts the log after it
// (dropping the frames of the log that ended, which a complete checkpoint has
// already copied into the page store), syncs the log, writes a new stamp (and
// a new identity when the table has none: a table written before tables had
// identities, or a new table, gets one here, when nothing of an earlier log
// is left that it could disown) into the table file, syncs it, writes the
// header of the log with them and syncs the log again. A crash in between
// leaves a log that holds nothing to apply, which the rule above accepts.
// The index (NAME.dat-shm) needs no header: SQLite trusts it only while some
// connection has it open (it rebuilds it from the log otherwise), and every
// connection that has it open shares the log checked above.
//
// A bulk load runs with a rollback journal (NAME.dat-journal) instead of the
// log, and SQLite rolls back any journal it finds beside a database that
// nobody writes (a "hot" journal). So a journal carries the same header,
// with "BFTJ" in place of "BFTW", and SQLite's journal is shifted behind it.
// The VFS begins a journal when SQLite opens one that is new or no longer
// than the header: under the stamp's write lock it writes a new stamp (and
// an identity when the table has none) into the table file, syncs it,
// writes the journal's header with them and syncs the journal, all before
// SQLite writes into it. An existing journal longer than the header is
// used only when its identity and stamp are the table's; one of another
// table, of another copy of the table, or without the header is refused as
// a log is, and nothing is touched.
//
// Snapshot connections. A connection opened with SQLITE_OPEN_READONLY (the
// page store's read-only open on storage that this user cannot write) keeps
// no side files: it must run in exclusive locking mode, so SQLite keeps the
// log's index in private memory; its requests for locks above SHARED are
// granted without a lock (it never writes), and its log is either the
// existing log file, opened for reading and checked as above, or, when there
// is none or when other connections use it (they may begin it again from its
// start and overwrite what the snapshot indexed), an empty log that exists
// only in memory. To keep the table file still under it, it holds a read
// lock on the snapshot byte from open to close, and every checkpoint of the
// other connections (CheckpointLog) needs the write lock on that byte; the
// checkpoint of the last connection to close needs SQLite's exclusive lock,
// which its SHARED lock refuses. A log that nobody used when it opened is
// only appended to while it reads (beginning it again needs a checkpoint).
// A snapshot connection sees the table as it was when it opened.
//
// Locks on the table file, besides SQLite's own (at 2^30) and the table and
// record locks of Locks.h (at 2^40 and above):
//   2^40 - 3  log users: every connection that is not a snapshot holds a
//             read lock from open to close
//   2^40 - 2  snapshot: snapshot connections hold a read lock; a checkpoint
//             holds the write lock
//   2^40 - 1  log stamp: write lock while a log is begun, read lock while
//             a log is opened and checked
//
// Threads: RegisterPageStoreVfs is idempotent and thread-safe; the VFS itself
// is as thread-safe as the unix VFS. A connection's calls come from the
// thread that owns it.
#pragma once

#include <cstdint>
#include <string>

namespace engine {

constexpr std::int64_t PageStoreOffset = 65536;
// The page store's header at the start of a write-ahead log.
constexpr std::int64_t LogHeaderSize = 64;
// Where the catalog area keeps the table identity and the log stamp.
constexpr int TableIdentityOffset = 21;
constexpr int LogStampOffset = 29;

// Registers the VFS once (not as the default) and returns its name.
const char* RegisterPageStoreVfs();

// The message of a failed I/O call (an SQLite result code rc, with the
// system's errno, 0 when unknown) on a table file or one of its side files;
// path names the table file. A full disk is always "Cannot write table file
// '<path>': the disk is full"; any other failure "I/O error on table file
// '<path>' while <what> (<the system's reason>)".
std::string IoErrorMessage(const std::string& path, int rc, int sysErrno, const std::string& what);

// The system's reason (errno) of the last failed I/O call of this thread
// through the engine's file access (0 when there was none since the last
// call); clears it. SQLite does not keep errno for every failure (a failed
// sync at a commit, say).
int TakeLastIoErrno();

// A file that the engine reads and writes itself, outside the page store (the
// catalog area of a new table, the copy that a schema change writes, a folder
// to sync), through the installed StorageIo. Every failure throws EngineError
// with IoErrorMessage naming tablePath. The destructor closes the file
// without reporting; call Close to learn of a failed close.
// Ownership: owns its descriptor. Threads: one thread at a time.
class PlainFile {
public:
    enum class Mode { CreateNew, ReadWrite, ReadOnly, Folder };
    // Opens path; tablePath is the table the messages name. CreateNew fails
    // with "Table file '<path>' already exists" when path exists.
    PlainFile(const std::string& path, Mode mode, const std::string& tablePath);
    ~PlainFile();
    PlainFile(const PlainFile&) = delete;
    PlainFile& operator=(const PlainFile&) = delete;

    // Reads exactly amount bytes (a file that ends earlier is an error).
    void Read(void* buffer, std::int64_t amount, std::int64_t offset);
    void Write(const void* buffer, std::int64_t amount, std::int64_t offset);
    void Sync();
    std::int64_t Size();
    void Close();

private:
    struct Impl;
    Impl* FImpl;
};

// Syncs the folder that holds path, so that a file created or renamed in it
// survives a crash; throws EngineError naming tablePath.
void SyncFolderOf(const std::string& path, const std::string& tablePath);

}  // namespace engine

struct sqlite3;
struct sqlite3_file;

namespace engine {

// Reads physical bytes of the table file that the connection db has open as
// its main database (through the page store's own descriptor, so that no
// second descriptor is opened and closed on a file whose locks SQLite holds).
// Returns the number of bytes read (short at the end of the file) and the
// file's physical size; throws EngineError naming the file on an I/O error.
std::int64_t ReadTableFileBytes(sqlite3* db, const std::string& path, void* buffer, std::int64_t amount,
                                std::int64_t offset, std::int64_t* fileSize);

// The message of the side file that the VFS refused when the connection db
// opened its log (and forgets it); "" when it refused none.
std::string TakeSideFileRefusal(sqlite3* db);

// Cuts the log of db after its last commit, so that the frames of a commit
// that failed (whose sync failed, say) are never recovered as committed by a
// later open. Only for a connection that has the table to itself (under the
// table lock), after its transaction was rolled back; a failure is ignored
// (the caller is reporting one already).
void DiscardUncommittedLog(sqlite3* db);

// Runs sqlite3_wal_checkpoint_v2 on db in the given mode unless a snapshot
// connection has the table open (then SQLITE_BUSY, nothing done). log and
// done as sqlite3_wal_checkpoint_v2 gives them.
int CheckpointLog(sqlite3* db, int mode, int* log, int* done);

// A cheap test for commits of other connections: copies the header of the
// shared-memory WAL index (shared by every process that has the table open;
// SQLite's documented WAL-index format, whose first 48 bytes change with
// every commit). False when the index is not mapped yet (then ask SQLite:
// PRAGMA data_version). A torn copy can only make the stamp differ, which
// makes the caller re-read: never a missed change. A snapshot connection's
// stamp never changes (it sees no commit of others).
// tableFile: TableFileOf(db), valid while the connection is open.
constexpr int ChangeStampSize = 48;
bool ReadChangeStamp(sqlite3_file* tableFile, std::uint8_t (&stamp)[ChangeStampSize]);
sqlite3_file* TableFileOf(sqlite3* db);

}  // namespace engine
