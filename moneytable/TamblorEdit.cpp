// TMoneyTable: editing and posting. A value is stored into the record
// buffer when it is assigned and written to the engine only when the record
// is posted, between AddRecord or EditRecord and PostRecord; an edit holds
// the engine's record lock from Edit to Post or Cancel.
#include "moneytable/Tamblor.h"

#include <cstring>

void TMoneyTable::AllocModifiedFieldArray() {
    FModifiedFieldArray.reset();
    const int Count = FieldDefs()->Count();
    if (Count <= 0) return;
    FModifiedFieldArray = std::make_unique<std::uint8_t[]>(static_cast<std::size_t>((Count - 1) / 8 + 1));
}

void TMoneyTable::InternalEdit() {
    std::int32_t Status = 0;
    OleCheck(FEngineTable->LockRecord(&Status));
    CheckError(Status);
    // With the lock held nobody else can change the record: read it afresh,
    // so that the values edited and posted back are the ones now stored and
    // not those of the window's earlier read (which another user may have
    // changed since). Positioning again is what makes the engine see them.
    try {
        FAtEof = false;
        FAtBof = false;
        OleCheck(FEngineTable->MoveToRecord(BufferRecNo(ActiveBuffer()), &Status));
        if (Status != 0) {
            CheckError(Status);
            DatabaseError(fw::SRecordNotFound, this);
        }
        ReadRecord(ActiveBuffer());
    } catch (...) {
        std::int32_t Ignored = 0;
        FEngineTable->UnlockRecord(&Ignored);
        throw;
    }
    AllocModifiedFieldArray();
}

void TMoneyTable::InternalInsert() { AllocModifiedFieldArray(); }

void TMoneyTable::InternalAddRecord(TRecordBuffer, bool) {}

void TMoneyTable::SetFieldData(TField* Field, const void* Buffer) {
    if (Field->FieldNo() < 1) return;
    switch (State()) {
        case dsEdit:
        case dsInsert:
        case dsSetKey:
        case dsCalcFields:
        case dsFilter:
        case dsNewValue:
        case dsInternalCalc: break;
        default: DatabaseError(fw::SNotEditing, this);
    }
    TRecordBuffer RecBuf = nullptr;
    if (!GetActiveRecBuf(RecBuf)) return;
    SetNull(RecBuf, Field, Buffer == nullptr);
    if (Buffer) {
        if (std::uint8_t* Slot = GetDataPtr(RecBuf, Field)) {
            std::memcpy(Slot, Buffer, static_cast<std::size_t>(Field->DataSize()));
            if ((State() == dsEdit || State() == dsInsert) && FModifiedFieldArray)
                SetBit(FModifiedFieldArray.get(), Field->FieldNo() - 1, true);
        }
    }
    DataEvent(deFieldChange, fw::FieldToInfo(Field));
}

void TMoneyTable::InternalPost() {
    const bool Inserting = State() == dsInsert;
    if (Inserting) {
        OleCheck(FEngineTable->AddRecord());
    } else {
        std::int32_t Ignored = 0;
        OleCheck(FEngineTable->EditRecord(&Ignored));
    }
    TRecordBuffer RecBuf = ActiveBuffer();
    for (TField* F : Fields()->List()) {
        if (F->FieldNo() < 1) continue;
        if (FModifiedFieldArray && !GetBit(FModifiedFieldArray.get(), F->FieldNo() - 1)) continue;
        if (FieldDefs()->Items(F->FieldNo() - 1)->Attributes().Contains(faReadonly)) continue;
        if (!IsFieldAccesable(F)) continue;
        if (F->IsBlob() && !static_cast<TBlobField*>(F)->Modified()) continue;

        const OleVariant& Column = FColumnNames[static_cast<std::size_t>(F->FieldNo())];
        const OleVariant Value = GetFieldAsOleVariant(RecBuf, F, false);
        const TColumnDesc* Desc = ColumnDescOf(F);
        if (F->DataType() == ftGuid)
            OleCheck(FEngineTable->SetGuidValue(Column, Value.ToWide()));
        else if (Desc && Desc->TypeLetter == 'U')
            OleCheck(FEngineTable->SetWideValue(Column, Value.ToWide()));
        else
            OleCheck(FEngineTable->SetColumnValue(Column, Value));
    }
    std::int32_t Status = 0;
    OleCheck(FEngineTable->PostRecord(&Status));
    CheckError(Status);
    if (!Inserting) {
        OleCheck(FEngineTable->UnlockRecord(&Status));
        CheckError(Status);
    }
}

void TMoneyTable::InternalCancel() {
    FModifiedFieldArray.reset();
    if (State() == dsEdit) {
        std::int32_t Status = 0;
        OleCheck(FEngineTable->UnlockRecord(&Status));
        CheckError(Status);
    }
}

void TMoneyTable::InternalDelete() {
    // Nothing in the framework's Delete asks whether the table may be
    // changed; a read-only table refuses it here, before the engine is asked.
    if (FReadOnly) DatabaseError(fw::SDataSetReadOnly, this);
    InternalSetToRecord(ActiveBuffer());
    std::int32_t Status = 0;
    OleCheck(FEngineTable->DeleteRecord(&Status));
    CheckError(Status);
}

int TMoneyTable::GetAutoIncValue(TField* Field) {
    CheckActive();
    std::int32_t Value = 0;
    OleCheck(FEngineTable->NextAutoIncValue(OleVariant(Utf8ToWide(Field->FieldName())), &Value));
    return CheckError(Value);
}

void TMoneyTable::SetAutoInc(TField* Field) { Field->SetAsInteger(GetAutoIncValue(Field)); }
