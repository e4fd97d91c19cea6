// The browser window's status line; see StatusLine.h.
#include "browser/StatusLine.h"

#include "browser/WalkProgress.h"
#include "moneytable/Tamblor.h"

#include <QLabel>
#include <QStatusBar>

namespace browser {

namespace {

QString CountText(TMoneyTable* Table) {
    const int Count = Table->RecordCount();
    return Count == 1 ? QStringLiteral("1 record") : QStringLiteral("%1 records").arg(Count);
}

QString RecordText(TMoneyTable* Table) {
    if (Table->State() == dsInsert) return QStringLiteral("New record");
    if (Table->IsEmpty()) return QStringLiteral("No record");
    return QStringLiteral("Record %1").arg(Table->RecNo());
}

QString IndexText(TMoneyTable* Table) {
    const std::string& Index = Table->IndexFieldNames();
    return Index.empty() ? QStringLiteral("No index") : QStringLiteral("Index: %1").arg(QString::fromStdString(Index));
}

QString FilterText(TMoneyTable* Table) {
    const bool Filter = FilterInForce(Table);
    const bool Range = RangeInForce(Table);
    if (Filter && Range) return QStringLiteral("Filter and range");
    if (Filter) return QStringLiteral("Filter");
    if (Range) return QStringLiteral("Range");
    return QStringLiteral("All records");
}

// One field's text, "?" when the table cannot tell.
template <class F>
QString Field(F&& Text) noexcept {
    try {
        return Text();
    } catch (...) {
        return QStringLiteral("?");
    }
}

}  // namespace

bool FilterInForce(TMoneyTable* Table) { return Table->Filtered() && !Table->Filter().empty(); }

bool RangeInForce(TMoneyTable* Table) {
    if (Table->IndexFieldNames().empty()) return false;
    for (TMKeyIndex Bound : {mkiRangeStart, mkiRangeEnd}) {
        TRecordBuffer Buffer = Table->KeyBuffers(Bound);
        if (Buffer == nullptr || Table->GetMKeyBuffer(Buffer)->FieldCount <= 0) return false;
    }
    return true;
}

TStatusLine::TStatusLine(QStatusBar* Bar, TMoneyTable* Table) : FBar(Bar), FTable(Table) {
    for (QPointer<QLabel>& Label : FFields) {
        Label = new QLabel(Bar);
        Label->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        Label->setContentsMargins(4, 0, 4, 0);
        Bar->addPermanentWidget(Label);
    }
    FTimer.setSingleShot(true);
    QObject::connect(&FTimer, &QTimer::timeout, &FTimer, [this] { Update(); });
    Update();
}

void TStatusLine::Invalidate() {
    if (!FTimer.isActive()) FTimer.start(FWalking ? TWalkProgress::RefreshMs : 0);
}

void TStatusLine::Update() {
    FTimer.stop();
    QStringList Texts;
    if (!FTable->Active()) {
        Texts << QStringLiteral("No table");
    } else if (FTable->State() == dsSetKey) {
        return;  // a key being entered: the record shown is not the table's
    } else {
        Texts << Field([this] { return CountText(FTable); }) << Field([this] { return RecordText(FTable); })
              << Field([this] { return IndexText(FTable); }) << Field([this] { return FilterText(FTable); });
    }
    for (std::size_t I = 0; I < FFields.size(); ++I) {
        if (FFields[I].isNull()) continue;
        const bool Shown = I < static_cast<std::size_t>(Texts.size());
        if (Shown && FFields[I]->text() != Texts[static_cast<int>(I)]) FFields[I]->setText(Texts[static_cast<int>(I)]);
        FFields[I]->setVisible(Shown);
    }
}

void TStatusLine::ShowNote(const QString& Text) {
    if (FBar) FBar->showMessage(Text, NoteMs);
}

void TStatusLine::ShowProgress(const QString& Text) {
    FWalking = true;
    if (FBar) FBar->showMessage(Text);
}

void TStatusLine::EndProgress() {
    FWalking = false;
    if (FBar) FBar->clearMessage();
    Invalidate();
}

QString TStatusLine::Message() const {
    return FBar ? FBar->currentMessage() : QString();
}

QStringList TStatusLine::TableFields() const {
    QStringList Texts;
    for (const QPointer<QLabel>& Label : FFields)
        if (!Label.isNull() && !Label->isHidden()) Texts << Label->text();
    return Texts;
}

}  // namespace browser
