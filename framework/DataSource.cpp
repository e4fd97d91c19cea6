// Dataset framework: data sources and data links.
#include "framework/DataSource.h"

#include <algorithm>

// ---------------------------------------------------------------------------
// TDataSource
// ---------------------------------------------------------------------------

TDataSource::TDataSource(TComponent* AOwner) : TComponent(AOwner) {}

TDataSource::~TDataSource() {
    Destroying();
    while (!FDataLinks.empty()) RemoveDataLink(FDataLinks.back());
    if (FDataSet != nullptr) FDataSet->RemoveDataSource(this);
}

void TDataSource::SetDataSet(TDataSet* ADataSet) {
    if (ADataSet == FDataSet) return;
    if (IsLinkedTo(ADataSet)) DatabaseError(fw::SCircularDataLink, this);
    if (FDataSet != nullptr) FDataSet->RemoveDataSource(this);
    if (ADataSet != nullptr) ADataSet->AddDataSource(this);
}

void TDataSource::SetEnabled(bool Value) {
    if (Value == FEnabled) return;
    FEnabled = Value;
    UpdateState();
}

void TDataSource::Edit() {
    if (FAutoEdit && FState == dsBrowse && FDataSet != nullptr) FDataSet->Edit();
}

bool TDataSource::IsLinkedTo(TDataSet* ADataSet) {
    int Guard = 0;
    while (ADataSet != nullptr && Guard++ < 10000) {
        TDataSource* Source = ADataSet->GetDataSource();
        if (Source == nullptr) break;
        if (Source == this) return true;
        ADataSet = Source->DataSet();
    }
    return false;
}

void TDataSource::AddDataLink(TDataLink* DataLink) {
    FDataLinks.push_back(DataLink);
    DataLink->FDataSource = this;
    if (FDataSet != nullptr) FDataSet->UpdateBufferCount();
    DataLink->UpdateState();
}

void TDataSource::RemoveDataLink(TDataLink* DataLink) {
    DataLink->FDataSource = nullptr;
    FDataLinks.erase(std::remove(FDataLinks.begin(), FDataLinks.end(), DataLink), FDataLinks.end());
    DataLink->UpdateState();
    if (FDataSet != nullptr && !(FDataSet->ComponentState() & csDestroying)) FDataSet->UpdateBufferCount();
}

void TDataSource::NotifyDataLinks(TDataEvent Event, std::intptr_t Info) {
    const std::vector<TDataLink*> Links = FDataLinks;  // a link may detach itself
    for (TDataLink* Link : Links)
        if (std::find(FDataLinks.begin(), FDataLinks.end(), Link) != FDataLinks.end()) Link->DataEvent(Event, Info);
}

// deUpdateState becomes the source's own state change; every other event,
// only while active, goes to the links, then to OnDataChange (deFieldChange
// with the field; deRecordChange, deDataSetChange, deDataSetScroll and
// deLayoutChange without) or OnUpdateData (deUpdateRecord).
void TDataSource::DataEvent(TDataEvent Event, std::intptr_t Info) {
    if (Event == deUpdateState) {
        UpdateState();
        return;
    }
    if (FState == dsInactive) return;
    NotifyDataLinks(Event, Info);
    switch (Event) {
        case deFieldChange:
            if (OnDataChange) OnDataChange(this, fw::InfoToField(Info));
            break;
        case deRecordChange:
        case deDataSetChange:
        case deDataSetScroll:
        case deLayoutChange:
            if (OnDataChange) OnDataChange(this, nullptr);
            break;
        case deUpdateRecord:
            if (OnUpdateData) OnUpdateData(this);
            break;
        default:
            break;
    }
}

void TDataSource::UpdateState() {
    SetState(FEnabled && FDataSet != nullptr ? FDataSet->State() : dsInactive);
}

void TDataSource::SetState(TDataSetState Value) {
    if (Value == FState) return;
    FState = Value;
    NotifyDataLinks(deUpdateState, 0);
    if (OnStateChange && !(ComponentState() & csDestroying)) OnStateChange(this);
}

// ---------------------------------------------------------------------------
// TDataLink
// ---------------------------------------------------------------------------

TDataLink::TDataLink() = default;

TDataLink::~TDataLink() {
    if (FDataSource != nullptr) FDataSource->RemoveDataLink(this);
}

void TDataLink::SetDataSource(TDataSource* ADataSource) {
    if (ADataSource == FDataSource) return;
    if (FDataSourceFixed) DatabaseError(fw::SDataSourceChange);
    if (FDataSource != nullptr) FDataSource->RemoveDataLink(this);
    if (ADataSource != nullptr) ADataSource->AddDataLink(this);
}

TDataSet* TDataLink::DataSet() const noexcept { return FDataSource != nullptr ? FDataSource->DataSet() : nullptr; }

void TDataLink::SetReadOnly(bool Value) {
    if (Value == FReadOnly) return;
    FReadOnly = Value;
    UpdateState();
}

int TDataLink::GetActiveRecord() const {
    if (FDataSource == nullptr || FDataSource->State() == dsSetKey || DataSet() == nullptr) return 0;
    return DataSet()->ActiveRecord() - FFirstRecord;
}

void TDataLink::SetActiveRecordImpl(int Value) {
    if (FDataSource == nullptr || FDataSource->State() == dsSetKey || DataSet() == nullptr) return;
    DataSet()->SetActiveRecord(Value + FFirstRecord);
}

int TDataLink::RecordCount() const {
    if (FDataSource == nullptr || DataSet() == nullptr) return 0;
    if (FDataSource->State() == dsSetKey) return 1;
    return std::min(DataSet()->ValidCount(), BufferCount());
}

void TDataLink::SetBufferCountImpl(int Value) {
    if (Value < 1) Value = 1;
    if (Value == FBufferCount) return;
    FBufferCount = Value;
    TDataSet* DS = DataSet();
    if (DS == nullptr) return;
    if (FActive) UpdateRange();
    DS->UpdateBufferCount();
    if (FActive) UpdateRange();
}

// Keeps the link's rows inside the window and the active record inside the
// rows.
void TDataLink::UpdateRange() {
    TDataSet* DS = DataSet();
    if (DS == nullptr) return;
    const int Active = DS->ActiveRecord();
    int Min = Active - FBufferCount + 1;
    if (Min < 0) Min = 0;
    int Max = DS->BufferCount() - FBufferCount;
    if (Max < 0) Max = 0;
    if (Max > Active) Max = Active;
    if (FFirstRecord < Min) FFirstRecord = Min;
    if (FFirstRecord > Max) FFirstRecord = Max;
}

bool TDataLink::Edit() {
    if (!FReadOnly && FDataSource != nullptr) FDataSource->Edit();
    return FEditing;
}

void TDataLink::UpdateRecord() {
    FUpdating = true;
    try {
        UpdateData();
    } catch (...) {
        FUpdating = false;
        throw;
    }
    FUpdating = false;
}

void TDataLink::UpdateState() {
    const TDataSetState State = FDataSource != nullptr ? FDataSource->State() : dsInactive;
    SetActive(State != dsInactive);
    SetEditing(IsEditMode(State) && !FReadOnly);
}

void TDataLink::SetActive(bool Value) {
    if (Value == FActive) return;
    FActive = Value;
    if (Value) UpdateRange();
    else FFirstRecord = 0;
    ActiveChanged();
}

void TDataLink::SetEditing(bool Value) {
    if (Value == FEditing) return;
    FEditing = Value;
    EditingChanged();
}

void TDataLink::DataSetChanged() { RecordChanged(nullptr); }

void TDataLink::DataSetScrolled(int /*Distance*/) { DataSetChanged(); }

void TDataLink::LayoutChanged() { DataSetChanged(); }

// deDataSetChange, deDataSetScroll, deLayoutChange: FirstRecord + the event's
// shift, then moved just enough to keep the active record in the rows (not in
// dsSetKey); the control is told how many rows it moved.
void TDataLink::DataEvent(TDataEvent Event, std::intptr_t Info) {
    if (Event == deUpdateState) {
        UpdateState();
        return;
    }
    if (!FActive) return;
    switch (Event) {
        case deFieldChange:
        case deRecordChange:
            if (!FUpdating) RecordChanged(fw::InfoToField(Info));
            break;
        case deDataSetChange:
        case deDataSetScroll:
        case deLayoutChange: {
            int Count = 0;
            if (FDataSource->State() != dsSetKey && DataSet() != nullptr) {
                const int Active = DataSet()->ActiveRecord();
                const int First = FFirstRecord + static_cast<int>(Info);
                const int Last = First + FBufferCount - 1;
                if (Active > Last) Count = Active - Last;
                else if (Active < First) Count = Active - First;
                FFirstRecord = First + Count;
            }
            if (Event == deDataSetChange) DataSetChanged();
            else if (Event == deDataSetScroll) DataSetScrolled(Count);
            else LayoutChanged();
            break;
        }
        case deUpdateRecord:
            UpdateRecord();
            break;
        case deCheckBrowseMode:
            CheckBrowseMode();
            break;
        case deFocusControl:
            FocusControl(fw::InfoToFieldRef(Info));
            break;
        default:
            break;
    }
}
