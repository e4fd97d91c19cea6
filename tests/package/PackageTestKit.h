// Helpers of the package tests: where the built package and host are, a
// check of exception class and message, and a stand-in server object that
// counts its live instances.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "moneytable/Vennick_TLB.h"
#include "rtl/Rtl.h"
#include "rtl/ole/Ole.h"

namespace pkgtest {

inline const std::string PackageFile = QUENBY_PACKAGE_FILE;
inline const std::string RuntimeFile = TAMBLOR_RUNTIME_FILE;
inline const std::string PaletteHostFile = PALETTE_HOST_FILE;
inline const std::string FakePackageDir = FAKE_PACKAGE_DIR;

template <class E, class F>
void ExpectRaise(F&& Body, const std::string& Msg) {
    try {
        Body();
        ADD_FAILURE() << "no exception, expected: " << Msg;
    } catch (const E& Ex) {
        EXPECT_EQ(Ex.Message(), Msg);
    } catch (const std::exception& Ex) {
        ADD_FAILURE() << "wrong exception class: " << Ex.what();
    }
}

// What the stand-in server objects share: the class they were created for,
// and the count of live instances.
class TFakeServer {
public:
    explicit TFakeServer(std::string Kind) : FKind(std::move(Kind)) { ++Live; }
    virtual ~TFakeServer() { --Live; }
    TFakeServer(const TFakeServer&) = delete;
    TFakeServer& operator=(const TFakeServer&) = delete;
    const std::string& Kind() const noexcept { return FKind; }
    static inline int Live = 0;

private:
    std::string FKind;
};

// The filter object of the engine, as far as creating it goes.
class TFakeFilter : public rtl::ComObject<IMoneyFilter>, public TFakeServer {
public:
    TFakeFilter() : TFakeServer("filter") {}
    HRESULT SetRangeBound(std::int32_t, PSafeArray) override { return E_NOTIMPL; }
    HRESULT Reserved01() override { return E_NOTIMPL; }
    HRESULT SetExpression(const WideString&) override { return E_NOTIMPL; }
    HRESULT GetCompareFlags(std::int32_t*) override { return E_NOTIMPL; }
    HRESULT SetCompareFlags(std::int32_t) override { return E_NOTIMPL; }
};

class TFakeRelation : public rtl::ComObject<IBFRelation>, public TFakeServer {
public:
    TFakeRelation() : TFakeServer("relation") {}
};

// Registers the stand-ins under the engine's class ids of the filter and
// relation objects (the host's part: the package contains no engine).
inline void RegisterFakeServers() {
    rtl::RegisterClassObject(CLASS_BFFilter, "Test.Filter", [] {
        IUnknown* U = static_cast<IMoneyFilter*>(new TFakeFilter);
        U->AddRef();
        return U;
    });
    rtl::RegisterClassObject(CLASS_BFRelation, "Test.Relation", [] {
        IUnknown* U = static_cast<IBFRelation*>(new TFakeRelation);
        U->AddRef();
        return U;
    });
}

inline void UnregisterFakeServers() {
    rtl::UnregisterClassObject(CLASS_BFFilter);
    rtl::UnregisterClassObject(CLASS_BFRelation);
}

// The kind of the stand-in behind an interface ("" when it is not one).
inline std::string KindOf(IUnknown* Intf) {
    auto* Server = dynamic_cast<TFakeServer*>(Intf);
    return Server ? Server->Kind() : std::string();
}

}  // namespace pkgtest
