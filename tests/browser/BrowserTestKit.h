// Support for the tests that drive the browser's window: scripted dialogs
// that answer and record instead of a person, a temporary folder, and real
// table files made with the engine's schema API.
//
// Ownership: TScriptedDialogs keeps copies of what it was shown; the window
// under test does not own it. TTempFolder removes its files when destroyed.
// Threads: the test thread.
#pragma once

#include "browser/Dialogs.h"
#include "engine/Engine.h"

#include <QTemporaryDir>

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

}  // namespace browser::test
