// TTamblorBrowserForm: the record commands of the pop-up menu - "Search..."
// and the find dialog's find-next, "Count field", "Fill field in records",
// "Set filter", "Filter active", "Range start", "Range end", the header dump
// and "About...". The commands themselves live in RecordCommands.cpp; this
// file gives them the window: the grid's selected field, the input box of
// the window's dialogs, the walk progress (busy cursor, count of records in
// the status bar, the message processing after each record that keeps the
// window responsive, so that Esc, FormKeyDown, can set FStop) and SetBusy.
//
// Every handler runs inside the window's Guard (MainForm.cpp), which shows an
// error in the error box. The handlers that prompt or walk give the keyboard
// focus back to the control of the window that had it (TFocusKeeper): the
// input boxes take it, and SetBusy moves it off the disabled grid.
#include "browser/MainForm.h"
#include "browser/RecordCommands.h"

#include <QAction>
#include <QPointer>

namespace {

// What the record commands need of the window.
browser::TRecordCommandHooks HooksOf(TTamblorBrowserForm* Form) {
    browser::TRecordCommandHooks Hooks;
    Hooks.SelectedField = [Form] { return Form->DBGrid->SelectedField(); };
    Hooks.InputQuery = [Form](const std::string& Caption, const std::string& Prompt, std::string& Value) {
        return Form->Dialogs()->InputQuery(Caption, Prompt, Value, Form);
    };
    browser::TWalkProgress* Progress = Form->WalkProgress();
    Hooks.BeginWalk = [Progress](const char* What) { Progress->Begin(What); };
    Hooks.EndWalk = [Progress] { Progress->End(); };
    Hooks.ProcessMessages = [Progress] { Progress->Step(); };
    Hooks.SetBusy = [Form](bool Busy) { Form->SetBusy(Busy); };
    return Hooks;
}

// Gives the window's focus back, when the handler ends, to the control that
// had it when the handler began, if that control can take it again.
class TFocusKeeper {
public:
    explicit TFocusKeeper(QWidget* Window) : FWindow(Window), FHad(Window->focusWidget()) {}
    ~TFocusKeeper() {
        if (FWindow.isNull() || FHad.isNull() || FWindow->focusWidget() == FHad) return;
        if (FHad->isEnabled() && FHad->isVisible()) FHad->setFocus(Qt::OtherFocusReason);
    }
    TFocusKeeper(const TFocusKeeper&) = delete;
    TFocusKeeper& operator=(const TFocusKeeper&) = delete;

private:
    QPointer<QWidget> FWindow;
    QPointer<QWidget> FHad;
};

}  // namespace

void TTamblorBrowserForm::Search2Click(QObject*) {
    // The current record is tested first by the next find-next press.
    FFound = false;
    FDialogs->ShowFind(FindDialog, this);
}

void TTamblorBrowserForm::FindDialogFind() {
    TFocusKeeper Focus(this);
    browser::FindDialogFindStep(Table, FindDialog.FindText, FindDialog.MatchCase, FindDialog.Down, FStop, FFound,
                                FSearching, HooksOf(this));
}

void TTamblorBrowserForm::Countfield1Click(QObject*) {
    TFocusKeeper Focus(this);
    browser::CountField(Table, FStop, HooksOf(this));
}

void TTamblorBrowserForm::Fillfieldinrecords1Click(QObject*) {
    TFocusKeeper Focus(this);
    browser::FillFieldInRecords(Table, FStop, HooksOf(this));
}

void TTamblorBrowserForm::FilterString1Click(QObject*) {
    TFocusKeeper Focus(this);
    browser::AskFilterText(Table, HooksOf(this).InputQuery);
}

// From the menu (Sender is the item) the checkable item has already inverted
// its mark when the handler runs; the range commands call it without a
// sender, leaving the mark. Either way the mark decides. An error leaves the
// mark as it is.
void TTamblorBrowserForm::FilterClick(QObject*) {
    browser::ApplyFilterActive(Table, Filter->isChecked(), FRangeStartText, FRangeEndText);
}

void TTamblorBrowserForm::Rangestart1Click(QObject*) {
    TFocusKeeper Focus(this);
    if (browser::AskRangeText(HooksOf(this).InputQuery, browser::SRangeStart, FRangeStartText) && Filter->isChecked())
        FilterClick(nullptr);
}

void TTamblorBrowserForm::Rangeend1Click(QObject*) {
    TFocusKeeper Focus(this);
    if (browser::AskRangeText(HooksOf(this).InputQuery, browser::SRangeEnd, FRangeEndText) && Filter->isChecked())
        FilterClick(nullptr);
}

void TTamblorBrowserForm::Dumpheader1Click(QObject*) {
    // The same file that the item's caption names.
    Table->DumpHeader(browser::DumpFileName());
}

void TTamblorBrowserForm::About1Click(QObject*) {
    FDialogs->ShowMessage(browser::AboutText(), this);
}
