// TWalkProgress: what the browser window shows while a record walk (a
// search, "Count field", "Fill field in records") runs, and the message
// processing after each record of it.
//
// A walk processes pending window messages after every record, so that Esc,
// a second find-next press or another command reach the window at once. The
// screen follows at a human rate: the widgets given as throttled (the grid,
// the memo pane, the navigator) have their painting suspended during the
// walk (a memo pane also its reading of the text, TDBMemo's deferred display)
// and are repainted by a timer RefreshMs milliseconds after the last repaint
// ended (three times the time that repaint took, when that is longer), on
// the record the walk has then reached, and once more when it ends. So they
// repaint at most about 30 times a second, and painting takes at most a
// quarter of a walk's time however slow it is. The timer also runs in the
// event loop of a dialog opened from the walk's message processing, so the
// window is still drawn while the walk waits for that dialog. The widgets'
// data links are told of every record as before, so what they show at the
// end is exactly what they would show had the walk run slowly. While a walk
// runs, the application shows the busy cursor and the status line the
// count of records visited ("Searching: 1234 records visited"); both go when
// it ends.
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

#include <QPointer>
#include <QString>
#include <QTimer>

#include <cstdint>
#include <vector>

class QWidget;

namespace browser {

class TStatusLine;

class TWalkProgress {
public:
    // The least time from the end of one repaint of the throttled widgets
    // to the next during a walk.
    static constexpr int RefreshMs = 33;

    TWalkProgress(TStatusLine* Status, const std::vector<QWidget*>& Throttled);
    // Ends a walk still running (restores cursor and painting).
    ~TWalkProgress();
    TWalkProgress(const TWalkProgress&) = delete;
    TWalkProgress& operator=(const TWalkProgress&) = delete;

    // A walk begins; What names it in the status line ("Searching").
    void Begin(const char* What);
    // One more record visited: processes pending messages (among them the
    // timer that repaints).
    void Step();
    // The walk ends (however): painting resumes with one repaint, the status
    // message and the busy cursor go.
    void End();

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
    QTimer FTimer;  // the next repaint while a walk runs
    std::int64_t FVisited = 0;
    int FDepth = 0;
};

}  // namespace browser
