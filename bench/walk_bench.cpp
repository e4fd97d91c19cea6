// Walk benchmark of the browser: the real window (TTamblorBrowserForm, its
// grid, navigator and memo) under the offscreen Qt platform, on the engine
// benchmarks' table of N records (made, or reused when it exists):
//   - the plain read rate through TMoneyTable (First, then Next until Eof,
//     reading the Payee field's AsString): the baseline;
//   - a search through the find dialog's find-next for a Payee that no record
//     has, so that it walks the whole table;
//   - "Count field" into the Seq column over the whole table (mask %d, start
//     1, increment 1, count -1): a post per record. Seq holds the record's
//     number already, so the table is left as it was.
// Rates are records per second of wall time; the rate by the CPU time of the
// process is printed beside them (steadier on a busy machine).
//
// Usage: walk_bench [RECORDS [TABLE-PATH [search|count]]]
//   (default 200000 records and the engine benchmarks' table in $TMPDIR; an
//   empty TABLE-PATH is that table; the last argument runs one walk only, for
//   a profiler)
// Goals at 200,000 records: search walk >= 100,000 records/s and >= 1/4 of
// the plain read rate; count walk >= 5,000 posts/s.
#include "BenchTable.h"

#include "browser/MainForm.h"
#include "engine/Engine.h"
#include "moneytable/Tamblor.h"

#include <QAction>
#include <QApplication>

#include <cstdio>
#include <cstdlib>
#include <deque>
#include <string>

using namespace bench;

namespace {

// Answers the input boxes from a queue and keeps the errors shown.
class TBenchDialogs : public browser::TDialogs {
public:
    std::deque<std::string> Answers;
    std::vector<std::string> Errors;

    bool ExecuteOpen(browser::TOpenDialog&, QWidget*) override { return false; }
    bool ExecuteSave(browser::TSaveDialog&, QWidget*) override { return false; }
    void ShowFind(browser::TFindDialog&, QWidget*) override {}
    void CloseFind() override {}
    bool InputQuery(const std::string&, const std::string&, std::string& Value, QWidget*) override {
        if (Answers.empty()) return false;
        Value = Answers.front();
        Answers.pop_front();
        return true;
    }
    void ShowMessage(const std::string&, QWidget*) override {}
    void ShowError(const std::string& Text, QWidget*) override { Errors.push_back(Text); }
    bool Confirm(const std::string&, QWidget*) override { return true; }
};

// CPU time of the process (all its threads: Qt may paint with helpers).
double ProcessCpuSeconds() {
    timespec Ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &Ts);
    return static_cast<double>(Ts.tv_sec) + static_cast<double>(Ts.tv_nsec) * 1e-9;
}

struct TTiming {
    double Wall = 0;
    double Cpu = 0;
};

template <class F>
TTiming Measure(F&& Fn) {
    const auto A = Clock::now();
    const double C = ProcessCpuSeconds();
    Fn();
    return {Seconds(A, Clock::now()), ProcessCpuSeconds() - C};
}

// Reads the field of every record, as the search does; returns the count.
// Not inlined, so that a profiler can tell it apart.
[[gnu::noinline]] std::int64_t PlainRead(TMoneyTable& T, TField* Field) {
    std::int64_t Count = 0;
    std::size_t Bytes = 0;
    for (T.First(); !T.Eof(); T.Next()) {
        Bytes += Field->AsString().size();
        ++Count;
    }
    if (Bytes == 0) std::printf("(no text read)\n");
    return Count;
}

void Report(const char* What, std::int64_t Count, const TTiming& T) {
    std::printf("%s: %.0f records/s   (%lld records in %.3f s wall, %.3f s CPU: %.0f records/s of CPU time)\n", What,
                static_cast<double>(Count) / T.Wall, static_cast<long long>(Count), T.Wall, T.Cpu,
                static_cast<double>(Count) / T.Cpu);
}

}  // namespace

int main(int argc, char** argv) {
    const std::int64_t N = argc > 1 ? std::atoll(argv[1]) : 200000;
    const char* Tmp = std::getenv("TMPDIR");
    const std::string Path = argc > 2 && *argv[2] ? argv[2]
                                      : std::string(Tmp && *Tmp ? Tmp : "/tmp") + "/tamblor-bench-" +
                                            std::to_string(N) + ".dat";
    const std::string Only = argc > 3 ? argv[3] : "";
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    int QtArgc = 1;
    QApplication App(QtArgc, argv);
    std::printf("walk benchmark: %lld records, table %s, Qt platform %s\n", static_cast<long long>(N), Path.c_str(),
                qPrintable(QApplication::platformName()));
    const double InsertRate = EnsureTable(Path, N);
    if (InsertRate > 0) std::printf("bulk insert: %.0f records/s\n", InsertRate);
    else std::printf("(table reused)\n");
    engine::RegisterEngineServer();

    // ---- baseline: the plain read through TMoneyTable ----
    std::int64_t Read = 0;
    TTiming Plain;
    {
        TMoneyTable T(nullptr);
        T.SetFileName(Path);
        T.Open();
        Plain = Measure([&] { Read = PlainRead(T, T.FieldByName("Payee")); });
    }
    Report("plain read", Read, Plain);

    // ---- the window ----
    TBenchDialogs Dialogs;
    StartTableName = Path;
    TTamblorBrowserForm Form(&Dialogs);
    Form.show();
    QApplication::processEvents();
    TMoneyTable* Table = Form.Table;
    if (!Table->Active()) {
        std::printf("the window could not open the table: %s\n",
                    Dialogs.Errors.empty() ? "?" : Dialogs.Errors[0].c_str());
        return 1;
    }
    std::printf("grid: %d rows visible\n", Form.DBGrid->VisibleRowCount());

    // ---- search walk: no record matches ----
    bool SearchOk = true, CountOk = true;
    TTiming Search, Count;
    if (Only.empty() || Only == "search") {
        Form.DBGrid->SetSelectedField(Table->FieldByName("Payee"));
        Table->First();
        Form.FFound = false;
        Form.FindDialog.FindText = "no such payee";
        Form.FindDialog.Down = true;
        Search = Measure([&] { Form.FindDialog.OnFind(); });
        SearchOk = Table->Eof() && !Form.FFound && Table->FieldByName("Seq")->AsInteger() == N;
        Report("search walk", N, Search);
        std::printf("search walk / plain read: %.2f (goals: >= 100000 records/s, >= 0.25 of the plain read)\n",
                    Plain.Wall / Search.Wall * static_cast<double>(N) / static_cast<double>(Read));
    }

    // ---- count walk: a post per record ----
    if (Only.empty() || Only == "count") {
        Form.DBGrid->SetSelectedField(Table->FieldByName("Seq"));
        Table->First();
        Dialogs.Answers = {"%d", "1", "1", "-1"};
        Count = Measure([&] { Form.Countfield1->trigger(); });
        CountOk = Table->Eof() && Table->State() == dsBrowse;
        Report("count walk", N, Count);
        std::printf("count walk goal: >= 5000 records/s\n");
    }

    for (const std::string& E : Dialogs.Errors) std::printf("error shown: %s\n", E.c_str());
    if (Read != N || !SearchOk || !CountOk || !Dialogs.Errors.empty()) {
        std::printf("MISMATCH: plain read %lld records; search %s; count %s\n", static_cast<long long>(Read),
                    SearchOk ? "ok" : "did not end on the last record", CountOk ? "ok" : "did not reach the end");
        return 1;
    }
    return 0;
}
