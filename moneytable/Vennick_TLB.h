// Interfaces of the table engine's "Vennick" type library: the filter object
// (IBFFilter, IMoneyFilter) and the relation object, their class ids and
// creator classes.
//
// A filter object carries an expression, compare flags and two range bounds;
// it takes effect when installed on an engine table with IBFTable::SetFilter
// (which takes over one reference, see Orbalk_TLB.h).
//
// Ownership: SetRangeBound takes over the array it is given (it destroys it
// when the bound is replaced or the filter object is released); nil clears
// the bound.
//
// Threads: an object belongs to the thread that created it.
#pragma once

#include <cstdint>
#include <string>

#include "rtl/ole/Ole.h"

inline constexpr CLSID CLASS_BFFilter{0x7A1C3E20, 0x58D2, 0x4B61, {0xA4, 0x0F, 0x2C, 0x93, 0x6E, 0x17, 0x21, 0x01}};
inline constexpr CLSID CLASS_BFRelation{0x7A1C3E20, 0x58D2, 0x4B61, {0xA4, 0x0F, 0x2C, 0x93, 0x6E, 0x17, 0x21, 0x02}};
inline constexpr GUID LIBID_Vennick{0x7A1C3E20, 0x58D2, 0x4B61, {0xA4, 0x0F, 0x2C, 0x93, 0x6E, 0x17, 0x21, 0x00}};

// What an engine table accepts as its filter.
struct IBFFilter : IDispatch {
    static constexpr IID Iid{0x7A1C3E21, 0x58D2, 0x4B61, {0xA4, 0x0F, 0x2C, 0x93, 0x6E, 0x17, 0x22, 0x01}};
    using BaseInterface = IDispatch;
};

constexpr std::int32_t RangeBoundLower = 0;
constexpr std::int32_t RangeBoundUpper = -1;
constexpr std::int32_t CompareFlagCaseInsensitive = 1;
constexpr std::int32_t CompareFlagNoPartial = 2;

struct IMoneyFilter : IBFFilter {
    static constexpr IID Iid{0x7A1C3E21, 0x58D2, 0x4B61, {0xA4, 0x0F, 0x2C, 0x93, 0x6E, 0x17, 0x22, 0x02}};
    using BaseInterface = IBFFilter;

    // Bound: 0 lower, -1 upper. Keys: one element per leading index column,
    // or nil for an open side.
    virtual HRESULT SetRangeBound(std::int32_t Bound, PSafeArray Keys) = 0;
    virtual HRESULT Reserved01() = 0;
    virtual HRESULT SetExpression(const WideString& Expression) = 0;
    virtual HRESULT GetCompareFlags(std::int32_t* Flags) = 0;
    virtual HRESULT SetCompareFlags(std::int32_t Flags) = 0;
};

// The relation object is only wrapped by the component package.
struct IBFRelation : IDispatch {
    static constexpr IID Iid{0x7A1C3E21, 0x58D2, 0x4B61, {0xA4, 0x0F, 0x2C, 0x93, 0x6E, 0x17, 0x23, 0x01}};
    using BaseInterface = IDispatch;
};

class CoBFFilter {
public:
    static rtl::ComPtr<IMoneyFilter> Create() { return rtl::CreateComObject<IMoneyFilter>(CLASS_BFFilter); }
    static rtl::ComPtr<IMoneyFilter> CreateRemote(const std::string& MachineName) {
        return rtl::CreateRemoteComObject<IMoneyFilter>(MachineName, CLASS_BFFilter);
    }
};

class CoBFRelation {
public:
    static rtl::ComPtr<IBFRelation> Create() { return rtl::CreateComObject<IBFRelation>(CLASS_BFRelation); }
    static rtl::ComPtr<IBFRelation> CreateRemote(const std::string& MachineName) {
        return rtl::CreateRemoteComObject<IBFRelation>(MachineName, CLASS_BFRelation);
    }
};
