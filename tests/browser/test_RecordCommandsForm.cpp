// The record commands on the browser window: the menu items drive them, the
// dialogs are answered by a scripted TDialogs, the table is a real file made
// with the engine's schema API. Find-next presses, Esc and the range commands
// arrive as they would from the user, also in the middle of a walk.
#include "browser/MainForm.h"
#include "browser/RecordCommands.h"
#include "engine/Engine.h"

#include <QAction>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QScreen>
#include <QStatusBar>
#include <QTimer>
#include <QtTest/QtTest>

#include <cstdlib>
#include <deque>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <sstream>

namespace {

// Answers the window's dialogs from a script and records what was shown.
class TScriptedDialogs : public browser::TDialogs {
public:
    std::deque<std::optional<std::string>> Answers;  // input boxes; nullopt = Cancel
    std::vector<std::string> Prompts;                // "caption|prompt|preset"
    std::vector<std::string> Messages;
    std::vector<std::string> Errors;
    int FindShown = 0;

    bool ExecuteOpen(browser::TOpenDialog&, QWidget*) override { return false; }
    bool ExecuteSave(browser::TSaveDialog&, QWidget*) override { return false; }
    void ShowFind(browser::TFindDialog&, QWidget*) override { ++FindShown; }
    void CloseFind() override {}
    bool InputQuery(const std::string& Caption, const std::string& Prompt, std::string& Value, QWidget*) override {
        Prompts.push_back(Caption + "|" + Prompt + "|" + Value);
        if (Answers.empty()) return false;
        const std::optional<std::string> Answer = Answers.front();
        Answers.pop_front();
        if (!Answer) return false;
        Value = *Answer;
        return true;
    }
    void ShowMessage(const std::string& Text, QWidget*) override { Messages.push_back(Text); }
    void ShowError(const std::string& Text, QWidget*) override { Errors.push_back(Text); }
    bool Confirm(const std::string&, QWidget*) override { return true; }
};

// Counts the paint events of a widget.
class TPaintCounter : public QObject {
public:
    explicit TPaintCounter(QWidget* Widget) { Widget->installEventFilter(this); }
    int Paints = 0;

protected:
    bool eventFilter(QObject*, QEvent* Event) override {
        if (Event->type() == QEvent::Paint) ++Paints;
        return false;
    }
};

std::string ReadFile(const std::string& Path) {
    std::ifstream In(Path, std::ios::binary);
    std::stringstream Text;
    Text << In.rdbuf();
    return Text.str();
}

}  // namespace

class TestRecordCommandsForm : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();

    void searchThroughTheFindDialog();
    void secondFindNextStopsARunningSearch();
    void countFieldWritesTheSelectedColumn();
    void escStopsALongFillAndTheGridIsEnabledAgain();
    void longWalksEndAsSlowWalksWouldAndShowTheirProgress();
    void focusReturnsAfterWalksAndPrompts();
    void walksReportErrorsInTheErrorBox();
    void closingTheWindowStopsAWalkAndPostsAPendingEdit();
    void filterActiveWithEmptyRangeTexts();
    void uncheckingFilterActiveLiftsRangeAndFilter();
    void rangeCommandsReapplyWhenActive();
    void filterErrorsKeepTheMarkAndLeaveKeyEntry();
    void dumpHeaderCaptionAndFile();
    void aboutBox();

private:
    // Table PEOPLE: Name C 30, Code C 20, Num L; index 0 on Name, index 1 on
    // Num; Num = position of the name (1-based).
    void MakeTable(const std::vector<std::string>& Names);
    // A new window over the table (StartReadOnly as given); the grid's
    // selected column is Name.
    void OpenForm(bool ReadOnly = false);
    std::vector<std::string> Names();
    std::vector<std::string> FileColumn(const char* Column);
    // Sends Esc to the control that would receive it.
    void PressEsc();
    // The window shown and active, the grid focused.
    void ShowActive();
    // What the screen shows of the grid (the window's backing store, not a
    // fresh rendering), after pending paints.
    QImage GridOnScreen();
    // The grid's picture after Steps calls of Next from the first record, one
    // at a time, as a slow walk moves.
    QImage GridAfterSlowMoves(int Steps);

    std::string FDir;
    std::string FPath;
    TScriptedDialogs FDialogs;
    std::unique_ptr<TTamblorBrowserForm> FForm;
    QByteArray FOldTmpDir;
};

void TestRecordCommandsForm::initTestCase() {
    engine::RegisterEngineServer();
    FOldTmpDir = qgetenv("TMPDIR");
}

void TestRecordCommandsForm::init() {
    std::string Template = std::filesystem::temp_directory_path().string() + "/tamblor-form-XXXXXX";
    QVERIFY(::mkdtemp(Template.data()) != nullptr);
    FDir = Template;
    FPath = FDir + "/PEOPLE.dat";
    FDialogs = TScriptedDialogs{};
}

void TestRecordCommandsForm::cleanup() {
    FForm.reset();
    StartTableName.clear();
    StartReadOnly = false;
    if (FOldTmpDir.isNull()) qunsetenv("TMPDIR");
    else qputenv("TMPDIR", FOldTmpDir);
    std::error_code Ignored;
    std::filesystem::remove_all(FDir, Ignored);
}

void TestRecordCommandsForm::MakeTable(const std::vector<std::string>& Names) {
    engine::TableSchema Schema;
    Schema.Columns = {{"Name", 'C', 30, false}, {"Code", 'C', 20, false}, {"Num", 'L', 0, false}};
    Schema.Indexes = {engine::IndexSpec{{0}, false}, engine::IndexSpec{{2}, false}};
    engine::CreateTable(FPath, Schema);
    engine::BulkInserter Rows(FPath);
    int N = 0;
    for (const std::string& Name : Names)
        Rows.Add({engine::Value::Text(Name), engine::Value::Null(), engine::Value::Int(++N)});
    Rows.Commit();
}

void TestRecordCommandsForm::OpenForm(bool ReadOnly) {
    StartTableName = FPath;
    StartReadOnly = ReadOnly;
    FForm = std::make_unique<TTamblorBrowserForm>(&FDialogs);
    QVERIFY(FDialogs.Errors.empty());
    QVERIFY(FForm->Table->Active());
    FForm->DBGrid->SetSelectedField(FForm->Table->FieldByName("Name"));
}

std::vector<std::string> TestRecordCommandsForm::Names() {
    std::vector<std::string> Result;
    TMoneyTable* T = FForm->Table;
    for (T->First(); !T->Eof(); T->Next()) Result.push_back(T->FieldByName("Name")->AsString());
    return Result;
}

std::vector<std::string> TestRecordCommandsForm::FileColumn(const char* Column) {
    TMoneyTable Reader(nullptr);
    Reader.SetFileName(FPath);
    Reader.Open();
    std::vector<std::string> Values;
    for (Reader.First(); !Reader.Eof(); Reader.Next()) Values.push_back(Reader.FieldByName(Column)->AsString());
    return Values;
}

void TestRecordCommandsForm::PressEsc() {
    QWidget* Target = QApplication::focusWidget() != nullptr ? QApplication::focusWidget() : FForm.get();
    QTest::keyClick(Target, Qt::Key_Escape);
}

void TestRecordCommandsForm::ShowActive() {
    FForm->show();
    FForm->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(FForm.get()));
    FForm->DBGrid->setFocus();
    QCOMPARE(QApplication::focusWidget(), static_cast<QWidget*>(FForm->DBGrid));
}

QImage TestRecordCommandsForm::GridOnScreen() {
    QCoreApplication::processEvents();
    const QImage Window = FForm->screen()->grabWindow(FForm->winId()).toImage();
    return Window.copy(QRect(FForm->DBGrid->mapTo(FForm.get(), QPoint(0, 0)), FForm->DBGrid->size()));
}

QImage TestRecordCommandsForm::GridAfterSlowMoves(int Steps) {
    TMoneyTable* T = FForm->Table;
    T->First();
    for (int I = 0; I < Steps; ++I) T->Next();
    return GridOnScreen();
}

// ---------------------------------------------------------------- search

void TestRecordCommandsForm::searchThroughTheFindDialog() {
    MakeTable({"Adams", "SMITH", "Jones", "Smithson"});
    OpenForm();
    TMoneyTable* T = FForm->Table;
    QVERIFY(FForm->Search1->isEnabled());
    FForm->FFound = true;
    FForm->Search1->trigger();
    QCOMPARE(FDialogs.FindShown, 1);
    QVERIFY(!FForm->FFound);  // the current record is tested first
    QVERIFY(FForm->FindDialog.Down && FForm->FindDialog.HideWholeWord);
    FForm->FindDialog.FindText = "smith";
    FForm->FindDialog.OnFind();
    QCOMPARE(T->RecNo(), 2);
    QVERIFY(FForm->FFound);
    // With match case "smith" is not there: the search runs to the end.
    FForm->FindDialog.MatchCase = true;
    FForm->FindDialog.OnFind();
    QCOMPARE(T->RecNo(), 4);
    QVERIFY(!FForm->FFound);
    // Upwards, without match case, a star pattern.
    FForm->FindDialog.MatchCase = false;
    FForm->FindDialog.Down = false;
    FForm->FindDialog.FindText = "ad*";
    FForm->FindDialog.OnFind();
    QCOMPARE(T->RecNo(), 1);
    QVERIFY(FForm->FFound);
    QVERIFY(FDialogs.Errors.empty());
    // The search works on the grid's selected column.
    FForm->DBGrid->SetSelectedField(T->FieldByName("Num"));
    FForm->FindDialog.Down = true;
    FForm->FindDialog.FindText = "3";
    FForm->FFound = false;
    FForm->FindDialog.OnFind();
    QCOMPARE(T->RecNo(), 3);
}

void TestRecordCommandsForm::secondFindNextStopsARunningSearch() {
    std::vector<std::string> People(200, "nobody");
    People.push_back("target");
    MakeTable(People);
    OpenForm();
    // The second press arrives through the message processing of the first
    // search and only stops it.
    int Presses = 0;
    QTimer::singleShot(0, FForm.get(), [&] {
        ++Presses;
        FForm->FindDialog.OnFind();
        QCOMPARE(FForm->FSearching, 1u);
    });
    FForm->FindDialog.FindText = "target";
    FForm->FindDialog.OnFind();
    QCOMPARE(Presses, 1);
    QVERIFY(!FForm->FFound);
    QVERIFY(FForm->Table->RecNo() < 10);
    QCOMPARE(FForm->FSearching, 0u);
    // A further press searches on to the hit.
    FForm->FindDialog.OnFind();
    QVERIFY(FForm->FFound);
    QCOMPARE(FForm->Table->RecNo(), 201);
    // Esc stops a search as well.
    FForm->Table->First();
    FForm->FFound = false;
    QTimer::singleShot(0, FForm.get(), [&] { PressEsc(); });
    FForm->FindDialog.OnFind();
    QVERIFY(!FForm->FFound);
    QVERIFY(FForm->Table->RecNo() < 10);
    QVERIFY(FDialogs.Errors.empty());
}

// ---------------------------------------------------------------- count and fill

void TestRecordCommandsForm::countFieldWritesTheSelectedColumn() {
    MakeTable({"a", "b", "c", "d", "e"});
    OpenForm();
    FForm->DBGrid->SetSelectedField(FForm->Table->FieldByName("Code"));
    FForm->Table->Next();
    FDialogs.Answers = {"INV-%d", "100", "10", "3"};
    FForm->Countfield1->trigger();
    QVERIFY(FDialogs.Errors.empty());
    QCOMPARE(FDialogs.Prompts,
             (std::vector<std::string>{"Input|Counting mask (Format procedure mask with one %d parameter)|%d",
                                       "Input|Start number|1", "Input|Increment|1", "Input|Count (-1..infinity)|0"}));
    QCOMPARE(FForm->Table->RecNo(), 5);
    QCOMPARE(FileColumn("Code"), (std::vector<std::string>{"", "INV-100", "INV-110", "INV-120", ""}));
    // A bad number: the error box, nothing written.
    FDialogs.Answers = {"%d", "x1"};
    FForm->Table->First();
    FForm->Countfield1->trigger();
    QCOMPARE(FDialogs.Errors, (std::vector<std::string>{"'x1' is not a valid integer value"}));
    QCOMPARE(FileColumn("Code")[0], std::string());
    // A bad mask: the error box, the first record left in edit.
    FDialogs.Errors.clear();
    FDialogs.Answers = {"%s", "1", "1", "-1"};
    FForm->Countfield1->trigger();
    QCOMPARE(FDialogs.Errors, (std::vector<std::string>{"Format '%s' invalid or incompatible with argument"}));
    QCOMPARE(FForm->Table->State(), dsEdit);
    FForm->Table->Cancel();
}

void TestRecordCommandsForm::escStopsALongFillAndTheGridIsEnabledAgain() {
    MakeTable(std::vector<std::string>(400, "n"));
    OpenForm();
    FForm->show();
    FForm->DBGrid->SetSelectedField(FForm->Table->FieldByName("Code"));
    bool BusyDuringWalk = false;
    // Esc arrives through the message processing after the first record.
    QTimer::singleShot(0, FForm.get(), [&] {
        BusyDuringWalk = !FForm->DBGrid->isEnabled() && !FForm->DBMemo1->isEnabled();
        PressEsc();
    });
    FDialogs.Answers = {"filled", "-1"};
    FForm->Fillfieldinrecords1->trigger();
    QVERIFY(FDialogs.Errors.empty());
    QVERIFY(BusyDuringWalk);
    QVERIFY(FForm->DBGrid->isEnabled() && FForm->DBMemo1->isEnabled());
    QVERIFY(FForm->FStop);
    const std::vector<std::string> Codes = FileColumn("Code");
    const auto Filled = std::count(Codes.begin(), Codes.end(), "filled");
    QVERIFY(Filled >= 1 && Filled < 20);
    QCOMPARE(Codes[static_cast<std::size_t>(Filled) - 1], std::string("filled"));
    QCOMPARE(Codes[static_cast<std::size_t>(Filled)], std::string());
    QCOMPARE(FForm->Table->RecNo(), static_cast<int>(Filled) + 1);
    // "Count field" keeps the grid enabled and is stopped by Esc likewise.
    bool EnabledDuringCount = false;
    QTimer::singleShot(0, FForm.get(), [&] {
        EnabledDuringCount = FForm->DBGrid->isEnabled();
        PressEsc();
    });
    FDialogs.Answers = {"%d", "1", "1", "-1"};
    FForm->Countfield1->trigger();
    QVERIFY(EnabledDuringCount);
    const std::vector<std::string> After = FileColumn("Code");
    QCOMPARE(After[static_cast<std::size_t>(Filled)], std::string("1"));
    QVERIFY(After[399].empty());
}

void TestRecordCommandsForm::longWalksEndAsSlowWalksWouldAndShowTheirProgress() {
    const int N = 3000;
    std::vector<std::string> People;
    for (int I = 1; I <= N; ++I) People.push_back("p" + std::to_string(I));
    MakeTable(People);
    OpenForm();
    ShowActive();
    TMoneyTable* T = FForm->Table;
    TPaintCounter Grid(FForm->DBGrid->viewport());

    // A search that hits near the end, and one that runs to the end: the
    // cursor and the grid on screen as a slow walk would leave them.
    FForm->FindDialog.FindText = "P2500";
    FForm->FindDialog.OnFind();
    QVERIFY(FForm->FFound);
    QCOMPARE(T->RecNo(), 2500);
    const QImage Hit = GridOnScreen();
    QCOMPARE(Hit, GridAfterSlowMoves(2499));
    QCOMPARE(T->RecNo(), 2500);
    FForm->FindDialog.FindText = "nobody";
    FForm->FindDialog.OnFind();
    QVERIFY(!FForm->FFound);
    QVERIFY(T->Eof());
    QCOMPARE(T->RecNo(), N);
    const QImage End = GridOnScreen();
    QVERIFY(End != Hit);
    QCOMPARE(End, GridAfterSlowMoves(N));  // the last move only sets Eof

    // "Count field" from the first record to the end: the values a slow walk
    // writes, the cursor on the last record; meanwhile the busy cursor, the
    // count in the status bar and the grid repainted at most about 30 times
    // a second, then once more at the end.
    FForm->DBGrid->SetSelectedField(T->FieldByName("Code"));
    T->First();
    QCoreApplication::processEvents();
    QVERIFY(FForm->StatusBar1->currentMessage().isEmpty());
    QVERIFY(QApplication::overrideCursor() == nullptr);
    QString Status;
    Qt::CursorShape Shape = Qt::ArrowCursor;
    QTimer::singleShot(50, FForm.get(), [&] {
        Status = FForm->StatusBar1->currentMessage();
        Shape = QApplication::overrideCursor() != nullptr ? QApplication::overrideCursor()->shape() : Qt::ArrowCursor;
    });
    FDialogs.Answers = {"C%d", "1", "1", "-1"};
    Grid.Paints = 0;
    QElapsedTimer Clock;
    Clock.start();
    FForm->Countfield1->trigger();
    const qint64 Elapsed = Clock.elapsed();
    const int PaintsDuring = Grid.Paints;
    QVERIFY(FDialogs.Errors.empty());
    QVERIFY(T->Eof());
    QCOMPARE(T->RecNo(), N);
    std::vector<std::string> Written;
    for (int I = 1; I <= N; ++I) Written.push_back("C" + std::to_string(I));
    QCOMPARE(FileColumn("Code"), Written);
    QVERIFY2(Status.startsWith(QStringLiteral("Counting: ")) && Status.endsWith(QStringLiteral(" records visited")),
             qPrintable(Status));
    const int Visited = Status.section(QLatin1Char(' '), 1, 1).toInt();
    QVERIFY2(Visited > 0 && Visited < N, qPrintable(Status));
    QCOMPARE(Shape, Qt::BusyCursor);
    QVERIFY(QApplication::overrideCursor() == nullptr);
    QVERIFY(FForm->StatusBar1->currentMessage().isEmpty());
    QVERIFY2(PaintsDuring <= Elapsed / 30 + 2,
             qPrintable(QStringLiteral("%1 paints in %2 ms").arg(PaintsDuring).arg(Elapsed)));
    const QImage Counted = GridOnScreen();
    QCOMPARE(Grid.Paints, PaintsDuring + 1);
    QCOMPARE(Counted, GridAfterSlowMoves(N));

    // Esc in the middle of a long walk stops it after the current record.
    FForm->DBGrid->SetSelectedField(T->FieldByName("Name"));
    T->First();
    QTimer::singleShot(30, FForm.get(), [&] { PressEsc(); });
    FDialogs.Answers = {"filled", "-1"};
    FForm->Fillfieldinrecords1->trigger();
    QVERIFY(FDialogs.Errors.empty());
    const std::vector<std::string> Names = FileColumn("Name");
    const auto Filled = std::count(Names.begin(), Names.end(), "filled");
    QVERIFY(Filled >= 1 && Filled < N);
    QCOMPARE(Names[static_cast<std::size_t>(Filled) - 1], std::string("filled"));
    QCOMPARE(Names[static_cast<std::size_t>(Filled)], "p" + std::to_string(Filled + 1));
    QCOMPARE(T->RecNo(), static_cast<int>(Filled) + 1);
}

void TestRecordCommandsForm::focusReturnsAfterWalksAndPrompts() {
    MakeTable({"a", "b", "c", "d"});
    OpenForm();
    ShowActive();
    QWidget* Grid = FForm->DBGrid;
    // Fill disables the grid while it runs; the focus comes back to it.
    FDialogs.Answers = {"x", "2"};
    FForm->Fillfieldinrecords1->trigger();
    QCOMPARE(FileColumn("Name"), (std::vector<std::string>{"x", "x", "c", "d"}));
    QCOMPARE(QApplication::focusWidget(), Grid);
    FDialogs.Answers = {"%d", "1", "1", "1"};
    FForm->Countfield1->trigger();
    QCOMPARE(QApplication::focusWidget(), Grid);
    FForm->FindDialog.FindText = "d";
    FForm->FindDialog.OnFind();
    QVERIFY(FForm->FFound);
    QCOMPARE(QApplication::focusWidget(), Grid);
    // A prompt cancelled, a prompt answered.
    FDialogs.Answers = {std::nullopt, "Num > 1"};
    FForm->FilterString1->trigger();
    FForm->FilterString1->trigger();
    QCOMPARE(FForm->Table->Filter(), std::string("Num > 1"));
    QCOMPARE(QApplication::focusWidget(), Grid);
    // The key search box keeps the focus when it had it.
    FForm->Edit1->setFocus();
    FDialogs.Answers = {"y", "1"};
    FForm->Fillfieldinrecords1->trigger();
    QCOMPARE(QApplication::focusWidget(), static_cast<QWidget*>(FForm->Edit1));
    QVERIFY(FDialogs.Errors.empty());
}

void TestRecordCommandsForm::closingTheWindowStopsAWalkAndPostsAPendingEdit() {
    {
        engine::TableSchema Schema;
        Schema.Columns = {{"Name", 'C', 30, false}, {"Code", 'C', 20, false}};
        Schema.Indexes = {engine::IndexSpec{{0}, true}};
        engine::CreateTable(FPath, Schema);
        engine::BulkInserter Rows(FPath);
        for (int I = 0; I < 400; ++I) Rows.Add({engine::Value::Text("n" + std::to_string(1000 + I)), engine::Value::Null()});
        Rows.Commit();
    }
    OpenForm();
    FForm->show();
    FForm->DBGrid->SetSelectedField(FForm->Table->FieldByName("Code"));
    // The window is closed through the message processing after the first
    // record: the walk stops there.
    QTimer::singleShot(0, FForm.get(), [&] { FForm->close(); });
    FDialogs.Answers = {"filled", "-1"};
    FForm->Fillfieldinrecords1->trigger();
    QVERIFY(FDialogs.Errors.empty());
    QVERIFY(!FForm->isVisible());
    std::vector<std::string> Codes = FileColumn("Code");
    const auto Filled = std::count(Codes.begin(), Codes.end(), "filled");
    QVERIFY(Filled >= 1 && Filled < 20);

    // An edit not yet posted is posted by the close.
    FForm->show();
    FForm->Table->Last();
    FForm->Table->Edit();
    FForm->Table->FieldByName("Code")->SetAsString("pending");
    QVERIFY(FForm->close());
    QCOMPARE(FForm->Table->State(), dsBrowse);
    QCOMPARE(FileColumn("Code").back(), std::string("pending"));

    // A post that fails keeps the window open, the record in its insert
    // state and the error in the error box.
    FForm->show();
    FForm->Table->Append();
    FForm->Table->FieldByName("Name")->SetAsString("n1000");
    QVERIFY(!FForm->close());
    QVERIFY(FForm->isVisible());
    QCOMPARE(FForm->Table->State(), dsInsert);
    QCOMPARE(FDialogs.Errors.size(), std::size_t(1));
    QCOMPARE(FDialogs.Errors[0],
             "Key violation: the unique index 'Name' of table '" + FPath + "' already holds this key");
    FForm->Table->Cancel();
    QVERIFY(FForm->close());
    QCOMPARE(FileColumn("Name").size(), std::size_t(400));
}

void TestRecordCommandsForm::walksReportErrorsInTheErrorBox() {
    MakeTable({"a", "b"});
    OpenForm(true);
    FDialogs.Answers = {"x", "-1"};
    FForm->Fillfieldinrecords1->trigger();
    QCOMPARE(FDialogs.Errors, (std::vector<std::string>{"Cannot modify a read-only dataset"}));
    QVERIFY(FForm->DBGrid->isEnabled() && FForm->DBMemo1->isEnabled());
    // The walk's busy cursor and status message went with it.
    QVERIFY(QApplication::overrideCursor() == nullptr);
    QVERIFY(FForm->StatusBar1->currentMessage().isEmpty());
    QVERIFY(FForm->DBGrid->updatesEnabled());
    // On a closed table every walk ends with the framework's error.
    FForm->Table->Close();
    FDialogs.Errors.clear();
    FDialogs.Prompts.clear();
    FForm->Countfield1->trigger();
    FForm->Fillfieldinrecords1->trigger();
    FForm->FindDialog.FindText = "a";
    FForm->FindDialog.OnFind();
    QCOMPARE(FDialogs.Errors, std::vector<std::string>(3, "Cannot perform this operation on a closed dataset"));
    QVERIFY(FDialogs.Prompts.empty());
    QVERIFY(!FForm->Search1->isEnabled());
}

// ---------------------------------------------------------------- range and filter

void TestRecordCommandsForm::filterActiveWithEmptyRangeTexts() {
    MakeTable({"Adams", "", "Brown"});
    OpenForm();
    FForm->Table->SetIndexFieldNames("Name");
    QVERIFY(FForm->FRangeStartText.empty() && FForm->FRangeEndText.empty());
    FForm->Filter->trigger();  // Ctrl+F: checks the item
    QVERIFY(FDialogs.Errors.empty());
    QVERIFY(FForm->Filter->isChecked());
    QCOMPARE(FForm->Table->State(), dsBrowse);
    QVERIFY(!FForm->Table->Filtered());
    // The range's first key field is the empty string.
    QCOMPARE(Names(), (std::vector<std::string>{""}));
    const int StartCount = FForm->Table->GetMKeyBuffer(FForm->Table->KeyBuffers(mkiRangeStart))->FieldCount;
    QCOMPARE(StartCount, 1);
}

void TestRecordCommandsForm::uncheckingFilterActiveLiftsRangeAndFilter() {
    MakeTable({"Adams", "Brown", "Clark", "Davis", "Evans"});
    OpenForm();
    FForm->Table->SetIndexFieldNames("Name");
    FDialogs.Answers = {"Num <> 3"};
    FForm->FilterString1->trigger();
    QCOMPARE(FDialogs.Prompts, (std::vector<std::string>{"Input|Filter expression|"}));
    QCOMPARE(FForm->Table->Filter(), std::string("Num <> 3"));
    QVERIFY(!FForm->Table->Filtered());  // "Set filter" does not put it in force
    QCOMPARE(Names().size(), std::size_t(5));
    FForm->FRangeStartText = "B";
    FForm->FRangeEndText = "Davis";
    FForm->Filter->trigger();
    QVERIFY(FForm->Filter->isChecked());
    QVERIFY(FForm->Table->Filtered());
    QCOMPARE(Names(), (std::vector<std::string>{"Brown", "Davis"}));
    // Unchecking lifts both.
    FForm->Filter->trigger();
    QVERIFY(!FForm->Filter->isChecked());
    QVERIFY(!FForm->Table->Filtered());
    QCOMPARE(Names().size(), std::size_t(5));
    // "Set filter" presets the current text; Cancel changes nothing.
    FDialogs.Prompts.clear();
    FDialogs.Answers = {std::nullopt};
    FForm->FilterString1->trigger();
    QCOMPARE(FDialogs.Prompts, (std::vector<std::string>{"Input|Filter expression|Num <> 3"}));
    QCOMPARE(FForm->Table->Filter(), std::string("Num <> 3"));
    QVERIFY(FDialogs.Errors.empty());
}

void TestRecordCommandsForm::rangeCommandsReapplyWhenActive() {
    MakeTable({"Adams", "Brown", "Clark", "Davis", "Evans"});
    OpenForm();
    FForm->Table->SetIndexFieldNames("Name");
    // Inactive: the texts are only stored.
    FDialogs.Answers = {"B", "C"};
    FForm->Rangestart1->trigger();
    FForm->Rangeend1->trigger();
    QCOMPARE(FDialogs.Prompts, (std::vector<std::string>{"Input|Range start|", "Input|Range end|"}));
    QCOMPARE(FForm->FRangeStartText, std::string("B"));
    QCOMPARE(FForm->FRangeEndText, std::string("C"));
    QCOMPARE(Names().size(), std::size_t(5));
    FForm->Filter->trigger();
    QCOMPARE(Names(), (std::vector<std::string>{"Brown"}));
    // Active: each new text is applied at once.
    FDialogs.Prompts.clear();
    FDialogs.Answers = {"Evans", "Clark"};
    FForm->Rangeend1->trigger();
    QCOMPARE(Names(), (std::vector<std::string>{"Brown", "Clark", "Davis", "Evans"}));
    FForm->Rangestart1->trigger();
    QCOMPARE(Names(), (std::vector<std::string>{"Clark", "Davis", "Evans"}));
    QCOMPARE(FDialogs.Prompts, (std::vector<std::string>{"Input|Range end|C", "Input|Range start|B"}));
    // Cancel keeps text and range.
    FDialogs.Answers = {std::nullopt};
    FForm->Rangestart1->trigger();
    QCOMPARE(FForm->FRangeStartText, std::string("Clark"));
    QCOMPARE(Names().size(), std::size_t(3));
    QVERIFY(FForm->Filter->isChecked());
    QVERIFY(FDialogs.Errors.empty());
}

void TestRecordCommandsForm::filterErrorsKeepTheMarkAndLeaveKeyEntry() {
    MakeTable({"a", "b", "c"});
    OpenForm();
    FForm->Table->SetIndexFieldNames("Num");
    FForm->FRangeStartText = "1";
    FForm->FRangeEndText = "two";
    FForm->Filter->trigger();
    QCOMPARE(FDialogs.Errors, (std::vector<std::string>{"'two' is not a valid integer value for field 'Num'"}));
    QVERIFY(FForm->Filter->isChecked());
    QCOMPARE(FForm->Table->State(), dsBrowse);
    // The table is usable: a good text through "Range end" applies the range.
    FDialogs.Errors.clear();
    FDialogs.Answers = {"2"};
    FForm->Rangeend1->trigger();
    QVERIFY(FDialogs.Errors.empty());
    QCOMPARE(Names(), (std::vector<std::string>{"a", "b"}));
}

// ---------------------------------------------------------------- dump and About

void TestRecordCommandsForm::dumpHeaderCaptionAndFile() {
    qputenv("TMPDIR", QByteArray::fromStdString(FDir));
    MakeTable({"a"});
    OpenForm();
    const std::string Dump = FDir + "/DUMP.TXT";
    QCOMPARE(FForm->Dumpheader1->text().toStdString(), "Dump header to " + Dump);
    QCOMPARE(browser::DumpFileName(), Dump);
    // The file is not created: the error box says so.
    FForm->Dumpheader1->trigger();
    QCOMPARE(FDialogs.Errors, (std::vector<std::string>{"File not found"}));
    QVERIFY(!std::filesystem::exists(Dump));
    // An existing file is appended to; nothing is shown.
    FDialogs.Errors.clear();
    std::ofstream(Dump, std::ios::binary) << "earlier\r\n";
    FForm->Dumpheader1->trigger();
    FForm->Dumpheader1->trigger();
    QVERIFY(FDialogs.Errors.empty());
    QVERIFY(FDialogs.Messages.empty());
    const std::string Text = ReadFile(Dump);
    const std::string Head = FPath + "\r\nByte1: 01, Header: BFT1, FieldCount: 3 ";
    QCOMPARE(Text.rfind("earlier\r\n" + Head, 0), std::size_t(0));
    QVERIFY(Text.find(Head, 9 + Head.size()) != std::string::npos);  // the second dump
}

void TestRecordCommandsForm::aboutBox() {
    MakeTable({"a"});
    OpenForm();
    FForm->About1->trigger();
    QCOMPARE(FDialogs.Messages.size(), std::size_t(1));
    const QStringList Lines = QString::fromStdString(FDialogs.Messages[0]).split(QStringLiteral("\r\n"));
    QCOMPARE(Lines.size(), 4);
    QVERIFY(Lines[0].contains(QStringLiteral("Tallowmere")));
    QVERIFY(Lines[1].contains(QStringLiteral("version 1.0.0")));
    QVERIFY(FDialogs.Messages[0].find("README") != std::string::npos);
    QVERIFY(FDialogs.Errors.empty());
}

QTEST_MAIN(TestRecordCommandsForm)
#include "test_RecordCommandsForm.moc"
