// Unit Tamblor: TMoneyTable, a dataset of the dataset framework over one
// Money table (one *.dat file), reached only through the table engine's COM
// interfaces (Orbalk_TLB.h, Vennick_TLB.h), plus its blob stream, its
// exception class and the unit's free functions.
//
// What it declares:
//   TColumnDesc        an engine column as the table remembers it
//   EBFError, BFError  the component's exception (engine statuses)
//   TMoneyTable        the dataset: open/close, record buffers, field data,
//                      editing and posting, memo streams, indexes and keys,
//                      ranges and master-detail links, filtering, header dump
//   TMoneyBlobStream   the in-memory stream over a memo value of a record
//   FieldTypeToVarType, TimeToMoneyTime, MoneyTimeToTime, ExtractFieldNameNoTrim,
//   IndexFieldNamesToIndexName, moStrToKey, moCZUpperCase, moCZLowerCase
//   moneytable::ApplicationHandleException  the application's error handler
//
// Record buffer (GetRecordSize() = FBookmarkOffset + 5 bytes):
//   [0, FDataSize)                 one slot per field with FieldNo >= 1, in
//                                  field-number order (GetDataPtr); a memo
//                                  slot holds a std::string* owned by the buffer
//   [FDataSize, FBookmarkOffset)   null bits, bit FieldNo-1 set = has a value
//   [FBookmarkOffset, +4)          bookmark: the engine's record number (int32)
//   [FBookmarkOffset+4]            bookmark flag (TBookmarkFlag)
// Key buffers have the same size and data/null layout and end in a
// TMKeyBuffer trailer instead of bookmark and flag.
//
// Table life cycle:
//   state   entered by                  holds
//   closed  construction, InternalClose nothing of the engine
//   open    InternalOpen                engine table, filter object, COM
//                                       initialisation, key buffers
// Editing (the framework drives the states):
//   dsBrowse --Edit--> dsEdit: LockRecord, record re-read, modified array
//   dsBrowse --Insert/Append--> dsInsert: modified array (no engine call)
//   dsEdit --Post--> dsBrowse: EditRecord, column writes, PostRecord, UnlockRecord
//   dsInsert --Post--> dsBrowse: AddRecord, column writes, PostRecord
//   dsEdit --Cancel--> dsBrowse: UnlockRecord;  dsInsert --Cancel--> dsBrowse: nothing
//
// Ownership: the table owns its index definitions, its master link, its key
// buffers (open to close), its modified-field array and, while open, one
// engine table object, one filter object and one COM initialisation of the
// opening thread. CreateBlobStream returns a stream that the caller owns.
// A memo text in a record buffer is owned by that buffer.
//
// Threads: the thread that opens a table must use and close it (COM is
// initialised per thread); nothing here locks.
//
// Preconditions: FileName, Exclusive and ReadOnly change only while closed
// ("Cannot perform this operation on an open dataset"). An engine must be
// registered in the COM class registry (RegisterEngineServer() in the
// program's start-up); otherwise opening fails with "Class not registered".
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "framework/DB.h"
#include "moneytable/Orbalk_TLB.h"
#include "moneytable/Vennick_TLB.h"
#include "rtl/Rtl.h"
#include "rtl/ole/Ole.h"

class TMoneyTable;

// An engine column: name cut to at most 10 bytes, type letter, size byte.
struct TColumnDesc {
    std::string Name;
    std::uint8_t TypeLetter = 0;
    std::uint8_t Size = 0;
};

// The component's exception: an engine status that CheckError refuses, or a
// table that cannot be used. Derives from the framework's exception class.
class EBFError : public EDatabaseError {
public:
    using EDatabaseError::EDatabaseError;
};

// Raises EBFError with Msg.
[[noreturn]] void BFError(const std::string& Msg);

// The component's messages.
inline constexpr const char* SBFErrorExecuting = "Error while executing";
inline constexpr const char* SBFUserError = "User error";
inline constexpr const char* SBFAlreadyOpened = "Already opened";
inline constexpr const char* SBFUnsupportedType = "Unsupported type";
inline constexpr const char* SBFInvalidIndex = "Invalid index";
inline constexpr const char* SBFInvalidRecord = "GetRecord: Invalid record";
inline constexpr const char* SBFRecordTooLarge =
    "The records of table %s need %d bytes; a table record may not exceed 65535 bytes";

// Bytes of a memo (blob) slot: a reference to the text owned by the buffer.
inline constexpr Word BlobSlotSize = sizeof(std::string*);

// ---------------------------------------------------------------- keys

enum TMKeyIndex { mkiLookup, mkiRangeStart, mkiRangeEnd, mkiSave };

#pragma pack(push, 1)
// The 5-byte trailer of a key buffer.
struct TMKeyBuffer {
    std::uint8_t Modified;    // 0 or 1
    std::int32_t FieldCount;  // leading index fields that make up the key
};
#pragma pack(pop)
static_assert(sizeof(TMKeyBuffer) == 5);

// ---------------------------------------------------------------- table

class TMoneyTable : public TDataSet {
public:
    explicit TMoneyTable(TComponent* AOwner);
    ~TMoneyTable() override;

    // ---- published properties, in their published order ----
    bool Exclusive() const noexcept { return FExclusive; }
    void SetExclusive(bool Value);
    const std::string& FileName() const noexcept { return FFileName; }
    void SetFileName(const std::string& Value);
    const std::string& IndexFieldNames() const noexcept { return FIndexFieldNames; }
    void SetIndexFieldNames(const std::string& Value);
    std::string MasterFields() const { return GetMasterFields(); }
    void SetMasterFields(const std::string& Value);
    TDataSource* MasterSource() { return GetDataSource(); }
    void SetMasterSource(TDataSource* Value) { SetDataSource(Value); }
    // ReadOnly: the framework refuses Edit, Insert and Append; and the engine
    // table is asked (IBFTableAccess, when the engine offers it) to open for
    // reading only, so that a table on storage that this user cannot write
    // (a read-only mount, another user's folder) opens, leaving no side
    // files there. Without it such a table fails to open with a message
    // naming the file or the folder that cannot be written.
    bool ReadOnly() const noexcept { return FReadOnly; }
    void SetReadOnly(bool Value);
    // The published properties (above) in order, for a host's inspector.
    static std::vector<TPropInfo> PublishedProperties();

    // ---- status check and engine access ----
    // Raises EBFError for -1, -10, -11, -12 and -13; returns Status otherwise.
    int CheckError(int Status);
    IBFTable7* EngineTable() const noexcept { return FEngineTable.get(); }
    IMoneyFilter* EngineFilter() const noexcept { return FEngineFilter.get(); }
    TIndexDefs* IndexDefs() const noexcept { return FIndexDefs.get(); }

    // ---- record numbers (public framework operations) ----
    int GetRecordCount() override;
    int GetRecNo() override;
    void SetRecNo(int Value) override;
    int CompareBookmarks(const TBookmark& Bookmark1, const TBookmark& Bookmark2) override;

    // ---- field data ----
    using TDataSet::GetFieldData;
    using TDataSet::SetFieldData;
    bool GetFieldData(TField* Field, void* Buffer) override;
    void SetFieldData(TField* Field, const void* Buffer) override;
    std::unique_ptr<TStream> CreateBlobStream(TField* Field, TBlobStreamMode Mode) override;

    // The buffer that field access uses in the current state; false (and
    // nullptr) when there is none.
    bool GetActiveRecBuf(TRecordBuffer& RecBuf);
    // The field's slot in Buffer; nullptr for a field number below 1.
    std::uint8_t* GetDataPtr(TRecordBuffer Buffer, TField* Field) {
        const auto N = static_cast<std::size_t>(Field->FieldNo());
        if (N >= 1 && N < FSlotOffsets.size() && FSlotOffsets[N] >= 0) return Buffer + FSlotOffsets[N];
        return ComputeDataPtr(Buffer, Field);
    }
    // The field's slot size: 0 for field number 0, BlobSlotSize for a blob
    // field, else the field's DataSize.
    Word GetDataSize(TField* Field);
    // True when the field is null in Buffer (always for a field without slot).
    bool IsNull(TRecordBuffer Buffer, TField* Field) {
        // A field without a slot has no null bit: it always reads as null.
        return Field->FieldNo() < 1 || GetBit(Buffer + FDataSize, Field->FieldNo() - 1);
    }
    void SetNull(TRecordBuffer Buffer, TField* Field, bool Value) {
        if (Field->FieldNo() >= 1) SetBit(Buffer + FDataSize, Field->FieldNo() - 1, Value);
    }
    // Bit arrays: bit Index in byte Index/8, mask 1 << Index%8; GetBit is true
    // when the bit is clear; SetBit clears it for true and sets it for false.
    // (Inline: every field of every record read passes here.)
    static bool GetBit(const std::uint8_t* Bits, int Index) { return (Bits[Index / 8] & (1u << (Index % 8))) == 0; }
    static void SetBit(std::uint8_t* Bits, int Index, bool Value) {
        const auto Mask = static_cast<std::uint8_t>(1u << (Index % 8));
        if (Value)
            Bits[Index / 8] = static_cast<std::uint8_t>(Bits[Index / 8] & ~Mask);
        else
            Bits[Index / 8] = static_cast<std::uint8_t>(Bits[Index / 8] | Mask);
    }
    // The stored value of Field in Buffer as the variant the engine takes;
    // VT_EMPTY for null. With Key set, a GUID is turned into the engine's key.
    OleVariant GetFieldAsOleVariant(TRecordBuffer Buffer, TField* Field, bool Key);
    // True when the field's name holds no "[" (it can be read and written).
    bool IsFieldAccesable(TField* Field);

    // ---- editing ----
    // A new modified-field array, all fields counted as changed.
    void AllocModifiedFieldArray();
    const std::uint8_t* ModifiedFieldArray() const noexcept { return FModifiedFieldArray.get(); }
    // The engine's next auto-increment value for the field's column.
    int GetAutoIncValue(TField* Field);
    void SetAutoInc(TField* Field);

    // ---- layout, for diagnostics and tests ----
    Word DataSize() const noexcept { return FDataSize; }
    Word BookmarkOffset() const noexcept { return FBookmarkOffset; }
    const std::vector<TColumnDesc>& ColumnDescs() const noexcept { return FColumnDescs; }
    bool TableLocked() const noexcept { return FTableLocked; }
    bool AtBof() const noexcept { return FAtBof; }
    bool AtEof() const noexcept { return FAtEof; }

    // =====================================================================
    // Indexes and keys, ranges and master-detail links, filtering, header
    // dump (implemented in TamblorKeys.cpp, TamblorFilter.cpp and
    // TamblorDump.cpp).
    // =====================================================================
    void GetIndexNames(TStrings* List);
    int GetIndexFieldCount();
    int IndexFieldCount() { return GetIndexFieldCount(); }
    TField* GetIndexField(int Index);
    void SetIndexField(int Index, TField* Value);
    TField* IndexFields(int Index) { return GetIndexField(Index); }

    void SetKey();
    void EditKey();
    void SetKeyBuffer(TMKeyIndex KeyIndex, bool Clear);
    void PostKeyBuffer(bool Commit);
    void Post() override;
    void Cancel() override;
    void CheckSetKeyMode();
    int GetKeyFieldCount();
    void SetKeyFieldCount(int Value);
    int KeyFieldCount() { return GetKeyFieldCount(); }
    void SetKeyFields(TMKeyIndex KeyIndex, const std::vector<TVarRec>& Values);
    bool GotoKey();
    int GotoNearest();
    bool FindKey(const std::vector<TVarRec>& Values);
    int FindNearest(const std::vector<TVarRec>& Values);
    int BFSeek(TRecordBuffer Buffer);

    // The trailer of a key buffer.
    TMKeyBuffer* GetMKeyBuffer(TRecordBuffer Buffer) const;
    TRecordBuffer KeyBuffers(TMKeyIndex Index) const noexcept { return FKeyBuffers[Index]; }
    TRecordBuffer KeyBuffer() const noexcept { return FKeyBuffer; }

    void SetRangeStart();
    void SetRangeEnd();
    void EditRangeStart();
    void EditRangeEnd();
    void ApplyRange();
    void SetRange(const std::vector<TVarRec>& StartValues, const std::vector<TVarRec>& EndValues);
    void CancelRange();
    void SetDataSource(TDataSource* Value);
    std::string GetMasterFields() const;
    int GetMasterFieldCount();

    void SetFiltered(bool Value) override;
    void SetFilterText(const std::string& Value) override;
    void SetFilterOptions(TFilterOptions Value) override;
    void SetFilterData(const std::string& Text, TFilterOptions Options);
    void ApplyFiltering(bool GoFirst);

    // Appends a dump of the table file's header to the existing file
    // OutFileName.
    void DumpHeader(const std::string& OutFileName);

protected:
    // ---- framework hooks ----
    void CloseBlob(TField* Field) override;
    void DoOnNewRecord() override;
    bool GetCanModify() override;
    TDataSource* GetDataSource() override;
    bool GetIsIndexField(TField* Field) override;
    void InternalCancel() override;
    void InternalEdit() override;
    void InternalInsert() override;
    void UpdateIndexDefs() override;
    TRecordBuffer AllocRecordBuffer() override;
    void FreeRecordBuffer(TRecordBuffer& Buffer) override;
    void GetBookmarkData(TRecordBuffer Buffer, void* Data) override;
    TBookmarkFlag GetBookmarkFlag(TRecordBuffer Buffer) override;
    TGetResult GetRecord(TRecordBuffer Buffer, TGetMode GetMode, bool DoCheck) override;
    int GetRecordSize() override;
    void InternalAddRecord(TRecordBuffer Buffer, bool Append) override;
    void InternalClose() override;
    void InternalDelete() override;
    void InternalFirst() override;
    void InternalGotoBookmark(const TBookmark& Bookmark) override;
    void InternalHandleException() override;
    void InternalInitFieldDefs() override;
    void InternalInitRecord(TRecordBuffer Buffer) override;
    void InternalLast() override;
    void InternalOpen() override;
    void InternalPost() override;
    void InternalRefresh() override;
    void InternalSetToRecord(TRecordBuffer Buffer) override;
    bool IsCursorOpen() override;
    void SetBookmarkFlag(TRecordBuffer Buffer, TBookmarkFlag Value) override;
    void SetBookmarkData(TRecordBuffer Buffer, const void* Data) override;
    void DoAfterOpen() override;

    // ---- keys, ranges, links (TamblorKeys.cpp, TamblorFilter.cpp) ----
    void AllocKeyBuffers();
    void FreeKeyBuffers();
    TRecordBuffer InitKeyBuffer(TRecordBuffer Buffer);
    void MasterChanged(TObject* Sender);
    void MasterDisabled(TObject* Sender);
    void SetLinkRanges(const std::vector<TField*>& MasterFields);

private:
    friend class TMoneyBlobStream;

    // Reads the engine's current record into Buffer (fields, calculated
    // fields, flag and bookmark), releasing the memo texts it held.
    void ReadRecord(TRecordBuffer Buffer);
    // Releases the memo texts referenced by Buffer's blob slots.
    void ReleaseBlobs(TRecordBuffer Buffer);
    // Fills the field definitions from an open engine table.
    void ReadFieldDefs(IBFTable7* Table);
    // The column description of a field (by field number), nullptr if none.
    const TColumnDesc* ColumnDescOf(TField* Field) const;
    // The record number stored as Buffer's bookmark.
    std::int32_t BufferRecNo(TRecordBuffer Buffer) const;
    // MoveToRecord; status through CheckError.
    void GotoRecNo(std::int32_t RecNo);
    // GetDataPtr for a field that the layout cache does not hold.
    std::uint8_t* ComputeDataPtr(TRecordBuffer Buffer, TField* Field);
    // Slot offsets by field number and the column name variants, computed at
    // open once the fields are bound.
    void BuildLayoutCache();
    void ClearLayoutCache();
    bool IsKeyBuffer(TRecordBuffer Buffer) const;

    // ---- state, in declaration order ----
    bool FReadOnly = false;
    std::string FFileName;
    rtl::ComPtr<IBFTable7> FEngineTable;
    std::vector<TColumnDesc> FColumnDescs;
    rtl::ComPtr<IMoneyFilter> FEngineFilter;
    bool FCursorOpen = false;
    bool FTableLocked = false;
    bool FAtEof = false;
    bool FAtBof = false;
    Word FDataSize = 0;
    Word FBookmarkOffset = 0;
    std::array<TRecordBuffer, 4> FKeyBuffers{};
    TRecordBuffer FKeyBuffer = nullptr;
    std::string FIndexFieldNames;
    bool FComInitialized = false;
    bool FExclusive = false;
    std::unique_ptr<TIndexDefs> FIndexDefs;
    std::unique_ptr<std::uint8_t[]> FModifiedFieldArray;
    std::unique_ptr<TMasterDataLink> FMasterLink;

    // ---- caches of the layout (valid while the fields are bound) ----
    std::vector<int> FSlotOffsets;              // by field number; -1 = no slot
    std::vector<OleVariant> FColumnNames;       // by field number: FieldName as VT_BSTR
    std::vector<TField*> FBlobSlotFields;       // blob fields with a slot
    // How ReadRecord reads each field (by field number): no value (a
    // bracketed duplicate name), the record number, GetGuidValue,
    // GetWideValue or GetColumnValue.
    enum class TReadKind : std::uint8_t { None, RecNo, Guid, Wide, Column };
    std::vector<TReadKind> FReadKinds;
    // ReadRecord's values by field number and its text, kept between
    // records so that their text buffers are reused.
    std::vector<OleVariant> FReadValues;
    std::string FReadText;
};

// ---------------------------------------------------------------- blob stream

// The in-memory stream over a memo value of the buffer that was active when
// it was created. Filled from the buffer at creation (read and read-write
// modes); written back into that buffer when destroyed (write and
// read-write modes). Never talks to the engine. The caller owns it; the
// table, field and buffer must outlive it.
class TMoneyBlobStream : public TMemoryStream {
public:
    // Raises EInvalidCast "Invalid class typecast" when Field's dataset is
    // not a TMoneyTable.
    TMoneyBlobStream(TBlobField* Field, TBlobStreamMode Mode);
    ~TMoneyBlobStream() override;

private:
    TBlobStreamMode FMode;
    TMoneyTable* FTable = nullptr;
    TBlobField* FField;
    TRecordBuffer FRecBuf = nullptr;
};

// ---------------------------------------------------------------- unit functions

// The variant type a field of that data type is exchanged as (VT_BSTR,
// VT_I4, VT_BOOL, VT_R8, VT_DATE; 257 for any other type).
int FieldTypeToVarType(TField* Field);
// Minutes since midnight of the time of day of T.
int TimeToMoneyTime(TDateTime T);
// The time of day M minutes after midnight; EConvertError "Invalid argument
// to time encode" for M outside 0 .. 1439.
TDateTime MoneyTimeToTime(int M);
// The name that starts at Pos (1-based) in a ";"-separated list, untrimmed;
// Pos moves past the name and its ";".
std::string ExtractFieldNameNoTrim(const std::string& Fields, int& Pos);
// The list with every ";" replaced by "+".
std::string IndexFieldNamesToIndexName(const std::string& Fields);
// The engine string object's key form, upper and lower case of a text.
std::string moStrToKey(const std::string& S, int Length);
std::string moCZUpperCase(const std::string& S);
std::string moCZLowerCase(const std::string& S);

namespace moneytable {

// The key box of the browser (also the range texts of its filter command and
// of `tamblor export`): Table must be in dsSetKey. Sets KeyFieldCount to the
// master field count, then fills the index fields after the master fields
// from Text, values separated by '|', through AsString, counting each in
// KeyFieldCount; values beyond the last index field are ignored, an empty
// Text fills the first free field with "". Field errors propagate; the
// caller ends the key state (Post) in every case.
void FillKeyFields(TMoneyTable* Table, const std::string& Text);

// Writes the header dump of the table file TableFileName (the name as given,
// extension included) through Write: the lines that DumpHeader appends, CR LF
// ended, including the two empty lines at the end. Raises EFOpenError
// "Cannot open file %s" when the file cannot be opened for reading.
void WriteHeaderDump(const std::string& TableFileName, const std::function<void(std::string_view)>& Write);

}  // namespace moneytable

namespace moneytable {

// The application's handler of an exception that must not propagate (for
// example from a change notification inside a destructor): shows or records
// it. Called inside a catch block, with the object that caught it.
using TExceptionHandler = std::function<void(TObject* Sender, std::exception_ptr E)>;
// Installs the handler (the browser shows an error box); returns the
// previous one. Without a handler the message is written to standard error.
TExceptionHandler SetApplicationExceptionHandler(TExceptionHandler Handler);
// Hands the exception being handled to the installed handler. Never raises.
void ApplicationHandleException(TObject* Sender);

}  // namespace moneytable
