// TMoneyTable: indexes, index fields, key buffers and key search; ranges and
// master-detail links.
//
// FIRST VERSION, to be completed by the owner of this file: the key buffer
// allocation, the trailer access and the two list functions below are what
// opening and closing a table need; the functions marked "placeholder" only
// raise until they are written.
#include "moneytable/Tamblor.h"

#include <cstring>

namespace {
[[noreturn]] void NotYet(const char* What) { DatabaseError(std::string(What) + " is not available yet"); }
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
    int I = Pos;
    const int Len = static_cast<int>(Fields.size());
    while (I <= Len && Fields[static_cast<std::size_t>(I - 1)] != ';') ++I;
    std::string Result = Pos <= Len ? Fields.substr(static_cast<std::size_t>(Pos - 1), static_cast<std::size_t>(I - Pos)) : std::string();
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

// ---------------------------------------------------------------- placeholders

void TMoneyTable::SetIndexFieldNames(const std::string& Value) {
    if (!Active()) {
        FIndexFieldNames = Value;
        return;
    }
    NotYet("SetIndexFieldNames on an open table");  // placeholder
}
void TMoneyTable::GetIndexNames(TStrings*) { NotYet("GetIndexNames"); }  // placeholder
void TMoneyTable::UpdateIndexDefs() { NotYet("UpdateIndexDefs"); }       // placeholder
bool TMoneyTable::GetIsIndexField(TField*) { return false; }             // placeholder
int TMoneyTable::GetIndexFieldCount() { NotYet("GetIndexFieldCount"); }  // placeholder
TField* TMoneyTable::GetIndexField(int) { NotYet("GetIndexField"); }     // placeholder
void TMoneyTable::SetIndexField(int, TField*) { NotYet("SetIndexField"); }  // placeholder
void TMoneyTable::SetKey() { SetKeyBuffer(mkiLookup, true); }
void TMoneyTable::EditKey() { SetKeyBuffer(mkiLookup, false); }
void TMoneyTable::SetKeyBuffer(TMKeyIndex, bool) { NotYet("SetKeyBuffer"); }  // placeholder
void TMoneyTable::PostKeyBuffer(bool) { NotYet("PostKeyBuffer"); }            // placeholder
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
void TMoneyTable::SetKeyFields(TMKeyIndex, const std::vector<TVarRec>&) { NotYet("SetKeyFields"); }  // placeholder
bool TMoneyTable::GotoKey() { NotYet("GotoKey"); }                                                     // placeholder
int TMoneyTable::GotoNearest() { NotYet("GotoNearest"); }                                              // placeholder
bool TMoneyTable::FindKey(const std::vector<TVarRec>&) { NotYet("FindKey"); }                          // placeholder
int TMoneyTable::FindNearest(const std::vector<TVarRec>&) { NotYet("FindNearest"); }                   // placeholder
int TMoneyTable::BFSeek(TRecordBuffer) { NotYet("BFSeek"); }                                           // placeholder

void TMoneyTable::SetRangeStart() { SetKeyBuffer(mkiRangeStart, true); }
void TMoneyTable::SetRangeEnd() { SetKeyBuffer(mkiRangeEnd, true); }
void TMoneyTable::EditRangeStart() { SetKeyBuffer(mkiRangeStart, false); }
void TMoneyTable::EditRangeEnd() { SetKeyBuffer(mkiRangeEnd, false); }
void TMoneyTable::ApplyRange() { ApplyFiltering(true); }
void TMoneyTable::SetRange(const std::vector<TVarRec>&, const std::vector<TVarRec>&) { NotYet("SetRange"); }  // placeholder
void TMoneyTable::CancelRange() { SetRange({}, {}); }
TDataSource* TMoneyTable::GetDataSource() { return FMasterLink->DataSource(); }
void TMoneyTable::SetDataSource(TDataSource*) { NotYet("SetDataSource"); }  // placeholder
std::string TMoneyTable::GetMasterFields() const { return FMasterLink->FieldNames(); }
void TMoneyTable::SetMasterFields(const std::string& Value) { FMasterLink->SetFieldNames(Value); }
int TMoneyTable::GetMasterFieldCount() {
    return FMasterLink->Active() ? static_cast<int>(FMasterLink->Fields().size()) : 0;
}
void TMoneyTable::MasterChanged(TObject*) { NotYet("MasterChanged"); }  // placeholder
void TMoneyTable::MasterDisabled(TObject*) { ApplyFiltering(true); }
void TMoneyTable::SetLinkRanges(const std::vector<TField*>&) { NotYet("SetLinkRanges"); }  // placeholder
void TMoneyTable::DoOnNewRecord() { TDataSet::DoOnNewRecord(); }                          // placeholder: master values

std::string moStrToKey(const std::string&, int) { NotYet("moStrToKey"); }  // placeholder
std::string moCZUpperCase(const std::string&) { NotYet("moCZUpperCase"); }  // placeholder
std::string moCZLowerCase(const std::string&) { NotYet("moCZLowerCase"); }  // placeholder
