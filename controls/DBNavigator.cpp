#include "controls/DBNavigator.h"

#include "controls/Interaction.h"

#include <QPainter>
#include <QPainterPath>
#include <QResizeEvent>
#include <QToolButton>

#include <cmath>

namespace controls {

// ---------------------------------------------------------------------------
// The bar's data link: every change of state or position re-evaluates the
// buttons.
// ---------------------------------------------------------------------------

class TDBNavigator::TNavDataLink : public TDataLink {
public:
    explicit TNavDataLink(TDBNavigator* Navigator) : FNavigator(Navigator) {}

protected:
    void ActiveChanged() override { FNavigator->UpdateButtons(); }
    void EditingChanged() override { FNavigator->UpdateButtons(); }
    void DataSetChanged() override { FNavigator->UpdateButtons(); }
    void DataSetScrolled(int) override { FNavigator->UpdateButtons(); }
    void LayoutChanged() override { FNavigator->UpdateButtons(); }

private:
    TDBNavigator* FNavigator;
};

namespace {

const char* const ButtonHints[10] = {"First record",  "Prior record", "Next record", "Last record",
                                     "Insert record", "Delete record", "Edit record", "Post edit",
                                     "Cancel edit",   "Refresh data"};
const char* const ButtonNames[10] = {"First", "Prior", "Next", "Last", "Insert",
                                     "Delete", "Edit", "Post", "Cancel", "Refresh"};

// Draws the glyph of a button into a 16 x 16 pixmap (at the screen's pixel
// ratio), so that the bar looks the same whatever icon theme is installed.
// Ink is the colour of the glyph; Dark tells that the button colour is dark.
QIcon ButtonIcon(TNavigateBtn Button, qreal Ratio, const QColor& Ink, bool Dark) {
    const int Size = 16;
    QPixmap Pixmap(QSize(Size, Size) * Ratio);
    Pixmap.setDevicePixelRatio(Ratio);
    Pixmap.fill(Qt::transparent);
    QPainter P(&Pixmap);
    P.setRenderHint(QPainter::Antialiasing);
    P.setPen(Qt::NoPen);
    P.setBrush(Ink);
    auto Triangle = [&](qreal X, bool Left) {
        QPainterPath Path;
        if (Left) {
            Path.moveTo(X + 5, 3);
            Path.lineTo(X, 8);
            Path.lineTo(X + 5, 13);
        } else {
            Path.moveTo(X, 3);
            Path.lineTo(X + 5, 8);
            Path.lineTo(X, 13);
        }
        Path.closeSubpath();
        P.drawPath(Path);
    };
    switch (Button) {
        case nbFirst:
            P.drawRect(QRectF(4, 3, 2, 10));
            Triangle(7, true);
            break;
        case nbPrior:
            Triangle(5.5, true);
            break;
        case nbNext:
            Triangle(5.5, false);
            break;
        case nbLast:
            Triangle(4, false);
            P.drawRect(QRectF(10, 3, 2, 10));
            break;
        case nbInsert:
            P.drawRect(QRectF(3, 7, 10, 2));
            P.drawRect(QRectF(7, 3, 2, 10));
            break;
        case nbDelete:
            P.drawRect(QRectF(3, 7, 10, 2));
            break;
        case nbEdit: {
            QPainterPath Path;
            Path.moveTo(3, 11);
            Path.lineTo(8, 5);
            Path.lineTo(13, 11);
            Path.closeSubpath();
            P.drawPath(Path);
            break;
        }
        case nbPost: {
            P.setBrush(Qt::NoBrush);
            P.setPen(QPen(Dark ? QColor(90, 200, 90) : QColor(0, 110, 0), 2.2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
            QPainterPath Path;
            Path.moveTo(3, 8.5);
            Path.lineTo(6.5, 12);
            Path.lineTo(13, 4);
            P.drawPath(Path);
            break;
        }
        case nbCancel:
            P.setBrush(Qt::NoBrush);
            P.setPen(QPen(Dark ? QColor(240, 100, 100) : QColor(170, 0, 0), 2.2, Qt::SolidLine, Qt::RoundCap));
            P.drawLine(QPointF(4, 4), QPointF(12, 12));
            P.drawLine(QPointF(12, 4), QPointF(4, 12));
            break;
        case nbRefresh: {
            P.setBrush(Qt::NoBrush);
            P.setPen(QPen(Ink, 1.8, Qt::SolidLine, Qt::FlatCap));
            P.drawArc(QRectF(3, 3, 10, 10), 90 * 16, 270 * 16);
            P.setPen(Qt::NoPen);
            P.setBrush(Ink);
            QPainterPath Head;
            Head.moveTo(7, 0.5);
            Head.lineTo(11, 3);
            Head.lineTo(7, 5.5);
            Head.closeSubpath();
            P.drawPath(Head);
            break;
        }
    }
    P.end();
    return QIcon(Pixmap);
}

}  // namespace

TDBNavigator::TDBNavigator(QWidget* Parent) : QWidget(Parent), FDataLink(std::make_unique<TNavDataLink>(this)) {
    for (int I = 0; I < 10; ++I) {
        const auto Btn = static_cast<TNavigateBtn>(I);
        auto* B = new QToolButton(this);
        B->setObjectName(QString::fromLatin1(ButtonNames[I]));
        B->setToolTip(QString::fromLatin1(ButtonHints[I]));
        B->setAutoRaise(false);
        B->setFocusPolicy(Qt::NoFocus);
        connect(B, &QToolButton::clicked, this, [this, Btn] { Clicked(Btn); });
        FButtons[static_cast<std::size_t>(I)] = B;
    }
    setFocusPolicy(Qt::TabFocus);
    DrawGlyphs();
    UpdateButtons();
}

void TDBNavigator::DrawGlyphs() {
    const QPalette& Pal = palette();
    const QColor Ink = Pal.color(QPalette::ButtonText);
    const bool Dark = Pal.color(QPalette::Button).lightness() < Ink.lightness();
    const qreal Ratio = devicePixelRatioF();
    for (int I = 0; I < 10; ++I)
        FButtons[static_cast<std::size_t>(I)]->setIcon(ButtonIcon(static_cast<TNavigateBtn>(I), Ratio, Ink, Dark));
}

void TDBNavigator::changeEvent(QEvent* Event) {
    QWidget::changeEvent(Event);
    if (Event->type() == QEvent::PaletteChange) DrawGlyphs();
}

TDBNavigator::~TDBNavigator() {
    FDataLink->SetDataSource(nullptr);
}

TDataSource* TDBNavigator::DataSource() const noexcept {
    return FDataLink->DataSource();
}

void TDBNavigator::SetDataSource(TDataSource* Value) {
    FDataLink->SetDataSource(Value);
    UpdateButtons();
}

void TDBNavigator::SetVisibleButtons(TButtonSet Value) {
    FVisibleButtons = Value;
    for (int I = 0; I < 10; ++I)
        FButtons[static_cast<std::size_t>(I)]->setVisible(Value.Contains(static_cast<TNavigateBtn>(I)));
    if (width() < MinimumWidth()) resize(MinimumWidth(), height());
    // A hidden bar gets its resize event only when shown: lay out now.
    LayoutButtons();
    updateGeometry();
}

int TDBNavigator::ButtonMinWidth() const {
    // The toolkit's least size of a tool button with a 16 pixel icon.
    return FButtons[0]->minimumSizeHint().width();
}

int TDBNavigator::MinimumWidth() const {
    int Count = 0;
    for (int I = 0; I < 10; ++I)
        if (FVisibleButtons.Contains(static_cast<TNavigateBtn>(I))) ++Count;
    return Count * ButtonMinWidth();
}

void TDBNavigator::SetWidth(int Value) {
    resize(std::max(Value, MinimumWidth()), height());
    LayoutButtons();
}

QSize TDBNavigator::sizeHint() const {
    return {std::max(MinimumWidth(), 240), FButtons[0]->sizeHint().height()};
}

QSize TDBNavigator::minimumSizeHint() const {
    return {MinimumWidth(), FButtons[0]->minimumSizeHint().height()};
}

void TDBNavigator::resizeEvent(QResizeEvent* Event) {
    QWidget::resizeEvent(Event);
    if (width() < MinimumWidth()) {
        resize(MinimumWidth(), height());
        return;
    }
    LayoutButtons();
}

void TDBNavigator::LayoutButtons() {
    std::vector<QToolButton*> Shown;
    for (int I = 0; I < 10; ++I)
        if (FVisibleButtons.Contains(static_cast<TNavigateBtn>(I))) Shown.push_back(FButtons[static_cast<std::size_t>(I)]);
    if (Shown.empty()) return;
    const int Count = static_cast<int>(Shown.size());
    const int Each = width() / Count;
    int Spare = width() - Each * Count;
    int X = 0;
    for (QToolButton* B : Shown) {
        int W = Each;
        if (Spare > 0) {
            ++W;
            --Spare;
        }
        B->setGeometry(X, 0, W, height());
        X += W;
    }
}

void TDBNavigator::UpdateButtons() {
    TDataSet* DS = FDataLink->DataSet();
    const bool Active = FDataLink->Active() && DS != nullptr && DS->Active();
    bool CanModify = false, Bof = true, Eof = true, Empty = true, Editing = false;
    if (Active) {
        // GetCanModify is a hook of the dataset; a failing one leaves the
        // editing buttons off rather than breaking the notification.
        try {
            CanModify = DS->CanModify() && !FDataLink->ReadOnly();
        } catch (...) {
            CanModify = false;
        }
        Bof = DS->Bof();
        Eof = DS->Eof();
        Empty = DS->IsEmpty();
        Editing = FDataLink->Editing();
    }
    auto Set = [this](TNavigateBtn B, bool On) { FButtons[B]->setEnabled(On); };
    Set(nbFirst, Active && !Bof);
    Set(nbPrior, Active && !Bof);
    Set(nbNext, Active && !Eof);
    Set(nbLast, Active && !Eof);
    Set(nbInsert, Active);
    Set(nbDelete, Active && !Empty);
    Set(nbEdit, Active && CanModify && !Editing);
    Set(nbPost, Active && CanModify && Editing);
    Set(nbCancel, Active && CanModify && Editing);
    Set(nbRefresh, Active && !Editing);
}

void TDBNavigator::BtnClick(TNavigateBtn Button) {
    TDataSet* DS = FDataLink->DataSet();
    if (DS == nullptr) return;
    if (BeforeAction) BeforeAction(Button);
    switch (Button) {
        case nbFirst: DS->First(); break;
        case nbPrior: DS->Prior(); break;
        case nbNext: DS->Next(); break;
        case nbLast: DS->Last(); break;
        case nbInsert: DS->Insert(); break;
        case nbDelete:
            // A dataset that cannot be modified refuses before the question.
            DS->CheckCanModify();
            if (FConfirmDelete && !Confirm("Delete record?")) return;
            DS->Delete();
            break;
        case nbEdit: DS->Edit(); break;
        case nbPost: DS->Post(); break;
        case nbCancel: DS->Cancel(); break;
        case nbRefresh: DS->Refresh(); break;
    }
    if (OnClick) OnClick(Button);
}

void TDBNavigator::Clicked(TNavigateBtn Button) {
    Guarded([&] { BtnClick(Button); });
    UpdateButtons();
}

}  // namespace controls
