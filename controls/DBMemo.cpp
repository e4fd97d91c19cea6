#include "controls/DBMemo.h"

#include "controls/Interaction.h"

#include <QFocusEvent>
#include <QKeyEvent>
#include <QMimeData>

namespace controls {

namespace {

// Whether a key press would change the text of an editor.
bool ChangesText(QKeyEvent* Event) {
    if (Event->matches(QKeySequence::Paste) || Event->matches(QKeySequence::Cut) ||
        Event->matches(QKeySequence::Undo) || Event->matches(QKeySequence::Redo) ||
        Event->matches(QKeySequence::Delete) || Event->matches(QKeySequence::DeleteStartOfWord) ||
        Event->matches(QKeySequence::DeleteEndOfWord) || Event->matches(QKeySequence::DeleteEndOfLine) ||
        Event->matches(QKeySequence::DeleteCompleteLine))
        return true;
    switch (Event->key()) {
        case Qt::Key_Backspace:
        case Qt::Key_Delete:
        case Qt::Key_Return:
        case Qt::Key_Enter:
        case Qt::Key_Tab:
            return true;
        default:
            break;
    }
    if (Event->modifiers() & (Qt::ControlModifier | Qt::MetaModifier)) return false;
    const QString Text = Event->text();
    return !Text.isEmpty() && Text.at(0).isPrint();
}

}  // namespace

TDBMemo::TDBMemo(QWidget* Parent) : QPlainTextEdit(Parent) {
    FDataLink.OnDataChange = [this] { DataChange(); };
    FDataLink.OnEditingChange = [this] { EditingChange(); };
    FDataLink.OnUpdateData = [this] { UpdateData(); };
    FDataLink.OnActiveChange = [this] { UpdateReadOnly(); };
    FDataLink.OnFocus = [this] { setFocus(); };
    setTabChangesFocus(true);
    connect(this, &QPlainTextEdit::textChanged, this, &TDBMemo::TextEdited);
    UpdateReadOnly();
}

TDBMemo::~TDBMemo() {
    // Detach before the widget parts go: the link's callbacks use them.
    FDataLink.OnDataChange = nullptr;
    FDataLink.OnEditingChange = nullptr;
    FDataLink.OnUpdateData = nullptr;
    FDataLink.OnActiveChange = nullptr;
    FDataLink.OnFocus = nullptr;
    FDataLink.SetDataSource(nullptr);
}

void TDBMemo::SetDataSource(TDataSource* Value) {
    FDataLink.SetDataSource(Value);
    UpdateReadOnly();
}

void TDBMemo::SetDataField(const std::string& Value) {
    FDataLink.SetFieldName(Value);
    UpdateReadOnly();
}

void TDBMemo::SetAutoDisplay(bool Value) {
    if (FAutoDisplay == Value) return;
    FAutoDisplay = Value;
    if (Value) LoadMemo();
}

void TDBMemo::ShowText(const std::string& Text) {
    FCrLf = Text.find("\r\n") != std::string::npos;
    QString Shown = QString::fromUtf8(Text.data(), static_cast<qsizetype>(Text.size()));
    Shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    // The same text again (the record re-read when editing starts) keeps the
    // caret and the selection where the user has them.
    if (Shown == toPlainText()) return;
    FLoading = true;
    setPlainText(Shown);
    FLoading = false;
}

void TDBMemo::LoadMemo() {
    TField* F = FDataLink.Field();
    if (F == nullptr) return;
    std::string Text;
    if (F->IsBlob()) {
        std::unique_ptr<TStream> Stream = F->DataSet()->CreateBlobStream(F, bmRead);
        if (Stream) {
            Stream->SetPosition(0);
            Text = Stream->ReadString(Stream->Size());
        }
    } else {
        Text = F->AsString();
    }
    ShowText(Text);
    FLoaded = true;
}

void TDBMemo::SetDisplayDeferred(bool Value) {
    if (FDeferred == Value) return;
    FDeferred = Value;
    if (FDeferred || !FChangePending) return;
    FChangePending = false;
    if (!FDataLink.IsModified()) DataChange();
}

void TDBMemo::DataChange() {
    TField* F = FDataLink.Field();
    FLoaded = false;
    if (FDeferred) {
        FChangePending = true;
        return;
    }
    if (F != nullptr) {
        setPlaceholderText(QStringLiteral("(%1)").arg(QString::fromStdString(F->DisplayName())));
        if (FAutoDisplay) {
            // A failing read shows an empty pane; the error goes to the
            // application's error box, not up into the dataset's notification.
            if (!Guarded([this] { LoadMemo(); })) ShowText({});
            return;
        }
    } else {
        setPlaceholderText(QString());
    }
    ShowText({});
}

void TDBMemo::EditingChange() {
    UpdateReadOnly();
}

std::string TDBMemo::FieldText() const {
    QString Text = toPlainText();
    if (FCrLf) Text.replace(QLatin1Char('\n'), QStringLiteral("\r\n"));
    return Text.toStdString();
}

void TDBMemo::UpdateData() {
    TField* F = FDataLink.Field();
    if (F == nullptr) return;
    const std::string Text = FieldText();
    if (F->IsBlob()) {
        std::unique_ptr<TStream> Stream = F->DataSet()->CreateBlobStream(F, bmWrite);
        if (Stream) Stream->WriteString(Text);
        // The stream writes the text back into the record when it is freed.
    } else {
        F->SetAsString(Text);
    }
}

void TDBMemo::TextEdited() {
    if (FLoading) return;
    FDataLink.Modified();
}

bool TDBMemo::BeginChange() {
    if (FDataLink.Field() == nullptr) return false;
    if (!FLoaded) {
        // Typing into a pane that was not loaded would replace the whole
        // text by what is typed: load it first.
        if (!Guarded([this] { LoadMemo(); })) return false;
    }
    bool Editing = false;
    Guarded([&] { Editing = FDataLink.EditField(); });
    return Editing;
}

void TDBMemo::UpdateReadOnly() {
    // The pane accepts input only where a change can reach the field; the
    // key handler starts the edit state itself.
    setReadOnly(FDataLink.Field() == nullptr);
}

void TDBMemo::keyPressEvent(QKeyEvent* Event) {
    if (Event->key() == Qt::Key_Escape && Event->modifiers() == Qt::NoModifier) {
        if (FDataLink.IsModified()) {
            Guarded([this] { FDataLink.Reset(); });
            Event->accept();
            return;
        }
        Event->ignore();
        return;
    }
    if (!FLoaded && FDataLink.Field() != nullptr && Event->modifiers() == Qt::NoModifier &&
        (Event->key() == Qt::Key_Return || Event->key() == Qt::Key_Enter)) {
        Guarded([this] { LoadMemo(); });
        Event->accept();
        return;
    }
    if (ChangesText(Event) && !(Event->key() == Qt::Key_Tab && tabChangesFocus())) {
        if (!BeginChange()) {
            Event->accept();
            return;
        }
    }
    QPlainTextEdit::keyPressEvent(Event);
}

void TDBMemo::insertFromMimeData(const QMimeData* Source) {
    if (!BeginChange()) return;
    QPlainTextEdit::insertFromMimeData(Source);
}

void TDBMemo::mouseDoubleClickEvent(QMouseEvent* Event) {
    if (!FLoaded && FDataLink.Field() != nullptr) {
        Guarded([this] { LoadMemo(); });
        return;
    }
    QPlainTextEdit::mouseDoubleClickEvent(Event);
}

void TDBMemo::focusOutEvent(QFocusEvent* Event) {
    // Leaving the pane writes the typed text into the field (the record is
    // posted later, with the rest of the record).
    if (FDataLink.IsModified() && FDataLink.Editing()) Guarded([this] { FDataLink.UpdateRecord(); });
    QPlainTextEdit::focusOutEvent(Event);
}

}  // namespace controls
