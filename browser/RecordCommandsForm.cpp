// TTamblorBrowserForm: the record commands of the pop-up menu - "Search..."
// and the find dialog's find-next, "Count field", "Fill field in records",
// "Set filter", "Filter active", "Range start", "Range end", the header dump
// and "About...". The commands themselves live in RecordCommands.cpp; this
// file gives them the window: the grid's selected field, the input box of
// the window's dialogs, the message processing that keeps the window
// responsive during a walk (so that Esc, FormKeyDown, can set FStop), and
// SetBusy.
//
// Every handler runs inside the window's Guard (MainForm.cpp), which shows an
// error in the error box.
#include "browser/MainForm.h"
#include "browser/RecordCommands.h"

#include <QAction>
#include <QCoreApplication>

namespace {

// What the record commands need of the window.
browser::TRecordCommandHooks HooksOf(TTamblorBrowserForm* Form) {
    browser::TRecordCommandHooks Hooks;
    Hooks.SelectedField = [Form] { return Form->DBGrid->SelectedField(); };
    Hooks.InputQuery = [Form](const std::string& Caption, const std::string& Prompt, std::string& Value) {
        return Form->Dialogs()->InputQuery(Caption, Prompt, Value, Form);
    };
    Hooks.ProcessMessages = [] { QCoreApplication::processEvents(); };
    Hooks.SetBusy = [Form](bool Busy) { Form->SetBusy(Busy); };
    return Hooks;
}

}  // namespace

void TTamblorBrowserForm::Search2Click(QObject*) {
    // The current record is tested first by the next find-next press.
    FFound = false;
    FDialogs->ShowFind(FindDialog, this);
}

void TTamblorBrowserForm::FindDialogFind() {
    browser::FindDialogFindStep(Table, FindDialog.FindText, FindDialog.MatchCase, FindDialog.Down, FStop, FFound,
                                FSearching, HooksOf(this));
}

void TTamblorBrowserForm::Countfield1Click(QObject*) {
    browser::CountField(Table, FStop, HooksOf(this));
}

void TTamblorBrowserForm::Fillfieldinrecords1Click(QObject*) {
    browser::FillFieldInRecords(Table, FStop, HooksOf(this));
}

void TTamblorBrowserForm::FilterString1Click(QObject*) {
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
    if (browser::AskRangeText(HooksOf(this).InputQuery, browser::SRangeStart, FRangeStartText) && Filter->isChecked())
        FilterClick(nullptr);
}

void TTamblorBrowserForm::Rangeend1Click(QObject*) {
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
