// File access of the page store, behind one small interface.
//
// Every read, write, truncate, sync and size query that the page store makes
// on a table file or its write-ahead log passes through the installed
// StorageIo. The default passes each call to the operating system (through
// SQLite's own unix file, which also keeps SQLite's locking intact). Tests
// install their own to inject I/O errors, short writes, crashes or corrupted
// bytes.
//
// Offsets and sizes given to a StorageIo are physical: the offset of the page
// store inside a table file (65536) has already been added.
//
// Ownership: SetStorageIo does not take ownership; the object must outlive
// every page store opened while it is installed. nullptr restores the
// default.
// Threads: the installed object is read by every thread that does I/O; install
// it only while no table is open. Its methods may be called concurrently from
// the threads that own open tables.
#pragma once

#include <cstdint>
#include <string>

struct sqlite3_file;

namespace engine {

// Which file of a table the call concerns.
enum class FileKind { Table, Wal, Other };

// A file as the StorageIo sees it: its path, its kind, and the operating
// system's file that the default methods use.
struct StorageFile {
    std::string Path;
    FileKind Kind = FileKind::Other;
    sqlite3_file* Os = nullptr;  // SQLite's unix file; never nullptr while open
};

// Results are SQLite result codes: SQLITE_OK, SQLITE_IOERR_SHORT_READ (the
// missing part of the buffer must then be zero-filled), SQLITE_IOERR_* ...
class StorageIo {
public:
    virtual ~StorageIo() = default;
    virtual int Read(StorageFile& file, void* buffer, int amount, std::int64_t offset);
    virtual int Write(StorageFile& file, const void* buffer, int amount, std::int64_t offset);
    virtual int Truncate(StorageFile& file, std::int64_t size);
    virtual int Sync(StorageFile& file, int flags);
    virtual int FileSize(StorageFile& file, std::int64_t* size);
};

// The StorageIo in use (the default one when none was installed).
StorageIo& CurrentStorageIo();
void SetStorageIo(StorageIo* io);

}  // namespace engine
