// Dataset framework: data sources and data links.
//
// A TDataSource connects one dataset to any number of data links
// (TDataLink); a data-aware control owns a data link and learns through it
// about every change of the dataset. The dataset sends its notifications
// (TDataSet::DataEvent) to its data sources in attachment order; a data
// source turns deUpdateState into its own state change (links become active
// or inactive, OnStateChange) and passes every other event, only while it is
// active, to its links in attachment order and then to OnDataChange /
// OnUpdateData.
//
// A data link sees the dataset's record window through BufferCount() (how
// many rows its control shows) and FirstRecord() (the window position of its
// first row); its rows are FirstRecord() .. FirstRecord()+BufferCount()-1 and
// ActiveRecord() is the current record's row. Changing BufferCount resizes
// the dataset's window (largest BufferCount of all links).
//
// Link states:
//   state      entered when                                   effect
//   inactive   no data source, source disabled or dataset     FirstRecord 0; no events
//              closed (source state dsInactive)               but deUpdateState
//   active     source state leaves dsInactive                 FirstRecord kept within
//                                                             the window; events arrive
//   editing    active and source state dsEdit, dsInsert or    EditingChanged
//              dsSetKey
// Every change of Active calls ActiveChanged, of Editing EditingChanged.
//
// Ownership: a data source does not own its dataset or its links; a link
// does not own its data source. Destroying any of them detaches it from the
// others (a destroyed data source leaves its links without a source).
//
// Threads: the dataset's thread only; notifications are synchronous.
#pragma once

#include "framework/DataSet.h"

#include <functional>
#include <vector>

using TDataChangeEvent = std::function<void(TObject* Sender, TField* Field)>;

class TDataSource : public TComponent {
public:
    explicit TDataSource(TComponent* AOwner);
    ~TDataSource() override;

    TDataSet* DataSet() const noexcept { return FDataSet; }
    // Attaches to ADataSet (nullptr detaches). Raises "Circular datalinks are
    // not allowed" when ADataSet is linked back to this source.
    void SetDataSet(TDataSet* ADataSet);
    bool Enabled() const noexcept { return FEnabled; }
    void SetEnabled(bool Value);
    bool AutoEdit() const noexcept { return FAutoEdit; }
    void SetAutoEdit(bool Value) noexcept { FAutoEdit = Value; }
    // The dataset's state as last passed on (dsInactive when disabled or
    // without a dataset).
    TDataSetState State() const noexcept { return FState; }
    // With AutoEdit in dsBrowse: the dataset's Edit.
    void Edit();
    // True when following this source's dataset's master sources leads back
    // to this source.
    bool IsLinkedTo(TDataSet* ADataSet);
    int DataLinkCount() const noexcept { return static_cast<int>(FDataLinks.size()); }
    TDataLink* DataLinks(int Index) const { return FDataLinks.at(static_cast<std::size_t>(Index)); }

    TNotifyEvent OnStateChange;
    TDataChangeEvent OnDataChange;
    TNotifyEvent OnUpdateData;

protected:
    // Receives the dataset's notifications.
    virtual void DataEvent(TDataEvent Event, std::intptr_t Info);

private:
    friend class TDataSet;
    friend class TDataLink;
    void AddDataLink(TDataLink* DataLink);
    void RemoveDataLink(TDataLink* DataLink);
    void NotifyDataLinks(TDataEvent Event, std::intptr_t Info);
    void SetState(TDataSetState Value);
    void UpdateState();

    TDataSet* FDataSet = nullptr;
    std::vector<TDataLink*> FDataLinks;
    TDataSetState FState = dsInactive;
    bool FEnabled = true;
    bool FAutoEdit = true;
};

class TDataLink : public TPersistent {
public:
    TDataLink();
    ~TDataLink() override;
    TDataLink(const TDataLink&) = delete;
    TDataLink& operator=(const TDataLink&) = delete;

    TDataSource* DataSource() const noexcept { return FDataSource; }
    // Raises "DataSource cannot be changed" when DataSourceFixed.
    void SetDataSource(TDataSource* ADataSource);
    bool DataSourceFixed() const noexcept { return FDataSourceFixed; }
    void SetDataSourceFixed(bool Value) noexcept { FDataSourceFixed = Value; }
    TDataSet* DataSet() const noexcept;
    bool Active() const noexcept { return FActive; }
    bool Editing() const noexcept { return FEditing; }
    bool ReadOnly() const noexcept { return FReadOnly; }
    void SetReadOnly(bool Value);

    // Rows of the link in the dataset's window.
    int BufferCount() const { return GetBufferCount(); }
    void SetBufferCount(int Value) { SetBufferCountImpl(Value); }
    int FirstRecord() const noexcept { return FFirstRecord; }
    // Current record's row (0 while the source is in dsSetKey).
    int ActiveRecord() const { return GetActiveRecord(); }
    void SetActiveRecord(int Value) { SetActiveRecordImpl(Value); }
    // Rows holding records: min(valid count, BufferCount); 1 in dsSetKey.
    int RecordCount() const;

    // Unless read-only: the source's Edit; returns Editing.
    bool Edit();
    // Writes the control's pending input (UpdateData) with Updating set.
    void UpdateRecord();
    bool Updating() const noexcept { return FUpdating; }

protected:
    // Reactions; the defaults: DataSetChanged -> RecordChanged(nullptr),
    // DataSetScrolled -> DataSetChanged, LayoutChanged -> DataSetChanged, the
    // rest do nothing.
    virtual void ActiveChanged() {}
    virtual void CheckBrowseMode() {}
    virtual void DataSetChanged();
    virtual void DataSetScrolled(int Distance);
    virtual void EditingChanged() {}
    virtual void FocusControl(TField** /*Field*/) {}
    virtual void LayoutChanged();
    virtual void RecordChanged(TField* /*Field*/) {}
    virtual void UpdateData() {}
    virtual int GetActiveRecord() const;
    virtual void SetActiveRecordImpl(int Value);
    virtual int GetBufferCount() const { return FBufferCount; }
    virtual void SetBufferCountImpl(int Value);
    // Receives the data source's notifications.
    virtual void DataEvent(TDataEvent Event, std::intptr_t Info);

private:
    friend class TDataSource;
    friend class TDataSet;
    void UpdateState();
    void SetActive(bool Value);
    void SetEditing(bool Value);
    void UpdateRange();

    TDataSource* FDataSource = nullptr;
    int FFirstRecord = 0;
    int FBufferCount = 1;
    bool FActive = false;
    bool FEditing = false;
    bool FReadOnly = false;
    bool FUpdating = false;
    bool FDataSourceFixed = false;
};
