#include "tests/moneytable/FakeEngine.h"

#include <algorithm>
#include <cstdio>

namespace fake {

namespace {

std::string Upper(std::string s) {
    for (char& c : s)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return s;
}

std::string Quote(const WideString& w) { return "'" + WideToUtf8(w) + "'"; }

bool IsNumeric(const OleVariant& v) {
    switch (v.VType()) {
        case VT_I2:
        case VT_I4:
        case VT_R8:
        case VT_DATE:
        case VT_BOOL: return true;
        default: return false;
    }
}

// Null and empty first; numbers numerically; anything else as upper-cased text.
int CompareValues(const OleVariant& a, const OleVariant& b) {
    const bool an = a.IsEmpty() || a.IsNull();
    const bool bn = b.IsEmpty() || b.IsNull();
    if (an || bn) return an == bn ? 0 : (an ? -1 : 1);
    if (IsNumeric(a) && IsNumeric(b)) {
        const double x = a.ToDouble(), y = b.ToDouble();
        return x < y ? -1 : (x > y ? 1 : 0);
    }
    const std::string x = Upper(a.ToString()), y = Upper(b.ToString());
    return x < y ? -1 : (x > y ? 1 : 0);
}

}  // namespace

std::string Describe(const OleVariant& v) {
    switch (v.VType()) {
        case VT_EMPTY: return "EMPTY";
        case VT_NULL: return "NULL";
        case VT_I2: return "I2:" + std::to_string(v.ToInt());
        case VT_I4: return "I4:" + std::to_string(v.ToInt());
        case VT_R8:
        case VT_DATE: {
            char buf[64];
            std::snprintf(buf, sizeof buf, "%.10g", v.ToDouble());
            return std::string(v.VType() == VT_R8 ? "R8:" : "DATE:") + buf;
        }
        case VT_BOOL: return v.ToBool() ? "BOOL:T" : "BOOL:F";
        case VT_BSTR: return "BSTR:" + Quote(v.ToWide());
        default:
            if (v.IsArray()) {
                std::string s = "[";
                for (int i = 0; i < v.ArrayCount(); ++i) s += (i ? ", " : "") + Describe(v.At(i));
                return s + "]";
            }
            return "?";
    }
}

std::string Describe(PSafeArray a) {
    if (!a) return "nil";
    std::string s = "[";
    for (std::size_t i = 0; i < a->Items.size(); ++i) s += (i ? ", " : "") + Describe(a->Items[i]);
    return s + "]";
}

// ------------------------------------------------------------ table data

std::int32_t FakeTableData::Add(std::vector<OleVariant> values) {
    values.resize(Columns.size());
    Records.push_back(FakeRecord{NextRecNo, std::move(values)});
    return NextRecNo++;
}

FakeRecord* FakeTableData::Find(std::int32_t recNo) {
    for (auto& r : Records)
        if (r.RecNo == recNo) return &r;
    return nullptr;
}

int FakeTableData::ColumnIndex(const std::string& name) const {
    for (std::size_t i = 0; i < Columns.size(); ++i)
        if (Upper(Columns[i].Name) == Upper(name)) return static_cast<int>(i);
    // As the engine does: a name of 10 characters also names the first
    // column whose name starts with it.
    if (name.size() == 10)
        for (std::size_t i = 0; i < Columns.size(); ++i)
            if (Upper(Columns[i].Name.substr(0, 10)) == Upper(name)) return static_cast<int>(i);
    return -1;
}

std::string FakeTableData::IndexName(std::size_t k) const {
    std::string s;
    for (std::size_t i = 0; i < Indexes[k].size(); ++i) s += (i ? "+" : "") + Columns[Indexes[k][i]].Name;
    return s;
}

// ------------------------------------------------------------ filter object

class FakeFilter final : public rtl::ComObject<IMoneyFilter> {
public:
    FakeFilter() { FakeEngine::Instance().ObjectCreated(); }
    ~FakeFilter() override {
        SafeArrayDestroy(FLower);
        SafeArrayDestroy(FUpper);
        FakeEngine::Instance().ObjectDestroyed();
    }

    HRESULT SetRangeBound(std::int32_t Bound, PSafeArray Keys) override {
        FakeEngine::Instance().Log("Filter.SetRangeBound(" + std::to_string(Bound) + ", " + Describe(Keys) + ")");
        PSafeArray& slot = Bound == RangeBoundLower ? FLower : FUpper;
        if (slot != Keys) SafeArrayDestroy(slot);
        slot = Keys;
        return S_OK;
    }
    HRESULT Reserved01() override { return E_NOTIMPL; }
    HRESULT SetExpression(const WideString& Expression) override {
        FakeEngine::Instance().Log("Filter.SetExpression(" + Quote(Expression) + ")");
        FExpression = WideToUtf8(Expression);
        return S_OK;
    }
    HRESULT GetCompareFlags(std::int32_t* Flags) override {
        FakeEngine::Instance().Log("Filter.GetCompareFlags");
        *Flags = FFlags;
        return S_OK;
    }
    HRESULT SetCompareFlags(std::int32_t Flags) override {
        FakeEngine::Instance().Log("Filter.SetCompareFlags(" + std::to_string(Flags) + ")");
        FFlags = Flags;
        return S_OK;
    }

    PSafeArray FLower = nullptr;
    PSafeArray FUpper = nullptr;
    std::string FExpression;
    std::int32_t FFlags = 0;
};

// ------------------------------------------------------------ string object

class FakeString final : public rtl::ComObject<IBFString> {
public:
    FakeString() { FakeEngine::Instance().ObjectCreated(); }
    ~FakeString() override { FakeEngine::Instance().ObjectDestroyed(); }

    HRESULT MakeKey(const WideString& Text, std::int32_t Length, WideString* Key) override {
        FakeEngine::Instance().Log("String.MakeKey(" + Quote(Text) + ", " + std::to_string(Length) + ")");
        WideString k = ToUpperW(Text);
        if (Length > 0) k.resize(static_cast<std::size_t>(Length), u' ');
        *Key = k;
        return S_OK;
    }
    HRESULT ToUpper(const WideString& Text, WideString* Result) override {
        FakeEngine::Instance().Log("String.ToUpper(" + Quote(Text) + ")");
        *Result = ToUpperW(Text);
        return S_OK;
    }
    HRESULT ToLower(const WideString& Text, WideString* Result) override {
        FakeEngine::Instance().Log("String.ToLower(" + Quote(Text) + ")");
        WideString r = Text;
        for (auto& c : r)
            if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c - u'A' + u'a');
        *Result = r;
        return S_OK;
    }

private:
    static WideString ToUpperW(WideString r) {
        for (auto& c : r)
            if (c >= u'a' && c <= u'z') c = static_cast<char16_t>(c - u'a' + u'A');
        return r;
    }
};

// ------------------------------------------------------------ table object

class FakeTable final : public rtl::ComObject<IBFTable7> {
public:
    FakeTable() { E().ObjectCreated(); }
    ~FakeTable() override { E().ObjectDestroyed(); }

    HRESULT GetTablePath(WideString* Path) override {
        if (HRESULT hr = Enter("GetTablePath")) return hr;
        *Path = FPath;
        return S_OK;
    }
    HRESULT SetTablePath(const WideString& Path) override {
        if (HRESULT hr = Enter("SetTablePath(" + Quote(Path) + ")", "SetTablePath")) return hr;
        FPath = Path;
        return S_OK;
    }
    HRESULT OpenTable(const OleVariant& Path, std::int32_t* Status) override {
        if (HRESULT hr = Enter("OpenTable(" + Quote(Path.ToWide()) + ")", "OpenTable")) return hr;
        std::int32_t st = 0;
        if (FData) {
            st = -11;
        } else {
            auto it = E().FTables.find(Path.ToString());
            if (it == E().FTables.end()) {
                st = -1;
            } else {
                FData = it->second;
                GoFirst();
            }
        }
        *Status = Report("OpenTable", st);
        return S_OK;
    }
    HRESULT CloseTable() override {
        if (HRESULT hr = Enter("CloseTable")) return hr;
        FData.reset();
        FFilter = nullptr;
        FMode = Mode::None;
        FCur = 0;
        FKey.clear();
        return S_OK;
    }
    HRESULT CountRecords(std::int32_t* Count) override {
        if (HRESULT hr = Enter("CountRecords")) return hr;
        *Count = E().ForcedCount ? *E().ForcedCount : static_cast<std::int32_t>(Visible().size());
        return S_OK;
    }
    HRESULT GetEof(WordBool* Flag) override {
        if (HRESULT hr = Enter("GetEof")) return hr;
        *Flag = (E().ForcedEof ? *E().ForcedEof : FEof) ? VARIANT_TRUE : VARIANT_FALSE;
        return S_OK;
    }
    HRESULT GetBof(WordBool* Flag) override {
        if (HRESULT hr = Enter("GetBof")) return hr;
        *Flag = (E().ForcedBof ? *E().ForcedBof : FBof) ? VARIANT_TRUE : VARIANT_FALSE;
        return S_OK;
    }
    HRESULT MoveFirst(std::int32_t* Status) override {
        if (HRESULT hr = Enter("MoveFirst")) return hr;
        GoFirst();
        *Status = Report("MoveFirst", 0);
        return S_OK;
    }
    HRESULT MoveLast(std::int32_t* Status) override {
        if (HRESULT hr = Enter("MoveLast")) return hr;
        auto vis = Visible();
        if (vis.empty()) {
            SetNone();
        } else {
            FCur = vis.back()->RecNo;
            FEof = FBof = false;
        }
        *Status = Report("MoveLast", 0);
        return S_OK;
    }
    HRESULT MovePrior(std::int32_t* Status) override {
        if (HRESULT hr = Enter("MovePrior")) return hr;
        Step(-1);
        *Status = Report("MovePrior", 0);
        return S_OK;
    }
    HRESULT Reserved01() override { return E_NOTIMPL; }
    HRESULT MoveNext(std::int32_t* Status) override {
        if (HRESULT hr = Enter("MoveNext")) return hr;
        Step(+1);
        *Status = Report("MoveNext", 0);
        return S_OK;
    }
    HRESULT Reserved02() override { return E_NOTIMPL; }
    HRESULT MoveToRecord(std::int32_t RecordNumber, std::int32_t* Status) override {
        if (HRESULT hr = Enter("MoveToRecord(" + std::to_string(RecordNumber) + ")", "MoveToRecord")) return hr;
        std::int32_t st = -1;
        for (auto* r : Visible())
            if (r->RecNo == RecordNumber) {
                FCur = RecordNumber;
                FEof = FBof = false;
                st = 0;
            }
        *Status = Report("MoveToRecord", st);
        return S_OK;
    }
    HRESULT GetRecordNumber(std::int32_t* Number) override {
        if (HRESULT hr = Enter("GetRecordNumber")) return hr;
        *Number = Current() ? FCur : -1;
        return S_OK;
    }
    HRESULT PostRecord(std::int32_t* Status) override {
        if (HRESULT hr = Enter("PostRecord")) return hr;
        std::int32_t st = 0;
        if (FMode == Mode::Adding) {
            FCur = FData->Add(FPending);
            FEof = FBof = false;
        } else if (FMode == Mode::Editing && FData->Find(FEditRecNo)) {
            FData->Find(FEditRecNo)->Values = FPending;
        } else {
            st = -10;
        }
        FMode = Mode::None;
        *Status = Report("PostRecord", st);
        return S_OK;
    }
    HRESULT EditRecord(std::int32_t* Value) override {
        if (HRESULT hr = Enter("EditRecord")) return hr;
        std::int32_t st = -10;
        if (FakeRecord* r = Current()) {
            FPending = r->Values;
            FEditRecNo = r->RecNo;
            FMode = Mode::Editing;
            st = 0;
        }
        *Value = Report("EditRecord", st);
        return S_OK;
    }
    HRESULT GetColumnValue(const OleVariant& Column, OleVariant* Value) override {
        if (HRESULT hr = Enter("GetColumnValue(" + ColumnText(Column) + ")", "GetColumnValue")) return hr;
        Value->Clear();
        const int c = ColumnOf(Column);
        FakeRecord* r = Current();
        if (c < 0 || !r) {
            FLastStatus = -10;
            return S_OK;
        }
        *Value = r->Values[static_cast<std::size_t>(c)];
        FLastStatus = 0;
        return S_OK;
    }
    HRESULT SetColumnValue(const OleVariant& Column, const OleVariant& Value) override {
        if (HRESULT hr = Enter("SetColumnValue(" + ColumnText(Column) + ", " + Describe(Value) + ")", "SetColumnValue"))
            return hr;
        Store(Column, Value);
        return S_OK;
    }
    HRESULT Reserved03() override { return E_NOTIMPL; }
    HRESULT SeekKey(const OleVariant& Key, std::int32_t* Status) override {
        if (HRESULT hr = Enter("SeekKey(" + Describe(Key) + ")", "SeekKey")) return hr;
        *Status = Report("SeekKey", Seek({Key}));
        return S_OK;
    }
    HRESULT SeekKeys(PSafeArray* Keys, std::int32_t* Status) override {
        if (HRESULT hr = Enter("SeekKeys(" + Describe(Keys ? *Keys : nullptr) + ")", "SeekKeys")) return hr;
        std::vector<OleVariant> keys;
        if (Keys && *Keys) keys = (*Keys)->Items;
        *Status = Report("SeekKeys", Seek(keys));
        return S_OK;
    }
    HRESULT Reserved04() override { return E_NOTIMPL; }
    HRESULT PrepareClose(std::int32_t Reserved) override {
        return Enter("PrepareClose(" + std::to_string(Reserved) + ")", "PrepareClose");
    }
    HRESULT AddRecord() override {
        if (HRESULT hr = Enter("AddRecord")) return hr;
        if (FData) {
            FPending.assign(FData->Columns.size(), OleVariant());
            FMode = Mode::Adding;
        }
        return S_OK;
    }
    HRESULT GetLastStatus(std::int32_t* Value) override {
        if (HRESULT hr = Enter("GetLastStatus")) return hr;
        *Value = FLastStatus;
        return S_OK;
    }
    HRESULT LockTable(std::int32_t* Status) override { return Simple("LockTable", Status); }
    HRESULT UnlockTable(std::int32_t* Status) override { return Simple("UnlockTable", Status); }
    HRESULT LockRecord(std::int32_t* Status) override {
        if (HRESULT hr = Enter("LockRecord")) return hr;
        *Status = Report("LockRecord", Current() ? 0 : -10);
        return S_OK;
    }
    HRESULT UnlockRecord(std::int32_t* Status) override { return Simple("UnlockRecord", Status); }
    HRESULT GetFilter(IBFFilter** Filter) override {
        if (HRESULT hr = Enter("GetFilter")) return hr;
        *Filter = FFilter.get();
        if (*Filter) (*Filter)->AddRef();
        return S_OK;
    }
    HRESULT SetFilter(IBFFilter* Filter) override {
        if (HRESULT hr = Enter(std::string("SetFilter(") + (Filter ? "filter" : "nil") + ")", "SetFilter")) {
            return hr;  // a refused filter is not taken over
        }
        FFilter = rtl::ComPtr<IBFFilter>::Attach(Filter);
        return S_OK;
    }
    HRESULT DeleteRecord(std::int32_t* Status) override {
        if (HRESULT hr = Enter("DeleteRecord")) return hr;
        std::int32_t st = -10;
        if (Current()) {
            auto vis = Visible();
            auto it = std::find_if(vis.begin(), vis.end(), [&](FakeRecord* r) { return r->RecNo == FCur; });
            std::int32_t next = 0;
            if (it + 1 != vis.end())
                next = (*(it + 1))->RecNo;
            else if (it != vis.begin())
                next = (*(it - 1))->RecNo;
            const std::int32_t gone = FCur;
            std::erase_if(FData->Records, [&](const FakeRecord& r) { return r.RecNo == gone; });
            if (next) {
                FCur = next;
                FEof = FBof = false;
            } else {
                SetNone();
            }
            st = 0;
        }
        *Status = Report("DeleteRecord", st);
        return S_OK;
    }
    HRESULT SetIndex(const WideString& IndexName, std::int32_t* Status) override {
        if (HRESULT hr = Enter("SetIndex(" + Quote(IndexName) + ")", "SetIndex")) return hr;
        std::int32_t st = 0;
        const std::string name = WideToUtf8(IndexName);
        if (name.empty()) {
            FKey.clear();
        } else {
            st = -13;
            for (std::size_t k = 0; FData && k < FData->Indexes.size(); ++k)
                if (Upper(FData->IndexName(k)) == Upper(name)) {
                    FKey = FData->Indexes[k];
                    st = 0;
                }
        }
        *Status = Report("SetIndex", st);
        return S_OK;
    }
    HRESULT NextAutoIncValue(const OleVariant& Column, std::int32_t* Value) override {
        if (HRESULT hr = Enter("NextAutoIncValue(" + ColumnText(Column) + ")", "NextAutoIncValue")) return hr;
        std::int32_t v = -10;
        if (FData && ColumnOf(Column) >= 0) v = ++FData->AutoInc[Upper(Column.ToString())];
        *Value = Report("NextAutoIncValue", v);
        return S_OK;
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
        if (HRESULT hr = Enter("GetColumnCount")) return hr;
        *Count = FData ? static_cast<std::int32_t>(FData->Columns.size()) : 0;
        return S_OK;
    }
    HRESULT GetColumnName(std::int32_t Number, WideString* Name) override {
        if (HRESULT hr = Enter("GetColumnName(" + std::to_string(Number) + ")", "GetColumnName")) return hr;
        *Name = Utf8ToWide(Column(Number).Name);
        return S_OK;
    }
    HRESULT GetColumnType(std::int32_t Number, WideString* Type) override {
        if (HRESULT hr = Enter("GetColumnType(" + std::to_string(Number) + ")", "GetColumnType")) return hr;
        *Type = Utf8ToWide(Column(Number).Type);
        return S_OK;
    }
    HRESULT GetColumnSize(std::int32_t Number, std::int32_t* Size) override {
        if (HRESULT hr = Enter("GetColumnSize(" + std::to_string(Number) + ")", "GetColumnSize")) return hr;
        *Size = Column(Number).Size;
        return S_OK;
    }
    HRESULT Reserved17() override { return E_NOTIMPL; }
    HRESULT Reserved18() override { return E_NOTIMPL; }
    HRESULT GetIndexCount(std::int32_t* Count) override {
        if (HRESULT hr = Enter("GetIndexCount")) return hr;
        *Count = FData ? static_cast<std::int32_t>(FData->Indexes.size()) : 0;
        return S_OK;
    }
    HRESULT GetIndexColumns(std::int32_t Index, WideString* Columns) override {
        if (HRESULT hr = Enter("GetIndexColumns(" + std::to_string(Index) + ")", "GetIndexColumns")) return hr;
        Columns->clear();
        if (FData && Index >= 0 && static_cast<std::size_t>(Index) < FData->Indexes.size())
            for (int c : FData->Indexes[static_cast<std::size_t>(Index)]) Columns->push_back(static_cast<char16_t>(c));
        return S_OK;
    }
    HRESULT Reserved19() override { return E_NOTIMPL; }
    HRESULT Reserved20() override { return E_NOTIMPL; }
    HRESULT Reserved21() override { return E_NOTIMPL; }
    HRESULT Reserved22() override { return E_NOTIMPL; }
    HRESULT GetGuidValue(const OleVariant& Column, WideString* Value) override {
        return ReadText("GetGuidValue", Column, Value);
    }
    HRESULT SetGuidValue(const OleVariant& Column, const WideString& Value) override {
        if (HRESULT hr = Enter("SetGuidValue(" + ColumnText(Column) + ", " + Quote(Value) + ")", "SetGuidValue"))
            return hr;
        Store(Column, OleVariant(Value));
        return S_OK;
    }
    HRESULT Reserved23() override { return E_NOTIMPL; }
    HRESULT GuidToKey(const WideString& Guid, WideString* Key) override {
        if (HRESULT hr = Enter("GuidToKey(" + Quote(Guid) + ")", "GuidToKey")) return hr;
        WideString k = Guid;
        for (auto& c : k)
            if (c >= u'a' && c <= u'z') c = static_cast<char16_t>(c - u'a' + u'A');
        *Key = k;
        return S_OK;
    }
    HRESULT GetWideValue(const OleVariant& Column, WideString* Value) override {
        return ReadText("GetWideValue", Column, Value);
    }
    HRESULT SetWideValue(const OleVariant& Column, const WideString& Value) override {
        if (HRESULT hr = Enter("SetWideValue(" + ColumnText(Column) + ", " + Quote(Value) + ")", "SetWideValue"))
            return hr;
        Store(Column, OleVariant(Value));
        return S_OK;
    }

private:
    enum class Mode { None, Adding, Editing };

    static FakeEngine& E() { return FakeEngine::Instance(); }

    // Logs the call; returns the failing HRESULT chosen for op, or S_OK.
    HRESULT Enter(const std::string& entry, const std::string& op = {}) {
        E().Log(entry);
        const std::string key = op.empty() ? entry : op;
        auto it = E().FailWith.find(key);
        if (it == E().FailWith.end()) return S_OK;
        rtl::SetErrorInfo("FakeEngine", key + " failed in the fake");
        return it->second;
    }
    std::int32_t Report(const std::string& op, std::int32_t status) {
        auto it = E().ForcedStatus.find(op);
        FLastStatus = it == E().ForcedStatus.end() ? status : it->second;
        return FLastStatus;
    }
    HRESULT Simple(const std::string& op, std::int32_t* Status) {
        if (HRESULT hr = Enter(op)) return hr;
        *Status = Report(op, 0);
        return S_OK;
    }

    const FakeColumn& Column(std::int32_t n) const {
        static const FakeColumn none{};
        if (!FData || n < 0 || static_cast<std::size_t>(n) >= FData->Columns.size()) return none;
        return FData->Columns[static_cast<std::size_t>(n)];
    }
    int ColumnOf(const OleVariant& c) const {
        if (!FData) return -1;
        if (c.VType() == VT_I2 || c.VType() == VT_I4) {
            const int n = c.ToInt();
            return n >= 0 && static_cast<std::size_t>(n) < FData->Columns.size() ? n : -1;
        }
        return FData->ColumnIndex(c.ToString());
    }
    static std::string ColumnText(const OleVariant& c) { return c.ToString(); }

    FakeRecord* Current() const { return FData && FCur ? FData->Find(FCur) : nullptr; }

    HRESULT ReadText(const std::string& op, const OleVariant& Column, WideString* Value) {
        if (HRESULT hr = Enter(op + "(" + ColumnText(Column) + ")", op)) return hr;
        Value->clear();
        const int c = ColumnOf(Column);
        FakeRecord* r = Current();
        if (c < 0 || !r) {
            FLastStatus = -10;
            return S_OK;
        }
        *Value = r->Values[static_cast<std::size_t>(c)].ToWide();
        FLastStatus = 0;
        return S_OK;
    }
    void Store(const OleVariant& Column, const OleVariant& Value) {
        const int c = ColumnOf(Column);
        if (FMode == Mode::None || c < 0) {
            FLastStatus = -10;
            return;
        }
        FPending[static_cast<std::size_t>(c)] = Value;
        FLastStatus = 0;
    }

    void SetNone() {
        FCur = 0;
        FEof = FBof = true;
    }
    void GoFirst() {
        auto vis = Visible();
        if (vis.empty()) {
            SetNone();
        } else {
            FCur = vis.front()->RecNo;
            FEof = FBof = false;
        }
    }
    void Step(int dir) {
        auto vis = Visible();
        if (vis.empty()) {
            SetNone();
            return;
        }
        auto it = std::find_if(vis.begin(), vis.end(), [&](FakeRecord* r) { return r->RecNo == FCur; });
        if (it == vis.end()) {
            GoFirst();
            return;
        }
        const auto pos = it - vis.begin();
        if (dir > 0) {
            FBof = false;
            if (pos + 1 < static_cast<std::ptrdiff_t>(vis.size()))
                FCur = vis[static_cast<std::size_t>(pos + 1)]->RecNo, FEof = false;
            else
                FEof = true;
        } else {
            FEof = false;
            if (pos > 0)
                FCur = vis[static_cast<std::size_t>(pos - 1)]->RecNo, FBof = false;
            else
                FBof = true;
        }
    }

    // Compares the leading key columns of r with keys (as many as given).
    int CompareKey(const FakeRecord& r, const std::vector<OleVariant>& keys) const {
        for (std::size_t i = 0; i < keys.size() && i < FKey.size(); ++i) {
            const int c = CompareValues(r.Values[static_cast<std::size_t>(FKey[i])], keys[i]);
            if (c) return c;
        }
        return 0;
    }

    std::vector<FakeRecord*> Visible() const {
        std::vector<FakeRecord*> out;
        if (!FData) return out;
        auto* filter = FFilter ? dynamic_cast<FakeFilter*>(FFilter.get()) : nullptr;
        for (auto& r : FData->Records) {
            if (filter) {
                if (!FKey.empty() && filter->FLower && CompareKey(r, filter->FLower->Items) < 0) continue;
                if (!FKey.empty() && filter->FUpper && CompareKey(r, filter->FUpper->Items) > 0) continue;
                if (E().Predicate && !E().Predicate(*FData, r, filter->FExpression)) continue;
            }
            out.push_back(&r);
        }
        if (!FKey.empty())
            std::stable_sort(out.begin(), out.end(), [&](FakeRecord* a, FakeRecord* b) {
                for (int c : FKey) {
                    const int d = CompareValues(a->Values[static_cast<std::size_t>(c)], b->Values[static_cast<std::size_t>(c)]);
                    if (d) return d < 0;
                }
                return a->RecNo < b->RecNo;
            });
        return out;
    }

    std::int32_t Seek(const std::vector<OleVariant>& keys) {
        if (FKey.empty()) return -13;
        for (FakeRecord* r : Visible()) {
            const int c = CompareKey(*r, keys);
            if (c >= 0) {
                FCur = r->RecNo;
                FEof = FBof = false;
                return c == 0 ? 7 : 1;
            }
        }
        return 0;
    }

    WideString FPath;
    std::shared_ptr<FakeTableData> FData;
    std::vector<int> FKey;
    std::int32_t FCur = 0;
    bool FEof = true, FBof = true;
    Mode FMode = Mode::None;
    std::vector<OleVariant> FPending;
    std::int32_t FEditRecNo = 0;
    std::int32_t FLastStatus = 0;
    rtl::ComPtr<IBFFilter> FFilter;
};

// ------------------------------------------------------------ engine state

FakeEngine& FakeEngine::Instance() {
    static FakeEngine engine;
    return engine;
}

void FakeEngine::Register() {
    rtl::RegisterClassObject(CLASS_BFTable, "Orbalk.BFTable (fake)", [] {
        auto* t = new FakeTable;
        t->AddRef();
        return static_cast<IUnknown*>(static_cast<IBFTable7*>(t));
    });
    rtl::RegisterClassObject(CLASS_BFFilter, "Vennick.BFFilter (fake)", [] {
        auto* f = new FakeFilter;
        f->AddRef();
        return static_cast<IUnknown*>(static_cast<IMoneyFilter*>(f));
    });
    rtl::RegisterClassObject(CLASS_BFString, "Orbalk.BFString (fake)", [] {
        auto* s = new FakeString;
        s->AddRef();
        return static_cast<IUnknown*>(static_cast<IBFString*>(s));
    });
}

void FakeEngine::Unregister() {
    rtl::UnregisterClassObject(CLASS_BFTable);
    rtl::UnregisterClassObject(CLASS_BFFilter);
    rtl::UnregisterClassObject(CLASS_BFString);
}

void FakeEngine::Reset() {
    FTables.clear();
    Calls.clear();
    ForcedStatus.clear();
    FailWith.clear();
    ForcedCount.reset();
    ForcedEof.reset();
    ForcedBof.reset();
    Predicate = nullptr;
}

FakeTableData& FakeEngine::CreateTable(const std::string& path, std::vector<FakeColumn> columns) {
    auto data = std::make_shared<FakeTableData>();
    data->Columns = std::move(columns);
    FTables[path] = data;
    return *data;
}

FakeTableData& FakeEngine::Table(const std::string& path) { return *FTables.at(path); }

std::vector<std::string> FakeEngine::CallsStartingWith(std::initializer_list<std::string> prefixes) const {
    std::vector<std::string> out;
    for (const auto& c : Calls)
        for (const auto& p : prefixes)
            if (c.rfind(p, 0) == 0) {
                out.push_back(c);
                break;
            }
    return out;
}

int FakeEngine::Count(const std::string& prefix) const {
    int n = 0;
    for (const auto& c : Calls)
        if (c.rfind(prefix, 0) == 0) ++n;
    return n;
}

}  // namespace fake
