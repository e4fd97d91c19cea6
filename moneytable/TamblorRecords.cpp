// TMoneyTable: the record buffer, bookmarks, reading records from the
// engine, navigation, record numbers, field data access and the conversion
// of stored values into the engine's variants.
#include "moneytable/Tamblor.h"

#include <cmath>
#include <cstring>

namespace {

std::int32_t ReadInt32(const std::uint8_t* P) {
    std::int32_t V;
    std::memcpy(&V, P, sizeof V);
    return V;
}

void WriteInt32(std::uint8_t* P, std::int32_t V) { std::memcpy(P, &V, sizeof V); }

std::string* ReadBlobRef(const std::uint8_t* Slot) {
    std::string* S;
    std::memcpy(&S, Slot, sizeof S);
    return S;
}

void WriteBlobRef(std::uint8_t* Slot, std::string* S) { std::memcpy(Slot, &S, sizeof S); }

}  // namespace

// ---------------------------------------------------------------- buffers

int TMoneyTable::GetRecordSize() { return static_cast<Word>(FBookmarkOffset + 5); }

TRecordBuffer TMoneyTable::AllocRecordBuffer() {
    // Zeroed first, so that the initialisation below finds no memo reference.
    TRecordBuffer Buffer = new std::uint8_t[static_cast<std::size_t>(GetRecordSize())]();
    InternalInitRecord(Buffer);
    return Buffer;
}

void TMoneyTable::FreeRecordBuffer(TRecordBuffer& Buffer) {
    if (!Buffer) return;
    ReleaseBlobs(Buffer);
    delete[] Buffer;
    Buffer = nullptr;
}

void TMoneyTable::ReleaseBlobs(TRecordBuffer Buffer) {
    for (TField* F : FBlobSlotFields) {
        std::uint8_t* Slot = GetDataPtr(Buffer, F);
        delete ReadBlobRef(Slot);
        WriteBlobRef(Slot, nullptr);
    }
}

void TMoneyTable::InternalInitRecord(TRecordBuffer Buffer) {
    // A buffer that is initialised for a new record may still hold the memo
    // texts of the record it held before; they are its own, so they are
    // released here rather than lost.
    ReleaseBlobs(Buffer);
    std::memset(Buffer, 0, FBookmarkOffset);
    WriteInt32(Buffer + FBookmarkOffset, -1);
}

TBookmarkFlag TMoneyTable::GetBookmarkFlag(TRecordBuffer Buffer) {
    return static_cast<TBookmarkFlag>(Buffer[FBookmarkOffset + 4]);
}

void TMoneyTable::SetBookmarkFlag(TRecordBuffer Buffer, TBookmarkFlag Value) {
    Buffer[FBookmarkOffset + 4] = static_cast<std::uint8_t>(Value);
}

void TMoneyTable::GetBookmarkData(TRecordBuffer Buffer, void* Data) { std::memcpy(Data, Buffer + FBookmarkOffset, 4); }

void TMoneyTable::SetBookmarkData(TRecordBuffer Buffer, const void* Data) {
    std::memcpy(Buffer + FBookmarkOffset, Data, 4);
}

std::int32_t TMoneyTable::BufferRecNo(TRecordBuffer Buffer) const { return ReadInt32(Buffer + FBookmarkOffset); }

int TMoneyTable::CompareBookmarks(const TBookmark& Bookmark1, const TBookmark& Bookmark2) {
    // A bookmark shorter than a record number counts as none.
    const bool None1 = Bookmark1.size() < 4, None2 = Bookmark2.size() < 4;
    if (None1 && None2) return 0;
    if (None1) return 1;
    if (None2) return -1;
    const std::int32_t R1 = ReadInt32(Bookmark1.data()), R2 = ReadInt32(Bookmark2.data());
    return R1 > R2 ? 1 : (R1 < R2 ? -1 : 0);
}

// ---------------------------------------------------------------- navigation

void TMoneyTable::GotoRecNo(std::int32_t RecNo) {
    std::int32_t Status = 0;
    OleCheck(FEngineTable->MoveToRecord(RecNo, &Status));
    CheckError(Status);
}

void TMoneyTable::InternalGotoBookmark(const TBookmark& Bookmark) {
    if (Bookmark.size() < 4) DatabaseError(fw::SRecordNotFound, this);
    GotoRecNo(ReadInt32(Bookmark.data()));
}

void TMoneyTable::InternalSetToRecord(TRecordBuffer Buffer) {
    FAtEof = false;
    FAtBof = false;
    GotoRecNo(BufferRecNo(Buffer));
}

void TMoneyTable::InternalRefresh() {
    // The engine shows what others posted at its next positioning; the
    // framework's refresh re-reads the record the cursor already stands on,
    // so the cursor is positioned on it once more first. A record that is
    // gone is left to the resynchronisation that follows.
    if (IsEmpty()) return;
    FAtEof = false;
    FAtBof = false;
    std::int32_t Status = 0;
    OleCheck(FEngineTable->MoveToRecord(BufferRecNo(ActiveBuffer()), &Status));
}

void TMoneyTable::InternalFirst() {
    std::int32_t Status = 0;
    OleCheck(FEngineTable->MoveFirst(&Status));
    CheckError(Status);
    FAtBof = true;
}

void TMoneyTable::InternalLast() {
    std::int32_t Status = 0;
    OleCheck(FEngineTable->MoveLast(&Status));
    CheckError(Status);
    FAtEof = true;
}

int TMoneyTable::GetRecordCount() {
    if (!FEngineTable) DatabaseError(fw::SDataSetClosed, this);
    std::int32_t Count = 0;
    OleCheck(FEngineTable->CountRecords(&Count));
    return Count;
}

int TMoneyTable::GetRecNo() {
    CheckActive();
    TRecordBuffer Buffer = State() == dsCalcFields ? CalcBuffer() : ActiveBuffer();
    return Buffer ? BufferRecNo(Buffer) : -1;
}

void TMoneyTable::SetRecNo(int Value) {
    CheckBrowseMode();
    if (Value == GetRecNo()) return;
    DoBeforeScroll();
    std::int32_t Status = 0;
    OleCheck(FEngineTable->MoveToRecord(Value, &Status));
    if (Status != 0) return;
    Resync(TResyncMode{rmCenter});
    DoAfterScroll();
}

TGetResult TMoneyTable::GetRecord(TRecordBuffer Buffer, TGetMode GetMode, bool DoCheck) {
    TGetResult Result = grOK;
    if (GetRecordCount() <= 0) {
        Result = grEOF;
    } else {
        std::int32_t Status = 0;
        WordBool Flag = VARIANT_FALSE;
        switch (GetMode) {
            case gmNext:
                if (!FAtBof) {
                    OleCheck(FEngineTable->MoveNext(&Status));
                    if (Status != 0) Result = grError;
                }
                OleCheck(FEngineTable->GetEof(&Flag));
                if (Flag) Result = grEOF;
                break;
            case gmPrior:
                if (!FAtEof) {
                    OleCheck(FEngineTable->MovePrior(&Status));
                    if (Status != 0) Result = grError;
                }
                OleCheck(FEngineTable->GetBof(&Flag));
                if (Flag) Result = grBOF;
                break;
            case gmCurrent:
                OleCheck(FEngineTable->GetEof(&Flag));
                if (Flag) {
                    OleCheck(FEngineTable->GetBof(&Flag));
                    if (Flag) Result = grError;
                }
                break;
        }
        if (Result == grOK) ReadRecord(Buffer);
    }
    if (Result == grError && DoCheck) BFError(SBFInvalidRecord);
    FAtBof = Result == grBOF;
    FAtEof = Result == grEOF;
    return Result;
}

void TMoneyTable::ReadRecord(TRecordBuffer Buffer) {
    ReleaseBlobs(Buffer);
    InternalInitRecord(Buffer);
    for (TField* F : Fields()->List()) {
        std::uint8_t* Slot = GetDataPtr(Buffer, F);
        if (!Slot) continue;
        OleVariant& Value = FReadValues[static_cast<std::size_t>(F->FieldNo())];
        const TReadKind Kind = FReadKinds[static_cast<std::size_t>(F->FieldNo())];
        if (Kind == TReadKind::None) {
            // A repeated column name: the engine cannot address this column.
            Value.Clear();
        } else if (Kind == TReadKind::RecNo) {
            std::int32_t Number = 0;
            OleCheck(FEngineTable->GetRecordNumber(&Number));
            Value = OleVariant(Number);
        } else {
            const OleVariant& Column = FColumnNames[static_cast<std::size_t>(F->FieldNo())];
            try {
                if (Kind == TReadKind::Guid) {
                    OleCheck(FEngineTable->GetGuidValue(Column, &Value.ResetText()));
                } else if (Kind == TReadKind::Wide) {
                    OleCheck(FEngineTable->GetWideValue(Column, &Value.ResetText()));
                } else {
                    OleCheck(FEngineTable->GetColumnValue(Column, &Value));
                }
            } catch (const std::exception&) {
                Value.Clear();
            }
            std::int32_t Ignored = 0;
            OleCheck(FEngineTable->GetLastStatus(&Ignored));
        }
        bool HasValue = !Value.IsEmpty();
        // The value as text (UTF-8), without a copy when it is a text.
        auto AsText = [&]() -> std::string_view {
            if (Value.VType() == VT_BSTR) return Value.Utf8TextView();
            FReadText = Value.ToString();
            return FReadText;
        };
        if (HasValue) {
            switch (F->DataType()) {
                case ftString:
                case ftGuid: {
                    const std::string_view Text = AsText();
                    const std::size_t Length = rtl::Utf8CutLength(Text, static_cast<std::size_t>(F->Size()));
                    std::memcpy(Slot, Text.data(), Length);
                    Slot[Length] = 0;
                    break;
                }
                case ftSmallint:
                case ftWord: {
                    const auto V = static_cast<std::uint16_t>(static_cast<std::uint32_t>(Value.ToInt()) & 0xFFFF);
                    std::memcpy(Slot, &V, sizeof V);
                    break;
                }
                case ftInteger: WriteInt32(Slot, Value.ToInt()); break;
                case ftBoolean:
                    Slot[0] = Value.ToBool() ? 1 : 0;
                    Slot[1] = 0;
                    break;
                case ftFloat: {
                    const double V = Value.ToDouble();
                    std::memcpy(Slot, &V, sizeof V);
                    break;
                }
                case ftDate: WriteInt32(Slot, fw::DateTimeToNativeDate(Value.ToDate())); break;
                case ftTime: WriteInt32(Slot, fw::DateTimeToNativeTime(Value.ToDate())); break;
                default:
                    if (F->IsBlob()) {
                        const std::string_view Text = AsText();
                        if (Text.empty())
                            HasValue = false;
                        else
                            WriteBlobRef(Slot, new std::string(Text));
                    }
                    break;
            }
        }
        SetNull(Buffer, F, !HasValue);
    }
    ClearCalcFields(Buffer);
    GetCalcFields(Buffer);
    SetBookmarkFlag(Buffer, bfCurrent);
    std::int32_t Number = 0;
    OleCheck(FEngineTable->GetRecordNumber(&Number));
    WriteInt32(Buffer + FBookmarkOffset, Number);
}

// ---------------------------------------------------------------- field data

const TColumnDesc* TMoneyTable::ColumnDescOf(TField* Field) const {
    const int N = Field->FieldNo();
    if (N < 1 || static_cast<std::size_t>(N) > FColumnDescs.size()) return nullptr;
    return &FColumnDescs[static_cast<std::size_t>(N) - 1];
}

bool TMoneyTable::IsFieldAccesable(TField* Field) { return Field->FieldName().find('[') == std::string::npos; }

bool TMoneyTable::IsKeyBuffer(TRecordBuffer Buffer) const {
    for (TRecordBuffer K : FKeyBuffers)
        if (K && K == Buffer) return true;
    return false;
}

bool TMoneyTable::GetActiveRecBuf(TRecordBuffer& RecBuf) {
    switch (State()) {
        case dsBrowse: RecBuf = IsEmpty() ? nullptr : ActiveBuffer(); break;
        case dsEdit:
        case dsInsert: RecBuf = ActiveBuffer(); break;
        case dsSetKey: RecBuf = FKeyBuffer; break;
        case dsCalcFields: RecBuf = CalcBuffer(); break;
        default: RecBuf = nullptr; break;
    }
    return RecBuf != nullptr;
}

Word TMoneyTable::GetDataSize(TField* Field) {
    if (Field->FieldNo() == 0) return 0;
    if (Field->IsBlob()) return BlobSlotSize;
    return static_cast<Word>(Field->DataSize());
}

std::uint8_t* TMoneyTable::ComputeDataPtr(TRecordBuffer Buffer, TField* Field) {
    const int N = Field->FieldNo();
    if (N < 1) return nullptr;
    int Offset = 0;
    for (TField* G : Fields()->List())
        if (G->FieldNo() >= 1 && G->FieldNo() < N) Offset += GetDataSize(G);
    return Buffer + Offset;
}

bool TMoneyTable::GetFieldData(TField* Field, void* Buffer) {
    TRecordBuffer RecBuf = nullptr;
    if (!GetActiveRecBuf(RecBuf)) return false;
    const bool HasValue = !IsNull(RecBuf, Field);
    std::uint8_t* Slot = GetDataPtr(RecBuf, Field);
    if (!Slot) return HasValue;
    if (Buffer) std::memcpy(Buffer, Slot, static_cast<std::size_t>(Field->DataSize()));
    return HasValue;
}

OleVariant TMoneyTable::GetFieldAsOleVariant(TRecordBuffer Buffer, TField* Field, bool Key) {
    OleVariant Result;
    if (IsNull(Buffer, Field)) return Result;
    const std::uint8_t* Slot = GetDataPtr(Buffer, Field);
    if (!Slot) return Result;
    auto Text = [&] {
        const std::size_t Max = static_cast<std::size_t>(Field->DataSize());
        return std::string(reinterpret_cast<const char*>(Slot), strnlen(reinterpret_cast<const char*>(Slot), Max));
    };
    switch (Field->DataType()) {
        case ftString: return OleVariant(Utf8ToWide(Text()));
        case ftSmallint: {
            std::int16_t V;
            std::memcpy(&V, Slot, sizeof V);
            return OleVariant(static_cast<std::int32_t>(V));
        }
        case ftInteger: return OleVariant(ReadInt32(Slot));
        case ftWord: {
            std::uint16_t V;
            std::memcpy(&V, Slot, sizeof V);
            return OleVariant(static_cast<std::int32_t>(V));
        }
        case ftBoolean: return OleVariant(Slot[0] != 0);
        case ftFloat: {
            double V;
            std::memcpy(&V, Slot, sizeof V);
            return OleVariant(V);
        }
        case ftDate: return OleVariant::FromDate(fw::NativeDateToDateTime(ReadInt32(Slot)));
        case ftTime: return OleVariant::FromDate(fw::NativeTimeToDateTime(ReadInt32(Slot)));
        case ftDateTime: {
            double MSecs;
            std::memcpy(&MSecs, Slot, sizeof MSecs);
            TDateTime Value = -693594.0;
            try {
                Value = TimeStampToDateTime(MSecsToTimeStamp(std::round(MSecs)));
            } catch (const EConvertError&) {
            }
            return OleVariant::FromDate(Value);
        }
        case ftGuid: {
            WideString Guid = Utf8ToWide(Text());
            if (Key) {
                WideString KeyText;
                OleCheck(FEngineTable->GuidToKey(Guid, &KeyText));
                return OleVariant(std::move(KeyText));
            }
            return OleVariant(std::move(Guid));
        }
        default:
            if (Field->IsBlob()) {
                const std::string* S = ReadBlobRef(Slot);
                return OleVariant(Utf8ToWide(S ? *S : std::string()));
            }
            return Result;
    }
}

int FieldTypeToVarType(TField* Field) {
    switch (Field->DataType()) {
        case ftString:
        case ftMemo:
        case ftGuid: return VT_BSTR;
        case ftSmallint:
        case ftInteger:
        case ftWord: return VT_I4;
        case ftBoolean: return VT_BOOL;
        case ftFloat: return VT_R8;
        case ftDate:
        case ftTime: return VT_DATE;
        default: return 0x101;
    }
}

int TimeToMoneyTime(TDateTime T) {
    Word Hour, Min, Sec, MSec;
    DecodeTime(T, Hour, Min, Sec, MSec);
    return Hour * 60 + Min;
}

TDateTime MoneyTimeToTime(int M) {
    // Outside one day the encoding itself refuses ("Invalid argument to
    // time encode"); such a count is given an hour that a day does not have
    // rather than one that a 16-bit hour would wrap into range.
    if (M < 0 || M >= MinsPerDay) return EncodeTime(24, 0, 0, 0);
    return EncodeTime(static_cast<Word>(M / 60), static_cast<Word>(M % 60), 0, 0);
}
