#include "browser/MainForm.h"

#include "browser/CmdLine.h"
#include "browser/VanishedRecords.h"
#include "moneytable/Export.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QCloseEvent>
#include <QContextMenuEvent>
#include <QDropEvent>
#include <QFrame>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QProcess>
#include <QSplitter>
#include <QStatusBar>
#include <QVBoxLayout>

#include <cstdlib>
#include <string_view>

std::string StartTableName;
bool StartReadOnly = false;

namespace browser {

void ReadStartParameters() {
    StartReadOnly = FindSwitch("RO", {});
    StartTableName.clear();
    // The name keeps its letter case: file names are case-sensitive here.
    GetSwitchValue("", {}, StartTableName);
}

std::string DumpFileName() {
    const char* Dir = std::getenv("TMPDIR");
    std::string Path = (Dir != nullptr && *Dir != '\0') ? Dir : "/tmp";
    if (Path.back() != '/') Path += '/';
    return Path + "DUMP.TXT";
}

std::intptr_t Tag(const QObject* Item) {
    if (Item == nullptr) return 0;
    const QVariant V = Item->property("Tag");
    return V.isValid() ? static_cast<std::intptr_t>(V.toLongLong()) : 0;
}

}  // namespace browser

namespace {

QString Q(const std::string& S) {
    return QString::fromStdString(S);
}

// A menu caption that shows the text as it is ('&' is not an accelerator).
QString LiteralCaption(const std::string& Text) {
    return Q(Text).replace(QLatin1Char('&'), QStringLiteral("&&"));
}

// The focused control is a text box with typing of its own to undo.
bool CanUndoTyping(QWidget* Focus) {
    if (auto* Edit = qobject_cast<QLineEdit*>(Focus)) return !Edit->isReadOnly() && Edit->isUndoAvailable();
    if (auto* Memo = qobject_cast<QPlainTextEdit*>(Focus))
        return !Memo->isReadOnly() && Memo->document()->isUndoAvailable();
    return false;
}

// The exception being handled is the table's refusal to stand on a record
// (engine status -1 through CheckError).
bool HandlingRecordRefusal() {
    try {
        if (std::exception_ptr E = std::current_exception()) std::rethrow_exception(E);
    } catch (const EBFError& E) {
        return std::string_view(E.what()) == SBFErrorExecuting;
    } catch (...) {
        // Any other exception, or none.
    }
    return false;
}

}  // namespace

// ---------------------------------------------------------------------------
// Construction
// ---------------------------------------------------------------------------

TTamblorBrowserForm::TTamblorBrowserForm(browser::TDialogs* Dialogs, QWidget* Parent) : QWidget(Parent) {
    if (Dialogs == nullptr) {
        FOwnDialogs = std::make_unique<browser::TQtDialogs>();
        Dialogs = FOwnDialogs.get();
    }
    FDialogs = Dialogs;
    StartProcess = [](const QString& Program, const QStringList& Arguments) {
        return QProcess::startDetached(Program, Arguments);
    };

    // The controls' boxes and the table's exception handler go through this
    // window's dialogs while it exists.
    FOldErrorHandler = controls::SetErrorHandler([this](const std::string& M) { ShowError(M); });
    FOldConfirmHandler = controls::SetConfirmHandler([this](const std::string& M) { return FDialogs->Confirm(M, this); });
    FOldTableHandler = moneytable::SetApplicationExceptionHandler([this](TObject*, std::exception_ptr E) {
        try {
            std::rethrow_exception(E);
        } catch (...) {
            ShowException();
        }
    });

    FComponents = std::make_unique<TComponent>(nullptr);
    Table = new TMoneyTable(FComponents.get());
    Table->SetName("Table");
    Table->SetExclusive(false);
    DataSource1 = new TDataSource(FComponents.get());
    DataSource1->SetName("DataSource1");
    DataSource1->SetDataSet(Table);

    BuildComponents();
    BuildMenu();
    FUndoLog = std::make_unique<browser::TUndoLog>(Table);
    setAcceptDrops(true);

    Table->BeforeOpen = [this](TDataSet* D) { TableBeforeOpen(D); };
    Table->AfterOpen = [this](TDataSet* D) { TableAfterOpen(D); };
    Table->AfterClose = [this](TDataSet* D) { TableAfterClose(D); };
    DataSource1->OnDataChange = [this](TObject* Sender, TField* Field) { DataSource1DataChange(Sender, Field); };
    DataSource1->OnStateChange = [this](TObject*) { FStatusLine->Invalidate(); };
    DBGrid->OnColEnter = [this] { DBGridColEnter(); };
    DBGrid->OnTitleClick = [this](TField* Column) { Guard([&] { DBGridTitleClick(Column); }); };
    FindDialog.OnFind = [this] { Guard([this] { FindDialogFind(); }); };
    connect(IndexComboBox, &QComboBox::activated, this, [this] { Guard([this] { IndexComboBoxChange(); }); });

    qApp->installEventFilter(this);
    FormCreate();
}

TTamblorBrowserForm::~TTamblorBrowserForm() {
    qApp->removeEventFilter(this);
    FDialogs->CloseFind();
    // The controls let go of the data source before the table goes.
    DBGrid->OnColEnter = nullptr;
    DBGrid->OnTitleClick = nullptr;
    DBGrid->SetDataSource(nullptr);
    DBNavigator1->SetDataSource(nullptr);
    DBMemo1->SetDataSource(nullptr);
    Table->BeforeOpen = nullptr;
    Table->AfterOpen = nullptr;
    Table->AfterClose = nullptr;
    DataSource1->OnDataChange = nullptr;
    DataSource1->OnStateChange = nullptr;
    FUndoLog.reset();
    FComponents.reset();
    moneytable::SetApplicationExceptionHandler(FOldTableHandler);
    controls::SetConfirmHandler(FOldConfirmHandler);
    controls::SetErrorHandler(FOldErrorHandler);
}

int TTamblorBrowserForm::Scale(int DesignPixels) const {
    // The layout was designed at 120 pixels per inch.
    return qRound(DesignPixels * logicalDpiY() / 120.0);
}

void TTamblorBrowserForm::BuildComponents() {
    setWindowTitle(QStringLiteral("Tallowmere"));
    QFont Font(QStringLiteral("MS Sans Serif"));
    Font.setStyleHint(QFont::SansSerif);
    Font.setPixelSize(Scale(14));
    setFont(Font);
    resize(Scale(678), Scale(386));
    setWindowState(Qt::WindowMaximized);

    auto* Layout = new QVBoxLayout(this);
    Layout->setContentsMargins(0, 0, 0, 0);
    Layout->setSpacing(0);

    Panel1 = new QFrame(this);
    Panel1->setObjectName(QStringLiteral("Panel1"));
    Panel1->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    Panel1->setLineWidth(1);
    Panel1->setFixedHeight(Scale(47));

    RecNo = new QLineEdit(Panel1);
    RecNo->setObjectName(QStringLiteral("RecNo"));
    RecNo->setGeometry(Scale(10), Scale(10), Scale(139), Scale(24));
    RecNo->setEnabled(false);
    RecNo->setContextMenuPolicy(Qt::NoContextMenu);

    Edit1 = new QLineEdit(Panel1);
    Edit1->setObjectName(QStringLiteral("Edit1"));
    Edit1->setGeometry(Scale(158), Scale(10), Scale(198), Scale(24));
    Edit1->setContextMenuPolicy(Qt::NoContextMenu);

    IndexComboBox = new QComboBox(Panel1);
    IndexComboBox->setObjectName(QStringLiteral("IndexComboBox"));
    IndexComboBox->setEditable(false);
    IndexComboBox->setGeometry(Scale(364), Scale(10), Scale(179), Scale(24));
    IndexComboBox->setContextMenuPolicy(Qt::NoContextMenu);

    DBNavigator1 = new controls::TDBNavigator(Panel1);
    DBNavigator1->setObjectName(QStringLiteral("DBNavigator1"));
    DBNavigator1->setGeometry(Scale(554), Scale(12), Scale(240), Scale(22));
    DBNavigator1->SetDataSource(DataSource1);

    Panel2 = new QFrame(this);
    Panel2->setObjectName(QStringLiteral("Panel2"));
    Panel2->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    Panel2->setLineWidth(1);
    auto* Inner = new QVBoxLayout(Panel2);
    Inner->setContentsMargins(1, 1, 1, 1);
    Inner->setSpacing(0);

    Splitter1 = new QSplitter(Qt::Vertical, Panel2);
    Splitter1->setObjectName(QStringLiteral("Splitter1"));
    Splitter1->setHandleWidth(std::max(3, Scale(4)));
    Splitter1->setChildrenCollapsible(false);
    Inner->addWidget(Splitter1);

    DBGrid = new controls::TDBGrid(Splitter1);
    DBGrid->setObjectName(QStringLiteral("DBGrid"));
    DBGrid->SetOptions(controls::DefaultGridOptions);
    DBGrid->SetDataSource(DataSource1);

    DBMemo1 = new controls::TDBMemo(Splitter1);
    DBMemo1->setObjectName(QStringLiteral("DBMemo1"));
    DBMemo1->SetAutoDisplay(false);
    DBMemo1->SetDataSource(DataSource1);
    DBMemo1->setContextMenuPolicy(Qt::NoContextMenu);
    DBMemo1->hide();
    Splitter1->setStretchFactor(0, 1);
    Splitter1->setStretchFactor(1, 0);

    StatusBar1 = new QStatusBar(this);
    StatusBar1->setObjectName(QStringLiteral("StatusBar1"));
    StatusBar1->setSizeGripEnabled(false);
    FStatusLine = std::make_unique<browser::TStatusLine>(StatusBar1, Table);
    // The data-aware controls follow a walk at a human rate.
    FWalkProgress =
        std::make_unique<browser::TWalkProgress>(FStatusLine.get(), std::vector<QWidget*>{DBGrid, DBMemo1, DBNavigator1});
    FollowDesktopPalette();

    // Panel2 before Panel1: the grid comes first in the tab order.
    Layout->addWidget(Panel1);
    Layout->addWidget(Panel2, 1);
    Layout->addWidget(StatusBar1);
    QWidget::setTabOrder(DBGrid, DBMemo1);
    QWidget::setTabOrder(DBMemo1, Edit1);
    QWidget::setTabOrder(Edit1, IndexComboBox);
    QWidget::setTabOrder(IndexComboBox, DBNavigator1);
}

void TTamblorBrowserForm::FollowDesktopPalette() {
    // Only the colours the window's definition fixes are set; all others are
    // the desktop's. The font colour, black, is kept while the palette is
    // light: on a dark window black text could not be read.
    const QPalette Desktop = QApplication::palette(this);
    QPalette Pal;
    if (Desktop.color(QPalette::Window).lightness() >= Desktop.color(QPalette::WindowText).lightness())
        Pal.setColor(QPalette::WindowText, Qt::black);
    setPalette(Pal);
    // RecNo has its parent's colour.
    QPalette Parent;
    for (QPalette::ColorGroup G : {QPalette::Active, QPalette::Inactive, QPalette::Disabled})
        Parent.setColor(G, QPalette::Base, Panel1->palette().color(G, QPalette::Window));
    RecNo->setPalette(Parent);
}

bool TTamblorBrowserForm::event(QEvent* Event) {
    const bool Handled = QWidget::event(Event);
    // A new desktop palette: the text colour is chosen again.
    if (Event->type() == QEvent::ApplicationPaletteChange) FollowDesktopPalette();
    return Handled;
}

QAction* TTamblorBrowserForm::AddItem(const char* Caption, const QKeySequence& Shortcut, std::intptr_t ItemTag,
                                      void (TTamblorBrowserForm::*Handler)(QObject*)) {
    auto* Item = new QAction(QString::fromUtf8(Caption), this);
    Item->setShortcut(Shortcut);
    Item->setShortcutContext(Qt::WindowShortcut);
    Item->setProperty("Tag", static_cast<qlonglong>(ItemTag));
    PopupMenu1->addAction(Item);
    addAction(Item);  // the shortcut works throughout the window
    connect(Item, &QAction::triggered, this, [this, Item, Handler] { Guard([&] { (this->*Handler)(Item); }); });
    return Item;
}

void TTamblorBrowserForm::BuildMenu() {
    using F = TTamblorBrowserForm;
    PopupMenu1 = new QMenu(this);
    PopupMenu1->setObjectName(QStringLiteral("PopupMenu1"));
    Newtable1 = AddItem("New table...", QKeySequence(Qt::CTRL | Qt::Key_N), 1, &F::Opentable1Click);
    Opentable1 = AddItem("Open table..", QKeySequence(Qt::CTRL | Qt::Key_O), 0, &F::Opentable1Click);
    N4 = PopupMenu1->addSeparator();
    Search1 = AddItem("Search...", QKeySequence(Qt::CTRL | Qt::Key_S), 0, &F::Search2Click);
    Search1->setEnabled(false);
    ExportTABdelimited1 = AddItem("Export TAB delimited...", QKeySequence(), 1, &F::ExporttoCSV1Click);
    ExporttoCSV1 = AddItem("Export to CSV..", QKeySequence(), 2, &F::ExporttoCSV1Click);
    N1 = PopupMenu1->addSeparator();
    Memoonoff1 = AddItem("Memo on/off", QKeySequence(Qt::CTRL | Qt::Key_M), 0, &F::Memoonoff1Click);
    Countfield1 = AddItem("Count field", QKeySequence(), 0, &F::Countfield1Click);
    Fillfieldinrecords1 = AddItem("Fill field in records", QKeySequence(), 0, &F::Fillfieldinrecords1Click);
    FieldsSubMenu = new QMenu(QStringLiteral("Fields"), this);
    FieldsSubMenu->setObjectName(QStringLiteral("FieldsSubMenu"));
    FieldsSubMenu->menuAction()->setProperty("Tag", 0);
    PopupMenu1->addMenu(FieldsSubMenu);
    FieldsSubMenu->menuAction()->setEnabled(false);
    const std::string DumpCaption = "Dump header to " + browser::DumpFileName();
    Dumpheader1 = AddItem(DumpCaption.c_str(), QKeySequence(Qt::CTRL | Qt::Key_D), 0, &F::Dumpheader1Click);
    N2 = PopupMenu1->addSeparator();
    Filter = AddItem("Filter active", QKeySequence(Qt::CTRL | Qt::Key_F), 0, &F::FilterClick);
    Filter->setCheckable(true);
    Filter->setChecked(false);
    Rangestart1 = AddItem("Range start", QKeySequence(), 0, &F::Rangestart1Click);
    Rangeend1 = AddItem("Range end", QKeySequence(), 0, &F::Rangeend1Click);
    FilterString1 = AddItem("Set filter", QKeySequence(Qt::SHIFT | Qt::CTRL | Qt::Key_F), 0, &F::FilterString1Click);
    N3 = PopupMenu1->addSeparator();
    About1 = AddItem("About...", QKeySequence(), 0, &F::About1Click);
}

// ---------------------------------------------------------------------------
// Error handling
// ---------------------------------------------------------------------------

bool TTamblorBrowserForm::Guard(const std::function<void()>& Handler) {
    try {
        Handler();
        return true;
    } catch (...) {
        ShowException();
        return false;
    }
}

void TTamblorBrowserForm::ShowException() noexcept {
    try {
        try {
            throw;
        } catch (const EAbort&) {
            // Silent.
        } catch (const std::exception& E) {
            ShowError(E.what());
        } catch (...) {
            FDialogs->ShowError("Unknown error", this);
        }
    } catch (...) {
        // A failing error box must not take the program down.
    }
}

void TTamblorBrowserForm::ShowError(const std::string& Message) {
    std::string Text = Message;
    std::string Later;
    if (HandlingRecordRefusal() && !FRecovering && Table->Active()) {
        FRecovering = true;
        try {
            const bool Restricted = browser::FilterInForce(Table) || browser::RangeInForce(Table);
            if (std::optional<std::string> Gone = browser::RecoverVanishedRecords(*Table, Restricted)) Text = *Gone;
        } catch (const std::exception& E) {
            Later = E.what();
        } catch (...) {
            Later = "Unknown error";
        }
        FRecovering = false;
    }
    FDialogs->ShowError(Text, this);
    if (!Later.empty()) FDialogs->ShowError(Later, this);
}

// ---------------------------------------------------------------------------
// Keys, shortcuts and the pop-up menu
// ---------------------------------------------------------------------------

bool TTamblorBrowserForm::IsMenuShortcut(const QKeySequence& Key) const {
    for (QAction* Item : actions())
        if (Item->isEnabled() && !Item->shortcut().isEmpty() && Item->shortcut() == Key) return true;
    return false;
}

bool TTamblorBrowserForm::eventFilter(QObject* Watched, QEvent* Event) {
    const QEvent::Type Type = Event->type();
    const bool Drag = Type == QEvent::DragEnter || Type == QEvent::DragMove || Type == QEvent::Drop;
    if (Type != QEvent::KeyPress && Type != QEvent::ShortcutOverride && !Drag)
        return QWidget::eventFilter(Watched, Event);
    auto* Widget = qobject_cast<QWidget*>(Watched);
    if (Widget == nullptr || Widget->window() != this) return QWidget::eventFilter(Watched, Event);
    if (Drag) return HandleDrag(static_cast<QDropEvent*>(Event));
    auto* Key = static_cast<QKeyEvent*>(Event);
    if (Event->type() == QEvent::ShortcutOverride) {
        // The menu's shortcuts come before what the focused control would do
        // with the key (a line edit claims Ctrl+D, for example).
        return IsMenuShortcut(QKeySequence(Key->keyCombination()));
    }
    // Key preview: the window sees the key once, at its first receiver (the
    // focused control), before that control does.
    QWidget* First = QApplication::focusWidget() != nullptr ? QApplication::focusWidget() : this;
    if (Widget != First) return false;
    int Code = Key->key();
    const Qt::KeyboardModifiers Shift = Key->modifiers();
    Guard([&] { FormKeyDown(Code, Shift); });
    if (Code == 0) return true;
    if (Widget == Edit1) {
        if (Guard([&] { Edit1KeyDown(Code, Shift); }) && Code == 0) return true;
    }
    return false;
}

bool TTamblorBrowserForm::HandleDrag(QDropEvent* Event) {
    // Files dropped anywhere on the window are the window's, also over a text
    // box; other data (text) goes to the control under the mouse as usual.
    if (!Event->mimeData()->hasUrls()) return false;
    Event->acceptProposedAction();
    if (Event->type() == QEvent::Drop) {
        // Opened once the drop has ended, so that an error box does not hold
        // up the program the file came from.
        const QList<QUrl> Urls = Event->mimeData()->urls();
        QMetaObject::invokeMethod(
            this, [this, Urls] { Guard([&] { TableFileDropped(Urls); }); }, Qt::QueuedConnection);
    }
    return true;
}

void TTamblorBrowserForm::contextMenuEvent(QContextMenuEvent* Event) {
    PopupMenu1->popup(Event->globalPos());
    Event->accept();
}

void TTamblorBrowserForm::closeEvent(QCloseEvent* Event) {
    FStop = true;
    if (Table->Active() && (Table->State() == dsEdit || Table->State() == dsInsert)) {
        if (!Guard([this] { Table->CheckBrowseMode(); })) {
            Event->ignore();
            return;
        }
    }
    QWidget::closeEvent(Event);
}

void TTamblorBrowserForm::showEvent(QShowEvent* Event) {
    QWidget::showEvent(Event);
    if (!FFocusSet) {
        FFocusSet = true;
        DBGrid->setFocus();
    }
}

// ---------------------------------------------------------------------------
// Handlers of the window and the table
// ---------------------------------------------------------------------------

void TTamblorBrowserForm::FormCreate() {
    Table->SetFileName(StartTableName);
    Table->SetReadOnly(StartReadOnly);
    if (!Table->FileName().empty()) OpenDialog.FileName = Table->FileName();
    if (Table->ReadOnly()) OpenDialog.ReadOnlyChecked = true;
    if (!StartTableName.empty()) Guard([this] { Table->Open(); });
}

void TTamblorBrowserForm::Opentable1Click(QObject* Sender) {
    if (!FDialogs->ExecuteOpen(OpenDialog, this)) return;
    const bool ReadOnly = OpenDialog.ReadOnlyChecked;
    if ((browser::Tag(Sender) & 1) == 0) {
        OpenTableFile(OpenDialog.FileName, ReadOnly);
        return;
    }
    StartTableName = OpenDialog.FileName;
    // "New table...": a second copy of the program opens the file; this
    // window and its table stay as they are. A failed start is not reported.
    QStringList Arguments{Q(StartTableName)};
    if (ReadOnly) Arguments << QStringLiteral("-RO");
    if (StartProcess) StartProcess(QCoreApplication::applicationFilePath(), Arguments);
}

void TTamblorBrowserForm::OpenTableFile(const std::string& FileName, bool ReadOnly) {
    // Closing would drop an edit not yet posted: it is posted first.
    if (Table->Active()) Table->CheckBrowseMode();
    StartTableName = FileName;
    Table->Close();
    Table->SetFileName(StartTableName);
    Table->SetIndexFieldNames("");
    Table->SetReadOnly(ReadOnly);
    Table->Open();
}

void TTamblorBrowserForm::TableFileDropped(const QList<QUrl>& Urls) {
    if (Urls.isEmpty()) return;
    const QUrl& Url = Urls.first();
    const std::string FileName = (Url.isLocalFile() ? Url.toLocalFile() : Url.toString()).toStdString();
    // The open dialog starts at the file next time.
    OpenDialog.FileName = FileName;
    OpenTableFile(FileName, false);
}

void TTamblorBrowserForm::TableBeforeOpen(TDataSet*) {
    setWindowTitle(Q(Format("Tallowmere [%s]", {Table->FileName()})));
}

void TTamblorBrowserForm::TableAfterOpen(TDataSet*) {
    using namespace controls;
    const TButtonSet EditButtons{nbEdit, nbPost, nbCancel};
    TButtonSet Buttons = DBNavigator1->VisibleButtons();
    Buttons = Table->ReadOnly() ? Buttons - EditButtons : Buttons + EditButtons;
    DBNavigator1->SetVisibleButtons(Buttons);
    DBNavigator1->SetWidth(10);

    for (TField* F : Table->Fields()->List())
        if (F->DisplayWidth() > 35) F->SetDisplayWidth(35);

    FieldsSubMenu->clear();
    for (TField* F : Table->Fields()->List()) {
        auto* Item = new QAction(LiteralCaption(F->FieldName()), FieldsSubMenu);
        Item->setCheckable(true);
        Item->setChecked(F->Visible());
        Item->setData(Q(F->FieldName()));
        connect(Item, &QAction::triggered, this, [this, Item] { Guard([&] { FieldsSubMenuClick(Item); }); });
        FieldsSubMenu->addAction(Item);
    }

    RefillIndexList();
    TableAfterClose(Table);
    DBGridColEnter();
}

void TTamblorBrowserForm::TableAfterClose(TDataSet*) {
    const bool Active = Table->Active();
    FieldsSubMenu->menuAction()->setEnabled(Active);
    Search1->setEnabled(Active);
    DBMemo1->SetDataField("");
    // Nothing done before the close is taken back afterwards.
    if (!Active) FUndoLog->Clear();
    ShowOrder();
    FStatusLine->Invalidate();
}

void TTamblorBrowserForm::DataSource1DataChange(TObject*, TField*) {
    if (!Table->Active()) RecNo->clear();
    FStatusLine->Invalidate();
}

void TTamblorBrowserForm::DBGridColEnter() {
    TField* F = DBGrid->SelectedField();
    DBMemo1->SetDataField(F != nullptr ? F->FieldName() : std::string());
}

void TTamblorBrowserForm::Memoonoff1Click(QObject*) {
    const bool Show = DBMemo1->isHidden();
    DBMemo1->setVisible(Show);
    // A hidden memo loads no text.
    DBMemo1->SetAutoDisplay(Show);
    if (Show) {
        const int Height = Scale(137);
        Splitter1->setSizes({std::max(0, Splitter1->height() - Height - Splitter1->handleWidth()), Height});
    }
}

void TTamblorBrowserForm::FieldsSubMenuClick(QObject* Sender) {
    auto* Item = qobject_cast<QAction*>(Sender);
    if (Item == nullptr) return;
    // The item's check mark was inverted by the click. The field is found by
    // the name the item was built for, not by its caption: a caption's '&'
    // is the menu's business, and a name holding '&' must still be found.
    const bool Show = Item->isChecked();
    try {
        Table->FieldByName(Item->data().toString().toStdString())->SetVisible(Show);
    } catch (...) {
        Item->setChecked(!Show);  // the field did not change: neither does its mark
        throw;
    }
}

void TTamblorBrowserForm::FormKeyDown(int& Key, Qt::KeyboardModifiers Shift) {
    const Qt::KeyboardModifiers Mods = Shift & ~Qt::KeypadModifier;
    if (Key == Qt::Key_Escape && Mods == Qt::NoModifier) FStop = true;
    if (Key == Qt::Key_C && Mods == (Qt::ShiftModifier | Qt::ControlModifier)) {
        Key = 0;
        CopyRecord();
    } else if (Key == Qt::Key_Z && Mods == Qt::ControlModifier && !CanUndoTyping(QApplication::focusWidget())) {
        Key = 0;
        UndoLastChange();
    }
}

// ---------------------------------------------------------------------------
// Index choice and key search box
// ---------------------------------------------------------------------------

void TTamblorBrowserForm::RefillIndexList() {
    IndexComboBox->clear();
    TStringList Names;
    Table->GetIndexNames(&Names);
    for (int I = 0; I < Names.Count(); ++I) IndexComboBox->addItem(Q(Names.Get(I)));
    IndexComboBox->insertItem(0, QStringLiteral("<no index>"));
    IndexComboBox->setCurrentIndex(0);
}

void TTamblorBrowserForm::IndexComboBoxChange() {
    const QString Text = IndexComboBox->currentText();
    try {
        if (Text.startsWith(QLatin1Char('<')))
            Table->SetIndexFieldNames("");
        else
            Table->SetIndexFieldNames(Text.toStdString());
    } catch (...) {
        // The table keeps its order when the change fails: so does the list.
        const std::string& InForce = Table->IndexFieldNames();
        const int Item = InForce.empty() ? 0 : IndexComboBox->findText(Q(InForce));
        if (Item >= 0) IndexComboBox->setCurrentIndex(Item);
        throw;
    }
    ShowOrder();
}

void TTamblorBrowserForm::ShowOrder() {
    const std::string Index = Table->Active() ? Table->IndexFieldNames() : std::string();
    DBGrid->SetOrderFieldName(Index.substr(0, Index.find(';')));
}

void TTamblorBrowserForm::DBGridTitleClick(TField* Column) {
    if (Column == nullptr) return;
    const std::string& Name = Column->FieldName();
    // The list's entries after "<no index>" name their key fields, separated
    // by ';'. The record number orders the records when no index does.
    int Choice = Name == "_RECNO_" ? 0 : -1;
    for (int I = 1; I < IndexComboBox->count() && Choice < 0; ++I) {
        const std::string Index = IndexComboBox->itemText(I).toStdString();
        if (Index.substr(0, Index.find(';')) == Name) Choice = I;
    }
    if (Choice < 0) {
        FStatusLine->ShowNote(Q(Format("No index begins with %s", {Name})));
        return;
    }
    IndexComboBox->setCurrentIndex(Choice);
    IndexComboBoxChange();
}

void TTamblorBrowserForm::Edit1KeyDown(int& Key, Qt::KeyboardModifiers Shift) {
    if (Key != Qt::Key_Return && Key != Qt::Key_Enter) return;
    if ((Shift & ~Qt::KeypadModifier) != Qt::NoModifier) return;
    if (Edit1->text().isEmpty() || Table->IndexFieldNames().empty()) return;
    Table->SetKey();
    try {
        FillKeyFields(Edit1->text().toStdString());
    } catch (...) {
        // The key state is left in every case.
        Table->Post();
        throw;
    }
    Table->Post();
    Table->GotoNearest();
    Key = 0;
}

void TTamblorBrowserForm::FillKeyFields(const std::string& Text) {
    moneytable::FillKeyFields(Table, Text);
}

// ---------------------------------------------------------------------------
// Clipboard and undo
// ---------------------------------------------------------------------------

void TTamblorBrowserForm::CopyRecord() {
    if (!Table->Active() || Table->IsEmpty()) {
        FStatusLine->ShowNote(QStringLiteral("No record to copy"));
        return;
    }
    // The lines the TAB export writes: the visible fields' names, then the
    // record's values.
    std::string Names, Values;
    bool First = true;
    for (TField* F : Table->Fields()->List()) {
        if (!F->Visible()) continue;
        if (!First) {
            Names += '\t';
            Values += '\t';
        }
        First = false;
        Names += moneytable::ExportValue(F->FieldName(), moneytable::TExportFormat::Tab);
        Values += moneytable::ExportValue(F->AsString(), moneytable::TExportFormat::Tab);
    }
    QGuiApplication::clipboard()->setText(Q(Names + "\r\n" + Values + "\r\n"));
}

void TTamblorBrowserForm::UndoLastChange() {
    if (Table->Active() && (Table->State() == dsEdit || Table->State() == dsInsert)) {
        // The change still being made is the first to go.
        const bool Inserting = Table->State() == dsInsert;
        Table->Cancel();
        FStatusLine->ShowNote(Inserting ? QStringLiteral("Insert cancelled") : QStringLiteral("Edit cancelled"));
        return;
    }
    // Standing on the record that taking back an insert deletes, the table
    // moves to the next record (the prior one at the end) first: it cannot
    // move off a record that is gone. When it cannot move, someone else
    // deleted the record already, and the undo says so.
    if (Table->Active() && !Table->IsEmpty() && FUndoLog->RecordToDelete() == Table->RecNo()) {
        try {
            Table->Next();
            if (Table->Eof()) Table->Prior();
        } catch (const Exception&) {
        }
    }
    const std::optional<browser::TUndone> Done = FUndoLog->Undo();
    if (!Done) {
        FStatusLine->ShowNote(QStringLiteral("Nothing to undo"));
        return;
    }
    switch (Done->Kind) {
        case browser::TChangeKind::Edit:
            FStatusLine->ShowNote(QStringLiteral("Change of record %1 undone").arg(Done->RecNo));
            break;
        case browser::TChangeKind::Insert:
            FStatusLine->ShowNote(QStringLiteral("Insert of record %1 undone: the record is deleted").arg(Done->RecNo));
            break;
        case browser::TChangeKind::Delete:
            FStatusLine->ShowNote(QStringLiteral("Delete of record %1 undone: the record is back as record %2")
                                      .arg(Done->RecNo)
                                      .arg(Done->NewRecNo));
            break;
    }
    // The table shows what the undo wrote, on the record concerned when it
    // is among those shown (moving there reads the records afresh).
    const bool Deleted = Done->Kind == browser::TChangeKind::Insert;
    bool Read = false;
    if (!Deleted && Table->RecNo() != Done->NewRecNo) {
        Table->SetRecNo(Done->NewRecNo);
        Read = Table->RecNo() == Done->NewRecNo;
    }
    if (Deleted && Table->RecNo() == Done->RecNo)
        Table->First();  // it was the only record shown
    else if (!Read)
        Table->Refresh();
}

// ---------------------------------------------------------------------------
// Export
// ---------------------------------------------------------------------------

void TTamblorBrowserForm::ExporttoCSV1Click(QObject* Sender) {
    if (!FDialogs->ExecuteSave(SaveCSVDialog, this)) return;
    const auto Format =
        browser::Tag(Sender) == 1 ? moneytable::TExportFormat::Tab : moneytable::TExportFormat::Semicolon;
    moneytable::ExportDataSetToFile(Table, SaveCSVDialog.FileName, Format);
}

// ---------------------------------------------------------------------------
// Record commands
// ---------------------------------------------------------------------------

void TTamblorBrowserForm::SetBusy(bool Busy) {
    DBGrid->setEnabled(!Busy);
    DBMemo1->setEnabled(!Busy);
}
