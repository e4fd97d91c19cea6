// Support for the tests that drive the browser's window: scripted dialogs
// that answer and record instead of a person, a temporary folder, real
// table files made with the engine's schema API, and a window under test
// with helpers that act as the user would.
//
// Ownership: TScriptedDialogs keeps copies of what it was shown; the window
// under test does not own it. TTempFolder removes its files when destroyed.
// TWindow owns its window and the dialogs it uses.
// Threads: the test thread.
#pragma once

#include "browser/Dialogs.h"
#include "browser/MainForm.h"
#include "engine/Engine.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QFile>
#include <QLineEdit>
#include <QMenu>
#include <QTemporaryDir>
#include <QtTest/QtTest>

#include <memory>

#include <deque>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace browser::test {

class TScriptedDialogs : public TDialogs {
public:
    // Answers, taken in order; an empty queue or nullopt is Cancel.
    struct TOpenAnswer {
        std::string FileName;
        bool ReadOnly = false;
    };
    std::deque<std::optional<TOpenAnswer>> OpenAnswers;
    std::deque<std::optional<std::string>> SaveAnswers;
    std::deque<std::optional<std::string>> InputAnswers;
    bool ConfirmAnswer = true;

    // What was shown.
    std::vector<TOpenDialog> OpenShown;
    std::vector<TSaveDialog> SaveShown;
    std::vector<std::string> Errors;
    std::vector<std::string> Messages;
    std::vector<std::string> Questions;
    std::vector<std::string> Prompts;  // "caption|prompt|preset"
    TFindDialog* FindShown = nullptr;

    bool ExecuteOpen(TOpenDialog& Dialog, QWidget*) override {
        OpenShown.push_back(Dialog);
        std::optional<TOpenAnswer> A = Take(OpenAnswers);
        if (!A) return false;
        Dialog.FileName = A->FileName;
        Dialog.ReadOnlyChecked = A->ReadOnly;
        return true;
    }
    bool ExecuteSave(TSaveDialog& Dialog, QWidget*) override {
        SaveShown.push_back(Dialog);
        std::optional<std::string> A = Take(SaveAnswers);
        if (!A) return false;
        Dialog.FileName = *A;
        return true;
    }
    void ShowFind(TFindDialog& Dialog, QWidget*) override { FindShown = &Dialog; }
    void CloseFind() override { FindShown = nullptr; }
    bool InputQuery(const std::string& Caption, const std::string& Prompt, std::string& Value, QWidget*) override {
        Prompts.push_back(Caption + "|" + Prompt + "|" + Value);
        std::optional<std::string> A = Take(InputAnswers);
        if (!A) return false;
        Value = *A;
        return true;
    }
    void ShowMessage(const std::string& Text, QWidget*) override { Messages.push_back(Text); }
    void ShowError(const std::string& Text, QWidget*) override { Errors.push_back(Text); }
    bool Confirm(const std::string& Text, QWidget*) override {
        Questions.push_back(Text);
        return ConfirmAnswer;
    }

private:
    template <class T>
    static std::optional<T> Take(std::deque<std::optional<T>>& Queue) {
        if (Queue.empty()) return std::nullopt;
        std::optional<T> A = std::move(Queue.front());
        Queue.pop_front();
        return A;
    }
};

// A temporary folder for table and export files.
class TTempFolder {
public:
    std::string File(const std::string& Name) const { return FDir.filePath(QString::fromStdString(Name)).toStdString(); }

private:
    QTemporaryDir FDir;
};

inline engine::ColumnSpec Column(const std::string& Name, char Type, int Size = 0) {
    engine::ColumnSpec C;
    C.Name = Name;
    C.Type = Type;
    C.Size = Size;
    return C;
}

inline engine::IndexSpec Index(std::vector<int> Columns) {
    engine::IndexSpec I;
    I.Columns = std::move(Columns);
    return I;
}

// Creates a table file and fills it in one transaction.
inline void MakeTable(const std::string& Path, std::vector<engine::ColumnSpec> Columns,
                      std::vector<engine::IndexSpec> Indexes, const std::vector<std::vector<engine::Value>>& Rows) {
    engine::TableSchema Schema;
    Schema.Columns = std::move(Columns);
    Schema.Indexes = std::move(Indexes);
    engine::CreateTable(Path, Schema);
    if (Rows.empty()) return;
    engine::BulkInserter Insert(Path);
    for (const auto& Row : Rows) Insert.Add(Row);
    Insert.Commit();
}

inline engine::Value T(const std::string& S) {
    return engine::Value::Text(S);
}
inline engine::Value I(std::int64_t V) {
    return engine::Value::Int(V);
}
inline engine::Value Null() {
    return engine::Value::Null();
}

// The people table: Last, First (index 0: Last;First), Amount (index 1),
// Note (memo) and a column named "P&L".
//   1 Smith Zed  30 "z"              "a"
//   2 Adams Zoe  10 null             "b"
//   3 Smith John 50 "line1\r\nline2" "c;d"
//   4 Young Bob  20 ""               null
//   5 Smith Anna 40 "x"              "e"
inline void MakePeople(const std::string& Path) {
    MakeTable(Path,
              {Column("Last", 'C', 20), Column("First", 'C', 20), Column("Amount", 'L'), Column("Note", 'M'),
               Column("P&L", 'C', 10)},
              {Index({0, 1}), Index({2})},
              {{T("Smith"), T("Zed"), I(30), T("z"), T("a")},
               {T("Adams"), T("Zoe"), I(10), Null(), T("b")},
               {T("Smith"), T("John"), I(50), T("line1\r\nline2"), T("c;d")},
               {T("Young"), T("Bob"), I(20), T(""), Null()},
               {T("Smith"), T("Anna"), I(40), T("x"), T("e")}});
}

inline std::string ReadFile(const std::string& Path) {
    QFile F(QString::fromStdString(Path));
    if (!F.open(QIODevice::ReadOnly)) return "<missing>";
    return F.readAll().toStdString();
}

struct TStarted {
    QString Program;
    QStringList Arguments;
};

// A browser window created with the given start-up values (restored when it
// goes), its dialogs scripted and its second copies recorded; shown and active.
struct TWindow {
    TWindow(const std::string& TableName, bool ReadOnly = false) {
        StartTableName = TableName;
        StartReadOnly = ReadOnly;
        Form = std::make_unique<TTamblorBrowserForm>(&Dialogs);
        Form->StartProcess = [this](const QString& Program, const QStringList& Arguments) {
            Started.push_back({Program, Arguments});
            return true;
        };
        Form->show();
        Form->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(Form.get()));
        QCoreApplication::processEvents();
    }
    ~TWindow() {
        Form.reset();
        StartTableName.clear();
        StartReadOnly = false;
    }
    TTamblorBrowserForm* operator->() const { return Form.get(); }
    // Sends a key to the focused control, as the keyboard would.
    void Key(Qt::Key K, Qt::KeyboardModifiers M = Qt::NoModifier) {
        QWidget* Target = QApplication::focusWidget() != nullptr ? QApplication::focusWidget() : Form.get();
        QTest::keyClick(Target, K, M);
    }
    std::vector<std::string> FieldItems() const {
        std::vector<std::string> Items;
        for (QAction* A : Form->FieldsSubMenu->actions())
            Items.push_back(A->text().toStdString() + (A->isChecked() ? "+" : "-"));
        return Items;
    }
    QStringList IndexItems() const {
        QStringList Items;
        for (int I = 0; I < Form->IndexComboBox->count(); ++I) Items << Form->IndexComboBox->itemText(I);
        return Items;
    }
    std::string Cell(int Row, const std::string& FieldName) const {
        for (int C = 0; C < Form->DBGrid->ColumnCount(); ++C)
            if (Form->DBGrid->ColumnField(C)->FieldName() == FieldName) return Form->DBGrid->CellText(Row, C);
        return "<no column>";
    }
    // The texts of a column in the first Rows rows of the grid.
    std::vector<std::string> Column(const std::string& FieldName, int Rows = 5) const {
        std::vector<std::string> Texts;
        for (int R = 0; R < Rows; ++R) Texts.push_back(Cell(R, FieldName));
        return Texts;
    }
    std::string Current(const std::string& FieldName) const { return Form->Table->FieldByName(FieldName)->AsString(); }
    void ChooseIndex(int Index) {
        Form->IndexComboBox->setFocus();
        while (Form->IndexComboBox->currentIndex() < Index) QTest::keyClick(Form->IndexComboBox, Qt::Key_Down);
        while (Form->IndexComboBox->currentIndex() > Index) QTest::keyClick(Form->IndexComboBox, Qt::Key_Up);
    }
    void KeySearch(const QString& Text) {
        Form->Edit1->setFocus();
        Form->Edit1->setText(Text);
        QTest::keyClick(Form->Edit1, Qt::Key_Return);
    }
    // Clicks the title of the field's column.
    void ClickTitle(const std::string& FieldName) {
        for (int C = 0; C < Form->DBGrid->ColumnCount(); ++C)
            if (Form->DBGrid->ColumnField(C)->FieldName() == FieldName)
                QTest::mouseClick(Form->DBGrid->viewport(), Qt::LeftButton, {}, Form->DBGrid->CellRect(-1, C).center());
    }
    // The status line's table fields once pending updates are done.
    QStringList Status() const {
        QCoreApplication::processEvents();
        return Form->StatusLine()->TableFields();
    }

    TScriptedDialogs Dialogs;
    std::unique_ptr<TTamblorBrowserForm> Form;
    std::vector<TStarted> Started;
};

}  // namespace browser::test
