// Interfaces of the table engine's "Orbalk" type library: the engine table
// (IBFTable ... IBFTable7), the engine string object (IBFString), their class
// ids and creator classes.
//
// The component reaches the engine only through these declarations and the
// class registry of the COM layer; the engine implements them. Every method
// returns an HRESULT; a caller passes it to OleCheck, so that a failure raises
// EOleException with the engine's message. Most operations also return a
// status (0 success, -1 failed, -10 misuse, -11 already open, -12
// unsupported type, -13 invalid index; seeks 7/1/0) for the caller's
// CheckError. Out parameters are always written on success.
//
// Columns are addressed by a variant: the column's name (VT_BSTR, letter case
// ignored) or its zero-based number (VT_I2/VT_I4). Values cross as variants
// (VT_EMPTY = null); text as WideString (UTF-16).
//
// Ownership:
// - SetFilter takes over one reference of the filter object it is given and
//   releases it when another filter (or nil) is installed or the table
//   closes; GetFilter returns a new reference that the caller releases.
// - SeekKeys borrows the array; the caller destroys it.
//
// Threads: one engine table object belongs to the thread that created it.
// The declaration order is the interface order; each gap of the original
// interface is a reserved slot that returns E_NOTIMPL.
#pragma once

#include <cstdint>
#include <string>

#include "rtl/ole/Ole.h"

struct IBFFilter;

// Class ids of the library.
inline constexpr CLSID CLASS_BFTable{0x5B7E2A10, 0x3C41, 0x4D0A, {0x9E, 0x21, 0x6F, 0x0B, 0x8A, 0x51, 0x11, 0x01}};
inline constexpr CLSID CLASS_BFString{0x5B7E2A10, 0x3C41, 0x4D0A, {0x9E, 0x21, 0x6F, 0x0B, 0x8A, 0x51, 0x11, 0x02}};
inline constexpr GUID LIBID_Orbalk{0x5B7E2A10, 0x3C41, 0x4D0A, {0x9E, 0x21, 0x6F, 0x0B, 0x8A, 0x51, 0x11, 0x00}};

struct IBFTable : IDispatch {
    static constexpr IID Iid{0x5B7E2A11, 0x3C41, 0x4D0A, {0x9E, 0x21, 0x6F, 0x0B, 0x8A, 0x51, 0x12, 0x01}};
    using BaseInterface = IDispatch;

    virtual HRESULT GetTablePath(WideString* Path) = 0;
    virtual HRESULT SetTablePath(const WideString& Path) = 0;
    virtual HRESULT OpenTable(const OleVariant& Path, std::int32_t* Status) = 0;
    virtual HRESULT CloseTable() = 0;
    virtual HRESULT CountRecords(std::int32_t* Count) = 0;
    virtual HRESULT GetEof(WordBool* Flag) = 0;  // past the last record
    virtual HRESULT GetBof(WordBool* Flag) = 0;  // before the first record
    virtual HRESULT MoveFirst(std::int32_t* Status) = 0;
    virtual HRESULT MoveLast(std::int32_t* Status) = 0;
    virtual HRESULT MovePrior(std::int32_t* Status) = 0;
    virtual HRESULT Reserved01() = 0;
    virtual HRESULT MoveNext(std::int32_t* Status) = 0;
    virtual HRESULT Reserved02() = 0;
    virtual HRESULT MoveToRecord(std::int32_t RecordNumber, std::int32_t* Status) = 0;
    virtual HRESULT GetRecordNumber(std::int32_t* Number) = 0;
    virtual HRESULT PostRecord(std::int32_t* Status) = 0;
    virtual HRESULT EditRecord(std::int32_t* Value) = 0;
    virtual HRESULT GetColumnValue(const OleVariant& Column, OleVariant* Value) = 0;
    virtual HRESULT SetColumnValue(const OleVariant& Column, const OleVariant& Value) = 0;
    virtual HRESULT Reserved03() = 0;
    virtual HRESULT SeekKey(const OleVariant& Key, std::int32_t* Status) = 0;
    virtual HRESULT SeekKeys(PSafeArray* Keys, std::int32_t* Status) = 0;
    virtual HRESULT Reserved04() = 0;
    virtual HRESULT PrepareClose(std::int32_t Reserved) = 0;
    virtual HRESULT AddRecord() = 0;
    virtual HRESULT GetLastStatus(std::int32_t* Value) = 0;
    virtual HRESULT LockTable(std::int32_t* Status) = 0;
    virtual HRESULT UnlockTable(std::int32_t* Status) = 0;
    virtual HRESULT LockRecord(std::int32_t* Status) = 0;
    virtual HRESULT UnlockRecord(std::int32_t* Status) = 0;
    virtual HRESULT GetFilter(IBFFilter** Filter) = 0;
    virtual HRESULT SetFilter(IBFFilter* Filter) = 0;
    virtual HRESULT DeleteRecord(std::int32_t* Status) = 0;
    virtual HRESULT SetIndex(const WideString& IndexName, std::int32_t* Status) = 0;
    virtual HRESULT NextAutoIncValue(const OleVariant& Column, std::int32_t* Value) = 0;
    virtual HRESULT Reserved05() = 0;
    virtual HRESULT Reserved06() = 0;
    virtual HRESULT Reserved07() = 0;
    virtual HRESULT Reserved08() = 0;
    virtual HRESULT Reserved09() = 0;
    virtual HRESULT Reserved10() = 0;
    virtual HRESULT Reserved11() = 0;
    virtual HRESULT Reserved12() = 0;
    virtual HRESULT Reserved13() = 0;
    virtual HRESULT Reserved14() = 0;
    virtual HRESULT Reserved15() = 0;
    virtual HRESULT Reserved16() = 0;
    virtual HRESULT GetColumnCount(std::int32_t* Count) = 0;
    virtual HRESULT GetColumnName(std::int32_t Number, WideString* Name) = 0;
    // First character = the type letter.
    virtual HRESULT GetColumnType(std::int32_t Number, WideString* Type) = 0;
    virtual HRESULT GetColumnSize(std::int32_t Number, std::int32_t* Size) = 0;
    virtual HRESULT Reserved17() = 0;
    virtual HRESULT Reserved18() = 0;
    virtual HRESULT GetIndexCount(std::int32_t* Count) = 0;
    // One character per key column; its low byte is the zero-based column number.
    virtual HRESULT GetIndexColumns(std::int32_t Index, WideString* Columns) = 0;
    virtual HRESULT Reserved19() = 0;
    virtual HRESULT Reserved20() = 0;
    virtual HRESULT Reserved21() = 0;
    virtual HRESULT Reserved22() = 0;
    virtual HRESULT GetGuidValue(const OleVariant& Column, WideString* Value) = 0;
    virtual HRESULT SetGuidValue(const OleVariant& Column, const WideString& Value) = 0;
    virtual HRESULT Reserved23() = 0;
    virtual HRESULT GuidToKey(const WideString& Guid, WideString* Key) = 0;
    virtual HRESULT GetWideValue(const OleVariant& Column, WideString* Value) = 0;
    virtual HRESULT SetWideValue(const OleVariant& Column, const WideString& Value) = 0;
};

// The later versions of the interface add nothing that this system calls;
// each has its own id so that QueryInterface answers for every version.
struct IBFTable2 : IBFTable {
    static constexpr IID Iid{0x5B7E2A11, 0x3C41, 0x4D0A, {0x9E, 0x21, 0x6F, 0x0B, 0x8A, 0x51, 0x12, 0x02}};
    using BaseInterface = IBFTable;
};
struct IBFTable3 : IBFTable2 {
    static constexpr IID Iid{0x5B7E2A11, 0x3C41, 0x4D0A, {0x9E, 0x21, 0x6F, 0x0B, 0x8A, 0x51, 0x12, 0x03}};
    using BaseInterface = IBFTable2;
};
struct IBFTable4 : IBFTable3 {
    static constexpr IID Iid{0x5B7E2A11, 0x3C41, 0x4D0A, {0x9E, 0x21, 0x6F, 0x0B, 0x8A, 0x51, 0x12, 0x04}};
    using BaseInterface = IBFTable3;
};
struct IBFTable5 : IBFTable4 {
    static constexpr IID Iid{0x5B7E2A11, 0x3C41, 0x4D0A, {0x9E, 0x21, 0x6F, 0x0B, 0x8A, 0x51, 0x12, 0x05}};
    using BaseInterface = IBFTable4;
};
struct IBFTable6 : IBFTable5 {
    static constexpr IID Iid{0x5B7E2A11, 0x3C41, 0x4D0A, {0x9E, 0x21, 0x6F, 0x0B, 0x8A, 0x51, 0x12, 0x06}};
    using BaseInterface = IBFTable5;
};
struct IBFTable7 : IBFTable6 {
    static constexpr IID Iid{0x5B7E2A11, 0x3C41, 0x4D0A, {0x9E, 0x21, 0x6F, 0x0B, 0x8A, 0x51, 0x12, 0x07}};
    using BaseInterface = IBFTable6;
};

// An addition of this engine to the interface: the access that OpenTable
// asks for. A client queries it from the engine table (an engine without it
// answers E_NOINTERFACE, and opens every table for reading and writing).
struct IBFTableAccess : IBFTable7 {
    static constexpr IID Iid{0x5B7E2A11, 0x3C41, 0x4D0A, {0x9E, 0x21, 0x6F, 0x0B, 0x8A, 0x51, 0x12, 0x10}};
    using BaseInterface = IBFTable7;

    // ReadOnly true: every later OpenTable of this object opens the table for
    // reading only: it works where this user cannot write the table file or
    // its folder (and then leaves no side files there), and every change
    // fails. False (the default): OpenTable fails when the file or the
    // folder that must hold its side files cannot be written, naming it.
    // Call it while no table is open.
    virtual HRESULT SetOpenReadOnly(WordBool ReadOnly) = 0;
};

struct IBFString : IDispatch {
    static constexpr IID Iid{0x5B7E2A11, 0x3C41, 0x4D0A, {0x9E, 0x21, 0x6F, 0x0B, 0x8A, 0x51, 0x13, 0x01}};
    using BaseInterface = IDispatch;

    // Text in upper case, cut or blank-padded to Length characters (no cut
    // or padding when Length <= 0).
    virtual HRESULT MakeKey(const WideString& Text, std::int32_t Length, WideString* Key) = 0;
    virtual HRESULT ToUpper(const WideString& Text, WideString* Result) = 0;
    virtual HRESULT ToLower(const WideString& Text, WideString* Result) = 0;
};

// Creator classes: create an engine object through the class registry.
// Raise EOleSysError ("Class not registered" when no engine is installed,
// "CoInitialize has not been called" on a thread without CoInitialize).
class CoBFTable {
public:
    static rtl::ComPtr<IBFTable7> Create() { return rtl::CreateComObject<IBFTable7>(CLASS_BFTable); }
    static rtl::ComPtr<IBFTable7> CreateRemote(const std::string& MachineName) {
        return rtl::CreateRemoteComObject<IBFTable7>(MachineName, CLASS_BFTable);
    }
};

class CoBFString {
public:
    static rtl::ComPtr<IBFString> Create() { return rtl::CreateComObject<IBFString>(CLASS_BFString); }
    static rtl::ComPtr<IBFString> CreateRemote(const std::string& MachineName) {
        return rtl::CreateRemoteComObject<IBFString>(MachineName, CLASS_BFString);
    }
};

namespace Orbalk_TLB {
// The engine library's unit puts no component on a palette.
inline void Register() {}
}  // namespace Orbalk_TLB
