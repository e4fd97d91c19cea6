// The page-store VFS: SQLite sees a table file as a database that starts at
// offset 65536 (after the catalog area).
//
// The VFS "tamblor" wraps SQLite's default unix VFS. It adds PageStoreOffset
// to every read, write, truncate, size and size hint of the main database
// file (the table file), passes the write-ahead log (NAME.dat-wal) and the
// shared-memory index (NAME.dat-shm) through unchanged (their names cannot
// collide with a table file, which ends in .dat), and delegates shared
// memory and durability to the unix VFS. The table file's own locks follow
// SQLite's locking protocol with open-file-description locks on a descriptor
// of each connection, so that closing some other descriptor of the file in
// this process (a header dump, a catalog read) drops none of them.
// It never offers memory-mapped pages (the unix VFS would map the file from
// offset 0). Every data call goes through the installed StorageIo
// (StorageIo.h), so tests can inject failures.
//
// Threads: RegisterPageStoreVfs is idempotent and thread-safe; the VFS itself
// is as thread-safe as the unix VFS.
#pragma once

#include <cstdint>
#include <string>

namespace engine {

constexpr std::int64_t PageStoreOffset = 65536;

// Registers the VFS once (not as the default) and returns its name.
const char* RegisterPageStoreVfs();

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

// A cheap test for commits of other connections: copies the header of the
// shared-memory WAL index (shared by every process that has the table open;
// SQLite's documented WAL-index format, whose first 48 bytes change with
// every commit). False when the index is not mapped yet (then ask SQLite:
// PRAGMA data_version). A torn copy can only make the stamp differ, which
// makes the caller re-read: never a missed change.
// tableFile: TableFileOf(db), valid while the connection is open.
constexpr int ChangeStampSize = 48;
bool ReadChangeStamp(sqlite3_file* tableFile, std::uint8_t (&stamp)[ChangeStampSize]);
sqlite3_file* TableFileOf(sqlite3* db);

}  // namespace engine
