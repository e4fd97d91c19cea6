// Records that another user deleted while the browser window showed them.
//
// The dataset keeps a window of records it read earlier. Before it steps past
// the window's edge, edits, deletes or refreshes, it positions the engine on
// one of those records; when another user has deleted that record (or, while
// a filter or range is in force, changed it so that it no longer passes), the
// engine refuses and the table raises its bare "Error while executing". It
// does so again at every later command on that record, and the stale record
// stays on the screen: without help the user is stuck with it.
//
// RecoverVanishedRecords, called after such an error, checks every record of
// the window against the table:
//
//   window records gone   what it does                       returns
//   none                  nothing (the error had another     nothing
//                         cause)
//   some, the current     rebuilds the window around the     the message
//   one left              current record (the framework's
//                         Refresh), which stays current
//   the current one       the nearest record of the window   the message
//   among them            left after the current one, else
//                         the nearest before it, becomes
//                         current and the window is rebuilt
//                         around it at the same row
//   all                   goes to the first record (an       the message
//                         empty table shows empty)
//
// The message names the records gone and the table file, e.g. "Record 3 of
// table 'people.dat' was deleted by another user; the window now shows the
// table as it is"; while a filter or range is in force (Restricted) it says
// that the record may also have been changed out of it.
//
// Preconditions: only a table open in dsBrowse with records in its window is
// examined; in any other state nothing is done and nothing returned.
// Errors: a failure while rebuilding the window propagates (the window then
// shows what the framework left of it).
// Threads: the table's thread (the GUI thread) only.
#pragma once

#include <optional>
#include <string>

class TMoneyTable;

namespace browser {

std::optional<std::string> RecoverVanishedRecords(TMoneyTable& Table, bool Restricted);

}  // namespace browser
