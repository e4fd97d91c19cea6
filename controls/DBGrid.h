// Data-aware controls: TDBGrid, a grid that shows and edits the record window
// of its data source's dataset.
//
// The grid holds no data of its own. Its data link's BufferCount is the
// number of data rows that fit (VisibleRowCount()), so the dataset's window
// of record buffers is exactly what the grid shows; each paint reads the
// cells of row r by making window position FirstRecord + r the dataset's
// active record for the moment of the read (TDataLink::SetActiveRecord) and
// asking the field for its text. Nothing else of the table is ever read.
//
// Columns: the dataset's fields in field order, those with Visible set; a
// memo field shows its text with line breaks drawn as a pilcrow. Titles show
// each field's DisplayName; a column is as wide as its field's DisplayWidth
// characters (or its title, if wider) until the user drags its title edge.
// The selected column is SelectedIndex(); OnColEnter runs whenever the
// selected field changes (by the user, or because the columns changed).
// A click on a column title selects the column and then runs OnTitleClick
// with its field. The title of the column named by OrderFieldName carries a
// small triangle at its right end (the column the records are ordered by).
//
// Clipboard: Ctrl+C (the platform's copy keys) puts the complete text of the
// selected cell of the current record on the clipboard as plain text: the
// field's display text with its line breaks, not cut to the cell.
//
// Moving: Up/Down MoveBy(-1/+1); PgUp/PgDn MoveBy(-/+ visible rows);
// Ctrl+Home First; Ctrl+End Last; the mouse wheel MoveBy; a click moves to
// the clicked row. The vertical scroll bar never counts records: its thumb
// stands at the top when the dataset is at its beginning (Bof), at the
// bottom at its end (Eof) and in the middle otherwise; its arrows and page
// areas move by one record and one page, dragging the thumb to either end
// goes to the first or last record.
//
// Editing (option dgEditing): typing a character or F2 starts the dataset's
// Edit (through the data source's AutoEdit) and opens the in-place editor on
// the selected cell (memo cells are edited in a memo pane, not here); the
// editor's text is written into the field when the dataset asks for pending
// input (UpdateRecord, so every Post and every move off the row, which posts
// through CheckBrowseMode). Enter posts, Esc cancels the edit. Insert inserts
// a record; Ctrl+Delete deletes the current one after "Delete record?"
// (dgConfirmDelete). Errors of these operations go to the application's
// error box (controls/Interaction.h); the grid stays usable.
//
// In-place editor states:
//   state    entered by                            left by
//   hidden   construction, Esc, successful Post,   F2, typing, double click
//            the dataset leaving its edit state,   (the dataset enters or is
//            column change, focus leaving grid     in dsEdit/dsInsert)
//   shown    see above                             see above; its text is
//                                                  written to the field first
//                                                  where the row is left
//
// Ownership: a QWidget owned by its Qt parent; owns its data link and its
// editor; does not own the data source or the fields.
// Threads: the GUI thread only.
#pragma once

#include "framework/DB.h"

#include <QAbstractScrollArea>

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

class QLineEdit;

namespace controls {

enum TGridOption {
    dgEditing,              // in-place editing
    dgTitles,               // a title row
    dgIndicator,            // the current-row indicator column
    dgColumnResize,         // titles' edges can be dragged
    dgColLines,             // lines between columns
    dgRowLines,             // lines between rows
    dgAlwaysShowSelection,  // the selected cell stays marked without focus
    dgConfirmDelete         // "Delete record?" before Ctrl+Delete deletes
};
using TGridOptions = fw::TSet<TGridOption>;

inline constexpr TGridOptions DefaultGridOptions{dgEditing,  dgTitles,   dgIndicator,           dgColumnResize,
                                                 dgColLines, dgRowLines, dgAlwaysShowSelection, dgConfirmDelete};

// What the indicator column shows beside the current record.
enum TIndicator { inNone, inBrowse, inEdit, inInsert };

class TDBGrid : public QAbstractScrollArea {
    Q_OBJECT
public:
    explicit TDBGrid(QWidget* Parent = nullptr);
    ~TDBGrid() override;

    TDataSource* DataSource() const noexcept;
    void SetDataSource(TDataSource* Value);
    TDataLink* DataLink() const noexcept;
    TGridOptions Options() const noexcept { return FOptions; }
    void SetOptions(TGridOptions Value);

    // ---- columns ----
    int ColumnCount() const noexcept { return static_cast<int>(FColumns.size()); }
    TField* ColumnField(int Index) const;
    int ColumnWidth(int Index) const;
    // Sets a column's width in pixels (kept for that field name while the
    // grid lives).
    void SetColumnWidth(int Index, int Width);
    // The selected column, -1 when the grid has no column.
    int SelectedIndex() const noexcept { return FSelected; }
    void SetSelectedIndex(int Value);
    // The field of the selected column, nullptr when none.
    TField* SelectedField() const;
    void SetSelectedField(TField* Field);

    // ---- rows ----
    // Data rows that fit in the grid's height (at least 1).
    int VisibleRowCount() const;
    int RowHeight() const noexcept { return FRowHeight; }
    int TitleHeight() const;
    int IndicatorWidth() const;
    // What the indicator shows beside the current record.
    TIndicator CurrentIndicator() const;
    // The text that the cell of data row Row (0 = first row of the link's
    // window) and column Col shows; empty outside the rows holding records.
    std::string CellText(int Row, int Col) const;
    // The cell's rectangle in viewport coordinates; Row -1 is the title row.
    QRect CellRect(int Row, int Col) const;

    // ---- editing ----
    bool EditorMode() const;
    // Opens the in-place editor on the selected cell (starting the dataset's
    // Edit); false when the cell cannot be edited. Errors propagate.
    bool ShowEditor();
    void HideEditor();
    QLineEdit* InplaceEditor() const noexcept;

    // ---- titles ----
    // The field whose title carries the order mark; empty for none.
    const std::string& OrderFieldName() const noexcept { return FOrderFieldName; }
    void SetOrderFieldName(const std::string& Value);

    // ---- clipboard ----
    // The complete text of the selected cell of the current record; empty
    // when the grid has no selected column or no record.
    std::string SelectedCellText() const;
    // Puts SelectedCellText on the clipboard; false (clipboard unchanged)
    // when there is no such cell.
    bool CopySelectedCell();

    // Runs when the selected field changes.
    std::function<void()> OnColEnter;
    // Runs when a column title is clicked, with the column's field, after the
    // column was selected. Errors it raises go to the error box.
    std::function<void(TField* Field)> OnTitleClick;

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* Event) override;
    void resizeEvent(QResizeEvent* Event) override;
    void keyPressEvent(QKeyEvent* Event) override;
    void mousePressEvent(QMouseEvent* Event) override;
    void mouseMoveEvent(QMouseEvent* Event) override;
    void mouseReleaseEvent(QMouseEvent* Event) override;
    void mouseDoubleClickEvent(QMouseEvent* Event) override;
    void wheelEvent(QWheelEvent* Event) override;
    void focusInEvent(QFocusEvent* Event) override;
    void focusOutEvent(QFocusEvent* Event) override;
    void changeEvent(QEvent* Event) override;
    void scrollContentsBy(int Dx, int Dy) override;

private:
    class TGridDataLink;
    class TInplaceEdit;
    friend class TGridDataLink;
    friend class TInplaceEdit;

    struct TColumn {
        TField* Field = nullptr;
        std::string FieldName;
        int Width = 0;
    };

    // ---- link reactions ----
    void LinkActive();
    void DataChanged();
    void Scrolled();
    void LayoutChanged();
    void RecordChanged(TField* Field);
    void EditingChanged();
    void UpdateData();
    void FocusField(TField** Field);

    // ---- helpers ----
    TDataSet* DataSet() const;
    bool LinkActiveAndOpen() const;
    // The grid has a selected column and the dataset a current record.
    bool HasSelectedCell() const;
    void BuildColumns();
    int DefaultColumnWidth(TField* Field) const;
    void UpdateFontMetrics();
    void UpdateRowCount();
    void UpdateScrollBars();
    void UpdateVerticalThumb();
    void VerticalAction(int Action);
    void VerticalReleased();
    void PlaceEditor();
    void NotifyColEnter();
    bool SelectColumn(int Index);
    void MakeColumnVisible(int Index);
    int ColumnLeft(int Index) const;  // viewport x of the column's left edge
    int ColumnAt(int X) const;        // -1 outside the columns
    int ResizeEdgeAt(const QPoint& Pos) const;
    // Key handling shared with the in-place editor; true when the key was
    // used.
    bool HandleKey(QKeyEvent* Event);
    bool StartEditing(const QString& Typed);
    void PostEdit();
    void CancelEdit();
    void DeleteRecord();
    void MoveBy(int Distance);
    std::vector<std::string> ReadRow(int Row) const;
    static std::string DisplayText(TField* Field);

    std::unique_ptr<TGridDataLink> FDataLink;
    TInplaceEdit* FEditor = nullptr;
    TField* FEditField = nullptr;
    bool FEditorModified = false;
    bool FWritingEditor = false;
    TGridOptions FOptions = DefaultGridOptions;
    std::vector<TColumn> FColumns;
    std::map<std::string, int> FUserWidths;
    int FSelected = -1;
    TField* FLastSelectedField = nullptr;
    std::string FLastSelectedName;
    std::string FOrderFieldName;
    int FRowHeight = 20;
    int FCharWidth = 7;
    int FResizing = -1;        // column whose edge is dragged, -1 none
    int FResizeStartX = 0;
    int FResizeStartWidth = 0;
    bool FThumbDragged = false;
};

}  // namespace controls
