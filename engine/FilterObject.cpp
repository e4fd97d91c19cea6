#include "engine/FilterObject.h"

namespace engine {

namespace {

class BFFilterObject final : public rtl::ComObject<IMoneyFilter, IEngineFilter> {
public:
    ~BFFilterObject() override {
        SafeArrayDestroy(FState.Lower);
        SafeArrayDestroy(FState.Upper);
    }

    HRESULT SetRangeBound(std::int32_t Bound, PSafeArray Keys) override {
        PSafeArray* slot = Bound == RangeBoundLower ? &FState.Lower : Bound == RangeBoundUpper ? &FState.Upper : nullptr;
        if (!slot) {
            rtl::SetErrorInfo("BFFilter", "Range bound selector " + std::to_string(Bound) +
                                              " is neither 0 (lower) nor -1 (upper)");
            return E_INVALIDARG;
        }
        if (*slot != Keys) SafeArrayDestroy(*slot);
        *slot = Keys;
        return S_OK;
    }
    HRESULT Reserved01() override { return E_NOTIMPL; }
    HRESULT SetExpression(const WideString& Expression) override {
        FState.Expression = Expression;
        return S_OK;
    }
    HRESULT GetCompareFlags(std::int32_t* Flags) override {
        if (!Flags) return E_POINTER;
        *Flags = FState.CompareFlags;
        return S_OK;
    }
    HRESULT SetCompareFlags(std::int32_t Flags) override {
        FState.CompareFlags = Flags;
        return S_OK;
    }

    const FilterState& State() const override { return FState; }

private:
    FilterState FState;
};

}  // namespace

rtl::ComPtr<IMoneyFilter> CreateFilterObject() {
    return rtl::ComPtr<IMoneyFilter>(static_cast<IMoneyFilter*>(new BFFilterObject));
}

}  // namespace engine
