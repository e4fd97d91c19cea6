// The browser's dialogs, reached through one small interface so that tests
// answer them without a person: the file-open and file-save dialogs, the
// modeless find dialog, the input box, the message box, the error box and
// the yes/no question.
//
// The dialog settings (TOpenDialog, TSaveDialog, TFindDialog) are plain
// values that the window owns and keeps between uses, as its dialog
// components would; a TDialogs implementation shows them and writes the
// user's answer back into them. Filters are written as "Description|pattern|
// Description|pattern", patterns separated by ';'.
//
// TQtDialogs shows Qt's dialogs (the file dialogs are Qt's own widgets, so
// that the open dialog can carry its read-only check box).
//
// Ownership: a TDialogs does not own the settings it is given; TQtDialogs
// parents every dialog it creates to the given window.
// Threads: the GUI thread only.
#pragma once

#include <QPointer>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <string>

class QWidget;

namespace browser {

struct TOpenDialog {
    std::string Title = "Open table";
    std::string DefaultExt = "DAT";
    std::string Filter = "Money2000 Table (*.DAT)|*.DAT|All files (*.*)|*.*";
    int FilterIndex = 1;          // 1-based entry selected at first
    std::string FileName;         // in: where to start; out: the file chosen
    bool ShowReadOnly = true;     // the read-only check box is shown
    bool ReadOnlyChecked = false;  // in and out: its state
    bool FileMustExist = true;
    bool PathMustExist = true;
};

struct TSaveDialog {
    std::string Title = "Save as";
    std::string DefaultExt = "txt";
    std::string Filter = "Text files (*.txt)|*.txt|CSV text files (*.csv)|*.csv|All (*.*)|*.*";
    int FilterIndex = 1;
    std::string FileName;         // out: the file chosen
    bool OverwritePrompt = true;  // ask before replacing an existing file
    bool HideReadOnly = true;
    bool Resizable = true;
};

struct TFindDialog {
    std::string FindText;
    bool MatchCase = false;
    bool Down = true;            // search direction
    bool HideWholeWord = true;   // the whole-word option is not offered
    // Runs on every press of "Find Next", after the fields above were set
    // from the dialog.
    std::function<void()> OnFind;
};

class TDialogs {
public:
    virtual ~TDialogs() = default;
    // True when the user chose a file (Dialog.FileName and ReadOnlyChecked
    // then hold the answer).
    virtual bool ExecuteOpen(TOpenDialog& Dialog, QWidget* Parent) = 0;
    virtual bool ExecuteSave(TSaveDialog& Dialog, QWidget* Parent) = 0;
    // Shows the modeless find dialog (brings it forward when shown already);
    // returns at once.
    virtual void ShowFind(TFindDialog& Dialog, QWidget* Parent) = 0;
    virtual void CloseFind() = 0;
    // The input box: true for OK (Value holds the text), false for Cancel.
    virtual bool InputQuery(const std::string& Caption, const std::string& Prompt, std::string& Value,
                            QWidget* Parent) = 0;
    virtual void ShowMessage(const std::string& Text, QWidget* Parent) = 0;
    virtual void ShowError(const std::string& Text, QWidget* Parent) = 0;
    virtual bool Confirm(const std::string& Text, QWidget* Parent) = 0;
};

class TQtDialogs : public TDialogs {
public:
    TQtDialogs();
    ~TQtDialogs() override;
    bool ExecuteOpen(TOpenDialog& Dialog, QWidget* Parent) override;
    bool ExecuteSave(TSaveDialog& Dialog, QWidget* Parent) override;
    void ShowFind(TFindDialog& Dialog, QWidget* Parent) override;
    void CloseFind() override;
    bool InputQuery(const std::string& Caption, const std::string& Prompt, std::string& Value,
                    QWidget* Parent) override;
    void ShowMessage(const std::string& Text, QWidget* Parent) override;
    void ShowError(const std::string& Text, QWidget* Parent) override;
    bool Confirm(const std::string& Text, QWidget* Parent) override;

private:
    class TFindWindow;
    QPointer<QWidget> FFind;  // the find window, owned by its Qt parent
};

// The Qt name filters of a "Description|pattern|..." filter. A pattern "*.*"
// becomes "*" (every file, with or without an extension).
QStringList NameFilters(const std::string& Filter);

}  // namespace browser
