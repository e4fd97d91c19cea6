#include "engine/Vfs.h"

#include "engine/StorageIo.h"

#include <sqlite3.h>

#include <algorithm>
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
};

sqlite3_file* OsFile(sqlite3_file* f) {
    return reinterpret_cast<sqlite3_file*>(reinterpret_cast<char*>(f) + sizeof(ShimFile));
}
ShimFile* Shim(sqlite3_file* f) { return reinterpret_cast<ShimFile*>(f); }

int ShimClose(sqlite3_file* f) {
    ShimFile* p = Shim(f);
    sqlite3_file* os = OsFile(f);
    int rc = SQLITE_OK;
    if (os->pMethods) rc = os->pMethods->xClose(os);
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
    sqlite3_file* os = OsFile(f);
    return os->pMethods->xLock(os, level);
}
int ShimUnlock(sqlite3_file* f, int level) {
    sqlite3_file* os = OsFile(f);
    return os->pMethods->xUnlock(os, level);
}
int ShimCheckReservedLock(sqlite3_file* f, int* out) {
    sqlite3_file* os = OsFile(f);
    return os->pMethods->xCheckReservedLock(os, out);
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
    return gBase->xOpen(gBase, name, os, flags, outFlags);
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
    std::atomic_thread_fence(std::memory_order_acquire);
    const volatile std::uint8_t* p = static_cast<const volatile std::uint8_t*>(shm);
    for (int i = 0; i < ChangeStampSize; ++i) stamp[i] = p[i];
    return true;
}

}  // namespace engine
