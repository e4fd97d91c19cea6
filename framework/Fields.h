// Dataset framework: field objects and the field list.
//
// A TField is one column of a dataset as the application sees it. It reads
// its value through its dataset (GetData -> TDataSet::GetFieldData -> the
// descendant's GetFieldData hook) and writes it the same way (SetData ->
// TDataSet::SetFieldData -> hook), in the native forms below; the typed
// accessors (AsString, AsInteger, AsFloat, AsBoolean, AsDateTime) convert.
//
//   type                 DataSize   native form
//   ftString, ftGuid     Size + 1   characters ended by a zero byte (GUID: Size 38)
//   ftSmallint           2          signed 16-bit
//   ftWord               2          unsigned 16-bit
//   ftBoolean            2          16-bit truth value, 0 = false
//   ftInteger, ftAutoInc 4          signed 32-bit
//   ftFloat              8          double
//   ftDate               4          signed 32-bit day number, 1 Jan 0001 = day 1
//   ftTime               4          signed 32-bit milliseconds since midnight
//   ftDateTime           8          double: milliseconds since the start of day 0
//   ftMemo, ftBlob       0          only through a blob stream (CreateBlobStream)
//
// Date and time fields exchange TDateTime values with GetData/SetData when
// NativeFormat is false; TDataSet::DataConvert converts.
//
// Text forms (AsString): a null value reads as "". Writing "" makes a number,
// boolean, date or time field null and a string field an empty (non-null)
// value. Bad text raises EDatabaseError "'%s' is not a valid integer value
// for field '%s'" (floating point, boolean alike) or, for dates and times,
// the run-time library's EConvertError.
//
// Ownership: a field belongs to its Owner component (the dataset for
// default fields); TFields only lists fields and frees them in Clear, which
// TDataSet::DestroyFields uses. Deleting a field removes it from its dataset's
// list. Fields of an open dataset must not be deleted or re-bound.
//
// Threads: the dataset's thread only.
#pragma once

#include "framework/DBCommon.h"
#include "rtl/Classes.h"
#include "rtl/DateUtils.h"

#include <functional>
#include <string>
#include <vector>

class TFields;
class TFieldDef;

using TFieldNotifyEvent = std::function<void(TField* Sender)>;

class TField : public TComponent {
public:
    explicit TField(TComponent* AOwner);
    ~TField() override;

    // ---- identity and layout ----
    TDataSet* DataSet() const noexcept { return FDataSet; }
    // Attaches the field to a dataset (appends it to its Fields); both the old
    // and the new dataset must be closed ("Cannot perform this operation on an
    // open dataset").
    virtual void SetDataSet(TDataSet* ADataSet);
    const std::string& FieldName() const noexcept { return FFieldName; }
    void SetFieldName(const std::string& Value);
    // FieldName (no parent fields exist).
    std::string FullName() const { return FFieldName; }
    // DisplayLabel if set, else FieldName.
    std::string DisplayName() const { return FDisplayLabel.empty() ? FFieldName : FDisplayLabel; }
    std::string DisplayLabel() const { return DisplayName(); }
    void SetDisplayLabel(const std::string& Value);
    // 1-based position of the field's definition; -1 for calculated, lookup
    // and aggregate fields; 0 while unbound.
    int FieldNo() const noexcept { return FFieldNo; }
    TFieldType DataType() const noexcept { return FDataType; }
    int Size() const noexcept { return FSize; }
    // Checks the size for the type (CheckTypeSize) and stores it.
    void SetSize(int Value);
    // Bytes of the native value (table in the header comment).
    virtual int DataSize() const { return 0; }
    TFieldKind FieldKind() const noexcept { return FFieldKind; }
    void SetFieldKind(TFieldKind Value);
    bool Calculated() const noexcept { return FFieldKind == fkCalculated; }
    void SetCalculated(bool Value) { SetFieldKind(Value ? fkCalculated : fkData); }
    bool Lookup() const noexcept { return FFieldKind == fkLookup; }
    // Offset in the calculated area (calculated and lookup fields) or number
    // among the blob fields (blob fields); given out by BindFields.
    int Offset() const noexcept { return FOffset; }
    // Position in the dataset's field list.
    int Index() const;
    virtual bool IsBlob() const { return false; }

    // ---- presentation and rules ----
    bool Visible() const noexcept { return FVisible; }
    void SetVisible(bool Value);
    int DisplayWidth() const noexcept { return FDisplayWidth > 0 ? FDisplayWidth : DefaultDisplayWidth(); }
    void SetDisplayWidth(int Value);
    bool ReadOnly() const noexcept { return FReadOnly; }
    void SetReadOnly(bool Value);
    bool Required() const noexcept { return FRequired; }
    void SetRequired(bool Value) noexcept { FRequired = Value; }
    // Not read-only, the dataset open and able to modify, and a data field.
    bool CanModify() const;

    // ---- value access ----
    // Copies the native (or, with NativeFormat false, the TDateTime) value
    // into Buffer (DataSize bytes); returns false when the value is null.
    // Buffer nullptr only tests for a value. Raises "Field '%s' has no
    // dataset" without a dataset. While the field validates a new value
    // (Validate), that value is returned instead.
    bool GetData(void* Buffer, bool NativeFormat = true) const;
    // Stores Buffer (native, or TDateTime with NativeFormat false) as the
    // field's value; nullptr makes it null.
    void SetData(const void* Buffer, bool NativeFormat = true);
    bool IsNull() const { return !GetData(nullptr); }
    virtual void Clear();

    std::string AsString() const { return GetAsString(); }
    virtual void SetAsString(const std::string& Value);
    std::int32_t AsInteger() const { return GetAsInteger(); }
    virtual void SetAsInteger(std::int32_t Value);
    double AsFloat() const { return GetAsFloat(); }
    virtual void SetAsFloat(double Value);
    bool AsBoolean() const { return GetAsBoolean(); }
    virtual void SetAsBoolean(bool Value);
    TDateTime AsDateTime() const { return GetAsDateTime(); }
    virtual void SetAsDateTime(TDateTime Value);
    // Display text: AsString unless a descendant formats otherwise.
    std::string Text() const { return GetAsString(); }
    std::string DisplayText() const { return GetAsString(); }

    // Copies the value of another field (nullptr or a null value: Clear),
    // converting through the source's type: text, integer, boolean, float or
    // date-time. A non-field source raises the class library's assign error.
    void Assign(TPersistent* Source) override;
    // Stores one element of an "array of const": integers through AsInteger
    // (AsFloat beyond 32 bits), floats through AsFloat, text and characters
    // through AsString, a null pointer through Clear; other pointers raise
    // "Cannot access field '%s' as type %s".
    void AssignValue(const TVarRec& Value);

    // Runs OnValidate (if set) with Buffer as the value under validation.
    void Validate(const void* Buffer);
    // Runs OnChange (the dataset calls it on deFieldChange).
    virtual void Change();
    // Asks the controls to give this field the focus (deFocusControl).
    void FocusControl();

    TFieldNotifyEvent OnChange;
    TFieldNotifyEvent OnValidate;

protected:
    virtual std::string GetAsString() const;
    virtual std::int32_t GetAsInteger() const;
    virtual double GetAsFloat() const;
    virtual bool GetAsBoolean() const;
    virtual TDateTime GetAsDateTime() const;
    virtual int DefaultDisplayWidth() const { return 10; }
    // Raises "Invalid field size" when Value does not suit the type.
    virtual void CheckTypeSize(int Value) const;
    // Raises "Cannot access field '%s' as type %s".
    [[noreturn]] void AccessError(const char* TypeName) const;
    void SetDataType(TFieldType Value) noexcept { FDataType = Value; }
    // Called by TDataSet::FreeFieldBuffers after a post or cancel.
    virtual void FreeBuffers() {}
    void CheckDataSet() const;
    void PropertyChanged(bool LayoutAffected);

private:
    friend class TDataSet;
    friend class TFields;
    friend class TBlobField;
    TDataSet* FDataSet = nullptr;
    std::string FFieldName;
    std::string FDisplayLabel;
    TFieldType FDataType = ftUnknown;
    int FSize = 0;
    int FFieldNo = 0;
    int FOffset = 0;
    TFieldKind FFieldKind = fkData;
    bool FVisible = true;
    int FDisplayWidth = 0;
    bool FReadOnly = false;
    bool FRequired = false;
    bool FValidating = false;
    const void* FValueBuffer = nullptr;
};

// ---------------------------------------------------------------------------
// Field classes, one per type the framework serves
// ---------------------------------------------------------------------------

class TStringField : public TField {
public:
    explicit TStringField(TComponent* AOwner);  // Size 20
    int DataSize() const override { return Size() + 1; }
    // The stored text (up to the zero byte); false when null.
    bool GetValue(std::string& Value) const;
    std::string GetAsString() const override;
    // Cut to Size bytes without splitting a UTF-8 sequence; "" is stored as
    // an empty value, not null.
    void SetAsString(const std::string& Value) override;
    std::int32_t GetAsInteger() const override;
    void SetAsInteger(std::int32_t Value) override;
    double GetAsFloat() const override;
    void SetAsFloat(double Value) override;
    bool GetAsBoolean() const override;
    void SetAsBoolean(bool Value) override;
    TDateTime GetAsDateTime() const override;
    void SetAsDateTime(TDateTime Value) override;

protected:
    int DefaultDisplayWidth() const override { return Size() > 0 ? Size() : 1; }
    void CheckTypeSize(int Value) const override;
};

class TGuidField : public TStringField {
public:
    explicit TGuidField(TComponent* AOwner);  // Size 38

protected:
    void CheckTypeSize(int Value) const override;
};

class TNumericField : public TField {
public:
    using TField::TField;
};

class TIntegerField : public TNumericField {
public:
    explicit TIntegerField(TComponent* AOwner);
    int DataSize() const override { return 4; }
    bool GetValue(std::int32_t& Value) const;
    std::int64_t MinValue() const noexcept { return FMinRange; }
    std::int64_t MaxValue() const noexcept { return FMaxRange; }
    std::string GetAsString() const override;
    void SetAsString(const std::string& Value) override;
    std::int32_t GetAsInteger() const override;
    // Raises "%s is not a valid value for field '%s'. The allowed range is %s
    // to %s" outside the type's range.
    void SetAsInteger(std::int32_t Value) override;
    double GetAsFloat() const override;
    void SetAsFloat(double Value) override;

protected:
    int DefaultDisplayWidth() const override { return 11; }
    // Native bytes of the type.
    virtual void ReadNative(const std::uint8_t* Data, std::int32_t& Value) const;
    virtual void WriteNative(std::int32_t Value, std::uint8_t* Data) const;
    void SetRange(std::int64_t Min, std::int64_t Max) noexcept { FMinRange = Min; FMaxRange = Max; }
    void StoreInt(std::int64_t Value);

private:
    std::int64_t FMinRange;
    std::int64_t FMaxRange;
};

class TSmallintField : public TIntegerField {
public:
    explicit TSmallintField(TComponent* AOwner);
    int DataSize() const override { return 2; }

protected:
    int DefaultDisplayWidth() const override { return 6; }
    void ReadNative(const std::uint8_t* Data, std::int32_t& Value) const override;
    void WriteNative(std::int32_t Value, std::uint8_t* Data) const override;
};

class TWordField : public TIntegerField {
public:
    explicit TWordField(TComponent* AOwner);
    int DataSize() const override { return 2; }

protected:
    int DefaultDisplayWidth() const override { return 5; }
    void ReadNative(const std::uint8_t* Data, std::int32_t& Value) const override;
    void WriteNative(std::int32_t Value, std::uint8_t* Data) const override;
};

class TAutoIncField : public TIntegerField {
public:
    explicit TAutoIncField(TComponent* AOwner);
};

class TBooleanField : public TField {
public:
    explicit TBooleanField(TComponent* AOwner);
    int DataSize() const override { return 2; }
    std::string GetAsString() const override;  // "True" / "False"
    void SetAsString(const std::string& Value) override;
    bool GetAsBoolean() const override;
    void SetAsBoolean(bool Value) override;
    std::int32_t GetAsInteger() const override;      // 0 / 1
    void SetAsInteger(std::int32_t Value) override;  // non-zero = true

protected:
    int DefaultDisplayWidth() const override { return 5; }
};

class TFloatField : public TNumericField {
public:
    explicit TFloatField(TComponent* AOwner);
    int DataSize() const override { return 8; }
    bool GetValue(double& Value) const;
    // Significant digits of the text form (default 15).
    int Precision() const noexcept { return FPrecision; }
    void SetPrecision(int Value);
    std::string GetAsString() const override;
    void SetAsString(const std::string& Value) override;
    double GetAsFloat() const override;
    void SetAsFloat(double Value) override;
    std::int32_t GetAsInteger() const override;  // rounded
    void SetAsInteger(std::int32_t Value) override;

private:
    int FPrecision = 15;
};

// ftDateTime; base of the date and the time field.
class TDateTimeField : public TField {
public:
    explicit TDateTimeField(TComponent* AOwner);
    int DataSize() const override { return 8; }
    bool GetValue(TDateTime& Value) const;
    std::string GetAsString() const override;  // DateTimeToStr
    void SetAsString(const std::string& Value) override;
    TDateTime GetAsDateTime() const override;
    void SetAsDateTime(TDateTime Value) override;
    double GetAsFloat() const override { return GetAsDateTime(); }
    void SetAsFloat(double Value) override { SetAsDateTime(Value); }

protected:
    int DefaultDisplayWidth() const override { return 18; }
};

class TDateField : public TDateTimeField {
public:
    explicit TDateField(TComponent* AOwner);
    int DataSize() const override { return 4; }
    std::string GetAsString() const override;  // DateToStr (short date format)
    void SetAsString(const std::string& Value) override;

protected:
    int DefaultDisplayWidth() const override { return 10; }
};

class TTimeField : public TDateTimeField {
public:
    explicit TTimeField(TComponent* AOwner);
    int DataSize() const override { return 4; }
    std::string GetAsString() const override;  // TimeToStr (long time format)
    void SetAsString(const std::string& Value) override;

protected:
    int DefaultDisplayWidth() const override { return 10; }
};

// A blob field reads and writes its value only through the dataset's blob
// stream (TDataSet::CreateBlobStream). Modified is set by the descendant's
// stream when it writes the value back, and cleared by FreeFieldBuffers
// (after a post or cancel), which also calls the dataset's CloseBlob.
class TBlobField : public TField {
public:
    explicit TBlobField(TComponent* AOwner);
    int DataSize() const override { return 0; }
    bool IsBlob() const override { return true; }
    bool Modified() const noexcept { return FModified; }
    void SetModified(bool Value) noexcept { FModified = Value; }
    // Size of the value in bytes (0 for null).
    std::int64_t BlobSize() const;
    // Empties the value through a write stream (the descendant makes an
    // empty value null).
    void Clear() override;
    void LoadFromStream(TStream* Stream);
    void SaveToStream(TStream* Stream) const;
    std::string GetAsString() const override;
    void SetAsString(const std::string& Value) override;

protected:
    void FreeBuffers() override;
    void CheckTypeSize(int Value) const override;

private:
    bool FModified = false;
};

class TMemoField : public TBlobField {
public:
    explicit TMemoField(TComponent* AOwner);
};

// ---------------------------------------------------------------------------
// TFields: the dataset's list of field objects, in field order
// ---------------------------------------------------------------------------

class TFields {
public:
    explicit TFields(TDataSet* DataSet);
    ~TFields();  // forgets its fields; does not free them
    TFields(const TFields&) = delete;
    TFields& operator=(const TFields&) = delete;

    TDataSet* DataSet() const noexcept { return FDataSet; }
    int Count() const noexcept { return static_cast<int>(FList.size()); }
    // 0 <= Index < Count, else EDatabaseError "Field index out of range".
    TField* Fields(int Index) const;
    TField* operator[](int Index) const { return Fields(Index); }
    int IndexOf(const TField* Field) const;

    // First field of that name, letter case ignored; nullptr when none.
    TField* FindField(std::string_view FieldName) const;
    // The same; raises "Field '%s' not found" when none.
    TField* FieldByName(std::string_view FieldName) const;
    // The field whose FieldNo is FieldNo; nullptr when none.
    TField* FieldByNumber(int FieldNo) const;

    void Add(TField* Field);
    void Remove(TField* Field);
    // Frees every field (last first) and empties the list.
    void Clear();

    const std::vector<TField*>& List() const noexcept { return FList; }

private:
    void Changed();
    TDataSet* FDataSet;
    std::vector<TField*> FList;
};

namespace fw {

// The factory of a field class: creates a field of that class with an owner.
using TFieldClass = TField* (*)(TComponent* AOwner);

// The default field class of each type (nullptr when the framework has none).
TFieldClass DefaultFieldClass(TFieldType Type);

// Native date-time conversions (the forms of the table above), exact for the
// valid range of TDateTime.
std::int32_t DateTimeToNativeDate(TDateTime Value);
std::int32_t DateTimeToNativeTime(TDateTime Value);
double DateTimeToNativeDateTime(TDateTime Value);
TDateTime NativeDateToDateTime(std::int32_t Days);
TDateTime NativeTimeToDateTime(std::int32_t MSecs);
TDateTime NativeDateTimeToDateTime(double MSecs);

}  // namespace fw
