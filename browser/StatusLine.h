// The status line of the browser window (its bottom line, StatusBar1) and the
// one place that decides what it shows:
//
//   left   a message: while a record walk runs, its progress (TWalkProgress
//          hands it in); otherwise the latest note (a column title without
//          an index, an undo done ...) for NoteMs milliseconds
//   right  the table, in four fields:
//            count    "5 records", "1 record": the engine's cached count of
//                     the records the table shows (RecordCount), never a walk
//            record   "Record 3" (the current record's number), "New record"
//                     while one is inserted, "No record" in an empty table
//            index    "Index: Last;First", or "No index" (record order)
//            filter   "All records", "Filter", "Range" or "Filter and range":
//                     what restricts the records shown (a range counts only
//                     while an index is chosen, as the engine applies it)
//          or the one field "No table" while the table is closed.
//
// The table part follows the table through Invalidate(), which the window
// calls on every change its data source reports: any number of changes in a
// row cost one update when the event loop next runs (while a walk runs, at
// most one every TWalkProgress::RefreshMs). An error while reading the table
// shows "?" in the field concerned; the status line never raises.
//
// Ownership: the window owns this object, the status bar and the table; the
// field labels are the status bar's children. The table must outlive the
// last event-loop pass after Invalidate (the window's destructor runs none).
// Threads: the GUI thread only.
#pragma once

#include <QPointer>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <array>

class QLabel;
class QStatusBar;
class TMoneyTable;

namespace browser {

// A filter restricts the records the table shows.
bool FilterInForce(TMoneyTable* Table);
// Both range bounds hold key values and an index is chosen: the engine
// restricts the records to the range.
bool RangeInForce(TMoneyTable* Table);

class TStatusLine {
public:
    // How long a note stays.
    static constexpr int NoteMs = 8000;

    TStatusLine(QStatusBar* Bar, TMoneyTable* Table);
    TStatusLine(const TStatusLine&) = delete;
    TStatusLine& operator=(const TStatusLine&) = delete;

    // The table changed: the table part is updated soon (see above).
    void Invalidate();
    // Updates the table part now.
    void Update();
    // Shows a note in the message part.
    void ShowNote(const QString& Text);
    // A walk shows (and updates) its progress in the message part; EndProgress
    // clears it when the walk ends.
    void ShowProgress(const QString& Text);
    void EndProgress();

    // The message part as shown now (empty for none).
    QString Message() const;
    // The table part's fields as shown now.
    QStringList TableFields() const;

private:
    QPointer<QStatusBar> FBar;
    TMoneyTable* FTable;
    std::array<QPointer<QLabel>, 4> FFields;
    QTimer FTimer;
    bool FWalking = false;
};

}  // namespace browser
