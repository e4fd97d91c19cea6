// Pictures of the running window for looking at it by eye (documentation,
// checks under a virtual display): the window, the window with the memo pane
// open, and the window with its pop-up menu open.
//
// ScheduleScreenshots starts a short sequence on the event loop that writes
// DIR/window.png, DIR/memo.png and DIR/menu.png and then quits the
// application. Under an X server the pictures are of the whole screen (so
// the pop-up menu is in them); elsewhere of the window, with the menu drawn
// in.
//
// Ownership: the window must outlive the sequence (it ends with the
// application). Threads: the GUI thread only.
#pragma once

#include <QString>

class TTamblorBrowserForm;

namespace browser {

void ScheduleScreenshots(TTamblorBrowserForm& Form, const QString& Dir);

}  // namespace browser
