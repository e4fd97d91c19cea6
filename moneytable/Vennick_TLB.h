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

// ------------------------------------------------------ server wrappers

#include "rtl/ole/OleServer.h"

// Wrapper components of the filter and relation objects. Each holds the
// connected server's IDispatch (empty while not connected).
//
// | state        | Connect              | ConnectTo(s)         | Disconnect | DefaultInterface       |
// |--------------|----------------------|----------------------|------------|------------------------|
// | unconnected  | GetServer -> held    | hold s               | nothing    | Connect, then as below |
// | connected    | nothing              | release old, hold s  | release    | the held interface     |
//
// DefaultInterface with nothing held after Connect raises EAssertionFailed.
template <const CLSID& ClassId>
class TBFServerWrapper : public TOleServer {
public:
    explicit TBFServerWrapper(TComponent* AOwner) : TOleServer(AOwner) {}
    ~TBFServerWrapper() override { Disconnect(); }

    void Connect() override {
        if (FIntf) return;
        rtl::ComPtr<IUnknown> server = GetServer();
        if (server) FIntf = server.template As<IDispatch>();
    }
    // Takes the new reference before dropping the old one, so that the
    // interface already held (perhaps the last reference to it) survives.
    void ConnectTo(IDispatch* Server) {
        rtl::ComPtr<IDispatch> server(Server);
        Disconnect();
        FIntf = std::move(server);
    }
    void Disconnect() override { FIntf.reset(); }

    IDispatch* GetDefaultInterface() {
        if (!FIntf) Connect();
        if (!FIntf)
            throw EAssertionFailed(
                "DefaultInterface is NULL. Component is not connected to Server. You must call 'Connect' or "
                "'ConnectTo' before this operation");
        return FIntf.get();
    }
    IDispatch* DefaultInterface() { return GetDefaultInterface(); }

protected:
    void InitServerData() override {
        TServerData* data = ServerData();
        data->ClassID = ClassId;
        data->IntfIID = IDispatch::Iid;
        data->EventIID = GUID{};
    }

private:
    rtl::ComPtr<IDispatch> FIntf;
};

class TBFFilter : public TBFServerWrapper<CLASS_BFFilter> {
public:
    using TBFServerWrapper::TBFServerWrapper;
    std::string ClassName() const override { return "TBFFilter"; }
};

class TBFRelation : public TBFServerWrapper<CLASS_BFRelation> {
public:
    using TBFServerWrapper::TBFServerWrapper;
    std::string ClassName() const override { return "TBFRelation"; }
};

namespace Vennick_TLB {
// Puts the two wrappers on the "Servers" page of a development environment.
inline void Register() {
    RegisterComponents("Servers", {ComponentClassOf<TBFFilter>("TBFFilter"), ComponentClassOf<TBFRelation>("TBFRelation")});
}
}  // namespace Vennick_TLB
