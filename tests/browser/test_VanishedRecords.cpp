// Tests of the browser window after another user deleted records it shows:
// the refresh button, an edit, a step past the window's edge and a change of
// index each end in a message naming the records gone, with the window
// showing the table as it is and every command working again; a filter's
// records changed out of it.
#include "browser/MainForm.h"
#include "tests/browser/BrowserTestKit.h"

#include <QToolButton>
#include <QtTest/QtTest>

using namespace browser::test;

class TestVanishedRecords : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { engine::RegisterEngineServer(); }
    void currentRecordDeleted();
    void recordsPastTheWindowDeleted();
    void filteredRecordChangedAndAllDeleted();
    void indexChosenOnADeletedRecord();

private:
    TTempFolder FFolder;
};

namespace {

// What another user does: opens the file, applies Change, closes it.
template <class F>
void AsAnotherUser(const std::string& Path, F&& Change) {
    TMoneyTable Other(nullptr);
    Other.SetFileName(Path);
    Other.Open();
    Change(Other);
    Other.Close();
}

void DeleteRecord(TMoneyTable& Table, int RecNo) {
    Table.SetRecNo(RecNo);
    QCOMPARE(Table.RecNo(), RecNo);
    Table.Delete();
}

std::string Gone(const std::string& Records, const std::string& Path, const std::string& Verb = "was") {
    return Records + " of table '" + Path + "' " + Verb +
           " deleted by another user; the window now shows the table as it is";
}

}  // namespace

void TestVanishedRecords::currentRecordDeleted() {
    const std::string Path = FFolder.File("current.dat");
    MakePeople(Path);
    TWindow W(Path);
    W->DBGrid->setFocus();
    W.Key(Qt::Key_Down);
    W.Key(Qt::Key_Down);
    QCOMPARE(W->Table->RecNo(), 3);

    // The refresh button: the record after it takes its row.
    AsAnotherUser(Path, [](TMoneyTable& T) { DeleteRecord(T, 3); });
    QTest::mouseClick(W->DBNavigator1->Button(controls::nbRefresh), Qt::LeftButton);
    QCOMPARE(W.Dialogs.Errors, (std::vector<std::string>{Gone("Record 3", Path)}));
    QCOMPARE(W->Table->RecNo(), 4);
    QCOMPARE(W->DBGrid->DataLink()->ActiveRecord(), 2);
    QCOMPARE(W.Column("First"), (std::vector<std::string>{"Zed", "Zoe", "Bob", "Anna", ""}));
    QCOMPARE(W.Status(), (QStringList{"4 records", "Record 4", "No index", "All records"}));
    W.Dialogs.Errors.clear();
    W.Key(Qt::Key_Up);
    W.Key(Qt::Key_Up);
    QCOMPARE(W->Table->RecNo(), 1);

    // An edit of the record gone (typing into its cell), here the last one:
    // the record before it becomes current, the typed text is not taken,
    // and editing works again.
    W.Key(Qt::Key_End, Qt::ControlModifier);
    QCOMPARE(W->Table->RecNo(), 5);
    AsAnotherUser(Path, [](TMoneyTable& T) { DeleteRecord(T, 5); });
    W->DBGrid->SetSelectedIndex(2);  // First
    QTest::keyClicks(W->DBGrid, "X");
    QCOMPARE(W.Dialogs.Errors, (std::vector<std::string>{Gone("Record 5", Path)}));
    QCOMPARE(W->Table->State(), dsBrowse);
    QCOMPARE(W->Table->RecNo(), 4);
    QCOMPARE(W.Column("First"), (std::vector<std::string>{"Zed", "Zoe", "Bob", "", ""}));
    W.Dialogs.Errors.clear();
    QTest::keyClicks(W->DBGrid, "Y");
    QTest::keyClicks(W->DBGrid->InplaceEditor(), "ves");
    W.Key(Qt::Key_Return);
    QVERIFY(W.Dialogs.Errors.empty());
    AsAnotherUser(Path, [](TMoneyTable& T) {
        T.SetRecNo(4);
        QCOMPARE(T.FieldByName("First")->AsString(), std::string("Yves"));
        QCOMPARE(T.RecordCount(), 3);
    });
}

void TestVanishedRecords::recordsPastTheWindowDeleted() {
    // More records than the grid shows, scrolled down one page: the window
    // shows records 2 to Shown + 1, the last one current.
    const std::string Path = FFolder.File("window.dat");
    std::vector<std::vector<engine::Value>> Rows;
    for (int N = 1; N <= 200; ++N) Rows.push_back({I(N)});
    MakeTable(Path, {Column("N", 'L')}, {}, Rows);
    TWindow W(Path);
    W->DBGrid->setFocus();
    const int Shown = W->Table->ValidCount();
    QVERIFY(Shown > 5 && Shown < 100);
    W.Key(Qt::Key_PageDown);
    QCOMPARE(W->Table->RecNo(), Shown + 1);
    QCOMPARE(W.Cell(0, "N"), std::string("2"));

    // Page Up steps to the window's first record and must step past it; it
    // and the one below are gone. The nearest record left takes the current
    // row, the window above it filled from the table.
    AsAnotherUser(Path, [](TMoneyTable& T) {
        DeleteRecord(T, 2);
        DeleteRecord(T, 3);
    });
    W.Key(Qt::Key_PageUp);
    QCOMPARE(W.Dialogs.Errors, (std::vector<std::string>{Gone("Records 2 and 3", Path, "were")}));
    QCOMPARE(W->Table->RecNo(), 4);
    QCOMPARE(W.Column("N", 3), (std::vector<std::string>{"1", "4", "5"}));

    // The commands work again.
    W.Dialogs.Errors.clear();
    W.Key(Qt::Key_PageUp);
    QVERIFY(W.Dialogs.Errors.empty());
    QCOMPARE(W->Table->RecNo(), 1);
}

void TestVanishedRecords::filteredRecordChangedAndAllDeleted() {
    const std::string Path = FFolder.File("filtered.dat");
    MakePeople(Path);
    TWindow W(Path);
    W.Dialogs.InputAnswers.push_back(std::string("Last = 'Smith'"));
    W->FilterString1->trigger();
    W.Key(Qt::Key_F, Qt::ControlModifier);  // "Filter active"
    QCOMPARE(W.Column("First", 3), (std::vector<std::string>{"Zed", "John", "Anna"}));
    W->DBGrid->setFocus();
    QCOMPARE(W->Table->RecNo(), 1);

    // Record 1 still exists but no longer passes the filter.
    AsAnotherUser(Path, [](TMoneyTable& T) {
        T.Edit();
        T.FieldByName("Last")->SetAsString("Jones");
        T.Post();
    });
    QTest::mouseClick(W->DBNavigator1->Button(controls::nbRefresh), Qt::LeftButton);
    QCOMPARE(W.Dialogs.Errors,
             (std::vector<std::string>{"Record 1 of table '" + Path +
                                       "' was deleted by another user, or changed so that the filter or range no "
                                       "longer shows it; the window now shows the table as it is"}));
    QCOMPARE(W->Table->RecNo(), 3);
    QCOMPARE(W.Column("First", 3), (std::vector<std::string>{"John", "Anna", ""}));

    // Every record the window shows goes: the window empties.
    W.Dialogs.Errors.clear();
    W->Filter->trigger();
    AsAnotherUser(Path, [](TMoneyTable& T) {
        while (!T.IsEmpty()) T.Delete();
    });
    QTest::mouseClick(W->DBNavigator1->Button(controls::nbRefresh), Qt::LeftButton);
    QCOMPARE(W.Dialogs.Errors, (std::vector<std::string>{Gone("Records 1, 2, 3, 4 and 5", Path, "were")}));
    QVERIFY(W->Table->IsEmpty());
    QCOMPARE(W.Status(), (QStringList{"0 records", "No record", "No index", "All records"}));
}

void TestVanishedRecords::indexChosenOnADeletedRecord() {
    // The new order is entered on the current record, which is gone: the
    // order stays as it was, and so does the index list.
    const std::string Path = FFolder.File("index.dat");
    MakePeople(Path);
    TWindow W(Path);
    W->DBGrid->setFocus();
    W.Key(Qt::Key_Down);
    AsAnotherUser(Path, [](TMoneyTable& T) { DeleteRecord(T, 2); });
    W->IndexComboBox->setFocus();
    QTest::keyClick(W->IndexComboBox, Qt::Key_Down);
    QCOMPARE(W.Dialogs.Errors, (std::vector<std::string>{Gone("Record 2", Path)}));
    QCOMPARE(W->IndexComboBox->currentIndex(), 0);
    QCOMPARE(W.Status(), (QStringList{"4 records", "Record 3", "No index", "All records"}));

    // Chosen again, it orders the records.
    W.Dialogs.Errors.clear();
    W.ChooseIndex(1);
    QVERIFY(W.Dialogs.Errors.empty());
    QCOMPARE(W->Table->IndexFieldNames(), std::string("Last;First"));
    QCOMPARE(W.Column("Last", 4), (std::vector<std::string>{"Smith", "Smith", "Smith", "Young"}));
}

QTEST_MAIN(TestVanishedRecords)
#include "test_VanishedRecords.moc"
