// Table and record locks of the table file.
//
// Purpose: multi-user locking between engine table objects, in this process
// and in other processes. The locks are open-file-description (OFD) locks on
// the table file at offsets above 2^40, far beyond the page store's own
// locks:
//   byte 2^40                  table lock: shared while a table object has
//                              the table open, exclusive under LockTable
//   byte 2^40 + 1 + recno      record lock of record number recno (exclusive)
// They vanish when the process dies, because the kernel drops the OFD locks
// of a description when its last descriptor closes.
//
// Design: one lock descriptor per file and process.
// Closing ANY descriptor of a file drops every classic POSIX lock that the
// process holds on that file, and the page store (SQLite) uses such locks.
// So the process opens the table file for locking once per file (keyed by
// device and inode), shares that descriptor among all TableLocks objects on
// the file, counts its users and closes it only when the last one closes.
// OFD locks belong to the open file description, so two objects sharing the
// descriptor never conflict in the kernel. Conflicts are therefore settled in
// two tiers:
//   - between objects of this process: a process-wide registry entry per
//     file records who has the table open, who holds it exclusively and which
//     object holds each record lock (guarded by a mutex, so objects on
//     different threads are safe);
//   - between processes: the shared descriptor holds, for each byte, the
//     union of the claims of the process's objects (the table byte shared
//     while anyone here has the table open, exclusive while one object holds
//     LockTable; a record byte exclusive while some object here holds it), and
//     the kernel refuses what another process holds.
// The alternative, one description per object kept open until the file's
// last user goes, would also let the kernel arbitrate inside the process, but
// it multiplies descriptors that can never be closed early; the registry is
// needed in both cases anyway to defer the close.
// After fork() a child does not use the registry inherited from its parent
// (the inherited descriptor shares the parent's description, hence its
// locks): it starts a registry of its own.
//
// Ownership: a TableLocks object owns its claims; the shared descriptor is
// owned by the registry. Destroying an object closes it.
// Threads: one TableLocks object belongs to one thread; different objects may
// be used on different threads.
// Precondition for Close()/destruction: close the page store connection of the
// file first when it is the last user in the process (closing the lock
// descriptor then drops no lock that SQLite still needs).
//
// State of one object (per-record locks are held only while Open):
//   state       | call                  | result
//   Closed      | Open(path)            | Shared, or EngineError when the table is
//               |                       | held exclusively elsewhere ("locked by
//               |                       | another user"); other calls except Close:
//               |                       | EngineError "Table is not open"
//   Shared      | LockTable()           | Exclusive, or EngineError when another
//               |                       | object/process has the table open ("in use")
//   Shared      | UnlockTable()         | Shared (no-op)
//   Exclusive   | LockTable()           | Exclusive (no-op)
//   Exclusive   | UnlockTable()         | Shared
//   Shared/Excl | ReleaseAll()          | Shared, all record locks released
//   any         | Close()               | Closed, every claim released
//   Shared/Excl | Open(path)            | EngineError "Lock file is already open"
#pragma once

#include <cstdint>
#include <memory>
#include <set>
#include <string>

namespace engine {

namespace detail {
struct LockFileEntry;
}

class TableLocks {
public:
    static constexpr std::int64_t TableLockOffset = std::int64_t(1) << 40;
    static std::int64_t RecordLockOffset(std::int64_t recno) { return TableLockOffset + 1 + recno; }

    TableLocks();
    ~TableLocks();
    TableLocks(const TableLocks&) = delete;
    TableLocks& operator=(const TableLocks&) = delete;

    // Opens the lock descriptor of the table file `path` (shared with the
    // process's other objects on that file) and takes the shared table lock.
    // Throws EngineError "Table '<path>' is locked by another user" when
    // another object or process holds the table exclusively, or a message
    // naming the file and the system error when it cannot be opened.
    void Open(const std::string& path);
    bool IsOpen() const { return FEntry != nullptr; }
    const std::string& Path() const { return FPath; }

    // Turns the table lock exclusive. Throws EngineError
    // "Table '<path>' is in use by another user" while another object or
    // process has the table open.
    void LockTable();
    // Turns the table lock back to shared; no-op when not exclusive.
    void UnlockTable();
    bool TableLocked() const { return FExclusive; }

    // Takes the lock of record `recno` (>= 0). No-op when this object holds it
    // already. Throws EngineError "Record is locked by another user".
    void LockRecord(std::int64_t recno);
    // Releases the lock of record `recno`; no-op when not held by this object.
    void UnlockRecord(std::int64_t recno);
    bool HoldsRecord(std::int64_t recno) const { return FRecords.count(recno) != 0; }
    // True when another object of this process or another process holds the
    // lock of record `recno`. A delete or the post of an edit that must not
    // race should rather take the lock (LockRecord) for its duration when it
    // does not hold it already.
    bool IsRecordLockedByOther(std::int64_t recno) const;

    // Releases every record lock and the exclusive table lock; the table stays
    // open (shared table lock kept).
    void ReleaseAll();
    // Releases everything, including the shared table lock, and gives up this
    // object's use of the lock descriptor. No-op when not open.
    void Close();

private:
    void CheckOpen() const;

    std::string FPath;
    std::shared_ptr<detail::LockFileEntry> FEntry;
    bool FExclusive = false;
    std::set<std::int64_t> FRecords;
};

}  // namespace engine
