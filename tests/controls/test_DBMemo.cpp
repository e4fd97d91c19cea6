// Tests of TDBMemo: the memo text read through the blob stream only while
// its automatic display is on and not deferred, editing that starts the
// dataset's edit and reaches the record on post, line breaks kept in their
// form, Esc, and fields that are not memos.
#include "tests/controls/ControlsTestSupport.h"

#include <QtTest/QtTest>

using controls::TDBMemo;
using controls::test::TCountingDataSet;
using controls::test::TInteractionRecorder;

namespace {

struct TMemoFixture {
    TMemoFixture() {
        Data.AddColumn("ID", ftInteger);
        Data.AddColumn("NOTE", ftMemo);
        Data.AddRow({1, "one\r\ntwo"});
        Data.AddRow({2, fw::test::Null()});
        Data.AddRow({3, "plain"});
        Source.SetDataSet(&Data);
        Memo.SetDataSource(&Source);
        Memo.resize(200, 100);
    }
    std::string Shown() const { return Memo.toPlainText().toStdString(); }

    TInteractionRecorder Box;
    TCountingDataSet Data;
    TDataSource Source{nullptr};
    TDBMemo Memo;
};

}  // namespace

class TestDBMemo : public QObject {
    Q_OBJECT
private slots:
    void showsTheFieldOfTheCurrentRecord();
    void autoDisplayOffReadsNothing();
    void deferredDisplayReadsWhenTheDeferralEnds();
    void typingEditsAndPostWritesBack();
    void escapeForgetsTheTypedText();
    void otherFieldsUseTheirText();
};

void TestDBMemo::showsTheFieldOfTheCurrentRecord() {
    TMemoFixture F;
    F.Memo.SetDataField("NOTE");
    QVERIFY(F.Memo.Field() == nullptr);
    F.Data.Open();
    QVERIFY(F.Memo.Field() == F.Data.FieldByName("NOTE"));
    QCOMPARE(F.Shown(), std::string("one\ntwo"));
    QCOMPARE(F.Memo.FieldText(), std::string("one\r\ntwo"));
    F.Data.Next();
    QCOMPARE(F.Shown(), std::string());
    F.Data.Next();
    QCOMPARE(F.Shown(), std::string("plain"));
    // Another field name, and one that does not exist.
    F.Memo.SetDataField("nope");
    QVERIFY(F.Memo.Field() == nullptr);
    QVERIFY(F.Memo.isReadOnly());
    QCOMPARE(F.Shown(), std::string());
    F.Data.Close();
    QCOMPARE(F.Shown(), std::string());
}

void TestDBMemo::autoDisplayOffReadsNothing() {
    TMemoFixture F;
    F.Memo.SetAutoDisplay(false);
    F.Memo.SetDataField("NOTE");
    F.Data.Open();
    F.Data.Next();
    F.Data.First();
    QCOMPARE(F.Data.BlobReads, 0);
    QCOMPARE(F.Shown(), std::string());
    QVERIFY(!F.Memo.Loaded());
    QCOMPARE(F.Memo.placeholderText(), QString("(NOTE)"));
    // Asking for it loads this record's text once.
    F.Memo.LoadMemo();
    QCOMPARE(F.Data.BlobReads, 1);
    QCOMPARE(F.Shown(), std::string("one\ntwo"));
    // Turning automatic display on loads at once and on every move.
    F.Data.Next();
    QCOMPARE(F.Data.BlobReads, 1);
    F.Memo.SetAutoDisplay(true);
    QCOMPARE(F.Data.BlobReads, 2);
    F.Data.Next();
    QCOMPARE(F.Data.BlobReads, 3);
    QCOMPARE(F.Shown(), std::string("plain"));
}

void TestDBMemo::deferredDisplayReadsWhenTheDeferralEnds() {
    TMemoFixture F;
    F.Memo.SetDataField("NOTE");
    F.Data.Open();
    QCOMPARE(F.Data.BlobReads, 1);
    // Moves while deferred read nothing; the end of the deferral reads the
    // current record's text once.
    F.Memo.SetDisplayDeferred(true);
    F.Data.Next();
    F.Data.Next();
    QCOMPARE(F.Data.BlobReads, 1);
    QVERIFY(!F.Memo.Loaded());
    F.Memo.SetDisplayDeferred(false);
    QCOMPARE(F.Data.BlobReads, 2);
    QVERIFY(F.Memo.Loaded());
    QCOMPARE(F.Shown(), std::string("plain"));
    // Without a change meanwhile, nothing is read again.
    F.Memo.SetDisplayDeferred(true);
    F.Memo.SetDisplayDeferred(false);
    QCOMPARE(F.Data.BlobReads, 2);
    // Typing into a deferred pane after a move loads that record first, and
    // the end of the deferral keeps what was typed.
    F.Memo.SetDisplayDeferred(true);
    F.Data.First();
    QTest::keyClicks(&F.Memo, "!");
    QCOMPARE(F.Shown(), std::string("!one\ntwo"));
    F.Memo.SetDisplayDeferred(false);
    QCOMPARE(F.Shown(), std::string("!one\ntwo"));
    QCOMPARE(F.Data.BlobReads, 3);
    F.Data.Post();
    QCOMPARE(F.Data.RowText(0, 1), std::string("!one\r\ntwo"));
    QVERIFY(F.Box.Errors.empty());
}

void TestDBMemo::typingEditsAndPostWritesBack() {
    TMemoFixture F;
    F.Memo.SetDataField("NOTE");
    F.Data.Open();
    F.Memo.moveCursor(QTextCursor::End);
    QTest::keyClicks(&F.Memo, "!");
    QCOMPARE(F.Data.State(), dsEdit);
    QTest::keyClick(&F.Memo, Qt::Key_Return);
    QTest::keyClicks(&F.Memo, "three");
    QCOMPARE(F.Data.RowText(0, 1), std::string("one\r\ntwo"));  // nothing posted yet
    F.Data.Post();
    QCOMPARE(F.Data.State(), dsBrowse);
    // The text was loaded with CR LF: new lines get them too.
    QCOMPARE(F.Data.RowText(0, 1), std::string("one\r\ntwo!\r\nthree"));
    QCOMPARE(F.Data.BlobWrites, 1);

    // A null memo gets a text; emptying a memo makes it null.
    F.Data.Next();
    QTest::keyClicks(&F.Memo, "new");
    F.Data.Next();  // leaving the record posts
    QCOMPARE(F.Data.RowText(1, 1), std::string("new"));
    QVERIFY(!F.Data.RowIsNull(1, 1));
    F.Data.Prior();
    F.Memo.selectAll();
    QTest::keyClick(&F.Memo, Qt::Key_Delete);
    F.Data.Post();
    QVERIFY(F.Data.RowIsNull(1, 1));

    // A read-only dataset takes no typing.
    F.Data.Close();
    F.Data.ReadOnlyData = true;
    F.Data.Open();
    QTest::keyClicks(&F.Memo, "x");
    QCOMPARE(F.Data.State(), dsBrowse);
    QCOMPARE(F.Shown(), std::string("one\ntwo!\nthree"));
    QVERIFY(F.Box.Errors.empty());
}

void TestDBMemo::escapeForgetsTheTypedText() {
    TMemoFixture F;
    F.Memo.SetDataField("NOTE");
    F.Data.Open();
    F.Data.Last();
    F.Memo.moveCursor(QTextCursor::End);
    QTest::keyClicks(&F.Memo, " typed");
    QCOMPARE(F.Shown(), std::string("plain typed"));
    QTest::keyClick(&F.Memo, Qt::Key_Escape);
    QCOMPARE(F.Shown(), std::string("plain"));
    F.Data.Post();
    QCOMPARE(F.Data.RowText(2, 1), std::string("plain"));
    QCOMPARE(F.Data.BlobWrites, 0);
}

void TestDBMemo::otherFieldsUseTheirText() {
    TMemoFixture F;
    F.Memo.SetDataField("ID");
    F.Data.Open();
    QCOMPARE(F.Shown(), std::string("1"));
    F.Memo.selectAll();
    QTest::keyClicks(&F.Memo, "7");
    F.Data.Post();
    QCOMPARE(F.Data.RowInt(0, 0), 7);
    // A text the field cannot take fails the post with the field's message.
    F.Memo.selectAll();
    QTest::keyClicks(&F.Memo, "seven");
    bool Raised = false;
    try {
        F.Data.Post();
    } catch (const EDatabaseError& E) {
        Raised = true;
        QCOMPARE(std::string(E.what()), std::string("'seven' is not a valid integer value for field 'ID'"));
    }
    QVERIFY(Raised);
    QCOMPARE(F.Data.State(), dsEdit);
    QCOMPARE(F.Data.BlobReads, 0);
}

QTEST_MAIN(TestDBMemo)
#include "test_DBMemo.moc"
