// Tests of the undo of the browser window's changes (TUndoLog behind Ctrl+Z)
// on real table files: an edit, an insert and a delete taken back in the
// file, several in a row; the refusal when another table object changed or
// deleted the record since; nothing taken back after the table closed;
// typing in a text box undone before any record change.
#include "browser/MainForm.h"
#include "tests/browser/BrowserTestKit.h"

#include <QtTest/QtTest>

using namespace browser::test;

namespace {

// The records of the file, "recno:Last:First:Amount:Note" in record order,
// as another reader sees them.
QStringList FileRecords(const std::string& Path) {
    TMoneyTable Reader(nullptr);
    Reader.SetFileName(Path);
    Reader.Open();
    QStringList Records;
    for (; !Reader.Eof(); Reader.Next()) {
        std::string R = Reader.FieldByName("_RECNO_")->AsString();
        for (const char* Name : {"Last", "First", "Amount", "Note"})
            R += ":" + Reader.FieldByName(Name)->AsString() + (Reader.FieldByName(Name)->IsNull() ? "~" : "");
        Records << QString::fromStdString(R);
    }
    return Records;
}

using TRecords = QStringList;

// Types Text into the grid's selected cell: the first key opens the cell
// editor, which takes the rest.
void TypeInCell(TWindow& W, const QString& Text) {
    QTest::keyClicks(W->DBGrid, Text.left(1));
    QTest::keyClicks(W->DBGrid->InplaceEditor(), Text.mid(1));
}

const TRecords People{"1:Smith:Zed:30:z", "2:Adams:Zoe:10:~", "3:Smith:John:50:line1\r\nline2",
                      "4:Young:Bob:20:~", "5:Smith:Anna:40:x"};

}  // namespace

class TestUndoLog : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void editInsertAndDeleteAreTakenBackInTheFile();
    void refusedWhenAnotherUserChangedTheRecord();
    void nothingIsTakenBackAfterTheTableClosed();

private:
    TTempFolder FFolder;
    std::string FPath;
    int FRun = 0;
};

void TestUndoLog::initTestCase() {
    engine::RegisterEngineServer();
}

void TestUndoLog::init() {
    FPath = FFolder.File("people" + std::to_string(++FRun) + ".dat");
    MakePeople(FPath);
}

void TestUndoLog::editInsertAndDeleteAreTakenBackInTheFile() {
    TWindow W(FPath);
    QCOMPARE(FileRecords(FPath), People);
    // Nothing done yet.
    W->DBGrid->setFocus();
    W.Key(Qt::Key_Z, Qt::ControlModifier);
    QCOMPARE(W->StatusLine()->Message(), QString("Nothing to undo"));
    // An insert taken back at once: the window leaves the deleted record.
    W->DBGrid->SetSelectedIndex(1);  // Last
    W.Key(Qt::Key_Insert);
    TypeInCell(W, "Tmp");
    W.Key(Qt::Key_Return);
    QCOMPARE(W.Current("_RECNO_"), std::string("6"));
    W.Key(Qt::Key_Z, Qt::ControlModifier);
    QCOMPARE(W->StatusLine()->Message(), QString("Insert of record 6 undone: the record is deleted"));
    QCOMPARE(FileRecords(FPath), People);
    QCOMPARE(W->Table->RecordCount(), 5);
    QCOMPARE(W.Current("_RECNO_"), std::string("5"));
    QVERIFY(W.Dialogs.Errors.empty());
    W->Table->First();

    // An edit of record 2: typing in the cell is undone by the cell first,
    // then the edit in progress is cancelled; once posted, Ctrl+Z posts the
    // old values again.
    W->DBGrid->SetSelectedIndex(2);  // First
    W.Key(Qt::Key_Down);
    TypeInCell(W, "Mia");
    W.Key(Qt::Key_Z, Qt::ControlModifier);
    QCOMPARE(W->DBGrid->InplaceEditor()->text(), QString("M"));
    QCOMPARE(W->Table->State(), dsEdit);
    W.Key(Qt::Key_Z, Qt::ControlModifier);
    QCOMPARE(W->Table->State(), dsBrowse);
    QCOMPARE(W->StatusLine()->Message(), QString("Edit cancelled"));
    TypeInCell(W, "Mia");
    W.Key(Qt::Key_Return);
    W->DBGrid->SetSelectedIndex(3);  // Amount
    TypeInCell(W, "5");
    W.Key(Qt::Key_Return);
    TRecords Edited = People;
    Edited[1] = "2:Adams:Mia:5:~";
    QCOMPARE(FileRecords(FPath), Edited);

    // An insert (record 7: numbers are never used again) and a delete of
    // record 3.
    W.Key(Qt::Key_Insert);
    W->DBGrid->SetSelectedIndex(1);  // Last
    TypeInCell(W, "New");
    W.Key(Qt::Key_Return);
    QCOMPARE(W.Current("_RECNO_"), std::string("7"));
    W->Table->SetRecNo(3);
    W.Key(Qt::Key_Delete, Qt::ControlModifier);
    TRecords Changed = Edited;
    Changed.removeAt(2);
    Changed.push_back("7:New:~:~:~");
    QCOMPARE(FileRecords(FPath), Changed);
    QVERIFY(W.Dialogs.Errors.empty());

    // Taken back newest first. The deleted record comes back with all its
    // values under a new number, which the status line says; the window
    // stands on it.
    W.Key(Qt::Key_Z, Qt::ControlModifier);
    QCOMPARE(W->StatusLine()->Message(), QString("Delete of record 3 undone: the record is back as record 8"));
    TRecords Back = Changed;
    Back.push_back("8:Smith:John:50:line1\r\nline2");
    QCOMPARE(FileRecords(FPath), Back);
    QCOMPARE(W.Current("_RECNO_"), std::string("8"));
    QCOMPARE(W.Current("P&L"), std::string("c;d"));
    W.Key(Qt::Key_Z, Qt::ControlModifier);
    QCOMPARE(W->StatusLine()->Message(), QString("Insert of record 7 undone: the record is deleted"));
    Back.removeAt(Back.size() - 2);
    QCOMPARE(FileRecords(FPath), Back);
    // The window's filter does not hide the record from the undo: the edit
    // that moved record 2 out of it is taken back all the same.
    W->Table->SetFilter("Amount > 7");
    W->Table->SetFiltered(true);
    QCOMPARE(W->Table->RecordCount(), 4);
    W.Key(Qt::Key_Z, Qt::ControlModifier);
    QCOMPARE(W->StatusLine()->Message(), QString("Change of record 2 undone"));
    QCOMPARE(W->Table->RecordCount(), 5);
    QCOMPARE(W.Current("_RECNO_"), std::string("2"));
    QCOMPARE(W.Current("Amount"), std::string("10"));
    W.Key(Qt::Key_Z, Qt::ControlModifier);
    TRecords Restored{"1:Smith:Zed:30:z", "2:Adams:Zoe:10:~", "4:Young:Bob:20:~", "5:Smith:Anna:40:x",
                      "8:Smith:John:50:line1\r\nline2"};
    QCOMPARE(FileRecords(FPath), Restored);
    QCOMPARE(W.Current("First"), std::string("Zoe"));
    W.Key(Qt::Key_Z, Qt::ControlModifier);
    QCOMPARE(W->StatusLine()->Message(), QString("Nothing to undo"));
    QVERIFY(W.Dialogs.Errors.empty());
}

void TestUndoLog::refusedWhenAnotherUserChangedTheRecord() {
    TWindow W(FPath);
    W->DBGrid->setFocus();
    W->DBGrid->SetSelectedIndex(2);  // First
    TypeInCell(W, "Max");
    W.Key(Qt::Key_Return);
    W.Key(Qt::Key_Insert);
    TypeInCell(W, "Eve");
    W.Key(Qt::Key_Return);

    // Another table object deletes the inserted record and changes record 1.
    TMoneyTable Other(nullptr);
    Other.SetFileName(FPath);
    Other.Open();
    Other.SetRecNo(6);
    Other.Delete();
    Other.SetRecNo(1);
    Other.Edit();
    Other.FieldByName("Note")->SetAsString("theirs");
    Other.Post();
    Other.Close();
    TRecords Theirs = People;
    Theirs[0] = "1:Smith:Max:30:theirs";

    // Each undo is refused with the reason and forgotten; the file keeps
    // what the other user wrote.
    W.Key(Qt::Key_Z, Qt::ControlModifier);
    W.Key(Qt::Key_Z, Qt::ControlModifier);
    QCOMPARE(W.Dialogs.Errors,
             (std::vector<std::string>{
                 "Cannot undo the insert of record 6 of table '" + FPath + "': another user has deleted it since",
                 "Cannot undo the change of record 1 of table '" + FPath + "': another user has changed it since"}));
    QCOMPARE(FileRecords(FPath), Theirs);
    W.Key(Qt::Key_Z, Qt::ControlModifier);
    QCOMPARE(W->StatusLine()->Message(), QString("Nothing to undo"));
    QCOMPARE(W.Dialogs.Errors.size(), std::size_t(2));

    // A record another user holds locked: refused with the engine's
    // message, and kept for another try once the lock is gone.
    W->Table->First();
    TypeInCell(W, "Kim");
    W.Key(Qt::Key_Return);
    Other.Open();
    Other.SetRecNo(1);
    Other.Edit();
    W.Key(Qt::Key_Z, Qt::ControlModifier);
    QCOMPARE(W.Dialogs.Errors.size(), std::size_t(3));
    QVERIFY2(W.Dialogs.Errors[2].find("locked by another user") != std::string::npos, W.Dialogs.Errors[2].c_str());
    Other.Cancel();
    W.Key(Qt::Key_Z, Qt::ControlModifier);
    QCOMPARE(W->StatusLine()->Message(), QString("Change of record 1 undone"));
    QCOMPARE(FileRecords(FPath), Theirs);
    QCOMPARE(W.Dialogs.Errors.size(), std::size_t(3));
}

void TestUndoLog::nothingIsTakenBackAfterTheTableClosed() {
    TWindow W(FPath);
    W->DBGrid->setFocus();
    W->DBGrid->SetSelectedIndex(2);  // First
    TypeInCell(W, "Max");
    W.Key(Qt::Key_Return);
    TRecords Edited = People;
    Edited[0] = "1:Smith:Max:30:z";
    // Opened again (the same file): the change before stays.
    W.Dialogs.OpenAnswers.push_back(TScriptedDialogs::TOpenAnswer{FPath, false});
    W->Opentable1->trigger();
    W->DBGrid->setFocus();
    W->DBGrid->SetSelectedIndex(2);
    W.Key(Qt::Key_Z, Qt::ControlModifier);
    QCOMPARE(W->StatusLine()->Message(), QString("Nothing to undo"));
    QCOMPARE(FileRecords(FPath), Edited);
    // Nor on a closed table.
    TypeInCell(W, "Ann");
    W.Key(Qt::Key_Return);
    W->Table->Close();
    W.Key(Qt::Key_Z, Qt::ControlModifier);
    QCOMPARE(W->StatusLine()->Message(), QString("Nothing to undo"));
    Edited[0] = "1:Smith:Ann:30:z";
    QCOMPARE(FileRecords(FPath), Edited);
    QVERIFY(W.Dialogs.Errors.empty());
}

QTEST_MAIN(TestUndoLog)
#include "test_UndoLog.moc"
