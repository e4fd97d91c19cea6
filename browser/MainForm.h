// The browser's one window, TTamblorBrowserForm: one Money table in an
// editable grid with a navigator bar, an index chooser, a key search box and
// a memo pane, and every command in one pop-up menu.
//
// Layout (design pixels at 120 pixels per inch, scaled to the screen):
//   Panel1 (top, 47 high, sunken): RecNo (disabled, 10/10/139/24), Edit1 (the
//     key search box, 158/10/198/24), IndexComboBox (364/10/179/24),
//     DBNavigator1 (554/12/240/22)
//   Panel2 (the rest, sunken): Splitter1 holding DBGrid above and the memo
//     pane DBMemo1 (137 high, hidden at start, automatic display off)
//   StatusBar1 (bottom): the status line (StatusLine()): the table's record
//     count, current record, index and restriction, and notes; while a
//     record walk runs, the count of records it has visited (WalkProgress())
//   Tab order: DBGrid, DBMemo1, Edit1, IndexComboBox, DBNavigator1; the grid
//   has the focus at start. The window starts maximised.
// PopupMenu1 opens with the right mouse button anywhere on the window; its
// shortcuts work throughout the window, before the focused control sees the
// key. The window sees every key first (key preview: FormKeyDown).
//
// Conveniences beyond the menu (no menu items of their own):
//   Ctrl+C        in the grid: the current cell's text to the clipboard
//   Shift+Ctrl+C  anywhere: the current record's visible fields to the
//                 clipboard as the TAB export writes them, header line first
//   Ctrl+Z        anywhere: takes back the last change (UndoLastChange);
//                 in a text box that can undo its own typing, that first
//   column title  a click orders by the first index that begins with the
//                 column, as choosing it in the index list would; the
//                 ordering column's title is marked
//   drop a file   opens it as "Open table.." would, never read-only
//
// Colours follow the desktop palette. The window's font colour, black, holds
// while the palette is light; under a dark palette black text would vanish,
// and the palette's own text colour stays.
//
// Table states as the window shows them:
//   table     "Search..", "Fields"   fields menu, index list    memo
//   closed    disabled               as last built / empty      unbound
//   open      enabled                rebuilt at every open      the grid's
//                                    ("<no index>" selected)    selected field
// The caption becomes "Tallowmere [file]" when an open begins and keeps it.
//
// Every handler runs guarded: an exception ends the handler and its message
// is shown in the application's error box (Dialogs()->ShowError); EAbort is
// silent; the window stays usable. While the window exists, the controls'
// error and confirmation boxes and the table's exception handler are routed
// through the same dialogs.
//
// Ownership: the window owns its Qt children (controls, menu, menu items,
// also the field items built at run time), its dialogs object (unless one is
// given, which the caller keeps alive for the window's life) and, through a
// component root, the one TMoneyTable and its TDataSource.
// Threads: the GUI thread only.
#pragma once

#include "browser/Dialogs.h"
#include "browser/StatusLine.h"
#include "browser/UndoLog.h"
#include "browser/WalkProgress.h"
#include "controls/DBControls.h"
#include "moneytable/Tamblor.h"

#include <QList>
#include <QUrl>
#include <QWidget>

#include <functional>
#include <memory>
#include <string>

class QAction;
class QComboBox;
class QDropEvent;
class QFrame;
class QLineEdit;
class QMenu;
class QSplitter;
class QStatusBar;

// The start-up values (written by the command line, read at creation;
// StartTableName also follows the last file chosen in the open dialog).
extern std::string StartTableName;
extern bool StartReadOnly;

namespace browser {

// Steps 1 and 2 of the start-up: StartReadOnly from the switch RO anywhere on
// the command line, StartTableName from the first plain parameter (letter
// case kept: file names are case-sensitive here).
void ReadStartParameters();

// The file the header dump is appended to: $TMPDIR/DUMP.TXT, /tmp/DUMP.TXT
// without TMPDIR.
std::string DumpFileName();

// The Tag of a menu item (0 when it has none).
std::intptr_t Tag(const QObject* Item);

// Starts a program detached with an argument list (no shell); false when it
// could not be started.
using TProcessStarter = std::function<bool(const QString& Program, const QStringList& Arguments)>;

}  // namespace browser

class TTamblorBrowserForm : public QWidget {
    Q_OBJECT
public:
    // Dialogs: the dialogs to use (nullptr: Qt's); the window does not own a
    // given one.
    explicit TTamblorBrowserForm(browser::TDialogs* Dialogs = nullptr, QWidget* Parent = nullptr);
    ~TTamblorBrowserForm() override;

    // ---- components ----
    QFrame* Panel1 = nullptr;
    QLineEdit* RecNo = nullptr;
    QLineEdit* Edit1 = nullptr;
    QComboBox* IndexComboBox = nullptr;
    controls::TDBNavigator* DBNavigator1 = nullptr;
    QFrame* Panel2 = nullptr;
    QSplitter* Splitter1 = nullptr;
    controls::TDBGrid* DBGrid = nullptr;
    controls::TDBMemo* DBMemo1 = nullptr;
    QStatusBar* StatusBar1 = nullptr;
    TDataSource* DataSource1 = nullptr;
    TMoneyTable* Table = nullptr;
    browser::TOpenDialog OpenDialog;
    browser::TFindDialog FindDialog;
    browser::TSaveDialog SaveCSVDialog;

    QMenu* PopupMenu1 = nullptr;
    QAction* Newtable1 = nullptr;
    QAction* Opentable1 = nullptr;
    QAction* N4 = nullptr;
    QAction* Search1 = nullptr;
    QAction* ExportTABdelimited1 = nullptr;
    QAction* ExporttoCSV1 = nullptr;
    QAction* N1 = nullptr;
    QAction* Memoonoff1 = nullptr;
    QAction* Countfield1 = nullptr;
    QAction* Fillfieldinrecords1 = nullptr;
    QMenu* FieldsSubMenu = nullptr;
    QAction* Dumpheader1 = nullptr;
    QAction* N2 = nullptr;
    QAction* Filter = nullptr;
    QAction* Rangestart1 = nullptr;
    QAction* Rangeend1 = nullptr;
    QAction* FilterString1 = nullptr;
    QAction* N3 = nullptr;
    QAction* About1 = nullptr;

    // ---- fields of the window ----
    bool FStop = false;              // a running walk is to stop (Esc)
    bool FFound = false;             // the last search step ended on a hit
    unsigned FSearching = 0;         // searches running
    std::string FRangeStartText;     // range start values, '|'-separated
    std::string FRangeEndText;       // range end values, '|'-separated

    // ---- handlers (each as its component's event) ----
    void FormCreate();
    void Opentable1Click(QObject* Sender);
    void TableBeforeOpen(TDataSet* DataSet);
    void TableAfterOpen(TDataSet* DataSet);
    void TableAfterClose(TDataSet* DataSet);
    void DataSource1DataChange(TObject* Sender, TField* Field);
    void DBGridColEnter();
    void Memoonoff1Click(QObject* Sender);
    void FieldsSubMenuClick(QObject* Sender);
    void FormKeyDown(int& Key, Qt::KeyboardModifiers Shift);
    void IndexComboBoxChange();
    void Edit1KeyDown(int& Key, Qt::KeyboardModifiers Shift);
    void ExporttoCSV1Click(QObject* Sender);
    // The record commands of the menu.
    void Search2Click(QObject* Sender);
    void FindDialogFind();
    void Countfield1Click(QObject* Sender);
    void Fillfieldinrecords1Click(QObject* Sender);
    void FilterString1Click(QObject* Sender);
    void FilterClick(QObject* Sender);
    void Rangestart1Click(QObject* Sender);
    void Rangeend1Click(QObject* Sender);
    void Dumpheader1Click(QObject* Sender);
    void About1Click(QObject* Sender);
    // The conveniences.
    void DBGridTitleClick(TField* Column);
    void CopyRecord();
    void UndoLastChange();

    // ---- methods ----
    // Fills the table's key fields (the table in dsSetKey) from values
    // separated by '|' and counts them in KeyFieldCount.
    void FillKeyFields(const std::string& Text);
    // Disables (true) or enables the grid and the memo pane.
    void SetBusy(bool Busy);
    // What the window shows while a record walk runs, and the message
    // processing after each of its records.
    browser::TWalkProgress* WalkProgress() const noexcept { return FWalkProgress.get(); }
    browser::TStatusLine* StatusLine() const noexcept { return FStatusLine.get(); }
    // Posts an edit not yet posted (when that fails, the table stays as it
    // is and the error propagates), then closes the table and opens FileName
    // in natural order, read-only or not; StartTableName follows.
    void OpenTableFile(const std::string& FileName, bool ReadOnly);
    // Opens the file of the first URL dropped on the window (a local file by
    // its path, anything else by its text, which then fails to open).
    void TableFileDropped(const QList<QUrl>& Urls);
    // Clears the index list, fills it with the table's index names after
    // "<no index>" and selects that.
    void RefillIndexList();

    browser::TDialogs* Dialogs() const noexcept { return FDialogs; }
    // Starts the second copy of "New table..."; QProcess::startDetached unless
    // replaced (tests record the call).
    browser::TProcessStarter StartProcess;

    // Runs Handler; an exception is shown in the error box (EAbort silent).
    // True when the handler returned normally.
    bool Guard(const std::function<void()>& Handler);
    // In a catch block: shows the exception being handled.
    void ShowException() noexcept;
    // Shows Message in the error box. When the exception being handled is
    // the table's refusal to stand on a record (EBFError "Error while
    // executing") because another user deleted records the window shows,
    // the window is mended first and the box names the records gone instead
    // (RecoverVanishedRecords); a failure of that mending shows in a second
    // box.
    void ShowError(const std::string& Message);

protected:
    bool eventFilter(QObject* Watched, QEvent* Event) override;
    void contextMenuEvent(QContextMenuEvent* Event) override;
    void showEvent(QShowEvent* Event) override;
    bool event(QEvent* Event) override;
    // Closing the window stops a running walk (after its current record) and
    // posts an edit or insert not yet posted; when that post fails, the
    // error shows and the window stays open.
    void closeEvent(QCloseEvent* Event) override;

private:
    void BuildComponents();
    void BuildMenu();
    QAction* AddItem(const char* Caption, const QKeySequence& Shortcut, std::intptr_t Tag,
                     void (TTamblorBrowserForm::*Handler)(QObject*));
    int Scale(int DesignPixels) const;
    bool IsMenuShortcut(const QKeySequence& Key) const;
    bool HandleDrag(QDropEvent* Event);
    void FollowDesktopPalette();
    // Marks the title of the column the table is ordered by.
    void ShowOrder();

    std::unique_ptr<browser::TDialogs> FOwnDialogs;
    browser::TDialogs* FDialogs = nullptr;
    std::unique_ptr<TComponent> FComponents;  // owns Table and DataSource1
    std::unique_ptr<browser::TStatusLine> FStatusLine;
    std::unique_ptr<browser::TWalkProgress> FWalkProgress;
    std::unique_ptr<browser::TUndoLog> FUndoLog;
    controls::TErrorHandler FOldErrorHandler;
    controls::TConfirmHandler FOldConfirmHandler;
    moneytable::TExceptionHandler FOldTableHandler;
    bool FFocusSet = false;
    bool FRecovering = false;  // ShowError is mending the window
};
