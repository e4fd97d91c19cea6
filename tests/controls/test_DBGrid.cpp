// Tests of TDBGrid over the framework's memory dataset: columns, the record
// window as the only data read, keyboard and scroll-bar movement, in-place
// editing, insert and delete, the selected column and the indicator; title
// clicks, the order mark and copying a cell to the clipboard.
#include "tests/controls/ControlsTestSupport.h"

#include <QClipboard>
#include <QLineEdit>
#include <QScrollBar>
#include <QSignalSpy>
#include <QtTest/QtTest>

using controls::TDBGrid;
using controls::test::FetchCount;
using controls::test::TInteractionRecorder;
using fw::test::TMemDataSet;

namespace {

// A grid on a dataset of N numbered rows (ID 1..N, NAME "N1".."NN").
struct TGridFixture {
    explicit TGridFixture(int Rows, int Height = 260) {
        fw::test::AddNumberRows(Data, Rows);
        Source.SetDataSet(&Data);
        Grid.resize(320, Height);
        Grid.SetDataSource(&Source);
        Grid.show();
        Grid.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&Grid));
        Grid.setFocus();
    }
    void Open() {
        Data.Open();
        QCoreApplication::processEvents();
    }
    QWidget* Focus() { return QApplication::focusWidget() ? QApplication::focusWidget() : &Grid; }

    TInteractionRecorder Box;
    TMemDataSet Data;
    TDataSource Source{nullptr};
    TDBGrid Grid;
};

}  // namespace

class TestDBGrid : public QObject {
    Q_OBJECT
private slots:
    void columnsFollowVisibleFieldsAndTitles();
    void memoCellsShowTheirTextOnOneLine();
    void windowIsTheVisibleRowsOnly();
    void keysMoveTheDataset();
    void scrollBarReflectsEndsWithoutCounting();
    void mouseClickMovesToTheRow();
    void typingStartsEditAndEnterPosts();
    void escapeCancelsAndLeavingTheRowPosts();
    void badValueKeepsTheEditAndShowsTheError();
    void insertAndConfirmedDelete();
    void readOnlyDatasetIsNotEdited();
    void selectedColumnAndColEnter();
    void columnsCanBeResized();
    void titleClickOrderMarkAndCellCopy();
};

void TestDBGrid::columnsFollowVisibleFieldsAndTitles() {
    TGridFixture F(5);
    QCOMPARE(F.Grid.ColumnCount(), 0);
    F.Open();
    QCOMPARE(F.Grid.ColumnCount(), 2);
    QCOMPARE(F.Grid.ColumnField(0)->FieldName(), std::string("ID"));
    QCOMPARE(F.Grid.ColumnField(1)->FieldName(), std::string("NAME"));
    QCOMPARE(F.Grid.CellText(0, 0), std::string("1"));
    QCOMPARE(F.Grid.CellText(2, 1), std::string("N3"));
    QVERIFY(F.Grid.TitleHeight() > 0);

    F.Data.FieldByName("ID")->SetVisible(false);
    QCOMPARE(F.Grid.ColumnCount(), 1);
    QCOMPARE(F.Grid.ColumnField(0)->FieldName(), std::string("NAME"));
    QCOMPARE(F.Grid.CellText(1, 0), std::string("N2"));

    F.Data.FieldByName("NAME")->SetVisible(false);
    QCOMPARE(F.Grid.ColumnCount(), 0);
    QVERIFY(F.Grid.SelectedField() == nullptr);
    QCOMPARE(F.Grid.CellText(0, 0), std::string());
    F.Grid.repaint();  // painting without columns must not fail

    F.Data.Close();
    QCOMPARE(F.Grid.ColumnCount(), 0);
    QCOMPARE(F.Grid.CurrentIndicator(), controls::inNone);
}

void TestDBGrid::memoCellsShowTheirTextOnOneLine() {
    TInteractionRecorder Box;
    TMemDataSet Data;
    Data.AddColumn("NOTE", ftMemo);
    Data.AddRow({"first line\r\nsecond\nthird"});
    Data.AddRow({fw::test::Null()});
    TDataSource Source(nullptr);
    Source.SetDataSet(&Data);
    TDBGrid Grid;
    Grid.resize(300, 200);
    Grid.SetDataSource(&Source);
    Data.Open();
    QCOMPARE(Grid.CellText(0, 0), std::string("first line\xC2\xB6second\xC2\xB6third"));
    QCOMPARE(Grid.CellText(1, 0), std::string());
    // Memo cells are edited in a memo pane, not in the grid.
    QVERIFY(!Grid.ShowEditor());
    QCOMPARE(Data.State(), dsBrowse);
}

void TestDBGrid::windowIsTheVisibleRowsOnly() {
    TGridFixture F(10000);
    F.Data.ClearLog();
    F.Open();
    const int Rows = F.Grid.VisibleRowCount();
    QVERIFY(Rows >= 5);
    QCOMPARE(F.Grid.DataLink()->BufferCount(), Rows);
    QCOMPARE(F.Data.BufferCount(), Rows);
    QCOMPARE(F.Data.ValidCount(), Rows);
    QCOMPARE(FetchCount(F.Data), Rows);
    QCOMPARE(F.Grid.CellText(Rows - 1, 0), std::to_string(Rows));

    // Paging down fetches one page, never the table.
    F.Data.ClearLog();
    for (int I = 0; I < 20; ++I) QTest::keyClick(&F.Grid, Qt::Key_PageDown);
    QVERIFY(FetchCount(F.Data) <= 20 * Rows);
    QCOMPARE(F.Data.RecNo(), 1 + 20 * Rows);
    QCOMPARE(F.Data.ValidCount(), Rows);

    F.Data.ClearLog();
    QTest::keyClick(&F.Grid, Qt::Key_End, Qt::ControlModifier);
    QCOMPARE(FetchCount(F.Data), Rows);
    QCOMPARE(F.Data.RecNo(), 10000);
    QCOMPARE(F.Grid.CellText(Rows - 1, 0), std::string("10000"));
    QCOMPARE(F.Grid.CellText(0, 0), std::to_string(10001 - Rows));

    // A taller grid asks for a larger window, a shorter one for a smaller.
    F.Grid.resize(320, 400);
    QCoreApplication::processEvents();
    QVERIFY(F.Grid.VisibleRowCount() > Rows);
    QCOMPARE(F.Data.BufferCount(), F.Grid.VisibleRowCount());
    F.Grid.resize(320, 120);
    QCoreApplication::processEvents();
    QCOMPARE(F.Data.BufferCount(), F.Grid.VisibleRowCount());
    QCOMPARE(F.Data.RecNo(), 10000);
}

void TestDBGrid::keysMoveTheDataset() {
    TGridFixture F(100);
    F.Open();
    const int Rows = F.Grid.VisibleRowCount();
    QTest::keyClick(&F.Grid, Qt::Key_Down);
    QTest::keyClick(&F.Grid, Qt::Key_Down);
    QCOMPARE(F.Data.RecNo(), 3);
    QCOMPARE(F.Grid.DataLink()->ActiveRecord(), 2);
    QTest::keyClick(&F.Grid, Qt::Key_Up);
    QCOMPARE(F.Data.RecNo(), 2);
    QTest::keyClick(&F.Grid, Qt::Key_PageDown);
    QCOMPARE(F.Data.RecNo(), 2 + Rows);
    QTest::keyClick(&F.Grid, Qt::Key_PageUp);
    QCOMPARE(F.Data.RecNo(), 2);
    QTest::keyClick(&F.Grid, Qt::Key_End, Qt::ControlModifier);
    QCOMPARE(F.Data.RecNo(), 100);
    QVERIFY(F.Data.Eof());
    QTest::keyClick(&F.Grid, Qt::Key_Home, Qt::ControlModifier);
    QCOMPARE(F.Data.RecNo(), 1);
    QVERIFY(F.Data.Bof());
    QTest::keyClick(&F.Grid, Qt::Key_Up);  // at the top: stays
    QCOMPARE(F.Data.RecNo(), 1);
    QVERIFY(F.Box.Errors.empty());
}

void TestDBGrid::scrollBarReflectsEndsWithoutCounting() {
    TGridFixture F(500);
    QScrollBar* V = F.Grid.verticalScrollBar();
    QVERIFY(!V->isEnabled());
    F.Open();
    QVERIFY(V->isEnabled());
    QCOMPARE(V->value(), V->minimum());
    QTest::keyClick(&F.Grid, Qt::Key_Down);
    QCOMPARE(V->value(), 2);
    V->triggerAction(QAbstractSlider::SliderToMaximum);
    QCOMPARE(F.Data.RecNo(), 500);
    QCOMPARE(V->value(), V->maximum());
    V->triggerAction(QAbstractSlider::SliderSingleStepSub);
    QCOMPARE(F.Data.RecNo(), 499);
    QCOMPARE(V->value(), 2);
    V->triggerAction(QAbstractSlider::SliderPageStepSub);
    QCOMPARE(F.Data.RecNo(), 499 - F.Grid.VisibleRowCount());
    V->triggerAction(QAbstractSlider::SliderToMinimum);
    QCOMPARE(F.Data.RecNo(), 1);
    QCOMPARE(V->value(), 0);
    V->triggerAction(QAbstractSlider::SliderSingleStepAdd);
    QCOMPARE(F.Data.RecNo(), 2);
    // The scroll bar never asked for the record count or a record number.
    for (const std::string& Line : F.Data.Log) QVERIFY(Line.find("GetRecordCount") == std::string::npos);
}

void TestDBGrid::mouseClickMovesToTheRow() {
    TGridFixture F(50);
    F.Open();
    const QRect Cell = F.Grid.CellRect(3, 1);
    QTest::mouseClick(F.Grid.viewport(), Qt::LeftButton, {}, Cell.center());
    QCOMPARE(F.Data.RecNo(), 4);
    QCOMPARE(F.Grid.SelectedIndex(), 1);
    // A click below the last record does nothing.
    TGridFixture Few(2);
    Few.Open();
    QTest::mouseClick(Few.Grid.viewport(), Qt::LeftButton, {}, Few.Grid.CellRect(4, 0).center());
    QCOMPARE(Few.Data.RecNo(), 1);
}

void TestDBGrid::typingStartsEditAndEnterPosts() {
    TGridFixture F(10);
    F.Open();
    F.Grid.SetSelectedIndex(1);
    QTest::keyClick(&F.Grid, Qt::Key_Down);
    QTest::keyClicks(&F.Grid, "Z");
    QCOMPARE(F.Data.State(), dsEdit);
    QVERIFY(F.Grid.EditorMode());
    QCOMPARE(F.Grid.InplaceEditor()->text(), QString("Z"));
    QCOMPARE(F.Grid.CurrentIndicator(), controls::inEdit);
    QTest::keyClicks(F.Grid.InplaceEditor(), "ed");
    QTest::keyClick(F.Grid.InplaceEditor(), Qt::Key_Return);
    QCOMPARE(F.Data.State(), dsBrowse);
    QVERIFY(!F.Grid.EditorMode());
    QCOMPARE(F.Data.RowText(1, 1), std::string("Zed"));
    QCOMPARE(F.Grid.CellText(1, 1), std::string("Zed"));
    QCOMPARE(F.Grid.CurrentIndicator(), controls::inBrowse);

    // F2 opens the editor on the current text.
    QTest::keyClick(&F.Grid, Qt::Key_F2);
    QVERIFY(F.Grid.EditorMode());
    QCOMPARE(F.Grid.InplaceEditor()->text(), QString("Zed"));
    QCOMPARE(F.Data.State(), dsEdit);
    QVERIFY(F.Box.Errors.empty());
}

void TestDBGrid::escapeCancelsAndLeavingTheRowPosts() {
    TGridFixture F(10);
    F.Open();
    F.Grid.SetSelectedIndex(1);
    QTest::keyClicks(&F.Grid, "Q");
    QCOMPARE(F.Data.State(), dsEdit);
    QTest::keyClick(F.Grid.InplaceEditor(), Qt::Key_Escape);
    QCOMPARE(F.Data.State(), dsBrowse);
    QVERIFY(!F.Grid.EditorMode());
    QCOMPARE(F.Data.RowText(0, 1), std::string("N1"));

    // Leaving the row with Down posts what was typed.
    QTest::keyClicks(&F.Grid, "W");
    QTest::keyClick(F.Grid.InplaceEditor(), Qt::Key_Down);
    QCOMPARE(F.Data.State(), dsBrowse);
    QCOMPARE(F.Data.RowText(0, 1), std::string("W"));
    QCOMPARE(F.Data.RecNo(), 2);

    // Changing the column writes the editor's text into the field; the
    // record is posted with the next move.
    QTest::keyClicks(&F.Grid, "V");
    QTest::keyClick(F.Grid.InplaceEditor(), Qt::Key_Left);  // caret after "V": stays in the editor
    QTest::keyClick(F.Grid.InplaceEditor(), Qt::Key_Left);  // at the start: previous column
    QCOMPARE(F.Grid.SelectedIndex(), 0);
    QVERIFY(!F.Grid.EditorMode());
    QCOMPARE(F.Data.State(), dsEdit);
    QCOMPARE(F.Data.FieldByName("NAME")->AsString(), std::string("V"));
    QTest::keyClick(&F.Grid, Qt::Key_Up);
    QCOMPARE(F.Data.State(), dsBrowse);
    QCOMPARE(F.Data.RowText(1, 1), std::string("V"));
}

void TestDBGrid::badValueKeepsTheEditAndShowsTheError() {
    TGridFixture F(3);
    F.Open();
    F.Grid.SetSelectedIndex(0);
    QTest::keyClicks(&F.Grid, "x");
    QTest::keyClick(F.Grid.InplaceEditor(), Qt::Key_Return);
    QCOMPARE(F.Box.Errors.size(), std::size_t(1));
    QCOMPARE(F.Box.Errors[0], std::string("'x' is not a valid integer value for field 'ID'"));
    QCOMPARE(F.Data.State(), dsEdit);
    QVERIFY(F.Grid.EditorMode());
    QCOMPARE(F.Data.RowInt(0, 0), 1);
    // Moving off the row fails the same way and stays.
    QTest::keyClick(F.Grid.InplaceEditor(), Qt::Key_Down);
    QCOMPARE(F.Box.Errors.size(), std::size_t(2));
    QCOMPARE(F.Data.RecNo(), 1);
    // A good value then posts.
    F.Grid.InplaceEditor()->setText("");
    QTest::keyClicks(F.Grid.InplaceEditor(), "42");
    QTest::keyClick(F.Grid.InplaceEditor(), Qt::Key_Return);
    QCOMPARE(F.Data.State(), dsBrowse);
    QCOMPARE(F.Data.RowInt(0, 0), 42);
    QCOMPARE(F.Box.Errors.size(), std::size_t(2));
}

void TestDBGrid::insertAndConfirmedDelete() {
    TGridFixture F(4);
    F.Open();
    QTest::keyClick(&F.Grid, Qt::Key_Down);
    QTest::keyClick(&F.Grid, Qt::Key_Insert);
    QCOMPARE(F.Data.State(), dsInsert);
    QCOMPARE(F.Grid.CurrentIndicator(), controls::inInsert);
    F.Grid.SetSelectedIndex(1);
    QTest::keyClicks(&F.Grid, "N");
    QTest::keyClicks(F.Grid.InplaceEditor(), "EW");
    QTest::keyClick(F.Grid.InplaceEditor(), Qt::Key_Return);
    QCOMPARE(F.Data.State(), dsBrowse);
    QCOMPARE(F.Data.RowCount(), 5);
    QCOMPARE(F.Data.RowText(1, 1), std::string("NEW"));

    // Declined: nothing is deleted.
    F.Box.Answer = false;
    QTest::keyClick(&F.Grid, Qt::Key_Delete, Qt::ControlModifier);
    QCOMPARE(F.Box.Questions, std::vector<std::string>{"Delete record?"});
    QCOMPARE(F.Data.RowCount(), 5);
    // Accepted: the current record goes.
    F.Box.Answer = true;
    QTest::keyClick(&F.Grid, Qt::Key_Delete, Qt::ControlModifier);
    QCOMPARE(F.Box.Questions.size(), std::size_t(2));
    QCOMPARE(F.Data.RowCount(), 4);
    QCOMPARE(F.Data.RowText(1, 1), std::string("N2"));

    // Without the option no question is asked.
    F.Grid.SetOptions(F.Grid.Options() - controls::TGridOptions{controls::dgConfirmDelete});
    QTest::keyClick(&F.Grid, Qt::Key_Delete, Qt::ControlModifier);
    QCOMPARE(F.Box.Questions.size(), std::size_t(2));
    QCOMPARE(F.Data.RowCount(), 3);
    QVERIFY(F.Box.Errors.empty());
}

void TestDBGrid::readOnlyDatasetIsNotEdited() {
    TGridFixture F(3);
    F.Data.ReadOnlyData = true;
    F.Open();
    F.Grid.SetSelectedIndex(1);
    QTest::keyClicks(&F.Grid, "A");
    QCOMPARE(F.Data.State(), dsBrowse);
    QVERIFY(!F.Grid.EditorMode());
    QTest::keyClick(&F.Grid, Qt::Key_F2);
    QVERIFY(!F.Grid.EditorMode());
    // Insert reaches the dataset, which refuses with its message.
    QTest::keyClick(&F.Grid, Qt::Key_Insert);
    QCOMPARE(F.Box.Errors, std::vector<std::string>{"Cannot modify a read-only dataset"});
    QCOMPARE(F.Data.State(), dsBrowse);
}

void TestDBGrid::selectedColumnAndColEnter() {
    TGridFixture F(3);
    int Entered = 0;
    std::vector<std::string> Seen;
    F.Grid.OnColEnter = [&] {
        ++Entered;
        Seen.push_back(F.Grid.SelectedField() ? F.Grid.SelectedField()->FieldName() : std::string("-"));
    };
    F.Open();
    QCOMPARE(F.Grid.SelectedIndex(), 0);
    QCOMPARE(Seen, std::vector<std::string>{"ID"});
    QTest::keyClick(&F.Grid, Qt::Key_Right);
    QCOMPARE(F.Grid.SelectedIndex(), 1);
    QTest::keyClick(&F.Grid, Qt::Key_Right);  // at the last column: stays, no event
    QCOMPARE(Seen, (std::vector<std::string>{"ID", "NAME"}));
    QTest::keyClick(&F.Grid, Qt::Key_Home);
    QCOMPARE(F.Grid.SelectedField()->FieldName(), std::string("ID"));
    // Hiding the selected field selects another column and reports it.
    F.Data.FieldByName("ID")->SetVisible(false);
    QCOMPARE(F.Grid.SelectedField()->FieldName(), std::string("NAME"));
    F.Data.FieldByName("NAME")->SetVisible(false);
    QVERIFY(F.Grid.SelectedField() == nullptr);
    QCOMPARE(Seen, (std::vector<std::string>{"ID", "NAME", "ID", "NAME", "-"}));
    QCOMPARE(Entered, 5);
    F.Data.FieldByName("NAME")->SetVisible(true);
    QCOMPARE(F.Grid.SelectedField()->FieldName(), std::string("NAME"));
    // Closing leaves the grid without a selected field.
    F.Data.Close();
    QCOMPARE(Seen.back(), std::string("-"));
}

void TestDBGrid::columnsCanBeResized() {
    TGridFixture F(3);
    F.Open();
    const int Before = F.Grid.ColumnWidth(0);
    const QRect Title = F.Grid.CellRect(-1, 0);
    const QPoint Edge(Title.right(), Title.center().y());
    QTest::mousePress(F.Grid.viewport(), Qt::LeftButton, {}, Edge);
    QMouseEvent Move(QEvent::MouseMove, QPointF(Edge + QPoint(30, 0)), QPointF(F.Grid.viewport()->mapToGlobal(Edge + QPoint(30, 0))),
                     Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(F.Grid.viewport(), &Move);
    QTest::mouseRelease(F.Grid.viewport(), Qt::LeftButton, {}, Edge + QPoint(30, 0));
    QCOMPARE(F.Grid.ColumnWidth(0), Before + 30);
    QCOMPARE(F.Data.RecNo(), 1);  // the drag did not move the dataset
    // The width is kept for that field when the dataset is reopened.
    F.Data.Close();
    F.Open();
    QCOMPARE(F.Grid.ColumnWidth(0), Before + 30);
}

void TestDBGrid::titleClickOrderMarkAndCellCopy() {
    TGridFixture F(3);
    std::vector<std::string> Clicked;
    F.Grid.OnTitleClick = [&](TField* Field) { Clicked.push_back(Field->FieldName()); };
    F.Open();
    // A click on a title selects the column, then reports it; dragging a
    // title's edge reports nothing.
    const QRect Name = F.Grid.CellRect(-1, 1);
    QTest::mouseClick(F.Grid.viewport(), Qt::LeftButton, {}, Name.center());
    QCOMPARE(F.Grid.SelectedIndex(), 1);
    QCOMPARE(Clicked, std::vector<std::string>{"NAME"});
    QTest::mouseClick(F.Grid.viewport(), Qt::LeftButton, {}, QPoint(Name.left() - 1, Name.center().y()));
    QCOMPARE(Clicked.size(), std::size_t(1));
    QCOMPARE(F.Data.RecNo(), 1);

    // The order mark is drawn at the end of the marked title only.
    auto Title = [&](int Col) { return F.Grid.viewport()->grab(F.Grid.CellRect(-1, Col)).toImage(); };
    const QImage Plain0 = Title(0), Plain1 = Title(1);
    F.Grid.SetOrderFieldName("NAME");
    QCOMPARE(Title(0), Plain0);
    QVERIFY(Title(1) != Plain1);
    F.Grid.SetOrderFieldName("");
    QCOMPARE(Title(1), Plain1);

    // Ctrl+C: the selected cell of the current record.
    QClipboard* Clipboard = QGuiApplication::clipboard();
    QTest::keyClick(&F.Grid, Qt::Key_Down);
    QTest::keyClick(&F.Grid, Qt::Key_C, Qt::ControlModifier);
    QCOMPARE(Clipboard->text(), QString("N2"));
    QCOMPARE(F.Data.State(), dsBrowse);
    F.Data.Close();
    QTest::keyClick(&F.Grid, Qt::Key_C, Qt::ControlModifier);
    QCOMPARE(Clipboard->text(), QString("N2"));
    QVERIFY(F.Box.Errors.empty());
}

QTEST_MAIN(TestDBGrid)
#include "test_DBGrid.moc"
