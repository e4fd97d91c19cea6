// File access of the engine, behind one small interface.
//
// Every read, write, truncate, sync, size query and close that the engine
// makes on a table file, its write-ahead log or a folder passes through the
// installed StorageIo: the page store's calls (through the page-store VFS)
// as well as the schema API's own (the catalog area of a new table, the copy
// that a schema change writes, the sync of the folder after a rename). The
// default passes each call to the operating system: through SQLite's own
// unix file for the page store's files (which also keeps SQLite's locking
// intact), through plain POSIX calls for a file that the engine opened
// itself. Tests install their own to inject I/O errors, short writes, crashes
// or corrupted bytes.
//
// Offsets and sizes given to a StorageIo are physical: the offset of the page
// store inside a table file (65536), or of the page store's header inside a
// write-ahead log, has already been added.
//
// Errors: results are SQLite result codes: SQLITE_OK, SQLITE_IOERR_SHORT_READ
// (the missing part of the buffer must then be zero-filled), SQLITE_FULL (no
// space left), SQLITE_IOERR_* ... On a failure errno holds the system's
// reason, as the operating system left it; an injecting StorageIo sets errno
// as the system would (EIO, ENOSPC), or leaves it 0 when there is no system
// reason. The engine reads errno right after the failed call and names it in
// its message.
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

// Which file the call concerns. Folder: a folder opened for the sync that
// makes a rename or a new file in it durable (only Sync and Close are called).
enum class FileKind { Table, Wal, Other, Folder };

// A file as the StorageIo sees it: its path, its kind, and the operating
// system's file that the default methods use: SQLite's unix file (Os) for a
// file of the page store, or a descriptor (Fd) for a file that the engine
// opened itself.
struct StorageFile {
    std::string Path;
    FileKind Kind = FileKind::Other;
    sqlite3_file* Os = nullptr;  // SQLite's unix file, or nullptr
    int Fd = -1;                 // a plain descriptor when Os is nullptr
};

class StorageIo {
public:
    virtual ~StorageIo() = default;
    virtual int Read(StorageFile& file, void* buffer, int amount, std::int64_t offset);
    virtual int Write(StorageFile& file, const void* buffer, int amount, std::int64_t offset);
    virtual int Truncate(StorageFile& file, std::int64_t size);
    virtual int Sync(StorageFile& file, int flags);
    virtual int FileSize(StorageFile& file, std::int64_t* size);
    // Closes the operating system's file (the descriptor, or SQLite's unix
    // file); called once per file, also after a failed call.
    virtual int Close(StorageFile& file);
};

// The StorageIo in use (the default one when none was installed).
StorageIo& CurrentStorageIo();
void SetStorageIo(StorageIo* io);

}  // namespace engine
