// COM/OLE automation layer: registry, apartment counting, error info,
// variants and safe arrays.
#include "rtl/ole/Ole.h"

#include <cmath>
#include <cstdio>
#include <limits>
#include <map>
#include <mutex>

#include <unistd.h>

#include "rtl/Rtl.h"

// ------------------------------------------------------------ HRESULT text

std::string OleSysErrorMessage(HRESULT hr) {
    switch (hr) {
        case S_OK: return "The operation completed successfully";
        case E_NOTIMPL: return "Not implemented";
        case E_NOINTERFACE: return "No such interface supported";
        case E_POINTER: return "Invalid pointer";
        case E_ABORT: return "Operation aborted";
        case E_FAIL: return "Unspecified error";
        case E_UNEXPECTED: return "Catastrophic failure";
        case E_ACCESSDENIED: return "Access is denied";
        case E_OUTOFMEMORY: return "Not enough memory resources are available to complete this operation";
        case E_INVALIDARG: return "The parameter is incorrect";
        case REGDB_E_CLASSNOTREG: return "Class not registered";
        case CLASS_E_NOAGGREGATION: return "Class does not support aggregation (or class object is remote)";
        case CO_E_NOTINITIALIZED: return "CoInitialize has not been called";
        case DISP_E_TYPEMISMATCH: return "Type mismatch";
        case DISP_E_OVERFLOW: return "Out of present range";
        case DISP_E_BADINDEX: return "Invalid index";
        case RPC_E_CHANGED_MODE: return "Cannot change thread mode after it is set";
        default: {
            char buf[64];
            std::snprintf(buf, sizeof buf, "OLE error %08X", static_cast<unsigned>(hr));
            return buf;
        }
    }
}

void OleRaise(HRESULT hr) {
    rtl::ErrorInfo info;
    if (rtl::TakeErrorInfo(info) && !info.Description.empty())
        throw EOleException(info.Description, hr, info.Source);
    throw EOleSysError(OleSysErrorMessage(hr), hr);
}

// ------------------------------------------------------------------- GUID

std::string GUIDToString(const GUID& g) {
    char buf[40];
    std::snprintf(buf, sizeof buf, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", static_cast<unsigned>(g.Data1),
                  g.Data2, g.Data3, g.Data4[0], g.Data4[1], g.Data4[2], g.Data4[3], g.Data4[4], g.Data4[5],
                  g.Data4[6], g.Data4[7]);
    return buf;
}

GUID StringToGUID(const std::string& text) {
    auto fail = [&]() -> GUID { throw EConvertError("'" + text + "' is not a valid GUID value"); };
    if (text.size() != 38 || text.front() != '{' || text.back() != '}') return fail();
    auto hex = [&](std::size_t pos, int digits) -> std::uint32_t {
        std::uint32_t v = 0;
        for (int i = 0; i < digits; ++i) {
            const char c = text[pos + static_cast<std::size_t>(i)];
            int d;
            if (c >= '0' && c <= '9') d = c - '0';
            else if (c >= 'a' && c <= 'f') d = c - 'a' + 10;
            else if (c >= 'A' && c <= 'F') d = c - 'A' + 10;
            else return fail(), 0u;
            v = v * 16 + static_cast<std::uint32_t>(d);
        }
        return v;
    };
    if (text[9] != '-' || text[14] != '-' || text[19] != '-' || text[24] != '-') return fail();
    GUID g{};
    g.Data1 = hex(1, 8);
    g.Data2 = static_cast<std::uint16_t>(hex(10, 4));
    g.Data3 = static_cast<std::uint16_t>(hex(15, 4));
    g.Data4[0] = static_cast<std::uint8_t>(hex(20, 2));
    g.Data4[1] = static_cast<std::uint8_t>(hex(22, 2));
    for (int i = 0; i < 6; ++i) g.Data4[2 + i] = static_cast<std::uint8_t>(hex(25 + static_cast<std::size_t>(i) * 2, 2));
    return g;
}

// ------------------------------------------------------------ registry

namespace {

struct GuidLess {
    bool operator()(const GUID& a, const GUID& b) const {
        if (a.Data1 != b.Data1) return a.Data1 < b.Data1;
        if (a.Data2 != b.Data2) return a.Data2 < b.Data2;
        if (a.Data3 != b.Data3) return a.Data3 < b.Data3;
        for (int i = 0; i < 8; ++i)
            if (a.Data4[i] != b.Data4[i]) return a.Data4[i] < b.Data4[i];
        return false;
    }
};

struct Registration {
    std::string ProgId;
    rtl::ClassFactory Factory;
};

std::mutex& RegistryMutex() {
    static std::mutex m;
    return m;
}
std::map<GUID, Registration, GuidLess>& Registry() {
    static std::map<GUID, Registration, GuidLess> r;
    return r;
}

thread_local int tlsComInitCount = 0;
thread_local bool tlsHasErrorInfo = false;
thread_local rtl::ErrorInfo tlsErrorInfo;

}  // namespace

namespace rtl {

void RegisterClassObject(const CLSID& clsid, const std::string& progId, ClassFactory factory) {
    std::lock_guard lock(RegistryMutex());
    Registry()[clsid] = Registration{progId, std::move(factory)};
}

void UnregisterClassObject(const CLSID& clsid) {
    std::lock_guard lock(RegistryMutex());
    Registry().erase(clsid);
}

bool IsClassRegistered(const CLSID& clsid) {
    std::lock_guard lock(RegistryMutex());
    return Registry().count(clsid) != 0;
}

void SetErrorInfo(const std::string& source, const std::string& description) {
    tlsErrorInfo = ErrorInfo{source, description};
    tlsHasErrorInfo = true;
}

void ClearErrorInfo() {
    tlsHasErrorInfo = false;
    tlsErrorInfo = ErrorInfo{};
}

bool TakeErrorInfo(ErrorInfo& info) {
    if (!tlsHasErrorInfo) return false;
    info = std::move(tlsErrorInfo);
    ClearErrorInfo();
    return true;
}

}  // namespace rtl

HRESULT CoInitialize(void*) { return tlsComInitCount++ == 0 ? S_OK : S_FALSE; }

void CoUninitialize() {
    if (tlsComInitCount > 0) --tlsComInitCount;
}

HRESULT CoCreateInstance(const CLSID& clsid, IUnknown* outer, std::uint32_t, const IID& iid, void** object) {
    if (!object) return E_POINTER;
    *object = nullptr;
    if (tlsComInitCount == 0) return CO_E_NOTINITIALIZED;
    if (outer) return CLASS_E_NOAGGREGATION;
    rtl::ClassFactory factory;
    {
        std::lock_guard lock(RegistryMutex());
        auto it = Registry().find(clsid);
        if (it == Registry().end()) return REGDB_E_CLASSNOTREG;
        factory = it->second.Factory;
    }
    IUnknown* unknown = nullptr;
    try {
        unknown = factory();
    } catch (const std::exception& e) {
        rtl::SetErrorInfo("", e.what());
        return E_FAIL;
    }
    if (!unknown) return E_FAIL;
    const HRESULT hr = unknown->QueryInterface(iid, object);
    unknown->Release();
    return hr;
}

namespace rtl {
void CheckLocalMachine(const std::string& machineName) {
    if (machineName.empty() || SameText(machineName, "localhost")) return;
    char host[256] = {};
    if (gethostname(host, sizeof host - 1) == 0 && SameText(machineName, host)) return;
    throw EOleSysError("Cannot create the object on machine '" + machineName +
                           "': remote activation is not available",
                       REGDB_E_CLASSNOTREG);
}
}  // namespace rtl

// --------------------------------------------------------------- variants

OleVariant::OleVariant(const std::string& v) : FType(VT_BSTR), FText(Utf8ToWide(v)) {}

void OleVariant::MakeWideForm() const {
    rtl::Utf8ToWideInto(FUtf8, FText);
    FForms |= kWideForm;
}

void OleVariant::MakeUtf8Form() const {
    rtl::WideToUtf8Into(FText, FUtf8);
    FForms |= kUtf8Form;
}

OleVariant OleVariant::Null() {
    OleVariant v;
    v.FType = VT_NULL;
    return v;
}

OleVariant OleVariant::FromDate(double dateTime) {
    OleVariant v;
    v.FType = VT_DATE;
    v.FDouble = dateTime;
    return v;
}

OleVariant OleVariant::Array(std::vector<OleVariant> items) {
    OleVariant v;
    v.FType = static_cast<VARTYPE>(VT_ARRAY | VT_VARIANT);
    v.FItems = std::move(items);
    return v;
}

OleVariant VarArrayOf(std::vector<OleVariant> items) { return OleVariant::Array(std::move(items)); }

std::string OleVariant::TypeName(VARTYPE vt) {
    switch (vt) {
        case VT_EMPTY: return "Empty";
        case VT_NULL: return "Null";
        case VT_I2: return "Smallint";
        case VT_I4: return "Integer";
        case VT_R8: return "Double";
        case VT_DATE: return "Date";
        case VT_BSTR: return "String";
        case VT_BOOL: return "Boolean";
        case VT_VARIANT: return "Variant";
        default:
            if (vt == (VT_ARRAY | VT_VARIANT)) return "Array Variant";
            return "Unknown";
    }
}

void OleVariant::CastError(VARTYPE to) const {
    throw EVariantTypeCastError("Could not convert variant of type (" + TypeName(FType) + ") into type (" +
                                TypeName(to) + ")");
}

namespace {
[[noreturn]] void OverflowError(VARTYPE from, VARTYPE to) {
    throw EVariantOverflowError("Overflow while converting variant of type (" + OleVariant::TypeName(from) +
                                ") into type (" + OleVariant::TypeName(to) + ")");
}

// Text to number as the automation run time does it: leading and trailing
// blanks allowed, '.' or the locale's decimal separator.
bool TextToDouble(const std::string& s, double& out) {
    const std::string t = Trim(s);
    return TryStrToFloat(t, out) || TryStrToFloat(t, out, TFormatSettings::Invariant());
}
}  // namespace

double OleVariant::ToDouble() const {
    switch (FType) {
        case VT_EMPTY: return 0;
        case VT_I2:
        case VT_I4:
        case VT_BOOL: return FInt;
        case VT_R8:
        case VT_DATE: return FDouble;
        case VT_BSTR: {
            double d;
            if (TextToDouble(std::string(Utf8TextView()), d)) return d;
            CastError(VT_R8);
        }
        default: CastError(VT_R8);
    }
}

std::int32_t OleVariant::ToInt() const {
    switch (FType) {
        case VT_EMPTY: return 0;
        case VT_I2:
        case VT_I4:
        case VT_BOOL: return FInt;
        case VT_R8:
        case VT_DATE:
        case VT_BSTR: {
            double d;
            if (FType == VT_BSTR) {
                if (!TextToDouble(std::string(Utf8TextView()), d)) CastError(VT_I4);
            } else {
                d = FDouble;
            }
            if (!std::isfinite(d)) OverflowError(FType, VT_I4);
            const double r = std::nearbyint(d);  // banker's rounding, as the run time does
            if (r < std::numeric_limits<std::int32_t>::min() || r > std::numeric_limits<std::int32_t>::max())
                OverflowError(FType, VT_I4);
            return static_cast<std::int32_t>(r);
        }
        default: CastError(VT_I4);
    }
}

std::int16_t OleVariant::ToSmallInt() const {
    if (FType == VT_NULL || IsArray()) CastError(VT_I2);
    std::int32_t v;
    try {
        v = ToInt();
    } catch (const EVariantOverflowError&) {
        OverflowError(FType, VT_I2);
    } catch (const EVariantTypeCastError&) {
        CastError(VT_I2);
    }
    if (v < std::numeric_limits<std::int16_t>::min() || v > std::numeric_limits<std::int16_t>::max())
        OverflowError(FType, VT_I2);
    return static_cast<std::int16_t>(v);
}

bool OleVariant::ToBool() const {
    switch (FType) {
        case VT_EMPTY: return false;
        case VT_I2:
        case VT_I4:
        case VT_BOOL: return FInt != 0;
        case VT_R8:
        case VT_DATE: return FDouble != 0;
        case VT_BSTR: {
            const std::string s = Trim(std::string(Utf8TextView()));
            if (SameText(s, "true")) return true;
            if (SameText(s, "false")) return false;
            double d;
            if (TextToDouble(s, d)) return d != 0;
            CastError(VT_BOOL);
        }
        default: CastError(VT_BOOL);
    }
}

double OleVariant::ToDate() const {
    switch (FType) {
        case VT_EMPTY: return 0;
        case VT_I2:
        case VT_I4:
        case VT_BOOL: return FInt;
        case VT_R8:
        case VT_DATE: return FDouble;
        case VT_BSTR: {
            TDateTime d;
            const std::string s = Trim(std::string(Utf8TextView()));
            if (TryStrToDateTime(s, d)) return d;
            if (TryStrToDate(s, d)) return d;
            if (TryStrToTime(s, d)) return d;
            CastError(VT_DATE);
        }
        default: CastError(VT_DATE);
    }
}

WideString OleVariant::ToWide() const {
    if (FType == VT_BSTR) return WideString(TextView());
    return Utf8ToWide(ToString());
}

std::string OleVariant::ToString() const {
    switch (FType) {
        case VT_EMPTY: return "";
        case VT_I2:
        case VT_I4: return IntToStr(FInt);
        case VT_BOOL: return FInt ? "True" : "False";
        case VT_R8: return FloatToStr(FDouble);
        case VT_DATE: return DateTimeToStr(FDouble);
        case VT_BSTR: return std::string(Utf8TextView());
        default: CastError(VT_BSTR);
    }
}

std::string VarToStr(const OleVariant& v) { return v.IsNull() ? std::string() : v.ToString(); }

int OleVariant::ArrayCount() const {
    if (!IsArray()) throw EVariantError("Variant is not an array");
    return static_cast<int>(FItems.size());
}

const OleVariant& OleVariant::At(int index) const {
    if (!IsArray()) throw EVariantError("Variant is not an array");
    if (index < 0 || static_cast<std::size_t>(index) >= FItems.size())
        throw EVariantError("Variant array index out of bounds");
    return FItems[static_cast<std::size_t>(index)];
}

OleVariant& OleVariant::At(int index) {
    return const_cast<OleVariant&>(static_cast<const OleVariant&>(*this).At(index));
}

bool operator==(const OleVariant& a, const OleVariant& b) {
    if (a.FType != b.FType) return false;
    switch (a.FType) {
        case VT_EMPTY:
        case VT_NULL: return true;
        case VT_R8:
        case VT_DATE: return a.FDouble == b.FDouble;
        case VT_BSTR:
            // Texts given in UTF-8 are well-formed: equal there means equal.
            if (!((a.FForms | b.FForms) & OleVariant::kWideForm)) return a.FUtf8 == b.FUtf8;
            return a.TextView() == b.TextView();
        default:
            if (a.IsArray()) return a.FItems == b.FItems;
            return a.FInt == b.FInt;
    }
}

// ------------------------------------------------------------ safe arrays

PSafeArray SafeArrayCreateVector(VARTYPE vt, std::int32_t lowerBound, std::uint32_t count) {
    if (vt != VT_VARIANT) return nullptr;
    auto* psa = new SAFEARRAY;
    psa->LowerBound = lowerBound;
    psa->Items.resize(count);
    return psa;
}

HRESULT SafeArrayDestroy(PSafeArray psa) {
    delete psa;
    return S_OK;
}

HRESULT SafeArrayGetLBound(PSafeArray psa, std::uint32_t dim, std::int32_t* bound) {
    if (!psa || !bound) return E_INVALIDARG;
    if (dim != 1) return DISP_E_BADINDEX;
    *bound = psa->LowerBound;
    return S_OK;
}

HRESULT SafeArrayGetUBound(PSafeArray psa, std::uint32_t dim, std::int32_t* bound) {
    if (!psa || !bound) return E_INVALIDARG;
    if (dim != 1) return DISP_E_BADINDEX;
    *bound = psa->LowerBound + static_cast<std::int32_t>(psa->Items.size()) - 1;
    return S_OK;
}

namespace {
OleVariant* Element(PSafeArray psa, const std::int32_t* index) {
    if (!psa || !index) return nullptr;
    const std::int64_t i = static_cast<std::int64_t>(*index) - psa->LowerBound;
    if (i < 0 || i >= static_cast<std::int64_t>(psa->Items.size())) return nullptr;
    return &psa->Items[static_cast<std::size_t>(i)];
}
}  // namespace

HRESULT SafeArrayPutElement(PSafeArray psa, const std::int32_t* index, const OleVariant* value) {
    if (!value) return E_INVALIDARG;
    OleVariant* e = Element(psa, index);
    if (!e) return psa && index ? DISP_E_BADINDEX : E_INVALIDARG;
    *e = *value;
    return S_OK;
}

HRESULT SafeArrayGetElement(PSafeArray psa, const std::int32_t* index, OleVariant* value) {
    if (!value) return E_INVALIDARG;
    OleVariant* e = Element(psa, index);
    if (!e) return psa && index ? DISP_E_BADINDEX : E_INVALIDARG;
    *value = *e;
    return S_OK;
}

PSafeArray SafeArrayCopy(PSafeArray psa) { return psa ? new SAFEARRAY(*psa) : nullptr; }
