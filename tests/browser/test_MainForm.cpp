// Tests of the browser window TTamblorBrowserForm, driven through its menu,
// shortcuts, keys and scripted dialogs on real table files: start with and
// without a table, opening in the window and in a second copy, read-only
// tables, the fields menu, the memo pane, editing that reaches the file,
// scrolling a large table, the index list, the key search box and export;
// the conveniences: copying to the clipboard, ordering by a column title,
// opening a dropped file, the status line and a dark desktop palette.
#include "browser/CmdLine.h"
#include "browser/MainForm.h"
#include "tests/browser/BrowserTestKit.h"

#include <QAction>
#include <QClipboard>
#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QScrollBar>
#include <QStatusBar>
#include <QSplitter>
#include <QToolButton>
#include <QtTest/QtTest>

using namespace browser::test;
using controls::TNavigateBtn;

class TestMainForm : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void startWithoutATable();
    void missingStartTableShowsTheErrorAndOpensTheWindow();
    void openTableThroughTheMenu();
    void newTableStartsASecondCopy();
    void readOnlyTableHidesEditPostCancel();
    void fieldsMenuHidesAndShowsFields();
    void memoPaneFollowsTheSelectedColumn();
    void editingACellReachesTheFile();
    void scrollingALargeTableReadsOnlyTheWindow();
    void choosingAnIndexReorders();
    void keySearchBox();
    void exportWritesTheVisibleFields();
    void exportEdges();
    void clipboardTextOfACellAndOfARecord();
    void columnTitleChoosesTheIndex();
    void droppedFileOpensAsOpenTableWould();
    void statusLineFollowsTheTable();
    void darkPaletteStaysReadable();

private:
    TTempFolder FFolder;
    std::string FPeople;
};

void TestMainForm::initTestCase() {
    engine::RegisterEngineServer();
    QCoreApplication::setApplicationName(QStringLiteral("Tallowmere"));
    FPeople = FFolder.File("people.dat");
    MakePeople(FPeople);
}

void TestMainForm::startWithoutATable() {
    TWindow W("");
    QCOMPARE(W->windowTitle(), QString("Tallowmere"));
    QVERIFY(!W->Table->Active());
    QVERIFY(!W->Search1->isEnabled());
    QVERIFY(!W->FieldsSubMenu->menuAction()->isEnabled());
    QCOMPARE(W->IndexComboBox->count(), 0);
    QCOMPARE(W->DBGrid->ColumnCount(), 0);
    QVERIFY(W->DBMemo1->isHidden());
    QVERIFY(!W->DBMemo1->AutoDisplay());
    QVERIFY(W->windowState() & Qt::WindowMaximized);
    QVERIFY(!W->RecNo->isEnabled());
    QVERIFY(W.Dialogs.Errors.empty());

    // The menu, top to bottom: caption, shortcut, tag, enabled.
    QStringList Items;
    for (QAction* A : W->PopupMenu1->actions()) {
        if (A->isSeparator()) {
            Items << "-";
            continue;
        }
        Items << QStringLiteral("%1|%2|%3|%4")
                     .arg(A->text(), A->shortcut().toString())
                     .arg(browser::Tag(A))
                     .arg(A->isEnabled() ? "on" : "off");
    }
    const QString Dump = QString::fromStdString("Dump header to " + browser::DumpFileName());
    QCOMPARE(Items, (QStringList{"New table...|Ctrl+N|1|on", "Open table..|Ctrl+O|0|on", "-",
                                 "Search...|Ctrl+S|0|off", "Export TAB delimited...||1|on", "Export to CSV..||2|on",
                                 "-", "Memo on/off|Ctrl+M|0|on", "Count field||0|on", "Fill field in records||0|on",
                                 "Fields||0|off", Dump + "|Ctrl+D|0|on", "-", "Filter active|Ctrl+F|0|on",
                                 "Range start||0|on", "Range end||0|on", "Set filter|Ctrl+Shift+F|0|on", "-",
                                 "About...||0|on"}));
    QVERIFY(W->Filter->isCheckable() && !W->Filter->isChecked());
    QVERIFY(W->FRangeStartText.empty() && W->FRangeEndText.empty() && !W->FStop);

    // The grid has the focus; the tab order runs to the key box, the index
    // list and the navigator (the memo is hidden, RecNo disabled).
    QCOMPARE(QApplication::focusWidget(), static_cast<QWidget*>(W->DBGrid));
    W.Key(Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget(), static_cast<QWidget*>(W->Edit1));
    W.Key(Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget(), static_cast<QWidget*>(W->IndexComboBox));
    W.Key(Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget(), static_cast<QWidget*>(W->DBNavigator1));

    // Key preview: Esc anywhere sets FStop.
    W->Edit1->setFocus();
    W.Key(Qt::Key_Escape);
    QVERIFY(W->FStop);

    // Shortcuts work from a line edit too, and a command on the closed table
    // ends with the framework's error.
    W.Key(Qt::Key_M, Qt::ControlModifier);
    QVERIFY(!W->DBMemo1->isHidden());
    QVERIFY(W->DBMemo1->AutoDisplay());
    W.Key(Qt::Key_M, Qt::ControlModifier);
    QVERIFY(W->DBMemo1->isHidden());
    QVERIFY(!W->DBMemo1->AutoDisplay());
    W->Edit1->setText("x");
    W.Key(Qt::Key_Return);  // no index: the key box does nothing
    QVERIFY(W.Dialogs.Errors.empty());

    // Handler errors: the message in the error box, EAbort silent, and the
    // controls' boxes go the same way while the window exists.
    QVERIFY(!W->Guard([] { throw EAbort(); }));
    QVERIFY(W.Dialogs.Errors.empty());
    QVERIFY(!W->Guard([] { throw EConvertError("bad value"); }));
    QVERIFY(W->Guard([] {}));
    controls::ShowError("from a control");
    QVERIFY(controls::Confirm("Delete record?"));
    W.Dialogs.ConfirmAnswer = false;
    QVERIFY(!controls::Confirm("Delete record?"));
    QCOMPARE(W.Dialogs.Errors, (std::vector<std::string>{"bad value", "from a control"}));
    QCOMPARE(W.Dialogs.Questions, (std::vector<std::string>{"Delete record?", "Delete record?"}));
}

void TestMainForm::missingStartTableShowsTheErrorAndOpensTheWindow() {
    const std::string Missing = FFolder.File("nothere.dat");
    TWindow W(Missing);
    QCOMPARE(W.Dialogs.Errors, std::vector<std::string>{"Table file '" + Missing + "' does not exist"});
    QCOMPARE(W->windowTitle(), QString::fromStdString("Tallowmere [" + Missing + "]"));
    QVERIFY(W->isVisible());
    QVERIFY(!W->Table->Active());
    QVERIFY(!W->FieldsSubMenu->menuAction()->isEnabled());
    QVERIFY(!W->Search1->isEnabled());
    // The open dialog starts at the name given.
    QCOMPARE(W->OpenDialog.FileName, Missing);
    QVERIFY(!W->OpenDialog.ReadOnlyChecked);
}

void TestMainForm::openTableThroughTheMenu() {
    TWindow W("");
    W.Dialogs.OpenAnswers.push_back(TScriptedDialogs::TOpenAnswer{FPeople, false});
    W.Key(Qt::Key_O, Qt::ControlModifier);
    QCOMPARE(W.Dialogs.OpenShown.size(), std::size_t(1));
    QCOMPARE(W.Dialogs.OpenShown[0].Title, std::string("Open table"));
    QVERIFY(W.Dialogs.Errors.empty());
    QVERIFY(W->Table->Active());
    QCOMPARE(W->windowTitle(), QString::fromStdString("Tallowmere [" + FPeople + "]"));
    QCOMPARE(StartTableName, FPeople);
    QVERIFY(W->Search1->isEnabled());
    QVERIFY(W->FieldsSubMenu->menuAction()->isEnabled());
    QCOMPARE(W.FieldItems(),
             (std::vector<std::string>{"_RECNO_+", "Last+", "First+", "Amount+", "Note+", "P&&L+"}));
    QCOMPARE(W.IndexItems(), (QStringList{"<no index>", "Last;First", "Amount"}));
    QCOMPARE(W->IndexComboBox->currentIndex(), 0);
    QCOMPARE(W->DBGrid->ColumnCount(), 6);
    QCOMPARE(W.Cell(2, "First"), std::string("John"));
    QCOMPARE(W->DBMemo1->DataField(), std::string("_RECNO_"));
    QVERIFY(W->RecNo->text().isEmpty());

    // A second table: menu and index list rebuilt, natural order again.
    W.ChooseIndex(2);
    QCOMPARE(W->Table->IndexFieldNames(), std::string("Amount"));
    const std::string Other = FFolder.File("codes.dat");
    MakeTable(Other, {Column("Code", 'C', 5)}, {Index({0})}, {{T("b")}, {T("a")}});
    W.Dialogs.OpenAnswers.push_back(TScriptedDialogs::TOpenAnswer{Other, true});
    W->Opentable1->trigger();
    QVERIFY(W.Dialogs.Errors.empty());
    QCOMPARE(W.FieldItems(), (std::vector<std::string>{"_RECNO_+", "Code+"}));
    QCOMPARE(W.IndexItems(), (QStringList{"<no index>", "Code"}));
    QCOMPARE(W->IndexComboBox->currentIndex(), 0);
    QCOMPARE(W->Table->IndexFieldNames(), std::string());
    QVERIFY(W->Table->ReadOnly());
    QCOMPARE(W.Cell(0, "Code"), std::string("b"));
    QCOMPARE(W->windowTitle(), QString::fromStdString("Tallowmere [" + Other + "]"));
    // The dialog kept the last file and read-only state for its next use.
    QCOMPARE(W->OpenDialog.FileName, Other);
    QVERIFY(W->OpenDialog.ReadOnlyChecked);

    // Cancel changes nothing.
    W->Opentable1->trigger();
    QCOMPARE(W.Dialogs.OpenShown.size(), std::size_t(3));
    QVERIFY(W->Table->Active());
    QCOMPARE(W->Table->FileName(), Other);

    // A file that is not a table: the error box, the table closed, the menu
    // following it.
    const std::string NotATable = FFolder.File("text.dat");
    {
        QFile F(QString::fromStdString(NotATable));
        QVERIFY(F.open(QIODevice::WriteOnly));
        F.write("plain text, not a table\n");
    }
    W.Dialogs.OpenAnswers.push_back(TScriptedDialogs::TOpenAnswer{NotATable, false});
    W->Opentable1->trigger();
    QCOMPARE(W.Dialogs.Errors.size(), std::size_t(1));
    QVERIFY(!W->Table->Active());
    QVERIFY(!W->FieldsSubMenu->menuAction()->isEnabled());
    QVERIFY(!W->Search1->isEnabled());
    QCOMPARE(W->DBMemo1->DataField(), std::string());
    QCOMPARE(W->windowTitle(), QString::fromStdString("Tallowmere [" + NotATable + "]"));
}

void TestMainForm::newTableStartsASecondCopy() {
    TWindow W("");
    W.Dialogs.OpenAnswers.push_back(TScriptedDialogs::TOpenAnswer{FPeople, true});
    W.Key(Qt::Key_N, Qt::ControlModifier);
    QCOMPARE(W.Started.size(), std::size_t(1));
    QCOMPARE(W.Started[0].Program, QCoreApplication::applicationFilePath());
    QCOMPARE(W.Started[0].Arguments, (QStringList{QString::fromStdString(FPeople), "-RO"}));
    // This window and its table are not touched.
    QVERIFY(!W->Table->Active());
    QCOMPARE(W->windowTitle(), QString("Tallowmere"));
    QCOMPARE(StartTableName, FPeople);

    // Without the read-only box; a name with blanks stays one argument.
    const std::string Spaced = FFolder.File("my book.dat");
    W.Dialogs.OpenAnswers.push_back(TScriptedDialogs::TOpenAnswer{Spaced, false});
    W->Newtable1->trigger();
    QCOMPARE(W.Started.size(), std::size_t(2));
    QCOMPARE(W.Started[1].Arguments, QStringList{QString::fromStdString(Spaced)});
    // Cancel starts nothing.
    W->Newtable1->trigger();
    QCOMPARE(W.Started.size(), std::size_t(2));

    // The second copy reads its arguments as a start-up command line.
    QStringList Line = W.Started[0].Arguments;
    std::vector<std::string> Args{"tamblorview"};
    for (const QString& A : Line) Args.push_back(A.toStdString());
    browser::SetParams(Args);
    browser::ReadStartParameters();
    QCOMPARE(StartTableName, FPeople);
    QVERIFY(StartReadOnly);
}

void TestMainForm::readOnlyTableHidesEditPostCancel() {
    TWindow W(FPeople, true);
    QVERIFY(W->Table->Active());
    QVERIFY(W->OpenDialog.ReadOnlyChecked);
    QCOMPARE(W->OpenDialog.FileName, FPeople);
    auto Hidden = [&](TNavigateBtn B) { return W->DBNavigator1->Button(B)->isHidden(); };
    QVERIFY(Hidden(controls::nbEdit) && Hidden(controls::nbPost) && Hidden(controls::nbCancel));
    QVERIFY(!Hidden(controls::nbInsert) && !Hidden(controls::nbDelete) && !Hidden(controls::nbFirst) &&
            !Hidden(controls::nbRefresh));
    // The bar shrank to its seven buttons.
    QCOMPARE(W->DBNavigator1->width(), W->DBNavigator1->MinimumWidth());
    const int Seven = W->DBNavigator1->width();

    // Editing is refused with the framework's message.
    W->DBGrid->setFocus();
    W->DBGrid->SetSelectedIndex(1);
    W.Key(Qt::Key_A);
    QCOMPARE(W->Table->State(), dsBrowse);
    W.Key(Qt::Key_Insert);
    QCOMPARE(W.Dialogs.Errors, std::vector<std::string>{"Cannot modify a read-only dataset"});
    QCOMPARE(W->Table->State(), dsBrowse);
    // The navigator's insert and delete stay enabled and fail the same way,
    // delete without asking first.
    W.Dialogs.Errors.clear();
    const int Records = W->Table->RecordCount();
    for (TNavigateBtn B : {controls::nbInsert, controls::nbDelete}) {
        QVERIFY(W->DBNavigator1->Button(B)->isEnabled());
        QTest::mouseClick(W->DBNavigator1->Button(B), Qt::LeftButton);
    }
    QCOMPARE(W.Dialogs.Errors, std::vector<std::string>(2, "Cannot modify a read-only dataset"));
    QVERIFY(W.Dialogs.Questions.empty());
    QCOMPARE(W->Table->State(), dsBrowse);
    QCOMPARE(W->Table->RecordCount(), Records);

    // Reopened writable: the three buttons come back.
    W.Dialogs.OpenAnswers.push_back(TScriptedDialogs::TOpenAnswer{FPeople, false});
    W->Opentable1->trigger();
    QVERIFY(!W->Table->ReadOnly());
    QVERIFY(!Hidden(controls::nbEdit) && !Hidden(controls::nbPost) && !Hidden(controls::nbCancel));
    QVERIFY(W->DBNavigator1->width() > Seven);
}

void TestMainForm::fieldsMenuHidesAndShowsFields() {
    TWindow W(FPeople);
    const QList<QAction*> Items = W->FieldsSubMenu->actions();
    QCOMPARE(Items.size(), 6);
    // The field named with '&' is shown as such and can be hidden.
    QAction* PL = Items[5];
    QCOMPARE(PL->text(), QString("P&&L"));
    PL->trigger();
    QVERIFY(!PL->isChecked());
    QVERIFY(!W->Table->FieldByName("P&L")->Visible());
    QCOMPARE(W->DBGrid->ColumnCount(), 5);
    PL->trigger();
    QVERIFY(PL->isChecked());
    QVERIFY(W->Table->FieldByName("P&L")->Visible());
    QCOMPARE(W->DBGrid->ColumnField(5)->FieldName(), std::string("P&L"));

    // Hiding every field leaves the grid without columns and the memo
    // without a field.
    for (QAction* A : Items) A->trigger();
    QCOMPARE(W->DBGrid->ColumnCount(), 0);
    QVERIFY(W->DBGrid->SelectedField() == nullptr);
    QCOMPARE(W->DBMemo1->DataField(), std::string());
    for (QAction* A : Items) QVERIFY(!A->isChecked());
    Items[2]->trigger();
    QCOMPARE(W->DBGrid->ColumnCount(), 1);
    QCOMPARE(W->DBMemo1->DataField(), std::string("First"));
    QVERIFY(W.Dialogs.Errors.empty());

    // The window caps display widths at 35 characters.
    const std::string Wide = FFolder.File("wide.dat");
    MakeTable(Wide, {Column("Long", 'C', 200), Column("Short", 'C', 8)}, {}, {});
    W.Dialogs.OpenAnswers.push_back(TScriptedDialogs::TOpenAnswer{Wide, false});
    W->Opentable1->trigger();
    QCOMPARE(W->Table->FieldByName("Long")->DisplayWidth(), 35);
    QCOMPARE(W->Table->FieldByName("Short")->DisplayWidth(), 8);
}

void TestMainForm::memoPaneFollowsTheSelectedColumn() {
    TWindow W(FPeople);
    W->DBGrid->setFocus();
    W->DBGrid->SetSelectedIndex(4);  // Note
    QCOMPARE(W->DBMemo1->DataField(), std::string("Note"));
    // Hidden: nothing loaded.
    QVERIFY(W->DBMemo1->toPlainText().isEmpty());
    W->Memoonoff1->trigger();
    QVERIFY(!W->DBMemo1->isHidden());
    QCOMPARE(W->DBMemo1->toPlainText(), QString("z"));
    W.Key(Qt::Key_Down);
    W.Key(Qt::Key_Down);
    QCOMPARE(W->DBMemo1->toPlainText(), QString("line1\nline2"));
    QCOMPARE(W->DBMemo1->height(), qRound(137 * W->logicalDpiY() / 120.0));
    W.Key(Qt::Key_Left);  // Amount: the memo shows the field's text
    QCOMPARE(W->DBMemo1->toPlainText(), QString("50"));
    W->Memoonoff1->trigger();
    QVERIFY(W->DBMemo1->isHidden());
    QVERIFY(!W->DBMemo1->AutoDisplay());
}

void TestMainForm::editingACellReachesTheFile() {
    const std::string Path = FFolder.File("edit.dat");
    MakePeople(Path);
    {
        TWindow W(Path);
        W->DBGrid->setFocus();
        W->DBGrid->SetSelectedIndex(2);  // First
        W.Key(Qt::Key_Down);
        QTest::keyClicks(W->DBGrid, "Z");
        QCOMPARE(W->Table->State(), dsEdit);
        QTest::keyClicks(W->DBGrid->InplaceEditor(), "ora");
        W.Key(Qt::Key_Return);
        QCOMPARE(W->Table->State(), dsBrowse);
        QVERIFY(W.Dialogs.Errors.empty());

        // The memo pane: typed text goes with the navigator's post.
        W->DBGrid->SetSelectedIndex(4);
        W->Memoonoff1->trigger();
        W->DBMemo1->setFocus();
        W->DBMemo1->selectAll();
        QTest::keyClicks(W->DBMemo1, "new note");
        QCOMPARE(W->Table->State(), dsEdit);
        QTest::mouseClick(W->DBNavigator1->Button(controls::nbPost), Qt::LeftButton);
        QCOMPARE(W->Table->State(), dsBrowse);
        QVERIFY(W.Dialogs.Errors.empty());

        // Another reader of the file sees both changes.
        TMoneyTable Reader(nullptr);
        Reader.SetFileName(Path);
        Reader.Open();
        Reader.Next();
        QCOMPARE(Reader.FieldByName("First")->AsString(), std::string("Zora"));
        QCOMPARE(Reader.FieldByName("Note")->AsString(), std::string("new note"));
        Reader.Close();
    }
    // And so does a new window on it.
    TWindow Again(Path);
    QCOMPARE(Again.Cell(1, "First"), std::string("Zora"));
}

void TestMainForm::scrollingALargeTableReadsOnlyTheWindow() {
    const std::string Path = FFolder.File("large.dat");
    {
        engine::TableSchema Schema;
        Schema.Columns = {Column("N", 'L'), Column("S", 'C', 10)};
        engine::CreateTable(Path, Schema);
        engine::BulkInserter Insert(Path);
        for (int N = 1; N <= 10000; ++N) Insert.Add({I(N), T("row " + std::to_string(N))});
        Insert.Commit();
    }
    TWindow W(Path);
    W->DBGrid->setFocus();
    const int Rows = W->DBGrid->VisibleRowCount();
    QVERIFY(Rows >= 5);
    // The dataset's window is the grid's visible rows, no more.
    QCOMPARE(W->Table->BufferCount(), Rows);
    QCOMPARE(W->Table->ValidCount(), Rows);
    QCOMPARE(W.Cell(Rows - 1, "N"), std::to_string(Rows));

    W.Key(Qt::Key_PageDown);
    QCOMPARE(W.Current("N"), std::to_string(1 + Rows));
    W.Key(Qt::Key_Down);
    QCOMPARE(W.Current("N"), std::to_string(2 + Rows));
    W.Key(Qt::Key_End, Qt::ControlModifier);
    QCOMPARE(W.Current("N"), std::string("10000"));
    QCOMPARE(W.Cell(Rows - 1, "N"), std::string("10000"));
    QCOMPARE(W.Cell(0, "S"), "row " + std::to_string(10001 - Rows));
    QCOMPARE(W->Table->ValidCount(), Rows);
    QScrollBar* V = W->DBGrid->verticalScrollBar();
    QCOMPARE(V->value(), V->maximum());
    W.Key(Qt::Key_PageUp);
    QCOMPARE(W.Current("N"), std::to_string(10000 - Rows));
    QCOMPARE(V->value(), 2);
    W.Key(Qt::Key_Home, Qt::ControlModifier);
    QCOMPARE(W.Current("N"), std::string("1"));
    QCOMPARE(V->value(), V->minimum());
    QCOMPARE(W->Table->BufferCount(), Rows);
    QVERIFY(W.Dialogs.Errors.empty());
}

void TestMainForm::choosingAnIndexReorders() {
    TWindow W(FPeople);
    using V = std::vector<std::string>;
    QCOMPARE(W.Column("First"), (V{"Zed", "Zoe", "John", "Bob", "Anna"}));
    W.ChooseIndex(1);
    QCOMPARE(W->Table->IndexFieldNames(), std::string("Last;First"));
    QCOMPARE(W.Column("First"), (V{"Zoe", "Anna", "John", "Zed", "Bob"}));
    // The current record stayed current.
    QCOMPARE(W.Current("First"), std::string("Zed"));
    W.ChooseIndex(2);
    QCOMPARE(W.Column("Amount"), (V{"10", "20", "30", "40", "50"}));
    W.ChooseIndex(0);
    QCOMPARE(W->Table->IndexFieldNames(), std::string());
    QCOMPARE(W.Column("First"), (V{"Zed", "Zoe", "John", "Bob", "Anna"}));
    QVERIFY(W.Dialogs.Errors.empty());
}

void TestMainForm::keySearchBox() {
    TWindow W(FPeople);
    // No index chosen: Enter does nothing.
    W.KeySearch("Smith|John");
    QCOMPARE(W.Current("First"), std::string("Zed"));
    W.ChooseIndex(1);  // Last;First
    W.KeySearch("Smith|John");
    QCOMPARE(W.Current("Last"), std::string("Smith"));
    QCOMPARE(W.Current("First"), std::string("John"));
    QCOMPARE(W->Table->State(), dsBrowse);
    // The box keeps its text.
    QCOMPARE(W->Edit1->text(), QString("Smith|John"));
    // A third value is ignored; the nearest key is found.
    W.KeySearch("A|B|C");
    QCOMPARE(W.Current("First"), std::string("Zoe"));
    W->Table->SetKey();
    W->FillKeyFields("A|B|C");
    QCOMPARE(W->Table->KeyFieldCount(), 2);
    QCOMPARE(W->Table->IndexFields(0)->AsString(), std::string("A"));
    QCOMPARE(W->Table->IndexFields(1)->AsString(), std::string("B"));
    W->Table->Post();
    // One value: the first Smith.
    W.KeySearch("smith");
    QCOMPARE(W.Current("First"), std::string("Anna"));
    // Nothing at or after the key (status 0): the last record.
    W.KeySearch("Zz");
    QCOMPARE(W.Current("Last"), std::string("Young"));
    // An empty box does nothing.
    W.KeySearch("");
    QCOMPARE(W.Current("Last"), std::string("Young"));
    QVERIFY(W.Dialogs.Errors.empty());
    // A value the key field cannot take: the error box, the key state left.
    W.ChooseIndex(2);  // Amount
    W.KeySearch("lots");
    QCOMPARE(W.Dialogs.Errors, std::vector<std::string>{"'lots' is not a valid integer value for field 'Amount'"});
    QCOMPARE(W->Table->State(), dsBrowse);
    W.KeySearch("35");
    QCOMPARE(W.Current("Amount"), std::string("40"));
}

void TestMainForm::exportWritesTheVisibleFields() {
    TWindow W(FPeople);
    const std::string Tab = FFolder.File("people.txt");
    W.Dialogs.SaveAnswers.push_back(Tab);
    W->ExportTABdelimited1->trigger();
    QCOMPARE(W.Dialogs.SaveShown.size(), std::size_t(1));
    const browser::TSaveDialog& Shown = W.Dialogs.SaveShown[0];
    QCOMPARE(Shown.DefaultExt, std::string("txt"));
    QCOMPARE(Shown.Filter, std::string("Text files (*.txt)|*.txt|CSV text files (*.csv)|*.csv|All (*.*)|*.*"));
    QCOMPARE(Shown.FilterIndex, 1);
    QVERIFY(Shown.OverwritePrompt);
    QCOMPARE(ReadFile(Tab), std::string("_RECNO_\tLast\tFirst\tAmount\tNote\tP&L\r\n"
                                        "1\tSmith\tZed\t30\tz\ta\r\n"
                                        "2\tAdams\tZoe\t10\t\tb\r\n"
                                        "3\tSmith\tJohn\t50\tline1\r\nline2\tc;d\r\n"
                                        "4\tYoung\tBob\t20\t\t\r\n"
                                        "5\tSmith\tAnna\t40\tx\te\r\n"));
    // The walk leaves the table at its end.
    QVERIFY(W->Table->Eof());

    // ';' with hidden columns, in the order of the chosen index; a value
    // holding ';' is written as it stands.
    W->FieldsSubMenu->actions()[0]->trigger();  // _RECNO_
    W->FieldsSubMenu->actions()[3]->trigger();  // Amount
    W.ChooseIndex(1);
    const std::string Csv = FFolder.File("people.csv");
    W.Dialogs.SaveAnswers.push_back(Csv);
    W->ExporttoCSV1->trigger();
    QCOMPARE(ReadFile(Csv), std::string("Last;First;Note;P&L\r\n"
                                        "Adams;Zoe;;b\r\n"
                                        "Smith;Anna;x;e\r\n"
                                        "Smith;John;line1\r\nline2;c;d\r\n"
                                        "Smith;Zed;z;a\r\n"
                                        "Young;Bob;;\r\n"));
    // Exporting again to the same file replaces it.
    W->FieldsSubMenu->actions()[4]->trigger();  // Note
    W.Dialogs.SaveAnswers.push_back(Csv);
    W->ExporttoCSV1->trigger();
    QCOMPARE(ReadFile(Csv), std::string("Last;First;P&L\r\nAdams;Zoe;b\r\nSmith;Anna;e\r\nSmith;John;c;d\r\n"
                                        "Smith;Zed;a\r\nYoung;Bob;\r\n"));
    // Every field hidden: empty lines only.
    for (QAction* A : W->FieldsSubMenu->actions())
        if (A->isChecked()) A->trigger();
    W.Dialogs.SaveAnswers.push_back(Csv);
    W->ExporttoCSV1->trigger();
    QCOMPARE(ReadFile(Csv), std::string("\r\n\r\n\r\n\r\n\r\n\r\n"));
    // Cancel writes nothing.
    QFile::remove(QString::fromStdString(Csv));
    W->ExporttoCSV1->trigger();
    QCOMPARE(ReadFile(Csv), std::string("<missing>"));
    QVERIFY(W.Dialogs.Errors.empty());
}

void TestMainForm::exportEdges() {
    // An empty table: the header line only.
    const std::string Empty = FFolder.File("empty.dat");
    MakeTable(Empty, {Column("A", 'C', 4), Column("B", 'L')}, {}, {});
    TWindow W(Empty);
    const std::string Out = FFolder.File("empty.txt");
    W.Dialogs.SaveAnswers.push_back(Out);
    W->ExportTABdelimited1->trigger();
    QCOMPARE(ReadFile(Out), std::string("_RECNO_\tA\tB\r\n"));
    // A file that cannot be created.
    const std::string Bad = FFolder.File("no/such/folder/x.txt");
    W.Dialogs.SaveAnswers.push_back(Bad);
    W->ExporttoCSV1->trigger();
    QCOMPARE(W.Dialogs.Errors, std::vector<std::string>{"Cannot create file " + Bad});
    // A closed table: one empty line, then the framework's error.
    W->Table->Close();
    W.Dialogs.SaveAnswers.push_back(Out);
    W->ExporttoCSV1->trigger();
    QCOMPARE(ReadFile(Out), std::string("\r\n"));
    QCOMPARE(W.Dialogs.Errors.size(), std::size_t(2));
    QCOMPARE(W.Dialogs.Errors[1], std::string("Cannot perform this operation on a closed dataset"));
    QVERIFY(W->RecNo->text().isEmpty());
}

void TestMainForm::clipboardTextOfACellAndOfARecord() {
    TWindow W(FPeople);
    QClipboard* Clipboard = QGuiApplication::clipboard();
    W->DBGrid->setFocus();
    W->DBGrid->SetSelectedIndex(2);  // First
    W.Key(Qt::Key_Down);
    W.Key(Qt::Key_Down);
    W.Key(Qt::Key_C, Qt::ControlModifier);
    QCOMPARE(Clipboard->text(), QString("John"));
    // A memo cell: its whole text with its line breaks, not the grid's one
    // line.
    W->DBGrid->SetSelectedIndex(4);
    QCOMPARE(W.Cell(2, "Note"), std::string("line1\xC2\xB6line2"));
    W.Key(Qt::Key_C, Qt::ControlModifier);
    QCOMPARE(Clipboard->text(), QString("line1\r\nline2"));

    // The record: the TAB export's header line and line of the record,
    // visible fields only, from any control of the window.
    W->FieldsSubMenu->actions()[0]->trigger();  // _RECNO_ hidden
    W->Edit1->setFocus();
    W.Key(Qt::Key_C, Qt::ShiftModifier | Qt::ControlModifier);
    QCOMPARE(Clipboard->text(), QString("Last\tFirst\tAmount\tNote\tP&L\r\nSmith\tJohn\t50\tline1\r\nline2\tc;d\r\n"));

    // In the cell editor Ctrl+C copies what is selected there.
    W->DBGrid->setFocus();
    W->DBGrid->SetSelectedIndex(1);  // First (the record number hidden)
    W.Key(Qt::Key_F2);
    QVERIFY(W->DBGrid->EditorMode());
    W->DBGrid->InplaceEditor()->setSelection(0, 2);
    W.Key(Qt::Key_C, Qt::ControlModifier);
    QCOMPARE(Clipboard->text(), QString("Jo"));
    W.Key(Qt::Key_Escape);

    // Nothing to copy: the clipboard keeps its text.
    W->Table->Close();
    W->DBGrid->setFocus();
    W.Key(Qt::Key_C, Qt::ControlModifier);
    W.Key(Qt::Key_C, Qt::ShiftModifier | Qt::ControlModifier);
    QCOMPARE(Clipboard->text(), QString("Jo"));
    QCOMPARE(W->StatusLine()->Message(), QString("No record to copy"));
    QVERIFY(W.Dialogs.Errors.empty());
}

void TestMainForm::columnTitleChoosesTheIndex() {
    TWindow W(FPeople);
    using V = std::vector<std::string>;
    QCOMPARE(W->DBGrid->OrderFieldName(), std::string());
    // The first index that begins with the column, as the list would choose
    // it: the list follows, the current record stays, the title is marked.
    W.ClickTitle("Amount");
    QCOMPARE(W->IndexComboBox->currentText(), QString("Amount"));
    QCOMPARE(W->Table->IndexFieldNames(), std::string("Amount"));
    QCOMPARE(W.Column("Amount"), (V{"10", "20", "30", "40", "50"}));
    QCOMPARE(W.Current("First"), std::string("Zed"));
    QCOMPARE(W->DBGrid->OrderFieldName(), std::string("Amount"));
    QCOMPARE(W->DBGrid->SelectedField()->FieldName(), std::string("Amount"));
    W.ClickTitle("Last");
    QCOMPARE(W->IndexComboBox->currentText(), QString("Last;First"));
    QCOMPARE(W.Column("First"), (V{"Zoe", "Anna", "John", "Zed", "Bob"}));
    QCOMPARE(W->DBGrid->OrderFieldName(), std::string("Last"));
    // A column that no index begins with: a note, nothing else changes.
    W.ClickTitle("First");
    QCOMPARE(W->StatusLine()->Message(), QString("No index begins with First"));
    QCOMPARE(W->Table->IndexFieldNames(), std::string("Last;First"));
    QCOMPARE(W->IndexComboBox->currentText(), QString("Last;First"));
    QCOMPARE(W->DBGrid->OrderFieldName(), std::string("Last"));
    // The record number: record order, "<no index>".
    W.ClickTitle("_RECNO_");
    QCOMPARE(W->IndexComboBox->currentIndex(), 0);
    QCOMPARE(W->Table->IndexFieldNames(), std::string());
    QCOMPARE(W->DBGrid->OrderFieldName(), std::string());
    // The mark follows the list too, and goes with the table.
    W.ChooseIndex(2);
    QCOMPARE(W->DBGrid->OrderFieldName(), std::string("Amount"));
    W->Table->Close();
    QCOMPARE(W->DBGrid->OrderFieldName(), std::string());
    QVERIFY(W.Dialogs.Errors.empty());
}

namespace {

// Drops the file (or URL) on the widget as a file manager would.
void DropOn(QWidget* Target, const QUrl& Url) {
    QMimeData Data;
    Data.setUrls({Url});
    const QPointF Pos(Target->rect().center());
    QDragEnterEvent Enter(Pos.toPoint(), Qt::CopyAction, &Data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(Target, &Enter);
    QVERIFY(Enter.isAccepted());
    QDropEvent Drop(Pos, Qt::CopyAction, &Data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(Target, &Drop);
    QVERIFY(Drop.isAccepted());
    QCoreApplication::processEvents();
}

}  // namespace

void TestMainForm::droppedFileOpensAsOpenTableWould() {
    const std::string Other = FFolder.File("dropped.dat");
    MakeTable(Other, {Column("Code", 'C', 5)}, {Index({0})}, {{T("b")}, {T("a")}});
    // A read-only window on an ordered table: the dropped table opens
    // writable, in record order, with its own fields and indexes.
    TWindow W(FPeople, true);
    W.ChooseIndex(1);
    DropOn(W->DBGrid->viewport(), QUrl::fromLocalFile(QString::fromStdString(Other)));
    QVERIFY(W.Dialogs.Errors.empty());
    QCOMPARE(W->Table->FileName(), Other);
    QVERIFY(W->Table->Active());
    QVERIFY(!W->Table->ReadOnly());
    QCOMPARE(W->Table->IndexFieldNames(), std::string());
    QCOMPARE(W.IndexItems(), (QStringList{"<no index>", "Code"}));
    QCOMPARE(W.FieldItems(), (std::vector<std::string>{"_RECNO_+", "Code+"}));
    QCOMPARE(W->windowTitle(), QString::fromStdString("Tallowmere [" + Other + "]"));
    QCOMPARE(StartTableName, Other);
    QCOMPARE(W->OpenDialog.FileName, Other);
    QVERIFY(!W->DBNavigator1->Button(controls::nbPost)->isHidden());

    // An edit not yet posted is posted before the next table opens (closing
    // alone would drop it); a drop on a text box is the window's too.
    W->DBGrid->setFocus();
    W->DBGrid->SetSelectedIndex(1);
    QTest::keyClicks(W->DBGrid, "Q");
    QCOMPARE(W->Table->State(), dsEdit);
    DropOn(W->Edit1, QUrl::fromLocalFile(QString::fromStdString(FPeople)));
    QVERIFY(W->Edit1->text().isEmpty());
    QCOMPARE(W->Table->FileName(), FPeople);
    {
        TMoneyTable Reader(nullptr);
        Reader.SetFileName(Other);
        Reader.Open();
        QCOMPARE(Reader.FieldByName("Code")->AsString(), std::string("Q"));
    }

    // Anything else: the error of the open, the table closed.
    const std::string Text = FFolder.File("notes.dat");
    {
        QFile F(QString::fromStdString(Text));
        QVERIFY(F.open(QIODevice::WriteOnly));
        F.write("not a table\n");
    }
    DropOn(W.Form.get(), QUrl::fromLocalFile(QString::fromStdString(Text)));
    QCOMPARE(W.Dialogs.Errors, std::vector<std::string>{"'" + Text + "' is not a table file"});
    QVERIFY(!W->Table->Active());
    DropOn(W->DBGrid->viewport(), QUrl(QStringLiteral("https://example.org/x.dat")));
    QCOMPARE(W.Dialogs.Errors.size(), std::size_t(2));
    QCOMPARE(W.Dialogs.Errors[1], std::string("Table file 'https://example.org/x.dat' does not exist"));
}

void TestMainForm::statusLineFollowsTheTable() {
    TWindow W("");
    QCOMPARE(W.Status(), QStringList{"No table"});
    W.Dialogs.OpenAnswers.push_back(TScriptedDialogs::TOpenAnswer{FPeople, false});
    W->Opentable1->trigger();
    QCOMPARE(W.Status(), (QStringList{"5 records", "Record 1", "No index", "All records"}));
    W->DBGrid->setFocus();
    W.Key(Qt::Key_Down);
    QCOMPARE(W.Status(), (QStringList{"5 records", "Record 2", "No index", "All records"}));
    W.Key(Qt::Key_Insert);
    QCOMPARE(W.Status()[1], QString("New record"));
    W.Key(Qt::Key_Escape);

    // A filter: the records it lets through.
    W.Dialogs.InputAnswers.push_back(std::string("Last = 'Smith'"));
    W->FilterString1->trigger();
    QCOMPARE(W.Status()[3], QString("All records"));  // set, not yet in force
    W.Key(Qt::Key_F, Qt::ControlModifier);            // "Filter active"
    QCOMPARE(W.Status(), (QStringList{"3 records", "Record 1", "No index", "Filter"}));
    // A range counts once an index is chosen.
    W.Dialogs.InputAnswers.push_back(std::string("20"));
    W->Rangestart1->trigger();
    W.Dialogs.InputAnswers.push_back(std::string("45"));
    W->Rangeend1->trigger();
    QCOMPARE(W.Status()[3], QString("Filter"));
    W.ChooseIndex(2);  // Amount
    W->Filter->trigger();
    W->Filter->trigger();  // off and on again: the range with the index
    QCOMPARE(W.Status(), (QStringList{"2 records", "Record 1", "Index: Amount", "Filter and range"}));
    W.Dialogs.InputAnswers.push_back(std::string(""));
    W->FilterString1->trigger();
    QCOMPARE(W.Status(), (QStringList{"3 records", "Record 4", "Index: Amount", "Range"}));
    W.Key(Qt::Key_F, Qt::ControlModifier);
    QCOMPARE(W.Status(), (QStringList{"5 records", "Record 2", "Index: Amount", "All records"}));
    QVERIFY(W.Dialogs.Errors.empty());

    W->Table->Close();
    QCOMPARE(W.Status(), QStringList{"No table"});
}

void TestMainForm::darkPaletteStaysReadable() {
    // Text and background of the window, its grid, titles and status line
    // lie far apart in lightness under a light and under a dark palette, set
    // before the window opens or while it is open; font and size stay as
    // defined.
    auto Apart = [](const QPalette& P, QPalette::ColorRole Text, QPalette::ColorRole Back) {
        return std::abs(P.color(Text).lightness() - P.color(Back).lightness()) >= 100;
    };
    auto Readable = [&](TWindow& W, bool Dark) {
        QLabel* Label = W->StatusBar1->findChild<QLabel*>();
        QVERIFY(Label != nullptr);
        QVERIFY(Apart(W->palette(), QPalette::WindowText, QPalette::Window));
        QVERIFY(Apart(Label->palette(), QPalette::WindowText, QPalette::Window));
        QVERIFY(Apart(W->DBGrid->palette(), QPalette::Text, QPalette::Base));
        QVERIFY(Apart(W->DBGrid->palette(), QPalette::ButtonText, QPalette::Button));
        QCOMPARE(W->RecNo->palette().color(QPalette::Base), W->Panel1->palette().color(QPalette::Window));
        // The window's font colour, black, where it can be read.
        QCOMPARE(W->palette().color(QPalette::WindowText) == QColor(Qt::black), !Dark);
        QCOMPARE(W->font().family(), QString("MS Sans Serif"));
        QCOMPARE(W->DBGrid->font().pixelSize(), qRound(14 * W->logicalDpiY() / 120.0));
    };
    const QPalette Light = QApplication::palette();
    QPalette Dark;
    Dark.setColor(QPalette::Window, QColor(45, 45, 48));
    Dark.setColor(QPalette::WindowText, QColor(230, 230, 230));
    Dark.setColor(QPalette::Base, QColor(30, 30, 30));
    Dark.setColor(QPalette::Text, QColor(230, 230, 230));
    Dark.setColor(QPalette::Button, QColor(60, 60, 64));
    Dark.setColor(QPalette::ButtonText, QColor(230, 230, 230));
    {
        TWindow W(FPeople);
        Readable(W, false);
        QApplication::setPalette(Dark);
        QCoreApplication::processEvents();  // the change reaches the window through the event loop
        Readable(W, true);
    }
    {
        TWindow W(FPeople);
        Readable(W, true);
    }
    QApplication::setPalette(Light);
}

QTEST_MAIN(TestMainForm)
#include "test_MainForm.moc"
