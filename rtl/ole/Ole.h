// COM/OLE automation layer: the subset of the COM run time that the table
// component and the table engine talk through.
//
// What it declares:
// - HRESULT, its success/failure tests and the codes used in this system;
// - GUID and interface ids; IUnknown/IDispatch; rtl::ComPtr<T>, a smart
//   pointer that owns one reference; rtl::ComObject<...>, a base that
//   implements reference counting and QueryInterface for a server object;
// - a process-wide class registry keyed by class id (rtl::RegisterClassObject,
//   CoCreateInstance, rtl::CreateComObject<T>);
// - CoInitialize/CoUninitialize, counted per thread;
// - WideString (UTF-16), OleVariant and SAFEARRAY of variants (lower bound 0);
// - error info: a server sets it with rtl::SetErrorInfo before returning a
//   failed HRESULT; OleCheck on the client side turns the failure into
//   EOleException carrying the server's message (EOleSysError with the
//   system text when the server set none).
//
// Ownership: an out interface pointer carries one reference that the caller
// releases (ComPtr does it). Objects delete themselves when the count reaches
// zero. A PSafeArray belongs to whoever created it unless a method's contract
// says it takes it over.
//
// Threads: the class registry may be used from any thread (it is locked).
// CoInitialize state and error info are per thread. A COM object is used by
// the thread that created it.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "rtl/SysUtils.h"

// ---------------------------------------------------------------- HRESULT

using HRESULT = std::int32_t;
using WordBool = std::int16_t;  // VARIANT_BOOL: -1 true, 0 false

constexpr WordBool VARIANT_TRUE = -1;
constexpr WordBool VARIANT_FALSE = 0;

constexpr HRESULT MakeHResult(std::uint32_t v) { return static_cast<HRESULT>(v); }
constexpr HRESULT S_OK = 0;
constexpr HRESULT S_FALSE = 1;
constexpr HRESULT E_NOTIMPL = MakeHResult(0x80004001u);
constexpr HRESULT E_NOINTERFACE = MakeHResult(0x80004002u);
constexpr HRESULT E_POINTER = MakeHResult(0x80004003u);
constexpr HRESULT E_ABORT = MakeHResult(0x80004004u);
constexpr HRESULT E_FAIL = MakeHResult(0x80004005u);
constexpr HRESULT E_UNEXPECTED = MakeHResult(0x8000FFFFu);
constexpr HRESULT E_ACCESSDENIED = MakeHResult(0x80070005u);
constexpr HRESULT E_OUTOFMEMORY = MakeHResult(0x8007000Eu);
constexpr HRESULT E_INVALIDARG = MakeHResult(0x80070057u);
constexpr HRESULT REGDB_E_CLASSNOTREG = MakeHResult(0x80040154u);
constexpr HRESULT CLASS_E_NOAGGREGATION = MakeHResult(0x80040110u);
constexpr HRESULT CO_E_NOTINITIALIZED = MakeHResult(0x800401F0u);
constexpr HRESULT DISP_E_TYPEMISMATCH = MakeHResult(0x80020005u);
constexpr HRESULT DISP_E_OVERFLOW = MakeHResult(0x8002000Au);
constexpr HRESULT DISP_E_BADINDEX = MakeHResult(0x8002000Bu);
constexpr HRESULT RPC_E_CHANGED_MODE = MakeHResult(0x80010106u);

constexpr bool SUCCEEDED(HRESULT hr) { return hr >= 0; }
constexpr bool FAILED(HRESULT hr) { return hr < 0; }

// The system's text for an HRESULT ("Class not registered", ...).
std::string OleSysErrorMessage(HRESULT hr);

// Raises EOleException (error info set by the failing server) or
// EOleSysError (no error info) for the failure hr.
[[noreturn]] void OleRaise(HRESULT hr);
// OleRaise when hr is a failure; returns hr otherwise. (Inline: every value
// read from the engine passes here.)
inline HRESULT OleCheck(HRESULT hr) {
    if (FAILED(hr)) OleRaise(hr);
    return hr;
}

// ------------------------------------------------------------------- GUID

struct GUID {
    std::uint32_t Data1;
    std::uint16_t Data2;
    std::uint16_t Data3;
    std::uint8_t Data4[8];
    friend constexpr bool operator==(const GUID& a, const GUID& b) {
        if (a.Data1 != b.Data1 || a.Data2 != b.Data2 || a.Data3 != b.Data3) return false;
        for (int i = 0; i < 8; ++i)
            if (a.Data4[i] != b.Data4[i]) return false;
        return true;
    }
};
using TGUID = GUID;
using IID = GUID;
using CLSID = GUID;

// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" (upper case).
std::string GUIDToString(const GUID& guid);
// Parses the braced form; raises EConvertError "'%s' is not a valid GUID value".
GUID StringToGUID(const std::string& text);

// ------------------------------------------------------------ interfaces

// Every interface declares `static constexpr IID Iid` and, except IUnknown,
// `using BaseInterface = <parent>` so that QueryInterface answers for every
// ancestor.
struct IUnknown {
    static constexpr IID Iid{0x00000000, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
    virtual HRESULT QueryInterface(const IID& iid, void** object) = 0;
    virtual std::uint32_t AddRef() = 0;
    virtual std::uint32_t Release() = 0;

protected:
    virtual ~IUnknown() = default;
};

// Automation base of the engine's dual interfaces. Late binding is not
// offered; the interface exists so that wrappers can ask for it.
struct IDispatch : IUnknown {
    static constexpr IID Iid{0x00020400, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
    using BaseInterface = IUnknown;
};

namespace rtl {

// Owns one reference to an interface.
template <class T>
class ComPtr {
public:
    ComPtr() noexcept = default;
    ComPtr(std::nullptr_t) noexcept {}
    // Takes a new reference to p.
    explicit ComPtr(T* p) noexcept : FPtr(p) {
        if (FPtr) FPtr->AddRef();
    }
    ComPtr(const ComPtr& other) noexcept : ComPtr(other.FPtr) {}
    ComPtr(ComPtr&& other) noexcept : FPtr(std::exchange(other.FPtr, nullptr)) {}
    template <class U>
    ComPtr(const ComPtr<U>& other) noexcept : ComPtr(static_cast<T*>(other.get())) {}
    ~ComPtr() { reset(); }

    ComPtr& operator=(const ComPtr& other) noexcept {
        ComPtr(other).swap(*this);
        return *this;
    }
    ComPtr& operator=(ComPtr&& other) noexcept {
        ComPtr(std::move(other)).swap(*this);
        return *this;
    }
    ComPtr& operator=(std::nullptr_t) noexcept {
        reset();
        return *this;
    }

    // Adopts p without adding a reference (p's reference moves in).
    static ComPtr Attach(T* p) noexcept {
        ComPtr r;
        r.FPtr = p;
        return r;
    }
    // Gives up ownership without releasing.
    T* Detach() noexcept { return std::exchange(FPtr, nullptr); }
    void reset() noexcept {
        if (T* p = std::exchange(FPtr, nullptr)) p->Release();
    }
    void swap(ComPtr& other) noexcept { std::swap(FPtr, other.FPtr); }

    T* get() const noexcept { return FPtr; }
    T* operator->() const noexcept { return FPtr; }
    T& operator*() const noexcept { return *FPtr; }
    explicit operator bool() const noexcept { return FPtr != nullptr; }
    // For out parameters: releases the current pointer first.
    T** put() noexcept {
        reset();
        return &FPtr;
    }

    // QueryInterface for U; empty when the object does not support it.
    template <class U>
    ComPtr<U> As() const {
        ComPtr<U> r;
        if (FPtr) FPtr->QueryInterface(U::Iid, reinterpret_cast<void**>(r.put()));
        return r;
    }

    friend bool operator==(const ComPtr& a, const ComPtr& b) noexcept { return a.FPtr == b.FPtr; }
    friend bool operator==(const ComPtr& a, std::nullptr_t) noexcept { return a.FPtr == nullptr; }

private:
    T* FPtr = nullptr;
};

namespace detail {
template <class I>
bool MatchesInterface(const IID& iid) {
    if (iid == I::Iid) return true;
    if constexpr (requires { typename I::BaseInterface; })
        return MatchesInterface<typename I::BaseInterface>(iid);
    else
        return false;
}
template <class Self, class I, class... Rest>
void* FindInterface(Self* self, const IID& iid) {
    if (MatchesInterface<I>(iid)) return static_cast<I*>(self);
    if constexpr (sizeof...(Rest) > 0)
        return FindInterface<Self, Rest...>(self, iid);
    else
        return nullptr;
}
}  // namespace detail

// Base of a server object implementing the listed interfaces. Created with a
// reference count of 0; hand it out through ComPtr (or AddRef it) at once.
template <class... Interfaces>
class ComObject : public Interfaces... {
public:
    HRESULT QueryInterface(const IID& iid, void** object) override {
        if (!object) return E_POINTER;
        *object = detail::FindInterface<ComObject, Interfaces...>(this, iid);
        if (!*object) return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    std::uint32_t AddRef() override { return ++FRefCount; }
    std::uint32_t Release() override {
        const std::uint32_t n = --FRefCount;
        if (n == 0) delete this;
        return n;
    }
    std::uint32_t RefCount() const { return FRefCount; }

protected:
    ComObject() = default;
    ~ComObject() override = default;

private:
    std::atomic<std::uint32_t> FRefCount{0};
};

// ------------------------------------------------------------ registry

// Creates a new object of a class; returns its IUnknown with one reference
// (or nullptr on failure, with error info set).
using ClassFactory = std::function<IUnknown*()>;

// Registers (or replaces) the factory of a class id. progId is informational.
void RegisterClassObject(const CLSID& clsid, const std::string& progId, ClassFactory factory);
void UnregisterClassObject(const CLSID& clsid);
bool IsClassRegistered(const CLSID& clsid);

// Error info of the calling thread.
struct ErrorInfo {
    std::string Source;
    std::string Description;
};
void SetErrorInfo(const std::string& source, const std::string& description);
void ClearErrorInfo();
// Takes (and clears) the calling thread's error info; false when none is set.
bool TakeErrorInfo(ErrorInfo& info);

}  // namespace rtl

// Counted per thread: S_OK the first time on a thread, S_FALSE when nested.
HRESULT CoInitialize(void* reserved = nullptr);
void CoUninitialize();

constexpr std::uint32_t CLSCTX_INPROC_SERVER = 1;
constexpr std::uint32_t CLSCTX_SERVER = 0x15;

// CO_E_NOTINITIALIZED on a thread without CoInitialize, REGDB_E_CLASSNOTREG
// for an unknown class, E_NOINTERFACE when the object lacks the interface.
HRESULT CoCreateInstance(const CLSID& clsid, IUnknown* outer, std::uint32_t context, const IID& iid,
                         void** object);

namespace rtl {
// Creates an object and asks it for T; raises (through OleCheck) on failure.
template <class T>
ComPtr<T> CreateComObject(const CLSID& clsid) {
    ComPtr<T> r;
    OleCheck(CoCreateInstance(clsid, nullptr, CLSCTX_SERVER, T::Iid, reinterpret_cast<void**>(r.put())));
    return r;
}

// Remote activation does not exist here: an empty machine name or the local
// host's name creates the object in process; any other name raises
// EOleSysError "Cannot create the object on machine '<name>': remote
// activation is not available".
void CheckLocalMachine(const std::string& machineName);
template <class T>
ComPtr<T> CreateRemoteComObject(const std::string& machineName, const CLSID& clsid) {
    CheckLocalMachine(machineName);
    return CreateComObject<T>(clsid);
}
}  // namespace rtl

// --------------------------------------------------------------- variants

using WideString = std::u16string;

enum VARTYPE : std::uint16_t {
    VT_EMPTY = 0,
    VT_NULL = 1,
    VT_I2 = 2,
    VT_I4 = 3,
    VT_R8 = 5,
    VT_DATE = 7,
    VT_BSTR = 8,
    VT_BOOL = 11,
    VT_VARIANT = 12,
    VT_ARRAY = 0x2000,
};

class EVariantError : public Exception {
    using Exception::Exception;
};
// "Could not convert variant of type (%s) into type (%s)"
class EVariantTypeCastError : public EVariantError {
    using EVariantError::EVariantError;
};
// "Overflow while converting variant of type (%s) into type (%s)"
class EVariantOverflowError : public EVariantError {
    using EVariantError::EVariantError;
};

// A value of one of the automation types. VT_EMPTY is the default; arrays
// are one-dimensional arrays of variants with lower bound 0 (VT_ARRAY |
// VT_VARIANT). Copying copies the value (arrays deeply).
// A VT_BSTR's text is UTF-16. It may be handed over in UTF-8 instead
// (ResetUtf8Text) and is then kept in that form until someone asks for the
// other one (TextView, Utf8TextView): a text that only passes through, from
// the engine's UTF-8 store to a UTF-8 record buffer, is never converted. The
// const accessors may thus fill in a form: a variant belongs to one thread.
class OleVariant {
public:
    OleVariant() = default;
    OleVariant(std::int16_t v) : FType(VT_I2), FInt(v) {}
    OleVariant(std::int32_t v) : FType(VT_I4), FInt(v) {}
    OleVariant(double v) : FType(VT_R8), FDouble(v) {}
    OleVariant(bool v) : FType(VT_BOOL), FInt(v ? -1 : 0) {}
    OleVariant(const WideString& v) : FType(VT_BSTR), FText(v) {}
    OleVariant(WideString&& v) : FType(VT_BSTR), FText(std::move(v)) {}
    OleVariant(const char16_t* v) : FType(VT_BSTR), FText(v) {}
    // UTF-8 text becomes VT_BSTR.
    OleVariant(const std::string& v);
    OleVariant(const char* v) : OleVariant(std::string(v)) {}

    static OleVariant Null();
    static OleVariant FromDate(double dateTime);
    static OleVariant Array(std::vector<OleVariant> items);

    VARTYPE VType() const { return FType; }
    bool IsEmpty() const { return FType == VT_EMPTY; }
    bool IsNull() const { return FType == VT_NULL; }
    bool IsArray() const { return FType == (VT_ARRAY | VT_VARIANT); }
    void Clear() { *this = OleVariant(); }
    // Makes the variant an empty VT_BSTR and returns its text for the caller
    // to fill in place. The text keeps its capacity, so a variant refilled
    // record after record allocates only when a text outgrows it.
    WideString& ResetText() {
        ResetBstr(kWideForm);
        FText.clear();
        return FText;
    }
    // ResetText for a text that the caller fills in UTF-8, which must be
    // well-formed (rtl::IsWellFormedUtf8).
    std::string& ResetUtf8Text() {
        ResetBstr(kUtf8Form);
        FUtf8.clear();
        return FUtf8;
    }
    // The text of a VT_BSTR variant, without a copy (empty for other types).
    std::u16string_view TextView() const {
        if (FType != VT_BSTR) return std::u16string_view();
        if (!(FForms & kWideForm)) MakeWideForm();
        return FText;
    }
    // The same text in UTF-8 (a lone surrogate becomes U+FFFD, as with
    // ToString).
    std::string_view Utf8TextView() const {
        if (FType != VT_BSTR) return std::string_view();
        if (!(FForms & kUtf8Form)) MakeUtf8Form();
        return FUtf8;
    }

    // Conversions as the automation run time performs them. Empty converts to
    // 0, false or ""; Null raises EVariantTypeCastError, as does text that is
    // not a number; a value outside the target range raises
    // EVariantOverflowError.
    std::int32_t ToInt() const;
    std::int16_t ToSmallInt() const;
    double ToDouble() const;
    bool ToBool() const;
    double ToDate() const;
    WideString ToWide() const;
    std::string ToString() const;  // UTF-8

    // Array access (raises EVariantError "Variant is not an array" /
    // "Variant array index out of bounds").
    int ArrayCount() const;
    const OleVariant& At(int index) const;
    OleVariant& At(int index);

    // Name of the variant type as conversion messages show it
    // ("Empty", "Null", "Smallint", "Integer", "Double", "Date", "String",
    // "Boolean", "Array Variant").
    static std::string TypeName(VARTYPE vt);

    friend bool operator==(const OleVariant& a, const OleVariant& b);

private:
    [[noreturn]] void CastError(VARTYPE to) const;
    // Which forms of a VT_BSTR's text are filled in (at least one).
    static constexpr std::uint8_t kWideForm = 1, kUtf8Form = 2;
    void ResetBstr(std::uint8_t form) {
        FType = VT_BSTR;
        FInt = 0;
        FDouble = 0;
        FItems.clear();
        FForms = form;
    }
    void MakeWideForm() const;
    void MakeUtf8Form() const;
    VARTYPE FType = VT_EMPTY;
    std::int32_t FInt = 0;
    double FDouble = 0;
    mutable WideString FText;
    mutable std::string FUtf8;
    mutable std::uint8_t FForms = kWideForm;
    std::vector<OleVariant> FItems;
};

// VarToStr: "" for Empty and Null, otherwise ToString().
std::string VarToStr(const OleVariant& v);
inline bool VarIsNull(const OleVariant& v) { return v.IsNull(); }
inline bool VarIsEmpty(const OleVariant& v) { return v.IsEmpty(); }
// VarArrayOf: a variant array of the given values (lower bound 0).
OleVariant VarArrayOf(std::vector<OleVariant> items);

// A one-dimensional safe array of variants. Created by
// SafeArrayCreateVector, destroyed by SafeArrayDestroy (exactly once).
struct SAFEARRAY {
    std::int32_t LowerBound = 0;
    std::vector<OleVariant> Items;
};
using PSafeArray = SAFEARRAY*;

// Only VT_VARIANT elements are supported; nullptr for another type.
PSafeArray SafeArrayCreateVector(VARTYPE vt, std::int32_t lowerBound, std::uint32_t count);
HRESULT SafeArrayDestroy(PSafeArray psa);
HRESULT SafeArrayGetLBound(PSafeArray psa, std::uint32_t dim, std::int32_t* bound);
HRESULT SafeArrayGetUBound(PSafeArray psa, std::uint32_t dim, std::int32_t* bound);
HRESULT SafeArrayPutElement(PSafeArray psa, const std::int32_t* index, const OleVariant* value);
HRESULT SafeArrayGetElement(PSafeArray psa, const std::int32_t* index, OleVariant* value);
// Copies a safe array (nullptr for nullptr).
PSafeArray SafeArrayCopy(PSafeArray psa);
