// Table and record locks: OFD locks on one shared descriptor per file and
// process, plus a process-wide registry that settles conflicts between the
// objects of this process. See Locks.h for the design.
#include "engine/Locks.h"

#include "engine/Errors.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <map>
#include <mutex>
#include <utility>
#include <vector>

namespace engine {

namespace detail {

// One table file of this process. Guarded by the registry mutex.
struct LockFileEntry {
    dev_t Dev = 0;
    ino_t Ino = 0;
    int Fd = -1;                       // the shared lock descriptor
    std::vector<int> ExtraFds;         // descriptors opened in a race, closed with Fd
    int Users = 0;                     // open TableLocks objects on this file
    const TableLocks* Exclusive = nullptr;
    std::map<std::int64_t, const TableLocks*> Records;  // record number -> holder
};

}  // namespace detail

namespace {

using detail::LockFileEntry;

struct Registry {
    std::mutex Mutex;
    pid_t Pid = 0;
    std::map<std::pair<dev_t, ino_t>, std::shared_ptr<LockFileEntry>> Files;
};

Registry& TheRegistry() {
    static Registry* r = new Registry;  // never destroyed: objects may close during static destruction
    return *r;
}

// After fork() the child must not use the parent's descriptors (they share
// the parent's descriptions and hence its locks): forget them. They stay open
// in the child; closing them would be harmless but gains nothing.
void CheckForkedLocked(Registry& r) {
    const pid_t pid = getpid();
    if (r.Pid != pid) {
        if (r.Pid != 0)
            for (auto& [key, entry] : r.Files) entry->Fd = -1, entry->ExtraFds.clear();
        r.Files.clear();
        r.Pid = pid;
    }
}

std::string SysError(int err) { return std::strerror(err); }

// F_OFD_SETLK on one byte; returns 0 or errno.
int SetLock(int fd, short type, std::int64_t offset) {
    struct flock fl {};
    fl.l_type = type;
    fl.l_whence = SEEK_SET;
    fl.l_start = off_t(offset);
    fl.l_len = 1;
    fl.l_pid = 0;
    return fcntl(fd, F_OFD_SETLK, &fl) == 0 ? 0 : errno;
}

bool IsConflict(int err) { return err == EAGAIN || err == EACCES; }

void CloseEntryLocked(Registry& r, const std::shared_ptr<LockFileEntry>& entry) {
    if (entry->Fd >= 0) close(entry->Fd);
    for (int fd : entry->ExtraFds) close(fd);
    entry->Fd = -1;
    entry->ExtraFds.clear();
    auto it = r.Files.find({entry->Dev, entry->Ino});
    if (it != r.Files.end() && it->second == entry) r.Files.erase(it);
}

}  // namespace

TableLocks::TableLocks() = default;

TableLocks::~TableLocks() {
    try {
        Close();
    } catch (...) {
    }
}

void TableLocks::CheckOpen() const {
    if (!FEntry) throw EngineError("Table is not open", stMisuse);
}

void TableLocks::Open(const std::string& path) {
    if (FEntry) throw EngineError("Lock file is already open", stMisuse);
    Registry& r = TheRegistry();
    std::lock_guard<std::mutex> guard(r.Mutex);
    CheckForkedLocked(r);

    struct stat st {};
    if (stat(path.c_str(), &st) != 0) {
        const int err = errno;
        throw EngineError("Cannot open table '" + path + "': " + SysError(err));
    }
    auto it = r.Files.find({st.st_dev, st.st_ino});
    std::shared_ptr<LockFileEntry> entry = it != r.Files.end() ? it->second : nullptr;
    if (!entry) {
        int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
        if (fd < 0 && (errno == EACCES || errno == EROFS)) fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) {
            const int err = errno;
            throw EngineError("Cannot open table '" + path + "': " + SysError(err));
        }
        struct stat fst {};
        fstat(fd, &fst);
        // The path may have been renamed over between stat and open: key by
        // what was really opened.
        auto again = r.Files.find({fst.st_dev, fst.st_ino});
        if (again != r.Files.end()) {
            entry = again->second;
            entry->ExtraFds.push_back(fd);  // not closable before the file's last user goes
        } else {
            entry = std::make_shared<LockFileEntry>();
            entry->Dev = fst.st_dev;
            entry->Ino = fst.st_ino;
            entry->Fd = fd;
            r.Files[{fst.st_dev, fst.st_ino}] = entry;
        }
    }

    const std::string locked = "Table '" + path + "' is locked by another user";
    if (entry->Exclusive) {
        if (entry->Users == 0) CloseEntryLocked(r, entry);
        throw EngineError(locked);
    }
    if (entry->Users == 0) {
        // First user in this process: take the shared table lock for all.
        const int err = SetLock(entry->Fd, F_RDLCK, TableLockOffset);
        if (err != 0) {
            CloseEntryLocked(r, entry);
            if (IsConflict(err)) throw EngineError(locked);
            throw EngineError("Cannot lock table '" + path + "': " + SysError(err));
        }
    }
    ++entry->Users;
    FEntry = std::move(entry);
    FPath = path;
    FExclusive = false;
    FRecords.clear();
}

void TableLocks::LockTable() {
    CheckOpen();
    if (FExclusive) return;
    Registry& r = TheRegistry();
    std::lock_guard<std::mutex> guard(r.Mutex);
    const std::string inUse = "Table '" + FPath + "' is in use by another user";
    if (FEntry->Users > 1) throw EngineError(inUse);
    const int err = SetLock(FEntry->Fd, F_WRLCK, TableLockOffset);
    if (err != 0) {
        // A refused conversion leaves the shared lock as it was.
        if (IsConflict(err)) throw EngineError(inUse);
        // A write lock needs a descriptor open for writing.
        if (err == EBADF) throw EngineError("Table '" + FPath + "' cannot be locked: this user cannot write its file");
        throw EngineError("Cannot lock table '" + FPath + "': " + SysError(err));
    }
    FEntry->Exclusive = this;
    FExclusive = true;
}

void TableLocks::UnlockTable() {
    if (!FEntry || !FExclusive) return;
    Registry& r = TheRegistry();
    std::lock_guard<std::mutex> guard(r.Mutex);
    SetLock(FEntry->Fd, F_RDLCK, TableLockOffset);  // a downgrade cannot conflict
    FEntry->Exclusive = nullptr;
    FExclusive = false;
}

void TableLocks::LockRecord(std::int64_t recno) {
    CheckOpen();
    if (recno < 0) throw EngineError("Invalid record number " + std::to_string(recno), stMisuse);
    if (HoldsRecord(recno)) return;
    Registry& r = TheRegistry();
    std::lock_guard<std::mutex> guard(r.Mutex);
    if (FEntry->Records.count(recno)) throw EngineError("Record is locked by another user");
    const int err = SetLock(FEntry->Fd, F_WRLCK, RecordLockOffset(recno));
    if (err != 0) {
        if (IsConflict(err)) throw EngineError("Record is locked by another user");
        throw EngineError("Cannot lock a record of table '" + FPath + "': " + SysError(err));
    }
    FEntry->Records[recno] = this;
    FRecords.insert(recno);
}

void TableLocks::UnlockRecord(std::int64_t recno) {
    if (!FEntry || !HoldsRecord(recno)) return;
    Registry& r = TheRegistry();
    std::lock_guard<std::mutex> guard(r.Mutex);
    SetLock(FEntry->Fd, F_UNLCK, RecordLockOffset(recno));
    FEntry->Records.erase(recno);
    FRecords.erase(recno);
}

bool TableLocks::IsRecordLockedByOther(std::int64_t recno) const {
    CheckOpen();
    if (HoldsRecord(recno)) return false;
    Registry& r = TheRegistry();
    std::lock_guard<std::mutex> guard(r.Mutex);
    if (FEntry->Records.count(recno)) return true;  // another object of this process
    struct flock fl {};
    fl.l_type = F_WRLCK;
    fl.l_whence = SEEK_SET;
    fl.l_start = off_t(RecordLockOffset(recno));
    fl.l_len = 1;
    fl.l_pid = 0;
    if (fcntl(FEntry->Fd, F_OFD_GETLK, &fl) != 0) {
        const int err = errno;
        throw EngineError("Cannot test a record lock of table '" + FPath + "': " + SysError(err));
    }
    return fl.l_type != F_UNLCK;
}

void TableLocks::ReleaseAll() {
    if (!FEntry) return;
    while (!FRecords.empty()) UnlockRecord(*FRecords.begin());
    UnlockTable();
}

void TableLocks::Close() {
    if (!FEntry) return;
    ReleaseAll();
    Registry& r = TheRegistry();
    std::lock_guard<std::mutex> guard(r.Mutex);
    if (--FEntry->Users == 0) {
        // Last user in this process: the process's shared table lock goes
        // with the descriptor.
        if (FEntry->Fd >= 0) SetLock(FEntry->Fd, F_UNLCK, TableLockOffset);
        CloseEntryLocked(r, FEntry);
    }
    FEntry.reset();
    FPath.clear();
}

}  // namespace engine
