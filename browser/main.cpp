// The program tamblorview ("Tallowmere"): reads its command line, registers
// the table engine, creates the window (which opens the table named on the
// command line) and runs the event loop until the window is closed.
//
// Command line: [-RO] [table file]; further plain parameters are ignored.
// With TAMBLORVIEW_SCREENSHOTS=DIR in the environment the program writes
// pictures of its window to DIR and ends (see browser/Screenshots.h).
#include "browser/CmdLine.h"
#include "browser/MainForm.h"
#include "browser/Screenshots.h"
#include "engine/Engine.h"

#include <QApplication>

#include <cstdlib>

int main(int argc, char** argv) {
    // Qt takes its own options (-platform, -display ...) out of argv first,
    // so that they are not read as the program's switches.
    QApplication App(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Tallowmere"));
    engine::RegisterEngineServer();
    browser::SetParams(argc, argv);
    browser::ReadStartParameters();
    TTamblorBrowserForm Form;
    Form.show();
    if (const char* Dir = std::getenv("TAMBLORVIEW_SCREENSHOTS"); Dir != nullptr && *Dir != '\0')
        browser::ScheduleScreenshots(Form, QString::fromLocal8Bit(Dir));
    return App.exec();
}
