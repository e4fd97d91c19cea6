// Undo of the browser window's latest changes; see UndoLog.h.
#include "browser/UndoLog.h"

#include "moneytable/Tamblor.h"

namespace browser {

namespace {

// The fields whose values a change is made of: data fields a client writes.
bool Noted(TField* Field) {
    return Field->FieldKind() == fkData && Field->FieldNo() >= 1 && !Field->ReadOnly();
}

// Text fields are kept as text: the bytes of their slot after the text's end
// are no part of the value.
bool KeptAsText(TField* Field) {
    return Field->IsBlob() || Field->DataType() == ftString || Field->DataType() == ftGuid;
}

// Noting a change never fails the operation noted, which has succeeded or
// is under way: a change that cannot be noted is one that cannot be taken
// back, nothing more.
template <class F>
void Quietly(F&& Note) noexcept {
    try {
        Note();
    } catch (...) {
    }
}

const char* ChangeName(TChangeKind Kind) {
    switch (Kind) {
        case TChangeKind::Edit: return "change";
        case TChangeKind::Insert: return "insert";
        case TChangeKind::Delete: return "delete";
    }
    return "change";
}

}  // namespace

TUndoLog::TUndoLog(TMoneyTable* Table) : FTable(Table) {
    FTable->AfterEdit = [this](TDataSet* D) {
        FPending.reset();
        Quietly([&] { FPending = TEntry{TChangeKind::Edit, D->RecNo(), Capture(D), {}}; });
    };
    FTable->BeforePost = [this](TDataSet* D) {
        if (D->State() == dsInsert) FPending = TEntry{TChangeKind::Insert, 0, {}, {}};
    };
    FTable->AfterPost = [this](TDataSet* D) {
        if (!FPending || FPending->Kind == TChangeKind::Delete) return;
        TEntry Entry = std::move(*FPending);
        FPending.reset();
        Quietly([&] {
            // The table stands on the record just posted.
            if (Entry.Kind == TChangeKind::Insert) Entry.RecNo = D->RecNo();
            else if (D->RecNo() != Entry.RecNo) return;
            Entry.New = Capture(D);
            if (Entry.Kind == TChangeKind::Edit && Entry.New == Entry.Old) return;
            Note(std::move(Entry));
        });
    };
    FTable->AfterCancel = [this](TDataSet*) { FPending.reset(); };
    FTable->BeforeDelete = [this](TDataSet* D) {
        FPending.reset();
        Quietly([&] { FPending = TEntry{TChangeKind::Delete, D->RecNo(), Capture(D), {}}; });
    };
    FTable->AfterDelete = [this](TDataSet*) {
        if (!FPending || FPending->Kind != TChangeKind::Delete) return;
        Quietly([&] { Note(std::move(*FPending)); });
        FPending.reset();
    };
}

TUndoLog::~TUndoLog() {
    FTable->AfterEdit = nullptr;
    FTable->BeforePost = nullptr;
    FTable->AfterPost = nullptr;
    FTable->AfterCancel = nullptr;
    FTable->BeforeDelete = nullptr;
    FTable->AfterDelete = nullptr;
}

void TUndoLog::Clear() noexcept {
    FEntries.clear();
    FPending.reset();
}

int TUndoLog::RecordToDelete() const noexcept {
    return !FEntries.empty() && FEntries.back().Kind == TChangeKind::Insert ? FEntries.back().RecNo : 0;
}

void TUndoLog::Note(TEntry Entry) {
    FEntries.push_back(std::move(Entry));
    if (FEntries.size() > MaxEntries) FEntries.pop_front();
}

TUndoLog::TValues TUndoLog::Capture(TDataSet* DataSet) {
    TValues Values;
    for (TField* F : DataSet->Fields()->List()) {
        if (!Noted(F)) continue;
        TValue V;
        if (KeptAsText(F)) {
            V.Null = F->IsNull();
            if (!V.Null) V.Data = F->AsString();
        } else {
            V.Data.assign(static_cast<std::size_t>(F->DataSize()), '\0');
            V.Null = !F->GetData(V.Data.data());
            if (V.Null) V.Data.clear();
        }
        Values.emplace_back(F->FieldName(), std::move(V));
    }
    return Values;
}

void TUndoLog::Restore(TDataSet* DataSet, const TValues& Values) {
    for (const auto& [Name, V] : Values) {
        TField* F = DataSet->FieldByName(Name);
        if (V.Null) F->Clear();
        else if (KeptAsText(F)) F->SetAsString(V.Data);
        else F->SetData(V.Data.data());
    }
}

bool TUndoLog::Holds(TDataSet* DataSet, const TValues& Values) {
    return Capture(DataSet) == Values;
}

void TUndoLog::Refuse(const TEntry& Entry, const char* Cause) {
    const std::string Message = Format("Cannot undo the %s of record %d of table '%s': another user has %s it since",
                                       {ChangeName(Entry.Kind), Entry.RecNo, FTable->FileName(), Cause});
    FEntries.pop_back();
    throw EUndoError(Message);
}

std::optional<TUndone> TUndoLog::Undo() {
    if (FEntries.empty()) return std::nullopt;
    const TEntry& Entry = FEntries.back();
    TUndone Done{Entry.Kind, Entry.RecNo, Entry.RecNo};

    // The table object of the undo: all records, in record order.
    TMoneyTable Other(nullptr);
    Other.SetFileName(FTable->FileName());
    Other.Open();
    if (Entry.Kind == TChangeKind::Delete) {
        Other.Append();
        try {
            Restore(&Other, Entry.Old);
            Other.Post();
        } catch (...) {
            Other.Cancel();
            throw;
        }
        Done.NewRecNo = Other.RecNo();
    } else {
        Other.SetRecNo(Entry.RecNo);
        if (Other.IsEmpty() || Other.RecNo() != Entry.RecNo) Refuse(Entry, "deleted");
        // Edit holds the record's lock and reads it afresh.
        Other.Edit();
        try {
            if (!Holds(&Other, Entry.New)) Refuse(Entry, "changed");
            if (Entry.Kind == TChangeKind::Edit) {
                Restore(&Other, Entry.Old);
                Other.Post();
            } else {
                Other.Delete();
            }
        } catch (...) {
            Other.Cancel();
            throw;
        }
    }
    Other.Close();
    FEntries.pop_back();
    // An earlier change of the record deleted and inserted again concerns
    // the record under its new number.
    for (TEntry& Earlier : FEntries)
        if (Earlier.RecNo == Done.RecNo) Earlier.RecNo = Done.NewRecNo;
    return Done;
}

}  // namespace browser
