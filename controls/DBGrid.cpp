#include "controls/DBGrid.h"

#include "controls/Interaction.h"

#include <QApplication>
#include <QClipboard>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QScrollBar>
#include <QWheelEvent>

#include <algorithm>

namespace controls {

// ---------------------------------------------------------------------------
// The grid's data link: passes every reaction on to the grid.
// ---------------------------------------------------------------------------

class TDBGrid::TGridDataLink : public TDataLink {
public:
    explicit TGridDataLink(TDBGrid* Grid) : FGrid(Grid) {}

protected:
    void ActiveChanged() override { FGrid->LinkActive(); }
    void DataSetChanged() override { FGrid->DataChanged(); }
    void DataSetScrolled(int) override { FGrid->Scrolled(); }
    void LayoutChanged() override { FGrid->LayoutChanged(); }
    void RecordChanged(TField* Field) override { FGrid->RecordChanged(Field); }
    void EditingChanged() override { FGrid->EditingChanged(); }
    void UpdateData() override { FGrid->UpdateData(); }
    void FocusControl(TField** Field) override { FGrid->FocusField(Field); }
    void DataEvent(TDataEvent Event, std::intptr_t Info) override {
        TDataLink::DataEvent(Event, Info);
        if (Event == deFieldListChange) FGrid->LayoutChanged();
    }

private:
    TDBGrid* FGrid;
};

// ---------------------------------------------------------------------------
// The in-place editor: a frameless line edit over the selected cell that
// hands the grid's navigation and editing keys to the grid.
// ---------------------------------------------------------------------------

class TDBGrid::TInplaceEdit : public QLineEdit {
public:
    TInplaceEdit(TDBGrid* Grid, QWidget* Parent) : QLineEdit(Parent), FGrid(Grid) {
        setFrame(false);
        hide();
        connect(this, &QLineEdit::textEdited, this, [this] { FGrid->FEditorModified = true; });
    }

protected:
    void keyPressEvent(QKeyEvent* Event) override {
        const auto Mods = Event->modifiers() & ~Qt::KeypadModifier;
        const int Key = Event->key();
        const bool Plain = Mods == Qt::NoModifier;
        const bool Ctrl = Mods == Qt::ControlModifier;
        const bool GridKey = (Plain && (Key == Qt::Key_Up || Key == Qt::Key_Down || Key == Qt::Key_PageUp ||
                                        Key == Qt::Key_PageDown || Key == Qt::Key_Return || Key == Qt::Key_Enter ||
                                        Key == Qt::Key_Escape || Key == Qt::Key_Insert)) ||
                             (Ctrl && (Key == Qt::Key_Home || Key == Qt::Key_End || Key == Qt::Key_Delete));
        if (GridKey && FGrid->HandleKey(Event)) {
            Event->accept();
            return;
        }
        if (Plain && Key == Qt::Key_Left && cursorPosition() == 0 && !hasSelectedText()) {
            FGrid->SelectColumn(FGrid->FSelected - 1);
            Event->accept();
            return;
        }
        if (Plain && Key == Qt::Key_Right && cursorPosition() == text().size() && !hasSelectedText()) {
            FGrid->SelectColumn(FGrid->FSelected + 1);
            Event->accept();
            return;
        }
        QLineEdit::keyPressEvent(Event);
    }

    void focusOutEvent(QFocusEvent* Event) override {
        QLineEdit::focusOutEvent(Event);
        // A box that the grid itself opened (an error, a confirmation) takes
        // the focus only for a moment: the editor stays.
        if (Event->reason() == Qt::PopupFocusReason || Event->reason() == Qt::ActiveWindowFocusReason) return;
        if (isHidden()) return;
        QWidget* Next = QApplication::focusWidget();
        if (Next == FGrid || Next == this) return;
        // The focus went elsewhere in the window: keep what was typed in the
        // field (it is posted with the record) and close the editor.
        if (Guarded([this] { FGrid->FDataLink->UpdateRecord(); })) {
            hide();
            FGrid->FEditField = nullptr;
            FGrid->FEditorModified = false;
            FGrid->viewport()->update();
        }
    }

private:
    TDBGrid* FGrid;
};

namespace {

// Line breaks of a memo shown in one line.
const char* const LineBreakMark = "\xC2\xB6";  // pilcrow
// At most this many bytes of a cell's text are drawn.
constexpr std::size_t MaxCellText = 1024;

bool IsNumeric(TField* Field) {
    switch (Field->DataType()) {
        case ftSmallint:
        case ftInteger:
        case ftWord:
        case ftFloat:
        case ftCurrency:
        case ftAutoInc:
        case ftLargeint:
            return true;
        default:
            return false;
    }
}

}  // namespace

// ---------------------------------------------------------------------------
// Construction
// ---------------------------------------------------------------------------

TDBGrid::TDBGrid(QWidget* Parent)
    : QAbstractScrollArea(Parent), FDataLink(std::make_unique<TGridDataLink>(this)) {
    FEditor = new TInplaceEdit(this, viewport());
    setFocusPolicy(Qt::StrongFocus);
    viewport()->setMouseTracking(true);
    viewport()->setBackgroundRole(QPalette::Base);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    connect(verticalScrollBar(), &QScrollBar::actionTriggered, this, &TDBGrid::VerticalAction);
    connect(verticalScrollBar(), &QScrollBar::sliderReleased, this, &TDBGrid::VerticalReleased);
    UpdateFontMetrics();
    UpdateScrollBars();
}

TDBGrid::~TDBGrid() {
    OnColEnter = nullptr;
    OnTitleClick = nullptr;
    FDataLink->SetDataSource(nullptr);
}

TDataSource* TDBGrid::DataSource() const noexcept {
    return FDataLink->DataSource();
}

TDataLink* TDBGrid::DataLink() const noexcept {
    return FDataLink.get();
}

void TDBGrid::SetDataSource(TDataSource* Value) {
    FDataLink->SetBufferCount(VisibleRowCount());
    FDataLink->SetDataSource(Value);
    LinkActive();
}

void TDBGrid::SetOptions(TGridOptions Value) {
    FOptions = Value;
    if (!FOptions.Contains(dgEditing)) HideEditor();
    UpdateRowCount();
    UpdateScrollBars();
    PlaceEditor();
    viewport()->update();
}

TDataSet* TDBGrid::DataSet() const {
    return FDataLink->DataSet();
}

bool TDBGrid::LinkActiveAndOpen() const {
    TDataSet* DS = DataSet();
    return FDataLink->Active() && DS != nullptr && DS->Active();
}

QSize TDBGrid::sizeHint() const {
    return {400, 200};
}

// ---------------------------------------------------------------------------
// Geometry
// ---------------------------------------------------------------------------

void TDBGrid::UpdateFontMetrics() {
    const QFontMetrics FM(font());
    FRowHeight = FM.height() + 5;
    FCharWidth = std::max(1, FM.horizontalAdvance(QLatin1Char('0')));
    FEditor->setFont(font());
}

int TDBGrid::TitleHeight() const {
    return FOptions.Contains(dgTitles) ? FRowHeight : 0;
}

int TDBGrid::IndicatorWidth() const {
    return FOptions.Contains(dgIndicator) ? std::max(11, FRowHeight * 3 / 5) : 0;
}

int TDBGrid::VisibleRowCount() const {
    const int Avail = viewport()->height() - TitleHeight();
    return std::max(1, Avail / std::max(1, FRowHeight));
}

int TDBGrid::DefaultColumnWidth(TField* Field) const {
    const QFontMetrics FM(font());
    int W = Field->DisplayWidth() * FCharWidth + 6;
    if (FOptions.Contains(dgTitles))
        W = std::max(W, FM.horizontalAdvance(QString::fromStdString(Field->DisplayName())) + 8);
    return W;
}

TField* TDBGrid::ColumnField(int Index) const {
    if (Index < 0 || Index >= ColumnCount()) return nullptr;
    return FColumns[static_cast<std::size_t>(Index)].Field;
}

int TDBGrid::ColumnWidth(int Index) const {
    if (Index < 0 || Index >= ColumnCount()) return 0;
    return FColumns[static_cast<std::size_t>(Index)].Width;
}

void TDBGrid::SetColumnWidth(int Index, int Width) {
    if (Index < 0 || Index >= ColumnCount()) return;
    TColumn& C = FColumns[static_cast<std::size_t>(Index)];
    C.Width = std::max(4, Width);
    FUserWidths[C.FieldName] = C.Width;
    UpdateScrollBars();
    PlaceEditor();
    viewport()->update();
}

int TDBGrid::ColumnLeft(int Index) const {
    int X = IndicatorWidth() - horizontalScrollBar()->value();
    for (int I = 0; I < Index && I < ColumnCount(); ++I) X += FColumns[static_cast<std::size_t>(I)].Width;
    return X;
}

int TDBGrid::ColumnAt(int X) const {
    if (X < IndicatorWidth()) return -1;
    int Left = ColumnLeft(0);
    for (int I = 0; I < ColumnCount(); ++I) {
        const int W = FColumns[static_cast<std::size_t>(I)].Width;
        if (X >= Left && X < Left + W) return I;
        Left += W;
    }
    return -1;
}

QRect TDBGrid::CellRect(int Row, int Col) const {
    const int X = ColumnLeft(Col);
    const int W = ColumnWidth(Col);
    if (Row < 0) return {X, 0, W, TitleHeight()};
    return {X, TitleHeight() + Row * FRowHeight, W, FRowHeight};
}

int TDBGrid::ResizeEdgeAt(const QPoint& Pos) const {
    if (!FOptions.Contains(dgColumnResize) || !FOptions.Contains(dgTitles)) return -1;
    if (Pos.y() < 0 || Pos.y() >= TitleHeight()) return -1;
    for (int I = 0; I < ColumnCount(); ++I) {
        const int Edge = ColumnLeft(I) + ColumnWidth(I) - 1;
        if (Edge >= IndicatorWidth() && std::abs(Pos.x() - Edge) <= 3) return I;
    }
    return -1;
}

void TDBGrid::UpdateRowCount() {
    const int Rows = VisibleRowCount();
    if (FDataLink->BufferCount() != Rows) FDataLink->SetBufferCount(Rows);
}

void TDBGrid::UpdateScrollBars() {
    int Total = 0;
    for (const TColumn& C : FColumns) Total += C.Width;
    const int Avail = std::max(0, viewport()->width() - IndicatorWidth());
    QScrollBar* H = horizontalScrollBar();
    H->setRange(0, std::max(0, Total - Avail));
    H->setPageStep(std::max(1, Avail));
    H->setSingleStep(std::max(1, FCharWidth * 2));
    UpdateVerticalThumb();
}

void TDBGrid::UpdateVerticalThumb() {
    QScrollBar* V = verticalScrollBar();
    const QSignalBlocker Block(V);
    TDataSet* DS = DataSet();
    if (!LinkActiveAndOpen() || DS->IsEmpty()) {
        V->setRange(0, 0);
        V->setEnabled(false);
        return;
    }
    V->setEnabled(true);
    V->setRange(0, 4);
    V->setPageStep(1);
    V->setSingleStep(1);
    int Pos = 2;
    if (DS->Bof())
        Pos = 0;
    else if (DS->Eof())
        Pos = 4;
    V->setSliderPosition(Pos);
    V->setValue(Pos);
}

// ---------------------------------------------------------------------------
// Columns and selection
// ---------------------------------------------------------------------------

void TDBGrid::BuildColumns() {
    std::string OldName;
    TField* OldField = SelectedField();
    if (OldField != nullptr) OldName = FColumns[static_cast<std::size_t>(FSelected)].FieldName;
    const int OldIndex = FSelected;
    FColumns.clear();
    if (LinkActiveAndOpen()) {
        for (TField* F : DataSet()->Fields()->List()) {
            if (!F->Visible()) continue;
            TColumn C;
            C.Field = F;
            C.FieldName = F->FieldName();
            auto It = FUserWidths.find(C.FieldName);
            C.Width = It != FUserWidths.end() ? It->second : DefaultColumnWidth(F);
            FColumns.push_back(std::move(C));
        }
    }
    int NewIndex = -1;
    for (int I = 0; I < ColumnCount(); ++I) {
        const TColumn& C = FColumns[static_cast<std::size_t>(I)];
        if (OldField != nullptr && C.Field == OldField && C.FieldName == OldName) NewIndex = I;
    }
    if (NewIndex < 0 && ColumnCount() > 0) NewIndex = std::clamp(OldIndex, 0, ColumnCount() - 1);
    FSelected = NewIndex;
    if (EditorMode()) {
        bool Kept = false;
        for (const TColumn& C : FColumns) Kept = Kept || C.Field == FEditField;
        if (!Kept || SelectedField() != FEditField) HideEditor();
    }
    UpdateScrollBars();
    NotifyColEnter();
}

TField* TDBGrid::SelectedField() const {
    return ColumnField(FSelected);
}

void TDBGrid::SetSelectedIndex(int Value) {
    SelectColumn(Value);
}

void TDBGrid::SetSelectedField(TField* Field) {
    for (int I = 0; I < ColumnCount(); ++I)
        if (FColumns[static_cast<std::size_t>(I)].Field == Field) {
            SelectColumn(I);
            return;
        }
}

void TDBGrid::NotifyColEnter() {
    TField* F = SelectedField();
    const std::string Name = F != nullptr ? FColumns[static_cast<std::size_t>(FSelected)].FieldName : std::string();
    if (F == FLastSelectedField && Name == FLastSelectedName) return;
    FLastSelectedField = F;
    FLastSelectedName = Name;
    if (OnColEnter) OnColEnter();
}

bool TDBGrid::SelectColumn(int Index) {
    if (ColumnCount() == 0) return false;
    Index = std::clamp(Index, 0, ColumnCount() - 1);
    if (Index == FSelected) {
        MakeColumnVisible(Index);
        return true;
    }
    if (EditorMode()) {
        // What was typed goes into the field before the editor leaves it.
        if (!Guarded([this] { FDataLink->UpdateRecord(); })) return false;
        HideEditor();
    }
    FSelected = Index;
    MakeColumnVisible(Index);
    NotifyColEnter();
    viewport()->update();
    return true;
}

void TDBGrid::MakeColumnVisible(int Index) {
    if (Index < 0 || Index >= ColumnCount()) return;
    int Left = 0;
    for (int I = 0; I < Index; ++I) Left += FColumns[static_cast<std::size_t>(I)].Width;
    const int Right = Left + ColumnWidth(Index);
    const int Avail = std::max(1, viewport()->width() - IndicatorWidth());
    QScrollBar* H = horizontalScrollBar();
    if (Left < H->value())
        H->setValue(Left);
    else if (Right > H->value() + Avail)
        H->setValue(std::min(Left, Right - Avail));
}

// ---------------------------------------------------------------------------
// Link reactions
// ---------------------------------------------------------------------------

void TDBGrid::LinkActive() {
    if (!FDataLink->Active()) HideEditor();
    BuildColumns();
    UpdateRowCount();
    UpdateScrollBars();
    viewport()->update();
}

void TDBGrid::DataChanged() {
    if (EditorMode() && !FDataLink->Editing()) HideEditor();
    PlaceEditor();
    UpdateVerticalThumb();
    viewport()->update();
}

void TDBGrid::Scrolled() {
    DataChanged();
}

void TDBGrid::LayoutChanged() {
    BuildColumns();
    DataChanged();
}

void TDBGrid::RecordChanged(TField* Field) {
    if (EditorMode() && !FWritingEditor && (Field == nullptr || Field == FEditField)) {
        // The field changed under the editor (not by the editor): show it.
        FEditor->setText(QString::fromStdString(FEditField->AsString()));
        FEditorModified = false;
    }
    viewport()->update();
}

void TDBGrid::EditingChanged() {
    if (!FDataLink->Editing()) HideEditor();
    viewport()->update();
}

void TDBGrid::UpdateData() {
    if (!EditorMode() || !FEditorModified || FEditField == nullptr) return;
    FWritingEditor = true;
    try {
        FEditField->SetAsString(FEditor->text().toStdString());
    } catch (...) {
        FWritingEditor = false;
        throw;
    }
    FWritingEditor = false;
    FEditorModified = false;
}

void TDBGrid::FocusField(TField** Field) {
    if (Field == nullptr || *Field == nullptr) return;
    for (int I = 0; I < ColumnCount(); ++I)
        if (FColumns[static_cast<std::size_t>(I)].Field == *Field) {
            SelectColumn(I);
            setFocus();
            *Field = nullptr;
            return;
        }
}

// ---------------------------------------------------------------------------
// Reading cells
// ---------------------------------------------------------------------------

std::string TDBGrid::DisplayText(TField* Field) {
    std::string S = Field->DisplayText();
    if (S.size() > MaxCellText) S = Utf8Cut(S, MaxCellText);
    std::string Out;
    Out.reserve(S.size());
    for (std::size_t I = 0; I < S.size(); ++I) {
        const char C = S[I];
        if (C == '\r' || C == '\n') {
            Out += LineBreakMark;
            if (C == '\r' && I + 1 < S.size() && S[I + 1] == '\n') ++I;
        } else {
            Out += C;
        }
    }
    return Out;
}

std::vector<std::string> TDBGrid::ReadRow(int Row) const {
    std::vector<std::string> Texts(FColumns.size());
    if (!LinkActiveAndOpen() || Row < 0 || Row >= FDataLink->RecordCount()) return Texts;
    TDataSet* DS = DataSet();
    const int Old = FDataLink->ActiveRecord();
    // In dsSetKey the window shows the key being edited as its only row; the
    // active record is not moved then.
    const bool Move = DS->State() != dsSetKey && Row != Old;
    if (Move) FDataLink->SetActiveRecord(Row);
    for (std::size_t C = 0; C < FColumns.size(); ++C) {
        try {
            Texts[C] = DisplayText(FColumns[C].Field);
        } catch (const std::exception& E) {
            Texts[C] = std::string("#") + E.what();
        } catch (...) {
            Texts[C] = std::string(1, '#');
        }
    }
    if (Move) FDataLink->SetActiveRecord(Old);
    return Texts;
}

std::string TDBGrid::CellText(int Row, int Col) const {
    if (Col < 0 || Col >= ColumnCount()) return {};
    return ReadRow(Row)[static_cast<std::size_t>(Col)];
}

bool TDBGrid::HasSelectedCell() const {
    return SelectedField() != nullptr && LinkActiveAndOpen() && !DataSet()->IsEmpty();
}

std::string TDBGrid::SelectedCellText() const {
    return HasSelectedCell() ? SelectedField()->DisplayText() : std::string();
}

bool TDBGrid::CopySelectedCell() {
    if (!HasSelectedCell()) return false;
    QGuiApplication::clipboard()->setText(QString::fromStdString(SelectedCellText()));
    return true;
}

void TDBGrid::SetOrderFieldName(const std::string& Value) {
    if (Value == FOrderFieldName) return;
    FOrderFieldName = Value;
    viewport()->update();
}

TIndicator TDBGrid::CurrentIndicator() const {
    if (!LinkActiveAndOpen()) return inNone;
    switch (DataSet()->State()) {
        case dsEdit: return inEdit;
        case dsInsert: return inInsert;
        default: return DataSet()->IsEmpty() ? inNone : inBrowse;
    }
}

// ---------------------------------------------------------------------------
// Painting
// ---------------------------------------------------------------------------

namespace {

void DrawIndicator(QPainter& P, const QRect& R, TIndicator Kind, const QColor& Ink) {
    P.save();
    P.setRenderHint(QPainter::Antialiasing);
    const QPointF C = QRectF(R).center();
    switch (Kind) {
        case inBrowse: {
            QPainterPath Path;
            Path.moveTo(C.x() - 2.5, C.y() - 4.5);
            Path.lineTo(C.x() + 2.5, C.y());
            Path.lineTo(C.x() - 2.5, C.y() + 4.5);
            Path.closeSubpath();
            P.setPen(Qt::NoPen);
            P.setBrush(Ink);
            P.drawPath(Path);
            break;
        }
        case inEdit:
            // An I-beam: the record is being edited.
            P.setPen(QPen(Ink, 1.2));
            P.drawLine(QPointF(C.x(), C.y() - 5), QPointF(C.x(), C.y() + 5));
            P.drawLine(QPointF(C.x() - 2.5, C.y() - 5), QPointF(C.x() + 2.5, C.y() - 5));
            P.drawLine(QPointF(C.x() - 2.5, C.y() + 5), QPointF(C.x() + 2.5, C.y() + 5));
            break;
        case inInsert:
            // An asterisk: a new record.
            P.setPen(QPen(Ink, 1.4));
            P.drawLine(QPointF(C.x(), C.y() - 4), QPointF(C.x(), C.y() + 4));
            P.drawLine(QPointF(C.x() - 3.5, C.y() - 2), QPointF(C.x() + 3.5, C.y() + 2));
            P.drawLine(QPointF(C.x() - 3.5, C.y() + 2), QPointF(C.x() + 3.5, C.y() - 2));
            break;
        case inNone:
            break;
    }
    P.restore();
}

void DrawOrderMark(QPainter& P, const QRect& R, const QColor& Ink) {
    P.save();
    P.setRenderHint(QPainter::Antialiasing);
    QPainterPath Path;
    Path.moveTo(R.left(), R.bottom() + 0.5);
    Path.lineTo(R.right() + 1, R.bottom() + 0.5);
    Path.lineTo((R.left() + R.right() + 1) / 2.0, R.top());
    Path.closeSubpath();
    P.setPen(Qt::NoPen);
    P.setBrush(Ink);
    P.drawPath(Path);
    P.restore();
}

}  // namespace

void TDBGrid::paintEvent(QPaintEvent*) {
    QPainter P(viewport());
    const QPalette& Pal = palette();
    const QRect Area = viewport()->rect();
    P.fillRect(Area, Pal.base());
    const int TitleH = TitleHeight();
    const int IndW = IndicatorWidth();
    const QColor LineColor = Pal.color(QPalette::Mid);
    const QColor EdgeColor = Pal.color(QPalette::Dark);
    const bool Open = LinkActiveAndOpen();
    const int Rows = Open ? std::min(FDataLink->RecordCount(), VisibleRowCount()) : 0;
    const int Active = Open ? FDataLink->ActiveRecord() : -1;
    const bool ShowSelection =
        FOptions.Contains(dgAlwaysShowSelection) || hasFocus() || (EditorMode() && FEditor->hasFocus());
    const QFontMetrics FM(font());

    // Data cells.
    P.save();
    P.setClipRect(QRect(IndW, 0, Area.width() - IndW, Area.height()));
    for (int R = 0; R < Rows; ++R) {
        const std::vector<std::string> Texts = ReadRow(R);
        for (int C = 0; C < ColumnCount(); ++C) {
            const QRect Cell = CellRect(R, C);
            if (Cell.right() < IndW || Cell.left() > Area.right()) continue;
            const bool Selected = ShowSelection && R == Active && C == FSelected;
            if (Selected) P.fillRect(Cell, Pal.highlight());
            P.setPen(Selected ? Pal.color(QPalette::HighlightedText) : Pal.color(QPalette::Text));
            const QRect TextRect = Cell.adjusted(3, 0, -4, 0);
            const QString Text = FM.elidedText(QString::fromStdString(Texts[static_cast<std::size_t>(C)]),
                                               Qt::ElideRight, TextRect.width());
            const Qt::Alignment Align =
                (IsNumeric(FColumns[static_cast<std::size_t>(C)].Field) ? Qt::AlignRight : Qt::AlignLeft) |
                Qt::AlignVCenter;
            P.drawText(TextRect, static_cast<int>(Align), Text);
            P.setPen(LineColor);
            if (FOptions.Contains(dgColLines)) P.drawLine(Cell.topRight(), Cell.bottomRight());
            if (FOptions.Contains(dgRowLines)) P.drawLine(Cell.bottomLeft(), Cell.bottomRight());
        }
    }
    // Title row.
    if (TitleH > 0) {
        const QRect Titles(IndW, 0, Area.width() - IndW, TitleH);
        P.fillRect(Titles, Pal.button());
        for (int C = 0; C < ColumnCount(); ++C) {
            const QRect Cell = CellRect(-1, C);
            if (Cell.right() < IndW || Cell.left() > Area.right()) continue;
            const TColumn& Column = FColumns[static_cast<std::size_t>(C)];
            P.setPen(Pal.color(QPalette::ButtonText));
            QRect TextRect = Cell.adjusted(3, 0, -4, 0);
            if (!FOrderFieldName.empty() && Column.FieldName == FOrderFieldName) {
                // The order mark: a small triangle pointing up (ascending)
                // at the title's right end; the title gives way to it.
                const int Size = std::max(5, FM.height() / 3);
                const QRect Mark(TextRect.right() - Size, Cell.center().y() - Size / 2, Size, Size);
                DrawOrderMark(P, Mark, Pal.color(QPalette::ButtonText));
                TextRect.setRight(Mark.left() - 3);
            }
            const QString Title =
                FM.elidedText(QString::fromStdString(Column.Field->DisplayName()), Qt::ElideRight, TextRect.width());
            P.drawText(TextRect, Qt::AlignLeft | Qt::AlignVCenter, Title);
            P.setPen(EdgeColor);
            P.drawLine(Cell.topRight(), Cell.bottomRight());
        }
        P.setPen(EdgeColor);
        P.drawLine(QPoint(IndW, TitleH - 1), QPoint(Area.right(), TitleH - 1));
    }
    P.restore();

    // Indicator column.
    if (IndW > 0) {
        const int Bottom = TitleH + Rows * FRowHeight;
        P.fillRect(QRect(0, 0, IndW, std::max(Bottom, TitleH)), Pal.button());
        P.setPen(EdgeColor);
        P.drawLine(QPoint(IndW - 1, 0), QPoint(IndW - 1, std::max(Bottom, TitleH) - 1));
        for (int R = 0; R < Rows; ++R) {
            const int Y = TitleH + R * FRowHeight;
            if (FOptions.Contains(dgRowLines)) P.drawLine(QPoint(0, Y + FRowHeight - 1), QPoint(IndW - 2, Y + FRowHeight - 1));
        }
        if (TitleH > 0) P.drawLine(QPoint(0, TitleH - 1), QPoint(IndW - 1, TitleH - 1));
        if (Active >= 0 && Active < Rows)
            DrawIndicator(P, QRect(0, TitleH + Active * FRowHeight, IndW, FRowHeight), CurrentIndicator(),
                          Pal.color(QPalette::ButtonText));
    }
}

// ---------------------------------------------------------------------------
// Editing
// ---------------------------------------------------------------------------

bool TDBGrid::EditorMode() const {
    // Shown as far as the grid is concerned (the grid itself may be hidden).
    return !FEditor->isHidden();
}

void TDBGrid::PlaceEditor() {
    if (!EditorMode()) return;
    if (!LinkActiveAndOpen() || FSelected < 0) {
        HideEditor();
        return;
    }
    const QRect Cell = CellRect(FDataLink->ActiveRecord(), FSelected);
    FEditor->setGeometry(Cell.adjusted(1, 1, -1, -1));
}

bool TDBGrid::StartEditing(const QString& Typed) {
    if (!FOptions.Contains(dgEditing) || !LinkActiveAndOpen()) return false;
    TField* F = SelectedField();
    if (F == nullptr || F->IsBlob() || !F->CanModify() || FDataLink->ReadOnly()) return false;
    if (!FDataLink->Edit()) return false;
    FEditField = F;
    FEditor->setVisible(true);
    PlaceEditor();
    if (!EditorMode()) return false;
    if (Typed.isEmpty()) {
        FEditor->setText(QString::fromStdString(F->AsString()));
        FEditor->selectAll();
        FEditorModified = false;
    } else {
        FEditor->setText(Typed);
        FEditorModified = true;
    }
    FEditor->setFocus();
    viewport()->update();
    return true;
}

QLineEdit* TDBGrid::InplaceEditor() const noexcept {
    return FEditor;
}

bool TDBGrid::ShowEditor() {
    if (EditorMode()) return true;
    return StartEditing(QString());
}

void TDBGrid::HideEditor() {
    if (FEditor->isHidden()) return;
    const bool HadFocus = FEditor->hasFocus();
    FEditor->hide();
    FEditField = nullptr;
    FEditorModified = false;
    if (HadFocus) setFocus();
    viewport()->update();
}

void TDBGrid::PostEdit() {
    Guarded([this] {
        TDataSet* DS = DataSet();
        if (DS != nullptr && (DS->State() == dsEdit || DS->State() == dsInsert)) DS->Post();
    });
}

void TDBGrid::CancelEdit() {
    HideEditor();
    Guarded([this] {
        TDataSet* DS = DataSet();
        if (DS != nullptr && (DS->State() == dsEdit || DS->State() == dsInsert)) DS->Cancel();
    });
}

void TDBGrid::DeleteRecord() {
    Guarded([this] {
        TDataSet* DS = DataSet();
        if (DS == nullptr) return;
        // An empty dataset refuses at once, with the framework's message.
        if (!DS->IsEmpty() && FOptions.Contains(dgConfirmDelete) && !Confirm("Delete record?")) return;
        DS->Delete();
    });
}

void TDBGrid::MoveBy(int Distance) {
    Guarded([&] {
        if (DataSet() != nullptr) DataSet()->MoveBy(Distance);
    });
}

// ---------------------------------------------------------------------------
// Input
// ---------------------------------------------------------------------------

bool TDBGrid::HandleKey(QKeyEvent* Event) {
    const auto Mods = Event->modifiers() & ~Qt::KeypadModifier;
    const bool Plain = Mods == Qt::NoModifier;
    const bool Ctrl = Mods == Qt::ControlModifier;
    const bool Open = LinkActiveAndOpen();
    TDataSet* DS = DataSet();
    if (Event->matches(QKeySequence::Copy)) {
        bool Copied = false;
        Guarded([&] { Copied = CopySelectedCell(); });
        return Copied;
    }
    switch (Event->key()) {
        case Qt::Key_Up:
            if (!Plain || !Open) return false;
            MoveBy(-1);
            return true;
        case Qt::Key_Down:
            if (!Plain || !Open) return false;
            MoveBy(1);
            return true;
        case Qt::Key_PageUp:
            if (!Plain || !Open) return false;
            MoveBy(-VisibleRowCount());
            return true;
        case Qt::Key_PageDown:
            if (!Plain || !Open) return false;
            MoveBy(VisibleRowCount());
            return true;
        case Qt::Key_Home:
            if (Ctrl && Open) {
                Guarded([DS] { DS->First(); });
                return true;
            }
            if (Plain) return SelectColumn(0);
            return false;
        case Qt::Key_End:
            if (Ctrl && Open) {
                Guarded([DS] { DS->Last(); });
                return true;
            }
            if (Plain) return SelectColumn(ColumnCount() - 1);
            return false;
        case Qt::Key_Left:
            if (!Plain) return false;
            return SelectColumn(FSelected - 1);
        case Qt::Key_Right:
            if (!Plain) return false;
            return SelectColumn(FSelected + 1);
        case Qt::Key_Insert:
            if (!Plain || !Open || !FOptions.Contains(dgEditing)) return false;
            Guarded([DS] { DS->Insert(); });
            return true;
        case Qt::Key_Delete:
            if (!Ctrl || !Open || !FOptions.Contains(dgEditing)) return false;
            DeleteRecord();
            return true;
        case Qt::Key_F2:
            if (!Plain) return false;
            Guarded([this] { StartEditing(QString()); });
            return true;
        case Qt::Key_Return:
        case Qt::Key_Enter:
            if (!Plain || !Open || (DS->State() != dsEdit && DS->State() != dsInsert)) return false;
            PostEdit();
            return true;
        case Qt::Key_Escape:
            if (!Plain) return false;
            if (EditorMode() || (Open && (DS->State() == dsEdit || DS->State() == dsInsert))) {
                CancelEdit();
                return true;
            }
            return false;
        default:
            break;
    }
    if (Mods & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier)) return false;
    const QString Text = Event->text();
    if (Text.isEmpty() || !Text.at(0).isPrint() || EditorMode()) return false;
    bool Started = false;
    Guarded([&] { Started = StartEditing(Text); });
    return Started;
}

void TDBGrid::keyPressEvent(QKeyEvent* Event) {
    if (HandleKey(Event)) {
        Event->accept();
        return;
    }
    QAbstractScrollArea::keyPressEvent(Event);
}

void TDBGrid::mousePressEvent(QMouseEvent* Event) {
    if (Event->button() != Qt::LeftButton) {
        QAbstractScrollArea::mousePressEvent(Event);
        return;
    }
    const QPoint Pos = Event->position().toPoint();
    const int Edge = ResizeEdgeAt(Pos);
    if (Edge >= 0) {
        FResizing = Edge;
        FResizeStartX = Pos.x();
        FResizeStartWidth = ColumnWidth(Edge);
        return;
    }
    setFocus(Qt::MouseFocusReason);
    const int Col = ColumnAt(Pos.x());
    if (Pos.y() < TitleHeight()) {
        if (Col >= 0 && SelectColumn(Col) && OnTitleClick) {
            TField* Field = ColumnField(Col);
            Guarded([&] { OnTitleClick(Field); });
        }
        return;
    }
    if (!LinkActiveAndOpen()) return;
    const int Row = (Pos.y() - TitleHeight()) / FRowHeight;
    if (Row < 0 || Row >= FDataLink->RecordCount()) return;
    if (Col >= 0 && Col != FSelected && !SelectColumn(Col)) return;
    const int Active = FDataLink->ActiveRecord();
    if (Row != Active) MoveBy(Row - Active);
}

void TDBGrid::mouseMoveEvent(QMouseEvent* Event) {
    const QPoint Pos = Event->position().toPoint();
    if (FResizing >= 0) {
        SetColumnWidth(FResizing, FResizeStartWidth + Pos.x() - FResizeStartX);
        return;
    }
    viewport()->setCursor(ResizeEdgeAt(Pos) >= 0 ? Qt::SplitHCursor : Qt::ArrowCursor);
}

void TDBGrid::mouseReleaseEvent(QMouseEvent* Event) {
    if (FResizing >= 0 && Event->button() == Qt::LeftButton) FResizing = -1;
    Event->accept();
}

void TDBGrid::mouseDoubleClickEvent(QMouseEvent* Event) {
    if (Event->button() != Qt::LeftButton || !LinkActiveAndOpen()) return;
    const QPoint Pos = Event->position().toPoint();
    if (Pos.y() < TitleHeight() || ColumnAt(Pos.x()) < 0) return;
    const int Row = (Pos.y() - TitleHeight()) / FRowHeight;
    if (Row == FDataLink->ActiveRecord()) Guarded([this] { StartEditing(QString()); });
}

void TDBGrid::wheelEvent(QWheelEvent* Event) {
    const int Steps = Event->angleDelta().y() / 120;
    if (Steps != 0 && LinkActiveAndOpen()) MoveBy(-Steps * QApplication::wheelScrollLines());
    Event->accept();
}

void TDBGrid::VerticalAction(int Action) {
    if (!LinkActiveAndOpen()) return;
    TDataSet* DS = DataSet();
    switch (Action) {
        case QAbstractSlider::SliderSingleStepAdd: MoveBy(1); break;
        case QAbstractSlider::SliderSingleStepSub: MoveBy(-1); break;
        case QAbstractSlider::SliderPageStepAdd: MoveBy(VisibleRowCount()); break;
        case QAbstractSlider::SliderPageStepSub: MoveBy(-VisibleRowCount()); break;
        case QAbstractSlider::SliderToMinimum: Guarded([DS] { DS->First(); }); break;
        case QAbstractSlider::SliderToMaximum: Guarded([DS] { DS->Last(); }); break;
        case QAbstractSlider::SliderMove:
            // Where the thumb is dropped decides (VerticalReleased).
            FThumbDragged = true;
            return;
        default:
            return;
    }
    UpdateVerticalThumb();
}

void TDBGrid::VerticalReleased() {
    if (!FThumbDragged) return;
    FThumbDragged = false;
    if (LinkActiveAndOpen()) {
        QScrollBar* V = verticalScrollBar();
        TDataSet* DS = DataSet();
        if (V->sliderPosition() <= V->minimum())
            Guarded([DS] { DS->First(); });
        else if (V->sliderPosition() >= V->maximum())
            Guarded([DS] { DS->Last(); });
    }
    UpdateVerticalThumb();
}

void TDBGrid::scrollContentsBy(int, int) {
    PlaceEditor();
    viewport()->update();
}

void TDBGrid::resizeEvent(QResizeEvent* Event) {
    QAbstractScrollArea::resizeEvent(Event);
    Guarded([this] { UpdateRowCount(); });
    UpdateScrollBars();
    PlaceEditor();
}

void TDBGrid::focusInEvent(QFocusEvent* Event) {
    QAbstractScrollArea::focusInEvent(Event);
    viewport()->update();
}

void TDBGrid::focusOutEvent(QFocusEvent* Event) {
    QAbstractScrollArea::focusOutEvent(Event);
    viewport()->update();
}

void TDBGrid::changeEvent(QEvent* Event) {
    QAbstractScrollArea::changeEvent(Event);
    if (Event->type() == QEvent::FontChange) {
        UpdateFontMetrics();
        for (TColumn& C : FColumns) {
            auto It = FUserWidths.find(C.FieldName);
            if (It == FUserWidths.end()) C.Width = DefaultColumnWidth(C.Field);
        }
        Guarded([this] { UpdateRowCount(); });
        UpdateScrollBars();
        PlaceEditor();
    }
}

}  // namespace controls
