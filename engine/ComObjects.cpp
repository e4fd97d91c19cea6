// The engine's COM objects: the table (IBFTable7, with IBFTableAccess), the string object
// (IBFString) and the relation object, and their registration.
//
// This file is the one boundary where engine::EngineError becomes a COM
// result: a misuse status (-10 to -13) is returned as the operation's status
// (and GetLastStatus), every other failure as E_FAIL with error info carrying
// the message.
#include "engine/Engine.h"

#include "engine/Catalog.h"
#include "engine/Collation.h"
#include "engine/FilterObject.h"
#include "engine/Table.h"
#include "engine/Values.h"
#include "moneytable/Orbalk_TLB.h"
#include "moneytable/Vennick_TLB.h"

#include <algorithm>
#include <cmath>
#include <unordered_map>
#include <limits>

namespace engine {

namespace {

constexpr const char* kSource = "Orbalk.BFTable";

bool IsMisuse(int status) { return status <= stMisuse && status >= stInvalidIndex; }

std::int32_t Clamp32(std::int64_t v) {
    if (v > std::numeric_limits<std::int32_t>::max()) return std::numeric_limits<std::int32_t>::max();
    if (v < std::numeric_limits<std::int32_t>::min()) return std::numeric_limits<std::int32_t>::min();
    return static_cast<std::int32_t>(v);
}

// Variant -> client value. Arrays and unknown types do not fit any column.
ClientValue FromVariant(const OleVariant& v, const std::string& columnName) {
    switch (v.VType()) {
    case VT_EMPTY:
    case VT_NULL: return ClientValue::Null();
    case VT_I2:
    case VT_I4: return ClientValue::Int(v.ToInt());
    case VT_R8: return ClientValue::Real(v.ToDouble());
    case VT_DATE: return ClientValue::Date(v.ToDate());
    case VT_BOOL: return ClientValue::Bool(v.ToBool());
    case VT_BSTR: return ClientValue::Text(Utf16ToUtf8(v.ToWide()));
    default:
        throw EngineError("Value of type " + OleVariant::TypeName(v.VType()) + " does not fit column '" + columnName +
                          "'");
    }
}

// Stored value -> variant by column type.
OleVariant ToVariant(const ColumnSpec& c, const Value& v) {
    if (v.IsNull()) return OleVariant();
    switch (c.Type) {
    case 'B': return OleVariant(v.i != 0);
    case 'C':
    case 'U':
    case 'M':
    case 'G': return OleVariant(Utf8ToUtf16(v.s));
    case 'D':
    case 'Z': return OleVariant::FromDate(static_cast<double>(v.i));
    case 'T':
    case 'Y': return OleVariant::FromDate(static_cast<double>(v.i) / static_cast<double>(MsPerDay));
    case 'E':
    case 'R': return OleVariant(v.kind == Value::Kind::Int ? static_cast<double>(v.i) : v.r);
    default: return OleVariant(static_cast<std::int32_t>(v.i));
    }
}

class BFTableObject final : public rtl::ComObject<IBFTableAccess> {
public:
    ~BFTableObject() override {
        FTable.Close();
        FFilter.reset();
    }

    // ---- the boundary
    // Runs body; its result is the status. Misuse errors become statuses,
    // other failures E_FAIL with error info.
    template <class F>
    HRESULT Guard(std::int32_t* status, F body) {
        try {
            const int st = body();
            FLastStatus = st;
            if (status) *status = st;
            return S_OK;
        } catch (const EngineError& e) {
            if (IsMisuse(e.Status())) {
                FLastStatus = e.Status();
                if (status) *status = e.Status();
                return S_OK;
            }
            FLastStatus = stFailed;
            if (status) *status = stFailed;
            rtl::SetErrorInfo(kSource, e.what());
            return E_FAIL;
        } catch (const std::bad_alloc&) {
            FLastStatus = stFailed;
            rtl::SetErrorInfo(kSource, "Out of memory");
            return E_OUTOFMEMORY;
        } catch (const std::exception& e) {
            FLastStatus = stFailed;
            if (status) *status = stFailed;
            rtl::SetErrorInfo(kSource, e.what());
            return E_FAIL;
        }
    }

    int Column(const OleVariant& column) const {
        if (!FTable.IsOpen()) throw EngineError("The table is not open", stMisuse);
        int c = -1;
        if (column.VType() == VT_I2 || column.VType() == VT_I4) {
            c = column.ToInt();
            if (c < 0 || c >= static_cast<int>(FTable.Schema().Columns.size())) c = -1;
        } else if (column.VType() == VT_BSTR) {
            // Records are read column by column by name: remember the names.
            // Readers ask for the columns in the same order record after
            // record: try the entry after the last hit first.
            const std::u16string_view name = column.TextView();
            const std::size_t n = FColumnCache.size();
            std::size_t i = FCacheHint;
            for (std::size_t k = 0; k < n; ++k, ++i) {
                if (i >= n) i = 0;
                const WideString& cached = FColumnCache[i].first;
                if (cached.size() == name.size() && std::equal(name.begin(), name.end(), cached.begin())) {
                    FCacheHint = i + 1;
                    return FColumnCache[i].second;
                }
            }
            c = FTable.FindColumn(Utf16ToUtf8(name));
            if (c >= 0 && n < 512) FColumnCache.emplace_back(WideString(name), c);
        }
        if (c < 0)
            throw EngineError("Table '" + FTable.Path() + "' has no column " +
                                  (column.VType() == VT_BSTR ? "'" + column.ToString() + "'" : column.ToString()),
                              stMisuse);
        return c;
    }
    const ColumnSpec& Spec(int c) const { return FTable.Schema().Columns[static_cast<std::size_t>(c)]; }
    void CheckOpen() const {
        if (!FTable.IsOpen()) throw EngineError("The table is not open", stMisuse);
    }

    // ---- IBFTable
    HRESULT GetTablePath(WideString* Path) override {
        if (!Path) return E_POINTER;
        *Path = FTablePath;
        return S_OK;
    }
    HRESULT SetTablePath(const WideString& Path) override {
        FTablePath = Path;
        return S_OK;
    }
    HRESULT OpenTable(const OleVariant& Path, std::int32_t* Status) override {
        return Guard(Status, [&] {
            if (FTable.IsOpen()) throw EngineError("Table '" + FTable.Path() + "' is already open", stAlreadyOpen);
            WideString path = Path.IsEmpty() || Path.IsNull() ? FTablePath : Path.ToWide();
            if (path.empty()) throw EngineError("No table file name was given");
            FColumnCache.clear();
            FTable.Open(Utf16ToUtf8(path), FOpenReadOnly);
            return 0;
        });
    }
    HRESULT SetOpenReadOnly(WordBool ReadOnly) override {
        return Guard(nullptr, [&] {
            if (FTable.IsOpen()) throw EngineError("Table '" + FTable.Path() + "' is already open", stAlreadyOpen);
            FOpenReadOnly = ReadOnly != VARIANT_FALSE;
            return 0;
        });
    }
    HRESULT CloseTable() override {
        return Guard(nullptr, [&] {
            FTable.Close();
            FColumnCache.clear();
            FFilter.reset();
            return 0;
        });
    }
    HRESULT CountRecords(std::int32_t* Count) override {
        if (!Count) return E_POINTER;
        *Count = 0;
        return Guard(nullptr, [&] {
            CheckOpen();
            *Count = Clamp32(FTable.CountRecords());
            return 0;
        });
    }
    HRESULT GetEof(WordBool* Flag) override {
        if (!Flag) return E_POINTER;
        *Flag = FTable.Eof() ? VARIANT_TRUE : VARIANT_FALSE;
        return S_OK;
    }
    HRESULT GetBof(WordBool* Flag) override {
        if (!Flag) return E_POINTER;
        *Flag = FTable.Bof() ? VARIANT_TRUE : VARIANT_FALSE;
        return S_OK;
    }
    HRESULT MoveFirst(std::int32_t* Status) override {
        return Guard(Status, [&] { return CheckOpen(), FTable.MoveFirst(), 0; });
    }
    HRESULT MoveLast(std::int32_t* Status) override {
        return Guard(Status, [&] { return CheckOpen(), FTable.MoveLast(), 0; });
    }
    HRESULT MovePrior(std::int32_t* Status) override {
        return Guard(Status, [&] { return CheckOpen(), FTable.MovePrior(), 0; });
    }
    HRESULT Reserved01() override { return E_NOTIMPL; }
    HRESULT MoveNext(std::int32_t* Status) override {
        return Guard(Status, [&] { return CheckOpen(), FTable.MoveNext(), 0; });
    }
    HRESULT Reserved02() override { return E_NOTIMPL; }
    HRESULT MoveToRecord(std::int32_t RecordNumber, std::int32_t* Status) override {
        return Guard(Status, [&] {
            CheckOpen();
            return FTable.MoveToRecord(RecordNumber) ? 0 : static_cast<int>(stFailed);
        });
    }
    HRESULT GetRecordNumber(std::int32_t* Number) override {
        if (!Number) return E_POINTER;
        *Number = -1;
        return Guard(nullptr, [&] {
            CheckOpen();
            const std::int64_t r = FTable.RecordNumber();
            if (r < 0) throw EngineError("There is no current record", stMisuse);
            *Number = Clamp32(r);
            return 0;
        });
    }
    HRESULT PostRecord(std::int32_t* Status) override {
        return Guard(Status, [&] { return CheckOpen(), FTable.Post(), 0; });
    }
    HRESULT EditRecord(std::int32_t* Value) override {
        return Guard(Value, [&] { return CheckOpen(), FTable.EditRecord(), 0; });
    }
    HRESULT GetColumnValue(const OleVariant& ColumnId, OleVariant* Value) override {
        if (!Value) return E_POINTER;
        const HRESULT hr = Guard(nullptr, [&] {
            const int c = Column(ColumnId);
            const ColumnSpec& spec = Spec(c);
            const engine::Value& v = FTable.GetValue(c);
            if (IsTextType(spec.Type) && v.kind == engine::Value::Kind::Text) {
                // The text goes over as it is stored, in UTF-8 (the caller's
                // buffer reused); a text that is not well-formed (a damaged
                // file) is converted here, with its substitutions.
                if (rtl::IsWellFormedUtf8(v.s))
                    Value->ResetUtf8Text().assign(v.s);
                else
                    Utf8ToUtf16Into(v.s, Value->ResetText());
            } else {
                *Value = ToVariant(spec, v);
            }
            return 0;
        });
        if (FLastStatus != 0) Value->Clear();  // no value: empty
        return hr;
    }
    HRESULT SetColumnValue(const OleVariant& ColumnId, const OleVariant& Value) override {
        return Guard(nullptr, [&] {
            const int c = Column(ColumnId);
            FTable.SetValue(c, FromVariant(Value, Spec(c).Name));
            return 0;
        });
    }
    HRESULT Reserved03() override { return E_NOTIMPL; }
    HRESULT SeekKey(const OleVariant& Key, std::int32_t* Status) override {
        return Guard(Status, [&] {
            CheckOpen();
            std::vector<ClientValue> key;
            if (Key.IsArray()) {
                for (int i = 0; i < Key.ArrayCount(); ++i) key.push_back(FromVariant(Key.At(i), "key"));
            } else {
                key.push_back(FromVariant(Key, "key"));
            }
            return FTable.Seek(key);
        });
    }
    HRESULT SeekKeys(PSafeArray* Keys, std::int32_t* Status) override {
        return Guard(Status, [&] {
            CheckOpen();
            std::vector<ClientValue> key;
            if (Keys && *Keys)
                for (const OleVariant& v : (*Keys)->Items) key.push_back(FromVariant(v, "key"));
            return FTable.Seek(key);
        });
    }
    HRESULT Reserved04() override { return E_NOTIMPL; }
    HRESULT PrepareClose(std::int32_t) override {
        return Guard(nullptr, [&] {
            FTable.PrepareClose();
            return 0;
        });
    }
    HRESULT AddRecord() override {
        return Guard(nullptr, [&] { return CheckOpen(), FTable.AddRecord(), 0; });
    }
    HRESULT GetLastStatus(std::int32_t* Value) override {
        if (!Value) return E_POINTER;
        *Value = FLastStatus;
        return S_OK;
    }
    HRESULT LockTable(std::int32_t* Status) override {
        return Guard(Status, [&] { return CheckOpen(), FTable.LockTable(), 0; });
    }
    HRESULT UnlockTable(std::int32_t* Status) override {
        return Guard(Status, [&] { return CheckOpen(), FTable.UnlockTable(), 0; });
    }
    HRESULT LockRecord(std::int32_t* Status) override {
        return Guard(Status, [&] { return CheckOpen(), FTable.LockRecord(), 0; });
    }
    HRESULT UnlockRecord(std::int32_t* Status) override {
        return Guard(Status, [&] { return CheckOpen(), FTable.UnlockRecord(), 0; });
    }
    HRESULT GetFilter(IBFFilter** Filter) override {
        if (!Filter) return E_POINTER;
        *Filter = FFilter.get();
        if (*Filter) (*Filter)->AddRef();
        return S_OK;
    }
    HRESULT SetFilter(IBFFilter* Filter) override {
        // Takes over the caller's reference, but only on success: a failed
        // installation leaves the reference with the caller.
        if (!Filter) {
            FFilter.reset();
            return Guard(nullptr, [&] {
                if (FTable.IsOpen()) FTable.ClearVisibility();
                return 0;
            });
        }
        const HRESULT hr = Guard(nullptr, [&] {
            if (!FTable.IsOpen()) throw EngineError("A filter cannot be installed on a table that is not open");
            rtl::ComPtr<IEngineFilter> state;
            if (FAILED(Filter->QueryInterface(IEngineFilter::Iid, reinterpret_cast<void**>(state.put()))) || !state)
                throw EngineError("The filter object was not created by this engine");
            const FilterState& s = state->State();
            auto bound = [&](PSafeArray a) -> std::optional<std::vector<ClientValue>> {
                if (!a) return std::nullopt;
                std::vector<ClientValue> out;
                for (const OleVariant& v : a->Items) out.push_back(FromVariant(v, "range bound"));
                return out;
            };
            FTable.SetVisibility(Utf16ToUtf8(s.Expression), s.CompareFlags, bound(s.Lower), bound(s.Upper));
            return 0;
        });
        if (SUCCEEDED(hr) && FLastStatus == 0) FFilter = rtl::ComPtr<IBFFilter>::Attach(Filter);
        return hr;
    }
    HRESULT DeleteRecord(std::int32_t* Status) override {
        return Guard(Status, [&] { return CheckOpen(), FTable.Delete(), 0; });
    }
    HRESULT SetIndex(const WideString& IndexName, std::int32_t* Status) override {
        return Guard(Status, [&] { return CheckOpen(), FTable.SetIndex(Utf16ToUtf8(IndexName)), 0; });
    }
    HRESULT NextAutoIncValue(const OleVariant& ColumnId, std::int32_t* Value) override {
        return Guard(Value, [&] { return Clamp32(FTable.NextAutoIncValue(Column(ColumnId))); });
    }
    HRESULT Reserved05() override { return E_NOTIMPL; }
    HRESULT Reserved06() override { return E_NOTIMPL; }
    HRESULT Reserved07() override { return E_NOTIMPL; }
    HRESULT Reserved08() override { return E_NOTIMPL; }
    HRESULT Reserved09() override { return E_NOTIMPL; }
    HRESULT Reserved10() override { return E_NOTIMPL; }
    HRESULT Reserved11() override { return E_NOTIMPL; }
    HRESULT Reserved12() override { return E_NOTIMPL; }
    HRESULT Reserved13() override { return E_NOTIMPL; }
    HRESULT Reserved14() override { return E_NOTIMPL; }
    HRESULT Reserved15() override { return E_NOTIMPL; }
    HRESULT Reserved16() override { return E_NOTIMPL; }
    HRESULT GetColumnCount(std::int32_t* Count) override {
        if (!Count) return E_POINTER;
        *Count = 0;
        return Guard(nullptr, [&] {
            CheckOpen();
            *Count = static_cast<std::int32_t>(FTable.Schema().Columns.size());
            return 0;
        });
    }
    HRESULT GetColumnName(std::int32_t Number, WideString* Name) override {
        if (!Name) return E_POINTER;
        Name->clear();
        return Guard(nullptr, [&] {
            *Name = Utf8ToUtf16(Spec(Column(OleVariant(Number))).Name);
            return 0;
        });
    }
    HRESULT GetColumnType(std::int32_t Number, WideString* Type) override {
        if (!Type) return E_POINTER;
        Type->clear();
        return Guard(nullptr, [&] {
            *Type = WideString(1, static_cast<char16_t>(Spec(Column(OleVariant(Number))).Type));
            return 0;
        });
    }
    HRESULT GetColumnSize(std::int32_t Number, std::int32_t* Size) override {
        if (!Size) return E_POINTER;
        *Size = 0;
        return Guard(nullptr, [&] {
            const ColumnSpec& c = Spec(Column(OleVariant(Number)));
            *Size = NaturalSize(c);
            return 0;
        });
    }
    HRESULT Reserved17() override { return E_NOTIMPL; }
    HRESULT Reserved18() override { return E_NOTIMPL; }
    HRESULT GetIndexCount(std::int32_t* Count) override {
        if (!Count) return E_POINTER;
        *Count = 0;
        return Guard(nullptr, [&] {
            CheckOpen();
            *Count = static_cast<std::int32_t>(FTable.Schema().Indexes.size());
            return 0;
        });
    }
    HRESULT GetIndexColumns(std::int32_t Index, WideString* Columns) override {
        if (!Columns) return E_POINTER;
        Columns->clear();
        return Guard(nullptr, [&] {
            CheckOpen();
            const auto& ix = FTable.Schema().Indexes;
            if (Index < 0 || Index >= static_cast<std::int32_t>(ix.size()))
                throw EngineError("Table '" + FTable.Path() + "' has no index number " + std::to_string(Index),
                                  stInvalidIndex);
            for (int c : ix[static_cast<std::size_t>(Index)].Columns) Columns->push_back(static_cast<char16_t>(c));
            return 0;
        });
    }
    HRESULT Reserved19() override { return E_NOTIMPL; }
    HRESULT Reserved20() override { return E_NOTIMPL; }
    HRESULT Reserved21() override { return E_NOTIMPL; }
    HRESULT Reserved22() override { return E_NOTIMPL; }
    HRESULT GetGuidValue(const OleVariant& ColumnId, WideString* Value) override {
        if (!Value) return E_POINTER;
        Value->clear();
        return Guard(nullptr, [&] {
            const int c = Column(ColumnId);
            if (Spec(c).Type != 'G')
                throw EngineError("Column '" + Spec(c).Name + "' is not a GUID column", stUnsupportedType);
            const engine::Value& v = FTable.GetValue(c);
            if (v.kind == engine::Value::Kind::Text) Utf8ToUtf16Into(v.s, *Value);
            return 0;
        });
    }
    HRESULT SetGuidValue(const OleVariant& ColumnId, const WideString& Value) override {
        return Guard(nullptr, [&] {
            const int c = Column(ColumnId);
            if (Spec(c).Type != 'G')
                throw EngineError("Column '" + Spec(c).Name + "' is not a GUID column", stUnsupportedType);
            FTable.SetValue(c, Value.empty() ? ClientValue::Null() : ClientValue::Text(Utf16ToUtf8(Value)));
            return 0;
        });
    }
    HRESULT Reserved23() override { return E_NOTIMPL; }
    HRESULT GuidToKey(const WideString& Guid, WideString* Key) override {
        if (!Key) return E_POINTER;
        const std::string g = NormalizeGuid(Utf16ToUtf8(Guid));
        // A text that is not a GUID keeps its characters, in upper case.
        *Key = g.empty() ? UnicodeUpper(Guid) : Utf8ToUtf16(g);
        return S_OK;
    }
    HRESULT GetWideValue(const OleVariant& ColumnId, WideString* Value) override {
        if (!Value) return E_POINTER;
        Value->clear();
        return Guard(nullptr, [&] {
            const int c = Column(ColumnId);
            if (!IsTextType(Spec(c).Type))
                throw EngineError("Column '" + Spec(c).Name + "' is not a text column", stUnsupportedType);
            const engine::Value& v = FTable.GetValue(c);
            if (v.kind == engine::Value::Kind::Text) Utf8ToUtf16Into(v.s, *Value);
            return 0;
        });
    }
    HRESULT SetWideValue(const OleVariant& ColumnId, const WideString& Value) override {
        return Guard(nullptr, [&] {
            const int c = Column(ColumnId);
            if (!IsTextType(Spec(c).Type))
                throw EngineError("Column '" + Spec(c).Name + "' is not a text column", stUnsupportedType);
            FTable.SetValue(c, Value.empty() ? ClientValue::Null() : ClientValue::Text(Utf16ToUtf8(Value)));
            return 0;
        });
    }

private:
    static std::int32_t NaturalSize(const ColumnSpec& c);

    Table FTable;
    WideString FTablePath;
    bool FOpenReadOnly = false;  // SetOpenReadOnly
    std::int32_t FLastStatus = 0;
    mutable std::vector<std::pair<WideString, int>> FColumnCache;  // name -> column of the open table
    mutable std::size_t FCacheHint = 0;
    rtl::ComPtr<IBFFilter> FFilter;
};

class BFStringObject final : public rtl::ComObject<IBFString> {
public:
    HRESULT MakeKey(const WideString& Text, std::int32_t Length, WideString* Key) override {
        if (!Key) return E_POINTER;
        *Key = MakeKeyText(Text, Length);
        return S_OK;
    }
    HRESULT ToUpper(const WideString& Text, WideString* Result) override {
        if (!Result) return E_POINTER;
        *Result = UnicodeUpper(Text);
        return S_OK;
    }
    HRESULT ToLower(const WideString& Text, WideString* Result) override {
        if (!Result) return E_POINTER;
        *Result = UnicodeLower(Text);
        return S_OK;
    }
};

class BFRelationObject final : public rtl::ComObject<IBFRelation> {};

std::int32_t BFTableObject::NaturalSize(const ColumnSpec& c) { return NaturalColumnSize(c.Type, c.Size); }
}  // namespace

void RegisterEngineServer() {
    rtl::RegisterClassObject(CLASS_BFTable, "Orbalk.BFTable", [] {
        IUnknown* o = static_cast<IBFTable7*>(new BFTableObject);
        o->AddRef();
        return o;
    });
    rtl::RegisterClassObject(CLASS_BFString, "Orbalk.BFString", [] {
        IUnknown* o = static_cast<IBFString*>(new BFStringObject);
        o->AddRef();
        return o;
    });
    rtl::RegisterClassObject(CLASS_BFFilter, "Vennick.BFFilter", [] {
        IUnknown* o = static_cast<IMoneyFilter*>(CreateFilterObject().Detach());
        return o;
    });
    rtl::RegisterClassObject(CLASS_BFRelation, "Vennick.BFRelation", [] {
        IUnknown* o = static_cast<IBFRelation*>(new BFRelationObject);
        o->AddRef();
        return o;
    });
}

}  // namespace engine
