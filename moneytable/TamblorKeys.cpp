// TMoneyTable: index definitions, the index field list, key buffers and key
// search; ranges and master-detail links; the unit's key and case functions.
//
// Key editing (state of the dataset, FKeyBuffer the buffer being edited):
//
//   state     event                            next      effect on the key buffers
//   dsBrowse  SetKey / SetRangeStart / ...End  dsSetKey  FKeyBuffer := the buffer; copy of it
//             (SetKeyBuffer with clearing)               to mkiSave; buffer zero-filled; master
//                                                        values into the leading index fields
//   dsBrowse  EditKey / EditRangeStart / ...   dsSetKey  as above without clearing and without
//             (SetKeyBuffer without clearing)            master values
//   dsSetKey  Post (or CheckBrowseMode)        dsBrowse  trailer Modified := 1
//   dsSetKey  Cancel                           dsBrowse  mkiSave copied back over FKeyBuffer
//   any       SetKeyFields / SetLinkRanges     (same)    buffer filled under a temporary
//                                                        dsSetKey; the state is restored
//
// The trailer's FieldCount is set only by KeyFieldCount, SetKeyFields,
// SetLinkRanges and SetIndexFieldNames (which may lower the range counts).
#include "moneytable/Tamblor.h"

#include <algorithm>
#include <cstring>
#include <memory>

namespace {

// Messages of the key and index operations.
constexpr const char* SIndexFieldMissing = "Cannot access index field '%s'";
constexpr const char* SNoFieldIndexes = "No index currently active";
constexpr const char* SNoIndexForFields = "No index for fields '%s'";

// Destroys a safe array that has not been handed over.
struct SafeArrayGuard {
    PSafeArray Array = nullptr;
    ~SafeArrayGuard() {
        if (Array) SafeArrayDestroy(Array);
    }
};

}  // namespace

// ---------------------------------------------------------------- key buffers

void TMoneyTable::AllocKeyBuffers() {
    try {
        for (auto& Buffer : FKeyBuffers) {
            Buffer = new std::uint8_t[static_cast<std::size_t>(GetRecordSize())];
            InitKeyBuffer(Buffer);
        }
    } catch (...) {
        FreeKeyBuffers();
        throw;
    }
}

void TMoneyTable::FreeKeyBuffers() {
    for (auto& Buffer : FKeyBuffers) {
        delete[] Buffer;
        Buffer = nullptr;
    }
    FKeyBuffer = nullptr;
}

TRecordBuffer TMoneyTable::InitKeyBuffer(TRecordBuffer Buffer) {
    std::memset(Buffer, 0, static_cast<std::size_t>(GetRecordSize()));
    return Buffer;
}

TMKeyBuffer* TMoneyTable::GetMKeyBuffer(TRecordBuffer Buffer) const {
    return reinterpret_cast<TMKeyBuffer*>(Buffer + FBookmarkOffset);
}

// ---------------------------------------------------------------- field lists

std::string ExtractFieldNameNoTrim(const std::string& Fields, int& Pos) {
    // A position before the first character reads from the first one.
    if (Pos < 1) Pos = 1;
    const int Len = static_cast<int>(Fields.size());
    int I = Pos;
    while (I <= Len && Fields[static_cast<std::size_t>(I - 1)] != ';') ++I;
    std::string Result;
    if (Pos <= Len) Result = Fields.substr(static_cast<std::size_t>(Pos - 1), static_cast<std::size_t>(I - Pos));
    if (I <= Len) ++I;
    Pos = I;
    return Result;
}

std::string IndexFieldNamesToIndexName(const std::string& Fields) {
    std::string Result = Fields;
    for (char& C : Result)
        if (C == ';') C = '+';
    return Result;
}

// ---------------------------------------------------------------- index fields

int TMoneyTable::GetIndexFieldCount() {
    int Count = 0;
    int Pos = 1;
    while (!ExtractFieldNameNoTrim(FIndexFieldNames, Pos).empty()) ++Count;
    return Count;
}

TField* TMoneyTable::GetIndexField(int Index) {
    if (Index < 0 || Index >= GetIndexFieldCount()) DatabaseError(fw::SFieldIndexError, this);
    int Pos = 1;
    std::string Name;
    for (int I = 0; I <= Index; ++I) Name = ExtractFieldNameNoTrim(FIndexFieldNames, Pos);
    TField* Field = FindField(Name);
    if (!Field) DatabaseErrorFmt(SIndexFieldMissing, {Name}, this);
    return Field;
}

void TMoneyTable::SetIndexField(int Index, TField* Value) { GetIndexField(Index)->Assign(Value); }

bool TMoneyTable::GetIsIndexField(TField* Field) {
    if (Field->FieldNo() <= 0) return false;
    const std::string List = ";" + FIndexFieldNames + ";";
    return List.find(";" + Field->FieldName() + ";") != std::string::npos;
}

// ---------------------------------------------------------------- index definitions

void TMoneyTable::GetIndexNames(TStrings* List) {
    // Definitions read while the table was open are not those of a closed
    // table: it has none.
    if (!FEngineTable) FIndexDefs->Clear();
    FIndexDefs->Update();
    List->Clear();
    FIndexDefs->GetItemNames(List);
}

void TMoneyTable::UpdateIndexDefs() {
    // The engine table exists only while the table is open: a closed table
    // has no index definitions.
    if (!FEngineTable) {
        FIndexDefs->Clear();
        return;
    }
    FieldDefs()->Update();
    FIndexDefs->Clear();
    std::int32_t Count = 0;
    OleCheck(FEngineTable->GetIndexCount(&Count));
    if (Count <= 0) return;
    constexpr std::size_t MaxKeyColumns = 12;
    for (std::int32_t K = 0; K < Count; ++K) {
        WideString Columns;
        OleCheck(FEngineTable->GetIndexColumns(K, &Columns));
        std::string Names;
        const std::size_t N = std::min(Columns.size(), MaxKeyColumns);
        for (std::size_t I = 0; I < N; ++I) {
            // Engine column c is the field definition at position c + 1
            // (position 0 holds _RECNO_).
            const int Position = (Columns[I] & 0xFF) + 1;
            if (Position >= FieldDefs()->Count()) DatabaseError(fw::SFieldIndexError, this);
            if (I > 0) Names += ';';
            Names += FieldDefs()->Items(Position)->Name();
        }
        // Named when it is added: a name that another definition has is
        // refused before anything half-made joins the list.
        FIndexDefs->Add(Names, Names, TIndexOptions{});
    }
}

void TMoneyTable::SetIndexFieldNames(const std::string& Value) {
    // 1. A closed table only keeps the text; the open sends it to the engine.
    if (!Active()) {
        FIndexFieldNames = Value;
        return;
    }
    // 2. While a filter or range is installed, count the leading names that
    // the new list shares with the current one; the master fields must be
    // among them.
    int Shared = 0;
    {
        rtl::ComPtr<IBFFilter> Installed;
        OleCheck(FEngineTable->GetFilter(Installed.put()));
        if (Installed) {
            const int Current = GetIndexFieldCount();
            const int Len = static_cast<int>(Value.size());
            int Pos = 1;
            while (Pos <= Len) {
                const std::string Name = ExtractFieldNameNoTrim(Value, Pos);
                if (Name.empty()) continue;
                if (Shared >= Current || Name != GetIndexField(Shared)->FieldName()) break;
                ++Shared;
            }
            if (Shared < GetMasterFieldCount()) DatabaseErrorFmt(SNoIndexForFields, {MasterFields()}, this);
        }
    }
    // 3. The new order is entered on the current record.
    if (!IsEmpty()) InternalSetToRecord(ActiveBuffer());
    // 4.
    std::int32_t Status = 0;
    OleCheck(FEngineTable->SetIndex(Utf8ToWide(IndexFieldNamesToIndexName(Value)), &Status));
    CheckError(Status);
    // 5. The range keeps only the fields that both lists share.
    rtl::ComPtr<IBFFilter> Installed;
    OleCheck(FEngineTable->GetFilter(Installed.put()));
    if (Installed) {
        bool Lowered = false;
        for (TMKeyIndex KeyIndex : {mkiRangeStart, mkiRangeEnd}) {
            TMKeyBuffer* Trailer = GetMKeyBuffer(FKeyBuffers[KeyIndex]);
            if (Trailer->FieldCount > Shared) {
                Trailer->FieldCount = Shared;
                Lowered = true;
            }
        }
        ApplyFiltering(Lowered);
    } else {
        Resync(TResyncMode{});
    }
    // 6. Last: everything above still sees the previous index fields.
    FIndexFieldNames = Value;
}

// ---------------------------------------------------------------- key editing

void TMoneyTable::SetKey() { SetKeyBuffer(mkiLookup, true); }

void TMoneyTable::EditKey() { SetKeyBuffer(mkiLookup, false); }

void TMoneyTable::SetKeyBuffer(TMKeyIndex KeyIndex, bool Clear) {
    CheckBrowseMode();
    FKeyBuffer = FKeyBuffers.at(KeyIndex);
    std::memmove(FKeyBuffers[mkiSave], FKeyBuffer, static_cast<std::size_t>(GetRecordSize()));
    if (Clear) InitKeyBuffer(FKeyBuffer);
    SetState(dsSetKey);
    if (Clear) {
        const int MasterCount = GetMasterFieldCount();
        for (int I = 0; I < MasterCount; ++I) SetIndexField(I, FMasterLink->Fields()[static_cast<std::size_t>(I)]);
    }
    SetModified(GetMKeyBuffer(FKeyBuffer)->Modified != 0);
    DataEvent(deDataSetChange, 0);
}

void TMoneyTable::PostKeyBuffer(bool Commit) {
    DataEvent(deCheckBrowseMode, 0);
    if (Commit)
        GetMKeyBuffer(FKeyBuffer)->Modified = 1;
    else
        std::memmove(FKeyBuffer, FKeyBuffers[mkiSave], static_cast<std::size_t>(GetRecordSize()));
    SetState(dsBrowse);
    DataEvent(deDataSetChange, 0);
}

void TMoneyTable::Post() {
    TDataSet::Post();
    if (State() == dsSetKey) PostKeyBuffer(true);
}

void TMoneyTable::Cancel() {
    TDataSet::Cancel();
    if (State() == dsSetKey) PostKeyBuffer(false);
}

void TMoneyTable::CheckSetKeyMode() {
    if (State() != dsSetKey) DatabaseError(fw::SNotEditing, this);
}

int TMoneyTable::GetKeyFieldCount() {
    CheckSetKeyMode();
    return GetMKeyBuffer(FKeyBuffer)->FieldCount;
}

void TMoneyTable::SetKeyFieldCount(int Value) {
    CheckSetKeyMode();
    GetMKeyBuffer(FKeyBuffer)->FieldCount = Value;
}

void TMoneyTable::SetKeyFields(TMKeyIndex KeyIndex, const std::vector<TVarRec>& Values) {
    // The key buffers exist only while the table is open.
    CheckActive();
    const int MasterCount = GetMasterFieldCount();
    const int Count = static_cast<int>(Values.size());
    if (MasterCount + Count > GetIndexFieldCount()) DatabaseError(SNoFieldIndexes, this);
    const TDataSetState SavedState = SetTempState(dsSetKey);
    try {
        FKeyBuffer = InitKeyBuffer(FKeyBuffers.at(KeyIndex));
        for (int I = 0; I < MasterCount; ++I) SetIndexField(I, FMasterLink->Fields()[static_cast<std::size_t>(I)]);
        for (int J = 0; J < Count; ++J) GetIndexField(MasterCount + J)->AssignValue(Values[static_cast<std::size_t>(J)]);
        TMKeyBuffer* Trailer = GetMKeyBuffer(FKeyBuffer);
        Trailer->Modified = Modified() ? 1 : 0;
        Trailer->FieldCount = MasterCount + Count;
    } catch (...) {
        RestoreState(SavedState);
        throw;
    }
    RestoreState(SavedState);
}

// ---------------------------------------------------------------- key search

int TMoneyTable::BFSeek(TRecordBuffer Buffer) {
    const std::int32_t Count = GetMKeyBuffer(Buffer)->FieldCount;
    // No key (a negative count included): nothing to ask the engine.
    if (Count <= 0) return 0;
    CheckActive();
    // The index fields first: a count beyond the index raises "Field index
    // out of range" before anything is built.
    std::vector<TField*> KeyFields;
    for (std::int32_t I = 0; I < Count; ++I) KeyFields.push_back(GetIndexField(I));
    std::int32_t Status = 0;
    if (Count == 1) {
        const OleVariant Key = GetFieldAsOleVariant(Buffer, KeyFields[0], true);
        OleCheck(FEngineTable->SeekKey(Key, &Status));
        return Status;
    }
    SafeArrayGuard Keys;
    Keys.Array = SafeArrayCreateVector(VT_VARIANT, 0, static_cast<std::uint32_t>(Count));
    if (!Keys.Array) OleCheck(E_OUTOFMEMORY);
    for (std::int32_t I = 0; I < Count; ++I) {
        const OleVariant Key = GetFieldAsOleVariant(Buffer, KeyFields[static_cast<std::size_t>(I)], true);
        OleCheck(SafeArrayPutElement(Keys.Array, &I, &Key));
    }
    // The engine borrows the array; the guard destroys it, also on failure.
    OleCheck(FEngineTable->SeekKeys(&Keys.Array, &Status));
    return Status;
}

bool TMoneyTable::GotoKey() {
    CheckBrowseMode();
    DoBeforeScroll();
    CursorPosChanged();
    const int Status = CheckError(BFSeek(FKeyBuffers[mkiLookup]));
    if (Status != 7) return false;
    Resync(TResyncMode{rmExact, rmCenter});
    DoAfterScroll();
    return true;
}

int TMoneyTable::GotoNearest() {
    CheckBrowseMode();
    DoBeforeScroll();
    CursorPosChanged();
    const int Status = CheckError(BFSeek(FKeyBuffers[mkiLookup]));
    if (Status == 0) {
        std::int32_t Ignored = 0;
        OleCheck(FEngineTable->MoveLast(&Ignored));
    }
    Resync(TResyncMode{rmCenter});
    DoAfterScroll();
    return Status;
}

bool TMoneyTable::FindKey(const std::vector<TVarRec>& Values) {
    CheckBrowseMode();
    SetKeyFields(mkiLookup, Values);
    return GotoKey();
}

int TMoneyTable::FindNearest(const std::vector<TVarRec>& Values) {
    CheckBrowseMode();
    SetKeyFields(mkiLookup, Values);
    return GotoNearest();
}

// ---------------------------------------------------------------- ranges

void TMoneyTable::SetRangeStart() { SetKeyBuffer(mkiRangeStart, true); }

void TMoneyTable::SetRangeEnd() { SetKeyBuffer(mkiRangeEnd, true); }

void TMoneyTable::EditRangeStart() { SetKeyBuffer(mkiRangeStart, false); }

void TMoneyTable::EditRangeEnd() { SetKeyBuffer(mkiRangeEnd, false); }

void TMoneyTable::ApplyRange() { ApplyFiltering(true); }

void TMoneyTable::SetRange(const std::vector<TVarRec>& StartValues, const std::vector<TVarRec>& EndValues) {
    CheckBrowseMode();
    SetKeyFields(mkiRangeStart, StartValues);
    SetKeyFields(mkiRangeEnd, EndValues);
    ApplyFiltering(true);
}

void TMoneyTable::CancelRange() { SetRange({}, {}); }

// ---------------------------------------------------------------- master-detail

TDataSource* TMoneyTable::GetDataSource() { return FMasterLink->DataSource(); }

void TMoneyTable::SetDataSource(TDataSource* Value) {
    if (IsLinkedTo(Value)) DatabaseError(fw::SCircularDataLink, this);
    FMasterLink->SetDataSource(Value);
}

std::string TMoneyTable::GetMasterFields() const { return FMasterLink->FieldNames(); }

void TMoneyTable::SetMasterFields(const std::string& Value) { FMasterLink->SetFieldNames(Value); }

int TMoneyTable::GetMasterFieldCount() {
    return FMasterLink->Active() ? static_cast<int>(FMasterLink->Fields().size()) : 0;
}

void TMoneyTable::MasterChanged(TObject*) {
    CheckBrowseMode();
    SetLinkRanges(FMasterLink->Fields());
    ApplyFiltering(true);
}

void TMoneyTable::MasterDisabled(TObject*) {
    // The link no longer gives master values: the range that was built from
    // them is lifted rather than left in force with the values of the last
    // master record.
    if (Active()) {
        GetMKeyBuffer(FKeyBuffers[mkiRangeStart])->FieldCount = 0;
        GetMKeyBuffer(FKeyBuffers[mkiRangeEnd])->FieldCount = 0;
    }
    ApplyFiltering(true);
}

void TMoneyTable::SetLinkRanges(const std::vector<TField*>& MasterFields) {
    const TDataSetState SavedState = SetTempState(dsSetKey);
    const TRecordBuffer SavedKeyBuffer = FKeyBuffer;
    try {
        for (TMKeyIndex KeyIndex : {mkiRangeStart, mkiRangeEnd}) {
            FKeyBuffer = FKeyBuffers[KeyIndex];
            TMKeyBuffer* Trailer = GetMKeyBuffer(FKeyBuffer);
            Trailer->Modified = 1;
            Trailer->FieldCount = static_cast<std::int32_t>(MasterFields.size());
            for (std::size_t I = 0; I < MasterFields.size(); ++I)
                GetIndexField(static_cast<int>(I))->Assign(MasterFields[I]);
        }
    } catch (...) {
        FKeyBuffer = SavedKeyBuffer;
        RestoreState(SavedState);
        throw;
    }
    FKeyBuffer = SavedKeyBuffer;
    RestoreState(SavedState);
}

void TMoneyTable::DoOnNewRecord() {
    if (FMasterLink->Active()) {
        const std::vector<TField*>& Master = FMasterLink->Fields();
        for (std::size_t I = 0; I < Master.size(); ++I) SetIndexField(static_cast<int>(I), Master[I]);
    }
    TDataSet::DoOnNewRecord();
}

// ---------------------------------------------------------------- key box

namespace moneytable {

void FillKeyFields(TMoneyTable* Table, const std::string& Text) {
    const int MasterCount = Table->GetMasterFieldCount();
    Table->SetKeyFieldCount(MasterCount);
    std::string Rest = Text;
    const int IndexCount = Table->GetIndexFieldCount();
    for (int I = MasterCount; I < IndexCount; ++I) {
        const std::size_t Bar = Rest.find('|');
        const std::size_t Length = Bar == std::string::npos ? Rest.size() : Bar;
        Table->GetIndexField(I)->SetAsString(Rest.substr(0, Length));
        Rest.erase(0, Bar == std::string::npos ? Rest.size() : Bar + 1);
        Table->SetKeyFieldCount(Table->GetKeyFieldCount() + 1);
        if (Rest.empty()) break;
    }
}

}  // namespace moneytable

// ---------------------------------------------------------------- engine strings

namespace {

// Runs Fn with a new engine string object, which it releases afterwards. COM
// is initialised on the calling thread for the duration of the call, so the
// functions work whether or not a table is open.
template <class Fn>
std::string WithEngineString(Fn&& Call) {
    const bool Initialized = SUCCEEDED(CoInitialize(nullptr));
    std::string Result;
    try {
        rtl::ComPtr<IBFString> Strings = CoBFString::Create();
        WideString Text;
        OleCheck(Call(Strings.get(), &Text));
        Result = WideToUtf8(Text);
    } catch (...) {
        if (Initialized) CoUninitialize();
        throw;
    }
    if (Initialized) CoUninitialize();
    return Result;
}

}  // namespace

std::string moStrToKey(const std::string& S, int Length) {
    return WithEngineString([&](IBFString* Str, WideString* Out) { return Str->MakeKey(Utf8ToWide(S), Length, Out); });
}

std::string moCZUpperCase(const std::string& S) {
    return WithEngineString([&](IBFString* Str, WideString* Out) { return Str->ToUpper(Utf8ToWide(S), Out); });
}

std::string moCZLowerCase(const std::string& S) {
    return WithEngineString([&](IBFString* Str, WideString* Out) { return Str->ToLower(Utf8ToWide(S), Out); });
}
