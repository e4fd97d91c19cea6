// TMoneyTable: construction, published properties, opening and closing a
// table, field definitions from the engine's columns, the status check, and
// the application's exception handler.
#include "moneytable/Tamblor.h"

#include <cstdio>
#include <cstring>

// ---------------------------------------------------------------- errors

void BFError(const std::string& Msg) { throw EBFError(Msg); }

int TMoneyTable::CheckError(int Status) {
    switch (Status) {
        case -1: BFError(SBFErrorExecuting);
        case -10: BFError(SBFUserError);
        case -11: BFError(SBFAlreadyOpened);
        case -12: BFError(SBFUnsupportedType);
        case -13: BFError(SBFInvalidIndex);
        default: return Status;
    }
}

namespace moneytable {

namespace {
TExceptionHandler& Handler() {
    static TExceptionHandler handler;
    return handler;
}
}  // namespace

TExceptionHandler SetApplicationExceptionHandler(TExceptionHandler NewHandler) {
    TExceptionHandler old = std::move(Handler());
    Handler() = std::move(NewHandler);
    return old;
}

void ApplicationHandleException(TObject* Sender) {
    std::exception_ptr current = std::current_exception();
    try {
        if (Handler()) {
            Handler()(Sender, current);
            return;
        }
        if (!current) return;
        try {
            std::rethrow_exception(current);
        } catch (const EAbort&) {
            // silent by definition
        } catch (const std::exception& e) {
            std::fprintf(stderr, "%s\n", e.what());
        } catch (...) {
            std::fprintf(stderr, "Unknown exception\n");
        }
    } catch (...) {
        // The handler itself failed: nothing more can be done here.
    }
}

}  // namespace moneytable

// ---------------------------------------------------------------- life cycle

TMoneyTable::TMoneyTable(TComponent* AOwner) : TDataSet(AOwner) {
    FIndexDefs = std::make_unique<TIndexDefs>(this);
    FMasterLink = std::make_unique<TMasterDataLink>(this);
    FMasterLink->OnMasterChange = [this](TObject* Sender) { MasterChanged(Sender); };
    FMasterLink->OnMasterDisable = [this](TObject* Sender) { MasterDisabled(Sender); };
}

TMoneyTable::~TMoneyTable() {
    // Close while the hooks are still this class's; the close uses neither the
    // master link nor the index definitions, which go next (link first).
    BeginDestroy();
    FMasterLink.reset();
    FIndexDefs.reset();
}

void TMoneyTable::SetExclusive(bool Value) {
    CheckInactive();
    FExclusive = Value;
}

void TMoneyTable::SetFileName(const std::string& Value) {
    CheckInactive();
    FFileName = Value;
}

void TMoneyTable::SetReadOnly(bool Value) {
    CheckInactive();
    FReadOnly = Value;
}

bool TMoneyTable::GetCanModify() { return !FReadOnly; }

bool TMoneyTable::IsCursorOpen() { return FCursorOpen; }

void TMoneyTable::InternalHandleException() { moneytable::ApplicationHandleException(this); }

std::vector<TPropInfo> TMoneyTable::PublishedProperties() {
    auto table = [](TComponent* C) { return static_cast<TMoneyTable*>(C); };
    auto boolText = [](bool B) { return std::string(B ? "True" : "False"); };
    auto textBool = [](const std::string& S) { return SameText(S, "True"); };
    return {
        {"Exclusive", "Boolean", [=](TComponent* C) { return boolText(table(C)->Exclusive()); },
         [=](TComponent* C, const std::string& V) { table(C)->SetExclusive(textBool(V)); }},
        {"FileName", "TFileName", [=](TComponent* C) { return table(C)->FileName(); },
         [=](TComponent* C, const std::string& V) { table(C)->SetFileName(V); }},
        {"IndexFieldNames", "string", [=](TComponent* C) { return table(C)->IndexFieldNames(); },
         [=](TComponent* C, const std::string& V) { table(C)->SetIndexFieldNames(V); }},
        {"MasterFields", "string", [=](TComponent* C) { return table(C)->MasterFields(); },
         [=](TComponent* C, const std::string& V) { table(C)->SetMasterFields(V); }},
        {"MasterSource", "TDataSource",
         [=](TComponent* C) {
             TDataSource* S = table(C)->MasterSource();
             return S ? S->Name() : std::string();
         },
         nullptr},
        {"ReadOnly", "Boolean", [=](TComponent* C) { return boolText(table(C)->ReadOnly()); },
         [=](TComponent* C, const std::string& V) { table(C)->SetReadOnly(textBool(V)); }},
    };
}

// ---------------------------------------------------------------- open

// The table's file name as the engine takes it: the extension replaced by
// (or, when there is none, extended with) ".dat".
static WideString EnginePath(const std::string& FileName) { return Utf8ToWide(ChangeFileExt(FileName, ".dat")); }

// Asks an engine table that offers IBFTableAccess to open for reading only.
static void RequestReadOnlyOpen(const rtl::ComPtr<IBFTable7>& Table) {
    if (const rtl::ComPtr<IBFTableAccess> Access = Table.As<IBFTableAccess>())
        OleCheck(Access->SetOpenReadOnly(VARIANT_TRUE));
}

void TMoneyTable::InternalOpen() {
    // 1.-2.
    FIndexDefs->Clear();
    FComInitialized = SUCCEEDED(CoInitialize(nullptr));
    // 3.-5. The engine table on the file.
    FEngineTable = CoBFTable::Create();
    OleCheck(FEngineTable->SetTablePath(EnginePath(FFileName)));
    WideString Path;
    OleCheck(FEngineTable->GetTablePath(&Path));
    // A read-only table is opened for reading only where the engine can tell
    // (so that it opens on storage that this user cannot write).
    if (FReadOnly) RequestReadOnlyOpen(FEngineTable);
    std::int32_t Status = 0;
    OleCheck(FEngineTable->OpenTable(OleVariant(Path), &Status));
    CheckError(Status);
    // 6.-8. Field definitions and fields.
    InternalInitFieldDefs();
    if (DefaultFields()) CreateFields();
    BindFields(true);
    // 9.-10. The record layout. Sizes are summed wide first: a layout that
    // does not fit the 16-bit record size is refused rather than wrapped.
    std::uint32_t Data = 0;
    for (TField* F : Fields()->List())
        if (F->FieldNo() >= 1) Data += GetDataSize(F);
    std::uint32_t Offset = Data;
    if (FieldDefs()->Count() > 0) Offset += static_cast<std::uint32_t>((FieldDefs()->Count() - 1) / 8 + 1);
    if (Offset + 5 > 0xFFFF) BFError(Format(SBFRecordTooLarge, {FFileName, static_cast<long long>(Offset + 5)}));
    FDataSize = static_cast<Word>(Data);
    FBookmarkOffset = static_cast<Word>(Offset);
    BuildLayoutCache();
    // 11.
    SetBookmarkSize(4);
    // 12. The filter object.
    FEngineFilter = CoBFFilter::Create();
    // 13. The index.
    OleCheck(FEngineTable->SetIndex(Utf8ToWide(IndexFieldNamesToIndexName(FIndexFieldNames)), &Status));
    CheckError(Status);
    // 14. The table lock.
    if (FExclusive) {
        OleCheck(FEngineTable->LockTable(&Status));
        CheckError(Status);
        FTableLocked = true;
    }
    // 15.-18.
    FCursorOpen = true;
    AllocKeyBuffers();
    InternalFirst();
    ApplyFiltering(false);
}

void TMoneyTable::InternalClose() {
    // 1.-3.
    FreeKeyBuffers();
    BindFields(false);
    if (DefaultFields()) DestroyFields();
    ClearLayoutCache();
    FCursorOpen = false;
    FModifiedFieldArray.reset();
    // 4. The engine table, whatever state its open reached.
    if (FEngineTable) {
        if (FTableLocked) {
            std::int32_t Status = 0;
            OleCheck(FEngineTable->UnlockTable(&Status));
            CheckError(Status);
            FTableLocked = false;
        }
        OleCheck(FEngineTable->PrepareClose(0));
        OleCheck(FEngineTable->CloseTable());
        OleCheck(FEngineTable->SetFilter(nullptr));
        FEngineTable.reset();
    }
    // 5.-6.
    FEngineFilter.reset();
    if (FComInitialized) {
        FComInitialized = false;
        CoUninitialize();
    }
}

// ---------------------------------------------------------------- field definitions

void TMoneyTable::InternalInitFieldDefs() {
    if (FEngineTable) {
        ReadFieldDefs(FEngineTable.get());
        return;
    }
    // A query for the definitions while the table is closed: the engine
    // table exists only for the duration of the query.
    const bool Initialized = SUCCEEDED(CoInitialize(nullptr));
    try {
        rtl::ComPtr<IBFTable7> Table = CoBFTable::Create();
        try {
            OleCheck(Table->SetTablePath(EnginePath(FFileName)));
            WideString Path;
            OleCheck(Table->GetTablePath(&Path));
            // Reading the definitions changes nothing.
            RequestReadOnlyOpen(Table);
            std::int32_t Status = 0;
            OleCheck(Table->OpenTable(OleVariant(Path), &Status));
            CheckError(Status);
            ReadFieldDefs(Table.get());
        } catch (...) {
            Table->PrepareClose(0);
            Table->CloseTable();
            throw;
        }
        OleCheck(Table->PrepareClose(0));
        OleCheck(Table->CloseTable());
    } catch (...) {
        if (Initialized) CoUninitialize();
        throw;
    }
    if (Initialized) CoUninitialize();
}

void TMoneyTable::ReadFieldDefs(IBFTable7* Table) {
    // 1.-2.
    FieldDefs()->Clear();
    TFieldDef* RecNo = FieldDefs()->Add("_RECNO_", ftInteger, 0, false);
    RecNo->SetAttributes(RecNo->Attributes() + TFieldAttributes{faReadonly});
    // 3. The engine is asked twice; the entries follow the first answer and
    // are extended should the second be larger.
    std::int32_t Count = 0;
    OleCheck(Table->GetColumnCount(&Count));
    FColumnDescs.assign(static_cast<std::size_t>(Count > 0 ? Count : 0) + 1, TColumnDesc{});
    OleCheck(Table->GetColumnCount(&Count));
    if (Count <= 0) return;
    if (static_cast<std::size_t>(Count) + 1 > FColumnDescs.size())
        FColumnDescs.resize(static_cast<std::size_t>(Count) + 1);
    // 4. One definition per column.
    for (std::int32_t K = 0; K < Count; ++K) {
        TColumnDesc& Desc = FColumnDescs[static_cast<std::size_t>(K) + 1];
        WideString Text;
        OleCheck(Table->GetColumnName(K, &Text));
        Desc.Name = Utf8Cut(WideToUtf8(Text), 10);
        OleCheck(Table->GetColumnType(K, &Text));
        Text += u' ';
        Desc.TypeLetter = static_cast<std::uint8_t>(Text[0] & 0xFF);
        std::int32_t Size = 0;
        OleCheck(Table->GetColumnSize(K, &Size));
        Desc.Size = static_cast<std::uint8_t>(Size & 0xFF);

        std::string Name = Desc.Name;
        for (int Counter = 0; FieldDefs()->Find(Name);) Name = Format("%s[%d]", {Desc.Name, ++Counter});

        TFieldType Type = ftUnknown;
        int FieldSize = 0;
        bool ReadOnly = false;
        switch (Desc.TypeLetter) {
            case 'B': Type = ftBoolean; break;
            case 'C':
            case 'U':
                Type = ftString;
                FieldSize = Desc.Size;
                break;
            case 'D': Type = ftDate; break;
            case 'E':
            case 'R': Type = ftFloat; break;
            case 'G':
                Type = ftGuid;
                FieldSize = 38;
                break;
            case 'I': Type = ftSmallint; break;
            case 'L': Type = ftInteger; break;
            case 'M': Type = ftMemo; break;
            case 'T': Type = ftTime; break;
            case 'V':
            case 'W': Type = ftWord; break;
            case 'Y':
                Type = ftTime;
                ReadOnly = true;
                break;
            case 'Z':
                Type = ftDate;
                ReadOnly = true;
                break;
            default: break;
        }
        TFieldDef* Def = FieldDefs()->Add(Name, Type, FieldSize, false);
        if (ReadOnly) Def->SetAttributes(Def->Attributes() + TFieldAttributes{faReadonly});
    }
}

// ---------------------------------------------------------------- layout cache

void TMoneyTable::BuildLayoutCache() {
    ClearLayoutCache();
    int MaxNo = 0;
    for (TField* F : Fields()->List()) MaxNo = std::max(MaxNo, F->FieldNo());
    FSlotOffsets.assign(static_cast<std::size_t>(MaxNo) + 1, -1);
    FColumnNames.assign(static_cast<std::size_t>(MaxNo) + 1, OleVariant());
    FReadKinds.assign(static_cast<std::size_t>(MaxNo) + 1, TReadKind::None);
    FReadValues.assign(static_cast<std::size_t>(MaxNo) + 1, OleVariant());
    for (TField* F : Fields()->List()) {
        if (F->FieldNo() < 1) continue;
        int Offset = 0;
        for (TField* G : Fields()->List())
            if (G->FieldNo() >= 1 && G->FieldNo() < F->FieldNo()) Offset += GetDataSize(G);
        FSlotOffsets[static_cast<std::size_t>(F->FieldNo())] = Offset;
        FColumnNames[static_cast<std::size_t>(F->FieldNo())] = OleVariant(Utf8ToWide(F->FieldName()));
        if (F->IsBlob()) FBlobSlotFields.push_back(F);
        const TColumnDesc* Desc = ColumnDescOf(F);
        TReadKind& Kind = FReadKinds[static_cast<std::size_t>(F->FieldNo())];
        if (!IsFieldAccesable(F))
            Kind = TReadKind::None;
        else if (F->FieldName() == "_RECNO_")
            Kind = TReadKind::RecNo;
        else if (F->DataType() == ftGuid)
            Kind = TReadKind::Guid;
        else if (Desc && Desc->TypeLetter == 'U')
            Kind = TReadKind::Wide;
        else
            Kind = TReadKind::Column;
    }
}

void TMoneyTable::ClearLayoutCache() {
    FSlotOffsets.clear();
    FColumnNames.clear();
    FBlobSlotFields.clear();
    FReadKinds.clear();
    FReadValues.clear();
    FReadText = std::string();
}
