// Test fixtures of the dataset framework, reusable by the tests of other
// layers: an in-memory dataset over an array of rows that implements every
// hook and records each hook call, and a data link that records every
// notification it receives.
//
// TMemDataSet
//   Columns are given before opening (AddColumn); rows are added in native
//   form (AddRow: text for string/GUID/memo columns, integers for smallint,
//   integer, word, boolean, date (day number) and time (milliseconds), floats
//   for float and date-time (milliseconds) columns, Null() for null).
//   The cursor is an index into the rows: -1 before the first, Count after
//   the last. Bookmarks are the 4-byte row identifiers (1, 2, ... in the
//   order of addition). Record buffer layout: data slots in column order
//   (memo slots hold an owned std::string*), null bits (set = value), the
//   calculated area, the 4-byte bookmark, the flag byte.
//   Log holds one line per hook call, e.g. "GetRecord(next)=ok:3",
//   "GetRecord(prior)=bof", "InternalSetToRecord(2)", "InternalPost". Event
//   triggers are logged too when LogEvents is set ("BeforeScroll" ...).
//   OnHook runs at the start of every logged hook with its name ("GetRecord",
//   "InternalPost", ...) and may throw to inject a failure.
//
// TRecordingLink
//   Events: one line per notification received, e.g. "deDataSetScroll(-1)";
//   Reactions: the reactions that follow, e.g. "DataSetScrolled(1)".
//
// Ownership: the dataset owns its rows and buffers; the link does not own its
// data source. Threads: one test thread.
#pragma once

#include "framework/DB.h"

#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace fw::test {

inline TVarRec Null() { return TVarRec(static_cast<const void*>(nullptr)); }

inline const char* GetModeName(TGetMode Mode) {
    switch (Mode) {
        case gmCurrent: return "current";
        case gmNext: return "next";
        case gmPrior: return "prior";
    }
    return "?";
}

inline const char* GetResultName(TGetResult Result) {
    switch (Result) {
        case grOK: return "ok";
        case grBOF: return "bof";
        case grEOF: return "eof";
        case grError: return "error";
    }
    return "?";
}

inline const char* DataEventName(TDataEvent Event) {
    static const char* Names[] = {"deFieldChange",     "deRecordChange",  "deDataSetChange",  "deDataSetScroll",
                                  "deLayoutChange",    "deUpdateRecord",  "deUpdateState",    "deCheckBrowseMode",
                                  "dePropertyChange",  "deFieldListChange", "deFocusControl", "deParentScroll"};
    return Names[static_cast<int>(Event)];
}

class TMemDataSet : public TDataSet {
public:
    struct TColumn {
        std::string Name;
        TFieldType Type;
        int Size;
        bool Required;
        bool ReadOnly;
    };

    explicit TMemDataSet(TComponent* AOwner = nullptr) : TDataSet(AOwner) {}
    ~TMemDataSet() override {
        BeginDestroy();
        FreeKeyBuffer();
    }

    // ---- set-up ----
    void AddColumn(const std::string& Name, TFieldType Type, int Size = 0, bool Required = false,
                   bool ReadOnly = false) {
        FColumns.push_back({Name, Type, Size, Required, ReadOnly});
    }
    // Adds a row in native form; returns its identifier (= bookmark).
    std::int32_t AddRow(std::initializer_list<TVarRec> Values) {
        TRow Row;
        Row.Id = FNextId++;
        Row.Data.assign(static_cast<std::size_t>(NullOffset() + NullBytes()), 0);
        Row.Memos.resize(FColumns.size());
        std::size_t I = 0;
        for (const TVarRec& Value : Values) {
            if (I >= FColumns.size()) break;
            StoreNative(Row, I, Value);
            ++I;
        }
        FRows.push_back(std::move(Row));
        return FRows.back().Id;
    }
    int RowCount() const { return static_cast<int>(FRows.size()); }
    // Identifier of the row at a position.
    std::int32_t RowId(int Index) const { return FRows.at(static_cast<std::size_t>(Index)).Id; }
    // Native integer of a row's column (for checks).
    std::int32_t RowInt(int Index, int Column) const {
        const TRow& Row = FRows.at(static_cast<std::size_t>(Index));
        std::int32_t V = 0;
        std::memcpy(&V, Row.Data.data() + SlotOffset(Column), 4);
        return V;
    }
    std::string RowText(int Index, int Column) const {
        const TRow& Row = FRows.at(static_cast<std::size_t>(Index));
        if (FColumns[static_cast<std::size_t>(Column)].Type == ftMemo) return Row.Memos[static_cast<std::size_t>(Column)];
        const char* P = reinterpret_cast<const char*>(Row.Data.data() + SlotOffset(Column));
        return std::string(P, ::strnlen(P, static_cast<std::size_t>(SlotSize(Column))));
    }
    bool RowIsNull(int Index, int Column) const {
        const TRow& Row = FRows.at(static_cast<std::size_t>(Index));
        return (Row.Data[static_cast<std::size_t>(NullOffset() + Column / 8)] & (1u << (Column % 8))) == 0;
    }
    void DeleteRowDirectly(int Index) { FRows.erase(FRows.begin() + Index); }

    bool ReadOnlyData = false;
    bool LogEvents = false;
    std::vector<std::string> Log;
    std::function<void(const std::string& Hook)> OnHook;
    int LiveBuffers = 0;

    void ClearLog() { Log.clear(); }
    std::string Joined() const {
        std::string S;
        for (const auto& L : Log) {
            if (!S.empty()) S += ' ';
            S += L;
        }
        return S;
    }

    // Services exposed for the tests.
    using TDataSet::ActivateBuffers;
    using TDataSet::BindFields;
    using TDataSet::ClearBuffers;
    using TDataSet::GetCalcFields;
    using TDataSet::GetNextRecord;
    using TDataSet::GetPriorRecord;
    using TDataSet::RestoreState;
    using TDataSet::SetModified;
    using TDataSet::SetState;
    using TDataSet::SetTempState;
    using TDataSet::UpdateCursorPos;
    using TDataSet::SetCurrentRecord;
    using TDataSet::InitFieldDefs;
    int Cursor() const { return FCursor; }
    int RecordSize() const { return FRecordSize; }
    std::int32_t BufferId(TRecordBuffer Buffer) const {
        std::int32_t Id;
        std::memcpy(&Id, Buffer + BookmarkOffset(), 4);
        return Id;
    }
    TBookmarkFlag BufferFlag(TRecordBuffer Buffer) const {
        return static_cast<TBookmarkFlag>(Buffer[BookmarkOffset() + 4]);
    }
    // Identifiers of the records in the window, in window order.
    std::vector<std::int32_t> WindowIds() const {
        std::vector<std::int32_t> Ids;
        for (int I = 0; I < ValidCount(); ++I) Ids.push_back(BufferId(Buffers(I)));
        return Ids;
    }
    TRecordBuffer KeyBuffer() const { return FKeyBuffer; }

    // ---- hooks ----
    bool IsCursorOpen() override { return FCursorOpen; }

    int GetRecordCount() override {
        CheckActive();
        return static_cast<int>(FRows.size());
    }
    int GetRecNo() override {
        CheckActive();
        TRecordBuffer Buffer = State() == dsCalcFields ? CalcBuffer() : (IsEmpty() ? nullptr : ActiveBuffer());
        if (Buffer == nullptr) return -1;
        const int Index = IndexOfId(BufferId(Buffer));
        return Index < 0 ? -1 : Index + 1;
    }
    void SetRecNo(int Value) override {
        CheckBrowseMode();
        if (Value == GetRecNo()) return;
        DoBeforeScroll();
        if (Value < 1 || Value > RowCount()) return;
        FCursor = Value - 1;
        Resync({rmCenter});
        DoAfterScroll();
    }
    bool BookmarkValid(const TBookmark& Bookmark) override {
        return Bookmark.size() == 4 && IndexOfId(IdOf(Bookmark)) >= 0;
    }
    int CompareBookmarks(const TBookmark& B1, const TBookmark& B2) override {
        if (B1.empty() && B2.empty()) return 0;
        if (B1.empty()) return 1;
        if (B2.empty()) return -1;
        const std::int32_t A = IdOf(B1), B = IdOf(B2);
        return A > B ? 1 : (A < B ? -1 : 0);
    }

    bool GetFieldData(TField* Field, void* Buffer) override {
        TRecordBuffer RecBuf = ActiveRecBuf();
        if (RecBuf == nullptr) return false;
        if (Field->FieldNo() < 0) {  // calculated: [flag][data] in the calculated area
            const std::uint8_t* P = RecBuf + CalcOffset() + Field->Offset();
            if (P[0] == 0) return false;
            if (Buffer != nullptr) std::memcpy(Buffer, P + 1, static_cast<std::size_t>(Field->DataSize()));
            return true;
        }
        if (Field->FieldNo() == 0) return false;
        const int Column = Field->FieldNo() - 1;
        const bool HasValue = (RecBuf[NullOffset() + Column / 8] & (1u << (Column % 8))) != 0;
        if (HasValue && Buffer != nullptr && !Field->IsBlob())
            std::memcpy(Buffer, RecBuf + SlotOffset(Column), static_cast<std::size_t>(Field->DataSize()));
        return HasValue;
    }
    using TDataSet::GetFieldData;

    void SetFieldData(TField* Field, const void* Buffer) override {
        const TDataSetState S = State();
        if (S != dsEdit && S != dsInsert && S != dsSetKey && S != dsCalcFields && S != dsFilter)
            DatabaseError(fw::SNotEditing, this);
        TRecordBuffer RecBuf = ActiveRecBuf();
        if (RecBuf == nullptr) return;
        Field->Validate(Buffer);
        if (Field->FieldNo() < 0) {
            std::uint8_t* P = RecBuf + CalcOffset() + Field->Offset();
            P[0] = Buffer != nullptr ? 1 : 0;
            if (Buffer != nullptr) std::memcpy(P + 1, Buffer, static_cast<std::size_t>(Field->DataSize()));
        } else if (Field->FieldNo() > 0) {
            const int Column = Field->FieldNo() - 1;
            if (Buffer != nullptr) {
                RecBuf[NullOffset() + Column / 8] |= static_cast<std::uint8_t>(1u << (Column % 8));
                std::memcpy(RecBuf + SlotOffset(Column), Buffer, static_cast<std::size_t>(Field->DataSize()));
            } else {
                RecBuf[NullOffset() + Column / 8] &= static_cast<std::uint8_t>(~(1u << (Column % 8)));
            }
        }
        if (S != dsCalcFields && S != dsFilter) DataEvent(deFieldChange, fw::FieldToInfo(Field));
    }
    using TDataSet::SetFieldData;

    std::unique_ptr<TStream> CreateBlobStream(TField* Field, TBlobStreamMode Mode) override;

protected:
    TRecordBuffer AllocRecordBuffer() override {
        Hook("AllocRecordBuffer");
        auto* Buffer = new std::uint8_t[static_cast<std::size_t>(FRecordSize)]();
        ++LiveBuffers;
        return Buffer;
    }
    void FreeRecordBuffer(TRecordBuffer& Buffer) override {
        Hook("FreeRecordBuffer");
        FreeMemos(Buffer);
        delete[] Buffer;
        Buffer = nullptr;
        --LiveBuffers;
    }
    void GetBookmarkData(TRecordBuffer Buffer, void* Data) override {
        std::memcpy(Data, Buffer + BookmarkOffset(), 4);
    }
    TBookmarkFlag GetBookmarkFlag(TRecordBuffer Buffer) override { return BufferFlag(Buffer); }
    void SetBookmarkFlag(TRecordBuffer Buffer, TBookmarkFlag Value) override {
        Buffer[BookmarkOffset() + 4] = static_cast<std::uint8_t>(Value);
    }
    void SetBookmarkData(TRecordBuffer Buffer, const void* Data) override {
        std::memcpy(Buffer + BookmarkOffset(), Data, 4);
    }
    int GetRecordSize() override { return FRecordSize; }

    TGetResult GetRecord(TRecordBuffer Buffer, TGetMode GetMode, bool DoCheck) override {
        Hook("GetRecord");
        const int Count = RowCount();
        TGetResult Result = grOK;
        switch (GetMode) {
            case gmNext:
                if (FCursor + 1 >= Count) {
                    FCursor = Count;
                    Result = grEOF;
                } else {
                    ++FCursor;
                }
                break;
            case gmPrior:
                if (FCursor - 1 < 0) {
                    FCursor = -1;
                    Result = grBOF;
                } else {
                    --FCursor;
                }
                break;
            case gmCurrent:
                if (FCursor < 0 || FCursor >= Count) Result = grError;
                break;
        }
        std::string Line = std::string("GetRecord(") + GetModeName(GetMode) + ")=" + GetResultName(Result);
        if (Result == grOK) {
            const TRow& Row = FRows[static_cast<std::size_t>(FCursor)];
            FreeMemos(Buffer);
            std::memcpy(Buffer, Row.Data.data(), Row.Data.size());
            for (std::size_t C = 0; C < FColumns.size(); ++C)
                if (FColumns[C].Type == ftMemo && !RowIsNull(FCursor, static_cast<int>(C))) {
                    auto* Text = new std::string(Row.Memos[C]);
                    std::memcpy(Buffer + SlotOffset(static_cast<int>(C)), &Text, sizeof Text);
                }
            ClearCalcFields(Buffer);
            GetCalcFields(Buffer);
            SetBookmarkFlag(Buffer, bfCurrent);
            std::memcpy(Buffer + BookmarkOffset(), &Row.Id, 4);
            Line += ":" + std::to_string(Row.Id);
        }
        Log.push_back(Line);
        if (Result == grError && DoCheck && RaiseOnError) DatabaseError("Invalid record", this);
        return Result;
    }

    void InternalOpen() override {
        Hook("InternalOpen");
        Log.push_back("InternalOpen");
        InternalInitFieldDefs();
        if (DefaultFields()) CreateFields();
        BindFields(true);
        ComputeLayout();
        SetBookmarkSize(4);
        FKeyBuffer = new std::uint8_t[static_cast<std::size_t>(FRecordSize)]();
        FCursorOpen = true;
        FCursor = -1;
    }
    void InternalClose() override {
        Hook("InternalClose");
        Log.push_back("InternalClose");
        FreeKeyBuffer();
        BindFields(false);
        if (DefaultFields()) DestroyFields();
        FCursorOpen = false;
    }
    void InternalInitFieldDefs() override {
        FieldDefs()->Clear();
        for (const TColumn& C : FColumns) {
            TFieldDef* Def = FieldDefs()->Add(C.Name, C.Type, C.Size, C.Required);
            if (C.ReadOnly) Def->SetAttributes(Def->Attributes() + TFieldAttributes{faReadonly});
        }
    }
    void InternalHandleException() override { Log.push_back("InternalHandleException"); }
    void InternalFirst() override {
        Hook("InternalFirst");
        Log.push_back("InternalFirst");
        FCursor = -1;
    }
    void InternalLast() override {
        Hook("InternalLast");
        Log.push_back("InternalLast");
        FCursor = RowCount();
    }
    void InternalSetToRecord(TRecordBuffer Buffer) override {
        Hook("InternalSetToRecord");
        const std::int32_t Id = BufferId(Buffer);
        Log.push_back("InternalSetToRecord(" + std::to_string(Id) + ")");
        FCursor = IndexOfId(Id);
    }
    void InternalGotoBookmark(const TBookmark& Bookmark) override {
        Hook("InternalGotoBookmark");
        const std::int32_t Id = IdOf(Bookmark);
        Log.push_back("InternalGotoBookmark(" + std::to_string(Id) + ")");
        FCursor = IndexOfId(Id);  // -1 when gone: the exact resync then fails
    }
    void InternalInitRecord(TRecordBuffer Buffer) override {
        Log.push_back("InternalInitRecord");
        FreeMemos(Buffer);
        std::memset(Buffer, 0, static_cast<std::size_t>(BookmarkOffset()));
        const std::int32_t None = -1;
        std::memcpy(Buffer + BookmarkOffset(), &None, 4);
    }
    void ClearCalcFields(TRecordBuffer Buffer) override {
        if (CalcFieldsSize() > 0) std::memset(Buffer + CalcOffset(), 0, static_cast<std::size_t>(CalcFieldsSize()));
    }
    void InternalEdit() override {
        Hook("InternalEdit");
        Log.push_back("InternalEdit");
    }
    void InternalInsert() override {
        Hook("InternalInsert");
        Log.push_back("InternalInsert");
    }
    void InternalCancel() override {
        Hook("InternalCancel");
        Log.push_back("InternalCancel");
    }
    void InternalRefresh() override {
        Hook("InternalRefresh");
        Log.push_back("InternalRefresh");
    }
    void InternalPost() override {
        Hook("InternalPost");
        Log.push_back("InternalPost");
        TRecordBuffer Buffer = ActiveBuffer();
        if (State() == dsEdit) {
            const int Index = IndexOfId(BufferId(Buffer));
            if (Index < 0) DatabaseError("Record was deleted", this);
            CopyToRow(Buffer, FRows[static_cast<std::size_t>(Index)]);
            FCursor = Index;
        } else {
            TRow Row;
            Row.Id = FNextId++;
            Row.Data.assign(static_cast<std::size_t>(NullOffset() + NullBytes()), 0);
            Row.Memos.resize(FColumns.size());
            CopyToRow(Buffer, Row);
            int Position = RowCount();
            if (BufferFlag(Buffer) == bfBOF) Position = 0;
            else if (BufferFlag(Buffer) == bfInserted) {
                const int Before = IndexOfId(BufferId(Buffer));
                if (Before >= 0) Position = Before;
            }
            FRows.insert(FRows.begin() + Position, std::move(Row));
            FCursor = Position;
        }
    }
    void InternalDelete() override {
        Hook("InternalDelete");
        Log.push_back("InternalDelete");
        const int Index = IndexOfId(BufferId(ActiveBuffer()));
        if (Index < 0) DatabaseError("Record was deleted", this);
        FRows.erase(FRows.begin() + Index);
        FCursor = Index;  // on the next record, or after the last
    }
    void InternalAddRecord(TRecordBuffer Buffer, bool Append) override {
        Log.push_back(Append ? "InternalAddRecord(append)" : "InternalAddRecord(insert)");
        TRow Row;
        Row.Id = FNextId++;
        Row.Data.assign(static_cast<std::size_t>(NullOffset() + NullBytes()), 0);
        Row.Memos.resize(FColumns.size());
        CopyToRow(Buffer, Row);
        FRows.push_back(std::move(Row));
    }
    bool GetCanModify() override { return !ReadOnlyData; }

    void DoBeforeOpen() override { Event("BeforeOpen"); TDataSet::DoBeforeOpen(); }
    void DoAfterOpen() override { Event("AfterOpen"); TDataSet::DoAfterOpen(); }
    void DoBeforeClose() override { Event("BeforeClose"); TDataSet::DoBeforeClose(); }
    void DoAfterClose() override { Event("AfterClose"); TDataSet::DoAfterClose(); }
    void DoBeforeScroll() override { Event("BeforeScroll"); TDataSet::DoBeforeScroll(); }
    void DoAfterScroll() override { Event("AfterScroll"); TDataSet::DoAfterScroll(); }
    void DoBeforeEdit() override { Event("BeforeEdit"); TDataSet::DoBeforeEdit(); }
    void DoAfterEdit() override { Event("AfterEdit"); TDataSet::DoAfterEdit(); }
    void DoBeforeInsert() override { Event("BeforeInsert"); TDataSet::DoBeforeInsert(); }
    void DoAfterInsert() override { Event("AfterInsert"); TDataSet::DoAfterInsert(); }
    void DoBeforePost() override { Event("BeforePost"); TDataSet::DoBeforePost(); }
    void DoAfterPost() override { Event("AfterPost"); TDataSet::DoAfterPost(); }
    void DoBeforeCancel() override { Event("BeforeCancel"); TDataSet::DoBeforeCancel(); }
    void DoAfterCancel() override { Event("AfterCancel"); TDataSet::DoAfterCancel(); }
    void DoBeforeDelete() override { Event("BeforeDelete"); TDataSet::DoBeforeDelete(); }
    void DoAfterDelete() override { Event("AfterDelete"); TDataSet::DoAfterDelete(); }
    void DoBeforeRefresh() override { Event("BeforeRefresh"); TDataSet::DoBeforeRefresh(); }
    void DoAfterRefresh() override { Event("AfterRefresh"); TDataSet::DoAfterRefresh(); }
    void DoOnNewRecord() override { Event("OnNewRecord"); TDataSet::DoOnNewRecord(); }

public:
    bool RaiseOnError = false;

private:
    friend class TMemBlobStream;
    struct TRow {
        std::int32_t Id = 0;
        std::vector<std::uint8_t> Data;  // data slots and null bits
        std::vector<std::string> Memos;  // memo columns' texts
    };

    void Hook(const std::string& Name) {
        if (OnHook) OnHook(Name);
    }
    void Event(const char* Name) {
        if (LogEvents) Log.push_back(Name);
    }
    static std::int32_t IdOf(const TBookmark& Bookmark) {
        std::int32_t Id = -1;
        if (Bookmark.size() >= 4) std::memcpy(&Id, Bookmark.data(), 4);
        return Id;
    }
    int IndexOfId(std::int32_t Id) const {
        for (std::size_t I = 0; I < FRows.size(); ++I)
            if (FRows[I].Id == Id) return static_cast<int>(I);
        return -1;
    }
    int SlotSize(int Column) const {
        const TColumn& C = FColumns[static_cast<std::size_t>(Column)];
        switch (C.Type) {
            case ftString: return C.Size + 1;
            case ftGuid: return 39;
            case ftSmallint: case ftWord: case ftBoolean: return 2;
            case ftInteger: case ftDate: case ftTime: case ftAutoInc: return 4;
            case ftFloat: case ftDateTime: return 8;
            case ftMemo: case ftBlob: return static_cast<int>(sizeof(std::string*));
            default: return 0;
        }
    }
    int SlotOffset(int Column) const {
        int Offset = 0;
        for (int I = 0; I < Column; ++I) Offset += SlotSize(I);
        return Offset;
    }
    int NullOffset() const { return SlotOffset(static_cast<int>(FColumns.size())); }
    int NullBytes() const { return static_cast<int>((FColumns.size() + 7) / 8); }
    int CalcOffset() const { return NullOffset() + NullBytes(); }
    int BookmarkOffset() const { return CalcOffset() + CalcFieldsSize(); }
    void ComputeLayout() { FRecordSize = BookmarkOffset() + 5; }

    TRecordBuffer ActiveRecBuf() const {
        switch (State()) {
            case dsBrowse: return IsEmpty() ? nullptr : ActiveBuffer();
            case dsEdit:
            case dsInsert: return ActiveBuffer();
            case dsSetKey: return FKeyBuffer;
            case dsCalcFields: return CalcBuffer();
            default: return nullptr;
        }
    }
    // Memo slots are unaligned: read and write the pointer bytewise.
    std::string* GetMemo(TRecordBuffer Buffer, int Column) const {
        std::string* Text;
        std::memcpy(&Text, Buffer + SlotOffset(Column), sizeof Text);
        return Text;
    }
    void SetMemo(TRecordBuffer Buffer, int Column, std::string* Text) const {
        std::memcpy(Buffer + SlotOffset(Column), &Text, sizeof Text);
    }
    void FreeMemos(TRecordBuffer Buffer) {
        if (Buffer == nullptr) return;
        for (std::size_t C = 0; C < FColumns.size(); ++C) {
            if (FColumns[C].Type != ftMemo) continue;
            std::string* Text;
            std::memcpy(&Text, Buffer + SlotOffset(static_cast<int>(C)), sizeof Text);
            delete Text;
            std::memset(Buffer + SlotOffset(static_cast<int>(C)), 0, sizeof Text);
        }
    }
    void FreeKeyBuffer() {
        if (FKeyBuffer == nullptr) return;
        delete[] FKeyBuffer;
        FKeyBuffer = nullptr;
    }
    void CopyToRow(TRecordBuffer Buffer, TRow& Row) {
        std::memcpy(Row.Data.data(), Buffer, Row.Data.size());
        for (std::size_t C = 0; C < FColumns.size(); ++C) {
            if (FColumns[C].Type != ftMemo) continue;
            std::string* Text;
            std::memcpy(&Text, Buffer + SlotOffset(static_cast<int>(C)), sizeof Text);
            Row.Memos[C] = Text != nullptr ? *Text : std::string();
            std::memset(Row.Data.data() + SlotOffset(static_cast<int>(C)), 0, sizeof Text);
        }
    }
    void StoreNative(TRow& Row, std::size_t Column, const TVarRec& Value) {
        const TColumn& C = FColumns[Column];
        if (Value.Kind() == TVarRec::vtPointer) return;  // null
        std::uint8_t* Slot = Row.Data.data() + SlotOffset(static_cast<int>(Column));
        switch (C.Type) {
            case ftString:
            case ftGuid: {
                const std::string& S = Value.AsString();
                std::memcpy(Slot, S.data(), std::min<std::size_t>(S.size(), static_cast<std::size_t>(SlotSize(static_cast<int>(Column)) - 1)));
                break;
            }
            case ftMemo:
                Row.Memos[Column] = Value.AsString();
                break;
            case ftSmallint:
            case ftWord:
            case ftBoolean: {
                const auto V = static_cast<std::uint16_t>(Value.AsInt64());
                std::memcpy(Slot, &V, 2);
                break;
            }
            case ftInteger:
            case ftDate:
            case ftTime:
            case ftAutoInc: {
                const auto V = static_cast<std::int32_t>(Value.AsInt64());
                std::memcpy(Slot, &V, 4);
                break;
            }
            case ftFloat:
            case ftDateTime: {
                const double V = Value.Kind() == TVarRec::vtExtended ? Value.AsFloat() : static_cast<double>(Value.AsInt64());
                std::memcpy(Slot, &V, 8);
                break;
            }
            default:
                return;
        }
        Row.Data[static_cast<std::size_t>(NullOffset()) + Column / 8] |= static_cast<std::uint8_t>(1u << (Column % 8));
    }

    std::vector<TColumn> FColumns;
    std::vector<TRow> FRows;
    std::int32_t FNextId = 1;
    int FCursor = -1;
    int FRecordSize = 0;
    bool FCursorOpen = false;
    TRecordBuffer FKeyBuffer = nullptr;
};

// The blob stream of TMemDataSet: filled from the memo text of the active
// buffer; in write modes it writes its content back when destroyed.
class TMemBlobStream : public TMemoryStream {
public:
    TMemBlobStream(TMemDataSet* DataSet, TField* Field, TBlobStreamMode Mode)
        : FDataSet(DataSet), FField(Field), FMode(Mode) {
        FBuffer = DataSet->ActiveRecBuf();
        if (FBuffer == nullptr || Field->FieldNo() < 1) return;
        if (Mode != bmWrite) {
            std::string* Text = DataSet->GetMemo(FBuffer, Field->FieldNo() - 1);
            if (Text != nullptr && !Text->empty()) {
                WriteString(*Text);
                SetPosition(0);
            }
        }
    }
    ~TMemBlobStream() override {
        if (FMode == bmRead || FBuffer == nullptr || FField->FieldNo() < 1) return;
        if (FMode == bmWrite) SetSize(Position());
        const int Column = FField->FieldNo() - 1;
        delete FDataSet->GetMemo(FBuffer, Column);
        FDataSet->SetMemo(FBuffer, Column, nullptr);
        FDataSet->SetMemo(FBuffer, Column,
                          new std::string(static_cast<const char*>(Memory()), static_cast<std::size_t>(Size())));
        if (Size() > 0) FBuffer[FDataSet->NullOffset() + Column / 8] |= static_cast<std::uint8_t>(1u << (Column % 8));
        else FBuffer[FDataSet->NullOffset() + Column / 8] &= static_cast<std::uint8_t>(~(1u << (Column % 8)));
        if (auto* Blob = dynamic_cast<TBlobField*>(FField)) Blob->SetModified(true);
        try {
            FDataSet->DataEvent(deFieldChange, fw::FieldToInfo(FField));
        } catch (...) {
        }
    }

private:
    TMemDataSet* FDataSet;
    TField* FField;
    TBlobStreamMode FMode;
    TRecordBuffer FBuffer = nullptr;
};

inline std::unique_ptr<TStream> TMemDataSet::CreateBlobStream(TField* Field, TBlobStreamMode Mode) {
    return std::make_unique<TMemBlobStream>(this, Field, Mode);
}

// A data link that records every notification and reaction.
class TRecordingLink : public TDataLink {
public:
    std::vector<std::string> Events;
    std::vector<std::string> Reactions;

    void Clear() {
        Events.clear();
        Reactions.clear();
    }
    std::string JoinedEvents() const { return Join(Events); }
    std::string JoinedReactions() const { return Join(Reactions); }
    bool Saw(const std::string& Event) const {
        for (const auto& E : Events)
            if (E == Event) return true;
        return false;
    }

protected:
    void DataEvent(TDataEvent Event, std::intptr_t Info) override {
        std::string Line = DataEventName(Event);
        if (Event == deDataSetScroll) Line += "(" + std::to_string(Info) + ")";
        if (Event == deFieldChange && fw::InfoToField(Info) != nullptr) Line += "(" + fw::InfoToField(Info)->FieldName() + ")";
        Events.push_back(Line);
        TDataLink::DataEvent(Event, Info);
    }
    void ActiveChanged() override { Reactions.push_back(std::string("ActiveChanged(") + (Active() ? "1" : "0") + ")"); }
    void CheckBrowseMode() override { Reactions.push_back("CheckBrowseMode"); }
    void DataSetChanged() override { Reactions.push_back("DataSetChanged"); }
    void DataSetScrolled(int Distance) override { Reactions.push_back("DataSetScrolled(" + std::to_string(Distance) + ")"); }
    void EditingChanged() override { Reactions.push_back(std::string("EditingChanged(") + (Editing() ? "1" : "0") + ")"); }
    void FocusControl(TField** Field) override {
        Reactions.push_back("FocusControl(" + ((Field && *Field) ? (*Field)->FieldName() : std::string()) + ")");
    }
    void LayoutChanged() override { Reactions.push_back("LayoutChanged"); }
    void RecordChanged(TField* Field) override {
        Reactions.push_back("RecordChanged(" + (Field ? Field->FieldName() : std::string()) + ")");
    }
    void UpdateData() override { Reactions.push_back("UpdateData"); }

private:
    static std::string Join(const std::vector<std::string>& V) {
        std::string S;
        for (const auto& L : V) {
            if (!S.empty()) S += ' ';
            S += L;
        }
        return S;
    }
};

// A dataset of N rows with columns ID (integer, = 1..N) and NAME (string 10).
inline void AddNumberRows(TMemDataSet& DataSet, int N) {
    DataSet.AddColumn("ID", ftInteger);
    DataSet.AddColumn("NAME", ftString, 10);
    for (int I = 1; I <= N; ++I) DataSet.AddRow({I, "N" + std::to_string(I)});
}

}  // namespace fw::test
