// Dataset framework: field objects, their text forms and the field list.
#include "framework/Fields.h"

#include "framework/DataSet.h"

#include <cmath>
#include <cstring>
#include <limits>

namespace {

bool IsDateTimeType(TFieldType Type) { return Type == ftDate || Type == ftTime || Type == ftDateTime; }

// True when Text is a non-empty leading part of Word, letter case ignored.
bool IsPrefixOf(const std::string& Text, std::string_view Word) {
    if (Text.empty() || Text.size() > Word.size()) return false;
    return SameText(Text, Word.substr(0, Text.size()));
}

}  // namespace

// ---------------------------------------------------------------------------
// TField
// ---------------------------------------------------------------------------

TField::TField(TComponent* AOwner) : TComponent(AOwner) {}

TField::~TField() {
    if (FDataSet != nullptr) FDataSet->FFields->Remove(this);
}

void TField::SetDataSet(TDataSet* ADataSet) {
    if (ADataSet == FDataSet) return;
    if (FDataSet != nullptr) FDataSet->CheckInactive();
    if (ADataSet != nullptr) ADataSet->CheckInactive();
    if (FDataSet != nullptr) FDataSet->FFields->Remove(this);
    if (ADataSet != nullptr) ADataSet->FFields->Add(this);
}

void TField::SetFieldName(const std::string& Value) {
    if (Value == FFieldName) return;
    if (FDataSet != nullptr) FDataSet->CheckInactive();
    FFieldName = Value;
}

void TField::SetDisplayLabel(const std::string& Value) {
    if (Value == FDisplayLabel) return;
    FDisplayLabel = Value;
    PropertyChanged(true);
}

void TField::SetSize(int Value) {
    if (FDataSet != nullptr) FDataSet->CheckInactive();
    CheckTypeSize(Value);
    FSize = Value;
}

void TField::CheckTypeSize(int Value) const {
    if (Value != 0) DatabaseError(fw::SInvalidFieldSize);
}

void TField::SetFieldKind(TFieldKind Value) {
    if (Value == FFieldKind) return;
    if (FDataSet != nullptr) FDataSet->CheckInactive();
    FFieldKind = Value;
}

int TField::Index() const { return FDataSet != nullptr ? FDataSet->FFields->IndexOf(this) : -1; }

void TField::SetVisible(bool Value) {
    if (Value == FVisible) return;
    FVisible = Value;
    PropertyChanged(true);
}

void TField::SetDisplayWidth(int Value) {
    if (Value == FDisplayWidth) return;
    FDisplayWidth = Value;
    PropertyChanged(true);
}

void TField::SetReadOnly(bool Value) {
    if (Value == FReadOnly) return;
    FReadOnly = Value;
    PropertyChanged(true);
}

void TField::PropertyChanged(bool LayoutAffected) {
    if (FDataSet != nullptr && FDataSet->Active())
        FDataSet->DataEvent(LayoutAffected ? deLayoutChange : deDataSetChange, 0);
}

bool TField::CanModify() const {
    if (FReadOnly || FDataSet == nullptr) return false;
    if (FFieldKind != fkData && FFieldKind != fkInternalCalc) return false;
    return FDataSet->Active() && FDataSet->CanModify();
}

void TField::CheckDataSet() const {
    if (FDataSet == nullptr) DatabaseErrorFmt(fw::SDataSetMissing, {DisplayName()});
}

bool TField::GetData(void* Buffer, bool NativeFormat) const {
    CheckDataSet();
    if (FValidating) {
        if (FValueBuffer == nullptr) return false;
        if (Buffer != nullptr) {
            if (NativeFormat || !IsDateTimeType(FDataType))
                std::memcpy(Buffer, FValueBuffer, static_cast<std::size_t>(DataSize()));
            else
                FDataSet->DataConvert(const_cast<TField*>(this), FValueBuffer, Buffer, false);
        }
        return true;
    }
    return FDataSet->GetFieldData(const_cast<TField*>(this), Buffer, NativeFormat);
}

void TField::SetData(const void* Buffer, bool NativeFormat) {
    CheckDataSet();
    FDataSet->SetFieldData(this, Buffer, NativeFormat);
}

void TField::Clear() { SetData(nullptr); }

void TField::Validate(const void* Buffer) {
    if (!OnValidate) return;
    const bool SaveValidating = FValidating;
    const void* SaveBuffer = FValueBuffer;
    FValidating = true;
    FValueBuffer = Buffer;
    try {
        OnValidate(this);
    } catch (...) {
        FValidating = SaveValidating;
        FValueBuffer = SaveBuffer;
        throw;
    }
    FValidating = SaveValidating;
    FValueBuffer = SaveBuffer;
}

void TField::Change() {
    if (OnChange) OnChange(this);
}

void TField::FocusControl() {
    if (FDataSet == nullptr || !FDataSet->Active()) return;
    TField* Field = this;
    FDataSet->DataEvent(deFocusControl, fw::FieldRefToInfo(&Field));
}

void TField::AccessError(const char* TypeName) const {
    DatabaseErrorFmt(fw::SFieldAccessError, {DisplayName(), TypeName});
}

std::string TField::GetAsString() const { AccessError("String"); }
void TField::SetAsString(const std::string&) { AccessError("String"); }
std::int32_t TField::GetAsInteger() const { AccessError("Integer"); }
void TField::SetAsInteger(std::int32_t) { AccessError("Integer"); }
double TField::GetAsFloat() const { AccessError("Float"); }
void TField::SetAsFloat(double) { AccessError("Float"); }
bool TField::GetAsBoolean() const { AccessError("Boolean"); }
void TField::SetAsBoolean(bool) { AccessError("Boolean"); }
TDateTime TField::GetAsDateTime() const { AccessError("DateTime"); }
void TField::SetAsDateTime(TDateTime) { AccessError("DateTime"); }

void TField::Assign(TPersistent* Source) {
    if (Source == nullptr) {
        Clear();
        return;
    }
    auto* Field = dynamic_cast<TField*>(Source);
    if (Field == nullptr) {
        TComponent::Assign(Source);
        return;
    }
    if (Field->IsNull()) {
        Clear();
        return;
    }
    switch (Field->DataType()) {
        case ftSmallint:
        case ftInteger:
        case ftWord:
        case ftAutoInc:
            SetAsInteger(Field->AsInteger());
            break;
        case ftBoolean:
            SetAsBoolean(Field->AsBoolean());
            break;
        case ftFloat:
        case ftCurrency:
            SetAsFloat(Field->AsFloat());
            break;
        case ftDate:
        case ftTime:
        case ftDateTime:
            SetAsDateTime(Field->AsDateTime());
            break;
        default:
            SetAsString(Field->AsString());
            break;
    }
}

void TField::AssignValue(const TVarRec& Value) {
    switch (Value.Kind()) {
        case TVarRec::vtInteger:
        case TVarRec::vtInt64:
        case TVarRec::vtUInt64: {
            const bool Unsigned = Value.Kind() == TVarRec::vtUInt64;
            const std::int64_t I = Value.AsInt64();
            if (!Unsigned && I >= std::numeric_limits<std::int32_t>::min() && I <= std::numeric_limits<std::int32_t>::max())
                SetAsInteger(static_cast<std::int32_t>(I));
            else if (Unsigned && Value.AsUInt64() <= static_cast<std::uint64_t>(std::numeric_limits<std::int32_t>::max()))
                SetAsInteger(static_cast<std::int32_t>(Value.AsUInt64()));
            else
                SetAsFloat(Unsigned ? static_cast<double>(Value.AsUInt64()) : static_cast<double>(I));
            break;
        }
        case TVarRec::vtExtended:
            SetAsFloat(Value.AsFloat());
            break;
        case TVarRec::vtString:
        case TVarRec::vtChar:
            SetAsString(Value.AsString());
            break;
        case TVarRec::vtPointer:
            if (Value.AsPointer() == nullptr) Clear();
            else AccessError("Pointer");
            break;
    }
}

// ---------------------------------------------------------------------------
// TStringField, TGuidField
// ---------------------------------------------------------------------------

TStringField::TStringField(TComponent* AOwner) : TField(AOwner) {
    SetDataType(ftString);
    TField::SetSize(20);
}

void TStringField::CheckTypeSize(int Value) const {
    if (Value < 0 || Value > fw::dsMaxStringSize) DatabaseError(fw::SInvalidFieldSize);
}

bool TStringField::GetValue(std::string& Value) const {
    const auto Size = static_cast<std::size_t>(DataSize());
    // One spare zero: the text always ends. A field of the largest size fits
    // the buffer on the stack; a larger data size (never made by this
    // framework) takes the heap.
    char Small[fw::dsMaxStringSize + 2];
    std::vector<char> Large;
    char* Buffer = Small;
    if (Size + 1 > sizeof Small) {
        Large.resize(Size + 1);
        Buffer = Large.data();
    }
    std::memset(Buffer, 0, Size + 1);
    if (!GetData(Buffer)) return false;
    if (DataSet() != nullptr) DataSet()->Translate(Buffer, Buffer, false);
    Value.assign(Buffer, ::strnlen(Buffer, Size));
    return true;
}

std::string TStringField::GetAsString() const {
    std::string Value;
    return GetValue(Value) ? Value : std::string();
}

void TStringField::SetAsString(const std::string& Value) {
    // The record buffer holds the text up to its first NUL: refuse a text
    // that would be cut there.
    if (Value.find('\0') != std::string::npos) DatabaseErrorFmt(fw::SNulInText, {DisplayName()});
    const std::string Cut = Utf8Cut(Value, static_cast<std::size_t>(Size()));
    std::vector<char> Buffer(static_cast<std::size_t>(Size()) + 1, '\0');
    std::memcpy(Buffer.data(), Cut.data(), Cut.size());
    CheckDataSet();
    DataSet()->Translate(Buffer.data(), Buffer.data(), true);
    SetData(Buffer.data());
}

std::int32_t TStringField::GetAsInteger() const {
    std::string S;
    return GetValue(S) ? StrToInt(S) : 0;
}

void TStringField::SetAsInteger(std::int32_t Value) { SetAsString(IntToStr(Value)); }

double TStringField::GetAsFloat() const {
    std::string S;
    return GetValue(S) ? StrToFloat(S) : 0.0;
}

void TStringField::SetAsFloat(double Value) { SetAsString(FloatToStr(Value)); }

bool TStringField::GetAsBoolean() const {
    std::string S;
    if (!GetValue(S) || S.empty()) return false;
    const char C = S[0];
    return C == 'T' || C == 't' || C == 'Y' || C == 'y';
}

void TStringField::SetAsBoolean(bool Value) { SetAsString(Value ? "True" : "False"); }

TDateTime TStringField::GetAsDateTime() const {
    std::string S;
    return GetValue(S) ? StrToDateTime(S) : 0.0;
}

void TStringField::SetAsDateTime(TDateTime Value) { SetAsString(DateTimeToStr(Value)); }

TGuidField::TGuidField(TComponent* AOwner) : TStringField(AOwner) {
    SetDataType(ftGuid);
    TField::SetSize(38);
}

void TGuidField::CheckTypeSize(int Value) const {
    if (Value != 38) DatabaseError(fw::SInvalidFieldSize);
}

// ---------------------------------------------------------------------------
// Integer fields
// ---------------------------------------------------------------------------

TIntegerField::TIntegerField(TComponent* AOwner)
    : TNumericField(AOwner),
      FMinRange(std::numeric_limits<std::int32_t>::min()),
      FMaxRange(std::numeric_limits<std::int32_t>::max()) {
    SetDataType(ftInteger);
}

void TIntegerField::ReadNative(const std::uint8_t* Data, std::int32_t& Value) const {
    std::memcpy(&Value, Data, sizeof Value);
}

void TIntegerField::WriteNative(std::int32_t Value, std::uint8_t* Data) const {
    std::memcpy(Data, &Value, sizeof Value);
}

bool TIntegerField::GetValue(std::int32_t& Value) const {
    alignas(8) std::uint8_t Data[8] = {};
    if (!GetData(Data)) return false;
    ReadNative(Data, Value);
    return true;
}

void TIntegerField::StoreInt(std::int64_t Value) {
    if (Value < FMinRange || Value > FMaxRange)
        DatabaseErrorFmt(fw::SFieldRangeError,
                         {IntToStr(Value), DisplayName(), IntToStr(FMinRange), IntToStr(FMaxRange)});
    alignas(8) std::uint8_t Data[8] = {};
    WriteNative(static_cast<std::int32_t>(Value), Data);
    SetData(Data);
}

std::string TIntegerField::GetAsString() const {
    std::int32_t V = 0;
    return GetValue(V) ? IntToStr(V) : std::string();
}

void TIntegerField::SetAsString(const std::string& Value) {
    if (Value.empty()) {
        Clear();
        return;
    }
    int V = 0;
    if (!TryStrToInt(Value, V)) DatabaseErrorFmt(fw::SInvalidIntegerValue, {Value, DisplayName()});
    StoreInt(V);
}

std::int32_t TIntegerField::GetAsInteger() const {
    std::int32_t V = 0;
    return GetValue(V) ? V : 0;
}

void TIntegerField::SetAsInteger(std::int32_t Value) { StoreInt(Value); }

double TIntegerField::GetAsFloat() const { return GetAsInteger(); }

void TIntegerField::SetAsFloat(double Value) {
    const double R = std::round(Value);
    if (!std::isfinite(R) || R < static_cast<double>(FMinRange) || R > static_cast<double>(FMaxRange))
        DatabaseErrorFmt(fw::SFieldRangeError,
                         {FloatToStr(Value), DisplayName(), IntToStr(FMinRange), IntToStr(FMaxRange)});
    StoreInt(static_cast<std::int64_t>(R));
}

TSmallintField::TSmallintField(TComponent* AOwner) : TIntegerField(AOwner) {
    SetDataType(ftSmallint);
    SetRange(-32768, 32767);
}

void TSmallintField::ReadNative(const std::uint8_t* Data, std::int32_t& Value) const {
    std::int16_t V;
    std::memcpy(&V, Data, sizeof V);
    Value = V;
}

void TSmallintField::WriteNative(std::int32_t Value, std::uint8_t* Data) const {
    const auto V = static_cast<std::int16_t>(Value);
    std::memcpy(Data, &V, sizeof V);
}

TWordField::TWordField(TComponent* AOwner) : TIntegerField(AOwner) {
    SetDataType(ftWord);
    SetRange(0, 65535);
}

void TWordField::ReadNative(const std::uint8_t* Data, std::int32_t& Value) const {
    std::uint16_t V;
    std::memcpy(&V, Data, sizeof V);
    Value = V;
}

void TWordField::WriteNative(std::int32_t Value, std::uint8_t* Data) const {
    const auto V = static_cast<std::uint16_t>(Value);
    std::memcpy(Data, &V, sizeof V);
}

TAutoIncField::TAutoIncField(TComponent* AOwner) : TIntegerField(AOwner) { SetDataType(ftAutoInc); }

// ---------------------------------------------------------------------------
// TBooleanField
// ---------------------------------------------------------------------------

TBooleanField::TBooleanField(TComponent* AOwner) : TField(AOwner) { SetDataType(ftBoolean); }

bool TBooleanField::GetAsBoolean() const {
    std::uint16_t V = 0;
    return GetData(&V) && V != 0;
}

void TBooleanField::SetAsBoolean(bool Value) {
    const std::uint16_t V = Value ? 1 : 0;
    SetData(&V);
}

std::string TBooleanField::GetAsString() const {
    std::uint16_t V = 0;
    if (!GetData(&V)) return std::string();
    return V != 0 ? "True" : "False";
}

void TBooleanField::SetAsString(const std::string& Value) {
    if (Value.empty()) Clear();
    else if (IsPrefixOf(Value, "False")) SetAsBoolean(false);
    else if (IsPrefixOf(Value, "True")) SetAsBoolean(true);
    else DatabaseErrorFmt(fw::SInvalidBoolValue, {Value, DisplayName()});
}

std::int32_t TBooleanField::GetAsInteger() const { return GetAsBoolean() ? 1 : 0; }

void TBooleanField::SetAsInteger(std::int32_t Value) { SetAsBoolean(Value != 0); }

// ---------------------------------------------------------------------------
// TFloatField
// ---------------------------------------------------------------------------

TFloatField::TFloatField(TComponent* AOwner) : TNumericField(AOwner) { SetDataType(ftFloat); }

void TFloatField::SetPrecision(int Value) {
    if (Value < 2) Value = 2;
    if (Value > 15) Value = 15;
    FPrecision = Value;
}

bool TFloatField::GetValue(double& Value) const { return GetData(&Value); }

std::string TFloatField::GetAsString() const {
    double V = 0;
    if (!GetValue(V)) return std::string();
    if (FPrecision == 15) return FloatToStr(V);
    return Format("%." + IntToStr(FPrecision) + "g", {V});
}

void TFloatField::SetAsString(const std::string& Value) {
    if (Value.empty()) {
        Clear();
        return;
    }
    double V = 0;
    if (!TryStrToFloat(Value, V)) DatabaseErrorFmt(fw::SInvalidFloatValue, {Value, DisplayName()});
    SetAsFloat(V);
}

double TFloatField::GetAsFloat() const {
    double V = 0;
    return GetValue(V) ? V : 0.0;
}

void TFloatField::SetAsFloat(double Value) { SetData(&Value); }

std::int32_t TFloatField::GetAsInteger() const {
    const double R = std::round(GetAsFloat());
    if (!(R >= std::numeric_limits<std::int32_t>::min() && R <= std::numeric_limits<std::int32_t>::max()))
        DatabaseErrorFmt(fw::SFieldOutOfRange, {DisplayName()});
    return static_cast<std::int32_t>(R);
}

void TFloatField::SetAsInteger(std::int32_t Value) { SetAsFloat(Value); }

// ---------------------------------------------------------------------------
// Date and time fields
// ---------------------------------------------------------------------------

TDateTimeField::TDateTimeField(TComponent* AOwner) : TField(AOwner) { SetDataType(ftDateTime); }

bool TDateTimeField::GetValue(TDateTime& Value) const { return GetData(&Value, false); }

TDateTime TDateTimeField::GetAsDateTime() const {
    TDateTime V = 0;
    return GetValue(V) ? V : 0.0;
}

void TDateTimeField::SetAsDateTime(TDateTime Value) { SetData(&Value, false); }

std::string TDateTimeField::GetAsString() const {
    TDateTime V = 0;
    return GetValue(V) ? DateTimeToStr(V) : std::string();
}

void TDateTimeField::SetAsString(const std::string& Value) {
    if (Value.empty()) Clear();
    else SetAsDateTime(StrToDateTime(Value));
}

TDateField::TDateField(TComponent* AOwner) : TDateTimeField(AOwner) { SetDataType(ftDate); }

std::string TDateField::GetAsString() const {
    TDateTime V = 0;
    return GetValue(V) ? DateToStr(V) : std::string();
}

void TDateField::SetAsString(const std::string& Value) {
    if (Value.empty()) Clear();
    else SetAsDateTime(StrToDate(Value));
}

TTimeField::TTimeField(TComponent* AOwner) : TDateTimeField(AOwner) { SetDataType(ftTime); }

std::string TTimeField::GetAsString() const {
    TDateTime V = 0;
    return GetValue(V) ? TimeToStr(V) : std::string();
}

void TTimeField::SetAsString(const std::string& Value) {
    if (Value.empty()) Clear();
    else SetAsDateTime(StrToTime(Value));
}

// ---------------------------------------------------------------------------
// Blob fields
// ---------------------------------------------------------------------------

TBlobField::TBlobField(TComponent* AOwner) : TField(AOwner) { SetDataType(ftBlob); }

void TBlobField::CheckTypeSize(int Value) const {
    if (Value < 0) DatabaseError(fw::SInvalidFieldSize);
}

std::string TBlobField::GetAsString() const {
    CheckDataSet();
    auto Stream = DataSet()->CreateBlobStream(const_cast<TBlobField*>(this), bmRead);
    if (!Stream) return std::string();
    Stream->Seek(0, soBeginning);
    return Stream->ReadString(Stream->Size());
}

void TBlobField::SetAsString(const std::string& Value) {
    CheckDataSet();
    auto Stream = DataSet()->CreateBlobStream(this, bmWrite);
    if (Stream) Stream->WriteString(Value);
}

void TBlobField::Clear() {
    CheckDataSet();
    auto Stream = DataSet()->CreateBlobStream(this, bmWrite);
}

std::int64_t TBlobField::BlobSize() const {
    CheckDataSet();
    auto Stream = DataSet()->CreateBlobStream(const_cast<TBlobField*>(this), bmRead);
    return Stream ? Stream->Size() : 0;
}

void TBlobField::LoadFromStream(TStream* Stream) {
    CheckDataSet();
    auto Blob = DataSet()->CreateBlobStream(this, bmWrite);
    if (Blob) Blob->CopyFrom(Stream, 0);
}

void TBlobField::SaveToStream(TStream* Stream) const {
    CheckDataSet();
    auto Blob = DataSet()->CreateBlobStream(const_cast<TBlobField*>(this), bmRead);
    if (Blob && Blob->Size() > 0) Stream->CopyFrom(Blob.get(), 0);
}

void TBlobField::FreeBuffers() {
    if (FModified) {
        if (FDataSet != nullptr) FDataSet->CloseBlob(this);
        FModified = false;
    }
}

TMemoField::TMemoField(TComponent* AOwner) : TBlobField(AOwner) { SetDataType(ftMemo); }

// ---------------------------------------------------------------------------
// TFields
// ---------------------------------------------------------------------------

TFields::TFields(TDataSet* DataSet) : FDataSet(DataSet) {}

TFields::~TFields() {
    for (TField* Field : FList) Field->FDataSet = nullptr;
}

TField* TFields::Fields(int Index) const {
    if (Index < 0 || Index >= Count()) DatabaseError(fw::SFieldIndexError);
    return FList[static_cast<std::size_t>(Index)];
}

int TFields::IndexOf(const TField* Field) const {
    for (std::size_t I = 0; I < FList.size(); ++I)
        if (FList[I] == Field) return static_cast<int>(I);
    return -1;
}

TField* TFields::FindField(std::string_view FieldName) const {
    for (TField* Field : FList)
        if (fw::SameName(Field->FieldName(), FieldName)) return Field;
    return nullptr;
}

TField* TFields::FieldByName(std::string_view FieldName) const {
    TField* Field = FindField(FieldName);
    if (Field == nullptr) DatabaseErrorFmt(fw::SFieldNotFound, {FieldName});
    return Field;
}

TField* TFields::FieldByNumber(int FieldNo) const {
    for (TField* Field : FList)
        if (Field->FieldNo() == FieldNo) return Field;
    return nullptr;
}

void TFields::Add(TField* Field) {
    FList.push_back(Field);
    Field->FDataSet = FDataSet;
    Changed();
}

void TFields::Remove(TField* Field) {
    const int I = IndexOf(Field);
    if (I < 0) return;
    FList.erase(FList.begin() + I);
    Field->FDataSet = nullptr;
    Changed();
}

void TFields::Clear() {
    if (FList.empty()) return;
    while (!FList.empty()) {
        TField* Field = FList.back();
        FList.pop_back();
        Field->FDataSet = nullptr;
        delete Field;
    }
    Changed();
}

void TFields::Changed() {
    if (FDataSet != nullptr && (FDataSet->ComponentState() & csDestroying) == 0)
        FDataSet->DataEvent(deFieldListChange, 0);
}

// ---------------------------------------------------------------------------
// Field classes and native date-time forms
// ---------------------------------------------------------------------------

namespace fw {

namespace {
template <class T>
TField* Make(TComponent* AOwner) {
    return new T(AOwner);
}
}  // namespace

TFieldClass DefaultFieldClass(TFieldType Type) {
    switch (Type) {
        case ftString: return &Make<TStringField>;
        case ftSmallint: return &Make<TSmallintField>;
        case ftInteger: return &Make<TIntegerField>;
        case ftWord: return &Make<TWordField>;
        case ftBoolean: return &Make<TBooleanField>;
        case ftFloat: return &Make<TFloatField>;
        case ftDate: return &Make<TDateField>;
        case ftTime: return &Make<TTimeField>;
        case ftDateTime: return &Make<TDateTimeField>;
        case ftAutoInc: return &Make<TAutoIncField>;
        case ftBlob: return &Make<TBlobField>;
        case ftMemo: return &Make<TMemoField>;
        case ftGuid: return &Make<TGuidField>;
        default: return nullptr;
    }
}

std::int32_t DateTimeToNativeDate(TDateTime Value) { return DateTimeToTimeStamp(Value).Date; }

std::int32_t DateTimeToNativeTime(TDateTime Value) { return DateTimeToTimeStamp(Value).Time; }

double DateTimeToNativeDateTime(TDateTime Value) { return TimeStampToMSecs(DateTimeToTimeStamp(Value)); }

TDateTime NativeDateToDateTime(std::int32_t Days) { return static_cast<double>(Days) - DateDelta; }

TDateTime NativeTimeToDateTime(std::int32_t MSecs) { return static_cast<double>(MSecs) / MSecsPerDay; }

TDateTime NativeDateTimeToDateTime(double MSecs) {
    TTimeStamp Stamp{0, 0};
    try {
        Stamp = MSecsToTimeStamp(MSecs);
    } catch (const EConvertError&) {
        Stamp = TTimeStamp{0, 0};
    }
    const double Day = static_cast<double>(Stamp.Date) - DateDelta;
    const double Time = static_cast<double>(Stamp.Time) / MSecsPerDay;
    return Day < 0 ? Day - Time : Day + Time;
}

}  // namespace fw
