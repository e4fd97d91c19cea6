// Undo of the browser window's latest changes. Every post (of an edit or of
// an insert) and every delete that the window's table makes is noted; Undo()
// takes back the latest change not yet taken back:
//
//   change   taken back by                           refused (and forgotten)
//                                                    when since then
//   edit     posting the record again with the       another user changed
//            values it had before the edit           or deleted the record
//   insert   deleting the record                     (the same)
//   delete   inserting the record again with the     -
//            values it had; it gets a new number
//
// "Changed" means: a field no longer holds the value the window posted. The
// fields compared and restored are the data fields a client can write (not
// _RECNO_, nor the time and date of the last post, which the engine keeps).
// An edit posted without a change of value is not noted, nor a change whose
// values cannot be read (noting never fails the post or delete noted).
//
// The log keeps the latest MaxEntries changes. Clear() forgets them all; the
// window calls it when its table closes, so nothing is undone in a table
// opened afresh.
//
// Undo works through a table object of its own, opened on the same file for
// the duration of the call, without the window's index, filter and range: a
// change is taken back also when the record is no longer among those the
// window shows (an edit that moved it out of the filter). Its Edit takes the
// engine's record lock and reads the record afresh before the comparison, so
// nobody can change the record between the comparison and the write.
//
// Errors: a refusal raises EUndoError (the message names the record, the
// table file and the cause) and forgets the change, which can never be taken
// back; any other failure (the record locked by another user, a key
// violation on the re-insert, an I/O error) propagates as raised, with the
// change kept for another try. Either way nothing was written.
//
// Ownership: the log installs itself as the table's AfterEdit, BeforePost,
// AfterPost, AfterCancel, BeforeDelete and AfterDelete handlers and removes
// them when destroyed; the table must outlive the log, and nothing else may
// use these handlers meanwhile.
// Threads: the table's thread (the GUI thread) only.
#pragma once

#include "rtl/Rtl.h"

#include <cstddef>
#include <deque>
#include <optional>
#include <string>
#include <utility>
#include <vector>

class TDataSet;
class TMoneyTable;

namespace browser {

class EUndoError : public Exception {
public:
    using Exception::Exception;
};

enum class TChangeKind { Edit, Insert, Delete };

// What Undo did: the kind of change taken back, the record it concerned
// and, for a delete, the number of the record inserted again (else RecNo).
struct TUndone {
    TChangeKind Kind = TChangeKind::Edit;
    int RecNo = 0;
    int NewRecNo = 0;
};

class TUndoLog {
public:
    static constexpr std::size_t MaxEntries = 100;

    explicit TUndoLog(TMoneyTable* Table);
    ~TUndoLog();
    TUndoLog(const TUndoLog&) = delete;
    TUndoLog& operator=(const TUndoLog&) = delete;

    // Takes back the latest change (see above); nothing when there is none.
    // The window's table must not be in an edit state (it would hold the
    // record's lock).
    std::optional<TUndone> Undo();
    // The record that the next Undo deletes (the latest change is an
    // insert), 0 for none.
    int RecordToDelete() const noexcept;
    void Clear() noexcept;
    std::size_t Count() const noexcept { return FEntries.size(); }

private:
    // One field's value: null, or its text (text and memo fields) or its
    // native bytes (all others).
    struct TValue {
        bool Null = true;
        std::string Data;
        bool operator==(const TValue&) const = default;
    };
    using TValues = std::vector<std::pair<std::string, TValue>>;  // by field name
    struct TEntry {
        TChangeKind Kind = TChangeKind::Edit;
        int RecNo = 0;
        TValues Old;  // before an edit or delete
        TValues New;  // after the post of an edit or insert
    };

    static TValues Capture(TDataSet* DataSet);
    static void Restore(TDataSet* DataSet, const TValues& Values);
    static bool Holds(TDataSet* DataSet, const TValues& Values);
    void Note(TEntry Entry);
    [[noreturn]] void Refuse(const TEntry& Entry, const char* Cause);

    TMoneyTable* FTable;
    std::deque<TEntry> FEntries;
    std::optional<TEntry> FPending;  // a change begun, noted once it is done
};

}  // namespace browser
