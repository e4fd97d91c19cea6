// Browser benchmark: the real window (TTamblorBrowserForm with its grid)
// under the offscreen Qt platform, on a large table of the engine
// benchmarks' shape (a) (made, or reused when it exists):
//   - the first screen: from the creation of the window, which opens the
//     table named on the command line, until the grid has painted its first
//     screen of records (target: within 50 ms);
//   - the resident memory of the process with the table open and shown
//     (target: under 100 MB);
//   - Last (Ctrl+End in the grid) until the grid has painted the last screen
//     (target: within 50 ms).
// The baseline, measured in the same run: plain SQLite reading the same
// screens (as many records as the grid shows, from the start and from the
// end, every column as text) from the page store. Each figure is the best of
// alternating rounds; the first round, when the table's pages may not be in
// the operating system's cache yet, is printed as well.
//
// Usage: browser_bench [RECORDS [TABLE-PATH]]   (default 10000000 records, the
// engine benchmarks' table in $TMPDIR)
#include "BenchTable.h"

#include "browser/MainForm.h"
#include "engine/Engine.h"
#include "engine/Vfs.h"
#include "moneytable/Tamblor.h"

#include <QApplication>
#include <QKeyEvent>

#include <sqlite3.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

using namespace bench;

namespace {

// Keeps what the window would show in its boxes: nothing is asked of anyone.
class TBenchDialogs : public browser::TDialogs {
public:
    std::vector<std::string> Errors;
    bool ExecuteOpen(browser::TOpenDialog&, QWidget*) override { return false; }
    bool ExecuteSave(browser::TSaveDialog&, QWidget*) override { return false; }
    void ShowFind(browser::TFindDialog&, QWidget*) override {}
    void CloseFind() override {}
    bool InputQuery(const std::string&, const std::string&, std::string&, QWidget*) override { return false; }
    void ShowMessage(const std::string&, QWidget*) override {}
    void ShowError(const std::string& Text, QWidget*) override { Errors.push_back(Text); }
    bool Confirm(const std::string&, QWidget*) override { return false; }
};

// Reads `rows` records from the start (forward) or the end of the page store,
// every column as text, as a screen of the grid needs them.
void PlainScreen(sqlite3* db, int rows, bool fromEnd) {
    std::string sql = "SELECT rowid";
    for (int c = 0; c < 10; ++c) sql += ",c" + std::to_string(c);
    sql += std::string(" FROM records ORDER BY rowid") + (fromEnd ? " DESC" : "") + " LIMIT " + std::to_string(rows);
    sqlite3_stmt* stmt = nullptr;
    sqlite3_prepare_v2(db, sql.c_str(), -1, &stmt, nullptr);
    std::string text;
    while (sqlite3_step(stmt) == SQLITE_ROW)
        for (int c = 0; c <= 10; ++c) {
            const unsigned char* s = sqlite3_column_text(stmt, c);
            text.assign(s ? reinterpret_cast<const char*>(s) : "", static_cast<std::size_t>(sqlite3_column_bytes(stmt, c)));
        }
    sqlite3_finalize(stmt);
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    const std::int64_t n = argc > 1 ? std::atoll(argv[1]) : 10000000;
    const char* tmp = std::getenv("TMPDIR");
    const std::string path = argc > 2 ? argv[2]
                                      : std::string(tmp && *tmp ? tmp : "/tmp") + "/tamblor-bench-" +
                                            std::to_string(n) + ".dat";
    std::printf("browser benchmark: %lld records, table %s\n", static_cast<long long>(n), path.c_str());
    const double rate = EnsureTable(path, n);
    if (rate > 0) std::printf("bulk insert:            %10.0f records/s\n", rate);
    int qargc = 1;
    QApplication App(qargc, argv);
    engine::RegisterEngineServer();
    const long rssStart = RssKiB();

    TBenchDialogs Dialogs;
    StartTableName = path;
    sqlite3* db = nullptr;
    sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, engine::RegisterPageStoreVfs());

    double firstScreen = 1e30, lastScreen = 1e30, baseFirst = 1e30, baseLast = 1e30;
    double coldFirst = 0, coldLast = 0;
    long rssShown = 0;
    int rows = 0;
    bool atLast = true;
    const int rounds = 5;
    for (int round = 0; round < rounds; ++round) {
        auto a = Clock::now();
        auto Form = std::make_unique<TTamblorBrowserForm>(&Dialogs);
        Form->show();
        QApplication::processEvents();
        Form->grab();  // paints the window, the grid's first screen included
        const double first = Seconds(a, Clock::now());
        rssShown = std::max(rssShown, RssKiB());
        rows = Form->DBGrid->VisibleRowCount();

        a = Clock::now();
        QKeyEvent press(QEvent::KeyPress, Qt::Key_End, Qt::ControlModifier);
        QApplication::sendEvent(Form->DBGrid, &press);
        QApplication::processEvents();
        Form->DBGrid->grab();
        const double last = Seconds(a, Clock::now());
        atLast = atLast && Form->Table->Eof();
        Form.reset();

        if (round == 0) {
            coldFirst = first;
            coldLast = last;
        }
        firstScreen = std::min(firstScreen, first);
        lastScreen = std::min(lastScreen, last);

        a = Clock::now();
        PlainScreen(db, rows, false);
        baseFirst = std::min(baseFirst, Seconds(a, Clock::now()));
        a = Clock::now();
        PlainScreen(db, rows, true);
        baseLast = std::min(baseLast, Seconds(a, Clock::now()));
    }
    sqlite3_close(db);

    std::printf("first screen:           %10.1f ms (first round %.1f ms; %d rows; target <= 50 ms; best of %d rounds)\n",
                firstScreen * 1e3, coldFirst * 1e3, rows, rounds);
    std::printf("  plain SQLite screen:  %10.3f ms [baseline: the same rows read from the start]\n", baseFirst * 1e3);
    std::printf("Last (Ctrl+End):        %10.1f ms (first round %.1f ms; target <= 50 ms)\n", lastScreen * 1e3,
                coldLast * 1e3);
    std::printf("  plain SQLite screen:  %10.3f ms [baseline: the same rows read from the end]\n", baseLast * 1e3);
    std::printf("memory:                 %10.1f MB resident with the table open and shown (%.1f MB before the "
                "window; target < 100 MB)\n",
                static_cast<double>(rssShown) / 1024.0, static_cast<double>(rssStart) / 1024.0);
    for (const std::string& e : Dialogs.Errors) std::printf("ERROR shown: %s\n", e.c_str());
    if (!atLast) std::printf("MISMATCH: Ctrl+End did not reach the last record\n");
    return Dialogs.Errors.empty() && atLast ? 0 : 1;
}
