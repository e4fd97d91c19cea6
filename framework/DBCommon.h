// Dataset framework: the types every part of the framework shares.
//
// Declares the enumerations of dataset states, fetch modes and results,
// bookmark flags, resynchronisation options, error-event actions,
// notifications, field types and kinds, field and index attributes and blob
// stream modes; the record buffer and bookmark types; the framework's
// exception class EDatabaseError with DatabaseError/DatabaseErrorFmt and the
// framework's fixed messages (namespace fw); and a small set type (fw::TSet)
// for the option sets.
//
// Ownership: TRecordBuffer is a raw pointer into a buffer that the dataset
// allocated through its AllocRecordBuffer hook and owns; it is never freed by
// a holder of the pointer. TBookmark owns its bytes (empty = no bookmark).
//
// Threads: the framework is single-threaded; every object is used by the
// thread that created it. The functions here are reentrant.
#pragma once

#include "rtl/SysUtils.h"

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

class TDataSet;
class TField;
class TComponent;

// ---------------------------------------------------------------------------
// Buffers and bookmarks
// ---------------------------------------------------------------------------

// A record buffer: raw bytes whose size and layout belong to the concrete
// dataset. The framework reads and writes it only through the hooks.
using TRecordBuffer = std::uint8_t*;

// A bookmark: a copy of BookmarkSize bytes identifying a record. Empty means
// "no bookmark".
using TBookmark = std::vector<std::uint8_t>;

// The same bytes held in a string (Bookmark as a string); empty for none.
using TBookmarkStr = std::string;

// ---------------------------------------------------------------------------
// Enumerations (ordinals are significant: they match the stored forms)
// ---------------------------------------------------------------------------

enum TDataSetState {
    dsInactive,      // closed
    dsBrowse,        // open, nothing being edited
    dsEdit,          // the active record is being changed
    dsInsert,        // a new record is being composed
    dsSetKey,        // a key buffer is edited through the fields (descendant)
    dsCalcFields,    // temporary: calculated fields of one buffer
    dsFilter,        // temporary: a descendant evaluates one record
    dsNewValue,      // not used
    dsOldValue,      // not used
    dsCurValue,      // not used
    dsBlockRead,     // block reading: controls are not notified
    dsInternalCalc,  // temporary: internal calculated fields
    dsOpening        // not used
};

enum TGetMode { gmCurrent, gmNext, gmPrior };
enum TGetResult { grOK, grBOF, grEOF, grError };
enum TBookmarkFlag { bfCurrent, bfBOF, bfEOF, bfInserted };
enum TDataAction { daFail, daAbort, daRetry };

enum TDataEvent {
    deFieldChange,      // Info: the field (FieldToInfo)
    deRecordChange,     // Info: 0
    deDataSetChange,    // Info: 0
    deDataSetScroll,    // Info: the shift of the buffers
    deLayoutChange,     // Info: 0
    deUpdateRecord,     // Info: 0
    deUpdateState,      // Info: 0
    deCheckBrowseMode,  // Info: 0
    dePropertyChange,   // Info: 0
    deFieldListChange,  // Info: 0
    deFocusControl,     // Info: pointer to a TField* (FieldRefToInfo)
    deParentScroll      // Info: 0
};

enum TFieldType {
    ftUnknown, ftString, ftSmallint, ftInteger, ftWord, ftBoolean, ftFloat, ftCurrency, ftBCD, ftDate,
    ftTime, ftDateTime, ftBytes, ftVarBytes, ftAutoInc, ftBlob, ftMemo, ftGraphic, ftFmtMemo,
    ftParadoxOle, ftDBaseOle, ftTypedBinary, ftCursor, ftFixedChar, ftWideString, ftLargeint, ftADT,
    ftArray, ftReference, ftDataSet, ftOraBlob, ftOraClob, ftVariant, ftInterface, ftIDispatch, ftGuid
};

enum TFieldKind { fkData, fkCalculated, fkLookup, fkInternalCalc, fkAggregate };

enum TBlobStreamMode { bmRead, bmWrite, bmReadWrite };

namespace fw {

// A set of up to 64 members of an enumeration, like a Pascal "set of".
template <class E>
class TSet {
public:
    constexpr TSet() noexcept = default;
    constexpr TSet(std::initializer_list<E> Items) noexcept {
        for (E Item : Items) FBits |= Bit(Item);
    }
    constexpr bool Contains(E Item) const noexcept { return (FBits & Bit(Item)) != 0; }
    constexpr bool Empty() const noexcept { return FBits == 0; }
    constexpr TSet& Include(E Item) noexcept { FBits |= Bit(Item); return *this; }
    constexpr TSet& Exclude(E Item) noexcept { FBits &= ~Bit(Item); return *this; }
    constexpr TSet operator+(TSet Other) const noexcept { return FromBits(FBits | Other.FBits); }
    constexpr TSet operator-(TSet Other) const noexcept { return FromBits(FBits & ~Other.FBits); }
    constexpr TSet operator*(TSet Other) const noexcept { return FromBits(FBits & Other.FBits); }
    constexpr bool operator==(const TSet& Other) const noexcept = default;
    constexpr std::uint64_t Bits() const noexcept { return FBits; }

private:
    static constexpr std::uint64_t Bit(E Item) noexcept { return std::uint64_t{1} << static_cast<unsigned>(Item); }
    static constexpr TSet FromBits(std::uint64_t Bits) noexcept { TSet S; S.FBits = Bits; return S; }
    std::uint64_t FBits = 0;
};

enum TResyncOption { rmExact, rmCenter };

}  // namespace fw

using fw::rmCenter;
using fw::rmExact;

// Resynchronisation options: rmExact (the current record must be found
// again), rmCenter (put it in the middle of the window).
using TResyncMode = fw::TSet<fw::TResyncOption>;

enum TFilterOption { foCaseInsensitive, foNoPartialCompare };
using TFilterOptions = fw::TSet<TFilterOption>;

enum TFieldAttribute { faHiddenCol, faReadonly, faRequired, faLink, faUnNamed, faFixed };
using TFieldAttributes = fw::TSet<TFieldAttribute>;

enum TIndexOption { ixPrimary, ixUnique, ixDescending, ixCaseInsensitive, ixExpression, ixNonMaintained };
using TIndexOptions = fw::TSet<TIndexOption>;

// The states in which a record or key is being edited.
inline bool IsEditMode(TDataSetState State) noexcept {
    return State == dsEdit || State == dsInsert || State == dsSetKey;
}

// ---------------------------------------------------------------------------
// Errors
// ---------------------------------------------------------------------------

// The framework's exception class: misuse of a dataset, a missing field, a
// failed conversion of a field's text.
class EDatabaseError : public Exception {
public:
    using Exception::Exception;
};

// Raise EDatabaseError with Message (the component is accepted for the
// classic signature; the message is not prefixed with its name).
[[noreturn]] void DatabaseError(const std::string& Message, TComponent* Component = nullptr);
// Raise EDatabaseError with Format(Fmt, Args).
[[noreturn]] void DatabaseErrorFmt(std::string_view Fmt, std::initializer_list<TVarRec> Args,
                                   TComponent* Component = nullptr);

namespace fw {

// The framework's fixed messages.
inline constexpr const char* SDataSetOpen = "Cannot perform this operation on an open dataset";
inline constexpr const char* SDataSetClosed = "Cannot perform this operation on a closed dataset";
inline constexpr const char* SDataSetEmpty = "Cannot perform this operation on an empty dataset";
inline constexpr const char* SDataSetReadOnly = "Cannot modify a read-only dataset";
inline constexpr const char* SNotEditing = "Dataset not in edit or insert mode";
inline constexpr const char* SRecordNotFound = "Record not found";
inline constexpr const char* SFieldNotFound = "Field '%s' not found";
inline constexpr const char* SDataSetMissing = "Field '%s' has no dataset";
inline constexpr const char* SInvalidCalcType = "Field '%s' cannot be a calculated or lookup field";
inline constexpr const char* SFieldRequired = "Field '%s' must have a value";
inline constexpr const char* SFieldOutOfRange = "Value of field '%s' is out of range";
inline constexpr const char* SInvalidIntegerValue = "'%s' is not a valid integer value for field '%s'";
inline constexpr const char* SInvalidFloatValue = "'%s' is not a valid floating point value for field '%s'";
inline constexpr const char* SInvalidBoolValue = "'%s' is not a valid boolean value for field '%s'";
inline constexpr const char* SNulInText = "A text with a NUL character is not a valid value for field '%s'";
inline constexpr const char* SDuplicateName = "A component named %s already exists";
inline constexpr const char* SCircularDataLink = "Circular datalinks are not allowed";
inline constexpr const char* SAbstractError = "Abstract Error";
inline constexpr const char* SFieldTypeMismatch = "Type mismatch for field '%s', expecting: %s actual: %s";
inline constexpr const char* SFieldAccessError = "Cannot access field '%s' as type %s";
inline constexpr const char* SFieldRangeError = "%s is not a valid value for field '%s'. The allowed range is %s to %s";
inline constexpr const char* SUnknownFieldType = "Field '%s' is of an unknown type";
inline constexpr const char* SInvalidFieldSize = "Invalid field size";
inline constexpr const char* SDataSourceChange = "DataSource cannot be changed";
inline constexpr const char* SFieldIndexError = "Field index out of range";

// Largest text a string field reads or writes, in bytes.
inline constexpr int dsMaxStringSize = 8192;

// The display name of a field type ("String", "Integer", ...).
std::string FieldTypeName(TFieldType Type);

// Name comparison that ignores letter case the way the framework's look-ups
// do: UTF-8 text compared after simple case folding of ASCII, Latin-1,
// Latin Extended-A, Greek and Cyrillic letters.
bool SameName(std::string_view A, std::string_view B);

// Info arguments of DataEvent that carry a field or a field reference.
inline std::intptr_t FieldToInfo(TField* Field) noexcept { return reinterpret_cast<std::intptr_t>(Field); }
inline TField* InfoToField(std::intptr_t Info) noexcept { return reinterpret_cast<TField*>(Info); }
inline std::intptr_t FieldRefToInfo(TField** Ref) noexcept { return reinterpret_cast<std::intptr_t>(Ref); }
inline TField** InfoToFieldRef(std::intptr_t Info) noexcept { return reinterpret_cast<TField**>(Info); }

}  // namespace fw
