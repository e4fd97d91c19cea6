// TMoneyTable's memo streams: TMoneyBlobStream copies a memo value out of a
// record buffer when it is created and writes its whole content back when it
// is destroyed; the post sends it to the engine.
#include "moneytable/Tamblor.h"

#include <cstring>

namespace {

std::string* ReadBlobRef(const std::uint8_t* Slot) {
    std::string* S;
    std::memcpy(&S, Slot, sizeof S);
    return S;
}

void WriteBlobRef(std::uint8_t* Slot, std::string* S) { std::memcpy(Slot, &S, sizeof S); }

}  // namespace

std::unique_ptr<TStream> TMoneyTable::CreateBlobStream(TField* Field, TBlobStreamMode Mode) {
    auto* Blob = dynamic_cast<TBlobField*>(Field);
    if (!Blob) throw EInvalidCast();
    return std::make_unique<TMoneyBlobStream>(Blob, Mode);
}

void TMoneyTable::CloseBlob(TField*) {}

TMoneyBlobStream::TMoneyBlobStream(TBlobField* Field, TBlobStreamMode Mode) : FMode(Mode), FField(Field) {
    FTable = dynamic_cast<TMoneyTable*>(Field->DataSet());
    if (!FTable) throw EInvalidCast();
    FTable->GetActiveRecBuf(FRecBuf);
    // A key buffer is copied as a whole (to save and restore a key), so it
    // holds no memo text of its own: a memo stream in the key state stays
    // empty and writes nothing back.
    if (FRecBuf && FTable->IsKeyBuffer(FRecBuf)) FRecBuf = nullptr;
    if (!FRecBuf || !FTable->IsFieldAccesable(Field)) return;
    if (FMode == bmRead || FMode == bmReadWrite) {
        if (FTable->IsEmpty() || FTable->IsNull(FRecBuf, Field)) return;
        const std::uint8_t* Slot = FTable->GetDataPtr(FRecBuf, Field);
        if (!Slot) return;
        const std::string* Text = ReadBlobRef(Slot);
        if (!Text || Text->empty()) return;
        WriteBuffer(Text->data(), static_cast<std::int64_t>(Text->size()));
        SetPosition(0);
    }
}

TMoneyBlobStream::~TMoneyBlobStream() {
    try {
        if (FMode == bmWrite) SetSize(Position());
        if ((FMode == bmWrite || FMode == bmReadWrite) && FRecBuf && FTable->IsFieldAccesable(FField)) {
            if (std::uint8_t* Slot = FTable->GetDataPtr(FRecBuf, FField)) {
                auto Text = std::make_unique<std::string>(static_cast<std::size_t>(Size()), '\0');
                if (!Text->empty()) std::memcpy(Text->data(), Memory(), Text->size());
                delete ReadBlobRef(Slot);
                WriteBlobRef(Slot, Text.release());
                FTable->SetNull(FRecBuf, FField, Size() == 0);
                if (FTable->FModifiedFieldArray)
                    TMoneyTable::SetBit(FTable->FModifiedFieldArray.get(), FField->FieldNo() - 1, true);
                FField->SetModified(true);
                try {
                    FTable->DataEvent(deFieldChange, fw::FieldToInfo(FField));
                } catch (...) {
                    moneytable::ApplicationHandleException(FTable);
                }
            }
        }
    } catch (...) {
        moneytable::ApplicationHandleException(FTable);
    }
}
