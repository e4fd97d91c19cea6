#include "engine/Vfs.h"

#include "engine/Errors.h"
#include "engine/StorageIo.h"

#include <sqlite3.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <new>
#include <utility>

namespace engine {

// ------------------------------------------------------------ StorageIo

namespace {

// The default methods on a plain descriptor, with SQLite's result codes.
int FdResult(int failure) { return errno == ENOSPC ? SQLITE_FULL : failure; }

}  // namespace

int StorageIo::Read(StorageFile& file, void* buffer, int amount, std::int64_t offset) {
    if (file.Os) return file.Os->pMethods->xRead(file.Os, buffer, amount, offset);
    int done = 0;
    while (done < amount) {
        const ssize_t n = ::pread(file.Fd, static_cast<char*>(buffer) + done, static_cast<size_t>(amount - done),
                                  static_cast<off_t>(offset + done));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return SQLITE_IOERR_READ;
        if (n == 0) {
            std::memset(static_cast<char*>(buffer) + done, 0, static_cast<size_t>(amount - done));
            return SQLITE_IOERR_SHORT_READ;
        }
        done += static_cast<int>(n);
    }
    return SQLITE_OK;
}
int StorageIo::Write(StorageFile& file, const void* buffer, int amount, std::int64_t offset) {
    if (file.Os) return file.Os->pMethods->xWrite(file.Os, buffer, amount, offset);
    int done = 0;
    while (done < amount) {
        const ssize_t n = ::pwrite(file.Fd, static_cast<const char*>(buffer) + done,
                                   static_cast<size_t>(amount - done), static_cast<off_t>(offset + done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return FdResult(SQLITE_IOERR_WRITE);
        done += static_cast<int>(n);
    }
    return SQLITE_OK;
}
int StorageIo::Truncate(StorageFile& file, std::int64_t size) {
    if (file.Os) return file.Os->pMethods->xTruncate(file.Os, size);
    return ::ftruncate(file.Fd, static_cast<off_t>(size)) == 0 ? SQLITE_OK : FdResult(SQLITE_IOERR_TRUNCATE);
}
int StorageIo::Sync(StorageFile& file, int flags) {
    if (file.Os) return file.Os->pMethods->xSync(file.Os, flags);
    return ::fsync(file.Fd) == 0 ? SQLITE_OK : FdResult(SQLITE_IOERR_FSYNC);
}
int StorageIo::FileSize(StorageFile& file, std::int64_t* size) {
    if (file.Os) {
        sqlite3_int64 s = 0;
        const int rc = file.Os->pMethods->xFileSize(file.Os, &s);
        *size = s;
        return rc;
    }
    struct stat st {};
    if (::fstat(file.Fd, &st) != 0) return SQLITE_IOERR_FSTAT;
    *size = st.st_size;
    return SQLITE_OK;
}
int StorageIo::Close(StorageFile& file) {
    if (file.Os) return file.Os->pMethods ? file.Os->pMethods->xClose(file.Os) : SQLITE_OK;
    if (file.Fd < 0) return SQLITE_OK;
    const int fd = std::exchange(file.Fd, -1);
    return ::close(fd) == 0 ? SQLITE_OK : SQLITE_IOERR_CLOSE;
}

namespace {

StorageIo gDefaultIo;
std::atomic<StorageIo*> gIo{nullptr};

sqlite3_vfs* gBase = nullptr;  // the unix VFS

// The system's reason of the last failed I/O call on this thread, for
// SQLite's xGetLastError (and so sqlite3_system_errno); 0 when unknown.
thread_local int tIoErrno = 0;

// Runs one StorageIo call and keeps errno when it fails.
template <class Call>
int Io(Call call) {
    errno = 0;
    const int rc = call(CurrentStorageIo());
    if (rc != SQLITE_OK && rc != SQLITE_IOERR_SHORT_READ) tIoErrno = errno;
    return rc;
}

// Our file: the header below, followed by the unix VFS's file object.
struct ShimFile {
    sqlite3_file Base;        // pMethods = our methods
    StorageFile* File;        // path, kind, the unix file
    std::int64_t Offset;      // PageStoreOffset for the table file, LogHeaderSize or 0 for a log, 0 otherwise
    void volatile* Shm0;      // region 0 of the shared-memory WAL index, once mapped
    int LockFd;               // table file: this connection's own lock descriptor (-1 otherwise)
    int LockLevel;            // SQLITE_LOCK_NONE ... SQLITE_LOCK_EXCLUSIVE
    bool Snapshot;            // table file of a snapshot connection (see Vfs.h)
    bool IgnoreLog;           // snapshot: the log is in use by others; read an empty one
    bool Virtual;             // log of a snapshot that exists only in memory (empty)
    ShimFile* Main;           // log: the table file's shim
    std::string* Refusal;     // table file: the message of a refused side file
};

// ---------------------------------------------------------------- locking
//
// The page store's file locks are open-file-description (OFD) locks taken
// on a descriptor of its own per connection, at the byte offsets of SQLite's
// locking protocol. Classic POSIX locks (what the unix VFS would take) all
// vanish when the process closes ANY descriptor of the file: a header dump
// or a catalog read in the same process would silently drop them, and
// another process could then checkpoint and delete the write-ahead log
// under a live connection. OFD locks belong to their own descriptor only,
// and they conflict between connections of one process as between
// processes.
//
//   level      | bytes held
//   NONE       | nothing
//   SHARED     | read lock on the shared range
//   RESERVED   | SHARED + write lock on the reserved byte
//   PENDING    | + write lock on the pending byte (no new SHARED locks)
//   EXCLUSIVE  | + write lock on the shared range
// A SHARED lock is taken with a read lock on the pending byte held for the
// moment, so that it waits while a writer is pending. A snapshot connection
// holds at most SHARED; higher levels are granted to it without a lock.
constexpr off_t kPendingByte = 0x40000000;
constexpr off_t kReservedByte = kPendingByte + 1;
constexpr off_t kSharedFirst = kPendingByte + 2;
constexpr off_t kSharedSize = 510;

// The page store's own bytes (Vfs.h).
constexpr off_t kLogUsersByte = (off_t(1) << 40) - 3;
constexpr off_t kSnapshotByte = (off_t(1) << 40) - 2;
constexpr off_t kStampByte = (off_t(1) << 40) - 1;

// 0 on success, SQLITE_BUSY when another holder conflicts, SQLITE_IOERR_LOCK
// for any other failure. wait: block until the lock is free.
int OfdLock(int fd, short type, off_t start, off_t len, bool wait = false) {
    struct flock fl {};
    fl.l_type = type;
    fl.l_whence = SEEK_SET;
    fl.l_start = start;
    fl.l_len = len;
    for (;;) {
        if (::fcntl(fd, wait ? F_OFD_SETLKW : F_OFD_SETLK, &fl) == 0) return SQLITE_OK;
        if (errno == EINTR) continue;
        if (errno == EAGAIN || errno == EACCES) return SQLITE_BUSY;
        return type == F_UNLCK ? SQLITE_IOERR_UNLOCK : SQLITE_IOERR_LOCK;
    }
}

// True when some other description holds a lock on the byte that conflicts
// with a write lock.
bool OfdHeldByOthers(int fd, off_t byte) {
    struct flock fl {};
    fl.l_type = F_WRLCK;
    fl.l_whence = SEEK_SET;
    fl.l_start = byte;
    fl.l_len = 1;
    if (::fcntl(fd, F_OFD_GETLK, &fl) != 0) return true;  // cannot tell: assume in use
    return fl.l_type != F_UNLCK;
}

// Holds a lock on one byte for a scope.
class ByteLock {
public:
    ByteLock(int fd, short type, off_t byte) : FFd(fd), FByte(byte) { FRc = OfdLock(fd, type, byte, 1, true); }
    ~ByteLock() {
        if (FRc == SQLITE_OK) OfdLock(FFd, F_UNLCK, FByte, 1);
    }
    ByteLock(const ByteLock&) = delete;
    ByteLock& operator=(const ByteLock&) = delete;
    int Result() const { return FRc; }

private:
    int FFd;
    off_t FByte;
    int FRc;
};

sqlite3_file* OsFile(sqlite3_file* f) {
    return reinterpret_cast<sqlite3_file*>(reinterpret_cast<char*>(f) + sizeof(ShimFile));
}
ShimFile* Shim(sqlite3_file* f) { return reinterpret_cast<ShimFile*>(f); }

int ShimClose(sqlite3_file* f) {
    ShimFile* p = Shim(f);
    sqlite3_file* os = OsFile(f);
    int rc = SQLITE_OK;
    // SQLite ignores a failed close (what it wrote was synced before): its
    // errno is not kept for a later message.
    if (os->pMethods && p->File) rc = CurrentStorageIo().Close(*p->File);
    else if (os->pMethods) rc = os->pMethods->xClose(os);
    if (p->LockFd >= 0) ::close(p->LockFd);  // drops this connection's OFD locks only
    p->LockFd = -1;
    delete p->File;
    p->File = nullptr;
    delete p->Refusal;
    p->Refusal = nullptr;
    return rc;
}

int ShimRead(sqlite3_file* f, void* buffer, int amount, sqlite3_int64 offset) {
    ShimFile* p = Shim(f);
    if (p->Virtual) {
        std::memset(buffer, 0, static_cast<size_t>(amount));
        return SQLITE_IOERR_SHORT_READ;
    }
    return Io([&](StorageIo& io) { return io.Read(*p->File, buffer, amount, offset + p->Offset); });
}

int BeginLog(ShimFile* log, const void* header, int amount);

int ShimWrite(sqlite3_file* f, const void* buffer, int amount, sqlite3_int64 offset) {
    ShimFile* p = Shim(f);
    if (p->Virtual) return SQLITE_READONLY;
    // SQLite writes its log header only when it begins a log.
    if (p->File->Kind == FileKind::Wal && offset == 0 && p->Offset == LogHeaderSize) return BeginLog(p, buffer, amount);
    return Io([&](StorageIo& io) { return io.Write(*p->File, buffer, amount, offset + p->Offset); });
}

int ShimTruncate(sqlite3_file* f, sqlite3_int64 size) {
    ShimFile* p = Shim(f);
    if (p->Virtual) return SQLITE_READONLY;
    return Io([&](StorageIo& io) { return io.Truncate(*p->File, size + p->Offset); });
}

int ShimSync(sqlite3_file* f, int flags) {
    ShimFile* p = Shim(f);
    if (p->Virtual) return SQLITE_OK;
    return Io([&](StorageIo& io) { return io.Sync(*p->File, flags); });
}

int ShimFileSize(sqlite3_file* f, sqlite3_int64* size) {
    ShimFile* p = Shim(f);
    if (p->Virtual) {
        *size = 0;
        return SQLITE_OK;
    }
    std::int64_t s = 0;
    const int rc = Io([&](StorageIo& io) { return io.FileSize(*p->File, &s); });
    if (rc != SQLITE_OK) return rc;
    s -= p->Offset;
    *size = s < 0 ? 0 : s;
    return SQLITE_OK;
}

int ShimLock(sqlite3_file* f, int level) {
    ShimFile* p = Shim(f);
    if (p->Virtual) return SQLITE_OK;
    if (p->LockFd < 0) {
        sqlite3_file* os = OsFile(f);
        return os->pMethods->xLock(os, level);
    }
    if (p->LockLevel >= level) return SQLITE_OK;
    const int fd = p->LockFd;
    if (level == SQLITE_LOCK_SHARED) {
        int rc = OfdLock(fd, F_RDLCK, kPendingByte, 1);
        if (rc != SQLITE_OK) return rc;
        rc = OfdLock(fd, F_RDLCK, kSharedFirst, kSharedSize);
        const int rc2 = OfdLock(fd, F_UNLCK, kPendingByte, 1);
        if (rc != SQLITE_OK) return rc;
        if (rc2 != SQLITE_OK) {
            OfdLock(fd, F_UNLCK, kSharedFirst, kSharedSize);
            return rc2;
        }
        p->LockLevel = SQLITE_LOCK_SHARED;
        return SQLITE_OK;
    }
    if (p->LockLevel < SQLITE_LOCK_SHARED) return SQLITE_IOERR_LOCK;  // SQLite always asks for SHARED first
    if (p->Snapshot) {
        // It never writes: its SHARED lock is all it needs.
        p->LockLevel = level;
        return SQLITE_OK;
    }
    if (level == SQLITE_LOCK_RESERVED) {
        const int rc = OfdLock(fd, F_WRLCK, kReservedByte, 1);
        if (rc == SQLITE_OK) p->LockLevel = SQLITE_LOCK_RESERVED;
        return rc;
    }
    // EXCLUSIVE (through PENDING).
    if (p->LockLevel < SQLITE_LOCK_PENDING) {
        const int rc = OfdLock(fd, F_WRLCK, kPendingByte, 1);
        if (rc != SQLITE_OK) return rc;
        p->LockLevel = SQLITE_LOCK_PENDING;
    }
    const int rc = OfdLock(fd, F_WRLCK, kSharedFirst, kSharedSize);
    if (rc == SQLITE_OK) p->LockLevel = SQLITE_LOCK_EXCLUSIVE;
    return rc;
}

int ShimUnlock(sqlite3_file* f, int level) {
    ShimFile* p = Shim(f);
    if (p->Virtual) return SQLITE_OK;
    if (p->LockFd < 0) {
        sqlite3_file* os = OsFile(f);
        return os->pMethods->xUnlock(os, level);
    }
    if (p->LockLevel <= level) return SQLITE_OK;
    const int fd = p->LockFd;
    if (level == SQLITE_LOCK_SHARED) {
        if (p->Snapshot) {
            p->LockLevel = SQLITE_LOCK_SHARED;
            return SQLITE_OK;
        }
        // Turning the write lock of the shared range into a read lock is atomic.
        int rc = SQLITE_OK;
        if (p->LockLevel == SQLITE_LOCK_EXCLUSIVE) rc = OfdLock(fd, F_RDLCK, kSharedFirst, kSharedSize);
        const int rc2 = OfdLock(fd, F_UNLCK, kPendingByte, 2);  // pending and reserved bytes
        if (rc != SQLITE_OK) return SQLITE_IOERR_RDLOCK;
        if (rc2 != SQLITE_OK) return rc2;
        p->LockLevel = SQLITE_LOCK_SHARED;
        return SQLITE_OK;
    }
    const int rc = OfdLock(fd, F_UNLCK, kPendingByte, 2 + kSharedSize);
    if (rc == SQLITE_OK) p->LockLevel = SQLITE_LOCK_NONE;
    return rc;
}

int ShimCheckReservedLock(sqlite3_file* f, int* out) {
    ShimFile* p = Shim(f);
    if (p->Virtual) {
        *out = 0;
        return SQLITE_OK;
    }
    if (p->LockFd < 0) {
        sqlite3_file* os = OsFile(f);
        return os->pMethods->xCheckReservedLock(os, out);
    }
    if (p->LockLevel >= SQLITE_LOCK_RESERVED && !p->Snapshot) {
        *out = 1;
        return SQLITE_OK;
    }
    struct flock fl {};
    fl.l_type = F_WRLCK;
    fl.l_whence = SEEK_SET;
    fl.l_start = kReservedByte;
    fl.l_len = 1;
    if (::fcntl(p->LockFd, F_OFD_GETLK, &fl) != 0) return SQLITE_IOERR_CHECKRESERVEDLOCK;
    *out = fl.l_type != F_UNLCK;
    return SQLITE_OK;
}

int ShimFileControl(sqlite3_file* f, int op, void* arg) {
    ShimFile* p = Shim(f);
    if (p->Virtual) return SQLITE_NOTFOUND;
    sqlite3_file* os = OsFile(f);
    switch (op) {
    case SQLITE_FCNTL_SIZE_HINT: {
        sqlite3_int64 hint = *static_cast<sqlite3_int64*>(arg) + p->Offset;
        return os->pMethods->xFileControl(os, op, &hint);
    }
    case SQLITE_FCNTL_MMAP_SIZE:
        // No memory-mapped pages: the unix VFS would map from offset 0.
        *static_cast<sqlite3_int64*>(arg) = 0;
        return SQLITE_OK;
    default:
        return os->pMethods->xFileControl(os, op, arg);
    }
}

int ShimSectorSize(sqlite3_file* f) {
    if (Shim(f)->Virtual) return 512;
    sqlite3_file* os = OsFile(f);
    return os->pMethods->xSectorSize(os);
}
int ShimDeviceCharacteristics(sqlite3_file* f) {
    if (Shim(f)->Virtual) return 0;
    sqlite3_file* os = OsFile(f);
    return os->pMethods->xDeviceCharacteristics(os);
}
int ShimShmMap(sqlite3_file* f, int region, int size, int extend, void volatile** out) {
    sqlite3_file* os = OsFile(f);
    const int rc = os->pMethods->xShmMap(os, region, size, extend, out);
    if (rc == SQLITE_OK && region == 0 && *out) Shim(f)->Shm0 = *out;
    return rc;
}
int ShimShmLock(sqlite3_file* f, int offset, int n, int flags) {
    sqlite3_file* os = OsFile(f);
    return os->pMethods->xShmLock(os, offset, n, flags);
}
void ShimShmBarrier(sqlite3_file* f) {
    sqlite3_file* os = OsFile(f);
    os->pMethods->xShmBarrier(os);
}
int ShimShmUnmap(sqlite3_file* f, int deleteFlag) {
    sqlite3_file* os = OsFile(f);
    Shim(f)->Shm0 = nullptr;
    return os->pMethods->xShmUnmap(os, deleteFlag);
}
int ShimFetch(sqlite3_file*, sqlite3_int64, int, void** out) {
    *out = nullptr;  // never a mapped page: SQLite then reads normally
    return SQLITE_OK;
}
int ShimUnfetch(sqlite3_file*, sqlite3_int64, void*) { return SQLITE_OK; }

const sqlite3_io_methods kMethods = {
    3,
    ShimClose,
    ShimRead,
    ShimWrite,
    ShimTruncate,
    ShimSync,
    ShimFileSize,
    ShimLock,
    ShimUnlock,
    ShimCheckReservedLock,
    ShimFileControl,
    ShimSectorSize,
    ShimDeviceCharacteristics,
    ShimShmMap,
    ShimShmLock,
    ShimShmBarrier,
    ShimShmUnmap,
    ShimFetch,
    ShimUnfetch,
};

// ------------------------------------------------------- side files
//
// See "Side files tied to their table" in Vfs.h.

constexpr char kLogMagic[4] = {'B', 'F', 'T', 'W'};
constexpr char kJournalMagic[4] = {'B', 'F', 'T', 'J'};
constexpr int kSqliteLogHeader = 32;  // SQLite's own log header
constexpr int kIdentitySize = 8;

struct TableMarks {
    std::uint8_t Identity[kIdentitySize];
    std::uint8_t Stamp[kIdentitySize];
};

bool IsZero(const std::uint8_t* p) {
    for (int i = 0; i < kIdentitySize; ++i)
        if (p[i]) return false;
    return true;
}

// A random, non-zero value different from old.
void NewMark(std::uint8_t* out, const std::uint8_t* old) {
    do {
        sqlite3_randomness(kIdentitySize, out);
    } while (IsZero(out) || std::memcmp(out, old, kIdentitySize) == 0);
}

int ReadMarks(ShimFile* table, TableMarks& marks) {
    static_assert(sizeof(TableMarks) == LogStampOffset + kIdentitySize - TableIdentityOffset);
    const int rc = Io([&](StorageIo& io) {
        return io.Read(*table->File, &marks, sizeof marks, TableIdentityOffset);
    });
    return rc == SQLITE_IOERR_SHORT_READ ? SQLITE_OK : rc;  // zero-filled: no identity
}

int WriteSideHeader(ShimFile* side, const char (&magic)[4], const TableMarks& marks) {
    std::uint8_t h[LogHeaderSize] = {};
    std::memcpy(h, magic, sizeof magic);
    h[4] = 1;
    std::memcpy(h + 8, marks.Identity, kIdentitySize);
    std::memcpy(h + 16, marks.Stamp, kIdentitySize);
    return Io([&](StorageIo& io) { return io.Write(*side->File, h, LogHeaderSize, 0); });
}

int WriteLogHeader(ShimFile* log, const TableMarks& marks) { return WriteSideHeader(log, kLogMagic, marks); }

// True when h starts with the header of a side file of the given kind.
bool IsOurHeader(const std::uint8_t* h, const char (&magic)[4]) {
    return std::memcmp(h, magic, sizeof magic) == 0 && h[4] == 1 && h[5] == 0 && h[6] == 0 && h[7] == 0;
}

// A side file is begun: next gets the table's marks with a new stamp (and an
// identity when the table has none), written into the table file and synced
// before the side file's header can name them.
int WriteNewMarks(ShimFile* table, const TableMarks& marks, TableMarks& next) {
    next = marks;
    if (IsZero(marks.Identity)) NewMark(next.Identity, marks.Identity);
    NewMark(next.Stamp, marks.Stamp);
    const int rc = Io([&](StorageIo& io) { return io.Write(*table->File, &next, sizeof next, TableIdentityOffset); });
    return rc == SQLITE_OK ? Io([&](StorageIo& io) { return io.Sync(*table->File, SQLITE_SYNC_NORMAL); }) : rc;
}

// Records why the log of table was refused and returns the error SQLite gets.
// notOurs: the log is not the table's; the user is asked to move it away.
int Refuse(ShimFile* table, ShimFile* log, const std::string& reason, bool notOurs = true) {
    delete table->Refusal;
    table->Refusal = new (std::nothrow)
        std::string("Table file '" + table->File->Path + "' cannot be opened: its side file '" + log->File->Path +
                    "' " + reason + (notOurs ? "; move it away to open this one" : ""));
    return SQLITE_CANTOPEN;
}

// Refuses a side file of ours whose identity or stamp is not the table's.
int RefuseOtherMarks(ShimFile* table, ShimFile* side, bool sameIdentity) {
    if (!sameIdentity) return Refuse(table, side, "belongs to another table");
    return Refuse(table, side,
                  "holds changes of another copy of this table (was the table file put back from a copy?)");
}

// Checks a log just opened (the table's stamp lock is taken here) and sets
// its offset. writable: an empty log may get the header with the table's
// values.
int CheckLog(ShimFile* log, ShimFile* table, bool writable) {
    ByteLock lock(table->LockFd, F_RDLCK, kStampByte);
    if (lock.Result() != SQLITE_OK) return lock.Result();
    TableMarks marks {};
    int rc = ReadMarks(table, marks);
    if (rc != SQLITE_OK) return rc;
    std::int64_t size = 0;
    rc = Io([&](StorageIo& io) { return io.FileSize(*log->File, &size); });
    if (rc != SQLITE_OK) return rc;
    log->Offset = LogHeaderSize;
    if (size == 0) return writable ? WriteLogHeader(log, marks) : SQLITE_OK;
    std::uint8_t h[LogHeaderSize] = {};
    rc = Io([&](StorageIo& io) {
        return io.Read(*log->File, h, static_cast<int>(std::min<std::int64_t>(size, LogHeaderSize)), 0);
    });
    if (rc != SQLITE_OK && rc != SQLITE_IOERR_SHORT_READ) return rc;
    const bool ours = size >= LogHeaderSize && IsOurHeader(h, kLogMagic);
    if (!ours) {
        // The log of a table file written before tables had an identity.
        if (IsZero(marks.Identity)) {
            log->Offset = 0;
            return SQLITE_OK;
        }
        // A header torn by a failed write while a log was begun, with no
        // frame after it: nothing to apply, so take it over.
        if (size <= LogHeaderSize + kSqliteLogHeader) return writable ? WriteLogHeader(log, marks) : SQLITE_OK;
        return Refuse(table, log, "was not written for this table");
    }
    const bool sameIdentity = std::memcmp(h + 8, marks.Identity, kIdentitySize) == 0;
    const bool sameStamp = std::memcmp(h + 16, marks.Stamp, kIdentitySize) == 0;
    if (sameIdentity && sameStamp) return SQLITE_OK;
    // A log that holds nothing to apply is harmless: take it over (a crash
    // while a log was begun leaves one).
    const bool empty = size - LogHeaderSize <= kSqliteLogHeader;
    if (empty && (sameIdentity || IsZero(h + 8))) return writable ? WriteLogHeader(log, marks) : SQLITE_OK;
    return RefuseOtherMarks(table, log, sameIdentity);
}

// SQLite begins a log: see Vfs.h for the order of the steps.
int BeginLog(ShimFile* log, const void* header, int amount) {
    ShimFile* table = log->Main;
    ByteLock lock(table->LockFd, F_WRLCK, kStampByte);
    if (lock.Result() != SQLITE_OK) return lock.Result();
    int rc = Io([&](StorageIo& io) { return io.Write(*log->File, header, amount, LogHeaderSize); });
    if (rc == SQLITE_OK) rc = Io([&](StorageIo& io) { return io.Truncate(*log->File, LogHeaderSize + amount); });
    if (rc == SQLITE_OK) rc = Io([&](StorageIo& io) { return io.Sync(*log->File, SQLITE_SYNC_NORMAL); });
    TableMarks marks {};
    if (rc == SQLITE_OK) rc = ReadMarks(table, marks);
    if (rc != SQLITE_OK) return rc;
    TableMarks next {};
    rc = WriteNewMarks(table, marks, next);
    if (rc == SQLITE_OK) rc = WriteLogHeader(log, next);
    if (rc == SQLITE_OK) rc = Io([&](StorageIo& io) { return io.Sync(*log->File, SQLITE_SYNC_NORMAL); });
    return rc;
}

// Checks a rollback journal just opened and sets its offset; begins it when
// it is new (see Vfs.h). writable: the journal may be begun.
int CheckJournal(ShimFile* journal, ShimFile* table, bool writable) {
    ByteLock lock(table->LockFd, writable ? F_WRLCK : F_RDLCK, kStampByte);
    if (lock.Result() != SQLITE_OK) return lock.Result();
    TableMarks marks {};
    int rc = ReadMarks(table, marks);
    if (rc != SQLITE_OK) return rc;
    std::int64_t size = 0;
    rc = Io([&](StorageIo& io) { return io.FileSize(*journal->File, &size); });
    if (rc != SQLITE_OK) return rc;
    journal->Offset = LogHeaderSize;
    if (size <= LogHeaderSize) {
        // New, or left by a crash before SQLite wrote anything into it (its
        // header is synced before SQLite gets the file): nothing to apply.
        if (!writable) return SQLITE_OK;
        TableMarks next {};
        rc = WriteNewMarks(table, marks, next);
        if (rc == SQLITE_OK) rc = WriteSideHeader(journal, kJournalMagic, next);
        if (rc == SQLITE_OK) rc = Io([&](StorageIo& io) { return io.Truncate(*journal->File, LogHeaderSize); });
        if (rc == SQLITE_OK) rc = Io([&](StorageIo& io) { return io.Sync(*journal->File, SQLITE_SYNC_NORMAL); });
        return rc;
    }
    std::uint8_t h[LogHeaderSize] = {};
    rc = Io([&](StorageIo& io) { return io.Read(*journal->File, h, LogHeaderSize, 0); });
    if (rc != SQLITE_OK) return rc;
    if (!IsOurHeader(h, kJournalMagic)) return Refuse(table, journal, "was not written for this table");
    const bool sameIdentity = std::memcmp(h + 8, marks.Identity, kIdentitySize) == 0;
    const bool sameStamp = std::memcmp(h + 16, marks.Stamp, kIdentitySize) == 0;
    return sameIdentity && sameStamp ? SQLITE_OK : RefuseOtherMarks(table, journal, sameIdentity);
}

// Why the unix VFS could not open a file: errno as it left it, else SQLite's text.
std::string OpenFailure(int rc) { return errno ? std::strerror(errno) : sqlite3_errstr(rc); }

bool FileExists(const char* name) {
    struct stat st {};
    return ::stat(name, &st) == 0;
}

// The table file's shim of a side file being opened (its log or journal),
// when the table was opened through this VFS with its own lock descriptor.
ShimFile* TableOfSideFile(sqlite3_filename name) {
    sqlite3_file* mainFile = sqlite3_database_file_object(name);
    ShimFile* table = mainFile && mainFile->pMethods == &kMethods ? Shim(mainFile) : nullptr;
    return table && table->LockFd >= 0 ? table : nullptr;
}

int OpenShim(sqlite3_filename name, sqlite3_file* f, int flags, int* outFlags) {
    ShimFile* p = Shim(f);
    sqlite3_file* os = OsFile(f);
    std::memset(os, 0, static_cast<size_t>(gBase->szOsFile));
    p->File = new (std::nothrow) StorageFile;
    p->Offset = (flags & SQLITE_OPEN_MAIN_DB) ? PageStoreOffset : 0;
    p->Shm0 = nullptr;
    p->LockFd = -1;
    p->LockLevel = SQLITE_LOCK_NONE;
    p->Snapshot = false;
    p->IgnoreLog = false;
    p->Virtual = false;
    p->Main = nullptr;
    p->Refusal = nullptr;
    // Our methods are installed at once, so that ShimClose can free what we
    // allocated (VfsOpen calls it when the open fails); it closes the unix
    // file only when the unix VFS installed its methods.
    p->Base.pMethods = &kMethods;
    if (!p->File) return SQLITE_NOMEM;
    p->File->Path = name ? name : "";
    p->File->Kind = (flags & SQLITE_OPEN_MAIN_DB) ? FileKind::Table
                    : (flags & SQLITE_OPEN_WAL)   ? FileKind::Wal
                                                  : FileKind::Other;
    p->File->Os = os;

    if (p->File->Kind == FileKind::Wal && name) {
        ShimFile* table = TableOfSideFile(name);
        if (!table) return gBase->xOpen(gBase, name, os, flags, outFlags);
        p->Main = table;
        if (table->Snapshot) {
            // Read an existing log that nobody else writes to; else an empty
            // one that exists only here.
            if (table->IgnoreLog || !FileExists(name)) {
                p->Virtual = true;
                if (outFlags) *outFlags = SQLITE_OPEN_READONLY | SQLITE_OPEN_WAL;
                return SQLITE_OK;
            }
            errno = 0;
            const int rc = gBase->xOpen(gBase, name, os, SQLITE_OPEN_READONLY | SQLITE_OPEN_WAL, outFlags);
            if (rc != SQLITE_OK) return Refuse(table, p, "cannot be read (" + OpenFailure(rc) + ")", false);
            if (outFlags) *outFlags |= SQLITE_OPEN_READONLY;
            return CheckLog(p, table, false);
        }
        errno = 0;
        const int rc = gBase->xOpen(gBase, name, os, flags, outFlags);
        if (rc != SQLITE_OK) return Refuse(table, p, "cannot be opened (" + OpenFailure(rc) + ")", false);
        return CheckLog(p, table, !(outFlags && (*outFlags & SQLITE_OPEN_READONLY)));
    }

    if ((flags & SQLITE_OPEN_MAIN_JOURNAL) && name) {
        if (ShimFile* table = TableOfSideFile(name)) {
            p->Main = table;
            const bool existed = FileExists(name);
            errno = 0;
            const int rc = gBase->xOpen(gBase, name, os, flags, outFlags);
            if (rc != SQLITE_OK)
                return existed ? Refuse(table, p, "cannot be opened (" + OpenFailure(rc) + ")", false) : rc;
            return CheckJournal(p, table, !table->Snapshot && !(outFlags && (*outFlags & SQLITE_OPEN_READONLY)));
        }
    }

    const int rc = gBase->xOpen(gBase, name, os, flags, outFlags);
    if (rc == SQLITE_OK && (flags & SQLITE_OPEN_MAIN_DB) && name) {
        p->LockFd = ::open(name, O_RDWR | O_CLOEXEC);
        if (p->LockFd < 0) p->LockFd = ::open(name, O_RDONLY | O_CLOEXEC);
        if (p->LockFd < 0) return SQLITE_CANTOPEN;
        if (flags & SQLITE_OPEN_READONLY) {
            // A snapshot: wait for a checkpoint that runs, keep the others
            // from starting one, and leave a log that others use alone.
            p->Snapshot = true;
            const int lrc = OfdLock(p->LockFd, F_RDLCK, kSnapshotByte, 1, true);
            if (lrc != SQLITE_OK) return lrc;
            p->IgnoreLog = OfdHeldByOthers(p->LockFd, kLogUsersByte);
        } else {
            const int lrc = OfdLock(p->LockFd, F_RDLCK, kLogUsersByte, 1);
            if (lrc != SQLITE_OK) return lrc;
        }
    }
    return rc;
}

int VfsOpen(sqlite3_vfs*, sqlite3_filename name, sqlite3_file* f, int flags, int* outFlags) {
    const int rc = OpenShim(name, f, flags, outFlags);
    if (rc != SQLITE_OK && f->pMethods) {
        // A failed open leaves nothing open. SQLite takes a failed open of a
        // journal that it probes for a hot one as a hot journal and then uses
        // the file if it looks open: a refused journal would be rolled back.
        ShimClose(f);
        f->pMethods = nullptr;
    }
    return rc;
}

int VfsDelete(sqlite3_vfs*, const char* name, int syncDir) { return gBase->xDelete(gBase, name, syncDir); }
int VfsAccess(sqlite3_vfs*, const char* name, int flags, int* out) {
    return gBase->xAccess(gBase, name, flags, out);
}
int VfsFullPathname(sqlite3_vfs*, const char* name, int n, char* out) {
    return gBase->xFullPathname(gBase, name, n, out);
}
void* VfsDlOpen(sqlite3_vfs*, const char* name) { return gBase->xDlOpen(gBase, name); }
void VfsDlError(sqlite3_vfs*, int n, char* msg) { gBase->xDlError(gBase, n, msg); }
void (*VfsDlSym(sqlite3_vfs*, void* h, const char* sym))(void) { return gBase->xDlSym(gBase, h, sym); }
void VfsDlClose(sqlite3_vfs*, void* h) { gBase->xDlClose(gBase, h); }
int VfsRandomness(sqlite3_vfs*, int n, char* out) { return gBase->xRandomness(gBase, n, out); }
int VfsSleep(sqlite3_vfs*, int us) { return gBase->xSleep(gBase, us); }
int VfsCurrentTime(sqlite3_vfs*, double* out) { return gBase->xCurrentTime(gBase, out); }
int VfsGetLastError(sqlite3_vfs*, int, char*) { return tIoErrno; }
int VfsCurrentTimeInt64(sqlite3_vfs*, sqlite3_int64* out) { return gBase->xCurrentTimeInt64(gBase, out); }

sqlite3_vfs gVfs;

}  // namespace

StorageIo& CurrentStorageIo() {
    StorageIo* io = gIo.load(std::memory_order_acquire);
    return io ? *io : gDefaultIo;
}

void SetStorageIo(StorageIo* io) { gIo.store(io, std::memory_order_release); }

const char* RegisterPageStoreVfs() {
    static std::once_flag once;
    std::call_once(once, [] {
        // No global memory statistics: they take a mutex on every allocation.
        sqlite3_config(SQLITE_CONFIG_MEMSTATUS, 0);
        sqlite3_initialize();
        gBase = sqlite3_vfs_find("unix");
        if (!gBase) gBase = sqlite3_vfs_find(nullptr);
        std::memset(&gVfs, 0, sizeof gVfs);
        gVfs.iVersion = 2;
        gVfs.szOsFile = static_cast<int>(sizeof(ShimFile)) + gBase->szOsFile;
        gVfs.mxPathname = gBase->mxPathname;
        gVfs.zName = "tamblor";
        gVfs.xOpen = VfsOpen;
        gVfs.xDelete = VfsDelete;
        gVfs.xAccess = VfsAccess;
        gVfs.xFullPathname = VfsFullPathname;
        gVfs.xDlOpen = VfsDlOpen;
        gVfs.xDlError = VfsDlError;
        gVfs.xDlSym = VfsDlSym;
        gVfs.xDlClose = VfsDlClose;
        gVfs.xRandomness = VfsRandomness;
        gVfs.xSleep = VfsSleep;
        gVfs.xCurrentTime = VfsCurrentTime;
        gVfs.xGetLastError = VfsGetLastError;
        gVfs.xCurrentTimeInt64 = VfsCurrentTimeInt64;
        sqlite3_vfs_register(&gVfs, 0);
    });
    return gVfs.zName;
}

// ------------------------------------------------------------ messages

std::string IoErrorMessage(const std::string& path, int rc, int sysErrno, const std::string& what) {
    if ((rc & 0xFF) == SQLITE_FULL || sysErrno == ENOSPC) return "Cannot write table file '" + path + "': the disk is full";
    const std::string detail = sysErrno ? std::strerror(sysErrno) : sqlite3_errstr(rc);
    return "I/O error on table file '" + path + "' while " + what + " (" + detail + ")";
}

// ------------------------------------------------------------ PlainFile

struct PlainFile::Impl {
    StorageFile File;
    std::string TablePath;
    bool Open = false;
};

PlainFile::PlainFile(const std::string& path, Mode mode, const std::string& tablePath) : FImpl(new Impl) {
    FImpl->File.Path = path;
    FImpl->File.Kind = mode == Mode::Folder ? FileKind::Folder : FileKind::Table;
    FImpl->TablePath = tablePath;
    const int flags = mode == Mode::CreateNew  ? O_RDWR | O_CREAT | O_EXCL
                      : mode == Mode::ReadWrite ? O_RDWR
                      : mode == Mode::ReadOnly  ? O_RDONLY
                                                : O_RDONLY | O_DIRECTORY;
    FImpl->File.Fd = ::open(path.c_str(), flags | O_CLOEXEC, 0644);
    if (FImpl->File.Fd < 0) {
        const int err = errno;
        delete FImpl;
        if (mode == Mode::CreateNew && err == EEXIST) throw EngineError("Table file '" + path + "' already exists");
        if (mode == Mode::CreateNew && err == ENOSPC)
            throw EngineError(IoErrorMessage(path, SQLITE_FULL, err, "creating it"));
        throw EngineError(std::string(mode == Mode::CreateNew ? "Cannot create " : "Cannot open ") +
                          (mode == Mode::Folder ? "folder '" : "table file '") + path + "': " + std::strerror(err));
    }
    FImpl->Open = true;
}

PlainFile::~PlainFile() {
    if (FImpl->Open) CurrentStorageIo().Close(FImpl->File);
    delete FImpl;
}

int TakeLastIoErrno() { return std::exchange(tIoErrno, 0); }

namespace {
void Check(int rc, const std::string& tablePath, const char* what) {
    if (rc != SQLITE_OK) throw EngineError(IoErrorMessage(tablePath, rc, TakeLastIoErrno(), what));
}
}  // namespace

void PlainFile::Read(void* buffer, std::int64_t amount, std::int64_t offset) {
    constexpr std::int64_t chunk = 1 << 20;
    for (std::int64_t done = 0; done < amount;) {
        const int n = static_cast<int>(std::min(chunk, amount - done));
        const int rc = Io([&](StorageIo& io) { return io.Read(FImpl->File, static_cast<char*>(buffer) + done, n, offset + done); });
        if (rc == SQLITE_IOERR_SHORT_READ)
            throw EngineError("Table file '" + FImpl->TablePath + "' ended while it was being read");
        Check(rc, FImpl->TablePath, "reading");
        done += n;
    }
}

void PlainFile::Write(const void* buffer, std::int64_t amount, std::int64_t offset) {
    constexpr std::int64_t chunk = 1 << 20;
    for (std::int64_t done = 0; done < amount;) {
        const int n = static_cast<int>(std::min(chunk, amount - done));
        Check(Io([&](StorageIo& io) {
                  return io.Write(FImpl->File, static_cast<const char*>(buffer) + done, n, offset + done);
              }),
              FImpl->TablePath, "writing");
        done += n;
    }
}

void PlainFile::Sync() {
    Check(Io([&](StorageIo& io) { return io.Sync(FImpl->File, SQLITE_SYNC_NORMAL); }), FImpl->TablePath,
          "writing");
}

std::int64_t PlainFile::Size() {
    std::int64_t size = 0;
    Check(Io([&](StorageIo& io) { return io.FileSize(FImpl->File, &size); }), FImpl->TablePath, "reading");
    return size;
}

void PlainFile::Close() {
    if (!FImpl->Open) return;
    FImpl->Open = false;
    Check(Io([&](StorageIo& io) { return io.Close(FImpl->File); }), FImpl->TablePath, "writing");
}

void SyncFolderOf(const std::string& path, const std::string& tablePath) {
    const std::size_t slash = path.rfind('/');
    const std::string dir = slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));
    PlainFile folder(dir, PlainFile::Mode::Folder, tablePath);
    folder.Sync();
    folder.Close();
}

// ------------------------------------------------------ connection queries

std::int64_t ReadTableFileBytes(sqlite3* db, const std::string& path, void* buffer, std::int64_t amount,
                                std::int64_t offset, std::int64_t* fileSize) {
    sqlite3_file* f = TableFileOf(db);
    if (!f) throw EngineError("Cannot read table file '" + path + "'");
    StorageFile& file = *Shim(f)->File;
    std::int64_t size = 0;
    int rc = Io([&](StorageIo& io) { return io.FileSize(file, &size); });
    if (rc != SQLITE_OK) throw EngineError(IoErrorMessage(path, rc, TakeLastIoErrno(), "reading its size"));
    *fileSize = size;
    std::int64_t n = std::min<std::int64_t>(amount, size - offset);
    if (n <= 0) return 0;
    rc = Io([&](StorageIo& io) { return io.Read(file, buffer, static_cast<int>(n), offset); });
    if (rc != SQLITE_OK && rc != SQLITE_IOERR_SHORT_READ)
        throw EngineError(IoErrorMessage(path, rc, TakeLastIoErrno(), "reading its catalog"));
    return n;
}

sqlite3_file* TableFileOf(sqlite3* db) {
    sqlite3_file* f = nullptr;
    if (sqlite3_file_control(db, "main", SQLITE_FCNTL_FILE_POINTER, &f) != SQLITE_OK || !f || f->pMethods != &kMethods)
        return nullptr;
    return f;
}

std::string TakeSideFileRefusal(sqlite3* db) {
    sqlite3_file* f = db ? TableFileOf(db) : nullptr;
    if (!f || !Shim(f)->Refusal) return {};
    std::string message = std::move(*Shim(f)->Refusal);
    delete Shim(f)->Refusal;
    Shim(f)->Refusal = nullptr;
    return message;
}

void DiscardUncommittedLog(sqlite3* db) {
    sqlite3_file* f = TableFileOf(db);
    sqlite3_file* logFile = nullptr;
    if (!f || !Shim(f)->Shm0 || sqlite3_file_control(db, "main", SQLITE_FCNTL_JOURNAL_POINTER, &logFile) != SQLITE_OK ||
        !logFile || logFile->pMethods != &kMethods || Shim(logFile)->Virtual)
        return;
    // SQLite's WAL-index header: mxFrame (the last frame of the last commit)
    // at byte 16, the page size at byte 14, in native byte order.
    std::atomic_thread_fence(std::memory_order_acquire);
    const volatile std::uint8_t* h = static_cast<const volatile std::uint8_t*>(Shim(f)->Shm0);
    std::uint8_t copy[20];
    for (int i = 0; i < 20; ++i) copy[i] = h[i];
    std::uint16_t pageSize16 = 0;
    std::uint32_t lastFrame = 0;
    std::memcpy(&pageSize16, copy + 14, sizeof pageSize16);
    std::memcpy(&lastFrame, copy + 16, sizeof lastFrame);
    const std::int64_t pageSize = pageSize16 == 1 ? 65536 : pageSize16;
    if (pageSize < 512) return;
    const std::int64_t end = kSqliteLogHeader + std::int64_t(lastFrame) * (24 + pageSize);
    ShimTruncate(logFile, end);
    TakeLastIoErrno();
}

int CheckpointLog(sqlite3* db, int mode, int* log, int* done) {
    sqlite3_file* f = TableFileOf(db);
    const int fd = f ? Shim(f)->LockFd : -1;
    if (fd >= 0) {
        const int rc = OfdLock(fd, F_WRLCK, kSnapshotByte, 1);
        if (rc != SQLITE_OK) return rc;
    }
    const int rc = sqlite3_wal_checkpoint_v2(db, "main", mode, log, done);
    if (fd >= 0) OfdLock(fd, F_UNLCK, kSnapshotByte, 1);
    return rc;
}

bool ReadChangeStamp(sqlite3_file* f, std::uint8_t (&stamp)[ChangeStampSize]) {
    if (!f || f->pMethods != &kMethods) return false;
    if (Shim(f)->Snapshot) {
        // It sees no commit of others: its stamp never changes.
        std::memset(stamp, 0, ChangeStampSize);
        return true;
    }
    void volatile* shm = Shim(f)->Shm0;
    if (!shm) return false;
    // The first copy of the WAL-index header: its change counter, frame
    // count, page count and salts change with every commit of any process.
    // Read as six aligned 8-byte words (the region is mapped at a page
    // boundary): every cursor move checks the stamp.
    std::atomic_thread_fence(std::memory_order_acquire);
    const volatile std::uint64_t* p = static_cast<const volatile std::uint64_t*>(shm);
    std::uint64_t words[ChangeStampSize / 8];
    for (int i = 0; i < ChangeStampSize / 8; ++i) words[i] = p[i];
    std::memcpy(stamp, words, ChangeStampSize);
    return true;
}

}  // namespace engine
