// Dataset framework: TDataSet states, record window, navigation,
// resynchronisation, bookmarks, opening and closing, notifications.
//
// Every operation calls the hooks in a fixed order; the comment above each
// operation gives it, and tests hold the implementation to it.
#include "framework/DataSet.h"

#include "framework/DataSource.h"

#include <algorithm>
#include <cstring>

namespace {

// Runs Body; runs Finally afterwards whether or not Body raised (an
// exception from Body is re-raised after Finally).
template <class TBody, class TFinally>
void TryFinally(TBody&& Body, TFinally&& Finally) {
    try {
        Body();
    } catch (...) {
        Finally();
        throw;
    }
    Finally();
}

}  // namespace

TDataSet::TDataSet(TComponent* AOwner)
    : TComponent(AOwner), FFields(std::make_unique<TFields>(this)), FFieldDefs(std::make_unique<TFieldDefs>(this)) {}

TDataSet::~TDataSet() {
    Destroying();
    if (!FDestroyed) {
        // The descendant did not call BeginDestroy: its hooks are gone, so
        // only what needs no hook can be undone here.
        FDestroyed = true;
        FState = dsInactive;
        while (!FDataSources.empty()) RemoveDataSource(FDataSources.back());
    }
    FFields->Clear();
}

void TDataSet::BeginDestroy() {
    if (FDestroyed) return;
    Destroying();
    FDestroyed = true;
    if (Active()) CloseInternal(false);
    while (!FDataSources.empty()) RemoveDataSource(FDataSources.back());
}

void TDataSet::AbstractError() { DatabaseError(fw::SAbstractError); }

// ---------------------------------------------------------------------------
// Hooks without default
// ---------------------------------------------------------------------------

bool TDataSet::IsCursorOpen() { AbstractError(); }
TRecordBuffer TDataSet::AllocRecordBuffer() { AbstractError(); }
void TDataSet::FreeRecordBuffer(TRecordBuffer&) { AbstractError(); }
void TDataSet::GetBookmarkData(TRecordBuffer, void*) { AbstractError(); }
TBookmarkFlag TDataSet::GetBookmarkFlag(TRecordBuffer) { AbstractError(); }
TGetResult TDataSet::GetRecord(TRecordBuffer, TGetMode, bool) { AbstractError(); }
int TDataSet::GetRecordSize() { AbstractError(); }
void TDataSet::InternalAddRecord(TRecordBuffer, bool) { AbstractError(); }
void TDataSet::InternalClose() { AbstractError(); }
void TDataSet::InternalDelete() { AbstractError(); }
void TDataSet::InternalFirst() { AbstractError(); }
void TDataSet::InternalGotoBookmark(const TBookmark&) { AbstractError(); }
void TDataSet::InternalHandleException() { AbstractError(); }
void TDataSet::InternalInitFieldDefs() { AbstractError(); }
void TDataSet::InternalInitRecord(TRecordBuffer) { AbstractError(); }
void TDataSet::InternalLast() { AbstractError(); }
void TDataSet::InternalOpen() { AbstractError(); }
void TDataSet::InternalPost() { AbstractError(); }
void TDataSet::InternalSetToRecord(TRecordBuffer) { AbstractError(); }
void TDataSet::SetBookmarkFlag(TRecordBuffer, TBookmarkFlag) { AbstractError(); }
void TDataSet::SetBookmarkData(TRecordBuffer, const void*) { AbstractError(); }
void TDataSet::SetFieldData(TField*, const void*) { AbstractError(); }

// ---------------------------------------------------------------------------
// Hooks with defaults
// ---------------------------------------------------------------------------

bool TDataSet::GetCanModify() { return true; }
TDataSource* TDataSet::GetDataSource() { return nullptr; }
bool TDataSet::GetIsIndexField(TField*) { return false; }
int TDataSet::GetRecordCount() { return -1; }
int TDataSet::GetRecNo() { return -1; }
void TDataSet::SetRecNo(int) {}
void TDataSet::InternalCancel() {}
void TDataSet::InternalEdit() {}
void TDataSet::InternalInsert() {}
void TDataSet::InternalRefresh() {}
void TDataSet::CloseBlob(TField*) {}
void TDataSet::UpdateIndexDefs() {}
void TDataSet::ClearCalcFields(TRecordBuffer) {}
void TDataSet::RefreshInternalCalcFields(TRecordBuffer) {}
bool TDataSet::GetCurrentRecord(TRecordBuffer) { return false; }
bool TDataSet::BookmarkValid(const TBookmark&) { return false; }
int TDataSet::CompareBookmarks(const TBookmark&, const TBookmark&) { return 0; }
bool TDataSet::GetFieldData(TField*, void*) { return false; }
std::unique_ptr<TStream> TDataSet::CreateBlobStream(TField*, TBlobStreamMode) { return nullptr; }
bool TDataSet::FindRecord(bool, bool) { return false; }
void TDataSet::DefChanged(TObject*) {}

int TDataSet::Translate(const char* Src, char* Dest, bool /*ToOem*/) {
    const std::size_t Len = std::strlen(Src);
    if (Src != Dest) std::memmove(Dest, Src, Len + 1);
    return static_cast<int>(Len);
}

void TDataSet::SetFiltered(bool Value) { FFiltered = Value; }
void TDataSet::SetFilterOptions(TFilterOptions Value) { FFilterOptions = Value; }
void TDataSet::SetFilterText(const std::string& Value) { FFilterText = Value; }
void TDataSet::SetOnFilterRecord(const TFilterRecordEvent& Value) { FOnFilterRecord = Value; }

// ---------------------------------------------------------------------------
// Event triggers
// ---------------------------------------------------------------------------

void TDataSet::DoAfterCancel() { if (AfterCancel) AfterCancel(this); }
void TDataSet::DoAfterClose() { if (AfterClose) AfterClose(this); }
void TDataSet::DoAfterDelete() { if (AfterDelete) AfterDelete(this); }
void TDataSet::DoAfterEdit() { if (AfterEdit) AfterEdit(this); }
void TDataSet::DoAfterInsert() { if (AfterInsert) AfterInsert(this); }
void TDataSet::DoAfterOpen() { if (AfterOpen) AfterOpen(this); }
void TDataSet::DoAfterPost() { if (AfterPost) AfterPost(this); }
void TDataSet::DoAfterRefresh() { if (AfterRefresh) AfterRefresh(this); }
void TDataSet::DoAfterScroll() { if (AfterScroll) AfterScroll(this); }
void TDataSet::DoBeforeCancel() { if (BeforeCancel) BeforeCancel(this); }
void TDataSet::DoBeforeClose() { if (BeforeClose) BeforeClose(this); }
void TDataSet::DoBeforeDelete() { if (BeforeDelete) BeforeDelete(this); }
void TDataSet::DoBeforeEdit() { if (BeforeEdit) BeforeEdit(this); }
void TDataSet::DoBeforeInsert() { if (BeforeInsert) BeforeInsert(this); }
void TDataSet::DoBeforeOpen() { if (BeforeOpen) BeforeOpen(this); }
void TDataSet::DoBeforePost() { if (BeforePost) BeforePost(this); }
void TDataSet::DoBeforeRefresh() { if (BeforeRefresh) BeforeRefresh(this); }
void TDataSet::DoBeforeScroll() { if (BeforeScroll) BeforeScroll(this); }
void TDataSet::DoOnCalcFields() { if (OnCalcFields) OnCalcFields(this); }
void TDataSet::DoOnNewRecord() { if (OnNewRecord) OnNewRecord(this); }

// ---------------------------------------------------------------------------
// Checks and state
// ---------------------------------------------------------------------------

void TDataSet::CheckActive() {
    if (FState == dsInactive) DatabaseError(fw::SDataSetClosed, this);
}

void TDataSet::CheckInactive() {
    if (Active()) DatabaseError(fw::SDataSetOpen, this);
}

void TDataSet::CheckCanModify() {
    if (!GetCanModify()) DatabaseError(fw::SDataSetReadOnly, this);
}

// SetState(s): nothing when s is the state; otherwise set it, clear Modified,
// send deUpdateState.
void TDataSet::SetState(TDataSetState Value) {
    if (FState == Value) return;
    FState = Value;
    FModified = false;
    DataEvent(deUpdateState, 0);
}

// SetTempState: no deUpdateState; Modified cleared; controls suspended (the
// counter of DisableControls, without planning an event) until RestoreState.
TDataSetState TDataSet::SetTempState(TDataSetState Value) {
    const TDataSetState Old = FState;
    FState = Value;
    ++FDisableCount;
    FModified = false;
    return Old;
}

void TDataSet::RestoreState(TDataSetState Value) {
    FState = Value;
    if (FDisableCount > 0) --FDisableCount;
    FModified = false;
}

void TDataSet::SetBlockReadSize(int Value) {
    if (Value > 0) {
        CheckActive();
        SetState(dsBlockRead);
    } else if (FState == dsBlockRead) {
        // The controls heard nothing while reading: show them the window.
        SetState(dsBrowse);
        DataEvent(deDataSetChange, 0);
    }
    FBlockReadSize = Value > 0 ? Value : 0;
}

// ---------------------------------------------------------------------------
// Opening and closing
// ---------------------------------------------------------------------------

void TDataSet::Open() { SetActive(true); }

void TDataSet::Close() { SetActive(false); }

void TDataSet::SetActive(bool Value) {
    if (Value == Active()) return;
    if (Value) {
        // 1. BeforeOpen; 2.-4. OpenCursor (DefaultFields, InternalOpen, window);
        // 5. dsBrowse, AfterOpen.
        DoBeforeOpen();
        try {
            OpenCursor(false);
        } catch (...) {
            if (FInternalOpenComplete) {
                // A failed first fetch: the open counts as complete.
                SetState(dsBrowse);
                DoAfterOpen();
            }
            throw;
        }
        SetState(dsBrowse);
        DoAfterOpen();
    } else {
        CloseInternal(!(ComponentState() & csDestroying));
    }
}

// Closing: BeforeClose; dsInactive; CloseCursor (end block reading, forget the
// complete open, FreeFieldBuffers, ClearBuffers, FreeRecordBuffer for each
// buffer, InternalClose, buffer count 0, DefaultFields false); AfterClose.
void TDataSet::CloseInternal(bool WithEvents) {
    if (WithEvents) DoBeforeClose();
    SetState(dsInactive);
    CloseCursor();
    if (WithEvents) DoAfterClose();
}

void TDataSet::OpenCursor(bool InfoQuery) {
    if (InfoQuery) InternalInitFieldDefs();
    else DoInternalOpen();
}

// DefaultFields := no fields yet; InternalOpen (on failure: dsInactive and the
// closing steps, which call InternalClose, then the error); the open is
// complete; UpdateBufferCount fetches the first window; BOF.
void TDataSet::DoInternalOpen() {
    FDefaultFields = FieldCount() == 0;
    try {
        InternalOpen();
    } catch (...) {
        FState = dsInactive;
        try {
            CloseCursor();
        } catch (...) {
            // The error of the open is the one to report.
        }
        throw;
    }
    FInternalOpenComplete = true;
    TryFinally([&] { UpdateBufferCount(); }, [&] { FBOF = true; });
}

void TDataSet::CloseCursor() {
    FBlockReadSize = 0;
    FInternalOpenComplete = false;
    FreeFieldBuffers();
    ClearBuffers();
    SetBufListSize(0);
    InternalClose();
    FBufferCount = 0;
    FDefaultFields = false;
}

void TDataSet::InitFieldDefs() {
    if (IsCursorOpen()) {
        InternalInitFieldDefs();
    } else {
        TryFinally([&] { OpenCursor(true); }, [&] { CloseCursor(); });
    }
    FFieldDefs->SetUpdated(true);
}

// ---------------------------------------------------------------------------
// Record window
// ---------------------------------------------------------------------------

TRecordBuffer TDataSet::ActiveBuffer() const noexcept { return Buffers(FActiveRecord); }

TRecordBuffer TDataSet::Buffers(int Index) const noexcept {
    if (Index < 0 || static_cast<std::size_t>(Index) >= FBuffers.size()) return nullptr;
    return FBuffers[static_cast<std::size_t>(Index)];
}

void TDataSet::ClearBuffers() {
    FRecordCount = 0;
    FActiveRecord = 0;
    FCurrentRecord = -1;
    FBOF = true;
    FEOF = true;
}

void TDataSet::ActivateBuffers() {
    FRecordCount = 1;
    FActiveRecord = 0;
    FCurrentRecord = 0;
    FBOF = false;
    FEOF = false;
}

void TDataSet::MoveBuffer(int CurIndex, int NewIndex) {
    if (CurIndex == NewIndex) return;
    auto First = FBuffers.begin();
    if (CurIndex < NewIndex) std::rotate(First + CurIndex, First + CurIndex + 1, First + NewIndex + 1);
    else std::rotate(First + NewIndex, First + CurIndex, First + CurIndex + 1);
}

// Grows or shrinks the list of allocated buffers to Value; never touches the
// buffers that stay.
void TDataSet::SetBufListSize(int Value) {
    const auto Size = static_cast<std::size_t>(std::max(Value, 0));
    while (FBuffers.size() > Size) {
        TRecordBuffer Buffer = FBuffers.back();
        FBuffers.pop_back();
        FreeRecordBuffer(Buffer);
    }
    if (FBuffers.size() < Size) FBuffers.reserve(Size);
    while (FBuffers.size() < Size) FBuffers.push_back(AllocRecordBuffer());
}

void TDataSet::AdjustFirstRecord(int Delta) {
    if (Delta == 0) return;
    for (TDataSource* Source : FDataSources)
        for (TDataLink* Link : Source->FDataLinks)
            if (Link->FActive) Link->FFirstRecord += Delta;
}

// Window size: shrinking with records first moves the window to start at the
// smallest of the active index and the first rows of the active links, then
// frees the surplus buffers; growing allocates more. Then GetNextRecords and
// GetPriorRecords refill it, shifting the links by the records gained in front.
void TDataSet::SetBufferCount(int Value) {
    if (FBufferCount == Value) return;
    if (FBufferCount > Value && FRecordCount > 0) {
        int FirstRecord = FActiveRecord;
        for (TDataSource* Source : FDataSources)
            for (TDataLink* Link : Source->FDataLinks)
                if (Link->FActive && Link->FFirstRecord < FirstRecord) FirstRecord = Link->FFirstRecord;
        if (FirstRecord > 0) {
            const int Last = static_cast<int>(FBuffers.size()) - 1;
            for (int I = 0; I < FirstRecord; ++I) MoveBuffer(0, Last);
            FActiveRecord -= FirstRecord;
            FRecordCount -= FirstRecord;
            FCurrentRecord = FCurrentRecord >= FirstRecord ? FCurrentRecord - FirstRecord : -1;
            AdjustFirstRecord(-FirstRecord);
        }
        if (FRecordCount > Value) {
            FRecordCount = Value;
            if (FCurrentRecord >= FRecordCount) FCurrentRecord = -1;
            if (FActiveRecord >= FRecordCount) FActiveRecord = FRecordCount - 1;
        }
    }
    SetBufListSize(Value + 1);
    FBufferCount = Value;
    GetNextRecords();
    AdjustFirstRecord(GetPriorRecords());
}

void TDataSet::UpdateBufferCount() {
    if (!IsCursorOpen()) return;
    int MaxBufferCount = 1;
    for (TDataSource* Source : FDataSources)
        for (TDataLink* Link : Source->FDataLinks) MaxBufferCount = std::max(MaxBufferCount, Link->BufferCount());
    SetBufferCount(MaxBufferCount);
}

// SetCurrentRecord(i): nothing when the cursor index is i; otherwise by the
// flag of buffer i: bfBOF InternalFirst, bfEOF InternalLast, bfCurrent and
// bfInserted InternalSetToRecord; the cursor index becomes i.
void TDataSet::SetCurrentRecord(int Index) {
    if (FCurrentRecord == Index) return;
    TRecordBuffer Buffer = FBuffers[static_cast<std::size_t>(Index)];
    switch (GetBookmarkFlag(Buffer)) {
        case bfCurrent:
        case bfInserted:
            InternalSetToRecord(Buffer);
            break;
        case bfBOF:
            InternalFirst();
            break;
        case bfEOF:
            InternalLast();
            break;
    }
    FCurrentRecord = Index;
}

TRecordBuffer TDataSet::CheckedTempBuffer() {
    if (FRecordCount < 0 || static_cast<std::size_t>(FRecordCount) >= FBuffers.size())
        DatabaseError(fw::SDataSetClosed, this);
    return FBuffers[static_cast<std::size_t>(FRecordCount)];
}

void TDataSet::UpdateCursorPos() {
    if (FRecordCount > 0) SetCurrentRecord(FActiveRecord);
}

// GetNextRecord: SetCurrentRecord(valid-1) when the window holds records;
// GetRecord(temp, gmNext, or gmCurrent in dsInsert when the cursor is on the
// active buffer and it is bfCurrent, check); grOK grows or slides the window.
bool TDataSet::GetNextRecord() {
    if (FRecordCount > 0) SetCurrentRecord(FRecordCount - 1);
    TGetMode GetMode = gmNext;
    if (FState == dsInsert && FCurrentRecord == FActiveRecord && GetBookmarkFlag(ActiveBuffer()) == bfCurrent)
        GetMode = gmCurrent;
    const bool Result = GetRecord(CheckedTempBuffer(), GetMode, true) == grOK;
    if (Result) {
        if (FRecordCount == 0) {
            ActivateBuffers();
        } else {
            if (FRecordCount < FBufferCount) ++FRecordCount;
            else MoveBuffer(0, FRecordCount);
        }
        FCurrentRecord = FRecordCount - 1;
    } else {
        CursorPosChanged();
    }
    return Result;
}

// GetPriorRecord: SetCurrentRecord(0) when the window holds records;
// GetRecord(temp, gmPrior, check); grOK puts the record in front (the last
// one drops out of a full window, the active index then stays).
bool TDataSet::GetPriorRecord() {
    if (FRecordCount > 0) SetCurrentRecord(0);
    const bool Result = GetRecord(CheckedTempBuffer(), gmPrior, true) == grOK;
    if (Result) {
        if (FRecordCount == 0) {
            ActivateBuffers();
        } else {
            MoveBuffer(FRecordCount, 0);
            if (FRecordCount < FBufferCount) {
                ++FRecordCount;
                ++FActiveRecord;
            }
        }
        FCurrentRecord = 0;
    } else {
        CursorPosChanged();
    }
    return Result;
}

int TDataSet::GetNextRecords() {
    int Result = 0;
    while (FRecordCount < FBufferCount && GetNextRecord()) ++Result;
    return Result;
}

int TDataSet::GetPriorRecords() {
    int Result = 0;
    while (FRecordCount < FBufferCount && GetPriorRecord()) ++Result;
    return Result;
}

// ---------------------------------------------------------------------------
// Navigation
// ---------------------------------------------------------------------------

// First: CheckBrowseMode; BeforeScroll; ClearBuffers; InternalFirst,
// GetNextRecord, GetNextRecords; finally BOF, deDataSetChange, AfterScroll.
void TDataSet::First() {
    CheckBrowseMode();
    DoBeforeScroll();
    ClearBuffers();
    TryFinally(
        [&] {
            InternalFirst();
            GetNextRecord();
            GetNextRecords();
        },
        [&] {
            FBOF = true;
            DataEvent(deDataSetChange, 0);
            DoAfterScroll();
        });
}

// Last: the mirror image of First.
void TDataSet::Last() {
    CheckBrowseMode();
    DoBeforeScroll();
    ClearBuffers();
    TryFinally(
        [&] {
            InternalLast();
            GetPriorRecord();
            GetPriorRecords();
        },
        [&] {
            FEOF = true;
            DataEvent(deDataSetChange, 0);
            DoAfterScroll();
        });
}

// MoveBy: CheckBrowseMode; BeforeScroll; nothing more at an end or for 0;
// steps inside the window move the active index, steps past its edge fetch
// one record (a full window slides: shift); finally deDataSetChange when the
// valid count changed, else deDataSetScroll with the shift; AfterScroll.
int TDataSet::MoveBy(int Distance) {
    CheckBrowseMode();
    DoBeforeScroll();
    if ((Distance > 0 && FEOF) || (Distance < 0 && FBOF) || Distance == 0) return 0;
    FBOF = false;
    FEOF = false;
    const int OldRecordCount = FRecordCount;
    int Shift = 0;
    int Result = 0;
    TryFinally(
        [&] {
            while (Distance > 0) {
                if (FActiveRecord < FRecordCount - 1) {
                    ++FActiveRecord;
                } else {
                    const bool Full = FRecordCount == FBufferCount;
                    if (!GetNextRecord()) {
                        FEOF = true;
                        break;
                    }
                    if (Full) --Shift;
                    if (FActiveRecord < FRecordCount - 1) ++FActiveRecord;
                }
                --Distance;
                ++Result;
            }
            while (Distance < 0) {
                if (FActiveRecord > 0) {
                    --FActiveRecord;
                } else {
                    const bool Full = FRecordCount == FBufferCount;
                    if (!GetPriorRecord()) {
                        FBOF = true;
                        break;
                    }
                    if (Full) ++Shift;
                    if (FActiveRecord > 0) --FActiveRecord;
                }
                ++Distance;
                --Result;
            }
        },
        [&] {
            if (FRecordCount != OldRecordCount) DataEvent(deDataSetChange, 0);
            else DataEvent(deDataSetScroll, Shift);
            DoAfterScroll();
        });
    return Result;
}

// Resync: rmExact: CursorPosChanged and GetRecord(gmCurrent, check) or
// "Record not found"; otherwise gmCurrent, gmNext, gmPrior without check, and
// an empty window when none succeeds. Then the record goes to position 0, the
// window is activated, GetPriorRecord up to (rmCenter: (BufferCount-1) div 2,
// else the old active index) times, GetNextRecords, GetPriorRecords; finally
// deDataSetChange.
void TDataSet::Resync(TResyncMode Mode) {
    TRecordBuffer Temp = CheckedTempBuffer();
    if (Mode.Contains(rmExact)) {
        CursorPosChanged();
        if (GetRecord(Temp, gmCurrent, true) != grOK) DatabaseError(fw::SRecordNotFound, this);
    } else if (GetRecord(Temp, gmCurrent, false) != grOK && GetRecord(Temp, gmNext, false) != grOK &&
               GetRecord(Temp, gmPrior, false) != grOK) {
        ClearBuffers();
        DataEvent(deDataSetChange, 0);
        return;
    }
    int Count = Mode.Contains(rmCenter) ? (FBufferCount - 1) / 2 : FActiveRecord;
    MoveBuffer(FRecordCount, 0);
    ActivateBuffers();
    TryFinally(
        [&] {
            while (Count > 0 && GetPriorRecord()) --Count;
            GetNextRecords();
            GetPriorRecords();
        },
        [&] { DataEvent(deDataSetChange, 0); });
}

// ---------------------------------------------------------------------------
// Bookmarks
// ---------------------------------------------------------------------------

bool TDataSet::BookmarkAvailable() {
    return (FState == dsBrowse || FState == dsEdit || FState == dsInsert) && !IsEmpty() &&
           GetBookmarkFlag(ActiveBuffer()) == bfCurrent;
}

TBookmark TDataSet::GetBookmark() {
    if (!BookmarkAvailable() || FBookmarkSize <= 0) return {};
    TBookmark Result(static_cast<std::size_t>(FBookmarkSize));
    GetBookmarkData(ActiveBuffer(), Result.data());
    return Result;
}

TBookmarkStr TDataSet::GetBookmarkStr() {
    const TBookmark B = GetBookmark();
    return TBookmarkStr(B.begin(), B.end());
}

void TDataSet::SetBookmarkStr(const TBookmarkStr& Value) { GotoBookmark(TBookmark(Value.begin(), Value.end())); }

// GotoBookmark: nothing for none; CheckBrowseMode, BeforeScroll,
// InternalGotoBookmark, Resync(rmExact, rmCenter), AfterScroll.
void TDataSet::GotoBookmark(const TBookmark& Bookmark) {
    if (Bookmark.empty()) return;
    CheckBrowseMode();
    DoBeforeScroll();
    InternalGotoBookmark(Bookmark);
    Resync({rmExact, rmCenter});
    DoAfterScroll();
}

// ---------------------------------------------------------------------------
// Fields
// ---------------------------------------------------------------------------

fw::TFieldClass TDataSet::GetFieldClass(TFieldType FieldType) { return fw::DefaultFieldClass(FieldType); }

std::string TDataSet::GetFieldFullName(TField* Field) { return Field->FieldName(); }

void TDataSet::CreateFields() {
    for (int I = 0; I < FFieldDefs->Count(); ++I) {
        TFieldDef* Def = FFieldDefs->Items(I);
        const TFieldType Type = Def->DataType();
        if (Type == ftUnknown || Type == ftADT || Type == ftArray || Type == ftReference || Type == ftDataSet)
            continue;
        if (Def->Attributes().Contains(faHiddenCol)) continue;
        Def->CreateField(this);
    }
}

void TDataSet::DestroyFields() { FFields->Clear(); }

void TDataSet::FreeFieldBuffers() {
    for (TField* Field : FFields->List()) Field->FreeBuffers();
}

void TDataSet::CheckFieldCompatibility(TField* Field, TFieldDef* FieldDef) {
    if (Field->DataType() != FieldDef->DataType())
        DatabaseErrorFmt(fw::SFieldTypeMismatch, {Field->DisplayName(), fw::FieldTypeName(Field->DataType()),
                                                  fw::FieldTypeName(FieldDef->DataType())});
}

namespace {
bool CalcTypeAllowed(TFieldType Type) {
    return (Type >= ftString && Type <= ftDateTime) || Type == ftLargeint || Type == ftVariant;
}
}  // namespace

// BindFields(true): calculated area size and blob count from 0; calculated and
// lookup fields get FieldNo -1 and the next calculated offset (DataSize + 1
// flag byte each); aggregates FieldNo -1; every other field its definition's
// position + 1 ("Field '%s' not found" without one), a compatible type, and
// blob fields the definition's size and the next blob number.
// BindFields(false): every FieldNo 0.
void TDataSet::BindFields(bool Binding) {
    FCalcFieldsSize = 0;
    FBlobFieldCount = 0;
    FInternalCalcFields = false;
    for (TField* Field : FFields->List()) {
        if (!Binding) {
            Field->FFieldNo = 0;
            Field->FOffset = 0;
            continue;
        }
        const TFieldKind Kind = Field->FieldKind();
        if (Kind == fkCalculated || Kind == fkLookup) {
            if (!CalcTypeAllowed(Field->DataType())) DatabaseErrorFmt(fw::SInvalidCalcType, {Field->DisplayName()});
            Field->FFieldNo = -1;
            Field->FOffset = FCalcFieldsSize;
            FCalcFieldsSize += Field->DataSize() + 1;
        } else if (Kind == fkAggregate) {
            Field->FFieldNo = -1;
        } else {
            const int Index = FFieldDefs->IndexOf(GetFieldFullName(Field));
            if (Index < 0) DatabaseErrorFmt(fw::SFieldNotFound, {Field->DisplayName()});
            TFieldDef* Def = FFieldDefs->Items(Index);
            if (Kind == fkInternalCalc) FInternalCalcFields = true;
            CheckFieldCompatibility(Field, Def);
            Field->FFieldNo = Index + 1;
            if (Field->IsBlob()) {
                Field->FSize = Def->Size();
                Field->FOffset = FBlobFieldCount++;
            }
        }
    }
}

void TDataSet::GetFieldList(std::vector<TField*>& List, std::string_view FieldNames) const {
    std::size_t Pos = 0;
    while (Pos <= FieldNames.size()) {
        const std::size_t End = std::min(FieldNames.find(';', Pos), FieldNames.size());
        const std::string Name = Trim(FieldNames.substr(Pos, End - Pos));
        if (!Name.empty()) List.push_back(FieldByName(Name));
        Pos = End + 1;
    }
}

void TDataSet::GetFieldNames(TStrings* List) const {
    for (TField* Field : FFields->List()) List->Add(Field->FieldName());
}

bool TDataSet::GetFieldData(int FieldNo, void* Buffer) {
    TField* Field = FieldByNumber(FieldNo);
    return Field != nullptr && GetFieldData(Field, Buffer);
}

// GetFieldData with NativeFormat false: the hook fills a scratch buffer in the
// native form, which DataConvert turns into the field's framework form.
bool TDataSet::GetFieldData(TField* Field, void* Buffer, bool NativeFormat) {
    const TFieldType Type = Field->DataType();
    if (NativeFormat || Buffer == nullptr || (Type != ftDate && Type != ftTime && Type != ftDateTime))
        return GetFieldData(Field, Buffer);
    alignas(8) std::uint8_t Scratch[8] = {};
    const bool Result = GetFieldData(Field, Scratch);
    if (Result) DataConvert(Field, Scratch, Buffer, false);
    return Result;
}

void TDataSet::SetFieldData(TField* Field, const void* Buffer, bool NativeFormat) {
    const TFieldType Type = Field->DataType();
    if (NativeFormat || Buffer == nullptr || (Type != ftDate && Type != ftTime && Type != ftDateTime)) {
        SetFieldData(Field, Buffer);
        return;
    }
    alignas(8) std::uint8_t Scratch[8] = {};
    DataConvert(Field, Buffer, Scratch, true);
    SetFieldData(Field, Scratch);
}

// DataConvert: native day numbers, milliseconds and millisecond counts to and
// from TDateTime. Other types are copied as they are.
void TDataSet::DataConvert(TField* Field, const void* Source, void* Dest, bool ToNative) {
    switch (Field->DataType()) {
        case ftDate:
        case ftTime:
        case ftDateTime: {
            if (ToNative) {
                TDateTime Value;
                std::memcpy(&Value, Source, sizeof Value);
                if (Field->DataType() == ftDateTime) {
                    const double MSecs = fw::DateTimeToNativeDateTime(Value);
                    std::memcpy(Dest, &MSecs, sizeof MSecs);
                } else {
                    const std::int32_t N = Field->DataType() == ftDate ? fw::DateTimeToNativeDate(Value)
                                                                       : fw::DateTimeToNativeTime(Value);
                    std::memcpy(Dest, &N, sizeof N);
                }
            } else {
                TDateTime Value;
                if (Field->DataType() == ftDateTime) {
                    double MSecs;
                    std::memcpy(&MSecs, Source, sizeof MSecs);
                    Value = fw::NativeDateTimeToDateTime(MSecs);
                } else {
                    std::int32_t N;
                    std::memcpy(&N, Source, sizeof N);
                    Value = Field->DataType() == ftDate ? fw::NativeDateToDateTime(N) : fw::NativeTimeToDateTime(N);
                }
                std::memcpy(Dest, &Value, sizeof Value);
            }
            break;
        }
        default:
            if (Source != Dest) std::memmove(Dest, Source, static_cast<std::size_t>(Field->DataSize()));
            break;
    }
}

// ---------------------------------------------------------------------------
// Calculated fields
// ---------------------------------------------------------------------------

// GetCalcFields: only with a calculated area or internal calculated fields:
// dsCalcFields set directly, CalculateFields, the state restored also on
// failure.
void TDataSet::GetCalcFields(TRecordBuffer Buffer) {
    if (FCalcFieldsSize == 0 && !FInternalCalcFields) return;
    const TDataSetState SaveState = FState;
    FState = dsCalcFields;
    TryFinally([&] { CalculateFields(Buffer); }, [&] { FState = SaveState; });
}

// CalculateFields: the buffer becomes CalcBuffer; the calculated area is
// cleared (not in dsInternalCalc); OnCalcFields.
void TDataSet::CalculateFields(TRecordBuffer Buffer) {
    FCalcBuffer = Buffer;
    if (FState != dsInternalCalc) ClearCalcFields(FCalcBuffer);
    DoOnCalcFields();
}

void TDataSet::InitRecord(TRecordBuffer Buffer) {
    InternalInitRecord(Buffer);
    ClearCalcFields(Buffer);
    SetBookmarkFlag(Buffer, bfInserted);
}

// ---------------------------------------------------------------------------
// Notifications
// ---------------------------------------------------------------------------

// DataEvent: the dataset's own reactions, then the data sources unless
// controls are disabled or the state is dsBlockRead (a layout change, or the
// change to dsInactive, is then remembered for EnableControls).
void TDataSet::DataEvent(TDataEvent Event, std::intptr_t Info) {
    switch (Event) {
        case deFieldChange: {
            TField* Field = fw::InfoToField(Info);
            if (Field == nullptr) break;
            if (Field->FieldKind() == fkData || Field->FieldKind() == fkInternalCalc) FModified = true;
            if (FState != dsSetKey) {
                if (Field->FieldKind() == fkData) {
                    if (FInternalCalcFields) RefreshInternalCalcFields(ActiveBuffer());
                    else if (FCalcFieldsSize != 0 && FAutoCalcFields) CalculateFields(ActiveBuffer());
                }
                Field->Change();
            }
            break;
        }
        case dePropertyChange:
            FFieldDefs->SetUpdated(false);
            break;
        default:
            break;
    }
    if (ControlsDisabled() || FState == dsBlockRead) {
        if (Event == deLayoutChange || (Event == deUpdateState && FState == dsInactive)) FEnableEvent = deLayoutChange;
        return;
    }
    const std::vector<TDataSource*> Sources = FDataSources;  // a handler may detach one
    for (TDataSource* Source : Sources)
        if (std::find(FDataSources.begin(), FDataSources.end(), Source) != FDataSources.end())
            Source->DataEvent(Event, Info);
}

void TDataSet::DisableControls() {
    if (FDisableCount == 0) {
        FDisableState = FState;
        FEnableEvent = deDataSetChange;
    }
    ++FDisableCount;
}

void TDataSet::EnableControls() {
    if (FDisableCount == 0) return;
    if (--FDisableCount == 0) {
        if (FDisableState != FState) DataEvent(deUpdateState, 0);
        if (FDisableState != dsInactive && FState != dsInactive) DataEvent(FEnableEvent, 0);
    }
}

void TDataSet::AddDataSource(TDataSource* DataSource) {
    FDataSources.push_back(DataSource);
    DataSource->FDataSet = this;
    UpdateBufferCount();
    DataSource->UpdateState();
}

void TDataSet::RemoveDataSource(TDataSource* DataSource) {
    DataSource->FDataSet = nullptr;
    FDataSources.erase(std::remove(FDataSources.begin(), FDataSources.end(), DataSource), FDataSources.end());
    DataSource->UpdateState();
    if (!FDestroyed) UpdateBufferCount();
}

bool TDataSet::IsLinkedTo(TDataSource* ADataSource) {
    int Guard = 0;
    while (ADataSource != nullptr && Guard++ < 10000) {
        TDataSet* DataSet = ADataSource->DataSet();
        if (DataSet == nullptr) break;
        if (DataSet == this) return true;
        ADataSource = DataSet->GetDataSource();
    }
    return false;
}
