// Dataset framework: TDataSet, the abstract record cursor.
//
// TDataSet owns a state, a sliding window of record buffers around the
// current record, the field objects (Fields) and field definitions
// (FieldDefs), and notifies its data sources (TDataSource) of every change.
// A concrete dataset derives from it and supplies the hooks (the protected
// virtual functions marked "hook"); the framework alone decides when they are
// called, in the orders documented at each operation in DataSet.cpp and
// DataSetEdit.cpp. A hook without a default raises EDatabaseError
// "Abstract Error".
//
// Record window (valid while open):
//   buffers       BufferCount()+1 record buffers from AllocRecordBuffer
//   valid count   ValidCount(): buffers 0..ValidCount()-1 hold consecutive
//                 records in cursor order
//   active index  ActiveRecord(): the current record (below ValidCount() when
//                 that is non-zero); ActiveBuffer() is its buffer
//   temp buffer   the buffer at position ValidCount(): GetRecord fetches into
//                 it, a successful fetch rotates it into the window
//   cursor index  CurrentRecord(): the window position on which the
//                 descendant's own cursor stands, -1 when undetermined
//   Bof(), Eof()  the window reached the beginning / the end of the data
//
// State machine (State()):
//   operation                 from                      to
//   Open / SetActive(true)    dsInactive                dsBrowse (dsInactive again
//                                                       when InternalOpen fails)
//   Close / SetActive(false)  any active state          dsInactive (a pending edit
//                                                       is dropped)
//   Edit                      dsBrowse                  dsEdit (dsInsert when the
//                                                       window is empty)
//   Insert, Append            dsBrowse (after           dsInsert
//                             CheckBrowseMode)
//   Post                      dsEdit, dsInsert          dsBrowse (unchanged when
//                                                       InternalPost fails)
//   Cancel                    dsEdit, dsInsert          dsBrowse
//   Delete                    dsBrowse, dsEdit          dsBrowse (dsInsert and
//                                                       dsSetKey: Cancel instead)
//   descendant's key ops      dsBrowse                  dsSetKey and back
//                             (SetState/SetTempState)
//   SetTempState(s) ..        any                       s and back; no
//     RestoreState(old)                                 deUpdateState, Modified
//                                                       cleared both times, controls
//                                                       suspended in between
//   GetCalcFields             any                       dsCalcFields and back,
//                                                       swapped directly
//   SetBlockReadSize(n)       dsBrowse                  dsBlockRead (n > 0),
//                                                       dsBrowse (n <= 0)
// Active() is true in every state but dsInactive and dsOpening.
//
// Ownership: the dataset owns its record buffers (through the hooks), its
// field definitions, its field list and the default fields it creates. It
// does not own its data sources; destroying a dataset detaches them.
// Bookmarks are returned by value and owned by the caller.
//
// Destruction: C++ cannot call a descendant's hooks from ~TDataSet. A concrete
// dataset's destructor must therefore call BeginDestroy() first: it marks the
// component destroying, closes the dataset without the close events and
// detaches the data sources while the hooks are still those of the
// descendant. ~TDataSet does the same only for what needs no hook.
//
// Overloads: GetFieldData and SetFieldData have several overloads; a
// descendant that overrides the hook (field, buffer) should add
// "using TDataSet::GetFieldData;" (and SetFieldData) so that the others stay
// visible through the descendant's type.
//
// Threads: single-threaded. Every operation, hook and notification runs on
// the calling thread; the dataset must be used by one thread.
#pragma once

#include "framework/DBCommon.h"
#include "framework/FieldDefs.h"
#include "framework/Fields.h"
#include "rtl/Classes.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

class TDataSource;
class TDataLink;

using TDataSetNotifyEvent = std::function<void(TDataSet* DataSet)>;
using TDataSetErrorEvent = std::function<void(TDataSet* DataSet, EDatabaseError& E, TDataAction& Action)>;
using TFilterRecordEvent = std::function<void(TDataSet* DataSet, bool& Accept)>;

class TDataSet : public TComponent {
public:
    explicit TDataSet(TComponent* AOwner);
    ~TDataSet() override;

    // ---- opening and closing ----
    void Open();
    void Close();
    bool Active() const noexcept { return FState != dsInactive && FState != dsOpening; }
    virtual void SetActive(bool Value);

    // ---- state ----
    TDataSetState State() const noexcept { return FState; }
    bool Modified() const noexcept { return FModified; }
    bool IsEmpty() const noexcept { return FActiveRecord >= FRecordCount; }
    bool Bof() const noexcept { return FBOF; }
    bool Eof() const noexcept { return FEOF; }
    // Whether the dataset can be changed (GetCanModify).
    bool CanModify() { return GetCanModify(); }
    // True between a successful InternalOpen and InternalClose (hook
    // without default).
    virtual bool IsCursorOpen();

    // ---- navigation ----
    void First();
    void Last();
    void Next() { MoveBy(1); }
    void Prior() { MoveBy(-1); }
    // Moves by Distance records; returns the number actually moved
    // (negative backwards).
    int MoveBy(int Distance);

    // ---- editing ----
    void Edit();
    void Insert();
    void Append();
    virtual void Post();
    virtual void Cancel();
    virtual void Delete();
    void Refresh();
    // Finishes a pending edit (post if modified, else cancel) or key edit.
    void CheckBrowseMode();
    // Asks the controls to write their pending input (deUpdateRecord).
    void UpdateRecord();
    // In an edit state: empties the record being edited.
    void ClearFields();
    // Insert/Append, assign Values to the fields in order, Post.
    void InsertRecord(std::initializer_list<TVarRec> Values);
    void AppendRecord(std::initializer_list<TVarRec> Values);
    // Assigns Values to the first fields (edit states only).
    void SetFields(std::initializer_list<TVarRec> Values);

    // ---- bookmarks ----
    // A copy of the current record's bookmark; empty when none is available
    // (not dsBrowse/dsEdit/dsInsert, an empty window, or the active buffer is
    // not a current record).
    TBookmark GetBookmark();
    void GotoBookmark(const TBookmark& Bookmark);
    void FreeBookmark(TBookmark& Bookmark) { Bookmark.clear(); }
    virtual bool BookmarkValid(const TBookmark& Bookmark);
    // Order of two bookmarks (hook with default 0).
    virtual int CompareBookmarks(const TBookmark& Bookmark1, const TBookmark& Bookmark2);
    // The bookmark bytes as a string; empty when none.
    virtual TBookmarkStr GetBookmarkStr();
    virtual void SetBookmarkStr(const TBookmarkStr& Value);
    TBookmarkStr Bookmark() { return GetBookmarkStr(); }
    void SetBookmark(const TBookmarkStr& Value) { SetBookmarkStr(Value); }

    // ---- record count and number (hooks with defaults) ----
    virtual int GetRecordCount();  // default -1
    virtual int GetRecNo();        // default -1
    virtual void SetRecNo(int Value);  // default: nothing
    int RecordCount() { return GetRecordCount(); }
    int RecNo() { return GetRecNo(); }
    virtual bool IsSequenced() { return true; }

    // ---- fields ----
    TFields* Fields() const noexcept { return FFields.get(); }
    TField* Fields(int Index) const { return FFields->Fields(Index); }
    int FieldCount() const noexcept { return FFields->Count(); }
    TFieldDefs* FieldDefs() const noexcept { return FFieldDefs.get(); }
    TField* FindField(std::string_view FieldName) const { return FFields->FindField(FieldName); }
    TField* FieldByName(std::string_view FieldName) const { return FFields->FieldByName(FieldName); }
    TField* FieldByNumber(int FieldNo) const { return FFields->FieldByNumber(FieldNo); }
    // Resolves a ';'-separated list of names (blanks around each trimmed)
    // into fields; "Field '%s' not found" for an unknown name.
    void GetFieldList(std::vector<TField*>& List, std::string_view FieldNames) const;
    void GetFieldNames(TStrings* List) const;
    bool DefaultFields() const noexcept { return FDefaultFields; }
    bool AutoCalcFields() const noexcept { return FAutoCalcFields; }
    void SetAutoCalcFields(bool Value) noexcept { FAutoCalcFields = Value; }

    // Field data path: copy the field's value from the buffer the state
    // chooses into Buffer; false when null; Buffer nullptr = null test.
    // Hook with default false.
    virtual bool GetFieldData(TField* Field, void* Buffer);
    bool GetFieldData(int FieldNo, void* Buffer);
    // NativeFormat false: the value is converted to the field's framework
    // form (TDateTime for date and time fields) through DataConvert.
    virtual bool GetFieldData(TField* Field, void* Buffer, bool NativeFormat);
    // Store the native value (nullptr = null); must send deFieldChange. Hook.
    virtual void SetFieldData(TField* Field, const void* Buffer);
    virtual void SetFieldData(TField* Field, const void* Buffer, bool NativeFormat);
    // Opens a stream over a blob field of the active buffer; the caller owns
    // it. Hook with default nullptr.
    virtual std::unique_ptr<TStream> CreateBlobStream(TField* Field, TBlobStreamMode Mode);
    // Copies a text between character sets; the default copies unchanged and
    // returns the length.
    virtual int Translate(const char* Src, char* Dest, bool ToOem);

    // ---- controls ----
    void DisableControls();
    void EnableControls();
    bool ControlsDisabled() const noexcept { return FDisableCount != 0; }
    // The master data source (hook with default nullptr).
    TDataSource* DataSource() { return GetDataSource(); }
    // True when following DataSource through the datasets of a chain of data
    // sources reaches this dataset.
    bool IsLinkedTo(TDataSource* ADataSource);

    // ---- filter settings: the framework only stores them ----
    const std::string& Filter() const noexcept { return FFilterText; }
    void SetFilter(const std::string& Value) { SetFilterText(Value); }
    bool Filtered() const noexcept { return FFiltered; }
    virtual void SetFiltered(bool Value);
    TFilterOptions FilterOptions() const noexcept { return FFilterOptions; }
    virtual void SetFilterOptions(TFilterOptions Value);
    const TFilterRecordEvent& OnFilterRecord() const noexcept { return FOnFilterRecord; }
    virtual void SetOnFilterRecord(const TFilterRecordEvent& Value);
    virtual void SetFilterText(const std::string& Value);

    // ---- searching (hook with default false) ----
    virtual bool FindRecord(bool Restart, bool GoForward);
    bool FindFirst() { return FindRecord(true, true); }
    bool FindLast() { return FindRecord(true, false); }
    bool FindNext() { return FindRecord(false, true); }
    bool FindPrior() { return FindRecord(false, false); }

    // ---- block reading ----
    int BlockReadSize() const noexcept { return FBlockReadSize; }
    virtual void SetBlockReadSize(int Value);
    void BlockReadNext() { MoveBy(1); }

    // ---- events ----
    TDataSetNotifyEvent BeforeOpen, AfterOpen, BeforeClose, AfterClose;
    TDataSetNotifyEvent BeforeInsert, AfterInsert, BeforeEdit, AfterEdit;
    TDataSetNotifyEvent BeforePost, AfterPost, BeforeCancel, AfterCancel;
    TDataSetNotifyEvent BeforeDelete, AfterDelete, BeforeScroll, AfterScroll;
    TDataSetNotifyEvent BeforeRefresh, AfterRefresh, OnCalcFields, OnNewRecord;
    TDataSetErrorEvent OnDeleteError, OnEditError, OnPostError;

    // ---- services for descendants, data sources and links ----
    // Notifies the dataset's own reactions and, unless controls are disabled
    // or the state is dsBlockRead, every data source in attachment order.
    virtual void DataEvent(TDataEvent Event, std::intptr_t Info);
    // Resizes the window to the largest BufferCount of the links of all
    // attached data sources (at least 1); only while the cursor is open.
    void UpdateBufferCount();
    // Rebuilds the window around the descendant's cursor.
    virtual void Resync(TResyncMode Mode);
    void CursorPosChanged() noexcept { FCurrentRecord = -1; }
    virtual void CheckActive();
    virtual void CheckInactive();
    void CheckCanModify();
    TRecordBuffer ActiveBuffer() const noexcept;
    TRecordBuffer CalcBuffer() const noexcept { return FCalcBuffer; }
    // Window geometry (see the header comment).
    int BufferCount() const noexcept { return FBufferCount; }
    int ValidCount() const noexcept { return FRecordCount; }
    int ActiveRecord() const noexcept { return FActiveRecord; }
    void SetActiveRecord(int Value) noexcept { FActiveRecord = Value; }
    int CurrentRecord() const noexcept { return FCurrentRecord; }
    // Buffer i of the window, 0 <= i <= BufferCount() (the last is spare).
    TRecordBuffer Buffers(int Index) const noexcept;
    TRecordBuffer TempBuffer() const noexcept { return Buffers(FRecordCount); }
    int BookmarkSize() const noexcept { return FBookmarkSize; }
    void SetBookmarkSize(int Value) noexcept { FBookmarkSize = Value; }
    int CalcFieldsSize() const noexcept { return FCalcFieldsSize; }
    int BlobFieldCount() const noexcept { return FBlobFieldCount; }
    bool InternalCalcFields() const noexcept { return FInternalCalcFields; }

protected:
    // ---- services ----
    void SetState(TDataSetState Value);
    TDataSetState SetTempState(TDataSetState Value);
    void RestoreState(TDataSetState Value);
    void SetModified(bool Value) noexcept { FModified = Value; }
    void SetBOF(bool Value) noexcept { FBOF = Value; }
    void SetEOF(bool Value) noexcept { FEOF = Value; }
    void SetCalcBuffer(TRecordBuffer Value) noexcept { FCalcBuffer = Value; }
    void MoveBuffer(int CurIndex, int NewIndex);
    void UpdateCursorPos();
    void BindFields(bool Binding);
    // Marks the dataset destroying, closes it without the close events and
    // detaches its data sources. A concrete dataset calls it first thing in
    // its destructor (see the header comment); later calls do nothing.
    void BeginDestroy();
    bool InternalOpenComplete() const noexcept { return FInternalOpenComplete; }

    virtual void ActivateBuffers();
    virtual void ClearBuffers();
    virtual void SetCurrentRecord(int Index);
    virtual bool GetNextRecord();
    virtual int GetNextRecords();
    virtual bool GetPriorRecord();
    virtual int GetPriorRecords();
    virtual void InitRecord(TRecordBuffer Buffer);
    virtual void CalculateFields(TRecordBuffer Buffer);
    virtual void ClearCalcFields(TRecordBuffer Buffer);  // default: nothing
    virtual void GetCalcFields(TRecordBuffer Buffer);
    virtual void RefreshInternalCalcFields(TRecordBuffer Buffer);  // default: nothing
    virtual void CreateFields();
    virtual void DestroyFields();
    virtual void FreeFieldBuffers();
    virtual void InitFieldDefs();
    virtual fw::TFieldClass GetFieldClass(TFieldType FieldType);
    virtual std::string GetFieldFullName(TField* Field);
    virtual void CheckFieldCompatibility(TField* Field, TFieldDef* FieldDef);
    virtual void DataConvert(TField* Field, const void* Source, void* Dest, bool ToNative);
    virtual void DefChanged(TObject* Sender);
    virtual void OpenCursor(bool InfoQuery);
    virtual void CloseCursor();
    virtual bool GetCurrentRecord(TRecordBuffer Buffer);  // default false
    virtual void UpdateIndexDefs();  // default: nothing

    // Hooks with defaults.
    virtual bool GetCanModify();               // default true
    virtual TDataSource* GetDataSource();      // default nullptr
    virtual bool GetIsIndexField(TField* Field);  // default false
    virtual void InternalCancel();   // default: nothing
    virtual void InternalEdit();     // default: nothing
    virtual void InternalInsert();   // default: nothing
    virtual void InternalRefresh();  // default: nothing
    virtual void CloseBlob(TField* Field);  // default: nothing

    // Hooks without default ("Abstract Error").
    virtual TRecordBuffer AllocRecordBuffer();
    virtual void FreeRecordBuffer(TRecordBuffer& Buffer);
    virtual void GetBookmarkData(TRecordBuffer Buffer, void* Data);
    virtual TBookmarkFlag GetBookmarkFlag(TRecordBuffer Buffer);
    virtual TGetResult GetRecord(TRecordBuffer Buffer, TGetMode GetMode, bool DoCheck);
    virtual int GetRecordSize();
    virtual void InternalAddRecord(TRecordBuffer Buffer, bool Append);
    virtual void InternalClose();
    virtual void InternalDelete();
    virtual void InternalFirst();
    virtual void InternalGotoBookmark(const TBookmark& Bookmark);
    virtual void InternalHandleException();
    virtual void InternalInitFieldDefs();
    virtual void InternalInitRecord(TRecordBuffer Buffer);
    virtual void InternalLast();
    virtual void InternalOpen();
    virtual void InternalPost();
    virtual void InternalSetToRecord(TRecordBuffer Buffer);
    virtual void SetBookmarkFlag(TRecordBuffer Buffer, TBookmarkFlag Value);
    virtual void SetBookmarkData(TRecordBuffer Buffer, const void* Data);

    // Event triggers: each calls the application's handler of the same name
    // when one is set.
    virtual void DoAfterCancel();
    virtual void DoAfterClose();
    virtual void DoAfterDelete();
    virtual void DoAfterEdit();
    virtual void DoAfterInsert();
    virtual void DoAfterOpen();
    virtual void DoAfterPost();
    virtual void DoAfterRefresh();
    virtual void DoAfterScroll();
    virtual void DoBeforeCancel();
    virtual void DoBeforeClose();
    virtual void DoBeforeDelete();
    virtual void DoBeforeEdit();
    virtual void DoBeforeInsert();
    virtual void DoBeforeOpen();
    virtual void DoBeforePost();
    virtual void DoBeforeRefresh();
    virtual void DoBeforeScroll();
    virtual void DoOnCalcFields();
    virtual void DoOnNewRecord();

    // Raises EDatabaseError "Abstract Error" (a hook the descendant lacks).
    [[noreturn]] static void AbstractError();

private:
    friend class TField;
    friend class TFields;
    friend class TBlobField;
    friend class TDataSource;
    friend class TDataLink;
    friend class TFieldDefs;
    friend class TFieldDef;
    friend class TIndexDefs;

    void DoInternalOpen();
    // The temporary buffer; "Cannot perform this operation on a closed
    // dataset" when the window has no buffers.
    TRecordBuffer CheckedTempBuffer();
    void SetBufferCount(int Value);
    void SetBufListSize(int Value);
    void AdjustFirstRecord(int Delta);
    void AddDataSource(TDataSource* DataSource);
    void RemoveDataSource(TDataSource* DataSource);
    bool BookmarkAvailable();
    void BeginInsertAppend();
    void EndInsertAppend();
    void CheckOperation(void (TDataSet::*Operation)(), const TDataSetErrorEvent& ErrorEvent);
    void CheckRequiredFields();
    void CloseInternal(bool WithEvents);

    TDataSetState FState = dsInactive;
    std::unique_ptr<TFields> FFields;
    std::unique_ptr<TFieldDefs> FFieldDefs;
    std::vector<TDataSource*> FDataSources;
    std::vector<TRecordBuffer> FBuffers;
    int FBufferCount = 0;
    int FRecordCount = 0;
    int FActiveRecord = 0;
    int FCurrentRecord = -1;
    TRecordBuffer FCalcBuffer = nullptr;
    int FBookmarkSize = 0;
    int FCalcFieldsSize = 0;
    int FBlobFieldCount = 0;
    int FDisableCount = 0;
    int FBlockReadSize = 0;
    TDataSetState FDisableState = dsInactive;
    TDataEvent FEnableEvent = deDataSetChange;
    bool FBOF = true;
    bool FEOF = true;
    bool FModified = false;
    bool FDefaultFields = false;
    bool FInternalCalcFields = false;
    bool FAutoCalcFields = true;
    bool FInternalOpenComplete = false;
    bool FDestroyed = false;
    std::string FFilterText;
    bool FFiltered = false;
    TFilterOptions FFilterOptions;
    TFilterRecordEvent FOnFilterRecord;
};
