// Data-aware controls: TDBMemo, a multi-line text pane bound to one field of
// the current record.
//
// A memo field's text is read through the dataset's blob stream
// (CreateBlobStream, read mode) and written back through a write-mode stream;
// any other field through AsString / SetAsString. The text is loaded only
// when AutoDisplay is on; with it off the pane stays empty (its placeholder
// names the field) until LoadMemo() - a double click or Enter in the pane -
// asks for it, so a hidden pane never reads a memo. Typing puts the dataset
// into an edit state (through the data source's AutoEdit); the text is
// written into the field when the dataset asks its controls for pending input
// (UpdateRecord, hence every Post) and when the pane loses the focus, and so
// reaches the table with the next post. Line breaks keep the form the loaded
// text used (CR LF or LF). Esc forgets the typed text and redisplays the
// field.
//
// While the display is deferred (SetDisplayDeferred), a change of record or
// field reads nothing: the pane keeps its text, marked not loaded, and ending
// the deferral redisplays the field at once. A long walk over the records
// defers the pane so that it follows at a human rate, not at every record.
//
// Display states (FLoaded):
//   state        entered by                               shows
//   not loaded   no field, AutoDisplay off and a new      nothing (placeholder)
//                record or field
//   loaded       AutoDisplay on, LoadMemo()               the field's text
//
// Ownership: a QWidget owned by its Qt parent; it owns its data link and
// holds no reference to the data source beyond it.
// Threads: the GUI thread only.
#pragma once

#include "controls/FieldDataLink.h"

#include <QPlainTextEdit>

namespace controls {

class TDBMemo : public QPlainTextEdit {
    Q_OBJECT
public:
    explicit TDBMemo(QWidget* Parent = nullptr);
    ~TDBMemo() override;

    TDataSource* DataSource() const noexcept { return FDataLink.DataSource(); }
    void SetDataSource(TDataSource* Value);
    // Name of the field shown (empty: none).
    const std::string& DataField() const noexcept { return FDataLink.FieldName(); }
    void SetDataField(const std::string& Value);
    TField* Field() const noexcept { return FDataLink.Field(); }
    bool AutoDisplay() const noexcept { return FAutoDisplay; }
    // Turning it on loads the current text at once.
    void SetAutoDisplay(bool Value);
    // Reads the field's text into the pane (does nothing without a field).
    void LoadMemo();
    bool Loaded() const noexcept { return FLoaded; }
    // Defers (true) the redisplay at each change of record or field; false
    // redisplays at once when a change came meanwhile (unless the pane holds
    // text typed since).
    void SetDisplayDeferred(bool Value);
    bool DisplayDeferred() const noexcept { return FDeferred; }
    // The pane's text as the field would receive it (line breaks in the
    // loaded text's form).
    std::string FieldText() const;
    TFieldDataLink* DataLink() noexcept { return &FDataLink; }

protected:
    void keyPressEvent(QKeyEvent* Event) override;
    void mouseDoubleClickEvent(QMouseEvent* Event) override;
    void focusOutEvent(QFocusEvent* Event) override;
    void insertFromMimeData(const QMimeData* Source) override;

private:
    void DataChange();
    void EditingChange();
    void UpdateData();
    void TextEdited();
    void ShowText(const std::string& Text);
    // True when the pane may take the user's change (puts the dataset into
    // an edit state when needed).
    bool BeginChange();
    void UpdateReadOnly();

    TFieldDataLink FDataLink;
    bool FAutoDisplay = true;
    bool FLoaded = false;
    bool FLoading = false;
    bool FCrLf = false;
    bool FDeferred = false;
    bool FChangePending = false;  // a change came while deferred
};

}  // namespace controls
