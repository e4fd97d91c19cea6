// What the window shows while a record walk runs; see WalkProgress.h.
#include "browser/WalkProgress.h"

#include "browser/StatusLine.h"
#include "controls/DBMemo.h"

#include <algorithm>

#include <QApplication>
#include <QElapsedTimer>
#include <QWidget>

namespace browser {

namespace {

// Suspends (or resumes) a widget's painting; a memo pane also defers reading
// its text.
void Suspend(QWidget* Widget, bool Suspended) {
    Widget->setUpdatesEnabled(!Suspended);
    if (auto* Memo = qobject_cast<controls::TDBMemo*>(Widget)) Memo->SetDisplayDeferred(Suspended);
}

}  // namespace

TWalkProgress::TWalkProgress(TStatusLine* Status, const std::vector<QWidget*>& Throttled) : FStatus(Status) {
    for (QWidget* W : Throttled) FThrottled.push_back({W, true});
    FTimer.setTimerType(Qt::PreciseTimer);
    FTimer.setSingleShot(true);
    FTimer.callOnTimeout([this] { Refresh(); });
}

TWalkProgress::~TWalkProgress() {
    if (FDepth > 0) {
        FDepth = 1;
        End();
    }
}

QString TWalkProgress::Text() const {
    return QStringLiteral("%1: %2 records visited").arg(FWhat).arg(FVisited);
}

void TWalkProgress::Begin(const char* What) {
    if (FDepth++ > 0) return;
    FWhat = QString::fromUtf8(What);
    FVisited = 0;
    QApplication::setOverrideCursor(QCursor(Qt::BusyCursor));
    for (TThrottled& T : FThrottled) {
        if (T.Widget.isNull()) continue;
        T.WasEnabled = T.Widget->updatesEnabled();
        if (T.WasEnabled) Suspend(T.Widget, true);
    }
    FStatus->ShowProgress(Text());
    FTimer.start(RefreshMs);
}

void TWalkProgress::Step() {
    ++FVisited;
    QCoreApplication::processEvents();
}

void TWalkProgress::Refresh() {
    QElapsedTimer Took;
    Took.start();
    for (TThrottled& T : FThrottled) {
        if (T.Widget.isNull() || !T.WasEnabled) continue;
        Suspend(T.Widget, false);
        T.Widget->repaint();
        Suspend(T.Widget, true);
    }
    FStatus->ShowProgress(Text());
    // The next repaint comes RefreshMs after this one ended, later when
    // painting is slow: the walk keeps at least three quarters of the time.
    FTimer.start(static_cast<int>(std::max<qint64>(RefreshMs, 3 * Took.elapsed())));
}

void TWalkProgress::End() {
    if (FDepth == 0 || --FDepth > 0) return;
    FTimer.stop();
    // Enabling the updates schedules the one repaint on the final record.
    for (TThrottled& T : FThrottled)
        if (!T.Widget.isNull() && T.WasEnabled) Suspend(T.Widget, false);
    FStatus->EndProgress();
    QApplication::restoreOverrideCursor();
}

}  // namespace browser
