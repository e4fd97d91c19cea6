#include "browser/Dialogs.h"

#include <QApplication>
#include <QCheckBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

namespace browser {

namespace {

QString Q(const std::string& S) {
    return QString::fromStdString(S);
}

QString BoxTitle() {
    return QCoreApplication::applicationName();
}

}  // namespace

QStringList NameFilters(const std::string& Filter) {
    const QStringList Parts = Q(Filter).split(QLatin1Char('|'));
    QStringList Result;
    for (qsizetype I = 0; I + 1 < Parts.size(); I += 2) {
        QString Description = Parts[I];
        const qsizetype Open = Description.indexOf(QLatin1Char('('));
        if (Open > 0) Description = Description.left(Open).trimmed();
        QStringList Patterns = Parts[I + 1].split(QLatin1Char(';'), Qt::SkipEmptyParts);
        for (QString& P : Patterns) {
            P = P.trimmed();
            if (P == QLatin1String("*.*")) P = QStringLiteral("*");
        }
        Result << QStringLiteral("%1 (%2)").arg(Description, Patterns.join(QLatin1Char(' ')));
    }
    return Result;
}

// ---------------------------------------------------------------------------
// The modeless find dialog: find text, match case, direction, Find Next and
// Cancel.
// ---------------------------------------------------------------------------

class TQtDialogs::TFindWindow : public QDialog {
public:
    explicit TFindWindow(QWidget* Parent) : QDialog(Parent) {
        setWindowTitle(QStringLiteral("Find"));
        setModal(false);
        auto* Layout = new QGridLayout(this);
        FText = new QLineEdit(this);
        // The label's '&' marks its mnemonic (Alt+N), which goes to the text.
        auto* FindWhat = new QLabel(QStringLiteral("Fi&nd what:"), this);
        FindWhat->setBuddy(FText);
        Layout->addWidget(FindWhat, 0, 0);
        Layout->addWidget(FText, 0, 1, 1, 2);
        FMatchCase = new QCheckBox(QStringLiteral("Match &case"), this);
        Layout->addWidget(FMatchCase, 1, 0, 1, 2);
        auto* Direction = new QGroupBox(QStringLiteral("Direction"), this);
        auto* DirLayout = new QHBoxLayout(Direction);
        FUp = new QRadioButton(QStringLiteral("&Up"), Direction);
        FDown = new QRadioButton(QStringLiteral("&Down"), Direction);
        DirLayout->addWidget(FUp);
        DirLayout->addWidget(FDown);
        Layout->addWidget(Direction, 1, 2);
        auto* Buttons = new QVBoxLayout;
        auto* FindNext = new QPushButton(QStringLiteral("&Find Next"), this);
        FindNext->setDefault(true);
        auto* Cancel = new QPushButton(QStringLiteral("Cancel"), this);
        Buttons->addWidget(FindNext);
        Buttons->addWidget(Cancel);
        Buttons->addStretch();
        Layout->addLayout(Buttons, 0, 3, 2, 1);
        connect(FindNext, &QPushButton::clicked, this, [this] { Find(); });
        connect(Cancel, &QPushButton::clicked, this, &QDialog::hide);
    }

    void Show(TFindDialog& Dialog) {
        FDialog = &Dialog;
        FText->setText(Q(Dialog.FindText));
        FMatchCase->setChecked(Dialog.MatchCase);
        (Dialog.Down ? FDown : FUp)->setChecked(true);
        show();
        raise();
        activateWindow();
        FText->setFocus();
        FText->selectAll();
    }

private:
    void Find() {
        if (FDialog == nullptr) return;
        FDialog->FindText = FText->text().toStdString();
        FDialog->MatchCase = FMatchCase->isChecked();
        FDialog->Down = FDown->isChecked();
        if (FDialog->OnFind) FDialog->OnFind();
    }

    TFindDialog* FDialog = nullptr;
    QLineEdit* FText;
    QCheckBox* FMatchCase;
    QRadioButton* FUp;
    QRadioButton* FDown;
};

TQtDialogs::TQtDialogs() = default;

TQtDialogs::~TQtDialogs() {
    delete FFind.data();
}

bool TQtDialogs::ExecuteOpen(TOpenDialog& Dialog, QWidget* Parent) {
    QFileDialog Box(Parent, Q(Dialog.Title));
    Box.setOption(QFileDialog::DontUseNativeDialog, true);
    Box.setAcceptMode(QFileDialog::AcceptOpen);
    Box.setFileMode(Dialog.FileMustExist ? QFileDialog::ExistingFile : QFileDialog::AnyFile);
    const QStringList Filters = NameFilters(Dialog.Filter);
    Box.setNameFilters(Filters);
    if (Dialog.FilterIndex >= 1 && Dialog.FilterIndex <= Filters.size())
        Box.selectNameFilter(Filters[Dialog.FilterIndex - 1]);
    if (!Dialog.FileName.empty()) Box.selectFile(Q(Dialog.FileName));
    QCheckBox* ReadOnly = nullptr;
    if (Dialog.ShowReadOnly) {
        // Qt's own file dialog lays its widgets out in a grid: the check box
        // goes below them.
        ReadOnly = new QCheckBox(QStringLiteral("Open as &read-only"), &Box);
        ReadOnly->setChecked(Dialog.ReadOnlyChecked);
        if (auto* Grid = qobject_cast<QGridLayout*>(Box.layout()))
            Grid->addWidget(ReadOnly, Grid->rowCount(), 0, 1, Grid->columnCount());
    }
    if (Box.exec() != QDialog::Accepted || Box.selectedFiles().isEmpty()) return false;
    Dialog.FileName = Box.selectedFiles().first().toStdString();
    if (ReadOnly != nullptr) Dialog.ReadOnlyChecked = ReadOnly->isChecked();
    return true;
}

bool TQtDialogs::ExecuteSave(TSaveDialog& Dialog, QWidget* Parent) {
    QFileDialog Box(Parent, Q(Dialog.Title));
    Box.setOption(QFileDialog::DontUseNativeDialog, true);
    Box.setAcceptMode(QFileDialog::AcceptSave);
    Box.setFileMode(QFileDialog::AnyFile);
    Box.setOption(QFileDialog::DontConfirmOverwrite, !Dialog.OverwritePrompt);
    Box.setDefaultSuffix(Q(Dialog.DefaultExt));
    const QStringList Filters = NameFilters(Dialog.Filter);
    Box.setNameFilters(Filters);
    if (Dialog.FilterIndex >= 1 && Dialog.FilterIndex <= Filters.size())
        Box.selectNameFilter(Filters[Dialog.FilterIndex - 1]);
    if (!Dialog.FileName.empty()) Box.selectFile(Q(Dialog.FileName));
    if (Box.exec() != QDialog::Accepted || Box.selectedFiles().isEmpty()) return false;
    Dialog.FileName = Box.selectedFiles().first().toStdString();
    return true;
}

void TQtDialogs::ShowFind(TFindDialog& Dialog, QWidget* Parent) {
    if (FFind.isNull() || FFind->parentWidget() != Parent) {
        delete FFind.data();
        FFind = new TFindWindow(Parent);
    }
    static_cast<TFindWindow*>(FFind.data())->Show(Dialog);
}

void TQtDialogs::CloseFind() {
    if (FFind != nullptr) FFind->hide();
}

bool TQtDialogs::InputQuery(const std::string& Caption, const std::string& Prompt, std::string& Value,
                            QWidget* Parent) {
    bool Ok = false;
    const QString Text = QInputDialog::getText(Parent, Q(Caption), Q(Prompt), QLineEdit::Normal, Q(Value), &Ok);
    if (!Ok) return false;
    Value = Text.toStdString();
    return true;
}

void TQtDialogs::ShowMessage(const std::string& Text, QWidget* Parent) {
    QMessageBox::information(Parent, BoxTitle(), Q(Text));
}

void TQtDialogs::ShowError(const std::string& Text, QWidget* Parent) {
    QMessageBox::critical(Parent, BoxTitle(), Q(Text));
}

bool TQtDialogs::Confirm(const std::string& Text, QWidget* Parent) {
    return QMessageBox::question(Parent, BoxTitle(), Q(Text), QMessageBox::Yes | QMessageBox::No, QMessageBox::No) ==
           QMessageBox::Yes;
}

}  // namespace browser
