// The program tamblorview ("Tallowmere"): reads its command line, registers
// the table engine, creates the window (which opens the table named on the
// command line) and runs the event loop until the window is closed.
//
// Command line: [-RO] [table file]; further plain parameters are ignored.
// --help and --version print to standard output and end the program before
// the application object exists, so they need no display.
// With TAMBLORVIEW_SCREENSHOTS=DIR in the environment the program writes
// pictures of its window to DIR and ends (see browser/Screenshots.h).
#include "browser/CmdLine.h"
#include "browser/MainForm.h"
#include "browser/Screenshots.h"
#include "engine/Engine.h"

#include <QApplication>

#include <cstdlib>
#include <iostream>
#include <string_view>

namespace {

constexpr const char* Usage =
    "Usage: tamblorview [-RO] [TABLE.dat]\n"
    "Browses and edits a Money table (Tallowmere).\n"
    "\n"
    "  -RO        open the table read-only\n"
    "  --help     show this help and exit\n"
    "  --version  show the version and exit\n"
    "\n"
    "Qt's own options (-platform NAME, -display DISPLAY ...) are accepted too.\n";

}  // namespace

int main(int argc, char** argv) {
    for (int I = 1; I < argc; ++I) {
        const std::string_view Arg = argv[I];
        if (Arg == "--help") {
            std::cout << Usage;
            return 0;
        }
        if (Arg == "--version") {
            std::cout << "tamblorview (Tallowmere) " TAMBLOR_VERSION "\n";
            return 0;
        }
    }
    // Qt takes its own options (-platform, -display ...) out of argv first,
    // so that they are not read as the program's switches.
    QApplication App(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Tallowmere"));
    // Lets the desktop match the window with tamblorview.desktop (its icon).
    QGuiApplication::setDesktopFileName(QStringLiteral("tamblorview"));
    engine::RegisterEngineServer();
    browser::SetParams(argc, argv);
    browser::ReadStartParameters();
    TTamblorBrowserForm Form;
    Form.show();
    if (const char* Dir = std::getenv("TAMBLORVIEW_SCREENSHOTS"); Dir != nullptr && *Dir != '\0')
        browser::ScheduleScreenshots(Form, QString::fromLocal8Bit(Dir));
    return App.exec();
}
