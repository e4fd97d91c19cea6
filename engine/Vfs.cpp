#include "engine/Vfs.h"

#include "engine/StorageIo.h"

#include <sqlite3.h>

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <unistd.h>
#include <atomic>
#include <cstring>
#include <mutex>
#include <new>

namespace engine {

// ------------------------------------------------------------ StorageIo

int StorageIo::Read(StorageFile& file, void* buffer, int amount, std::int64_t offset) {
    return file.Os->pMethods->xRead(file.Os, buffer, amount, offset);
}
int StorageIo::Write(StorageFile& file, const void* buffer, int amount, std::int64_t offset) {
    return file.Os->pMethods->xWrite(file.Os, buffer, amount, offset);
}
int StorageIo::Truncate(StorageFile& file, std::int64_t size) {
    return file.Os->pMethods->xTruncate(file.Os, size);
}
int StorageIo::Sync(StorageFile& file, int flags) { return file.Os->pMethods->xSync(file.Os, flags); }
int StorageIo::FileSize(StorageFile& file, std::int64_t* size) {
    sqlite3_int64 s = 0;
    const int rc = file.Os->pMethods->xFileSize(file.Os, &s);
    *size = s;
    return rc;
}

namespace {

StorageIo gDefaultIo;
std::atomic<StorageIo*> gIo{nullptr};

sqlite3_vfs* gBase = nullptr;  // the unix VFS

// Our file: the header below, followed by the unix VFS's file object.
struct ShimFile {
    sqlite3_file Base;        // pMethods = our methods
    StorageFile* File;        // path, kind, the unix file
    std::int64_t Offset;      // PageStoreOffset for the table file, 0 otherwise
    void volatile* Shm0;      // region 0 of the shared-memory WAL index, once mapped
    int LockFd;               // table file: this connection's own lock descriptor (-1 otherwise)
    int LockLevel;            // SQLITE_LOCK_NONE ... SQLITE_LOCK_EXCLUSIVE
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
// moment, so that it waits while a writer is pending.
constexpr off_t kPendingByte = 0x40000000;
constexpr off_t kReservedByte = kPendingByte + 1;
constexpr off_t kSharedFirst = kPendingByte + 2;
constexpr off_t kSharedSize = 510;

// 0 on success, SQLITE_BUSY when another holder conflicts, SQLITE_IOERR_LOCK
// for any other failure.
int OfdLock(int fd, short type, off_t start, off_t len) {
    struct flock fl {};
    fl.l_type = type;
    fl.l_whence = SEEK_SET;
    fl.l_start = start;
    fl.l_len = len;
    for (;;) {
        if (::fcntl(fd, F_OFD_SETLK, &fl) == 0) return SQLITE_OK;
        if (errno == EINTR) continue;
        if (errno == EAGAIN || errno == EACCES) return SQLITE_BUSY;
        return type == F_UNLCK ? SQLITE_IOERR_UNLOCK : SQLITE_IOERR_LOCK;
    }
}

sqlite3_file* OsFile(sqlite3_file* f) {
    return reinterpret_cast<sqlite3_file*>(reinterpret_cast<char*>(f) + sizeof(ShimFile));
}
ShimFile* Shim(sqlite3_file* f) { return reinterpret_cast<ShimFile*>(f); }

int ShimClose(sqlite3_file* f) {
    ShimFile* p = Shim(f);
    sqlite3_file* os = OsFile(f);
    int rc = SQLITE_OK;
    if (os->pMethods) rc = os->pMethods->xClose(os);
    if (p->LockFd >= 0) ::close(p->LockFd);  // drops this connection's OFD locks only
    p->LockFd = -1;
    delete p->File;
    p->File = nullptr;
    return rc;
}

int ShimRead(sqlite3_file* f, void* buffer, int amount, sqlite3_int64 offset) {
    ShimFile* p = Shim(f);
    const int rc = CurrentStorageIo().Read(*p->File, buffer, amount, offset + p->Offset);
    return rc;
}

int ShimWrite(sqlite3_file* f, const void* buffer, int amount, sqlite3_int64 offset) {
    ShimFile* p = Shim(f);
    return CurrentStorageIo().Write(*p->File, buffer, amount, offset + p->Offset);
}

int ShimTruncate(sqlite3_file* f, sqlite3_int64 size) {
    ShimFile* p = Shim(f);
    return CurrentStorageIo().Truncate(*p->File, size + p->Offset);
}

int ShimSync(sqlite3_file* f, int flags) { return CurrentStorageIo().Sync(*Shim(f)->File, flags); }

int ShimFileSize(sqlite3_file* f, sqlite3_int64* size) {
    ShimFile* p = Shim(f);
    std::int64_t s = 0;
    const int rc = CurrentStorageIo().FileSize(*p->File, &s);
    if (rc != SQLITE_OK) return rc;
    s -= p->Offset;
    *size = s < 0 ? 0 : s;
    return SQLITE_OK;
}

int ShimLock(sqlite3_file* f, int level) {
    ShimFile* p = Shim(f);
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
    if (p->LockFd < 0) {
        sqlite3_file* os = OsFile(f);
        return os->pMethods->xUnlock(os, level);
    }
    if (p->LockLevel <= level) return SQLITE_OK;
    const int fd = p->LockFd;
    if (level == SQLITE_LOCK_SHARED) {
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
    if (p->LockFd < 0) {
        sqlite3_file* os = OsFile(f);
        return os->pMethods->xCheckReservedLock(os, out);
    }
    if (p->LockLevel >= SQLITE_LOCK_RESERVED) {
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
    sqlite3_file* os = OsFile(f);
    return os->pMethods->xSectorSize(os);
}
int ShimDeviceCharacteristics(sqlite3_file* f) {
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

int VfsOpen(sqlite3_vfs*, sqlite3_filename name, sqlite3_file* f, int flags, int* outFlags) {
    ShimFile* p = Shim(f);
    sqlite3_file* os = OsFile(f);
    std::memset(os, 0, static_cast<size_t>(gBase->szOsFile));
    p->File = new (std::nothrow) StorageFile;
    p->Offset = (flags & SQLITE_OPEN_MAIN_DB) ? PageStoreOffset : 0;
    p->Shm0 = nullptr;
    p->LockFd = -1;
    p->LockLevel = SQLITE_LOCK_NONE;
    // Our methods are installed even when the open fails, so that SQLite
    // calls ShimClose, which frees what we allocated and closes the unix file
    // only when the unix VFS installed its methods.
    p->Base.pMethods = &kMethods;
    if (!p->File) return SQLITE_NOMEM;
    p->File->Path = name ? name : "";
    p->File->Kind = (flags & SQLITE_OPEN_MAIN_DB) ? FileKind::Table
                    : (flags & SQLITE_OPEN_WAL)   ? FileKind::Wal
                                                  : FileKind::Other;
    p->File->Os = os;
    const int rc = gBase->xOpen(gBase, name, os, flags, outFlags);
    if (rc == SQLITE_OK && (flags & SQLITE_OPEN_MAIN_DB) && name) {
        p->LockFd = ::open(name, O_RDWR | O_CLOEXEC);
        if (p->LockFd < 0) p->LockFd = ::open(name, O_RDONLY | O_CLOEXEC);
        if (p->LockFd < 0) return SQLITE_CANTOPEN;
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
int VfsGetLastError(sqlite3_vfs*, int n, char* out) { return gBase->xGetLastError(gBase, n, out); }
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

}  // namespace engine

#include "engine/Errors.h"

namespace engine {

std::int64_t ReadTableFileBytes(sqlite3* db, const std::string& path, void* buffer, std::int64_t amount,
                                std::int64_t offset, std::int64_t* fileSize) {
    sqlite3_file* f = nullptr;
    if (sqlite3_file_control(db, "main", SQLITE_FCNTL_FILE_POINTER, &f) != SQLITE_OK || !f || !f->pMethods ||
        f->pMethods != &kMethods)
        throw EngineError("Cannot read table file '" + path + "'");
    StorageFile& file = *Shim(f)->File;
    std::int64_t size = 0;
    int rc = CurrentStorageIo().FileSize(file, &size);
    if (rc != SQLITE_OK) throw EngineError("I/O error on table file '" + path + "' while reading its size");
    *fileSize = size;
    std::int64_t n = std::min<std::int64_t>(amount, size - offset);
    if (n <= 0) return 0;
    rc = CurrentStorageIo().Read(file, buffer, static_cast<int>(n), offset);
    if (rc != SQLITE_OK && rc != SQLITE_IOERR_SHORT_READ)
        throw EngineError("I/O error on table file '" + path + "' while reading its catalog");
    return n;
}

}  // namespace engine

namespace engine {

sqlite3_file* TableFileOf(sqlite3* db) {
    sqlite3_file* f = nullptr;
    if (sqlite3_file_control(db, "main", SQLITE_FCNTL_FILE_POINTER, &f) != SQLITE_OK || !f || f->pMethods != &kMethods)
        return nullptr;
    return f;
}

bool ReadChangeStamp(sqlite3_file* f, std::uint8_t (&stamp)[ChangeStampSize]) {
    if (!f || f->pMethods != &kMethods) return false;
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
