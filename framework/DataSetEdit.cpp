// Dataset framework: TDataSet editing operations and the retry loop through
// the application's error events.
//
// Every operation calls the hooks, event triggers and notifications in a
// fixed order, given in the comment above it.
#include "framework/DataSet.h"

#include <algorithm>

// CheckBrowseMode: CheckActive; deCheckBrowseMode; in dsEdit/dsInsert
// UpdateRecord then Post if Modified, else Cancel; in dsSetKey Post.
void TDataSet::CheckBrowseMode() {
    CheckActive();
    DataEvent(deCheckBrowseMode, 0);
    switch (FState) {
        case dsEdit:
        case dsInsert:
            UpdateRecord();
            if (FModified) Post();
            else Cancel();
            break;
        case dsSetKey:
            Post();
            break;
        default:
            break;
    }
}

// UpdateRecord: "Dataset not in edit or insert mode" outside the edit states;
// otherwise deUpdateRecord.
void TDataSet::UpdateRecord() {
    if (!IsEditMode(FState)) DatabaseError(fw::SNotEditing, this);
    DataEvent(deUpdateRecord, 0);
}

// CheckOperation: repeat { UpdateCursorPos; hook } until the hook returns. A
// database error asks the error event (action daFail by default): daFail
// re-raises, daAbort raises the silent EAbort, daRetry repeats. Other errors
// propagate at once.
void TDataSet::CheckOperation(void (TDataSet::*Operation)(), const TDataSetErrorEvent& ErrorEvent) {
    for (;;) {
        try {
            UpdateCursorPos();
            (this->*Operation)();
            return;
        } catch (EDatabaseError& E) {
            TDataAction Action = daFail;
            if (ErrorEvent) ErrorEvent(this, E, Action);
            if (Action == daFail) throw;
            if (Action == daAbort) Abort();
        }
    }
}

// Edit: nothing in dsEdit/dsInsert; Insert on an empty window; otherwise
// CheckBrowseMode, CheckCanModify, BeforeEdit, CheckOperation(InternalEdit,
// OnEditError), GetCalcFields(active buffer), dsEdit, deRecordChange,
// AfterEdit.
void TDataSet::Edit() {
    if (FState == dsEdit || FState == dsInsert) return;
    if (FRecordCount == 0) {
        Insert();
        return;
    }
    CheckBrowseMode();
    CheckCanModify();
    DoBeforeEdit();
    CheckOperation(&TDataSet::InternalEdit, OnEditError);
    GetCalcFields(ActiveBuffer());
    SetState(dsEdit);
    DataEvent(deRecordChange, 0);
    DoAfterEdit();
}

// BeginInsertAppend: CheckBrowseMode, CheckCanModify, BeforeInsert,
// BeforeScroll.
void TDataSet::BeginInsertAppend() {
    CheckBrowseMode();
    CheckCanModify();
    DoBeforeInsert();
    DoBeforeScroll();
}

// EndInsertAppend: dsInsert; DoOnNewRecord (on failure: UpdateCursorPos,
// FreeFieldBuffers, dsBrowse, Resync, re-raise); Modified false;
// deDataSetChange; AfterInsert; AfterScroll.
void TDataSet::EndInsertAppend() {
    SetState(dsInsert);
    try {
        DoOnNewRecord();
    } catch (...) {
        UpdateCursorPos();
        FreeFieldBuffers();
        SetState(dsBrowse);
        Resync({});
        throw;
    }
    FModified = false;
    DataEvent(deDataSetChange, 0);
    DoAfterInsert();
    DoAfterScroll();
}

// Insert: BeginInsertAppend; the current record's bookmark; the temporary
// buffer moves to the active index; InitRecord on it; bfBOF in an empty
// window, else the bookmark; valid count + 1 unless full; InternalInsert;
// EndInsertAppend.
void TDataSet::Insert() {
    BeginInsertAppend();
    const TBookmark OldCurrent = GetBookmark();
    CheckedTempBuffer();
    MoveBuffer(FRecordCount, FActiveRecord);
    // The buffers from the active index on moved one place towards the end;
    // keep the cursor index on the buffer it stood on (the new buffer stands
    // for the record whose bookmark it carries, so an index equal to the
    // active one stays valid).
    if (FCurrentRecord > FActiveRecord) {
        ++FCurrentRecord;
        if (FCurrentRecord >= std::min(FRecordCount + 1, FBufferCount)) FCurrentRecord = -1;
    }
    TRecordBuffer Buffer = ActiveBuffer();
    InitRecord(Buffer);
    if (FRecordCount == 0) SetBookmarkFlag(Buffer, bfBOF);
    else if (!OldCurrent.empty()) SetBookmarkData(Buffer, OldCurrent.data());
    if (FRecordCount < FBufferCount) ++FRecordCount;
    InternalInsert();
    EndInsertAppend();
}

// Append: BeginInsertAppend; ClearBuffers; InitRecord on buffer 0, flag bfEOF;
// valid count 1; BOF false; GetPriorRecords; InternalInsert;
// EndInsertAppend.
void TDataSet::Append() {
    BeginInsertAppend();
    ClearBuffers();
    TRecordBuffer Buffer = Buffers(0);
    if (Buffer == nullptr) DatabaseError(fw::SDataSetClosed, this);
    InitRecord(Buffer);
    SetBookmarkFlag(Buffer, bfEOF);
    FRecordCount = 1;
    FBOF = false;
    GetPriorRecords();
    InternalInsert();
    EndInsertAppend();
}

// CheckRequiredFields: the first required, writable, null data field gets
// the focus and raises "Field '%s' must have a value".
void TDataSet::CheckRequiredFields() {
    for (TField* Field : FFields->List()) {
        if (Field->Required() && !Field->ReadOnly() && Field->FieldKind() == fkData && Field->IsNull()) {
            Field->FocusControl();
            DatabaseErrorFmt(fw::SFieldRequired, {Field->DisplayName()});
        }
    }
}

// Post: UpdateRecord; in dsEdit/dsInsert: deCheckBrowseMode,
// CheckRequiredFields, BeforePost, CheckOperation(InternalPost, OnPostError),
// FreeFieldBuffers, dsBrowse, Resync, AfterPost. In dsSetKey nothing more
// (the descendant posts the key).
void TDataSet::Post() {
    UpdateRecord();
    if (FState != dsEdit && FState != dsInsert) return;
    DataEvent(deCheckBrowseMode, 0);
    CheckRequiredFields();
    DoBeforePost();
    CheckOperation(&TDataSet::InternalPost, OnPostError);
    FreeFieldBuffers();
    SetState(dsBrowse);
    Resync({});
    DoAfterPost();
}

// Cancel: only in dsEdit/dsInsert: deCheckBrowseMode, BeforeCancel,
// (inserting) BeforeScroll, UpdateCursorPos, InternalCancel,
// FreeFieldBuffers, dsBrowse, Resync, AfterCancel, (inserting) AfterScroll.
void TDataSet::Cancel() {
    if (FState != dsEdit && FState != dsInsert) return;
    DataEvent(deCheckBrowseMode, 0);
    DoBeforeCancel();
    const bool DoScrollEvents = FState == dsInsert;
    if (DoScrollEvents) DoBeforeScroll();
    UpdateCursorPos();
    InternalCancel();
    FreeFieldBuffers();
    SetState(dsBrowse);
    Resync({});
    DoAfterCancel();
    if (DoScrollEvents) DoAfterScroll();
}

// Delete: CheckActive; Cancel in dsInsert/dsSetKey; "Cannot perform this
// operation on an empty dataset" on an empty window; deCheckBrowseMode,
// BeforeDelete, BeforeScroll, CheckOperation(InternalDelete, OnDeleteError),
// FreeFieldBuffers, dsBrowse, Resync, AfterDelete, AfterScroll.
void TDataSet::Delete() {
    CheckActive();
    if (FState == dsInsert || FState == dsSetKey) {
        Cancel();
        return;
    }
    if (FRecordCount == 0) DatabaseError(fw::SDataSetEmpty, this);
    DataEvent(deCheckBrowseMode, 0);
    DoBeforeDelete();
    DoBeforeScroll();
    CheckOperation(&TDataSet::InternalDelete, OnDeleteError);
    FreeFieldBuffers();
    SetState(dsBrowse);
    Resync({});
    DoAfterDelete();
    DoAfterScroll();
}

// Refresh: BeforeRefresh; CheckBrowseMode; UpdateCursorPos; InternalRefresh;
// finally Resync and AfterRefresh.
void TDataSet::Refresh() {
    DoBeforeRefresh();
    CheckBrowseMode();
    UpdateCursorPos();
    try {
        InternalRefresh();
    } catch (...) {
        Resync({});
        DoAfterRefresh();
        throw;
    }
    Resync({});
    DoAfterRefresh();
}

// ClearFields: in an edit state, re-initialises the record being edited.
void TDataSet::ClearFields() {
    if (!IsEditMode(FState)) DatabaseError(fw::SNotEditing, this);
    DataEvent(deCheckBrowseMode, 0);
    FreeFieldBuffers();
    InternalInitRecord(ActiveBuffer());
    if (FState != dsSetKey) GetCalcFields(ActiveBuffer());
    DataEvent(deRecordChange, 0);
}

void TDataSet::SetFields(std::initializer_list<TVarRec> Values) {
    if (!IsEditMode(FState)) DatabaseError(fw::SNotEditing, this);
    int I = 0;
    for (const TVarRec& Value : Values) {
        if (I >= FieldCount()) break;
        Fields(I++)->AssignValue(Value);
    }
}

void TDataSet::InsertRecord(std::initializer_list<TVarRec> Values) {
    Insert();
    SetFields(Values);
    Post();
}

void TDataSet::AppendRecord(std::initializer_list<TVarRec> Values) {
    Append();
    SetFields(Values);
    Post();
}
