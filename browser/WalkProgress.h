// TWalkProgress: what the browser window shows while a record walk (a
// search, "Count field", "Fill field in records") runs, and the message
// processing after each record of it.
//
// A walk processes pending window messages after every record, so that Esc,
// a second find-next press or another command reach the window at once. The
// screen follows at a human rate: the widgets given as throttled (the grid,
// the memo pane, the navigator) have their painting suspended during the
// walk (a memo pane also its reading of the text, TDBMemo's deferred display)
// and are repainted at most every RefreshMs milliseconds, on the record the
// walk has then reached, and once more when it ends. Their data links are
// told of every record as before, so what they show at the end is exactly
// what they would show had the walk run slowly. While a walk runs, the
// application shows the busy cursor and the status line the count of records
// visited ("Searching: 1234 records visited"); both go when it ends.
//
// Walks nest (a command started from the message processing of another):
// the outermost Begin and End count; the records visited are counted from
// the outermost Begin on.
//
// Ownership: the window owns this object and the status line, which must
// outlive it; the throttled widgets belong to the window and are watched (a
// widget destroyed meanwhile is skipped).
// Threads: the GUI thread only.
#pragma once

#include <QElapsedTimer>
#include <QPointer>
#include <QString>

#include <cstdint>
#include <vector>

class QWidget;

namespace browser {

class TStatusLine;

class TWalkProgress {
public:
    // The least time between two repaints of the throttled widgets: about 30
    // a second.
    static constexpr int RefreshMs = 33;

    TWalkProgress(TStatusLine* Status, const std::vector<QWidget*>& Throttled);
    // Ends a walk still running (restores cursor and painting).
    ~TWalkProgress();
    TWalkProgress(const TWalkProgress&) = delete;
    TWalkProgress& operator=(const TWalkProgress&) = delete;

    // A walk begins; What names it in the status line ("Searching").
    void Begin(const char* What);
    // One more record visited: processes pending messages, and repaints the
    // throttled widgets and the count when RefreshMs have passed since the
    // last repaint.
    void Step();
    // The walk ends (however): painting resumes with one repaint, the status
    // message and the busy cursor go.
    void End();

    bool Running() const noexcept { return FDepth > 0; }
    std::int64_t Visited() const noexcept { return FVisited; }
    // The status line's message while a walk runs.
    QString Text() const;

private:
    void Refresh();

    struct TThrottled {
        QPointer<QWidget> Widget;
        bool WasEnabled = true;  // its updates before the walk
    };
    TStatusLine* FStatus;
    std::vector<TThrottled> FThrottled;
    QString FWhat;
    QElapsedTimer FClock;
    std::int64_t FVisited = 0;
    int FDepth = 0;
};

}  // namespace browser
